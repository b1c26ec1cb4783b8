#include "platform/posix/process_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/command_line_split.h"

extern char **environ;

namespace encbridge {
namespace platform {

struct Event {
    int fd;
    bool autoReset;
};

struct Process {
    pid_t pid;
    // -1 where the kernel has no pidfd_open; the wait then polls.
    int pidfd;
    bool reaped;
    // Whether waitpid gave the status: not so when the host reaps children
    // itself or ignores SIGCHLD.
    bool statusKnown;
    int status;
};

namespace {

std::int64_t MonotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Polls the descriptors for up to milliseconds (-1: no limit), going on
// after a signal. The count of ready descriptors, 0 on time-out.
int PollFor(pollfd *fds, nfds_t count, int milliseconds) {
    const std::int64_t deadline = MonotonicMilliseconds() + milliseconds;
    for (;;) {
        int ready = poll(fds, count, milliseconds);
        if (ready >= 0 || errno != EINTR) return ready;
        if (milliseconds >= 0) {
            std::int64_t left = deadline - MonotonicMilliseconds();
            milliseconds = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

bool EventRaised(Event *event, int milliseconds) {
    pollfd fd = {event->fd, POLLIN, 0};
    return PollFor(&fd, 1, milliseconds) > 0;
}

int OpenPidfd(pid_t pid) {
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    // The descriptor comes with close-on-exec set.
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// Reaps the process; with block false only when it has ended already.
// True once it is reaped (or can no longer be: see statusKnown).
bool Reap(Process *process, bool block) {
    if (process->reaped) return true;
    for (;;) {
        int status = 0;
        pid_t result = waitpid(process->pid, &status, block ? 0 : WNOHANG);
        if (result == process->pid) {
            process->reaped = true;
            process->statusKnown = true;
            process->status = status;
            return true;
        }
        if (result == 0) return false;
        if (errno == EINTR) continue;
        // ECHILD: someone else reaped it; it has ended with a status we
        // cannot learn.
        process->reaped = true;
        return true;
    }
}

Event *NewEvent(bool autoReset) {
    Event *event = new (std::nothrow) Event;
    if (event == nullptr) return nullptr;
    event->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    event->autoReset = autoReset;
    if (event->fd < 0) {
        delete event;
        return nullptr;
    }
    return event;
}

}  // namespace

// The eventfd's counter is the event's state: a raise adds to it, and it
// stays readable until it is read back to zero. A raise before a wait is
// therefore kept for it.
Event *CreateWakeEvent() { return NewEvent(false); }

Event *CreateAutoResetEvent() { return NewEvent(true); }

void RaiseEvent(Event *event) {
    std::uint64_t one = 1;
    ssize_t ignored = write(event->fd, &one, sizeof one);
    (void)ignored;
}

bool WaitForEvent(Event *event, std::uint32_t milliseconds) {
    int limit = milliseconds == kWaitForever ? -1 : static_cast<int>(std::min(milliseconds, 0x7FFFFFFFu));
    if (!EventRaised(event, limit)) return false;
    if (event->autoReset) {
        // Reading takes every raise so far at once. One that comes after
        // the read counts for the next wait: the waiter looks at what it
        // waits for only after this wait has returned.
        std::uint64_t count = 0;
        ssize_t ignored = read(event->fd, &count, sizeof count);
        (void)ignored;
    }
    return true;
}

void DestroyEvent(Event *event) {
    if (event == nullptr) return;
    close(event->fd);
    delete event;
}

Process *StartProcess(const char *commandLine, bool throughCommandShell, std::int32_t hideWindow) {
    // A line written for cmd.exe would split into other arguments here.
    if (throughCommandShell) return nullptr;
    std::string program;
    std::vector<std::string> arguments;
    if (!SplitForSpawn(commandLine, program, arguments)) return nullptr;
    std::vector<char *> argv(arguments.size() + 1, nullptr);  // null-terminated
    std::transform(arguments.begin(), arguments.end(), argv.begin(), [](std::string &item) { return &item[0]; });

    Process *process = new (std::nothrow) Process{};
    if (process == nullptr) return nullptr;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (hideWindow != 0) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    // The encoder starts as a program started afresh would: no signal
    // blocked (the worker blocks them all) and none ignored.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // posix_spawn, not posix_spawnp: the program is run by its path alone.
    // Every descriptor of the module is close-on-exec, so none reaches it.
    int failed = posix_spawn(&process->pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        delete process;
        return nullptr;
    }
    // The pid cannot be reused before we reap it, so this names our child.
    process->pidfd = OpenPidfd(process->pid);
    return process;
}

ProcessWait WaitByPolling(Process *process, Event *stop) {
    for (;;) {
        if (Reap(process, false)) return ProcessWait::Exited;
        if (EventRaised(stop, 20)) return ProcessWait::Stopped;
    }
}

ProcessWait WaitForProcessOrEvent(Process *process, Event *stop) {
    if (process->pidfd < 0) return WaitByPolling(process, stop);
    pollfd fds[2] = {{process->pidfd, POLLIN, 0}, {stop->fd, POLLIN, 0}};
    for (;;) {
        if (PollFor(fds, 2, -1) < 0) return WaitByPolling(process, stop);
        if (fds[0].revents != 0) {
            Reap(process, true);
            return ProcessWait::Exited;
        }
        if (fds[1].revents != 0) return ProcessWait::Stopped;
    }
}

void EndProcess(Process *process) {
    if (Reap(process, false)) return;
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    if (process->pidfd >= 0) {
        // A pidfd names our process even if someone else has reaped it
        // meanwhile and its number went to another one.
        syscall(SYS_pidfd_send_signal, process->pidfd, SIGKILL, nullptr, 0);
        Reap(process, true);
        return;
    }
#endif
    kill(process->pid, SIGKILL);
    Reap(process, true);
}

bool ProcessExitCode(Process *process, std::uint32_t *code) {
    if (!process->reaped || !process->statusKnown || !WIFEXITED(process->status)) return false;
    *code = static_cast<std::uint32_t>(WEXITSTATUS(process->status));
    return true;
}

void CloseProcess(Process *process) {
    if (process == nullptr) return;
    if (process->pidfd >= 0) close(process->pidfd);
    delete process;
}

}  // namespace platform
}  // namespace encbridge
