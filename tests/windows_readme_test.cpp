// The Windows users' README.txt against the module and encbridge-try.exe:
// every number and name it states about them is the one the code holds,
// and its lists of reasons are the reasons table's, so that a change to
// either that makes the text wrong fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "../tools/try/try_status.h"
#include "encbridge/limits.h"
#include "encbridge/reasons.h"
#include "encoder/verify.h"
#include "platform/platform.h"
#include "settings/plugin_settings.h"
#include "wavfile/temp_names.h"

namespace {

std::string Readme() {
    std::ifstream file(ENCBRIDGE_WINDOWS_README, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The text with each run of blanks and line ends as one blank, as a
// sentence reads whatever its line breaks.
std::string Flowing(const std::string &text) { return std::regex_replace(text, std::regex("\\s+"), " "); }

// n as the README writes numbers: 1,021.
std::string Grouped(std::size_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

struct Fact {
    std::string before, value, after;
};

TEST(WindowsReadme, StatesTheNumbersAndNamesOfTheCode) {
    const std::string text = Flowing(Readme());
    const Fact facts[] = {
        {"with tags; at most ", Grouped(encbridge::kLongestTemplate), " characters (a longer one"},
        {"template-too-long COMMAND or ALBUM_COMMAND is longer than ", Grouped(encbridge::kLongestTemplate),
         " characters"},
        {"settings file's path is longer than ", Grouped(encbridge::kSettingsPathCapacity - 1), " characters,"},
        {"or its folder longer than ", Grouped(sizeof encbridge::PathParts{}.folder - 1), ", and"},
        {"refuses an EXEPATH of ", Grouped(encbridge::kLongestProgramPath + 1), " characters or more"},
        {"An album step's line may be ", Grouped(encbridge::kLongestCommandLine - 1), " characters long"},
        {"(", Grouped(encbridge::kLongestCommandShellLine - 1), " for a .bat or .cmd step)"},
        {"one per processor (at most ", std::to_string(encbridge::kMostJobs), ")"},
        {"sections [OUTPUT2] to [OUTPUT", std::to_string(encbridge::kMostOutputs), "]"},
        {"the last ", Grouped(encbridge::platform::kMessageTailCapacity), " characters of what the encoder wrote"},
        {"the same length within ", std::to_string(encbridge::kDecodesToleranceMilliseconds), " ms"},
        {"lies at ", encbridge::kLockFileName, " in the output folder"},
        {"(%TEMP%\\", encbridge_try::kTempFolderName, "1, then 2...)"},
        {"records are kept in ", encbridge_try::kJournalName, " in that folder"},
        {"says: ", std::to_string(encbridge_try::kAllMade), " every output of every track was made"},
        {"would be run) ", std::to_string(encbridge_try::kSomeNotMade), " some were not;"},
        {"as in a real rip ", std::to_string(encbridge_try::kRefused), " the DLL refuses the settings"},
        {"(section 6) ", std::to_string(encbridge_try::kCannotTry), " it could not try:"},
        {"or whose path has ", Grouped(encbridge_try::kFolderPathTooLong), " characters or more"},
    };
    for (const Fact &fact : facts) {
        const std::string said = fact.before + fact.value + fact.after;
        EXPECT_NE(text.find(said), std::string::npos) << "README.txt does not say: " << said;
    }
}

TEST(WindowsReadme, ListsEveryReasonOnce) {
    // Section 7's two-column lists: an entry's line starts with two blanks
    // and the reason's name.
    const std::string text = Readme();
    const std::size_t from = text.find("The reasons:");
    std::istringstream lines(text.substr(from, text.find("How to read a failure:") - from));
    std::multiset<std::string> listed, names;
    const std::regex entry("  ([a-z]+(-[a-z]+)*)( .*)?\r?");
    std::smatch match;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_match(line, match, entry)) listed.insert(match[1]);
    for (const encbridge::reasons::Row &row : encbridge::reasons::kRows) names.insert(row.name);
    EXPECT_EQ(listed, names);
}

}  // namespace
