// The settings file as the module reads it, and why a rip may be refused.
#pragma once

#include <string>
#include <vector>

#include "records/outcome.h"

namespace host {

// One output: the main one first, then [OUTPUT2] to [OUTPUT9] as configured.
struct ModuleOutput {
    int number = 1;
    std::string extension;
    std::string commandTemplate;
    std::string encoderPath;  // resolved as the module resolves it; empty: none
    bool albumStep = false;
    std::string albumEncoderPath;
    std::string albumTemplate;
};

struct ModuleSettings {
    std::vector<ModuleOutput> outputs;  // never empty
    int deleteWav = 1;

    const ModuleOutput &main() const { return outputs.front(); }
    std::vector<std::string> Extensions() const;
};

// Reads the settings file with the module's own reader, so that what the host
// shows is what the module will use.
ModuleSettings ReadModuleSettings(const std::string &settingsPath);

// A warning when the settings file's COMMAND is longer than the module reads
// (it keeps 253 characters and drops the rest without a word); empty when it
// fits.
std::string CommandCutWarning(const std::string &settingsPath);

// The program called name in the folders of path (as $PATH lists them):
// the first regular file there that this user may run, found without
// running it. Empty for a name with a "/", or for none; an empty or
// relative entry (the current folder, or one below it) is never searched.
std::string FindOnPath(const std::string &name, const std::string &path);

// Why Create refused a rip, in words: the module's reason, from its journal
// or from RefusalFromSettings, with what the settings file says about it
// (which output, which key, which path).
std::string ExplainRefusal(encbridge::Reason reason, const std::string &settingsPath, const std::string &outputFolder);
// The module's own verdict on the settings file's outputs, for a refusal
// that no journal recorded: Reason::Done when they are usable.
encbridge::Reason RefusalFromSettings(const std::string &settingsPath);

}  // namespace host
