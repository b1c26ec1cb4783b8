// What the Linux layer's process code offers beyond platform.h: what a
// forked child does.
#pragma once

#include "platform/platform.h"

namespace encbridge {
namespace platform {

// In a forked child: releases the child's copies of what the running
// encoder's record holds, touching neither the encoder nor its launcher.
void ForgetProcessInChild();

}  // namespace platform
}  // namespace encbridge
