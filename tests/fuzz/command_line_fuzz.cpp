// Arbitrary templates, texts, tags and values through the command line code.
// Whatever they are, every call must end (libFuzzer's time-out), stay inside
// its buffers (AddressSanitizer) and leave a NUL-terminated text of at most
// 1,023 characters. Where the old rule of searching from the start again is
// known to end, ReplaceTag must give exactly its result; and a quoted value
// must split back into itself.
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
#include "interface/rip_state.h"
#include "platform/format.h"
#include "platform/posix/command_line_split.h"

using namespace encbridge;

namespace {

constexpr int kTracks = 100;

// Text up to its first NUL, as the module reads it.
std::string UpToNul(const std::string &text) { return text.substr(0, text.find('\0')); }

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

void Build(FuzzedDataProvider &data) {
    static AlbumInfo *album = [] {
        AlbumInfo *info = new AlbumInfo();
        info->tracks = new TrackInfo[kTracks]();
        return info;
    }();
    const std::int32_t index = data.ConsumeIntegralInRange<std::int32_t>(0, kTracks - 1);
    album->trackCount = data.ConsumeIntegral<std::int32_t>();
    CommandBuffer text;
    PathBuffer encoder, wav, output;
    Fill(data, text);
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
    rip.info = album;

    const bool complete = BuildCommandLine(encoder, text, wav, output, index);
    CheckTerminated(text, sizeof text);
    if (complete) {
        // The program is the first item, whole.
        const std::string program = "\"" + std::string(encoder, BoundedLength(encoder)) + "\" ";
        CHECK(std::strncmp(text, program.c_str(), program.size()) == 0);
    }
}

// Searching from the start again after every replacement, with each step cut
// at 1,023 characters. Ends only for a value that does not hold its tag.
std::string SearchFromTheStart(std::string text, const std::string &tag, const std::string &value, bool &complete) {
    for (std::size_t at; (at = text.find(tag)) != std::string::npos;) {
        text = text.substr(0, at) + value + text.substr(at + tag.size());
        if (text.size() > kCommandCapacity - 1) {
            text.resize(kCommandCapacity - 1);
            complete = false;
        }
    }
    return text;
}

void Replace(FuzzedDataProvider &data) {
    const std::string tag = UpToNul(data.ConsumeRandomLengthString(16));
    const std::string value = UpToNul(data.ConsumeRandomLengthString(2 * kCommandCapacity));
    std::string original = UpToNul(data.ConsumeRemainingBytesAsString());
    if (original.size() > kCommandCapacity - 1) original.resize(kCommandCapacity - 1);
    CommandBuffer text;
    std::memcpy(text, original.c_str(), original.size() + 1);

    const bool complete = ReplaceTag(text, tag.c_str(), value.c_str(), value.size() + 1);
    CheckTerminated(text, sizeof text);
    if (tag.empty() || value.find(tag) != std::string::npos) return;
    bool expectedComplete = true;
    const std::string expected = SearchFromTheStart(original, tag, value, expectedComplete);
    CHECK(text == expected);
    CHECK(complete == expectedComplete);
}

void Quote(FuzzedDataProvider &data) {
    const std::string value = UpToNul(data.ConsumeRemainingBytesAsString());
    char quoted[kCommandCapacity];
    const bool fits = QuoteArgument(quoted, sizeof quoted, value.c_str(), value.size() + 1);
    CheckTerminated(quoted, sizeof quoted);
    // Two quotes, one more character per double quote, and every backslash
    // that stands before a double quote or at the end once more.
    std::size_t needed = value.size() + 2;
    std::size_t backslashes = 0;
    for (char c : value) {
        if (c == '"') needed += backslashes + 1;
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    needed += backslashes;
    CHECK(fits == (needed <= kCommandCapacity - 1));
    if (!fits) return;
    CHECK(std::strlen(quoted) == needed);
    const std::vector<std::string> items = platform::SplitCommandLine((std::string("\"p\" ") + quoted).c_str());
    CHECK(items.size() == 2 && items[0] == "p" && items[1] == value);
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
