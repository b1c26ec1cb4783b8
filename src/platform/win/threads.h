// What the Windows layer's events offer its process code beyond
// platform.h: an event is a handle that a wait can take beside an
// encoder's.
#pragma once

#include <windows.h>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

struct Event {
    HANDLE handle;
};

// Waits until every reader of an encoder's pipe that was let go while it
// could still run the module's code (a thread cannot finish leaving while
// the loader's lock is held elsewhere) has ended, and releases what they
// kept. The worker's thread calls it once its body has returned, before it
// gives up its hold on the module.
void AwaitLeavingReaders();

}  // namespace platform
}  // namespace encbridge
