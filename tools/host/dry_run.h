// --dry-run: the encoder's command lines, as the module would build them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "plugin_module.h"
#include "rip.h"
#include "settings_check.h"

namespace host {

// For each output and each selected track, prints the command line that the
// module's encoder worker would run and the arguments that the encoder would
// receive, asking the loaded module for both; then each output's album
// step. settings were read by module. Returns the count of lines the module
// would refuse to run.
int PrintDryRun(std::FILE *out, const PluginModule &module, const ModuleSettings &settings, const HostRecords &records,
                const std::vector<RipTrack> &tracks, const std::string &settingsPath, const std::string &outputFolder);

}  // namespace host
