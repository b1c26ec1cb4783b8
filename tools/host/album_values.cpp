#include "album_values.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>

#include "encbridge/limits.h"
#include "encbridge/settings.h"

namespace host {

namespace {

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

void Key(std::string &text, const char *key, const std::string &value) {
    if (!value.empty()) text += std::string(key) + "=" + value + "\n";
}

}  // namespace

std::string FindCoverBeside(const std::string &folder, std::vector<std::string> &notes) {
    static const char *const kNames[] = {"cover", "folder", "front"};
    static const char *const kExtensions[] = {".jpg", ".jpeg", ".png"};
    std::vector<std::string> found(9);
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return std::string();
    for (const dirent *entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        const std::string name = Lower(entry->d_name);
        for (std::size_t n = 0; n < 3; ++n) {
            for (std::size_t e = 0; e < 3; ++e) {
                if (name == std::string(kNames[n]) + kExtensions[e] && found[n * 3 + e].empty())
                    found[n * 3 + e] = entry->d_name;
            }
        }
    }
    closedir(dir);
    char resolved[PATH_MAX];
    if (realpath(folder.empty() ? "." : folder.c_str(), resolved) == nullptr) return std::string();
    for (const std::string &name : found) {
        if (name.empty()) continue;
        std::string path = std::string(resolved) + (resolved[1] == '\0' ? "" : "/") + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        if (!S_ISREG(info.st_mode)) {
            notes.push_back(path + " is not a regular file (a link, a FIFO or a device); not used as the cover");
        } else if (info.st_size == 0 || info.st_size > kMaxCoverBytes) {
            notes.push_back(path + " is empty or larger than 16 MiB; not used as the cover");
        } else if (path.size() >= encbridge::kPathCapacity || !RefusedTagValue(path, path).empty()) {
            notes.push_back(path + ": its path is too long or holds a control character; not used as the cover");
        } else {
            return path;
        }
    }
    return std::string();
}

std::string AlbumSections(const CueAlbum &cue, const std::vector<ImageTrack> &tracks, const std::string &cover) {
    // The keys are the module's table: one it gains without a value here
    // fails the build.
    const struct {
        const std::string &disc, &discs, &genre, &catalog, &composer, &songwriter, &cover;
    } given{cue.disc, cue.discs, cue.genre, cue.catalog, cue.composer, cue.songwriter, cover};
    std::string album;
#define ENCBRIDGE_HOST_ALBUM_KEY(field, key, capacity) Key(album, key, given.field);
    ENCBRIDGE_ALBUM_TAG_KEYS(ENCBRIDGE_HOST_ALBUM_KEY)
#undef ENCBRIDGE_HOST_ALBUM_KEY
    std::string text = album.empty() ? std::string() : "\n[ALBUM]\n" + album;
    for (std::size_t i = 0; i < tracks.size() && i < static_cast<std::size_t>(encbridge::kMostTaggedTracks); ++i) {
        std::string track;
#define ENCBRIDGE_HOST_TRACK_KEY(field, key, capacity) Key(track, key, tracks[i].field);
        ENCBRIDGE_TRACK_TAG_KEYS(ENCBRIDGE_HOST_TRACK_KEY)
#undef ENCBRIDGE_HOST_TRACK_KEY
        if (track.empty()) continue;
        char section[16];
        std::snprintf(section, sizeof section, "[TRACK%02zu]\n", i + 1);
        text += (text.empty() ? "\n" : "") + std::string(section) + track;
    }
    return text;
}

}  // namespace host
