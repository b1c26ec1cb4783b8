// Reading profile (settings) files as the system does.
// Part of the thin layer over the operating system (see platform.h).
#pragma once

#include <cstdint>

namespace encbridge {
namespace platform {

// ---- Profile files -------------------------------------------------------
// These behave as GetPrivateProfileStringA and GetPrivateProfileIntA do on
// Windows: a missing file, section or key yields the default; section and key
// names compare without regard to case; one pair of quotes around a value is
// removed; a value longer than size - 1 characters is cut and the buffer stays
// NUL-terminated. Returns the count of characters stored.
std::uint32_t ProfileString(const char *section, const char *key, const char *fallback, char *out, std::uint32_t size,
                            const char *path);
// Leading blanks, an optional sign, then decimal digits or "0x" and hex
// digits, up to the first other character; no digits give 0, an empty value
// or a missing key give the default. Wraps modulo 2^32.
std::int32_t ProfileInt(const char *section, const char *key, std::int32_t fallback, const char *path);

}  // namespace platform
}  // namespace encbridge
