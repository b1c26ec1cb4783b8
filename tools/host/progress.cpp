#include "progress.h"

namespace host {

namespace {

// A line redrawn in place: blanks after its text cover what a longer count
// left there.
std::string Padded(const std::string &text) { return text + "  "; }

}  // namespace

std::size_t TextWidth(const std::string &text) {
    std::size_t width = 0;
    for (char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return width;
}

std::string FitText(const std::string &text, std::size_t width) {
    std::string fitted;
    std::size_t columns = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && columns == width) break;
        columns += starts;
        fitted += text[i];
    }
    return fitted + std::string(width - columns, ' ');
}

void Progress::TrackStart(int number, int count, const std::string &title, bool skipped, std::int64_t bytes) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "track %02d/%02d ", number, count);
    // Narrow enough that the line with its bar and counts fits 80 columns.
    label_ = prefix + FitText(Shown(title), 24);
    skipped_ = skipped;
    bytes_ = bytes;
    delivered_ = 0;
    drawnPercent_ = -1;
    if (terminal_) DrawTrack(true);
}

void Progress::TrackAdvance(std::int64_t delivered) {
    delivered_ = delivered;
    if (terminal_) DrawTrack(false);
}

void Progress::DrawTrack(bool force) {
    int percent = bytes_ > 0 ? static_cast<int>(delivered_ * 100 / bytes_) : 100;
    if (!force && percent == drawnPercent_ && encoding_ == drawnEncoding_) return;
    drawnPercent_ = percent;
    drawnEncoding_ = encoding_;
    const int width = 16;
    int filled = percent * width / 100;
    std::fprintf(out_, "\r%s [%s%s] %3d%%%s%s", label_.c_str(), std::string(filled, '#').c_str(),
                 std::string(width - filled, '-').c_str(), percent, skipped_ ? " skipped" : "",
                 Padded(EncodingText()).c_str());
    std::fflush(out_);
}

std::string Progress::EncodingText() const { return encoding_ >= 0 ? ", encoding " + std::to_string(encoding_) : ""; }

void Progress::TrackDone() {
    double seconds = bytes_ / 176400.0;
    if (terminal_) {
        delivered_ = bytes_;
        DrawTrack(true);
        std::fprintf(out_, " %6.2f s of audio\n", seconds);
    } else {
        std::fprintf(out_, "%s %s, %.2f s of audio%s\n", label_.c_str(),
                     skipped_ ? "delivered as skipped" : "delivered", seconds, EncodingText().c_str());
    }
    std::fflush(out_);
}

void Progress::Waiting(double seconds, int ready, int expected) {
    if (!terminal_) return;
    std::fprintf(out_, "\rwaiting for the encoders: %5.1f s, %d of %d files ready%s", seconds, ready, expected,
                 Padded(EncodingText()).c_str());
    std::fflush(out_);
}

void Progress::WaitDone(double seconds, int ready, int expected) {
    if (terminal_) {
        Waiting(seconds, ready, expected);
        std::fprintf(out_, "\n");
    } else {
        std::fprintf(out_, "waited %.1f s for the encoders, %d of %d files ready%s\n", seconds, ready, expected,
                     EncodingText().c_str());
    }
    std::fflush(out_);
}

}  // namespace host
