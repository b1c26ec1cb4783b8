// The module's limits, each in one place: the module's buffers are made
// with them, and tools that explain a refusal quote them from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace encbridge {

// Paths are held in buffers of this size: at most 259 characters.
constexpr std::size_t kPathCapacity = 260;
// The settings file's path is read in a buffer of this size.
constexpr std::size_t kSettingsPathCapacity = kPathCapacity;
// An output's extension (OUT), dot included.
constexpr std::size_t kExtensionCapacity = 256;
// Command texts and command templates are held in buffers of this size: at
// most 1,023 characters. A template that does not fit could never give a
// line that is run.
constexpr std::size_t kCommandCapacity = 1024;
constexpr std::size_t kTemplateCapacity = kCommandCapacity;
// The longest template read: a value that reaches two characters short of
// its buffer may have been cut, since the profile functions count a cut
// value's length in more than one way.
constexpr std::size_t kLongestTemplate = kTemplateCapacity - 3;
// The longest program path (EXEPATH, ALBUM_EXEPATH, VERIFY_EXEPATH) read, for
// the same reason.
constexpr std::size_t kLongestProgramPath = kPathCapacity - 3;
// The longest command line Windows runs, NUL included: CreateProcess takes
// 32,767 characters counting the line's terminating NUL, so 32,766 of text;
// cmd.exe takes 8,191 for a batch file.
constexpr std::size_t kLongestCommandLine = 32767;
constexpr std::size_t kLongestCommandShellLine = 8192;
// The main output and at most eight more ([OUTPUT2] to [OUTPUT9]).
constexpr std::int32_t kMostOutputs = 9;
// The most encoders that may run at once (JOBS).
constexpr std::int32_t kMostJobs = 32;
// The most tracks that the settings file may describe beyond the host's
// records ([TRACK01] to [TRACK99]); later tracks get empty values.
constexpr std::int32_t kMostTaggedTracks = 99;
// The value of EXEPATH that marks an encoder that is not configured.
constexpr char kEncoderNotConfigured[] = "DENY";

}  // namespace encbridge
