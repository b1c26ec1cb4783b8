// One rip through the module: the host's records, the delivery of the audio,
// and what came of it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cue_image.h"
#include "host_options.h"
#include "interface/plugin_interface.h"
#include "plugin_module.h"
#include "progress.h"

namespace host {

struct RipTrack {
    ImageTrack image;
    bool selected = true;
    std::string fileName;   // final name without folder and extension
    std::string finalPath;  // where the module's worker moves the encoded file
};

// The records a ripping host hands to Create; they must stay put until Kill.
struct HostRecords {
    std::unique_ptr<AlbumInfo> album;
    std::vector<TrackInfo> tracks;
};

// outputFolder ends with "/".
HostRecords MakeRecords(const CueAlbum &cue, const std::vector<RipTrack> &tracks, const std::string &outputFolder);

struct RipTimes {
    double delivering = 0;  // from Create to the start of the album's last call
    double waiting = 0;     // the album's last call, which waits for the encoder
};

// Delivers every track through SetData, pieces of options.pieceSize bytes,
// ending each track as options.endBy says. Create must have succeeded. False
// with a message in error when the module refuses a delivery or the image
// cannot be read.
bool DeliverAlbum(PluginModule &module, AudioImage &image, const std::vector<RipTrack> &tracks,
                  const HostOptions &options, Progress &progress, RipTimes &times, std::string &error);

}  // namespace host
