#include "av_audio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cue_sheet.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace host {

namespace {

constexpr int kIoBytes = 64 * 1024;
// Further ahead than this, a lossless image seeks rather than decodes.
constexpr std::int64_t kSeekFrames = 10 * 44100;

// The library's last error, as it logged it: more telling than its error
// code alone. The host decodes on one thread at a time.
thread_local std::string lastWords;

void KeepWords(void *, int level, const char *format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    lastWords = line;
    while (!lastWords.empty() && (lastWords.back() == '\n' || lastWords.back() == ' ')) lastWords.pop_back();
}

std::string Words(int code) {
    if (lastWords.rfind("Format not on whitelist", 0) == 0) return kNotReadHere;
    if (!lastWords.empty()) return lastWords;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int ReadBytes(void *opaque, std::uint8_t *buffer, int size) {
    const int fd = *static_cast<int *>(opaque);
    ssize_t got;
    do {
        got = read(fd, buffer, static_cast<std::size_t>(size));
    } while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<int>(got) : got == 0 ? AVERROR_EOF : AVERROR(errno);
}

std::int64_t SeekBytes(void *opaque, std::int64_t offset, int whence) {
    const int fd = *static_cast<int *>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat info;
        return fstat(fd, &info) == 0 ? info.st_size : -1;
    }
    return lseek(fd, offset, whence & ~AVSEEK_FORCE);
}

// The codecs read, and whether they keep the samples exact.
bool Readable(AVCodecID codec, bool &lossy) {
    lossy = codec == AV_CODEC_ID_MP3;
    return lossy || codec == AV_CODEC_ID_WAVPACK || codec == AV_CODEC_ID_APE || codec == AV_CODEC_ID_TTA ||
           codec == AV_CODEC_ID_ALAC;
}

bool CdSamples(AVSampleFormat format, bool lossy) {
    if (format == AV_SAMPLE_FMT_S16 || format == AV_SAMPLE_FMT_S16P) return true;
    return lossy && (format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP);
}

std::int16_t FromFloat(float sample) {
    return static_cast<std::int16_t>(std::min(32767L, std::max(-32768L, std::lrintf(sample * 32768.0f))));
}

}  // namespace

AvAudio::~AvAudio() {
    Stop();
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    if (fd_ >= 0) close(fd_);
}

void AvAudio::Stop() {
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    if (io_ != nullptr) av_freep(&io_->buffer);
    avio_context_free(&io_);
}

bool AvAudio::Start(std::string &reason) {
    Stop();
    pending_.clear();
    pendingAt_ = 0;
    flushed_ = false;
    seeking_ = false;
    lastWords.clear();
    auto *buffer = static_cast<std::uint8_t *>(av_malloc(kIoBytes));
    io_ = buffer ? avio_alloc_context(buffer, kIoBytes, 0, &fd_, ReadBytes, nullptr, SeekBytes) : nullptr;
    format_ = avformat_alloc_context();
    if (io_ == nullptr || format_ == nullptr || lseek(fd_, 0, SEEK_SET) != 0) {
        if (io_ == nullptr) av_free(buffer);
        reason = "out of memory, or the file cannot be read from its start";
        return false;
    }
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Only these formats' readers run; none of them may open another file
    // or address that the image names.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", "wv,ape,tta,mov,mp3", 0);
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    int code = avformat_open_input(&format_, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (code < 0 || (code = avformat_find_stream_info(format_, nullptr)) < 0) {
        reason = Words(code);
        return false;
    }
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream_ < 0) {
        reason = "it holds no audio";
        return false;
    }
    const AVCodecParameters *parameters = format_->streams[stream_]->codecpar;
    if (!Readable(parameters->codec_id, lossy_)) {
        reason = std::string("it holds ") + avcodec_get_name(parameters->codec_id) + " audio";
        return false;
    }
    const AVCodec *decoder = avcodec_find_decoder(parameters->codec_id);
    codec_ = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (codec_ == nullptr || (code = avcodec_parameters_to_context(codec_, parameters)) < 0 ||
        (codec_->thread_count = 1, code = avcodec_open2(codec_, decoder, nullptr)) < 0) {
        reason = codec_ == nullptr ? "no decoder for it" : Words(code);
        return false;
    }
    for (AVStream *const *other = format_->streams; other != format_->streams + format_->nb_streams; ++other) {
        if ((*other)->index != stream_) (*other)->discard = AVDISCARD_ALL;
    }
    return true;
}

bool AvAudio::Open(int fd, std::string &reason, std::string &notCd) {
    fd_ = fd;
    av_log_set_callback(KeepWords);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (packet_ == nullptr || frame_ == nullptr) {
        reason = "out of memory";
        return false;
    }
    if (!Start(reason)) return false;
    const int channels = codec_->ch_layout.nb_channels;
    if (codec_->sample_rate != 44100 || channels != 2 || !CdSamples(codec_->sample_fmt, lossy_)) {
        const int bits = codec_->bits_per_raw_sample > 0 ? codec_->bits_per_raw_sample
                                                         : av_get_bytes_per_sample(codec_->sample_fmt) * 8;
        notCd = std::to_string(codec_->sample_rate) + " Hz, " + std::to_string(channels) + " channel(s), " +
                std::to_string(bits) + " bit " + codec_->codec->long_name;
        return false;
    }
    const AVStream *stream = format_->streams[stream_];
    // A lossless image's header gives its length, as a FLAC image's does, so
    // that an image cut short shows where it breaks; an MP3's length is only
    // known once it is decoded, with the encoder's delay and padding dropped
    // as the library finds them.
    if (!lossy_ && stream->duration > 0 && stream->duration != AV_NOPTS_VALUE) {
        frames_ = av_rescale_q(stream->duration, stream->time_base, AVRational{1, 44100});
        return true;
    }
    frames_ = 0;
    while (Decode()) {
    }
    frames_ = pendingAt_;
    if (!reason_.empty()) {
        reason = reason_;
        return false;
    }
    return Start(reason);
}

bool AvAudio::Decode() {
    pendingAt_ += static_cast<std::int64_t>(pending_.size() / 2);
    pending_.clear();
    for (;;) {
        int code = avcodec_receive_frame(codec_, frame_);
        if (code == 0) {
            const int count = frame_->nb_samples;
            if (frame_->sample_rate != 44100 || frame_->ch_layout.nb_channels != 2 ||
                frame_->format != codec_->sample_fmt) {
                reason_ = "its audio changes to " + std::to_string(frame_->sample_rate) + " Hz, " +
                          std::to_string(frame_->ch_layout.nb_channels) + " channel(s) after " +
                          SectorTime(static_cast<long>(pendingAt_ / kFramesPerSector));
                av_frame_unref(frame_);
                return false;
            }
            pending_.resize(static_cast<std::size_t>(count) * 2);
            for (int i = 0; i < count * 2; ++i) {
                const int channel = i % 2, at = i / 2;
                std::int16_t sample = 0;
                switch (frame_->format) {
                    case AV_SAMPLE_FMT_S16:
                        sample = reinterpret_cast<const std::int16_t *>(frame_->data[0])[i];
                        break;
                    case AV_SAMPLE_FMT_S16P:
                        sample = reinterpret_cast<const std::int16_t *>(frame_->data[channel])[at];
                        break;
                    case AV_SAMPLE_FMT_FLT:
                        sample = FromFloat(reinterpret_cast<const float *>(frame_->data[0])[i]);
                        break;
                    default:
                        sample = FromFloat(reinterpret_cast<const float *>(frame_->data[channel])[at]);
                        break;
                }
                pending_[static_cast<std::size_t>(i)] = sample;
            }
            const std::int64_t stamp = frame_->best_effort_timestamp;
            av_frame_unref(frame_);
            if (seeking_) {
                // Where a seek landed: a lossless format's stamps count its
                // samples exactly.
                seeking_ = false;
                if (stamp == AV_NOPTS_VALUE) return false;
                pendingAt_ = av_rescale_q(stamp, format_->streams[stream_]->time_base, AVRational{1, 44100});
            }
            if (count > 0) return true;
            continue;
        }
        if (code == AVERROR_EOF) return false;
        if (code != AVERROR(EAGAIN)) {
            reason_ = Words(code);
            return false;
        }
        if (flushed_) return false;
        lastWords.clear();
        code = av_read_frame(format_, packet_);
        if (code == AVERROR_EOF) {
            flushed_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (code < 0) {
            reason_ = Words(code);
            return false;
        }
        if (packet_->stream_index == stream_) code = avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
        if (code < 0) {
            reason_ = Words(code);
            return false;
        }
    }
}

bool AvAudio::Seek(std::int64_t frame) {
    const AVStream *stream = format_->streams[stream_];
    const std::int64_t stamp = av_rescale_q(frame, AVRational{1, 44100}, stream->time_base);
    if (av_seek_frame(format_, stream_, stamp, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(codec_);
    pending_.clear();
    flushed_ = false;
    seeking_ = true;
    return Decode() && pendingAt_ <= frame;
}

std::int64_t AvAudio::Read(std::int64_t frame, std::int64_t count, std::uint8_t *out) {
    reason_.clear();
    // A lossless image seeks to the block that holds frame, when frame is
    // before what was decoded or far after it; an MP3's seeks are not exact,
    // nor is one that lands elsewhere: they decode again from the start.
    const std::int64_t decoded = pendingAt_ + static_cast<std::int64_t>(pending_.size() / 2);
    const bool behind = frame < pendingAt_;
    if (!lossy_ && (behind || frame > decoded + kSeekFrames)) {
        if (!Seek(frame) && !Start(reason_)) return 0;
        reason_.clear();
    } else if (behind && !Start(reason_)) {
        return 0;
    }
    count = std::min(count, frames_ - frame);
    std::int64_t read = 0;
    while (read < count) {
        const std::int64_t at = frame + read;
        const std::int64_t end = pendingAt_ + static_cast<std::int64_t>(pending_.size() / 2);
        if (at >= end) {
            if (!Decode()) break;
            continue;
        }
        const std::int64_t take = std::min(count - read, end - at);
        const std::int16_t *from = pending_.data() + (at - pendingAt_) * 2;
        std::uint8_t *to = out + read * kFrameBytes;
        for (std::int64_t i = 0; i < take * 2; ++i) {
            const auto sample = static_cast<std::uint16_t>(from[i]);
            to[2 * i] = static_cast<std::uint8_t>(sample & 0xFF);
            to[2 * i + 1] = static_cast<std::uint8_t>(sample >> 8);
        }
        read += take;
    }
    return read;
}

}  // namespace host
