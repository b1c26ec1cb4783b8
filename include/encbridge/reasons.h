// Why a rip was refused, or a track's output not produced: the one table of
// reasons, from which the enum, the names that scripts read in the journal
// and the texts that the journal and the hosts print all come. The module's
// steps decide with it, and tools read the journal with it.
#pragma once

#include <cstddef>
#include <cstdint>

// X(value, name, text). Create refuses a rip with the reasons from
// BadArguments to TrackFileNotOpened, and for VerifyNotUsable; a track's
// output is not produced, and its WAV file stays, for those from
// TrackNotWritten to Stopped and from VerifyFailed on; an album step is not
// run for TrackMissing. Rows are only ever added at the end: hosts and tools
// hold these values as numbers.
#define ENCBRIDGE_REASONS(X)                                                                                           \
    X(Done, "done", "encoded and moved")                                                                               \
    X(BadArguments, "bad-arguments", "the host's album record or arguments cannot be used")                            \
    X(SettingsPathTooLong, "settings-path-too-long", "the settings file's path is too long")                           \
    X(EncoderNotUsable, "encoder-not-usable", "the encoder is missing, not configured, or may not be run")             \
    X(AlbumStepNotUsable, "album-step-not-usable",                                                                     \
      "the album step's program is missing, not configured, or may not be run")                                        \
    X(ExtensionMissing, "extension-missing", "the output has no extension (OUT)")                                      \
    X(OutputIsTheWav, "output-is-the-wav",                                                                             \
      "the output is the WAV file itself, which the other outputs' encoders read")                                     \
    X(ExtensionsAlike, "extensions-alike", "two outputs share an extension, so their encoders would write one file")   \
    X(TemplateTooLong, "template-too-long",                                                                            \
      "a command template (COMMAND or ALBUM_COMMAND) is longer than the module reads")                                 \
    X(HeaderRefused, "header-refused", "the host's WAV header cannot be used")                                         \
    X(OutOfMemory, "out-of-memory", "out of memory")                                                                   \
    X(FolderInUse, "folder-in-use", "another rip holds the output folder")                                             \
    X(FolderMissing, "folder-missing", "the output folder does not exist")                                             \
    X(FolderNotWritable, "folder-not-writable",                                                                        \
      "no file can be made in the output folder (read-only, or not this user's to write)")                             \
    X(LockNotMade, "lock-not-made", "something that is no rip's lock lies at #ripping.lock and cannot be moved aside") \
    X(TrackFileNotOpened, "track-file-not-opened", "the track's WAV file could not be created")                        \
    X(TrackNotWritten, "track-not-written", "the track's WAV file could not be created or written")                    \
    X(NameUnsafe, "name-unsafe", "the final name is unsafe")                                                           \
    X(NameTooLong, "name-too-long", "a path would have been cut")                                                      \
    X(CommandCut, "command-cut", "the command would have been cut")                                                    \
    X(ValueUnsafe, "value-unsafe", "a value could not be made safe as one argument")                                   \
    X(CouldNotStart, "could-not-start", "the encoder could not start")                                                 \
    X(EncoderFailed, "encoder-failed", "the encoder failed")                                                           \
    X(OutputNotAFile, "output-not-a-file", "the output was empty or not a plain file")                                 \
    X(FolderNotMade, "folder-not-made", "a folder of the final name could not be made")                                \
    X(FinalNameExists, "final-name-exists", "the final name exists")                                                   \
    X(MoveFailed, "move-failed", "the output could not be moved to its final name")                                    \
    X(Stopped, "stopped", "stopped by Kill")                                                                           \
    X(TrackMissing, "track-missing", "a track of this output was not produced")                                        \
    X(VerifyNotUsable, "verify-not-usable",                                                                            \
      "the output's verify line cannot be used (VERIFY is missing or neither exact nor decodes, VERIFY_EXEPATH "       \
      "names no usable program, VERIFY_COMMAND lacks %o% or names %i%, or the output is the WAV file)")                \
    X(VerifyFailed, "verify-failed", "the verify line could not start, failed, or gave no audio")                      \
    X(VerifyMismatch, "verify-mismatch", "the decoded audio differs from the track's")                                 \
    X(VerifyTooShort, "verify-too-short", "the decoded audio is shorter than the track's")                             \
    X(VerifyTooLong, "verify-too-long", "the decoded audio is longer than the track's")

namespace encbridge {

#define ENCBRIDGE_REASON_VALUE(value, name, text) value,
enum class Reason : std::uint8_t { ENCBRIDGE_REASONS(ENCBRIDGE_REASON_VALUE) };
#undef ENCBRIDGE_REASON_VALUE

namespace reasons {
struct Row {
    Reason reason;
    const char *name;
    const char *text;
};
#define ENCBRIDGE_REASON_ROW(value, name, text) {Reason::value, name, text},
constexpr Row kRows[] = {ENCBRIDGE_REASONS(ENCBRIDGE_REASON_ROW)};
#undef ENCBRIDGE_REASON_ROW
constexpr std::size_t kCount = sizeof kRows / sizeof kRows[0];
}  // namespace reasons

// The reason in words, as the journal and the host print it.
inline const char *ReasonText(Reason reason) noexcept {
    const std::size_t row = static_cast<std::size_t>(reason);
    return row < reasons::kCount ? reasons::kRows[row].text : "unknown";
}

// The reason as one word, for scripts that read the journal:
// "encoder-failed" and the like.
inline const char *ReasonName(Reason reason) noexcept {
    const std::size_t row = static_cast<std::size_t>(reason);
    return row < reasons::kCount ? reasons::kRows[row].name : "unknown";
}

// The reason that ReasonName gives name (read within width); false when
// none does.
inline bool ReasonFromName(const char *name, std::size_t width, Reason &reason) noexcept {
    for (const reasons::Row &row : reasons::kRows) {
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
