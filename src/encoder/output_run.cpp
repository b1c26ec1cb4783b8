// One output's run: its encoder started on a finished track, its verify
// line, its move to the final name, and its record.
#include "encoder/output_run.h"

#include <climits>
#include <cstdint>
#include <new>

#include "encoder/command_line.h"
#include "encoder/final_name.h"
#include "encoder/journal.h"
#include "encoder/shared_rip.h"
#include "encoder/verify.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "wavfile/temp_names.h"

namespace encbridge {

bool Stopping(const RunContext &context) { return context.stopRequested.load(std::memory_order_acquire); }

std::size_t TakeMessages(const RunContext &context, const platform::Process *process) {
    return platform::ProcessMessages(process, context.buffers.messages, sizeof context.buffers.messages);
}

Reason ReasonFor(CommandStatus status) {
    return status == CommandStatus::Cut ? Reason::CommandCut : Reason::ValueUnsafe;
}

CommandStyle StyleFor(bool batchFile) { return batchFile ? CommandStyle::BatchFile : CommandStyle::Arguments; }

Reason StartLine(const char *line, bool batchFile, std::int32_t hideWindow, platform::Process *&process, RunEnd &end) {
    platform::SystemError error = {0};
    process = platform::StartProcess(line, batchFile, hideWindow, &error);
    if (process != nullptr) return Reason::Done;
    end = {RunEnd::Kind::NotStarted, error.code};
    return Reason::CouldNotStart;
}

RunEnd EndOf(platform::Process *process) {
    std::uint32_t exitCode = 0;
    std::int32_t signal = 0;
    if (platform::ProcessExitCode(process, &exitCode))
        return {RunEnd::Kind::Exited, static_cast<std::int32_t>(exitCode)};
    if (platform::ProcessSignal(process, &signal)) return {RunEnd::Kind::Signaled, signal};
    return {RunEnd::Kind::Stopped, 0};
}

bool ExitedWithZero(const RunEnd &end) { return end.kind == RunEnd::Kind::Exited && end.value == 0; }

namespace {

// After a program that was handed the track's WAV file has ended, or
// before another starts: the WAV file is at its name still, which on Linux
// an encoder that removes or renames its input takes away, and is put back
// from what the guard holds. Something the program put at the name is moved
// aside first. Should that fail, the WAV file is lost once the guard goes,
// and the rip's end counts it as no WAV file kept.
void KeepTheWav(const RunContext &context, std::int32_t index, const char *wavPath) {
    RipTrack &entry = context.rip.tracks[index];
    const AlbumInfo &album = *context.rip.album;
    if (platform::KeepGuardedFile(wavPath, entry.wavGuard, nullptr)) return;
    if (ClearTheWay(wavPath, album.outputFolder, sizeof album.outputFolder, index + 1, ".wav", sizeof ".wav")) {
        (void)platform::KeepGuardedFile(wavPath, entry.wavGuard, nullptr);
    }
}

}  // namespace

// Starts the encoder of one output of track index, whose WAV file is
// finished and closed. Reason::Done when it runs; otherwise why that output
// of the track is not made, with how it ended in end.
Reason StartEncoder(const RunContext &context, std::int32_t index, std::int32_t outputNumber, RunningEncoder &run,
                    RunEnd &end) {
    const SharedRip &rip = context.rip;
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
    MarkTrackEncoding(entry);
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
    KeepTheWav(context, index, run.wavPath);
    if (!run.outputIsWav && !entry.wavGuard.held) {
        platform::SystemError error = {0};
        if (!platform::GuardFile(run.wavPath, entry.wavGuard, &error)) {
            end = {RunEnd::Kind::NotStarted, error.code};
            return Reason::CouldNotStart;
        }
    }
    return StartLine(run.command, batchFile, output.hideWindow, run.process, end);
}

namespace {

// Moves the output to its final name. When the track's WAV file is to go
// once its outputs are published, the output is put on disk before the move
// and, after it, the folders from the final file's up to the output folder,
// so that a power cut can take the WAV file only once the output is safe.
// Should any of that fail the output is published all the same, with
// run.notOnDisk and the system's reason, and the WAV file stays.
bool MoveAndSync(const RunContext &context, RunningEncoder &run) {
    const SharedRip &rip = context.rip;
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

// Moves an output that passed its checks to the track's final name:
// Reason::Done once it is there.
Reason PublishOutput(const RunContext &context, RunningEncoder &run) {
    const AlbumInfo &album = *context.rip.album;
    if (!MakeFinalFolders(album.outputFolder, sizeof album.outputFolder, album.tracks[run.index], &run.system)) {
        return Reason::FolderNotMade;
    }
    if (MoveAndSync(context, run)) return Reason::Done;
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
Reason StartVerify(const RunContext &context, RunningEncoder &run, RunEnd &end) {
    const SharedRip &rip = context.rip;
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

}  // namespace

// After a verify line has ended: the output is published only when it is
// proven. One that is not is moved aside to a kept name, as anything found
// in an output's way is, so that nothing takes it for a result; the WAV
// file stays.
Reason FinishVerify(const RunContext &context, RunningEncoder &run, RunEnd &end) {
    end = EndOf(run.process);
    run.messageLength = TakeMessages(context, run.process);  // the verify line's standard error
    platform::CloseProcess(run.process);
    run.process = nullptr;
    KeepTheWav(context, run.index, run.wavPath);
    std::uint64_t sample = 0;
    const Reason verdict = FinishVerifier(*run.verifier, ExitedWithZero(end), sample);
    DropVerifier(run);
    if (Stopping(context)) return Reason::Stopped;
    if (verdict == Reason::Done) return PublishOutput(context, run);
    if (verdict != Reason::VerifyFailed)
        run.verifySample = sample < INT32_MAX ? static_cast<std::int32_t>(sample) : INT32_MAX;
    const AlbumInfo &album = *context.rip.album;
    const OutputSettings &output = context.rip.settings.outputs[run.output];
    ClearTheWay(run.outputPath, album.outputFolder, sizeof album.outputFolder, run.index + 1, output.outputExtension,
                sizeof output.outputExtension);
    return verdict;
}

// The steps after an encoder has ended: Reason::Done once its output has
// reached the track's final name, or its verify line runs (run.process).
// After a non-zero exit, a stop or a failed move the output of a run that
// did not succeed stays where it is.
Reason FinishEncoder(const RunContext &context, RunningEncoder &run, RunEnd &end) {
    end = EndOf(run.process);
    run.messageLength = TakeMessages(context, run.process);
    platform::CloseProcess(run.process);
    run.process = nullptr;
    KeepTheWav(context, run.index, run.wavPath);
    if (Stopping(context)) return Reason::Stopped;
    if (!ExitedWithZero(end)) return Reason::EncoderFailed;
    // An encoder that reports success but left an empty file (one that
    // ignores a full disk does) has encoded nothing; one that left a link
    // (to the WAV file, or anywhere) has made no file of its own.
    if (platform::InspectEntry(run.outputPath) != platform::EntryKind::PlainFile) return Reason::OutputNotAFile;
    if (context.rip.settings.outputs[run.output].verify != VerifyMode::None) return StartVerify(context, run, end);
    return PublishOutput(context, run);
}

// After a stop has ended the encoder and whatever it started: its partial
// output goes; the WAV file stays.
void StopEncoder(const RunContext &context, RunningEncoder &run) {
    platform::CloseProcess(run.process);
    run.process = nullptr;
    DropVerifier(run);
    KeepTheWav(context, run.index, run.wavPath);
    if (!run.outputIsWav) platform::RemoveFile(run.outputPath);
}

// Records that one output of a track is done with, and journals it. The
// WAV file is deleted only once every output of its track has reached its
// final name, and then only when the settings say so: after any failure it
// stays, and so do the outputs that succeeded.
bool EndOutput(const RunContext &context, const RunningEncoder &run, const RunEnd &end, Reason reason) {
    const SharedRip &rip = context.rip;
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
    record.messages = context.buffers.messages;
    record.messageLength = run.messageLength;
    JournalTrack(rip.journal, context.buffers.journal, record);
    RipTrack &entry = rip.tracks[run.index];
    const bool published = reason == Reason::Done;
    const bool allEnded = MarkOutputEnded(entry, output, published, settings.outputCount);
    if (run.outputIsWav) entry.wavIsOutput = true;
    if (run.notOnDisk) entry.notOnDisk = true;
    if (!allEnded) return published;
    // No encoder of the track runs any more: a WAV file that is kept is as
    // the user expects it.
    platform::ReleaseFile(entry.wavGuard);
    MarkTrackEnded(entry, settings.outputCount);
    if (entry.state == TrackState::Kept || Stopping(context)) return published;
    if (settings.deleteWav == 0 || entry.wavIsOutput || entry.notOnDisk) return published;
    if (platform::RemoveFile(run.wavPath)) MarkTrackRemoved(entry);
    return published;
}

}  // namespace encbridge
