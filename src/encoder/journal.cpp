#include "encoder/journal.h"

#include "encoder/command_line.h"
#include "encoder/final_name.h"
#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {

namespace {

// Room for the longest record: an album step's line of 32,766 characters,
// each of which could take four to escape, and the fields around it. One
// rip writes at a time: from Create before the worker starts, then from
// the worker only, then from Kill once the worker has ended.
constexpr std::size_t kRecordCapacity = 4 * kLongestCommandLine + 4096;
char record[kRecordCapacity];

// Builds a record in the module's buffer; a text that does not fit is cut,
// and the record still ends with its line break.
class RecordWriter {
public:
    explicit RecordWriter(const RipJournal &journal, const char *kind) : length_(0) {
        char now[24];
        platform::UtcTimeText(now);
        Plain(now);
        Field(journal.rip, sizeof journal.rip);
        Plain("\t");
        Plain(kind);
    }

    // A field of text, escaped.
    void Field(const char *text, std::size_t width) {
        Plain("\t");
        static const char kHex[] = "0123456789abcdef";
        for (std::size_t i = 0; i < width && text[i] != '\0'; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            char escaped[5] = {'\\', '\0', '\0', '\0', '\0'};
            if (c == '\\') {
                escaped[1] = '\\';
            } else if (c == '\t') {
                escaped[1] = 't';
            } else if (c == '\n') {
                escaped[1] = 'n';
            } else if (c == '\r') {
                escaped[1] = 'r';
            } else if (c < 0x20 || c == 0x7f) {
                escaped[1] = 'x';
                escaped[2] = kHex[c >> 4];
                escaped[3] = kHex[c & 15];
            } else {
                escaped[0] = static_cast<char>(c);
            }
            Plain(escaped);
        }
    }
    template <std::size_t N>
    void Field(const char (&text)[N]) {
        Field(text, N);
    }
    void Number(int value) {
        char text[16];
        FormatText(text, sizeof text, "%d", {value});
        Plain("\t");
        Plain(text);
    }
    void Seconds(std::uint32_t milliseconds) {
        char text[24];
        const int thousandths = static_cast<int>(milliseconds % 1000);
        FormatText(text, sizeof text, "%d.%d%02d",
                   {static_cast<int>(milliseconds / 1000), thousandths / 100, thousandths % 100});
        Plain("\t");
        Plain(text);
    }

    // Appends the record, with its line break, to the journal.
    void Write(const RipJournal &journal) {
        if (length_ > kRecordCapacity - 2) length_ = kRecordCapacity - 2;
        record[length_++] = '\n';
        platform::AppendToJournal(journal.file, record, length_);
    }

    // Text of the record's own, never escaped; cut at the buffer's end,
    // keeping room for the line break.
    void Plain(const char *text) {
        const std::size_t room = kRecordCapacity - 1 - length_;
        FormatText(record + length_, room, "%s", {FormatArg(text, kRecordCapacity)});
        length_ += BoundedLength(record + length_, room);
    }

private:
    std::size_t length_;
};

// The system's words for code, with the code: "Permission denied (error 13)".
void ErrorWords(std::int32_t code, char (&text)[280]) {
    char words[256];
    platform::ErrorText(code, words, sizeof words);
    FormatText(text, sizeof text, "%s (error %d)", {words, code});
}

void WriteRunEnd(RecordWriter &writer, const RunEnd &end) {
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
    writer.Field(text);
}

void WriteSystemError(RecordWriter &writer, std::int32_t code) {
    if (code == 0) return writer.Field("-", 2);
    char words[280];
    ErrorWords(code, words);
    writer.Field(words);
}

void WriteRunFields(RecordWriter &writer, const RunRecord &run) {
    writer.Seconds(run.milliseconds);
    WriteRunEnd(writer, run.end);
    writer.Field(ReasonName(run.reason), 64);
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

void JournalRipStart(const RipJournal &journal, const AlbumInfo &album, const char *settingsPath) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, "rip");
    writer.Field(album.albumTitle);
    writer.Number(album.trackCount);
    writer.Field(settingsPath, kPathCapacity);
    writer.Write(journal);
}

void JournalRefusal(const RipJournal &journal, Reason reason, std::int32_t systemError) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, "refused");
    writer.Field(ReasonName(reason), 64);
    writer.Field(ReasonText(reason), 256);
    WriteSystemError(writer, systemError);
    writer.Write(journal);
}

void JournalTrack(const RipJournal &journal, const RunRecord &run) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, "track");
    writer.Number(run.track);
    writer.Number(run.output);
    writer.Field(run.finalPath != nullptr ? run.finalPath : "-", kPathCapacity);
    WriteRunFields(writer, run);
    char outcome[320];
    if (run.reason == Reason::Done) {
        FormatText(outcome, sizeof outcome, "%s", {FormatArg(ReasonText(run.reason), 256)});
    } else {
        FormatText(outcome, sizeof outcome, "WAV kept: %s", {FormatArg(ReasonText(run.reason), 256)});
    }
    writer.Field(outcome);
    writer.Field(run.commandLine != nullptr ? run.commandLine : "-", run.commandLine != nullptr ? run.commandWidth : 2);
    WriteSystemError(writer, run.systemError);
    writer.Write(journal);
}

void JournalAlbumStep(const RipJournal &journal, const RunRecord &run) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, "album");
    writer.Number(run.output);
    WriteRunFields(writer, run);
    char outcome[320];
    if (run.reason == Reason::Done) {
        FormatText(outcome, sizeof outcome, "%s", {"album step done"});
    } else {
        FormatText(outcome, sizeof outcome, "album step not done: %s", {FormatArg(ReasonText(run.reason), 256)});
    }
    writer.Field(outcome);
    writer.Field(run.commandLine != nullptr ? run.commandLine : "-", run.commandLine != nullptr ? run.commandWidth : 2);
    writer.Write(journal);
}

void JournalEnd(const RipJournal &journal, std::int32_t done, std::int32_t processed, std::int32_t kept, bool stopped) {
    if (journal.file == nullptr) return;
    RecordWriter writer(journal, "end");
    writer.Number(done);
    writer.Number(processed);
    writer.Number(kept);
    char words[160];
    FormatText(words, sizeof words, "%d of %d tracks done, %d WAV files kept%s",
               {done, processed, kept, FormatArg(stopped ? ", stopped by Kill" : "", 32)});
    writer.Field(words);
    writer.Write(journal);
}

}  // namespace encbridge
