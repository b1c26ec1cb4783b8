#include "encoder/encoder_worker.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "encoder/command_line.h"
#include "encoder/final_name.h"
#include "encoder/journal.h"
#include "encoder/verify.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "wavfile/temp_names.h"

namespace encbridge {
namespace {

// The control block of the one worker, module-wide. Its events are made
// for the first worker and kept for the module's life: a host's thread that
// waits on one may be ended where it waits (TerminateThread), and so no
// count of waiters could tell when one may go.
struct WorkerControl {
    // Written by the host's thread only; the worker leaves at its next look.
    std::atomic<bool> stopRequested;
    // Raised before the worker's thread exists, and cleared by the worker
    // when it ends.
    std::atomic<bool> running;
    // Raised by every start: which worker the host's last delivery waits for.
    std::atomic<std::uint32_t> generation;
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

WorkerControl worker;
platform::WorkerThread *workerThread = nullptr;

// How long a wait goes without a look at the shared values, should the
// wake-up that ends it never come.
std::atomic<std::uint32_t> waitFallback{500};

std::uint32_t WaitFallback() { return waitFallback.load(std::memory_order_relaxed); }

bool Stopping(const WorkerControl &control) { return control.stopRequested.load(std::memory_order_acquire); }

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
    // The length of the run's last words in runMessages, once it has ended.
    std::size_t messageLength;
};

// The album step's line: one worker runs at a time, and the line is too
// long for its stack on every system.
char albumLine[kLongestCommandLine];

// The last words of the run that has just ended, kept until its record is
// journaled, which comes before any other run's end is taken.
char runMessages[platform::kMessageTailCapacity];

// Keeps what an ended program said in runMessages: its length.
std::size_t TakeMessages(const platform::Process *process) {
    return platform::ProcessMessages(process, runMessages, sizeof runMessages);
}

Reason ReasonFor(CommandStatus status) {
    return status == CommandStatus::Cut ? Reason::CommandCut : Reason::ValueUnsafe;
}

CommandStyle StyleFor(bool batchFile) { return batchFile ? CommandStyle::BatchFile : CommandStyle::Arguments; }

// Starts a complete line, an encoder's or an album step's: Reason::Done when
// it runs, else the system's error in end.
Reason StartLine(const char *line, bool batchFile, std::int32_t hideWindow, platform::Process *&process, RunEnd &end) {
    platform::SystemError error = {0};
    process = platform::StartProcess(line, batchFile, hideWindow, &error);
    if (process != nullptr) return Reason::Done;
    end = {RunEnd::Kind::NotStarted, error.code};
    return Reason::CouldNotStart;
}

bool ExitedWithZero(const RunEnd &end) { return end.kind == RunEnd::Kind::Exited && end.value == 0; }

// After a program that was handed the track's WAV file has ended, or
// before another starts: the WAV file is at its name still, which on Linux
// an encoder that removes or renames its input takes away, and is put back
// from what the guard holds. Something the program put at the name is moved
// aside first. Should that fail, the WAV file is lost once the guard goes,
// and the rip's end counts it as no WAV file kept.
void KeepTheWav(const WorkerControl &control, std::int32_t index, const char *wavPath) {
    RipTrack &entry = control.rip->tracks[index];
    const AlbumInfo &album = *control.rip->album;
    if (platform::KeepGuardedFile(wavPath, entry.wavGuard, nullptr)) return;
    if (ClearTheWay(wavPath, album.outputFolder, sizeof album.outputFolder, index + 1, ".wav", sizeof ".wav")) {
        (void)platform::KeepGuardedFile(wavPath, entry.wavGuard, nullptr);
    }
}

// Starts the encoder of one output of track index, whose WAV file is
// finished and closed. Reason::Done when it runs; otherwise why that output
// of the track is not made, with how it ended in end.
Reason StartEncoder(const WorkerControl &control, std::int32_t index, std::int32_t outputNumber, RunningEncoder &run,
                    RunEnd &end) {
    const SharedRip &rip = *control.rip;
    const OutputSettings &output = rip.settings.outputs[outputNumber];
    const AlbumInfo &album = *rip.album;
    const TrackInfo &track = album.tracks[index];
    RipTrack &entry = rip.tracks[index];
    const char *base = entry.base;
    run.index = index;
    run.output = outputNumber;
    run.command[0] = '\0';
    run.finalPath[0] = '\0';
    run.outputIsWav = false;
    run.system = {0};
    run.notOnDisk = false;
    run.verifier = nullptr;
    run.verifyCommand[0] = '\0';
    run.verifySample = -1;
    run.messageLength = 0;
    run.started = platform::Milliseconds();
    end = {RunEnd::Kind::NotRun, 0};
    if (entry.state == TrackState::NotWritten) {
        run.system = entry.writeError;
        return Reason::TrackNotWritten;
    }
    entry.state = TrackState::Encoding;
    // A final name that leads elsewhere is no better than a cut one.
    if (!UsableFinalName(track, output.outputExtension)) return Reason::NameUnsafe;
    const FormatArg baseArg(base, kPathCapacity);
    if (!FormatWhole(run.wavPath, sizeof run.wavPath, "%s%s", {baseArg, ".wav"}) ||
        !FormatWhole(run.outputPath, sizeof run.outputPath, "%s%s", {baseArg, output.outputExtension}) ||
        !FormatWhole(run.finalPath, sizeof run.finalPath, "%s%s%s",
                     {album.outputFolder, track.fileName, output.outputExtension})) {
        run.finalPath[0] = '\0';
        return Reason::NameTooLong;
    }
    if (!FormatWhole(run.command, sizeof run.command, "%s", {output.commandTemplate})) return Reason::CommandCut;
    // A cut command line could drop the output path, or cut a path down to
    // that of another file; an unsafe one would let a value act: neither is
    // ever run.
    const bool batchFile = platform::RunsThroughCommandShell(output.encoderPath);
    const CommandStatus status = BuildCommandLine(output.encoderPath, StyleFor(batchFile), run.command, run.wavPath,
                                                  run.outputPath, album, rip.tags, index);
    if (status != CommandStatus::Complete) return ReasonFor(status);
    run.outputIsWav = platform::SameFile(run.wavPath, run.outputPath);
    // Whatever lies under the output's name (an earlier rip's output, a
    // link) is moved aside, so that what is published later is a file that
    // this run's encoder made.
    if (!run.outputIsWav && !ClearTheWay(run.outputPath, album.outputFolder, sizeof album.outputFolder, index + 1,
                                         output.outputExtension, sizeof output.outputExtension, &run.system)) {
        return Reason::NameUnsafe;
    }
    // No encoder may change the WAV file that it and the track's other
    // encoders read (one given its operands the wrong way round would
    // truncate it), except one whose output the WAV file is, and which
    // is then the track's only output.
    if (run.outputIsWav) entry.wavIsOutput = true;
    KeepTheWav(control, index, run.wavPath);
    if (!run.outputIsWav && !entry.wavGuard.held) {
        platform::SystemError error = {0};
        if (!platform::GuardFile(run.wavPath, entry.wavGuard, &error)) {
            end = {RunEnd::Kind::NotStarted, error.code};
            return Reason::CouldNotStart;
        }
    }
    return StartLine(run.command, batchFile, output.hideWindow, run.process, end);
}

// Moves the output to its final name. When the track's WAV file is to go
// once its outputs are published, the output is put on disk before the move
// and, after it, the folders from the final file's up to the output folder,
// so that a power cut can take the WAV file only once the output is safe.
// Should any of that fail the output is published all the same, with
// run.notOnDisk and the system's reason, and the WAV file stays.
bool MoveAndSync(const WorkerControl &control, RunningEncoder &run) {
    const SharedRip &rip = *control.rip;
    const AlbumInfo &album = *rip.album;
    const OutputSettings &output = rip.settings.outputs[run.output];
    const bool wavGoes = rip.settings.deleteWav != 0 && !run.outputIsWav;
    // An encoder that copies its input's mode made the output read-only,
    // as the guard leaves the WAV file, and a user's tagger must write it.
    // One that cannot be given the mode is published as the encoder left it.
    (void)platform::GiveUnguardedMode(run.outputPath, rip.tracks[run.index].wavGuard, nullptr);
    platform::SystemError syncError = {0};
    bool onDisk = !wavGoes || platform::SyncFile(run.outputPath, &syncError);
    // Where the final folder lies on another volume, the move copies under
    // this name first; a leftover of a copy cut short is moved aside. A name
    // that would be cut allows no copy.
    PathBuffer copyName;
    std::size_t finalFolderLength = 0;
    const bool copyNamed = FormCopyName(copyName, run.finalPath, run.index + 1, output.outputExtension,
                                        sizeof output.outputExtension, finalFolderLength);
    // A copy name that cannot be cleared (in a folder that cannot be
    // searched, say) allows no copy: the move then fails, or succeeds, on
    // its own, with the system's words for why.
    const bool copyAllowed =
        copyNamed && ClearTheWay(copyName, run.finalPath, finalFolderLength, run.index + 1, output.outputExtension,
                                 sizeof output.outputExtension, &run.system);
    run.system = {0};
    if (!platform::MoveFileNoReplace(run.outputPath, run.finalPath, &run.system, wavGoes,
                                     copyAllowed ? copyName : nullptr)) {
        return false;
    }
    onDisk = onDisk && (!wavGoes || SyncFinalFolders(album.outputFolder, sizeof album.outputFolder,
                                                     album.tracks[run.index], &syncError));
    run.notOnDisk = !onDisk;
    if (!onDisk) run.system = syncError;
    return true;
}

// How a process that has ended ended, before its record is closed.
RunEnd EndOf(platform::Process *process) {
    std::uint32_t exitCode = 0;
    std::int32_t signal = 0;
    if (platform::ProcessExitCode(process, &exitCode))
        return {RunEnd::Kind::Exited, static_cast<std::int32_t>(exitCode)};
    if (platform::ProcessSignal(process, &signal)) return {RunEnd::Kind::Signaled, signal};
    return {RunEnd::Kind::Stopped, 0};
}

// Moves an output that passed its checks to the track's final name:
// Reason::Done once it is there.
Reason PublishOutput(const WorkerControl &control, RunningEncoder &run) {
    const AlbumInfo &album = *control.rip->album;
    if (!MakeFinalFolders(album.outputFolder, sizeof album.outputFolder, album.tracks[run.index], &run.system)) {
        return Reason::FolderNotMade;
    }
    if (MoveAndSync(control, run)) return Reason::Done;
    // Only the system's own word says that the name is taken: a name it
    // cannot look at for another reason (one it finds invalid, a folder it
    // may not search) is a failed move, with the system's words.
    return platform::NameTaken(run.system) ? Reason::FinalNameExists : Reason::MoveFailed;
}

void DropVerifier(RunningEncoder &run) {
    if (run.verifier != nullptr) AbandonVerifier(*run.verifier);
    delete run.verifier;
    run.verifier = nullptr;
}

// Starts the output's verify line in the slot of its encoder, which has
// succeeded, its standard output read by a Verifier as it comes:
// Reason::Done when it runs, and run.process is then the verify line's.
Reason StartVerify(const WorkerControl &control, RunningEncoder &run, RunEnd &end) {
    const SharedRip &rip = *control.rip;
    const OutputSettings &output = rip.settings.outputs[run.output];
    run.messageLength = 0;  // the encoder's words, which succeeded, are not the verify line's
    bool batchFile = false;
    const Reason built = BuildVerifyLine(output, *rip.album, rip.tags, run.index, run.wavPath, run.outputPath,
                                         run.verifyCommand, batchFile);
    if (built != Reason::Done) return built;
    run.verifier = new (std::nothrow) Verifier;
    if (run.verifier == nullptr || !StartVerifier(*run.verifier, output.verify, run.wavPath, &run.system)) {
        DropVerifier(run);
        return Reason::VerifyFailed;
    }
    const platform::OutputSink sink = {TakeDecoded, run.verifier};
    platform::SystemError error = {0};
    run.process = platform::StartProcess(run.verifyCommand, batchFile, output.hideWindow, &error, &sink);
    if (run.process != nullptr) return Reason::Done;
    end = {RunEnd::Kind::NotStarted, error.code};
    DropVerifier(run);
    return Reason::VerifyFailed;
}

// After a verify line has ended: the output is published only when it is
// proven. One that is not is moved aside to a kept name, as anything found
// in an output's way is, so that nothing takes it for a result; the WAV
// file stays.
Reason FinishVerify(const WorkerControl &control, RunningEncoder &run, RunEnd &end) {
    end = EndOf(run.process);
    run.messageLength = TakeMessages(run.process);  // the verify line's standard error
    platform::CloseProcess(run.process);
    run.process = nullptr;
    KeepTheWav(control, run.index, run.wavPath);
    std::uint64_t sample = 0;
    const Reason verdict = FinishVerifier(*run.verifier, ExitedWithZero(end), sample);
    DropVerifier(run);
    if (Stopping(control)) return Reason::Stopped;
    if (verdict == Reason::Done) return PublishOutput(control, run);
    if (verdict != Reason::VerifyFailed)
        run.verifySample = sample < INT32_MAX ? static_cast<std::int32_t>(sample) : INT32_MAX;
    const AlbumInfo &album = *control.rip->album;
    const OutputSettings &output = control.rip->settings.outputs[run.output];
    ClearTheWay(run.outputPath, album.outputFolder, sizeof album.outputFolder, run.index + 1, output.outputExtension,
                sizeof output.outputExtension);
    return verdict;
}

// The steps after an encoder has ended: Reason::Done once its output has
// reached the track's final name, or its verify line runs (run.process).
// After a non-zero exit, a stop or a failed move the output of a run that
// did not succeed stays where it is.
Reason FinishEncoder(const WorkerControl &control, RunningEncoder &run, RunEnd &end) {
    end = EndOf(run.process);
    run.messageLength = TakeMessages(run.process);
    platform::CloseProcess(run.process);
    run.process = nullptr;
    KeepTheWav(control, run.index, run.wavPath);
    if (Stopping(control)) return Reason::Stopped;
    if (!ExitedWithZero(end)) return Reason::EncoderFailed;
    // An encoder that reports success but left an empty file (one that
    // ignores a full disk does) has encoded nothing; one that left a link
    // (to the WAV file, or anywhere) has made no file of its own.
    if (platform::InspectEntry(run.outputPath) != platform::EntryKind::PlainFile) return Reason::OutputNotAFile;
    if (control.rip->settings.outputs[run.output].verify != VerifyMode::None) return StartVerify(control, run, end);
    return PublishOutput(control, run);
}

// After a stop has ended the encoder and whatever it started: its partial
// output goes; the WAV file stays.
void StopEncoder(const WorkerControl &control, RunningEncoder &run) {
    platform::CloseProcess(run.process);
    run.process = nullptr;
    DropVerifier(run);
    KeepTheWav(control, run.index, run.wavPath);
    if (!run.outputIsWav) platform::RemoveFile(run.outputPath);
}

// What the worker knows of the album while it runs.
struct AlbumProgress {
    // Per output: some processed track of the album lacks it.
    bool failed[kMostOutputs];
    bool anyProcessed;
};

// Records that one output of a track is done with, and journals it. The
// WAV file is deleted only once every output of its track has reached its
// final name, and then only when the settings say so: after any failure it
// stays, and so do the outputs that succeeded.
void EndOutput(const WorkerControl &control, const RunningEncoder &run, const RunEnd &end, Reason reason,
               AlbumProgress &progress) {
    const SharedRip &rip = *control.rip;
    const PluginSettings &settings = rip.settings;
    const std::int32_t output = run.output;
    // A verification that failed shows the verify line.
    const bool verifyFailed = reason != Reason::Done && run.verifyCommand[0] != '\0';
    RunRecord record = {run.index + 1,
                        settings.outputs[output].number,
                        run.finalPath,
                        verifyFailed ? run.verifyCommand : run.command,
                        sizeof run.command,
                        platform::Milliseconds() - run.started,
                        end,
                        reason,
                        run.system.code};
    record.verifySample = run.verifySample;
    record.messages = runMessages;
    record.messageLength = run.messageLength;
    JournalTrack(rip.journal, record);
    RipTrack &entry = rip.tracks[run.index];
    const std::uint16_t bit = static_cast<std::uint16_t>(1u << output);
    const bool published = reason == Reason::Done;
    entry.ended = static_cast<std::uint16_t>(entry.ended | bit);
    if (published) entry.published = static_cast<std::uint16_t>(entry.published | bit);
    if (!published) progress.failed[output] = true;
    if (run.outputIsWav) entry.wavIsOutput = true;
    if (run.notOnDisk) entry.notOnDisk = true;
    const std::uint16_t all = static_cast<std::uint16_t>((1u << settings.outputCount) - 1u);
    if (entry.ended != all) return;
    // No encoder of the track runs any more: a WAV file that is kept is as
    // the user expects it.
    platform::ReleaseFile(entry.wavGuard);
    entry.state = entry.published == all ? TrackState::Published : TrackState::Kept;
    if (entry.state == TrackState::Kept || Stopping(control)) return;
    if (settings.deleteWav == 0 || entry.wavIsOutput || entry.notOnDisk) return;
    if (platform::RemoveFile(run.wavPath)) entry.state = TrackState::Removed;
}

// Builds the album step's line into albumLine and starts it as process:
// Reason::Done when it runs.
Reason StartAlbumStep(const WorkerControl &control, const OutputSettings &output, platform::Process *&process,
                      RunEnd &end) {
    const bool batchFile = platform::RunsThroughCommandShell(output.albumEncoderPath);
    const CommandStatus status =
        BuildAlbumCommandLine(output.albumEncoderPath, StyleFor(batchFile), output.albumTemplate,
                              sizeof output.albumTemplate, *control.rip->album, control.rip->tags,
                              output.outputExtension, sizeof output.outputExtension, albumLine, sizeof albumLine);
    if (status != CommandStatus::Complete) return ReasonFor(status);
    return StartLine(albumLine, batchFile, output.hideWindow, process, end);
}

// Runs one output's album step and waits for it; a stop ends it.
void RunAlbumStep(const WorkerControl &control, std::int32_t outputIndex, const AlbumProgress &progress) {
    const OutputSettings &output = control.rip->settings.outputs[outputIndex];
    RunRecord record = {
        0, output.number, nullptr, albumLine, sizeof albumLine, 0, {RunEnd::Kind::NotRun, 0}, Reason::Done, 0};
    const std::uint32_t started = platform::Milliseconds();
    albumLine[0] = '\0';
    platform::Process *process = nullptr;
    record.reason =
        progress.failed[outputIndex] ? Reason::TrackMissing : StartAlbumStep(control, output, process, record.end);
    if (record.reason == Reason::Done) {
        platform::Event *events[1] = {control.stop};
        while (!Stopping(control)) {
            if (platform::WaitForAny(&process, 1, events, 1, WaitFallback()) == 0) break;
        }
        if (Stopping(control)) platform::EndProcess(process);
        record.end = EndOf(process);
        record.messages = runMessages;
        record.messageLength = TakeMessages(process);
        platform::CloseProcess(process);
        if (Stopping(control)) {
            record.reason = Reason::Stopped;
        } else if (!ExitedWithZero(record.end)) {
            record.reason = Reason::EncoderFailed;
        }
    }
    record.milliseconds = platform::Milliseconds() - started;
    JournalAlbumStep(control.rip->journal, record);
}

// Once every track is done with: the album step of each output that every
// processed track has under its final name, one after another. A step
// whose output lacks a track is journaled as not run.
void RunAlbumSteps(const WorkerControl &control, const AlbumProgress &progress) {
    const PluginSettings &settings = control.rip->settings;
    if (!progress.anyProcessed) return;
    for (std::int32_t output = 0; output < settings.outputCount && !Stopping(control); ++output) {
        if (settings.outputs[output].albumStep) RunAlbumStep(control, output, progress);
    }
}

// The rip's last record: its tracks done and the WAV files kept, and for a
// stopped rip, a record of every finished track whose encoders had not yet
// started.
void JournalRipEnd(const WorkerControl &control, std::int32_t next, std::int32_t nextOutput) {
    const SharedRip &rip = *control.rip;
    const bool stopped = Stopping(control);
    const std::int32_t finished = rip.finishedTracks.load(std::memory_order_acquire);
    const std::int32_t reached = finished < rip.trackCount ? finished : rip.trackCount;
    const std::uint16_t all = static_cast<std::uint16_t>((1u << rip.settings.outputCount) - 1u);
    std::int32_t done = 0, processed = 0, kept = 0;
    for (std::int32_t i = 0; i < rip.trackCount; ++i) {
        if (!IsProcessed(rip.album->tracks[i])) continue;
        ++processed;
        const RipTrack &entry = rip.tracks[i];
        if (entry.published == all) ++done;
        // The host's thread may still write the entry of a track it has not
        // finished. Only a WAV file that is there counts: one that an
        // encoder took away, and that could not be put back, is not kept.
        PathBuffer wav;
        if (i < reached && entry.state != TrackState::NotWritten && entry.state != TrackState::Removed &&
            !entry.wavIsOutput &&
            FormatWhole(wav, sizeof wav, "%s%s", {FormatArg(entry.base, kPathCapacity), ".wav"}) &&
            platform::InspectEntry(wav) != platform::EntryKind::Missing) {
            ++kept;
        }
        if (!stopped || i < next || i >= reached) continue;
        for (std::int32_t output = i == next ? nextOutput : 0; output < rip.settings.outputCount; ++output) {
            JournalTrack(rip.journal, {i + 1,
                                       rip.settings.outputs[output].number,
                                       nullptr,
                                       nullptr,
                                       0,
                                       0,
                                       {RunEnd::Kind::NotRun, 0},
                                       Reason::Stopped,
                                       0});
        }
    }
    JournalEnd(rip.journal, done, processed, kept, stopped);
}

void EncoderWorker(void *controlBlock) {
    WorkerControl &control = *static_cast<WorkerControl *>(controlBlock);
    const SharedRip &rip = *control.rip;
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
            const Reason reason = StartEncoder(control, next, nextOutput, run, end);
            if (reason == Reason::Done) {
                // What a tool shows of the encoders at work comes from here.
                JournalRunStart(rip.journal, next + 1, rip.settings.outputs[nextOutput].number);
                ++runningCount;
            } else {
                EndOutput(control, run, end, reason, progress);
            }
            if (++nextOutput == outputCount) {
                nextOutput = 0;
                ++next;
            }
        }
        if (runningCount == 0 && next >= count && finished >= count) {
            RunAlbumSteps(control, progress);
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
                run.verifier != nullptr ? FinishVerify(control, run, end) : FinishEncoder(control, run, end);
            if (reason == Reason::Done && run.process != nullptr) continue;  // its verify line runs in the slot
            EndOutput(control, run, end, reason, progress);
            run = running[--runningCount];
        }
    }
    // All at once: a stop with many encoders takes no longer than with one.
    for (std::int32_t i = 0; i < runningCount; ++i) processes[i] = running[i].process;
    platform::EndProcesses(processes, static_cast<std::size_t>(runningCount));
    for (std::int32_t i = 0; i < runningCount; ++i) {
        StopEncoder(control, running[i]);
        EndOutput(control, running[i], {RunEnd::Kind::Stopped, 0}, Reason::Stopped, progress);
    }
    // A stop leaves tracks of which some outputs never started.
    for (std::int32_t i = 0; i < count; ++i) platform::ReleaseFile(rip.tracks[i].wavGuard);
    JournalRipEnd(control, next, nextOutput);
    control.running.store(false, std::memory_order_release);
    // After the store: a host that wakes must find running cleared.
    platform::RaiseEvent(control.ended);
}

}  // namespace

bool MakeRipTracks(SharedRip &rip, std::int32_t count) {
    ReleaseRipTracks(rip);
    if (count < 0 || static_cast<std::size_t>(count) > SIZE_MAX / sizeof(RipTrack)) return false;
    rip.tracks = new (std::nothrow) RipTrack[static_cast<std::size_t>(count)]();
    if (rip.tracks == nullptr) return false;
    rip.trackCount = count;
    return true;
}

void ReleaseRipTracks(SharedRip &rip) {
    delete[] rip.tracks;
    rip.tracks = nullptr;
    rip.trackCount = 0;
}

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
    workerThread = platform::StartWorkerThread(EncoderWorker, &worker, hold);
    if (workerThread == nullptr) worker.running.store(false, std::memory_order_release);
}

void StopEncoderWorker() {
    if (workerThread == nullptr) return;
    worker.stopRequested.store(true);
    platform::RaiseEvent(worker.stop);
    platform::RaiseEvent(worker.trackFinished);
    // Waits for the body only, never for the thread's exit, and so is safe
    // while the module is being unloaded. A delivery that waits for the
    // worker in another thread sees it gone and leaves; the events stay.
    platform::JoinWorkerThread(workerThread);
    workerThread = nullptr;
}

void ReleaseEncoderWorkerEvents() {
    if (workerThread == nullptr) DestroyEvents();
}

void ForgetEncoderWorker() {
    if (workerThread != nullptr) platform::ForgetWorkerThread(workerThread);
    workerThread = nullptr;
    // Closing this process's copies of the descriptors raises nothing; a
    // worker of this process makes its own.
    DestroyEvents();
    worker.running.store(false, std::memory_order_relaxed);
}

}  // namespace encbridge
