// Events between the host's thread and the encoder worker, and the worker
// thread itself.
#include "platform/win/threads.h"

#include <atomic>
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

void ClearEvent(Event *event) { ResetEvent(event->handle); }

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

// A kernel mutex, made on first use and kept until the module is unloaded:
// unlike a critical section, one that a thread held when it was ended
// (TerminateThread, or the process's exit before a host component's
// DLL_PROCESS_DETACH calls Kill) is taken over by the next waiter. And it
// never needs the loader's lock.
std::atomic<HANDLE> moduleMutex{nullptr};

HANDLE ModuleMutex() {
    HANDLE mutex = moduleMutex.load(std::memory_order_acquire);
    if (mutex != nullptr) return mutex;
    HANDLE made = CreateMutexA(nullptr, FALSE, nullptr);
    if (made == nullptr) return nullptr;
    if (!moduleMutex.compare_exchange_strong(mutex, made)) {
        CloseHandle(made);
        return mutex;
    }
    return made;
}

}  // namespace

bool LockModule() {
    HANDLE mutex = ModuleMutex();
    if (mutex == nullptr) return false;
    // Abandoned: its holder is gone, and the lock is this thread's now.
    const DWORD result = WaitForSingleObject(mutex, INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void UnlockModule() { ReleaseMutex(moduleMutex.load(std::memory_order_acquire)); }

void DiscardModuleLock() {
    HANDLE mutex = moduleMutex.exchange(nullptr);
    if (mutex != nullptr) CloseHandle(mutex);
}

ModuleHold *HoldModule() {
    // The thread's own reference to the module: a host's FreeLibrary while
    // the worker runs then leaves the module mapped until the worker ends.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&HoldModule), &module)) {
        return nullptr;
    }
    return reinterpret_cast<ModuleHold *>(module);
}

void ReleaseModuleHold(ModuleHold *hold) {
    if (hold != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(hold));
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
    // Readers of the encoders' pipes that had not left the module's code
    // when the worker was done with them: the module stays until they have.
    AwaitLeavingReaders();
    // Dropping the thread's reference may unload the module; the thread must
    // not return into code that is gone, so it ends inside the system call.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

WorkerThread *StartWorkerThread(void (*body)(void *), void *argument, ModuleHold *&hold) {
    if (hold == nullptr) return nullptr;
    WorkerThread *worker = new (std::nothrow) WorkerThread;
    if (worker == nullptr) return nullptr;
    worker->body = body;
    worker->argument = argument;
    worker->module = reinterpret_cast<HMODULE>(hold);
    worker->finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (worker->finished == nullptr) {
        delete worker;
        return nullptr;
    }
    // CreateThread directly: msvcrt.dll sets up and frees its per-thread data
    // by itself, and the toolchain's C++ library has no threads.
    worker->thread = CreateThread(nullptr, 0, RunWorker, worker, 0, nullptr);
    if (worker->thread == nullptr) {
        CloseHandle(worker->finished);
        delete worker;
        return nullptr;
    }
    hold = nullptr;
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
