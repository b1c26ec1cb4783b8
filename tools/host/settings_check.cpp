#include "settings_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "settings/profile_reader.h"

namespace host {

std::vector<std::string> ModuleSettings::Extensions() const {
    std::vector<std::string> extensions;
    for (const ModuleOutput &output : outputs) extensions.push_back(output.extension);
    return extensions;
}

ModuleSettings ReadModuleSettings(const std::string &settingsPath) {
    auto loaded = std::make_unique<encbridge::PluginSettings>();
    encbridge::LoadSettings(settingsPath.c_str(), *loaded);
    ModuleSettings result;
    for (int i = 0; i < loaded->outputCount; ++i) {
        const encbridge::OutputSettings &output = loaded->outputs[i];
        ModuleOutput read;
        read.number = output.number;
        read.extension = output.outputExtension;
        read.commandTemplate = output.commandTemplate;
        read.encoderPath = output.encoderPath;
        read.albumStep = output.albumStep;
        read.albumEncoderPath = output.albumEncoderPath;
        read.albumTemplate = output.albumTemplate;
        result.outputs.push_back(read);
    }
    result.deleteWav = loaded->deleteWav;
    return result;
}

std::string CommandCutWarning(const std::string &settingsPath) {
    char whole[4096] = {};
    encbridge::platform::ProfileString("OPTION", "COMMAND", "", whole, sizeof whole, settingsPath.c_str());
    ModuleSettings settings = ReadModuleSettings(settingsPath);
    std::size_t length = std::strlen(whole);
    if (length <= settings.main().commandTemplate.size()) return std::string();
    return "COMMAND in " + settingsPath + " has " + std::to_string(length) + " characters, but the module reads " +
           std::to_string(settings.main().commandTemplate.size()) + " and drops the rest: \"" +
           std::string(whole + settings.main().commandTemplate.size()) + "\"";
}

namespace {

// The settings' outputs as the module reads and checks them: the reason and
// the output it is about.
encbridge::Reason CheckedOutputs(const std::string &settingsPath, int &number) {
    auto loaded = std::make_unique<encbridge::PluginSettings>();
    encbridge::LoadSettings(settingsPath.c_str(), *loaded);
    std::int32_t output = 0;
    const encbridge::Reason reason = encbridge::CheckOutputs(*loaded, output);
    number = loaded->outputs[output].number;
    return reason;
}

// Which of the main encoder's settings keeps it from being used: the file,
// the key, the path and the program, as the user wrote them.
std::string ExplainMainEncoder(const std::string &settingsPath) {
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
    if (settings.main().encoderPath.empty()) {
        return "the encoder path " + configured + " cannot be resolved; write the program's absolute path";
    }
    std::string encoder = settings.main().encoderPath;
    std::string resolved =
        encoder == value ? "" : " (resolved to " + encoder + ": relative paths start at the settings file's folder)";
    if (stat(encoder.c_str(), &info) != 0) {
        // The module never searches PATH; the host only names what is there.
        const char *path = std::getenv("PATH");
        const std::string found = FindOnPath(value, path == nullptr ? "" : path);
        return "the encoder is not found: nothing at " + configured + resolved +
               (found.empty() ? std::string() : "; write the full path, EXEPATH=" + found + " (found on PATH)");
    }
    if (!S_ISREG(info.st_mode)) return "the encoder named by " + configured + resolved + " is not a file";
    return "the encoder named by " + configured + resolved + " may not be read and run by this user";
}

}  // namespace

std::string FindOnPath(const std::string &name, const std::string &path) {
    if (name.empty() || name.find('/') != std::string::npos) return std::string();
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find(':', at);
        if (end == std::string::npos) end = path.size();
        const std::string folder = path.substr(at, end - at);
        at = end + 1;
        if (folder.empty() || folder[0] != '/') continue;
        const std::string candidate = folder + (folder.back() == '/' ? "" : "/") + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::string();
}

encbridge::Reason RefusalFromSettings(const std::string &settingsPath) {
    int number = 1;
    return CheckedOutputs(settingsPath, number);
}

std::string ExplainRefusal(encbridge::Reason reason, const std::string &settingsPath, const std::string &outputFolder) {
    int number = 1;
    // The module's reason tells which check failed; the settings tell which
    // output, and which key of it.
    if (CheckedOutputs(settingsPath, number) == reason && reason == encbridge::Reason::EncoderNotUsable &&
        number == 1) {
        return ExplainMainEncoder(settingsPath);
    }
    std::string words = encbridge::ReasonText(reason);
    switch (reason) {
        case encbridge::Reason::EncoderNotUsable:
        case encbridge::Reason::AlbumStepNotUsable:
        case encbridge::Reason::ExtensionMissing:
        case encbridge::Reason::OutputIsTheWav:
        case encbridge::Reason::ExtensionsAlike:
        case encbridge::Reason::TemplateTooLong:
            return words + " (output " + std::to_string(number) + ", " +
                   (number == 1 ? std::string("[SETUP]/[OPTION]") : "[OUTPUT" + std::to_string(number) + "]") + " of " +
                   settingsPath + ")";
        case encbridge::Reason::TrackFileNotOpened:
            return words + ": is the output folder " + outputFolder + " writable?";
        case encbridge::Reason::FolderInUse:
            return words + " (" + outputFolder + "): wait for that rip to end, or choose another --out";
        case encbridge::Reason::FolderMissing:
            return words + " (" + outputFolder +
                   "): was it removed or unmounted? Make it again, or choose another --out";
        case encbridge::Reason::FolderNotWritable:
            return words + " (" + outputFolder + "): give this user write permission, or choose another --out";
        case encbridge::Reason::LockNotMade:
            return words + " (" + outputFolder +
                   "): remove what lies at #ripping.lock there (its owner or an "
                   "administrator can), or choose another --out";
        case encbridge::Reason::Done:
            return "the module refused the rip without saying why";
        default:
            return words;
    }
}

}  // namespace host
