// Arbitrary templates, texts, tags and values through the command line code.
// Whatever they are, every call must end (libFuzzer's time-out), stay inside
// its buffers (AddressSanitizer) and leave a NUL-terminated text of at most
// 1,023 characters. A complete command line must hand the encoder exactly
// the template's arguments, each tag's value whole: split by the Windows
// rules, or, for a batch file, read by a model of cmd.exe and then split as
// the C runtime splits. ReplaceTag must match a model of its own.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "encoder/argument_quoting.h"
#include "encoder/command_line.h"
#include "fuzz_check.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/posix/command_line_split.h"

using namespace encbridge;

namespace {

// Values that no settings file gave.
const RipTags kNoTags{};

constexpr int kTracks = 100;

// Text up to its first NUL, as the module reads it.
std::string UpToNul(const std::string &text) { return text.substr(0, text.find('\0')); }

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, BoundedLength(field));
}

// A path as a program receives it: one that would begin with '-', and so be
// taken for an option, comes behind the current folder's prefix.
template <std::size_t N>
std::string PathText(const char (&path)[N]) {
    const std::string text = FieldText(path);
    return !text.empty() && text[0] == '-' ? platform::CurrentFolderPrefix() + text : text;
}

// Fills a field with the next text of the input; a text as long as the field
// leaves it without a NUL.
template <std::size_t N>
void Fill(FuzzedDataProvider &data, char (&field)[N]) {
    std::string text = data.ConsumeRandomLengthString(N);
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size());
}

void CheckTerminated(const char *text, std::size_t capacity) {
    CHECK(std::memchr(text, '\0', capacity) != nullptr);
    CHECK(std::strlen(text) <= kCommandCapacity - 1);
}

// How cmd.exe reads a batch file's line: nothing it expands or breaks on
// anywhere, and none of its operators outside its quotes.
void CheckInertForCommandShell(const std::string &line) {
    bool quoted = false;
    for (char c : line) {
        CHECK(c != '%' && c != '\r' && c != '\n');
        if (c == '"') quoted = !quoted;
        if (!quoted) CHECK(std::strchr("&|<>^()", c) == nullptr || c == '\0');
    }
}

// The C runtime's split of the arguments after the program: like the
// Windows rules, but "" inside quotes is a literal quote that stays quoted.
std::vector<std::string> SplitLikeTheCRuntime(const std::string &arguments) {
    std::vector<std::string> items;
    std::size_t i = 0;
    for (;;) {
        while (i < arguments.size() && (arguments[i] == ' ' || arguments[i] == '\t')) ++i;
        if (i >= arguments.size()) return items;
        std::string item;
        bool quoted = false;
        while (i < arguments.size() && (quoted || (arguments[i] != ' ' && arguments[i] != '\t'))) {
            std::size_t backslashes = 0;
            while (i < arguments.size() && arguments[i] == '\\') ++backslashes, ++i;
            if (i < arguments.size() && arguments[i] == '"') {
                item.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    item += '"';
                } else if (quoted && i + 1 < arguments.size() && arguments[i + 1] == '"') {
                    item += '"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                item.append(backslashes, '\\');
                if (i < arguments.size() && (quoted || (arguments[i] != ' ' && arguments[i] != '\t'))) {
                    item += arguments[i++];
                }
            }
        }
        items.push_back(item);
    }
}

struct QuotedTag {
    const char *tag;
    std::string value;
};

// A template of plain words and quoted tags, one blank between them, and
// what the encoder must receive for it.
void Build(FuzzedDataProvider &data) {
    static AlbumInfo *album = [] {
        AlbumInfo *info = new AlbumInfo();
        info->tracks = new TrackInfo[kTracks]();
        return info;
    }();
    const std::int32_t index = data.ConsumeIntegralInRange<std::int32_t>(0, kTracks - 1);
    album->trackCount = data.ConsumeIntegral<std::int32_t>();
    const CommandStyle style = data.ConsumeBool() ? CommandStyle::BatchFile : CommandStyle::Arguments;
    PathBuffer encoder, wav, output;
    TrackInfo &track = album->tracks[index];
    Fill(data, track.title);
    Fill(data, track.artist);
    Fill(data, track.album);
    Fill(data, track.year);
    Fill(data, track.comment);
    Fill(data, album->albumTitle);
    Fill(data, album->albumArtist);
    Fill(data, album->albumComment);
    Fill(data, encoder);
    Fill(data, wav);
    Fill(data, output);

    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(static_cast<std::uint32_t>(index) + 1u));
    const QuotedTag tags[] = {
        {"%no%", number},
        {"%ttit%", FieldText(track.title)},
        {"%tart%", FieldText(track.artist)},
        {"%talb%", FieldText(track.album)},
        {"%tyer%", FieldText(track.year)},
        {"%tcom%", FieldText(track.comment)},
        {"%atit%", FieldText(album->albumTitle)},
        {"%aart%", FieldText(album->albumArtist)},
        {"%acom%", FieldText(album->albumComment)},
        {"%i%", PathText(wav)},
        {"%o%", PathText(output)},
    };
    std::string commandTemplate;
    std::vector<std::string> expected;
    const int words = data.ConsumeIntegralInRange(0, 8);
    for (int w = 0; w < words; ++w) {
        std::string word;
        if (data.ConsumeBool()) {
            const QuotedTag &tag = tags[data.ConsumeIntegralInRange<std::size_t>(0, std::size(tags) - 1)];
            word = tag.tag;
            expected.push_back(tag.value);
        } else {
            static const char kLetters[] = "abcXYZ019-=./:_";
            const int letters = data.ConsumeIntegralInRange(1, 6);
            for (int l = 0; l < letters; ++l) word += kLetters[data.ConsumeIntegralInRange<int>(0, 14)];
            expected.push_back(word);
        }
        commandTemplate += (w == 0 ? "" : " ") + word;
    }
    CommandBuffer text;
    std::snprintf(text, sizeof text, "%s", commandTemplate.c_str());

    const CommandStatus status = BuildCommandLine(encoder, style, text, wav, output, *album, kNoTags, index);
    CheckTerminated(text, sizeof text);
    if (status != CommandStatus::Complete) return;
    const std::string line = text;
    const std::string program = "\"" + FieldText(encoder) + "\"";
    CHECK(line.compare(0, program.size(), program) == 0);
    if (style == CommandStyle::Arguments) {
        std::vector<std::string> items = platform::SplitCommandLine(line.c_str());
        CHECK(!items.empty() && items[0] == FieldText(encoder));
        items.erase(items.begin());
        CHECK(items == expected);
    } else {
        CheckInertForCommandShell(line);
        CHECK(SplitLikeTheCRuntime(line.substr(program.size())) == expected);
    }
}

// ReplaceTag on a template: every occurrence is replaced, left to right,
// each step cut at 1,023 characters; what a value brings in is never
// searched again, and only an empty value can make a new occurrence, from
// the template characters it brings together.
std::string ReplaceModel(std::string text, const std::string &tag, const std::string &value, bool &complete) {
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(tag, from)) != std::string::npos;) {
        text = text.substr(0, at) + value + text.substr(at + tag.size());
        if (text.size() > kCommandCapacity - 1) {
            text.resize(kCommandCapacity - 1);
            complete = false;
        }
        from = value.empty() ? 0 : at + value.size();
    }
    return text;
}

void Replace(FuzzedDataProvider &data) {
    const std::string tag = UpToNul(data.ConsumeRandomLengthString(16));
    const std::string value = UpToNul(data.ConsumeRandomLengthString(2 * kCommandCapacity));
    std::string original = UpToNul(data.ConsumeRemainingBytesAsString());
    if (original.size() > kCommandCapacity - 1) original.resize(kCommandCapacity - 1);
    CommandText command;
    CHECK(StartCommandText(command, original.c_str(), original.size() + 1));

    const bool complete = ReplaceTag(command, tag.c_str(), value.c_str(), value.size() + 1);
    CheckTerminated(command.text, sizeof command.text);
    if (tag.empty()) return;
    bool expectedComplete = true;
    CHECK(command.text == ReplaceModel(original, tag, value, expectedComplete));
    CHECK(complete == expectedComplete);
}

void Quote(FuzzedDataProvider &data) {
    const CommandStyle style = data.ConsumeBool() ? CommandStyle::BatchFile : CommandStyle::Arguments;
    const std::string value = UpToNul(data.ConsumeRemainingBytesAsString());
    char quoted[kCommandCapacity];
    const QuoteResult result = QuoteArgument(style, quoted, sizeof quoted, value.c_str(), value.size() + 1);
    CheckTerminated(quoted, sizeof quoted);
    const bool acted = value.find_first_of("%\r\n") != std::string::npos;
    if (style == CommandStyle::BatchFile && acted) {
        CHECK(result == QuoteResult::Unsafe);
        return;
    }
    // Two quotes, one more character per double quote, and every backslash
    // that stands before a double quote or at the end once more.
    std::size_t needed = value.size() + 2;
    std::size_t backslashes = 0;
    for (char c : value) {
        if (c == '"') needed += backslashes + 1;
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    needed += backslashes;
    CHECK((result == QuoteResult::Quoted) == (needed <= kCommandCapacity - 1));
    if (result != QuoteResult::Quoted) return;
    CHECK(std::strlen(quoted) == needed);
    if (style == CommandStyle::Arguments) {
        const std::vector<std::string> items = platform::SplitCommandLine((std::string("\"p\" ") + quoted).c_str());
        CHECK(items.size() == 2 && items[0] == "p" && items[1] == value);
    } else {
        CheckInertForCommandShell(quoted);
        CHECK(SplitLikeTheCRuntime(quoted) == std::vector<std::string>{value});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    switch (data.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            Build(data);
            break;
        case 1:
            Replace(data);
            break;
        default:
            Quote(data);
            break;
    }
    return 0;
}
