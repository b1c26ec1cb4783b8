// The two records through which a ripping host describes an album. They
// belong to the host and are read, never written. Their layout is binary and
// fixed: the offsets below are those of the 32-bit layout, checked at compile
// time. On a 64-bit build `tracks` is 8 bytes wide at the same offset, so
// only that record's size differs.
#pragma once

#include <cstddef>
#include <cstdint>

struct TrackInfo {
    std::int32_t status;   // the track is processed only when this equals 1
    std::uint8_t marked;   // ...and this is non-zero
    char extraText[1024];  // reaches no command tag
    char fileName[260];    // base name of the final file
    char title[1024];
    char artist[1024];
    char year[1024];
    char album[1031];    // album name given per track; to the next field
    char comment[1040];  // to the end of the record
};

struct AlbumInfo {
    std::uint8_t hostReserved[4];  // belongs to the host, never read
    char outputFolder[1288];       // literal prefix: ends with a separator
    char albumTitle[1024];
    char albumArtist[1284];
    char albumComment[1028];
    std::int32_t trackCount;
    TrackInfo *tracks;  // trackCount records, one after the other
};

namespace encbridge {

// Processed tracks are written and encoded; every other track is skipped.
inline bool IsProcessed(const TrackInfo &track) { return track.status == 1 && track.marked != 0; }

}  // namespace encbridge

static_assert(offsetof(TrackInfo, status) == 0, "TrackInfo layout");
static_assert(offsetof(TrackInfo, marked) == 4, "TrackInfo layout");
static_assert(offsetof(TrackInfo, extraText) == 5, "TrackInfo layout");
static_assert(offsetof(TrackInfo, fileName) == 1029, "TrackInfo layout");
static_assert(offsetof(TrackInfo, title) == 1289, "TrackInfo layout");
static_assert(offsetof(TrackInfo, artist) == 2313, "TrackInfo layout");
static_assert(offsetof(TrackInfo, year) == 3337, "TrackInfo layout");
static_assert(offsetof(TrackInfo, album) == 4361, "TrackInfo layout");
static_assert(offsetof(TrackInfo, comment) == 5392, "TrackInfo layout");
static_assert(sizeof(TrackInfo) == 6432, "one TrackInfo every 6,432 bytes");

static_assert(offsetof(AlbumInfo, outputFolder) == 4, "AlbumInfo layout");
static_assert(offsetof(AlbumInfo, albumTitle) == 1292, "AlbumInfo layout");
static_assert(offsetof(AlbumInfo, albumArtist) == 2316, "AlbumInfo layout");
static_assert(offsetof(AlbumInfo, albumComment) == 3600, "AlbumInfo layout");
static_assert(offsetof(AlbumInfo, trackCount) == 4628, "AlbumInfo layout");
static_assert(offsetof(AlbumInfo, tracks) == 4632, "AlbumInfo layout");
// The width of the pointer itself is meant: 4 bytes, or 8 on 64-bit Linux.
static_assert(sizeof(AlbumInfo) == 4632 + sizeof(TrackInfo *),  // NOLINT(bugprone-sizeof-expression)
              "AlbumInfo ends with tracks");
