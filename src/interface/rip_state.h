// The module-wide state of the one rip that runs from Create to Kill, and the
// operations of the host interface on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "encoder/encoder_worker.h"
#include "interface/plugin_interface.h"
#include "platform/format.h"
#include "settings/plugin_settings.h"
#include "wavfile/track_file.h"

namespace encbridge {

namespace platform {
struct FolderLock;
}

struct RipState {
    // False until a Create succeeds, and again from the moment a later Create
    // begins to change the rip or Kill ends it: SetData refuses while false.
    bool active;
    std::FILE *trackFile;
    AlbumInfo *info;
    // One buffer per track of the album it was made for; entry i holds the
    // temporary base name of track i once its file was opened.
    PathBuffer *tempBases;
    // One entry per track, made with tempBases: what became of its outputs.
    TrackOutputs *outputs;
    // trackCount as it was when tempBases was made; the rip never looks
    // beyond it, whatever the host's record says later.
    std::int32_t trackCount;
    // Written by the host's thread only. Raised with release once a track's
    // file is finished and closed, which publishes that file and its name to
    // the encoder worker.
    std::atomic<std::int32_t> currentTrack;
    // Written at the start of every track file.
    TrackHeader header;
    bool skipTrack;
    // Held in the output folder from Create to Kill.
    platform::FolderLock *folderLock;
    // Loaded by Create; the worker reads them until it has ended.
    PluginSettings settings;
    // Opened by Create, closed by Kill or the next Create; written by the
    // worker while it runs, and by the host's thread only meanwhile not.
    RipJournal journal;
    // Counts the module's Create calls that read settings: a rip's number
    // in its journal records.
    std::uint32_t ripNumber;
};

extern RipState rip;

// The track count and the track records of the current rip.
std::int32_t TrackCount();
const TrackInfo &Track(std::int32_t index);

// Opens the file of the current track, if it is processed, under the
// track's temporary name, once whatever lay under that name was moved
// aside. 1 or 0; a track whose file could not be opened is never encoded.
std::int32_t OpenCurrentTrack();
// Writes the true sizes into the current track's file and closes it.
void FinishCurrentTrack();
// Closes the current track's file as it stands: 0, or -1 when closing
// failed. Nothing open gives 0.
std::int32_t CloseCurrentTrack();
// Closes the current track's file after a failed write: the track lacks
// audio, so it is never encoded nor published; its WAV stays as written.
void AbandonCurrentTrack();
// Moves the rip to the next track; after the last one, waits for the encoder
// worker. 1 or 0.
std::int32_t AdvanceTrack();

}  // namespace encbridge
