#include "settings/plugin_settings.h"

#include <cstring>
#include <new>

#include "platform/format.h"
#include "platform/platform.h"
#include "settings/profile_reader.h"

namespace encbridge {

bool SplitPath(const char *path, PathParts &parts) {
    parts.drive[0] = '\0';
    parts.folder[0] = '\0';
    if (path == nullptr) return true;
    const char *rest = path;
    if (path[0] != '\0' && path[1] == ':') {
        parts.drive[0] = path[0];
        parts.drive[1] = ':';
        parts.drive[2] = '\0';
        rest = path + 2;
    }
    const char *folderEnd = rest;  // one past the last separator
    for (const char *p = rest; *p != '\0'; ++p) {
        if (platform::IsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
            ++p;  // the trail byte of a double-byte character is no separator
            continue;
        }
        if (*p == '\\' || *p == '/') folderEnd = p + 1;
    }
    std::size_t length = static_cast<std::size_t>(folderEnd - rest);
    const bool fits = length <= sizeof parts.folder - 1;
    if (!fits) length = sizeof parts.folder - 1;
    std::memcpy(parts.folder, rest, length);
    parts.folder[length] = '\0';
    return fits;
}

std::int32_t EncoderJobs(std::int32_t configured, std::int32_t processors) {
    if (configured == 0) configured = processors;
    if (configured < 1) return 1;
    return configured > kMostJobs ? kMostJobs : configured;
}

bool SettingsPathFits(const char *settingsPath) {
    if (BoundedLength(settingsPath, kSettingsPathCapacity) == kSettingsPathCapacity) return false;
    PathParts parts;
    return SplitPath(settingsPath, parts);
}

void LoadSettings(const char *settingsPath, PluginSettings &loaded) {
    ProfileReader *reader = new (std::nothrow) ProfileReader(settingsPath);
    if (reader == nullptr) return;

    reader->GetString("SETUP", "OUT", ".wav", loaded.outputExtension, 256);
    reader->GetString("OPTION", "COMMAND", "-V2 %i% %o%", loaded.commandTemplate, 255);
    loaded.deleteWav = reader->GetInt("OPTION", "DELETE", 1);
    loaded.jobs = EncoderJobs(reader->GetInt("OPTION", "JOBS", 1), platform::ProcessorCount());

    std::memset(loaded.encoderPath, 0, sizeof loaded.encoderPath);
    char value[sizeof loaded.encoderPath] = {};
    const std::uint32_t valueLength =
        reader->GetString("OPTION", "EXEPATH", kEncoderNotConfigured, value, sizeof value);
    // A value that filled the buffer may have been cut to the name of
    // another program; it stays unresolved, as does one marked not
    // configured, and Create refuses the rip.
    if (valueLength >= sizeof value - 2 || std::strcmp(value, kEncoderNotConfigured) == 0) {
        delete reader;
        return;
    }

    PathParts valueParts;
    SplitPath(value, valueParts);
    char resolved[sizeof loaded.encoderPath] = {};
    bool whole = false;
    if (platform::IsAbsoluteProgramPath(value)) {
        // Users write absolute paths; they are taken as they stand.
        whole = FormatWhole(resolved, sizeof resolved, "%s", {value});
    } else if (valueParts.drive[0] == '\0') {
        PathParts settingsParts;
        whole = SplitPath(settingsPath, settingsParts) &&
                FormatWhole(resolved, sizeof resolved, "%s%s%s", {settingsParts.drive, settingsParts.folder, value});
    }
    // A value with a drive part that is not absolute here, or a path that
    // would have to be cut, stays unresolved.
    if (whole) std::memcpy(loaded.encoderPath, resolved, sizeof resolved);

    loaded.hideWindow = reader->GetInt("OPTION", "WIN_HIDE", 0);
    delete reader;
}

}  // namespace encbridge
