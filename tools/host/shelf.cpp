#include "shelf.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "cue_image.h"
#include "journal_fields.h"

namespace host {

using encbridge_tools::Shown;

namespace {

bool EndsWith(const std::string &name, const char *extension) {
    const std::size_t size = std::char_traits<char>::length(extension);
    return name.size() > size && strcasecmp(name.c_str() + name.size() - size, extension) == 0;
}

// The same file, however it is named.
std::string Identity(const std::string &path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// The cue sheets and FLAC files in folder (and its subfolders), by name.
void ListFolder(const std::string &folder, bool recursive, std::vector<std::string> &sheets,
                std::vector<std::string> &images) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    for (const std::string &name : names) {
        const std::string path = prefix + name;
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            if (recursive) ListFolder(path, recursive, sheets, images);
        } else if (EndsWith(name, ".cue")) {
            sheets.push_back(path);
        } else if (EndsWith(name, ".flac")) {
            images.push_back(path);
        }
    }
}

}  // namespace

std::vector<ShelfAlbum> FindAlbums(const std::vector<std::string> &inputs, bool recursive, const std::string &charset) {
    std::vector<ShelfAlbum> albums;
    // The sheets and images taken already, and the images their sheets name.
    std::set<std::string> taken;
    for (const std::string &input : inputs) {
        struct stat info;
        if (stat(input.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            // A file is ripped as named; what is wrong with it, its rip says.
            if (taken.insert(Identity(input)).second) albums.push_back({input, input, ""});
            continue;
        }
        std::vector<std::string> sheets, images;
        ListFolder(input, recursive, sheets, images);
        std::size_t found = 0;
        for (const std::string &sheet : sheets) {
            if (!taken.insert(Identity(sheet)).second) continue;
            albums.push_back({sheet, input, ""});
            ++found;
            CueAlbum cue;
            std::vector<std::string> notes;
            std::string error;
            if (!ReadCueSheet(sheet, charset, cue, notes, error) || !FindAudioFiles(cue, sheet, error)) continue;
            for (const CueFile &file : cue.files) {
                if (!file.path.empty()) taken.insert(Identity(file.path));
            }
        }
        for (const std::string &image : images) {
            if (taken.count(Identity(image)) != 0) continue;
            // A FLAC file without a sheet inside is a track, not an album.
            CueAlbum cue;
            std::vector<std::string> notes;
            std::string error;
            if (!ReadCueSheet(image, charset, cue, notes, error)) continue;
            taken.insert(Identity(image));
            albums.push_back({image, input, ""});
            ++found;
        }
        if (found == 0) {
            albums.push_back({"", input,
                              std::string("no cue sheet and no FLAC image with a sheet inside") +
                                  (recursive ? "" : " (--recursive searches its subfolders)")});
        }
    }
    return albums;
}

void PrintShelfSummary(std::FILE *out, const std::vector<AlbumResult> &results, std::size_t notStarted) {
    std::size_t counts[5] = {0, 0, 0, 0, notStarted};
    for (const AlbumResult &result : results) ++counts[static_cast<int>(result.end)];
    std::fprintf(out, "\nShelf: %zu album(s): %zu done, %zu partly done, %zu failed", results.size() + notStarted,
                 counts[0], counts[1], counts[2]);
    if (counts[3] + counts[4] > 0) std::fprintf(out, ", %zu stopped, %zu not started", counts[3], counts[4]);
    std::fprintf(out, "\n");
    static const char *const kWords[] = {"done", "partly done", "failed", "stopped", "not started"};
    for (const AlbumResult &result : results) {
        if (result.end == AlbumEnd::Done) continue;
        std::fprintf(out, "  %s: %s: %s\n", kWords[static_cast<int>(result.end)], Shown(result.name).c_str(),
                     Shown(result.why).c_str());
    }
}

int ShelfStatus(const std::vector<int> &statuses) {
    int worst = 0;
    for (int status : statuses) {
        if (status == 1 || (status == 3 && worst == 0)) worst = status;
    }
    return worst;
}

}  // namespace host
