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
    Disc,
    DiscCount,
    Genre,
    Catalog,
    Cover,
    Isrc,
    Composer,
    Songwriter,
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
    // The settings file's values: an argument made only of one that is
    // empty is left out with its option, see DropEmptyArguments.
    bool fromSettings;
};

// The order of replacement. A tag that is the beginning of another one comes
// after it ("%no2" after "%no2%", "%no" after "%no2"), or it would eat the
// longer tag's first letters. Values are never searched for tags, so the
// order decides nothing else.
constexpr TagRow kTags[] = {
    {"%no2%", Source::TrackNumber, "%02d", true, Scope::Track, false},
    {"%no2", Source::TrackNumber, "%02d", false, Scope::Track, false},
    {"%no%", Source::TrackNumber, "%d", true, Scope::Track, false},
    {"%no", Source::TrackNumber, "%d", false, Scope::Track, false},
    {"%trks%", Source::TrackCount, "%02d", true, Scope::Both, false},
    {"%trks", Source::TrackCount, "%02d", false, Scope::Both, false},
    {"%trk2%", Source::TrackCount, "%d", true, Scope::Both, false},
    {"%trk2", Source::TrackCount, "%d", false, Scope::Both, false},
    {"%ttit%", Source::TrackTitle, nullptr, true, Scope::Track, false},
    {"%ttit", Source::TrackTitle, nullptr, false, Scope::Track, false},
    {"%tart%", Source::TrackArtist, nullptr, true, Scope::Track, false},
    {"%tart", Source::TrackArtist, nullptr, false, Scope::Track, false},
    {"%talb%", Source::TrackAlbum, nullptr, true, Scope::Track, false},
    {"%talb", Source::TrackAlbum, nullptr, false, Scope::Track, false},
    {"%tyer%", Source::TrackYear, nullptr, true, Scope::Track, false},
    {"%tyer", Source::TrackYear, nullptr, false, Scope::Track, false},
    {"%tcom%", Source::TrackComment, nullptr, true, Scope::Track, false},
    {"%tcom", Source::TrackComment, nullptr, false, Scope::Track, false},
    {"%atit%", Source::AlbumTitle, nullptr, true, Scope::Both, false},
    {"%atit", Source::AlbumTitle, nullptr, false, Scope::Both, false},
    {"%aart%", Source::AlbumArtist, nullptr, true, Scope::Both, false},
    {"%aart", Source::AlbumArtist, nullptr, false, Scope::Both, false},
    {"%acom%", Source::AlbumComment, nullptr, true, Scope::Both, false},
    {"%acom", Source::AlbumComment, nullptr, false, Scope::Both, false},
    {"%disc%", Source::Disc, nullptr, true, Scope::Both, true},
    {"%disc", Source::Disc, nullptr, false, Scope::Both, true},
    {"%dtot%", Source::DiscCount, nullptr, true, Scope::Both, true},
    {"%dtot", Source::DiscCount, nullptr, false, Scope::Both, true},
    {"%agen%", Source::Genre, nullptr, true, Scope::Both, true},
    {"%agen", Source::Genre, nullptr, false, Scope::Both, true},
    {"%acat%", Source::Catalog, nullptr, true, Scope::Both, true},
    {"%acat", Source::Catalog, nullptr, false, Scope::Both, true},
    {"%apic%", Source::Cover, nullptr, true, Scope::Both, true},
    {"%apic", Source::Cover, nullptr, false, Scope::Both, true},
    {"%tisr%", Source::Isrc, nullptr, true, Scope::Track, true},
    {"%tisr", Source::Isrc, nullptr, false, Scope::Track, true},
    {"%tcmp%", Source::Composer, nullptr, true, Scope::Track, true},
    {"%tcmp", Source::Composer, nullptr, false, Scope::Track, true},
    {"%tsng%", Source::Songwriter, nullptr, true, Scope::Track, true},
    {"%tsng", Source::Songwriter, nullptr, false, Scope::Track, true},
    {"%i%", Source::WavPath, nullptr, true, Scope::Track, false},
    {"%i", Source::WavPath, nullptr, false, Scope::Track, false},
    {"%o%", Source::OutputPath, nullptr, true, Scope::Track, false},
    {"%o", Source::OutputPath, nullptr, false, Scope::Track, false},
    {"%dir%", Source::OutputFolder, nullptr, true, Scope::Album, false},
    {"%dir", Source::OutputFolder, nullptr, false, Scope::Album, false},
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
    const AlbumTags &albumTags;
    const TrackTags &trackTags;
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
        case Source::Disc:
            return Within(texts.albumTags.disc);
        case Source::DiscCount:
            return Within(texts.albumTags.discs);
        case Source::Genre:
            return Within(texts.albumTags.genre);
        case Source::Catalog:
            return Within(texts.albumTags.catalog);
        case Source::Cover:
            return Within(texts.albumTags.cover);
        case Source::Isrc:
            return Within(texts.trackTags.isrc);
        case Source::Composer:
            return Within(texts.trackTags.composer);
        case Source::Songwriter:
            return Within(texts.trackTags.songwriter);
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

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Takes the template's characters from to to out of command, and the blanks
// that separated them from the rest.
void RemoveSpan(CommandText &command, std::size_t from, std::size_t to) {
    while (from > 0 && IsBlank(command.text[from - 1])) --from;
    const std::size_t length = BoundedLength(command.text);
    if (from == 0) {
        while (to < length && IsBlank(command.text[to])) ++to;
    }
    std::copy(command.text + to, command.text + length + 1, command.text + from);
    std::copy(command.fromValue + to, command.fromValue + length + 1, command.fromValue + from);
}

// Where the argument that ends at end (as the template's blanks separate
// arguments) begins.
std::size_t ArgumentStart(const char *text, std::size_t end) {
    while (end > 0 && !IsBlank(text[end - 1])) --end;
    return end;
}

// A value from the settings file that a host did not give is empty, and
// an option followed by an empty argument would take the next one as its
// value, or fail. So, before any value comes in, an argument made only of
// such a tag, or of "NAME=" and the tag, is left out together with the
// option before it (the argument before it, when that begins with '-'); an
// argument "-option=" and the tag goes alone. Only these tags do so: no
// template written before them changes meaning.
void DropEmptyArguments(CommandText &command, const LineTexts &texts) {
    for (const TagRow &row : kTags) {
        if (!row.fromSettings || !InScope(row.scope, texts.scope)) continue;
        const Bounded value = TextOf(row.source, texts);
        if (BoundedLength(value.text, value.width) != 0) continue;
        const std::size_t tagLength = std::strlen(row.tag);
        std::size_t from = 0;
        for (;;) {
            const std::size_t length = BoundedLength(command.text);
            const std::size_t at = FindInTemplate(command, length, row.tag, from);
            if (at == std::string_view::npos) break;
            const std::size_t end = at + tagLength;
            const std::size_t start = ArgumentStart(command.text, at);
            from = at + 1;
            if ((end < length && !IsBlank(command.text[end])) || (start < at && command.text[at - 1] != '=')) continue;
            std::size_t drop = start;
            if (start == at || command.text[start] != '-') {
                std::size_t before = start;
                while (before > 0 && IsBlank(command.text[before - 1])) --before;
                const std::size_t option = ArgumentStart(command.text, before);
                if (option < before && command.text[option] == '-') drop = option;
            }
            RemoveSpan(command, drop, end);
            from = 0;
        }
    }
}

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
                               const RipTags &tags, std::int32_t index) {
    bool cut = false;
    bool unsafe = false;
    CommandText command;
    if (!StartCommandText(command, text, kCommandCapacity)) cut = true;
    // Wrapping, not overflowing, should a caller ever pass the largest index.
    const int trackNumber = static_cast<int>(static_cast<std::uint32_t>(index) + 1u);
    const LineTexts texts{
        Scope::Track,      album,      &album.tracks[index], tags.album, TagsOfTrack(tags, index), wavPath,
        encoderOutputPath, trackNumber};
    DropEmptyArguments(command, texts);
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
                                    std::size_t templateWidth, const AlbumInfo &album, const RipTags &tags,
                                    const char *extension, std::size_t extensionWidth, char *line,
                                    std::size_t lineCapacity) {
    bool cut = false;
    bool unsafe = false;
    CommandText command;
    if (!StartCommandText(command, albumTemplate, templateWidth)) cut = true;
    const LineTexts texts{Scope::Album, album, nullptr, tags.album, TagsOfTrack(tags, -1), "", "", 0};
    DropEmptyArguments(command, texts);
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

namespace {

bool IsWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsKnownTag(std::string_view word, Scope scope) {
    if (scope == Scope::Album && word == "%files%") return true;
    return std::any_of(std::begin(kTags), std::end(kTags),
                       [&](const TagRow &row) { return row.quoted && InScope(row.scope, scope) && word == row.tag; });
}

}  // namespace

std::int32_t ListUnknownTags(const char *text, std::size_t width, bool albumStep, char *out, std::size_t capacity) {
    const std::string_view view = View(text, width);
    const Scope scope = albumStep ? Scope::Album : Scope::Track;
    std::int32_t count = 0;
    std::size_t written = 0;
    bool fits = capacity > 0;
    if (fits) out[0] = '\0';
    std::size_t at = view.find('%');
    while (at != std::string_view::npos) {
        std::size_t end = at + 1;
        while (end < view.size() && IsWordCharacter(view[end])) ++end;
        if (end == at + 1 || end == view.size() || view[end] != '%') {
            at = view.find('%', at + 1);
            continue;
        }
        const std::string_view word = view.substr(at, end + 1 - at);
        if (!IsKnownTag(word, scope)) {
            ++count;
            FormatStatus status = FormatStatus::Complete;
            if (fits) {
                FormatText(out + written, capacity - written, written == 0 ? "%s" : " %s",
                           {FormatArg(word.data(), word.size())}, &status);
            }
            fits = fits && status == FormatStatus::Complete;
            if (fits) written += BoundedLength(out + written, capacity - written);
        }
        at = view.find('%', end + 1);
    }
    return fits ? count : -1;
}

bool ListKnownTags(bool albumStep, char *out, std::size_t capacity) {
    const Scope scope = albumStep ? Scope::Album : Scope::Track;
    LineWriter writer{out, capacity, 0, capacity == 0};
    if (capacity > 0) out[0] = '\0';
    for (const TagRow &row : kTags) {
        if (!row.quoted || !InScope(row.scope, scope) || writer.cut) continue;
        if (writer.length > 0) writer.Add(" ", 1);
        writer.Add(row.tag, std::strlen(row.tag));
    }
    if (albumStep && !writer.cut) writer.Add(" %files%", 8);
    return !writer.cut;
}

}  // namespace encbridge
