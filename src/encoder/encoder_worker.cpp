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

// Formats into a path buffer; false when the result had to be cut, since a
// cut path could name another file.
bool FormPath(char (&path)[kPathCapacity], const char *pattern, std::initializer_list<FormatArg> args) {
    FormatStatus status = FormatStatus::Failed;
    FormatText(path, sizeof path, pattern, args, &status);
    return status == FormatStatus::Complete;
}

// Encodes track index, whose WAV file is finished and closed. The WAV file
// is deleted only once the encoder's output has reached the track's final
// name: after a failed start, a non-zero exit, a stop or a failed move it
// stays, and so does the output of a run that did not succeed.
void EncodeTrack(WorkerControl &control, std::int32_t index) {
    const WorkerInputs &inputs = control.inputs;
    const PluginSettings &settings = *inputs.settings;
    const AlbumInfo &album = *inputs.album;
    const TrackInfo &track = album.tracks[index];
    const char *base = inputs.tempBases[index];
    if (base[0] == '\0') return;  // the track's file was never opened
    const FormatArg baseArg(base, kPathCapacity);
    char wavPath[kPathCapacity];
    char outputPath[kPathCapacity];
    char finalPath[kPathCapacity];
    CommandBuffer command;
    // A final name that leads elsewhere is no better than a cut one: the
    // track is not encoded, and its WAV file stays.
    if (!UsableFinalName(track, settings.outputExtension) || !FormPath(wavPath, "%s%s", {baseArg, ".wav"}) ||
        !FormPath(outputPath, "%s%s", {baseArg, settings.outputExtension}) ||
        !FormPath(finalPath, "%s%s%s", {album.outputFolder, track.fileName, settings.outputExtension})) {
        return;
    }
    FormatStatus status = FormatStatus::Failed;
    FormatText(command, sizeof command, "%s", {settings.commandTemplate}, &status);
    if (status != FormatStatus::Complete) return;
    // A cut command line could drop the output path, or cut a path down to
    // that of another file; an unsafe one would let a value act: neither is
    // ever run.
    const bool batchFile = platform::RunsThroughCommandShell(settings.encoderPath);
    if (BuildCommandLine(settings.encoderPath, batchFile ? CommandStyle::BatchFile : CommandStyle::Arguments, command,
                         wavPath, outputPath, album, index) != CommandStatus::Complete) {
        return;
    }

    // With ".wav" as the output extension (or any name the file system
    // takes for the same file: ".WAV" on Windows) the encoder rewrites the
    // WAV file itself, which then is the output, and nothing may remove it.
    const bool outputIsWav = platform::SameFile(wavPath, outputPath);
    // Whatever lies under the output's name (an earlier rip's output, a
    // link) is moved aside, so that what is published later is a file that
    // this run's encoder made.
    if (!outputIsWav && !ClearTheWay(outputPath, album.outputFolder, sizeof album.outputFolder, index + 1,
                                     settings.outputExtension, sizeof settings.outputExtension)) {
        return;
    }
    platform::Process *process = platform::StartProcess(command, batchFile, settings.hideWindow);
    if (process == nullptr) return;
    if (platform::WaitForProcessOrEvent(process, control.stop) == platform::ProcessWait::Stopped) {
        platform::EndProcess(process);
        platform::CloseProcess(process);
        if (!outputIsWav) platform::RemoveFile(outputPath);
        return;
    }
    std::uint32_t exitCode = 0;
    const bool succeeded = platform::ProcessExitCode(process, &exitCode) && exitCode == 0;
    platform::CloseProcess(process);
    if (!succeeded || Stopping(control)) return;
    // An encoder that reports success but left an empty file (one that
    // ignores a full disk does) has encoded nothing; one that left a link
    // (to the WAV file, or anywhere) has made no file of its own.
    if (platform::InspectEntry(outputPath) != platform::EntryKind::PlainFile) return;
    if (!MakeFinalFolders(album.outputFolder, sizeof album.outputFolder, track)) return;
    if (!platform::MoveFileNoReplace(outputPath, finalPath)) return;
    if (Stopping(control)) return;
    if (settings.deleteWav != 0 && !outputIsWav) platform::RemoveFile(wavPath);
}

}  // namespace

void EncoderWorker(void *controlBlock) {
    WorkerControl &control = *static_cast<WorkerControl *>(controlBlock);
    const WorkerInputs &inputs = control.inputs;
    const std::int32_t count = inputs.trackCount;
    std::int32_t index = 0;
    while (!Stopping(control)) {
        // Acquire: seeing a track passed means seeing its finished, closed
        // file and its temporary name too.
        const std::int32_t finished = inputs.finishedTracks->load(std::memory_order_acquire);
        if (index >= count) {
            if (finished >= count) break;
            // Only skipped tracks are left and the host still delivers
            // them: no record is read.
            platform::WaitForEvent(control.trackFinished, WaitFallback());
            continue;
        }
        if (!IsProcessed(inputs.album->tracks[index])) {
            ++index;
            continue;
        }
        if (index >= finished) {
            platform::WaitForEvent(control.trackFinished, WaitFallback());
            continue;
        }
        EncodeTrack(control, index);
        ++index;
    }
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
    worker.stop = platform::CreateWakeEvent();
    worker.trackFinished = platform::CreateAutoResetEvent();
    worker.ended = platform::CreateWakeEvent();
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
