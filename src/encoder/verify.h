// Proving an output before it is published: its verify line decodes it to
// standard output, and what comes is compared, as it comes, with the audio
// of the track's finished WAV file, read in fixed chunks beside it. Nothing
// is held whole in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "encoder/command_line.h"
#include "records/outcome.h"
#include "settings/plugin_settings.h"
#include "wavfile/audio_stream.h"

namespace encbridge {

namespace platform {
struct SystemError;
}

// VERIFY=decodes: how far the decoded length may lie from the track's.
// Lossy encoders pad: an MP3 decoder that does not trim adds up to about
// 80 ms (the encoder's delay and a last frame), AAC and Opus less.
constexpr std::uint32_t kDecodesToleranceMilliseconds = 200;

struct Verifier {
    VerifyMode mode;
    std::FILE *wav;  // the track's finished WAV file
    AudioStream decoded;
    AudioStream original;
    std::uint64_t decodedBytes;   // of audio, from the verify line
    std::uint64_t originalBytes;  // of the track's audio, compared or passed
    bool differs;
    std::uint64_t firstDifference;  // its byte in the audio
    bool wavFailed;                 // the WAV file could not be read to its end
    bool wavEnded;
    // The WAV file's bytes, and the run of its audio not yet compared.
    std::uint8_t chunk[64 * 1024];
    std::size_t chunkAt;
    std::size_t chunkCount;
    const std::uint8_t *pending;
    std::size_t pendingCount;
};

// Opens the track's WAV file at wavPath for a verification in mode; false,
// with the system's reason in error, when it cannot be read.
bool StartVerifier(Verifier &verifier, VerifyMode mode, const char *wavPath, platform::SystemError *error);

// Takes the next piece of the verify line's standard output (as an
// OutputSink takes it; verifier is a Verifier): false once the rest can
// change nothing, and the line is then to be ended.
bool TakeDecoded(void *verifier, const char *bytes, std::size_t count);

// The verdict once the verify line has ended (exitedWithZero: with code
// 0; an exact verdict that TakeDecoded settled stands however the line
// ended): Reason::Done when the output is proven, else the reason, with the
// sample frame it is about (the first that differs, or the first that one
// side lacks) in sample. Closes the WAV file.
Reason FinishVerifier(Verifier &verifier, bool exitedWithZero, std::uint64_t &sample);

// Closes the WAV file of a verification that will not finish.
void AbandonVerifier(Verifier &verifier);

// Output's verify line for track index of album into line: its template
// with the usual tags, outputPath for %o%, behind the quoted program;
// batchFile says whether that runs through the command shell. Reason::Done
// when the line is complete: only such a line is ever run.
Reason BuildVerifyLine(const OutputSettings &output, const AlbumInfo &album, const RipTags &tags, std::int32_t index,
                       const PathBuffer &wavPath, const PathBuffer &outputPath, CommandBuffer &line, bool &batchFile);

// Proves the file at outputPath as an output of track index is proven
// before it is published: output's verify line decodes it, and what it
// writes is compared with the audio of the WAV file at wavPath. Waits until
// the line has ended. Reason::Done when it is proven; else the reason, with
// the sample frame it is about in sample.
Reason VerifyFile(const OutputSettings &output, const AlbumInfo &album, const RipTags &tags, std::int32_t index,
                  const PathBuffer &wavPath, const PathBuffer &outputPath, std::uint64_t &sample);

}  // namespace encbridge
