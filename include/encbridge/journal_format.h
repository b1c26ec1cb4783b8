// The journal's record format, shared by the module that writes it and the
// tools that read it. A record is one line of fields separated by tabs; the
// first three are the time (UTC), the rip (process id, module instance and
// rip number) and the kind. Texts are written with backslash escapes for the
// backslash and every control character (\t, \n, \r, \xNN), so that no text
// splits a field or a line.
#pragma once

#include <cstddef>

namespace encbridge {
namespace journal {

// The place of each field in its record, from 0.
constexpr std::size_t kTime = 0;
constexpr std::size_t kRip = 1;
constexpr std::size_t kKind = 2;

// "rip": album title, track count, settings file.
constexpr std::size_t kRipTitle = 3;
constexpr std::size_t kRipTracks = 4;
constexpr std::size_t kRipSettings = 5;
constexpr std::size_t kRipFields = 6;

// "refused": the reason's name and text.
constexpr std::size_t kRefusedReason = 3;
constexpr std::size_t kRefusedText = 4;
// The system's words for the failure, "-" for none; records written before
// it was kept end before it.
constexpr std::size_t kRefusedError = 5;
constexpr std::size_t kRefusedFields = 6;

// "track": number, output, final file, seconds, how it ended, reason's
// name, outcome in words, command line, the system's words, the program's.
constexpr std::size_t kTrackNumber = 3;
constexpr std::size_t kTrackOutput = 4;
constexpr std::size_t kTrackFinalPath = 5;
constexpr std::size_t kTrackSeconds = 6;
constexpr std::size_t kTrackEnd = 7;
constexpr std::size_t kTrackReason = 8;
constexpr std::size_t kTrackOutcome = 9;
constexpr std::size_t kTrackCommand = 10;
// The system's words for the failure, "-" for none; records written before
// it was kept end before it. A "done" record with words: the output was
// published but could not be put on disk, and the WAV file was kept.
constexpr std::size_t kTrackError = 11;
// What the program said (the last of its standard error and output, or
// of the verify line's standard error) when the run failed, "-" for
// nothing; records written before it was kept end before it.
constexpr std::size_t kTrackMessage = 12;
constexpr std::size_t kTrackFields = 13;

// "started": a track's output whose encoder has just started, by track
// number and output; its "track" record follows when the run has ended.
// Readers that know no such kind pass it over.
constexpr std::size_t kStartedTrack = 3;
constexpr std::size_t kStartedOutput = 4;
constexpr std::size_t kStartedFields = 5;

// "album": output, seconds, how it ended, reason's name, outcome in words,
// command line, the program's words.
constexpr std::size_t kAlbumOutput = 3;
constexpr std::size_t kAlbumSeconds = 4;
constexpr std::size_t kAlbumEnd = 5;
constexpr std::size_t kAlbumReason = 6;
constexpr std::size_t kAlbumOutcome = 7;
constexpr std::size_t kAlbumCommand = 8;
// What the album step said when it failed, as for a track.
constexpr std::size_t kAlbumMessage = 9;
constexpr std::size_t kAlbumFields = 10;

// "end": tracks done, tracks processed, WAV files kept, in numbers and in
// words.
constexpr std::size_t kEndDone = 3;
constexpr std::size_t kEndProcessed = 4;
constexpr std::size_t kEndKept = 5;
constexpr std::size_t kEndWords = 6;
constexpr std::size_t kEndFields = 7;

// How character c is written in a text field, into out (NUL-terminated,
// at most four characters).
inline void EscapeCharacter(unsigned char c, char (&out)[5]) noexcept {
    static const char kHex[] = "0123456789abcdef";
    out[0] = '\\';
    out[1] = out[2] = out[3] = out[4] = '\0';
    if (c == '\\') {
        out[1] = '\\';
    } else if (c == '\t') {
        out[1] = 't';
    } else if (c == '\n') {
        out[1] = 'n';
    } else if (c == '\r') {
        out[1] = 'r';
    } else if (c < 0x20 || c == 0x7f) {
        out[1] = 'x';
        out[2] = kHex[c >> 4];
        out[3] = kHex[c & 15];
    } else {
        out[0] = static_cast<char>(c);
    }
}

inline int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text of field (length characters) with its escapes undone, into text,
// which has room for length characters: undoing never lengthens. A journal
// may hold lines of other writers, or be cut: an escape that is not whole
// stands for its character. Returns the text's length.
inline std::size_t UnescapeField(const char *field, std::size_t length, char *text) noexcept {
    std::size_t out = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (field[i] != '\\' || i + 1 == length) {
            text[out++] = field[i];
            continue;
        }
        const char next = field[++i];
        if (next == 't') {
            text[out++] = '\t';
        } else if (next == 'n') {
            text[out++] = '\n';
        } else if (next == 'r') {
            text[out++] = '\r';
        } else if (next == 'x' && i + 2 < length && HexDigit(field[i + 1]) >= 0 && HexDigit(field[i + 2]) >= 0) {
            text[out++] = static_cast<char>(HexDigit(field[i + 1]) * 16 + HexDigit(field[i + 2]));
            i += 2;
        } else {
            text[out++] = next;
        }
    }
    return out;
}

}  // namespace journal
}  // namespace encbridge
