#include <windows.h>

#include <cstring>
#include <new>

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

Process *StartProcess(const char *commandLine, std::int32_t hideWindow) {
    Process *process = new (std::nothrow) Process;
    // CreateProcessA may write into the command line it is given.
    char *line = new (std::nothrow) char[std::strlen(commandLine) + 1];
    if (process == nullptr || line == nullptr) {
        delete process;
        delete[] line;
        return nullptr;
    }
    std::strcpy(line, commandLine);

    STARTUPINFOA start;
    std::memset(&start, 0, sizeof start);
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESHOWWINDOW;
    start.wShowWindow = hideWindow != 0 ? SW_HIDE : SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION started;
    std::memset(&started, 0, sizeof started);
    BOOL ok = CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &start,
                             &started);
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
