#include "encoder/verify.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "temp_folder_test.h"
#include "test_support.h"

namespace ts = testing_support;
using encbridge::Reason;
using encbridge::TakeDecoded;
using encbridge::VerifyMode;

namespace {

// A WAV stream: its RIFF and data sizes as given (~0u: the true ones), an
// odd-sized chunk before the data, and one after it.
std::string Wav(const std::string &audio, std::uint32_t size, std::uint32_t rate = 44100, bool chunks = false) {
    auto le = [](std::uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
        return s;
    };
    const std::string list = chunks ? "LIST" + le(3, 4) + "abc" + std::string(1, '\0') : "";
    const std::uint32_t dataSize = size == ~0u ? static_cast<std::uint32_t>(audio.size()) : size;
    return "RIFF" + le(size == ~0u ? static_cast<std::uint32_t>(36 + list.size() + audio.size()) : size, 4) + "WAVE" +
           "fmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(rate, 4) + le(rate * 4, 4) + le(4, 2) + le(16, 2) + list +
           "data" + le(dataSize, 4) + audio + (chunks ? "id3 " + le(2, 4) + "xy" : "");
}

class VerifyTest : public ts::TempFolderTest {};

// What the verify line writes against a track of one second, fed in
// pieces of every size from one byte (split inside each header field) to
// the whole.
TEST_F(VerifyTest, ComparesTheDecodedStreamWithTheTrack) {
    std::string folder;
    ASSERT_TRUE(NewFolder(folder));
    const ts::Bytes bytes = ts::Audio(4 * 44100, 7);
    const std::string audio(bytes.begin(), bytes.end()), wavPath = folder + "track.wav";
    ts::WriteFile(wavPath, Wav(audio, ~0u));
    std::string flipped = audio, twice = audio;
    flipped[4 * 1234 + 3] ^= 0x10;
    twice[4 * 1234 + 3] ^= 0x10;
    twice[4 * 30000] ^= 0x01;
    // A track of 100 ms, shorter than the bound of decodes.
    const std::string shortPath = folder + "short.wav";
    ts::WriteFile(shortPath, Wav(audio.substr(0, 4 * 4410), ~0u));
    const VerifyMode exact = VerifyMode::Exact, decodes = VerifyMode::Decodes;
    const struct Row {
        const char *name;
        VerifyMode mode;
        std::string stream;
        Reason reason;
        std::uint64_t sample;  // for exact
        bool shortTrack = false;
    } rows[] = {
        // WAV streams: true sizes, sizes of 0 or -1 with the audio to the end,
        // chunks before and after the data; raw PCM.
        {"true sizes", exact, Wav(audio, ~0u), Reason::Done, 0},
        {"sizes 0", exact, Wav(audio, 0), Reason::Done, 0},
        {"sizes -1", exact, Wav(audio, 0xFFFFFFFFu), Reason::Done, 0},
        {"other chunks", exact, Wav(audio, ~0u, 44100, true), Reason::Done, 0},
        {"raw PCM", exact, audio, Reason::Done, 0},
        // The faults; a decoder that failed writes "failed".
        {"one sample short", exact, Wav(audio.substr(0, audio.size() - 4), ~0u), Reason::VerifyTooShort, 44099},
        {"a sample more", exact, audio + "1234", Reason::VerifyTooLong, 44100},
        {"a flipped byte", exact, Wav(flipped, ~0u), Reason::VerifyMismatch, 1234},
        {"two flipped bytes", exact, Wav(twice, ~0u), Reason::VerifyMismatch, 1234},
        {"nothing at all", exact, "", Reason::VerifyFailed, 0},
        {"a header cut short", exact, Wav(audio, ~0u).substr(0, 30), Reason::VerifyFailed, 0},
        {"RIFF but no WAVE", exact, "RIFF\4\0\0\0AVI " + audio, Reason::VerifyFailed, 0},
        {"failed", exact, Wav(audio, ~0u), Reason::VerifyFailed, 0},
        // decodes: the length within the bound, at the decoder's own rate.
        {"48 kHz", decodes, Wav(std::string(4 * 48000, '\0'), 0, 48000), Reason::Done, 0},
        {"150 ms short", decodes, audio.substr(0, 4 * (44100 - 6615)), Reason::Done, 0},
        {"250 ms short", decodes, audio.substr(0, 4 * (44100 - 11025)), Reason::VerifyTooShort, 0},
        {"1 s long", decodes, audio + audio, Reason::VerifyTooLong, 0},
        {"250 ms long", decodes, audio + audio.substr(0, 4 * 11025), Reason::VerifyTooLong, 0},
        {"no audio for a short track", decodes, Wav("", ~0u), Reason::VerifyTooShort, 0, true},
    };
    for (const Row &row : rows) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{43}, std::size_t{1} << 20}) {
            SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
            std::unique_ptr<encbridge::Verifier> v(new encbridge::Verifier());
            ASSERT_TRUE(
                encbridge::StartVerifier(*v, row.mode, (row.shortTrack ? shortPath : wavPath).c_str(), nullptr));
            const std::string &in = row.stream;
            for (std::size_t at = 0; at < in.size() && TakeDecoded(v.get(), &in[at], std::min(piece, in.size() - at));
                 at += piece) {
            }
            std::uint64_t sample = 99;
            EXPECT_EQ(encbridge::FinishVerifier(*v, std::string(row.name) != "failed", sample), row.reason);
            EXPECT_TRUE(row.mode == decodes || sample == row.sample) << sample;
        }
    }
}

}  // namespace
