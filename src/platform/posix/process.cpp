// Starting, waiting for and ending encoders.
#include "platform/posix/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/command_line_split.h"
#include "platform/posix/process_launch.h"
#include "platform/posix/threads.h"

extern char **environ;

namespace encbridge {
namespace platform {

// An encoder started through the launcher (process_launch.cpp).
struct Process {
    // The launcher's process id, which is also the encoder's process group.
    pid_t pid;
    // A pidfd of the launcher, or -1 where the kernel gives none.
    int pidfd;
    // The launcher's reports; its end of file says that the launcher died.
    int reports;
    // Held open only here: its hang-up tells the launcher that the host's
    // process has ended.
    int life;
    // Whether the encoder's end is known: reported, or the launcher gone.
    bool ended;
    bool reaped;
    bool statusKnown;
    int status;
};

namespace {

// waitid's P_PIDFD (Linux 5.4), which older headers do not name.
constexpr int kWaitByPidfd = 3;

}  // namespace

namespace {

// Moves a descriptor of ours off 0, 1 and 2, where it lands only when the
// host runs with a standard descriptor closed, so that the encoder's
// standard streams can be put in place without overwriting it.
int AboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

void CloseIfOpen(int fd) {
    if (fd >= 0) close(fd);
}

// Reads one report; false at end of file or on an error.
bool ReadReport(int fd, std::int32_t (&report)[2]) {
    char *next = reinterpret_cast<char *>(report);
    std::size_t left = sizeof report;
    while (left > 0) {
        ssize_t got = read(fd, next, left);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        next += got;
        left -= static_cast<std::size_t>(got);
    }
    return true;
}

// Takes the report of the encoder's end, or the launcher's end of file.
void ReadEnd(Process *process) {
    if (process->ended) return;
    std::int32_t report[2];
    while (ReadReport(process->reports, report)) {
        if (report[0] == kReportExited) {
            process->statusKnown = true;
            process->status = report[1];
            break;
        }
    }
    process->ended = true;
}

// The launcher has no exit signal, so only __WALL finds it. It is gone
// already where the host ignores SIGCHLD (ECHILD).
void ReapLauncher(Process *process) {
    if (process->reaped) return;
    siginfo_t info;
    for (;;) {
        int failed = process->pidfd >= 0 ? waitid(static_cast<idtype_t>(kWaitByPidfd),
                                                  static_cast<id_t>(process->pidfd), &info, WEXITED | __WALL)
                                         : waitid(P_PID, static_cast<id_t>(process->pid), &info, WEXITED | __WALL);
        if (failed == 0 || errno != EINTR) break;
    }
    process->reaped = true;
}

void ReleaseProcess(Process *process) {
    CloseIfOpen(process->pidfd);
    CloseIfOpen(process->reports);
    CloseIfOpen(process->life);
    delete process;
}

// The encoders that run: a forked child of the host releases its copies of
// their descriptors, so that each launcher sees the host's end whatever
// children the host has left.
std::atomic<Process *> runningProcesses[kMostWaited];

}  // namespace

void ForgetProcessInChild() {
    for (std::atomic<Process *> &running : runningProcesses) {
        Process *process = running.exchange(nullptr);
        if (process != nullptr) ReleaseProcess(process);
    }
}

Process *StartProcess(const char *commandLine, bool throughCommandShell, std::int32_t hideWindow,
                      SystemError *startError) {
    SystemError ignored = {0};
    std::int32_t &error = (startError != nullptr ? *startError : ignored).code;
    error = ENOEXEC;
    // A line written for cmd.exe would split into other arguments here.
    if (throughCommandShell) return nullptr;
    std::string program;
    std::vector<std::string> arguments;
    error = EINVAL;
    if (!SplitForSpawn(commandLine, program, arguments)) return nullptr;
    error = ENOMEM;
    std::vector<char *> argv(arguments.size() + 1, nullptr);  // null-terminated
    std::transform(arguments.begin(), arguments.end(), argv.begin(), [](std::string &item) { return &item[0]; });

    Process *process = new (std::nothrow) Process{};
    if (process == nullptr) return nullptr;
    process->pidfd = process->reports = process->life = -1;

    int reports[2] = {-1, -1}, life[2] = {-1, -1};
    const int input = AboveStandard(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int output = hideWindow != 0 ? AboveStandard(open("/dev/null", O_WRONLY | O_CLOEXEC)) : -1;
    bool ready = input >= 0 && (hideWindow == 0 || output >= 0) && pipe2(reports, O_CLOEXEC) == 0;
    ready = ready && pipe2(life, O_CLOEXEC) == 0;
    for (int *fd : {&reports[0], &reports[1], &life[0], &life[1]}) *fd = AboveStandard(*fd);
    ready = ready && reports[0] >= 0 && reports[1] >= 0 && life[0] >= 0 && life[1] >= 0;
    if (!ready) error = errno;
    long pid = -1;
    if (ready) {
        // Everything the children use is made before they exist: they make
        // system calls only.
        const LaunchPlan plan = {program.c_str(), argv.data(), input, output, reports[0], reports[1], life[0], life[1]};
        pid = CloneLauncher(plan, &process->pidfd);
    }
    for (int fd : {input, output, reports[1], life[0]}) CloseIfOpen(fd);
    process->reports = reports[0];
    process->life = life[1];
    if (pid <= 0) {
        error = errno;
        ReleaseProcess(process);
        return nullptr;
    }
    process->pid = static_cast<pid_t>(pid);

    std::int32_t report[2];
    const bool reported = ReadReport(process->reports, report);
    if (reported && report[0] != kReportStarted) error = report[1];
    if (!reported || report[0] != kReportStarted) {
        // The program could not be run: the launcher has ended, or ends now.
        ReapLauncher(process);
        ReleaseProcess(process);
        return nullptr;
    }
    for (std::atomic<Process *> &running : runningProcesses) {
        Process *none = nullptr;
        if (running.compare_exchange_strong(none, process)) break;
    }
    return process;
}

int WaitForAny(Process *const *processes, std::size_t count, Event *const *events, std::size_t eventCount,
               std::uint32_t milliseconds) {
    if (count + eventCount > kMostWaited) return -1;
    for (std::size_t i = 0; i < count; ++i) {
        if (processes[i]->ended) return static_cast<int>(i);
    }
    pollfd fds[kMostWaited];
    for (std::size_t i = 0; i < count; ++i) fds[i] = {processes[i]->reports, POLLIN, 0};
    for (std::size_t e = 0; e < eventCount; ++e) fds[count + e] = {events[e]->fd, POLLIN, 0};
    const int limit = milliseconds == kWaitForever ? -1 : static_cast<int>(std::min(milliseconds, 0x7FFFFFFFu));
    const int ready = PollFor(fds, static_cast<nfds_t>(count + eventCount), limit);
    // A poll that fails at once would have its caller spin: it waits a
    // little instead, as a time-out would.
    if (ready < 0) SleepMilliseconds(10);
    if (ready <= 0) return -1;
    for (std::size_t i = 0; i < count; ++i) {
        if (fds[i].revents != 0) {
            ReadEnd(processes[i]);
            ReapLauncher(processes[i]);
            return static_cast<int>(i);
        }
    }
    for (std::size_t e = 0; e < eventCount; ++e) {
        if (fds[count + e].revents != 0 && WaitForEvent(events[e], 0)) return static_cast<int>(count + e);
    }
    return -1;
}

void EndProcesses(Process *const *processes, std::size_t count) {
    if (count > kMostWaited) count = kMostWaited;
    // Each whole group: the encoder, and whatever it started that did not
    // leave the group. TERM lets an encoder remove its own files; KILL
    // follows after one short grace shared by all. The launcher ignores
    // TERM, so its report says when the encoder has ended; until it is
    // reaped, its process id, the group's, cannot be taken by another
    // process.
    for (std::size_t i = 0; i < count; ++i) {
        if (!processes[i]->ended) kill(-processes[i]->pid, SIGTERM);
    }
    const std::int64_t graceEnd = MonotonicMilliseconds() + kStopGraceMilliseconds;
    for (;;) {
        pollfd fds[kMostWaited];
        Process *waited[kMostWaited];
        nfds_t waiting = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (processes[i]->ended) continue;
            fds[waiting] = {processes[i]->reports, POLLIN, 0};
            waited[waiting++] = processes[i];
        }
        const std::int64_t left = graceEnd - MonotonicMilliseconds();
        if (waiting == 0 || left <= 0 || PollFor(fds, waiting, static_cast<int>(left)) <= 0) break;
        for (nfds_t i = 0; i < waiting; ++i) {
            if (fds[i].revents != 0) ReadEnd(waited[i]);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!processes[i]->ended) kill(-processes[i]->pid, SIGKILL);
    }
    for (std::size_t i = 0; i < count; ++i) {
        ReadEnd(processes[i]);
        ReapLauncher(processes[i]);
    }
    // What is left of each group is killed and about to be gone; a short
    // wait lets its processes finish ending, so that none holds a file.
    const std::int64_t goneBy = MonotonicMilliseconds() + 200;
    for (std::size_t i = 0; i < count; ++i) {
        while (kill(-processes[i]->pid, 0) == 0 && MonotonicMilliseconds() < goneBy) SleepMilliseconds(10);
    }
}

void EndProcess(Process *process) { EndProcesses(&process, 1); }

bool ProcessExitCode(Process *process, std::uint32_t *code) {
    if (!process->ended || !process->statusKnown || !WIFEXITED(process->status)) return false;
    *code = static_cast<std::uint32_t>(WEXITSTATUS(process->status));
    return true;
}

bool ProcessSignal(Process *process, std::int32_t *signal) {
    if (!process->ended || !process->statusKnown || !WIFSIGNALED(process->status)) return false;
    *signal = WTERMSIG(process->status);
    return true;
}

void CloseProcess(Process *process) {
    if (process == nullptr) return;
    // The launcher has ended by now; an encoder that is still running (never
    // the case as the worker calls this) would be left to the launcher.
    ReapLauncher(process);
    for (std::atomic<Process *> &running : runningProcesses) {
        Process *expected = process;
        if (running.compare_exchange_strong(expected, nullptr)) break;
    }
    ReleaseProcess(process);
}

}  // namespace platform
}  // namespace encbridge
