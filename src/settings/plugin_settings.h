// The plug-in's five settings and how they are loaded from the settings file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace encbridge {

struct PluginSettings {
    char outputExtension[256];  // dot included, appended unchanged
    char commandTemplate[256];  // encoder arguments with tags
    std::int32_t deleteWav;     // non-zero: delete the WAV after encoding
    char encoderPath[260];      // empty: no usable encoder configured
    std::int32_t hideWindow;    // non-zero: run the encoder hidden
    std::int32_t jobs;          // encoders that may run at once, 1 to kMostJobs
};

// JOBS: how many encoders may run at once. Missing: 1, as before there was
// a choice. 0: one per processor the process may use. Below 0: 1. Above
// kMostJobs: kMostJobs, which is also the most that 0 gives.
constexpr std::int32_t kMostJobs = 32;
std::int32_t EncoderJobs(std::int32_t configured, std::int32_t processors);

// The value of "EXEPATH" that marks an encoder that is not configured.
constexpr char kEncoderNotConfigured[] = "DENY";

// Reads the settings file at settingsPath into loaded. A missing or
// unreadable file yields the defaults and an empty encoderPath; without an
// encoder, WIN_HIDE is not read and loaded keeps the value it had.
void LoadSettings(const char *settingsPath, PluginSettings &loaded);

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
