#include "platform/posix/file_moves_posix.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

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

bool MoveByCopying(const char *from, const char *to) {
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
    // The source is removed below, so the copy must be on disk first.
    bool copied = CopyContent(source, target) && fsync(target) == 0;
    copied = close(target) == 0 && copied;
    close(source);
    if (!copied) {
        const int error = errno;
        unlink(to);
        errno = error;
        return false;
    }
    // The file has reached its new name whether or not the old one can go,
    // which is what a caller relies on.
    unlink(from);
    return true;
}

bool MoveFileNoReplace(const char *from, const char *to, SystemError *error) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    bool moved = false;
    switch (errno) {
        case EINVAL:  // the file system cannot rename without replacing
        case ENOSYS:  // the kernel, or a sandbox in front of it, lacks renameat2
            moved = MoveByLinking(from, to);
            break;
        case EXDEV:
            moved = MoveByCopying(from, to);
            break;
        default:
            break;
    }
    if (!moved) KeepError(error, errno);
    return moved;
}

bool RemoveFile(const char *path, SystemError *error) {
    if (unlink(path) == 0) return true;
    KeepError(error, errno);
    return false;
}

}  // namespace platform
}  // namespace encbridge
