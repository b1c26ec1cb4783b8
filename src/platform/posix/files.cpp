// Files, folders and moves: the names, the streams a track is written to,
// the finished files that encoders read, and the moves that publish them.
#include "platform/posix/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::FILE *OpenFinishedStream(const char *path, SystemError *error) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        KeepError(error, errno);
        return nullptr;
    }
    struct stat info;
    std::FILE *file = nullptr;
    const bool known = fstat(fd, &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
        KeepError(error, known ? EINVAL : errno);
    } else if ((file = fdopen(fd, "rbe")) == nullptr) {
        KeepError(error, errno);
    }
    if (file == nullptr) close(fd);
    return file;
}

std::size_t WriteTrackBytes(std::FILE *file, const void *bytes, std::size_t count, SystemError *error) {
    // The stream is unbuffered: every write reaches the system here.
    errno = 0;
    const std::size_t written = std::fwrite(bytes, 1, count, file);
    if (written < count || std::ferror(file)) KeepError(error, errno != 0 ? errno : EIO);
    return written;
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

bool GuardFile(const char *path, FileGuard &guard, SystemError *error) {
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
        KeepError(error, errno);
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

namespace {

// Writes the whole content of the file open as from, from its start, into
// the file open as to.
bool CopyFromStart(int from, int to) {
    char chunk[65536];
    for (off_t at = 0;;) {
        const ssize_t count = pread(from, chunk, sizeof chunk, at);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return count == 0;
        for (ssize_t put = 0; put < count;) {
            const ssize_t written = write(to, chunk + put, static_cast<size_t>(count - put));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                if (written == 0) errno = ENOSPC;
                return false;
            }
            put += written;
        }
        at += count;
    }
}

}  // namespace

bool KeepGuardedFile(const char *path, FileGuard &guard, SystemError *error) {
    if (!guard.held) return true;
    const int fd = static_cast<int>(guard.handle);
    struct stat held, found;
    if (fstat(fd, &held) != 0) {
        KeepError(error, errno);
        return false;
    }
    const bool named = lstat(path, &found) == 0;
    if (named || errno != ENOENT) {
        const bool there = named && found.st_dev == held.st_dev && found.st_ino == held.st_ino;
        if (!there) KeepError(error, named ? EEXIST : errno);
        return there;
    }
    // Removed, or renamed: the descriptor still reads every byte. A new
    // file takes its name, read-only as the guarded one was; O_EXCL, so
    // that nothing that appears meanwhile is written through.
    const mode_t readOnly = static_cast<mode_t>(guard.mode & 07777 & ~0222u);
    const int copy = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, readOnly);
    if (copy < 0) {
        KeepError(error, errno);
        return false;
    }
    if (!CopyFromStart(fd, copy) || fchmod(copy, readOnly) != 0) {
        KeepError(error, errno);
        close(copy);
        unlink(path);
        return false;
    }
    close(fd);
    guard.handle = copy;
    return true;
}

bool GiveUnguardedMode(const char *path, const FileGuard &guard, SystemError *error) {
    if (!guard.held) return true;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    bool given = fd >= 0 && fstat(fd, &info) == 0;
    if (given && !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        given = false;
    }
    // The guarded file was made new by the module, so its mode before the
    // guard is what a new file of the user gets in the output folder.
    given = given && fchmod(fd, static_cast<mode_t>(guard.mode & 0777)) == 0;
    if (!given) KeepError(error, errno);
    if (fd >= 0) close(fd);
    return given;
}

EntryKind InspectEntry(const char *path) {
    struct stat info;
    if (lstat(path, &info) != 0) return errno == ENOENT ? EntryKind::Missing : EntryKind::Other;
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1) return EntryKind::Other;
    return info.st_size > 0 ? EntryKind::PlainFile : EntryKind::EmptyPlainFile;
}

bool NameTaken(const SystemError &error) { return error.code == EEXIST || error.code == ENOTEMPTY; }

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

bool MakeFullPath(const char *path, char *out, std::size_t size) {
    if (path[0] == '/') return FormatWhole(out, size, "%s", {FormatArg(path, size)});
    char folder[4096];
    if (getcwd(folder, sizeof folder) == nullptr) return false;
    // The root is the one folder that ends in a separator already.
    const bool root = folder[0] == '/' && folder[1] == '\0';
    return FormatWhole(out, size, "%s%s%s", {folder, FormatArg("/", root ? 0 : 1), FormatArg(path, size)});
}

namespace {

bool WriteAll(int fd, const char *bytes, ssize_t count) {
    while (count > 0) {
        ssize_t written = write(fd, bytes, static_cast<size_t>(count));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

bool CopyContent(int from, int to) {
    char chunk[65536];
    for (;;) {
        ssize_t count = read(from, chunk, sizeof chunk);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (count == 0) return true;
        if (!WriteAll(to, chunk, count)) return false;
    }
}

}  // namespace

bool MoveByLinking(const char *from, const char *to) {
    if (link(from, to) != 0) {
        // File systems without hard links refuse with EPERM; a copy into a
        // new file keeps the no-replace rule there too.
        if (errno == EPERM || errno == EOPNOTSUPP) return MoveByCopying(from, to);
        return false;
    }
    unlink(from);
    return true;
}

namespace {

// Copies from into a new file at to, which must not exist yet, and has the
// copy on disk; from stays. Nothing is left at to when that fails.
bool CopyToNewFile(const char *from, const char *to) {
    int source = open(from, O_RDONLY | O_CLOEXEC);
    if (source < 0) return false;
    struct stat info;
    const bool plain = fstat(source, &info) == 0 && S_ISREG(info.st_mode);
    const int notPlain = plain ? 0 : (errno != 0 ? errno : EINVAL);
    if (!plain) {
        close(source);
        errno = notPlain;
        return false;
    }
    // O_EXCL: an existing file at to is never replaced, not even one that
    // appears while we copy.
    int target = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777);
    if (target < 0) {
        close(source);
        return false;
    }
    // The source is removed after, so the copy must be on disk first.
    bool copied = CopyContent(source, target) && fsync(target) == 0;
    copied = close(target) == 0 && copied;
    close(source);
    if (!copied) {
        const int error = errno;
        unlink(to);
        errno = error;
    }
    return copied;
}

// Renames within one file system without replacing.
bool RenameNoReplace(const char *from, const char *to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    // EINVAL: the file system cannot rename without replacing; ENOSYS: the
    // kernel, or a sandbox in front of it, lacks renameat2.
    return (errno == EINVAL || errno == ENOSYS) && MoveByLinking(from, to);
}

// Across file systems: the copy is made whole under copyName, beside to,
// and only then takes the name to.
bool MoveThroughCopy(const char *from, const char *to, const char *copyName) {
    if (!CopyToNewFile(from, copyName)) return false;
    if (!RenameNoReplace(copyName, to)) {
        const int error = errno;
        unlink(copyName);
        errno = error;
        return false;
    }
    unlink(from);
    return true;
}

}  // namespace

bool MoveByCopying(const char *from, const char *to) {
    if (!CopyToNewFile(from, to)) return false;
    // The file has reached its new name whether or not the old one can go,
    // which is what a caller relies on.
    unlink(from);
    return true;
}

bool MoveFileNoReplace(const char *from, const char *to, SystemError *error, bool, const char *copyName) {
    bool moved = RenameNoReplace(from, to);
    if (!moved && errno == EXDEV && copyName != nullptr) moved = MoveThroughCopy(from, to, copyName);
    if (!moved) KeepError(error, errno);
    return moved;
}

namespace {

// Opens path with flags and fsyncs it when fstat's type is kind.
bool SyncEntry(const char *path, int flags, mode_t kind, SystemError *error) {
    const int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    bool synced = fd >= 0 && fstat(fd, &info) == 0;
    if (synced && (info.st_mode & S_IFMT) != kind) {
        errno = EINVAL;
        synced = false;
    }
    synced = synced && fsync(fd) == 0;
    if (!synced) KeepError(error, errno);
    if (fd >= 0) close(fd);
    return synced;
}

}  // namespace

bool SyncFile(const char *path, SystemError *error) { return SyncEntry(path, O_RDONLY, S_IFREG, error); }

bool SyncFolder(const char *path, SystemError *error) {
    return SyncEntry(path, O_RDONLY | O_DIRECTORY, S_IFDIR, error);
}

bool RemoveFile(const char *path, SystemError *error) {
    if (unlink(path) == 0) return true;
    KeepError(error, errno);
    return false;
}

}  // namespace platform
}  // namespace encbridge
