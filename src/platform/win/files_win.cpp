#include <windows.h>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAbsoluteProgramPath(const char *path) { return path != nullptr && path[0] != '\0' && path[1] == ':'; }

std::FILE *OpenTrackStream(const char *path) {
    // "N": the stream's handle is not inheritable, whatever a child is started with.
    return std::fopen(path, "w+bN");
}

std::size_t WriteTrackBytes(std::FILE *file, const void *bytes, std::size_t count) {
    // The stream stays buffered, since the C runtime writes an unbuffered
    // stream's leftover bytes one call at a time; the flush makes a failed
    // write show in this call's error flag.
    std::size_t written = std::fwrite(bytes, 1, count, file);
    std::fflush(file);
    return written;
}

bool EncoderFileUsable(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    // Opening for writing too refuses a read-only program and one that is
    // running; nothing is written, so the file stays exactly as it was.
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

void SleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
}  // namespace encbridge
