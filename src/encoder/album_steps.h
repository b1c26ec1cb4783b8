// What the worker does once the album's tracks are done with: each output's
// album step, and the rip's last journal record. Every function here is
// [worker thread].
#pragma once

#include <cstdint>

#include "encbridge/limits.h"
#include "encoder/output_run.h"

namespace encbridge {

// What the worker knows of the album while it runs.
struct AlbumProgress {
    // Per output: some processed track of the album lacks it.
    bool failed[kMostOutputs];
    bool anyProcessed;
};

// Once every track is done with: the album step of each output that every
// processed track has under its final name, one after another. A step
// whose output lacks a track is journaled as not run.
void RunAlbumSteps(const RunContext &context, const AlbumProgress &progress);

// The rip's last record: its tracks done and the WAV files kept, and for a
// stopped rip, a record of every finished track whose encoders had not yet
// started (from output nextOutput of track next on).
void JournalRipEnd(const RunContext &context, std::int32_t next, std::int32_t nextOutput);

}  // namespace encbridge
