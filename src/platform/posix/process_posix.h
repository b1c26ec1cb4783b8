// What the Linux layer's process code offers beyond platform.h: the wait
// that it falls back on (declared here so that tests reach it directly), and
// what a forked child does.
#pragma once

#include "platform/platform.h"

namespace encbridge {
namespace platform {

// Looks at the process and the event in turn, every 20 ms.
ProcessWait WaitByPolling(Process *process, Event *stop);

// In a forked child: releases the child's copies of what the running
// encoder's record holds, touching neither the encoder nor its launcher.
void ForgetProcessInChild();

}  // namespace platform
}  // namespace encbridge
