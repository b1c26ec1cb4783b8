#include "dry_run.h"

#include <memory>

#include "encoder/command_line.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/posix/command_line_split.h"
#include "progress.h"
#include "settings/plugin_settings.h"
#include "settings_check.h"
#include "wavfile/temp_names.h"

namespace host {

namespace {

// Prints a line as the module would run it, the arguments its program would
// receive, and why the module would not run it; true when it would.
bool PrintLine(std::FILE *out, const char *line, encbridge::CommandStatus status, const char *longest) {
    using namespace encbridge;
    std::fprintf(out, "  command line: %s\n", Shown(line).c_str());
    std::vector<std::string> arguments = platform::SplitCommandLine(line);
    for (std::size_t a = 0; a < arguments.size(); ++a) {
        std::fprintf(out, "  %s %s\n", a == 0 ? "program " : "argument", Shown(arguments[a]).c_str());
    }
    if (status == CommandStatus::Cut) {
        std::fprintf(out,
                     "  The module would not run this line: it is longer than %s characters, a value did "
                     "not fit, or the program's path holds a double quote.\n",
                     longest);
    } else if (status == CommandStatus::Unsafe) {
        std::fprintf(out, "  The module would not run this line: a value cannot be written as one argument.\n");
    }
    return status == CommandStatus::Complete;
}

}  // namespace

int PrintDryRun(std::FILE *out, const HostRecords &records, const std::vector<RipTrack> &tracks,
                const std::string &settingsPath, const std::string &outputFolder) {
    using namespace encbridge;
    auto settings = std::make_unique<PluginSettings>();
    LoadSettings(settingsPath.c_str(), *settings);

    std::fprintf(out, "Dry run: nothing is ripped. Settings %s\n", settingsPath.c_str());
    std::int32_t faulty = 0;
    const Reason reason = CheckOutputs(*settings, faulty);
    if (reason != Reason::Done) {
        std::fprintf(out, "Create would refuse this rip: %s\n",
                     ExplainRefusal(reason, settingsPath, outputFolder).c_str());
    }
    const bool several = settings->outputCount > 1;
    int refused = 0;
    for (std::int32_t o = 0; o < settings->outputCount; ++o) {
        const OutputSettings &output = settings->outputs[o];
        if (several) std::fprintf(out, "\nOutput %d: %s\n", output.number, output.outputExtension);
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            if (!tracks[i].selected) continue;
            // The module numbers its temporary files by the record's place in the list.
            const int number = static_cast<int>(i + 1);
            PathBuffer base, wavPath, outputPath;
            FormTempBase(base, records.album->outputFolder, sizeof records.album->outputFolder, number);
            FormatText(wavPath, sizeof wavPath, "%s%s", {base, ".wav"});
            FormatText(outputPath, sizeof outputPath, "%s%s", {base, output.outputExtension});
            CommandBuffer command;
            FormatText(command, sizeof command, "%s", {output.commandTemplate});
            // The command line is built from the rip's album, as the worker builds it.
            const CommandStatus status = BuildCommandLine(output.encoderPath, CommandStyle::Arguments, command, wavPath,
                                                          outputPath, *records.album, static_cast<int>(i));
            std::fprintf(out, "\ntrack %02d -> %s\n", tracks[i].image.number, Shown(tracks[i].finalPaths[o]).c_str());
            if (!PrintLine(out, command, status, "1,023")) ++refused;
        }
        if (!output.albumStep) continue;
        std::vector<char> line(kLongestCommandLine);
        const CommandStatus status = BuildAlbumCommandLine(
            output.albumEncoderPath, CommandStyle::Arguments, output.albumTemplate, sizeof output.albumTemplate,
            *records.album, output.outputExtension, sizeof output.outputExtension, line.data(), line.size());
        std::fprintf(out, "\nalbum step of output %d, once every track has its %s file\n", output.number,
                     output.outputExtension);
        if (!PrintLine(out, line.data(), status, "32,766")) ++refused;
    }
    return refused;
}

}  // namespace host
