#include "encoder/command_line.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "encoder/argument_quoting.h"
#include "platform/format.h"

namespace encbridge {

namespace {

enum class Source {
    TrackNumber,
    TrackCount,
    TrackTitle,
    TrackArtist,
    TrackAlbum,
    TrackYear,
    TrackComment,
    AlbumTitle,
    AlbumArtist,
    AlbumComment,
    WavPath,
    OutputPath,
};

struct TagRow {
    const char *tag;
    Source source;
    const char *pattern;  // numbers only: texts are inserted as they stand
    bool quoted;
};

// The order of replacement. A tag that is the beginning of another one comes
// after it ("%no2" after "%no2%", "%no" after "%no2"), or it would eat the
// longer tag's first letters. Values are never searched for tags, so the
// order decides nothing else.
constexpr TagRow kTags[] = {
    {"%no2%", Source::TrackNumber, "%02d", true},    {"%no2", Source::TrackNumber, "%02d", false},
    {"%no%", Source::TrackNumber, "%d", true},       {"%no", Source::TrackNumber, "%d", false},
    {"%trks%", Source::TrackCount, "%02d", true},    {"%trks", Source::TrackCount, "%02d", false},
    {"%trk2%", Source::TrackCount, "%d", true},      {"%trk2", Source::TrackCount, "%d", false},
    {"%ttit%", Source::TrackTitle, nullptr, true},   {"%ttit", Source::TrackTitle, nullptr, false},
    {"%tart%", Source::TrackArtist, nullptr, true},  {"%tart", Source::TrackArtist, nullptr, false},
    {"%talb%", Source::TrackAlbum, nullptr, true},   {"%talb", Source::TrackAlbum, nullptr, false},
    {"%tyer%", Source::TrackYear, nullptr, true},    {"%tyer", Source::TrackYear, nullptr, false},
    {"%tcom%", Source::TrackComment, nullptr, true}, {"%tcom", Source::TrackComment, nullptr, false},
    {"%atit%", Source::AlbumTitle, nullptr, true},   {"%atit", Source::AlbumTitle, nullptr, false},
    {"%aart%", Source::AlbumArtist, nullptr, true},  {"%aart", Source::AlbumArtist, nullptr, false},
    {"%acom%", Source::AlbumComment, nullptr, true}, {"%acom", Source::AlbumComment, nullptr, false},
    {"%i%", Source::WavPath, nullptr, true},         {"%i", Source::WavPath, nullptr, false},
    {"%o%", Source::OutputPath, nullptr, true},      {"%o", Source::OutputPath, nullptr, false},
};

// A text and the width it may be read within.
struct Bounded {
    const char *text;
    std::size_t width;
};

template <std::size_t N>
Bounded Within(const char (&array)[N]) {
    return {array, N};
}

struct TrackTexts {
    const AlbumInfo &album;
    const TrackInfo &track;
    const PathBuffer &wavPath;
    const PathBuffer &outputPath;
};

Bounded TextOf(Source source, const TrackTexts &texts) {
    switch (source) {
        case Source::TrackTitle:
            return Within(texts.track.title);
        case Source::TrackArtist:
            return Within(texts.track.artist);
        case Source::TrackAlbum:
            return Within(texts.track.album);
        case Source::TrackYear:
            return Within(texts.track.year);
        case Source::TrackComment:
            return Within(texts.track.comment);
        case Source::AlbumTitle:
            return Within(texts.album.albumTitle);
        case Source::AlbumArtist:
            return Within(texts.album.albumArtist);
        case Source::AlbumComment:
            return Within(texts.album.albumComment);
        case Source::WavPath:
            return Within(texts.wavPath);
        case Source::OutputPath:
            return Within(texts.outputPath);
        case Source::TrackNumber:
        case Source::TrackCount:
            break;
    }
    return {"", 1};
}

std::string_view View(const char *text, std::size_t width) {
    return std::string_view(text, BoundedLength(text, width));
}

// The first occurrence of tag at or after from that lies wholly in the
// template's own characters, or npos.
std::size_t FindInTemplate(const CommandText &command, std::size_t length, std::string_view tag, std::size_t from) {
    const std::string_view text(command.text, length);
    for (std::size_t at = text.find(tag, from); at != std::string_view::npos; at = text.find(tag, at + 1)) {
        const bool *marks = command.fromValue + at;
        if (std::find(marks, marks + tag.size(), true) == marks + tag.size()) return at;
    }
    return std::string_view::npos;
}

// Cuts a text that fills its buffer without a NUL; false when it did.
bool Terminate(CommandBuffer &text) {
    if (BoundedLength(text) < kCommandCapacity) return true;
    text[kCommandCapacity - 1] = '\0';
    return false;
}

}  // namespace

bool StartCommandText(CommandText &command, const char *text, std::size_t width) {
    std::fill(std::begin(command.fromValue), std::end(command.fromValue), false);
    return FormatWhole(command.text, kCommandCapacity, "%s", {FormatArg(text, width)});
}

bool ReplaceTag(CommandText &command, const char *tag, const char *value, std::size_t valueWidth) {
    bool complete = Terminate(command.text);
    const std::string_view tagView(tag);
    if (tagView.empty()) return complete;
    const std::string_view valueView = View(value, valueWidth);

    CommandText scratch;
    std::size_t from = 0;
    for (;;) {
        const std::size_t length = BoundedLength(command.text);
        const std::size_t at = FindInTemplate(command, length, tagView, from);
        if (at == std::string_view::npos) break;
        const std::size_t after = at + tagView.size();
        FormatStatus status;
        FormatText(scratch.text, kCommandCapacity, "%s%s%s",
                   {FormatArg(command.text, at), FormatArg(valueView.data(), valueView.size()),
                    FormatArg(command.text + after, length - after)},
                   &status);
        if (status != FormatStatus::Complete) complete = false;
        // The marks follow their characters; whatever was cut off is gone.
        const std::size_t kept = BoundedLength(scratch.text);
        const std::size_t valueEnd = std::min(at + valueView.size(), kept);
        std::copy(command.fromValue, command.fromValue + at, scratch.fromValue);
        std::fill(scratch.fromValue + at, scratch.fromValue + valueEnd, true);
        std::copy(command.fromValue + after, command.fromValue + after + (kept - valueEnd),
                  scratch.fromValue + valueEnd);
        command = scratch;
        // Every step takes template characters away and adds none, so this
        // ends. Only an empty value can bring two template characters
        // together into a new occurrence, which then begins before at.
        from = at + 1 >= tagView.size() ? at + 1 - tagView.size() : 0;
    }
    return complete;
}

CommandStatus BuildCommandLine(const PathBuffer &encoderPath, CommandStyle style, CommandBuffer &text,
                               const PathBuffer &wavPath, const PathBuffer &encoderOutputPath, const AlbumInfo &album,
                               std::int32_t index) {
    bool cut = false;
    bool unsafe = false;
    CommandText command;
    if (!StartCommandText(command, text, kCommandCapacity)) cut = true;
    const TrackTexts texts{album, album.tracks[index], wavPath, encoderOutputPath};
    // Wrapping, not overflowing, should a caller ever pass the largest index.
    const int trackNumber = static_cast<int>(static_cast<std::uint32_t>(index) + 1u);

    CommandBuffer number;
    CommandBuffer quoted;
    for (const TagRow &row : kTags) {
        // A tag that is not there brings nothing in, and so cuts nothing.
        if (FindInTemplate(command, BoundedLength(command.text), row.tag, 0) == std::string_view::npos) continue;
        Bounded value;
        if (row.pattern != nullptr) {
            int n = row.source == Source::TrackNumber ? trackNumber : album.trackCount;
            FormatText(number, sizeof number, row.pattern, {n});
            value = Within(number);
        } else {
            value = TextOf(row.source, texts);
        }
        if (row.quoted) {
            const QuoteResult result = QuoteArgument(style, quoted, sizeof quoted, value.text, value.width);
            if (result != QuoteResult::Quoted) {
                // Never run; this only shows where the value would have been.
                FormatText(quoted, sizeof quoted, "%s", {"(null)"});
                (result == QuoteResult::TooLong ? cut : unsafe) = true;
            }
            value = Within(quoted);
        } else if (style == CommandStyle::BatchFile && !SafeUnquotedInBatchFile(value.text, value.width)) {
            unsafe = true;
        }
        if (!ReplaceTag(command, row.tag, value.text, value.width)) cut = true;
    }

    // The program is the first item up to the next double quote, with no
    // escapes: a path holding one cannot be named there. cmd.exe acts on
    // a batch file's path as on any quoted text.
    if (std::memchr(encoderPath, '"', BoundedLength(encoderPath)) != nullptr) cut = true;
    if (style == CommandStyle::BatchFile && !SafeQuotedInBatchFile(encoderPath, kPathCapacity)) unsafe = true;
    char program[kPathCapacity];
    FormatStatus status;
    FormatText(program, sizeof program, "\"%s\"", {encoderPath}, &status);
    if (status != FormatStatus::Complete) cut = true;
    CommandBuffer line;
    FormatText(line, sizeof line, "%s %s", {program, command.text}, &status);
    if (status != FormatStatus::Complete) cut = true;
    FormatText(text, kCommandCapacity, "%s", {line});
    if (unsafe) return CommandStatus::Unsafe;
    return cut ? CommandStatus::Cut : CommandStatus::Complete;
}

}  // namespace encbridge
