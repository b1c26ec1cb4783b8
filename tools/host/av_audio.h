// An image in a format that libsndfile does not read (WavPack, APE, TTA,
// ALAC, MP3), decoded with libavformat and libavcodec into CD audio samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;

namespace host {

// The reason AvAudio::Open gives for a file in no format it reads.
constexpr const char *kNotReadHere = "it is in a format the host does not read";

class AvAudio {
public:
    AvAudio() = default;
    ~AvAudio();
    AvAudio(const AvAudio &) = delete;
    AvAudio &operator=(const AvAudio &) = delete;

    // Reads the image open at fd, which it then owns. False with the
    // decoder's words in reason when it is no audio the library reads, or a
    // codec other than those above; notCd says what it is when it is one of
    // them but not 44,100 Hz, 2 channel, 16 bit audio.
    bool Open(int fd, std::string &reason, std::string &notCd);
    std::int64_t frames() const { return frames_; }
    // As AudioFile::Read. Exact at any frame: a lossless image seeks to the
    // block that holds it and decodes from there; an MP3 decodes again from
    // its start to read before what it read last, as its seeks are not exact.
    std::int64_t Read(std::int64_t frame, std::int64_t count, std::uint8_t *out);
    // Why the last read stopped short: the decoder's words.
    const std::string &reason() const { return reason_; }

private:
    bool Start(std::string &reason);
    // Seeks to the block that holds frame; false when the library cannot,
    // or lands after it.
    bool Seek(std::int64_t frame);
    void Stop();
    // Decodes the next frame into pending_; false at the end or an error
    // (reason_ says which).
    bool Decode();

    int fd_ = -1;
    AVIOContext *io_ = nullptr;
    AVFormatContext *format_ = nullptr;
    AVCodecContext *codec_ = nullptr;
    AVPacket *packet_ = nullptr;
    AVFrame *frame_ = nullptr;
    int stream_ = -1;
    bool lossy_ = false;
    bool flushed_ = false;
    bool seeking_ = false;
    std::int64_t frames_ = 0;
    // pending_ holds decoded frames (interleaved samples) from pendingAt_ on.
    std::vector<std::int16_t> pending_;
    std::int64_t pendingAt_ = 0;
    std::string reason_;
};

}  // namespace host
