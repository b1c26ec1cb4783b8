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

// Where the last part of name (length bytes) begins: after its last
// separator, or 0. A double-byte character's trail byte is no separator.
std::size_t LastPartStart(const char *name, std::size_t length) {
    std::size_t last = 0;
    for (std::size_t at = PartLength(name, length); at < length; at += 1 + PartLength(name + at + 1, length - at - 1)) {
        last = at + 1;
    }
    return last;
}

// Whether the first lengths of a and b name one folder; an empty one is
// the current folder.
bool SameFolder(const char *a, std::size_t aLength, const char *b, std::size_t bLength) {
    PathBuffer first, second;
    return FormatWhole(first, sizeof first, "%s", {FormatArg(aLength > 0 ? a : ".", aLength > 0 ? aLength : 2)}) &&
           FormatWhole(second, sizeof second, "%s", {FormatArg(bLength > 0 ? b : ".", bLength > 0 ? bLength : 2)}) &&
           platform::SameFile(first, second);
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
                       PathBuffer &path, std::size_t &folderLength) {
    const std::size_t length = BoundedLength(name, width);
    if (length == 0 || length == width) return false;
    const std::size_t last = LastPartStart(name, length);
    if (IsAModuleFileName(name + last, length - last)) return false;
    if (platform::IsAbsoluteProgramPath(name)) {
        folderLength = last;
        return FormatWhole(path, sizeof path, "%s", {FormatArg(name, width)});
    }
    folderLength = BoundedLength(folder, folderWidth);
    return OrdinaryParts(name, length) &&
           FormatWhole(path, sizeof path, "%s%s", {FormatArg(folder, folderWidth), FormatArg(name, width)});
}

bool IsAFinalPath(const PathBuffer &path, const AlbumInfo &album, const PluginSettings &settings) {
    const std::size_t last = LastPartStart(path, BoundedLength(path));
    for (std::int32_t track = 0; track < album.trackCount; ++track) {
        for (std::int32_t output = 0; output < settings.outputCount; ++output) {
            const char *extension = settings.outputs[output].outputExtension;
            PathBuffer final;
            if (!UsableFinalName(album.tracks[track], extension) ||
                !FormatWhole(final, sizeof final, "%s%s%s",
                             {album.outputFolder, album.tracks[track].fileName, FormatArg(extension, 256)})) {
                continue;
            }
            const std::size_t finalLast = LastPartStart(final, BoundedLength(final));
            if (platform::NamesAlike(path + last, final + finalLast) && SameFolder(path, last, final, finalLast)) {
                return true;
            }
        }
    }
    return false;
}

bool MakeFinalFolders(const char *folder, std::size_t folderWidth, const TrackInfo &track,
                      platform::SystemError *error) {
    const std::size_t length = BoundedLength(track.fileName);
    PathBuffer path;
    for (std::size_t at = PartLength(track.fileName, length); at < length;
         at += 1 + PartLength(track.fileName + at + 1, length - at - 1)) {
        if (!FormatWhole(path, sizeof path, "%s%s", {FormatArg(folder, folderWidth), FormatArg(track.fileName, at)}) ||
            !platform::MakeFolder(path, error)) {
            return false;
        }
    }
    return true;
}

bool SyncFinalFolders(const char *folder, std::size_t folderWidth, const TrackInfo &track,
                      platform::SystemError *error) {
    const std::size_t folderLength = BoundedLength(folder, folderWidth);
    PathBuffer path;
    // From the last separator of the name back to none: the output folder,
    // or the current folder when the prefix is empty.
    for (std::size_t at = LastPartStart(track.fileName, BoundedLength(track.fileName));;) {
        const std::size_t cut = at > 0 ? at - 1 : 0;
        if (!FormatWhole(path, sizeof path, "%s%s",
                         {FormatArg(folderLength > 0 || cut > 0 ? folder : ".", folderLength > 0 ? folderWidth : 2),
                          FormatArg(track.fileName, cut)}) ||
            !platform::SyncFolder(path, error)) {
            return false;
        }
        if (at == 0) return true;
        at = LastPartStart(track.fileName, cut);
    }
}

}  // namespace encbridge
