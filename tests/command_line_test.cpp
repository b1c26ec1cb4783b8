#include "encoder/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

using encbridge::BuildCommandLine;
using encbridge::CommandBuffer;
using encbridge::CommandStatus;
using encbridge::CommandStyle;
using encbridge::kCommandCapacity;
using encbridge::PathBuffer;
using encbridge::ReplaceTag;

namespace {

// Values that no settings file gave.
const encbridge::RipTags kNoTags{};

template <std::size_t N>
void Set(char (&field)[N], const std::string &value) {
    ASSERT_LT(value.size(), N);
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), value.size());
}

std::string Repeat(const std::string &piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

// Fills every byte of the field, leaving it without a NUL.
template <std::size_t N>
void Fill(char (&field)[N], char c) {
    std::memset(field, c, N);
}

// ReplaceTag on a template, its result and whether it was complete.
std::string Replace(const std::string &text, const char *tag, const std::string &value, bool *complete) {
    encbridge::CommandText command;
    encbridge::StartCommandText(command, text.c_str(), text.size() + 1);
    *complete = ReplaceTag(command, tag, value.c_str(), value.size() + 1);
    return command.text;
}

TEST(ReplaceTag, ReplacesEveryOccurrenceInTheTemplateOnly) {
    struct Row {
        const char *name, *text, *tag, *value, *expected;
    } rows[] = {
        {"none there", "abc", "%x", "1", "abc"},
        {"twice", "a%xb%x", "%x", "1", "a1b1"},
        {"side by side", "%x%x%x", "%x", "12", "121212"},
        {"empty value", "[%x]", "%x", "", "[]"},
        {"overlapping quoted tags", "%i%i%", "%i%", "X", "Xi%"},
        // A value is text: it never holds a tag, nor completes one with the
        // template around it.
        {"value holds its tag", "[%x][%x]", "%x", "<%x>", "[<%x>][<%x>]"},
        {"value begins with its tag", "%x %x", "%x", "%xy", "%xy %xy"},
        {"value is its tag", "%x", "%x", "%x", "%x"},
        {"value ends like the tag begins", "%abb", "%ab", "%a", "%ab"},
        {"value completes the tag before it", "%t%t%ttit", "%ttit", "tit", "%t%ttit"},
        // Template characters that an empty value brings together are one
        // template, as they were before.
        {"template closed up by an empty value", "%%xx", "%x", "", ""},
    };
    for (const Row &row : rows) {
        bool complete = false;
        EXPECT_EQ(Replace(row.text, row.tag, row.value, &complete), row.expected) << row.name;
        EXPECT_TRUE(complete) << row.name;
    }
}

TEST(ReplaceTag, CutsAt1023CharactersAndGoesOnInTheCutText) {
    struct Row {
        const char *name;
        std::string text, value, expected;
        bool complete;
    } rows[] = {
        {"fills exactly", std::string(1000, 'a') + "%x", std::string(23, 'v'),
         std::string(1000, 'a') + std::string(23, 'v'), true},
        {"one too many", std::string(1000, 'a') + "%x", std::string(24, 'v'),
         std::string(1000, 'a') + std::string(23, 'v'), false},
        // The second occurrence is pushed past the end and is gone.
        {"later occurrence cut off", "%x" + std::string(1000, 'a') + "%x", std::string(30, 'v'),
         std::string(30, 'v') + std::string(993, 'a'), false},
        {"value holding its tag", std::string(1019, 'a') + "%x", "%x%x", std::string(1019, 'a') + "%x%x", true},
    };
    for (const Row &row : rows) {
        bool complete = !row.complete;
        EXPECT_EQ(Replace(row.text, "%x", row.value, &complete), row.expected) << row.name;
        EXPECT_EQ(complete, row.complete) << row.name;
    }
}

// One album of twelve tracks, expanded for track index 4, as the worker
// would.
class BuildCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        album_ = std::make_unique<AlbumInfo>();
        tracks_ = std::make_unique<TrackInfo[]>(12);
        album_->trackCount = 12;
        album_->tracks = tracks_.get();
        Set(album_->albumTitle, "Album Title");
        Set(album_->albumArtist, "Album Artist");
        Set(album_->albumComment, "Album Comment");
        TrackInfo &track = tracks_[4];
        Set(track.title, "Song");
        Set(track.artist, "Artist");
        Set(track.album, "Album");
        Set(track.year, "1999");
        Set(track.comment, "Comment");
        Set(encoder_, "C:\\enc\\lame.exe");
        Set(wav_, "D:\\Rips\\#temp(05).wav");
        Set(output_, "D:\\Rips\\#temp(05).mp3");
    }

    TrackInfo &track() { return tracks_[4]; }

    std::string Expand(const std::string &commandTemplate, bool *complete = nullptr, std::int32_t index = 4) {
        CommandStatus status;
        std::string line = Expand(commandTemplate, CommandStyle::Arguments, &status, index);
        if (complete) *complete = status == CommandStatus::Complete;
        return line;
    }
    std::string Expand(const std::string &commandTemplate, CommandStyle style, CommandStatus *status,
                       std::int32_t index = 4) {
        CommandBuffer text;
        Set(text, commandTemplate);
        *status = BuildCommandLine(encoder_, style, text, wav_, output_, *album_, tags_, index);
        EXPECT_LT(std::strlen(text), kCommandCapacity);
        return text;
    }

    std::unique_ptr<AlbumInfo> album_;
    std::unique_ptr<TrackInfo[]> tracks_;
    PathBuffer encoder_, wav_, output_;
    encbridge::RipTags tags_{};
};

const std::string kProgram = R"("C:\enc\lame.exe" )";

TEST_F(BuildCommandLineTest, ReplacesEveryTagBehindTheQuotedEncoderPath) {
    struct Row {
        const char *name, *commandTemplate, *expected;
    } rows[] = {
        {"default template", "-V2 %i% %o%", R"(-V2 "D:\Rips\#temp(05).wav" "D:\Rips\#temp(05).mp3")"},
        {"no tags", "--preset standard -q 0", "--preset standard -q 0"},
        {"empty template", "", ""},
        {"number forms", "%no2 %no %trks %trk2", "05 5 12 12"},
        {"quoted number forms", "%no2% %no% %trks% %trk2%", R"("05" "5" "12" "12")"},
        {"track texts", "%ttit|%tart|%talb|%tyer|%tcom", "Song|Artist|Album|1999|Comment"},
        {"quoted track texts", "%ttit% %tart% %talb% %tyer% %tcom%", R"("Song" "Artist" "Album" "1999" "Comment")"},
        {"album texts", "%atit|%aart|%acom", "Album Title|Album Artist|Album Comment"},
        {"quoted album texts", "%atit% %aart% %acom%", R"("Album Title" "Album Artist" "Album Comment")"},
        {"bare paths", "%i %o", R"(D:\Rips\#temp(05).wav D:\Rips\#temp(05).mp3)"},
        {"tag written twice", "%ttit-%no-%ttit-%no", "Song-5-Song-5"},
        {"quoted tag inside percent signs", "%%ttit%%", R"(%"Song"%)"},
        {"unknown and partial tags stay", "%x %tti %n %trk", "%x %tti %n %trk"},
        {"tag glued to text", "-o%o%.tmp --t=%ttit", R"(-o"D:\Rips\#temp(05).mp3".tmp --t=Song)"},
    };
    for (const Row &row : rows) {
        bool complete = false;
        EXPECT_EQ(Expand(row.commandTemplate, &complete), kProgram + row.expected) << row.name;
        EXPECT_TRUE(complete) << row.name;
    }
}

TEST_F(BuildCommandLineTest, CountsTracksWithAndWithoutTheirSecondDigit) {
    struct Row {
        std::int32_t index, trackCount;
        const char *expected;
    } rows[] = {
        {4, 12, "05 5 12 12"},  {4, 9, "05 5 09 9"},        {0, 1, "01 1 01 1"},
        {9, 10, "10 10 10 10"}, {11, 120, "12 12 120 120"},
    };
    for (const Row &row : rows) {
        album_->trackCount = row.trackCount;
        EXPECT_EQ(Expand("%no2 %no %trks %trk2", nullptr, row.index), kProgram + row.expected) << row.index;
    }
}

TEST_F(BuildCommandLineTest, TextsMeetTheTagsAsPlacedAndQuotedValuesStayOneArgument) {
    struct Row {
        const char *name, *title, *albumTitle, *commandTemplate, *expected;
    } rows[] = {
        {"empty title", "", "", "[%ttit%][%ttit]", R"([""][])"},
        {"title with a double quote", R"(12" Remix)", "", "%ttit% %ttit", R"("12\" Remix" 12" Remix)"},
        {"title ending in a backslash", R"(AC\DC\)", "", "%ttit% %ttit", R"("AC\DC\\" AC\DC\)"},
        {"backslash before a quote", R"(a\"b)", "", "%ttit%", R"("a\\\"b")"},
        {"backslashes not before a quote", R"(\\srv\share\x)", "", "%ttit%", R"("\\srv\share\x")"},
        // Values are text: a tag in one is never replaced, nor does one
        // complete a tag with the template around it.
        {"album title holding %i", "", "Live %i", "%atit", "Live %i"},
        {"title holding %o", "Take %o", "", "%ttit", "Take %o"},
        {"title holding %o%", "x %o%", "", "%ttit", "x %o%"},
        {"title holding a later text tag", "%aart", "", "%ttit", "%aart"},
        {"album title holding an earlier tag", "", "%ttit", "%atit", "%ttit"},
        {"title holding its tag", "a%ttitb", "", "%ttit|%ttit", "a%ttitb|a%ttitb"},
        {"title beginning with its tag", "%ttit!", "", "%ttit", "%ttit!"},
        {"title holding its quoted tag", "%ttit%", "", "%ttit%", R"("%ttit%")"},
        {"title completing a tag before it", "tit", "", "%t%ttit", "%ttit"},
    };
    for (const Row &row : rows) {
        Set(track().title, row.title);
        Set(album_->albumTitle, row.albumTitle);
        bool complete = false;
        EXPECT_EQ(Expand(row.commandTemplate, &complete), kProgram + row.expected) << row.name;
        EXPECT_TRUE(complete) << row.name;
    }
}

TEST_F(BuildCommandLineTest, ReportsEveryCut) {
    const std::string path258(258, 'p');
    struct Row {
        const char *name;
        std::string encoder, title, commandTemplate, expected;
        bool complete;
    } rows[] = {
        {"fills 1,023 exactly", "e", std::string(1019, 't'), "%ttit", "\"e\" " + std::string(1019, 't'), true},
        {"one character more", "e", std::string(1020, 't'), "%ttit", "\"e\" " + std::string(1019, 't'), false},
        {"quoted form fits, line does not", "e", std::string(1021, 't'), "%ttit%", "\"e\" \"" + std::string(1018, 't'),
         false},
        {"quoted form does not fit", "e", std::string(1022, 't'), "-t %ttit% %o",
         R"("e" -t (null) D:\Rips\#temp(05).mp3)", false},
        // 511 characters would fit in quotes; escaped they do not.
        {"escaped form does not fit", "e", std::string(511, '"'), "%ttit%", R"("e" (null))", false},
        {"escaped form fits", "e", std::string(508, '"'), "%ttit%", "\"e\" \"" + Repeat("\\\"", 508) + "\"", true},
        // Replacing goes on in the cut text: "%o" is replaced after "%i" cut.
        {"replacing after a cut", "e", std::string(1000, 't'), "%ttit %o %i",
         "\"e\" " + std::string(1000, 't') + R"( D:\Rips\#temp(05).)", false},
        {"encoder path of 257", std::string(257, 'p'), "", "-x", "\"" + std::string(257, 'p') + "\" -x", true},
        {"encoder path of 258 loses its quote", path258, "", "-x", "\"" + path258 + " -x", false},
        {"encoder path holding a quote", "C:\\a\"b.exe", "", "-x", "\"C:\\a\"b.exe\" -x", false},
    };
    for (const Row &row : rows) {
        Set(encoder_, row.encoder);
        Set(track().title, row.title);
        bool complete = !row.complete;
        EXPECT_EQ(Expand(row.commandTemplate, &complete), row.expected) << row.name;
        EXPECT_EQ(complete, row.complete) << row.name;
    }
}

TEST_F(BuildCommandLineTest, ReadsHostFieldsOnlyWithinTheirWidths) {
    // A comment field without a NUL is 1,040 characters long.
    Fill(track().comment, 'c');
    bool complete = false;
    EXPECT_EQ(Expand("-q", &complete), kProgram + "-q");
    EXPECT_TRUE(complete) << "a tag that is not there cuts nothing";
    EXPECT_EQ(Expand("%tcom", &complete), kProgram + std::string(kCommandCapacity - 1 - kProgram.size(), 'c'));
    EXPECT_FALSE(complete);

    Fill(track().title, 't');
    EXPECT_EQ(Expand("%ttit%", &complete), kProgram + "(null)") << "1,024 characters never fit in quotes";
    EXPECT_FALSE(complete);
}

// Hostile texts from a disc database: every quoted tag is one argument of
// the encoder, whatever the texts and paths hold.
TEST_F(BuildCommandLineTest, NoTextOrPathSplitsIntoArguments) {
    struct Row {
        const char *name, *title, *artist, *folder;
    } rows[] = {
        {"title bringing in the artist", "Song %tart%", R"(Band" --picture=x|/etc/passwd ")", "D:\\Rips\\"},
        {"title bringing in the paths", "%o %i% %o%", "x", "D:\\Rips\\"},
        {"quotes and backslashes", R"(a\" b\\" c\)", R"(\\" --opt)", "D:\\Rips\\"},
        {"folder named like a tag", "Song", "Band", "D:\\50%off\\%ttit%\\"},
    };
    for (const Row &row : rows) {
        Set(track().title, row.title);
        Set(track().artist, row.artist);
        Set(wav_, std::string(row.folder) + "#temp(05).wav");
        Set(output_, std::string(row.folder) + "#temp(05).flac");
        bool complete = false;
        const std::string line = Expand("-T TITLE=%ttit% -T ARTIST=%tart% -o %o% %i%", &complete);
        ASSERT_TRUE(complete) << row.name;
        const std::vector<std::string> expected = {"C:\\enc\\lame.exe",
                                                   "-T",
                                                   std::string("TITLE=") + row.title,
                                                   "-T",
                                                   std::string("ARTIST=") + row.artist,
                                                   "-o",
                                                   output_,
                                                   wav_};
        EXPECT_EQ(testing_support::SplitCommandLine(line), expected) << row.name << ": " << line;
    }
}

// A batch file's line is read by cmd.exe first: values are quoted its way,
// and what it would act on is refused, never run.
TEST_F(BuildCommandLineTest, WritesValuesForABatchFileOrRefusesThem) {
    struct Row {
        const char *name, *title, *commandTemplate, *expected;
        CommandStatus status;
    } rows[] = {
        {"plain", "Song", "%ttit% %i%", R"("Song" "D:\Rips\#temp(05).wav")", CommandStatus::Complete},
        {"operators stay inside quotes", "a & b | c < d > e ^ f ! ( )", "%ttit%", R"x("a & b | c < d > e ^ f ! ( )")x",
         CommandStatus::Complete},
        {"inner quote doubled", R"(12" Mix & Remix)", "%ttit%", R"("12"" Mix & Remix")", CommandStatus::Complete},
        {"backslashes before a quote doubled", R"(a\"b\)", "%ttit%", R"("a\\""b\\")", CommandStatus::Complete},
        {"a quote closing cmd.exe's quotes", R"(a" & echo x> marker & rem ")", "%ttit%",
         R"("a"" & echo x> marker & rem """)", CommandStatus::Complete},
        {"percent expands inside quotes", "100%PATH%", "%ttit%", "(null)", CommandStatus::Unsafe},
        {"line feed ends the command", "a\nb", "%ttit%", "(null)", CommandStatus::Unsafe},
        {"carriage return", "a\rb", "%ttit%", "(null)", CommandStatus::Unsafe},
        {"unquoted plain value", "Song.2", "--t=%ttit", "--t=Song.2", CommandStatus::Complete},
        {"unquoted operator", "a&b", "%ttit", "a&b", CommandStatus::Unsafe},
        {"unquoted quote", "a\"b", "%ttit", "a\"b", CommandStatus::Unsafe},
        {"unquoted caret", "a^b", "%ttit", "a^b", CommandStatus::Unsafe},
        {"a tag absent from the template is not judged", "a&b%", "-q", "-q", CommandStatus::Complete},
    };
    Set(encoder_, "C:\\enc\\wrap.bat");
    for (const Row &row : rows) {
        Set(track().title, row.title);
        CommandStatus status;
        EXPECT_EQ(Expand(row.commandTemplate, CommandStyle::BatchFile, &status),
                  std::string(R"("C:\enc\wrap.bat" )") + row.expected)
            << row.name;
        EXPECT_EQ(status, row.status) << row.name;
    }
    // Paths are values too, and so is the script's own path.
    Set(track().title, "Song");
    Set(wav_, "D:\\100%\\#temp(05).wav");
    CommandStatus status;
    Expand("%i%", CommandStyle::BatchFile, &status);
    EXPECT_EQ(status, CommandStatus::Unsafe) << "a '%' in the output folder";
    Set(wav_, "D:\\Rips\\#temp(05).wav");
    Set(encoder_, "C:\\100%\\wrap.bat");
    Expand("%i%", CommandStyle::BatchFile, &status);
    EXPECT_EQ(status, CommandStatus::Unsafe) << "a '%' in the script's path";
}

// A path in a relative output folder begins with what the host named: one
// beginning with '-' reaches the program behind the current folder, never
// as an option.
TEST_F(BuildCommandLineTest, NoPathBeginsWithADash) {
    const std::string here = std::string(".") + testing_support::Separator();
    Set(wav_, "-r/#temp(05).wav");
    Set(output_, "-r/#temp(05).mp3");
    EXPECT_EQ(Expand("%i% %o"), kProgram + '"' + here + "-r/#temp(05).wav\" " + here + "-r/#temp(05).mp3");
    tracks_[0].status = tracks_[0].marked = 1;
    Set(tracks_[0].fileName, "--export-tags-to=x");
    Set(album_->outputFolder, "-r/");
    std::vector<char> line(encbridge::kLongestCommandLine);
    encbridge::BuildAlbumCommandLine(encoder_, CommandStyle::Arguments, "%dir% %files", 13, *album_, kNoTags, ".flac",
                                     6, line.data(), line.size());
    EXPECT_EQ(line.data(), kProgram + '"' + here + "-r/\" \"" + here + "-r/--export-tags-to=x.flac\"");
}

// The settings file's values are text tags, quoted as one argument; a
// track without its own takes nothing here (Create fills that in). An
// argument made only of an empty one goes with the option before it.
TEST_F(BuildCommandLineTest, SettingsValuesAreTextTagsAndAnEmptyOneTakesItsOptionAlong) {
    Set(tags_.album.disc, "1");
    Set(tags_.album.genre, "Free Jazz");
    Set(tags_.album.catalog, "0123");
    Set(tags_.tracks[4].isrc, "USRC1");
    Set(tags_.tracks[4].composer, "Say \"hi\"");
    struct Row {
        const char *name, *commandTemplate, *expected;
    } rows[] = {
        {"quoted", "%disc% %agen% %acat% %apic% %tisr% %tcmp%", R"("1" "Free Jazz" "0123" "USRC1" "Say \"hi\"")"},
        {"short forms", "%disc/%dtot %tisr", "1/ USRC1"},
        {"empty option and tag go", "-V2 --sw %tsng% %o%", R"(-V2 "D:\Rips\#temp(05).mp3")"},
        {"empty NAME= and its option go", "-T SONGWRITER=%tsng% -T ISRC=%tisr% x", R"(-T ISRC="USRC1" x)"},
        {"empty -option= goes alone", "-q --sw=%tsng% x", "-q x"},
        {"empty tag alone goes", "%tsng% x", "x"},
        {"empty tag within an argument stays", "a%tsng%b -t %tsng%.x", R"(a""b -t "".x)"},
        {"host fields keep their empty argument", "-t %tcom% -s %tsng%", R"(-t "")"},
    };
    Set(track().comment, "");
    for (const Row &row : rows) {
        bool complete = false;
        EXPECT_EQ(Expand(row.commandTemplate, &complete), kProgram + row.expected) << row.name;
        EXPECT_TRUE(complete) << row.name;
    }
    // Another track has none of the track's values.
    EXPECT_EQ(Expand("%tisr% %disc%", nullptr, 3), kProgram + R"("1")");
}

// The words that a template holds like tags but that no tag of its line is.
TEST(ListUnknownTags, NamesEveryPercentWordThatIsNoTagOfItsLine) {
    struct Row {
        const char *commandTemplate;
        bool albumStep;
        std::int32_t count;
        const char *unknown;
    } rows[] = {
        {"-V2 %i% %o% %no %ttit% 100%", false, 0, ""},
        {"--tg %genre% %ttit% %Date% %disc%", false, 2, "%genre% %Date%"},
        {"%files% %dir% %ttit% %atit%", true, 1, "%ttit%"},
        {"%files% %dir%", false, 2, "%files% %dir%"},
        {"%a%b% %% %-x% %x y%", false, 1, "%a%"},
    };
    for (const Row &row : rows) {
        char unknown[64];
        EXPECT_EQ(encbridge::ListUnknownTags(row.commandTemplate, 64, row.albumStep, unknown, sizeof unknown),
                  row.count)
            << row.commandTemplate;
        EXPECT_STREQ(unknown, row.unknown) << row.commandTemplate;
    }
    char tight[8];
    EXPECT_EQ(encbridge::ListUnknownTags("%genre% %x%", 12, false, tight, sizeof tight), -1);
    char known[512];
    ASSERT_TRUE(encbridge::ListKnownTags(true, known, sizeof known));
    EXPECT_NE(std::string(known).find("%apic% %dir% %files%"), std::string::npos) << known;
}

// An album step's line: album tags, the folder and every processed track's
// final file, each one argument; track tags stay as written, and a value
// never brings in "%files".
TEST_F(BuildCommandLineTest, AnAlbumStepGetsTheFolderAndEveryFinalFileAsOneArgumentEach) {
    Set(album_->outputFolder, "D:\\My Rips\\");
    Set(album_->albumTitle, "Best of %files%");
    album_->trackCount = 3;
    Set(tracks_[0].fileName, "01 Say \"hi\"");
    Set(tracks_[1].fileName, "02 skipped");
    Set(tracks_[2].fileName, "Disc 2\\03 back\\slash\\");
    tracks_[0].status = tracks_[2].status = 1;
    tracks_[0].marked = tracks_[2].marked = 1;
    tracks_[1].status = 1;
    tracks_[1].marked = 0;
    struct Row {
        const char *name, *commandTemplate;
        std::vector<std::string> arguments;
    } rows[] = {
        {"files quoted",
         "--add-replay-gain %files%",
         {"--add-replay-gain", R"(D:\My Rips\01 Say "hi".flac)", R"(D:\My Rips\Disc 2\03 back\slash\.flac)"}},
        {"files bare are still one argument each",
         "%files --end",
         {R"(D:\My Rips\01 Say "hi".flac)", R"(D:\My Rips\Disc 2\03 back\slash\.flac)", "--end"}},
        {"folder and album tags",
         "-d %dir% -t %atit% -n %trk2% %ttit% %i%",
         {"-d", R"(D:\My Rips\)", "-t", "Best of %files%", "-n", "3", "%ttit%", "%i%"}},
    };
    std::vector<char> line(encbridge::kLongestCommandLine);
    for (const Row &row : rows) {
        const CommandStatus status = encbridge::BuildAlbumCommandLine(
            encoder_, CommandStyle::Arguments, row.commandTemplate, std::strlen(row.commandTemplate) + 1, *album_,
            kNoTags, ".flac", 6, line.data(), line.size());
        EXPECT_EQ(status, CommandStatus::Complete) << row.name;
        std::vector<std::string> expected = {"C:\\enc\\lame.exe"};
        expected.insert(expected.end(), row.arguments.begin(), row.arguments.end());
        EXPECT_EQ(testing_support::SplitCommandLine(line.data()), expected) << row.name << ": " << line.data();
    }
}

// The line may be as long as Windows runs one, 32,766 characters (8,191
// through cmd.exe), and one character more is never run.
TEST(BuildAlbumCommandLine, IsAsLongAsWindowsAllowsAndNoLonger) {
    struct Row {
        const char *name;
        CommandStyle style;
        int tracks;  // their files bring the line to within a template of the limit
        std::size_t limit;
    } rows[] = {{"arguments", CommandStyle::Arguments, 126, 32766}, {"batch file", CommandStyle::BatchFile, 31, 8191}};
    PathBuffer program;
    Set(program, "C:\\enc\\step.exe");
    std::vector<char> line(encbridge::kLongestCommandLine);
    for (const Row &row : rows) {
        AlbumInfo album{};
        std::vector<TrackInfo> tracks(static_cast<std::size_t>(row.tracks));
        Set(album.outputFolder, "D:\\");
        album.trackCount = row.tracks;
        album.tracks = tracks.data();
        for (int i = 0; i < row.tracks; ++i) {
            Set(tracks[i].fileName, std::string(247, 'n') + std::to_string(100 + i));
            tracks[i].status = tracks[i].marked = 1;
        }
        auto build = [&](const std::string &commandTemplate) {
            return encbridge::BuildAlbumCommandLine(program, row.style, commandTemplate.c_str(),
                                                    commandTemplate.size() + 1, album, kNoTags, ".x", 3, line.data(),
                                                    line.size());
        };
        ASSERT_EQ(build("%files%"), CommandStatus::Complete) << row.name;
        const std::size_t base = std::strlen(line.data());
        ASSERT_LT(base + 2, row.limit) << row.name;
        const std::string pad(row.limit - base - 1, 'p');
        EXPECT_EQ(build(pad + " %files%"), CommandStatus::Complete) << row.name;
        EXPECT_EQ(std::strlen(line.data()), row.limit) << row.name;
        EXPECT_EQ(build(pad + "p %files%"), CommandStatus::Cut) << row.name;
    }
}

}  // namespace
