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

}  // namespace platform
}  // namespace encbridge
