// The output folder's lock and the journal: files that several rips, of
// this process and of others, share.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {
namespace platform {

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

// A record lock of the whole file, of type, for fcntl.
struct flock WholeFile(short type) {
    struct flock range;
    std::memset(&range, 0, sizeof range);
    range.l_type = type;
    range.l_whence = SEEK_SET;
    return range;
}

// The lock file, opened to be locked: read and write when it may be, else
// (a lock file that a killed rip of another user left in a shared folder)
// read only. -1 with errno when it cannot be opened.
int OpenLockFile(const char *path, bool &writable) {
    const int flags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(path, O_RDWR | flags, 0644);
    writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = open(path, O_RDONLY | flags, 0644);
    return fd;
}

// Takes the lock of the file open at fd. A record lock belongs to the
// process, and unlike a flock or an open file description's lock it is not
// shared with a child that the clone of a launcher copies the descriptor
// to: it goes the moment the host's process is gone, however long a
// launcher takes to close what it got. A file that opens read only gets a
// shared lock, which is the rip's only when no other process holds one.
// False when a live rip holds the lock; fd is then closed, or, when the rip
// is another copy of the module in this process, kept open: closing any
// descriptor of the file would release that rip's lock.
bool TakeLock(int fd, bool writable, SystemError *error) {
    // Sees this process's own lock too, which F_GETLK never reports. An
    // older kernel (before 3.15) lacks it: every check below still holds
    // between processes.
    struct flock held = WholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_GETLK, &held) == 0 && held.l_type != F_UNLCK && held.l_pid == getpid()) {
        KeepError(error, EAGAIN);
        return false;
    }
    struct flock mine = WholeFile(writable ? F_WRLCK : F_RDLCK);
    bool taken = fcntl(fd, F_SETLK, &mine) == 0;
    KeepError(error, taken ? 0 : errno);
    if (taken && !writable) {
        // Shared: another process's shared lock is another rip.
        struct flock other = WholeFile(F_WRLCK);
        taken = fcntl(fd, F_GETLK, &other) == 0 && other.l_type == F_UNLCK;
        KeepError(error, taken ? 0 : EAGAIN);
    }
    if (!taken) close(fd);
    return taken;
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
        bool writable = false;
        lock->fd = OpenLockFile(path, writable);
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
        if (!TakeLock(lock->fd, writable, error)) {
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
    // The lock belongs to the parent's process: closing the child's copy
    // of the descriptor releases nothing.
    close(lock->fd);
    delete lock;
}

struct JournalFile {
    int fd;
    // The last wait for the lock ran out: a writer that holds it for long
    // is not waited for again, so that the rip loses at most one wait.
    bool contended;
};

namespace {

// Fails an open with code as its reason, once the descriptors are closed.
JournalFile *NotOpened(SystemError *error, int code, int fd = -1, int folder = AT_FDCWD) {
    if (fd >= 0) close(fd);
    if (folder >= 0) close(folder);
    KeepError(error, code);
    return nullptr;
}

}  // namespace

JournalFile *OpenJournal(const char *path, std::size_t folderLength, bool create, SystemError *error) {
    // The folder as it stands, then each part below it opened as a folder
    // that is no link, from the one before: none can lead elsewhere, not
    // even when it is swapped for a link meanwhile.
    char part[4096];
    int folder = AT_FDCWD;
    if (folderLength > 0) {
        if (folderLength >= sizeof part) return NotOpened(error, ENAMETOOLONG);
        std::memcpy(part, path, folderLength);
        part[folderLength] = '\0';
        folder = open(part, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) return NotOpened(error, errno);
    }
    const char *name = path + folderLength;
    for (const char *slash = std::strchr(name, '/'); slash != nullptr; slash = std::strchr(name, '/')) {
        const std::size_t length = static_cast<std::size_t>(slash - name);
        if (length >= sizeof part) return NotOpened(error, ENAMETOOLONG, -1, folder);
        std::memcpy(part, name, length);
        part[length] = '\0';
        // A link fails with ENOTDIR or ELOOP: it is no folder of ours.
        const int next = openat(folder, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return NotOpened(error, errno, -1, folder);
        struct stat info;
        if (fstat(next, &info) != 0 || !S_ISDIR(info.st_mode)) return NotOpened(error, ENOTDIR, next, folder);
        if (folder != AT_FDCWD) close(folder);
        folder = next;
        name = slash + 1;
    }
    // No link is followed and no FIFO waited on; a file with another name
    // (a hard link to one outside the folder) is not written either. Read
    // too, for the last byte, unless the file may only be written.
    const int flags = O_APPEND | (create ? O_CREAT : 0) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = openat(folder, name, O_RDWR | flags, 0644);
    if (fd < 0 && errno == EACCES) fd = openat(folder, name, O_WRONLY | flags, 0644);
    const int opened = errno;
    if (folder != AT_FDCWD) close(folder);
    if (fd < 0) return NotOpened(error, opened);
    struct stat info;
    // A FIFO, a device, a folder or another name of a file: not one to append to.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) return NotOpened(error, EINVAL, fd);
    JournalFile *journal = new (std::nothrow) JournalFile;
    if (journal == nullptr) return NotOpened(error, ENOMEM, fd);
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
