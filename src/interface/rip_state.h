// The module-wide state of the one rip that runs from Create to Kill, and the
// operations of the host interface on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "interface/plugin_interface.h"

namespace encbridge {

constexpr std::size_t kPathCapacity = 260;
using PathBuffer = char[kPathCapacity];

struct RipState {
    // False until a Create succeeds, and again from the moment a later Create
    // begins to change the rip or Kill ends it: SetData refuses while false.
    bool active;
    std::FILE *trackFile;
    AlbumInfo *info;
    // One buffer per track of the album it was made for; entry i holds the
    // temporary base name of track i once its file was opened.
    PathBuffer *tempBases;
    // trackCount as it was when tempBases was made; the rip never looks
    // beyond it, whatever the host's record says later.
    std::int32_t trackCount;
    // Written by the host's thread only. Raised with release once a track's
    // file is finished and closed, which publishes that file and its name to
    // the encoder worker.
    std::atomic<std::int32_t> currentTrack;
    std::uint8_t *headerBytes;
    std::int32_t headerLength;
    std::uint8_t headerTemplate[44];
    // Where the sizes lie within headerBytes, or -1 where it holds none.
    std::int32_t riffSizeOffset;
    std::int32_t dataSizeOffset;
    bool skipTrack;
    // Raised by StartEncoderWorker before the worker's thread exists, and
    // cleared by the worker when it ends.
    std::atomic<bool> workerRunning;
};

extern RipState rip;

// The track count and the track records of the current rip.
std::int32_t TrackCount();
const TrackInfo &Track(std::int32_t index);
// Processed tracks are written and encoded; every other track is skipped.
bool IsProcessed(const TrackInfo &track);

// Moves the rip to the next track; after the last one, waits for the encoder
// worker. 1 or 0.
std::int32_t AdvanceTrack();

// What unloading the module does: the same as Kill.
void OnModuleUnload();

// In a child that the host forked: forgets the parent's rip, its worker and
// its open file without touching any of them, so that nothing the child
// does (a Kill, its exit) reaches the parent's rip.
void OnForkedChild();

}  // namespace encbridge
