#include "interface/rip_state.h"

#include <climits>

#include "encoder/encoder_worker.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "wavfile/temp_names.h"

namespace encbridge {

RipState rip;

std::int32_t TrackCount() { return rip.trackCount; }

const TrackInfo &Track(std::int32_t index) { return rip.info->tracks[index]; }

std::int32_t OpenCurrentTrack() {
    if (rip.info == nullptr) return 0;
    const std::int32_t index = rip.currentTrack.load(std::memory_order_relaxed);
    if (index >= TrackCount()) return 1;
    (void)CloseCurrentTrack();
    rip.skipTrack = !IsProcessed(Track(index));
    if (rip.skipTrack) return 1;

    // A name that had to be cut could be shared by several tracks, which would
    // then write into one file: such a track is refused instead.
    PathBuffer &base = rip.tempBases[index];
    const std::size_t folderWidth = sizeof rip.info->outputFolder;
    if (!FormTempBase(base, rip.info->outputFolder, folderWidth, index + 1)) {
        base[0] = '\0';
        return 0;
    }
    // The worker encodes a track only while its name is set. Whatever lies
    // under this name (a WAV file that an earlier rip kept, a link, a FIFO)
    // is moved aside first and never written through; one that stays in the
    // way fails the open, and is then neither encoded nor deleted as this
    // track.
    PathBuffer wavPath;
    if (FormatText(wavPath, sizeof wavPath, "%s%s", {base, ".wav"}) != 0 &&
        ClearTheWay(wavPath, rip.info->outputFolder, folderWidth, index + 1, ".wav", 5)) {
        rip.trackFile = OpenTrackFile(wavPath, rip.header);
    }
    if (rip.trackFile == nullptr) {
        base[0] = '\0';
        return 0;
    }
    return 1;
}

void FinishCurrentTrack() {
    FinishTrackFile(rip.trackFile, rip.header);
    rip.trackFile = nullptr;
}

std::int32_t CloseCurrentTrack() {
    const std::int32_t closed = CloseTrackFile(rip.trackFile);
    rip.trackFile = nullptr;
    return closed;
}

void AbandonCurrentTrack() {
    (void)CloseCurrentTrack();
    const std::int32_t index = rip.currentTrack.load(std::memory_order_relaxed);
    if (rip.tempBases != nullptr && index >= 0 && index < TrackCount()) rip.tempBases[index][0] = '\0';
}

std::int32_t AdvanceTrack() {
    std::int32_t next = rip.currentTrack.load(std::memory_order_relaxed);
    if (next < INT_MAX) ++next;
    // Release: the worker that sees the new value also sees the finished,
    // closed file of the track before it and that track's name.
    rip.currentTrack.store(next, std::memory_order_release);
    WakeEncoderWorker();
    if (next < TrackCount()) return OpenCurrentTrack();
    // The album is complete: its last delivery returns once all encoding is,
    // or with 0 once a Kill from another thread has stopped it.
    return WaitForEncoderWorker() ? 1 : 0;
}

}  // namespace encbridge
