#include <pthread.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// The process whose rip this is: the one that loaded the library, or a
// child of fork() once it has forgotten its parent's rip. A child has a copy
// of the rip but not its worker, and shares the worker's event descriptors
// with its parent: anything it raised, the parent's worker would see.
pid_t ripProcess = 0;

void TakeLockBeforeFork() { (void)encbridge::platform::LockModule(); }

void GiveLockBackInParent() { encbridge::platform::UnlockModule(); }

void ForgetRipInChild() {
    encbridge::OnForkedChild();
    ripProcess = getpid();
    encbridge::platform::UnlockModule();
}

}  // namespace

__attribute__((constructor)) static void LoadModule() {
    ripProcess = getpid();
    // A child of fork() leaves the parent's rip to the parent: it starts as
    // if no rip had begun. The fork waits for a call of the module that
    // another thread is in, so that the child's copy of the rip is whole.
    pthread_atfork(TakeLockBeforeFork, GiveLockBackInParent, ForgetRipInChild);
}

// Unloading does what Kill does, which includes stopping the encoder worker
// and waiting for it to end. The library is linked with -z nodelete, so this
// runs when the process exits, never while its code could still be in use.
// A child made without fork()'s handlers (a raw clone) that exits does
// nothing here: the rip is its parent's.
__attribute__((destructor)) static void UnloadModule() {
    if (getpid() != ripProcess) return;
    encbridge::OnModuleUnload(false);
}
