#include "try_album.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace encbridge_try {

namespace {

struct TrackText {
    const wchar_t *fileName, *title;
};

// Letters of several code pages, so that every ANSI code page keeps some:
// those it lacks are left out of the text.
const TrackText kTexts[kTrackCount] = {
    {L"01 Caf\u00e9 Bleu", L"Caf\u00e9 \"Bleu\" \u00e0 la carte"},
    {L"02 Stra\u00dfe", L"100% Stra\u00dfe, Gr\u00fc\u00dfe"},
    {L"03 \u30bd\u30d5\u30c8 \u00c5ngstr\u00f6m", L"\u30bd\u30d5\u30c8Three \u00c5ngstr\u00f6m"},
};

void Put(char *field, std::size_t capacity, const std::wstring &text) {
    std::snprintf(field, capacity, "%s", AnsiLetters(text).c_str());
}

constexpr std::int32_t kFrames = 44100;          // a second at the CD's rate
constexpr std::size_t kFrameBytes = 4;           // 16-bit stereo
constexpr std::int32_t kPieceFrames = 25 * 588;  // what a ripping program reads at once

// Track t's audio: a tone on each channel, others on every track.
std::vector<std::uint8_t> Tones(int track) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kFrames) * kFrameBytes);
    const double step = 6.283185307179586 / 44100.0;
    for (std::int32_t frame = 0; frame < kFrames; ++frame) {
        const double left = 8000.0 * std::sin(step * frame * 220.0 * (track + 1));
        const double right = 8000.0 * std::sin(step * frame * 330.0 * (track + 1));
        const std::int16_t samples[2] = {static_cast<std::int16_t>(left), static_cast<std::int16_t>(right)};
        for (std::size_t s = 0; s < 2; ++s) {
            const auto value = static_cast<std::uint16_t>(samples[s]);
            bytes[frame * kFrameBytes + 2 * s] = static_cast<std::uint8_t>(value & 0xff);
            bytes[frame * kFrameBytes + 2 * s + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    }
    return bytes;
}

}  // namespace

void MakeAlbum(const std::string &outputFolder, TryAlbum &album) {
    album.info.reset(new AlbumInfo());
    album.tracks.assign(kTrackCount, TrackInfo());
    AlbumInfo &info = *album.info;
    std::snprintf(info.outputFolder, sizeof info.outputFolder, "%s", outputFolder.c_str());
    Put(info.albumTitle, sizeof info.albumTitle, L"encbridge try \u00e9t\u00e9");
    Put(info.albumArtist, sizeof info.albumArtist, L"The Try-Out Band \u00d8");
    Put(info.albumComment, sizeof info.albumComment, L"made by encbridge-try.exe");
    info.trackCount = kTrackCount;
    info.tracks = album.tracks.data();
    for (int t = 0; t < kTrackCount; ++t) {
        TrackInfo &track = album.tracks[static_cast<std::size_t>(t)];
        track.status = 1;
        track.marked = 1;
        Put(track.fileName, sizeof track.fileName, kTexts[t].fileName);
        Put(track.title, sizeof track.title, kTexts[t].title);
        Put(track.artist, sizeof track.artist, L"The Try-Out Band \u00d8");
        Put(track.album, sizeof track.album, L"encbridge try \u00e9t\u00e9");
        Put(track.year, sizeof track.year, L"2024");
        Put(track.comment, sizeof track.comment, L"a second of tones");
    }
}

bool DeliverAlbum(const Module &module, std::string &error) {
    for (int t = 0; t < kTrackCount; ++t) {
        const std::vector<std::uint8_t> audio = Tones(t);
        const std::string which = "track " + std::to_string(t + 1);
        for (std::int32_t frame = 0; frame < kFrames; frame += kPieceFrames) {
            const std::int32_t frames = std::min(kPieceFrames, kFrames - frame);
            std::int32_t boundary = 0;
            if (module.setData(audio.data() + frame * kFrameBytes, frames * static_cast<std::int32_t>(kFrameBytes),
                               &boundary) != 1) {
                error = "the module refused the audio of " + which + " (SetData returned 0)";
                return false;
            }
        }
        if (t == kTrackCount - 1) Say("Waiting for the encoders...\n");
        std::int32_t boundary = 0;
        const std::uint8_t none = 0;
        if (module.setData(&none, 0, &boundary) != 1) {
            error = "the module refused the end of " + which + " (SetData returned 0)";
            return false;
        }
    }
    return true;
}

}  // namespace encbridge_try
