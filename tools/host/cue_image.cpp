#include "cue_image.h"

#include <libcue.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace host {

namespace {

// Cue sheets have no way to write a double quote inside a quoted text;
// some tools write it as \", which libcue keeps as it stands.
std::string Text(const char *value) {
    std::string text = value ? value : "";
    for (std::size_t at = text.find("\\\""); at != std::string::npos; at = text.find("\\\"", at + 1)) {
        text.erase(at, 1);
    }
    return text;
}

bool IsFile(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// What libcue prints on standard error while it parses: its only account of
// what is wrong with a cue sheet.
class CaptureStderr {
public:
    CaptureStderr() {
        std::fflush(stderr);
        file_ = std::tmpfile();
        saved_ = dup(2);
        if (file_ && saved_ >= 0) dup2(fileno(file_), 2);
    }
    ~CaptureStderr() { Release(); }
    std::string Release() {
        std::string text;
        if (saved_ < 0) return text;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
        if (file_) {
            std::rewind(file_);
            char chunk[512];
            std::size_t count;
            while ((count = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, count);
            std::fclose(file_);
            file_ = nullptr;
        }
        return text;
    }

private:
    std::FILE *file_ = nullptr;
    int saved_ = -1;
};

// libcue's complaints: the scanner's first (a character that has no place in
// a cue sheet) tells most; the parser's line numbers are not reliable, so
// only its words are kept.
std::string Summary(const std::string &complaints) {
    std::istringstream lines(complaints);
    std::string line, parser, scanner;
    while (std::getline(lines, line)) {
        std::size_t colon = line.find(": ");
        bool numbered = colon != std::string::npos && colon > 0 && line.find_first_not_of("0123456789") == colon;
        if (numbered && parser.empty()) {
            parser = line.substr(colon + 2);
        } else if (!numbered && scanner.empty() && !line.empty()) {
            scanner = line;
        }
    }
    if (!scanner.empty()) return scanner;
    return parser.empty() ? "no track could be read from it" : parser;
}

std::string Unquote(std::string value) {
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
}

// libcue knows no REM COMMENT: the album's comment stands before the first
// TRACK line, a track's after its own.
void ReadComments(const std::string &text, CueAlbum &album) {
    std::istringstream lines(text);
    std::string line;
    int track = 0;
    while (std::getline(lines, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) continue;
        line.erase(0, start);
        if (line.compare(0, 6, "TRACK ") == 0) {
            ++track;
        } else if (line.compare(0, 12, "REM COMMENT ") == 0) {
            std::string comment = Unquote(line.substr(12));
            if (track == 0) {
                album.comment = comment;
            } else if (track <= static_cast<int>(album.tracks.size())) {
                album.tracks[track - 1].comment = comment;
            }
        }
    }
}

// Images are often stored in another form than their cue sheet names: a
// sheet that names album.wav beside album.flac still finds its audio.
std::string FindAudio(const std::string &named, std::string &note) {
    if (IsFile(named)) return named;
    std::size_t slash = named.rfind('/');
    std::size_t dot = named.rfind('.');
    std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? named.substr(0, dot) : named;
    for (const char *extension : {".flac", ".wav", ".aiff", ".aif"}) {
        if (stem + extension != named && IsFile(stem + extension)) {
            note = "the cue sheet names " + named + "; using " + stem + extension;
            return stem + extension;
        }
    }
    return named;
}

}  // namespace

std::string SectorTime(long sector) {
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", sector / (75 * 60), sector / 75 % 60, sector % 75);
    return text;
}

bool ParseCueText(const std::string &original, const std::string &cueFolder, const std::string &cueName,
                  CueAlbum &album, std::string &error) {
    album = CueAlbum();
    std::string text = original;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // a UTF-8 byte order mark
    if (text.empty() || text.back() != '\n') text += '\n';

    CaptureStderr capture;
    Cd *cd = cue_parse_string(text.c_str());
    std::string complaints = capture.Release();
    if (cd == nullptr) {
        error = cueName + " is not a valid cue sheet: " + Summary(complaints);
        return false;
    }
    int count = cd_get_ntrack(cd);
    if (count <= 0) {
        cd_delete(cd);
        error = cueName + " lists no tracks";
        return false;
    }

    Cdtext *discText = cd_get_cdtext(cd);
    album.title = Text(cdtext_get(PTI_TITLE, discText));
    album.performer = Text(cdtext_get(PTI_PERFORMER, discText));
    album.year = Text(rem_get(REM_DATE, cd_get_rem(cd)));
    std::string file;
    for (int number = 1; number <= count; ++number) {
        Track *track = cd_get_track(cd, number);
        const char *name = track ? track_get_filename(track) : nullptr;
        std::string where = "track " + std::to_string(number) + " of " + cueName;
        if (name == nullptr) {
            error = where + " belongs to no FILE";
        } else if (!file.empty() && file != name) {
            error = cueName + " names more than one audio file (" + file + ", " + name +
                    "); only an image in one file can be ripped";
        } else if (track_get_mode(track) != MODE_AUDIO) {
            error = where + " is a data track; only CD audio can be ripped";
        } else if (track_get_index(track, 1) < 0) {
            error = where + " has no INDEX 01";
        } else if (!album.tracks.empty() && track_get_index(track, 1) <= album.tracks.back().startSector) {
            error = where + " starts at " + SectorTime(track_get_index(track, 1)) + ", not after the track before it";
        }
        if (!error.empty()) {
            cd_delete(cd);
            return false;
        }
        file = name;
        ImageTrack entry;
        Cdtext *trackText = track_get_cdtext(track);
        entry.title = Text(cdtext_get(PTI_TITLE, trackText));
        entry.performer = Text(cdtext_get(PTI_PERFORMER, trackText));
        if (entry.performer.empty()) entry.performer = album.performer;
        entry.year = Text(rem_get(REM_DATE, track_get_rem(track)));
        if (entry.year.empty()) entry.year = album.year;
        entry.startSector = track_get_index(track, 1);
        album.tracks.push_back(entry);
    }
    cd_delete(cd);

    ReadComments(text, album);
    for (ImageTrack &track : album.tracks) {
        if (track.comment.empty()) track.comment = album.comment;
    }
    std::string named = !file.empty() && file[0] == '/' ? file : cueFolder + file;
    album.audioPath = FindAudio(named, album.audioNote);
    return true;
}

bool ReadCueSheet(const std::string &path, CueAlbum &album, std::string &error) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        error = "no cue sheet at " + path;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!S_ISREG(info.st_mode) || !in) {
        error = "cannot read the cue sheet " + path;
        return false;
    }
    std::stringstream content;
    content << in.rdbuf();
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return ParseCueText(content.str(), folder, path, album, error);
}

bool PlaceTracks(CueAlbum &album, std::int64_t imageFrames, std::string &error) {
    for (std::size_t i = 0; i < album.tracks.size(); ++i) {
        ImageTrack &track = album.tracks[i];
        track.firstFrame = static_cast<std::int64_t>(track.startSector) * kFramesPerSector;
        if (track.firstFrame >= imageFrames) {
            error = "track " + std::to_string(i + 1) + " starts at " + SectorTime(track.startSector) +
                    ", but the image ends at " + SectorTime(static_cast<long>(imageFrames / kFramesPerSector));
            return false;
        }
        track.endFrame = i + 1 < album.tracks.size()
                             ? static_cast<std::int64_t>(album.tracks[i + 1].startSector) * kFramesPerSector
                             : imageFrames;
        if (track.endFrame > imageFrames) track.endFrame = imageFrames;
    }
    return true;
}

AudioImage::~AudioImage() {
    if (file_) sf_close(file_);
}

bool AudioImage::Open(const std::string &path, std::string &error) {
    if (!IsFile(path)) {
        error = "there is no image at " + path;
        return false;
    }
    SF_INFO info = {};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr) {
        error = "cannot read the image " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64 && major != SF_FORMAT_W64 &&
        major != SF_FORMAT_FLAC && major != SF_FORMAT_AIFF) {
        SF_FORMAT_INFO name = {};
        name.format = major;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &name, sizeof name);
        error = "the image " + path + " is " + (name.name ? name.name : "of an unknown kind") +
                "; it must be a WAV, FLAC or AIFF file";
        return false;
    }
    int subtype = info.format & SF_FORMAT_SUBMASK;
    if (info.samplerate != 44100 || info.channels != 2 || subtype != SF_FORMAT_PCM_16) {
        SF_FORMAT_INFO name = {};
        name.format = subtype;
        sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &name, sizeof name);
        error = "the image " + path + " is not CD audio: " + std::to_string(info.samplerate) + " Hz, " +
                std::to_string(info.channels) + " channel(s), " + (name.name ? name.name : "unknown sample format") +
                "; CD audio is 44,100 Hz, 2 channels, 16 bits";
        return false;
    }
    frames_ = info.frames;
    return true;
}

std::int64_t AudioImage::Read(std::int64_t frame, std::int64_t count, std::uint8_t *out) {
    if (frame != position_) {
        if (sf_seek(file_, frame, SEEK_SET) < 0) return 0;
        position_ = frame;
    }
    samples_.resize(static_cast<std::size_t>(count) * 2);
    sf_count_t read = sf_readf_short(file_, samples_.data(), count);
    if (read < 0) read = 0;
    position_ += read;
    for (sf_count_t i = 0; i < read * 2; ++i) {
        auto sample = static_cast<std::uint16_t>(samples_[static_cast<std::size_t>(i)]);
        out[2 * i] = static_cast<std::uint8_t>(sample & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(sample >> 8);
    }
    return read;
}

}  // namespace host
