#include <windows.h>

#include <cstring>
#include <new>

#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {
namespace platform {

struct Event {
    HANDLE handle;
};

struct Process {
    HANDLE handle;
};

namespace {

Event *NewEvent(BOOL manualReset) {
    Event *event = new (std::nothrow) Event;
    if (event == nullptr) return nullptr;
    event->handle = CreateEventA(nullptr, manualReset, FALSE, nullptr);
    if (event->handle == nullptr) {
        delete event;
        return nullptr;
    }
    return event;
}

}  // namespace

Event *CreateWakeEvent() { return NewEvent(TRUE); }

// An auto-reset event stays signalled until a wait releases a thread, so a
// SetEvent before the wait begins is kept for it.
Event *CreateAutoResetEvent() { return NewEvent(FALSE); }

void RaiseEvent(Event *event) { SetEvent(event->handle); }

bool WaitForEvent(Event *event, std::uint32_t milliseconds) {
    static_assert(kWaitForever == INFINITE, "the same value means no time limit");
    return WaitForSingleObject(event->handle, milliseconds) == WAIT_OBJECT_0;
}

void DestroyEvent(Event *event) {
    if (event == nullptr) return;
    CloseHandle(event->handle);
    delete event;
}

namespace {

// cmd.exe from the system folder, never looked up on the PATH or in the
// current folder. False when its path does not fit.
bool CommandShellPath(char (&path)[MAX_PATH]) {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return false;
    FormatStatus status = FormatStatus::Failed;
    FormatText(path, sizeof path, "%s%s", {folder, "\\cmd.exe"}, &status);
    return status == FormatStatus::Complete;
}

}  // namespace

Process *StartProcess(const char *commandLine, bool throughCommandShell, std::int32_t hideWindow) {
    char shell[MAX_PATH];
    if (throughCommandShell && !CommandShellPath(shell)) return nullptr;
    // /d: no AutoRun commands of the registry; /v:OFF: '!' is text; /c with
    // the whole line in quotes, which cmd.exe removes before it reads on.
    static const char kShellPrefix[] = "cmd.exe /e:ON /v:OFF /d /c \"";
    const std::size_t size = std::strlen(commandLine) + sizeof kShellPrefix + 1;
    Process *process = new (std::nothrow) Process;
    // CreateProcessA may write into the command line it is given.
    char *line = new (std::nothrow) char[size];
    if (process == nullptr || line == nullptr) {
        delete process;
        delete[] line;
        return nullptr;
    }
    if (throughCommandShell) {
        FormatText(line, size, "%s%s%s", {kShellPrefix, FormatArg(commandLine, size), "\""});
    } else {
        FormatText(line, size, "%s", {FormatArg(commandLine, size)});
    }

    STARTUPINFOA start;
    std::memset(&start, 0, sizeof start);
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESHOWWINDOW;
    start.wShowWindow = hideWindow != 0 ? SW_HIDE : SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION started;
    std::memset(&started, 0, sizeof started);
    BOOL ok = CreateProcessA(throughCommandShell ? shell : nullptr, line, nullptr, nullptr, FALSE,
                             NORMAL_PRIORITY_CLASS, nullptr, nullptr, &start, &started);
    delete[] line;
    if (!ok) {
        delete process;
        return nullptr;
    }
    CloseHandle(started.hThread);
    process->handle = started.hProcess;
    return process;
}

ProcessWait WaitForProcessOrEvent(Process *process, Event *stop) {
    HANDLE handles[2] = {process->handle, stop->handle};
    DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0 + 1) return ProcessWait::Stopped;
    // Should the double wait fail, the process is still waited for: a second
    // encoder must never start beside the first.
    if (result != WAIT_OBJECT_0) WaitForSingleObject(process->handle, INFINITE);
    return ProcessWait::Exited;
}

void EndProcess(Process *process) {
    if (WaitForSingleObject(process->handle, 0) == WAIT_OBJECT_0) return;
    TerminateProcess(process->handle, 1);
    // Termination completes asynchronously; the process's files are closed
    // only once its handle is signalled.
    WaitForSingleObject(process->handle, INFINITE);
}

bool ProcessExitCode(Process *process, std::uint32_t *code) {
    DWORD value = 0;
    // STILL_ACTIVE is also what a process that is not known to have ended
    // reports, so it never counts as an exit code.
    if (!GetExitCodeProcess(process->handle, &value) || value == STILL_ACTIVE) return false;
    *code = value;
    return true;
}

void CloseProcess(Process *process) {
    if (process == nullptr) return;
    CloseHandle(process->handle);
    delete process;
}

}  // namespace platform
}  // namespace encbridge
