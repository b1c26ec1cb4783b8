// What the Linux layer's threads and events offer its process code beyond
// platform.h: an event is an eventfd that a poll can wait on beside an
// encoder's end.
#pragma once

#include <poll.h>

#include <cstdint>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

struct Event {
    int fd;
    bool autoReset;
};

// A millisecond count that only moves forward, in full.
std::int64_t MonotonicMilliseconds();

// Polls the descriptors for up to milliseconds (-1: no limit), going on
// after a signal. The count of ready descriptors, 0 on time-out.
int PollFor(pollfd *fds, nfds_t count, int milliseconds);

}  // namespace platform
}  // namespace encbridge
