#include "encoder/encoder_worker.h"

#include <cstdint>

#include "encoder/album_steps.h"
#include "encoder/journal.h"
#include "encoder/output_run.h"
#include "encoder/shared_rip.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"

namespace encbridge {
namespace {

// The control block of the one worker, module-wide: how the host's threads
// and the worker reach each other. Its events are made for the first worker
// and kept for the module's life: a host's thread that waits on one may be
// ended where it waits (TerminateThread), and so no count of waiters could
// tell when one may go.
struct WorkerControl {
    // [host's threads] raise it; the worker leaves at its next look.
    std::atomic<bool> stopRequested;
    // [host's threads] raise it before the worker's thread exists; [worker
    // thread] clears it when it ends.
    std::atomic<bool> running;
    // [host's threads] raise it at every start: which worker the host's last
    // delivery waits for.
    std::atomic<std::uint32_t> generation;
    // [host's threads] set before the worker starts.
    SharedRip *rip;
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

// Everything of the worker's that outlives a call: the one object of
// mutable state on the worker's side of the module.
struct WorkerSide {
    WorkerControl control;
    // [host's threads, the module's lock held]
    platform::WorkerThread *thread;
    // [worker thread] only.
    RunBuffers buffers;
};

// All zero until a worker starts, and so kept out of the module's file.
WorkerSide workerSide;

// How long a wait goes without a look at the shared values, should the
// wake-up that ends it never come: a setting of the tests' (made before
// Create), not the state of either side.
std::atomic<std::uint32_t> waitFallback{500};
// Its control block, as the host's side's calls name it.
WorkerControl &worker = workerSide.control;

std::uint32_t WaitFallback() { return waitFallback.load(std::memory_order_relaxed); }

bool Stopping(const WorkerControl &control) { return control.stopRequested.load(std::memory_order_acquire); }

// Whether an output's run ended published is all the album's progress
// needs of it.
void RecordOutput(const RunContext &context, const RunningEncoder &run, const RunEnd &end, Reason reason,
                  AlbumProgress &progress) {
    if (!EndOutput(context, run, end, reason)) progress.failed[run.output] = true;
}

void EncoderWorker(void *side) {
    WorkerSide &own = *static_cast<WorkerSide *>(side);
    WorkerControl &control = own.control;
    const SharedRip &rip = *control.rip;
    const RunContext context = {rip, control.stopRequested, control.stop, waitFallback, own.buffers};
    const std::int32_t count = rip.trackCount;
    const std::int32_t outputCount = rip.settings.outputCount;
    const std::int32_t jobs = rip.settings.jobs;  // 1 to kMostJobs, as loaded
    RunningEncoder running[kMostJobs];
    platform::Process *processes[kMostJobs];
    AlbumProgress progress = {};
    std::int32_t runningCount = 0;
    std::int32_t next = 0;        // the first track not started nor passed
    std::int32_t nextOutput = 0;  // and the first of its outputs not started
    while (!Stopping(control)) {
        // Acquire: seeing a track passed means seeing its finished, closed
        // file and its temporary name too.
        const std::int32_t finished = rip.finishedTracks.load(std::memory_order_acquire);
        // Finished tracks start in track order, each output in turn, while a
        // slot is free; skipped ones are passed at once, and no record
        // beyond the count is read.
        while (runningCount < jobs && next < count && !Stopping(control)) {
            if (!IsProcessed(rip.album->tracks[next])) {
                ++next;
                continue;
            }
            if (next >= finished) break;
            progress.anyProcessed = true;
            RunningEncoder &run = running[runningCount];
            RunEnd end;
            const Reason reason = StartEncoder(context, next, nextOutput, run, end);
            if (reason == Reason::Done) {
                // What a tool shows of the encoders at work comes from here.
                JournalRunStart(rip.journal, own.buffers.journal, next + 1, rip.settings.outputs[nextOutput].number);
                ++runningCount;
            } else {
                RecordOutput(context, run, end, reason, progress);
            }
            if (++nextOutput == outputCount) {
                nextOutput = 0;
                ++next;
            }
        }
        if (runningCount == 0 && next >= count && finished >= count) {
            RunAlbumSteps(context, progress);
            break;
        }
        // An encoder's end, a stop, or, while a slot is free and the host
        // still delivers, the next finished track.
        for (std::int32_t i = 0; i < runningCount; ++i) processes[i] = running[i].process;
        platform::Event *events[2] = {control.stop, control.trackFinished};
        const bool awaitTrack = runningCount < jobs && finished < count;
        const int woken = platform::WaitForAny(processes, static_cast<std::size_t>(runningCount), events,
                                               awaitTrack ? 2 : 1, WaitFallback());
        if (woken >= 0 && woken < runningCount) {
            RunningEncoder &run = running[woken];
            RunEnd end;
            const Reason reason =
                run.verifier != nullptr ? FinishVerify(context, run, end) : FinishEncoder(context, run, end);
            if (reason == Reason::Done && run.process != nullptr) continue;  // its verify line runs in the slot
            RecordOutput(context, run, end, reason, progress);
            run = running[--runningCount];
        }
    }
    // All at once: a stop with many encoders takes no longer than with one.
    for (std::int32_t i = 0; i < runningCount; ++i) processes[i] = running[i].process;
    platform::EndProcesses(processes, static_cast<std::size_t>(runningCount));
    for (std::int32_t i = 0; i < runningCount; ++i) {
        StopEncoder(context, running[i]);
        RecordOutput(context, running[i], {RunEnd::Kind::Stopped, 0}, Reason::Stopped, progress);
    }
    // A stop leaves tracks of which some outputs never started.
    for (std::int32_t i = 0; i < count; ++i) platform::ReleaseFile(rip.tracks[i].wavGuard);
    JournalRipEnd(context, next, nextOutput);
    control.running.store(false, std::memory_order_release);
    // After the store: a host that wakes must find running cleared.
    platform::RaiseEvent(control.ended);
}

}  // namespace

void WakeEncoderWorker() {
    if (worker.trackFinished != nullptr) platform::RaiseEvent(worker.trackFinished);
}

bool EncoderWorkerRunning() { return worker.running.load(std::memory_order_acquire); }

std::uint32_t CurrentEncoderWorker() { return worker.generation.load(); }

bool WaitForEncoderWorker(std::uint32_t which) {
    // The events exist while running is raised, and stay for the module's
    // life. A Kill from another thread stops the worker meanwhile; a later
    // worker is not this one, and no wait for it.
    while (worker.generation.load() == which && EncoderWorkerRunning()) {
        platform::WaitForEvent(worker.ended, WaitFallback());
    }
    const bool stopped = worker.stopRequested.load();
    return !stopped && worker.generation.load() == which;
}

void SetWaitFallback(std::uint32_t milliseconds) { waitFallback.store(milliseconds, std::memory_order_relaxed); }

namespace {

void DestroyEvents() {
    platform::DestroyEvent(worker.stop);
    platform::DestroyEvent(worker.trackFinished);
    platform::DestroyEvent(worker.ended);
    worker.stop = nullptr;
    worker.trackFinished = nullptr;
    worker.ended = nullptr;
}

// The events, made once and taken down for each worker. False when the
// system has none to give: no worker then.
bool ReadyEvents() {
    if (worker.stop == nullptr) worker.stop = platform::CreateManualResetEvent();
    if (worker.trackFinished == nullptr) worker.trackFinished = platform::CreateAutoResetEvent();
    if (worker.ended == nullptr) worker.ended = platform::CreateManualResetEvent();
    if (worker.stop == nullptr || worker.trackFinished == nullptr || worker.ended == nullptr) return false;
    platform::ClearEvent(worker.stop);
    platform::ClearEvent(worker.trackFinished);
    platform::ClearEvent(worker.ended);
    return true;
}

}  // namespace

void StartEncoderWorker(SharedRip &rip, platform::ModuleHold *&hold) {
    StopEncoderWorker();
    // First: a delivery that still waits for an earlier worker leaves.
    worker.generation.fetch_add(1);
    worker.stopRequested.store(false);
    worker.rip = &rip;
    if (!ReadyEvents()) return;
    // Raised before the thread exists, so that a host that delivers the
    // whole album before the worker first runs still waits for all
    // encoding.
    worker.running.store(true, std::memory_order_release);
    workerSide.thread = platform::StartWorkerThread(EncoderWorker, &workerSide, hold);
    if (workerSide.thread == nullptr) worker.running.store(false, std::memory_order_release);
}

void StopEncoderWorker() {
    if (workerSide.thread == nullptr) return;
    worker.stopRequested.store(true);
    platform::RaiseEvent(worker.stop);
    platform::RaiseEvent(worker.trackFinished);
    // Waits for the body only, never for the thread's exit, and so is safe
    // while the module is being unloaded. A delivery that waits for the
    // worker in another thread sees it gone and leaves; the events stay.
    platform::JoinWorkerThread(workerSide.thread);
    workerSide.thread = nullptr;
}

void ReleaseEncoderWorkerEvents() {
    if (workerSide.thread == nullptr) DestroyEvents();
}

void ForgetEncoderWorker() {
    if (workerSide.thread != nullptr) platform::ForgetWorkerThread(workerSide.thread);
    workerSide.thread = nullptr;
    // Closing this process's copies of the descriptors raises nothing; a
    // worker of this process makes its own.
    DestroyEvents();
    worker.running.store(false, std::memory_order_relaxed);
}

}  // namespace encbridge
