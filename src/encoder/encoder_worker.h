// The encoder worker: the one background thread of a rip, which encodes
// every finished track in track order into each configured output, up to
// JOBS encoder processes at a time, moves each output to its track's final
// name, and once the album is done runs each output's album step. It reads
// only the part of the rip that it is given.
#pragma once

#include <atomic>
#include <cstdint>

#include "encoder/journal.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "records/host_records.h"
#include "settings/plugin_settings.h"
#include "settings/rip_tags.h"

namespace encbridge {

// Where one track of the rip stands. Until the count of finished tracks
// passes a track, only the host's thread changes it; from then on, only the
// worker.
enum class TrackState : std::uint8_t {
    NotWritten,  // skipped, not reached, or its file could not be opened or written
    Writing,     // its WAV file is open under its temporary name
    Finished,    // its WAV file is whole and closed: the worker may encode it
    Encoding,    // some output was tried, and not every one has ended
    Kept,        // every output has ended, some not at its final name: the WAV stays
    Published,   // every output reached its final name; the WAV stays
    Removed,     // every output reached its final name, and the WAV went
};

// One track of the rip.
struct RipTrack {
    TrackState state;
    // The temporary base name, set when its file is opened.
    PathBuffer base;
    // Per output, bit n for settings output n: its encoder has ended (or
    // never started), and it has reached its final name.
    std::uint16_t ended;
    std::uint16_t published;
    bool wavIsOutput;  // an encoder rewrites the WAV file itself
    // An output was published but could not be put on disk: the WAV file
    // stays, the one copy of the audio known to survive a power cut.
    bool notOnDisk;
    // Keeps the encoders from changing the WAV file, from the start of the
    // track's first encoder until every one has ended; not held otherwise,
    // and when the WAV file is the output.
    platform::FileGuard wavGuard;
    // Why the system refused to create or write its WAV file, when it did.
    platform::SystemError writeError;
};

// What the worker reads of the rip; the exported functions hold the rest.
// All of it stays put from the worker's start until it has ended, but the
// count of finished tracks and the entries of tracks that it passes.
struct SharedRip {
    const AlbumInfo *album;
    // The count that tracks was made for: no record beyond it is read.
    std::int32_t trackCount;
    RipTrack *tracks;
    // How many tracks the host's thread has finished; raised with release
    // once a track's file is finished and closed, which hands that track's
    // entry to the worker.
    std::atomic<std::int32_t> finishedTracks;
    // Loaded by Create; the worker reads them until it has ended.
    PluginSettings settings;
    // What the settings file tells of the album and its tracks, read with
    // them.
    RipTags tags;
    // Opened by Create, closed by Kill or the next Create; written by the
    // worker while it runs, and by the host's thread only meanwhile not.
    RipJournal journal;
};

// Makes the rip's entries for count tracks, all NotWritten; false when
// there is no memory for them. Releases earlier ones first.
bool MakeRipTracks(SharedRip &rip, std::int32_t count);
void ReleaseRipTracks(SharedRip &rip);

// Starts the worker for rip, after stopping any earlier one; the worker
// reads rip until it has ended, and takes hold over. Whether a worker could
// be started is not reported: without one the WAV files are still written.
// Start and stop are called with the module's lock held.
void StartEncoderWorker(SharedRip &rip, platform::ModuleHold *&hold);

// Raises stopRequested, ends a running encoder and removes its unfinished
// output, and returns once the worker has ended. Does nothing when no
// worker was started. Called from any thread, also while the host's thread
// waits in WaitForEncoderWorker.
void StopEncoderWorker();

// Once the module is being unloaded for good and no worker runs: releases
// the events kept from one worker to the next.
void ReleaseEncoderWorkerEvents();

// In a forked child, where the worker's thread does not exist and its
// events are the parent's: forgets them without raising or closing any.
void ForgetEncoderWorker();

// Wakes a worker that waits for the track that finishedTracks has just
// passed. Called from the host's thread after raising it.
void WakeEncoderWorker();

// Whether a worker runs. Called from the host's thread.
bool EncoderWorkerRunning();
// The worker that runs now, or ran last: taken with the module's lock held,
// and waited for once it is let go.
std::uint32_t CurrentEncoderWorker();
// Returns once worker which no longer runs: true when it ended by itself,
// false when it was stopped (a Kill from another thread) or a later one was
// started. Called from the host's thread, without the module's lock.
bool WaitForEncoderWorker(std::uint32_t which);

// Each wait of the worker and of the host's thread looks again at the
// shared values after this long even when no wake-up came, as a fallback.
// Tests set platform::kWaitForever, so that a lost wake-up shows as a hang.
// Set before Create.
void SetWaitFallback(std::uint32_t milliseconds);

}  // namespace encbridge
