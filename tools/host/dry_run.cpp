#include "dry_run.h"

#include <string>
#include <vector>

#include "progress.h"
#include "template_tags.h"

namespace host {

namespace {

// Prints a line (named by label) as the module would run it, the arguments
// its program would receive, and why the module would not run it; true
// when it would.
bool PrintLine(std::FILE *out, const EncbridgeToolTable &tools, const char *label, const char *line,
               std::int32_t status, std::size_t capacity) {
    std::fprintf(out, "  %s: %s\n", label, Shown(line).c_str());
    std::vector<char> arguments(encbridge::kLongestCommandLine + 1);
    const std::int32_t count = tools.splitLine(line, arguments.data(), arguments.size());
    const char *argument = arguments.data();
    for (std::int32_t a = 0; a < count; ++a) {
        std::fprintf(out, "  %s %s\n", a == 0 ? "program " : "argument", Shown(argument).c_str());
        argument += std::string(argument).size() + 1;
    }
    if (status == kEncbridgeLineCut) {
        std::fprintf(out,
                     "  The module would not run this line: it is longer than %zu characters, a value did "
                     "not fit, or the program's path holds a double quote.\n",
                     capacity - 1);
    } else if (status == kEncbridgeLineUnsafe) {
        std::fprintf(out, "  The module would not run this line: a value cannot be written as one argument.\n");
    } else if (status != kEncbridgeLineComplete) {
        std::fprintf(out, "  The module did not build this line.\n");
    }
    return status == kEncbridgeLineComplete;
}

}  // namespace

int PrintDryRun(std::FILE *out, const PluginModule &module, const ModuleSettings &settings, const HostRecords &records,
                const std::vector<RipTrack> &tracks, const std::string &settingsPath, const std::string &outputFolder) {
    const EncbridgeToolTable &tools = *module.tools;
    std::fprintf(out, "Dry run: nothing is ripped. Settings %s\n", Shown(settingsPath).c_str());
    // What is shown is what this file does, whichever module was built with the host.
    std::fprintf(out, "The module's rules are those of %s (version %d)\n", Shown(module.path).c_str(),
                 static_cast<int>(module.version()));
    const encbridge::Reason reason = RefusalFromSettings(settings);
    if (reason != encbridge::Reason::Done) {
        std::fprintf(out, "Create would refuse this rip: %s\n",
                     Shown(ExplainRefusal(settings, reason, settingsPath, outputFolder)).c_str());
    }
    const EncbridgeSettings &read = *settings.read;
    for (const std::string &warning : encbridge_tools::UnknownTagWarnings(tools, read)) {
        std::fprintf(out, "%s\n", warning.c_str());
    }
    const bool several = read.outputCount > 1;
    int refused = 0;
    std::vector<char> line(encbridge::kLongestCommandLine);
    for (std::int32_t o = 0; o < read.outputCount; ++o) {
        const EncbridgeOutput &output = read.outputs[o];
        if (several) std::fprintf(out, "\nOutput %d: %s\n", output.number, Shown(output.outputExtension).c_str());
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            if (!tracks[i].selected) continue;
            // The command line is built from the rip's album, as the worker builds it.
            const std::int32_t status =
                tools.previewTrackLine(&read, o, records.album.get(), static_cast<int>(i), line.data(), line.size());
            std::fprintf(out, "\ntrack %02d -> %s\n", tracks[i].image.number, Shown(tracks[i].finalPaths[o]).c_str());
            if (!PrintLine(out, tools, "command line", line.data(), status, encbridge::kCommandCapacity)) ++refused;
            if (output.verify == encbridge::VerifyMode::None) continue;
            // Run on the output once it is made, before it is published.
            const std::int32_t verify =
                tools.previewVerifyLine(&read, o, records.album.get(), static_cast<int>(i), line.data(), line.size());
            if (!PrintLine(out, tools, "verify line", line.data(), verify, encbridge::kCommandCapacity)) ++refused;
        }
        if (!output.albumStep) continue;
        const std::int32_t status = tools.previewAlbumLine(&read, o, records.album.get(), line.data(), line.size());
        std::fprintf(out, "\nalbum step of output %d, once every track has its %s file\n", output.number,
                     Shown(output.outputExtension).c_str());
        if (!PrintLine(out, tools, "command line", line.data(), status, encbridge::kLongestCommandLine)) ++refused;
    }
    return refused;
}

}  // namespace host
