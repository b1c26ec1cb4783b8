#include "encoder/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "interface/rip_state.h"

using encbridge::BuildCommandLine;
using encbridge::CommandBuffer;
using encbridge::kCommandCapacity;
using encbridge::PathBuffer;
using encbridge::ReplaceTag;
using encbridge::rip;

namespace {

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

TEST(ReplaceTag, ReplacesEveryOccurrenceAndEnds) {
    struct Row {
        const char *name, *text, *tag, *value, *expected;
    } rows[] = {
        {"none there", "abc", "%x", "1", "abc"},
        {"twice", "a%xb%x", "%x", "1", "a1b1"},
        {"side by side", "%x%x%x", "%x", "12", "121212"},
        {"empty value", "[%x]", "%x", "", "[]"},
        {"value holds its tag", "[%x][%x]", "%x", "<%x>", "[<%x>][<%x>]"},
        {"value begins with its tag", "%x %x", "%x", "%xy", "%xy %xy"},
        {"value is its tag", "%x", "%x", "%x", "%x"},
        // Searching from the start again finds a tag that the value completes
        // with the text before or after it.
        {"completed with the text before", "%%xx", "%x", "", ""},
        {"completed with the text after", "%abb", "%ab", "%a", "%a"},
        {"completed twice on the left", "%t%t%ttit", "%ttit", "tit", "tit"},
        {"overlapping quoted tags", "%i%i%", "%i%", "X", "Xi%"},
    };
    for (const Row &row : rows) {
        CommandBuffer text;
        Set(text, row.text);
        EXPECT_TRUE(ReplaceTag(text, row.tag, row.value, std::strlen(row.value) + 1)) << row.name;
        EXPECT_STREQ(text, row.expected) << row.name;
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
        // A value holding its tag does not grow the text without end.
        {"value holding its tag", std::string(1019, 'a') + "%x", "%x%x", std::string(1019, 'a') + "%x%x", true},
    };
    for (const Row &row : rows) {
        CommandBuffer text;
        Set(text, row.text);
        EXPECT_EQ(ReplaceTag(text, "%x", row.value.c_str(), row.value.size() + 1), row.complete) << row.name;
        EXPECT_EQ(std::string(text), row.expected) << row.name;
    }
}

// One album of twelve tracks, expanded for track index 4, as the worker
// would: rip.info points at the album while a test runs.
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
        savedInfo_ = rip.info;
        rip.info = album_.get();
    }
    void TearDown() override { rip.info = savedInfo_; }

    TrackInfo &track() { return tracks_[4]; }

    std::string Expand(const std::string &commandTemplate, bool *complete = nullptr, std::int32_t index = 4) {
        CommandBuffer text;
        Set(text, commandTemplate);
        bool result = BuildCommandLine(encoder_, text, wav_, output_, index);
        if (complete) *complete = result;
        EXPECT_LT(std::strlen(text), kCommandCapacity);
        return text;
    }

    std::unique_ptr<AlbumInfo> album_;
    std::unique_ptr<TrackInfo[]> tracks_;
    AlbumInfo *savedInfo_ = nullptr;
    PathBuffer encoder_, wav_, output_;
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
        // Values are open to the tags replaced after their own.
        {"album title holding %i", "", "Live %i", "%atit", R"(Live D:\Rips\#temp(05).wav)"},
        {"title holding %o", "Take %o", "", "%ttit", R"(Take D:\Rips\#temp(05).mp3)"},
        {"title holding %o%", "x %o%", "", "%ttit", R"(x "D:\Rips\#temp(05).mp3")"},
        {"title holding a later text tag", "%aart", "", "%ttit", "Album Artist"},
        {"album title holding an earlier tag", "", "%ttit", "%atit", "%ttit"},
        // ...but never expanded into themselves.
        {"title holding its tag", "a%ttitb", "", "%ttit|%ttit", "a%ttitb|a%ttitb"},
        {"title beginning with its tag", "%ttit!", "", "%ttit", "%ttit!"},
        // The quoted value is inserted once; the bare tag that follows still
        // meets the "%ttit" inside it, and inserts its value there once.
        {"title holding its quoted tag", "%ttit%", "", "%ttit%", R"("%ttit%%")"},
        {"title completing a tag before it", "tit", "", "%t%ttit", "tit"},
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

}  // namespace
