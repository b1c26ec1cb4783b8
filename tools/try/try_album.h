// The album that encbridge-try.exe rips: three tracks of a second of tones
// each, whose titles and names hold what users' discs hold (blanks, double
// quotes, a %, letters beyond ASCII in the ANSI code page).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "try_windows.h"

namespace encbridge_try {

constexpr int kTrackCount = 3;

struct TryAlbum {
    std::unique_ptr<AlbumInfo> info;
    std::vector<TrackInfo> tracks;
};

// The album's records, its files to go to outputFolder (ending with a
// separator).
void MakeAlbum(const std::string &outputFolder, TryAlbum &album);

// Hands the module every track's audio, as a ripping program reads it from a
// CD, and ends each track. The end of the last one returns once the
// encoders are done. False with the step the module refused in error.
bool DeliverAlbum(const Module &module, std::string &error);

}  // namespace encbridge_try
