// The last words of a started program, as both builds keep them: a ring of
// kMessageTailCapacity bytes, written by one reader of its pipe at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

struct MessageTail {
    char bytes[kMessageTailCapacity];
    std::uint64_t count;  // written in all
};

inline void KeepMessage(MessageTail &tail, const char *bytes, std::size_t count) {
    // Of a piece longer than the ring, only its end would stay.
    if (count > kMessageTailCapacity) {
        tail.count += count - kMessageTailCapacity;
        bytes += count - kMessageTailCapacity;
        count = kMessageTailCapacity;
    }
    for (std::size_t i = 0; i < count; ++i) tail.bytes[tail.count++ % kMessageTailCapacity] = bytes[i];
}

// The last bytes kept, at most capacity of them, in the order written.
inline std::size_t CopyMessages(const MessageTail &tail, char *out, std::size_t capacity) {
    std::size_t count = tail.count < kMessageTailCapacity ? static_cast<std::size_t>(tail.count) : kMessageTailCapacity;
    if (count > capacity) count = capacity;
    for (std::size_t i = 0; i < count; ++i) out[i] = tail.bytes[(tail.count - count + i) % kMessageTailCapacity];
    return count;
}

}  // namespace platform
}  // namespace encbridge
