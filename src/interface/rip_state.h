// The host's side of the one rip that runs from Create to Kill, and the
// operations of the host interface on it. Every function here is
// [host's threads, the module's lock held]; those on the current track are
// the ripping thread's.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "encoder/encoder_worker.h"
#include "encoder/journal.h"
#include "encoder/shared_rip.h"
#include "interface/plugin_interface.h"
#include "platform/format.h"
#include "settings/plugin_settings.h"
#include "wavfile/track_file.h"

namespace encbridge {

namespace platform {
struct FolderLock;
}

// The one object of mutable state on the host's side of the module: written
// only by the exported functions, each with the module's lock held.
struct RipSide {
    // False until a Create succeeds, and again from the moment a later Create
    // begins to change the rip or Kill ends it: SetData refuses while false.
    bool active;
    // The album, its tracks' entries, the settings and the journal, which
    // the encoder worker reads. Its count of finished tracks is the index
    // of the current track, written by the host's thread only.
    SharedRip shared;
    std::FILE *trackFile;
    // Written at the start of every track file.
    TrackHeader header;
    bool skipTrack;
    // Held in the output folder from Create to Kill.
    platform::FolderLock *folderLock;
    // Counts the module's Create calls that read settings: a rip's number
    // in its journal records.
    std::uint32_t ripNumber;
    // Where the host's side builds its journal records; the worker has its
    // own.
    JournalBuffer journalBuffer;
};

// The one rip, held by the exported functions, which hand each step the rip
// it works on. For tests that look inside a rip (the fuzzer) only.
RipSide &RipSideForTests();

// Opens the file of the current track, if it is processed, under the
// track's temporary name, once whatever lay under that name was moved
// aside. 1 or 0; a track whose file could not be opened is never encoded.
std::int32_t OpenCurrentTrack(RipSide &rip);
// Writes the true sizes into the current track's file and closes it.
void FinishCurrentTrack(RipSide &rip);
// Closes the current track's file as it stands: 0, or -1 when closing
// failed. Nothing open gives 0.
std::int32_t CloseCurrentTrack(RipSide &rip);
// Closes the current track's file after a failed write: the track lacks
// audio, so it is never encoded nor published; its WAV stays as written.
// why: the system's reason, which the track's record carries.
void AbandonCurrentTrack(RipSide &rip, platform::SystemError why);
// Moves the rip to the next track: 1 or 0, or after the last one
// kAlbumDelivered, for the caller to wait for the encoder worker.
constexpr std::int32_t kAlbumDelivered = 2;
std::int32_t AdvanceTrack(RipSide &rip);

}  // namespace encbridge
