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

bool IsAbsoluteProgramPath(const char *path) { return path != nullptr && path[0] == '/'; }

std::FILE *OpenTrackStream(const char *path) {
    // "e": O_CLOEXEC, so that no encoder ever inherits a track file.
    return std::fopen(path, "w+be");
}

bool EncoderFileUsable(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    // Programs in /usr/bin belong to root, so the Windows check (open for
    // writing) would refuse them all; what matters here is that the file is a
    // program we may read and run.
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return regular && access(path, X_OK) == 0;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
}  // namespace encbridge
