#include "settings_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace host {

std::vector<std::string> ModuleSettings::Extensions() const {
    std::vector<std::string> extensions;
    for (const ModuleOutput &output : outputs) extensions.push_back(output.outputExtension);
    return extensions;
}

ModuleSettings ReadModuleSettings(const EncbridgeToolTable &tools, const std::string &settingsPath) {
    auto read = std::make_shared<EncbridgeSettings>();
    ModuleSettings result;
    result.tools = &tools;
    if (tools.readSettings(settingsPath.c_str(), read.get()) != 1) read->outputCount = 0;
    const int count = std::max(0, std::min<int>(read->outputCount, encbridge::kMostOutputs));
    result.outputs.assign(read->outputs, read->outputs + count);
    // The module always reads a main output, if only an unusable one.
    if (result.outputs.empty()) {
        result.outputs.push_back(ModuleOutput());
        result.outputs.back().number = 1;
    }
    result.deleteWav = read->deleteWav;
    result.read = read;
    return result;
}

std::string CommandCutWarning(const ModuleSettings &settings, const std::string &settingsPath) {
    const std::string whole = settings.read->mainCommandAsWritten;
    const std::size_t kept = std::string(settings.main().commandTemplate).size();
    if (whole.size() <= kept) return std::string();
    return "COMMAND in " + settingsPath + " has " + std::to_string(whole.size()) +
           " characters, but the module reads " + std::to_string(kept) + " and drops the rest: \"" +
           whole.substr(kept) + "\"";
}

namespace {

// Which of the main encoder's settings keeps it from being used: the file,
// the key, the path and the program, as the user wrote them.
std::string ExplainMainEncoder(const ModuleSettings &settings, const std::string &settingsPath) {
    struct stat info;
    if (stat(settingsPath.c_str(), &info) != 0) {
        return "the settings file " + settingsPath + " does not exist, so no encoder is configured";
    }
    if (access(settingsPath.c_str(), R_OK) != 0) {
        return "the settings file " + settingsPath + " cannot be read, so no encoder is configured";
    }
    const std::string value = settings.read->mainEncoderAsWritten;
    if (value == encbridge::kEncoderNotConfigured) {
        return "no encoder is configured: " + settingsPath +
               " has no EXEPATH in its [OPTION] section (or it is DENY); name the encoder there, for example "
               "EXEPATH=/usr/bin/flac";
    }
    std::string configured = "EXEPATH=" + value + " in " + settingsPath;
    if (settings.main().encoderPath[0] == '\0') {
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

encbridge::Reason RefusalFromSettings(const ModuleSettings &settings) {
    return static_cast<encbridge::Reason>(settings.read->refusal);
}

std::string ExplainRefusal(const ModuleSettings &settings, encbridge::Reason reason, const std::string &settingsPath,
                           const std::string &outputFolder) {
    const int faulty = settings.read->faultyOutput;
    const int number = faulty >= 0 && faulty < encbridge::kMostOutputs ? settings.read->outputs[faulty].number : 1;
    // The module's reason tells which check failed; the settings tell which
    // output, and which key of it.
    if (RefusalFromSettings(settings) == reason && reason == encbridge::Reason::EncoderNotUsable && number == 1) {
        return ExplainMainEncoder(settings, settingsPath);
    }
    std::string words = encbridge::ReasonText(reason);
    switch (reason) {
        case encbridge::Reason::EncoderNotUsable:
        case encbridge::Reason::AlbumStepNotUsable:
        case encbridge::Reason::ExtensionMissing:
        case encbridge::Reason::OutputIsTheWav:
        case encbridge::Reason::ExtensionsAlike:
        case encbridge::Reason::TemplateTooLong:
        case encbridge::Reason::VerifyNotUsable:
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
                   "): remove it (its owner or an administrator can), or choose another --out";
        case encbridge::Reason::Done:
            return "the module refused the rip without saying why";
        default:
            return words;
    }
}

}  // namespace host
