#include "track_names.h"

#include <cstdio>
#include <cstring>

namespace host {

namespace {

const char *const kFields[] = {"number", "title", "performer", "album"};

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

bool CheckNamePattern(const std::string &pattern, std::string &error) {
    std::string bad;
    if (WalkPattern(
            pattern, [](const std::string &, bool) {}, &bad))
        return true;
    error = "--name: \"" + bad + "\" is not a field; use {number}, {title}, {performer} or {album}";
    return false;
}

std::string SafeFileName(const std::string &name) {
    std::string safe;
    for (char c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        bool refused = byte < 0x20 || byte == 0x7f || std::strchr("/\\:*?\"<>|", c) != nullptr;
        safe += refused ? '_' : c;
    }
    // Windows drops blanks and dots at the end of a name, and blanks at
    // either end are never what a user meant.
    std::size_t first = safe.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    safe.erase(0, first);
    while (!safe.empty() && (safe.back() == ' ' || safe.back() == '.')) safe.pop_back();
    return safe;
}

std::string MakeTrackName(const std::string &pattern, const NameFields &fields, std::size_t maxBytes) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", fields.number);
    std::string name;
    WalkPattern(
        pattern,
        [&](const std::string &text, bool isField) {
            if (!isField) {
                name += text;
            } else if (text == "number") {
                name += number;
            } else if (text == "title") {
                name += fields.title;
            } else if (text == "performer") {
                name += fields.performer;
            } else {
                name += fields.album;
            }
        },
        nullptr);
    name = SafeFileName(name);
    if (name.size() > maxBytes) {
        std::size_t cut = maxBytes;
        // Never leave half of a UTF-8 sequence: back up over continuation bytes.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name = SafeFileName(name.substr(0, cut));
    }
    if (name.empty()) name = std::string("Track ") + number;
    return name;
}

}  // namespace host
