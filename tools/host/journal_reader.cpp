#include "journal_reader.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "encoder/final_name.h"
#include "host_paths.h"
#include "progress.h"
#include "settings/plugin_settings.h"

namespace host {

namespace {

// A journal may hold lines of other writers, or be cut: nothing in it is
// trusted to be well formed.
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string UnescapeField(const std::string &field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            text += field[i];
            continue;
        }
        const char next = field[++i];
        if (next == 't') {
            text += '\t';
        } else if (next == 'n') {
            text += '\n';
        } else if (next == 'r') {
            text += '\r';
        } else if (next == 'x' && i + 2 < field.size() && HexDigit(field[i + 1]) >= 0 && HexDigit(field[i + 2]) >= 0) {
            text += static_cast<char>(HexDigit(field[i + 1]) * 16 + HexDigit(field[i + 2]));
            i += 2;
        } else {
            text += next;
        }
    }
    return text;
}

std::vector<std::string> SplitRecord(const std::string &line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(UnescapeField(line.substr(start, tab - start)));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (fields.size() < 3) fields.clear();
    return fields;
}

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
    const std::string ours = std::to_string(pid) + ".";
    std::string line;
    while (std::getline(file, line)) {
        if (file.eof()) break;  // no line break yet: still being written
        offset += static_cast<long long>(line.size()) + 1;
        std::vector<std::string> fields = SplitRecord(line);
        // The time goes; the rip and the kind lead.
        if (fields.empty() || fields[1].compare(0, ours.size(), ours) != 0) continue;
        fields.erase(fields.begin());
        records.push_back({line, fields});
    }
    return records;
}

void NoteRecord(const JournalRecord &record, RipOutcome &outcome) {
    const std::vector<std::string> &f = record.fields;
    encbridge::Reason reason;
    if (record.kind() == "refused" && f.size() >= 3 &&
        encbridge::ReasonFromName(f[2].c_str(), f[2].size() + 1, reason)) {
        outcome.refused = true;
        outcome.refusal = reason;
    } else if (record.kind() == "track" && f.size() >= 9 &&
               encbridge::ReasonFromName(f[7].c_str(), f[7].size() + 1, reason)) {
        outcome.outputs[{std::atoi(f[2].c_str()), std::atoi(f[3].c_str())}] = reason;
    } else if (record.kind() == "album" && f.size() >= 8 &&
               encbridge::ReasonFromName(f[5].c_str(), f[5].size() + 1, reason)) {
        outcome.albumSteps[std::atoi(f[2].c_str())] = reason;
    } else if (record.kind() == "rip") {
        outcome.journaled = true;
    }
}

std::string DescribeRecord(const JournalRecord &record) {
    const std::vector<std::string> &f = record.fields;
    const std::string &kind = record.kind();
    if (kind == "rip" && f.size() >= 5) return "rip of \"" + f[2] + "\", " + f[3] + " tracks, settings " + f[4];
    if (kind == "track" && f.size() >= 10) {
        return "track " + f[2] + ", output " + f[3] + ": " + f[8] + " (" + f[6] + ", " + f[5] + " s) " + f[4] +
               "\n    " + f[9];
    }
    if (kind == "album" && f.size() >= 8) {
        return "album step of output " + f[2] + ": " + f[6] + " (" + f[4] + ", " + f[3] + " s)\n    " + f[7];
    }
    if (kind == "refused" && f.size() >= 4) return "Create refused the rip: " + f[3];
    if (kind == "end" && f.size() >= 6) return f[5];
    return record.line;
}

namespace {

// A value as the settings reader gives it back whole: in quotes, which it
// removes, so that blanks and quotes at either end stay.
std::string Quoted(const char *value) { return std::string("\"") + value + "\""; }

bool SameSettings(const encbridge::PluginSettings &a, const encbridge::PluginSettings &b) {
    if (a.outputCount != b.outputCount || a.deleteWav != b.deleteWav || a.jobs != b.jobs) return false;
    for (int i = 0; i < a.outputCount; ++i) {
        const encbridge::OutputSettings &x = a.outputs[i];
        const encbridge::OutputSettings &y = b.outputs[i];
        if (x.number != y.number || std::strcmp(x.outputExtension, y.outputExtension) != 0 ||
            std::strcmp(x.commandTemplate, y.commandTemplate) != 0 || std::strcmp(x.encoderPath, y.encoderPath) != 0 ||
            x.hideWindow != y.hideWindow || x.albumStep != y.albumStep ||
            std::strcmp(x.albumEncoderPath, y.albumEncoderPath) != 0 ||
            std::strcmp(x.albumTemplate, y.albumTemplate) != 0) {
            return false;
        }
    }
    return true;
}

void WriteOutput(std::FILE *file, const encbridge::OutputSettings &output) {
    std::fprintf(file, "EXEPATH=%s\nCOMMAND=%s\nWIN_HIDE=%d\n",
                 Quoted(output.encoderPath[0] != '\0' ? output.encoderPath : encbridge::kEncoderNotConfigured).c_str(),
                 Quoted(output.commandTemplate).c_str(), static_cast<int>(output.hideWindow));
    if (!output.albumStep) return;
    std::fprintf(
        file, "ALBUM_EXEPATH=%s\nALBUM_COMMAND=%s\n",
        Quoted(output.albumEncoderPath[0] != '\0' ? output.albumEncoderPath : encbridge::kEncoderNotConfigured).c_str(),
        Quoted(output.albumTemplate).c_str());
}

}  // namespace

bool WriteSettingsWithJournal(const std::string &settingsPath, const std::string &copyPath,
                              const std::string &journalPath) {
    auto original = std::make_unique<encbridge::PluginSettings>();
    encbridge::LoadSettings(settingsPath.c_str(), *original);
    if (original->outputs[0].encoderPath[0] == '\0') return false;
    std::FILE *file = std::fopen(copyPath.c_str(), "w");
    if (file == nullptr) return false;
    const encbridge::PluginSettings &s = *original;
    std::fprintf(file, "[SETUP]\nOUT=%s\n[OPTION]\nDELETE=%d\nJOBS=%d\nLOG=%s\n",
                 Quoted(s.outputs[0].outputExtension).c_str(), static_cast<int>(s.deleteWav), static_cast<int>(s.jobs),
                 Quoted(journalPath.c_str()).c_str());
    WriteOutput(file, s.outputs[0]);
    for (int i = 1; i < s.outputCount; ++i) {
        std::fprintf(file, "[OUTPUT%d]\nOUT=%s\n", static_cast<int>(s.outputs[i].number),
                     Quoted(s.outputs[i].outputExtension).c_str());
        WriteOutput(file, s.outputs[i]);
    }
    if (std::fclose(file) != 0) return false;
    auto copy = std::make_unique<encbridge::PluginSettings>();
    encbridge::LoadSettings(copyPath.c_str(), *copy);
    return SameSettings(*original, *copy) && journalPath == copy->journalName;
}

std::string ConfiguredJournal(const std::string &settingsPath, const std::string &outputFolder) {
    auto settings = std::make_unique<encbridge::PluginSettings>();
    encbridge::LoadSettings(settingsPath.c_str(), *settings);
    encbridge::PathBuffer path;
    std::size_t folderLength = 0;
    if (!encbridge::UsableJournalPath(settings->journalName, sizeof settings->journalName, outputFolder.c_str(),
                                      outputFolder.size() + 1, path, folderLength)) {
        return std::string();
    }
    return path;
}

}  // namespace host
