// A cue sheet for the files a rip made: burnt back, they give the disc's
// layout again.
#pragma once

#include <string>
#include <vector>

#include "cue_sheet.h"
#include "rip.h"

namespace host {

// The text of a cue sheet for the selected tracks' files of one output
// (extension, dot included), each file named relative to folder (a prefix of
// every track's file name, "" or ending with "/"): the album's and tracks'
// texts, one FILE per file, and each track's INDEX 01 and INDEX 00 where
// its file holds them. A gap that no file holds (dropped, or in a track
// that was not made) becomes a PREGAP of its length. Texts lose what a cue
// sheet cannot hold: a double quote becomes ', a control character a blank.
std::string CueSheetText(const CueAlbum &cue, const std::vector<RipTrack> &tracks, const std::string &folder,
                         const std::string &extension);

// The folder below the output folder that holds every selected track's
// file: the folders their names share, "" or ending with "/".
std::string SharedFolder(const std::vector<RipTrack> &tracks);

// Where --write-cue writes the sheet: the album's name (its title, or what
// names an untitled album's files) as a file name, with ".cue", in the
// folder below outputFolder that SharedFolder gives.
std::string RipCuePath(const std::string &albumName, const std::vector<RipTrack> &tracks,
                       const std::string &outputFolder);

// Writes CueSheetText to path, a new file unless replace is set; never
// through a symbolic link. False with a message in error.
bool WriteCueSheet(const std::string &path, const std::string &text, bool replace, std::string &error);

}  // namespace host
