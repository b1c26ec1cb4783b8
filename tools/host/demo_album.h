// The demo album that encbridge-host makes when it is given no cue sheet.
#pragma once

#include <string>

namespace host {

struct DemoFiles {
    std::string cuePath;
    std::string settingsPath;
};

// Writes into folder (with its trailing "/"): album.wav, a few seconds of a
// distinct tone per track with a pregap before the second track; album.cue
// with titles that hold blanks, double quotes and non-ASCII bytes; and
// encbridge.ini, which has the module encode with /usr/bin/flac.
bool WriteDemoAlbum(const std::string &folder, DemoFiles &files, std::string &error);

}  // namespace host
