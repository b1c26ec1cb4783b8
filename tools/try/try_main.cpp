// encbridge-try.exe: tries a settings file before the first CD. It loads
// the encbridge.dll beside it as a ripping program does and rips a made-up
// album of three short tracks with the settings given, into the folder
// given or a new one in the user's temp folder, with the journal on in a
// copy of the settings. It prints each command line the module runs, each
// output's verify lines among them, split into the arguments its program
// receives, then what each output became: the file made, or the reason, the
// system's words and the encoder's own message from the journal.
//
//   encbridge-try.exe [--dry-run] SETTINGS.ini [OUTPUT-FOLDER]
//
// Exit status: 0 every output was made (--dry-run: every command line would
// run), 3 some were not, 1 the module refuses the settings, 2 the arguments
// are wrong or there is no module, settings file, output folder, temp folder
// or journal to try with (try_status.h).
#include <shlobj.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <utility>

#include "encbridge/reasons.h"
#include "journal_fields.h"
#include "template_tags.h"
#include "try_album.h"
#include "try_status.h"
#include "try_windows.h"

namespace {

using encbridge_tools::FieldAt;
using encbridge_try::kAllMade;
using encbridge_try::kCannotTry;
using encbridge_try::kRefused;
using encbridge_try::kSomeNotMade;
using encbridge_try::Say;
namespace field = encbridge::journal;

const char kUsage[] =
    "usage: encbridge-try.exe [--dry-run] SETTINGS.ini [OUTPUT-FOLDER]\n"
    "Rips a made-up album of three one-second tracks with the settings file, through the encbridge.dll\n"
    "beside this program, into OUTPUT-FOLDER or a new folder in your temp folder, and says what became\n"
    "of each file. --dry-run only prints the command lines that the module would run.\n"
    "Exit status: 0 every file was made, 3 some were not, 1 the module refuses the settings,\n"
    "2 it could not try (wrong arguments, no encbridge.dll beside it, no settings file, or no folder or\n"
    "temp folder to use).\n";

// A reason's name as the journal gives it, with its text.
std::string ReasonWords(const std::string &name) {
    encbridge::Reason reason;
    if (!encbridge::ReasonFromName(name.c_str(), name.size() + 1, reason)) return name;
    return name + " (" + encbridge::ReasonText(reason) + ")";
}

// A command line (named by label) and the arguments its program receives.
void PrintCommand(const std::string &line, const char *label = "command line") {
    Say("  " + std::string(label) + ": " + line + "\n");
    const std::vector<std::string> arguments = encbridge_try::ArgumentsOf(line);
    for (std::size_t a = 0; a < arguments.size(); ++a)
        Say((a == 0 ? std::string("  program:    ") : "  argument " + std::to_string(a) + ": ") + arguments[a] + "\n");
}

// One line the module builds: track (from 0; -1 for the album step) of
// output (an index in the settings' outputs), and the track's verify line
// when the output has one.
struct Planned {
    std::int32_t output, track, status;
    std::string line;
    std::int32_t verifyStatus;
    std::string verifyLine;
};

std::vector<Planned> Plan(const encbridge_try::Module &module, const EncbridgeSettings &settings,
                          const AlbumInfo &album) {
    std::vector<Planned> plan;
    // Its last byte is never written: every line read from it ends.
    std::vector<char> line(encbridge::kLongestCommandLine + 1);
    const std::size_t capacity = line.size() - 1;
    for (std::int32_t o = 0; o < settings.outputCount; ++o) {
        for (std::int32_t t = 0; t <= album.trackCount; ++t) {
            const bool step = t == album.trackCount;
            if (step && !settings.outputs[o].albumStep) continue;
            line[0] = '\0';
            const std::int32_t status =
                step ? module.tools->previewAlbumLine(&settings, o, &album, line.data(), capacity)
                     : module.tools->previewTrackLine(&settings, o, &album, t, line.data(), capacity);
            plan.push_back({o, step ? -1 : t, status, std::string(line.data()), kEncbridgeLineComplete, ""});
            if (step || settings.outputs[o].verify == encbridge::VerifyMode::None) continue;
            line[0] = '\0';
            plan.back().verifyStatus = module.tools->previewVerifyLine(&settings, o, &album, t, line.data(), capacity);
            plan.back().verifyLine = line.data();
        }
    }
    return plan;
}

std::string Heading(const EncbridgeSettings &settings, const Planned &planned) {
    const std::string output = settings.outputs[planned.output].outputExtension;
    if (planned.track < 0) return "\nalbum step of output " + output + ":\n";
    const std::string number = (planned.track < 9 ? "0" : "") + std::to_string(planned.track + 1);
    return "\ntrack " + number + ", output " + output + ":\n";
}

// Prints a line and its arguments, or why it is not run; false then.
bool PrintLine(const std::string &line, std::int32_t status, const char *label) {
    if (status == kEncbridgeLineComplete) {
        PrintCommand(line, label);
        return true;
    }
    if (!line.empty()) Say("  " + std::string(label) + ": " + line + "\n");
    Say(status == kEncbridgeLineUnsafe ? "  not run: a value cannot be passed safely as one argument (value-unsafe)\n"
                                       : "  not run: the line would be cut, or cannot be built (command-cut)\n");
    return false;
}

// Prints the plan; returns how many of its lines the module would not run.
int PrintPlan(const EncbridgeSettings &settings, const std::vector<Planned> &plan) {
    int notRun = 0;
    for (const Planned &planned : plan) {
        Say(Heading(settings, planned));
        if (!PrintLine(planned.line, planned.status, "command line")) ++notRun;
        // Run on the output once it is made, before it is published.
        const bool verified =
            planned.track >= 0 && settings.outputs[planned.output].verify != encbridge::VerifyMode::None;
        if (verified && !PrintLine(planned.verifyLine, planned.verifyStatus, "verify line")) ++notRun;
    }
    return notRun;
}

// The journal's records of this process's rips from offset on.
std::vector<std::vector<std::string>> JournalRecords(const std::string &path, std::streamoff offset) {
    std::vector<std::vector<std::string>> records;
    std::ifstream file(path, std::ios::binary);
    file.seekg(offset);
    for (std::string line; std::getline(file, line);) {
        std::vector<std::string> fields = encbridge_tools::SplitRecord(line);
        if (encbridge_tools::OfProcess(fields, GetCurrentProcessId())) records.push_back(std::move(fields));
    }
    return records;
}

std::streamoff JournalSize(const std::string &path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    return file ? static_cast<std::streamoff>(file.tellg()) : 0;
}

// A field, or "" where the record ends before it or holds "-" for none.
// What became of one planned line, from its record; true when its output
// was made (or its album step ran).
bool Report(const Planned &planned, const std::vector<std::string> *record) {
    if (record == nullptr) {
        Say("  NOT made: the journal says nothing of it\n");
        return false;
    }
    const bool album = planned.track < 0;
    const std::vector<std::string> &f = *record;
    const std::string line = FieldAt(f, album ? field::kAlbumCommand : field::kTrackCommand);
    // The line that ran is the one shown before, unless the module built another.
    if (!line.empty() && line != planned.line) PrintCommand(line);
    const std::string reason = FieldAt(f, album ? field::kAlbumReason : field::kTrackReason);
    const std::string made = album ? std::string() : FieldAt(f, field::kTrackFinalPath);
    if (reason == "done" && (album || GetFileAttributesA(made.c_str()) != INVALID_FILE_ATTRIBUTES)) {
        Say(album ? std::string("  ran\n") : "  made: " + made + "\n");
        return true;
    }
    Say("  NOT made: " + ReasonWords(reason) +
        "\n  what happened: " + FieldAt(f, album ? field::kAlbumOutcome : field::kTrackOutcome) + ", " +
        FieldAt(f, album ? field::kAlbumEnd : field::kTrackEnd) + "\n");
    if (album) return false;
    const std::string words = FieldAt(f, field::kTrackError);
    const std::string message = FieldAt(f, field::kTrackMessage);
    if (!words.empty()) Say("  system error: " + words + "\n");
    if (!message.empty()) Say("  encoder's message:\n");
    for (const std::string &said : encbridge_tools::MessageLines(message)) Say("    " + said + "\n");
    return false;
}

// The keys of an output's section that a refusal sends its user to fix.
struct KeysToFix {
    encbridge::Reason reason;
    const char *keys[2];
};
constexpr KeysToFix kKeysToFix[] = {
    {encbridge::Reason::EncoderNotUsable, {"EXEPATH", nullptr}},
    {encbridge::Reason::AlbumStepNotUsable, {"ALBUM_EXEPATH", nullptr}},
    {encbridge::Reason::VerifyNotUsable, {"VERIFY_EXEPATH", "VERIFY"}},
};

// Why the module refuses settings, in words, with the values to fix as the
// file at path holds them (read as the module reads them).
std::string Refusal(const EncbridgeSettings &settings, const std::string &path) {
    const auto reason = static_cast<encbridge::Reason>(settings.refusal);
    std::string text = std::string(encbridge::ReasonName(reason)) + " (" + encbridge::ReasonText(reason) + ")";
    if (settings.faultyOutput < 0 || settings.faultyOutput >= settings.outputCount) return text;
    const EncbridgeOutput &output = settings.outputs[settings.faultyOutput];
    text += ", output " + std::string(output.outputExtension);
    const std::string section = output.number == 1 ? "OPTION" : "OUTPUT" + std::to_string(output.number);
    const char *separator = ": ";
    for (const KeysToFix &row : kKeysToFix) {
        for (const char *key : row.keys) {
            if (row.reason != reason || key == nullptr) continue;
            char value[encbridge::kPathCapacity] = {};
            GetPrivateProfileStringA(section.c_str(), key, "", value, sizeof value, path.c_str());
            text += separator + std::string(key) + " is " + (value[0] != '\0' ? value : "not set");
            separator = ", ";
        }
    }
    return text;
}

// Shows how the module reads the settings file's bytes and, where the
// letters read are not those the user saved, how to save it. The profile
// functions read a file in the ANSI code page unless it begins with a byte
// order mark, and a file saved as UTF-8 without one is Notepad's default.
void SayEncoding(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(1 << 20, '\0');
    file.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    const std::string page = "the ANSI code page " + std::to_string(GetACP());
    const std::string how = "in Notepad, Save As with the encoding ANSI (or UTF-16 LE), then try again";
    if (bytes.compare(0, 2, "\xff\xfe") == 0) {
        Say("Read as: UTF-16 LE (the file begins with its byte order mark)\n");
    } else if (bytes.compare(0, 3, "\xef\xbb\xbf") == 0) {
        Say("Read as: UTF-8 (the file begins with its byte order mark). Not every Windows reads such a settings\n"
            "file as UTF-8: to be read alike everywhere, " +
            how + ".\n");
    } else {
        const std::size_t first = encbridge_try::FirstUtf8Letter(bytes);
        if (first == std::string::npos) {
            Say("Read as: " + page + "\n");
            return;
        }
        std::size_t end = first + 1;
        while (end < bytes.size() && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) ++end;
        const std::string letter = bytes.substr(first, end - first);
        Say("Read as: " + page +
            ". The file was saved as UTF-8 without a byte order mark, which the module\n"
            "does not read as UTF-8: \"" +
            encbridge_try::Utf8InAnsi(letter) + "\" reads as \"" + letter + "\". To fix it, " + how + ".\n");
    }
}

// The temp folder (GetTempPath: TMP, TEMP or the user's profile), with its
// separator, where the settings' copy lies while it runs; empty with a
// message when it is no folder.
std::string TempFolder() {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof temp, temp);
    const std::string folder = length > 0 && length < sizeof temp ? std::string(temp, length) : std::string();
    const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return folder;
    const std::string why = attributes == INVALID_FILE_ATTRIBUTES ? encbridge_try::SystemWords(GetLastError())
                                                                  : std::string("it is a file");
    Say("encbridge-try: the temp folder " + (folder.empty() ? std::string("(too long)") : folder) +
            ", which TMP or TEMP names, cannot be used: " + why +
            ". Set TMP and TEMP to a folder that exists and that you may write to.\n",
        true);
    return std::string();
}

// The folder given to rip into, made when missing, with its separator;
// empty with a message when it cannot be used.
std::string GivenFolder(const std::string &given, bool dryRun) {
    std::string folder = encbridge_try::FullPath(given);
    if (folder.empty()) {
        Say("encbridge-try: cannot try in " + given + ": it is no path that Windows takes\n", true);
        return std::string();
    }
    if (folder.size() >= encbridge_try::kFolderPathTooLong) {
        Say("encbridge-try: cannot try in " + folder + ": its path is " + std::to_string(folder.size()) +
                " characters long, and a file's path in it may have at most " +
                std::to_string(encbridge_try::kFolderPathTooLong - 1) + "\n",
            true);
        return std::string();
    }
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        Say("encbridge-try: cannot try in " + folder + ": it is a file, not a folder\n", true);
        return std::string();
    }
    if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
    // The folders above it too, as a user who names a new one expects.
    const int made = dryRun || attributes != INVALID_FILE_ATTRIBUTES
                         ? ERROR_SUCCESS
                         : SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
        Say("encbridge-try: cannot make the folder " + folder + ": " +
                encbridge_try::SystemWords(static_cast<DWORD>(made)) + "\n",
            true);
        return std::string();
    }
    return folder;
}

// A new folder of its own in the temp folder temp, never one that an
// earlier try left (a dry run only names it); empty with a message when
// none can be made.
std::string NewTempFolder(const std::string &temp, bool dryRun) {
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int n = 1; n < 1000 && error == ERROR_ALREADY_EXISTS; ++n) {
        const std::string folder = temp + encbridge_try::kTempFolderName + std::to_string(n) + "\\";
        if (dryRun || CreateDirectoryA(folder.c_str(), nullptr)) return folder;
        error = GetLastError();
    }
    Say("encbridge-try: cannot make a folder in the temp folder " + temp + ": " + encbridge_try::SystemWords(error) +
            "\n",
        true);
    return std::string();
}

// A settings copy of path in the temp folder temp, with LOG at journal;
// empty when the module cannot write one.
std::string SettingsCopy(const encbridge_try::Module &module, const std::string &path, const std::string &temp,
                         const std::string &journal) {
    for (int n = 1; n < 1000; ++n) {
        const std::string copy =
            temp + "encbridge-try-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n) + ".ini";
        if (GetFileAttributesA(copy.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        return module.tools->writeSettingsCopy(path.c_str(), copy.c_str(), journal.c_str()) == 1 ? copy : std::string();
    }
    return std::string();
}

// What the settings file tells of the album and its tracks: the module's
// copy leaves it to the host, which here is this program, so that the rip
// gets what a host handing it the file itself would.
void CopyAlbumSections(const std::string &from, const std::string &to) {
    std::vector<char> section(32767);
    for (int t = 0; t <= encbridge::kMostTaggedTracks; ++t) {
        char name[8];
        std::snprintf(name, sizeof name, t == 0 ? "ALBUM" : "TRACK%02d", t);
        const DWORD length =
            GetPrivateProfileSectionA(name, section.data(), static_cast<DWORD>(section.size()), from.c_str());
        if (length > 0) WritePrivateProfileSectionA(name, section.data(), to.c_str());
    }
}

// The rip itself, with the settings copy at copyPath that the module read
// into settings; its exit status.
int Rip(const encbridge_try::Module &module, const EncbridgeSettings &settings, const std::string &copyPath,
        const encbridge_try::TryAlbum &album, const std::string &journal) {
    const std::vector<Planned> plan = Plan(module, settings, *album.info);
    Say("The module runs these command lines (the arguments as CommandLineToArgvW splits them):\n");
    PrintPlan(settings, plan);
    const std::streamoff offset = JournalSize(journal);
    if (module.create(album.info.get(), copyPath.c_str(), nullptr, 0) != 1) {
        std::string why = "see the journal " + journal;
        for (const std::vector<std::string> &f : JournalRecords(journal, offset)) {
            if (f[field::kKind] != "refused") continue;
            why = ReasonWords(FieldAt(f, field::kRefusedReason));
            if (!FieldAt(f, field::kRefusedError).empty()) why += "; system error: " + f[field::kRefusedError];
        }
        Say("\nThe module refused the rip: " + why + "\n", true);
        return kRefused;
    }
    Say("\nRipping three tracks into " + std::string(album.info->outputFolder) + "\n");
    std::string error;
    if (!encbridge_try::DeliverAlbum(module, error)) Say("encbridge-try: " + error + "\n", true);
    module.kill();

    std::map<std::pair<std::int32_t, std::int32_t>, std::vector<std::string>> records;
    for (std::vector<std::string> &f : JournalRecords(journal, offset)) {
        const bool track = f[field::kKind] == "track" && f.size() > field::kTrackOutcome;
        const bool step = f[field::kKind] == "album" && f.size() > field::kAlbumOutcome;
        if (!track && !step) continue;
        const int output = std::atoi(f[track ? field::kTrackOutput : field::kAlbumOutput].c_str());
        records[{output, track ? std::atoi(f[field::kTrackNumber].c_str()) - 1 : -1}] = std::move(f);
    }
    Say("\nWhat became of each file:\n");
    int notMade = 0;
    for (const Planned &planned : plan) {
        Say(Heading(settings, planned));
        const auto found = records.find({settings.outputs[planned.output].number, planned.track});
        if (!Report(planned, found == records.end() ? nullptr : &found->second)) ++notMade;
    }
    Say("\nThe journal of this try: " + journal + "\n");
    if (notMade == 0) {
        Say("Every file was made.\n");
        return kAllMade;
    }
    Say(std::to_string(notMade) + " of " + std::to_string(plan.size()) + " were not made; the WAV files stay in " +
        album.info->outputFolder + "\n");
    return kSomeNotMade;
}

}  // namespace

int main(int argc, char **argv) {
    bool dryRun = false;
    std::vector<const char *> operands;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--dry-run") {
            dryRun = true;
        } else if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "/?") {
            Say(kUsage);
            return kAllMade;
        } else {
            operands.push_back(argv[i]);
        }
    }
    if (operands.empty() || operands.size() > 2) {
        Say(kUsage, true);
        return kCannotTry;
    }
    encbridge_try::Module module;
    std::string error;
    if (!encbridge_try::LoadModuleBesideProgram(module, error)) {
        Say("encbridge-try: " + error + "\n", true);
        return kCannotTry;
    }
    const std::string settingsPath = encbridge_try::FullPath(operands[0]);
    // A path too long for the system to look at is the module's to refuse.
    const DWORD attributes = GetFileAttributesA(settingsPath.c_str());
    if (settingsPath.size() < MAX_PATH &&
        (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        Say("encbridge-try: there is no settings file " + std::string(operands[0]) + "\n", true);
        return kCannotTry;
    }
    Say("Settings: " + settingsPath + "\n");
    if (settingsPath.size() < MAX_PATH) SayEncoding(settingsPath);
    std::unique_ptr<EncbridgeSettings> settings(new EncbridgeSettings());
    if (module.tools->readSettings(settingsPath.c_str(), settings.get()) != 1 ||
        settings->refusal != static_cast<std::int32_t>(encbridge::Reason::Done)) {
        Say("The module refuses these settings: " + Refusal(*settings, settingsPath) + "\n", true);
        return kRefused;
    }
    for (const std::string &warning : encbridge_tools::UnknownTagWarnings(*module.tools, *settings)) {
        Say(warning + "\n");
    }
    const std::string temp = TempFolder();
    if (temp.empty()) return kCannotTry;
    const std::string folder = operands.size() > 1 ? GivenFolder(operands[1], dryRun) : NewTempFolder(temp, dryRun);
    if (folder.empty()) return kCannotTry;
    encbridge_try::TryAlbum album;
    encbridge_try::MakeAlbum(folder, album);
    if (dryRun) {
        Say("Dry run: nothing is ripped. The command lines for " + folder +
            " (the arguments as CommandLineToArgvW splits them):\n");
        return PrintPlan(*settings, Plan(module, *settings, *album.info)) == 0 ? kAllMade : kSomeNotMade;
    }
    const std::string copy = SettingsCopy(module, settingsPath, temp, folder + encbridge_try::kJournalName);
    if (!copy.empty()) CopyAlbumSections(settingsPath, copy);
    std::unique_ptr<EncbridgeSettings> copied(new EncbridgeSettings());
    char journal[MAX_PATH] = {};
    if (copy.empty() || module.tools->readSettings(copy.c_str(), copied.get()) != 1 ||
        module.tools->journalPath(copied.get(), folder.c_str(), journal, sizeof journal) != 1) {
        Say("encbridge-try: the module cannot write a copy of the settings with a journal in " + folder + "\n", true);
        if (!copy.empty()) DeleteFileA(copy.c_str());
        return kCannotTry;
    }
    const int status = Rip(module, *copied, copy, album, journal);
    DeleteFileA(copy.c_str());
    return status;
}
