// The two ways of moving a file that the Linux build falls back on when a
// file system cannot rename without replacing, or the move crosses file
// systems. Declared here so that tests reach them directly.
#pragma once

namespace encbridge {
namespace platform {

// link then unlink: fails, as the rename would, when to exists.
bool MoveByLinking(const char *from, const char *to);
// Copies into a new file that must not exist yet, then removes from.
bool MoveByCopying(const char *from, const char *to);

}  // namespace platform
}  // namespace encbridge
