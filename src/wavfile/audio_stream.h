// The audio of a stream that comes in pieces of any size: a WAV stream
// (one that starts with "RIFF"), whose "data" chunk is the audio, or
// anything else, which is raw PCM from its first byte. Decoders that cannot
// seek write a data size of 0 or 0xFFFFFFFF: the audio then runs to the
// stream's end. Nothing is held but a few header bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace encbridge {

// The 32-bit little-endian number at bytes, as RIFF writes its sizes.
inline std::uint32_t ReadLittle32(const std::uint8_t *bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

struct AudioStream {
    enum class Stage : std::uint8_t { Start, RiffHeader, ChunkHeader, Format, SkipChunk, Data, Raw, Trailer, NotWav };
    Stage stage;
    std::uint8_t held[12];  // the header bytes read so far
    std::uint32_t heldCount;
    std::uint64_t left;  // of the current chunk
    bool pad;            // the current chunk's size is odd: one byte follows it
    bool toTheEnd;       // the data chunk's size says nothing
    bool sawData;
    std::uint8_t format[16];  // the start of the "fmt " chunk
    std::uint32_t formatCount;
};

void StartAudioStream(AudioStream &stream);

// Reads bytes (count of them) up to the end of the next run of audio:
// returns how many it took, with that run (which may lie in stream's own
// header bytes) in audio and audioCount, 0 when none. Call again with the
// rest until it is all taken.
std::size_t ReadAudioStream(AudioStream &stream, const std::uint8_t *bytes, std::size_t count,
                            const std::uint8_t *&audio, std::size_t &audioCount);

// At the stream's end: the audio still held (a raw stream of fewer than four
// bytes) in audio and audioCount. False when the stream was no audio: a
// WAV stream without a "data" chunk, or whose header is broken or cut.
bool EndAudioStream(AudioStream &stream, const std::uint8_t *&audio, std::size_t &audioCount);

// The bytes of one sample frame and the frames a second, as the "fmt "
// chunk gives them; 0 when the stream gave none.
std::uint32_t AudioFrameBytes(const AudioStream &stream);
std::uint32_t AudioFrameRate(const AudioStream &stream);

}  // namespace encbridge
