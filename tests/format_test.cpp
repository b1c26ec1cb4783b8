#include "platform/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

using encbridge::FormatArg;
using encbridge::FormatStatus;
using encbridge::FormatText;

namespace {

struct Row {
    const char *name;
    std::size_t size;
    const char *pattern;
    std::initializer_list<FormatArg> args;
    const char *text;
    std::size_t reported;
    FormatStatus status;
};

TEST(FormatText, WritesWithinTheBufferAndReportsTheLength) {
    const char folder[] = "D:\\Rips\\";
    const Row rows[] = {
        {"base name", 260, "%s%s(%02d)", {folder, "#temp", 3}, "D:\\Rips\\#temp(03)", 17, FormatStatus::Complete},
        {"three digits", 260, "%s%s(%02d)", {folder, "#temp", 100}, "D:\\Rips\\#temp(100)", 18, FormatStatus::Complete},
        {"plain number", 16, "%d", {0}, "0", 1, FormatStatus::Complete},
        {"negative padded", 16, "%02d", {-5}, "-5", 2, FormatStatus::Complete},
        {"smallest int", 16, "%d", {INT_MIN}, "-2147483648", 11, FormatStatus::Complete},
        {"exactly fits", 6, "%s%s", {"ab", "cde"}, "abcde", 5, FormatStatus::Complete},
        {"one too long", 6, "%s%s", {"ab", "cdef"}, "abcde", 0, FormatStatus::Cut},
        {"cut inside a number", 4, "x%d", {12345}, "x12", 0, FormatStatus::Cut},
        {"cut in literal text", 3, "abc", {}, "ab", 0, FormatStatus::Cut},
        {"empty result", 8, "%s", {""}, "", 0, FormatStatus::Complete},
        {"size one", 1, "%s", {"abc"}, "", 0, FormatStatus::Cut},
        {"unknown conversion", 16, "%x", {1}, "", 0, FormatStatus::Failed},
        {"too few arguments", 16, "%s%s", {"a"}, "", 0, FormatStatus::Failed},
        {"too many arguments", 16, "%s", {"a", "b"}, "", 0, FormatStatus::Failed},
        {"number for text", 16, "%s", {7}, "", 0, FormatStatus::Failed},
        {"lone percent at end", 16, "100%", {}, "", 0, FormatStatus::Failed},
    };
    for (const Row &row : rows) {
        char buffer[300];
        std::memset(buffer, 'Z', sizeof buffer);
        FormatStatus status;
        std::size_t reported = FormatText(buffer, row.size, row.pattern, row.args, &status);
        EXPECT_STREQ(buffer, row.text) << row.name;
        EXPECT_EQ(reported, row.reported) << row.name;
        EXPECT_EQ(status, row.status) << row.name;
        // Not a byte past the buffer is touched.
        EXPECT_EQ(buffer[row.size], 'Z') << row.name;
    }
}

TEST(FormatText, ReadsATextWithoutNulOnlyToItsWidth) {
    struct Field {
        char text[4];
        char next[4];
    } field;
    std::memcpy(field.text, "abcd", 4);  // no NUL within the field
    std::memcpy(field.next, "XYZ", 4);
    char buffer[32];
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "[%s]", {field.text}), 6u);
    EXPECT_STREQ(buffer, "[abcd]");
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%s", {FormatArg(field.text, 2)}), 2u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(encbridge::BoundedLength(field.text), 4u);
}

TEST(FormatText, RefusesANullBuffer) {
    EXPECT_EQ(FormatText(nullptr, 10, "%s", {"a"}), 0u);
    char untouched = 'Q';
    EXPECT_EQ(FormatText(&untouched, 0, "%s", {"a"}), 0u);
    EXPECT_EQ(untouched, 'Q');
}

}  // namespace
