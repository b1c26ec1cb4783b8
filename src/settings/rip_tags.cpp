#include "settings/rip_tags.h"

#include "platform/format.h"
#include "settings/profile_reader.h"

namespace encbridge {

namespace {

const TrackTags kNoTrackTags = {};

template <std::size_t N>
void ReadValue(const ProfileReader &reader, const char *section, const char *key, char (&out)[N]) {
    reader.GetString(section, key, "", out, N);
}

// A path that may have been cut names another file: it is left out. The
// profile functions count a cut value's length in more than one way.
void DropCutPath(char (&path)[kPathCapacity]) {
    if (BoundedLength(path) >= kPathCapacity - 3) path[0] = '\0';
}

template <std::size_t N>
void TakeAlbums(char (&value)[N], const char (&album)[N]) {
    if (value[0] == '\0') FormatText(value, N, "%s", {album});
}

}  // namespace

void LoadAlbumTags(const char *settingsPath, AlbumTags &album) {
    const ProfileReader reader(settingsPath);
#define ENCBRIDGE_READ(field, key, capacity) ReadValue(reader, "ALBUM", key, album.field);
    ENCBRIDGE_ALBUM_TAG_KEYS(ENCBRIDGE_READ)
#undef ENCBRIDGE_READ
    DropCutPath(album.cover);
}

void LoadTrackTags(const char *settingsPath, std::int32_t index, const AlbumTags &album, TrackTags &track) {
    track = kNoTrackTags;
    if (index < 0 || index >= kMostTaggedTracks) return;
    char section[8];
    FormatText(section, sizeof section, "TRACK%02d", {index + 1});
    const ProfileReader reader(settingsPath);
#define ENCBRIDGE_READ(field, key, capacity) ReadValue(reader, section, key, track.field);
    ENCBRIDGE_TRACK_TAG_KEYS(ENCBRIDGE_READ)
#undef ENCBRIDGE_READ
    TakeAlbums(track.composer, album.composer);
    TakeAlbums(track.songwriter, album.songwriter);
}

void LoadRipTags(const char *settingsPath, RipTags &tags) {
    LoadAlbumTags(settingsPath, tags.album);
    for (std::int32_t i = 0; i < kMostTaggedTracks; ++i) LoadTrackTags(settingsPath, i, tags.album, tags.tracks[i]);
}

const TrackTags &TagsOfTrack(const RipTags &tags, std::int32_t index) {
    return index >= 0 && index < kMostTaggedTracks ? tags.tracks[index] : kNoTrackTags;
}

}  // namespace encbridge
