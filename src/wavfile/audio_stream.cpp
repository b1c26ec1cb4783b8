#include "wavfile/audio_stream.h"

#include <cstring>

namespace encbridge {
namespace {

// Adds to the held header bytes until there are wanted of them: how many
// were taken.
std::size_t Hold(AudioStream &stream, std::uint32_t wanted, const std::uint8_t *bytes, std::size_t count) {
    std::size_t taken = wanted - stream.heldCount;
    if (taken > count) taken = count;
    std::memcpy(stream.held + stream.heldCount, bytes, taken);
    stream.heldCount += static_cast<std::uint32_t>(taken);
    return taken;
}

// The chunk whose 8-byte header is held.
void EnterChunk(AudioStream &stream) {
    const std::uint32_t size = ReadLittle32(stream.held + 4);
    stream.left = size;
    stream.pad = (size & 1u) != 0;
    stream.heldCount = 0;
    if (std::memcmp(stream.held, "data", 4) == 0) {
        stream.sawData = true;
        stream.toTheEnd = size == 0 || size == 0xFFFFFFFFu;
        stream.stage = AudioStream::Stage::Data;
    } else if (std::memcmp(stream.held, "fmt ", 4) == 0) {
        stream.formatCount = 0;
        stream.stage = AudioStream::Stage::Format;
    } else {
        stream.stage = AudioStream::Stage::SkipChunk;
    }
}

// A chunk has been read to its size: its pad byte, then the next chunk.
void LeaveChunk(AudioStream &stream) {
    if (stream.pad) {
        stream.pad = false;
        stream.left = 1;
        stream.stage = AudioStream::Stage::SkipChunk;
        return;
    }
    stream.stage = AudioStream::Stage::ChunkHeader;
}

}  // namespace

void StartAudioStream(AudioStream &stream) {
    std::memset(&stream, 0, sizeof stream);
    stream.stage = AudioStream::Stage::Start;
}

std::size_t ReadAudioStream(AudioStream &stream, const std::uint8_t *bytes, std::size_t count,
                            const std::uint8_t *&audio, std::size_t &audioCount) {
    using Stage = AudioStream::Stage;
    audio = bytes;
    audioCount = 0;
    std::size_t taken = 0;
    while (taken < count && audioCount == 0) {
        const std::uint8_t *at = bytes + taken;
        const std::size_t rest = count - taken;
        std::size_t part = rest < stream.left ? rest : static_cast<std::size_t>(stream.left);
        switch (stream.stage) {
            case Stage::Start:
                taken += Hold(stream, 4, at, rest);
                if (stream.heldCount < 4) break;
                if (std::memcmp(stream.held, "RIFF", 4) == 0) {
                    stream.stage = Stage::RiffHeader;
                } else {
                    // Raw PCM: its first bytes are audio too.
                    stream.stage = Stage::Raw;
                    audio = stream.held;
                    audioCount = 4;
                }
                break;
            case Stage::RiffHeader:
                taken += Hold(stream, 12, at, rest);
                if (stream.heldCount < 12) break;
                stream.heldCount = 0;
                stream.stage = std::memcmp(stream.held + 8, "WAVE", 4) == 0 ? Stage::ChunkHeader : Stage::NotWav;
                break;
            case Stage::ChunkHeader:
                taken += Hold(stream, 8, at, rest);
                if (stream.heldCount == 8) EnterChunk(stream);
                break;
            case Stage::Format:
                for (std::size_t i = 0; i < part && stream.formatCount < sizeof stream.format; ++i) {
                    stream.format[stream.formatCount++] = at[i];
                }
                [[fallthrough]];
            case Stage::SkipChunk:
                taken += part;
                stream.left -= part;
                if (stream.left == 0) LeaveChunk(stream);
                break;
            case Stage::Data:
                if (stream.toTheEnd) part = rest;
                audio = at;
                audioCount = part;
                taken += part;
                stream.left -= stream.toTheEnd ? 0 : part;
                // What follows the audio (a tag, a list) is no audio.
                if (!stream.toTheEnd && stream.left == 0) stream.stage = Stage::Trailer;
                break;
            case Stage::Raw:
                audio = at;
                audioCount = rest;
                taken = count;
                break;
            case Stage::Trailer:
            case Stage::NotWav:
                taken = count;
                break;
        }
    }
    return taken;
}

bool EndAudioStream(AudioStream &stream, const std::uint8_t *&audio, std::size_t &audioCount) {
    audio = stream.held;
    audioCount = 0;
    if (stream.stage == AudioStream::Stage::Start) {
        audioCount = stream.heldCount;
        stream.heldCount = 0;
        stream.stage = AudioStream::Stage::Raw;
        return true;
    }
    if (stream.stage == AudioStream::Stage::Raw) return true;
    return stream.stage != AudioStream::Stage::NotWav && stream.sawData;
}

std::uint32_t AudioFrameBytes(const AudioStream &stream) {
    if (stream.formatCount < 16) return 0;
    return static_cast<std::uint32_t>(stream.format[12]) | static_cast<std::uint32_t>(stream.format[13]) << 8;
}

std::uint32_t AudioFrameRate(const AudioStream &stream) {
    return stream.formatCount < 16 ? 0 : ReadLittle32(stream.format + 4);
}

}  // namespace encbridge
