// The plug-in's settings and how they are loaded from the settings file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encbridge/limits.h"
#include "encbridge/settings.h"
#include "records/outcome.h"

namespace encbridge {

// One output's settings: the public record, read by the table of keys in
// encbridge/settings.h. Command templates are read whole into buffers of
// kTemplateCapacity, the size of the buffers that the encoder's line is
// built in.
using OutputSettings = EncbridgeOutput;

struct PluginSettings {
    OutputSettings outputs[kMostOutputs];
    std::int32_t outputCount;  // 1 to kMostOutputs; outputs[0] is the main one
    std::int32_t deleteWav;    // non-zero: delete a WAV once all its outputs are kept
    std::int32_t jobs;         // encoders that may run at once, 1 to kMostJobs
    // LOG: the journal's file, relative to the output folder (or absolute);
    // empty: no journal.
    char journalName[kPathCapacity];
};

// JOBS: how many encoders may run at once. Missing: 1, one encoder after
// another. 0: one per processor the process may use. Below 0: 1. Above
// kMostJobs: kMostJobs, which is also the most that 0 gives.
std::int32_t EncoderJobs(std::int32_t configured, std::int32_t processors);

// Reads the settings file at settingsPath into loaded. A missing or
// unreadable file yields the defaults and an empty encoderPath; without a
// main encoder, WIN_HIDE is not read and loaded keeps the value it had, and
// no other output is read.
void LoadSettings(const char *settingsPath, PluginSettings &loaded);

// Whether a rip can be made with settings: every output's encoder, and every
// album step's and verify line's program, is usable, and VERIFY is known; no template was cut; the extra outputs name
// an extension; no two outputs share an extension as the file system compares names, or the encoders would write one
// file; and with several outputs none is the WAV file itself, which the other encoders read meanwhile. Reason::Done
// when it can; otherwise the reason, and in output the index of the output.
Reason CheckOutputs(const PluginSettings &settings, std::int32_t &output);

// Writes a new file at copyPath (nothing may lie there) that the reader
// reads as it reads settingsPath, encoders' paths already resolved, with LOG
// set to journalPath. False, with nothing to use, when the copy does not
// read back exactly so, or settingsPath names no usable main encoder.
bool WriteSettingsCopy(const char *settingsPath, const char *copyPath, const char *journalPath);

// The parts of a path as the platform's path splitter sees them: the drive
// (the first two characters when the second is ':') and the folder (up to and
// including the last '\' or '/' after the drive, at most 255 characters).
struct PathParts {
    char drive[3];
    char folder[256];
};
// False when the folder had to be cut.
bool SplitPath(const char *path, PathParts &parts);

// Whether the settings path can be used as it stands: it fits its buffer,
// and its folder the one that a relative EXEPATH is resolved in. A cut one
// would name another file, or another folder.
bool SettingsPathFits(const char *settingsPath);

}  // namespace encbridge
