// The launcher that starts the encoder on Linux (process_launch.cpp).
#pragma once

#include <cstdint>

namespace encbridge {
namespace platform {

// What the launcher reports through its pipe, two 32-bit numbers each: the
// kind, then a value.
constexpr std::int32_t kReportStarted = 1;     // value: the encoder's process id
constexpr std::int32_t kReportNotStarted = 2;  // value: the errno of the failure
constexpr std::int32_t kReportExited = 3;      // value: the encoder's wait status

// How long an encoder told to stop has before it is killed.
constexpr int kStopGraceMilliseconds = 300;

// Everything the children need, made ready by the module before the clone:
// after it, they allocate nothing. Every descriptor is 3 or above and
// close-on-exec.
struct LaunchPlan {
    const char *program;
    char *const *arguments;  // null-terminated, the program first
    int standardInput;       // /dev/null
    int standardOutput;      // a pipe's write end, or -1: the host's
    int standardError;       // a pipe's write end (maybe standardOutput's), or -1: the host's
    int reportRead, reportWrite;
    int lifeRead, lifeWrite;  // the module keeps the write end open while it lives
};

// Starts the launcher, which starts the encoder, in a process group of its
// own. Returns the launcher's process id, or -1 with errno; *pidfd gets a
// pidfd of the launcher where the kernel gives one (else -1). The launcher
// has no exit signal: reap it with waitid(..., WEXITED | __WALL).
long CloneLauncher(const LaunchPlan &plan, int *pidfd);

}  // namespace platform
}  // namespace encbridge
