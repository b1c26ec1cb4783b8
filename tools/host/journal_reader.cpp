#include "journal_reader.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "host_paths.h"
#include "progress.h"

namespace host {

long long FileSize(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

std::vector<JournalRecord> ReadNewRecords(const std::string &path, long long &offset, unsigned pid) {
    std::vector<JournalRecord> records;
    // A journal that is no regular file (a FIFO at LOG) holds no records.
    std::ifstream file;
    bool notRegular = false;
    if (!OpenRegularStream(path, file, notRegular)) return records;
    file.seekg(offset);
    std::string line;
    while (std::getline(file, line)) {
        if (file.eof()) break;  // no line break yet: still being written
        offset += static_cast<long long>(line.size()) + 1;
        std::vector<std::string> fields = SplitRecord(line);
        if (fields.empty() || !encbridge_tools::OfProcess(fields, pid)) continue;
        records.push_back({line, fields});
    }
    return records;
}

namespace {

using encbridge_tools::FieldAt;
using encbridge_tools::MessageLines;

// The number in a record's field; 0 when it holds none.
int NumberAt(const std::vector<std::string> &fields, std::size_t place) { return std::atoi(fields[place].c_str()); }

// The reason named in a record's field; false when it names none.
bool ReasonAt(const std::vector<std::string> &fields, std::size_t place, encbridge::Reason &reason) {
    return encbridge::ReasonFromName(fields[place].c_str(), fields[place].size() + 1, reason);
}

}  // namespace

void NoteRecord(const JournalRecord &record, RipOutcome &outcome) {
    namespace field = encbridge::journal;
    const std::vector<std::string> &f = record.fields;
    encbridge::Reason reason;
    if (record.kind() == "refused" && f.size() > field::kRefusedReason && ReasonAt(f, field::kRefusedReason, reason)) {
        outcome.refused = true;
        outcome.refusal = reason;
        if (f.size() > field::kRefusedError && f[field::kRefusedError] != "-")
            outcome.refusalError = f[field::kRefusedError];
    } else if (record.kind() == "track" && f.size() > field::kTrackOutcome &&
               ReasonAt(f, field::kTrackReason, reason)) {
        const std::pair<int, int> key{NumberAt(f, field::kTrackNumber), NumberAt(f, field::kTrackOutput)};
        outcome.outputs[key] = reason;
        outcome.running.erase(key);
        if (f.size() > field::kTrackError && f[field::kTrackError] != "-") outcome.errors[key] = f[field::kTrackError];
        const std::string said = FieldAt(f, field::kTrackMessage);
        if (!said.empty()) outcome.messages[key] = said;
    } else if (record.kind() == "album" && f.size() > field::kAlbumCommand &&
               ReasonAt(f, field::kAlbumReason, reason)) {
        outcome.albumSteps[NumberAt(f, field::kAlbumOutput)] = reason;
        const std::string said = FieldAt(f, field::kAlbumMessage);
        if (!said.empty()) outcome.albumMessages[NumberAt(f, field::kAlbumOutput)] = said;
    } else if (record.kind() == "started" && f.size() >= field::kStartedFields) {
        outcome.running.insert({NumberAt(f, field::kStartedTrack), NumberAt(f, field::kStartedOutput)});
    } else if (record.kind() == "rip") {
        outcome.journaled = true;
    }
}

std::string LastLine(const std::string &messages) {
    const std::vector<std::string> lines = MessageLines(messages);
    return lines.empty() ? std::string() : lines.back();
}

std::string DescribeRecord(const JournalRecord &record) {
    namespace field = encbridge::journal;
    // Every field as it may be printed: a title or an encoder's words must
    // not drive the terminal. The program's words are split into lines
    // first.
    std::vector<std::string> f;
    for (const std::string &each : record.fields) f.push_back(encbridge_tools::Shown(each));
    const std::vector<std::string> &raw = record.fields;
    const std::string &kind = record.kind();
    if (kind == "rip" && f.size() >= field::kRipFields) {
        return "rip of \"" + f[field::kRipTitle] + "\", " + f[field::kRipTracks] + " tracks, settings " +
               f[field::kRipSettings];
    }
    // Records written before the system's words were kept end before them.
    const auto systemWords = [&f](std::size_t place) {
        return f.size() > place && f[place] != "-" ? " (" + f[place] + ")" : std::string();
    };
    // The program's words, a line each, below the record.
    const auto said = [&raw](std::size_t place) {
        std::string text;
        for (const std::string &line : MessageLines(FieldAt(raw, place))) text += "\n      " + line;
        return text.empty() ? text : "\n    it said:" + text;
    };
    if (kind == "track" && f.size() > field::kTrackCommand) {
        return "track " + f[field::kTrackNumber] + ", output " + f[field::kTrackOutput] + ": " +
               f[field::kTrackOutcome] + systemWords(field::kTrackError) + " (" + f[field::kTrackEnd] + ", " +
               f[field::kTrackSeconds] + " s) " + f[field::kTrackFinalPath] + "\n    " + f[field::kTrackCommand] +
               said(field::kTrackMessage);
    }
    if (kind == "started" && f.size() >= field::kStartedFields)
        return "track " + f[field::kStartedTrack] + ", output " + f[field::kStartedOutput] + ": encoder started";
    if (kind == "album" && f.size() > field::kAlbumCommand) {
        return "album step of output " + f[field::kAlbumOutput] + ": " + f[field::kAlbumOutcome] + " (" +
               f[field::kAlbumEnd] + ", " + f[field::kAlbumSeconds] + " s)\n    " + f[field::kAlbumCommand] +
               said(field::kAlbumMessage);
    }
    if (kind == "refused" && f.size() > field::kRefusedText)
        return "Create refused the rip: " + f[field::kRefusedText] + systemWords(field::kRefusedError);
    if (kind == "end" && f.size() >= field::kEndFields) return f[field::kEndWords];
    return encbridge_tools::Shown(record.line);
}

std::string ConfiguredJournal(const ModuleSettings &settings, const std::string &outputFolder) {
    char path[encbridge::kPathCapacity];
    return settings.tools->journalPath(settings.read.get(), outputFolder.c_str(), path, sizeof path) == 1
               ? path
               : std::string();
}

}  // namespace host
