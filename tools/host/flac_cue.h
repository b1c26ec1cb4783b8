// A cue sheet kept inside a FLAC image: a CUESHEET tag (the text of a cue
// sheet) or a CUESHEET metadata block (positions only), read with libFLAC.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "cue_sheet.h"

namespace host {

// Whether the stream, read from its start, is a FLAC file (perhaps behind an
// ID3 tag). Leaves the stream anywhere, perhaps failed.
bool IsFlacFile(std::istream &in);

// Reads the cue sheet inside the FLAC image at path: its CUESHEET tag when
// it has one, which also holds titles, else its CUESHEET block with the
// album's texts from its other tags. The album's one file is the image
// itself, whatever name the sheet gives it. charset and notes as
// ReadCueSheet takes them. False with a message in error when the image has
// neither or they do not describe a CD.
bool ReadEmbeddedCueSheet(const std::string &path, const std::string &charset, CueAlbum &album,
                          std::vector<std::string> &notes, std::string &error);

}  // namespace host
