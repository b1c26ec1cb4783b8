#include "settings/plugin_settings.h"

#include <cstring>
#include <new>

#include "platform/format.h"
#include "platform/platform.h"
#include "settings/profile_reader.h"

namespace encbridge {

PluginSettings settings;

void SplitPath(const char *path, PathParts &parts) {
    parts.drive[0] = '\0';
    parts.folder[0] = '\0';
    if (path == nullptr) return;
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
    if (length > sizeof parts.folder - 1) length = sizeof parts.folder - 1;
    std::memcpy(parts.folder, rest, length);
    parts.folder[length] = '\0';
}

void LoadSettings(const char *settingsPath) {
    ProfileReader *reader = new (std::nothrow) ProfileReader(settingsPath);
    if (reader == nullptr) return;

    reader->GetString("SETUP", "OUT", ".wav", settings.outputExtension, 256);
    reader->GetString("OPTION", "COMMAND", "-V2 %i% %o%", settings.commandTemplate, 255);
    settings.deleteWav = reader->GetInt("OPTION", "DELETE", 1);

    std::memset(settings.encoderPath, 0, sizeof settings.encoderPath);
    char value[260] = {};
    reader->GetString("OPTION", "EXEPATH", kEncoderNotConfigured, value, 255);
    if (std::strcmp(value, kEncoderNotConfigured) == 0) {
        delete reader;
        return;
    }

    PathParts valueParts;
    SplitPath(value, valueParts);
    if (platform::IsAbsoluteProgramPath(value)) {
        // Users write absolute paths; they are taken as they stand.
        FormatText(settings.encoderPath, sizeof settings.encoderPath, "%s", {value});
    } else if (valueParts.drive[0] == '\0') {
        PathParts settingsParts;
        SplitPath(settingsPath, settingsParts);
        FormatText(settings.encoderPath, sizeof settings.encoderPath, "%s%s%s",
                   {settingsParts.drive, settingsParts.folder, value});
    }
    // A value with a drive part that is not absolute here stays unresolved,
    // and Create refuses the rip.

    settings.hideWindow = reader->GetInt("OPTION", "WIN_HIDE", 0);
    delete reader;
}

}  // namespace encbridge
