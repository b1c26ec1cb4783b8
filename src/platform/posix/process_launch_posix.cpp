// The launcher: a small child of the module that starts the encoder, waits
// for it and reports its exit status through a pipe.
//
// A host may ignore SIGCHLD (the kernel then reaps every child at once and
// its status is lost) or reap every child from its own handler with
// waitpid(-1). Neither reaches the encoder's status here: the encoder is the
// launcher's child, and the launcher keeps SIGCHLD at its default. The
// launcher itself is started with no exit signal, which keeps it out of a
// host's waitpid(-1); its status is never needed.
//
// The launcher makes a process group of its own, which the encoder and
// everything it starts share: a stop signals the whole group. The launcher
// also holds the read end of a pipe whose write end only the module holds;
// when the host process ends in any way, the pipe hangs up and the launcher
// ends the group.
//
// Both children are made by clone without CLONE_VM from the worker thread of
// a process that may run other threads: until execve they make plain system
// calls only, never a library function that could wait for a lock that
// another thread held at the moment of the clone.
#include "platform/posix/process_launch_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>

extern char **environ;

namespace encbridge {
namespace platform {
namespace {

#define ENCBRIDGE_RAW_CHILD __attribute__((no_sanitize("address", "thread", "undefined"), noinline))

// The kernel's clone3 arguments (version 0, 64 bytes).
struct CloneArgs {
    std::uint64_t flags;
    std::uint64_t pidfd;
    std::uint64_t childTid;
    std::uint64_t parentTid;
    std::uint64_t exitSignal;
    std::uint64_t stack;
    std::uint64_t stackSize;
    std::uint64_t tls;
};

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

// The kernel's signal set is 64 bits wide on every architecture we build for.
constexpr long kKernelSigsetSize = 8;

ENCBRIDGE_RAW_CHILD long Raw(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
    return syscall(number, a, b, c, d, e);
}

[[noreturn]] ENCBRIDGE_RAW_CHILD void RawExit(int code) {
    for (;;) Raw(SYS_exit_group, code);
}

ENCBRIDGE_RAW_CHILD bool RawWriteAll(int fd, const void *bytes, long count) {
    const char *next = static_cast<const char *>(bytes);
    while (count > 0) {
        long written = Raw(SYS_write, fd, reinterpret_cast<long>(next), count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        next += written;
        count -= written;
    }
    return true;
}

ENCBRIDGE_RAW_CHILD void RawReport(int fd, std::int32_t kind, std::int32_t value) {
    const std::int32_t report[2] = {kind, value};
    (void)RawWriteAll(fd, report, sizeof report);
}

ENCBRIDGE_RAW_CHILD void RawSetSignalMask(bool blockAll) {
    const std::uint64_t mask = blockAll ? ~std::uint64_t{0} : 0;
    Raw(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&mask), 0, kKernelSigsetSize);
}

// Waits up to milliseconds (-1: no limit) for the descriptors; a signal
// ends the wait early, which the callers take as a time-out.
ENCBRIDGE_RAW_CHILD long RawPoll(pollfd *fds, long count, int milliseconds) {
    timespec limit = {milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    return Raw(SYS_ppoll, reinterpret_cast<long>(fds), count, milliseconds < 0 ? 0 : reinterpret_cast<long>(&limit), 0,
               kKernelSigsetSize);
}

// Every descriptor from 3 up is closed at execve: the encoder gets its
// standard input, output and error and nothing else of the host, whatever
// the host opened without close-on-exec.
ENCBRIDGE_RAW_CHILD void RawCloseFromThreeAtExec(int keep) {
#ifdef SYS_close_range
    if (Raw(SYS_close_range, 3, ~0L, CLOSE_RANGE_CLOEXEC) == 0) return;  // Linux 5.11 and later
    if (Raw(SYS_close_range, 3, keep - 1, 0) == 0 && Raw(SYS_close_range, keep + 1, ~0L, 0) == 0) return;
#endif
    rlimit limit = {1024, 1024};
    Raw(SYS_getrlimit, RLIMIT_NOFILE, reinterpret_cast<long>(&limit));
    const long last = limit.rlim_cur > 65536 ? 65536 : static_cast<long>(limit.rlim_cur);
    for (long fd = 3; fd < last; ++fd) {
        if (fd != keep) Raw(SYS_close, fd);
    }
}

// The kernel's form of struct sigaction for SIG_DFL and SIG_IGN, which need
// no restorer: the handler, then the flags; the rest stays zero.
struct KernelSigaction {
    unsigned long handler;
    unsigned long flags;
    unsigned long restorer;
    unsigned long mask[2];
};

ENCBRIDGE_RAW_CHILD void RawSetDisposition(int signal, void (*disposition)(int)) {
    KernelSigaction action = {reinterpret_cast<unsigned long>(disposition), 0, 0, {0, 0}};
    Raw(SYS_rt_sigaction, signal, reinterpret_cast<long>(&action), 0, kKernelSigsetSize);
}

// The encoder: standard streams in place, no descriptor of the host, every
// signal at its default and none blocked, as a program started afresh.
[[noreturn]] ENCBRIDGE_RAW_CHILD void RunEncoder(const LaunchPlan &plan, int execError) {
    for (int signal = 1; signal < 65; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) RawSetDisposition(signal, SIG_DFL);
    }
    // The plan's descriptors are all 3 or above (LaunchEncoder sees to it),
    // so no dup2 below overwrites another.
    Raw(SYS_dup2, plan.standardInput, 0);
    if (plan.standardOutput >= 0) {
        Raw(SYS_dup2, plan.standardOutput, 1);
        Raw(SYS_dup2, plan.standardOutput, 2);
    }
    RawCloseFromThreeAtExec(execError);
    RawSetSignalMask(false);
    Raw(SYS_execve, reinterpret_cast<long>(plan.program), reinterpret_cast<long>(plan.arguments),
        reinterpret_cast<long>(environ));
    const std::int32_t error = errno;
    (void)RawWriteAll(execError, &error, sizeof error);
    RawExit(127);
}

// Ends the encoder's whole group: TERM, a grace for it to clean up, KILL.
// The launcher ignores TERM and goes with the KILL.
[[noreturn]] ENCBRIDGE_RAW_CHILD void EndGroupAfterHostEnded(pid_t encoder) {
    Raw(SYS_kill, -static_cast<long>(Raw(SYS_getpid)), SIGTERM);
    for (int waited = 0; waited < kStopGraceMilliseconds; waited += 20) {
        int status = 0;
        if (Raw(SYS_wait4, encoder, reinterpret_cast<long>(&status), WNOHANG) == encoder) break;
        pollfd none = {-1, 0, 0};
        RawPoll(&none, 1, 20);
    }
    Raw(SYS_kill, -static_cast<long>(Raw(SYS_getpid)), SIGKILL);
    RawExit(1);
}

[[noreturn]] ENCBRIDGE_RAW_CHILD void RunLauncher(const LaunchPlan &plan) {
    Raw(SYS_close, plan.reportRead);
    Raw(SYS_close, plan.lifeWrite);
    // SIGCHLD at its default, or the encoder's status could be lost as the
    // host's is; TERM, HUP and INT ignored, so that the launcher outlives the
    // encoder in a stop and still reports its end; a write to a module that
    // has gone fails rather than ends the launcher.
    RawSetDisposition(SIGCHLD, SIG_DFL);
    for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGPIPE}) RawSetDisposition(signal, SIG_IGN);
    Raw(SYS_setpgid, 0, 0);

    int execError[2];
    if (Raw(SYS_pipe2, reinterpret_cast<long>(execError), O_CLOEXEC) != 0) {
        RawReport(plan.reportWrite, kReportNotStarted, errno);
        RawExit(1);
    }
    if (execError[1] < 3) {
        // Only when the host runs with standard descriptors closed.
        long moved = Raw(SYS_fcntl, execError[1], F_DUPFD_CLOEXEC, 3);
        Raw(SYS_close, execError[1]);
        execError[1] = static_cast<int>(moved);
    }
    const long encoder = Raw(SYS_clone, SIGCHLD, 0, 0, 0, 0);
    if (encoder == 0) RunEncoder(plan, execError[1]);
    Raw(SYS_close, execError[1]);
    if (encoder < 0) {
        RawReport(plan.reportWrite, kReportNotStarted, errno);
        RawExit(1);
    }
    std::int32_t error = 0;
    long got;
    do {
        got = Raw(SYS_read, execError[0], reinterpret_cast<long>(&error), sizeof error);
    } while (got < 0 && errno == EINTR);
    Raw(SYS_close, execError[0]);
    if (got == static_cast<long>(sizeof error)) {
        int status = 0;
        while (Raw(SYS_wait4, encoder, reinterpret_cast<long>(&status), 0) < 0 && errno == EINTR) {
        }
        RawReport(plan.reportWrite, kReportNotStarted, error);
        RawExit(1);
    }
    RawReport(plan.reportWrite, kReportStarted, static_cast<std::int32_t>(encoder));

    // Waits for the encoder's end or the host's, whichever comes first.
#ifdef SYS_pidfd_open
    const long encoderFd = Raw(SYS_pidfd_open, encoder, 0);
#else
    const long encoderFd = -1;
#endif
    for (;;) {
        pollfd fds[2] = {{plan.lifeRead, POLLIN, 0}, {static_cast<int>(encoderFd), POLLIN, 0}};
        RawPoll(fds, encoderFd >= 0 ? 2 : 1, encoderFd >= 0 ? -1 : 100);
        if (fds[0].revents != 0) EndGroupAfterHostEnded(static_cast<pid_t>(encoder));
        int status = 0;
        const long reaped = Raw(SYS_wait4, encoder, reinterpret_cast<long>(&status), WNOHANG);
        if (reaped == encoder) {
            RawReport(plan.reportWrite, kReportExited, status);
            RawExit(0);
        }
        if (reaped < 0 && errno != EINTR) {
            RawReport(plan.reportWrite, kReportNotStarted, errno);
            RawExit(1);
        }
    }
}

}  // namespace

long CloneLauncher(const LaunchPlan &plan, int *pidfd) {
    *pidfd = -1;
    int descriptor = -1;
    // No exit signal: a host's waitpid(-1) never takes the launcher.
    CloneArgs args = {};
    args.flags = CLONE_PIDFD;
    args.pidfd = reinterpret_cast<std::uintptr_t>(&descriptor);
    args.exitSignal = 0;
    long pid = Raw(SYS_clone3, reinterpret_cast<long>(&args), sizeof args);
    if (pid < 0 && (errno == ENOSYS || errno == EINVAL)) {
        // Before Linux 5.3: clone, with no exit signal and no pidfd. Its
        // arguments other than the flags differ in order from one
        // architecture to another; all are zero here.
        pid = Raw(SYS_clone, 0, 0, 0, 0, 0);
    }
    if (pid == 0) RunLauncher(plan);
    if (pid > 0) *pidfd = descriptor;
    return pid;
}

}  // namespace platform
}  // namespace encbridge
