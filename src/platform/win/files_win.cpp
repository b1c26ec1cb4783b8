#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

std::size_t CharacterLength(const char *text, std::size_t remaining) {
    if (!IsDBCSLeadByte(static_cast<BYTE>(text[0]))) return 1;
    if (remaining < 2 || text[1] == '\0') return 0;
    // The pair must be a character of the code page: some conversions take
    // a lead byte with any byte after it, others leave the second one alone.
    WCHAR wide[2];
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, 2, wide, 2) == 1 ? 2 : 0;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// A drive (C:\...), or two separators first: a UNC path (\\server\share\...)
// or a device path (\\?\C:\..., \\.\...), which start at no folder either.
bool IsAbsoluteProgramPath(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    return path[1] == ':' || (IsPathSeparator(path[0]) && IsPathSeparator(path[1]));
}

bool RunsThroughCommandShell(const char *programPath) {
    if (programPath == nullptr) return false;
    std::size_t length = std::strlen(programPath);
    while (length > 0 && (programPath[length - 1] == '.' || programPath[length - 1] == ' ')) --length;
    if (length < 4) return false;
    char extension[5] = {};
    for (std::size_t i = 0; i < 4; ++i) {
        const char c = programPath[length - 4 + i];
        extension[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return std::strcmp(extension, ".bat") == 0 || std::strcmp(extension, ".cmd") == 0;
}

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
    // Read access only, and every kind of sharing: a program under
    // C:\Program Files (which a standard user may not write) and one that is
    // running (which the system holds open without write sharing) are both
    // found. A folder does not open this way; a device or a pipe does, and is
    // no program.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool onDisk = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    return onDisk;
}

void SleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
}  // namespace encbridge
