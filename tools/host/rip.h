// One rip through the module: the host's records, the delivery of the audio,
// and what came of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cue_image.h"
#include "encbridge/plugin.h"
#include "host_options.h"
#include "plugin_module.h"
#include "progress.h"

namespace host {

struct RipTrack {
    ImageTrack image;
    bool selected = true;
    bool resumed = false;                 // selected, but every output lies under its final name already
    std::string notResumed;               // --resume: why the files at its final names were not taken
    std::string fileName;                 // final name without folder and extension
    std::vector<std::string> finalPaths;  // one per output: where the module moves each encoded file
};

// The records a ripping host hands to Create; they must stay put until Kill.
struct HostRecords {
    std::unique_ptr<AlbumInfo> album;
    std::vector<TrackInfo> tracks;
};

// outputFolder ends with "/".
HostRecords MakeRecords(const CueAlbum &cue, const std::vector<RipTrack> &tracks, const std::string &outputFolder);

// The encoders at work, as far as a host can tell from outside the module:
// the temporary outputs in folder (each track's, by its place in the list
// from 1, as the module that tools belong to names them) that are plain files
// written to within the last kWritingSeconds before now. An encoder that has
// not yet made its output is not counted, nor, once it is that old, an
// output that a failed encoder left behind. Outputs that are the WAV file
// itself (extension .wav), which the delivery writes too, are not counted;
// -1 when every output is.
constexpr int kWritingSeconds = 2;
bool OutputIsTheWav(const std::string &extension);
int CountEncodersWriting(const EncbridgeToolTable &tools, const std::string &folder,
                         const std::vector<std::string> &extensions, int trackCount, std::time_t now);

struct RipTimes {
    double delivering = 0;  // from Create to the start of the album's last call
    double waiting = 0;     // the album's last call, which waits for the encoder
};

// Delivers every track through SetData, pieces of options.pieceSize bytes,
// ending each track as options.endBy says. Create must have succeeded. False
// with a message in error when the module refuses a delivery or the image
// cannot be read.
// outputsPerTrack: the files each track should give. encoders: the count of
// encoders at work that progress shows (-1: unknown).
// reached: the place of the track whose delivery failed (every track before
// it was ended), or the count of tracks.
// stop: once non-zero, no more audio is delivered, and a wait in the album's
// last call is ended by Kill from another thread; the delivery then fails.
bool DeliverAlbum(PluginModule &module, AudioImage &image, const std::vector<RipTrack> &tracks,
                  const HostOptions &options, int outputsPerTrack, const std::function<int()> &encoders,
                  Progress &progress, RipTimes &times, const std::atomic<int> &stop, std::size_t &reached,
                  std::string &error);

// Whether the module is handed track to write: selected, and not resumed.
bool TrackToWrite(const RipTrack &track);

}  // namespace host
