// The words of an output's templates that look like tags but are none, as
// the module tells them apart: the module passes such a word on as it
// stands, which a user rarely means. Shared by the reference host's dry run
// and the Windows try-out program.
#pragma once

#include <string>
#include <vector>

#include "encbridge/tools.h"

namespace encbridge_tools {

// One warning for each template of settings that holds such words, naming
// them, the key and section they are in, and the tags that its line knows.
inline std::vector<std::string> UnknownTagWarnings(const EncbridgeToolTable &tools, const EncbridgeSettings &settings) {
    struct Template {
        const char *key;
        const char *text;
        bool albumStep;
        bool used;
    };
    std::vector<std::string> warnings;
    std::vector<char> unknown(encbridge::kCommandCapacity), known(encbridge::kCommandCapacity);
    for (std::int32_t o = 0; o < settings.outputCount; ++o) {
        const EncbridgeOutput &output = settings.outputs[o];
        const std::string section = output.number == 1 ? "OPTION" : "OUTPUT" + std::to_string(output.number);
        const Template templates[] = {
            {"COMMAND", output.commandTemplate, false, true},
            {"ALBUM_COMMAND", output.albumTemplate, true, output.albumStep != 0},
            {"VERIFY_COMMAND", output.verifyTemplate, false, output.verify != encbridge::VerifyMode::None},
        };
        for (const Template &t : templates) {
            if (!t.used) continue;
            const std::int32_t count =
                tools.templateTags(t.text, t.albumStep, unknown.data(), unknown.size(), known.data(), known.size());
            if (count == 0) continue;
            warnings.push_back(std::string("Warning: ") + t.key + " of [" + section + "] holds " +
                               (count < 0 ? std::string("more words than can be listed") : unknown.data()) +
                               ", which no tag of its line is: the module passes " +
                               (count == 1 ? "it on as it stands" : "them on as they stand") +
                               ". Its tags: " + known.data() + " (and each without its closing %)");
        }
    }
    return warnings;
}

}  // namespace encbridge_tools
