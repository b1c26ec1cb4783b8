// The encoder worker: the one background thread of a rip, which encodes
// every finished track in track order, one encoder process at a time, and
// moves each output to its track's final name.
#pragma once

#include <atomic>
#include <cstdint>

#include "interface/plugin_interface.h"

namespace encbridge {

namespace platform {
struct Event;
}

// The start record of the worker. There is one, module-wide. Its events
// live exactly as long as the worker's thread: made before it starts, and
// destroyed only once its body has returned, so that neither side can use
// one that is gone.
struct WorkerStart {
    // Written by the host's thread only; the worker leaves at its next look.
    std::atomic<bool> stopRequested;
    AlbumInfo *info;
    // Raised together with stopRequested and stays raised, so that a worker
    // that waits for the encoder wakes at once.
    platform::Event *stop;
    // Raised by the host's thread whenever currentTrack passes a track, and
    // by a stop: what the worker waits on while a track is not finished.
    platform::Event *trackFinished;
    // Raised by the worker once it has cleared workerRunning: what the
    // host's last delivery of an album waits on.
    platform::Event *ended;
};

// Starts the worker for info, after stopping any earlier one.
// workerRunning is raised before the thread exists. Whether a worker could
// be started is not reported: without one the WAV files are still written.
void StartEncoderWorker(AlbumInfo *info);

// Raises stopRequested, ends a running encoder and removes its unfinished
// output, and returns once the worker has ended. Does nothing when no
// worker was started. Called from the host's thread, or by a Kill from
// another thread while the host's thread waits in WaitForEncoderWorker.
void StopEncoderWorker();

// In a forked child, where the worker's thread does not exist and its
// events are the parent's: forgets them without raising or closing any.
void ForgetEncoderWorker();

// Wakes a worker that waits for the track that currentTrack has just
// passed. Called from the host's thread after raising currentTrack.
void WakeEncoderWorker();

// Returns once workerRunning is cleared: true when the worker ended by
// itself, false when it was stopped (a Kill from another thread). Called
// from the host's thread.
bool WaitForEncoderWorker();

// Each wait of the worker and of the host's thread looks again at the
// shared values after this long even when no wake-up came, as a fallback.
// Tests set platform::kWaitForever, so that a lost wake-up shows as a hang.
// Set before Create.
void SetWaitFallback(std::uint32_t milliseconds);

// The worker's body; startRecord is the WorkerStart.
void EncoderWorker(void *startRecord);

}  // namespace encbridge
