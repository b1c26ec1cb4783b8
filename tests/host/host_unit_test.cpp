// The reference host's parsing of its command line, cue sheets and name
// patterns, without the module.
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "cue_image.h"
#include "host_options.h"
#include "interruption.h"
#include "journal_reader.h"
#include "plugin_module.h"
#include "progress.h"
#include "report.h"
#include "resume.h"
#include "rip.h"
#include "run_plan.h"
#include "settings_check.h"
#include "shelf.h"
#include "track_names.h"

namespace host {
namespace {

// A journal may hold other writers' lines, or a line cut short: whatever its
// escapes, a field reads back without a fault.
TEST(Journal, FieldsReadBackWhateverTheirEscapes) {
    struct Row {
        const char *name, *field, *text;
    } rows[] = {
        {"every escape", R"(a\\b\tc\nd\re\x7f\x1B)", "a\\b\tc\nd\re\x7f\x1b"},
        {"not hex", R"(\xZZ)", "xZZ"},
        {"one hex digit at the end", R"(\x4)", "x4"},
        {"a backslash at the end", "a\\", "a\\"},
        {"an unknown escape", R"(\q)", "q"},
    };
    for (const Row &row : rows) EXPECT_EQ(host::UnescapeField(row.field), row.text) << row.name;
    EXPECT_EQ(host::SplitRecord("t\tr\tend\t3").size(), 4u);
    EXPECT_TRUE(host::SplitRecord("no tabs").empty()) << "no record";
}

// A failed run's words: records written before they were kept still read,
// blank and progress lines are passed over, and no control character
// reaches the terminal.
TEST(Journal, AProgramsWordsShowWhateverTheRecordsAge) {
    const std::string track = "t\tr\ttrack\t2\t1\tf.flac\t0.5\texit 1\tencoder-failed\tWAV kept\tline\t-";
    const std::string album = "t\tr\talbum\t1\t0.5\texit 1\tencoder-failed\tnot done\tline";
    struct Row {
        const char *name;
        std::string line, described;
    } rows[] = {
        {"old album record", album, "album step of output 1: not done (exit 1, 0.5 s)\n    line"},
        {"album words", album + "\tno disk\\n", "line\n    it said:\n      no disk"},
        {"old track record", track, "f.flac\n    line"},
        {"track words, control characters", track + "\tEncoding\\r50%\\r\\n\\x1b[2Jgone\\n\\n  \\n",
         "line\n    it said:\n      Encoding\n      50%\n      ?[2Jgone"},
    };
    for (const Row &row : rows) {
        const std::string described = DescribeRecord({row.line, SplitRecord(row.line)});
        EXPECT_EQ(described.substr(described.size() - std::min(described.size(), row.described.size())), row.described)
            << row.name;
    }
    EXPECT_EQ(LastLine("Encoding\r50%\r\n\x1b[2Jgone\n\n  \n"), "?[2Jgone");
}

// The encoders at work, as progress shows them, are the runs the journal
// says started and has not yet ended.
TEST(Journal, TheEncodersAtWorkAreTheRunsStartedAndNotEnded) {
    const std::string lines[] = {
        "t\tr\tstarted\t1\t1",
        "t\tr\tstarted\t1\t2",
        "t\tr\tstarted\t2\t1",
        "t\tr\ttrack\t1\t2\tf.flac\t0.5\texit 0\tdone\tencoded\tline\t-",
    };
    RipOutcome outcome;
    for (const std::string &line : lines) NoteRecord({line, SplitRecord(line)}, outcome);
    EXPECT_EQ(outcome.running, (std::set<std::pair<int, int>>{{1, 1}, {2, 1}}));
}

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
    ASSERT_TRUE(ParseOptions({"album.cue", "--plugin", "m.so", "--settings=s.ini", "--out", "o", "--name={title}",
                              "--tracks", "2-3", "--end-by=boundary", "--piece-size", "4704", "--dry-run",
                              "--overwrite", "--cue-charset", "cp1251", "--first-pregap=join"},
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
    EXPECT_EQ(options.cueCharset, "cp1251");
    EXPECT_EQ(options.firstPregap, FirstPregap::Join);
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
    EXPECT_TRUE(options.cueCharset.empty()) << "the sheet's bytes decide";
    EXPECT_EQ(options.firstPregap, FirstPregap::Auto);
}

TEST(Options, RefusesWrongCommandLines) {
    // Values that the host itself refuses, with its own message in error.
    struct Case {
        std::vector<std::string> arguments;
        const char *message;
    };
    const Case cases[] = {
        {{"a.cue", "b.cue", "--out", "x/{title}"}, "--out: {title} is a track's"},
        {{"--end-by", "eof"}, "neither zero nor boundary"},
        {{"--name="}, "the pattern is empty"},
        {{"--tracks", "x"}, "--tracks"},
        {{"--piece-size", "100"}, "multiple of 2352"},
        {{"--first-pregap", "keep"}, "\"keep\" is none of track, drop and join"},
        {{"--cue-charset="}, "--cue-charset: the name is empty"},
        {{"--gaps", "before"}, "--gaps: \"before\" is none of append, prepend and drop"},
    };
    for (const Case &c : cases) {
        HostOptions options;
        std::string error;
        EXPECT_FALSE(ParseOptions(c.arguments, options, error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(Options, GetoptSaysWhatIsWrongInItsOwnWords) {
    // Unknown options and missing or surplus values are getopt_long's to
    // report, on standard error, as every GNU program does.
    struct Case {
        std::vector<std::string> arguments;
        const char *message;
    };
    const Case cases[] = {
        {{"--fast"}, "encbridge-host: unrecognized option '--fast'"},
        {{"album.cue", "--fast=1"}, "encbridge-host: unrecognized option '--fast=1'"},
        {{"--plugin"}, "encbridge-host: option '--plugin' requires an argument"},
        {{"--first-pregap"}, "encbridge-host: option '--first-pregap' requires an argument"},
        {{"--dry-run=yes"}, "encbridge-host: option '--dry-run' doesn't allow an argument"},
        {{"--o", "x"}, "encbridge-host: option '--o' is ambiguous"},
        {{"-x"}, "encbridge-host: invalid option -- 'x'"},
    };
    for (const Case &c : cases) {
        HostOptions options;
        std::string error;
        testing::internal::CaptureStderr();
        const bool parsed = ParseOptions(c.arguments, options, error);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(parsed) << c.message;
        EXPECT_TRUE(error.empty()) << error;
        EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    }
}

TEST(Options, ReadsLinesAsGetoptLongDoes) {
    struct Case {
        std::vector<std::string> arguments;
        std::string cuePath, outFolder;
        bool help, version, overwrite;
    };
    const Case cases[] = {
        // "--" ends the options: what follows is the cue sheet, dashes and all.
        {{"--out", "o", "--", "--odd.cue"}, "--odd.cue", "o", false, false, false},
        // The cue sheet may come before, between or after the options.
        {{"--out=o", "album.cue", "--overwrite"}, "album.cue", "o", false, false, true},
        // An unambiguous abbreviation names its option.
        {{"--overw", "--ou", "o"}, "", "o", false, false, true},
        // A value that looks like an option is still the value.
        {{"--out", "--help"}, "", "--help", false, false, false},
        {{"-h"}, "", "", true, false, false},
        {{"--version", "album.cue"}, "album.cue", "", false, true, false},
        // A lone "-" is a name, not an option.
        {{"-"}, "-", "", false, false, false},
    };
    for (const Case &c : cases) {
        HostOptions options;
        std::string error;
        ASSERT_TRUE(ParseOptions(c.arguments, options, error)) << error;
        EXPECT_EQ(options.cuePath, c.cuePath);
        EXPECT_EQ(options.outFolder, c.outFolder);
        EXPECT_EQ(options.help, c.help);
        EXPECT_EQ(options.version, c.version);
        EXPECT_EQ(options.overwrite, c.overwrite);
    }
}

TEST(Options, EachCallStartsAfresh) {
    // getopt_long keeps its place between calls unless it is told to start
    // over; a refused line must not leave the next one half read.
    HostOptions first;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ParseOptions({"-hx"}, first, error));
    testing::internal::GetCapturedStderr();
    HostOptions second;
    ASSERT_TRUE(ParseOptions({"a.cue", "--dry-run"}, second, error)) << error;
    EXPECT_EQ(second.cuePath, "a.cue");
    EXPECT_TRUE(second.dryRun);
    EXPECT_FALSE(second.help);
}

TEST(Options, VersionNamesTheProgramAndTheProject) {
    const std::string text = VersionText();
    EXPECT_EQ(text.rfind("encbridge-host (encbridge) ", 0), 0u) << text;
    EXPECT_EQ(text.find("unknown"), std::string::npos) << "the version comes from CMake: " << text;
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
        {"#TEMP(02) b", "_TEMP(02) b"},  // the module's own names
        {"#kept(03)-1", "_kept(03)-1"},
        {"a\xC2\x9B[2J\xC2\x9D", "a_[2J_"},  // C1 controls, as UTF-8
    };
    for (const Case &c : cases) EXPECT_EQ(SafeFileName(c.name), c.safe) << c.name;
}

TEST(FileNames, PatternFieldsAreFilledAndMadeSafe) {
    const NameFields fields{7, "Intro: Part 1/2", "The Band", "Live?", "AC/DC", "1999", "Rock", "2"};
    struct Case {
        const char *pattern;
        const char *name;
    };
    const Case cases[] = {
        {"{number} {title}", "07 Intro_ Part 1_2"},
        {"{performer} - {title}", "The Band - Intro_ Part 1_2"},
        {"{number}{number}", "0707"},
        {"no fields", "no fields"},
        // The pattern's "/" makes folders, a value's never does.
        {"{album}/{number}", "Live_/07"},
        {"{albumartist}/{date} {album}/{disc}-{number} {genre}", "AC_DC/1999 Live_/2-07 Rock"},
        // Parts that would leave the output folder or name nothing are left out.
        {"/{number}", "07"},
        {"a/./..//{number}", "a/07"},
    };
    for (const Case &c : cases) EXPECT_EQ(MakeTrackName(c.pattern, fields, 200), c.name) << c.pattern;
}

TEST(FileNames, EmptyNamesGetTheTrackNumber) {
    EXPECT_EQ(MakeTrackName("{title}", {12, "", "", "", "", "", "", ""}, 200), "Track 12");
    EXPECT_EQ(MakeTrackName("{title}", {3, " ... ", "", "", "", "", "", ""}, 200), "Track 03");
}

TEST(FileNames, CutNeverSplitsACharacter) {
    // Three two-byte characters; five bytes leave room for two of them.
    const NameFields fields{1, "\xC3\xA9\xC3\xA9\xC3\xA9", "", "", "", "", "", ""};
    EXPECT_EQ(MakeTrackName("{title}", fields, 5), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(MakeTrackName("{title}", fields, 6), "\xC3\xA9\xC3\xA9\xC3\xA9");
    // A cut that ends in a blank leaves no blank at the end.
    EXPECT_EQ(MakeTrackName("{title}", {1, "ab cd", "", "", "", "", "", ""}, 3), "ab");
    // Each part holds 255 bytes, the file's with its extension.
    const std::string long_(300, 'x');
    EXPECT_EQ(MakeTrackName("{title}/{title}", {1, long_, "", "", "", "", "", ""}, 600, 5),
              std::string(255, 'x') + "/" + std::string(250, 'x'));
}

TEST(FileNames, PatternsNameKnownFieldsOnly) {
    for (const char *pattern : {"{number} {title}", "{performer} - {album}", "plain", ""}) {
        std::string error;
        EXPECT_TRUE(CheckNamePattern(pattern, error)) << pattern << ": " << error;
    }
    for (const char *pattern : {"{length}", "{title", "{Title}", "{number} {}"}) {
        std::string error;
        EXPECT_FALSE(CheckNamePattern(pattern, error)) << pattern;
        EXPECT_NE(error.find("is not a field; use {number}, {title}, {performer}"), std::string::npos) << error;
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
        // Lines no cue sheet holds, and values out of their range.
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    LENGTH 00:01:00\n",
         "test.cue is not a valid cue sheet: line 3: unknown command \"LENGTH\""},
        {"FILE \"a.wav\" WAVE\n  INDEX 01 00:00:00\n", "line 2: INDEX before the first TRACK"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:60:00\n", "line 3: INDEX needs a number and a time"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:75\n", "line 3: INDEX needs a number and a time"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    PREGAP 2s\n", "line 3: PREGAP needs a time"},
        {"FILE \"a.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    PREGAP 2s\r\n", "line 3: PREGAP needs a time"},
        {"FILE \"a.wav\" WAVE\n  TRACK 100 AUDIO\n", "line 2: TRACK needs a number up to 99 and a mode"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01\n", "line 2: TRACK needs a number up to 99 and a mode"},
        {"FILE \"\" WAVE\n", "line 1: FILE names no file"},
        {"TITLE \"x\"\n", "test.cue is not a valid cue sheet: it has no TRACK line"},
        {"  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", "track 1 of test.cue belongs to no FILE"},
        {"FILE \"a.bin\" BINARY\n  TRACK 01 MODE2/2324\n    INDEX 01 00:00:00\n",
         "track 1 of test.cue is a data track, and no track of it holds CD audio"},
        // Tracks that cannot be laid out: the track before would run over
        // the next audio track.
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 MODE1/2352\n  TRACK 03 AUDIO\n"
         "    INDEX 01 00:05:00\n",
         "track 2 of test.cue has no INDEX 01 (line 4)"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 08 AUDI_\n    INDEX 01 00:03:00\n",
         "line 4: TRACK 08 has the type \"AUDI_\", which is neither AUDIO nor a data mode"},
    };
    for (const Case &c : cases) {
        CueAlbum album;
        std::string error;
        EXPECT_FALSE(ParseCueText(c.text, "", "test.cue", album, error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(CueSheet, HandsOnWhatTaggersUseAndDropsWhatCouldHarm) {
    // Lines before the first track, lines within it, what one value reads
    // as, and the notice a dropped value leaves ("" for none).
    struct Case {
        const char *album;
        const char *track;
        std::string (*value)(const CueAlbum &);
        const char *expected;
        const char *note;
    };
    const auto disc = [](const CueAlbum &a) { return a.disc; };
    const auto discs = [](const CueAlbum &a) { return a.discs; };
    const auto isrc = [](const CueAlbum &a) { return a.tracks[0].isrc; };
    const std::string longText(256, 'x');
    const std::string longLine = "REM COMMENT " + longText + "\n";
    const Case cases[] = {
        {"REM DISC \"2\"\n", "", disc, "2", ""},
        {"REM DISCNUMBER 1/2\n", "", discs, "2", ""},
        {"REM DISCNUMBER 1\nREM TOTALDISCS 3\n", "", discs, "3", ""},
        {"REM DISCNUMBER 3\nREM TOTALDISCS 2\n", "", discs, "", "disc 3 of 2 discs; the count is dropped"},
        {"REM DISCNUMBER one\n", "", disc, "", "line 1: REM DISCNUMBER is not a disc number"},
        {"CATALOG 0123456789012\n", "", [](const CueAlbum &a) { return a.catalog; }, "0123456789012", ""},
        {"CATALOG 12345\n", "", [](const CueAlbum &a) { return a.catalog; }, "", "CATALOG is not 12 or 13 digits"},
        {"REM GENRE \"a\x01b\"\n", "", [](const CueAlbum &a) { return a.genre; }, "", "REM GENRE holds a control"},
        {longLine.c_str(), "", [](const CueAlbum &a) { return a.comment; }, "", "longer than 255 bytes"},
        {"SONGWRITER \"S\"\n", "", [](const CueAlbum &a) { return a.songwriter; }, "S", ""},
        {"REM COMPOSER C\n", "", [](const CueAlbum &a) { return a.composer; }, "C", ""},
        {"", "ISRC USRC17607839\n", isrc, "USRC17607839", ""},
        {"", "ISRC usrc17607839\n", isrc, "", "line 3: ISRC is not twelve capital letters and digits"},
        {"", "FLAGS 4ch\n", [](const CueAlbum &a) { return std::string(a.tracks[0].fourChannels ? "4CH" : ""); }, "4CH",
         ""},
        {"", "REM COMPOSER \"T C\"\n", [](const CueAlbum &a) { return a.tracks[0].composer; }, "T C", ""},
    };
    for (const Case &c : cases) {
        const std::string text =
            std::string(c.album) + "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n" + c.track + "    INDEX 01 00:00:00\n";
        CueAlbum album;
        std::string error;
        ASSERT_TRUE(ParseCueText(text, "", "test.cue", album, error)) << error;
        EXPECT_EQ(c.value(album), c.expected) << text;
        std::string notes;
        for (const std::string &note : album.notes) notes += note + "\n";
        EXPECT_EQ(notes.find(c.note) != std::string::npos, *c.note != '\0' || notes.empty()) << text << notes;
    }
}

TEST(CueSheet, ReadsTheLinesRippersWrite) {
    // Keywords in any case, texts without quotes, quoted words with nothing
    // between them, lines that name nothing the host uses, a track's audio
    // across two files, the gaps no file holds, and a data track of a mode
    // no list names.
    const char text[] =
        "REM GENRE Rock\r\n"
        "CATALOG 0123456789012\r\n"
        "REM HIDDEN_TITLE \"Before\"\r\n"
        "title Plain Words Album\r\n"
        "REM \"a\"\"b\"\r\n"
        "REM COMMENT  two  words \r\n"
        "FILE \"Band - Album\\01 - One.wav\" WAVE\r\n"
        "  track 01 audio\r\n"
        "    FLAGS DCP\r\n"
        "    ISRC ABCDE1234567\r\n"
        "    INDEX 01 00:00:00\r\n"
        "    INDEX 02 00:01:00\r\n"
        "    POSTGAP 00:00:10\r\n"
        "  TRACK 02 AUDIO\r\n"
        "    INDEX 00 03:58:40\r\n"
        "FILE \"/abs/02.flac\" WAVE\r\n"
        "    INDEX 01 00:00:00\r\n"
        "FILE \"data.bin\" BINARY\r\n"
        "  TRACK 03 MODE2/2324\r\n"
        "    PREGAP 00:02:00\r\n"
        "    INDEX 01 00:00:00\r\n";
    CueAlbum album;
    std::string error;
    ASSERT_TRUE(ParseCueText(text, "/cd/", "test.cue", album, error)) << error;
    EXPECT_EQ(album.title, "Plain Words Album");
    EXPECT_EQ(album.hiddenTitle, "Before");
    EXPECT_EQ(album.comment, "two  words");
    ASSERT_EQ(album.files.size(), 3u);
    EXPECT_EQ(album.files[0].named, "Band - Album\\01 - One.wav");
    EXPECT_EQ(album.files[0].path, "/cd/Band - Album/01 - One.wav");
    EXPECT_EQ(album.files[1].path, "/abs/02.flac");
    ASSERT_EQ(album.tracks.size(), 3u);
    EXPECT_TRUE(album.tracks[0].audio);
    EXPECT_EQ(album.tracks[0].postgapSectors, 10);
    EXPECT_EQ(album.tracks[0].indexes.size(), 2u);
    // The pregap of track 2 ends the first file; its INDEX 01 starts the second.
    ASSERT_EQ(album.tracks[1].indexes.size(), 2u);
    EXPECT_EQ(album.tracks[1].indexes[0].number, 0);
    EXPECT_EQ(album.tracks[1].indexes[0].file, 0);
    EXPECT_EQ(album.tracks[1].indexes[0].sector, (3 * 60 + 58) * 75 + 40);
    EXPECT_EQ(album.tracks[1].indexes[1].number, 1);
    EXPECT_EQ(album.tracks[1].indexes[1].file, 1);
    EXPECT_EQ(album.tracks[1].indexes[1].sector, 0);
    EXPECT_FALSE(album.tracks[2].audio);
    EXPECT_EQ(album.tracks[2].pregapSectors, 150);
    EXPECT_TRUE(FileHoldsAudio(album, 0));
    EXPECT_TRUE(FileHoldsAudio(album, 1));
    EXPECT_FALSE(FileHoldsAudio(album, 2)) << "the file of a data track is never opened";
}

TEST(CueText, DecodesEachCharacterSet) {
    struct Case {
        std::string bytes;
        const char *charset;
        const char *text;  // null: refused
        bool note;         // a notice says how the sheet was read
    };
    const Case cases[] = {
        // Read as they are: UTF-8, with or without a byte order mark.
        {"Caf\xC3\xA9", "", "Caf\xC3\xA9", false},
        {"\xEF\xBB\xBF"
         "Caf\xC3\xA9",
         "", "Caf\xC3\xA9", false},
        {"plain", "", "plain", false},
        // Anything else in the code page it reads best in: cp1252 here, the
        // five bytes it leaves free included when named; garbage that reads
        // alike in several is refused.
        {"Caf\xE9", "", "Caf\xC3\xA9", true},
        {"\x80\x93\x94\x81\x9F", "cp1252", "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x9D\xC2\x81\xC5\xB8", false},
        {"\xC3\xA9\xE9", "", nullptr, false},
        {std::string("\xFF\xFEO\0K\0", 6), "", "OK", true},
        {std::string("\xFE\xFF\0O\0K", 6), "", "OK", true},
        // UTF-16 without its mark, either way round.
        {std::string("O\0K\0", 4), "", "OK", true},
        {std::string("\0O\0K", 4), "", "OK", true},
        // Named: as they say, even where the bytes would pass as UTF-8.
        {"Caf\xC3\xA9", "cp1252", "Caf\xC3\x83\xC2\xA9", false},
        {"Caf\xE9", "Windows-1252", "Caf\xC3\xA9", false},
        {"\xCC\xE8\xF0", "cp1251", "\xD0\x9C\xD0\xB8\xD1\x80", false},
        {"\xEF\xBB\xBF"
         "a",
         "utf-8", "a", false},
        {"Caf\xE9", "UTF-8", nullptr, false},
        {"\x81", "cp1252-strict-nonesuch", nullptr, false},
    };
    for (const Case &c : cases) {
        std::string text, note, error;
        const bool ok = DecodeCueText(c.bytes, c.charset, "test.cue", text, note, error);
        ASSERT_EQ(ok, c.text != nullptr) << c.bytes << " as " << c.charset << ": " << error;
        if (!ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(text, c.text) << c.bytes << " as " << c.charset;
        EXPECT_EQ(!note.empty(), c.note) << c.bytes << ": " << note;
        EXPECT_TRUE(IsUtf8(text)) << c.bytes;
    }
    std::string text, note, error;
    EXPECT_FALSE(DecodeCueText("Caf\xE9", "utf-8", "x.cue", text, note, error));
    EXPECT_EQ(error, "x.cue is not valid UTF-8");
    EXPECT_TRUE(DecodeCueText("Caf\xE9", "", "x.cue", text, note, error));
    EXPECT_EQ(note, "x.cue is not UTF-8; read as cp1252 (Windows Western); --cue-charset names another");
}

TEST(CueText, Utf8IsCheckedSequenceBySequence) {
    for (const char *valid : {"", "abc", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(IsUtf8(valid)) << valid;
    }
    // Cut, stray, overlong, surrogate and beyond U+10FFFF.
    for (const char *invalid : {"\xC3", "\xE9t\xE9", "\x80", "\xC3\xA9\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                                "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xE2\x82"}) {
        EXPECT_FALSE(IsUtf8(invalid)) << invalid;
    }
}

TEST(Timeline, PlacesTracksAcrossFilesAndGaps) {
    struct Range {
        long first;  // sectors on the timeline
        long end;
    };
    struct Case {
        const char *name;
        const char *text;
        std::vector<long> fileSectors;  // -1: a file that holds no audio
        std::vector<Range> tracks;
        Range lead;
    };
    const Case cases[] = {
        {"gaps appended: a pregap ends the file before its track",
         "FILE \"1.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:03:25\n"
         "FILE \"2.wav\" WAVE\nINDEX 01 00:00:00\n",
         {300, 200},
         {{0, 300}, {300, 500}},
         {0, 0}},
        {"gaps prepended: the track before runs on into the next file",
         "FILE \"1.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"2.wav\" WAVE\nTRACK 02 AUDIO\n"
         "INDEX 00 00:00:00\nINDEX 01 00:00:50\n",
         {250, 200},
         {{0, 300}, {300, 450}},
         {0, 0}},
        {"a POSTGAP before the next track's pregap, a PREGAP before its INDEX 01",
         "FILE \"1.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nPOSTGAP 00:00:10\nTRACK 02 AUDIO\n"
         "INDEX 00 00:02:00\nINDEX 01 00:03:00\nTRACK 03 AUDIO\nPREGAP 00:01:00\nINDEX 01 00:06:00\n",
         {600},
         {{0, 235}, {235, 535}, {535, 685}},
         {0, 0}},
        {"a data track beyond the audio ends the last audio track, before its own pregap",
         "FILE \"1.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:04:00\n"
         "TRACK 03 MODE1/2352\nPREGAP 00:02:00\nINDEX 01 00:09:20\n",
         {600},
         {{0, 300}, {300, 600}},
         {0, 0}},
        {"a data track within the image ends the audio at its first index",
         "FILE \"1.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 MODE1/2352\nINDEX 00 00:04:00\n"
         "INDEX 01 00:06:00\n",
         {600},
         {{0, 300}},
         {0, 0}},
        {"a data track in a file of its own: the POSTGAP before it ends the audio file",
         "FILE \"1.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nPOSTGAP 00:02:00\nFILE \"d.bin\" BINARY\n"
         "TRACK 02 MODE1/2352\nINDEX 01 00:00:00\n",
         {600, -1},
         {{0, 750}},
         {0, 0}},
        {"a data track first, in a file of its own: the pregap of the first audio track leads",
         "FILE \"d.bin\" BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\nFILE \"1.wav\" WAVE\nTRACK 02 AUDIO\n"
         "INDEX 00 00:00:00\nINDEX 01 00:02:00\n",
         {-1, 600},
         {{150, 600}},
         {0, 150}},
        {"data tracks without INDEX 01: none ends the audio at the end of its file, INDEX 00 where it lies",
         "FILE 1.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 MODE1/2352\nFILE 2.wav WAVE\nTRACK 03 AUDIO\n"
         "INDEX 01 00:00:00\nTRACK 04 MODE2/2352\nINDEX 00 00:02:00\nTRACK 05 AUDIO\nINDEX 01 00:02:50\n",
         {600, 300},
         {{0, 600}, {600, 750}, {800, 900}},
         {0, 0}},
        {"audio before track 1: INDEX 00, a PREGAP, or an INDEX 01 past the start",
         "FILE \"1.wav\" WAVE\nTRACK 01 AUDIO\nPREGAP 00:00:20\nINDEX 00 00:00:00\nINDEX 01 00:01:00\n",
         {600},
         {{95, 620}},
         {0, 95}},
    };
    for (const Case &c : cases) {
        CueAlbum album;
        std::string error;
        ASSERT_TRUE(ParseCueText(c.text, "", "test.cue", album, error)) << c.name << ": " << error;
        std::vector<std::int64_t> frames;
        for (long sectors : c.fileSectors) frames.push_back(sectors < 0 ? -1 : sectors * kFramesPerSector);
        ASSERT_TRUE(PlaceTracks(album, frames, error)) << c.name << ": " << error;
        ASSERT_EQ(album.tracks.size(), c.tracks.size()) << c.name;
        std::int64_t length = 0;
        for (const Stretch &stretch : album.timeline) length += stretch.count;
        for (std::size_t i = 0; i < c.tracks.size(); ++i) {
            EXPECT_TRUE(album.tracks[i].audio) << c.name;
            EXPECT_EQ(album.tracks[i].firstFrame, c.tracks[i].first * kFramesPerSector) << c.name << ", track " << i;
            EXPECT_EQ(album.tracks[i].endFrame, c.tracks[i].end * kFramesPerSector) << c.name << ", track " << i;
            EXPECT_LE(album.tracks[i].endFrame, length) << c.name;
        }
        EXPECT_EQ(album.lead.firstFrame, c.lead.first * kFramesPerSector) << c.name;
        EXPECT_EQ(album.lead.endFrame, c.lead.end * kFramesPerSector) << c.name;
        EXPECT_EQ(album.lead.number, 0) << c.name;
    }
}

TEST(Timeline, SilenceLiesWhereTheSheetPutsIt) {
    CueAlbum album;
    std::string error;
    ASSERT_TRUE(
        ParseCueText("FILE \"1.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nPOSTGAP 00:00:10\n"
                     "FILE \"2.wav\" WAVE\nTRACK 02 AUDIO\nPREGAP 00:00:05\nINDEX 01 00:00:00\n",
                     "", "test.cue", album, error))
        << error;
    ASSERT_TRUE(PlaceTracks(album, {100, 200}, error)) << error;
    // The postgap is placed at the start of the next file, before the pregap.
    const Stretch expected[] = {
        {0, 0, 100}, {-1, 0, 10 * kFramesPerSector}, {-1, 0, 5 * kFramesPerSector}, {1, 0, 200}};
    ASSERT_EQ(album.timeline.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(album.timeline[i].file, expected[i].file) << i;
        EXPECT_EQ(album.timeline[i].first, expected[i].first) << i;
        EXPECT_EQ(album.timeline[i].count, expected[i].count) << i;
    }
}

TEST(Timeline, IndexesMustLieWithinTheirFiles) {
    struct Case {
        const char *text;
        std::vector<std::int64_t> frames;
        const char *message;
    };
    const Case cases[] = {
        {"FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"b.wav\" WAVE\nTRACK 02 AUDIO\n"
         "INDEX 01 00:04:00\n",
         {1000, 150 * kFramesPerSector},
         "track 2 starts at 00:04:00 in b.wav, but b.wav ends at 00:02:00"},
        {"FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:03:00\n"
         "FILE \"b.wav\" WAVE\nINDEX 01 00:00:00\n",
         {150 * kFramesPerSector, 1000},
         "track 2 has INDEX 00 at 00:03:00 in a.wav, but a.wav ends at 00:02:00"},
    };
    for (const Case &c : cases) {
        CueAlbum album;
        std::string error;
        ASSERT_TRUE(ParseCueText(c.text, "", "test.cue", album, error)) << error;
        EXPECT_FALSE(PlaceTracks(album, c.frames, error)) << c.message;
        EXPECT_EQ(error, c.message);
    }
}

// A folder of files under /tmp, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        char name[] = "/tmp/encbridge-host-unit-XXXXXX";
        path_ = mkdtemp(name) ? std::string(name) + "/" : std::string();
    }
    ~TempFolder() {
        if (path_.empty()) return;
        nftw(
            path_.c_str(), [](const char *path, const struct stat *, int, FTW *) { return remove(path); }, 8,
            FTW_DEPTH | FTW_PHYS);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return path_; }
    void Add(const std::string &name) const {
        std::size_t slash = name.rfind('/');
        if (slash != std::string::npos) mkdir((path_ + name.substr(0, slash)).c_str(), 0777);
        std::ofstream(path_ + name) << "x";
    }

private:
    std::string path_;
};

// The progress's "encoding N": the temporary outputs that exist as plain
// files and were written to lately, by the module's own numbering.
TEST(EncodersAtWork, CountsFreshTemporaryOutputsOnly) {
    const std::time_t now = 1800000000;
    struct Entry {
        const char *name;
        int secondsOld;  // below 0: a folder under the name
    };
    struct Case {
        const char *what;
        std::vector<Entry> entries;
        int trackCount;
        std::vector<std::string> extensions;
        int expected;
    };
    const Case cases[] = {
        {"nothing yet", {}, 4, {".flac"}, 0},
        {"two being written", {{"#temp(01).flac", 0}, {"#temp(03).flac", 1}}, 4, {".flac"}, 2},
        {"written to just in time", {{"#temp(02).flac", kWritingSeconds}}, 4, {".flac"}, 1},
        {"left behind by a failed encoder",
         {{"#temp(01).flac", kWritingSeconds + 1}, {"#temp(02).flac", 0}},
         4,
         {".flac"},
         1},
        {"WAV files and final names are no outputs",
         {{"#temp(01).wav", 0}, {"01 Title.flac", 0}, {"#temp(02).mp3", 0}},
         4,
         {".flac"},
         0},
        {"beyond the album's tracks", {{"#temp(05).flac", 0}}, 4, {".flac"}, 0},
        {"three digits past 99", {{"#temp(100).flac", 0}, {"#temp(07).flac", 0}}, 100, {".flac"}, 2},
        {"a folder under the name", {{"#temp(01).flac", -1}}, 4, {".flac"}, 0},
        {"the output is the WAV", {{"#temp(01).wav", 0}}, 4, {".wav"}, -1},
        // Several outputs: every encoder counts, whatever its output.
        {"two outputs of one track",
         {{"#temp(01).flac", 0}, {"#temp(01).opus", 0}, {"#temp(02).mp3", 0}},
         4,
         {".flac", ".opus"},
         2},
        {"a WAV output beside another", {{"#temp(01).wav", 0}, {"#temp(01).flac", 0}}, 4, {".wav", ".flac"}, 1},
    };
    // The temporary names are the built module's.
    PluginModule module;
    std::string error;
    ASSERT_TRUE(module.Load(ENCBRIDGE_TEST_MODULE, error)) << error;
    for (const Case &c : cases) {
        TempFolder work;
        ASSERT_FALSE(work.path().empty());
        for (const Entry &entry : c.entries) {
            const std::string path = work.path() + entry.name;
            if (entry.secondsOld < 0) {
                ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
                continue;
            }
            work.Add(entry.name);
            const timespec times[2] = {{now - entry.secondsOld, 0}, {now - entry.secondsOld, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
        }
        EXPECT_EQ(CountEncodersWriting(*module.tools, work.path(), c.extensions, c.trackCount, now), c.expected)
            << c.what;
    }
}

// Plain lines (no terminal) carry the count as it was last set, and none
// when it is unknown.
TEST(EncodersAtWork, PlainLinesSayHowManyEncode) {
    struct Case {
        int encoding;
        const char *expected;
    };
    const Case cases[] = {
        {-1,
         "track 01/02 One                      delivered, 1.00 s of audio\n"
         "waited 0.5 s for the encoders, 1 of 2 files ready\n"},
        {0,
         "track 01/02 One                      delivered, 1.00 s of audio, encoding 0\n"
         "waited 0.5 s for the encoders, 1 of 2 files ready, encoding 0\n"},
        {2,
         "track 01/02 One                      delivered, 1.00 s of audio, encoding 2\n"
         "waited 0.5 s for the encoders, 1 of 2 files ready, encoding 2\n"},
    };
    for (const Case &c : cases) {
        char *text = nullptr;
        std::size_t size = 0;
        std::FILE *out = open_memstream(&text, &size);
        ASSERT_NE(out, nullptr);
        Progress progress(out, false);
        progress.SetEncoding(c.encoding);
        progress.TrackStart(1, 2, "One", false, 176400);
        progress.TrackAdvance(176400);
        progress.TrackDone();
        progress.Waiting(0.25, 0, 2);
        progress.WaitDone(0.5, 1, 2);
        std::fclose(out);
        EXPECT_EQ(std::string(text, size), c.expected) << c.encoding;
        std::free(text);
    }
}

TEST(AudioFiles, FoundBesideTheSheetAsWindowsNamedThem) {
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    for (const char *name : {"Band - Album/01 - One.WAV", "02 - Two.flac", "image.wav", "Image.flac", "other.aiff"}) {
        folder.Add(name);
    }
    struct Case {
        const char *named;
        const char *found;  // within the folder; empty: none
    };
    const Case cases[] = {
        // As written first, then in another case.
        {"image.wav", "image.wav"},
        {"Image.flac", "Image.flac"},
        {"IMAGE.WAV", "image.wav"},
        // Backslashes are separators; each part may differ in case.
        {"Band - Album\\01 - One.wav", "Band - Album/01 - One.WAV"},
        {"band - album\\01 - one.wav", "Band - Album/01 - One.WAV"},
        // The last part beside the sheet, then another audio extension.
        {"C:\\Rips\\Band\\02 - Two.flac", "02 - Two.flac"},
        {"Band - Album\\02 - Two.wav", "02 - Two.flac"},
        {"other.wav", "other.aiff"},
        {"missing.wav", ""},
    };
    for (const Case &c : cases) {
        CueAlbum album;
        std::string error;
        std::string text = std::string("FILE \"") + c.named + "\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
        ASSERT_TRUE(ParseCueText(text, folder.path(), "test.cue", album, error)) << error;
        std::vector<std::string> tried;
        std::string found = FindAudioFile(album.files[0], folder.path(), tried);
        EXPECT_EQ(found, *c.found ? folder.path() + c.found : std::string()) << c.named;
        EXPECT_EQ(FindAudioFiles(album, "test.cue", error), *c.found != '\0') << c.named;
        if (*c.found) {
            EXPECT_EQ(album.files[0].path, folder.path() + c.found);
            EXPECT_EQ(album.files[0].note.empty(), std::string(c.named) == c.found) << album.files[0].note;
        }
    }
    CueAlbum album;
    std::string error;
    ASSERT_TRUE(
        ParseCueText("FILE \"x\\y.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "f/", "t.cue", album, error));
    EXPECT_FALSE(FindAudioFiles(album, "t.cue", error));
    EXPECT_EQ(error,
              "there is no image at f/x/y.wav, which t.cue names (tried f/x/y.wav, f/y.wav, f/x/y.flac, f/x/y.aiff, "
              "f/x/y.aif, f/y.flac, f/y.aiff, f/y.aif, each also without regard to case)");
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

TEST(EncoderPath, FoundOnPathOnlyAsARunnableFileInAnAbsoluteFolder) {
    TempFolder folder;
    folder.Add("bin/enc");
    folder.Add("bin/plain");
    folder.Add("bin/dir/x");
    chmod((folder.path() + "bin/enc").c_str(), 0755);
    const std::string bin = folder.path() + "bin";
    struct Case {
        std::string name, path, found;
    };
    const Case cases[] = {
        {"enc", "/nonexistent:" + bin, bin + "/enc"},
        {"plain", bin, ""},              // not runnable
        {"dir", bin, ""},                // a folder
        {"bin/enc", folder.path(), ""},  // a name with a folder is the settings' own
        {"enc", ":../../../../../../../../../../.." + bin,
         ""},  // the current folder, however written, is never searched
    };
    for (const Case &c : cases) EXPECT_EQ(FindOnPath(c.name, c.path), c.found) << c.name << " in " << c.path;
}

TEST(RunPlan, AlbumsThatWouldWriteOneFileAreNamed) {
    struct Case {
        const char *first, *second;
        bool clash;
    };
    const Case cases[] = {
        {"/o/A/01 x.flac", "/o/A/01 x.flac", true},
        {"/o/Test Album/01.flac", "/o/TEST ALBUM/01.flac", true},  // one file where case is not told apart
        {"/o/Caf\xC3\xA9/\xD0\x96.cue", "/o/CAF\xC3\x89/\xD0\xB6.cue", true},
        {"/o/A/01.flac", "/o/A/02.flac", false},
        {"/o/\xC3\xA9/1", "/o/e/1", false},
    };
    for (const Case &c : cases) {
        const std::vector<PlannedAlbum> albums = {{"one", {}, {"/o/own.flac", c.first}}, {"two", {}, {c.second}}};
        const std::vector<Clash> clashes = FindClashes(albums);
        ASSERT_EQ(clashes.size(), c.clash ? 1u : 0u) << c.first << " " << c.second;
        if (!c.clash) continue;
        EXPECT_EQ(clashes[0].first, 0u);
        EXPECT_EQ(clashes[0].second, 1u);
        EXPECT_EQ(clashes[0].path, c.first);
    }
}

TEST(RunPlan, AnUntitledAlbumIsNamedFromItsSheet) {
    char folder[] = "/tmp/encbridge-names-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string named = std::string(folder) + "/Some Band - Live";
    ASSERT_EQ(mkdir(named.c_str(), 0700), 0);
    struct Case {
        std::string sheet, name;
    };
    const Case cases[] = {
        {named + "/Live at Home.cue", "Live at Home"},
        {named + "/.cue", "Some Band - Live"},  // no name of its own: its folder's
        {"image.flac", "image"},
        {named + "/a:b?.cue", "a_b_"},
    };
    for (const Case &c : cases) EXPECT_EQ(AlbumNameFromFile(c.sheet), c.name) << c.sheet;
    rmdir(named.c_str());
    rmdir(folder);
}

// Writes frames sample frames of CD audio, from frame first on of a signal
// that seed picks, as a file of the format (SF_FORMAT_WAV...) at path.
bool WriteAudio(const std::string &path, int format, std::int64_t frames, int seed, std::int64_t first = 0) {
    SF_INFO info = {0, 44100, 2, format | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    std::vector<short> samples(static_cast<std::size_t>(frames) * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<short>((seed + (first * 2 + static_cast<std::int64_t>(i)) * 7919) % 20000);
    }
    const bool whole = sf_writef_short(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && whole;
}

// An album of two tracks of 100 sectors each in image.wav of folder, laid
// out, with track i's final name "0i" plus extension in that folder.
void MakeAlbum(const std::string &folder, const std::string &extension, CueAlbum &cue, AudioImage &image,
               std::vector<RipTrack> &tracks) {
    std::string error;
    ASSERT_TRUE(WriteAudio(folder + "image.wav", SF_FORMAT_WAV, 200 * kFramesPerSector, 1));
    ASSERT_TRUE(ParseCueText("FILE image.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
                             "INDEX 01 00:01:25\n",
                             folder, "test.cue", cue, error) &&
                FindAudioFiles(cue, "test.cue", error) && image.Open(cue, error) &&
                PlaceTracks(cue, image.fileFrames(), error))
        << error;
    image.SetTimeline(cue.timeline);
    tracks.assign(2, RipTrack());
    for (std::size_t i = 0; i < 2; ++i) {
        tracks[i].image = cue.tracks[i];
        tracks[i].fileName = "0" + std::to_string(i + 1);
        tracks[i].finalPaths = {folder + tracks[i].fileName + extension};
    }
}

// --resume takes a file at a final name only when it is that track's: proven
// by the output's verify line where it has one, else a lossless file of the
// track's length.
TEST(Resume, TakesOnlyTheTracksOwnFiles) {
    struct Case {
        const char *what;
        bool verify;            // the output has VERIFY=exact with flac's decoder
        const char *extension;  // the output's
        int format;             // of track 2's file; 0: bytes that are no audio
        std::int64_t frames;    // its length
        int seed;               // 1: the image's signal, from track 2's start
        long cutTo;             // bytes kept; 0: whole
        const char *why;        // null: taken as done
    };
    const std::int64_t length = 100 * kFramesPerSector;
    const Case cases[] = {
        {"the track's FLAC, no verify line", false, ".flac", SF_FORMAT_FLAC, length, 1, 0, nullptr},
        {"the track's FLAC, proven", true, ".flac", SF_FORMAT_FLAC, length, 1, 0, nullptr},
        {"another album's track of another length", false, ".wav", SF_FORMAT_WAV, 30000, 5, 0, "decodes to 30000"},
        {"a FLAC cut to 4,000 bytes, with a verify line", true, ".flac", SF_FORMAT_FLAC, length, 1, 4000,
         "verify line says"},
        {"another album's track of the same length, with a verify line", true, ".flac", SF_FORMAT_FLAC, length, 5, 0,
         "differs from the track's, at sample 0"},
        {"a lossy output without a verify line", false, ".mp3", 0, length, 1, 0, "without a verify line"},
    };
    PluginModule module;
    std::string error;
    ASSERT_TRUE(module.Load(ENCBRIDGE_TEST_MODULE, error)) << error;
    for (const Case &c : cases) {
        TempFolder work;
        CueAlbum cue;
        AudioImage image;
        std::vector<RipTrack> tracks;
        MakeAlbum(work.path(), c.extension, cue, image, tracks);
        const std::string settingsPath = work.path() + "settings.ini", &path = tracks[1].finalPaths[0];
        std::ofstream(settingsPath)
            << "[SETUP]\nOUT=" << c.extension << "\n[OPTION]\nEXEPATH=/usr/bin/flac\nCOMMAND=-s -o %o% %i%\n"
            << (c.verify ? "VERIFY=exact\nVERIFY_EXEPATH=/usr/bin/flac\nVERIFY_COMMAND=-d -c -s %o%\n" : "");
        const ModuleSettings settings = ReadModuleSettings(*module.tools, settingsPath);
        if (c.format == 0) std::ofstream(path) << "ID3 no audio here";
        ASSERT_TRUE(c.format == 0 || WriteAudio(path, c.format, c.frames, c.seed, length)) << c.what;
        ASSERT_TRUE(c.cutTo == 0 || truncate(path.c_str(), c.cutTo) == 0) << c.what;
        HostRecords records = MakeRecords(cue, tracks, work.path());
        const ResumeVerdict verdict =
            CheckTrackDone({settings, settingsPath, *records.album, image, work.path()}, tracks, 1);
        EXPECT_EQ(verdict.done, c.why == nullptr) << c.what << ": " << verdict.why;
        EXPECT_NE(verdict.why.find(c.why == nullptr ? "" : c.why), std::string::npos) << c.what << ": " << verdict.why;
    }
}

// After an image that broke during a track, the host removes that track's
// partial WAV file only when it copies what the image still holds.
TEST(Resume, APartialWavGoesOnlyAsACopyOfTheImage) {
    PluginModule module;
    std::string error;
    ASSERT_TRUE(module.Load(ENCBRIDGE_TEST_MODULE, error)) << error;
    for (const bool changed : {false, true}) {
        TempFolder work;
        CueAlbum cue;
        AudioImage image;
        std::vector<RipTrack> tracks;
        MakeAlbum(work.path(), ".flac", cue, image, tracks);
        std::vector<std::uint8_t> wav(44 + 10 * kFramesPerSector * kFrameBytes);
        ASSERT_EQ(module.tools->defaultHeader(wav.data(), 44), 44u);
        ASSERT_EQ(image.Read(tracks[1].image.firstFrame, 10 * kFramesPerSector, wav.data() + 44),
                  10 * kFramesPerSector);
        wav.back() ^= changed ? 1 : 0;
        std::ofstream(work.path() + "#temp(02).wav").write(reinterpret_cast<const char *>(wav.data()), wav.size());
        EXPECT_EQ(RemovePartialDelivery(*module.tools, work.path(), image, tracks, 1), changed ? "" : "#temp(02).wav");
        EXPECT_EQ(access((work.path() + "#temp(02).wav").c_str(), F_OK) == 0, changed);
    }
}

TEST(ShownText, ControlCharactersNeverReachTheTerminal) {
    struct Case {
        const char *text, *shown;
    };
    const Case cases[] = {
        {"\x1B[2J\x07title", "?[2J?title"},                // C0: escape sequences, bell
        {"a\x7F", "a?"},                                   // DEL
        {"\xC2\x9B[31m", "?[31m"},                         // C1 CSI, as UTF-8
        {"Caf\xC3\xA9\xC2\xA0!", "Caf\xC3\xA9\xC2\xA0!"},  // letters and a no-break space stay
    };
    for (const Case &c : cases) EXPECT_EQ(Shown(c.text), c.shown) << c.text;
}

// A shelf ends with the worst of its albums' statuses: a failed album (1)
// before one with tracks not produced (3), before done (0).
TEST(Shelf, EndsWithTheWorstStatusOfItsAlbums) {
    const struct Row {
        std::vector<int> statuses;
        int shelf;
    } rows[] = {
        {{0, 0}, 0}, {{0, 3, 0}, 3}, {{3, 1}, 1}, {{1, 3}, 1}, {{1, 0}, 1},
    };
    for (const Row &row : rows)
        EXPECT_EQ(ShelfStatus(row.statuses), row.shelf) << ::testing::PrintToString(row.statuses);
}

// A sheet named twice, under two spellings, is one album.
TEST(Shelf, TakesEachSheetOnceHoweverItIsNamed) {
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    folder.Add("a/album.cue");
    ASSERT_EQ(symlink((folder.path() + "a/album.cue").c_str(), (folder.path() + "link.cue").c_str()), 0);
    const struct Row {
        const char *name, *second;
    } rows[] = {{"through ..", "a/../a/album.cue"}, {"through a link", "link.cue"}};
    for (const Row &row : rows) {
        EXPECT_EQ(FindAlbums({folder.path() + "a/album.cue", folder.path() + row.second}, false, "").size(), 1u)
            << row.name;
    }
}

// A stop ends the host by its own signal, so that whoever started it sees
// it killed by that signal (and a shell's status is 128 + the signal).
TEST(Interruption, AStopEndsTheHostByItsSignal) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = fork();
        if (child == 0) _exit(EndBySignal(signal) == 128 + signal ? 100 : 101);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << ": status " << status;
    }
}

}  // namespace
}  // namespace host
