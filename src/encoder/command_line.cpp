#include "encoder/command_line.h"

#include <cstring>
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
// longer tag's first letters. Values are inserted into text that later tags
// are still replaced in, so the order also decides which tags a value can
// bring in: an album title holding "%i" receives the WAV path.
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

}  // namespace

bool ReplaceTag(CommandBuffer &text, const char *tag, const char *value, std::size_t valueWidth) {
    bool complete = true;
    if (BoundedLength(text) == kCommandCapacity) {
        text[kCommandCapacity - 1] = '\0';
        complete = false;
    }
    const std::string_view tagView(tag);
    if (tagView.empty()) return complete;
    const std::string_view valueView = View(value, valueWidth);
    // Searching again from the start of the whole text after each
    // replacement would find a value's own tag inside it and insert the value
    // into itself without end. Such a value is therefore stepped over once
    // inserted. For any other value the search only goes back far enough to
    // find a tag that the value completes with the text before it: nothing
    // earlier has changed, so no occurrence can start earlier, and the result
    // is the same as searching from the start. That ends too. A value that is
    // the beginning of its tag makes the text shorter at every step; any
    // other one differs from the tag at some position, so every step moves
    // the text the same way in byte order, and there are only so many texts
    // of at most 1,023 characters.
    const bool holdsOwnTag = valueView.find(tagView) != std::string_view::npos;

    CommandBuffer scratch;
    std::size_t from = 0;
    for (;;) {
        const std::string_view current = View(text, kCommandCapacity);
        const std::size_t at = current.find(tagView, from);
        if (at == std::string_view::npos) break;
        const std::size_t after = at + tagView.size();
        FormatStatus status;
        FormatText(scratch, sizeof scratch, "%s%s%s",
                   {FormatArg(text, at), FormatArg(valueView.data(), valueView.size()),
                    FormatArg(text + after, current.size() - after)},
                   &status);
        if (status != FormatStatus::Complete) complete = false;
        FormatText(text, kCommandCapacity, "%s", {scratch});
        from = holdsOwnTag ? at + valueView.size() : (at + 1 >= tagView.size() ? at + 1 - tagView.size() : 0);
    }
    return complete;
}

bool BuildCommandLine(const PathBuffer &encoderPath, CommandBuffer &text, const PathBuffer &wavPath,
                      const PathBuffer &encoderOutputPath, std::int32_t index) {
    bool complete = true;
    if (BoundedLength(text) == kCommandCapacity) {
        text[kCommandCapacity - 1] = '\0';
        complete = false;
    }
    const AlbumInfo &album = *rip.info;
    const TrackTexts texts{album, Track(index), wavPath, encoderOutputPath};
    // Wrapping, not overflowing, should a caller ever pass the largest index.
    const int trackNumber = static_cast<int>(static_cast<std::uint32_t>(index) + 1u);

    CommandBuffer number;
    CommandBuffer quoted;
    for (const TagRow &row : kTags) {
        // A tag that is not there brings nothing in, and so cuts nothing.
        if (View(text, kCommandCapacity).find(row.tag) == std::string_view::npos) continue;
        Bounded value;
        if (row.pattern != nullptr) {
            int n = row.source == Source::TrackNumber ? trackNumber : album.trackCount;
            FormatText(number, sizeof number, row.pattern, {n});
            value = Within(number);
        } else {
            value = TextOf(row.source, texts);
        }
        if (row.quoted) {
            if (!QuoteArgument(quoted, sizeof quoted, value.text, value.width)) {
                FormatText(quoted, sizeof quoted, "%s", {"(null)"});
                complete = false;
            }
            value = Within(quoted);
        }
        if (!ReplaceTag(text, row.tag, value.text, value.width)) complete = false;
    }

    // The program is the first item up to the next double quote, with no
    // escapes: a path holding one cannot be named there.
    if (std::memchr(encoderPath, '"', BoundedLength(encoderPath)) != nullptr) complete = false;
    char program[kPathCapacity];
    FormatStatus status;
    FormatText(program, sizeof program, "\"%s\"", {encoderPath}, &status);
    if (status != FormatStatus::Complete) complete = false;
    CommandBuffer line;
    FormatText(line, sizeof line, "%s %s", {program, text}, &status);
    if (status != FormatStatus::Complete) complete = false;
    FormatText(text, kCommandCapacity, "%s", {line});
    return complete;
}

}  // namespace encbridge
