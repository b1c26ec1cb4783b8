// The module's table of tool functions: its own rules, reachable through
// the module file that a tool loads. Each works on its arguments only: none
// touches a rip, starts an encoder or locks a folder.
#include "encbridge/tools.h"

#include <cstring>
#include <new>

#include "encoder/command_line.h"
#include "encoder/final_name.h"
#include "encoder/verify.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "settings/profile_reader.h"
#include "settings/rip_tags.h"
#include "wavfile/temp_names.h"
#include "wavfile/track_file.h"

namespace encbridge {

namespace {

template <std::size_t N>
void Fill(char (&to)[N], const char (&from)[N]) {
    std::memcpy(to, from, N);
}
void Fill(std::int32_t &to, std::int32_t from) { to = from; }

std::int32_t ReadSettings(const char *settingsPath, EncbridgeSettings *settings) {
    if (settingsPath == nullptr || settings == nullptr) return 0;
    // Create refuses such a path before it reads anything.
    if (!SettingsPathFits(settingsPath)) {
        std::memset(settings, 0, sizeof *settings);
        settings->refusal = static_cast<std::int32_t>(Reason::SettingsPathTooLong);
        settings->faultyOutput = -1;
        return 1;
    }
    PluginSettings *loaded = new (std::nothrow) PluginSettings();
    if (loaded == nullptr) return 0;
    LoadSettings(settingsPath, *loaded);
    std::memset(settings, 0, sizeof *settings);
    FormatText(settings->settingsPath, sizeof settings->settingsPath, "%s",
               {FormatArg(settingsPath, kSettingsPathCapacity)});
    settings->outputCount = loaded->outputCount;
    // The tools are given the module's own record of each output.
    for (std::int32_t i = 0; i < loaded->outputCount; ++i) settings->outputs[i] = loaded->outputs[i];
#define ENCBRIDGE_FILL(field, key, kind, fallback) Fill(settings->field, loaded->field);
    ENCBRIDGE_RIP_KEYS(ENCBRIDGE_FILL)
#undef ENCBRIDGE_FILL
    std::int32_t faulty = 0;
    settings->refusal = static_cast<std::int32_t>(CheckOutputs(*loaded, faulty));
    settings->faultyOutput = faulty;
    delete loaded;
    {
        ProfileReader reader(settingsPath);
        reader.GetString("OPTION", "EXEPATH", kEncoderNotConfigured, settings->mainEncoderAsWritten,
                         sizeof settings->mainEncoderAsWritten - 5);
    }
    platform::ProfileString("OPTION", "COMMAND", "", settings->mainCommandAsWritten,
                            sizeof settings->mainCommandAsWritten, settingsPath);
    return 1;
}

// The line is built as the encoder worker builds it: for a batch file, as
// cmd.exe reads it.
CommandStyle StyleOf(const char *programPath) {
    return platform::RunsThroughCommandShell(programPath) ? CommandStyle::BatchFile : CommandStyle::Arguments;
}

std::int32_t LineStatus(CommandStatus status) {
    switch (status) {
        case CommandStatus::Complete:
            return kEncbridgeLineComplete;
        case CommandStatus::Cut:
            return kEncbridgeLineCut;
        case CommandStatus::Unsafe:
            return kEncbridgeLineUnsafe;
    }
    return kEncbridgeLineRefused;
}

bool UsableOutput(const EncbridgeSettings *settings, std::int32_t output, const AlbumInfo *album, const char *line) {
    return settings != nullptr && album != nullptr && line != nullptr && output >= 0 &&
           output < settings->outputCount && output < kMostOutputs;
}

// The module's temporary names of track index's WAV file and output: false
// when they would be cut.
// cppcheck-suppress constParameter ; the formatter writes the paths into them
bool TemporaryPaths(PathBuffer &wavPath, PathBuffer &outputPath, const EncbridgeOutput &output, const AlbumInfo &album,
                    std::int32_t index) {
    PathBuffer base;
    return FormTempBase(base, album.outputFolder, sizeof album.outputFolder, index + 1) &&
           FormatWhole(wavPath, sizeof wavPath, "%s%s", {base, ".wav"}) &&
           FormatWhole(outputPath, sizeof outputPath, "%s%s", {base, output.outputExtension});
}

bool UsableTrack(const EncbridgeSettings *settings, std::int32_t output, const AlbumInfo *album, std::int32_t index,
                 const char *line, std::size_t capacity) {
    return UsableOutput(settings, output, album, line) && album->tracks != nullptr && index >= 0 &&
           index < album->trackCount && capacity >= kCommandCapacity;
}

// The settings file's values for the album and track index (none: -1), as
// Create reads them; null when there is no memory for them. Freed with
// delete.
RipTags *ReadTags(const char *settingsPath, std::int32_t index) {
    RipTags *tags = new (std::nothrow) RipTags();
    if (tags == nullptr) return nullptr;
    LoadAlbumTags(settingsPath, tags->album);
    if (index >= 0 && index < kMostTaggedTracks) LoadTrackTags(settingsPath, index, tags->album, tags->tracks[index]);
    return tags;
}

std::int32_t PreviewTrackLine(const EncbridgeSettings *settings, std::int32_t output, const AlbumInfo *album,
                              std::int32_t index, char *line, std::size_t capacity) {
    if (!UsableTrack(settings, output, album, index, line, capacity)) return kEncbridgeLineRefused;
    const EncbridgeOutput &chosen = settings->outputs[output];
    PathBuffer wavPath, outputPath;
    if (!TemporaryPaths(wavPath, outputPath, chosen, *album, index)) return kEncbridgeLineCut;
    CommandBuffer command;
    if (!FormatWhole(command, sizeof command, "%s", {chosen.commandTemplate})) return kEncbridgeLineCut;
    const RipTags *tags = ReadTags(settings->settingsPath, index);
    if (tags == nullptr) return kEncbridgeLineRefused;
    const CommandStatus status = BuildCommandLine(chosen.encoderPath, StyleOf(chosen.encoderPath), command, wavPath,
                                                  outputPath, *album, *tags, index);
    delete tags;
    FormatText(line, capacity, "%s", {command});
    return LineStatus(status);
}

std::int32_t PreviewVerifyLine(const EncbridgeSettings *settings, std::int32_t output, const AlbumInfo *album,
                               std::int32_t index, char *line, std::size_t capacity) {
    if (!UsableTrack(settings, output, album, index, line, capacity) ||
        settings->outputs[output].verify == VerifyMode::None) {
        return kEncbridgeLineRefused;
    }
    const EncbridgeOutput &chosen = settings->outputs[output];
    PathBuffer wavPath, outputPath;
    if (!TemporaryPaths(wavPath, outputPath, chosen, *album, index)) return kEncbridgeLineCut;
    CommandBuffer command;
    bool batchFile = false;
    const RipTags *tags = ReadTags(settings->settingsPath, index);
    if (tags == nullptr) return kEncbridgeLineRefused;
    const Reason built = BuildVerifyLine(chosen, *album, *tags, index, wavPath, outputPath, command, batchFile);
    delete tags;
    FormatText(line, capacity, "%s", {command});
    if (built == Reason::Done) return kEncbridgeLineComplete;
    return built == Reason::ValueUnsafe ? kEncbridgeLineUnsafe : kEncbridgeLineCut;
}

std::int32_t PreviewAlbumLine(const EncbridgeSettings *settings, std::int32_t output, const AlbumInfo *album,
                              char *line, std::size_t capacity) {
    if (!UsableOutput(settings, output, album, line) || !settings->outputs[output].albumStep ||
        capacity < kLongestCommandLine) {
        return kEncbridgeLineRefused;
    }
    const EncbridgeOutput &chosen = settings->outputs[output];
    const RipTags *tags = ReadTags(settings->settingsPath, -1);
    if (tags == nullptr) return kEncbridgeLineRefused;
    const CommandStatus status = BuildAlbumCommandLine(
        chosen.albumEncoderPath, StyleOf(chosen.albumEncoderPath), chosen.albumTemplate, sizeof chosen.albumTemplate,
        *album, *tags, chosen.outputExtension, sizeof chosen.outputExtension, line, kLongestCommandLine);
    delete tags;
    return LineStatus(status);
}

std::int32_t SplitLine(const char *line, char *out, std::size_t capacity) {
    if (line == nullptr || out == nullptr) return -1;
    return platform::LineArguments(line, out, capacity);
}

std::int32_t TemporaryName(const char *folder, std::int32_t number, const char *extension, char *name,
                           std::size_t capacity) {
    if (folder == nullptr || extension == nullptr || name == nullptr) return 0;
    PathBuffer base, whole;
    if (!FormTempBase(base, folder, kPathCapacity, number) ||
        !FormatWhole(whole, sizeof whole, "%s%s", {base, FormatArg(extension, kExtensionCapacity)})) {
        return 0;
    }
    return FormatWhole(name, capacity, "%s", {whole}) ? 1 : 0;
}

std::int32_t NameKind(const char *name, std::size_t length) {
    if (name == nullptr) return kEncbridgeNameOther;
    if (StartsLikeATemporaryName(name, length)) return kEncbridgeNameTemporary;
    return IsAModuleFileName(name, length) ? kEncbridgeNameKept : kEncbridgeNameOther;
}

std::int32_t JournalPath(const EncbridgeSettings *settings, const char *outputFolder, char *path,
                         std::size_t capacity) {
    if (settings == nullptr || outputFolder == nullptr || path == nullptr) return 0;
    PathBuffer usable;
    std::size_t folderLength = 0;
    if (!UsableJournalPath(settings->journalName, sizeof settings->journalName, outputFolder,
                           BoundedLength(outputFolder, kPathCapacity) + 1, usable, folderLength)) {
        return 0;
    }
    return FormatWhole(path, capacity, "%s", {usable}) ? 1 : 0;
}

std::int32_t CopySettings(const char *settingsPath, const char *copyPath, const char *journalPath) {
    if (settingsPath == nullptr || copyPath == nullptr || journalPath == nullptr) return 0;
    return WriteSettingsCopy(settingsPath, copyPath, journalPath) ? 1 : 0;
}

std::int32_t EntryKindOf(const char *path) {
    if (path == nullptr) return kEncbridgeEntryOther;
    switch (platform::InspectEntry(path)) {
        case platform::EntryKind::Missing:
            return kEncbridgeEntryMissing;
        case platform::EntryKind::EmptyPlainFile:
            return kEncbridgeEntryEmptyPlainFile;
        case platform::EntryKind::PlainFile:
            return kEncbridgeEntryPlainFile;
        case platform::EntryKind::Other:
            break;
    }
    return kEncbridgeEntryOther;
}

std::int32_t KeptName(const char *name, std::size_t length, std::int32_t *number, std::size_t *extensionAt) {
    if (name == nullptr || number == nullptr || extensionAt == nullptr) return 0;
    int track = 0;
    if (!ReadKeptName(name, length, track, *extensionAt)) return 0;
    *number = track;
    return 1;
}

std::int32_t MakeWay(const char *path, const char *folder, std::int32_t number, const char *extension) {
    if (path == nullptr || folder == nullptr || extension == nullptr) return 0;
    return ClearTheWay(path, folder, BoundedLength(folder, kPathCapacity) + 1, number, extension,
                       BoundedLength(extension, kExtensionCapacity) + 1)
               ? 1
               : 0;
}

std::uint32_t DefaultHeader(std::uint8_t *out, std::size_t capacity) {
    if (out == nullptr || capacity < sizeof kDefaultHeader) return 0;
    std::memcpy(out, kDefaultHeader, sizeof kDefaultHeader);
    return sizeof kDefaultHeader;
}

std::int32_t VerifyOutputFile(const char *settingsPath, std::int32_t output, const AlbumInfo *album, std::int32_t index,
                              const char *path, const char *wavPath, std::int64_t *sample) {
    if (settingsPath == nullptr || album == nullptr || album->tracks == nullptr || index < 0 ||
        index >= album->trackCount || path == nullptr || sample == nullptr || output < 0 || output >= kMostOutputs) {
        return -1;
    }
    PluginSettings *loaded = new (std::nothrow) PluginSettings();
    RipTags *tags = ReadTags(settingsPath, index);
    if (loaded == nullptr || tags == nullptr) {
        delete loaded;
        delete tags;
        return -1;
    }
    LoadSettings(settingsPath, *loaded);
    const bool verified = output < loaded->outputCount && (loaded->outputs[output].verify == VerifyMode::Exact ||
                                                           loaded->outputs[output].verify == VerifyMode::Decodes);
    std::int32_t verdict = -1;
    PathBuffer wav, file;
    if (verified && wavPath == nullptr) {
        verdict = static_cast<std::int32_t>(Reason::Done);
    } else if (verified && FormatWhole(wav, sizeof wav, "%s", {FormatArg(wavPath, kPathCapacity)}) &&
               FormatWhole(file, sizeof file, "%s", {FormatArg(path, kPathCapacity)})) {
        std::uint64_t at = 0;
        verdict = static_cast<std::int32_t>(VerifyFile(loaded->outputs[output], *album, *tags, index, wav, file, at));
        *sample = static_cast<std::int64_t>(at);
    }
    delete loaded;
    delete tags;
    return verdict;
}

std::int32_t TemplateTags(const char *text, std::int32_t albumStep, char *unknown, std::size_t unknownCapacity,
                          char *known, std::size_t knownCapacity) {
    if (text == nullptr || unknown == nullptr || known == nullptr) return -1;
    const std::int32_t count = ListUnknownTags(text, std::strlen(text), albumStep != 0, unknown, unknownCapacity);
    return ListKnownTags(albumStep != 0, known, knownCapacity) ? count : -1;
}

constexpr EncbridgeToolTable kTable = {sizeof(EncbridgeToolTable),
                                       kEncbridgeToolsVersion,
                                       ReadSettings,
                                       PreviewTrackLine,
                                       PreviewAlbumLine,
                                       SplitLine,
                                       TemporaryName,
                                       NameKind,
                                       JournalPath,
                                       CopySettings,
                                       EntryKindOf,
                                       KeptName,
                                       MakeWay,
                                       DefaultHeader,
                                       VerifyOutputFile,
                                       PreviewVerifyLine,
                                       TemplateTags};

}  // namespace

}  // namespace encbridge

extern "C" const EncbridgeToolTable *EncbridgeTools(void) { return &encbridge::kTable; }
