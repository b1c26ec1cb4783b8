// Time, the system's words for an error, and what the system tells of this
// process.
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/format.h"
#include "platform/platform.h"
#include "platform/posix/threads.h"

namespace encbridge {
namespace platform {

std::int64_t MonotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::uint32_t Milliseconds() { return static_cast<std::uint32_t>(MonotonicMilliseconds()); }

std::int32_t ProcessorCount() {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) return CPU_COUNT(&allowed);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::int32_t>(online) : 1;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void UtcTimeText(char (&out)[24]) {
    const time_t now = time(nullptr);
    struct tm parts;
    if (gmtime_r(&now, &parts) == nullptr) {
        FormatText(out, sizeof out, "%s", {"-"});
        return;
    }
    FormatText(out, sizeof out, "%d-%02d-%02dT%02d:%02d:%02dZ",
               {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec});
}

void ErrorText(std::int32_t code, char *out, std::size_t size) {
    char words[128] = {};
    // The GNU strerror_r returns its text, which may not be words.
    const char *text = strerror_r(code, words, sizeof words);
    FormatText(out, size, "%s", {FormatArg(text != nullptr ? text : "unknown error", sizeof words)});
}

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(getpid()); }

}  // namespace platform
}  // namespace encbridge
