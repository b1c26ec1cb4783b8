// What the host knows of an album beyond its records (disc, genre, ISRC,
// cover...), handed to the module as sections of the settings copy it
// writes for each rip.
#pragma once

#include <string>
#include <vector>

#include "cue_sheet.h"

namespace host {

// The front picture beside a sheet in folder: cover, folder or front, then
// .jpg, .jpeg or .png, letters in any case, first found in that order. Only
// a regular file (no link, FIFO or device) of at most kMaxCoverBytes is
// taken, named by its absolute path; each one passed over gets a line in
// notes. Empty when there is none.
std::string FindCoverBeside(const std::string &folder, std::vector<std::string> &notes);

// The [ALBUM] section and a [TRACKnn] section per track (nn: its place in
// tracks from 01) holding what is known; keys with no value are left out,
// and so is a section with none. cover: the picture's absolute path, or "".
std::string AlbumSections(const CueAlbum &cue, const std::vector<ImageTrack> &tracks, const std::string &cover);

}  // namespace host
