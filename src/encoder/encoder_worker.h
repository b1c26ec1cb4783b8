// The encoder worker: the one background thread of a rip, which encodes
// every finished track in track order into each configured output, up to
// JOBS encoder processes at a time, moves each output to its track's final
// name, and once the album is done runs each output's album step. It reads
// only what it is given.
#pragma once

#include <atomic>
#include <cstdint>

#include "encoder/journal.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "records/host_records.h"
#include "settings/plugin_settings.h"

namespace encbridge {

namespace platform {
struct Event;
}  // namespace platform

// What became of one track's outputs: bit n stands for settings output n.
struct TrackOutputs {
    std::uint16_t ended;      // its encoder has ended, or never started
    std::uint16_t published;  // it has reached its final name
    bool wavIsOutput;         // its encoder rewrites the WAV file itself
    // Keeps the encoders from changing the WAV file, from the start of the
    // track's first encoder until every one has ended; not held otherwise,
    // and when the WAV file is the output.
    platform::FileGuard wavGuard;
    bool wavDeleted;  // every output was kept, and the WAV went
};

// What the worker encodes from. All of it belongs to the rip and stays put,
// unchanged, from the worker's start until it has ended; only the count of
// finished tracks moves on.
struct WorkerInputs {
    const AlbumInfo *album;
    // The count that tempBases was made for: no record beyond it is read.
    std::int32_t trackCount;
    // Entry i: track i's temporary base name, set before finishedTracks
    // passes i, and empty when its file could not be opened or written.
    const PathBuffer *tempBases;
    // How many tracks the host's thread has finished; raised with release
    // once a track's file is finished and closed.
    const std::atomic<std::int32_t> *finishedTracks;
    const PluginSettings *settings;
    // Entry i: what became of track i's outputs so far, all zero at the
    // start; written by the worker only.
    TrackOutputs *outputs;
    // Where the rip's records go; its file may be null.
    const RipJournal *journal;
};

// The control block of the one worker, module-wide. Its events live exactly
// as long as the worker's thread: made before it starts, and destroyed only
// once its body has returned, so that neither side can use one that is gone.
struct WorkerControl {
    // Written by the host's thread only; the worker leaves at its next look.
    std::atomic<bool> stopRequested;
    // Raised before the worker's thread exists, and cleared by the worker
    // when it ends.
    std::atomic<bool> running;
    WorkerInputs inputs;
    // Raised together with stopRequested and stays raised, so that a worker
    // that waits for the encoder wakes at once.
    platform::Event *stop;
    // Raised by the host's thread whenever finishedTracks passes a track, and
    // by a stop: what the worker waits on while a track is not finished.
    platform::Event *trackFinished;
    // Raised by the worker once it has cleared running: what the host's last
    // delivery of an album waits on.
    platform::Event *ended;
};

// Starts the worker for inputs, after stopping any earlier one. running is
// raised before the thread exists. Whether a worker could be started is not
// reported: without one the WAV files are still written.
void StartEncoderWorker(const WorkerInputs &inputs);

// Raises stopRequested, ends a running encoder and removes its unfinished
// output, and returns once the worker has ended. Does nothing when no
// worker was started. Called from the host's thread, or by a Kill from
// another thread while the host's thread waits in WaitForEncoderWorker.
void StopEncoderWorker();

// In a forked child, where the worker's thread does not exist and its
// events are the parent's: forgets them without raising or closing any.
void ForgetEncoderWorker();

// Wakes a worker that waits for the track that finishedTracks has just
// passed. Called from the host's thread after raising it.
void WakeEncoderWorker();

// Whether a worker runs. Called from the host's thread.
bool EncoderWorkerRunning();
// Returns once no worker runs: true when the worker ended by itself, false
// when it was stopped (a Kill from another thread). Called from the host's
// thread.
bool WaitForEncoderWorker();

// Each wait of the worker and of the host's thread looks again at the
// shared values after this long even when no wake-up came, as a fallback.
// Tests set platform::kWaitForever, so that a lost wake-up shows as a hang.
// Set before Create.
void SetWaitFallback(std::uint32_t milliseconds);

// The worker's body; control is the WorkerControl.
void EncoderWorker(void *control);

}  // namespace encbridge
