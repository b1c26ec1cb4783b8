#include "run_plan.h"

#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <wctype.h>

#include <map>

#include "code_pages.h"
#include "track_names.h"

namespace host {

namespace {

// The code point of the UTF-8 sequence at text[at], its length in bytes in
// length; -1 for a byte that starts none.
long DecodeAt(const std::string &text, std::size_t at, std::size_t &length) {
    const auto byte = static_cast<unsigned char>(text[at]);
    length = byte < 0x80 ? 1 : (byte & 0xE0) == 0xC0 ? 2 : (byte & 0xF0) == 0xE0 ? 3 : (byte & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || at + length > text.size()) {
        length = 1;
        return -1;
    }
    long code = length == 1 ? byte : byte & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            length = 1;
            return -1;
        }
        code = (code << 6) | (next & 0x3F);
    }
    return code;
}

struct Identity {
    dev_t device;
    ino_t inode;
    bool operator<(const Identity &other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

}  // namespace

std::string NameKey(const std::string &path) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    std::string key;
    for (std::size_t at = 0; at < path.size();) {
        std::size_t length = 1;
        const long code = DecodeAt(path, at, length);
        if (code < 0) {
            key += path[at];
        } else if (code < 0x80) {
            key += static_cast<char>(code >= 'A' && code <= 'Z' ? code + ('a' - 'A') : code);
        } else if (utf8 != static_cast<locale_t>(nullptr)) {
            AppendUtf8(key, static_cast<char32_t>(towlower_l(static_cast<wint_t>(code), utf8)));
        } else {
            key.append(path, at, length);
        }
        at += length;
    }
    return key;
}

std::vector<Clash> FindClashes(const std::vector<PlannedAlbum> &albums) {
    std::vector<Clash> clashes;
    // Each key's first album and its name for the file, and the pairs found
    // already.
    std::map<std::string, std::pair<std::size_t, std::string>> owner;
    std::map<std::pair<std::size_t, std::size_t>, bool> seen;
    for (std::size_t i = 0; i < albums.size(); ++i) {
        for (const std::string &output : albums[i].outputs) {
            const auto taken = owner.emplace(NameKey(output), std::make_pair(i, output));
            const std::size_t first = taken.first->second.first;
            if (taken.second || first == i || !seen.emplace(std::make_pair(first, i), true).second) continue;
            clashes.push_back({first, i, taken.first->second.second});
        }
    }
    return clashes;
}

bool FindOutputRead(const std::vector<PlannedAlbum> &albums, std::size_t &album, std::string &output) {
    std::map<Identity, bool> read;
    struct stat info;
    for (const PlannedAlbum &each : albums) {
        for (const std::string &input : each.inputs) {
            if (stat(input.c_str(), &info) == 0) read[{info.st_dev, info.st_ino}] = true;
        }
    }
    for (std::size_t i = 0; i < albums.size(); ++i) {
        for (const std::string &path : albums[i].outputs) {
            // The output's own name: the host removes or moves that name,
            // whatever it leads to.
            if (lstat(path.c_str(), &info) == 0 && read.count({info.st_dev, info.st_ino}) != 0) {
                album = i;
                output = path;
                return true;
            }
        }
    }
    return false;
}

std::string AlbumNameFromFile(const std::string &sheetPath) {
    const std::size_t slash = sheetPath.rfind('/');
    std::string name = sheetPath.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    name = SafeFileName(name);
    if (!name.empty()) return name;
    char resolved[PATH_MAX];
    std::string folder = slash == std::string::npos ? "." : sheetPath.substr(0, slash + 1);
    if (realpath(folder.c_str(), resolved) == nullptr) return std::string();
    folder = resolved;
    return SafeFileName(folder.substr(folder.rfind('/') + 1));
}

}  // namespace host
