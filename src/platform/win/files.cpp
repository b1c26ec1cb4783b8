// Files, folders and moves: the names, the streams a track is written to,
// the finished files that encoders read, and the moves that publish them.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

#include "platform/format.h"
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

const char *CurrentFolderPrefix() { return ".\\"; }

// A drive and its root (C:\... or C:/...), or two separators first: a UNC
// path (\\server\share\...) or a device path (\\?\C:\..., \\.\...), which
// start at no folder either. "C:enc.exe" is not one: it starts at the
// current folder of drive C:, whatever that is for the host.
bool IsAbsoluteProgramPath(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    return (path[1] == ':' && IsPathSeparator(path[2])) || (IsPathSeparator(path[0]) && IsPathSeparator(path[1]));
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

namespace {

// The length of name as the file system keeps it: the trailing dots and
// blanks that Windows drops are set aside.
int StoredLength(const char *name) {
    std::size_t length = std::strlen(name);
    while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) --length;
    return length < kPathCapacity ? static_cast<int>(length) : -1;
}

}  // namespace

bool NamesAlike(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) return false;
    int lengthA = StoredLength(a);
    int lengthB = StoredLength(b);
    if (lengthA == 0 || lengthB == 0) return lengthA == lengthB;
    WCHAR wideA[kPathCapacity];
    WCHAR wideB[kPathCapacity];
    if (lengthA > 0) lengthA = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, a, lengthA, wideA, kPathCapacity);
    if (lengthB > 0) lengthB = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, b, lengthB, wideB, kPathCapacity);
    // Names that cannot be converted are told apart by their bytes.
    if (lengthA <= 0 || lengthB <= 0) return std::strcmp(a, b) == 0;
    // The comparison NTFS makes: by code unit, after upper-casing each.
    return CompareStringOrdinal(wideA, lengthA, wideB, lengthB, TRUE) == CSTR_EQUAL;
}

std::FILE *OpenTrackStream(const char *path, SystemError *error) {
    // CREATE_NEW fails on anything at the name, a link or junction
    // included, and the handle is not inheritable, whatever a child is
    // started with.
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        KeepError(error, static_cast<std::int32_t>(GetLastError()));
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool plain = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
                       info.nNumberOfLinks == 1 && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    const int fd = plain ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY) : -1;
    if (fd < 0) {
        KeepError(error, plain ? ERROR_TOO_MANY_OPEN_FILES : ERROR_INVALID_FUNCTION);
        CloseHandle(handle);
        if (plain) DeleteFileA(path);
        return nullptr;
    }
    std::FILE *file = _fdopen(fd, "w+b");
    if (file == nullptr) {
        KeepError(error, ERROR_NOT_ENOUGH_MEMORY);
        _close(fd);
        DeleteFileA(path);
    }
    return file;
}

std::FILE *OpenFinishedStream(const char *path, SystemError *error) {
    // The module's own guard holds the file with read and delete sharing.
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        KeepError(error, static_cast<std::int32_t>(GetLastError()));
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool plain = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    const int fd = plain ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY) : -1;
    if (fd < 0) {
        KeepError(error, plain ? ERROR_TOO_MANY_OPEN_FILES : ERROR_INVALID_FUNCTION);
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE *file = _fdopen(fd, "rb");
    if (file == nullptr) {
        KeepError(error, ERROR_NOT_ENOUGH_MEMORY);
        _close(fd);
    }
    return file;
}

std::size_t WriteTrackBytes(std::FILE *file, const void *bytes, std::size_t count, SystemError *error) {
    // The stream stays buffered, since the C runtime writes an unbuffered
    // stream's leftover bytes one call at a time; the flush makes a failed
    // write show in this call's error flag.
    SetLastError(ERROR_SUCCESS);
    std::size_t written = std::fwrite(bytes, 1, count, file);
    std::fflush(file);
    // WriteFile's own reason (a full disk), which the C runtime's errno
    // would only approximate.
    if (written < count || std::ferror(file)) {
        const DWORD reason = GetLastError();
        KeepError(error, static_cast<std::int32_t>(reason != ERROR_SUCCESS ? reason : ERROR_WRITE_FAULT));
    }
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

namespace {

// The handle of what lies at path, links and junctions not followed.
HANDLE OpenEntry(const char *path) {
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// True when the handle is that of a plain disk file with one name: not a
// link, a junction, a folder or a device. info gets what is known of it.
bool PlainFileWithOneName(HANDLE handle, BY_HANDLE_FILE_INFORMATION &info) {
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           info.nNumberOfLinks == 1 &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

}  // namespace

bool GuardFile(const char *path, FileGuard &guard, SystemError *error) {
    // Read access makes the sharing count: an open for writing, and one for
    // deleting (which a removal and a rename make), fails while this handle
    // lives; one for reading goes on.
    HANDLE handle =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        KeepError(error, static_cast<std::int32_t>(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!PlainFileWithOneName(handle, info)) {
        KeepError(error, ERROR_INVALID_PARAMETER);
        CloseHandle(handle);
        return false;
    }
    guard = {true, reinterpret_cast<std::intptr_t>(handle), 0};
    return true;
}

void ReleaseFile(FileGuard &guard) {
    if (!guard.held) return;
    CloseHandle(reinterpret_cast<HANDLE>(guard.handle));
    guard = {};
}

bool KeepGuardedFile(const char *path, FileGuard &guard, SystemError *error) {
    if (!guard.held) return true;
    // Nothing can have taken the file's name, but a check costs little.
    HANDLE named = OpenEntry(path);
    if (named == INVALID_HANDLE_VALUE) {
        KeepError(error, static_cast<std::int32_t>(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION one, other;
    const bool there = GetFileInformationByHandle(named, &one) &&
                       GetFileInformationByHandle(reinterpret_cast<HANDLE>(guard.handle), &other) &&
                       one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
                       one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
    CloseHandle(named);
    if (!there) KeepError(error, ERROR_ALREADY_EXISTS);
    return there;
}

bool GiveUnguardedMode(const char *, const FileGuard &, SystemError *) { return true; }

EntryKind InspectEntry(const char *path) {
    HANDLE handle = OpenEntry(path);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryKind::Missing : EntryKind::Other;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool plain = PlainFileWithOneName(handle, info);
    CloseHandle(handle);
    if (!plain) return EntryKind::Other;
    return info.nFileSizeHigh != 0 || info.nFileSizeLow != 0 ? EntryKind::PlainFile : EntryKind::EmptyPlainFile;
}

bool NameTaken(const SystemError &error) {
    return error.code == ERROR_ALREADY_EXISTS || error.code == ERROR_FILE_EXISTS;
}

bool SameFile(const char *a, const char *b) {
    HANDLE first = CreateFileA(a, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (first == INVALID_HANDLE_VALUE) return false;
    HANDLE second = CreateFileA(b, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION one, other;
    const bool same = second != INVALID_HANDLE_VALUE && GetFileInformationByHandle(first, &one) &&
                      GetFileInformationByHandle(second, &other) &&
                      one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
                      one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
    CloseHandle(first);
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    return same;
}

bool MakeFolder(const char *path, SystemError *error) {
    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        KeepError(error, static_cast<std::int32_t>(GetLastError()));
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        KeepError(error, static_cast<std::int32_t>(GetLastError()));
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
    KeepError(error, ERROR_ALREADY_EXISTS);  // something else has the folder's name
    return false;
}

bool IsOrdinaryName(const char *part, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(part[i])) && i + 1 < length) {
            ++i;  // a trail byte is never ':'
        } else if (part[i] == ':') {
            return false;
        }
    }
    // The name up to its first dot, without trailing blanks: "nul.flac"
    // and "COM1 " are devices too.
    std::size_t stem = 0;
    while (stem < length && part[stem] != '.') ++stem;
    while (stem > 0 && part[stem - 1] == ' ') --stem;
    char name[8] = {};
    if (stem < 3 || stem > 7) return true;
    for (std::size_t i = 0; i < stem; ++i) {
        const char c = part[i];
        name[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    // CONIN$ and CONOUT$ open the console's input and screen.
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : kDevices) {
        if (std::strcmp(name, device) == 0) return false;
    }
    if (stem != 4 || (std::strncmp(name, "COM", 3) != 0 && std::strncmp(name, "LPT", 3) != 0)) return true;
    // Windows takes the superscript digits for ports too: COM\xB9 is COM1 in
    // the code pages that have them, all at these bytes. Elsewhere the byte
    // is a letter that no one ends a port-like name with, and is refused too.
    const unsigned char digit = static_cast<unsigned char>(name[3]);
    return !((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

bool MakeFullPath(const char *path, char *out, std::size_t size) {
    if (size == 0 || size > MAXDWORD) return false;
    const DWORD length = GetFullPathNameA(path, static_cast<DWORD>(size), out, nullptr);
    return length > 0 && length < size;
}

namespace {

// Copies from into a new file at to, which must not exist yet, and has the
// copy on disk; from stays. Nothing is left at to when that fails, and the
// last error says why. MoveFileEx's own copy leaves the part it wrote under
// the final name when the disk fills up.
bool CopyToNewFile(const char *from, const char *to) {
    HANDLE source = CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE) return false;
    HANDLE target = CreateFileA(to, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
        const DWORD reason = GetLastError();
        CloseHandle(source);
        SetLastError(reason);
        return false;
    }
    char chunk[16384];
    bool copied = true;
    for (DWORD count = 0; copied;) {
        copied = ReadFile(source, chunk, sizeof chunk, &count, nullptr) != FALSE;
        if (!copied || count == 0) break;
        for (DWORD put = 0, written = 0; copied && put < count; put += written) {
            copied = WriteFile(target, chunk + put, count - put, &written, nullptr) != FALSE;
            // A full disk can take a part of a write and report success.
            if (copied && written == 0) {
                SetLastError(ERROR_DISK_FULL);
                copied = false;
            }
        }
    }
    copied = copied && FlushFileBuffers(target);
    const DWORD reason = GetLastError();
    CloseHandle(target);
    CloseHandle(source);
    if (!copied) {
        DeleteFileA(to);
        SetLastError(reason);
    }
    return copied;
}

}  // namespace

bool MoveFileNoReplace(const char *from, const char *to, SystemError *error, bool writeThrough, const char *copyName) {
    // MoveFileA's flags, without MOVEFILE_REPLACE_EXISTING, and without
    // MOVEFILE_COPY_ALLOWED: a copy is made below, under a name of its own.
    const DWORD flags = writeThrough ? MOVEFILE_WRITE_THROUGH : 0;
    if (MoveFileExA(from, to, flags)) return true;
    DWORD reason = GetLastError();
    if (reason == ERROR_NOT_SAME_DEVICE && copyName != nullptr) {
        if (CopyToNewFile(from, copyName)) {
            if (MoveFileExA(copyName, to, flags)) {
                DeleteFileA(from);
                return true;
            }
            reason = GetLastError();
            DeleteFileA(copyName);
        } else {
            reason = GetLastError();
        }
    }
    KeepError(error, static_cast<std::int32_t>(reason));
    return false;
}

bool SyncFile(const char *path, SystemError *error) {
    // Flushing needs write access; every sharing, so that a reader that
    // holds the file open (a virus scanner) does not make it fail.
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        KeepError(error, static_cast<std::int32_t>(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool synced = PlainFileWithOneName(handle, info);
    if (!synced) SetLastError(ERROR_INVALID_PARAMETER);
    synced = synced && FlushFileBuffers(handle);
    if (!synced) KeepError(error, static_cast<std::int32_t>(GetLastError()));
    CloseHandle(handle);
    return synced;
}

bool SyncFolder(const char *, SystemError *) { return true; }

bool RemoveFile(const char *path, SystemError *error) {
    if (DeleteFileA(path)) return true;
    KeepError(error, static_cast<std::int32_t>(GetLastError()));
    return false;
}

}  // namespace platform
}  // namespace encbridge
