// Events between the host's thread and the encoder worker, and the worker
// thread itself.
#include "platform/win/threads.h"

#include <new>

namespace encbridge {
namespace platform {

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

Event *CreateManualResetEvent() { return NewEvent(TRUE); }

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

struct WorkerThread {
    HANDLE thread;
    // Raised once body has returned: from then on the thread touches nothing
    // of the module but the few instructions that lead into
    // FreeLibraryAndExitThread, and those stay mapped through its reference.
    HANDLE finished;
    HMODULE module;
    void (*body)(void *);
    void *argument;
};

namespace {

DWORD WINAPI RunWorker(LPVOID parameter) {
    WorkerThread *worker = static_cast<WorkerThread *>(parameter);
    worker->body(worker->argument);
    // The record may be released as soon as finished is raised.
    HMODULE module = worker->module;
    SetEvent(worker->finished);
    // Dropping the thread's reference may unload the module; the thread must
    // not return into code that is gone, so it ends inside the system call.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

WorkerThread *StartWorkerThread(void (*body)(void *), void *argument) {
    WorkerThread *worker = new (std::nothrow) WorkerThread;
    if (worker == nullptr) return nullptr;
    worker->body = body;
    worker->argument = argument;
    worker->finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (worker->finished == nullptr) {
        delete worker;
        return nullptr;
    }
    // The thread's own reference to the module: a host's FreeLibrary while
    // the worker runs then leaves the module mapped until the worker ends.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&RunWorker),
                            &worker->module)) {
        CloseHandle(worker->finished);
        delete worker;
        return nullptr;
    }
    // CreateThread directly: msvcrt.dll sets up and frees its per-thread data
    // by itself, and the toolchain's C++ library has no threads.
    worker->thread = CreateThread(nullptr, 0, RunWorker, worker, 0, nullptr);
    if (worker->thread == nullptr) {
        FreeLibrary(worker->module);
        CloseHandle(worker->finished);
        delete worker;
        return nullptr;
    }
    return worker;
}

void JoinWorkerThread(WorkerThread *worker) {
    if (worker == nullptr) return;
    // Waiting for the thread alone could deadlock inside DllMain, where the
    // loader lock is held and a thread cannot finish exiting; body returning
    // is all that matters to the module. But at process exit the system ends
    // the thread wherever it was, and finished is never raised: its end
    // counts too (a host component may call Kill from its own
    // DLL_PROCESS_DETACH then).
    HANDLE either[2] = {worker->finished, worker->thread};
    WaitForMultipleObjects(2, either, FALSE, INFINITE);
    CloseHandle(worker->thread);
    CloseHandle(worker->finished);
    delete worker;
}

// Windows has no fork: every worker record belongs to this process.
void ForgetWorkerThread(WorkerThread *worker) { JoinWorkerThread(worker); }

}  // namespace platform
}  // namespace encbridge
