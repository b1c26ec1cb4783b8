// The four exported functions.
#include "interface/plugin_interface.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#include "encoder/encoder_worker.h"
#include "interface/rip_state.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "wavfile/track_file.h"

namespace encbridge {
namespace {

void ReleaseTempBases() {
    delete[] rip.tempBases;
    rip.tempBases = nullptr;
    rip.trackCount = 0;
}

}  // namespace

std::int32_t AdvanceTrack() {
    std::int32_t next = rip.currentTrack.load(std::memory_order_relaxed);
    if (next < INT_MAX) ++next;
    // Release: the worker that sees the new value also sees the finished,
    // closed file of the track before it and that track's name.
    rip.currentTrack.store(next, std::memory_order_release);
    WakeEncoderWorker();
    if (next < TrackCount()) return OpenTrackFile();
    // The album is complete: its last delivery returns once all encoding is,
    // or with 0 once a Kill from another thread has stopped it.
    return WaitForEncoderWorker() ? 1 : 0;
}

void OnModuleUnload() { Kill(); }

void OnForkedChild() {
    ForgetEncoderWorker();
    rip.active = false;
    // The stream's descriptor is the parent's file too; the copy of the
    // stream is left as it is, never written, flushed or closed here.
    rip.trackFile = nullptr;
}

}  // namespace encbridge

using namespace encbridge;

extern "C" std::int32_t GetDllViersion(void) { return 4; }

extern "C" std::int32_t Create(AlbumInfo *info, const char *settingsPath, const std::uint8_t *header,
                               std::int32_t headerLength) {
    // Arguments that no rip could be started with are refused before anything
    // changes, so that an earlier rip goes on undisturbed.
    if (info == nullptr || settingsPath == nullptr) return 0;
    // Without a header the default one is used, whatever the length says.
    if (info->trackCount < 0 || (header != nullptr && headerLength < 0)) return 0;
    if (info->trackCount > 0 && info->tracks == nullptr) return 0;
    // A settings path cut to fit would read another file's settings, or
    // resolve the encoder against another folder.
    if (!SettingsPathFits(settingsPath)) return 0;

    // An earlier worker reads the settings, the names and the records that
    // this rip replaces: it ends before any of them changes.
    StopEncoderWorker();
    rip.active = false;
    LoadSettings(settingsPath);
    ReleaseTempBases();
    rip.info = info;
    rip.currentTrack.store(0, std::memory_order_release);
    if (!SelectHeader(header, headerLength)) return 0;
    // The file of a rip that its host left for this one: there is no call
    // left to report its close to.
    (void)CloseTrackFile();
    if (!platform::EncoderFileUsable(settings.encoderPath)) return 0;

    std::size_t count = static_cast<std::size_t>(info->trackCount);
    if (count > SIZE_MAX / sizeof(PathBuffer)) return 0;  // reachable on 32 bits
    rip.tempBases = new (std::nothrow) PathBuffer[count]();
    if (rip.tempBases == nullptr) return 0;
    rip.trackCount = info->trackCount;
    if (!OpenTrackFile()) return 0;
    StartEncoderWorker(info);
    rip.active = true;
    return 1;
}

extern "C" std::int32_t SetData(const std::uint8_t *data, std::int32_t length, std::int32_t *boundary) {
    if (!rip.active || data == nullptr || boundary == nullptr) return 0;
    const std::int32_t b = *boundary;
    if (b < 0 || length < b) return 0;

    if (length == 0) {
        FinishTrackFile();
        return AdvanceTrack();
    }
    bool albumComplete = rip.currentTrack.load(std::memory_order_relaxed) >= TrackCount();
    if (rip.skipTrack) {
        // Ending a skipped track is answered alike by boundary and by length
        // 0, also when it was the album's last; bytes after the album's end
        // are refused below.
        if (b > 0) return AdvanceTrack();
        if (!albumComplete) {
            *boundary = length;  // the bytes of a skipped track are dropped
            return 1;
        }
    }
    // A processed track whose file could not be opened or written, or bytes
    // after the album's end: there is nowhere to put them.
    if (rip.trackFile == nullptr) return 0;

    std::size_t count = static_cast<std::size_t>(b == 0 ? length : b);
    std::size_t written = platform::WriteTrackBytes(rip.trackFile, data, count);
    if (std::ferror(rip.trackFile)) {
        // The track has failed already; how its close goes changes nothing.
        (void)CloseTrackFile();
        return 0;
    }
    if (b == 0) {
        *boundary = static_cast<std::int32_t>(written);
        return 1;
    }
    FinishTrackFile();
    return AdvanceTrack();
}

extern "C" std::int32_t Kill(void) {
    // The worker reads what Kill releases, and what the host may free once
    // Kill has returned.
    StopEncoderWorker();
    rip.active = false;
    ReleaseTempBases();
    ReleaseHeader();
    return CloseTrackFile();
}
