// encbridge-host: rips a CD image through the encbridge module as a ripping
// host does, or, given no cue sheet, encodes a demo album of its own.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "album_values.h"
#include "cue_image.h"
#include "cue_writer.h"
#include "demo_album.h"
#include "dry_run.h"
#include "host_options.h"
#include "host_paths.h"
#include "interruption.h"
#include "journal_reader.h"
#include "plugin_module.h"
#include "progress.h"
#include "report.h"
#include "resume.h"
#include "rip.h"
#include "run_plan.h"
#include "settings_check.h"
#include "shelf.h"
#include "track_names.h"

namespace host {
namespace {

// The module's paths hold at most this many characters.
constexpr std::size_t kMaxPath = encbridge::kPathCapacity - 1;

// The exit status of a rip that ended with some tracks not produced, or an
// album step not done.
constexpr int kSomeTracksNotProduced = 3;

int Fail(const std::string &message) {
    std::fprintf(stderr, "encbridge-host: %s\n", Shown(message).c_str());
    return 1;
}

// Fail, keeping the message for the shelf's summary.
int Failed(const std::string &message, std::string &why) {
    why = message;
    return Fail(message);
}

bool MakeFolders(const std::string &path, std::string &error) {
    std::string partial;
    std::size_t at = 0;
    while (at != std::string::npos) {
        std::size_t slash = path.find('/', at + 1);
        partial = path.substr(0, slash);
        at = slash;
        if (partial.empty() || partial == "." || partial == "..") continue;
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            error = "cannot create the folder " + partial + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

// The absolute path of a folder, with its trailing "/". A folder that does
// not exist yet is taken from the current folder as it is written.
std::string AbsoluteFolder(const std::string &path) {
    char resolved[PATH_MAX];
    std::string folder;
    if (realpath(path.c_str(), resolved) != nullptr) {
        folder = resolved;
    } else if (!path.empty() && path[0] == '/') {
        folder = path;
    } else if (getcwd(resolved, sizeof resolved) != nullptr) {
        folder = std::string(resolved) + "/" + path;
    } else {
        return std::string();
    }
    if (folder.back() != '/') folder += '/';
    return folder;
}

// "~" and "~/..." as the shell would have made them, for a quoted --out.
std::string HomeExpanded(const std::string &path) {
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/' || path.empty() || path[0] != '~' || (path.size() > 1 && path[1] != '/')) {
        return path;
    }
    return home + path.substr(1);
}

// The output folder made and resolved. False with a message in error.
bool MakeOutputFolder(const std::string &requested, bool make, std::string &folder, std::string &error) {
    if (make && !MakeFolders(requested, error)) {
        error = "the output folder: " + error;
        return false;
    }
    folder = AbsoluteFolder(requested);
    if (folder.empty()) {
        error = "cannot resolve the output folder " + requested;
        return false;
    }
    return true;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Everything a rip needs, gathered step by step before the module is loaded.
struct Rip {
    bool demo = false;
    std::string pluginPath, settingsPath, outputFolder;
    CueAlbum cue;
    AudioImage image;
    // The module, loaded before the tracks are planned: its rules name them.
    PluginModule module;
    ModuleSettings settings;
    std::vector<RipTrack> tracks;
    // What the module's journal said of the rip.
    RipOutcome outcome;
    // The count of tracks delivered whole, from the first.
    std::size_t delivered = 0;
    // What names the album's files: its title, or for an untitled album
    // what is there (its sheet's file name).
    std::string albumName;
    // A front picture beside the sheet, by its absolute path; "" for none.
    std::string coverBeside;
    // Planned only, to see what the run would write: nothing is made or
    // printed.
    bool planOnly = false;
};

// The journal the module writes for the host's rip: the one the user's
// settings name, or else one of the host's own in a folder of its own,
// through a copy of the settings that names it. What the host knows of the
// album beyond its records (its disc, genre, ISRC, cover...) goes into that
// copy too; with a journal of the user's own the copy is made only then,
// and names that journal. An image's picture is written to the folder as
// the cover, ahead of one beside the sheet: it is the one the image was
// given. Goes with its folder.
class HostJournal {
public:
    HostJournal(const ModuleSettings &settings, const std::string &settingsPath, const std::string &outputFolder,
                const Rip &rip)
        : settingsPath_(settingsPath) {
        const std::string configured = ConfiguredJournal(settings, outputFolder);
        path_ = configured;
        std::vector<ImageTrack> images;
        for (const RipTrack &track : rip.tracks) images.push_back(track.image);
        const bool picture = !rip.cue.picture.empty();
        if (!configured.empty() && !picture && AlbumSections(rip.cue, images, rip.coverBeside).empty()) return;
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/encbridge-host-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) return;
        folder_ = buffer.data();
        std::string cover = rip.coverBeside;
        if (picture) {
            cover_ = folder_ + (rip.cue.pictureType == "image/png" ? "/cover.png" : "/cover.jpg");
            cover = WritePicture(cover_, rip.cue.picture) ? cover_ : rip.coverBeside;
        }
        const std::string copy = folder_ + "/encbridge.ini";
        const std::string journal = configured.empty() ? folder_ + "/journal.log" : configured;
        if (settings.tools->writeSettingsCopy(settingsPath.c_str(), copy.c_str(), journal.c_str()) != 1) return;
        const std::string sections = AlbumSections(rip.cue, images, cover);
        std::FILE *append = std::fopen(copy.c_str(), "a");
        const bool written = append != nullptr && std::fputs(sections.c_str(), append) >= 0;
        if (append != nullptr && (std::fclose(append) != 0 || !written)) return;
        settingsPath_ = copy;
        if (!configured.empty()) return;
        path_ = journal;
        // The module makes no journal for a rip it refuses; made here,
        // the journal gets that refusal's reason.
        std::FILE *made = std::fopen(path_.c_str(), "a");
        if (made != nullptr) std::fclose(made);
    }
    ~HostJournal() {
        if (folder_.empty()) return;
        std::remove((folder_ + "/encbridge.ini").c_str());
        std::remove((folder_ + "/journal.log").c_str());
        if (!cover_.empty()) std::remove(cover_.c_str());
        rmdir(folder_.c_str());
    }
    HostJournal(const HostJournal &) = delete;
    HostJournal &operator=(const HostJournal &) = delete;

    // The settings file to hand to Create.
    const std::string &settingsPath() const { return settingsPath_; }
    // Empty when there is no journal to read.
    const std::string &path() const { return path_; }

private:
    static bool WritePicture(const std::string &path, const std::string &data) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        const bool whole = WriteWhole(fd, data);
        return close(fd) == 0 && whole;
    }

    std::string settingsPath_, path_, folder_, cover_;
};

// Reads the journal while the module writes it: every record of this
// process's rips from where it stood at the start, printed with --verbose
// as it comes, and noted in outcome.
class JournalWatch {
public:
    JournalWatch(const std::string &path, bool verbose, RipOutcome &outcome)
        : path_(path), verbose_(verbose), outcome_(outcome), offset_(FileSize(path)) {
        if (verbose_ && !path_.empty()) thread_ = std::thread([this] { Watch(); });
    }
    ~JournalWatch() { Finish(); }
    JournalWatch(const JournalWatch &) = delete;
    JournalWatch &operator=(const JournalWatch &) = delete;

    // What the journal has said so far.
    RipOutcome Current() {
        ReadOn();
        std::lock_guard<std::mutex> lock(mutex_);
        return outcome_;
    }

    // The encoders at work, as the journal says; -1 without a journal.
    int Encoders() {
        if (path_.empty()) return -1;
        ReadOn();
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(outcome_.running.size());
    }

    // Once the module has written its last record of the rip.
    void Finish() {
        done_.store(true);
        if (thread_.joinable()) thread_.join();
        ReadOn();
    }

private:
    void Watch() {
        while (!done_.load()) {
            ReadOn();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    void ReadOn() {
        if (path_.empty()) return;
        std::lock_guard<std::mutex> lock(mutex_);
        for (const JournalRecord &record : ReadNewRecords(path_, offset_, static_cast<unsigned>(getpid()))) {
            NoteRecord(record, outcome_);
            if (verbose_) std::fprintf(stderr, "journal: %s\n", DescribeRecord(record).c_str());
        }
    }

    std::string path_;
    bool verbose_;
    RipOutcome &outcome_;
    long long offset_;
    std::mutex mutex_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// The output folder, the demo album when no cue sheet is named, and the
// module and settings paths. False with a message in error.
bool PrepareFolders(HostOptions &options, Rip &rip, std::string &error) {
    rip.demo = options.cuePath.empty();
    const PathEnvironment environment = CurrentPathEnvironment();
    rip.pluginPath = options.pluginPath.empty() ? FindModule(environment) : options.pluginPath;
    // An album's folder may be named by its sheet: it is made once read.
    if (rip.demo) {
        const std::string requested =
            options.outFolder.empty() ? "encbridge-demo" : MakeFolderPath(HomeExpanded(options.outFolder), {});
        if (!MakeOutputFolder(requested, true, rip.outputFolder, error)) return false;
        std::string source = rip.outputFolder + "source/";
        DemoFiles files;
        if (!MakeFolders(source, error) || !WriteDemoAlbum(source, files, error)) return false;
        options.cuePath = files.cuePath;
        if (options.settingsPath.empty()) options.settingsPath = files.settingsPath;
        // The folder is the demo's own: files of an earlier run make way.
        options.overwrite = true;
        std::printf("Demo album written to %s (album.wav, album.cue, encbridge.ini)\n", Shown(source).c_str());
    }
    const SettingsChoice settings = ChooseSettings(options.settingsPath, rip.pluginPath, environment);
    rip.settingsPath = settings.path;
    error = NoSettingsMessage(settings, environment, ENCBRIDGE_SOURCE_EXAMPLES);
    if (!error.empty()) return false;
    if (settings.source == SettingsSource::Example && !rip.planOnly) {
        std::printf("Note: no settings file of your own; using %s (%s)\n", Shown(settings.path).c_str(),
                    Shown(DescribeSettingsChoice(settings, environment)).c_str());
    }
    return true;
}

// The cue sheet, its audio files and the tracks on them, with the notes the
// reading gave.
bool ReadAlbum(const HostOptions &options, Rip &rip, std::string &error) {
    CueAlbum &cue = rip.cue;
    std::vector<std::string> notes;
    if (!ReadCueSheet(options.cuePath, options.cueCharset, cue, notes, error)) return false;
    if (!FindAudioFiles(cue, options.cuePath, error)) return false;
    // One line for the album, however many of its files were found so.
    const std::string foundElsewhere = FoundElsewhereNote(cue);
    if (!foundElsewhere.empty()) notes.push_back(foundElsewhere);
    if (!rip.image.Open(cue, error)) return false;
    if (!PlaceTracks(cue, rip.image.fileFrames(), error, options.gaps)) return false;
    rip.image.SetTimeline(cue.timeline);
    std::string pregapNote;
    if (!PlaceFirstPregap(cue, rip.image, options.firstPregap, pregapNote, error)) return false;
    if (!pregapNote.empty()) notes.push_back(pregapNote);
    // An untitled album would land in the root of the output folder, and
    // name its sheet "album.cue": its names come from what is there.
    rip.albumName = cue.title;
    if (rip.albumName.empty() && !rip.demo) {
        rip.albumName = AlbumNameFromFile(options.cuePath);
        const std::size_t slash = options.cuePath.rfind('/');
        const std::string file = options.cuePath.substr(slash == std::string::npos ? 0 : slash + 1);
        const bool named = options.writeCue || options.outFolder.find("{album}") != std::string::npos ||
                           options.namePattern.find("{album}") != std::string::npos;
        if (!rip.albumName.empty() && named) {
            notes.push_back(file + " has no TITLE: the album is named \"" + rip.albumName + "\" in file names, from " +
                            (rip.albumName == AlbumNameFromFile(file) ? "its file name" : "its folder's name"));
        }
    }
    if (cue.picture.empty()) rip.coverBeside = FindCoverBeside(cue.folder, notes);
    if (!rip.planOnly) {
        for (const std::string &note : notes) std::printf("Note: %s\n", Shown(note).c_str());
    }
    if (!rip.demo) {
        const NameFields fields{0, "", "", rip.albumName, cue.performer, cue.year, cue.genre, cue.disc};
        const std::string requested =
            options.outFolder.empty() ? "." : MakeFolderPath(HomeExpanded(options.outFolder), fields);
        // A dry run writes nothing.
        if (!MakeOutputFolder(requested.empty() ? "." : requested, !options.dryRun && !rip.planOnly, rip.outputFolder,
                              error))
            return false;
    }
    int numbered = 0;
    for (const ImageTrack &track : cue.tracks) numbered += track.number > 0;
    for (const TrackSpan &span : options.tracks) {
        if (span.last > cue.tracks.back().number) {
            error = "--tracks names track " + std::to_string(span.last) + ", but " + options.cuePath + " has " +
                    std::to_string(numbered) + " track(s)";
            return false;
        }
    }
    return true;
}

// The module's settings as it will read them, and each track's selection
// and final name.
bool PlanTracks(const HostOptions &options, Rip &rip, std::string &error) {
    if (!rip.module.Load(rip.pluginPath, error)) return false;
    rip.settings = ReadModuleSettings(*rip.module.tools, rip.settingsPath);
    const std::string cut = CommandCutWarning(rip.settings, rip.settingsPath);
    if (!cut.empty() && !rip.planOnly) std::fprintf(stderr, "encbridge-host: warning: %s\n", Shown(cut).c_str());
    const std::vector<std::string> extensions = rip.settings.Extensions();
    // The longest extension decides how long the names may be.
    std::string extension;
    for (const std::string &each : extensions) {
        if (each.size() > extension.size()) extension = each;
    }
    const CueAlbum &cue = rip.cue;
    // The module numbers the records it is handed from 1, so a track 0 puts
    // its numbers one ahead of the sheet's.
    if (!rip.planOnly && !cue.tracks.empty() && cue.tracks.front().number == 0 &&
        (std::string(rip.settings.main().commandTemplate).find("%no") != std::string::npos ||
         std::string(rip.settings.main().commandTemplate).find("%trk") != std::string::npos)) {
        std::fprintf(stderr,
                     "encbridge-host: warning: with track 0 delivered, the module's %%no and %%trk tags count it: "
                     "track 1 gets %%no 2; --first-pregap=join or drop keeps the sheet's numbers\n");
    }
    const int count = static_cast<int>(cue.tracks.size());
    // The longest temporary names the module makes in the output folder.
    if (TemporaryName(*rip.module.tools, rip.outputFolder, count, extension.size() > 4 ? extension : ".wav").empty()) {
        error = "the output folder " + rip.outputFolder + " is too long: the module's paths hold at most " +
                std::to_string(kMaxPath) + " characters";
        return false;
    }
    // The name may place the file in folders: the whole is what the
    // module's paths and its record's field (259 bytes) hold.
    std::size_t nameRoom = std::min<std::size_t>(kMaxPath - rip.outputFolder.size(), 259) - extension.size();

    rip.tracks.assign(cue.tracks.size(), RipTrack());
    std::map<std::string, int> taken;
    // A disc of a set: "{disc}-" before the file's own name.
    std::string pattern = options.namePattern;
    if (options.discNamed)
        pattern.insert(pattern.rfind('/') == std::string::npos ? 0 : pattern.rfind('/') + 1, "{disc}-");
    for (int i = 0; i < count; ++i) {
        RipTrack &track = rip.tracks[i];
        track.image = cue.tracks[i];
        const int number = track.image.number;
        track.selected = TrackSelected(options.tracks, number);
        std::string title = track.image.title.empty() ? "Track " + std::to_string(number) : track.image.title;
        const NameFields fields{
            number, title, track.image.performer, rip.albumName, cue.performer, track.image.year, cue.genre, cue.disc};
        track.fileName = MakeTrackName(pattern, fields, nameRoom, extension.size());
        for (const std::string &each : extensions) track.finalPaths.push_back(rip.outputFolder + track.fileName + each);
        if (!track.selected) continue;
        auto earlier = taken.emplace(track.fileName, number);
        if (!earlier.second) {
            error = "tracks " + std::to_string(earlier.first->second) + " and " + std::to_string(number) +
                    " would both be named \"" + track.fileName + extensions.front() + "\"; put {number} into --name";
            return false;
        }
    }
    return true;
}

// Final files of an earlier run: the module never replaces one, so they go
// only when the user says so (or are moved aside by --resume). Looks only.
bool CheckFinalNames(const HostOptions &options, const Rip &rip, std::string &error) {
    if (options.overwrite || options.resume) return true;
    for (const RipTrack &track : rip.tracks) {
        for (const std::string &finalPath : track.finalPaths) {
            struct stat info;
            if (!TrackToWrite(track) || lstat(finalPath.c_str(), &info) != 0) continue;
            error = finalPath +
                    " exists already, and the module never replaces a file; remove it, choose another --out, or "
                    "pass --overwrite";
            return false;
        }
    }
    return true;
}

// With --overwrite, once the module holds the output folder: the final
// files of the tracks to rip are removed.
bool ClearFinalNames(const HostOptions &options, const Rip &rip, std::string &error) {
    if (!options.overwrite) return true;
    for (const RipTrack &track : rip.tracks) {
        for (const std::string &finalPath : track.finalPaths) {
            struct stat info;
            if (!TrackToWrite(track) || lstat(finalPath.c_str(), &info) != 0) continue;
            if (unlink(finalPath.c_str()) != 0) {
                error = "cannot remove " + finalPath + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    return true;
}

// What lies at the final names of the selected tracks, file by file: the
// plan was made from it before Create, and holds only while it stays so.
std::string FinalNamesState(const Rip &rip) {
    std::string state;
    for (const RipTrack &track : rip.tracks) {
        if (!track.selected) continue;
        for (const std::string &finalPath : track.finalPaths) {
            struct stat info;
            if (lstat(finalPath.c_str(), &info) != 0) {
                state += "-\n";
                continue;
            }
            std::ostringstream line;
            line << info.st_dev << ' ' << info.st_ino << ' ' << info.st_size << ' ' << info.st_mtim.tv_sec << '.'
                 << info.st_mtim.tv_nsec << '\n';
            state += line.str();
        }
    }
    return state;
}

// Whether the file at path is a regular file that holds text, byte for
// byte; a FIFO put there is never waited for.
bool HoldsText(const std::string &path, const std::string &text) {
    std::ifstream file;
    bool notRegular = false;
    if (!OpenRegularStream(path, file, notRegular)) return false;
    std::ostringstream held;
    held << file.rdbuf();
    return held.str() == text;
}

// After a delivery that failed at track reached, the tracks before it are
// whole WAV files that the module encodes in its own time: Kill would stop
// those encoders. So the host waits until the journal tells what became of
// every output of each of them, as long as an encoder shows signs of work
// (a record, or a temporary output written to) within kStallSeconds. Without
// a journal to read, it does not wait; nor once the user asks for a stop.
constexpr int kStallSeconds = 10;
void AwaitDeliveredTracks(JournalWatch &watch, const Rip &rip, std::size_t reached, const std::atomic<int> &stop) {
    auto told = [&](const RipOutcome &outcome) {
        std::size_t count = 0;
        for (std::size_t i = 0; i < reached; ++i) {
            if (!TrackToWrite(rip.tracks[i])) continue;
            for (const ModuleOutput &output : rip.settings.outputs) {
                count += outcome.outputs.count({static_cast<int>(i + 1), output.number}) == 0;
            }
        }
        return count;
    };
    RipOutcome outcome = watch.Current();
    std::size_t left = told(outcome);
    if (!outcome.journaled || left == 0) return;
    std::printf("Waiting for the encoders of the tracks delivered before the failure\n");
    std::fflush(stdout);
    auto lastSign = std::chrono::steady_clock::now();
    while (left > 0 && Seconds(lastSign) < kStallSeconds && stop.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::size_t now = told(watch.Current());
        if (now < left || CountEncodersWriting(*rip.module.tools, rip.outputFolder, rip.settings.Extensions(),
                                               static_cast<int>(rip.tracks.size()), std::time(nullptr)) > 0) {
            lastSign = std::chrono::steady_clock::now();
        }
        left = now;
    }
}

// Create, every track through SetData, Kill. created: Create took the rip,
// so there is a summary to show even when the delivery failed. onceHeld:
// what the host does to the output folder, once the module holds its lock
// (after Create) and before any audio; false with a message in error ends
// the rip before it began.
bool DeliverThroughTheModule(const HostOptions &options, Rip &rip, RipTimes &times, bool &created, std::string &error,
                             const std::function<bool(std::string &)> &onceHeld) {
    PluginModule &module = rip.module;
    int selected = 0;
    for (const RipTrack &track : rip.tracks) selected += TrackToWrite(track);
    const std::vector<CueFile> &files = rip.cue.files;
    std::string from = files.size() == 1 ? files[0].path : std::to_string(files.size()) + " files";
    std::printf("Ripping %d of %zu tracks of \"%s\" from %s\n", selected, rip.tracks.size(),
                Shown(rip.cue.title).c_str(), Shown(from).c_str());
    std::printf("  module   %s (version %d)\n  settings %s\n", Shown(rip.pluginPath).c_str(), module.version(),
                Shown(rip.settingsPath).c_str());
    bool encoded = false;
    for (const ModuleOutput &output : rip.settings.outputs) {
        std::printf("  encoder  %s%s%s\n",
                    output.encoderPath[0] == '\0' ? "(none configured)" : Shown(output.encoderPath).c_str(),
                    rip.settings.outputs.size() > 1 ? " -> " : "",
                    rip.settings.outputs.size() > 1 ? Shown(output.outputExtension).c_str() : "");
        if (output.albumStep) std::printf("  album    %s\n", Shown(output.albumEncoderPath).c_str());
        encoded = encoded || !OutputIsTheWav(output.outputExtension);
    }
    std::printf("  output   %s\n", Shown(rip.outputFolder).c_str());
    HostRecords records = MakeRecords(rip.cue, rip.tracks, rip.outputFolder);
    const HostJournal journal(rip.settings, rip.settingsPath, rip.outputFolder, rip);
    JournalWatch watch(journal.path(), options.verbose, rip.outcome);
    // The module journals each encoder's start and end: the progress's count
    // of encoders at work comes from there.
    const bool counted = encoded && !journal.path().empty();
    if (counted) std::printf("  progress \"encoding N\": the encoders at work, as the journal says\n");
    std::fflush(stdout);
    const std::function<int()> encoders = [&watch, counted] { return counted ? watch.Encoders() : -1; };
    if (module.create(records.album.get(), journal.settingsPath().c_str(), nullptr, 0) != 1) {
        module.kill();
        watch.Finish();
        error =
            "the module refused the rip (Create returned 0): " +
            ExplainRefusal(rip.settings, rip.outcome.refused ? rip.outcome.refusal : RefusalFromSettings(rip.settings),
                           rip.settingsPath, rip.outputFolder) +
            (rip.outcome.refusalError.empty() ? "" : " (" + Shown(rip.outcome.refusalError) + ")");
        return false;
    }
    if (!onceHeld(error)) {
        module.kill();
        watch.Finish();
        return false;
    }
    created = true;
    Progress progress(stdout, isatty(STDOUT_FILENO) == 1);
    std::size_t reached = 0;
    const std::atomic<int> &stop = StopRequest();
    bool delivered = DeliverAlbum(module, rip.image, rip.tracks, options, static_cast<int>(rip.settings.outputs.size()),
                                  encoders, progress, times, stop, reached, error);
    rip.delivered = delivered ? rip.tracks.size() : reached;
    std::fflush(stdout);
    if (!delivered && stop.load() == 0) AwaitDeliveredTracks(watch, rip, reached, stop);
    if (module.kill() != 0) std::fprintf(stderr, "encbridge-host: Kill could not close a track file\n");
    watch.Finish();
    return delivered;
}

// What --resume found and did: the tracks that were there already, and the
// files of the earlier rip, removed or left.
void PrintResume(const Rip &rip, const Leftovers &leftovers) {
    auto list = [](const std::vector<std::string> &names) {
        std::string text;
        for (const std::string &name : names) text += (text.empty() ? "" : ", ") + name;
        return text;
    };
    std::vector<std::string> resumed;
    for (const RipTrack &track : rip.tracks) {
        if (track.resumed) resumed.push_back(track.fileName);
    }
    std::printf("Resumed: %zu track(s) had every output under its final name and were not ripped again%s%s\n",
                resumed.size(), resumed.empty() ? "" : ": ", Shown(list(resumed)).c_str());
    for (const RipTrack &track : rip.tracks) {
        if (track.notResumed.empty()) continue;
        std::printf("Ripped again: %s, whose files there were moved aside as not this track's (%s)\n",
                    Shown(track.fileName).c_str(), Shown(track.notResumed).c_str());
    }
    if (!leftovers.removed.empty()) {
        std::printf("Removed %zu file(s) of the earlier rip, each a copy of what this rip delivered or produced: %s\n",
                    leftovers.removed.size(), Shown(list(leftovers.removed)).c_str());
    }
    if (!leftovers.left.empty()) {
        std::printf("Left %zu file(s) of an earlier rip that are no copy of this rip's files, in %s: %s\n",
                    leftovers.left.size(), Shown(rip.outputFolder).c_str(), Shown(list(leftovers.left)).c_str());
    }
    for (const ModuleOutput &output : rip.settings.outputs) {
        if (!output.albumStep || resumed.empty()) continue;
        std::printf(
            "Note: the album step of output %d (%s) got only the files of the tracks ripped now, not those "
            "of the resumed ones\n",
            output.number, Shown(output.outputExtension).c_str());
    }
}

// After a rip without --resume into a folder where an earlier rip had left
// files: the copies the module keeps, which this rip never reads, and how
// to be rid of those that are copies of this rip's files.
void PrintEarlierFiles(const Rip &rip) {
    const std::vector<std::string> kept = ModuleFiles(*rip.module.tools, rip.outputFolder, true);
    if (kept.empty()) return;
    std::string names;
    long long bytes = 0;
    for (const std::string &name : kept) {
        struct stat info;
        if (lstat((rip.outputFolder + name).c_str(), &info) == 0) bytes += info.st_size;
        names += (names.empty() ? "" : ", ") + name;
    }
    std::printf(
        "Kept %zu file(s) (%s) in %s, of an earlier rip that this one did not pick up: %s. The same command "
        "with --resume removes each that is a copy of this rip's files and lists the rest; after a stop or "
        "a crash, --resume picks the rip up instead of starting anew.\n",
        kept.size(), SizeText(bytes).c_str(), rip.outputFolder.c_str(), Shown(names).c_str());
}

// After a stop: what was produced is in the table; here, the WAV files kept
// and how to go on.
void PrintStop(const Rip &rip, int signal, int missing) {
    int written = 0;
    std::string kept;
    for (std::size_t i = 0; i < rip.tracks.size(); ++i) {
        if (!TrackToWrite(rip.tracks[i])) continue;
        ++written;
        const std::string name = TemporaryName(*rip.module.tools, "", static_cast<int>(i + 1), ".wav");
        struct stat info;
        if (!name.empty() && lstat((rip.outputFolder + name).c_str(), &info) == 0) {
            kept += (kept.empty() ? "" : ", ") + name;
        }
    }
    std::printf("Stopped by %s: %d of %d track(s) produced.", SignalName(signal), written - missing, written);
    if (!kept.empty()) std::printf(" WAV files kept in %s: %s.", Shown(rip.outputFolder).c_str(), Shown(kept).c_str());
    std::printf("\nThe same command with --resume rips the rest.\n");
}

// The album at options.cuePath (the demo album when empty) read and planned:
// its output folder, the module, the settings and each track's names.
// What names the sheet --write-cue writes: the album's name, and for a disc
// of a set its disc too, as the discs share a folder.
std::string CueName(const HostOptions &options, const Rip &rip) {
    return options.discNamed ? rip.albumName + " (disc " + rip.cue.disc + ")" : rip.albumName;
}

bool PlanAlbum(HostOptions &options, Rip &rip, std::string &error) {
    return PrepareFolders(options, rip, error) && ReadAlbum(options, rip, error) && PlanTracks(options, rip, error);
}

// Rips the album at options.cuePath (the demo album when empty); why gets
// what kept it from being done, and failedAlike, when given, the one reason
// for which every track failed (SameFailure). After a stop, 128 plus the
// signal: the caller ends by it once its own summary is shown.
int RipAlbum(HostOptions options, std::string &why, std::string *failedAlike = nullptr) {
    const auto started = std::chrono::steady_clock::now();
    std::string error;
    Rip rip;
    if (!PlanAlbum(options, rip, error)) return Failed(error, why);
    if (options.dryRun) {
        HostRecords records = MakeRecords(rip.cue, rip.tracks, rip.outputFolder);
        // The lines as the module builds them from the copy it would be handed.
        const HostJournal journal(rip.settings, rip.settingsPath, rip.outputFolder, rip);
        const ModuleSettings handed = ReadModuleSettings(*rip.module.tools, journal.settingsPath());
        int refused = PrintDryRun(stdout, rip.module, handed, records, rip.tracks, rip.settingsPath, rip.outputFolder);
        if (refused > 0) return Failed(std::to_string(refused) + " command line(s) would not be run", why);
        return 0;
    }
    RipTimes times;
    // Until Create has the folder's lock, another rip may be at work in it:
    // the host only looks, and does what it decided once the lock is held.
    if (options.resume) {
        const HostRecords records = MakeRecords(rip.cue, rip.tracks, rip.outputFolder);
        const ResumeCheck check{rip.settings, rip.settingsPath, *records.album, rip.image, std::string()};
        if (!MarkResumedTracks(rip.tracks, check, error)) {
            Failed(error, why);
            return StopRequest().load() != 0 ? 128 + StopRequest().load() : 1;
        }
    }
    if (!CheckFinalNames(options, rip, error)) return Failed(error, why);
    const std::string cuePath = RipCuePath(CueName(options, rip), rip.tracks, rip.outputFolder);
    const std::string cueText = options.writeCue ? CueSheetText(rip.cue, rip.tracks, SharedFolder(rip.tracks),
                                                                rip.settings.main().outputExtension)
                                                 : std::string();
    // A resumed album's sheet is written again when it is the one this
    // rip writes, so that --resume finishes an album that had one.
    bool replaceCue = options.overwrite;
    if (options.writeCue && access(cuePath.c_str(), F_OK) == 0 && !options.overwrite) {
        replaceCue = options.resume && HoldsText(cuePath, cueText);
        if (!replaceCue) {
            return Failed(cuePath + " exists already" +
                              (options.resume ? ", and is not the sheet this rip writes" : std::string()) +
                              "; remove it, choose another --out, or pass --overwrite",
                          why);
        }
    }
    const std::string planned = FinalNamesState(rip);
    const auto onceHeld = [&](std::string &message) {
        if (FinalNamesState(rip) != planned) {
            message = "the files in " + rip.outputFolder +
                      " changed while the rip was being prepared (another rip?); nothing was changed: run it again";
            return false;
        }
        return ClearFinalNames(options, rip, message) &&
               (!options.resume || MoveAsideForRip(rip.tracks, rip.outputFolder, rip.settings, message));
    };
    // Files of an earlier rip that this one does not pick up: the module
    // moves those in its way aside, and the summary names what stays.
    const bool earlierRip = !options.resume && !ModuleFiles(*rip.module.tools, rip.outputFolder, false).empty();
    bool created = false;
    const bool delivered = DeliverThroughTheModule(options, rip, times, created, error, onceHeld);
    if (!created) return Failed(error, why);
    if (!delivered && StopRequest().load() == 0 && !rip.image.failure().empty()) {
        const std::string removed =
            RemovePartialDelivery(*rip.module.tools, rip.outputFolder, rip.image, rip.tracks, rip.delivered);
        if (!removed.empty()) {
            error += "; its partial WAV file " + removed + ", a copy of audio that the image still holds, was removed";
        }
    }
    Leftovers leftovers;
    if (options.resume)
        leftovers = SweepLeftovers(rip.outputFolder, rip.tracks, rip.settings, rip.image, rip.delivered);

    int missing = PrintReport(stdout, rip.tracks, rip.outputFolder, rip.settings, rip.outcome);
    if (failedAlike != nullptr) *failedAlike = SameFailure(rip.tracks, rip.settings, rip.outcome);
    const int stepsNotDone = PrintAlbumSteps(stdout, rip.settings, rip.outcome);
    if (options.resume) PrintResume(rip, leftovers);
    if (earlierRip) PrintEarlierFiles(rip);
    const int stopSignal = StopRequest().load();
    if (stopSignal != 0) PrintStop(rip, stopSignal, missing);
    std::printf("Total %.1f s: %.1f s delivering audio, %.1f s waiting for the encoder at the end.\n", Seconds(started),
                times.delivering, times.waiting);
    std::fflush(stdout);
    if (stopSignal != 0) {
        // The caller ends by the signal, once a shelf has said what it did.
        why = std::string("stopped by ") + SignalName(stopSignal);
        return 128 + stopSignal;
    }
    if (!delivered) return Failed(error, why);
    if (options.writeCue && missing == 0) {
        if (!WriteCueSheet(cuePath, cueText, replaceCue, error)) return Failed(error, why);
        std::printf("Cue sheet: %s\n", Shown(cuePath).c_str());
    } else if (options.writeCue) {
        std::printf("The cue sheet was not written: not every track was produced\n");
    }
    if (missing > 0 || stepsNotDone > 0) {
        int selected = 0;
        for (const RipTrack &track : rip.tracks) selected += track.selected;
        std::string what =
            missing > 0 ? std::to_string(missing) + " of " + std::to_string(selected) + " track(s) were not produced"
                        : std::string();
        if (stepsNotDone > 0) {
            what += (what.empty() ? "" : ", and ") + std::to_string(stepsNotDone) + " album step(s) were not done";
        }
        Failed(what +
                   ", each for the reason shown above (--dry-run shows the command lines; --verbose the module's "
                   "journal)",
               why);
        why = what;
        return kSomeTracksNotProduced;
    }
    if (rip.demo) {
        std::printf("The demo album's %s files are in %s\n", Shown(rip.settings.main().outputExtension).c_str() + 1,
                    Shown(rip.outputFolder).c_str());
    }
    return 0;
}

// Every album of the run planned, before any is ripped: two albums that
// would write one file are named, and so is an output that is a file the
// run reads. skipped gets, per album, why it is not ripped ("" to rip it).
// False when nothing may be ripped.
bool CheckRun(const HostOptions &options, const std::vector<ShelfAlbum> &albums, std::vector<std::string> &skipped,
              std::vector<bool> &discNamed) {
    std::vector<PlannedAlbum> plans;
    // Each album's set (its name and artist) and disc, "" when not planned.
    std::vector<std::pair<std::string, std::string>> sets;
    const auto plan = [&](const ShelfAlbum &album, bool byDisc) {
        PlannedAlbum planned;
        planned.name = album.path.empty() ? album.input : album.path;
        HostOptions one = options;
        one.cuePath = album.path;
        one.discNamed = byDisc;
        Rip rip;
        rip.planOnly = true;
        std::string error;
        std::pair<std::string, std::string> set;
        // An album that cannot be planned writes nothing; its rip says why.
        if (!album.path.empty() && PlanAlbum(one, rip, error)) {
            planned.inputs.push_back(album.path);
            for (const CueFile &file : rip.cue.files) {
                if (!file.path.empty()) planned.inputs.push_back(file.path);
            }
            for (const RipTrack &track : rip.tracks) {
                if (track.selected)
                    planned.outputs.insert(planned.outputs.end(), track.finalPaths.begin(), track.finalPaths.end());
            }
            if (options.writeCue)
                planned.outputs.push_back(RipCuePath(CueName(one, rip), rip.tracks, rip.outputFolder));
            if (!rip.cue.disc.empty()) set = {NameKey(rip.albumName + "\n" + rip.cue.performer), rip.cue.disc};
        }
        return std::make_pair(planned, set);
    };
    for (const ShelfAlbum &album : albums) {
        const auto planned = plan(album, false);
        plans.push_back(planned.first);
        sets.push_back(planned.second);
    }
    // The discs of one set, in one run: unless the names tell discs apart
    // already, each disc's file names begin with its number, so that the
    // set fills one folder without two discs meeting.
    discNamed.assign(albums.size(), false);
    const bool told = (options.namePattern + options.outFolder).find("{disc}") != std::string::npos;
    for (std::size_t i = 0; i < albums.size() && !told; ++i) {
        for (std::size_t j = 0; j < albums.size() && !sets[i].first.empty(); ++j) {
            if (j == i || sets[j].first != sets[i].first || sets[j].second == sets[i].second) continue;
            discNamed[i] = true;
            plans[i] = plan(albums[i], true).first;
            std::printf("Note: %s is disc %s of a set in this run: its file names begin with the disc's number\n",
                        Shown(plans[i].name).c_str(), sets[i].second.c_str());
            break;
        }
    }
    skipped.assign(albums.size(), std::string());
    std::size_t reader = 0;
    std::string output;
    if (FindOutputRead(plans, reader, output)) {
        Fail(output + " is read by this run, and " + plans[reader].name +
             " would write it; nothing was ripped: choose another --out or --name");
        return false;
    }
    const std::vector<Clash> clashes = FindClashes(plans);
    for (const Clash &clash : clashes) {
        const std::string &first = plans[clash.first].name, &second = plans[clash.second].name;
        std::fprintf(stderr, "encbridge-host: %s and %s would both write %s\n", Shown(first).c_str(),
                     Shown(second).c_str(), Shown(clash.path).c_str());
        if (skipped[clash.first].empty())
            skipped[clash.first] = "skipped: would write " + clash.path + ", as " + second + " would";
        if (skipped[clash.second].empty())
            skipped[clash.second] = "skipped: would write " + clash.path + ", as " + first + " would";
    }
    if (!clashes.empty() && !options.skipColliding) {
        Fail(
            "nothing was ripped: give the albums names of their own (--out or --name with {album}, {disc}...), or "
            "--skip-colliding rips the others");
        return false;
    }
    return true;
}

// Rips each album named, one after another: the module holds one rip at a
// time, and its last SetData of an album returns once that album's encoders
// are done, so one album never overlaps the next. An album that fails stops
// none of the others; a stop ends the shelf after the album it came in.
int Run(const HostOptions &options) {
    CatchInterruptions();
    // No album named, beside one: the user meant that one, not the demo.
    if (options.inputs.empty()) {
        std::string here;
        for (const ShelfAlbum &album : FindAlbums({"."}, false, options.cueCharset)) {
            if (!album.path.empty()) here += (here.empty() ? "" : ", ") + album.path.substr(2);
        }
        if (!here.empty()) {
            const std::string usage = UsageText();
            std::fprintf(stderr,
                         "%s\n%s: no album named, and this folder holds %s: name the one to rip (the demo album is "
                         "made only where no album lies)\nTry '%s --help' for more information.\n",
                         usage.substr(0, usage.find('\n')).c_str(), kProgramName, Shown(here).c_str(), kProgramName);
            return 2;
        }
    }
    std::string why;
    struct stat info;
    const bool folder =
        options.inputs.size() == 1 && stat(options.inputs[0].c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    std::vector<std::string> skipped;
    std::vector<bool> discNamed;
    if (options.inputs.size() <= 1 && !folder) {
        if (!options.cuePath.empty() &&
            !CheckRun(options, {{options.cuePath, options.cuePath, ""}}, skipped, discNamed))
            return 1;
        const int status = RipAlbum(options, why);
        const int stopSignal = StopRequest().load();
        return stopSignal != 0 ? EndBySignal(stopSignal) : status;
    }
    const std::vector<ShelfAlbum> albums = FindAlbums(options.inputs, options.recursive, options.cueCharset);
    if (!CheckRun(options, albums, skipped, discNamed)) return 1;
    std::vector<AlbumResult> results;
    std::vector<int> statuses;
    for (std::size_t i = 0; i < albums.size(); ++i) {
        const ShelfAlbum &album = albums[i];
        AlbumResult result;
        result.name = Shown(album.path.empty() ? album.input : album.path);
        int status = 1;
        std::string failedAlike;
        if (album.path.empty()) {
            status = Failed(album.input + ": " + album.problem, why);
        } else if (!skipped[i].empty()) {
            status = Failed(album.path + ": " + skipped[i], why);
            why = skipped[i];
        } else {
            std::printf("\nAlbum %zu of %zu: %s\n", i + 1, albums.size(), result.name.c_str());
            std::fflush(stdout);
            HostOptions one = options;
            one.cuePath = album.path;
            one.discNamed = discNamed[i];
            why.clear();
            status = RipAlbum(one, why, &failedAlike);
        }
        result.why = Shown(why);
        result.end = status == 0                        ? AlbumEnd::Done
                     : status == kSomeTracksNotProduced ? AlbumEnd::Partly
                                                        : AlbumEnd::Failed;
        const int stopSignal = StopRequest().load();
        if (stopSignal != 0) result.end = AlbumEnd::Stopped;
        results.push_back(result);
        statuses.push_back(status);
        if (stopSignal != 0) {
            // The albums after it are listed, so that the user sees what
            // --resume will rip.
            for (std::size_t j = i + 1; j < albums.size(); ++j) {
                AlbumResult later;
                later.name = Shown(albums[j].path.empty() ? albums[j].input : albums[j].path);
                later.end = AlbumEnd::NotStarted;
                later.why = "the same command with --resume rips it";
                results.push_back(later);
            }
            PrintShelfSummary(stdout, results, 0);
            std::fflush(stdout);
            return EndBySignal(stopSignal);
        }
        // Settings that fail every track would fail every album alike,
        // leaving each one's WAV files behind.
        if (!failedAlike.empty() && !options.keepGoing && i + 1 < albums.size()) {
            std::printf(
                "\nThe shelf stops: every track of %s failed for one reason, %s. The settings are likely "
                "wrong: mend them and run the same command with --resume, or pass --keep-going to rip the "
                "other albums all the same.\n",
                result.name.c_str(), Shown(failedAlike).c_str());
            PrintShelfSummary(stdout, results, albums.size() - i - 1);
            std::fflush(stdout);
            return 1;
        }
    }
    PrintShelfSummary(stdout, results, 0);
    std::fflush(stdout);
    return ShelfStatus(statuses);
}

// For --help: the settings file that a rip with these options would read.
// It goes to standard error, so that the help text itself (from which the
// manual page is made) is the same wherever the program runs.
void PrintSettingsChoice(const HostOptions &options) {
    const PathEnvironment environment = CurrentPathEnvironment();
    const std::string module = options.pluginPath.empty() ? FindModule(environment) : options.pluginPath;
    const SettingsChoice choice = ChooseSettings(options.settingsPath, module, environment);
    std::fprintf(stderr, "\n%s\n", Shown(SettingsChoiceLine(choice, environment, ENCBRIDGE_SOURCE_EXAMPLES)).c_str());
}

}  // namespace
}  // namespace host

int main(int argc, char **argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    host::HostOptions options;
    std::string error;
    if (!host::ParseOptions(arguments, options, error) || !host::CheckNamePattern(options.namePattern, error) ||
        !host::CheckNamePattern(options.outFolder, error, "--out")) {
        if (!error.empty()) std::fprintf(stderr, "%s: %s\n", host::kProgramName, host::Shown(error).c_str());
        std::fprintf(stderr, "Try '%s --help' for more information.\n", host::kProgramName);
        return 2;
    }
    if (options.help) {
        std::fputs(host::UsageText(), stdout);
        std::fflush(stdout);
        host::PrintSettingsChoice(options);
        return 0;
    }
    if (options.version) {
        std::fputs(host::VersionText().c_str(), stdout);
        return 0;
    }
    return host::Run(options);
}
