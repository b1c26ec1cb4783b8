// A CD image: its cue sheet (beside it, or inside a FLAC image), the audio
// files the sheet names (read with libsndfile), and where each track lies on
// the timeline those files make one after the other.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "av_audio.h"
#include "cue_sheet.h"
#include "host_options.h"

namespace host {

// Reads the cue sheet at path, or the one inside the FLAC image at path.
// charset as DecodeCueText takes it. Notices (a converted character set) are
// added to notes. False with a message in error when it cannot be read or
// is not a cue sheet.
bool ReadCueSheet(const std::string &path, const std::string &charset, CueAlbum &album, std::vector<std::string> &notes,
                  std::string &error);

// Whether a file of the album holds audio that is ripped: an index of an
// audio track stands under it. Files of data tracks alone are never opened.
bool FileHoldsAudio(const CueAlbum &album, int file);

// Where the file that a FILE line names is: file.path (separators mapped),
// then its last part beside the sheet, then either with another audio
// extension (an image converted since the sheet was written); each as it is
// written, then without regard to case. Empty when none is there; tried gets
// the paths looked for.
std::string FindAudioFile(const CueFile &file, const std::string &cueFolder, std::vector<std::string> &tried);

// Finds every file that holds audio, setting its path, and its note when the
// name differs from the sheet's. False with a message that lists the names
// tried when one is missing.
bool FindAudioFiles(CueAlbum &album, const std::string &cueName, std::string &error);

// One notice for the files that FindAudioFiles found under other names than
// the sheet's: the first one's, and how many more; empty when there are none.
std::string FoundElsewhereNote(const CueAlbum &album);

// Lays the album's files out one after the other, with the silence of
// PREGAP and POSTGAP lines where no file holds it, gives every audio track
// its range, sets lead to the audio before the first audio track, and keeps
// the audio tracks only. fileFrames has the length of each file in frames,
// or -1 for a file that holds no audio. gaps says to which track the audio
// between an audio track's first index and its INDEX 01 belongs (with the
// PREGAP silence before it), if to any. False when an index of an audio
// track lies beyond the end of its file, or a track holds no audio.
bool PlaceTracks(CueAlbum &album, const std::vector<std::int64_t> &fileFrames, std::string &error,
                 GapMode gaps = GapMode::Append);

// One audio file, opened for reading: CD audio only. libsndfile reads WAV,
// AIFF and FLAC, as it always has; libavformat and libavcodec read the rest.
class AudioFile {
public:
    AudioFile() = default;
    ~AudioFile();
    AudioFile(const AudioFile &) = delete;
    AudioFile &operator=(const AudioFile &) = delete;

    // False with a message in error when the file cannot be read or is not
    // 44,100 Hz, 2 channel, 16 bit audio in a file of kImageFormats.
    bool Open(const std::string &path, std::string &error);
    std::int64_t frames() const { return frames_; }
    // Reads count frames from frame on as little-endian 16-bit bytes into
    // out; returns the count of frames read.
    std::int64_t Read(std::int64_t frame, std::int64_t count, std::uint8_t *out);
    // Why a read stopped at frame: the file, the time reached and the
    // decoder's words.
    std::string Failure(std::int64_t frame) const;

private:
    // Reads fd with AvAudio, for a file that libsndfile does not take
    // (sndfileWords says why).
    bool OpenDecoded(int fd, const std::string &sndfileWords, std::string &error);

    std::string path_;
    SNDFILE *file_ = nullptr;
    std::unique_ptr<AvAudio> decoded_;
    std::int64_t frames_ = 0;
    std::int64_t position_ = 0;
    std::vector<short> samples_;
};

// The audio of an album: its files one after the other, as PlaceTracks laid
// them out, read as one.
class AudioImage {
public:
    // Opens every file of the album that holds audio (FindAudioFiles found
    // them). False with a message in error as AudioFile::Open gives it.
    bool Open(const CueAlbum &album, std::string &error);
    // The length of each file in frames; -1 for a file that was not opened.
    std::vector<std::int64_t> fileFrames() const;
    // The layout that PlaceTracks made.
    void SetTimeline(const std::vector<Stretch> &timeline);
    std::int64_t frames() const { return frames_; }
    // As AudioFile::Read, across files; silence reads as zero bytes.
    std::int64_t Read(std::int64_t frame, std::int64_t count, std::uint8_t *out);
    // After a Read that gave less than asked: AudioFile::Failure's words.
    const std::string &failure() const { return failure_; }

private:
    std::string failure_;
    std::vector<std::unique_ptr<AudioFile>> files_;
    std::vector<Stretch> timeline_;
    std::int64_t frames_ = 0;
};

// What becomes of the audio before the first track (album.lead): written as
// a track 0 at the front of album.tracks, joined to the first track, or
// dropped, as mode says; Auto writes it unless it is digital silence. note
// says what was done; it stays empty when there is no such audio. False when
// the image cannot be read.
bool PlaceFirstPregap(CueAlbum &album, AudioImage &image, FirstPregap mode, std::string &note, std::string &error);

}  // namespace host
