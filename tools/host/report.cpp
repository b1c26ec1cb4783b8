#include "report.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>

#include "host_paths.h"
#include "plugin_module.h"

namespace host {

namespace {

bool Exists(const std::string &path, long long *size = nullptr) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    if (size) *size = static_cast<long long>(info.st_size);
    return true;
}

std::string Duration(const std::string &path) {
    SF_INFO info = {};
    bool notRegular = false;
    const int fd = OpenRegularFile(path, notRegular);
    SNDFILE *file = fd < 0 ? nullptr : sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) return "-";
    sf_close(file);
    if (info.samplerate <= 0) return "-";
    return DurationText(static_cast<double>(info.frames) / info.samplerate);
}

// A failed run's last words, as the summary shows them beside its reason.
std::string SaidText(const std::string &messages) {
    const std::string last = LastLine(messages);
    return last.empty() ? last : "; it said: " + last;
}

}  // namespace

std::string SizeText(long long bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%lld B", bytes);
    } else if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    }
    return text;
}

std::string DurationText(double seconds) {
    long hundredths = static_cast<long>(seconds * 100 + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%02ld", hundredths / 6000, hundredths / 100 % 60, hundredths % 100);
    return text;
}

std::string SameFailure(const std::vector<RipTrack> &tracks, const ModuleSettings &settings,
                        const RipOutcome &outcome) {
    std::string said;
    bool any = false;
    encbridge::Reason first = encbridge::Reason::Done;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (!TrackToWrite(tracks[i])) continue;
        for (const ModuleOutput &output : settings.outputs) {
            const std::pair<int, int> key(static_cast<int>(i + 1), output.number);
            const auto found = outcome.outputs.find(key);
            if (found == outcome.outputs.end() || found->second == encbridge::Reason::Done ||
                (any && found->second != first)) {
                return std::string();
            }
            if (!any) {
                const auto words = outcome.messages.find(key);
                said = words == outcome.messages.end() ? std::string() : SaidText(words->second);
            }
            any = true;
            first = found->second;
        }
    }
    return any ? encbridge::ReasonText(first) + said : std::string();
}

int PrintReport(std::FILE *out, const std::vector<RipTrack> &tracks, const std::string &outputFolder,
                const ModuleSettings &settings, const RipOutcome &outcome) {
    const std::vector<std::string> extensions = settings.Extensions();
    std::size_t nameWidth = 4;
    for (const RipTrack &track : tracks) {
        for (const std::string &extension : extensions) {
            nameWidth = std::max(nameWidth, TextWidth(track.fileName + extension));
        }
    }
    nameWidth = std::min<std::size_t>(nameWidth, 60);
    std::fprintf(out, "\nFiles in %s:\n", Shown(outputFolder).c_str());
    std::fprintf(out, "  #   %s  %10s  %9s\n", FitText("File", nameWidth).c_str(), "Size", "Duration");
    int missing = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const RipTrack &track = tracks[i];
        // The module numbers its temporary files by the record's place in the list.
        const std::string wav = TemporaryName(*settings.tools, "", static_cast<int>(i + 1), ".wav");
        const std::string left = !wav.empty() && Exists(outputFolder + wav) ? ", " + wav + " is left" : std::string();
        bool complete = true;
        for (std::size_t o = 0; o < extensions.size(); ++o) {
            // The track's number heads its first row only.
            char number[8] = "  ";
            if (o == 0) std::snprintf(number, sizeof number, "%02d", track.image.number);
            std::string name = FitText(Shown(track.fileName + extensions[o]), nameWidth);
            long long size = 0;
            // The module numbers its tracks by the record's place in the list.
            const auto found = outcome.outputs.find({static_cast<int>(i + 1), settings.outputs[o].number});
            // What the module published, as its journal says: a file that
            // someone else put at the final name is not this rip's.
            const bool published =
                !outcome.journaled || (found != outcome.outputs.end() && found->second == encbridge::Reason::Done);
            if (!track.selected) {
                std::fprintf(out, "  %s  %s  %10s  %9s  skipped\n", number, name.c_str(), "-", "-");
            } else if (track.resumed && Exists(track.finalPaths[o], &size)) {
                std::fprintf(out, "  %s  %s  %10s  %9s  there already (resumed)\n", number, name.c_str(),
                             SizeText(size).c_str(), Duration(track.finalPaths[o]).c_str());
            } else if (published && Exists(track.finalPaths[o], &size)) {
                // Words beside a published output: it could not be put on
                // disk, and the module kept the WAV file.
                const auto error = outcome.errors.find({static_cast<int>(i + 1), settings.outputs[o].number});
                const std::string kept = error == outcome.errors.end()
                                             ? std::string()
                                             : "  not on disk (" + Shown(error->second) + ")" + left;
                // Audio mastered with pre-emphasis is delivered as it is:
                // a player that does not de-emphasise it plays it bright.
                const char *emphasis = kept.empty() && track.image.preEmphasis ? "  pre-emphasised (FLAGS PRE)" : "";
                std::fprintf(out, "  %s  %s  %10s  %9s%s%s\n", number, name.c_str(), SizeText(size).c_str(),
                             Duration(track.finalPaths[o]).c_str(), kept.c_str(), emphasis);
            } else {
                complete = false;
                const auto error = outcome.errors.find({static_cast<int>(i + 1), settings.outputs[o].number});
                std::string why = found == outcome.outputs.end() || found->second == encbridge::Reason::Done
                                      ? std::string()
                                      : std::string(": ") + encbridge::ReasonText(found->second);
                if (error != outcome.errors.end()) why += " (" + Shown(error->second) + ")";
                const auto said = outcome.messages.find({static_cast<int>(i + 1), settings.outputs[o].number});
                if (said != outcome.messages.end()) why += SaidText(said->second);
                std::fprintf(out, "  %s  %s  %10s  %9s  not produced%s%s\n", number, name.c_str(), "-", "-",
                             why.c_str(), left.c_str());
            }
        }
        if (track.selected && !complete) ++missing;
    }
    return missing;
}

int PrintAlbumSteps(std::FILE *out, const ModuleSettings &settings, const RipOutcome &outcome) {
    int failed = 0;
    for (const ModuleOutput &output : settings.outputs) {
        const auto found = outcome.albumSteps.find(output.number);
        if (!output.albumStep || found == outcome.albumSteps.end()) continue;
        if (found->second == encbridge::Reason::Done) {
            std::fprintf(out, "  album step of output %d (%s): done\n", output.number,
                         Shown(output.outputExtension).c_str());
            continue;
        }
        ++failed;
        const auto said = outcome.albumMessages.find(output.number);
        std::fprintf(out, "  album step of output %d (%s): not done: %s%s\n", output.number,
                     Shown(output.outputExtension).c_str(), encbridge::ReasonText(found->second),
                     said != outcome.albumMessages.end() ? SaidText(said->second).c_str() : "");
    }
    return failed;
}

}  // namespace host
