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

using encbridge::Reason;

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
    const std::string exePath = Grouped(encbridge::kLongestProgramPath + 1);
    const Fact facts[] = {
        {"with tags; at most ", Grouped(encbridge::kLongestTemplate), " characters (a longer one"},
        {"template-too-long COMMAND or ALBUM_COMMAND is longer than ", Grouped(encbridge::kLongestTemplate),
         " characters"},
        {"settings file's path is longer than ", Grouped(encbridge::kSettingsPathCapacity - 1), " characters,"},
        {"or its folder longer than ", Grouped(sizeof encbridge::PathParts{}.folder - 1), ", and"},
        {"refuses an EXEPATH of ", exePath, " characters or more"},
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

// The reason names that a two-column list of the README gives, between the
// lines starting with from and to: each entry's line starts with two blanks
// and the name.
std::set<std::string> Listed(const std::string &text, const std::string &from, const std::string &to) {
    std::set<std::string> names;
    const std::size_t start = text.find("\n" + from);
    const std::size_t end = text.find("\n" + to, start);
    std::istringstream lines(text.substr(start, end - start));
    const std::regex entry("  ([a-z]+(-[a-z]+)*)( .*)?\r?");
    std::smatch match;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_match(line, match, entry)) names.insert(match[1]);
    return names;
}

TEST(WindowsReadme, ListsEveryReasonOnce) {
    // Create refuses a rip with the reasons from BadArguments to
    // TrackFileNotOpened and with VerifyNotUsable; the others are a
    // track's, an output's or an album step's.
    std::set<std::string> refusals, outcomes;
    for (const encbridge::reasons::Row &row : encbridge::reasons::kRows) {
        const bool refusal = (row.reason >= Reason::BadArguments && row.reason <= Reason::TrackFileNotOpened) ||
                             row.reason == Reason::VerifyNotUsable;
        (refusal ? refusals : outcomes).insert(row.name);
    }
    const std::string text = Readme();
    const struct {
        const char *from, *to;
        std::set<std::string> expected;
    } lists[] = {
        {"The reasons:", "An output that fails its verification", outcomes},
        {"For a rip that is refused", "A refused rip writes its reason", refusals},
    };
    for (const auto &list : lists) EXPECT_EQ(Listed(text, list.from, list.to), list.expected) << list.from;
}

}  // namespace
