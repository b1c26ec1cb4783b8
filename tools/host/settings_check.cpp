#include "settings_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "settings/profile_reader.h"

namespace host {

ModuleSettings ReadModuleSettings(const std::string &settingsPath) {
    encbridge::PluginSettings loaded{};
    encbridge::LoadSettings(settingsPath.c_str(), loaded);
    ModuleSettings result;
    result.outputExtension = loaded.outputExtension;
    result.commandTemplate = loaded.commandTemplate;
    result.encoderPath = loaded.encoderPath;
    result.deleteWav = loaded.deleteWav;
    return result;
}

std::string CommandCutWarning(const std::string &settingsPath) {
    char whole[4096] = {};
    encbridge::platform::ProfileString("OPTION", "COMMAND", "", whole, sizeof whole, settingsPath.c_str());
    ModuleSettings settings = ReadModuleSettings(settingsPath);
    std::size_t length = std::strlen(whole);
    if (length <= settings.commandTemplate.size()) return std::string();
    return "COMMAND in " + settingsPath + " has " + std::to_string(length) + " characters, but the module reads " +
           std::to_string(settings.commandTemplate.size()) + " and drops the rest: \"" +
           std::string(whole + settings.commandTemplate.size()) + "\"";
}

std::string ExplainRefusal(const std::string &settingsPath, const std::string &outputFolder) {
    struct stat info;
    if (stat(settingsPath.c_str(), &info) != 0) {
        return "the settings file " + settingsPath + " does not exist, so no encoder is configured";
    }
    if (access(settingsPath.c_str(), R_OK) != 0) {
        return "the settings file " + settingsPath + " cannot be read, so no encoder is configured";
    }
    char value[260] = {};
    {
        encbridge::ProfileReader reader(settingsPath.c_str());
        reader.GetString("OPTION", "EXEPATH", encbridge::kEncoderNotConfigured, value, 255);
    }
    if (std::strcmp(value, encbridge::kEncoderNotConfigured) == 0) {
        return "no encoder is configured: " + settingsPath +
               " has no EXEPATH in its [OPTION] section (or it is DENY); name the encoder there, for example "
               "EXEPATH=/usr/bin/flac";
    }
    ModuleSettings settings = ReadModuleSettings(settingsPath);
    std::string configured = "EXEPATH=" + std::string(value) + " in " + settingsPath;
    if (settings.encoderPath.empty()) {
        return "the encoder path " + configured + " cannot be resolved; write the program's absolute path";
    }
    std::string encoder = settings.encoderPath;
    std::string resolved =
        encoder == value ? "" : " (resolved to " + encoder + ": relative paths start at the settings file's folder)";
    if (stat(encoder.c_str(), &info) != 0) {
        return "the encoder is not found: nothing at " + configured + resolved;
    }
    if (!S_ISREG(info.st_mode)) return "the encoder named by " + configured + resolved + " is not a file";
    if (access(encoder.c_str(), R_OK | X_OK) != 0) {
        return "the encoder named by " + configured + resolved + " may not be read and run by this user";
    }
    if (access(outputFolder.c_str(), W_OK) != 0) {
        return "the module could not create the first track's temporary file: the output folder " + outputFolder +
               " is not writable";
    }
    return "the module refused the rip, although its settings name a usable encoder (" + encoder +
           ") and the output folder is writable";
}

}  // namespace host
