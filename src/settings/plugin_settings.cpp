#include "settings/plugin_settings.h"

#include <algorithm>
#include <cstdint>
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

namespace {

// An encoder path as the settings file gives it, made usable: an absolute
// path as it stands, a relative one from the settings file's folder. Stays
// empty when the key is missing or marked not configured, and when the
// value filled its buffer, since it may have been cut to the name of another
// program, or could only be resolved cut.
void ReadProgramPath(const ProfileReader &reader, const char *settingsPath, const char *section, const char *key,
                     char (&path)[kPathCapacity]) {
    std::memset(path, 0, sizeof path);
    char value[kPathCapacity] = {};
    const std::uint32_t valueLength = reader.GetString(section, key, kEncoderNotConfigured, value, sizeof value);
    if (valueLength > kLongestProgramPath || std::strcmp(value, kEncoderNotConfigured) == 0) return;

    PathParts valueParts;
    SplitPath(value, valueParts);
    char resolved[kPathCapacity] = {};
    bool whole = false;
    if (platform::IsAbsoluteProgramPath(value)) {
        // Users write absolute paths; they are taken as they stand.
        whole = FormatWhole(resolved, sizeof resolved, "%s", {value});
    } else if (valueParts.drive[0] == '\0') {
        PathParts settingsParts;
        whole = SplitPath(settingsPath, settingsParts) &&
                FormatWhole(resolved, sizeof resolved, "%s%s%s", {settingsParts.drive, settingsParts.folder, value});
    }
    // A value with a drive part that is not absolute here stays unresolved.
    if (whole) std::memcpy(path, resolved, sizeof resolved);
}

// JOBS as the settings file writes it, held within the range of its type.
// The profile's own number wraps modulo 2^32, so that 4294967297 would read
// as 1 and 4294967296 as 0: the text is read as that number is (leading
// blanks, a sign, decimal digits or "0x" and hex digits, up to the first
// other character) but stops growing past 2^32, for EncoderJobs to clamp.
std::int32_t ConfiguredJobs(const ProfileReader &reader) {
    char text[kPathCapacity] = {};
    if (reader.GetString("OPTION", "JOBS", "", text, sizeof text) == 0) return 1;
    const char *p = text;
    while (*p == ' ' || *p == '\t') ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    const bool hex = p[0] == '0' && p[1] == 'x';
    if (hex) p += 2;
    constexpr std::int64_t kBeyond = std::int64_t{1} << 32;
    std::int64_t value = 0;
    for (;; ++p) {
        const char c = *p;
        std::int64_t digit = 16;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit >= (hex ? 16 : 10)) break;
        value = std::min(value * (hex ? 16 : 10) + digit, kBeyond);
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::max<std::int64_t>(INT32_MIN, std::min<std::int64_t>(INT32_MAX, value)));
}

// A template into its buffer; false when it filled the buffer and may have
// been cut.
bool ReadTemplate(const ProfileReader &reader, const char *section, const char *key, const char *fallback,
                  char (&text)[kTemplateCapacity]) {
    return reader.GetString(section, key, fallback, text, sizeof text) <= kLongestTemplate;
}

bool HasKey(const ProfileReader &reader, const char *section, const char *key) {
    // No settings file holds this value: its first character ends a line
    // nowhere and is no text.
    static const char kMissing[] = "\x7f<missing>";
    char value[sizeof kMissing + 1] = {};
    reader.GetString(section, key, kMissing, value, sizeof value);
    return std::strcmp(value, kMissing) != 0;
}

// The album step of one output, from the same section as its encoder.
void ReadAlbumStep(const ProfileReader &reader, const char *settingsPath, const char *section, OutputSettings &output) {
    output.albumStep = HasKey(reader, section, "ALBUM_EXEPATH") || HasKey(reader, section, "ALBUM_COMMAND");
    output.albumEncoderPath[0] = '\0';
    output.albumTemplate[0] = '\0';
    if (!output.albumStep) return;
    ReadProgramPath(reader, settingsPath, section, "ALBUM_EXEPATH", output.albumEncoderPath);
    if (!ReadTemplate(reader, section, "ALBUM_COMMAND", "%files%", output.albumTemplate)) output.templateCut = true;
}

// The verify line of one output, from the same section as its encoder. A
// verify line without VERIFY is refused rather than skipped: the user
// meant the output to be proven.
void ReadVerify(const ProfileReader &reader, const char *settingsPath, const char *section, OutputSettings &output) {
    char mode[16] = {};
    reader.GetString(section, "VERIFY", "", mode, sizeof mode);
    output.verify = VerifyMode::Unknown;
    if (std::strcmp(mode, "exact") == 0) output.verify = VerifyMode::Exact;
    if (std::strcmp(mode, "decodes") == 0) output.verify = VerifyMode::Decodes;
    if (mode[0] == '\0' && !HasKey(reader, section, "VERIFY_EXEPATH") && !HasKey(reader, section, "VERIFY_COMMAND")) {
        output.verify = VerifyMode::None;
    }
    output.verifyPath[0] = '\0';
    output.verifyTemplate[0] = '\0';
    if (output.verify == VerifyMode::None) return;
    ReadProgramPath(reader, settingsPath, section, "VERIFY_EXEPATH", output.verifyPath);
    if (!ReadTemplate(reader, section, "VERIFY_COMMAND", "", output.verifyTemplate)) output.templateCut = true;
}

// Section [OUTPUTn], when it holds any of an output's keys: read as the main
// output is, with WIN_HIDE defaulting to the main output's.
bool ReadExtraOutput(const ProfileReader &reader, const char *settingsPath, std::int32_t number,
                     std::int32_t mainHideWindow, OutputSettings &output) {
    char section[16];
    FormatText(section, sizeof section, "OUTPUT%d", {number});
    static const char *const kKeys[] = {"OUT",           "EXEPATH", "COMMAND",        "WIN_HIDE",      "ALBUM_EXEPATH",
                                        "ALBUM_COMMAND", "VERIFY",  "VERIFY_EXEPATH", "VERIFY_COMMAND"};
    bool configured = false;
    for (const char *key : kKeys) configured = configured || HasKey(reader, section, key);
    if (!configured) return false;
    output.number = number;
    // No default: an output without an extension would be published under
    // the track's bare name.
    reader.GetString(section, "OUT", "", output.outputExtension, sizeof output.outputExtension);
    output.templateCut = !ReadTemplate(reader, section, "COMMAND", "-V2 %i% %o%", output.commandTemplate);
    ReadProgramPath(reader, settingsPath, section, "EXEPATH", output.encoderPath);
    output.hideWindow = reader.GetInt(section, "WIN_HIDE", mainHideWindow);
    ReadAlbumStep(reader, settingsPath, section, output);
    ReadVerify(reader, settingsPath, section, output);
    return true;
}

}  // namespace

void LoadSettings(const char *settingsPath, PluginSettings &loaded) {
    ProfileReader *reader = new (std::nothrow) ProfileReader(settingsPath);
    if (reader == nullptr) return;

    OutputSettings &main = loaded.outputs[0];
    main.number = 1;
    loaded.outputCount = 1;
    reader->GetString("SETUP", "OUT", ".wav", main.outputExtension, sizeof main.outputExtension);
    main.templateCut = !ReadTemplate(*reader, "OPTION", "COMMAND", "-V2 %i% %o%", main.commandTemplate);
    loaded.deleteWav = reader->GetInt("OPTION", "DELETE", 1);
    loaded.jobs = EncoderJobs(ConfiguredJobs(*reader), platform::ProcessorCount());
    // A name that filled its buffer may have been cut to another file's.
    if (reader->GetString("OPTION", "LOG", "", loaded.journalName, sizeof loaded.journalName) >=
        sizeof loaded.journalName - 2) {
        loaded.journalName[0] = '\0';
    }
    ReadProgramPath(*reader, settingsPath, "OPTION", "EXEPATH", main.encoderPath);
    main.albumStep = false;
    main.albumEncoderPath[0] = '\0';
    main.albumTemplate[0] = '\0';
    main.verify = VerifyMode::None;
    // Without a main encoder no rip is made, whatever else is configured.
    if (main.encoderPath[0] == '\0') {
        delete reader;
        return;
    }
    main.hideWindow = reader->GetInt("OPTION", "WIN_HIDE", 0);
    ReadAlbumStep(*reader, settingsPath, "OPTION", main);
    ReadVerify(*reader, settingsPath, "OPTION", main);
    for (std::int32_t number = 2; number <= kMostOutputs; ++number) {
        if (ReadExtraOutput(*reader, settingsPath, number, main.hideWindow, loaded.outputs[loaded.outputCount])) {
            ++loaded.outputCount;
        }
    }
    delete reader;
}

namespace {

// A verify line proves the output only when it decodes the output (%o) and
// nothing else: one given the WAV file (%i) would prove it against itself,
// and so would any line when the output is the WAV file, which its encoder
// rewrote in place and which then is all that is left to compare with.
bool VerifyLineUsable(const OutputSettings &output) {
    return output.verify != VerifyMode::Unknown && platform::EncoderFileUsable(output.verifyPath) &&
           std::strstr(output.verifyTemplate, "%o") != nullptr && std::strstr(output.verifyTemplate, "%i") == nullptr &&
           !platform::NamesAlike(output.outputExtension, ".wav");
}

}  // namespace

Reason CheckOutputs(const PluginSettings &settings, std::int32_t &output) {
    for (output = 0; output < settings.outputCount && output < kMostOutputs; ++output) {
        const OutputSettings &checked = settings.outputs[output];
        if (!platform::EncoderFileUsable(checked.encoderPath)) return Reason::EncoderNotUsable;
        if (checked.albumStep && !platform::EncoderFileUsable(checked.albumEncoderPath)) {
            return Reason::AlbumStepNotUsable;
        }
        if (checked.templateCut) return Reason::TemplateTooLong;
        if (checked.verify != VerifyMode::None && !VerifyLineUsable(checked)) return Reason::VerifyNotUsable;
        if (output > 0 && checked.outputExtension[0] == '\0') return Reason::ExtensionMissing;
        if (settings.outputCount > 1 && platform::NamesAlike(checked.outputExtension, ".wav")) {
            return Reason::OutputIsTheWav;
        }
        for (std::int32_t earlier = 0; earlier < output; ++earlier) {
            if (platform::NamesAlike(checked.outputExtension, settings.outputs[earlier].outputExtension)) {
                return Reason::ExtensionsAlike;
            }
        }
    }
    output = 0;
    return settings.outputCount >= 1 && settings.outputCount <= kMostOutputs ? Reason::Done : Reason::BadArguments;
}

namespace {

bool SameSettings(const PluginSettings &a, const PluginSettings &b) {
    if (a.outputCount != b.outputCount || a.deleteWav != b.deleteWav || a.jobs != b.jobs) return false;
    for (std::int32_t i = 0; i < a.outputCount; ++i) {
        const OutputSettings &x = a.outputs[i];
        const OutputSettings &y = b.outputs[i];
        if (x.number != y.number || std::strcmp(x.outputExtension, y.outputExtension) != 0 ||
            std::strcmp(x.commandTemplate, y.commandTemplate) != 0 || std::strcmp(x.encoderPath, y.encoderPath) != 0 ||
            x.hideWindow != y.hideWindow || x.albumStep != y.albumStep ||
            std::strcmp(x.albumEncoderPath, y.albumEncoderPath) != 0 ||
            std::strcmp(x.albumTemplate, y.albumTemplate) != 0 || x.verify != y.verify ||
            std::strcmp(x.verifyPath, y.verifyPath) != 0 || std::strcmp(x.verifyTemplate, y.verifyTemplate) != 0) {
            return false;
        }
    }
    return true;
}

// Writes one line of the copy: pattern, whose texts are values in quotes,
// which the reader removes, so that blanks and quotes at either end stay.
// A line longer than the longest value never comes: each value fits its
// setting's buffer.
bool WriteLine(std::FILE *file, const char *pattern, std::initializer_list<FormatArg> args) {
    char line[2 * kTemplateCapacity];
    if (!FormatWhole(line, sizeof line, pattern, args)) return false;
    const std::size_t length = BoundedLength(line);
    return platform::WriteTrackBytes(file, line, length) == length;
}

bool WriteOutput(std::FILE *file, const OutputSettings &output) {
    const char *encoder = output.encoderPath[0] != '\0' ? output.encoderPath : kEncoderNotConfigured;
    bool written = WriteLine(file, "EXEPATH=\"%s\"\nCOMMAND=\"%s\"\nWIN_HIDE=%d\n",
                             {FormatArg(encoder, kPathCapacity), output.commandTemplate, output.hideWindow});
    if (output.albumStep) {
        const char *album = output.albumEncoderPath[0] != '\0' ? output.albumEncoderPath : kEncoderNotConfigured;
        written = written && WriteLine(file, "ALBUM_EXEPATH=\"%s\"\nALBUM_COMMAND=\"%s\"\n",
                                       {FormatArg(album, kPathCapacity), output.albumTemplate});
    }
    if (output.verify == VerifyMode::None) return written;
    // An unknown mode stays unknown in the copy, and refuses the rip there too.
    static const char *const kModes[] = {"", "exact", "decodes", "-"};
    const char *verifier = output.verifyPath[0] != '\0' ? output.verifyPath : kEncoderNotConfigured;
    return written && WriteLine(file, "VERIFY=\"%s\"\nVERIFY_EXEPATH=\"%s\"\nVERIFY_COMMAND=\"%s\"\n",
                                {FormatArg(kModes[static_cast<int>(output.verify)], 8),
                                 FormatArg(verifier, kPathCapacity), output.verifyTemplate});
}

bool WriteCopy(const PluginSettings &s, const char *copyPath, const char *journalPath) {
    std::FILE *file = platform::OpenTrackStream(copyPath);
    if (file == nullptr) return false;
    bool written =
        WriteLine(file, "[SETUP]\nOUT=\"%s\"\n[OPTION]\nDELETE=%d\nJOBS=%d\nLOG=\"%s\"\n",
                  {s.outputs[0].outputExtension, s.deleteWav, s.jobs, FormatArg(journalPath, kPathCapacity)}) &&
        WriteOutput(file, s.outputs[0]);
    for (std::int32_t i = 1; written && i < s.outputCount; ++i) {
        written = WriteLine(file, "[OUTPUT%d]\nOUT=\"%s\"\n", {s.outputs[i].number, s.outputs[i].outputExtension}) &&
                  WriteOutput(file, s.outputs[i]);
    }
    return std::fclose(file) == 0 && written;
}

}  // namespace

bool WriteSettingsCopy(const char *settingsPath, const char *copyPath, const char *journalPath) {
    if (BoundedLength(journalPath, kPathCapacity) == kPathCapacity) return false;
    PluginSettings *original = new (std::nothrow) PluginSettings();
    PluginSettings *copy = new (std::nothrow) PluginSettings();
    bool same = false;
    if (original != nullptr && copy != nullptr) {
        LoadSettings(settingsPath, *original);
        if (original->outputs[0].encoderPath[0] != '\0' && WriteCopy(*original, copyPath, journalPath)) {
            LoadSettings(copyPath, *copy);
            same = SameSettings(*original, *copy) && std::strcmp(journalPath, copy->journalName) == 0;
        }
    }
    delete original;
    delete copy;
    return same;
}

}  // namespace encbridge
