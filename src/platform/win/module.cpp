#include <windows.h>

#include "platform/platform.h"

// Unloading does what Kill does. Nothing here may wait for a thread: the
// loader lock is held, and a thread cannot finish exiting without it. Kill
// waits only until the encoder worker's body has returned, and by the time
// the module is unloaded it has: the worker holds a reference to the module
// until then.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // At process exit (reserved non-null) other threads are already gone and
    // the process's memory goes with it; only a FreeLibrary needs the cleanup.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        encbridge::OnModuleUnload(true);
        encbridge::platform::DiscardModuleLock();
    }
    return TRUE;
}
