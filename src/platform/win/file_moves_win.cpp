#include <windows.h>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

bool MoveFileNoReplace(const char *from, const char *to) { return MoveFileA(from, to) != FALSE; }

bool RemoveFile(const char *path) { return DeleteFileA(path) != FALSE; }

}  // namespace platform
}  // namespace encbridge
