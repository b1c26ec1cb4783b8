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

#include "platform/message_tail.h"
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
    // The read ends of the program's standard output (given to sink) and
    // of what is kept of its words (its standard error, or both streams
    // together); -1 when not read or read to their end.
    int outputPipe;
    int messagePipe;
    OutputSink sink;
    bool sinkTaking;
    // When the end was taken: pipes still held open by what the program
    // started are given up on kDrainGraceMilliseconds later.
    std::int64_t endedAt;
    MessageTail messages;
};

namespace {

// waitid's P_PIDFD (Linux 5.4), which older headers do not name.
constexpr int kWaitByPidfd = 3;

// How long the pipes of a program that has ended may stay open, held by
// something it started, before its end is reported all the same.
constexpr std::int64_t kDrainGraceMilliseconds = 2000;

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
    process->endedAt = MonotonicMilliseconds();
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
    CloseIfOpen(process->outputPipe);
    CloseIfOpen(process->messagePipe);
    delete process;
}

// Reads what one pipe of the process holds now (poll said it holds
// something): to the sink, or into the kept words. At its end, or on an
// error, the pipe is closed.
void DrainPipe(Process *process, int &pipe) {
    char chunk[8192];
    ssize_t got;
    do {
        got = read(pipe, chunk, sizeof chunk);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        close(pipe);
        pipe = -1;
        return;
    }
    const std::size_t count = static_cast<std::size_t>(got);
    if (&pipe == &process->messagePipe) {
        KeepMessage(process->messages, chunk, count);
    } else if (process->sinkTaking) {
        process->sinkTaking = process->sink.take(process->sink.context, chunk, count);
        // What the program writes now changes nothing, and it may never stop
        // writing: its whole group ends here, the launcher with it, so that
        // its end is taken as a stop.
        if (!process->sinkTaking && !process->ended) kill(-process->pid, SIGKILL);
    }
}

bool Drained(const Process *process) { return process->outputPipe < 0 && process->messagePipe < 0; }

// Whether the process's end may be reported: it has ended, and its pipes
// are read to their end or given up on.
bool EndReady(Process *process, std::int64_t now) {
    if (!process->ended) return false;
    if (!Drained(process) && now - process->endedAt < kDrainGraceMilliseconds) return false;
    CloseIfOpen(process->outputPipe);
    CloseIfOpen(process->messagePipe);
    process->outputPipe = process->messagePipe = -1;
    return true;
}

// Makes a pipe whose write end is for the program: false when none can be
// made.
bool OpenPipe(int (&ends)[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    ends[0] = AboveStandard(ends[0]);
    ends[1] = AboveStandard(ends[1]);
    return ends[0] >= 0 && ends[1] >= 0;
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
                      SystemError *startError, const OutputSink *output) {
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
    process->pidfd = process->reports = process->life = process->outputPipe = process->messagePipe = -1;

    // With a sink, standard output goes to it and standard error is kept;
    // hidden, both are kept together; shown, both are the host's.
    int reports[2] = {-1, -1}, life[2] = {-1, -1}, outputPipe[2] = {-1, -1}, messagePipe[2] = {-1, -1};
    const int input = AboveStandard(open("/dev/null", O_RDONLY | O_CLOEXEC));
    bool ready = input >= 0 && OpenPipe(reports) && OpenPipe(life);
    if (output != nullptr) ready = ready && OpenPipe(outputPipe);
    if (output != nullptr || hideWindow != 0) ready = ready && OpenPipe(messagePipe);
    if (!ready) error = errno;
    long pid = -1;
    if (ready) {
        // Everything the children use is made before they exist: they make
        // system calls only.
        const int standardOutput = output != nullptr ? outputPipe[1] : messagePipe[1];
        const LaunchPlan plan = {program.c_str(), argv.data(), input,   standardOutput, messagePipe[1],
                                 reports[0],      reports[1],  life[0], life[1]};
        pid = CloneLauncher(plan, &process->pidfd);
    }
    for (int fd : {input, reports[1], life[0], outputPipe[1], messagePipe[1]}) CloseIfOpen(fd);
    process->reports = reports[0];
    process->life = life[1];
    process->outputPipe = outputPipe[0];
    process->messagePipe = messagePipe[0];
    if (output != nullptr) process->sink = *output;
    process->sinkTaking = output != nullptr && output->take != nullptr;
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
    const std::int64_t start = MonotonicMilliseconds();
    const std::int64_t until = milliseconds == kWaitForever ? INT64_MAX : start + milliseconds;
    // Each process brings its report pipe and up to two pipes of its words.
    pollfd fds[kMostWaited * 3];
    // A program that writes without pause keeps the poll busy: the time
    // limit is checked on every round, after at least one.
    for (bool polled = false;; polled = true) {
        const std::int64_t now = MonotonicMilliseconds();
        for (std::size_t i = 0; i < count; ++i) {
            if (EndReady(processes[i], now)) return static_cast<int>(i);
        }
        if (polled && now >= until) return -1;
        // The wait lasts until the time is up, or until a pipe's grace ends.
        std::int64_t limit = until - now;
        nfds_t used = 0;
        for (std::size_t i = 0; i < count; ++i) {
            Process *process = processes[i];
            fds[used++] = {process->ended ? -1 : process->reports, POLLIN, 0};
            fds[used++] = {process->outputPipe, POLLIN, 0};
            fds[used++] = {process->messagePipe, POLLIN, 0};
            if (process->ended) limit = std::min(limit, process->endedAt + kDrainGraceMilliseconds - now);
        }
        for (std::size_t e = 0; e < eventCount; ++e) fds[used++] = {events[e]->fd, POLLIN, 0};
        limit = std::max<std::int64_t>(limit, 0);
        const int ready =
            PollFor(fds, used, limit == INT64_MAX ? -1 : static_cast<int>(std::min<std::int64_t>(limit, INT32_MAX)));
        // A poll that fails at once would have its caller spin: it waits a
        // little instead, as a time-out would.
        if (ready < 0) {
            SleepMilliseconds(10);
            return -1;
        }
        for (std::size_t i = 0; i < count; ++i) {
            Process *process = processes[i];
            // Words first: whatever the program wrote before its end is read
            // before the end is taken.
            if (fds[i * 3 + 1].revents != 0) DrainPipe(process, process->outputPipe);
            if (fds[i * 3 + 2].revents != 0) DrainPipe(process, process->messagePipe);
            if (fds[i * 3].revents != 0) {
                ReadEnd(process);
                ReapLauncher(process);
            }
        }
        for (std::size_t e = 0; e < eventCount; ++e) {
            if (fds[count * 3 + e].revents != 0 && WaitForEvent(events[e], 0)) return static_cast<int>(count + e);
        }
    }
}

std::size_t ProcessMessages(const Process *process, char *out, std::size_t capacity) {
    return CopyMessages(process->messages, out, capacity);
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
