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
#include "platform/posix/process_launch.h"

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

// The kernel's struct linux_dirent64, as getdents64 fills it.
struct KernelDirent {
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    // cppcheck-suppress unusedStructMember ; it places the name where the kernel writes it
    unsigned char type;
    char name[1];
};

ENCBRIDGE_RAW_CHILD bool RawKept(long fd, const int *keep, int count) {
    for (int i = 0; i < count; ++i) {
        if (keep[i] == fd) return true;
    }
    return false;
}

// Where the kernel cannot close ranges (before Linux 5.9): each descriptor
// that /proc lists, or, without /proc, each number up to the limit.
ENCBRIDGE_RAW_CHILD void RawCloseOneByOne(const int *keep, int count) {
    const long folder =
        Raw(SYS_openat, AT_FDCWD, reinterpret_cast<long>("/proc/self/fd"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        alignas(8) char entries[1024];
        long got;
        // The listing goes by number, so closing what it has passed moves
        // nothing that it has still to list.
        while ((got = Raw(SYS_getdents64, folder, reinterpret_cast<long>(entries), sizeof entries)) > 0) {
            for (long at = 0; at < got;) {
                const KernelDirent *entry = reinterpret_cast<const KernelDirent *>(entries + at);
                at += entry->length;
                long fd = 0;
                const char *digit = entry->name;
                for (; *digit >= '0' && *digit <= '9'; ++digit) fd = fd * 10 + (*digit - '0');
                if (digit != entry->name && fd > 2 && fd != folder && !RawKept(fd, keep, count)) Raw(SYS_close, fd);
            }
        }
        Raw(SYS_close, folder);
        if (got == 0) return;
    }
    rlimit limit = {1024, 1024};
    Raw(SYS_getrlimit, RLIMIT_NOFILE, reinterpret_cast<long>(&limit));
    const long last = limit.rlim_cur > (1L << 20) ? (1L << 20) : static_cast<long>(limit.rlim_cur);
    for (long fd = 3; fd < last; ++fd) {
        if (!RawKept(fd, keep, count)) Raw(SYS_close, fd);
    }
}

// Closes every descriptor from 3 up but those in keep (count of them, each
// 3 or above, or negative for none): a child of the module holds only what
// it uses, whatever the host opened, with or without close-on-exec.
ENCBRIDGE_RAW_CHILD void RawCloseAllBut(const int *keep, int count) {
    int sorted[8];
    int kept = 0;
    for (int i = 0; i < count && kept < 8; ++i) {
        if (keep[i] < 3) continue;
        int at = kept++;
        for (; at > 0 && sorted[at - 1] > keep[i]; --at) sorted[at] = sorted[at - 1];
        sorted[at] = keep[i];
    }
#ifdef SYS_close_range
    long from = 3;
    bool closed = true;
    for (int i = 0; i <= kept && closed; ++i) {
        const unsigned long to = i < kept ? static_cast<unsigned long>(sorted[i]) - 1 : ~0UL;
        if (static_cast<unsigned long>(from) <= to) closed = Raw(SYS_close_range, from, static_cast<long>(to), 0) == 0;
        if (i < kept) from = sorted[i] + 1;
    }
    if (closed) return;  // Linux 5.9 and later
#endif
    RawCloseOneByOne(sorted, kept);
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
    if (plan.standardOutput >= 0) Raw(SYS_dup2, plan.standardOutput, 1);
    if (plan.standardError >= 0) Raw(SYS_dup2, plan.standardError, 2);
    // The report of a failed execve goes through execError, which is
    // close-on-exec; the encoder gets nothing else.
    RawCloseAllBut(&execError, 1);
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
    // Only the launcher's own descriptors stay: none of the host's (the
    // folder's lock, the WAV file being written), and none of the other
    // launchers' pipes, or the host's end would reach this launcher only
    // once those launchers had ended.
    const int own[] = {plan.standardInput, plan.standardOutput, plan.standardError, plan.reportWrite, plan.lifeRead};
    RawCloseAllBut(own, 5);
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
    // The module reads the encoder's pipes to their end: only the encoder
    // (and what it starts) may hold their write ends.
    if (plan.standardOutput >= 0) Raw(SYS_close, plan.standardOutput);
    if (plan.standardError >= 0 && plan.standardError != plan.standardOutput) Raw(SYS_close, plan.standardError);
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
