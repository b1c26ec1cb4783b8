#include "cue_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host_paths.h"
#include "track_names.h"

namespace host {

namespace {

// A text as a cue sheet can hold it, quoted: a line break in a title must
// not start a line of its own.
std::string Quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += c == '"' ? '\'' : byte < 0x20 || byte == 0x7F ? ' ' : c;
    }
    return out + "\"";
}

// A REM value: without quotes when it is one word, as rippers write them.
std::string RemValue(const std::string &text) {
    const std::string quoted = Quoted(text);
    return quoted.find(' ') == std::string::npos ? quoted.substr(1, quoted.size() - 2) : quoted;
}

struct MadeFile {
    std::string name;
    std::int64_t first;
    std::int64_t end;
};

// The file that holds frame, or -1.
int FileHolding(const std::vector<MadeFile> &files, std::int64_t frame) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (frame >= files[i].first && frame < files[i].end) return static_cast<int>(i);
    }
    return -1;
}

std::string FileType(const std::string &extension) {
    if (extension == ".mp3") return "MP3";
    if (extension == ".aiff" || extension == ".aif") return "AIFF";
    return "WAVE";
}

}  // namespace

std::string SharedFolder(const std::vector<RipTrack> &tracks) {
    std::string shared;
    bool first = true;
    for (const RipTrack &track : tracks) {
        if (!track.selected) continue;
        const std::string folder = track.fileName.substr(0, track.fileName.rfind('/') + 1);
        if (first) shared = folder;
        first = false;
        // Up one folder at a time until this track's folder lies below it.
        while (folder.compare(0, shared.size(), shared) != 0) {
            const std::size_t up = shared.size() < 2 ? std::string::npos : shared.rfind('/', shared.size() - 2);
            shared = up == std::string::npos ? std::string() : shared.substr(0, up + 1);
        }
    }
    return shared;
}

std::string CueSheetText(const CueAlbum &cue, const std::vector<RipTrack> &tracks, const std::string &folder,
                         const std::string &extension) {
    std::vector<MadeFile> files;
    for (const RipTrack &track : tracks) {
        if (track.selected) {
            files.push_back(
                {track.fileName.substr(folder.size()) + extension, track.image.firstFrame, track.image.endFrame});
        }
    }
    std::string text;
    if (!cue.genre.empty()) text += "REM GENRE " + RemValue(cue.genre) + "\n";
    if (!cue.year.empty()) text += "REM DATE " + RemValue(cue.year) + "\n";
    if (!cue.disc.empty()) text += "REM DISCNUMBER " + RemValue(cue.disc) + "\n";
    if (!cue.discs.empty()) text += "REM TOTALDISCS " + RemValue(cue.discs) + "\n";
    if (!cue.comment.empty()) text += "REM COMMENT " + RemValue(cue.comment) + "\n";
    if (!cue.composer.empty()) text += "REM COMPOSER " + RemValue(cue.composer) + "\n";
    if (!cue.catalog.empty()) text += "CATALOG " + cue.catalog + "\n";
    if (!cue.performer.empty()) text += "PERFORMER " + Quoted(cue.performer) + "\n";
    if (!cue.songwriter.empty()) text += "SONGWRITER " + Quoted(cue.songwriter) + "\n";
    if (!cue.title.empty()) text += "TITLE " + Quoted(cue.title) + "\n";
    int current = -1;
    // Where frame lies in its file, as an index line; a new FILE line first
    // when it lies in another file than the line before.
    auto index = [&](int file, const char *number, std::int64_t frame) {
        if (file != current) {
            text += "FILE " + Quoted(files[static_cast<std::size_t>(file)].name) + " " + FileType(extension) + "\n";
            current = file;
        }
        text +=
            std::string("    INDEX ") + number + " " +
            SectorTime(static_cast<long>((frame - files[static_cast<std::size_t>(file)].first) / kFramesPerSector)) +
            "\n";
    };
    for (const RipTrack &track : tracks) {
        const ImageTrack &image = track.image;
        const int start = FileHolding(files, image.indexFrame);
        if (image.number == 0 || start < 0) continue;
        const bool gap = image.gapFrame < image.indexFrame;
        const int gapFile = gap ? FileHolding(files, image.gapFrame) : -1;
        const int first = gapFile >= 0 ? gapFile : start;
        if (first != current) {
            text += "FILE " + Quoted(files[static_cast<std::size_t>(first)].name) + " " + FileType(extension) + "\n";
            current = first;
        }
        char number[8];
        std::snprintf(number, sizeof number, "%02d", image.number);
        text += std::string("  TRACK ") + number + " AUDIO\n";
        const std::string flags = std::string(image.copyPermitted ? " DCP" : "") + (image.fourChannels ? " 4CH" : "") +
                                  (image.preEmphasis ? " PRE" : "");
        if (!flags.empty()) text += "    FLAGS" + flags + "\n";
        if (!image.isrc.empty()) text += "    ISRC " + image.isrc + "\n";
        if (!image.title.empty()) text += "    TITLE " + Quoted(image.title) + "\n";
        if (!image.performer.empty() && image.performer != cue.performer)
            text += "    PERFORMER " + Quoted(image.performer) + "\n";
        if (!image.songwriter.empty()) text += "    SONGWRITER " + Quoted(image.songwriter) + "\n";
        if (!image.composer.empty()) text += "    REM COMPOSER " + RemValue(image.composer) + "\n";
        if (!image.comment.empty() && image.comment != cue.comment)
            text += "    REM COMMENT " + RemValue(image.comment) + "\n";
        if (!image.year.empty() && image.year != cue.year) text += "    REM DATE " + RemValue(image.year) + "\n";
        if (gap && gapFile < 0) {
            text += "    PREGAP " +
                    SectorTime(static_cast<long>((image.indexFrame - image.gapFrame) / kFramesPerSector)) + "\n";
        } else if (gap) {
            index(gapFile, "00", image.gapFrame);
        }
        index(start, "01", image.indexFrame);
    }
    return text;
}

bool WriteCueSheet(const std::string &path, const std::string &text, bool replace, std::string &error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0644);
    if (fd < 0) {
        error = "the cue sheet " + path + " was not written: " +
                (errno == EEXIST ? std::string("it exists already (--overwrite replaces it)") : std::strerror(errno));
        return false;
    }
    const bool whole = WriteWhole(fd, text);
    const bool closed = close(fd) == 0;
    const bool ok = whole && closed;
    if (!ok) error = "the cue sheet " + path + " could not be written whole";
    return ok;
}

std::string RipCuePath(const std::string &albumName, const std::vector<RipTrack> &tracks,
                       const std::string &outputFolder) {
    NameFields fields;
    fields.album = albumName;
    const std::string name = albumName.empty() ? std::string("album") : MakeTrackName("{album}", fields, 250);
    return outputFolder + SharedFolder(tracks) + name + ".cue";
}

}  // namespace host
