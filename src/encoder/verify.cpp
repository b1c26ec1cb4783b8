#include "encoder/verify.h"

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace encbridge {
namespace {

// The next run of the track's audio into pending: false once the WAV file
// has no more.
bool NextOriginal(Verifier &v) {
    while (v.pendingCount == 0) {
        if (v.chunkAt == v.chunkCount) {
            if (v.wavEnded) return false;
            v.chunkAt = 0;
            v.chunkCount = std::fread(v.chunk, 1, sizeof v.chunk, v.wav);
            if (v.chunkCount == 0) {
                v.wavEnded = true;
                v.wavFailed = std::ferror(v.wav) != 0 || !EndAudioStream(v.original, v.pending, v.pendingCount);
                continue;
            }
        }
        v.chunkAt +=
            ReadAudioStream(v.original, v.chunk + v.chunkAt, v.chunkCount - v.chunkAt, v.pending, v.pendingCount);
    }
    return true;
}

// Compares a run of decoded audio with as much of the track's.
void Compare(Verifier &v, const std::uint8_t *audio, std::size_t count) {
    while (count > 0) {
        if (v.pendingCount == 0 && !NextOriginal(v)) {
            v.decodedBytes += count;  // beyond the track's end
            return;
        }
        const std::size_t part = count < v.pendingCount ? count : v.pendingCount;
        if (v.mode == VerifyMode::Exact && !v.differs && std::memcmp(audio, v.pending, part) != 0) {
            std::size_t at = 0;
            while (audio[at] == v.pending[at]) ++at;
            v.differs = true;
            v.firstDifference = v.decodedBytes + at;
        }
        audio += part;
        count -= part;
        v.pending += part;
        v.pendingCount -= part;
        v.decodedBytes += part;
        v.originalBytes += part;
    }
}

// Milliseconds of frames at rate, for the decodes bound.
std::uint64_t Milliseconds(std::uint64_t frames, std::uint32_t rate) { return frames * 1000u / rate; }

Reason DecodesVerdict(const Verifier &v, std::uint32_t frameBytes, std::uint64_t &sample) {
    // A raw stream is taken to be in the track's format.
    std::uint32_t decodedFrame = AudioFrameBytes(v.decoded);
    std::uint32_t decodedRate = AudioFrameRate(v.decoded);
    std::uint32_t rate = AudioFrameRate(v.original);
    if (rate == 0) rate = 44100;
    if (decodedFrame == 0 || decodedRate == 0) {
        decodedFrame = frameBytes;
        decodedRate = rate;
    }
    sample = v.decodedBytes / decodedFrame;
    const std::uint64_t decoded = Milliseconds(sample, decodedRate);
    const std::uint64_t track = Milliseconds(v.originalBytes / frameBytes, rate);
    if (v.decodedBytes == 0 || decoded + kDecodesToleranceMilliseconds < track) return Reason::VerifyTooShort;
    if (decoded > track + kDecodesToleranceMilliseconds) return Reason::VerifyTooLong;
    return Reason::Done;
}

std::uint32_t TrackFrameBytes(const Verifier &v) {
    const std::uint32_t frameBytes = AudioFrameBytes(v.original);
    return frameBytes != 0 ? frameBytes : 4;  // 16-bit stereo, as the default header
}

// Whether what came already decides the verdict, whatever may follow: in
// exact mode a difference or audio past the track, in decodes mode more
// audio than the bound allows past the whole track.
bool Settled(const Verifier &v) {
    if (v.mode == VerifyMode::Exact) return v.differs || v.decodedBytes > v.originalBytes;
    std::uint64_t sample = 0;
    return v.wavEnded && DecodesVerdict(v, TrackFrameBytes(v), sample) == Reason::VerifyTooLong;
}

}  // namespace

bool StartVerifier(Verifier &verifier, VerifyMode mode, const char *wavPath, platform::SystemError *error) {
    std::memset(static_cast<void *>(&verifier), 0, sizeof verifier);
    verifier.mode = mode;
    StartAudioStream(verifier.decoded);
    StartAudioStream(verifier.original);
    verifier.wav = platform::OpenFinishedStream(wavPath, error);
    return verifier.wav != nullptr;
}

bool TakeDecoded(void *verifier, const char *bytes, std::size_t count) {
    Verifier &v = *static_cast<Verifier *>(verifier);
    const std::uint8_t *at = reinterpret_cast<const std::uint8_t *>(bytes);
    while (count > 0) {
        const std::uint8_t *audio = nullptr;
        std::size_t audioCount = 0;
        const std::size_t taken = ReadAudioStream(v.decoded, at, count, audio, audioCount);
        Compare(v, audio, audioCount);
        at += taken;
        count -= taken;
    }
    return !Settled(v) && !v.wavFailed && v.decoded.stage != AudioStream::Stage::NotWav;
}

Reason FinishVerifier(Verifier &v, bool exitedWithZero, std::uint64_t &sample) {
    // A line that wrote nothing at all decoded nothing: it is the line that
    // failed (one that writes its audio to a file, say), not the output that
    // is short.
    const bool wroteNothing = v.decoded.stage == AudioStream::Stage::Start && v.decoded.heldCount == 0;
    const std::uint8_t *audio = nullptr;
    std::size_t audioCount = 0;
    const bool decodedIsAudio = EndAudioStream(v.decoded, audio, audioCount) && !wroteNothing;
    Compare(v, audio, audioCount);
    // The rest of the track's audio counts for its length.
    while (!v.differs && NextOriginal(v)) {
        v.originalBytes += v.pendingCount;
        v.pendingCount = 0;
    }
    AbandonVerifier(v);
    const std::uint32_t frameBytes = TrackFrameBytes(v);
    sample = 0;
    if (!decodedIsAudio || v.wavFailed) return Reason::VerifyFailed;
    // A settled verdict ended the line where it was settled: how the line
    // ended then says nothing.
    if (!exitedWithZero && !Settled(v)) return Reason::VerifyFailed;
    if (v.mode == VerifyMode::Decodes) return DecodesVerdict(v, frameBytes, sample);
    if (v.differs) {
        sample = v.firstDifference / frameBytes;
        return Reason::VerifyMismatch;
    }
    if (v.decodedBytes == v.originalBytes) return Reason::Done;
    sample = (v.decodedBytes < v.originalBytes ? v.decodedBytes : v.originalBytes) / frameBytes;
    return v.decodedBytes < v.originalBytes ? Reason::VerifyTooShort : Reason::VerifyTooLong;
}

void AbandonVerifier(Verifier &verifier) {
    // Read only: closing it can lose nothing.
    if (verifier.wav != nullptr) static_cast<void>(std::fclose(verifier.wav));
    verifier.wav = nullptr;
}

Reason BuildVerifyLine(const OutputSettings &output, const AlbumInfo &album, const RipTags &tags, std::int32_t index,
                       const PathBuffer &wavPath, const PathBuffer &outputPath, CommandBuffer &line, bool &batchFile) {
    batchFile = platform::RunsThroughCommandShell(output.verifyPath);
    if (!FormatWhole(line, sizeof line, "%s", {output.verifyTemplate})) return Reason::CommandCut;
    const CommandStatus status =
        BuildCommandLine(output.verifyPath, batchFile ? CommandStyle::BatchFile : CommandStyle::Arguments, line,
                         wavPath, outputPath, album, tags, index);
    if (status == CommandStatus::Complete) return Reason::Done;
    return status == CommandStatus::Cut ? Reason::CommandCut : Reason::ValueUnsafe;
}

Reason VerifyFile(const OutputSettings &output, const AlbumInfo &album, const RipTags &tags, std::int32_t index,
                  const PathBuffer &wavPath, const PathBuffer &outputPath, std::uint64_t &sample) {
    sample = 0;
    CommandBuffer line;
    bool batchFile = false;
    const Reason built = BuildVerifyLine(output, album, tags, index, wavPath, outputPath, line, batchFile);
    if (built != Reason::Done) return built;
    Verifier *verifier = new (std::nothrow) Verifier;
    if (verifier == nullptr) return Reason::VerifyFailed;
    Reason verdict = Reason::VerifyFailed;
    if (StartVerifier(*verifier, output.verify, wavPath, nullptr)) {
        const platform::OutputSink sink = {TakeDecoded, verifier};
        platform::Process *process = platform::StartProcess(line, batchFile, output.hideWindow, nullptr, &sink);
        if (process != nullptr) {
            while (platform::WaitForAny(&process, 1, nullptr, 0, platform::kWaitForever) != 0) {
            }
            std::uint32_t code = 1;
            const bool zero = platform::ProcessExitCode(process, &code) && code == 0;
            platform::CloseProcess(process);
            verdict = FinishVerifier(*verifier, zero, sample);
        }
        AbandonVerifier(*verifier);
    }
    delete verifier;
    return verdict;
}

}  // namespace encbridge
