// What a host knows of the album and its tracks beyond its records, as the
// settings file hands it to the module: read once at Create into fixed
// buffers, so that the worker reads them without allocating.
#pragma once

#include <cstdint>

#include "encbridge/limits.h"
#include "encbridge/settings.h"

namespace encbridge {

#define ENCBRIDGE_TAG_FIELD(field, key, capacity) char field[capacity];
struct AlbumTags {
    ENCBRIDGE_ALBUM_TAG_KEYS(ENCBRIDGE_TAG_FIELD)
};
struct TrackTags {
    ENCBRIDGE_TRACK_TAG_KEYS(ENCBRIDGE_TAG_FIELD)
};
#undef ENCBRIDGE_TAG_FIELD

// About 52 KB: held by the rip, never on a thread's stack.
struct RipTags {
    AlbumTags album;
    TrackTags tracks[kMostTaggedTracks];
};

// Reads [ALBUM] into album; a missing section or key leaves it empty.
void LoadAlbumTags(const char *settingsPath, AlbumTags &album);
// Reads [TRACKnn] of track index (from 0) into track, its COMPOSER and
// SONGWRITER the album's when it gives none; all empty beyond
// kMostTaggedTracks.
void LoadTrackTags(const char *settingsPath, std::int32_t index, const AlbumTags &album, TrackTags &track);
// Both, for every track.
void LoadRipTags(const char *settingsPath, RipTags &tags);

// Track index's values within tags, or a record of empty ones beyond them.
const TrackTags &TagsOfTrack(const RipTags &tags, std::int32_t index);

}  // namespace encbridge
