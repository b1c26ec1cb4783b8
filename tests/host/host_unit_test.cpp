// The reference host's parsing of its command line, cue sheets and name
// patterns, without the module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cue_image.h"
#include "host_options.h"
#include "progress.h"
#include "report.h"
#include "track_names.h"

namespace host {
namespace {

TEST(TrackList, AcceptsNumbersAndRanges) {
    struct Case {
        const char *text;
        std::vector<std::pair<int, int>> spans;
    };
    const Case cases[] = {
        {"1", {{1, 1}}},
        {"1,3-5", {{1, 1}, {3, 5}}},
        {"2-2,10", {{2, 2}, {10, 10}}},
        {"7,2", {{7, 7}, {2, 2}}},
    };
    for (const Case &c : cases) {
        std::vector<TrackSpan> spans;
        std::string error;
        ASSERT_TRUE(ParseTrackList(c.text, spans, error)) << c.text << ": " << error;
        ASSERT_EQ(spans.size(), c.spans.size()) << c.text;
        for (std::size_t i = 0; i < spans.size(); ++i) {
            EXPECT_EQ(spans[i].first, c.spans[i].first) << c.text;
            EXPECT_EQ(spans[i].last, c.spans[i].second) << c.text;
        }
    }
}

TEST(TrackList, RefusesWhatIsNoTrackList) {
    for (const char *text : {"", "0", "a", "1,", ",1", "3-", "-3", "5-3", "1,,2", "1-2-3", "1 ,2", "+1", "0-2"}) {
        std::vector<TrackSpan> spans;
        std::string error;
        EXPECT_FALSE(ParseTrackList(text, spans, error)) << '"' << text << '"';
        EXPECT_NE(error.find("--tracks"), std::string::npos) << text;
    }
}

TEST(TrackList, SelectsTheNamedTracksOnly) {
    std::vector<TrackSpan> spans;
    std::string error;
    ASSERT_TRUE(ParseTrackList("1,3-5,9", spans, error));
    const bool expected[] = {false, true, false, true, true, true, false, false, false, true, false};
    for (int number = 0; number <= 10; ++number) EXPECT_EQ(TrackSelected(spans, number), expected[number]) << number;
    EXPECT_TRUE(TrackSelected({}, 42)) << "no list selects every track";
}

TEST(PieceSize, WholeSectorsOnly) {
    struct Case {
        const char *text;
        int size;  // 0: refused
    };
    const Case cases[] = {{"2352", 2352}, {"58800", 58800}, {"4704", 4704}, {"0", 0},   {"2351", 0},     {"2353", 0},
                          {"-2352", 0},   {"4704x", 0},     {"", 0},        {"1e4", 0}, {"999999999", 0}};
    for (const Case &c : cases) {
        int size = -1;
        std::string error;
        EXPECT_EQ(ParsePieceSize(c.text, size, error), c.size != 0) << c.text;
        if (c.size != 0) {
            EXPECT_EQ(size, c.size) << c.text;
        }
    }
}

TEST(Options, ReadsEveryOptionInBothSpellings) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(
        ParseOptions({"album.cue", "--plugin", "m.so", "--settings=s.ini", "--out", "o", "--name={title}", "--tracks",
                      "2-3", "--end-by=boundary", "--piece-size", "4704", "--dry-run", "--overwrite"},
                     options, error))
        << error;
    EXPECT_EQ(options.cuePath, "album.cue");
    EXPECT_EQ(options.pluginPath, "m.so");
    EXPECT_EQ(options.settingsPath, "s.ini");
    EXPECT_EQ(options.outFolder, "o");
    EXPECT_EQ(options.namePattern, "{title}");
    ASSERT_EQ(options.tracks.size(), 1u);
    EXPECT_EQ(options.tracks[0].first, 2);
    EXPECT_EQ(options.tracks[0].last, 3);
    EXPECT_EQ(options.endBy, EndBy::Boundary);
    EXPECT_EQ(options.pieceSize, 4704);
    EXPECT_TRUE(options.dryRun);
    EXPECT_TRUE(options.overwrite);
    EXPECT_FALSE(options.help);
}

TEST(Options, DefaultsWithoutArguments) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(ParseOptions({}, options, error));
    EXPECT_TRUE(options.cuePath.empty()) << "no cue sheet makes the demo";
    EXPECT_EQ(options.endBy, EndBy::Zero);
    EXPECT_EQ(options.pieceSize % kSectorBytes, 0);
    EXPECT_TRUE(options.tracks.empty());
}

TEST(Options, RefusesWrongCommandLines) {
    struct Case {
        std::vector<std::string> arguments;
        const char *message;
    };
    const Case cases[] = {
        {{"--plugin"}, "--plugin needs a value"},
        {{"--dry-run=yes"}, "--dry-run takes no value"},
        {{"--fast"}, "unknown option --fast"},
        {{"a.cue", "b.cue"}, "only one cue sheet"},
        {{"--end-by", "eof"}, "neither zero nor boundary"},
        {{"--name="}, "the pattern is empty"},
        {{"--tracks", "x"}, "--tracks"},
        {{"--piece-size", "100"}, "multiple of 2352"},
    };
    for (const Case &c : cases) {
        HostOptions options;
        std::string error;
        EXPECT_FALSE(ParseOptions(c.arguments, options, error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(FileNames, ReplaceWhatFileSystemsRefuse) {
    struct Case {
        const char *name;
        const char *safe;
    };
    const Case cases[] = {
        {"Plain Name", "Plain Name"},
        {"AC/DC", "AC_DC"},
        {"a\\b:c*d?e\"f<g>h|i", "a_b_c_d_e_f_g_h_i"},
        {"tab\there\x7f", "tab_here_"},
        {"  padded  ", "padded"},
        {"ends with dots...", "ends with dots"},
        {"dots and blanks . .", "dots and blanks"},
        {"...", ""},
        {"..", ""},
        {".hidden", ".hidden"},
        {"Caf\xC3\xA9", "Caf\xC3\xA9"},
    };
    for (const Case &c : cases) EXPECT_EQ(SafeFileName(c.name), c.safe) << c.name;
}

TEST(FileNames, PatternFieldsAreFilledAndMadeSafe) {
    const NameFields fields{7, "Intro: Part 1/2", "The Band", "Live?"};
    struct Case {
        const char *pattern;
        const char *name;
    };
    const Case cases[] = {
        {"{number} {title}", "07 Intro_ Part 1_2"},
        {"{performer} - {title}", "The Band - Intro_ Part 1_2"},
        {"{album}/{number}", "Live__07"},
        {"{number}{number}", "0707"},
        {"no fields", "no fields"},
    };
    for (const Case &c : cases) EXPECT_EQ(MakeTrackName(c.pattern, fields, 200), c.name) << c.pattern;
}

TEST(FileNames, EmptyNamesGetTheTrackNumber) {
    EXPECT_EQ(MakeTrackName("{title}", {12, "", "", ""}, 200), "Track 12");
    EXPECT_EQ(MakeTrackName("{title}", {3, " ... ", "", ""}, 200), "Track 03");
}

TEST(FileNames, CutNeverSplitsACharacter) {
    // Three two-byte characters; five bytes leave room for two of them.
    const NameFields fields{1, "\xC3\xA9\xC3\xA9\xC3\xA9", "", ""};
    EXPECT_EQ(MakeTrackName("{title}", fields, 5), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(MakeTrackName("{title}", fields, 6), "\xC3\xA9\xC3\xA9\xC3\xA9");
    // A cut that ends in a blank leaves no blank at the end.
    EXPECT_EQ(MakeTrackName("{title}", {1, "ab cd", "", ""}, 3), "ab");
}

TEST(FileNames, PatternsNameKnownFieldsOnly) {
    for (const char *pattern : {"{number} {title}", "{performer} - {album}", "plain", ""}) {
        std::string error;
        EXPECT_TRUE(CheckNamePattern(pattern, error)) << pattern << ": " << error;
    }
    for (const char *pattern : {"{length}", "{title", "{Title}", "{number} {}"}) {
        std::string error;
        EXPECT_FALSE(CheckNamePattern(pattern, error)) << pattern;
        EXPECT_NE(error.find("is not a field"), std::string::npos) << error;
    }
}

const char kCue[] =
    "REM DATE 1999\n"
    "REM COMMENT \"album comment\"\n"
    "PERFORMER \"Band\"\n"
    "TITLE \"Album\"\n"
    "FILE \"image.wav\" WAVE\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"One\"\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Say \\\"Hi\\\"\"\n"
    "    PERFORMER \"Guest\"\n"
    "    REM COMMENT \"track comment\"\n"
    "    INDEX 00 00:02:00\n"
    "    INDEX 01 00:03:00\n"
    "  TRACK 03 AUDIO\n"
    "    INDEX 00 00:05:10\n"
    "    INDEX 01 00:06:00\n";

TEST(CueSheet, ReadsTextsAndGivesPregapsToThePreviousTrack) {
    CueAlbum album;
    std::string error;
    ASSERT_TRUE(ParseCueText(kCue, "/images/", "test.cue", album, error)) << error;
    EXPECT_EQ(album.title, "Album");
    EXPECT_EQ(album.performer, "Band");
    EXPECT_EQ(album.year, "1999");
    EXPECT_EQ(album.comment, "album comment");
    ASSERT_EQ(album.files.size(), 1u);
    EXPECT_EQ(album.files[0].path, "/images/image.wav");
    ASSERT_EQ(album.tracks.size(), 3u);
    EXPECT_EQ(album.tracks[0].title, "One");
    EXPECT_EQ(album.tracks[0].performer, "Band");
    EXPECT_EQ(album.tracks[0].comment, "album comment");
    EXPECT_EQ(album.tracks[1].title, "Say \"Hi\"");
    EXPECT_EQ(album.tracks[1].performer, "Guest");
    EXPECT_EQ(album.tracks[1].comment, "track comment");
    EXPECT_EQ(album.tracks[1].year, "1999");
    EXPECT_EQ(album.tracks[2].title, "");

    // 600 sectors of image, and a little more that fills no whole sector.
    const std::int64_t frames = 600 * kFramesPerSector + 100;
    ASSERT_TRUE(PlaceTracks(album, {frames}, error)) << error;
    const std::int64_t expected[3][2] = {{0, 225 * kFramesPerSector},
                                         {225 * kFramesPerSector, 450 * kFramesPerSector},
                                         {450 * kFramesPerSector, frames}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(album.tracks[i].firstFrame, expected[i][0]) << "track " << i + 1;
        EXPECT_EQ(album.tracks[i].endFrame, expected[i][1]) << "track " << i + 1;
    }
}

TEST(CueSheet, ByteOrderMarkAndWindowsLineEndsAreRead) {
    std::string text = "\xEF\xBB\xBF";
    for (const char *p = kCue; *p; ++p) {
        if (*p == '\n') text += '\r';
        text += *p;
    }
    CueAlbum album;
    std::string error;
    ASSERT_TRUE(ParseCueText(text, "", "test.cue", album, error)) << error;
    ASSERT_EQ(album.tracks.size(), 3u);
    EXPECT_EQ(album.title, "Album");
    EXPECT_EQ(album.comment, "album comment");
    EXPECT_EQ(album.tracks[2].startSector, 450);
}

TEST(CueSheet, RefusesWhatCannotBeRipped) {
    struct Case {
        const char *text;
        const char *message;
    };
    const Case cases[] = {
        {"not a cue sheet at all\n", "test.cue is not a valid cue sheet"},
        {"", "test.cue is not a valid cue sheet"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n", "track 1 of test.cue is a data track"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n"
         "    INDEX 00 00:02:00\n",
         "track 2 of test.cue: INDEX 00 at 00:02:00 does not follow the index before it"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:05:00\n  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n",
         "track 2 of test.cue starts at 00:04:00, not after the track before it"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n", "track 1 of test.cue has no INDEX 01"},
    };
    for (const Case &c : cases) {
        CueAlbum album;
        std::string error;
        EXPECT_FALSE(ParseCueText(c.text, "", "test.cue", album, error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(CueSheet, TracksMustStartWithinTheImage) {
    CueAlbum album;
    std::string error;
    ASSERT_TRUE(ParseCueText(kCue, "", "test.cue", album, error)) << error;
    EXPECT_FALSE(PlaceTracks(album, {450 * kFramesPerSector}, error));
    EXPECT_EQ(error, "track 3 starts at 00:06:00, but the image ends at 00:06:00");
    EXPECT_TRUE(PlaceTracks(album, {450 * kFramesPerSector + 1}, error));
    EXPECT_EQ(album.tracks[2].endFrame - album.tracks[2].firstFrame, 1);
}

TEST(Display, WidthsCountCharactersNotBytes) {
    EXPECT_EQ(TextWidth("Caf\xC3\xA9"), 4u);
    EXPECT_EQ(FitText("Caf\xC3\xA9", 6), "Caf\xC3\xA9  ");
    EXPECT_EQ(FitText("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(SectorTime(75 * 61 + 74), "01:01:74");
    EXPECT_EQ(DurationText(63.456), "1:03.46");
    EXPECT_EQ(SizeText(1023), "1023 B");
    EXPECT_EQ(SizeText(1536), "1.5 KiB");
    EXPECT_EQ(SizeText(3 * 1024 * 1024), "3.0 MiB");
}

}  // namespace
}  // namespace host
