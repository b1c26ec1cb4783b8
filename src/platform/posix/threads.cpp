// Events between the host's thread and the encoder worker, and the worker
// thread itself.
#include "platform/posix/threads.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "platform/posix/process.h"

namespace encbridge {
namespace platform {

int PollFor(pollfd *fds, nfds_t count, int milliseconds) {
    const std::int64_t deadline = MonotonicMilliseconds() + milliseconds;
    for (;;) {
        int ready = poll(fds, count, milliseconds);
        if (ready >= 0 || errno != EINTR) return ready;
        if (milliseconds >= 0) {
            std::int64_t left = deadline - MonotonicMilliseconds();
            milliseconds = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

namespace {

bool EventRaised(Event *event, int milliseconds) {
    pollfd fd = {event->fd, POLLIN, 0};
    return PollFor(&fd, 1, milliseconds) > 0;
}

Event *NewEvent(bool autoReset) {
    Event *event = new (std::nothrow) Event;
    if (event == nullptr) return nullptr;
    event->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    event->autoReset = autoReset;
    if (event->fd < 0) {
        delete event;
        return nullptr;
    }
    return event;
}

}  // namespace

// The eventfd's counter is the event's state: a raise adds to it, and it
// stays readable until it is read back to zero. A raise before a wait is
// therefore kept for it.
Event *CreateManualResetEvent() { return NewEvent(false); }

Event *CreateAutoResetEvent() { return NewEvent(true); }

void RaiseEvent(Event *event) {
    std::uint64_t one = 1;
    ssize_t ignored = write(event->fd, &one, sizeof one);
    (void)ignored;
}

bool WaitForEvent(Event *event, std::uint32_t milliseconds) {
    int limit = milliseconds == kWaitForever ? -1 : static_cast<int>(std::min(milliseconds, 0x7FFFFFFFu));
    if (!EventRaised(event, limit)) return false;
    if (event->autoReset) {
        // Reading takes every raise so far at once. One that comes after
        // the read counts for the next wait: the waiter looks at what it
        // waits for only after this wait has returned.
        std::uint64_t count = 0;
        ssize_t ignored = read(event->fd, &count, sizeof count);
        (void)ignored;
    }
    return true;
}

void ClearEvent(Event *event) {
    std::uint64_t count = 0;
    ssize_t ignored = read(event->fd, &count, sizeof count);  // non-blocking: nothing raised leaves it as it is
    (void)ignored;
}

void DestroyEvent(Event *event) {
    if (event == nullptr) return;
    close(event->fd);
    delete event;
}

namespace {

// A fork takes it first and both sides give it back (module.cpp), so that
// a child never inherits it held, nor a rip half torn down by another
// thread.
pthread_mutex_t moduleLock = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

bool LockModule() { return pthread_mutex_lock(&moduleLock) == 0; }

void UnlockModule() { pthread_mutex_unlock(&moduleLock); }

void DiscardModuleLock() {}

// The library is linked with -z nodelete and its destructor joins the
// worker, so the worker's code stays mapped for as long as it runs: a hold
// needs nothing behind it.
struct ModuleHold {};

ModuleHold *HoldModule() {
    static ModuleHold always;
    return &always;
}

void ReleaseModuleHold(ModuleHold *) {}

struct WorkerThread {
    pthread_t thread;
    void (*body)(void *);
    void *argument;
};

namespace {

void *RunWorker(void *parameter) {
    WorkerThread *worker = static_cast<WorkerThread *>(parameter);
    worker->body(worker->argument);
    return nullptr;
}

}  // namespace

WorkerThread *StartWorkerThread(void (*body)(void *), void *argument, ModuleHold *&) {
    WorkerThread *worker = new (std::nothrow) WorkerThread;
    if (worker == nullptr) return nullptr;
    worker->body = body;
    worker->argument = argument;
    // The worker takes none of the host's signals: they stay with the
    // threads that the host's handlers expect. A thread inherits the mask
    // of the one that creates it.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    int failed = pthread_create(&worker->thread, nullptr, RunWorker, worker);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failed != 0) {
        delete worker;
        return nullptr;
    }
    return worker;
}

void JoinWorkerThread(WorkerThread *worker) {
    if (worker == nullptr) return;
    pthread_join(worker->thread, nullptr);
    delete worker;
}

void ForgetWorkerThread(WorkerThread *worker) {
    ForgetProcessInChild();
    delete worker;
}

}  // namespace platform
}  // namespace encbridge
