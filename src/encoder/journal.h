// The journal: one line for each event of a rip that a user may need to know
// about (its start or refusal, every output of every track, every album
// step, its end), appended to the file that LOG names. A journal that
// cannot be written is skipped: it never blocks or fails a rip.
//
// The record format, which readers share, is in encbridge/journal_format.h.
#pragma once

#include <cstdint>

#include "encbridge/limits.h"
#include "platform/format.h"
#include "platform/process.h"
#include "records/host_records.h"
#include "records/outcome.h"
#include "settings/plugin_settings.h"

namespace encbridge {

namespace platform {
struct JournalFile;
}

struct RipJournal {
    platform::JournalFile *file;  // null: no journal
    char rip[48];                 // "PID.INSTANCE.N"
};

// Room for the longest record: an album step's line of 32,766 characters
// and the program's kept words, each of which could take four to escape,
// and the fields around them.
constexpr std::size_t kJournalRecordCapacity = 4 * (kLongestCommandLine + platform::kMessageTailCapacity) + 4096;

// Where a record is built before it is appended. Each thread that writes
// records passes its own: the host's side one, the worker another, so that
// no two writers ever share one.
struct JournalBuffer {
    char bytes[kJournalRecordCapacity];
};

// Opens the journal that settings name (LOG) for album's rip number
// ripNumber of the module instance (a value that no other copy of the
// module loaded in the process has at the same time); creates the file
// when create is set. journal.file stays null when LOG is empty or names no
// usable file, or where a track of the album would be published.
void OpenRipJournal(RipJournal &journal, const PluginSettings &settings, const AlbumInfo &album,
                    std::uintptr_t instance, std::uint32_t ripNumber, bool create);
void CloseRipJournal(RipJournal &journal);
// In a child that the host forked: lets go of the journal, which stays the
// parent's.
void ForgetRipJournal(RipJournal &journal);

// "rip": album title, track count, settings file.
void JournalRipStart(const RipJournal &journal, JournalBuffer &buffer, const AlbumInfo &album,
                     const char *settingsPath);
// "refused": why Create refused the rip: the reason's name and text, and
// the system's words for systemError ("-" without one).
void JournalRefusal(const RipJournal &journal, JournalBuffer &buffer, Reason reason, std::int32_t systemError);

// How a program's run ended.
struct RunEnd {
    enum class Kind {
        NotRun,      // never started: the line was not run
        NotStarted,  // the system could not start it; value: its error
        Exited,      // value: the exit code
        Signaled,    // value: the signal
        Stopped,     // ended by a stop
    };
    Kind kind;
    std::int32_t value;
};

// One run of an encoder for one output of a track, or of an album step.
struct RunRecord {
    std::int32_t track;   // from 1; 0 for an album step
    std::int32_t output;  // the output's number: 1 for the main one
    const char *finalPath;
    const char *commandLine;  // as run, or as it would have been; null: none
    std::size_t commandWidth;
    std::uint32_t milliseconds;
    RunEnd end;
    Reason reason;
    // The system's error behind reason (a move, a folder, the WAV file's
    // open); 0: none. With Reason::Done: the output was published but could
    // not be put on disk, and its WAV file was kept.
    std::int32_t systemError;
    // The sample frame a failed verification is about (the first that
    // differs, or that one side lacks); -1: none.
    std::int32_t verifySample = -1;
    // The last words of the program that failed (messageLength bytes, any
    // bytes, not NUL-terminated); journaled only for a run that failed.
    const char *messages = nullptr;
    std::size_t messageLength = 0;
};
// "started": the encoder of a track's output (track from 1, the output's
// number) has started.
void JournalRunStart(const RipJournal &journal, JournalBuffer &buffer, std::int32_t track, std::int32_t output);
// "track": number, output, final file, seconds, how it ended, reason's
// name, outcome in words (with the sample a failed verification is about),
// command line, the system's words for systemError ("-" without one), the
// program's words ("-" without any).
void JournalTrack(const RipJournal &journal, JournalBuffer &buffer, const RunRecord &run);
// "album": output, seconds, how it ended, reason's name, outcome in words,
// command line, the program's words.
void JournalAlbumStep(const RipJournal &journal, JournalBuffer &buffer, const RunRecord &run);
// "end": tracks done, tracks processed, WAV files kept, in numbers and in
// words.
void JournalEnd(const RipJournal &journal, JournalBuffer &buffer, std::int32_t done, std::int32_t processed,
                std::int32_t kept, bool stopped);

}  // namespace encbridge
