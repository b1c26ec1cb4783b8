#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "encbridge/tools.h"
#include "settings/plugin_settings.h"
#include "temp_folder_test.h"
#include "test_support.h"

using encbridge::LoadSettings;
using encbridge::OutputSettings;
using encbridge::PathParts;
using encbridge::SplitPath;

namespace {

TEST(SplitPath, FindsDriveAndFolder) {
    struct Row {
        const char *path, *drive, *folder;
    } rows[] = {
        {"D:\\Plug\\enc.ini", "D:", "\\Plug\\"},
        {"C:enc.ini", "C:", ""},
        {"1:x\\y", "1:", "x\\"},  // the drive letter is not checked
        {"enc.ini", "", ""},
        {"/etc/rip/enc.ini", "", "/etc/rip/"},
        {"a/b\\c", "", "a/b\\"},
        {"relative\\", "", "relative\\"},
        {"", "", ""},
        {":x", "", ""},
    };
    for (const Row &row : rows) {
        PathParts parts;
        SplitPath(row.path, parts);
        EXPECT_STREQ(parts.drive, row.drive) << row.path;
        EXPECT_STREQ(parts.folder, row.folder) << row.path;
    }
}

TEST(SplitPath, CutsAFolderLongerThan255Characters) {
    std::string path = std::string(300, 'f') + "/enc.ini";
    PathParts parts;
    SplitPath(path.c_str(), parts);
    EXPECT_EQ(std::string(parts.folder), std::string(255, 'f'));
}

class LoadSettingsTest : public testing_support::TempFolderTest {
protected:
    void SetUp() override { ASSERT_TRUE(NewFolder(folder_)); }

    std::string Write(const std::string &content) {
        std::string path = folder_ + "encbridge.ini";
        testing_support::WriteFile(path, content);
        return path;
    }

    std::string folder_;
    encbridge::PluginSettings settings{};
};

TEST_F(LoadSettingsTest, AMissingFileGivesTheDefaultsAndNoEncoder) {
    settings.outputs[0].hideWindow = 7;
    LoadSettings((folder_ + "absent.ini").c_str(), settings);
    EXPECT_STREQ(settings.outputs[0].outputExtension, ".wav");
    EXPECT_STREQ(settings.outputs[0].commandTemplate, "-V2 %i% %o%");
    EXPECT_EQ(settings.deleteWav, 1);
    EXPECT_STREQ(settings.outputs[0].encoderPath, "");
    EXPECT_EQ(settings.outputs[0].hideWindow, 7) << "WIN_HIDE is not read without an encoder";
}

TEST_F(LoadSettingsTest, ReadsEveryKey) {
    std::string path = Write(
        "[SETUP]\r\nOUT=.flac\r\n[option]\r\ncommand = -8 -o %o% %i%\r\ndelete=0\r\nexepath=tools/enc\r\n"
        "WIN_HIDE=1\r\n");
    LoadSettings(path.c_str(), settings);
    EXPECT_STREQ(settings.outputs[0].outputExtension, ".flac");
    EXPECT_STREQ(settings.outputs[0].commandTemplate, "-8 -o %o% %i%");
    EXPECT_EQ(settings.deleteWav, 0);
    EXPECT_EQ(std::string(settings.outputs[0].encoderPath), folder_ + "tools/enc");
    EXPECT_EQ(settings.outputs[0].hideWindow, 1);
}

// Extra outputs are read in section order, gaps allowed, each with its own
// keys; WIN_HIDE defaults to the main one's, and the album step's command
// to the list of files.
TEST_F(LoadSettingsTest, ReadsExtraOutputsAndAlbumSteps) {
    std::string path = Write(
        "[SETUP]\nOUT=.flac\n[OPTION]\nEXEPATH=flac\nWIN_HIDE=1\nALBUM_EXEPATH=metaflac\n"
        "ALBUM_COMMAND=--add-replay-gain %files%\n"
        "[OUTPUT3]\nOUT=.opus\nEXEPATH=bin/opusenc\nCOMMAND=%i% %o%\n"
        "[OUTPUT5]\nEXEPATH=DENY\nWIN_HIDE=0\nALBUM_EXEPATH=step\n[OUTPUT10]\nOUT=.mp3\nEXEPATH=lame\n");
    LoadSettings(path.c_str(), settings);
    ASSERT_EQ(settings.outputCount, 3) << "[OUTPUT10] is beyond the last";
    const OutputSettings &main = settings.outputs[0];
    EXPECT_TRUE(main.albumStep);
    EXPECT_EQ(std::string(main.albumEncoderPath), folder_ + "metaflac");
    EXPECT_STREQ(main.albumTemplate, "--add-replay-gain %files%");
    const OutputSettings &opus = settings.outputs[1];
    EXPECT_EQ(opus.number, 3);
    EXPECT_STREQ(opus.outputExtension, ".opus");
    EXPECT_STREQ(opus.commandTemplate, "%i% %o%");
    EXPECT_EQ(std::string(opus.encoderPath), folder_ + "bin/opusenc");
    EXPECT_EQ(opus.hideWindow, 1);
    EXPECT_FALSE(opus.albumStep);
    const OutputSettings &fifth = settings.outputs[2];
    EXPECT_EQ(fifth.number, 5);
    EXPECT_STREQ(fifth.outputExtension, "") << "no default extension";
    EXPECT_STREQ(fifth.commandTemplate, "-V2 %i% %o%");
    EXPECT_STREQ(fifth.encoderPath, "");
    EXPECT_EQ(fifth.hideWindow, 0);
    EXPECT_EQ(std::string(fifth.albumEncoderPath), folder_ + "step");
    EXPECT_STREQ(fifth.albumTemplate, "%files%");

    // A file without the new keys reads as it always did: one output.
    LoadSettings(Write("[SETUP]\nOUT=.flac\n[OPTION]\nEXEPATH=flac\n").c_str(), settings);
    EXPECT_EQ(settings.outputCount, 1);
    EXPECT_FALSE(settings.outputs[0].albumStep);
}

TEST_F(LoadSettingsTest, ResolvesTheEncoderPath) {
    const std::string sep = testing_support::Separator();
    const bool posix = sep == "/";
    const std::string tooLong = "/" + std::string(299, 'e');
    struct Row {
        const char *value;
        std::string expected;
    } rows[] = {
        {"DENY", ""},
        {"deny", folder_ + "deny"},                     // the marker is case-sensitive
        {"..\\enc.exe", folder_ + "..\\enc.exe"},       // joined unchanged
        {"\\enc.exe", folder_ + "\\enc.exe"},           // a doubled separator
        {"Q:\\enc.exe", posix ? "" : "Q:\\enc.exe"},    // a drive: absolute on Windows only
        {"Q:/enc.exe", posix ? "" : "Q:/enc.exe"},      // with either separator
        {"Q:enc.exe", ""},                              // a drive without its root: never taken
        {"/usr/bin/enc", posix ? "/usr/bin/enc" : ""},  // absolute on Linux; drive-less on Windows
        // A UNC path and the \\?\ and \\.\ forms are absolute on Windows; plain names on Linux.
        {"\\\\server\\share\\enc.exe", (posix ? folder_ : "") + "\\\\server\\share\\enc.exe"},
        {"\\\\?\\C:\\Tools\\enc.exe", (posix ? folder_ : "") + "\\\\?\\C:\\Tools\\enc.exe"},
        {"\\\\.\\C:\\enc.exe", (posix ? folder_ : "") + "\\\\.\\C:\\enc.exe"},
        {tooLong.c_str(), ""},  // longer than the buffer: it could only be taken cut
    };
    for (const Row &row : rows) {
        std::string path = Write("[OPTION]\nEXEPATH=" + std::string(row.value) + "\n");
        LoadSettings(path.c_str(), settings);
        std::string expected = row.expected;
        if (!posix && std::string(row.value) == "/usr/bin/enc") {
            // Without a drive part the value is joined to the settings file's drive and folder.
            expected = folder_ + "/usr/bin/enc";
        }
        EXPECT_EQ(std::string(settings.outputs[0].encoderPath), expected) << row.value;
    }
}

// JOBS: missing means one encoder at a time, as before; 0 one per
// processor; anything else is kept within 1 and kMostJobs.
TEST(EncoderJobs, ClampsWhatTheSettingsSay) {
    struct Row {
        std::int32_t configured, processors, expected;
    } rows[] = {
        {1, 8, 1},  {4, 2, 4},  {0, 8, 8},   {0, 1, 1},   {0, 64, encbridge::kMostJobs},
        {-3, 8, 1}, {-1, 8, 1}, {33, 8, 32}, {32, 8, 32},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(encbridge::EncoderJobs(row.configured, row.processors), row.expected)
            << row.configured << " with " << row.processors << " processors";
    }
}

TEST_F(LoadSettingsTest, JobsAreOneUnlessTheFileSaysOtherwise) {
    LoadSettings(Write("[OPTION]\nEXEPATH=enc\n").c_str(), settings);
    EXPECT_EQ(settings.jobs, 1);
    LoadSettings(Write("[OPTION]\nEXEPATH=enc\nJOBS=3\n").c_str(), settings);
    EXPECT_EQ(settings.jobs, 3);
    LoadSettings(Write("[OPTION]\nEXEPATH=enc\nJOBS=0\n").c_str(), settings);
    EXPECT_GE(settings.jobs, 1);
    // Past the range of a profile number, which would wrap to 1, 0 or below.
    for (const char *beyond : {"2147483648", "4294967296", "4294967297", "0x100000003"}) {
        LoadSettings(Write(std::string("[OPTION]\nEXEPATH=enc\nJOBS=") + beyond + "\n").c_str(), settings);
        EXPECT_EQ(settings.jobs, encbridge::kMostJobs) << beyond;
    }
}

TEST_F(LoadSettingsTest, CutsLongValuesToTheirBuffers) {
    std::string longText(400, 'x');
    std::string path = Write("[SETUP]\nOUT=" + longText + "\n[OPTION]\nCOMMAND=" + longText + "\n");
    LoadSettings(path.c_str(), settings);
    EXPECT_EQ(std::string(settings.outputs[0].outputExtension), std::string(254, 'x'));
    EXPECT_EQ(std::string(settings.outputs[0].commandTemplate), longText) << "a template is read whole";
    // One that fills its buffer may have been cut (to a bare tag, or a stray
    // '%' for %files%) and refuses the rip.
    for (const std::string &keys : {"COMMAND=" + std::string(1022, 'x'), "ALBUM_COMMAND=" + std::string(1022, 'x')}) {
        LoadSettings(Write("[OPTION]\nEXEPATH=enc\n" + keys + "\n").c_str(), settings);
        EXPECT_TRUE(settings.outputs[0].templateCut) << keys.substr(0, 20);
    }
}

// A verify line that cannot run refuses the rip, and the settings copy that
// the reference host hands the module keeps the line as it stands.
TEST_F(LoadSettingsTest, AVerifyLineThatCannotRunRefusesTheRip) {
    const std::string program = testing_support::FakeEncoderPath();
    const std::string exact = "VERIFY=exact\nVERIFY_EXEPATH=" + program + "\nVERIFY_COMMAND=";
    using encbridge::Reason;
    const struct Row {
        std::string keys;
        Reason reason;
        const char *out = ".flac";
    } rows[] = {
        {"", Reason::Done},
        {"VERIFY=\n", Reason::Done},  // an empty VERIFY alone asks for no verify line
        {exact + "-d %o%\n", Reason::Done},
        {"VERIFY=Exactly\nVERIFY_EXEPATH=" + program + "\nVERIFY_COMMAND=%o%\n", Reason::VerifyNotUsable},
        {"VERIFY=Exact\nVERIFY_EXEPATH=" + program + "\nVERIFY_COMMAND=-d %o%\n", Reason::Done},  // in any case
        {exact + "-d\n", Reason::VerifyNotUsable},
        {exact + "-d %i% %o%\n", Reason::VerifyNotUsable},
        {"VERIFY=decodes\nVERIFY_COMMAND=%o%\n", Reason::VerifyNotUsable},
        {"VERIFY_EXEPATH=" + program + "\nVERIFY_COMMAND=%o%\n", Reason::VerifyNotUsable},
        {exact + std::string(1022, 'x') + "\n", Reason::TemplateTooLong},
        {exact + "-d %o%\n", Reason::VerifyNotUsable, ".WAV"},  // it would decode the WAV file itself
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.keys.substr(0, 40));
        const std::string path =
            Write("[SETUP]\nOUT=" + std::string(row.out) + "\n[OPTION]\nEXEPATH=" + program + "\n" + row.keys);
        LoadSettings(path.c_str(), settings);
        std::int32_t output = -1;
        EXPECT_EQ(encbridge::CheckOutputs(settings, output), row.reason);
        // A cut template need not read back as it was cut.
        if (row.reason == Reason::TemplateTooLong) continue;
        const std::string copy = folder_ + "copy" + std::to_string(&row - rows) + ".ini";
        ASSERT_TRUE(encbridge::WriteSettingsCopy(path.c_str(), copy.c_str(), "journal.log"));
        LoadSettings(copy.c_str(), settings);
        EXPECT_EQ(encbridge::CheckOutputs(settings, output), row.reason) << "in the copy";
    }
}

std::string Text(const char *value) { return value; }
std::string Text(std::int32_t value) { return std::to_string(value); }
std::string Text(encbridge::VerifyMode mode) { return std::to_string(static_cast<int>(mode)); }

// What output (or, for a key of the rip, the settings) holds for key, by the
// table of keys: "?" for a key that is not in it.
template <typename Settings>
std::string Held(const Settings &settings, const EncbridgeOutput &output, const std::string &key) {
#define ENCBRIDGE_HELD(field, name, ...) \
    if (key == name) return Text(output.field);
    ENCBRIDGE_OUTPUT_KEYS(ENCBRIDGE_HELD)
#undef ENCBRIDGE_HELD
#define ENCBRIDGE_HELD(field, name, ...) \
    if (key == name) return Text(settings.field);
    ENCBRIDGE_RIP_KEYS(ENCBRIDGE_HELD)
#undef ENCBRIDGE_HELD
    return "?";
}

// Every key of the table, for the main output, a numbered one and the rip,
// each with a value that is not its fallback, is read by the module, kept by
// the settings copy and given by the tools' table.
TEST_F(LoadSettingsTest, EveryKeyReadsBackFromTheCopyAndTheToolsTable) {
    const std::string program = testing_support::FakeEncoderPath();
    const struct Row {
        std::string section, key, written, kept;
    } rows[] = {
        {"SETUP", "OUT", ".flac", ".flac"},
        {"OPTION", "EXEPATH", "enc", folder_ + "enc"},
        {"OPTION", "COMMAND", "\" -8 %i% %o% \"", " -8 %i% %o% "},
        {"OPTION", "WIN_HIDE", "1", "1"},
        {"OPTION", "ALBUM_EXEPATH", "DENY", ""},
        {"OPTION", "ALBUM_COMMAND", "%dir%", "%dir%"},
        {"OPTION", "VERIFY", "decodes", "2"},
        {"OPTION", "VERIFY_EXEPATH", program, program},
        {"OPTION", "VERIFY_COMMAND", "-d %o%", "-d %o%"},
        {"OPTION", "DELETE", "0", "0"},
        {"OPTION", "JOBS", "3", "3"},
        {"OPTION", "LOG", "j.log", "j.log"},
        {"OUTPUT3", "OUT", ".mp3", ".mp3"},
        {"OUTPUT3", "EXEPATH", program, program},
        {"OUTPUT3", "COMMAND", "%i% %o%", "%i% %o%"},
        {"OUTPUT3", "WIN_HIDE", "2", "2"},
        {"OUTPUT3", "ALBUM_EXEPATH", "gain", folder_ + "gain"},
        {"OUTPUT3", "ALBUM_COMMAND", "\"\"", ""},
        {"OUTPUT3", "VERIFY", "Exactly", "3"},  // unknown, and it stays so
        {"OUTPUT3", "VERIFY_EXEPATH", "dec", folder_ + "dec"},
        {"OUTPUT3", "VERIFY_COMMAND", "x %o%", "x %o%"},
    };
    std::string file;
    for (const char *section : {"SETUP", "OPTION", "OUTPUT3"}) {
        file += "[" + std::string(section) + "]\n";
        for (const Row &row : rows) file += row.section == section ? row.key + "=" + row.written + "\n" : "";
    }
    const std::string path = Write(file), copy = folder_ + "copy.ini";
    ASSERT_TRUE(encbridge::WriteSettingsCopy(path.c_str(), copy.c_str(), "j.log"));
    encbridge::PluginSettings copied{};
    LoadSettings(path.c_str(), settings);
    LoadSettings(copy.c_str(), copied);
    EncbridgeSettings tools{};
    ASSERT_EQ(EncbridgeTools()->readSettings(path.c_str(), &tools), 1);
    ASSERT_EQ(settings.outputCount, 2);
    ASSERT_EQ(copied.outputCount, 2);
    EXPECT_EQ(copied.outputs[1].number * tools.outputs[1].number, 9);
    std::set<std::string> untested;
#define ENCBRIDGE_UNTESTED(field, name, ...) untested.insert({"OPTION " name, "OUTPUT3 " name});
    ENCBRIDGE_OUTPUT_KEYS(ENCBRIDGE_UNTESTED)
#undef ENCBRIDGE_UNTESTED
#define ENCBRIDGE_UNTESTED(field, name, ...) untested.insert("OPTION " name);
    ENCBRIDGE_RIP_KEYS(ENCBRIDGE_UNTESTED)
#undef ENCBRIDGE_UNTESTED
    for (const Row &row : rows) {
        const int o = row.section == "OUTPUT3" ? 1 : 0;
        untested.erase((o == 1 ? "OUTPUT3 " : "OPTION ") + row.key);
        EXPECT_EQ(Held(settings, settings.outputs[o], row.key), row.kept) << row.section << " " << row.key;
        EXPECT_EQ(Held(copied, copied.outputs[o], row.key), row.kept) << "copy: " << row.section << " " << row.key;
        EXPECT_EQ(Held(tools, tools.outputs[o], row.key), row.kept) << "tools: " << row.section << " " << row.key;
    }
    EXPECT_TRUE(untested.empty()) << "a key without a row: " << *untested.begin();
}

}  // namespace

// The tools' previews read [ALBUM] and [TRACKnn] as Create does: a long
// text is cut, and a cover path that may have been cut is left out.
TEST_F(LoadSettingsTest, ThePreviewsShowTheAlbumAndTrackValuesAsARipReadsThem) {
    const std::string program = testing_support::FakeEncoderPath();
    const std::string head = "[OPTION]\nEXEPATH=" + program + "\nCOMMAND=%tisr% %tcmp% %agen% %apic%\n" +
                             "ALBUM_EXEPATH=" + program +
                             "\nALBUM_COMMAND=%files% %disc% %agen%\n[ALBUM]\nDISC=2\nCOMPOSER=Ann\nGENRE=";
    const std::string track = "\n[TRACK02]\nISRC=USRC1\nCOMPOSER=Bob\n";
    const struct Row {
        std::string genre, cover, line;
    } rows[] = {
        {"Jazz", "/c.jpg", "\"USRC1\" \"Bob\" \"Jazz\" \"/c.jpg\""},
        {std::string(300, 'g'), "/" + std::string(256, 'c'), "\"USRC1\" \"Bob\" \"" + std::string(254, 'g') + "\""},
    };
    TrackInfo tracks[2] = {};
    AlbumInfo album{{}, {}, {}, {}, {}, 2, tracks};
    std::vector<char> line(encbridge::kLongestCommandLine);
    for (const Row &row : rows) {
        const std::string path = Write(head + row.genre + "\nCOVER=" + row.cover + track);
        EncbridgeSettings tools{};
        ASSERT_EQ(EncbridgeTools()->readSettings(path.c_str(), &tools), 1);
        EXPECT_EQ(EncbridgeTools()->previewTrackLine(&tools, 0, &album, 1, line.data(), line.size()),
                  kEncbridgeLineComplete);
        EXPECT_EQ(std::string(line.data()), "\"" + program + "\" " + row.line);
        EXPECT_EQ(EncbridgeTools()->previewAlbumLine(&tools, 0, &album, line.data(), line.size()),
                  kEncbridgeLineComplete);
        EXPECT_EQ(std::string(line.data()), "\"" + program + "\"  \"2\" \"" + row.genre.substr(0, 254) + "\"");
    }
}
