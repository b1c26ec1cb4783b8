// A CD image: the cue sheet (read with libcue) and the one audio file it
// names (read with libsndfile).
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// One CD sector holds 588 sample frames of 4 bytes each.
constexpr long kFramesPerSector = 588;
constexpr int kFrameBytes = 4;

struct ImageTrack {
    std::string title;
    std::string performer;
    std::string year;
    std::string comment;
    long startSector = 0;  // the track's INDEX 01
    // The track's audio in the image, in sample frames, end excluded: from its
    // INDEX 01 to the next track's INDEX 01 (or the end of the image).
    std::int64_t firstFrame = 0;
    std::int64_t endFrame = 0;
};

struct CueAlbum {
    std::string title;
    std::string performer;
    std::string year;
    std::string comment;
    std::string audioPath;  // the FILE of the cue sheet, found beside it
    std::string audioNote;  // set when another file than the one named is used
    std::vector<ImageTrack> tracks;
};

// Reads the cue sheet at path. False with a message in error when it cannot
// be read, is not a cue sheet, names no file or several files, or holds
// anything but audio tracks.
bool ReadCueSheet(const std::string &path, CueAlbum &album, std::string &error);

// Parses the text of a cue sheet; cueFolder (with its trailing "/") is where
// a relative FILE is looked for.
bool ParseCueText(const std::string &text, const std::string &cueFolder, const std::string &cueName, CueAlbum &album,
                  std::string &error);

// Gives every track its range of sample frames within an image of
// imageFrames frames. False when a track starts at or beyond the image's end.
bool PlaceTracks(CueAlbum &album, std::int64_t imageFrames, std::string &error);

// "mm:ss:ff" as cue sheets write positions, for messages.
std::string SectorTime(long sector);

// The audio file of the image, opened for reading: CD audio only.
class AudioImage {
public:
    AudioImage() = default;
    ~AudioImage();
    AudioImage(const AudioImage &) = delete;
    AudioImage &operator=(const AudioImage &) = delete;

    // False with a message in error when the file cannot be read or is not
    // 44,100 Hz, 2 channel, 16 bit audio in a WAV, FLAC or AIFF file.
    bool Open(const std::string &path, std::string &error);
    std::int64_t frames() const { return frames_; }
    // Reads count frames from frame on as little-endian 16-bit bytes into
    // out; returns the count of frames read.
    std::int64_t Read(std::int64_t frame, std::int64_t count, std::uint8_t *out);

private:
    SNDFILE *file_ = nullptr;
    std::int64_t frames_ = 0;
    std::int64_t position_ = 0;
    std::vector<short> samples_;
};

}  // namespace host
