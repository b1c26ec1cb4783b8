// The part of the rip that the host's thread and the worker share: the
// album, the settings, the journal, and one record per track, whose state
// is changed only through the functions below. Each says which thread may
// call it:
//   [ripping thread]  the host's thread that delivers the audio, under the
//                     module's lock, while the count of finished tracks has
//                     not passed the track;
//   [worker thread]   the encoder worker, once that count has passed it;
//   [host's threads]  any thread of the host, with the module's lock held
//                     and no worker running.
#pragma once

#include <atomic>
#include <cstdint>

#include "encoder/journal.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "records/host_records.h"
#include "settings/plugin_settings.h"
#include "settings/rip_tags.h"

namespace encbridge {

// Where one track of the rip stands.
enum class TrackState : std::uint8_t {
    NotWritten,  // skipped, not reached, or its file could not be opened or written
    Writing,     // its WAV file is open under its temporary name
    Finished,    // its WAV file is whole and closed: the worker may encode it
    Encoding,    // some output was tried, and not every one has ended
    Kept,        // every output has ended, some not at its final name: the WAV stays
    Published,   // every output reached its final name; the WAV stays
    Removed,     // every output reached its final name, and the WAV went
};

// One track of the rip. Its state is read anywhere but written only through
// the Mark functions below; its other fields are written by the thread that
// holds the track at the time.
struct RipTrack {
    TrackState state;
    // The temporary base name, set when its file is opened.
    PathBuffer base;
    // Per output, bit n for settings output n: its encoder has ended (or
    // never started), and it has reached its final name.
    std::uint16_t ended;
    std::uint16_t published;
    bool wavIsOutput;  // an encoder rewrites the WAV file itself
    // An output was published but could not be put on disk: the WAV file
    // stays, the one copy of the audio known to survive a power cut.
    bool notOnDisk;
    // Keeps the encoders from changing the WAV file, from the start of the
    // track's first encoder until every one has ended; not held otherwise,
    // and when the WAV file is the output.
    platform::FileGuard wavGuard;
    // Why the system refused to create or write its WAV file, when it did.
    platform::SystemError writeError;
};

// What the worker reads of the rip; the exported functions hold the rest.
// All of it stays put from the worker's start until it has ended, but the
// count of finished tracks and the entries of tracks that it passes.
struct SharedRip {
    // [host's threads] set before the worker starts; read by both.
    const AlbumInfo *album;
    // The count that tracks was made for: no record beyond it is read.
    std::int32_t trackCount;
    RipTrack *tracks;
    // How many tracks the host's thread has finished. [ripping thread]
    // raises it with release once a track's file is finished and closed,
    // which hands that track's entry to the worker; [worker thread] reads it
    // with acquire.
    std::atomic<std::int32_t> finishedTracks;
    // Loaded by Create; the worker reads them until it has ended.
    PluginSettings settings;
    // What the settings file tells of the album and its tracks, read with
    // them.
    RipTags tags;
    // Opened by Create, closed by Kill or the next Create. Each writer passes
    // its own record buffer.
    RipJournal journal;
};

// [host's threads] Makes the rip's entries for count tracks, all NotWritten;
// false when there is no memory for them. Releases earlier ones first.
bool MakeRipTracks(SharedRip &rip, std::int32_t count);
// [host's threads]
void ReleaseRipTracks(SharedRip &rip);

// [ripping thread] The track has no file (skipped, not yet opened, or its
// file could not be opened or written): why says what the system refused.
void MarkTrackNotWritten(RipTrack &track, platform::SystemError why);
// [ripping thread] Its WAV file is open and being written.
void MarkTrackWriting(RipTrack &track);
// [ripping thread] A track being written is whole and closed; any other
// state stays as it is.
void MarkTrackWritten(RipTrack &track);

// [worker thread] Some output of the track is being tried.
void MarkTrackEncoding(RipTrack &track);
// [worker thread] Settings output number output of the track has ended,
// at its final name when published: true once every one of outputCount
// outputs has.
bool MarkOutputEnded(RipTrack &track, std::int32_t output, bool published, std::int32_t outputCount);
// [worker thread] Every output has ended: Published when each reached its
// final name, else Kept.
void MarkTrackEnded(RipTrack &track, std::int32_t outputCount);
// [worker thread] A published track's WAV file has been deleted.
void MarkTrackRemoved(RipTrack &track);

// [either] Every one of outputCount outputs has reached its final name.
bool PublishedEverywhere(const RipTrack &track, std::int32_t outputCount);

}  // namespace encbridge
