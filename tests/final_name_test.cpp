#include "encoder/final_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

TEST(UsableFinalName, TakesFoldersBelowTheOutputFolderButNothingThatLeadsElsewhere) {
    const bool windows = std::string(testing_support::Separator()) == "\\";
    struct Row {
        const char *fileName;
        const char *extension;
        bool usable;
    };
    const Row rows[] = {
        {"01 Track", ".mp3", true},
        {"", ".mp3", true},
        // A host's naming scheme with folders; every part an ordinary name.
        {"AC/DC - Back in Black", ".mp3", true},
        {"Artist/Album/01 Title", ".flac", true},
        {"Artist\\Album\\01 Title", ".flac", true},  // a separator on Windows, a plain name on Linux
        // Parts that lead up, nowhere, or to the root.
        {"../escaped", ".mp3", false},
        {"Artist/../../x", ".mp3", false},
        {"Artist/./x", ".mp3", false},
        {"..", "", false},
        {"Artist//x", ".mp3", false},
        {"Artist/", "", false},
        {"/etc/cron.d/x", "", false},
        {"name", "/../x", false},
        {"name", "/x", false},
        // Drives, UNC and device prefixes, devices and streams: Windows only.
        {"C:\\x", ".mp3", !windows},
        {"\\\\server\\share\\x", ".mp3", !windows},
        {"\\\\?\\C:\\x", ".mp3", !windows},
        {"x:stream", ".mp3", !windows},
        {"CON", ".mp3", !windows},
        {"Artist/nul", ".flac", !windows},
        {"lpt1 ", ".mp3", !windows},
        {"COM10", ".mp3", true},
        {"CONOUT$", "", !windows},
        {"Artist/conin$ ", ".flac", !windows},
        {"lpt\xB9.x", ".mp3", !windows},  // LPT1 in code page 1252
        // The module's own temporary names, in any part.
        {"#temp(02)", ".mp3", false},
        {"#temp(02)", ".wav", false},
        {"#TEMP(100).flac", "", false},  // Windows compares names without regard to case
        {"#temp(01).wav.", "", false},   // and drops trailing dots
        {"Artist/#temp(01)", ".wav", false},
        {"#temp()", ".mp3", true},
        {"#temp(1", ".mp3", true},
        {"#temp(x)", ".mp3", true},
        {"my #temp(01)", ".mp3", true},
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
