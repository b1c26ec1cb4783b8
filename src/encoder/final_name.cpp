#include "encoder/final_name.h"

#include "platform/format.h"
#include "platform/platform.h"
#include "wavfile/temp_names.h"

namespace encbridge {

namespace {

// The length of the part of text that begins at part and runs to the next
// separator or the end. A double-byte character's trail byte is no separator.
std::size_t PartLength(const char *part, std::size_t left) {
    std::size_t length = 0;
    while (length < left) {
        if (platform::IsLeadByte(static_cast<unsigned char>(part[length])) && length + 1 < left) {
            length += 2;
            continue;
        }
        if (platform::IsPathSeparator(part[length])) break;
        ++length;
    }
    return length;
}

bool OrdinaryPart(const char *part, std::size_t length) {
    if (length == 0) return false;
    if (part[0] == '.' && (length == 1 || (length == 2 && part[1] == '.'))) return false;
    return platform::IsOrdinaryName(part, length) && !StartsLikeATemporaryName(part, length);
}

// Whether every part of name, between separators, is an ordinary name.
bool OrdinaryParts(const char *name, std::size_t length) {
    for (std::size_t at = 0;;) {
        const std::size_t part = PartLength(name + at, length - at);
        if (!OrdinaryPart(name + at, part)) return false;
        at += part;
        if (at == length) return true;
        ++at;  // the separator
    }
}

}  // namespace

bool UsableFinalName(const TrackInfo &track, const char *extension) {
    const std::size_t extensionLength = BoundedLength(extension, 256);
    if (PartLength(extension, extensionLength) != extensionLength) return false;
    // The two together are cut to a path's length, as the final path itself is.
    PathBuffer name;
    FormatStatus status = FormatStatus::Failed;
    const std::size_t length =
        FormatText(name, sizeof name, "%s%s", {track.fileName, FormatArg(extension, 256)}, &status);
    if (status != FormatStatus::Complete) return false;
    return OrdinaryParts(name, length);
}

bool UsableJournalPath(const char *name, std::size_t width, const char *folder, std::size_t folderWidth,
                       // cppcheck-suppress constParameter ; the formatter writes the path into it
                       PathBuffer &path) {
    const std::size_t length = BoundedLength(name, width);
    if (length == 0 || length == width) return false;
    if (platform::IsAbsoluteProgramPath(name)) return FormatWhole(path, sizeof path, "%s", {FormatArg(name, width)});
    std::size_t last = length;
    while (last > 0 && !platform::IsPathSeparator(name[last - 1])) --last;
    return OrdinaryParts(name, length) && !IsAModuleFileName(name + last, length - last) &&
           FormatWhole(path, sizeof path, "%s%s", {FormatArg(folder, folderWidth), FormatArg(name, width)});
}

bool MakeFinalFolders(const char *folder, std::size_t folderWidth, const TrackInfo &track) {
    const std::size_t length = BoundedLength(track.fileName);
    PathBuffer path;
    for (std::size_t at = PartLength(track.fileName, length); at < length;
         at += 1 + PartLength(track.fileName + at + 1, length - at - 1)) {
        if (!FormatWhole(path, sizeof path, "%s%s", {FormatArg(folder, folderWidth), FormatArg(track.fileName, at)}) ||
            !platform::MakeFolder(path)) {
            return false;
        }
    }
    return true;
}

}  // namespace encbridge
