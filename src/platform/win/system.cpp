// Time, the system's words for an error, and what the system tells of this
// process.
#include <windows.h>

#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {
namespace platform {

std::uint32_t Milliseconds() { return GetTickCount(); }

std::int32_t ProcessorCount() {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
    std::int32_t count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
}

void SleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

void UtcTimeText(char (&out)[24]) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FormatText(out, sizeof out, "%d-%02d-%02dT%02d:%02d:%02dZ",
               {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

void ErrorText(std::int32_t code, char *out, std::size_t size) {
    char words[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), 0, words, sizeof words, nullptr);
    std::size_t kept = length < sizeof words ? length : 0;
    // The system's texts end with a line break, and often a full stop.
    while (kept > 0 &&
           (words[kept - 1] == '\r' || words[kept - 1] == '\n' || words[kept - 1] == ' ' || words[kept - 1] == '.')) {
        --kept;
    }
    words[kept] = '\0';
    FormatText(out, size, "%s", {FormatArg(kept > 0 ? words : "unknown error", sizeof words)});
}

std::uint32_t ProcessId() { return GetCurrentProcessId(); }

}  // namespace platform
}  // namespace encbridge
