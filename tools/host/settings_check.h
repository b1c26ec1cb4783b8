// The settings file as the module reads it, and why a rip may be refused.
#pragma once

#include <string>

namespace host {

struct ModuleSettings {
    std::string outputExtension;
    std::string commandTemplate;
    std::string encoderPath;  // resolved as the module resolves it; empty: none
    int deleteWav = 1;
};

// Reads the settings file with the module's own reader, so that what the host
// shows is what the module will use.
ModuleSettings ReadModuleSettings(const std::string &settingsPath);

// A warning when the settings file's COMMAND is longer than the module reads
// (it keeps 253 characters and drops the rest without a word); empty when it
// fits.
std::string CommandCutWarning(const std::string &settingsPath);

// Why Create refused a rip: the most likely cause first (an encoder that is
// not configured, missing or may not be run), then an output folder where the
// first temporary file could not be made.
std::string ExplainRefusal(const std::string &settingsPath, const std::string &outputFolder);

}  // namespace host
