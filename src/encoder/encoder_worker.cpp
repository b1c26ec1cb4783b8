#include "encoder/encoder_worker.h"

#include <cstring>

#include "encoder/command_line.h"
#include "encoder/final_name.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "wavfile/temp_names.h"

namespace encbridge {
namespace {

WorkerControl worker;
platform::WorkerThread *workerThread = nullptr;

// How long a wait goes without a look at the shared values, should the
// wake-up that ends it never come.
std::atomic<std::uint32_t> waitFallback{500};

// The host's threads inside WaitForEncoderWorker: at most the one that
// delivers the album's end, while Kill may come from another.
std::atomic<int> hostWaits{0};

std::uint32_t WaitFallback() { return waitFallback.load(std::memory_order_relaxed); }

bool Stopping(const WorkerControl &control) { return control.stopRequested.load(std::memory_order_acquire); }

// A track whose encoder runs, with the names its steps use.
struct RunningTrack {
    platform::Process *process;
    std::int32_t index;
    PathBuffer wavPath;
    PathBuffer outputPath;
    PathBuffer finalPath;
    // With ".wav" as the output extension (or any name the file system
    // takes for the same file: ".WAV" on Windows) the encoder rewrites the
    // WAV file itself, which then is the output, and nothing may remove it.
    bool outputIsWav;
};

// Starts the encoder of track index, whose WAV file is finished and closed.
// False when no encoder runs for it: the track is not encoded, and its WAV
// file stays.
bool StartTrack(const WorkerControl &control, std::int32_t index, RunningTrack &run) {
    const WorkerInputs &inputs = control.inputs;
    const PluginSettings &settings = *inputs.settings;
    const AlbumInfo &album = *inputs.album;
    const TrackInfo &track = album.tracks[index];
    const char *base = inputs.tempBases[index];
    if (base[0] == '\0') return false;  // the track's file was never opened, or not whole
    run.index = index;
    const FormatArg baseArg(base, kPathCapacity);
    // A final name that leads elsewhere is no better than a cut one.
    if (!UsableFinalName(track, settings.outputExtension) ||
        !FormatWhole(run.wavPath, sizeof run.wavPath, "%s%s", {baseArg, ".wav"}) ||
        !FormatWhole(run.outputPath, sizeof run.outputPath, "%s%s", {baseArg, settings.outputExtension}) ||
        !FormatWhole(run.finalPath, sizeof run.finalPath, "%s%s%s",
                     {album.outputFolder, track.fileName, settings.outputExtension})) {
        return false;
    }
    CommandBuffer command;
    if (!FormatWhole(command, sizeof command, "%s", {settings.commandTemplate})) return false;
    // A cut command line could drop the output path, or cut a path down to
    // that of another file; an unsafe one would let a value act: neither is
    // ever run.
    const bool batchFile = platform::RunsThroughCommandShell(settings.encoderPath);
    if (BuildCommandLine(settings.encoderPath, batchFile ? CommandStyle::BatchFile : CommandStyle::Arguments, command,
                         run.wavPath, run.outputPath, album, index) != CommandStatus::Complete) {
        return false;
    }
    run.outputIsWav = platform::SameFile(run.wavPath, run.outputPath);
    // Whatever lies under the output's name (an earlier rip's output, a
    // link) is moved aside, so that what is published later is a file that
    // this run's encoder made.
    if (!run.outputIsWav && !ClearTheWay(run.outputPath, album.outputFolder, sizeof album.outputFolder, index + 1,
                                         settings.outputExtension, sizeof settings.outputExtension)) {
        return false;
    }
    run.process = platform::StartProcess(command, batchFile, settings.hideWindow);
    return run.process != nullptr;
}

// The steps after a track's encoder has ended. The WAV file is deleted only
// once the encoder's output has reached the track's final name: after a
// non-zero exit, a stop or a failed move it stays, and so does the output of
// a run that did not succeed.
void FinishTrack(const WorkerControl &control, RunningTrack &run) {
    const PluginSettings &settings = *control.inputs.settings;
    const AlbumInfo &album = *control.inputs.album;
    std::uint32_t exitCode = 0;
    const bool succeeded = platform::ProcessExitCode(run.process, &exitCode) && exitCode == 0;
    platform::CloseProcess(run.process);
    run.process = nullptr;
    if (!succeeded || Stopping(control)) return;
    // An encoder that reports success but left an empty file (one that
    // ignores a full disk does) has encoded nothing; one that left a link
    // (to the WAV file, or anywhere) has made no file of its own.
    if (platform::InspectEntry(run.outputPath) != platform::EntryKind::PlainFile) return;
    if (!MakeFinalFolders(album.outputFolder, sizeof album.outputFolder, album.tracks[run.index])) return;
    if (!platform::MoveFileNoReplace(run.outputPath, run.finalPath)) return;
    if (Stopping(control)) return;
    if (settings.deleteWav != 0 && !run.outputIsWav) platform::RemoveFile(run.wavPath);
}

// A stop: the encoder and whatever it started end, and its partial output
// goes; the WAV file stays.
void StopTrack(RunningTrack &run) {
    platform::EndProcess(run.process);
    platform::CloseProcess(run.process);
    run.process = nullptr;
    if (!run.outputIsWav) platform::RemoveFile(run.outputPath);
}

}  // namespace

void EncoderWorker(void *controlBlock) {
    WorkerControl &control = *static_cast<WorkerControl *>(controlBlock);
    const WorkerInputs &inputs = control.inputs;
    const std::int32_t count = inputs.trackCount;
    const std::int32_t jobs =
        inputs.settings->jobs < 1 ? 1 : (inputs.settings->jobs > kMostJobs ? kMostJobs : inputs.settings->jobs);
    RunningTrack running[kMostJobs];
    platform::Process *processes[kMostJobs];
    std::int32_t runningCount = 0;
    std::int32_t next = 0;  // the first track not started nor passed
    while (!Stopping(control)) {
        // Acquire: seeing a track passed means seeing its finished, closed
        // file and its temporary name too.
        const std::int32_t finished = inputs.finishedTracks->load(std::memory_order_acquire);
        // Finished tracks start in track order while a slot is free; skipped
        // ones are passed at once, and no record beyond the count is read.
        while (runningCount < jobs && next < count && !Stopping(control)) {
            if (!IsProcessed(inputs.album->tracks[next])) {
                ++next;
                continue;
            }
            if (next >= finished) break;
            if (StartTrack(control, next, running[runningCount])) ++runningCount;
            ++next;
        }
        if (runningCount == 0 && next >= count && finished >= count) break;
        // An encoder's end, a stop, or, while a slot is free and the host
        // still delivers, the next finished track.
        for (std::int32_t i = 0; i < runningCount; ++i) processes[i] = running[i].process;
        platform::Event *events[2] = {control.stop, control.trackFinished};
        const bool awaitTrack = runningCount < jobs && finished < count;
        const int woken = platform::WaitForAny(processes, static_cast<std::size_t>(runningCount), events,
                                               awaitTrack ? 2 : 1, WaitFallback());
        if (woken >= 0 && woken < runningCount) {
            FinishTrack(control, running[woken]);
            running[woken] = running[--runningCount];
        }
    }
    for (std::int32_t i = 0; i < runningCount; ++i) StopTrack(running[i]);
    control.running.store(false, std::memory_order_release);
    // After the store: a host that wakes must find running cleared. The
    // event outlives this raise, since it is destroyed only once this body
    // has returned.
    platform::RaiseEvent(control.ended);
}

void WakeEncoderWorker() {
    if (worker.trackFinished != nullptr) platform::RaiseEvent(worker.trackFinished);
}

bool EncoderWorkerRunning() { return worker.running.load(std::memory_order_acquire); }

bool WaitForEncoderWorker() {
    // running is raised only while a worker and its events exist: after they
    // were made, and until the worker's body clears it on its way out, before
    // anything destroys them. A Kill from another thread stops the worker
    // meanwhile; it destroys the events only once this wait has left them
    // (hostWaits).
    hostWaits.fetch_add(1);
    while (EncoderWorkerRunning()) platform::WaitForEvent(worker.ended, WaitFallback());
    const bool stopped = worker.stopRequested.load(std::memory_order_acquire);
    hostWaits.fetch_sub(1);
    return !stopped;
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

}  // namespace

void StartEncoderWorker(const WorkerInputs &inputs) {
    StopEncoderWorker();
    worker.stopRequested.store(false, std::memory_order_relaxed);
    worker.inputs = inputs;
    worker.stop = platform::CreateManualResetEvent();
    worker.trackFinished = platform::CreateAutoResetEvent();
    worker.ended = platform::CreateManualResetEvent();
    if (worker.stop == nullptr || worker.trackFinished == nullptr || worker.ended == nullptr) {
        DestroyEvents();
        return;
    }
    // Raised before the thread exists, so that a host that delivers the
    // whole album before the worker first runs still waits for all
    // encoding.
    worker.running.store(true, std::memory_order_release);
    workerThread = platform::StartWorkerThread(EncoderWorker, &worker);
    if (workerThread == nullptr) {
        worker.running.store(false, std::memory_order_release);
        DestroyEvents();
    }
}

void StopEncoderWorker() {
    if (workerThread == nullptr) return;
    worker.stopRequested.store(true, std::memory_order_release);
    platform::RaiseEvent(worker.stop);
    platform::RaiseEvent(worker.trackFinished);
    // Waits for the body only, never for the thread's exit, and so is safe
    // while the module is being unloaded.
    platform::JoinWorkerThread(workerThread);
    workerThread = nullptr;
    // A delivery that waits for the worker in another thread sees it gone
    // and leaves; only then do its events go.
    while (hostWaits.load() != 0) platform::SleepMilliseconds(1);
    DestroyEvents();
}

void ForgetEncoderWorker() {
    if (workerThread == nullptr) return;
    platform::ForgetWorkerThread(workerThread);
    workerThread = nullptr;
    // Closing this process's copies of the descriptors raises nothing.
    DestroyEvents();
    worker.running.store(false, std::memory_order_relaxed);
}

}  // namespace encbridge
