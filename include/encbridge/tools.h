// What tools may use of the module beside its four host functions: the
// module's own rules (reading settings, building command lines, naming its
// files), reached through the module file that a tool loads, so that what
// the tool shows is what that file does. A ripping host never needs it.
//
// The module exports one more function, EncbridgeTools (by name, and on
// Windows by ordinal 5), which returns a constant table of C functions.
// They never throw, work on their arguments only, and touch no rip: a
// preview starts no encoder and locks no folder. A table that only grows keeps
// its version: a tool takes one at least as large as the table it knows. A
// record that changes takes the next version.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encbridge/journal_format.h"
#include "encbridge/limits.h"
#include "encbridge/plugin.h"
#include "encbridge/reasons.h"
#include "encbridge/settings.h"

extern "C" {

// A settings file as the module reads it, and the module's verdict on it.
struct EncbridgeSettings {
    std::int32_t outputCount;
    EncbridgeOutput outputs[encbridge::kMostOutputs];  // the module's own record of each output
    std::int32_t deleteWav;
    std::int32_t jobs;
    char journalName[encbridge::kPathCapacity];  // LOG; empty: none
    // Why Create would refuse a rip with these settings (a
    // encbridge::Reason; Done when it would not), and the index in outputs
    // of the output it is about.
    std::int32_t refusal;
    std::int32_t faultyOutput;
    // The main output's EXEPATH and COMMAND as the file holds them
    // (kEncoderNotConfigured for a missing EXEPATH; COMMAND up to 4,095
    // characters), so that a tool can tell what the module did with them.
    char mainEncoderAsWritten[encbridge::kPathCapacity];
    char mainCommandAsWritten[4096];
    // The file read, from which the previews read what it tells of the
    // album and its tracks ([ALBUM], [TRACKnn]) as Create does.
    char settingsPath[encbridge::kSettingsPathCapacity];
};

// How a previewed command line stands: only a Complete one is ever run.
enum EncbridgeLineStatus : std::int32_t {
    kEncbridgeLineComplete = 0,
    kEncbridgeLineCut = 1,     // longer than the module runs, a value did not fit, or a quote in the path
    kEncbridgeLineUnsafe = 2,  // a value cannot be written as one argument
    kEncbridgeLineRefused = 3  // the arguments cannot be used (no such output, no buffer...)
};

// What a name in the output folder is to the module.
enum EncbridgeNameKind : std::int32_t {
    kEncbridgeNameOther = 0,
    kEncbridgeNameTemporary = 1,  // "#temp(NN)..."
    kEncbridgeNameKept = 2        // "#kept(...", or the lock file: the module's own, not a track's
};

// What lies at a path, as the module judges a file it publishes or finds in
// its way, never following a link.
enum EncbridgeEntryKind : std::int32_t {
    kEncbridgeEntryMissing = 0,
    kEncbridgeEntryEmptyPlainFile = 1,  // a regular file with one name and nothing in it
    kEncbridgeEntryPlainFile = 2,       // a regular file with one name and at least one byte
    kEncbridgeEntryOther = 3            // a link, a folder, a FIFO, a file with several names...
};

struct EncbridgeToolTable {
    std::uint32_t size;     // sizeof(EncbridgeToolTable) of the module
    std::uint32_t version;  // kEncbridgeToolsVersion of the module

    // Reads the settings file at settingsPath into settings. 0 when either
    // is null.
    std::int32_t (*readSettings)(const char *settingsPath, EncbridgeSettings *settings);

    // Track index (from 0) of album's line for output (an index in
    // settings->outputs) into line (capacity bytes), as the module's worker
    // builds it, with the module's temporary names for the WAV and the
    // output. Returns an EncbridgeLineStatus.
    std::int32_t (*previewTrackLine)(const EncbridgeSettings *settings, std::int32_t output, const AlbumInfo *album,
                                     std::int32_t index, char *line, std::size_t capacity);
    // The line of output's album step for album, as above.
    std::int32_t (*previewAlbumLine)(const EncbridgeSettings *settings, std::int32_t output, const AlbumInfo *album,
                                     char *line, std::size_t capacity);
    // The arguments that the program of line would receive, the program
    // first, one after the other each with its NUL, into out (capacity
    // bytes). Returns their count; -1 when they do not fit, or where the
    // module does not split lines itself (Windows: the program does).
    std::int32_t (*splitLine)(const char *line, char *out, std::size_t capacity);

    // Track number's temporary name behind folder (NUL-terminated), with
    // extension: "#temp(NN).flac" and the like, into name (capacity bytes).
    // 0 when it would be cut.
    std::int32_t (*temporaryName)(const char *folder, std::int32_t number, const char *extension, char *name,
                                  std::size_t capacity);
    // What name (a file name, length characters) is to the module: an
    // EncbridgeNameKind.
    std::int32_t (*nameKind)(const char *name, std::size_t length);

    // The journal that settings name for outputFolder, into path (capacity
    // bytes); 0 when they name none that the module would write.
    std::int32_t (*journalPath)(const EncbridgeSettings *settings, const char *outputFolder, char *path,
                                std::size_t capacity);
    // Writes a new file at copyPath (nothing may lie there) holding the
    // settings of settingsPath as the module reads them, encoders' paths
    // resolved, with LOG set to journalPath. 0, with nothing to use, when
    // the copy would not read back exactly as the original does.
    std::int32_t (*writeSettingsCopy)(const char *settingsPath, const char *copyPath, const char *journalPath);

    // An EncbridgeEntryKind for path.
    std::int32_t (*entryKind)(const char *path);
    // Whether name (length characters) is a kept copy's name as the module
    // forms it: 1 with its track number in number and the start of its
    // extension in extensionAt; 0 for any other name.
    std::int32_t (*readKeptName)(const char *name, std::size_t length, std::int32_t *number, std::size_t *extensionAt);
    // Makes way at path, track number's file in folder ending in extension,
    // as the module does before it writes one: an empty plain file is
    // removed, anything else moved to the first free kept name. 0 when
    // something stays in the way.
    std::int32_t (*clearTheWay)(const char *path, const char *folder, std::int32_t number, const char *extension);
    // The WAV header that the module writes when the host gives none, into
    // out (capacity bytes): its length; 0 when it does not fit.
    std::uint32_t (*defaultHeader)(std::uint8_t *out, std::size_t capacity);

    // Proves the file at path as the module proves output (an index in the
    // outputs of the settings file at settingsPath) of track index of album
    // before it publishes it: the output's verify line is run with path as
    // its output, and what it decodes is compared with the audio of the WAV
    // file at wavPath. The one function here that starts a program: it
    // returns once the line has ended. An encbridge::Reason (Done: proven;
    // else why not, with the sample frame it is about in sample), or -1 when
    // that output has no VERIFY or the arguments cannot be used. A null
    // wavPath only asks: Done when the output has a verify line.
    std::int32_t (*verifyFile)(const char *settingsPath, std::int32_t output, const AlbumInfo *album,
                               std::int32_t index, const char *path, const char *wavPath, std::int64_t *sample);

    // The verify line of output for track index of album, as the module's
    // worker builds it once the output is made, with the module's temporary
    // names as previewTrackLine has them, into line (capacity bytes):
    // kEncbridgeLineRefused as well when the output has no VERIFY.
    std::int32_t (*previewVerifyLine)(const EncbridgeSettings *settings, std::int32_t output, const AlbumInfo *album,
                                      std::int32_t index, char *line, std::size_t capacity);

    // The words of text that look like a tag (letters, digits or '_'
    // between two '%') but that a track's line (albumStep 0) or an album
    // step's (non-zero) does not replace, which the module passes on as they
    // stand, separated by blanks into unknown; and every tag that such a
    // line replaces into known. The count of unknown words, or -1 when
    // either list does not fit or an argument is null.
    std::int32_t (*templateTags)(const char *text, std::int32_t albumStep, char *unknown, std::size_t unknownCapacity,
                                 char *known, std::size_t knownCapacity);
};

// The version of the table this header describes; a module's table with
// another version, or smaller, is not used.
// 2: each output holds its verify line, and previewVerifyLine shows it.
// 3: the settings record names its file, the previews fill the tags of the
// album's and tracks' sections, and templateTags tells the tags apart.
constexpr std::uint32_t kEncbridgeToolsVersion = 3;

// The module's table, always the same.
const EncbridgeToolTable *EncbridgeTools(void);
}
