// The output folder's lock and the journal: files that several rips, of
// this process and of others, share.
#include <windows.h>

#include <cstring>
#include <new>

#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {
namespace platform {

struct FolderLock {
    HANDLE handle;
};

FolderLock *LockFolder(const char *path, LockRefusal &refusal, SystemError *error) {
    refusal = LockRefusal::FolderNotWritable;
    KeepError(error, 0);
    // A folder, a link or a junction, a file with several names: no lock,
    // and never opened with delete-on-close, which would remove it.
    if (InspectEntry(path) == EntryKind::Other) {
        refusal = LockRefusal::NotALock;
        return nullptr;
    }
    FolderLock *lock = new (std::nothrow) FolderLock;
    if (lock == nullptr) {
        KeepError(error, ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // No sharing: a second open, by anyone, fails while this one lasts. The
    // file goes when the handle is closed, by us or with the process.
    lock->handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD writeError = GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (lock->handle != INVALID_HANDLE_VALUE &&
        (GetFileType(lock->handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(lock->handle, &info) ||
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        CloseHandle(lock->handle);
        lock->handle = INVALID_HANDLE_VALUE;
        refusal = LockRefusal::NotALock;
    } else if (lock->handle == INVALID_HANDLE_VALUE) {
        KeepError(error, static_cast<std::int32_t>(writeError));
        // Only a live process holds a file open: the system closes a
        // killed one's handles, and so removes its lock file.
        if (writeError == ERROR_SHARING_VIOLATION) {
            refusal = LockRefusal::HeldElsewhere;
        } else if (writeError == ERROR_PATH_NOT_FOUND || writeError == ERROR_FILE_NOT_FOUND) {
            refusal = LockRefusal::FolderMissing;
        } else if (InspectEntry(path) != EntryKind::Missing) {
            refusal = LockRefusal::NotALock;
        }
    }
    if (lock->handle == INVALID_HANDLE_VALUE) {
        delete lock;
        return nullptr;
    }
    return lock;
}

void UnlockFolder(FolderLock *lock) {
    if (lock == nullptr) return;
    CloseHandle(lock->handle);
    delete lock;
}

// Windows has no fork; the record goes without closing the handle, which
// would remove the file.
void ForgetFolderLock(FolderLock *lock) { delete lock; }

struct JournalFile {
    HANDLE handle;
    // The last wait for the lock ran out: a writer that holds it for long
    // is not waited for again, so that the rip loses at most one wait.
    bool contended;
};

namespace {

// True when the attributes are a folder's and no reparse point's.
bool RealFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Opens the folder part of path that ends at length, as itself: a link or
// junction is not followed. No delete sharing: it cannot be renamed, nor a
// link put in its place, while the handle lasts. Null unless it is a
// folder that is no reparse point by every way of asking: the handle's
// information and the attributes of the name. wine opens a folder link's
// target even when asked for the link itself, and only the name's
// attributes tell the link.
HANDLE OpenRealFolder(const char *path, std::size_t length) {
    PathBuffer part;
    if (!FormatWhole(part, sizeof part, "%s", {FormatArg(path, length)})) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE folder = CreateFileA(part, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (folder != INVALID_HANDLE_VALUE &&
        (!GetFileInformationByHandle(folder, &info) || !RealFolder(info.dwFileAttributes) ||
         !RealFolder(GetFileAttributesA(part)))) {
        CloseHandle(folder);
        SetLastError(ERROR_DIRECTORY);
        folder = INVALID_HANDLE_VALUE;
    }
    return folder;
}

}  // namespace

JournalFile *OpenJournal(const char *path, std::size_t folderLength, bool create, SystemError *error) {
    // Each part below the folder, held open as a real folder until the
    // journal is open, so that none can lead elsewhere meanwhile.
    HANDLE folders[kPathCapacity / 2];
    std::size_t held = 0;
    bool real = true;
    const std::size_t length = std::strlen(path);
    for (std::size_t at = folderLength; at < length && real; ++at) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[at])) && at + 1 < length) {
            ++at;
        } else if (IsPathSeparator(path[at])) {
            const HANDLE folder = held < kPathCapacity / 2 ? OpenRealFolder(path, at) : INVALID_HANDLE_VALUE;
            real = folder != INVALID_HANDLE_VALUE;
            if (real) folders[held++] = folder;
        }
    }
    // A link or junction is opened as itself and then refused, never
    // followed; other processes may read and append meanwhile. Read too,
    // for the last byte.
    HANDLE handle =
        real ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)
             : INVALID_HANDLE_VALUE;
    // A part that is no real folder left its reason (or, for a link or a
    // file in a folder's place, ERROR_DIRECTORY) as the last error.
    const DWORD opened = GetLastError();
    while (held > 0) CloseHandle(folders[--held]);
    if (handle == INVALID_HANDLE_VALUE) {
        KeepError(error, static_cast<std::int32_t>(opened));
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool plain = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
                       info.nNumberOfLinks == 1 &&
                       (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    JournalFile *journal = plain ? new (std::nothrow) JournalFile : nullptr;
    if (journal == nullptr) {
        KeepError(error, plain ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
        CloseHandle(handle);
        return nullptr;
    }
    journal->handle = handle;
    journal->contended = false;
    return journal;
}

bool AppendToJournal(JournalFile *journal, const char *text, std::size_t length) {
    if (journal == nullptr || length > 0x7FFFFFFF) return false;
    // Every writer locks one byte far beyond any journal's end, which
    // stands for the whole file, and writes at the end it then finds.
    OVERLAPPED range;
    std::memset(&range, 0, sizeof range);
    range.OffsetHigh = 0x7FFFFFFF;
    bool locked = false;
    for (int tries = journal->contended ? 49 : 0; tries < 50 && !locked; ++tries) {
        locked = LockFileEx(journal->handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range);
        if (!locked && tries < 49) Sleep(10);
    }
    journal->contended = !locked;
    if (!locked) return false;
    LARGE_INTEGER end;
    DWORD written = 0;
    bool whole = GetFileSizeEx(journal->handle, &end);
    // A last line without its line break: the text starts a line of its own.
    char last = '\n';
    DWORD read = 0;
    if (whole && end.QuadPart > 0) {
        LARGE_INTEGER before;
        before.QuadPart = end.QuadPart - 1;
        if (!SetFilePointerEx(journal->handle, before, nullptr, FILE_BEGIN) ||
            !ReadFile(journal->handle, &last, 1, &read, nullptr) || read != 1) {
            last = '\n';
        }
    }
    whole = whole && SetFilePointerEx(journal->handle, end, nullptr, FILE_BEGIN) &&
            (last == '\n' || (WriteFile(journal->handle, "\n", 1, &written, nullptr) && written == 1)) &&
            WriteFile(journal->handle, text, static_cast<DWORD>(length), &written, nullptr) && written == length;
    // A record cut short (a full disk) would run into the next one.
    if (!whole && SetFilePointerEx(journal->handle, end, nullptr, FILE_BEGIN)) SetEndOfFile(journal->handle);
    UnlockFileEx(journal->handle, 0, 1, 0, &range);
    return whole;
}

void CloseJournal(JournalFile *journal) {
    if (journal == nullptr) return;
    CloseHandle(journal->handle);
    delete journal;
}

void ForgetJournal(JournalFile *journal) { CloseJournal(journal); }

}  // namespace platform
}  // namespace encbridge
