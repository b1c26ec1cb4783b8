// The encoder worker: the one background thread of a rip, which encodes
// every finished track in track order into each configured output, up to
// JOBS encoder processes at a time, moves each output to its track's final
// name, and once the album is done runs each output's album step. It reads
// only the part of the rip that it is given (shared_rip.h). Its steps are
// in output_run.h (one output of one track) and album_steps.h (the album's
// end); this file holds its loop and its thread's life.
#pragma once

#include <atomic>
#include <cstdint>

#include "encoder/shared_rip.h"
#include "platform/platform.h"

namespace encbridge {

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
