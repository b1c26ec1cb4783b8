// The temporary WAV file of one track: created new with the rip's header,
// appended to, and finished with the true sizes patched into that header.
// It knows nothing of albums: the rip decides which tracks have one and
// what they are called.
#pragma once

#include <cstdint>
#include <cstdio>

namespace encbridge {

namespace platform {
struct SystemError;
}

// A canonical 44-byte header of 16-bit stereo PCM at 44,100 Hz, with sizes
// that stand until the track is finished.
extern const std::uint8_t kDefaultHeader[44];

// The header written at the start of every track file of a rip.
struct TrackHeader {
    std::uint8_t *bytes;  // owned; null without a header
    std::int32_t length;
    // Where the sizes lie within bytes, or -1 where it holds none.
    std::int32_t riffSizeOffset;
    std::int32_t dataSizeOffset;
};

// Chooses the header: the host's (given, length), the default one when given
// is null, or none when length is 0. Releases what header held. False when memory for the
// copy cannot be obtained.
bool SelectHeader(TrackHeader &header, const std::uint8_t *given, std::int32_t length);
void ReleaseHeader(TrackHeader &header);

// Creates the file at path, where nothing may lie (see
// platform::OpenTrackStream), and writes the header. Null when either
// fails; a file that was created stays as it was written. error gets why
// the file could not be created.
std::FILE *OpenTrackFile(const char *path, const TrackHeader &header, platform::SystemError *error = nullptr);
// Writes the true sizes into the file's header and closes it.
void FinishTrackFile(std::FILE *file, const TrackHeader &header);
// Closes the file as it stands: 0, or -1 when closing failed. Null gives 0.
std::int32_t CloseTrackFile(std::FILE *file);

}  // namespace encbridge
