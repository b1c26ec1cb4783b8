// Encoder command lines as Windows itself reads them: a batch file's line
// through the real cmd.exe, and values in a double-byte code page through
// the system's conversion of the line, CommandLineToArgvW and the C
// runtime's argv (the fake encoder's). Windows build only.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "encoder/argument_quoting.h"
#include "encoder/command_line.h"
#include "fake_encoder/run_log.h"
#include "platform/platform.h"
#include "temp_folder_test.h"
#include "test_support.h"

namespace platform = encbridge::platform;
using encbridge::CommandStatus;
using encbridge::CommandStyle;
using testing_support::FileExists;

namespace {

// Values that no settings file gave.
const encbridge::RipTags kNoTags{};

std::wstring Wide(const std::string &text) {
    std::wstring wide(text.size() + 1, L'\0');
    int count = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(count > 0 ? count : 0));
    return wide;
}

std::vector<std::wstring> SplitWide(const std::string &line) {
    std::vector<std::wstring> items;
    int count = 0;
    LPWSTR *argv = CommandLineToArgvW(Wide(line).c_str(), &count);
    if (argv == nullptr) return items;
    for (int i = 0; i < count; ++i) items.push_back(argv[i]);
    LocalFree(argv);
    return items;
}

template <std::size_t N>
void Set(char (&field)[N], const std::string &value) {
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), value.size() < N ? value.size() : N - 1);
}

class EncoderLineTest : public testing_support::TempFolderTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(NewFolder(folder_));
        log_ = folder_ + "runs.log";
        marker_ = folder_ + "marker";
        Set(wav_, folder_ + "#temp(01).wav");
        Set(output_, folder_ + "#temp(01).out");
        testing_support::WriteFile(wav_, "RIFF");
        album_.trackCount = 1;
        album_.tracks = &track_;
    }

    // A batch file that hands its arguments to the fake encoder.
    std::string WriteScript(const char *name, const char *arguments) {
        std::string path = folder_ + name;
        testing_support::WriteFile(
            path, "@\"" + testing_support::FakeEncoderPath() + "\" --log \"" + log_ + "\" " + arguments + "\r\n");
        return path;
    }

    // Runs a line and returns the arguments the fake encoder got after its
    // --log option, or none when it did not run.
    std::vector<std::string> Run(const std::string &line, bool throughCommandShell) {
        std::remove(log_.c_str());
        platform::Process *process = platform::StartProcess(line.c_str(), throughCommandShell, 1);
        if (process == nullptr) return {};
        platform::Event *never = platform::CreateManualResetEvent();
        platform::WaitForAny(&process, 1, &never, 1, platform::kWaitForever);
        platform::DestroyEvent(never);
        platform::CloseProcess(process);
        std::vector<fake_encoder::Run> runs = fake_encoder::ReadRuns(log_);
        if (runs.empty()) return {};
        std::vector<std::string> arguments = runs.back().arguments;
        if (arguments.size() >= 2 && arguments[0] == "--log" && arguments[1] == log_) {
            arguments.erase(arguments.begin(), arguments.begin() + 2);
        }
        return arguments;
    }

    std::string folder_, log_, marker_;
    encbridge::PathBuffer wav_, output_;
    TrackInfo track_{};
    AlbumInfo album_{};
};

// Titles that would run a command, split, or expand, were cmd.exe to act on
// them. Each one either reaches the script as one argument, or is refused
// and nothing runs; the marker file never appears.
TEST_F(EncoderLineTest, ABatchFileGetsEveryValueWholeAndRunsNothing) {
    const std::string echo = " echo x> \"" + marker_ + "\" ";
    struct Row {
        std::string title;
        bool refused;
    } rows[] = {
        {"a &" + echo + "& rem ", false},
        {"a\" &" + echo + "& rem \"", false},
        {"12\" Mix & Remix", false},
        {"\\\" &" + echo, false},
        {"| < > ^ ( ) ! , ; = \t", false},
        {"!PATH! !x", false},
        {"a\"b\"\"c\\", false},
        {"", false},
        {"100%PATH%", true},
        {"50% &" + echo, true},
        {"a\n&" + echo, true},
        {"a\r&" + echo, true},
    };
    const std::string scripts[] = {WriteScript("all.bat", "%*"), WriteScript("each.CMD", "%1 %2 %3 %4")};
    for (const std::string &script : scripts) {
        ASSERT_TRUE(platform::RunsThroughCommandShell(script.c_str()));
        encbridge::PathBuffer encoder;
        Set(encoder, script);
        for (const Row &row : rows) {
            Set(track_.title, row.title);
            encbridge::CommandBuffer line;
            Set(line, "--tag %ttit% %i% %o%");
            const CommandStatus status =
                BuildCommandLine(encoder, CommandStyle::BatchFile, line, wav_, output_, album_, kNoTags, 0);
            if (row.refused) {
                EXPECT_EQ(status, CommandStatus::Unsafe) << script << ": " << row.title;
                continue;
            }
            ASSERT_EQ(status, CommandStatus::Complete) << row.title;
            EXPECT_EQ(Run(line, true), (std::vector<std::string>{"--tag", row.title, wav_, output_}))
                << script << ": " << line;
            EXPECT_FALSE(FileExists(marker_)) << script << ": " << line;
        }
    }
}

// Code page 932: trail bytes equal to '\' (ソ 表 能) and broken characters.
// The test command runs these in a wine prefix of that code page, and says
// so through ENCBRIDGE_EXPECT_CODEPAGE, so that they cannot skip there.
TEST_F(EncoderLineTest, CodePage932ValuesStayOneArgument) {
    const char *expected = std::getenv("ENCBRIDGE_EXPECT_CODEPAGE");
    if (expected != nullptr) {
        ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
    }
    if (GetACP() != 932) GTEST_SKIP() << "runs where the ANSI code page is 932";
    struct Row {
        std::string value;
        bool refused;
    } rows[] = {
        {"\x83\x5C", false},          // ソ, its trail byte '\' before our closing quote
        {"\x95\x5C\x94\x5C", false},  // 表能
        {"\x83\x5C\"x y", false},     // ソ"x y
        {"\x83\x5C\\", false},        // ソ and a real backslash at the end
        {"a \x83\x5C\\\" b", false},  // a real backslash before a quote
        {"a\x83", true},              // a lead byte with nothing after it
        {"a\x83\" b", true},          // ...or with a quote after it
    };
    const std::string fake = testing_support::FakeEncoderPath();
    for (const Row &row : rows) {
        char quoted[1024];
        const encbridge::QuoteResult result = encbridge::QuoteArgument(CommandStyle::Arguments, quoted, sizeof quoted,
                                                                       row.value.c_str(), row.value.size() + 1);
        if (row.refused) {
            EXPECT_EQ(result, encbridge::QuoteResult::Unsafe) << row.value;
            continue;
        }
        ASSERT_EQ(result, encbridge::QuoteResult::Quoted) << row.value;
        const std::string line = "\"" + fake + "\" --log \"" + log_ + "\" --tag " + quoted + " x";
        const std::vector<std::wstring> wide = SplitWide(line);
        ASSERT_EQ(wide.size(), 6u) << line;
        EXPECT_EQ(wide[4], Wide(row.value)) << line;
        EXPECT_EQ(Run(line, false), (std::vector<std::string>{"--tag", row.value, "x"})) << line;
    }
    // Through cmd.exe too.
    const std::string script = WriteScript("all.bat", "%*");
    encbridge::PathBuffer encoder;
    Set(encoder, script);
    Set(track_.title, "\x83\x5C & \x95\x5C\"");
    encbridge::CommandBuffer line;
    Set(line, "--tag %ttit% %i% %o%");
    ASSERT_EQ(BuildCommandLine(encoder, CommandStyle::BatchFile, line, wav_, output_, album_, kNoTags, 0),
              CommandStatus::Complete);
    EXPECT_EQ(Run(line, true), (std::vector<std::string>{"--tag", track_.title, wav_, output_})) << line;
}

}  // namespace
