#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "fake_encoder.h"

namespace fake_encoder {

std::string DescribeStart() {
    std::string lines;
    char target[PATH_MAX];
    ssize_t length = readlink("/proc/self/fd/1", target, sizeof target - 1);
    lines += "stdout " + (length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string("?")) + "\n";
    length = readlink("/proc/self/fd/0", target, sizeof target - 1);
    lines += "stdin " + (length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string("?")) + "\n";

    lines += "inherited" + InheritableDescriptors() + "\n";
    lines += "pid " + std::to_string(getpid()) + "\n";
    return lines;
}

void BinaryStandardOutput() {}

std::string InheritableDescriptors() {
    std::string inheritable;
    DIR *folder = opendir("/proc/self/fd");
    if (folder == nullptr) return "?";
    while (dirent *entry = readdir(folder)) {
        if (entry->d_name[0] == '.') continue;
        int fd = atoi(entry->d_name);
        int flags = fcntl(fd, F_GETFD);
        if (fd <= 2 || flags < 0 || (flags & FD_CLOEXEC) != 0) continue;
        char target[PATH_MAX];
        ssize_t length = readlink(("/proc/self/fd/" + std::string(entry->d_name)).c_str(), target, sizeof target - 1);
        inheritable += " " + std::string(entry->d_name) + "=" +
                       (length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string("?"));
    }
    closedir(folder);
    return inheritable;
}

void AppendToFile(const std::string &path, const std::string &text) {
    // One write with O_APPEND: runs appending at the same time never
    // overwrite each other's records.
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    close(fd);
}

bool CreateExclusive(const std::string &path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool LinkTo(const std::string &target, const std::string &name, bool hard) {
    return (hard ? link(target.c_str(), name.c_str()) : symlink(target.c_str(), name.c_str())) == 0;
}

bool CopyMode(const std::string &from, const std::string &to) {
    struct stat info;
    return stat(from.c_str(), &info) == 0 && chmod(to.c_str(), info.st_mode & 07777) == 0;
}

void IgnoreTerm() { signal(SIGTERM, SIG_IGN); }

void SleepMilliseconds(unsigned milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

// SIGKILL, not SIGSEGV: no core file is written into the test's folder.
unsigned long LeaveHangingChild(const char *program) {
    const pid_t child = fork();
    if (child != 0) return child > 0 ? static_cast<unsigned long>(child) : 0;
    char hang[] = "--hang";
    char *const arguments[] = {const_cast<char *>(program), hang, nullptr};
    execv(program, arguments);
    _exit(127);
}

void Crash() {
    raise(SIGKILL);
    _exit(127);
}

}  // namespace fake_encoder
