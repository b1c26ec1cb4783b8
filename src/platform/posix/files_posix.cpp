#include <fcntl.h>
#include <sched.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {
namespace platform {

// No code page with double-byte characters: every byte stands for itself.
bool IsLeadByte(unsigned char) { return false; }

std::size_t CharacterLength(const char *, std::size_t) { return 1; }

bool IsPathSeparator(char c) { return c == '/'; }

const char *CurrentFolderPrefix() { return "./"; }

bool IsAbsoluteProgramPath(const char *path) { return path != nullptr && path[0] == '/'; }

bool RunsThroughCommandShell(const char *) { return false; }

bool NamesAlike(const char *a, const char *b) { return a != nullptr && b != nullptr && strcasecmp(a, b) == 0; }

std::FILE *OpenTrackStream(const char *path, SystemError *error) {
    // O_EXCL with O_CREAT never follows a link, not even one that leads
    // nowhere; O_NONBLOCK keeps a FIFO that appears meanwhile from blocking.
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        KeepError(error, errno);
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        KeepError(error, errno);
        close(fd);
        return nullptr;
    }
    // "e": the descriptor stays close-on-exec, so no encoder inherits it.
    std::FILE *file = fdopen(fd, "w+be");
    if (file == nullptr) {
        KeepError(error, errno);
        close(fd);
        unlink(path);
        return nullptr;
    }
    // Hosts deliver audio in pieces of many kilobytes. glibc's buffer would
    // copy a part of every piece and split the rest into two writes, which
    // cost close to a tenth of the delivery throughput; unbuffered, glibc
    // hands each piece to the system in one write, as a plain write() does.
    // Should that fail, the stream stays buffered and works all the same.
    (void)std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

std::size_t WriteTrackBytes(std::FILE *file, const void *bytes, std::size_t count) {
    // The stream is unbuffered: every write reaches the system here.
    return std::fwrite(bytes, 1, count, file);
}

bool EncoderFileUsable(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    // O_PATH opens nothing: a FIFO would block a plain open until a writer
    // came, and a device's open can act (rewind a tape, raise a modem line).
    // What matters is that the file is a regular program we may read and
    // run; root-owned programs in /usr/bin are not writable by users.
    int fd = open(path, O_PATH | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return regular && access(path, R_OK | X_OK) == 0;
}

bool GuardFile(const char *path, FileGuard &guard, std::int32_t *error) {
    // Held open, so that the mode goes back to this file whatever is put at
    // its name meanwhile; O_NONBLOCK keeps a FIFO there from blocking.
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    bool guarded = fd >= 0 && fstat(fd, &info) == 0;
    if (guarded && (!S_ISREG(info.st_mode) || info.st_nlink != 1)) {
        errno = EINVAL;
        guarded = false;
    }
    // Readable as before by whoever could read it; writable by none.
    guarded = guarded && fchmod(fd, info.st_mode & 07777 & ~mode_t{0222}) == 0;
    if (!guarded) {
        *error = errno;
        if (fd >= 0) close(fd);
        return false;
    }
    guard = {true, fd, static_cast<std::uint32_t>(info.st_mode & 07777)};
    return true;
}

void ReleaseFile(FileGuard &guard) {
    if (!guard.held) return;
    const int fd = static_cast<int>(guard.handle);
    (void)fchmod(fd, static_cast<mode_t>(guard.mode));
    close(fd);
    guard = {};
}

EntryKind InspectEntry(const char *path) {
    struct stat info;
    if (lstat(path, &info) != 0) return errno == ENOENT ? EntryKind::Missing : EntryKind::Other;
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1) return EntryKind::Other;
    return info.st_size > 0 ? EntryKind::PlainFile : EntryKind::EmptyPlainFile;
}

bool SameFile(const char *a, const char *b) {
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool MakeFolder(const char *path, SystemError *error) {
    if (mkdir(path, 0777) != 0 && errno != EEXIST) {
        KeepError(error, errno);
        return false;
    }
    struct stat info;
    if (lstat(path, &info) != 0) {
        KeepError(error, errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) return true;
    KeepError(error, EEXIST);  // something else has the folder's name
    return false;
}

bool IsOrdinaryName(const char *, std::size_t) { return true; }

std::int32_t ProcessorCount() {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) return CPU_COUNT(&allowed);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::int32_t>(online) : 1;
}

bool MakeFullPath(const char *path, char *out, std::size_t size) {
    if (path[0] == '/') return FormatWhole(out, size, "%s", {FormatArg(path, size)});
    char folder[4096];
    if (getcwd(folder, sizeof folder) == nullptr) return false;
    // The root is the one folder that ends in a separator already.
    const bool root = folder[0] == '/' && folder[1] == '\0';
    return FormatWhole(out, size, "%s%s%s", {folder, FormatArg("/", root ? 0 : 1), FormatArg(path, size)});
}

struct FolderLock {
    int fd;
    dev_t device;
    ino_t inode;
    char path[4096];
};

namespace {

// Why the lock file at path could not be opened (errno as open left it).
LockRefusal WhyNotOpened(const char *path) {
    const int error = errno;
    struct stat named;
    if (lstat(path, &named) == 0) return LockRefusal::NotALock;
    return error == ENOENT || error == ENOTDIR ? LockRefusal::FolderMissing : LockRefusal::FolderNotWritable;
}

}  // namespace

FolderLock *LockFolder(const char *path, LockRefusal &refusal, SystemError *error) {
    refusal = LockRefusal::FolderNotWritable;
    KeepError(error, 0);
    FolderLock *lock = new (std::nothrow) FolderLock;
    if (lock == nullptr) {
        KeepError(error, ENOMEM);
        return nullptr;
    }
    const bool fits = FormatWhole(lock->path, sizeof lock->path, "%s", {FormatArg(path, sizeof lock->path)});
    // The file is removed when the lock is released, so a process may have
    // opened it just before and then lock a file that no longer has the
    // name: the lock counts only while the name still leads to its file.
    for (int attempt = 0; fits && attempt < 10; ++attempt) {
        // Only a plain file is opened: a device's open could act.
        struct stat named, held;
        if (lstat(path, &named) == 0 && (!S_ISREG(named.st_mode) || named.st_nlink != 1)) {
            refusal = LockRefusal::NotALock;
            break;
        }
        // Read-only: flock needs no more, and a lock file that a killed rip
        // of another user left in a shared folder opens so too.
        lock->fd = open(path, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (lock->fd < 0) {
            KeepError(error, errno);
            refusal = WhyNotOpened(path);
            break;
        }
        if (fstat(lock->fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_nlink != 1) {
            close(lock->fd);
            refusal = LockRefusal::NotALock;
            break;
        }
        if (flock(lock->fd, LOCK_EX | LOCK_NB) != 0) {
            KeepError(error, errno);
            close(lock->fd);
            refusal = LockRefusal::HeldElsewhere;
            break;
        }
        if (lstat(path, &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            // Whatever the umask: another user must be able to open it, to
            // take it over should this process be killed.
            if (held.st_uid == geteuid()) (void)fchmod(lock->fd, 0644);
            lock->device = held.st_dev;
            lock->inode = held.st_ino;
            return lock;
        }
        close(lock->fd);
        refusal = LockRefusal::HeldElsewhere;
    }
    delete lock;
    return nullptr;
}

void UnlockFolder(FolderLock *lock) {
    if (lock == nullptr) return;
    // Removed while still held, so that no one else's lock file goes.
    struct stat named;
    if (lstat(lock->path, &named) == 0 && named.st_dev == lock->device && named.st_ino == lock->inode) {
        unlink(lock->path);
    }
    close(lock->fd);
    delete lock;
}

void ForgetFolderLock(FolderLock *lock) {
    if (lock == nullptr) return;
    // The lock belongs to the open file, which the parent's descriptor
    // keeps: closing the child's copy releases nothing.
    close(lock->fd);
    delete lock;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// ---- Time, errors and the journal ------------------------------------------

void UtcTimeText(char (&out)[24]) {
    const time_t now = time(nullptr);
    struct tm parts;
    if (gmtime_r(&now, &parts) == nullptr) {
        FormatText(out, sizeof out, "%s", {"-"});
        return;
    }
    FormatText(out, sizeof out, "%d-%02d-%02dT%02d:%02d:%02dZ",
               {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec});
}

void ErrorText(std::int32_t code, char *out, std::size_t size) {
    char words[128] = {};
    // The GNU strerror_r returns its text, which may not be words.
    const char *text = strerror_r(code, words, sizeof words);
    FormatText(out, size, "%s", {FormatArg(text != nullptr ? text : "unknown error", sizeof words)});
}

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(getpid()); }

struct JournalFile {
    int fd;
    // The last wait for the lock ran out: a writer that holds it for long
    // is not waited for again, so that the rip loses at most one wait.
    bool contended;
};

JournalFile *OpenJournal(const char *path, std::size_t folderLength, bool create) {
    // The folder as it stands, then each part below it opened as a folder
    // that is no link, from the one before: none can lead elsewhere, not
    // even when it is swapped for a link meanwhile.
    char part[4096];
    int folder = AT_FDCWD;
    if (folderLength > 0) {
        if (folderLength >= sizeof part) return nullptr;
        std::memcpy(part, path, folderLength);
        part[folderLength] = '\0';
        folder = open(part, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) return nullptr;
    }
    const char *name = path + folderLength;
    for (const char *slash = std::strchr(name, '/'); slash != nullptr; slash = std::strchr(name, '/')) {
        const std::size_t length = static_cast<std::size_t>(slash - name);
        int next = -1;
        if (length < sizeof part) {
            std::memcpy(part, name, length);
            part[length] = '\0';
            next = openat(folder, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        struct stat info;
        if (next >= 0 && (fstat(next, &info) != 0 || !S_ISDIR(info.st_mode))) {
            close(next);
            next = -1;
        }
        if (folder != AT_FDCWD) close(folder);
        if (next < 0) return nullptr;
        folder = next;
        name = slash + 1;
    }
    // No link is followed and no FIFO waited on; a file with another name
    // (a hard link to one outside the folder) is not written either. Read
    // too, for the last byte, unless the file may only be written.
    const int flags = O_APPEND | (create ? O_CREAT : 0) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = openat(folder, name, O_RDWR | flags, 0644);
    if (fd < 0 && errno == EACCES) fd = openat(folder, name, O_WRONLY | flags, 0644);
    if (folder != AT_FDCWD) close(folder);
    if (fd < 0) return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        close(fd);
        return nullptr;
    }
    JournalFile *journal = new (std::nothrow) JournalFile;
    if (journal == nullptr) {
        close(fd);
        return nullptr;
    }
    journal->fd = fd;
    journal->contended = false;
    return journal;
}

bool AppendToJournal(JournalFile *journal, const char *text, std::size_t length) {
    if (journal == nullptr) return false;
    // Another process's record is written within moments; one that holds
    // the lock for longer is not waited for.
    bool locked = false;
    for (int tries = journal->contended ? 49 : 0; tries < 50 && !locked; ++tries) {
        locked = flock(journal->fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked && tries < 49) SleepMilliseconds(10);
    }
    journal->contended = !locked;
    if (!locked) return false;
    const off_t end = lseek(journal->fd, 0, SEEK_END);
    // A last line without its line break: the text starts a line of its own.
    char last = '\n';
    if (end > 0 && pread(journal->fd, &last, 1, end - 1) != 1) last = '\n';
    const bool lineBreak = last != '\n';
    std::size_t written = 0;
    const std::size_t total = length + (lineBreak ? 1 : 0);
    while (written < total) {
        const bool first = lineBreak && written == 0;
        const ssize_t step = first ? write(journal->fd, "\n", 1)
                                   : write(journal->fd, text + written - (lineBreak ? 1 : 0), total - written);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) break;
        written += static_cast<std::size_t>(step);
    }
    // A record cut short (a full disk) would run into the next one.
    if (written < total && end >= 0) {
        int ignored = ftruncate(journal->fd, end);
        (void)ignored;
    }
    flock(journal->fd, LOCK_UN);
    return written == total;
}

void CloseJournal(JournalFile *journal) {
    if (journal == nullptr) return;
    close(journal->fd);
    delete journal;
}

void ForgetJournal(JournalFile *journal) {
    if (journal == nullptr) return;
    // This process's copy of the descriptor is closed: that holds no lock
    // and changes nothing of the file.
    close(journal->fd);
    delete journal;
}

}  // namespace platform
}  // namespace encbridge
