#include "records/outcome.h"

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
        case Reason::HeaderRefused:
            return "the host's WAV header cannot be used";
        case Reason::OutOfMemory:
            return "out of memory";
        case Reason::FolderInUse:
            return "another rip holds the output folder";
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
        case Reason::Stopped:
            return "stopped by Kill";
        case Reason::OtherOutputFailed:
            return "another output of the track failed";
    }
    return "unknown";
}

}  // namespace encbridge
