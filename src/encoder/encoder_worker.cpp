#include "encoder/encoder_worker.h"

#include <cstring>

#include "encoder/command_line.h"
#include "encoder/final_name.h"
#include "interface/rip_state.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"

namespace encbridge {
namespace {

WorkerStart start;
platform::WorkerThread *workerThread = nullptr;

// How long a wait goes without a look at the shared values, should the
// wake-up that ends it never come.
std::atomic<std::uint32_t> waitFallback{500};

// The host's threads inside WaitForEncoderWorker: at most the one that
// delivers the album's end, while Kill may come from another.
std::atomic<int> hostWaits{0};

std::uint32_t WaitFallback() { return waitFallback.load(std::memory_order_relaxed); }

bool Stopping(const WorkerStart &record) { return record.stopRequested.load(std::memory_order_acquire); }

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
void EncodeTrack(WorkerStart &record, std::int32_t index) {
    const char *base = rip.tempBases[index];
    if (base[0] == '\0') return;  // the track's file was never opened
    const FormatArg baseArg(base, kPathCapacity);
    char wavPath[kPathCapacity];
    char outputPath[kPathCapacity];
    char finalPath[kPathCapacity];
    CommandBuffer command;
    // A final name that leads elsewhere is no better than a cut one: the
    // track is not encoded, and its WAV file stays.
    if (!UsableFinalName(record.info->tracks[index], settings.outputExtension) ||
        !FormPath(wavPath, "%s%s", {baseArg, ".wav"}) ||
        !FormPath(outputPath, "%s%s", {baseArg, settings.outputExtension}) ||
        !FormPath(finalPath, "%s%s%s",
                  {record.info->outputFolder, record.info->tracks[index].fileName, settings.outputExtension})) {
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
                         wavPath, outputPath, *record.info, index) != CommandStatus::Complete) {
        return;
    }

    // With ".wav" as the output extension the encoder rewrites the WAV file
    // itself, which then is the output.
    const bool outputIsWav = std::strcmp(wavPath, outputPath) == 0;
    platform::Process *process = platform::StartProcess(command, batchFile, settings.hideWindow);
    if (process == nullptr) return;
    if (platform::WaitForProcessOrEvent(process, record.stop) == platform::ProcessWait::Stopped) {
        platform::EndProcess(process);
        platform::CloseProcess(process);
        if (!outputIsWav) platform::RemoveFile(outputPath);
        return;
    }
    std::uint32_t exitCode = 0;
    const bool succeeded = platform::ProcessExitCode(process, &exitCode) && exitCode == 0;
    platform::CloseProcess(process);
    if (!succeeded || Stopping(record)) return;
    // An encoder that reports success but left an empty file (one that
    // ignores a full disk does) has encoded nothing.
    if (!platform::FileHasContent(outputPath)) return;
    if (!platform::MoveFileNoReplace(outputPath, finalPath)) return;
    if (Stopping(record)) return;
    if (settings.deleteWav != 0 && !outputIsWav) platform::RemoveFile(wavPath);
}

}  // namespace

void EncoderWorker(void *startRecord) {
    WorkerStart &record = *static_cast<WorkerStart *>(startRecord);
    // The count that tempBases was made for; Create sets it before the
    // worker starts, and nothing changes it until the worker has ended.
    const std::int32_t count = TrackCount();
    std::int32_t index = 0;
    while (!Stopping(record)) {
        // Acquire: seeing a track passed means seeing its finished, closed
        // file and its temporary name too.
        const std::int32_t delivered = rip.currentTrack.load(std::memory_order_acquire);
        if (index >= count) {
            if (delivered >= count) break;
            // Only skipped tracks are left and the host still delivers
            // them: no record is read.
            platform::WaitForEvent(record.trackFinished, WaitFallback());
            continue;
        }
        if (!IsProcessed(record.info->tracks[index])) {
            ++index;
            continue;
        }
        if (index >= delivered) {
            platform::WaitForEvent(record.trackFinished, WaitFallback());
            continue;
        }
        EncodeTrack(record, index);
        ++index;
    }
    rip.workerRunning.store(false, std::memory_order_release);
    // After the store: a host that wakes must find workerRunning cleared.
    // The event outlives this raise, since it is destroyed only once this
    // body has returned.
    platform::RaiseEvent(record.ended);
}

void WakeEncoderWorker() {
    if (start.trackFinished != nullptr) platform::RaiseEvent(start.trackFinished);
}

bool WaitForEncoderWorker() {
    // workerRunning is raised only while a worker and its events exist:
    // after they were made, and until the worker's body clears it on its way
    // out, before anything destroys them. A Kill from another thread stops
    // the worker meanwhile; it destroys the events only once this wait has
    // left them (hostWaits).
    hostWaits.fetch_add(1);
    while (rip.workerRunning.load(std::memory_order_acquire)) platform::WaitForEvent(start.ended, WaitFallback());
    const bool stopped = start.stopRequested.load(std::memory_order_acquire);
    hostWaits.fetch_sub(1);
    return !stopped;
}

void SetWaitFallback(std::uint32_t milliseconds) { waitFallback.store(milliseconds, std::memory_order_relaxed); }

namespace {

void DestroyEvents() {
    platform::DestroyEvent(start.stop);
    platform::DestroyEvent(start.trackFinished);
    platform::DestroyEvent(start.ended);
    start.stop = nullptr;
    start.trackFinished = nullptr;
    start.ended = nullptr;
}

}  // namespace

void StartEncoderWorker(AlbumInfo *info) {
    StopEncoderWorker();
    start.stopRequested.store(false, std::memory_order_relaxed);
    start.info = info;
    start.stop = platform::CreateWakeEvent();
    start.trackFinished = platform::CreateAutoResetEvent();
    start.ended = platform::CreateWakeEvent();
    if (start.stop == nullptr || start.trackFinished == nullptr || start.ended == nullptr) {
        DestroyEvents();
        return;
    }
    // Raised before the thread exists, so that a host that delivers the
    // whole album before the worker first runs still waits for all
    // encoding.
    rip.workerRunning.store(true, std::memory_order_release);
    workerThread = platform::StartWorkerThread(EncoderWorker, &start);
    if (workerThread == nullptr) {
        rip.workerRunning.store(false, std::memory_order_release);
        DestroyEvents();
    }
}

void StopEncoderWorker() {
    if (workerThread == nullptr) return;
    start.stopRequested.store(true, std::memory_order_release);
    platform::RaiseEvent(start.stop);
    platform::RaiseEvent(start.trackFinished);
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
    rip.workerRunning.store(false, std::memory_order_relaxed);
}

}  // namespace encbridge
