#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

// No code page with double-byte characters: every byte stands for itself.
bool IsLeadByte(unsigned char) { return false; }

std::size_t CharacterLength(const char *, std::size_t) { return 1; }

bool IsPathSeparator(char c) { return c == '/'; }

bool IsAbsoluteProgramPath(const char *path) { return path != nullptr && path[0] == '/'; }

bool RunsThroughCommandShell(const char *) { return false; }

std::FILE *OpenTrackStream(const char *path) {
    // "e": O_CLOEXEC, so that no encoder ever inherits a track file.
    std::FILE *file = std::fopen(path, "w+be");
    // Hosts deliver audio in pieces of many kilobytes. glibc's buffer would
    // copy a part of every piece and split the rest into two writes, which
    // cost close to a tenth of the delivery throughput; unbuffered, glibc
    // hands each piece to the system in one write, as a plain write() does.
    // Should that fail, the stream stays buffered and works all the same.
    if (file != nullptr) (void)std::setvbuf(file, nullptr, _IONBF, 0);
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

void SleepMilliseconds(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
}  // namespace encbridge
