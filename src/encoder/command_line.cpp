#include "encoder/command_line.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "encoder/argument_quoting.h"
#include "platform/format.h"
#include "platform/platform.h"

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
    OutputFolder,
};

// Which lines a tag is replaced in: a track's encoder line, an album step's,
// or both.
enum class Scope {
    Track,
    Album,
    Both,
};

struct TagRow {
    const char *tag;
    Source source;
    const char *pattern;  // numbers only: texts are inserted as they stand
    bool quoted;
    Scope scope;
};

// The order of replacement. A tag that is the beginning of another one comes
// after it ("%no2" after "%no2%", "%no" after "%no2"), or it would eat the
// longer tag's first letters. Values are never searched for tags, so the
// order decides nothing else.
constexpr TagRow kTags[] = {
    {"%no2%", Source::TrackNumber, "%02d", true, Scope::Track},
    {"%no2", Source::TrackNumber, "%02d", false, Scope::Track},
    {"%no%", Source::TrackNumber, "%d", true, Scope::Track},
    {"%no", Source::TrackNumber, "%d", false, Scope::Track},
    {"%trks%", Source::TrackCount, "%02d", true, Scope::Both},
    {"%trks", Source::TrackCount, "%02d", false, Scope::Both},
    {"%trk2%", Source::TrackCount, "%d", true, Scope::Both},
    {"%trk2", Source::TrackCount, "%d", false, Scope::Both},
    {"%ttit%", Source::TrackTitle, nullptr, true, Scope::Track},
    {"%ttit", Source::TrackTitle, nullptr, false, Scope::Track},
    {"%tart%", Source::TrackArtist, nullptr, true, Scope::Track},
    {"%tart", Source::TrackArtist, nullptr, false, Scope::Track},
    {"%talb%", Source::TrackAlbum, nullptr, true, Scope::Track},
    {"%talb", Source::TrackAlbum, nullptr, false, Scope::Track},
    {"%tyer%", Source::TrackYear, nullptr, true, Scope::Track},
    {"%tyer", Source::TrackYear, nullptr, false, Scope::Track},
    {"%tcom%", Source::TrackComment, nullptr, true, Scope::Track},
    {"%tcom", Source::TrackComment, nullptr, false, Scope::Track},
    {"%atit%", Source::AlbumTitle, nullptr, true, Scope::Both},
    {"%atit", Source::AlbumTitle, nullptr, false, Scope::Both},
    {"%aart%", Source::AlbumArtist, nullptr, true, Scope::Both},
    {"%aart", Source::AlbumArtist, nullptr, false, Scope::Both},
    {"%acom%", Source::AlbumComment, nullptr, true, Scope::Both},
    {"%acom", Source::AlbumComment, nullptr, false, Scope::Both},
    {"%i%", Source::WavPath, nullptr, true, Scope::Track},
    {"%i", Source::WavPath, nullptr, false, Scope::Track},
    {"%o%", Source::OutputPath, nullptr, true, Scope::Track},
    {"%o", Source::OutputPath, nullptr, false, Scope::Track},
    {"%dir%", Source::OutputFolder, nullptr, true, Scope::Album},
    {"%dir", Source::OutputFolder, nullptr, false, Scope::Album},
};

// An album step's "%files%" and "%files" alike stand for that output's final
// files, each one argument: a bare file name with a blank would split.
// A text and the width it may be read within.
struct Bounded {
    const char *text;
    std::size_t width;
};

template <std::size_t N>
Bounded Within(const char (&array)[N]) {
    return {array, N};
}

// What the tags of a line are replaced with. An album step has no track,
// and no file of its own.
struct LineTexts {
    Scope scope;
    const AlbumInfo &album;
    const TrackInfo *track;
    const char *wavPath;
    const char *outputPath;
    int trackNumber;
};

// What an album step's line reads for a track tag, were it ever asked.
const TrackInfo kNoTrack = {};

Bounded TextOf(Source source, const LineTexts &texts) {
    const TrackInfo &track = texts.track != nullptr ? *texts.track : kNoTrack;
    switch (source) {
        case Source::TrackTitle:
            return Within(track.title);
        case Source::TrackArtist:
            return Within(track.artist);
        case Source::TrackAlbum:
            return Within(track.album);
        case Source::TrackYear:
            return Within(track.year);
        case Source::TrackComment:
            return Within(track.comment);
        case Source::AlbumTitle:
            return Within(texts.album.albumTitle);
        case Source::AlbumArtist:
            return Within(texts.album.albumArtist);
        case Source::AlbumComment:
            return Within(texts.album.albumComment);
        case Source::WavPath:
            return {texts.wavPath, kPathCapacity};
        case Source::OutputPath:
            return {texts.outputPath, kPathCapacity};
        case Source::OutputFolder:
            return Within(texts.album.outputFolder);
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

// Whether a tag's value is a path of the rip's files.
bool IsPath(Source source) {
    return source == Source::WavPath || source == Source::OutputPath || source == Source::OutputFolder;
}

// A path as a program is given it. A relative one (an empty or relative
// output folder) begins with whatever the host or a disc database named the
// folder or track: one that would begin with '-' gets the current folder
// before it, or the program would take it for an option ("--output=x"
// overwrites x). False when it does not fit.
// cppcheck-suppress constParameter ; the formatter writes the path into it
bool WritePath(CommandBuffer &out, const char *path, std::size_t width) {
    const char *prefix = width > 0 && path[0] == '-' ? platform::CurrentFolderPrefix() : "";
    return FormatWhole(out, sizeof out, "%s%s", {FormatArg(prefix, 3), FormatArg(path, width)});
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

namespace {

bool InScope(Scope row, Scope line) { return row == Scope::Both || row == line; }

// Replaces every tag of the line's scope in command, in table order.
void ReplaceTags(CommandText &command, CommandStyle style, const LineTexts &texts, bool &cut, bool &unsafe) {
    CommandBuffer number;
    CommandBuffer quoted;
    CommandBuffer path;
    for (const TagRow &row : kTags) {
        if (!InScope(row.scope, texts.scope)) continue;
        // A tag that is not there brings nothing in, and so cuts nothing.
        if (FindInTemplate(command, BoundedLength(command.text), row.tag, 0) == std::string_view::npos) continue;
        Bounded value;
        if (row.pattern != nullptr) {
            int n = row.source == Source::TrackNumber ? texts.trackNumber : texts.album.trackCount;
            FormatText(number, sizeof number, row.pattern, {n});
            value = Within(number);
        } else {
            value = TextOf(row.source, texts);
        }
        if (IsPath(row.source)) {
            if (!WritePath(path, value.text, value.width)) cut = true;
            value = Within(path);
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
}

// The line's first item: the program in double quotes.
void WriteProgram(const PathBuffer &programPath, CommandStyle style, char (&program)[kPathCapacity], bool &cut,
                  bool &unsafe) {
    // The program is the first item up to the next double quote, with no
    // escapes: a path holding one cannot be named there. cmd.exe acts on
    // a batch file's path as on any quoted text.
    if (std::memchr(programPath, '"', BoundedLength(programPath)) != nullptr) cut = true;
    if (style == CommandStyle::BatchFile && !SafeQuotedInBatchFile(programPath, kPathCapacity)) unsafe = true;
    if (!FormatWhole(program, sizeof program, "\"%s\"", {programPath})) cut = true;
}

CommandStatus StatusOf(bool cut, bool unsafe) {
    if (unsafe) return CommandStatus::Unsafe;
    return cut ? CommandStatus::Cut : CommandStatus::Complete;
}

// Appends texts to a line of a fixed capacity, remembering whether anything
// had to be cut.
struct LineWriter {
    char *line;
    std::size_t capacity;
    std::size_t length;
    bool cut;

    void Add(const char *text, std::size_t width) {
        FormatStatus status;
        FormatText(line + length, capacity - length, "%s", {FormatArg(text, width)}, &status);
        if (status != FormatStatus::Complete) cut = true;
        length += BoundedLength(line + length, capacity - length);
    }
};

// The first "%files" or "%files%" at or after from among the template's own
// characters, and its length; npos when there is none.
std::size_t FindFilesTag(const CommandText &command, std::size_t length, std::size_t from, std::size_t &tagLength) {
    const std::size_t at = FindInTemplate(command, length, "%files", from);
    const std::size_t after = at + 6;
    const bool quotedForm =
        at != std::string_view::npos && after < length && command.text[after] == '%' && !command.fromValue[after];
    tagLength = quotedForm ? 7 : 6;
    return at;
}

// Every processed track's final file for extension, each quoted as one
// argument, separated by blanks.
void WriteFiles(LineWriter &writer, CommandStyle style, const AlbumInfo &album, const char *extension,
                std::size_t extensionWidth, bool &unsafe) {
    bool first = true;
    for (std::int32_t i = 0; i < album.trackCount; ++i) {
        const TrackInfo &track = album.tracks[i];
        if (!IsProcessed(track)) continue;
        PathBuffer file;
        CommandBuffer path;
        CommandBuffer quoted;
        if (!FormatWhole(file, sizeof file, "%s%s%s",
                         {album.outputFolder, track.fileName, FormatArg(extension, extensionWidth)}) ||
            !WritePath(path, file, sizeof file)) {
            writer.cut = true;
            return;
        }
        const QuoteResult result = QuoteArgument(style, quoted, sizeof quoted, path, sizeof path);
        if (result != QuoteResult::Quoted) {
            (result == QuoteResult::TooLong ? writer.cut : unsafe) = true;
            return;
        }
        if (!first) writer.Add(" ", 1);
        writer.Add(quoted, sizeof quoted);
        first = false;
    }
}

}  // namespace

CommandStatus BuildCommandLine(const PathBuffer &encoderPath, CommandStyle style, CommandBuffer &text,
                               const PathBuffer &wavPath, const PathBuffer &encoderOutputPath, const AlbumInfo &album,
                               std::int32_t index) {
    bool cut = false;
    bool unsafe = false;
    CommandText command;
    if (!StartCommandText(command, text, kCommandCapacity)) cut = true;
    // Wrapping, not overflowing, should a caller ever pass the largest index.
    const int trackNumber = static_cast<int>(static_cast<std::uint32_t>(index) + 1u);
    const LineTexts texts{Scope::Track, album, &album.tracks[index], wavPath, encoderOutputPath, trackNumber};
    ReplaceTags(command, style, texts, cut, unsafe);

    char program[kPathCapacity];
    WriteProgram(encoderPath, style, program, cut, unsafe);
    CommandBuffer line;
    FormatStatus status;
    FormatText(line, sizeof line, "%s %s", {program, command.text}, &status);
    if (status != FormatStatus::Complete) cut = true;
    FormatText(text, kCommandCapacity, "%s", {line});
    return StatusOf(cut, unsafe);
}

CommandStatus BuildAlbumCommandLine(const PathBuffer &programPath, CommandStyle style, const char *albumTemplate,
                                    std::size_t templateWidth, const AlbumInfo &album, const char *extension,
                                    std::size_t extensionWidth, char *line, std::size_t lineCapacity) {
    bool cut = false;
    bool unsafe = false;
    CommandText command;
    if (!StartCommandText(command, albumTemplate, templateWidth)) cut = true;
    const LineTexts texts{Scope::Album, album, nullptr, "", "", 0};
    ReplaceTags(command, style, texts, cut, unsafe);

    char program[kPathCapacity];
    WriteProgram(programPath, style, program, cut, unsafe);
    const std::size_t longest = style == CommandStyle::BatchFile ? kLongestCommandShellLine : kLongestCommandLine;
    LineWriter writer{line, lineCapacity < longest ? lineCapacity : longest, 0, false};
    writer.Add(program, sizeof program);
    writer.Add(" ", 1);
    const std::size_t length = BoundedLength(command.text);
    std::size_t from = 0;
    for (;;) {
        std::size_t tagLength = 0;
        const std::size_t at = FindFilesTag(command, length, from, tagLength);
        if (at == std::string_view::npos) break;
        writer.Add(command.text + from, at - from);
        WriteFiles(writer, style, album, extension, extensionWidth, unsafe);
        from = at + tagLength;
    }
    writer.Add(command.text + from, length - from);
    return StatusOf(cut || writer.cut, unsafe);
}

}  // namespace encbridge
