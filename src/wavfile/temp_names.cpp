#include "wavfile/temp_names.h"

#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Enough for a folder full of kept copies; a name beyond them stays.
constexpr int kMostKeptCopies = 9999;

}  // namespace

// cppcheck-suppress constParameter ; the formatter writes the name into base
bool FormTempBase(PathBuffer &base, const char *folder, std::size_t folderWidth, int number) {
    return FormatWhole(base, sizeof base, "%s%s(%02d)", {FormatArg(folder, folderWidth), "#temp", number});
}

// cppcheck-suppress constParameter ; the formatter writes the name into name
bool FormCopyName(PathBuffer &name, const char *finalPath, int number, const char *extension,
                  std::size_t extensionWidth, std::size_t &folderLength) {
    folderLength = 0;
    for (std::size_t i = 0; finalPath[i] != '\0'; ++i) {
        if (platform::IsLeadByte(static_cast<unsigned char>(finalPath[i])) && finalPath[i + 1] != '\0') {
            ++i;  // a trail byte is no separator
        } else if (platform::IsPathSeparator(finalPath[i])) {
            folderLength = i + 1;
        }
    }
    return FormatWhole(name, sizeof name, "%s%s(%02d)-copy%s",
                       {FormatArg(finalPath, folderLength), "#temp", number, FormatArg(extension, extensionWidth)});
}

bool StartsLikeATemporaryName(const char *name, std::size_t length) {
    static const char kPrefix[] = "#temp(";
    std::size_t i = 0;
    for (; kPrefix[i] != '\0'; ++i) {
        if (i >= length || Lower(name[i]) != kPrefix[i]) return false;
    }
    if (i >= length || name[i] < '0' || name[i] > '9') return false;
    while (i < length && name[i] >= '0' && name[i] <= '9') ++i;
    return i < length && name[i] == ')';
}

bool IsAModuleFileName(const char *name, std::size_t length) {
    if (StartsLikeATemporaryName(name, length)) return true;
    // The kept copies, and the lock file, in any case.
    for (const char *prefix : {"#kept(", kLockFileName}) {
        std::size_t i = 0;
        while (i < length && prefix[i] != '\0' && Lower(name[i]) == prefix[i]) ++i;
        if (prefix[i] == '\0') return true;
    }
    return false;
}

bool ReadKeptName(const char *name, std::size_t length, int &number, std::size_t &extensionAt) {
    static const char kKept[] = "#kept(";
    std::size_t i = 0;
    for (; kKept[i] != '\0'; ++i) {
        if (i >= length || name[i] != kKept[i]) return false;
    }
    // At least two digits, as "%02d" writes them; a few more than a track
    // list holds are still read, without overflowing.
    int digits = 0;
    number = 0;
    for (; i < length && name[i] >= '0' && name[i] <= '9' && digits < 6; ++i, ++digits) {
        number = number * 10 + (name[i] - '0');
    }
    if (digits < 2 || i + 1 >= length || name[i] != ')' || name[i + 1] != '-') return false;
    i += 2;
    digits = 0;
    for (; i < length && name[i] >= '0' && name[i] <= '9' && digits < 5; ++i) ++digits;
    if (digits == 0 || (i < length && name[i] >= '0' && name[i] <= '9')) return false;
    extensionAt = i;
    return true;
}

bool ClearTheWay(const char *path, const char *folder, std::size_t folderWidth, int number, const char *extension,
                 std::size_t extensionWidth, platform::SystemError *error) {
    switch (platform::InspectEntry(path)) {
        case platform::EntryKind::Missing:
            return true;
        case platform::EntryKind::EmptyPlainFile:
            // Holds nothing that could be lost; gone, or gone meanwhile.
            return platform::RemoveFile(path, error) || platform::InspectEntry(path) == platform::EntryKind::Missing;
        case platform::EntryKind::PlainFile:
        case platform::EntryKind::Other:
            break;
    }
    PathBuffer kept;
    for (int copy = 1; copy <= kMostKeptCopies; ++copy) {
        if (!FormatWhole(kept, sizeof kept, "%s#kept(%02d)-%d%s",
                         {FormatArg(folder, folderWidth), number, copy, FormatArg(extension, extensionWidth)})) {
            return false;
        }
        if (platform::InspectEntry(kept) != platform::EntryKind::Missing) continue;
        // Fails rather than replaces, should the name be taken meanwhile.
        return platform::MoveFileNoReplace(path, kept, error);
    }
    return false;
}

bool ClearTheLockName(const char *lockPath, const char *folder, std::size_t folderWidth, platform::SystemError *error) {
    return ClearTheWay(lockPath, folder, folderWidth, 0, ".lock", sizeof ".lock", error);
}

}  // namespace encbridge
