// The plug-in's settings and how they are loaded from the settings file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records/outcome.h"

namespace encbridge {

// One encoded format of every track: its encoder, how that is run, and the
// step run once the whole album is in that format. The main output is
// [SETUP] OUT with [OPTION]; the others are sections [OUTPUT2] to [OUTPUT9].
// Command templates are read whole into buffers of this size, the size of
// the buffers that the encoder's line is built in: a template that does not
// fit could never give a line that is run.
constexpr std::size_t kTemplateCapacity = 1024;

struct OutputSettings {
    std::int32_t number;                      // 1 for the main output, n for [OUTPUTn]
    char outputExtension[256];                // dot included, appended unchanged
    char commandTemplate[kTemplateCapacity];  // encoder arguments with tags
    char encoderPath[260];                    // empty: no usable encoder configured
    std::int32_t hideWindow;                  // non-zero: run the encoder hidden
    // ALBUM_EXEPATH or ALBUM_COMMAND is set. albumEncoderPath is then empty
    // when it names no program that could be resolved.
    bool albumStep;
    char albumEncoderPath[260];
    char albumTemplate[kTemplateCapacity];  // album tags, %dir and %files
    // COMMAND or ALBUM_COMMAND filled its buffer, and may have been cut: a
    // cut template could end in a bare tag or drop an argument.
    bool templateCut;
};

// The main output and at most eight more.
constexpr std::int32_t kMostOutputs = 9;

struct PluginSettings {
    OutputSettings outputs[kMostOutputs];
    std::int32_t outputCount;  // 1 to kMostOutputs; outputs[0] is the main one
    std::int32_t deleteWav;    // non-zero: delete a WAV once all its outputs are kept
    std::int32_t jobs;         // encoders that may run at once, 1 to kMostJobs
    // LOG: the journal's file, relative to the output folder (or absolute);
    // empty: no journal.
    char journalName[260];
};

// JOBS: how many encoders may run at once. Missing: 1, one encoder after
// another. 0: one per processor the process may use. Below 0: 1. Above
// kMostJobs: kMostJobs, which is also the most that 0 gives.
constexpr std::int32_t kMostJobs = 32;
std::int32_t EncoderJobs(std::int32_t configured, std::int32_t processors);

// The value of "EXEPATH" that marks an encoder that is not configured.
constexpr char kEncoderNotConfigured[] = "DENY";

// Reads the settings file at settingsPath into loaded. A missing or
// unreadable file yields the defaults and an empty encoderPath; without a
// main encoder, WIN_HIDE is not read and loaded keeps the value it had, and
// no other output is read.
void LoadSettings(const char *settingsPath, PluginSettings &loaded);

// Whether a rip can be made with settings: every output's encoder, and every
// album step's program, is usable; no template was cut; the extra outputs name an extension; no
// two outputs share an extension as the file system compares names, or the
// encoders would write one file; and with several outputs none is the WAV
// file itself, which the other encoders read meanwhile. Reason::Done when
// it can; otherwise the reason, and in output the index of the output.
Reason CheckOutputs(const PluginSettings &settings, std::int32_t &output);

// The parts of a path as the platform's path splitter sees them: the drive
// (the first two characters when the second is ':') and the folder (up to and
// including the last '\' or '/' after the drive, at most 255 characters).
struct PathParts {
    char drive[3];
    char folder[256];
};
// False when the folder had to be cut.
bool SplitPath(const char *path, PathParts &parts);

// The settings file's path is read in a buffer of this size.
constexpr std::size_t kSettingsPathCapacity = 260;

// Whether the settings path can be used as it stands: it fits its buffer,
// and its folder the one that a relative EXEPATH is resolved in. A cut one
// would name another file, or another folder.
bool SettingsPathFits(const char *settingsPath);

}  // namespace encbridge
