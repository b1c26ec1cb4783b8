// The wait that the Linux build falls back on where the kernel gives no
// process descriptor. Declared here so that tests reach it directly.
#pragma once

#include "platform/platform.h"

namespace encbridge {
namespace platform {

// Looks at the process and the event in turn, every 20 ms.
ProcessWait WaitByPolling(Process *process, Event *stop);

}  // namespace platform
}  // namespace encbridge
