// The name under which a track's encoded output is kept.
#pragma once

#include "interface/plugin_interface.h"

namespace encbridge {

// Whether the track's final name, its file name followed by extension, may be
// joined to the output folder. The file name comes from the host, and so
// from CD-Text or an online database: it must not lead into another folder
// (it holds no path separator, nor does the extension), and it must not be
// one of the module's temporary names ("#temp(" digits ")" at its start, in
// any case), or the output of one track would be moved to where the WAV file
// or the output of another is written.
bool UsableFinalName(const TrackInfo &track, const char *extension);

}  // namespace encbridge
