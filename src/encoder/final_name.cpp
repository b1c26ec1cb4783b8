#include "encoder/final_name.h"

#include "interface/rip_state.h"
#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsLikeATemporaryName(const char *name) {
    static const char kPrefix[] = "#temp(";
    for (const char *p = kPrefix; *p != '\0'; ++p, ++name) {
        if (Lower(*name) != *p) return false;
    }
    if (*name < '0' || *name > '9') return false;
    while (*name >= '0' && *name <= '9') ++name;
    return *name == ')';
}

}  // namespace

bool UsableFinalName(const TrackInfo &track, const char *extension) {
    // The extension fits 255 characters; the two together are cut to a
    // path's length, as the final path itself is.
    PathBuffer name;
    FormatStatus status = FormatStatus::Failed;
    FormatText(name, sizeof name, "%s%s", {track.fileName, FormatArg(extension, 256)}, &status);
    if (status != FormatStatus::Complete) return false;
    for (const char *p = name; *p != '\0'; ++p) {
        // The trail byte of a double-byte character is no separator.
        if (platform::IsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
            ++p;
            continue;
        }
        if (platform::IsPathSeparator(*p)) return false;
    }
    return !StartsLikeATemporaryName(name);
}

}  // namespace encbridge
