#include "track_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace host {

namespace {

const char *const kFields[] = {"number", "title", "performer", "album", "albumartist", "date", "genre", "disc"};

// The longest name of one folder or file that file systems take.
constexpr std::size_t kMaxPart = 255;

// name cut to at most bytes, never inside a UTF-8 sequence, and made safe
// again (a cut may leave a blank at the end).
std::string CutName(const std::string &name, std::size_t bytes) {
    if (name.size() <= bytes) return name;
    std::size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return SafeFileName(name.substr(0, cut));
}

// Calls visit(literal) for text outside fields and visit(field, true) for
// each "{field}". Returns false at the first unknown or unclosed field.
template <typename Visit>
bool WalkPattern(const std::string &pattern, Visit visit, std::string *bad) {
    std::size_t at = 0;
    while (at < pattern.size()) {
        std::size_t open = pattern.find('{', at);
        if (open == std::string::npos) {
            visit(pattern.substr(at), false);
            break;
        }
        visit(pattern.substr(at, open - at), false);
        std::size_t close = pattern.find('}', open);
        std::string field = pattern.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
        bool known = false;
        for (const char *name : kFields) known = known || field == name;
        if (close == std::string::npos || !known) {
            if (bad) *bad = pattern.substr(open, close == std::string::npos ? std::string::npos : close - open + 1);
            return false;
        }
        visit(field, true);
        at = close + 1;
    }
    return true;
}

}  // namespace

bool CheckNamePattern(const std::string &pattern, std::string &error, const char *option) {
    std::string bad;
    if (WalkPattern(
            pattern, [](const std::string &, bool) {}, &bad))
        return true;
    error = std::string(option) + ": \"" + bad +
            "\" is not a field; use {number}, {title}, {performer}, {album}, {albumartist}, {date}, {genre} or {disc}";
    return false;
}

std::string SafeFileName(const std::string &name) {
    std::string safe;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const auto byte = static_cast<unsigned char>(c);
        // C1 controls (U+0080 to U+009F, two bytes in UTF-8) drive a
        // terminal as C0 ones do, when a listing shows the name.
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next < 0xA0) {
            safe += '_';
            ++i;
            continue;
        }
        bool refused = byte < 0x20 || byte == 0x7f || std::strchr("/\\:*?\"<>|", c) != nullptr;
        safe += refused ? '_' : c;
    }
    // Windows drops blanks and dots at the end of a name, and blanks at
    // either end are never what a user meant.
    std::size_t first = safe.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    safe.erase(0, first);
    while (!safe.empty() && (safe.back() == ' ' || safe.back() == '.')) safe.pop_back();
    // The module's own files in the output folder (its temporary and kept
    // files, its lock) are the names that begin with "#": a title such as
    // "#temp(02)" keeps its track, and a leftover's name never names one.
    if (!safe.empty() && safe[0] == '#') safe[0] = '_';
    return safe;
}

namespace {

// The pattern with its fields filled in, split at the pattern's own "/":
// a value's "/" stays in its part.
std::vector<std::string> FilledParts(const std::string &pattern, const NameFields &fields) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", fields.number);
    const std::string *const values[] = {&fields.title, &fields.performer, &fields.album, &fields.albumArtist,
                                         &fields.date,  &fields.genre,     &fields.disc};
    std::vector<std::string> parts(1);
    WalkPattern(
        pattern,
        [&](const std::string &text, bool isField) {
            if (!isField) {
                for (char c : text) {
                    if (c == '/') {
                        parts.emplace_back();
                    } else {
                        parts.back() += c;
                    }
                }
                return;
            }
            if (text == "number") {
                parts.back() += number;
                return;
            }
            for (std::size_t i = 1; i < sizeof kFields / sizeof kFields[0]; ++i) {
                if (text == kFields[i]) parts.back() += *values[i - 1];
            }
        },
        nullptr);
    return parts;
}

}  // namespace

std::string MakeTrackName(const std::string &pattern, const NameFields &fields, std::size_t maxBytes,
                          std::size_t extensionBytes) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", fields.number);
    // Only the pattern's own "/" starts a part; a value's "/" is made "_"
    // with the rest of the part.
    const std::vector<std::string> parts = FilledParts(pattern, fields);
    std::string folders;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string part = CutName(SafeFileName(parts[i]), kMaxPart);
        if (!part.empty()) folders += part + "/";
    }
    // Folders that leave no room for a name are given up rather than the name.
    if (folders.size() >= maxBytes) folders.clear();
    const std::size_t room = std::min(maxBytes - folders.size(), kMaxPart - std::min(extensionBytes, kMaxPart));
    std::string name = CutName(SafeFileName(parts.back()), room);
    if (name.empty()) name = std::string("Track ") + number;
    return folders + name;
}

std::string MakeFolderPath(const std::string &pattern, const NameFields &fields) {
    std::string path;
    std::size_t at = 0;
    while (at != std::string::npos) {
        const std::size_t slash = pattern.find('/', at);
        std::string part = pattern.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? slash : slash + 1;
        // What the user wrote stands as written; a part made from the
        // sheet's texts is one safe folder name, or none.
        if (part.find('{') != std::string::npos) {
            part = CutName(SafeFileName(FilledParts(part, fields).front()), kMaxPart);
            if (part.empty()) continue;
        }
        path += part;
        if (at != std::string::npos) path += '/';
    }
    return path;
}

}  // namespace host
