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
                     const char *fallback, char (&path)[kPathCapacity]) {
    std::memset(path, 0, sizeof path);
    char value[kPathCapacity] = {};
    const std::uint32_t valueLength = reader.GetString(section, key, fallback, value, sizeof value);
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
std::int32_t ConfiguredJobs(const ProfileReader &reader, const char *key, std::int32_t fallback) {
    char text[kPathCapacity] = {};
    if (reader.GetString("OPTION", key, "", text, sizeof text) == 0) return fallback;
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

bool HasKey(const ProfileReader &reader, const char *section, const char *key) {
    // No settings file holds this value: its first character ends a line
    // nowhere and is no text.
    static const char kMissing[] = "\x7f<missing>";
    char value[sizeof kMissing + 1] = {};
    reader.GetString(section, key, kMissing, value, sizeof value);
    return std::strcmp(value, kMissing) != 0;
}

// VERIFY's values by VerifyMode; an unknown one is written as a value that
// is none of the others, so that it stays unknown in a copy.
constexpr const char *kModeNames[] = {"", "exact", "decodes", "-"};

// Whether a and b hold the same ASCII letters, in any case.
bool SameLetters(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(*a) != lower(*b)) return false;
    }
    return *a == *b;
}

// Where one output's keys are read: [OPTION] (and [SETUP]) for the main
// output, [OUTPUTn] for another.
struct OutputSource {
    const ProfileReader &reader;
    const char *settingsPath;
    const char *section;
    bool main;
    std::int32_t mainHideWindow;
};

std::int32_t Inherited(const OutputSource &source, std::nullptr_t) { return source.mainHideWindow; }
template <typename Number>
std::int32_t Inherited(const OutputSource &, Number fallback) {
    return fallback;
}

// Whether a key of a group read only when given is given: a VERIFY that is
// empty is none.
template <KeyKind kind>
bool KeyGiven(const OutputSource &source, const char *key) {
    if constexpr (kind == KeyKind::Mode) {
        char mode[16] = {};
        return source.reader.GetString(source.section, key, "", mode, sizeof mode) > 0;
    } else {
        return HasKey(source.reader, source.section, key);
    }
}

// Reads one key of an output into its field as its kind says; cut is set
// when a template filled its buffer.
template <KeyKind kind, typename Field, typename MainFallback, typename NumberedFallback>
void ReadKey(const OutputSource &source, const char *key, MainFallback mainFallback, NumberedFallback numberedFallback,
             Field &field, std::int32_t &cut) {
    const char *section = kind == KeyKind::Extension && source.main ? "SETUP" : source.section;
    if constexpr (kind == KeyKind::Number) {
        field = source.reader.GetInt(section, key, source.main ? mainFallback : Inherited(source, numberedFallback));
    } else {
        const char *fallback = source.main ? mainFallback : numberedFallback;
        if constexpr (kind == KeyKind::Program) {
            ReadProgramPath(source.reader, source.settingsPath, section, key, fallback, field);
        } else if constexpr (kind == KeyKind::Mode) {
            char mode[16] = {};
            source.reader.GetString(section, key, fallback, mode, sizeof mode);
            field = VerifyMode::Unknown;
            // In any case, as the other values and the keys are read.
            if (SameLetters(mode, kModeNames[1])) field = VerifyMode::Exact;
            if (SameLetters(mode, kModeNames[2])) field = VerifyMode::Decodes;
        } else {
            // An extension is read as it stands; a template that filled its
            // buffer may have been cut.
            const std::uint32_t length = source.reader.GetString(section, key, fallback, field, sizeof field);
            if (kind == KeyKind::Template && length > kLongestTemplate) cut = 1;
        }
    }
}

template <std::size_t N>
void Clear(char (&text)[N]) {
    text[0] = '\0';
}
void Clear(std::int32_t &number) { number = 0; }
void Clear(VerifyMode &mode) { mode = VerifyMode::None; }

// Reads the keys of one group of an output, or empties them where the group
// is read only when given and is not, or where read is false.
void ReadGroup(const OutputSource &source, KeyGroup group, bool read, OutputSettings &output) {
    bool given = read;
    if (given && (group == KeyGroup::Album || group == KeyGroup::Verify)) {
        given = false;
#define ENCBRIDGE_GIVEN(field, key, kind, keyGroup, mainFallback, numberedFallback) \
    given = given || (KeyGroup::keyGroup == group && KeyGiven<KeyKind::kind>(source, key));
        ENCBRIDGE_OUTPUT_KEYS(ENCBRIDGE_GIVEN)
#undef ENCBRIDGE_GIVEN
    }
#define ENCBRIDGE_READ(field, key, kind, keyGroup, mainFallback, numberedFallback)                             \
    if (KeyGroup::keyGroup == group && given) {                                                                \
        ReadKey<KeyKind::kind>(source, key, mainFallback, numberedFallback, output.field, output.templateCut); \
    } else if (KeyGroup::keyGroup == group) {                                                                  \
        Clear(output.field);                                                                                   \
    }
    ENCBRIDGE_OUTPUT_KEYS(ENCBRIDGE_READ)
#undef ENCBRIDGE_READ
    if (group == KeyGroup::Album) output.albumStep = given ? 1 : 0;
}

// Section [OUTPUTn], when it holds any of an output's keys: read as the main
// output is, with WIN_HIDE defaulting to the main output's.
bool ReadExtraOutput(const ProfileReader &reader, const char *settingsPath, std::int32_t number,
                     std::int32_t mainHideWindow, OutputSettings &output) {
    char section[16];
    FormatText(section, sizeof section, "OUTPUT%d", {number});
    bool configured = false;
#define ENCBRIDGE_CONFIGURED(field, key, kind, group, mainFallback, numberedFallback) \
    configured = configured || HasKey(reader, section, key);
    ENCBRIDGE_OUTPUT_KEYS(ENCBRIDGE_CONFIGURED)
#undef ENCBRIDGE_CONFIGURED
    if (!configured) return false;
    output.number = number;
    output.templateCut = 0;
    const OutputSource source = {reader, settingsPath, section, false, mainHideWindow};
    for (KeyGroup group : {KeyGroup::Encoder, KeyGroup::Window, KeyGroup::Album, KeyGroup::Verify}) {
        ReadGroup(source, group, true, output);
    }
    return true;
}

// Reads one key of the rip as its kind says.
template <KeyKind kind, typename Field, typename Fallback>
void ReadRipKey(const ProfileReader &reader, const char *key, Fallback fallback, Field &field) {
    if constexpr (kind == KeyKind::Number) {
        field = reader.GetInt("OPTION", key, fallback);
    } else if constexpr (kind == KeyKind::Jobs) {
        field = EncoderJobs(ConfiguredJobs(reader, key, fallback), platform::ProcessorCount());
    } else {
        static_assert(kind == KeyKind::Journal, "the rip's keys are numbers, JOBS or the journal");
        // A name that filled its buffer may have been cut to another file's.
        if (reader.GetString("OPTION", key, fallback, field, sizeof field) >= sizeof field - 2) field[0] = '\0';
    }
}

}  // namespace

void LoadSettings(const char *settingsPath, PluginSettings &loaded) {
    ProfileReader *reader = new (std::nothrow) ProfileReader(settingsPath);
    if (reader == nullptr) return;

    OutputSettings &main = loaded.outputs[0];
    main.number = 1;
    main.templateCut = 0;
    loaded.outputCount = 1;
    const OutputSource source = {*reader, settingsPath, "OPTION", true, 0};
    ReadGroup(source, KeyGroup::Encoder, true, main);
#define ENCBRIDGE_READ_RIP(field, key, kind, fallback) ReadRipKey<KeyKind::kind>(*reader, key, fallback, loaded.field);
    ENCBRIDGE_RIP_KEYS(ENCBRIDGE_READ_RIP)
#undef ENCBRIDGE_READ_RIP
    // Without a main encoder no rip is made, whatever else is configured,
    // and WIN_HIDE keeps the value it had.
    const bool encoder = main.encoderPath[0] != '\0';
    if (encoder) ReadGroup(source, KeyGroup::Window, true, main);
    ReadGroup(source, KeyGroup::Album, encoder, main);
    ReadGroup(source, KeyGroup::Verify, encoder, main);
    for (std::int32_t number = 2; encoder && number <= kMostOutputs; ++number) {
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

// Every field of the record is the table's, or one of three that reading
// derives: a field added without its key would be neither read nor copied.
constexpr std::size_t kKeyedSizes[] = {
#define ENCBRIDGE_SIZE(field, key, kind, group, mainFallback, numberedFallback) sizeof(OutputSettings::field),
    ENCBRIDGE_OUTPUT_KEYS(ENCBRIDGE_SIZE)
#undef ENCBRIDGE_SIZE
};
constexpr std::size_t KeyedBytes() {
    std::size_t total = 0;
    for (std::size_t i = 0; i < sizeof kKeyedSizes / sizeof kKeyedSizes[0]; ++i) total += kKeyedSizes[i];
    return total;
}
static_assert(sizeof(OutputSettings) == KeyedBytes() + sizeof(OutputSettings::number) +
                                            sizeof(OutputSettings::albumStep) + sizeof(OutputSettings::templateCut),
              "every field of an output is a key of ENCBRIDGE_OUTPUT_KEYS");

template <std::size_t N>
bool SameValue(const char (&a)[N], const char (&b)[N]) {
    return std::strcmp(a, b) == 0;
}
bool SameValue(std::int32_t a, std::int32_t b) { return a == b; }
bool SameValue(VerifyMode a, VerifyMode b) { return a == b; }

// The journal is not compared: a copy names the journal that it is given.
bool SameSettings(const PluginSettings &a, const PluginSettings &b) {
    bool same = a.outputCount == b.outputCount;
#define ENCBRIDGE_SAME_RIP(field, key, kind, fallback) \
    same = same && (KeyKind::kind == KeyKind::Journal || SameValue(a.field, b.field));
    ENCBRIDGE_RIP_KEYS(ENCBRIDGE_SAME_RIP)
#undef ENCBRIDGE_SAME_RIP
    for (std::int32_t i = 0; same && i < a.outputCount; ++i) {
        const OutputSettings &x = a.outputs[i];
        const OutputSettings &y = b.outputs[i];
        same = x.number == y.number && x.albumStep == y.albumStep;
#define ENCBRIDGE_SAME(field, key, kind, group, mainFallback, numberedFallback) \
    same = same && SameValue(x.field, y.field);
        ENCBRIDGE_OUTPUT_KEYS(ENCBRIDGE_SAME)
#undef ENCBRIDGE_SAME
    }
    return same;
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

// One key as its kind writes it, to read back as it was read.
template <KeyKind kind, typename Field>
bool WriteKey(std::FILE *file, const char *key, const Field &field) {
    const FormatArg name(key, kTemplateCapacity);
    if constexpr (kind == KeyKind::Number || kind == KeyKind::Jobs) {
        return WriteLine(file, "%s=%d\n", {name, field});
    } else if constexpr (kind == KeyKind::Mode) {
        // An unknown mode stays unknown in the copy, and refuses the rip there too.
        return WriteLine(file, "%s=\"%s\"\n", {name, FormatArg(kModeNames[static_cast<int>(field)], 8)});
    } else if constexpr (kind == KeyKind::Program) {
        return WriteLine(file, "%s=\"%s\"\n",
                         {name, FormatArg(field[0] != '\0' ? field : kEncoderNotConfigured, sizeof field)});
    } else {
        return WriteLine(file, "%s=\"%s\"\n", {name, field});
    }
}

// A key of the rip; the journal is the one given.
template <KeyKind kind, typename Field>
bool WriteRipKey(std::FILE *file, const char *key, const Field &field, const char *journalPath) {
    if constexpr (kind == KeyKind::Journal) {
        return WriteLine(file, "%s=\"%s\"\n",
                         {FormatArg(key, kTemplateCapacity), FormatArg(journalPath, kPathCapacity)});
    } else {
        return WriteKey<kind>(file, key, field);
    }
}

// The keys of an output that its section holds: the main output's
// extension is in [SETUP], and a group read only when given is written only
// when it was.
bool WriteOutput(std::FILE *file, const OutputSettings &output, bool setup) {
    bool written = true;
#define ENCBRIDGE_WRITE(field, key, kind, group, mainFallback, numberedFallback)           \
    if (written && setup == (KeyKind::kind == KeyKind::Extension && output.number == 1) && \
        (KeyGroup::group != KeyGroup::Album || output.albumStep != 0) &&                   \
        (KeyGroup::group != KeyGroup::Verify || output.verify != VerifyMode::None)) {      \
        written = WriteKey<KeyKind::kind>(file, key, output.field);                        \
    }
    ENCBRIDGE_OUTPUT_KEYS(ENCBRIDGE_WRITE)
#undef ENCBRIDGE_WRITE
    return written;
}

bool WriteCopy(const PluginSettings &s, const char *copyPath, const char *journalPath) {
    std::FILE *file = platform::OpenTrackStream(copyPath);
    if (file == nullptr) return false;
    bool written =
        WriteLine(file, "[SETUP]\n", {}) && WriteOutput(file, s.outputs[0], true) && WriteLine(file, "[OPTION]\n", {});
#define ENCBRIDGE_WRITE_RIP(field, key, kind, fallback) \
    written = written && WriteRipKey<KeyKind::kind>(file, key, s.field, journalPath);
    ENCBRIDGE_RIP_KEYS(ENCBRIDGE_WRITE_RIP)
#undef ENCBRIDGE_WRITE_RIP
    written = written && WriteOutput(file, s.outputs[0], false);
    for (std::int32_t i = 1; written && i < s.outputCount; ++i) {
        written = WriteLine(file, "[OUTPUT%d]\n", {s.outputs[i].number}) && WriteOutput(file, s.outputs[i], false);
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
