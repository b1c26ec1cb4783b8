#include "dry_run.h"

#include "encoder/command_line.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/posix/command_line_split.h"
#include "settings/plugin_settings.h"
#include "settings_check.h"
#include "wavfile/temp_names.h"

namespace host {

int PrintDryRun(std::FILE *out, const HostRecords &records, const std::vector<RipTrack> &tracks,
                const std::string &settingsPath, const std::string &outputFolder) {
    using namespace encbridge;
    PluginSettings settings{};
    LoadSettings(settingsPath.c_str(), settings);

    std::fprintf(out, "Dry run: nothing is ripped. Settings %s\n", settingsPath.c_str());
    if (!platform::EncoderFileUsable(settings.encoderPath)) {
        std::fprintf(out, "Create would refuse this rip: %s\n", ExplainRefusal(settingsPath, outputFolder).c_str());
    }
    int refused = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (!tracks[i].selected) continue;
        // The module numbers its temporary files by the record's place in the list.
        const int number = static_cast<int>(i + 1);
        PathBuffer base, wavPath, outputPath;
        FormTempBase(base, records.album->outputFolder, sizeof records.album->outputFolder, number);
        FormatText(wavPath, sizeof wavPath, "%s%s", {base, ".wav"});
        FormatText(outputPath, sizeof outputPath, "%s%s", {base, settings.outputExtension});
        CommandBuffer command;
        FormatText(command, sizeof command, "%s", {settings.commandTemplate});
        // The command line is built from the rip's album, as the worker builds it.
        const CommandStatus status = BuildCommandLine(settings.encoderPath, CommandStyle::Arguments, command, wavPath,
                                                      outputPath, *records.album, static_cast<int>(i));

        std::fprintf(out, "\ntrack %02d -> %s\n  command line: %s\n", tracks[i].image.number,
                     tracks[i].finalPath.c_str(), command);
        std::vector<std::string> arguments = platform::SplitCommandLine(command);
        for (std::size_t a = 0; a < arguments.size(); ++a) {
            std::fprintf(out, "  %s %s\n", a == 0 ? "program " : "argument", arguments[a].c_str());
        }
        if (status == CommandStatus::Cut) {
            ++refused;
            std::fprintf(out,
                         "  The module would not run this line: it is longer than 1,023 characters, a value did "
                         "not fit, or the encoder path holds a double quote.\n");
        } else if (status == CommandStatus::Unsafe) {
            ++refused;
            std::fprintf(out, "  The module would not run this line: a value cannot be written as one argument.\n");
        }
    }
    return refused;
}

}  // namespace host
