// encbridge-host: rips a CD image through the encbridge module as a ripping
// host does, or, given no cue sheet, encodes a demo album of its own.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cue_image.h"
#include "demo_album.h"
#include "dry_run.h"
#include "host_options.h"
#include "plugin_module.h"
#include "progress.h"
#include "report.h"
#include "rip.h"
#include "settings_check.h"
#include "track_names.h"
#include "wavfile/temp_names.h"

namespace host {
namespace {

// The module's paths hold at most 259 characters.
constexpr std::size_t kMaxPath = 259;

int Fail(const std::string &message) {
    std::fprintf(stderr, "encbridge-host: %s\n", message.c_str());
    return 1;
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

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int Run(HostOptions options) {
    const auto started = std::chrono::steady_clock::now();
    std::string error;
    const bool demo = options.cuePath.empty();
    const std::string pluginPath = options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;

    std::string requested = options.outFolder.empty() ? (demo ? "encbridge-demo" : ".") : options.outFolder;
    // A dry run writes nothing, except the demo album that it shows.
    if ((!options.dryRun || demo) && !MakeFolders(requested, error)) return Fail("the output folder: " + error);
    const std::string outputFolder = AbsoluteFolder(requested);
    if (outputFolder.empty()) return Fail("cannot resolve the output folder " + requested);

    if (demo) {
        std::string source = outputFolder + "source/";
        DemoFiles files;
        if (!MakeFolders(source, error) || !WriteDemoAlbum(source, files, error)) return Fail(error);
        options.cuePath = files.cuePath;
        if (options.settingsPath.empty()) options.settingsPath = files.settingsPath;
        // The folder is the demo's own: files of an earlier run make way.
        options.overwrite = true;
        std::printf("Demo album written to %s (album.wav, album.cue, encbridge.ini)\n", source.c_str());
    }
    const std::string settingsPath =
        options.settingsPath.empty() ? FolderOf(pluginPath) + "encbridge.ini" : options.settingsPath;

    CueAlbum cue;
    std::vector<std::string> notes;
    if (!ReadCueSheet(options.cuePath, options.cueCharset, cue, notes, error)) return Fail(error);
    if (!FindAudioFiles(cue, options.cuePath, error)) return Fail(error);
    for (const CueFile &file : cue.files) {
        if (!file.note.empty()) notes.push_back(file.note);
    }
    AudioImage image;
    if (!image.Open(cue, error)) return Fail(error);
    if (!PlaceTracks(cue, image.fileFrames(), error)) return Fail(error);
    image.SetTimeline(cue.timeline);
    std::string pregapNote;
    if (!PlaceFirstPregap(cue, image, options.firstPregap, pregapNote, error)) return Fail(error);
    if (!pregapNote.empty()) notes.push_back(pregapNote);
    for (const std::string &note : notes) std::printf("Note: %s\n", note.c_str());
    const int count = static_cast<int>(cue.tracks.size());
    int numbered = 0;
    for (const ImageTrack &track : cue.tracks) numbered += track.number > 0;
    for (const TrackSpan &span : options.tracks) {
        if (span.last > cue.tracks.back().number) {
            return Fail("--tracks names track " + std::to_string(span.last) + ", but " + options.cuePath + " has " +
                        std::to_string(numbered) + " track(s)");
        }
    }

    const std::string cut = CommandCutWarning(settingsPath);
    if (!cut.empty()) std::fprintf(stderr, "encbridge-host: warning: %s\n", cut.c_str());
    const ModuleSettings settings = ReadModuleSettings(settingsPath);
    const std::string &extension = settings.outputExtension;
    // The module numbers the records it is handed from 1, so a track 0 puts
    // its numbers one ahead of the sheet's.
    if (!cue.tracks.empty() && cue.tracks.front().number == 0 &&
        (settings.commandTemplate.find("%no") != std::string::npos ||
         settings.commandTemplate.find("%trk") != std::string::npos)) {
        std::fprintf(stderr,
                     "encbridge-host: warning: with track 0 delivered, the module's %%no and %%trk tags count it: "
                     "track 1 gets %%no 2; --first-pregap=join or drop keeps the sheet's numbers\n");
    }
    // The longest temporary names the module makes in the output folder.
    const std::size_t tempBase = encbridge::TempBaseLength(count);
    if (outputFolder.size() + tempBase + std::max<std::size_t>(extension.size(), 4) > kMaxPath) {
        return Fail("the output folder " + outputFolder +
                    " is too long: the module's paths hold at most 259 characters");
    }
    std::size_t nameRoom = std::min<std::size_t>(kMaxPath - outputFolder.size(), 255) - extension.size();

    std::vector<RipTrack> tracks(cue.tracks.size());
    std::map<std::string, int> taken;
    for (int i = 0; i < count; ++i) {
        RipTrack &track = tracks[i];
        track.image = cue.tracks[i];
        const int number = track.image.number;
        track.selected = TrackSelected(options.tracks, number);
        std::string title = track.image.title.empty() ? "Track " + std::to_string(number) : track.image.title;
        track.fileName =
            MakeTrackName(options.namePattern, {number, title, track.image.performer, cue.title}, nameRoom);
        track.finalPath = outputFolder + track.fileName + extension;
        if (!track.selected) continue;
        auto earlier = taken.emplace(track.fileName, number);
        if (!earlier.second) {
            return Fail("tracks " + std::to_string(earlier.first->second) + " and " + std::to_string(number) +
                        " would both be named \"" + track.fileName + extension + "\"; put {number} into --name");
        }
    }

    if (options.dryRun) {
        HostRecords records = MakeRecords(cue, tracks, outputFolder);
        int refused = PrintDryRun(stdout, records, tracks, settingsPath, outputFolder);
        if (refused > 0) return Fail(std::to_string(refused) + " command line(s) would not be run");
        return 0;
    }

    for (const RipTrack &track : tracks) {
        struct stat info;
        if (!track.selected || lstat(track.finalPath.c_str(), &info) != 0) continue;
        if (!options.overwrite) {
            return Fail(track.finalPath +
                        " exists already, and the module never replaces a file; remove it, choose another --out, "
                        "or pass --overwrite");
        }
        if (unlink(track.finalPath.c_str()) != 0) {
            return Fail("cannot remove " + track.finalPath + ": " + std::strerror(errno));
        }
    }

    PluginModule module;
    if (!module.Load(pluginPath, error)) return Fail(error);
    int selected = 0;
    for (const RipTrack &track : tracks) selected += track.selected;
    std::string from = cue.files.size() == 1 ? cue.files[0].path : std::to_string(cue.files.size()) + " files";
    std::printf("Ripping %d of %d tracks of \"%s\" from %s\n", selected, count, cue.title.c_str(), from.c_str());
    std::printf("  module   %s (version %d)\n  settings %s\n  encoder  %s\n  output   %s\n", pluginPath.c_str(),
                module.version(), settingsPath.c_str(),
                settings.encoderPath.empty() ? "(none configured)" : settings.encoderPath.c_str(),
                outputFolder.c_str());
    std::fflush(stdout);

    HostRecords records = MakeRecords(cue, tracks, outputFolder);
    if (module.create(records.album.get(), settingsPath.c_str(), nullptr, 0) != 1) {
        module.kill();
        return Fail("the module refused the rip (Create returned 0): " + ExplainRefusal(settingsPath, outputFolder));
    }
    Progress progress(stdout, isatty(STDOUT_FILENO) == 1);
    RipTimes times;
    bool delivered = DeliverAlbum(module, image, tracks, options, progress, times, error);
    std::fflush(stdout);
    if (module.kill() != 0) std::fprintf(stderr, "encbridge-host: Kill could not close a track file\n");
    if (!delivered) return Fail(error);

    int missing = PrintReport(stdout, tracks, outputFolder, extension);
    std::printf("Total %.1f s: %.1f s delivering audio, %.1f s waiting for the encoder at the end.\n", Seconds(started),
                times.delivering, times.waiting);
    if (missing > 0) {
        std::fflush(stdout);
        return Fail(std::to_string(missing) + " of " + std::to_string(selected) +
                    " track(s) produced no file: check the encoder's command line (--dry-run shows it)");
    }
    if (demo) std::printf("The demo album's %s files are in %s\n", extension.c_str() + 1, outputFolder.c_str());
    return 0;
}

}  // namespace
}  // namespace host

int main(int argc, char **argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    host::HostOptions options;
    std::string error;
    if (!host::ParseOptions(arguments, options, error) || !host::CheckNamePattern(options.namePattern, error)) {
        std::fprintf(stderr, "encbridge-host: %s\nTry encbridge-host --help.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(host::UsageText(), stdout);
        return 0;
    }
    return host::Run(options);
}
