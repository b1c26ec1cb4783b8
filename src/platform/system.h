// The system's reason for a failure, the time, and the process's own facts.
// Part of the thin layer over the operating system (see platform.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace encbridge {
namespace platform {

// ---- The system's reason for a failure -------------------------------------
// errno on Linux, GetLastError() on Windows, as the failing call left it; 0
// when no system call failed. ErrorText gives its words. Each call below
// that takes one fills it when it fails, when it is given.
struct SystemError {
    std::int32_t code;
};
inline void KeepError(SystemError *error, std::int32_t code) {
    if (error != nullptr) error->code = code;
}

// ---- Processors --------------------------------------------------------------
// How many processors this process may run on; at least 1.
std::int32_t ProcessorCount();

// ---- Time --------------------------------------------------------------
void SleepMilliseconds(std::uint32_t milliseconds);

// ---- Time and errors ---------------------------------------------------------
// A millisecond count that only moves forward; it wraps, so only the
// difference of two readings means anything.
std::uint32_t Milliseconds();
// The time now, UTC, as "2026-12-07T14:05:03Z", into out.
void UtcTimeText(char (&out)[24]);
// The system's words for an error code (a SystemError's, or StartProcess's),
// into out.
void ErrorText(std::int32_t code, char *out, std::size_t size);
// This process's id.
std::uint32_t ProcessId();

}  // namespace platform
}  // namespace encbridge
