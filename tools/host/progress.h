// What the host shows while it rips: on a terminal a line per track with a
// progress bar, then a line that counts the time spent waiting for the
// encoders; otherwise plain lines, one per event. Each shows "encoding N",
// the encoders at work as the module's journal last told them, unless that
// count is unknown.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "journal_fields.h"

namespace host {

class Progress {
public:
    Progress(std::FILE *out, bool terminal) : out_(out), terminal_(terminal) {}

    bool Terminal() const { return terminal_; }
    // The count that the next lines show; below 0: none is shown.
    void SetEncoding(int encoding) { encoding_ = encoding; }
    void TrackStart(int number, int count, const std::string &title, bool skipped, std::int64_t bytes);
    void TrackAdvance(std::int64_t delivered);
    void TrackDone();
    // Called every few tenths of a second while the last delivery waits.
    void Waiting(double seconds, int ready, int expected);
    void WaitDone(double seconds, int ready, int expected);

private:
    void DrawTrack(bool force);
    std::string EncodingText() const;

    std::FILE *out_;
    bool terminal_;
    std::string label_;
    bool skipped_ = false;
    std::int64_t bytes_ = 0;
    std::int64_t delivered_ = 0;
    int drawnPercent_ = -1;
    int encoding_ = -1;
    int drawnEncoding_ = -1;
};

// Display width of UTF-8 text: one column per character.
using encbridge_tools::Shown;

std::size_t TextWidth(const std::string &text);
// text cut or padded with blanks to width columns.
std::string FitText(const std::string &text, std::size_t width);

}  // namespace host
