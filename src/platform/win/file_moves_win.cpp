#include <windows.h>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

bool MoveFileNoReplace(const char *from, const char *to) { return MoveFileA(from, to) != FALSE; }

bool RemoveFile(const char *path) { return DeleteFileA(path) != FALSE; }

bool FileHasContent(const char *path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &data) == FALSE) return false;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (data.nFileSizeHigh != 0 || data.nFileSizeLow != 0);
}

}  // namespace platform
}  // namespace encbridge
