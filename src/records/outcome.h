// Why a rip was refused, or a track's output not produced: one list, used by
// the steps that decide, the journal and the reference host alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace encbridge {

enum class Reason : std::uint8_t {
    Done,  // encoded and moved to its final name
    // Create refused the rip.
    BadArguments,
    SettingsPathTooLong,
    EncoderNotUsable,
    AlbumStepNotUsable,
    ExtensionMissing,
    OutputIsTheWav,
    ExtensionsAlike,
    TemplateTooLong,
    HeaderRefused,
    OutOfMemory,
    FolderInUse,
    FolderMissing,
    FolderNotWritable,
    LockNotMade,
    TrackFileNotOpened,
    // A track's output was not produced, and its WAV file stays.
    TrackNotWritten,
    NameUnsafe,
    NameTooLong,
    CommandCut,
    ValueUnsafe,
    CouldNotStart,
    EncoderFailed,
    OutputNotAFile,
    FolderNotMade,
    FinalNameExists,
    MoveFailed,
    Stopped,
    OtherOutputFailed,
    // An album step was not run.
    TrackMissing,
};

// The reason in words, as the journal and the host print it.
const char *ReasonText(Reason reason);
// The reason as one word, for scripts that read the journal:
// "encoder-failed" and the like.
const char *ReasonName(Reason reason);
// The reason that ReasonName gives name (within width); false when none
// does.
bool ReasonFromName(const char *name, std::size_t width, Reason &reason);

}  // namespace encbridge
