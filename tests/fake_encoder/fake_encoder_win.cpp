#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include <cstdio>

#include "fake_encoder.h"

namespace fake_encoder {

std::string DescribeStart() {
    STARTUPINFOA start;
    GetStartupInfoA(&start);
    std::string lines = "show-window-flag " + std::to_string((start.dwFlags & STARTF_USESHOWWINDOW) != 0 ? 1 : 0) +
                        "\nshow-mode " + std::to_string(start.wShowWindow) + "\n";
    lines += std::string("command-line ") + GetCommandLineA() + "\n";
    // The arguments as a program that reads its wide command line sees them,
    // given back in the ANSI code page.
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide != nullptr && i < count; ++i) {
        char text[4096] = {};
        WideCharToMultiByte(CP_ACP, 0, wide[i], -1, text, sizeof text - 1, nullptr, nullptr);
        lines += std::string("wide-arg ") + text + "\n";
    }
    LocalFree(wide);
    lines += "pid " + std::to_string(GetCurrentProcessId()) + "\n";
    return lines;
}

void BinaryStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

std::string InheritableDescriptors() { return std::string(); }

void AppendToFile(const std::string &path, const std::string &text) {
    // Append-only access writes at the end whatever another run wrote
    // meanwhile; the lock keeps two runs from doing so at the same moment.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED range = {};
    range.OffsetHigh = 0x7FFFFFFF;
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range) != FALSE;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (locked) UnlockFileEx(file, 0, 1, 0, &range);
    CloseHandle(file);
}

bool CreateExclusive(const std::string &path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

void IgnoreTerm() {}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

bool LinkTo(const std::string &target, const std::string &link, bool) {
    return CreateHardLinkA(link.c_str(), target.c_str(), nullptr) != FALSE;
}

bool CopyMode(const std::string &from, const std::string &to) {
    const DWORD attributes = GetFileAttributesA(from.c_str());
    const DWORD target = GetFileAttributesA(to.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || target == INVALID_FILE_ATTRIBUTES) return false;
    const DWORD readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    return SetFileAttributesA(to.c_str(), (target & ~DWORD{FILE_ATTRIBUTE_READONLY}) | readOnly) != FALSE;
}

unsigned long LeaveHangingChild(const char *program) {
    std::string line = std::string("\"") + program + "\" --hang";
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started;
    if (!CreateProcessA(program, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &started)) return 0;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return started.dwProcessId;
}

void Crash() {
    TerminateProcess(GetCurrentProcess(), 0xC0000005u);  // as an access violation ends a program
    ExitProcess(0xC0000005u);
}

}  // namespace fake_encoder
