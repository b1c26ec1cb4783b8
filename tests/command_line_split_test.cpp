// One table of command lines and the items a Windows program gets from them.
// On Windows the table checks CommandLineToArgvW itself, on Linux the
// module's splitter: so both builds hand the encoder the same arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder/argument_quoting.h"
#include "test_support.h"

#if !defined(_WIN32)
#include "platform/posix/command_line_split.h"
#endif

using testing_support::SplitCommandLine;
using Items = std::vector<std::string>;

namespace {

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    struct Row {
        const char *line;
        Items items;
    } rows[] = {
        // The program.
        {R"("C:\Program Files\enc.exe" -V2 "D:\Rips\#temp(01).wav")",
         {R"(C:\Program Files\enc.exe)", "-V2", R"(D:\Rips\#temp(01).wav)"}},
        {R"("C:\enc.exe")", {R"(C:\enc.exe)"}},
        {"enc.exe a b", {"enc.exe", "a", "b"}},
        {R"(C:\x\"y z)", {R"(C:\x\"y)", "z"}},
        {R"("C:\dir\"x y)", {R"(C:\dir\)", "x", "y"}},
        {R"("a b"c d)", {"a b", "c", "d"}},
        {R"("unclosed program)", {"unclosed program"}},
        {" p a", {"", "p", "a"}},
        {R"("" a)", {"", "a"}},
        // Blanks.
        {"p\ta\t\tb", {"p", "a", "b"}},
        {"p a   ", {"p", "a"}},
        {"p   ", {"p"}},
        // Double quotes.
        {R"(p "a b" c)", {"p", "a b", "c"}},
        {R"(p a"b c"d)", {"p", "ab cd"}},
        {R"(p "a	b")", {"p", "a\tb"}},
        {R"(p "a b)", {"p", "a b"}},
        {R"(p "a b  )", {"p", "a b  "}},
        {R"(p "" x)", {"p", "", "x"}},
        {R"(p "")", {"p", ""}},
        {R"(p "a""b")", {"p", "a\"b"}},
        {R"(p "a""b c")", {"p", "a\"b", "c"}},
        {R"(p """)", {"p", "\""}},
        {R"(p """")", {"p", "\""}},
        // Backslashes.
        {R"(p C:\dir\file \\srv\share\)", {"p", R"(C:\dir\file)", R"(\\srv\share\)"}},
        {R"(p a\"b)", {"p", "a\"b"}},
        {R"(p a\\"b c")", {"p", R"(a\b c)"}},
        {R"(p a\\\"b)", {"p", R"(a\"b)"}},
        {R"(p a\\\\"b")", {"p", R"(a\\b)"}},
        {R"(p "a\\" b)", {"p", R"(a\)", "b"}},
        {R"(p "a\" b")", {"p", R"(a" b)"}},
        {R"(p \ \\)", {"p", R"(\)", R"(\\)"}},
        // Bytes are passed through as they are.
        {"p \"caf\xE9 \xFC\" \x80\xFF", {"p", "caf\xE9 \xFC", "\x80\xFF"}},
        {"p a\nb", {"p", "a\nb"}},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(SplitCommandLine(row.line), row.items) << row.line;
    }
}

// What QuoteArgument writes, split again, is the value it was given.
TEST(SplitCommandLine, GivesBackEveryQuotedValue) {
    std::string everyByte;
    for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
    const Items values = {
        "",
        "plain",
        "two words",
        "tab\there",
        " leading and trailing ",
        R"(12" Remix)",
        R"(AC\DC\)",
        R"(\\srv\share\)",
        R"(a\\"b)",
        "\"",
        "\\",
        "\\\\",
        R"(\")",
        R"("quoted")",
        R"(a""b)",
        R"(-o "x" \)",
        "%ttit% %o",
        "\xE9t\xE9 \x81\x5C",
        everyByte,
    };
    Items expected = {R"(C:\enc\enc.exe)"};
    std::string line = R"("C:\enc\enc.exe")";
    for (const std::string &value : values) {
        char quoted[1024];
        ASSERT_EQ(encbridge::QuoteArgument(encbridge::CommandStyle::Arguments, quoted, sizeof quoted, value.c_str(),
                                           value.size() + 1),
                  encbridge::QuoteResult::Quoted)
            << value;
        EXPECT_EQ(SplitCommandLine(std::string(R"("C:\enc\enc.exe" )") + quoted), (Items{R"(C:\enc\enc.exe)", value}))
            << quoted;
        line += std::string(" ") + quoted;
        expected.push_back(value);
    }
    EXPECT_EQ(SplitCommandLine(line), expected);
}

#if !defined(_WIN32)
TEST(SplitForSpawn, GivesTheProgramAndTheWholeArgumentVector) {
    struct Row {
        const char *line;
        bool runnable;
        const char *program;
        Items arguments;
    } rows[] = {
        {R"("/opt/my enc/enc" -V2 "a b")", true, "/opt/my enc/enc", {"/opt/my enc/enc", "-V2", "a b"}},
        {"/usr/bin/flac", true, "/usr/bin/flac", {"/usr/bin/flac"}},
        {"", false, "", {}},
        {R"("" -x)", false, "", {}},
        {" /usr/bin/flac", false, "", {}},
    };
    for (const Row &row : rows) {
        std::string program = "left over";
        Items arguments = {"left over"};
        EXPECT_EQ(encbridge::platform::SplitForSpawn(row.line, program, arguments), row.runnable) << row.line;
        EXPECT_EQ(program, row.program) << row.line;
        EXPECT_EQ(arguments, row.arguments) << row.line;
    }
}
#endif

}  // namespace
