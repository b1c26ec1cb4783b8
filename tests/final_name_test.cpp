#include "encoder/final_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

TEST(UsableFinalName, RefusesNamesThatLeadOutOfTheFolderOrOntoATemporaryFile) {
    const bool windows = std::string(testing_support::Separator()) == "\\";
    struct Row {
        const char *fileName;
        const char *extension;
        bool usable;
    };
    const Row rows[] = {
        {"01 Track", ".mp3", true},
        {"AC/DC - Back in Black", ".mp3", false},
        {"../escaped", ".mp3", false},
        {"/etc/cron.d/x", "", false},
        {"name", "/../x", false},
        {"AC\\DC", ".mp3", !windows},  // a separator on Windows only
        {"..", "", true},              // the folder's parent by its name alone, which no move can replace
        {"#temp(02)", ".mp3", false},
        {"#temp(02)", ".wav", false},
        {"#TEMP(100).flac", "", false},  // Windows compares names without regard to case
        {"#temp(01).wav.", "", false},   // and drops trailing dots
        {"#temp()", ".mp3", true},
        {"#temp(1", ".mp3", true},
        {"#temp(x)", ".mp3", true},
        {"my #temp(01)", ".mp3", true},
        {"", ".mp3", true},
    };
    for (const Row &row : rows) {
        TrackInfo track{};
        std::strcpy(track.fileName, row.fileName);
        EXPECT_EQ(encbridge::UsableFinalName(track, row.extension), row.usable)
            << '"' << row.fileName << "\" + \"" << row.extension << '"';
    }
}

TEST(UsableFinalName, RefusesANameThatWouldBeCut) {
    TrackInfo track{};
    std::memset(track.fileName, 'n', sizeof track.fileName);  // no NUL within the field
    EXPECT_FALSE(encbridge::UsableFinalName(track, ""));
    std::memset(track.fileName, 0, sizeof track.fileName);
    std::memset(track.fileName, 'n', 255);
    EXPECT_TRUE(encbridge::UsableFinalName(track, ".mp3"));
    EXPECT_FALSE(encbridge::UsableFinalName(track, ".flac"));
}

}  // namespace
