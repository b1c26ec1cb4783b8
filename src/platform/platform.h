// The thin layer over the operating system. Everything above it is shared by
// both builds; src/platform/win and src/platform/posix implement it, and the
// build picks one of them.
#pragma once

#include <cstdint>
#include <cstdio>

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

// ---- Paths ---------------------------------------------------------------
// True when c is the first byte of a double-byte character of the code page
// in force, so that the byte after it is never a path separator.
bool IsLeadByte(unsigned char c);
// True when an encoder path from the settings is absolute and is to be taken
// as it stands: one with a drive part on Windows, one beginning with "/" on
// Linux.
bool IsAbsoluteProgramPath(const char *path);

// ---- Files ---------------------------------------------------------------
// Creates or truncates path and opens it as a buffered binary stream for
// writing and reading. The stream is never inherited by a child process.
std::FILE *OpenTrackStream(const char *path);
// True when path names an existing file that may serve as the encoder. On
// Windows: it opens for reading and writing as an existing file (so a missing,
// read-only or running program fails). On Linux: an existing regular file
// that we may read and execute.
bool EncoderFileUsable(const char *path);

// ---- Time --------------------------------------------------------------
void SleepMilliseconds(std::uint32_t milliseconds);

}  // namespace platform
}  // namespace encbridge
