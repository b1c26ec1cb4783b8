#include <pthread.h>
#include <signal.h>

#include <new>

#include "platform/platform.h"
#include "platform/posix/process_posix.h"

namespace encbridge {
namespace platform {

// The library is linked with -z nodelete and its destructor joins the
// worker, so the worker's code stays mapped for as long as it runs.
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

WorkerThread *StartWorkerThread(void (*body)(void *), void *argument) {
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
