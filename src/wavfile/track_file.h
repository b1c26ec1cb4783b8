// Temporary per-track WAV files: their names, their header and the three
// operations on the file of the current track.
#pragma once

#include <cstdint>

namespace encbridge {

// A canonical 44-byte header of 16-bit stereo PCM at 44,100 Hz, with sizes
// that stand until the track is finished.
extern const std::uint8_t kDefaultHeader[44];

// Chooses the header written at the start of every track file: the host's
// (h, n), the default one when h is null, or none when n is 0.
// Returns 0 when memory for the copy cannot be obtained.
std::int32_t SelectHeader(const std::uint8_t *h, std::int32_t n);
// Opens the file of the current track, if it is processed. 1 or 0.
std::int32_t OpenTrackFile();
// Writes the true sizes into the header of the current file and closes it.
void FinishTrackFile();
// Closes the current file as it stands, without finishing it: 0, or -1 when
// closing failed. Nothing open gives 0.
std::int32_t CloseTrackFile();
// Closes the current file after a failed write: the track lacks audio, so it
// is never encoded nor published; its WAV file stays as written.
void AbandonTrackFile();
// Releases the header bytes.
void ReleaseHeader();

}  // namespace encbridge
