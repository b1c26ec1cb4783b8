#include "platform/platform.h"
namespace encbridge {
namespace platform {
std::uint32_t ProfileString(const char *, const char *, const char *, char *out, std::uint32_t size, const char *) {
    if (size) out[0] = 0;
    return 0;
}
std::int32_t ProfileInt(const char *, const char *, std::int32_t fallback, const char *) { return fallback; }
}  // namespace platform
}  // namespace encbridge
