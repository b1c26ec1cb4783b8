#include "encoder/album_steps.h"

#include <cstdint>

#include "encoder/command_line.h"
#include "encoder/journal.h"
#include "encoder/output_run.h"
#include "encoder/shared_rip.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"

namespace encbridge {
namespace {

// Builds the album step's line into the worker's buffer and starts it as
// process: Reason::Done when it runs.
Reason StartAlbumStep(const RunContext &context, const OutputSettings &output, platform::Process *&process,
                      RunEnd &end) {
    const bool batchFile = platform::RunsThroughCommandShell(output.albumEncoderPath);
    const CommandStatus status = BuildAlbumCommandLine(
        output.albumEncoderPath, StyleFor(batchFile), output.albumTemplate, sizeof output.albumTemplate,
        *context.rip.album, context.rip.tags, output.outputExtension, sizeof output.outputExtension,
        context.buffers.albumLine, sizeof context.buffers.albumLine);
    if (status != CommandStatus::Complete) return ReasonFor(status);
    return StartLine(context.buffers.albumLine, batchFile, output.hideWindow, process, end);
}

// Runs one output's album step and waits for it; a stop ends it.
void RunAlbumStep(const RunContext &context, std::int32_t outputIndex, const AlbumProgress &progress) {
    const OutputSettings &output = context.rip.settings.outputs[outputIndex];
    RunRecord record = {0,
                        output.number,
                        nullptr,
                        context.buffers.albumLine,
                        sizeof context.buffers.albumLine,
                        0,
                        {RunEnd::Kind::NotRun, 0},
                        Reason::Done,
                        0};
    const std::uint32_t started = platform::Milliseconds();
    context.buffers.albumLine[0] = '\0';
    platform::Process *process = nullptr;
    record.reason =
        progress.failed[outputIndex] ? Reason::TrackMissing : StartAlbumStep(context, output, process, record.end);
    if (record.reason == Reason::Done) {
        platform::Event *events[1] = {context.stop};
        while (!Stopping(context)) {
            if (platform::WaitForAny(&process, 1, events, 1, context.waitFallback.load(std::memory_order_relaxed)) == 0)
                break;
        }
        if (Stopping(context)) platform::EndProcess(process);
        record.end = EndOf(process);
        record.messages = context.buffers.messages;
        record.messageLength = TakeMessages(context, process);
        platform::CloseProcess(process);
        if (Stopping(context)) {
            record.reason = Reason::Stopped;
        } else if (!ExitedWithZero(record.end)) {
            record.reason = Reason::EncoderFailed;
        }
    }
    record.milliseconds = platform::Milliseconds() - started;
    JournalAlbumStep(context.rip.journal, context.buffers.journal, record);
}

}  // namespace

void RunAlbumSteps(const RunContext &context, const AlbumProgress &progress) {
    const PluginSettings &settings = context.rip.settings;
    if (!progress.anyProcessed) return;
    for (std::int32_t output = 0; output < settings.outputCount && !Stopping(context); ++output) {
        if (settings.outputs[output].albumStep) RunAlbumStep(context, output, progress);
    }
}

void JournalRipEnd(const RunContext &context, std::int32_t next, std::int32_t nextOutput) {
    const SharedRip &rip = context.rip;
    const bool stopped = Stopping(context);
    const std::int32_t finished = rip.finishedTracks.load(std::memory_order_acquire);
    const std::int32_t reached = finished < rip.trackCount ? finished : rip.trackCount;
    std::int32_t done = 0, processed = 0, kept = 0;
    for (std::int32_t i = 0; i < rip.trackCount; ++i) {
        if (!IsProcessed(rip.album->tracks[i])) continue;
        ++processed;
        const RipTrack &entry = rip.tracks[i];
        if (PublishedEverywhere(entry, rip.settings.outputCount)) ++done;
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
            JournalTrack(rip.journal, context.buffers.journal,
                         {i + 1,
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
    JournalEnd(rip.journal, context.buffers.journal, done, processed, kept, stopped);
}

}  // namespace encbridge
