// One table of profile file queries and what Windows answers to each. The
// Linux build checks its own reader against it; the Windows build runs the
// same table through the system's functions under wine, which proves the
// table itself wherever wine and Windows agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace {

using encbridge::platform::ProfileInt;
using encbridge::platform::ProfileString;

enum class Where {
    Everywhere,
    // Windows' answer, which wine does not give: the row is skipped under
    // wine, and `why` says how wine differs.
    NotUnderWine,
    // Unknown for Windows; the answer the Linux reader chose.
    LinuxOnly,
};

struct StringRow {
    const char *id;
    const char *file;
    const char *section;
    const char *key;
    const char *fallback;
    std::uint32_t size;
    std::string expected;  // the stored text; its length is the count returned
    Where where;
    const char *why;
};

struct IntRow {
    const char *id;
    const char *file;
    const char *section;
    const char *key;
    std::int32_t fallback;
    std::int32_t expected;
    Where where;
    const char *why;
};

// The content of the long values in long.ini: a value of n characters is the
// first n of this cycle, so a shifted copy never matches.
std::string Cycle(std::size_t n) {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += kAlphabet[i % 36];
    return text;
}

std::string IniPath(const char *file) {
    std::string path = std::string(ENCBRIDGE_TEST_DATA) + "ini/" + file;
#ifdef _WIN32
    // The data folder is a Unix path. Wine reads it only while the current
    // drive is Z:, which shows the Unix root; the drive letter makes it work
    // from any current folder.
    path = "Z:" + path;
    for (char &c : path) {
        if (c == '/') c = '\\';
    }
#endif
    return path;
}

// Returns the reason to skip the row on this build, or null to run it.
const char *SkipReason(Where where, const char *why) {
#ifdef _WIN32
    if (where == Where::LinuxOnly) return "Windows' answer is unknown; the Linux reader's choice";
    if (where == Where::NotUnderWine && testing_support::RunningUnderWine()) return why;
#else
    (void)where;
    (void)why;
#endif
    return nullptr;
}

constexpr auto kAll = Where::Everywhere;
constexpr auto kNotWine = Where::NotUnderWine;
constexpr auto kLinux = Where::LinuxOnly;

std::vector<StringRow> StringRows() {
    static const std::string longDefault = Cycle(300);
    const std::string d = "D";
    const std::string t20 = "0123456789abcdefghij";
    return {
        // Names: case, blanks, sections.
        {"S01", "main.ini", "Main", "plain", "D", 100, "hello", kAll, nullptr},
        {"S02", "main.ini", "MAIN", "PLAIN", "D", 100, "hello", kAll, nullptr},
        {"S03", "main.ini", "  Main  ", "  plain\t", "D", 100, d, kNotWine, "wine strips tabs from query names"},
        {"E01", "main.ini", "  Main  ", "  plain ", "D", 100, "hello", kAll, nullptr},
        {"E02", "main.ini", "\tMain", "plain", "D", 100, d, kNotWine, "wine strips tabs from query names"},
        {"E03", "main.ini", "Mai", "plain", "D", 100, d, kAll, nullptr},
        {"E04", "main.ini", "Main", "plai", "D", 100, d, kAll, nullptr},
        {"E05", "main.ini", "Main", "plainx", "D", 100, d, kAll, nullptr},
        {"S04", "main.ini", "Main", "spaced key", "D", 100, "value with spaces", kAll, nullptr},
        {"S05", "main.ini", "Main", "tabbed", "D", 100, "T1", kAll, nullptr},
        {"S06", "main.ini", "Spaced Section", "k", "D", 100, "v", kAll, nullptr},
        {"S07", "main.ini", " Spaced Section ", "k", "D", 100, "v", kAll, nullptr},
        {"S08", "main.ini", "Indented", "ik", "D", 100, "iv", kAll, nullptr},
        {"S09", "main.ini", "NoClose", "nc", "D", 100, "1", kNotWine, "wine opens no section for a header without ]"},
        {"S10", "main.ini", "[NoClose", "nc", "D", 100, d, kAll, nullptr},
        {"S11", "main.ini", "Trail", "t", "D", 100, "1", kAll, nullptr},
        {"S12", "main.ini", "a]b", "ab", "D", 100, d, kNotWine, "wine ends a section name at the last ]"},
        {"S13", "main.ini", "a", "ab", "D", 100, "1", kNotWine, "wine ends a section name at the last ]"},
        {"E06", "extra.ini", "First", "k", "D", 100, "1", kAll, nullptr},
        {"E07", "extra.ini", "FIRST", "Plain", "D", 100, "x", kAll, nullptr},
        {"E08", "extra.ini", "First", "tabkey", "D", 100, "same", kAll, nullptr},
        {"E09", "extra.ini", "Second", "key", "D", 100, "2", kAll, nullptr},
        {"E10", "extra.ini", "first", "other", "D", 100, d, kAll, nullptr},
        {"E12", "extra.ini", "first", "  ;indented", "D", 100, d, kLinux, nullptr},

        // Values: quotes, comments, repeated keys.
        {"S14", "main.ini", "Main", "dq", "D", 100, "quoted value", kAll, nullptr},
        {"S15", "main.ini", "Main", "sq", "D", 100, "single quoted", kAll, nullptr},
        {"S16", "main.ini", "Main", "dqpad", "D", 100, " padded ", kAll, nullptr},
        {"S17", "main.ini", "Main", "unbal", "D", 100, "\"open", kAll, nullptr},
        {"S18", "main.ini", "Main", "unbal2", "D", 100, "close\"", kAll, nullptr},
        {"S19", "main.ini", "Main", "mixedq", "D", 100, "\"a'", kAll, nullptr},
        {"S20", "main.ini", "Main", "inner", "D", 100, "a\"b", kAll, nullptr},
        {"S21", "main.ini", "Main", "emptyq", "D", 100, "", kAll, nullptr},
        {"S22", "main.ini", "Main", "onlyq", "D", 100, "\"", kAll, nullptr},
        {"S23", "main.ini", "Main", "dbl", "D", 100, "\"x\"", kAll, nullptr},
        {"E13", "extra.ini", "First", "q", "D", 100, " a ", kAll, nullptr},
        {"E14", "extra.ini", "First", "lone", "D", 100, "'", kAll, nullptr},
        {"S24", "main.ini", "Main", "semi", "D", 100, "value ; not a comment", kAll, nullptr},
        {"S25", "main.ini", "Main", "commented", "D", 100, d, kAll, nullptr},
        {"S26", "main.ini", "Main", ";commented", "D", 100, d, kNotWine, "wine reads a ; line as a key"},
        {"S27", "main.ini", "Main", "hashed", "D", 100, d, kAll, nullptr},
        {"S28", "main.ini", "Main", "#hashed", "D", 100, "h1", kAll, nullptr},
        {"S29", "main.ini", "Main", "noequals", "D", 100, d, kAll, nullptr},
        {"S30", "main.ini", "Main", "dup", "D", 100, "first", kAll, nullptr},
        {"S31", "main.ini", "Main", "onlyinsecond", "D", 100, d, kAll, nullptr},
        {"S32", "main.ini", "Main", "eq", "D", 100, "a=b=c", kAll, nullptr},
        {"S33", "main.ini", "Main", "empty", "D", 100, "", kAll, nullptr},
        {"S34", "main.ini", "Main", "", "D", 100, "nokeyname", kAll, nullptr},
        {"S35", "main.ini", "Main", "missing", "D", 100, d, kAll, nullptr},
        {"S36", "main.ini", "Nope", "plain", "D", 100, d, kAll, nullptr},
        {"E15", "main.ini", "Main", nullptr, "D", 100, d, kLinux, nullptr},
        {"E16", "main.ini", nullptr, "plain", "D", 100, d, kLinux, nullptr},

        // The buffer size counts the NUL; quotes go before the cut.
        {"S38", "main.ini", "Main", "long", "D", 0, "", kAll, nullptr},
        {"S39", "main.ini", "Main", "long", "D", 1, "", kAll, nullptr},
        {"S40", "main.ini", "Main", "long", "D", 2, "0", kAll, nullptr},
        {"S41", "main.ini", "Main", "long", "D", 5, "0123", kAll, nullptr},
        {"S42", "main.ini", "Main", "long", "D", 20, t20.substr(0, 19), kAll, nullptr},
        {"S43", "main.ini", "Main", "long", "D", 21, t20, kAll, nullptr},
        {"S44", "main.ini", "Main", "qlong", "D", 5, "0123", kAll, nullptr},
        {"S45", "main.ini", "Main", "qlong", "D", 10, "012345678", kAll, nullptr},
        {"S46", "main.ini", "Main", "qlong", "D", 11, "0123456789", kNotWine,
         "wine drops the last character of a quoted value that fills the buffer"},
        {"S47", "main.ini", "Main", "qlong", "D", 12, "0123456789", kAll, nullptr},
        {"S48", "main.ini", "Main", "qlong", "D", 13, "0123456789", kAll, nullptr},
        // The module asks with buffer sizes of 255 and 254.
        {"E17", "long.ini", "Long", "v253", "D", 255, Cycle(253), kAll, nullptr},
        {"E18", "long.ini", "Long", "v254", "D", 255, Cycle(254), kAll, nullptr},
        {"E19", "long.ini", "Long", "v255", "D", 255, Cycle(254), kAll, nullptr},
        {"E20", "long.ini", "Long", "v256", "D", 255, Cycle(254), kAll, nullptr},
        {"E21", "long.ini", "Long", "v253", "D", 254, Cycle(253), kAll, nullptr},
        {"E22", "long.ini", "Long", "v254", "D", 254, Cycle(253), kAll, nullptr},
        {"E23", "long.ini", "Long", "q254", "D", 255, Cycle(254), kNotWine,
         "wine drops the last character of a quoted value that fills the buffer"},
        {"E24", "long.ini", "Long", "q254", "D", 256, Cycle(254), kAll, nullptr},
        {"E25", "long.ini", "Long", "q254", "D", 254, Cycle(253), kAll, nullptr},
        {"E26", "long.ini", "Long", "q255", "D", 255, Cycle(254), kAll, nullptr},
        {"E27", "long.ini", "Long", "v5000", "D", 4096, Cycle(4095), kAll, nullptr},
        {"E28", "long.ini", "Long", "v5000", "D", 6000, Cycle(5000), kAll, nullptr},

        // The default.
        {"S49", "main.ini", "Main", "missing", "defaultvalue", 5, "defa", kAll, nullptr},
        {"S50", "main.ini", "Main", "missing", "dv   ", 100, "dv", kAll, nullptr},
        {"S51", "main.ini", "Main", "missing", "  dv", 100, "  dv", kAll, nullptr},
        {"S52", "main.ini", "Main", "missing", "dv\t", 100, "dv\t", kAll, nullptr},
        {"S53", "main.ini", "Main", "missing", "\"dv\"", 100, "dv", kAll, nullptr},
        {"S54", "main.ini", "Main", "missing", nullptr, 100, "", kAll, nullptr},
        {"S55", "main.ini", "Main", "missing", "   ", 100, " ", kAll, nullptr},
        {"E29", "main.ini", "Main", "missing", "'dv'  ", 100, "dv", kAll, nullptr},
        {"E30", "long.ini", "Long", "missing", longDefault.c_str(), 255, Cycle(254), kAll, nullptr},

        // Files: line ends, encodings, stray bytes.
        {"S56", "missing.ini", "S", "k1", "D", 100, d, kAll, nullptr},
        {"E31", "", "S", "k1", "D", 100, d, kAll, nullptr},
        {"E35", ".", "S", "k1", "D", 100, d, kAll, nullptr},
        {"S57", "empty.ini", "S", "k1", "D", 100, d, kAll, nullptr},
        {"S58", "lf.ini", "S", "k2", "D", 100, "v2", kAll, nullptr},
        {"S59", "cr.ini", "S", "k2", "D", 100, "v2", kAll, nullptr},
        {"S60", "mixed.ini", "S", "k1", "D", 100, "v1", kAll, nullptr},
        {"S61", "mixed.ini", "S", "k3", "D", 100, "v3", kAll, nullptr},
        {"S62", "bom8.ini", "S", "k1", "D", 100, d, kNotWine, "wine skips a UTF-8 byte order mark"},
        {"S63", "bom8b.ini", "S", "k1", "D", 100, "v1", kAll, nullptr},
        {"S64", "u16.ini", "S", "k1", "D", 100, "v1", kAll, nullptr},
        {"E32", "u16more.ini", "S", "k1", "D", 100, "caf\xC3\xA9", kLinux, nullptr},
        {"E33", "u16more.ini", "S", "k2", "D", 100, "\xF0\x9F\x98\x80!", kLinux, nullptr},
        {"E34", "u16more.ini", "S", "k3", "D", 100, "a?b", kLinux, nullptr},
        {"S65", "nofinal.ini", "S", "k1", "D", 100, "v1", kAll, nullptr},
        {"S66", "ctrlz.ini", "S", "k1", "D", 100, "v1", kAll, nullptr},
        {"S67", "ctrlz.ini", "S", "k2", "D", 100, "v2", kAll, nullptr},
        {"S68", "nul.ini", "S", "k1", "D", 100, d, kAll, nullptr},
        {"S69", "nul.ini", "S", "k2", "D", 100, d, kAll, nullptr},
        {"S70", "hi.ini", "S", "k1", "D", 100, "caf\xE9", kAll, nullptr},
    };
}

std::vector<IntRow> IntRows() {
    return {
        {"I71", "nums.ini", "N", "n1", 77, 42, kAll, nullptr},
        {"I72", "nums.ini", "N", "n2", 77, -17, kAll, nullptr},
        {"I73", "nums.ini", "N", "n3", 77, 5, kAll, nullptr},
        {"I74", "nums.ini", "N", "n4", 77, 31, kAll, nullptr},
        {"I75", "nums.ini", "N", "n5", 77, 0, kAll, nullptr},
        {"I76", "nums.ini", "N", "n6", 77, 12, kAll, nullptr},
        {"I77", "nums.ini", "N", "n7", 77, 12, kAll, nullptr},
        {"I78", "nums.ini", "N", "n8", 77, 0, kAll, nullptr},
        {"I79", "nums.ini", "N", "n9", 77, 1, kAll, nullptr},
        {"I80", "nums.ini", "N", "n10", 77, INT32_MIN, kAll, nullptr},
        {"I81", "nums.ini", "N", "n11", 77, INT32_MAX, kAll, nullptr},
        {"I82", "nums.ini", "N", "n12", 77, 33, kAll, nullptr},
        {"I83", "nums.ini", "N", "n13", 77, 77, kAll, nullptr},
        {"I84", "nums.ini", "N", "n14", 77, 0, kLinux, nullptr},
        {"I85", "nums.ini", "N", "n15", 77, 0, kLinux, nullptr},
        {"I86", "nums.ini", "N", "n16", 77, 17, kAll, nullptr},
        {"I87", "nums.ini", "N", "n17", 77, 0, kAll, nullptr},
        {"I88", "nums.ini", "N", "n18", 77, 1661992959, kAll, nullptr},
        {"I89", "nums.ini", "N", "n19", 77, 1, kAll, nullptr},
        {"I90", "nums.ini", "N", "n20", 77, -16, kAll, nullptr},
        {"I91", "nums.ini", "N", "n21", 77, 0, kAll, nullptr},
        {"I92", "nums.ini", "N", "n22", 77, 0, kAll, nullptr},
        {"I93", "nums.ini", "N", "n23", 77, 0, kAll, nullptr},
        {"I94", "nums.ini", "N", "n24", 77, 7, kAll, nullptr},
        {"I95", "nums.ini", "N", "n25", 77, INT32_MAX, kAll, nullptr},
        {"I96", "nums.ini", "N", "n26", 77, -1, kAll, nullptr},
        {"I97", "nums.ini", "N", "n27", 77, 1, kAll, nullptr},
        {"I98", "nums.ini", "N", "n28", 77, 8, kAll, nullptr},
        {"I99", "nums.ini", "N", "n29", 77, 8, kAll, nullptr},
        {"I100", "nums.ini", "N", "n30", 77, 0, kLinux, nullptr},
        {"I101", "nums.ini", "N", "n31", 77, 42, kLinux, nullptr},
        {"I102", "nums.ini", "N", "n32", 77, -1, kAll, nullptr},
        {"I103", "nums.ini", "N", "n33", 77, -1, kAll, nullptr},
        {"I104", "nums.ini", "N", "absent", 77, 77, kAll, nullptr},
        {"I105", "nums.ini", "N", "absent", -5, -5, kAll, nullptr},
        {"I106", "missing.ini", "N", "n1", 77, 77, kAll, nullptr},
        {"E40", "extra.ini", "Ints", "quotedempty", 77, 77, kAll, nullptr},
        {"E41", "extra.ini", "Ints", "single", 77, 12, kAll, nullptr},
        {"E42", "extra.ini", "Ints", "hexwrap", 77, 5, kAll, nullptr},
        {"E43", "extra.ini", "Ints", "neghex", 77, 1, kAll, nullptr},
        {"E44", "extra.ini", "Ints", "mixedhex", 77, 2748, kAll, nullptr},
        {"E45", "extra.ini", "Ints", "plushex", 77, 16, kAll, nullptr},
        {"E46", "extra.ini", "Ints", "blanks", 77, 0, kAll, nullptr},
        {"E47", "extra.ini", "Ints", "inner", 77, -3, kAll, nullptr},
        {"E48", "nul.ini", "S", "k2", 77, 77, kAll, nullptr},
        {"E49", "nums.ini", "n", "N1", 77, 42, kAll, nullptr},
        {"E50", "nums.ini", "N", nullptr, 77, 77, kLinux, nullptr},
    };
}

// Names the row in failure messages instead of dumping its bytes.
void PrintTo(const StringRow &row, std::ostream *out) { *out << row.id; }
void PrintTo(const IntRow &row, std::ostream *out) { *out << row.id; }

class ProfileStringTable : public testing::TestWithParam<StringRow> {};
class ProfileIntTable : public testing::TestWithParam<IntRow> {};

TEST_P(ProfileStringTable, StoresWhatWindowsStores) {
    const StringRow &row = GetParam();
    if (const char *reason = SkipReason(row.where, row.why)) GTEST_SKIP() << reason;

    // Bytes past the given size must stay as they were.
    constexpr std::size_t kGuard = 16;
    std::vector<char> buffer(row.size + kGuard, '\xCC');
    std::string path = row.file[0] ? IniPath(row.file) : std::string();
    std::uint32_t count = ProfileString(row.section, row.key, row.fallback, buffer.data(), row.size, path.c_str());

    EXPECT_EQ(count, row.expected.size());
    ASSERT_LE(count, row.size);
    EXPECT_EQ(std::string(buffer.data(), count), row.expected);
    if (row.size > 0) {
        EXPECT_EQ(buffer[count], '\0');
    }
    EXPECT_EQ(std::string(buffer.begin() + row.size, buffer.end()), std::string(kGuard, '\xCC'));
}

TEST_P(ProfileIntTable, ReadsWhatWindowsReads) {
    const IntRow &row = GetParam();
    if (const char *reason = SkipReason(row.where, row.why)) GTEST_SKIP() << reason;
    EXPECT_EQ(ProfileInt(row.section, row.key, row.fallback, IniPath(row.file).c_str()), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileStringTable, testing::ValuesIn(StringRows()),
                         [](const testing::TestParamInfo<StringRow> &info) { return std::string(info.param.id); });
INSTANTIATE_TEST_SUITE_P(Rows, ProfileIntTable, testing::ValuesIn(IntRows()),
                         [](const testing::TestParamInfo<IntRow> &info) { return std::string(info.param.id); });

}  // namespace
