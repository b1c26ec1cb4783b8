// The four exported functions.
#include "interface/plugin_interface.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "encoder/encoder_worker.h"
#include "encoder/journal.h"
#include "interface/rip_state.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "wavfile/temp_names.h"
#include "wavfile/track_file.h"

namespace encbridge {

namespace {

// The host's side of the one rip.
RipSide ripSide;

// Only a lock that a live process holds refuses the rip: anything else at
// the lock's name is moved aside, as any other leftover of the folder.
Reason LockFolder(RipSide &rip, const AlbumInfo *info, platform::SystemError &error) {
    PathBuffer path;
    if (!FormatWhole(path, sizeof path, "%s%s", {info->outputFolder, kLockFileName})) return Reason::NameTooLong;
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::LockRefusal refusal = platform::LockRefusal::HeldElsewhere;
        rip.folderLock = platform::LockFolder(path, refusal, &error);
        if (rip.folderLock != nullptr) return Reason::Done;
        switch (refusal) {
            case platform::LockRefusal::HeldElsewhere:
                return Reason::FolderInUse;
            case platform::LockRefusal::FolderMissing:
                return Reason::FolderMissing;
            case platform::LockRefusal::FolderNotWritable:
                return Reason::FolderNotWritable;
            case platform::LockRefusal::NotALock:
                if (!ClearTheLockName(path, info->outputFolder, sizeof info->outputFolder, &error)) {
                    return Reason::LockNotMade;
                }
                break;
        }
    }
    return Reason::LockNotMade;
}

void ReleaseFolder(RipSide &rip) {
    platform::UnlockFolder(rip.folderLock);
    rip.folderLock = nullptr;
}

}  // namespace

RipSide &RipSideForTests() { return ripSide; }

void OnModuleUnload(bool forGood) {
    Kill();
    if (forGood) ReleaseEncoderWorkerEvents();
}

void OnForkedChild() {
    ForgetEncoderWorker();
    ripSide.active = false;
    // The stream's descriptor is the parent's file too; the copy of the
    // stream is left as it is, never written, flushed or closed here. So is
    // the folder's lock: releasing it would remove the parent's lock file.
    ripSide.trackFile = nullptr;
    platform::ForgetFolderLock(ripSide.folderLock);
    ripSide.folderLock = nullptr;
    ForgetRipJournal(ripSide.shared.journal);
}

}  // namespace encbridge

using namespace encbridge;

extern "C" std::int32_t GetDllViersion(void) { return 4; }

namespace {

// Create's steps, in order; Reason::Done once the rip has started.
// settingsRead is raised once the settings, and so the journal, of this
// rip are known; system gets the system's error behind a refusal.
Reason StartRip(AlbumInfo *info, const char *settingsPath, const std::uint8_t *header, std::int32_t headerLength,
                platform::ModuleHold *&hold, bool &settingsRead, platform::SystemError &system) {
    settingsRead = false;
    system = {0};
    // Arguments that no rip could be started with are refused before anything
    // changes, so that an earlier rip goes on undisturbed.
    if (info == nullptr || settingsPath == nullptr) return Reason::BadArguments;
    // Without a header the default one is used, whatever the length says.
    if (info->trackCount < 0 || (header != nullptr && headerLength < 0)) return Reason::BadArguments;
    if (info->trackCount > 0 && info->tracks == nullptr) return Reason::BadArguments;
    // A settings path cut to fit would read another file's settings, or
    // resolve the encoder against another folder. It is made a full path,
    // so that a bare name means the current folder on both builds (the
    // profile functions would look for it in the Windows folder).
    char fullSettingsPath[kSettingsPathCapacity];
    if (!SettingsPathFits(settingsPath) ||
        !platform::MakeFullPath(settingsPath, fullSettingsPath, sizeof fullSettingsPath) ||
        !SettingsPathFits(fullSettingsPath)) {
        return Reason::SettingsPathTooLong;
    }

    // An earlier worker reads the settings, the names and the records that
    // this rip replaces: it ends before any of them changes.
    StopEncoderWorker();
    ripSide.active = false;
    ReleaseFolder(ripSide);
    SharedRip &shared = ripSide.shared;
    CloseRipJournal(shared.journal);
    LoadSettings(fullSettingsPath, shared.settings);
    LoadRipTags(fullSettingsPath, shared.tags);
    // A refused rip makes no file: its refusal goes to a journal that
    // exists already, and the journal is made only once the rip starts.
    OpenRipJournal(shared.journal, shared.settings, *info, reinterpret_cast<std::uintptr_t>(&ripSide),
                   ++ripSide.ripNumber, false);
    settingsRead = true;
    ReleaseRipTracks(shared);
    shared.album = info;
    shared.finishedTracks.store(0, std::memory_order_release);
    ripSide.skipTrack = false;  // an album without tracks has none to skip
    if (!SelectHeader(ripSide.header, header, headerLength)) return Reason::HeaderRefused;
    // The file of a rip that its host left for this one: there is no call
    // left to report its close to.
    (void)CloseCurrentTrack(ripSide);
    // Settings that no rip could be made with leave the output folder as it
    // is: an output whose encoder or album step cannot be run, or two
    // outputs that would write one file.
    std::int32_t faultyOutput = 0;
    const Reason outputs = CheckOutputs(shared.settings, faultyOutput);
    if (outputs != Reason::Done) return outputs;

    if (!MakeRipTracks(shared, info->trackCount)) return Reason::OutOfMemory;  // reachable on 32 bits
    // One rip per folder: another process's rip would move this one's files
    // aside, and publish them as its own tracks.
    const Reason locked = LockFolder(ripSide, info, system);
    if (locked != Reason::Done) return locked;
    if (!OpenCurrentTrack(ripSide)) {
        system = shared.tracks != nullptr ? shared.tracks[0].writeError : platform::SystemError{0};
        ReleaseFolder(ripSide);
        return Reason::TrackFileNotOpened;
    }
    if (shared.journal.file == nullptr) {
        OpenRipJournal(shared.journal, shared.settings, *info, reinterpret_cast<std::uintptr_t>(&ripSide),
                       ripSide.ripNumber, true);
    }
    JournalRipStart(shared.journal, ripSide.journalBuffer, *info, fullSettingsPath);
    StartEncoderWorker(shared, hold);
    ripSide.active = true;
    return Reason::Done;
}

}  // namespace

namespace {

// Holds the module's lock for one exported call: the rip changes under it
// only, so that calls from several threads (a host's Cancel calling Kill
// while its ripping thread does the same) take turns.
struct ModuleLockHeld {
    ModuleLockHeld() : held(platform::LockModule()) {}
    ~ModuleLockHeld() { Release(); }
    ModuleLockHeld(const ModuleLockHeld &) = delete;
    ModuleLockHeld &operator=(const ModuleLockHeld &) = delete;
    void Release() {
        if (held) platform::UnlockModule();
        held = false;
    }
    bool held;
};

// The exported Create, with the module's lock held.
std::int32_t CreateLocked(AlbumInfo *info, const char *settingsPath, const std::uint8_t *header,
                          std::int32_t headerLength, platform::ModuleHold *&hold) {
    bool settingsRead = false;
    platform::SystemError system = {0};
    const Reason reason = StartRip(info, settingsPath, header, headerLength, hold, settingsRead, system);
    if (reason == Reason::Done) return 1;
    // Only this rip's own journal hears of its refusal.
    if (settingsRead) {
        JournalRefusal(ripSide.shared.journal, ripSide.journalBuffer, reason, system.code);
        CloseRipJournal(ripSide.shared.journal);
    }
    return 0;
}

// The exported SetData, with the module's lock held.
std::int32_t SetDataLocked(const std::uint8_t *data, std::int32_t length, std::int32_t *boundary) {
    if (!ripSide.active || data == nullptr || boundary == nullptr) return 0;
    // How many of the bytes end the current track; 0: all belong to it.
    const std::int32_t trackEnd = *boundary;
    if (trackEnd < 0 || length < trackEnd) return 0;

    if (length == 0) {
        FinishCurrentTrack(ripSide);
        return AdvanceTrack(ripSide);
    }
    bool albumComplete = ripSide.shared.finishedTracks.load(std::memory_order_relaxed) >= ripSide.shared.trackCount;
    if (ripSide.skipTrack) {
        // Ending a skipped track is answered alike by boundary and by length
        // 0, also when it was the album's last; bytes after the album's end
        // are refused below.
        if (trackEnd > 0) return AdvanceTrack(ripSide);
        if (!albumComplete) {
            *boundary = length;  // the bytes of a skipped track are dropped
            return 1;
        }
    }
    // A processed track whose file could not be opened or written, or bytes
    // after the album's end: there is nowhere to put them.
    if (ripSide.trackFile == nullptr) return 0;

    std::size_t count = static_cast<std::size_t>(trackEnd == 0 ? length : trackEnd);
    platform::SystemError writeError = {0};
    std::size_t written = platform::WriteTrackBytes(ripSide.trackFile, data, count, &writeError);
    if (std::ferror(ripSide.trackFile)) {
        AbandonCurrentTrack(ripSide, writeError);
        return 0;
    }
    if (trackEnd == 0) {
        *boundary = static_cast<std::int32_t>(written);
        return 1;
    }
    FinishCurrentTrack(ripSide);
    return AdvanceTrack(ripSide);
}

}  // namespace

extern "C" std::int32_t Create(AlbumInfo *info, const char *settingsPath, const std::uint8_t *header,
                               std::int32_t headerLength) {
    // Taken outside the lock, which a Kill under the loader's lock may wait for.
    platform::ModuleHold *hold = platform::HoldModule();
    ModuleLockHeld lock;
    const std::int32_t made = lock.held ? CreateLocked(info, settingsPath, header, headerLength, hold) : 0;
    lock.Release();
    platform::ReleaseModuleHold(hold);
    return made;
}

extern "C" std::int32_t SetData(const std::uint8_t *data, std::int32_t length, std::int32_t *boundary) {
    ModuleLockHeld lock;
    if (!lock.held) return 0;
    const std::int32_t taken = SetDataLocked(data, length, boundary);
    if (taken != kAlbumDelivered) return taken;
    // The album is complete: its last delivery returns once all encoding is,
    // or with 0 once a Kill from another thread has stopped the worker, which
    // that Kill needs the lock for.
    const std::uint32_t worker = CurrentEncoderWorker();
    lock.Release();
    return WaitForEncoderWorker(worker) ? 1 : 0;
}

extern "C" std::int32_t Kill(void) {
    // A second Kill waits for the first, then finds nothing left to end. No
    // lock to be had: no rip was ever made.
    ModuleLockHeld lock;
    if (!lock.held) return 0;
    // The worker reads what Kill releases, and what the host may free once
    // Kill has returned.
    StopEncoderWorker();
    ripSide.active = false;
    ReleaseRipTracks(ripSide.shared);
    ReleaseHeader(ripSide.header);
    const std::int32_t closed = CloseCurrentTrack(ripSide);
    ReleaseFolder(ripSide);
    CloseRipJournal(ripSide.shared.journal);
    return closed;
}
