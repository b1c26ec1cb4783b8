#include <windows.h>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

std::uint32_t ProfileString(const char *section, const char *key, const char *fallback, char *out, std::uint32_t size,
                            const char *path) {
    return GetPrivateProfileStringA(section, key, fallback, out, size, path);
}

std::int32_t ProfileInt(const char *section, const char *key, std::int32_t fallback, const char *path) {
    return static_cast<std::int32_t>(GetPrivateProfileIntA(section, key, fallback, path));
}

}  // namespace platform
}  // namespace encbridge
