// The encoder worker: the one background thread of a rip, which encodes
// every finished track in track order, one encoder process at a time, and
// moves each output to its track's final name.
#pragma once

#include <atomic>

#include "interface/plugin_interface.h"

namespace encbridge {

namespace platform {
struct Event;
}

// The start record of the worker. There is one, module-wide.
struct WorkerStart {
    // Written by the host's thread only; the worker leaves at its next look.
    std::atomic<bool> stopRequested;
    AlbumInfo *info;
    // Raised together with stopRequested, so that a worker that waits for a
    // track or for the encoder wakes at once.
    platform::Event *wake;
};

// Starts the worker for info, after stopping any earlier one.
// workerRunning is raised before the thread exists. Whether a worker could
// be started is not reported: without one the WAV files are still written.
void StartEncoderWorker(AlbumInfo *info);

// Raises stopRequested, ends a running encoder and removes its unfinished
// output, and returns once the worker has ended. Does nothing when no
// worker was started. Called from the host's thread only.
void StopEncoderWorker();

// The worker's body; startRecord is the WorkerStart.
void EncoderWorker(void *startRecord);

}  // namespace encbridge
