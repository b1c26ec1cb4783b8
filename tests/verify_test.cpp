#include "encoder/verify.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "temp_folder_test.h"
#include "test_support.h"

namespace ts = testing_support;
using encbridge::Reason;
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
    const std::string audio(bytes.begin(), bytes.end());
    const std::string wavPath = folder + "track.wav";
    ts::WriteFile(wavPath, Wav(audio, ~0u));
    std::string flipped = audio;
    flipped[4 * 1234 + 3] ^= 0x10;
    const std::string second48k(4 * 48000, '\0');
    struct Row {
        const char *name;
        VerifyMode mode;
        std::string stream;
        bool exitedWithZero;
        Reason reason;
        std::uint64_t sample;
    } rows[] = {
        // WAV streams: true sizes, sizes of 0 or -1 with the audio to the end,
        // chunks before and after the data.
        {"true sizes", VerifyMode::Exact, Wav(audio, ~0u), true, Reason::Done, 0},
        {"sizes 0", VerifyMode::Exact, Wav(audio, 0), true, Reason::Done, 0},
        {"sizes -1", VerifyMode::Exact, Wav(audio, 0xFFFFFFFFu), true, Reason::Done, 0},
        {"other chunks", VerifyMode::Exact, Wav(audio, ~0u, 44100, true), true, Reason::Done, 0},
        {"raw PCM", VerifyMode::Exact, audio, true, Reason::Done, 0},
        // The faults.
        {"one sample short", VerifyMode::Exact, Wav(audio.substr(0, audio.size() - 4), ~0u), true,
         Reason::VerifyTooShort, 44099},
        {"a sample more", VerifyMode::Exact, audio + "1234", true, Reason::VerifyTooLong, 44100},
        {"a flipped byte", VerifyMode::Exact, Wav(flipped, ~0u), true, Reason::VerifyMismatch, 1234},
        {"nothing at all", VerifyMode::Exact, "", true, Reason::VerifyTooShort, 0},
        {"a header cut short", VerifyMode::Exact, Wav(audio, ~0u).substr(0, 30), true, Reason::VerifyFailed, 0},
        {"RIFF but no WAVE", VerifyMode::Exact, "RIFF\4\0\0\0AVI " + audio, true, Reason::VerifyFailed, 0},
        {"the decoder failed", VerifyMode::Exact, Wav(audio, ~0u), false, Reason::VerifyFailed, 0},
        // decodes: the length within the bound, at the decoder's own rate.
        {"decodes, same rate", VerifyMode::Decodes, Wav(flipped, 0), true, Reason::Done, 0},
        {"decodes, 48 kHz", VerifyMode::Decodes, Wav(second48k, 0, 48000), true, Reason::Done, 0},
        {"decodes, 150 ms short", VerifyMode::Decodes, audio.substr(0, 4 * (44100 - 6615)), true, Reason::Done, 0},
        {"decodes, 250 ms short", VerifyMode::Decodes, audio.substr(0, 4 * (44100 - 11025)), true,
         Reason::VerifyTooShort, 0},
        {"decodes, 1 s long", VerifyMode::Decodes, audio + std::string(4 * 44100, '\0'), true, Reason::VerifyTooLong,
         0},
    };
    for (const Row &row : rows) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{43}, std::size_t{1} << 20}) {
            SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
            std::unique_ptr<encbridge::Verifier> v(new encbridge::Verifier());
            ASSERT_TRUE(encbridge::StartVerifier(*v, row.mode, wavPath.c_str(), nullptr));
            for (std::size_t at = 0;
                 at < row.stream.size() &&
                 encbridge::TakeDecoded(v.get(), row.stream.data() + at, std::min(piece, row.stream.size() - at));
                 at += piece) {
            }
            std::uint64_t sample = 99;
            EXPECT_EQ(encbridge::FinishVerifier(*v, row.exitedWithZero, sample), row.reason);
            if (row.mode == VerifyMode::Exact) {
                EXPECT_EQ(sample, row.sample);
            }
        }
    }
}

}  // namespace
