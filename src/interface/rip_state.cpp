#include "interface/rip_state.h"

#include "platform/platform.h"

namespace encbridge {

RipState rip;

std::int32_t TrackCount() { return rip.trackCount; }

const TrackInfo &Track(std::int32_t index) { return rip.info->tracks[index]; }

}  // namespace encbridge
