#include <windows.h>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

bool MoveFileNoReplace(const char *from, const char *to, SystemError *error) {
    if (MoveFileA(from, to)) return true;
    KeepError(error, static_cast<std::int32_t>(GetLastError()));
    return false;
}

bool RemoveFile(const char *path, SystemError *error) {
    if (DeleteFileA(path)) return true;
    KeepError(error, static_cast<std::int32_t>(GetLastError()));
    return false;
}

}  // namespace platform
}  // namespace encbridge
