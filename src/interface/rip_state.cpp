#include "interface/rip_state.h"

#include <climits>

#include "encoder/encoder_worker.h"
#include "encoder/shared_rip.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "wavfile/temp_names.h"

namespace encbridge {
namespace {

// The entry of the current track, or null after the album's last one.
RipTrack *CurrentEntry(RipSide &rip) {
    const std::int32_t index = rip.shared.finishedTracks.load(std::memory_order_relaxed);
    if (rip.shared.tracks == nullptr || index < 0 || index >= rip.shared.trackCount) return nullptr;
    return &rip.shared.tracks[index];
}

}  // namespace

std::int32_t OpenCurrentTrack(RipSide &rip) {
    const AlbumInfo *album = rip.shared.album;
    if (album == nullptr) return 0;
    RipTrack *entry = CurrentEntry(rip);
    if (entry == nullptr) return 1;
    const std::int32_t index = static_cast<std::int32_t>(entry - rip.shared.tracks);
    (void)CloseCurrentTrack(rip);
    MarkTrackNotWritten(*entry, {0});
    rip.skipTrack = !IsProcessed(album->tracks[index]);
    if (rip.skipTrack) return 1;

    // A name that had to be cut could be shared by several tracks, which would
    // then write into one file: such a track is refused instead.
    const std::size_t folderWidth = sizeof album->outputFolder;
    if (!FormTempBase(entry->base, album->outputFolder, folderWidth, index + 1)) return 0;
    // Whatever lies under this name (a WAV file that an earlier rip kept, a
    // link, a FIFO) is moved aside first and never written through; one
    // that stays in the way fails the open, and is then neither encoded nor
    // deleted as this track.
    PathBuffer wavPath;
    if (FormatText(wavPath, sizeof wavPath, "%s%s", {entry->base, ".wav"}) != 0 &&
        ClearTheWay(wavPath, album->outputFolder, folderWidth, index + 1, ".wav", 5, &entry->writeError)) {
        rip.trackFile = OpenTrackFile(wavPath, rip.header, &entry->writeError);
    }
    if (rip.trackFile == nullptr) return 0;
    MarkTrackWriting(*entry);
    return 1;
}

void FinishCurrentTrack(RipSide &rip) {
    FinishTrackFile(rip.trackFile, rip.header);
    rip.trackFile = nullptr;
    RipTrack *entry = CurrentEntry(rip);
    if (entry != nullptr) MarkTrackWritten(*entry);
}

std::int32_t CloseCurrentTrack(RipSide &rip) {
    const std::int32_t closed = CloseTrackFile(rip.trackFile);
    rip.trackFile = nullptr;
    return closed;
}

void AbandonCurrentTrack(RipSide &rip, platform::SystemError why) {
    (void)CloseCurrentTrack(rip);
    RipTrack *entry = CurrentEntry(rip);
    if (entry != nullptr) MarkTrackNotWritten(*entry, why);
}

std::int32_t AdvanceTrack(RipSide &rip) {
    std::int32_t next = rip.shared.finishedTracks.load(std::memory_order_relaxed);
    if (next < INT_MAX) ++next;
    // Release: the worker that sees the new value also sees the finished,
    // closed file of the track before it and that track's entry.
    rip.shared.finishedTracks.store(next, std::memory_order_release);
    WakeEncoderWorker();
    if (next < rip.shared.trackCount) return OpenCurrentTrack(rip);
    return kAlbumDelivered;
}

}  // namespace encbridge
