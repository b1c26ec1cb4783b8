// The two records through which a ripping host describes an album, as the
// module reads them. They are declared, with their fixed layout, in the
// hosts' own header, encbridge/plugin.h.
#pragma once

#include "encbridge/plugin.h"

namespace encbridge {

// Processed tracks are written and encoded; every other track is skipped.
inline bool IsProcessed(const TrackInfo &track) { return track.status == 1 && track.marked != 0; }

}  // namespace encbridge
