#include "encoder/journal.h"

#include "encbridge/journal_format.h"
#include "encoder/command_line.h"
#include "encoder/final_name.h"
#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {

namespace {

constexpr std::size_t kRecordCapacity = kJournalRecordCapacity;

// Builds a record in the writer's buffer; a text that does not fit is cut,
// and the record still ends with its line break. Each field is written at
// the place that the shared record format gives it: a record whose fields
// came in another order is never written, since readers would take one
// field for another.
class RecordWriter {
public:
    RecordWriter(const RipJournal &journal, JournalBuffer &buffer, const char *kind)
        : record_(buffer.bytes), length_(0), next_(0), misplaced_(false) {
        char now[24];
        platform::UtcTimeText(now);
        Place(journal::kTime);
        Plain(now);
        Field(journal::kRip, journal.rip, sizeof journal.rip);
        Place(journal::kKind);
        Plain("\t");
        Plain(kind);
    }

    // A field of text, escaped.
    void Field(std::size_t place, const char *text, std::size_t width) {
        Bytes(place, text, BoundedLength(text, width));
    }
    // A field of bytes, all of them escaped, NUL too.
    void Bytes(std::size_t place, const char *bytes, std::size_t count) {
        Place(place);
        Plain("\t");
        for (std::size_t i = 0; i < count; ++i) {
            char escaped[5];
            journal::EscapeCharacter(static_cast<unsigned char>(bytes[i]), escaped);
            Plain(escaped);
        }
    }
    template <std::size_t N>
    void Field(std::size_t place, const char (&text)[N]) {
        Field(place, text, N);
    }
    void Number(std::size_t place, int value) {
        char text[16];
        FormatText(text, sizeof text, "%d", {value});
        Place(place);
        Plain("\t");
        Plain(text);
    }
    void Seconds(std::size_t place, std::uint32_t milliseconds) {
        char text[24];
        const int thousandths = static_cast<int>(milliseconds % 1000);
        FormatText(text, sizeof text, "%d.%d%02d",
                   {static_cast<int>(milliseconds / 1000), thousandths / 100, thousandths % 100});
        Place(place);
        Plain("\t");
        Plain(text);
    }

    // Appends the record, with its line break, to the journal, when it holds
    // its kind's fields, each in its place.
    void Write(const RipJournal &journal, std::size_t fields) {
        if (misplaced_ || next_ != fields) return;
        if (length_ > kRecordCapacity - 2) length_ = kRecordCapacity - 2;
        record_[length_++] = '\n';
        platform::AppendToJournal(journal.file, record_, length_);
    }

    // Text of the record's own, never escaped; cut at the buffer's end,
    // keeping room for the line break.
    void Plain(const char *text) {
        const std::size_t room = kRecordCapacity - 1 - length_;
        FormatText(record_ + length_, room, "%s", {FormatArg(text, kRecordCapacity)});
        length_ += BoundedLength(record_ + length_, room);
    }

private:
    void Place(std::size_t place) {
        misplaced_ = misplaced_ || place != next_;
        next_ = place + 1;
    }

    char *record_;  // kRecordCapacity bytes
    std::size_t length_;
    std::size_t next_;  // the place of the next field
    bool misplaced_;
};

// The system's words for code, with the code: "Permission denied (error 13)".
void ErrorWords(std::int32_t code, char (&text)[280]) {
    char words[256];
    platform::ErrorText(code, words, sizeof words);
    FormatText(text, sizeof text, "%s (error %d)", {words, code});
}

void WriteRunEnd(RecordWriter &writer, std::size_t place, const RunEnd &end) {
    char text[320];
    switch (end.kind) {
        case RunEnd::Kind::NotRun:
            FormatText(text, sizeof text, "%s", {"not run"});
            break;
        case RunEnd::Kind::NotStarted: {
            char words[280];
            ErrorWords(end.value, words);
            FormatText(text, sizeof text, "could not start: %s", {words});
            break;
        }
        case RunEnd::Kind::Exited:
            FormatText(text, sizeof text, "exit %d", {end.value});
            break;
        case RunEnd::Kind::Signaled:
            FormatText(text, sizeof text, "signal %d", {end.value});
            break;
        case RunEnd::Kind::Stopped:
            FormatText(text, sizeof text, "%s", {"stopped"});
            break;
    }
    writer.Field(place, text);
}

// What a failed run's program said; "-" for a run that succeeded, or a
// program that said nothing.
void WriteMessages(RecordWriter &writer, std::size_t place, const RunRecord &run) {
    if (run.reason == Reason::Done || run.messages == nullptr || run.messageLength == 0) {
        return writer.Field(place, "-", 2);
    }
    writer.Bytes(place, run.messages, run.messageLength);
}

void WriteSystemError(RecordWriter &writer, std::size_t place, std::int32_t code) {
    if (code == 0) return writer.Field(place, "-", 2);
    char words[280];
    ErrorWords(code, words);
    writer.Field(place, words);
}

// A run's seconds, how it ended and its reason, at their places from seconds
// on: the same order for a track and an album step.
void WriteRunFields(RecordWriter &writer, std::size_t seconds, const RunRecord &run) {
    writer.Seconds(seconds, run.milliseconds);
    WriteRunEnd(writer, seconds + 1, run.end);
    writer.Field(seconds + 2, ReasonName(run.reason), 64);
}

}  // namespace

void OpenRipJournal(RipJournal &journal, const PluginSettings &settings, const AlbumInfo &album,
                    std::uintptr_t instance, std::uint32_t ripNumber, bool create) {
    journal.file = nullptr;
    // Two copies of the module in one process count their rips alike.
    char hex[2 * sizeof instance + 1];
    for (std::size_t i = 0; i < 2 * sizeof instance; ++i) {
        hex[i] = "0123456789abcdef"[(instance >> (4 * (2 * sizeof instance - 1 - i))) & 15];
    }
    hex[sizeof hex - 1] = '\0';
    char pid[16];
    char number[16];
    FormatText(pid, sizeof pid, "%d", {static_cast<int>(platform::ProcessId())});
    FormatText(number, sizeof number, "%d", {static_cast<int>(ripNumber)});
    FormatText(journal.rip, sizeof journal.rip, "%s.%s.%s", {pid, hex, number});
    PathBuffer path;
    std::size_t folderLength = 0;
    if (!UsableJournalPath(settings.journalName, sizeof settings.journalName, album.outputFolder,
                           sizeof album.outputFolder, path, folderLength) ||
        IsAFinalPath(path, album, settings)) {
        return;
    }
    journal.file = platform::OpenJournal(path, folderLength, create);
}

void CloseRipJournal(RipJournal &journal) {
    platform::CloseJournal(journal.file);
    journal.file = nullptr;
}

void ForgetRipJournal(RipJournal &journal) {
    platform::ForgetJournal(journal.file);
    journal.file = nullptr;
}

void JournalRipStart(const RipJournal &journal, JournalBuffer &buffer, const AlbumInfo &album,
                     const char *settingsPath) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, buffer, "rip");
    writer.Field(journal::kRipTitle, album.albumTitle);
    writer.Number(journal::kRipTracks, album.trackCount);
    writer.Field(journal::kRipSettings, settingsPath, kPathCapacity);
    writer.Write(journal, journal::kRipFields);
}

void JournalRefusal(const RipJournal &journal, JournalBuffer &buffer, Reason reason, std::int32_t systemError) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, buffer, "refused");
    writer.Field(journal::kRefusedReason, ReasonName(reason), 64);
    writer.Field(journal::kRefusedText, ReasonText(reason), 256);
    WriteSystemError(writer, journal::kRefusedError, systemError);
    writer.Write(journal, journal::kRefusedFields);
}

void JournalRunStart(const RipJournal &journal, JournalBuffer &buffer, std::int32_t track, std::int32_t output) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, buffer, "started");
    writer.Number(journal::kStartedTrack, track);
    writer.Number(journal::kStartedOutput, output);
    writer.Write(journal, journal::kStartedFields);
}

void JournalTrack(const RipJournal &journal, JournalBuffer &buffer, const RunRecord &run) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, buffer, "track");
    writer.Number(journal::kTrackNumber, run.track);
    writer.Number(journal::kTrackOutput, run.output);
    writer.Field(journal::kTrackFinalPath, run.finalPath != nullptr ? run.finalPath : "-", kPathCapacity);
    static_assert(
        journal::kTrackEnd == journal::kTrackSeconds + 1 && journal::kTrackReason == journal::kTrackSeconds + 2,
        "a run's fields follow one another");
    WriteRunFields(writer, journal::kTrackSeconds, run);
    char outcome[320];
    if (run.reason == Reason::Done && run.systemError != 0) {
        // Published, but not shown to be on disk.
        FormatText(outcome, sizeof outcome, "%s, WAV kept: %s",
                   {FormatArg(ReasonText(run.reason), 256), "the output could not be put on disk"});
    } else if (run.reason == Reason::Done) {
        FormatText(outcome, sizeof outcome, "%s", {FormatArg(ReasonText(run.reason), 256)});
    } else if (run.verifySample >= 0) {
        FormatText(outcome, sizeof outcome, "WAV kept: %s, at sample %d",
                   {FormatArg(ReasonText(run.reason), 256), run.verifySample});
    } else {
        FormatText(outcome, sizeof outcome, "WAV kept: %s", {FormatArg(ReasonText(run.reason), 256)});
    }
    writer.Field(journal::kTrackOutcome, outcome);
    writer.Field(journal::kTrackCommand, run.commandLine != nullptr ? run.commandLine : "-",
                 run.commandLine != nullptr ? run.commandWidth : 2);
    WriteSystemError(writer, journal::kTrackError, run.systemError);
    WriteMessages(writer, journal::kTrackMessage, run);
    writer.Write(journal, journal::kTrackFields);
}

void JournalAlbumStep(const RipJournal &journal, JournalBuffer &buffer, const RunRecord &run) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, buffer, "album");
    writer.Number(journal::kAlbumOutput, run.output);
    static_assert(
        journal::kAlbumEnd == journal::kAlbumSeconds + 1 && journal::kAlbumReason == journal::kAlbumSeconds + 2,
        "a run's fields follow one another");
    WriteRunFields(writer, journal::kAlbumSeconds, run);
    char outcome[320];
    if (run.reason == Reason::Done) {
        FormatText(outcome, sizeof outcome, "%s", {"album step done"});
    } else {
        FormatText(outcome, sizeof outcome, "album step not done: %s", {FormatArg(ReasonText(run.reason), 256)});
    }
    writer.Field(journal::kAlbumOutcome, outcome);
    writer.Field(journal::kAlbumCommand, run.commandLine != nullptr ? run.commandLine : "-",
                 run.commandLine != nullptr ? run.commandWidth : 2);
    WriteMessages(writer, journal::kAlbumMessage, run);
    writer.Write(journal, journal::kAlbumFields);
}

void JournalEnd(const RipJournal &journal, JournalBuffer &buffer, std::int32_t done, std::int32_t processed,
                std::int32_t kept, bool stopped) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, buffer, "end");
    writer.Number(journal::kEndDone, done);
    writer.Number(journal::kEndProcessed, processed);
    writer.Number(journal::kEndKept, kept);
    char words[160];
    FormatText(words, sizeof words, "%d of %d tracks done, %d WAV files kept%s",
               {done, processed, kept, FormatArg(stopped ? ", stopped by Kill" : "", 32)});
    writer.Field(journal::kEndWords, words);
    writer.Write(journal, journal::kEndFields);
}

}  // namespace encbridge
