// The settings file as the module reads it, and why a rip may be refused.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "encbridge/tools.h"

namespace host {

// One output as the module read it: the main one first, then [OUTPUT2] to
// [OUTPUT9] as configured.
using ModuleOutput = EncbridgeOutput;

struct ModuleSettings {
    std::vector<ModuleOutput> outputs;  // never empty
    int deleteWav = 1;
    // The module that read them, and what it read, for its other rules.
    const EncbridgeToolTable *tools = nullptr;
    std::shared_ptr<const EncbridgeSettings> read;

    const ModuleOutput &main() const { return outputs.front(); }
    std::vector<std::string> Extensions() const;
};

// Reads the settings file with the loaded module's own reader, so that what
// the host shows is what the module will use.
ModuleSettings ReadModuleSettings(const EncbridgeToolTable &tools, const std::string &settingsPath);

// A warning when the settings file's COMMAND is longer than the module reads
// (it drops the rest without a word); empty when it fits.
std::string CommandCutWarning(const ModuleSettings &settings, const std::string &settingsPath);

// The program called name in the folders of path (as $PATH lists them):
// the first regular file there that this user may run, found without
// running it. Empty for a name with a "/", or for none; an empty or
// relative entry (the current folder, or one below it) is never searched.
std::string FindOnPath(const std::string &name, const std::string &path);

// Why Create refused a rip, in words: the module's reason, from its journal
// or from RefusalFromSettings, with what the settings file (read into
// settings) says about it (which output, which key, which path).
std::string ExplainRefusal(const ModuleSettings &settings, encbridge::Reason reason, const std::string &settingsPath,
                           const std::string &outputFolder);
// The module's own verdict on the settings' outputs, for a refusal that no
// journal recorded: Reason::Done when they are usable.
encbridge::Reason RefusalFromSettings(const ModuleSettings &settings);

}  // namespace host
