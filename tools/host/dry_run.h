// --dry-run: the encoder's command lines, as the module would build them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "rip.h"

namespace host {

// For each output and each selected track, prints the command line that the
// module's encoder worker would run and the arguments that the encoder would
// receive, using the module's own code for both; then each output's album
// step. Returns the count of lines the module would refuse to run.
int PrintDryRun(std::FILE *out, const HostRecords &records, const std::vector<RipTrack> &tracks,
                const std::string &settingsPath, const std::string &outputFolder);

}  // namespace host
