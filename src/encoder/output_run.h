// One output's run of one track, on the worker's thread: the encoder is
// started on the track's finished WAV file, its output checked and, when the
// output's settings ask, proven by a verify line, then moved to the track's
// final name (published), and the run's record journaled. A run reads the
// shared rip's album and settings only; of its tracks, it writes the entry
// of its own track, whose state changes through shared_rip.h. It looks at a
// stop flag that another thread may raise. Every function here is
// [worker thread].
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "encbridge/limits.h"
#include "encoder/command_line.h"
#include "encoder/journal.h"
#include "encoder/shared_rip.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "records/outcome.h"

namespace encbridge {

struct Verifier;

// The worker's buffers, too large for its stack on every system; one
// worker runs at a time.
struct RunBuffers {
    // The last words of the run that has just ended, kept until its record
    // is journaled, which comes before any other run's end is taken.
    char messages[platform::kMessageTailCapacity];
    // The album step's line.
    char albumLine[kLongestCommandLine];
    // The worker's own journal records.
    JournalBuffer journal;
};

// What each run is given.
struct RunContext {
    // Read only, but for the entry of the run's own track.
    const SharedRip &rip;
    // Raised by a host's thread to stop the worker; the run leaves at its
    // next look.
    const std::atomic<bool> &stopRequested;
    // Raised together with stopRequested and stays raised, so that a wait
    // for a program wakes at once.
    platform::Event *stop;
    // How long a wait goes without a look at the stop flag.
    const std::atomic<std::uint32_t> &waitFallback;
    RunBuffers &buffers;
};

// One output of one track whose encoder runs, with the names its steps use.
struct RunningEncoder {
    platform::Process *process;
    std::int32_t index;
    std::int32_t output;
    PathBuffer wavPath;
    PathBuffer outputPath;
    PathBuffer finalPath;
    // The line as it was run, or as far as it was built; empty when none.
    CommandBuffer command;
    std::uint32_t started;  // platform::Milliseconds() at its start
    // With ".wav" as the output extension (or any name the file system
    // takes for the same file: ".WAV" on Windows) the encoder rewrites the
    // WAV file itself, which then is the output, and nothing may remove it.
    bool outputIsWav;
    // Why the system refused what the run's reason names; 0: no such call.
    platform::SystemError system;
    // Published, but not shown to be on disk (system says why): its WAV
    // file stays.
    bool notOnDisk;
    // The slot's second step: once the encoder has succeeded, the output's
    // verify line runs in the same slot (process is then the verify
    // line's), read by verifier; null while the encoder runs.
    Verifier *verifier;
    CommandBuffer verifyCommand;  // as run, or as far as it was built; empty: none
    std::int32_t verifySample;    // the sample a failed verification is about; -1: none
    // The length of the run's last words in the buffers' messages, once it
    // has ended.
    std::size_t messageLength;
};

// Starts the encoder of settings output outputNumber of track index, which
// the count of finished tracks has passed. Reason::Done when it runs;
// otherwise why that output of the track is not made, with how it ended in
// end.
Reason StartEncoder(const RunContext &context, std::int32_t index, std::int32_t outputNumber, RunningEncoder &run,
                    RunEnd &end);
// After the encoder has ended: Reason::Done once the output is published,
// or its verify line runs in the slot (run.process is then the verify
// line's).
Reason FinishEncoder(const RunContext &context, RunningEncoder &run, RunEnd &end);
// After the verify line has ended: Reason::Done once the proven output is
// published.
Reason FinishVerify(const RunContext &context, RunningEncoder &run, RunEnd &end);
// After a stop has ended the run's program.
void StopEncoder(const RunContext &context, RunningEncoder &run);
// Journals the run and records it in its track's entry: true when the
// output was published.
bool EndOutput(const RunContext &context, const RunningEncoder &run, const RunEnd &end, Reason reason);

// What any program of the worker's is run with, album steps included.
bool Stopping(const RunContext &context);
// Keeps what an ended program said in the buffers' messages: its length.
std::size_t TakeMessages(const RunContext &context, const platform::Process *process);
Reason ReasonFor(CommandStatus status);
CommandStyle StyleFor(bool batchFile);
// Starts a complete line, an encoder's or an album step's: Reason::Done when
// it runs, else the system's error in end.
Reason StartLine(const char *line, bool batchFile, std::int32_t hideWindow, platform::Process *&process, RunEnd &end);
// How a process that has ended ended, before its record is closed.
RunEnd EndOf(platform::Process *process);
bool ExitedWithZero(const RunEnd &end);

}  // namespace encbridge
