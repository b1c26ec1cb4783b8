#include "records/outcome.h"

#include <algorithm>

namespace encbridge {

const char *ReasonText(Reason reason) {
    switch (reason) {
        case Reason::Done:
            return "encoded and moved";
        case Reason::BadArguments:
            return "the host's album record or arguments cannot be used";
        case Reason::SettingsPathTooLong:
            return "the settings file's path is too long";
        case Reason::EncoderNotUsable:
            return "the encoder is missing, not configured, or may not be run";
        case Reason::AlbumStepNotUsable:
            return "the album step's program is missing, not configured, or may not be run";
        case Reason::ExtensionMissing:
            return "the output has no extension (OUT)";
        case Reason::OutputIsTheWav:
            return "the output is the WAV file itself, which the other outputs' encoders read";
        case Reason::ExtensionsAlike:
            return "two outputs share an extension, so their encoders would write one file";
        case Reason::TemplateTooLong:
            return "a command template (COMMAND or ALBUM_COMMAND) is longer than the module reads";
        case Reason::HeaderRefused:
            return "the host's WAV header cannot be used";
        case Reason::OutOfMemory:
            return "out of memory";
        case Reason::FolderInUse:
            return "another rip holds the output folder";
        case Reason::FolderMissing:
            return "the output folder does not exist";
        case Reason::FolderNotWritable:
            return "no file can be made in the output folder (read-only, or not this user's to write)";
        case Reason::LockNotMade:
            return "something that is no rip's lock lies at #ripping.lock and cannot be moved aside";
        case Reason::TrackFileNotOpened:
            return "the track's WAV file could not be created";
        case Reason::TrackNotWritten:
            return "the track's WAV file could not be created or written";
        case Reason::NameUnsafe:
            return "the final name is unsafe";
        case Reason::NameTooLong:
            return "a path would have been cut";
        case Reason::CommandCut:
            return "the command would have been cut";
        case Reason::ValueUnsafe:
            return "a value could not be made safe as one argument";
        case Reason::CouldNotStart:
            return "the encoder could not start";
        case Reason::EncoderFailed:
            return "the encoder failed";
        case Reason::OutputNotAFile:
            return "the output was empty or not a plain file";
        case Reason::FolderNotMade:
            return "a folder of the final name could not be made";
        case Reason::FinalNameExists:
            return "the final name exists";
        case Reason::MoveFailed:
            return "the output could not be moved to its final name";
        case Reason::Stopped:
            return "stopped by Kill";
        case Reason::OtherOutputFailed:
            return "another output of the track failed";
        case Reason::TrackMissing:
            return "a track of this output was not produced";
    }
    return "unknown";
}

namespace {

struct NamedReason {
    Reason reason;
    const char *name;
};

constexpr NamedReason kNames[] = {
    {Reason::Done, "done"},
    {Reason::BadArguments, "bad-arguments"},
    {Reason::SettingsPathTooLong, "settings-path-too-long"},
    {Reason::EncoderNotUsable, "encoder-not-usable"},
    {Reason::AlbumStepNotUsable, "album-step-not-usable"},
    {Reason::ExtensionMissing, "extension-missing"},
    {Reason::OutputIsTheWav, "output-is-the-wav"},
    {Reason::ExtensionsAlike, "extensions-alike"},
    {Reason::TemplateTooLong, "template-too-long"},
    {Reason::HeaderRefused, "header-refused"},
    {Reason::OutOfMemory, "out-of-memory"},
    {Reason::FolderInUse, "folder-in-use"},
    {Reason::FolderMissing, "folder-missing"},
    {Reason::FolderNotWritable, "folder-not-writable"},
    {Reason::LockNotMade, "lock-not-made"},
    {Reason::TrackFileNotOpened, "track-file-not-opened"},
    {Reason::TrackNotWritten, "track-not-written"},
    {Reason::NameUnsafe, "name-unsafe"},
    {Reason::NameTooLong, "name-too-long"},
    {Reason::CommandCut, "command-cut"},
    {Reason::ValueUnsafe, "value-unsafe"},
    {Reason::CouldNotStart, "could-not-start"},
    {Reason::EncoderFailed, "encoder-failed"},
    {Reason::OutputNotAFile, "output-not-a-file"},
    {Reason::FolderNotMade, "folder-not-made"},
    {Reason::FinalNameExists, "final-name-exists"},
    {Reason::MoveFailed, "move-failed"},
    {Reason::Stopped, "stopped"},
    {Reason::OtherOutputFailed, "other-output-failed"},
    {Reason::TrackMissing, "track-missing"},
};

}  // namespace

const char *ReasonName(Reason reason) {
    const NamedReason *end = kNames + sizeof kNames / sizeof kNames[0];
    const NamedReason *row =
        std::find_if(kNames, end, [reason](const NamedReason &named) { return named.reason == reason; });
    return row != end ? row->name : "unknown";
}

bool ReasonFromName(const char *name, std::size_t width, Reason &reason) {
    for (const NamedReason &row : kNames) {
        std::size_t i = 0;
        while (i < width && row.name[i] != '\0' && name[i] == row.name[i]) ++i;
        if (row.name[i] == '\0' && (i == width || name[i] == '\0')) {
            reason = row.reason;
            return true;
        }
    }
    return false;
}

}  // namespace encbridge
