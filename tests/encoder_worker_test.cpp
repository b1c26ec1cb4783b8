// Whole rips through the loaded module with an encoder behind them: the
// test suite's fake encoder on both builds, and flac and lame on Linux.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "encoder_rip_fixture.h"
#include "fake_encoder/run_log.h"
#include "interface/plugin_interface.h"
#include "module_host.h"
#include "platform/platform.h"
#include "test_support.h"

namespace ts = testing_support;

namespace {

using ts::Bytes;
using Clock = std::chrono::steady_clock;

using ts::ElapsedMs;
using ts::SleepMs;
using ts::WaitUntil;

bool OnWindows() { return std::string(ts::Separator()) == "\\"; }

std::string Text(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

using ts::FakeEncoderPath;

// The module's own header, with the sizes it gets once a track of
// audioBytes is finished.
Bytes FinishedWav(const Bytes &audio) {
    Bytes wav = {'R',  'I',  'F',  'F',  0,    0,    0,    0,    'W',  'A',  'V',  'E',  'f',  'm',  't',
                 ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1,
                 0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 'd',  'a',  't',  'a',  0,    0,    0,    0};
    auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) wav[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(4, static_cast<std::uint32_t>(36 + audio.size()));
    put(40, static_cast<std::uint32_t>(audio.size()));
    // Copied into a buffer of the final size: GCC 12 at -O2 takes an insert
    // at the end of the 44-byte vector for a write past it.
    Bytes file(wav.size() + audio.size());
    std::copy(wav.begin(), wav.end(), file.begin());
    std::copy(audio.begin(), audio.end(), file.begin() + static_cast<std::ptrdiff_t>(wav.size()));
    return file;
}

// What the fake encoder writes for a WAV file.
std::string FakeOutput(const Bytes &audio) { return "FAKE" + Text(FinishedWav(audio)); }

using ts::Audio;

// Titles that a careless command line would split, merge or spoil.
const char *const kTitles[] = {
    "Say \"hi\" now",
    "12\" Remix \\\"quoted\\\" back\\slash\\",
    "Caf\xC3\xA9 \xE2\x80\x94 na\xC3\xAFve %no",
};

using Host = ts::ModuleHost;
using ts::Album;

using ts::Settings;

class WorkerTest : public ts::EncoderRipTest {
protected:
    // The rows of TheJournalSaysWhyEachOutputWasOrWasNotProduced; those of a
    // read-only folder only where it refuses the user.
    void JournalReasonCases(bool folderRefuses);

    // A new output folder inside out_, for one case of a table.
    std::string CaseFolder(const std::string &name) {
        std::string folder = out_ + name + ts::Separator();
        EXPECT_TRUE(ts::MakeFolder(folder));
        return folder;
    }

    static std::string Numbered(const std::string &folder, const char *pattern, int number,
                                const std::string &extension) {
        char name[64];
        std::snprintf(name, sizeof name, pattern, number);
        return folder + name + extension;
    }
    static std::string Temp(const std::string &folder, int number, const std::string &extension) {
        return Numbered(folder, "#temp(%02d)", number, extension);
    }
    static std::string Final(const std::string &folder, int number, const std::string &extension) {
        return Numbered(folder, "%02d Track", number, extension);
    }
};

// ---- The road of a track ---------------------------------------------------

struct RoadCase {
    const char *extension;
    int deleteWav;
};

TEST_F(WorkerTest, EachTrackReachesItsFinalNameAndTheWavGoesOnlyWhenConfigured) {
    const RoadCase cases[] = {{".mp3", 1}, {".mp3", 0}, {".wav", 1}, {".wav", 0}};
    int caseNumber = 0;
    for (const RoadCase &c : cases) {
        const std::string ext = c.extension;
        SCOPED_TRACE(ext + " DELETE=" + std::to_string(c.deleteWav));
        std::string folder = CaseFolder("case" + std::to_string(++caseNumber));
        std::string log = "case" + std::to_string(caseNumber) + ".log";
        std::string settings = WriteSettings({ext, Fake("", log), c.deleteWav});
        Album album(folder, 2);
        const Bytes audio[2] = {Audio(4000, 1), Audio(3108, 2)};

        ASSERT_EQ(host_->Create(album.info.get(), settings), 1);
        EXPECT_EQ(host_->DeliverTrack(audio[0]), 1);
        EXPECT_EQ(host_->DeliverTrack(audio[1]), 1);

        // The album's last delivery has returned: all encoding is done.
        std::vector<std::string> expected = {ts::kRipLockName};
        for (int number = 1; number <= 2; ++number) {
            EXPECT_EQ(Text(ts::ReadFile(Final(folder, number, ext))), FakeOutput(audio[number - 1]));
            expected.push_back(Numbered("", "%02d Track", number, ext));
            // With ".wav" the WAV file itself was the output and has moved.
            if (ext != ".wav" && c.deleteWav == 0) {
                EXPECT_EQ(ts::ReadFile(Temp(folder, number, ".wav")), FinishedWav(audio[number - 1]));
                expected.push_back(Numbered("", "#temp(%02d)", number, ".wav"));
            }
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ts::ListFolder(folder), expected);

        std::vector<fake_encoder::Run> runs = Runs(log);
        ASSERT_EQ(runs.size(), 2u);
        for (int number = 1; number <= 2; ++number) {
            std::vector<std::string> arguments = {"--log", Log(log), Temp(folder, number, ".wav"),
                                                  Temp(folder, number, ext)};
            EXPECT_EQ(runs[number - 1].arguments, arguments);
        }
        EXPECT_EQ(host_->Kill(), 0);
    }
}

TEST_F(WorkerTest, AWholeAlbumDeliveredAtOnceStillWaitsForEveryTrack) {
    std::string settings = WriteSettings({".mp3", Fake("--sleep 300"), 1});
    Album album(out_, 3);
    ASSERT_EQ(host_->Create(album.info.get(), settings), 1);
    // Straight after Create: the worker may not even have begun to run.
    Clock::time_point start = Clock::now();
    std::vector<Bytes> audio;
    for (int number = 1; number <= 3; ++number) {
        audio.push_back(Audio(2000, static_cast<unsigned>(number)));
        EXPECT_EQ(host_->DeliverTrack(audio.back()), 1);
    }
    EXPECT_GE(ElapsedMs(start), 900) << "three runs of 300 ms one after the other";
    for (int number = 1; number <= 3; ++number) {
        EXPECT_EQ(Text(ts::ReadFile(Final(out_, number, ".mp3"))), FakeOutput(audio[number - 1]));
        EXPECT_FALSE(ts::FileExists(Temp(out_, number, ".wav")));
    }
    std::vector<fake_encoder::Run> runs = Runs();
    ASSERT_EQ(runs.size(), 3u);
    for (int number = 1; number <= 3; ++number) {
        EXPECT_FALSE(runs[number - 1].overlapped) << "one encoder at a time";
        EXPECT_EQ(runs[number - 1].arguments.at(4), Temp(out_, number, ".wav")) << "in track order";
    }
}

TEST_F(WorkerTest, SkippedTracksAreNeitherWrittenNorEncoded) {
    struct SkipCase {
        const char *name;
        int tracks;
        std::vector<int> skipped;
    };
    const SkipCase cases[] = {
        {"first, middle and last skipped", 5, {1, 3, 5}},
        {"all skipped", 2, {1, 2}},
    };
    int caseNumber = 0;
    for (const SkipCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = CaseFolder("case" + std::to_string(++caseNumber));
        std::string log = "case" + std::to_string(caseNumber) + ".log";
        Album album(folder, c.tracks);
        for (int number : c.skipped) album.Skip(number - 1);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("", log), 1})), 1);
        std::vector<std::string> expected = {ts::kRipLockName};
        std::vector<std::string> encoded;
        for (int number = 1; number <= c.tracks; ++number) {
            Bytes audio = Audio(1200, static_cast<unsigned>(number));
            EXPECT_EQ(host_->DeliverTrack(audio), 1);
            bool skipped = std::find(c.skipped.begin(), c.skipped.end(), number) != c.skipped.end();
            if (!skipped) {
                expected.push_back(Numbered("", "%02d Track", number, ".mp3"));
                encoded.push_back(Temp(folder, number, ".wav"));
            }
        }
        EXPECT_EQ(ts::ListFolder(folder), expected);
        std::vector<fake_encoder::Run> runs = Runs(log);
        std::vector<std::string> inputs;
        for (const fake_encoder::Run &run : runs) inputs.push_back(run.arguments.at(2));
        EXPECT_EQ(inputs, encoded);
        EXPECT_EQ(host_->Kill(), 0);
    }
}

// ---- Runs that do not succeed ----------------------------------------------

TEST_F(WorkerTest, ARunThatDoesNotSucceedKeepsTheWav) {
    std::string notAProgram = aux_ + "not-a-program.exe";
    ts::WriteFile(notAProgram, "this is no program\n");
    ASSERT_TRUE(ts::MakeExecutable(notAProgram));
    struct FailCase {
        const char *name;
        const char *extension;
        std::string options;
        std::string encoder;
        bool outputStays;  // under its temporary name
    };
    const FailCase cases[] = {
        {"exits non-zero", ".mp3", "--exit 3", FakeEncoderPath(), true},
        {"writes nothing", ".mp3", "--no-output", FakeEncoderPath(), false},
        {"cannot be started", ".mp3", "", notAProgram, false},
        {"exits non-zero, output .wav", ".wav", "--exit 3", FakeEncoderPath(), true},
    };
    int caseNumber = 0;
    for (const FailCase &c : cases) {
        SCOPED_TRACE(c.name);
        // wine hands a file that is no Windows program to the host system
        // instead of refusing it, so nothing fails to start there.
        if (c.encoder == notAProgram && ts::RunningUnderWine()) continue;
        const std::string ext = c.extension;
        std::string folder = CaseFolder("case" + std::to_string(++caseNumber));
        Settings s{ext, Fake(c.options, "case" + std::to_string(caseNumber) + ".log"), 1, c.encoder};
        Album album(folder, 1);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
        Bytes audio = Audio(1600, 9);
        EXPECT_EQ(host_->DeliverTrack(audio), 1);

        EXPECT_FALSE(ts::FileExists(Final(folder, 1, ext)));
        if (ext == ".wav") {
            // The encoder rewrote the WAV file, which stays where it was.
            EXPECT_EQ(Text(ts::ReadFile(Temp(folder, 1, ".wav"))), FakeOutput(audio));
        } else {
            EXPECT_EQ(ts::ReadFile(Temp(folder, 1, ".wav")), FinishedWav(audio));
            EXPECT_EQ(ts::FileExists(Temp(folder, 1, ext)), c.outputStays);
        }
        EXPECT_EQ(host_->Kill(), 0);
    }
}

TEST_F(WorkerTest, AnExistingFinalFileIsNeverReplaced) {
    int caseNumber = 0;
    for (const std::string ext : {".mp3", ".wav"}) {
        SCOPED_TRACE(ext);
        std::string folder = CaseFolder("case" + std::to_string(++caseNumber));
        ts::WriteFile(Final(folder, 1, ext), "older");
        Album album(folder, 2);
        Settings s{ext, Fake("", "case" + std::to_string(caseNumber) + ".log"), 1};
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
        Bytes audio[2] = {Audio(1200, 1), Audio(1200, 2)};
        EXPECT_EQ(host_->DeliverTrack(audio[0]), 1);
        EXPECT_EQ(host_->DeliverTrack(audio[1]), 1);

        EXPECT_EQ(Text(ts::ReadFile(Final(folder, 1, ext))), "older");
        EXPECT_EQ(Text(ts::ReadFile(Temp(folder, 1, ext))), FakeOutput(audio[0]));
        if (ext != ".wav") {
            EXPECT_EQ(ts::ReadFile(Temp(folder, 1, ".wav")), FinishedWav(audio[0]));
        }
        // The next track goes on as usual.
        EXPECT_EQ(Text(ts::ReadFile(Final(folder, 2, ext))), FakeOutput(audio[1]));
        EXPECT_FALSE(ts::FileExists(Temp(folder, 2, ".wav")));
        EXPECT_EQ(host_->Kill(), 0);
    }
}

TEST_F(WorkerTest, ACommandOrPathThatWouldBeCutIsNotRun) {
    struct CutCase {
        const char *name;
        std::function<void(TrackInfo &)> spoil;
    };
    const CutCase cases[] = {
        // The title alone leaves no room in the 1,023 characters of the command.
        {"command line", [](TrackInfo &t) { std::memset(t.title, 't', 1000), t.title[1000] = '\0'; }},
        {"final path", [](TrackInfo &t) { std::memset(t.fileName, 'n', 255), t.fileName[255] = '\0'; }},
    };
    int caseNumber = 0;
    for (const CutCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = CaseFolder("case" + std::to_string(++caseNumber));
        std::string log = "case" + std::to_string(caseNumber) + ".log";
        Album album(folder, 2);
        c.spoil(album.records[0]);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("--tag %ttit%", log), 1})), 1);
        Bytes audio[2] = {Audio(1200, 1), Audio(1200, 2)};
        EXPECT_EQ(host_->DeliverTrack(audio[0]), 1);
        EXPECT_EQ(host_->DeliverTrack(audio[1]), 1);

        EXPECT_EQ(ts::ReadFile(Temp(folder, 1, ".wav")), FinishedWav(audio[0]));
        EXPECT_EQ(ts::ListFolder(folder),
                  std::vector<std::string>({ts::kRipLockName, "#temp(01).wav", "02 Track.mp3"}));
        std::vector<fake_encoder::Run> runs = Runs(log);
        ASSERT_EQ(runs.size(), 1u) << "only the second track was run";
        EXPECT_EQ(runs[0].arguments.at(4), Temp(folder, 2, ".wav"));
        EXPECT_EQ(host_->Kill(), 0);
    }
}

TEST_F(WorkerTest, AFinalNameThatLeadsElsewhereIsNotUsed) {
    struct NameCase {
        const char *name;
        const char *fileName;
    };
    // Track 1's name from the host: one that climbs out of the output folder,
    // and one that is where track 2's encoder writes its output, which would
    // overwrite track 1's encoded file after its WAV file was deleted.
    const NameCase cases[] = {
        {"into the parent folder", "../escaped"},
        {"onto the output of track 2", "#temp(02)"},
    };
    int caseNumber = 0;
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string sub = "case" + std::to_string(++caseNumber);
        std::string folder = CaseFolder(sub);
        std::string log = sub + ".log";
        Album album(folder, 2);
        std::snprintf(album.records[0].fileName, sizeof album.records[0].fileName, "%s", c.fileName);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("", log), 1})), 1);
        Bytes audio[2] = {Audio(1200, 1), Audio(1200, 2)};
        EXPECT_EQ(host_->DeliverTrack(audio[0]), 1);
        EXPECT_EQ(host_->DeliverTrack(audio[1]), 1);

        EXPECT_EQ(ts::ReadFile(Temp(folder, 1, ".wav")), FinishedWav(audio[0]));
        EXPECT_EQ(Text(ts::ReadFile(Final(folder, 2, ".mp3"))), FakeOutput(audio[1]));
        EXPECT_EQ(ts::ListFolder(folder),
                  std::vector<std::string>({ts::kRipLockName, "#temp(01).wav", "02 Track.mp3"}));
        std::vector<std::string> parent = ts::ListFolder(out_);
        EXPECT_EQ(std::find(parent.begin(), parent.end(), "escaped.mp3"), parent.end());
        ASSERT_EQ(Runs(log).size(), 1u) << "only the second track was run";
        EXPECT_EQ(host_->Kill(), 0);
    }
}

// ---- Stopping a rip ----------------------------------------------------------

using ts::ProcessGone;

TEST_F(WorkerTest, KillEndsAHangingEncoderPromptlyAndKeepsTheWavFiles) {
    int caseNumber = 0;
    for (const char *options : {"--hang", "--partial-then-hang"}) {
        SCOPED_TRACE(options);
        std::string folder = CaseFolder("case" + std::to_string(++caseNumber));
        std::string log = "case" + std::to_string(caseNumber) + ".log";
        Album album(folder, 2);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake(options, log), 1})), 1);
        Bytes first = Audio(8000, 1);
        EXPECT_EQ(host_->DeliverTrack(first), 1);
        EXPECT_EQ(host_->Deliver(Audio(400, 2)), 1);  // the second track is still open
        ASSERT_TRUE(WaitUntil([&] { return Runs(log).size() == 1; }));
        if (std::strcmp(options, "--partial-then-hang") == 0) {
            ASSERT_TRUE(WaitUntil([&] { return ts::ReadFile(Temp(folder, 1, ".mp3")).size() > 4; }));
        }

        Clock::time_point start = Clock::now();
        EXPECT_EQ(host_->Kill(), 0);
        EXPECT_LT(ElapsedMs(start), 1000);
        EXPECT_TRUE(ProcessGone(Runs(log)[0].facts["pid"]));
        EXPECT_FALSE(ts::FileExists(Temp(folder, 1, ".mp3"))) << "the run's partial output is removed";
        EXPECT_EQ(ts::ReadFile(Temp(folder, 1, ".wav")), FinishedWav(first));
        EXPECT_TRUE(ts::FileExists(Temp(folder, 2, ".wav")));
        EXPECT_FALSE(ts::FileExists(Final(folder, 1, ".mp3")));
        EXPECT_EQ(Runs(log).size(), 1u);
    }
}

TEST_F(WorkerTest, ACreateWhileAWorkerRunsStopsItFirst) {
    std::string folderA = CaseFolder("a"), folderB = CaseFolder("b");
    Album albumA(folderA, 2), albumB(folderB, 2);
    ASSERT_EQ(host_->Create(albumA.info.get(), WriteSettings({".mp3", Fake("--partial-then-hang", "a.log"), 1})), 1);
    Bytes first = Audio(8000, 1);
    EXPECT_EQ(host_->DeliverTrack(first), 1);
    ASSERT_TRUE(WaitUntil([&] { return ts::ReadFile(Temp(folderA, 1, ".mp3")).size() > 4; }));

    Clock::time_point start = Clock::now();
    ASSERT_EQ(host_->Create(albumB.info.get(), WriteSettings({".mp3", Fake("", "b.log"), 1}, "b.ini")), 1);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_FALSE(ts::FileExists(Temp(folderA, 1, ".mp3")));
    EXPECT_EQ(ts::ReadFile(Temp(folderA, 1, ".wav")), FinishedWav(first));

    Bytes audio[2] = {Audio(1200, 3), Audio(1200, 4)};
    EXPECT_EQ(host_->DeliverTrack(audio[0]), 1);
    EXPECT_EQ(host_->DeliverTrack(audio[1]), 1);
    for (int number = 1; number <= 2; ++number) {
        EXPECT_EQ(Text(ts::ReadFile(Final(folderB, number, ".mp3"))), FakeOutput(audio[number - 1]));
    }
    // Each album was served by one worker: no run twice, none by the other's rules.
    EXPECT_EQ(Runs("a.log").size(), 1u);
    std::vector<fake_encoder::Run> runs = Runs("b.log");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].arguments.at(2), Temp(folderB, 1, ".wav"));
    EXPECT_EQ(runs[1].arguments.at(2), Temp(folderB, 2, ".wav"));
    // The second track of A, open when B began, stays as it was left.
    EXPECT_EQ(ts::ListFolder(folderA), std::vector<std::string>({"#temp(01).wav", "#temp(02).wav"}));
}

TEST_F(WorkerTest, UnloadingWithAWorkerRunningLeavesTheModuleInPlace) {
    // A copy of its own, so that this module's life is this test's alone.
    std::string copy = aux_ + "unload-" + ts::ModuleFileName();
    Bytes image = ts::ReadFile(ts::ProgramFolder() + ts::ModuleFileName());
    ts::WriteFile(copy, Text(image));
    Album album(out_, 2);
    std::string settings = WriteSettings({".mp3", Fake("--partial-then-hang"), 1});
    Bytes first = Audio(8000, 1);
    {
        Host host(copy);
        ASSERT_TRUE(host.ready());
        ASSERT_EQ(host.Create(album.info.get(), settings), 1);
        EXPECT_EQ(host.DeliverTrack(first), 1);
        ASSERT_TRUE(WaitUntil([&] { return ts::ReadFile(Temp(out_, 1, ".mp3")).size() > 4; }));
        host.Unload();
    }
    // The worker goes on in the module's code while the host holds no
    // reference to it.
    SleepMs(300);
    Host again(copy);
    ASSERT_TRUE(again.ready());
    // The rip is still there, so the module never left memory.
    EXPECT_EQ(again.Deliver(Audio(400, 2)), 1);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(again.Kill(), 0);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_FALSE(ts::FileExists(Temp(out_, 1, ".mp3")));
    EXPECT_EQ(ts::ReadFile(Temp(out_, 1, ".wav")), FinishedWav(first));
}

TEST_F(WorkerTest, ExitingTheHostWithAWorkerRunningEndsTheEncoder) {
    // The library's destructor does this on Linux. On Windows the job that
    // holds the encoder goes with the host's process; gtest's death tests do
    // not run their statement under wine, so process_tests shows it there
    // with a host process of its own (AHostThatExitsTakesItsEncoderWithIt).
    if (OnWindows()) GTEST_SKIP() << "shown on Windows by process_tests";
    Album album(out_, 2);
    std::string settings = WriteSettings({".mp3", Fake("--partial-then-hang"), 1});
    Bytes first = Audio(8000, 1);
    Clock::time_point start = Clock::now();
    EXPECT_EXIT(
        {
            if (host_->Create(album.info.get(), settings) != 1 || host_->DeliverTrack(first) != 1) std::exit(3);
            if (!WaitUntil([&] { return ts::ReadFile(Temp(out_, 1, ".mp3")).size() > 4; })) std::exit(4);
            std::exit(0);  // without Kill
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_LT(ElapsedMs(start), 10000);
    std::vector<fake_encoder::Run> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(ProcessGone(runs[0].facts["pid"]));
    EXPECT_FALSE(ts::FileExists(Temp(out_, 1, ".mp3")));
    EXPECT_EQ(ts::ReadFile(Temp(out_, 1, ".wav")), FinishedWav(first));
}

// ---- How the encoder is started -------------------------------------------

TEST_F(WorkerTest, TheWindowSettingReachesTheEncoder) {
    for (int hide : {1, 0}) {
        SCOPED_TRACE(hide);
        std::string log = "hide" + std::to_string(hide) + ".log";
        std::string folder = CaseFolder("hide" + std::to_string(hide));
        Album album(folder, 1);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("", log), 1, FakeEncoderPath(), hide})),
                  1);
        EXPECT_EQ(host_->DeliverTrack(Audio(40, 1)), 1);
        std::vector<fake_encoder::Run> runs = Runs(log);
        ASSERT_EQ(runs.size(), 1u);
#ifdef _WIN32
        EXPECT_EQ(runs[0].facts["show-window-flag"], "1");
        EXPECT_EQ(runs[0].facts["show-mode"], hide ? "0" : "4");  // SW_HIDE, SW_SHOWNOACTIVATE
#else
        // Hidden, its words are kept through a pipe of the module's; shown, it writes where the host does.
        char host[512] = {};
        EXPECT_GT(readlink("/proc/self/fd/1", host, sizeof host - 1), 0);
        EXPECT_EQ(runs[0].facts["stdout"] == host, hide == 0);
        EXPECT_EQ(runs[0].facts["inherited"], "") << "no file of the module or the host reaches the encoder";
#endif
        EXPECT_EQ(host_->Kill(), 0);
    }
}

TEST_F(WorkerTest, QuotedTitlesReachTheEncoderAsOneArgumentEach) {
    Album album(out_, 3);
    for (int i = 0; i < 3; ++i) std::snprintf(album.records[i].title, sizeof album.records[i].title, "%s", kTitles[i]);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("--tag %ttit%"), 1})), 1);
    for (int number = 1; number <= 3; ++number) EXPECT_EQ(host_->DeliverTrack(Audio(40, 1)), 1);
    std::vector<fake_encoder::Run> runs = Runs();
    ASSERT_EQ(runs.size(), 3u);
    for (int number = 1; number <= 3; ++number) {
        std::vector<std::string> expected = {
            "--log", Log(), "--tag", kTitles[number - 1], Temp(out_, number, ".wav"), Temp(out_, number, ".mp3")};
        EXPECT_EQ(runs[number - 1].arguments, expected);
    }
}

// What a host writes of the album and its tracks into the settings file
// reaches each track's line and the album step's, each value one argument;
// a value not given leaves out its option.
TEST_F(WorkerTest, TheSettingsFilesAlbumAndTrackValuesReachTheLines) {
    const std::string cover = aux_ + "the cover.jpg";
    Settings s{".mp3", Fake("--tag %disc%/%dtot% --tag %agen% --tag ISRC=%tisr% --tag %tcmp% --tag %tsng%"), 1};
    s.extra =
        "ALBUM_EXEPATH=" + FakeEncoderPath() + "\nALBUM_COMMAND=--album --log \"" + Log("album.log") +
        "\" --tag %apic% --tag %tisr% %acat%\n[ALBUM]\nDISC=2\nDISCS=3\nGENRE=Jazz & \"Blues\"\nCOMPOSER=Ann\nCOVER=" +
        cover + "\n[TRACK02]\nISRC=USRC17607839\nCOMPOSER=Bob B\n";
    Album album(out_, 2);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
    for (int number = 1; number <= 2; ++number) EXPECT_EQ(host_->DeliverTrack(Audio(40, 1)), 1);
    const std::vector<fake_encoder::Run> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    const std::vector<std::string> head = {"--log", Log(), "--tag", "2/3", "--tag", "Jazz & \"Blues\""};
    std::vector<std::string> first = head, second = head;
    first.insert(first.end(), {"--tag", "Ann", Temp(out_, 1, ".wav"), Temp(out_, 1, ".mp3")});
    second.insert(second.end(),
                  {"--tag", "ISRC=USRC17607839", "--tag", "Bob B", Temp(out_, 2, ".wav"), Temp(out_, 2, ".mp3")});
    EXPECT_EQ(runs[0].arguments, first);
    EXPECT_EQ(runs[1].arguments, second);
    const std::vector<fake_encoder::Run> step = Runs("album.log");
    ASSERT_EQ(step.size(), 1u);
    const std::vector<std::string> expected = {"--album", "--log", Log("album.log"), "--tag", cover, "--tag", "%tisr%"};
    EXPECT_EQ(step[0].arguments, expected);
}

// A batch file as the encoder (users chain an encoder and a tagger that
// way): a title with operators reaches the script whole and runs nothing;
// one that cmd.exe would act on is not run, and its WAV stays.
TEST_F(WorkerTest, ABatchFileEncoderGetsTitlesWholeOrNotAtAll) {
    if (std::string(ts::Separator()) != "\\") GTEST_SKIP() << "only Windows runs batch files through cmd.exe";
    const std::string marker = aux_ + "marker";
    const std::string script = aux_ + "wrap.bat";
    ts::WriteFile(script, "@\"" + FakeEncoderPath() + "\" %*\r\n");
    const std::string titles[] = {"a\" & echo x> \"" + marker + "\" & rem \"", "a\r\n echo x> \"" + marker + "\"",
                                  "100%PATH%"};
    Album album(out_, 3);
    for (int i = 0; i < 3; ++i) {
        std::snprintf(album.records[i].title, sizeof album.records[i].title, "%s", titles[i].c_str());
    }
    Settings settings{".mp3", Fake("--tag %ttit%"), 1};
    settings.encoder = script;
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(settings)), 1);
    for (int number = 1; number <= 3; ++number) EXPECT_EQ(host_->DeliverTrack(Audio(40, 1)), 1);
    std::vector<fake_encoder::Run> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].arguments, (std::vector<std::string>{"--log", Log(), "--tag", titles[0], Temp(out_, 1, ".wav"),
                                                           Temp(out_, 1, ".mp3")}));
    EXPECT_EQ(ts::ListFolder(out_),
              (std::vector<std::string>{ts::kRipLockName, "#temp(02).wav", "#temp(03).wav", "01 Track.mp3"}));
    EXPECT_FALSE(ts::FileExists(marker));
    EXPECT_EQ(host_->Kill(), 0);
}

TEST_F(WorkerTest, UnloadingRightAfterCreateNeverRunsFreedCode) {
    // The worker of an empty album ends by itself at once, so dropping its
    // reference to the module races with the host's own unload: either may
    // be the last one.
    std::string copy = aux_ + "race-" + ts::ModuleFileName();
    ts::WriteFile(copy, Text(ts::ReadFile(ts::ProgramFolder() + ts::ModuleFileName())));
    std::string settings = WriteSettings({".mp3", Fake(""), 1});
    Album empty(out_, 0);
    for (int round = 0; round < 20; ++round) {
        Host host(copy);
        ASSERT_TRUE(host.ready());
        ASSERT_EQ(host.Create(empty.info.get(), settings), 1);
        if (round % 2 == 1) SleepMs(5);
        host.Unload();
    }
    SleepMs(100);
    EXPECT_TRUE(Runs().empty());
}

// ---- Real encoders (Linux) -------------------------------------------------

std::string ShellQuote(const std::string &text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ToolPath(const char *name) {
    std::string path = ts::RunTool(std::string("command -v ") + name);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    return path;
}

// ---- Several encoders at once -------------------------------------------------

// The most encoders that ran at once, from the slots the fake encoder took.
int MostAtOnce(const std::vector<fake_encoder::Run> &runs) {
    int most = 0;
    for (const fake_encoder::Run &run : runs) {
        auto slot = run.facts.find("slot");
        if (slot != run.facts.end()) most = std::max(most, std::atoi(slot->second.c_str()));
    }
    return most;
}

// Encoders that each take a while, on an album delivered faster than they
// run: never more at once than JOBS allows, several when it allows them,
// started in track order, and the album's end waits for every one.
TEST_F(WorkerTest, JobsBoundTheEncodersThatRunAtOnce) {
    struct Case {
        const char *jobs;
        int most;
    } cases[] = {{"", 1}, {"1", 1}, {"2", 2}, {"3", 3}};
    int caseNumber = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("JOBS=") + c.jobs);
        const std::string folder = CaseFolder("case" + std::to_string(++caseNumber));
        const std::string log = "case" + std::to_string(caseNumber) + ".log";
        Album album(folder, 5);
        album.Skip(1);
        Settings settings{".mp3", Fake("--sleep 400", log), 1};
        settings.jobs = c.jobs;
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(settings)), 1);
        Bytes audio[5];
        for (int i = 0; i < 5; ++i) {
            audio[i] = Audio(400, static_cast<unsigned>(i + 1));
            EXPECT_EQ(host_->DeliverTrack(audio[i]), 1);
        }
        // The last delivery has returned: every encoder has ended.
        const std::vector<fake_encoder::Run> runs = Runs(log);
        ASSERT_EQ(runs.size(), 4u);
        EXPECT_EQ(MostAtOnce(runs), c.most);
        // Encoders started together write their records in whatever order
        // the system runs them; one started later can only overtake those
        // that still run beside it, so a record stands at most JOBS - 1
        // places from its track's place. With one at a time, exactly there.
        const int numbers[] = {1, 3, 4, 5};
        for (int i = 0; i < 4; ++i) {
            int place = 0;
            while (place < 4 && runs[place].arguments.at(4) != Temp(folder, numbers[i], ".wav")) ++place;
            ASSERT_LT(place, 4) << "track " << numbers[i] << " was not encoded";
            EXPECT_LE(std::abs(place - i), c.most - 1) << "track " << numbers[i] << " started out of track order";
            EXPECT_EQ(Text(ts::ReadFile(Final(folder, numbers[i], ".mp3"))), FakeOutput(audio[numbers[i] - 1]));
        }
        EXPECT_EQ(host_->Kill(), 0);
    }
}

// A Kill while several encoders run ends every one of them and removes each
// partial output; every WAV file stays. Encoders that ignore TERM are all
// told at once and share one grace period (300 ms): eight take far less
// than eight graces.
TEST_F(WorkerTest, KillEndsEveryEncoderThatRuns) {
    Album album(out_, 9);
    Settings settings{".mp3", Fake("--partial-then-hang --ignore-term"), 1};
    settings.jobs = "8";
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(settings)), 1);
    Bytes audio[8];
    for (int i = 0; i < 8; ++i) {
        audio[i] = Audio(8000, static_cast<unsigned>(i + 1));
        EXPECT_EQ(host_->DeliverTrack(audio[i]), 1);
    }
    EXPECT_EQ(host_->Deliver(Audio(400, 9)), 1);  // the last track is still open
    // None of them ever ends by itself: eight have begun writing at once.
    ASSERT_TRUE(WaitUntil([&] {
        if (Runs().size() != 8) return false;
        for (int number = 1; number <= 8; ++number) {
            if (ts::ReadFile(Temp(out_, number, ".mp3")).size() <= 4) return false;
        }
        return true;
    }));
    Clock::time_point start = Clock::now();
    EXPECT_EQ(host_->Kill(), 0);
    EXPECT_LT(ElapsedMs(start), 8 * 300) << "each encoder was given a grace of its own";
    for (const fake_encoder::Run &run : Runs()) EXPECT_TRUE(ProcessGone(run.facts.at("pid")));
    for (int number = 1; number <= 8; ++number) {
        EXPECT_FALSE(ts::FileExists(Temp(out_, number, ".mp3"))) << number;
        EXPECT_EQ(ts::ReadFile(Temp(out_, number, ".wav")), FinishedWav(audio[number - 1])) << number;
    }
}

// ---- What the output folder holds already ----------------------------------

// An earlier rip's leftovers under this rip's temporary names: an output
// kept because its final name existed, a WAV kept after a failed encode,
// an empty file. None is reused, published or truncated.
TEST_F(WorkerTest, LeftoversAreMovedAsideNeverPublishedNorTruncated) {
    ts::WriteFile(Temp(out_, 1, ".mp3"), "another album's output");
    ts::WriteFile(Temp(out_, 2, ".wav"), "another album's WAV");
    ts::WriteFile(out_ + "#kept(02)-1.wav", "an older one");
    ts::WriteFile(Temp(out_, 3, ".wav"), "");
    Album album(out_, 3);
    // An encoder (or a wrapper) that reports success and writes nothing.
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("--no-output"), 1})), 1);
    const Bytes audio[3] = {Audio(400, 1), Audio(400, 2), Audio(400, 3)};
    for (const Bytes &track : audio) EXPECT_EQ(host_->DeliverTrack(track), 1);
    EXPECT_EQ(ts::ListFolder(out_),
              (std::vector<std::string>{"#kept(01)-1.mp3", "#kept(02)-1.wav", "#kept(02)-2.wav", ts::kRipLockName,
                                        "#temp(01).wav", "#temp(02).wav", "#temp(03).wav"}));
    EXPECT_EQ(Text(ts::ReadFile(out_ + "#kept(01)-1.mp3")), "another album's output");
    EXPECT_EQ(Text(ts::ReadFile(out_ + "#kept(02)-2.wav")), "another album's WAV");
    EXPECT_EQ(Text(ts::ReadFile(out_ + "#kept(02)-1.wav")), "an older one");
    for (int number = 1; number <= 3; ++number) {
        EXPECT_EQ(ts::ReadFile(Temp(out_, number, ".wav")), FinishedWav(audio[number - 1]));
    }
    EXPECT_EQ(host_->Kill(), 0);
    EXPECT_FALSE(ts::FileExists(out_ + ts::kRipLockName));
}

// An "encoder" whose output is another name of the WAV file (a link) has
// made no file of its own: nothing is published, and the WAV stays.
TEST_F(WorkerTest, OnlyAPlainFileOfTheEncoderIsPublished) {
    Album album(out_, 1);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("--link-output"), 1})), 1);
    const Bytes audio = Audio(400, 1);
    EXPECT_EQ(host_->DeliverTrack(audio), 1);
    EXPECT_FALSE(ts::FileExists(Final(out_, 1, ".mp3")));
    EXPECT_EQ(ts::ReadFile(Temp(out_, 1, ".wav")), FinishedWav(audio));
    EXPECT_EQ(host_->Kill(), 0);
}

// With OUT=.WAV the encoder's output is the WAV file itself on Windows,
// whose names ignore case: a stop must not remove it as a partial output.
TEST_F(WorkerTest, AStopNeverRemovesTheWavWhateverCaseTheExtensionHas) {
    Album album(out_, 2);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".WAV", Fake("--hang"), 1})), 1);
    const Bytes audio = Audio(400, 1);
    EXPECT_EQ(host_->DeliverTrack(audio), 1);
    EXPECT_EQ(host_->Deliver(Audio(400, 2)), 1);  // the second track is still open
    ASSERT_TRUE(WaitUntil([&] { return Runs().size() == 1; }));
    EXPECT_EQ(host_->Kill(), 0);
    EXPECT_EQ(ts::ReadFile(Temp(out_, 1, ".wav")), FinishedWav(audio));
}

// A host's naming scheme may put each track in folders of its own below the
// output folder; names that lead anywhere else are not used.
TEST_F(WorkerTest, FinalNamesWithFoldersAreMadeBelowTheOutputFolder) {
    const std::string sep = ts::Separator();
    const std::string names[] = {"Artist" + sep + "Album" + sep + "01 Title", "Artist" + sep + "02 Title",
                                 "Artist" + sep + ".." + sep + ".." + sep + "03 Escaped"};
    Album album(out_, 3);
    for (int i = 0; i < 3; ++i) {
        std::snprintf(album.records[i].fileName, sizeof album.records[i].fileName, "%s", names[i].c_str());
    }
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake(""), 1})), 1);
    const Bytes audio[3] = {Audio(400, 1), Audio(400, 2), Audio(400, 3)};
    for (const Bytes &track : audio) EXPECT_EQ(host_->DeliverTrack(track), 1);
    EXPECT_EQ(Text(ts::ReadFile(out_ + names[0] + ".mp3")), FakeOutput(audio[0]));
    EXPECT_EQ(Text(ts::ReadFile(out_ + names[1] + ".mp3")), FakeOutput(audio[1]));
    EXPECT_EQ(ts::ReadFile(Temp(out_, 3, ".wav")), FinishedWav(audio[2])) << "the WAV stays";
    EXPECT_EQ(ts::ListFolder(out_), (std::vector<std::string>{ts::kRipLockName, "#temp(03).wav", "Artist"}));
    EXPECT_EQ(host_->Kill(), 0);
}

// ---- Several outputs and the album step -----------------------------------

// Two outputs of every track, each with an album step that records its
// arguments. The files' names hold blanks and a non-ASCII letter, and each
// reaches the step as one argument, once every track has that output. When
// one output fails for one track, that track keeps its WAV and its other
// output, and only the failing output's album step is not run.
TEST_F(WorkerTest, EveryOutputOfEveryTrackThenEachAlbumStep) {
    const std::string step = "ALBUM_EXEPATH=" + FakeEncoderPath() + "\nALBUM_COMMAND=--album --log ";
    struct OutputCase {
        const char *name;
        std::string secondOptions;  // the fake encoder's options for .ogg
        std::string jobs;
        bool secondStepRuns;
    };
    const OutputCase cases[] = {
        {"both outputs of all tracks", "", "1", true},
        {"with three jobs", "--sleep 50", "3", true},
        {"the second output fails for track 2", "--fail-input (02)", "2", false},
    };
    int caseNumber = 0;
    for (const OutputCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string n = std::to_string(++caseNumber);
        const std::string folder = CaseFolder("case " + n);
        // Both outputs' encoders share one record, so that its slots count
        // every encoder that runs at once.
        Settings s{".mp3", Fake("", "enc-" + n + ".log"), 1};
        s.jobs = c.jobs;
        s.extra = step + "\"" + Log("mp3-album-" + n + ".log") + "\" %dir% %files%\n" +
                  "[OUTPUT2]\nOUT=.ogg\nEXEPATH=" + FakeEncoderPath() +
                  "\nCOMMAND=" + Fake(c.secondOptions, "enc-" + n + ".log") + "\n" + step + "\"" +
                  Log("ogg-album-" + n + ".log") + "\" %files\n";
        Album album(folder, 3);
        const std::string names[] = {"01 Caf\xE9 one", "02 two  blanks", "03 \xE9t\xE9"};
        for (int i = 0; i < 3; ++i) {
            std::snprintf(album.records[i].fileName, sizeof album.records[i].fileName, "%s", names[i].c_str());
        }
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
        const Bytes audio[3] = {Audio(1200, 1), Audio(800, 2), Audio(400, 3)};
        for (const Bytes &track : audio) EXPECT_EQ(host_->DeliverTrack(track), 1);

        // The album's last delivery has returned after the album steps.
        const bool failing = !c.secondStepRuns;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Text(ts::ReadFile(folder + names[i] + ".mp3")), FakeOutput(audio[i])) << names[i];
            const bool lost = failing && i == 1;
            EXPECT_EQ(ts::FileExists(folder + names[i] + ".ogg"), !lost) << names[i];
            EXPECT_EQ(ts::FileExists(Temp(folder, i + 1, ".wav")), lost) << "the WAV goes once both outputs are kept";
        }
        std::vector<fake_encoder::Run> mp3Step = Runs("mp3-album-" + n + ".log");
        ASSERT_EQ(mp3Step.size(), 1u);
        std::vector<std::string> expected = {"--album", "--log", Log("mp3-album-" + n + ".log"), folder};
        for (const std::string &name : names) expected.push_back(folder + name + ".mp3");
        EXPECT_EQ(mp3Step[0].arguments, expected);
        // file1 is the folder.
        for (const char *file : {"file2", "file3", "file4"}) EXPECT_EQ(mp3Step[0].facts[file], "present") << file;
        std::vector<fake_encoder::Run> oggStep = Runs("ogg-album-" + n + ".log");
        ASSERT_EQ(oggStep.size(), c.secondStepRuns ? 1u : 0u);
        if (c.secondStepRuns) {
            expected = {"--album", "--log", Log("ogg-album-" + n + ".log")};
            for (const std::string &name : names) expected.push_back(folder + name + ".ogg");
            EXPECT_EQ(oggStep[0].arguments, expected);
        }
        std::vector<fake_encoder::Run> encoders = Runs("enc-" + n + ".log");
        EXPECT_EQ(encoders.size(), 6u);
        for (const fake_encoder::Run &run : encoders) {
            EXPECT_LE(std::stoi(run.facts.at("slot")), std::stoi(c.jobs)) << "JOBS counts every output's encoders";
        }
        EXPECT_EQ(host_->Kill(), 0);
    }
}

// ---- The WAV file that the encoders read --------------------------------------

// Runs body as a user whose permissions hold: on Linux, run as root, in a
// child that takes the id of nobody and owns the folders, made anew in /tmp
// (a test runner's own TMPDIR may be closed to others), its failures
// failing the test. The fake encoder runs from a copy there too: the build
// folder may lie in a folder closed to others (root's home). False when
// that cannot be done.
bool RunUnprivileged(const std::vector<std::string *> &folders, const std::function<void()> &body) {
#ifndef _WIN32
    const uid_t nobody = 65534;
    if (geteuid() != 0) return body(), true;
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer takes a forked child for the parent and its threads,
    // and reports their history there; the other builds run the rip.
    return false;
#endif
    for (std::string *folder : folders) {
        char made[] = "/tmp/encbridge-test-XXXXXX";
        ts::RemoveTree(*folder);
        *folder = std::string(mkdtemp(made) != nullptr ? made : "/nowhere") + "/";
        if (chown(folder->c_str(), nobody, nobody) != 0) return false;
    }
    char programs[] = "/tmp/encbridge-test-XXXXXX";
    if (mkdtemp(programs) == nullptr) return false;
    const std::string encoder = std::string(programs) + "/fake_encoder";
    ts::WriteFile(encoder, Text(ts::ReadFile(FakeEncoderPath())));
    if (chmod(programs, 0755) != 0 || chmod(encoder.c_str(), 0755) != 0) return ts::RemoveTree(programs), false;
    ts::UseFakeEncoderAt(encoder);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0 && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(77);
    if (child == 0) body(), std::fflush(stdout), _exit(::testing::Test::HasFailure() ? 1 : 0);
    int status = 0;
    const bool waited = child > 0 && waitpid(child, &status, 0) == child;
    ts::UseFakeEncoderAt("");
    ts::RemoveTree(programs);
    if (!waited || status == 77 << 8) return false;
    EXPECT_EQ(status, 0) << "the unprivileged rip failed";
    return true;
#else
    return (void)folders, body(), true;
#endif
}

// An encoder given its operands the wrong way round truncates its input:
// it cannot, and the other output and the WAV file stay whole, the WAV file
// writable again once kept, even after a stop. One whose output is the WAV
// file (then the only output) rewrites it.
TEST_F(WorkerTest, NoEncoderChangesTheWavThatTheOthersRead) {
    struct Case {
        const char *extension;
        const char *second;  // the .ogg output's options, or no such output
        bool stop;           // Kill while the first output hangs
    } cases[] = {{".mp3", "--overwrite-input", false}, {".mp3", "", true}, {".wav", nullptr, false}};
    const bool ran = RunUnprivileged({&out_, &aux_}, [&] {
        int caseNumber = 0;
        for (const Case &c : cases) {
            const std::string n = std::to_string(++caseNumber), log = "enc" + n + ".log";
            SCOPED_TRACE(n);
            const std::string folder = CaseFolder("case" + n), wav = Temp(folder, 1, ".wav");
            const std::string second = c.second == nullptr ? "" : Fake(c.second, log);
            Settings s{
                c.extension,
                Fake(c.stop ? "--hang" : "", log),
                1,
                FakeEncoderPath(),
                1,
                "1",
                second.empty() ? "" : "[OUTPUT2]\nOUT=.ogg\nEXEPATH=" + FakeEncoderPath() + "\nCOMMAND=" + second};
            Album album(folder, 2);
            ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
            const Bytes audio = Audio(2000, 7);
            EXPECT_EQ(host_->DeliverTrack(audio), 1);
            EXPECT_EQ(host_->Deliver(Audio(400, 8)), 1);  // the second track is still open
            // While the rip goes on, once the track's last encoder has ended.
            ASSERT_TRUE(WaitUntil([&] {
                if (c.second == nullptr) return ts::FileExists(Final(folder, 1, ".wav"));
                return Runs(log).size() == (c.stop ? 1u : 2u) && (c.stop || ts::OpensForWriting(wav));
            }));
            EXPECT_EQ(host_->Kill(), 0);
            if (c.second == nullptr) {
                EXPECT_EQ(Text(ts::ReadFile(Final(folder, 1, ".wav"))), FakeOutput(audio));
                continue;
            }
            EXPECT_EQ(ts::ReadFile(wav), FinishedWav(audio));
            EXPECT_TRUE(ts::OpensForWriting(wav)) << "a kept WAV file has its mode back";
            EXPECT_EQ(Text(ts::ReadFile(Final(folder, 1, ".mp3"))), c.stop ? "" : FakeOutput(audio));
            EXPECT_FALSE(ts::FileExists(Final(folder, 1, ".ogg")));
        }
    });
    if (!ran) GTEST_SKIP() << "no unprivileged user to run the rip as";
}

#ifndef _WIN32
// An encoder that gives its output its input's mode, as flac does, would
// publish it read-only, as the guard leaves the WAV file: a published
// output has the mode that a new file of the user gets, whatever the umask.
TEST_F(WorkerTest, APublishedOutputHasTheModeOfANewFileOfTheUser) {
    const auto rip = [&] {
        for (const mode_t mask : {mode_t{022}, mode_t{027}}) {
            SCOPED_TRACE(mask);
            const std::string folder = CaseFolder("mask" + std::to_string(mask));
            const mode_t saved = umask(mask);
            Album album(folder, 1);
            ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("--copy-mode"), 0})), 1);
            EXPECT_EQ(host_->DeliverTrack(Audio(800, 1)), 1);
            EXPECT_EQ(host_->Kill(), 0);
            umask(saved);
            struct stat info;
            ASSERT_EQ(stat(Final(folder, 1, ".mp3").c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
        }
    };
    if (!RunUnprivileged({&out_, &aux_}, rip)) rip();
}
#endif

// Kill while an album step runs ends it, and the album's last delivery
// returns 0 as it does for a stopped encoder.
TEST_F(WorkerTest, KillEndsARunningAlbumStep) {
    Settings s{".mp3", Fake(""), 1};
    s.extra = "ALBUM_EXEPATH=" + FakeEncoderPath() + "\nALBUM_COMMAND=--album --hang --log \"" + Log("album.log") +
              "\" %files%\n";
    Album album(out_, 1);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
    std::int32_t result = -1;
    std::thread delivery([&] { result = host_->DeliverTrack(Audio(400, 1)); });
    ASSERT_TRUE(WaitUntil([&] { return Runs("album.log").size() == 1; }));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(host_->Kill(), 0);
    delivery.join();
    EXPECT_LT(ElapsedMs(start), 5000);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(ts::FileExists(Final(out_, 1, ".mp3")));
}

// A host's Cancel: Kill from a second thread while the album's last delivery
// waits for the encoder, then Kill from the ripping thread as soon as that
// delivery has returned, while the first may still be ending the rip. Both
// return, nothing is released twice, and the next rip starts as usual.
TEST_F(WorkerTest, TwoKillsThatOverlapEndAsOne) {
    for (int round = 1; round <= 25; ++round) {
        SCOPED_TRACE(round);
        const std::string folder = CaseFolder("round" + std::to_string(round));
        const std::string log = "round" + std::to_string(round) + ".log";
        Album album(folder, 1);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("--hang", log), 1})), 1);
        std::int32_t delivered = -1, killedByRipper = -1;
        std::thread ripping([&] {
            delivered = host_->DeliverTrack(Audio(400, 1));
            killedByRipper = host_->Kill();
        });
        ASSERT_TRUE(WaitUntil([&] { return Runs(log).size() == 1; }));
        EXPECT_EQ(host_->Kill(), 0);  // the host's Cancel
        ripping.join();
        EXPECT_EQ(std::make_pair(delivered, killedByRipper), std::make_pair(0, 0));
        EXPECT_TRUE(ProcessGone(Runs(log)[0].facts["pid"]));
        EXPECT_EQ(ts::ListFolder(folder), std::vector<std::string>({"#temp(01).wav"}));
    }
}

// ---- The journal -------------------------------------------------------------

// The records of a journal file: each line split at its tabs, the escapes
// undone. A line without its line break is no record yet. The records of an
// encoder's start are passed over, as a reader that predates them does,
// unless started is set.
std::vector<std::vector<std::string>> JournalRecords(const std::string &path, bool started = false) {
    const Bytes bytes = ts::ReadFile(path);
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c == '\n') {
            if (started || fields.size() < 3 || fields[2] != "started") records.push_back(fields);
            fields.assign(1, std::string());
        } else if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < bytes.size()) {
            const char next = static_cast<char>(bytes[++i]);
            if (next == 'x' && i + 2 < bytes.size()) {
                fields.back() += static_cast<char>(
                    std::stoi(std::string(bytes.begin() + i + 1, bytes.begin() + i + 3), nullptr, 16));
                i += 2;
            } else {
                fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
            }
        } else {
            fields.back() += c;
        }
    }
    return records;
}

// Each way a track's output is not produced gives its own reason in the
// journal, beside the case that causes it, and the system's words when a
// system call refused; one that succeeds says so. Run as an ordinary user,
// whom a read-only folder refuses.
TEST_F(WorkerTest, TheJournalSaysWhyEachOutputWasOrWasNotProduced) {
    if (!RunUnprivileged({&out_, &aux_}, [&] { JournalReasonCases(true); })) JournalReasonCases(false);
}

void WorkerTest::JournalReasonCases(bool folderRefuses) {
    std::string notAProgram = aux_ + "not-a-program.exe";
    ts::WriteFile(notAProgram, "this is no program\n");
    ASSERT_TRUE(ts::MakeExecutable(notAProgram));
    const std::string sep = ts::Separator();
    struct ReasonCase {
        const char *name;
        std::string options;  // the fake encoder's, or a whole template
        std::string fileName;
        std::string encoder;
        const char *reason;
        const char *ending;      // how the run ended, as the record says it
        const char *blocker;     // in the case's folder: "sub", a read-only file; "ro", a read-only folder;
                                 // "full", a full disk of its own
        const char *system;      // what the system's words hold; "-": none
        const char *said = "-";  // how the program's kept words begin
    };
    // Windows words its errors in the code page's language.
    const char *exists = OnWindows() ? " (error 183)" : "File exists (error 17)";
    const char *denied = "Permission denied (error 13)";
    const char *full = OnWindows() ? "(error 112)" : "No space left on device";
    const ReasonCase cases[] = {
        {"encoded, saying how", "--say fine", "01 Track", FakeEncoderPath(), "done", "exit 0", "", "-"},
        {"encoder failed", "--exit 3", "01 Track", FakeEncoderPath(), "encoder-failed", "exit 3", "", "-"},
        {"encoder failed, saying why", "--say \"cannot open output file\" --exit 1", "01 Track", FakeEncoderPath(),
         "encoder-failed", "exit 1", "", "-", "cannot open output file"},
        {"output empty", "--empty-output", "01 Track", FakeEncoderPath(), "output-not-a-file", "exit 0", "", "-"},
        {"output a hard link", "--hard-link-output", "01 Track", FakeEncoderPath(), "output-not-a-file", "exit 0", "",
         "-"},
        {"name unsafe", "", ".." + sep + "01 Track", FakeEncoderPath(), "name-unsafe", "not run", "", "-"},
        {"command cut", "--tag %ttit%", "01 Track", FakeEncoderPath(), "command-cut", "not run", "", "-"},
        {"crashed", "--crash", "01 Track", FakeEncoderPath(), "encoder-failed", OnWindows() ? "exit" : "signal 9", "",
         "-"},
        {"could not start", "", "01 Track", notAProgram, "could-not-start", "could not start: ", "", "-"},
        // The system's refusals.
        {"folder taken by a file", "", "sub" + sep + "01 Track", FakeEncoderPath(), "folder-not-made", "exit 0", "sub",
         exists},
        {"folder refused", "", "ro" + sep + "in" + sep + "01 Track", FakeEncoderPath(), "folder-not-made", "exit 0",
         "ro", denied},
        {"move refused", "", "ro" + sep + "01 Track", FakeEncoderPath(), "move-failed", "exit 0", "ro", denied},
        // A final name the system cannot look at (in "ns", a folder that
        // cannot be searched) exists no more than a missing one.
        {"folder not searchable", "", "ns" + sep + "01 Track", FakeEncoderPath(), "move-failed", "exit 0", "ns",
         denied},
        {"name Windows does not take", "", "..." + sep + "01 Dots", FakeEncoderPath(),
         OnWindows() ? "move-failed" : "done", "exit 0", "", OnWindows() ? " (error 123)" : "-"},
        // The final folder on another volume, which has room for a part of
        // the output only: the copy fails, and nothing takes the final name.
        {"copy onto a full disk", "", "full" + sep + "01 Track", FakeEncoderPath(), "move-failed", "exit 0", "full",
         full},
        // A WAV file is kept only while it exists.
        {"encoder deleted its input, then failed", "--delete-input --exit 3", "01 Track", FakeEncoderPath(),
         "encoder-failed", "exit 3", "", "-"},
    };
    int caseNumber = 0;
    for (const ReasonCase &c : cases) {
        SCOPED_TRACE(c.name);
        // wine hands a file that is no Windows program to the host system;
        // a read-only folder refuses nothing there.
        if (c.encoder == notAProgram && ts::RunningUnderWine()) continue;
        const bool folderBlocker = std::string(c.blocker) == "ro" || std::string(c.blocker) == "ns";
        if (folderBlocker && (OnWindows() || !folderRefuses)) continue;
        // On Windows a folder that is another volume is a reparse point (wine
        // shows a mount point so too), which no final name goes through; the
        // platform's table has the copying move onto a full disk.
        if (std::string(c.blocker) == "full" && OnWindows()) continue;
        const std::string n = std::to_string(++caseNumber);
        const std::string folder = CaseFolder("case" + n);
        if (std::string(c.blocker) == "sub") {
            ts::WriteFile(folder + "sub", "a file");
            ASSERT_TRUE(ts::MakeReadOnly(folder + "sub"));
        }
#ifndef _WIN32
        if (folderBlocker) {
            ASSERT_EQ(mkdir((folder + c.blocker).c_str(), c.blocker[0] == 'r' ? 0555 : 0666), 0);
        }
#endif
        std::unique_ptr<ts::SmallDisk> disk;
        if (std::string(c.blocker) == "full") {
            ASSERT_TRUE(ts::MakeFolder(folder + "full"));
            disk.reset(new ts::SmallDisk(folder + "full" + sep, 200));
            // A mount needs root, whom the unprivileged run is not.
            if (!disk->mounted()) continue;
            ts::WriteFile(folder + "full" + sep + "filler", std::string(180 * 1024, 'f'));
        }
        Settings s{".mp3", Fake(c.options, "case" + n + ".log"), 1, c.encoder};
        s.extra = "LOG=journal.log\n";
        Album album(folder, 1);
        std::snprintf(album.records[0].fileName, sizeof album.records[0].fileName, "%s", c.fileName.c_str());
        // A title that, quoted, leaves no room in the line.
        std::snprintf(album.records[0].title, sizeof album.records[0].title, "%s", std::string(1000, 't').c_str());
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
        EXPECT_EQ(host_->DeliverTrack(Audio(disk ? 150000 : 400, 1)), 1);
        EXPECT_EQ(host_->Kill(), 0);
        const bool done = std::string(c.reason) == "done";
        EXPECT_EQ(ts::FileExists(folder + c.fileName + ".mp3"), done);
        EXPECT_EQ(ts::FileExists(Temp(folder, 1, ".wav")), !done);
        if (disk) {
            EXPECT_EQ(ts::ListFolder(folder + "full"), std::vector<std::string>{"filler"});
        }
        const auto records = JournalRecords(folder + "journal.log");
        ASSERT_EQ(records.size(), 3u);
        EXPECT_EQ(records[0].at(2), "rip");
        EXPECT_EQ(records[0].at(4), "1") << "the track count";
        const std::vector<std::string> &track = records[1];
        ASSERT_EQ(track.size(), 13u);
        EXPECT_EQ(track[1], records[0][1]) << "one rip";
        EXPECT_EQ(track[2], "track");
        EXPECT_EQ(track[3], "1");
        EXPECT_EQ(track[4], "1");
        EXPECT_EQ(track[7].compare(0, std::strlen(c.ending), c.ending), 0) << track[7];
        EXPECT_EQ(track[8], c.reason);
        EXPECT_NE(track[11].find(c.system), std::string::npos) << track[11];
        EXPECT_EQ(track[12], c.said + std::string(c.said[0] == '-' ? "" : OnWindows() ? "\r\n" : "\n"));
        EXPECT_EQ(track[9].compare(0, done ? 17 : 9, done ? "encoded and moved" : "WAV kept:"), 0) << track[9];
        if (std::string(c.ending) != "not run") {
            EXPECT_NE(track[10].find(Temp(folder, 1, ".wav")), std::string::npos) << "the command line as run";
        }
        EXPECT_EQ(records[2].at(2), "end");
        EXPECT_EQ(records[2].at(3), done ? "1" : "0") << "tracks done";
        EXPECT_EQ(records[2].at(5), done ? "0" : "1") << "WAV files kept";
    }
}

// An output is published, and its WAV file goes, only when its verify line
// proves it; otherwise the output is moved aside and the WAV file stays,
// with the reason and the sample it is about in the journal.
TEST_F(WorkerTest, AnOutputIsPublishedOnlyWhenItsVerifyLineProvesIt) {
    struct VerifyCase {
        const char *name, *encoder, *mode, *decoder, *reason;
        const char *said;        // what the outcome in words, or the verify line's kept words, hold
        bool startsNot = false;  // the verify line is no program
    };
    const std::string notAProgram = aux_ + "not-a-program.exe";
    ts::WriteFile(notAProgram, "this is no program\n");
    ASSERT_TRUE(ts::MakeExecutable(notAProgram));
    const VerifyCase cases[] = {
        {"proven", "", "exact", "", "done", "encoded and moved"},
        {"one sample short", "--drop-bytes 4", "exact", "", "verify-too-short", "at sample 1999"},
        {"a flipped byte", "--flip-byte 2845", "exact", "", "verify-mismatch", "at sample 700"},
        {"nothing written, exit 0", "--no-output", "exact", "", "output-not-a-file", "not a plain file"},
        {"the decoder fails", "", "exact", "--exit 5 --say corrupt", "verify-failed", "\tcorrupt"},
        // Ended at the first byte past the track, long before its trail ends.
        {"a decoder that does not stop", "", "exact", "--trail 256", "verify-too-long",
         "stopped\tverify-too-long\tWAV kept: the decoded audio is longer than the track's, at sample 2000"},
        {"nor does this one", "", "decodes", "--trail 256", "verify-too-long", "stopped\tverify-too-long"},
        {"within the bound", "--drop-bytes 400", "decodes", "", "done", "encoded and moved"},
        // What the encoder said is no reason of the verify line's.
        {"the verify line does not start", "--say encoder-words", "exact", "", "verify-failed", "\t-", true},
    };
    int caseNumber = 0;
    for (const VerifyCase &c : cases) {
        SCOPED_TRACE(c.name);
        // wine hands a file that is no Windows program to the host system.
        if (c.startsNot && ts::RunningUnderWine()) continue;
        const std::string folder = CaseFolder("verify" + std::to_string(++caseNumber));
        Settings s{".mp3", Fake(c.encoder), 1};
        s.extra = "LOG=journal.log\nVERIFY=" + std::string(c.mode) +
                  "\nVERIFY_EXEPATH=" + (c.startsNot ? notAProgram : FakeEncoderPath()) + "\nVERIFY_COMMAND=--decode " +
                  c.decoder + " %o%\n";
        Album album(folder, 1);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
        EXPECT_EQ(host_->DeliverTrack(Audio(8000, 3)), 1);
        EXPECT_EQ(host_->Kill(), 0);
        const std::string reason = c.reason;
        EXPECT_EQ(ts::FileExists(Final(folder, 1, ".mp3")), reason == "done");
        EXPECT_EQ(ts::FileExists(Temp(folder, 1, ".wav")), reason != "done");
        EXPECT_EQ(ts::FileExists(folder + "#kept(01)-1.mp3"), reason.rfind("verify-", 0) == 0 && !c.startsNot)
            << "moved aside";
        const auto records = JournalRecords(folder + "journal.log");
        ASSERT_EQ(records.size(), 3u);
        EXPECT_EQ(records[1].at(8), reason);
        EXPECT_NE((records[1].at(7) + "\t" + records[1].at(8) + "\t" + records[1].at(9) + "\t" + records[1].at(12))
                      .find(c.said),
                  std::string::npos);
    }
}

// A verify line that hangs is ended by Kill as an encoder is; the WAV
// file stays.
TEST_F(WorkerTest, KillEndsAVerifyLineThatHangs) {
    Settings s{".mp3", Fake(""), 1};
    s.extra = "LOG=journal.log\nVERIFY=exact\nVERIFY_EXEPATH=" + FakeEncoderPath() + "\nVERIFY_COMMAND=--log \"" +
              Log() + "\" --decode --hang %o%\n";
    Album album(out_, 2);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
    EXPECT_EQ(host_->DeliverTrack(Audio(400, 1)), 1);
    EXPECT_EQ(host_->Deliver(Audio(400, 2)), 1);  // the last track is still open
    ASSERT_TRUE(WaitUntil([&] { return Runs().size() == 2; })) << "the encoder, then its verify line";
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(host_->Kill(), 0);
    EXPECT_LT(ElapsedMs(start), 3000);
    EXPECT_TRUE(ts::FileExists(Temp(out_, 1, ".wav")));
    EXPECT_EQ(JournalRecords(out_ + "journal.log").at(1).at(8), "stopped");
}

// A final name that exists, a title that a batch file cannot be given, a
// stop, and an album step: each has its record.
TEST_F(WorkerTest, TheJournalRecordsStopsExistingNamesAndAlbumSteps) {
    Settings s{".mp3", Fake(""), 1};
    s.extra = "LOG=journal.log\nALBUM_EXEPATH=" + FakeEncoderPath() + "\nALBUM_COMMAND=--album %files%\n";
    Album album(out_, 2);
    ts::WriteFile(Final(out_, 2, ".mp3"), "already there");
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
    EXPECT_EQ(host_->DeliverTrack(Audio(400, 1)), 1);
    EXPECT_EQ(host_->DeliverTrack(Audio(400, 2)), 1);
    auto records = JournalRecords(out_ + "journal.log");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[2].at(8), "final-name-exists");
    EXPECT_EQ(records[3].at(2), "album");
    EXPECT_EQ(records[3].at(6), "track-missing") << "track 2 lacks its output";
    EXPECT_EQ(records[4].at(3), "1");

    // A hanging encoder, stopped by Kill: its record, and one for the track
    // that had not started yet.
    s.command = Fake("--hang");
    s.extra = "LOG=journal.log\n";
    Album second(out_, 3);
    for (int i = 0; i < 3; ++i) std::snprintf(second.records[i].fileName, sizeof second.records[i].fileName, "B%d", i);
    ASSERT_EQ(host_->Create(second.info.get(), WriteSettings(s)), 1);
    EXPECT_EQ(host_->DeliverTrack(Audio(400, 1)), 1);
    EXPECT_EQ(host_->DeliverTrack(Audio(400, 2)), 1);
    EXPECT_EQ(host_->Deliver(Audio(400, 3)), 1);  // the last track is still open
    ASSERT_TRUE(WaitUntil([&] { return !Runs().empty(); }));
    EXPECT_EQ(host_->Kill(), 0);
    records = JournalRecords(out_ + "journal.log");
    ASSERT_EQ(records.size(), 9u);
    EXPECT_NE(records[5][1], records[0][1]) << "a rip of its own";
    EXPECT_EQ(records[6].at(8), "stopped");
    EXPECT_EQ(records[7].at(8), "stopped");
    EXPECT_NE(records[8].at(6).find("stopped by Kill"), std::string::npos);

    // An album step that fails has what it said in its record.
    s.command = Fake("");
    s.extra =
        "LOG=album.log\nALBUM_EXEPATH=" + FakeEncoderPath() + "\nALBUM_COMMAND=--album --say \"no gain\" --exit 4\n";
    Album fourth(out_, 1);
    std::snprintf(fourth.records[0].fileName, sizeof fourth.records[0].fileName, "D1");
    ASSERT_EQ(host_->Create(fourth.info.get(), WriteSettings(s)), 1);
    EXPECT_EQ(host_->DeliverTrack(Audio(400, 1)), 1);
    records = JournalRecords(out_ + "album.log");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2].at(6), "encoder-failed");
    EXPECT_EQ(records[2].at(9).substr(0, 7), "no gain");

    if (!OnWindows()) return;
    // A batch file cannot be given a title with a '%' safely.
    const std::string script = aux_ + "wrap.bat";
    ts::WriteFile(script, "@\"" + FakeEncoderPath() + "\" %*\r\n");
    Album third(out_ + "", 1);
    std::snprintf(third.records[0].fileName, sizeof third.records[0].fileName, "C1");
    std::snprintf(third.records[0].title, sizeof third.records[0].title, "100%%PATH%%");
    Settings batch{".mp3", "%ttit% %i% %o%", 1, script};
    batch.extra = "LOG=journal.log\n";
    ASSERT_EQ(host_->Create(third.info.get(), WriteSettings(batch)), 1);
    EXPECT_EQ(host_->DeliverTrack(Audio(400, 1)), 1);
    EXPECT_EQ(host_->Kill(), 0);
    records = JournalRecords(out_ + "journal.log");
    ASSERT_EQ(records.size(), 12u);
    EXPECT_EQ(records[10].at(8), "value-unsafe");
}

// A journal that cannot be written changes nothing else of the rip: a
// missing folder, a folder under its name, a name that climbs out of the
// output folder or is one of the module's own, a folder link out of it,
// a track's final name, by its full path too.
TEST_F(WorkerTest, AJournalThatCannotBeWrittenChangesNothingElse) {
    const std::string sep = ts::Separator();
    // Inside out_, so that the folder above it is the test's own too.
    const std::string folder = CaseFolder("rip");
    std::vector<std::string> names = {"missing" + sep + "journal.log",
                                      "a-folder",
                                      ".." + sep + "journal.log",
                                      "#temp(01).wav",
                                      "linked" + sep + "journal.log",
                                      folder + "#ripping.lock",
                                      folder + "#temp(01).mp3",
                                      "01 Track.mp3",
                                      folder + "a-folder" + sep + ".." + sep + "01 track.MP3"};
    std::vector<std::string> listing = {"01 Track.mp3", "a-folder", "linked"};
    ASSERT_TRUE(ts::MakeFolder(folder + "a-folder"));
    // wine 8 makes no junction (FSCTL_SET_REPARSE_POINT fails), but shows a
    // link of the host system as one.
    ASSERT_TRUE(ts::MakeFolderLink(folder + "linked", aux_));
#ifndef _WIN32
    // A link to a file outside the folder.
    ts::WriteFile(aux_ + "outside.log", "precious\n");
    ASSERT_EQ(symlink((aux_ + "outside.log").c_str(), (folder + "linked.log").c_str()), 0);
    names.push_back("linked.log");
    listing.push_back("linked.log");
#endif
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        Settings s{".mp3", Fake(""), 1};
        s.extra = "LOG=" + name + "\n";
        Album album(folder, 1);
        ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
        const Bytes audio = Audio(400, 1);
        EXPECT_EQ(host_->DeliverTrack(audio), 1);
        EXPECT_EQ(Text(ts::ReadFile(Final(folder, 1, ".mp3"))), FakeOutput(audio));
        EXPECT_EQ(host_->Kill(), 0);
        EXPECT_EQ(ts::ListFolder(folder), listing);
        ts::RemoveFile(Final(folder, 1, ".mp3"));
    }
    EXPECT_EQ(ts::ListFolder(out_), std::vector<std::string>{"rip"});
    EXPECT_FALSE(ts::FileExists(aux_ + "journal.log"));
#if !defined(_WIN32)
    EXPECT_EQ(Text(ts::ReadFile(aux_ + "outside.log")), "precious\n");
#endif
}

// A refused rip makes no file in the output folder. A journal that exists
// gets the refusal, on a line of its own after a line left unended.
TEST_F(WorkerTest, ARefusedRipMakesNoJournalButRecordsInOneThatExists) {
    Settings s{".mp3", Fake(""), 1, aux_ + "no-such-encoder"};
    s.extra = "LOG=journal.log\n";
    Album album(out_, 1);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 0);
    EXPECT_TRUE(ts::ListFolder(out_).empty());
    ts::WriteFile(out_ + "journal.log", "a line cut short");
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 0);
    auto records = JournalRecords(out_ + "journal.log");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], std::vector<std::string>{"a line cut short"});
    EXPECT_EQ(records[1].at(3), "encoder-not-usable");
}

#if !defined(_WIN32)
// A journal whose lock another writer holds: its records are skipped, the
// rip goes on unchanged, and once the lock is free records come again.
TEST_F(WorkerTest, AJournalLockedElsewhereIsSkippedNotWaitedFor) {
    const std::string journal = aux_ + "locked.log";
    ts::WriteFile(journal, "");
    const int holder = open(journal.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    Settings s{".mp3", Fake(""), 1};
    s.extra = "LOG=" + journal + "\n";
    Album album(out_, 3);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
    const Bytes audio[3] = {Audio(400, 1), Audio(400, 2), Audio(400, 3)};
    for (const Bytes &track : audio) EXPECT_EQ(host_->DeliverTrack(track), 1);
    for (int number = 1; number <= 3; ++number) {
        EXPECT_EQ(Text(ts::ReadFile(Final(out_, number, ".mp3"))), FakeOutput(audio[number - 1]));
    }
    EXPECT_TRUE(JournalRecords(journal).empty());
    ASSERT_EQ(flock(holder, LOCK_UN), 0);
    close(holder);
    Album again(out_, 1);
    std::snprintf(again.records[0].fileName, sizeof again.records[0].fileName, "again");
    ASSERT_EQ(host_->Create(again.info.get(), WriteSettings(s)), 1);
    EXPECT_EQ(host_->DeliverTrack(Audio(400, 4)), 1);
    EXPECT_EQ(JournalRecords(journal).size(), 3u) << "rip, track and end";
}
#endif

// Several encoders at once, and a second module ripping into another folder
// with the same journal: every record whole, on a line of its own.
TEST_F(WorkerTest, ConcurrentRipsAndEncodersGiveWholeRecords) {
    const std::string journal = aux_ + "shared.log";
    const std::string copy = aux_ + "second-" + ts::ModuleFileName();
    const Bytes module = ts::ReadFile(ts::ProgramFolder() + ts::ModuleFileName());
    ts::WriteFile(copy, std::string(module.begin(), module.end()));
    Host second(copy);
    ASSERT_TRUE(second.ready());
    ASSERT_NE(reinterpret_cast<void *>(second.create), reinterpret_cast<void *>(host_->create)) << "a copy of its own";
    // Titles with tabs, line breaks and backslashes, which the records escape.
    const int tracks = 6;
    Album albums[2] = {Album(CaseFolder("one"), tracks), Album(CaseFolder("two"), tracks)};
    Host *hosts[2] = {host_.get(), &second};
    for (int a = 0; a < 2; ++a) {
        for (int i = 0; i < tracks; ++i) {
            std::snprintf(albums[a].records[i].title, sizeof albums[a].records[i].title, "T\t%d\n\\line\x7f", i);
        }
        Settings s{".mp3", "--sleep 30 --tag %ttit% %i% %o%", 1};
        s.jobs = "4";
        s.extra = "LOG=" + journal + "\n[OUTPUT2]\nOUT=.ogg\nEXEPATH=" + FakeEncoderPath() +
                  "\nCOMMAND=--tag %ttit% %i% %o%\n";
        ASSERT_EQ(hosts[a]->Create(albums[a].info.get(), WriteSettings(s, "s" + std::to_string(a) + ".ini")), 1);
    }
    std::thread rips[2];
    for (int a = 0; a < 2; ++a) {
        rips[a] = std::thread([&, a] {
            for (int i = 0; i < tracks; ++i) EXPECT_EQ(hosts[a]->DeliverTrack(Audio(800, static_cast<unsigned>(i))), 1);
        });
    }
    for (std::thread &rip : rips) rip.join();
    const auto records = JournalRecords(journal);
    ASSERT_EQ(records.size(), 2u * (2 + 2 * tracks));
    EXPECT_EQ(Text(ts::ReadFile(journal)).find('\x7f'), std::string::npos) << "DEL is escaped as the controls are";
    std::map<std::string, int> perRip;
    for (const auto &record : records) {
        ++perRip[record.at(1)];
        if (record.at(2) != "track") continue;
        ASSERT_EQ(record.size(), 13u) << record.at(0);
        EXPECT_EQ(record[8], "done");
        EXPECT_NE(record[10].find("\"T\t"), std::string::npos) << "the title whole in the command line";
        EXPECT_NE(record[10].find("\n\\line\x7f\""), std::string::npos) << "a backslash is escaped";
    }
    EXPECT_EQ(perRip.size(), 2u);
    for (const auto &rip : perRip) EXPECT_EQ(rip.second, 2 + 2 * tracks) << rip.first;
    // Each run's start is journaled before its end, by the rip that ran it.
    std::set<std::string> started;
    for (const auto &record : JournalRecords(journal, true)) {
        const std::string run = record.at(1) + " " + record.at(3) + " " + record.at(4);
        if (record.at(2) == "started") {
            EXPECT_TRUE(started.insert(run).second) << run;
        } else if (record.at(2) == "track") {
            EXPECT_EQ(started.erase(run), 1u) << run;
        }
    }
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(second.Kill(), 0);
}

#if !defined(_WIN32)
// A record holds an album step's line and what the step said whole, though
// each of their bytes escapes to four: paths in a folder of control
// characters, and words of NULs.
TEST_F(WorkerTest, ARecordHoldsALongLineAndTheWordsEscaped) {
    const std::string folder = out_ + std::string(200, '\x01') + "/";
    ASSERT_TRUE(ts::MakeFolder(folder));
    const std::string step = aux_ + "says-nuls";
    ts::WriteFile(step, "#!/bin/sh\nhead -c 5000 /dev/zero >&2\nexit 1\n");
    ASSERT_TRUE(ts::MakeExecutable(step));
    Settings s{".mp3", Fake(""), 1};
    s.extra = "LOG=journal.log\nALBUM_EXEPATH=" + step + "\nALBUM_COMMAND=%files%\n";
    const int tracks = 60;
    Album album(folder, tracks);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
    for (int i = 0; i < tracks; ++i) EXPECT_EQ(host_->DeliverTrack(Audio(40, static_cast<unsigned>(i))), 1);
    EXPECT_EQ(host_->Kill(), 0);
    const auto records = JournalRecords(folder + "journal.log");
    ASSERT_GE(records.size(), 2u);
    const std::vector<std::string> &record = records[records.size() - 2];
    ASSERT_EQ(record.size(), 10u);
    EXPECT_EQ(record[2], "album");
    EXPECT_NE(record[8].find(Final(folder, tracks, ".mp3")), std::string::npos) << "the line whole";
    EXPECT_EQ(record[9], std::string(encbridge::platform::kMessageTailCapacity, '\0')) << "the words whole";
}
#endif

#if !defined(_WIN32)
// What a hostile shared folder puts under the temporary names: links to a
// file outside it, links that lead nowhere, another name of an outside
// file, a FIFO. Nothing outside the folder is created, truncated or
// written, no delivery blocks, and every track is encoded.
TEST_F(WorkerTest, NothingBehindALinkOrFifoIsFollowed) {
    const std::string victim = aux_ + "victim", ghost = aux_ + "ghost";
    ts::WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), Temp(out_, 1, ".wav").c_str()), 0);
    ASSERT_EQ(symlink(ghost.c_str(), Temp(out_, 2, ".wav").c_str()), 0);
    ASSERT_EQ(link(victim.c_str(), Temp(out_, 3, ".wav").c_str()), 0);
    ASSERT_EQ(mkfifo(Temp(out_, 4, ".wav").c_str(), 0600), 0);
    ASSERT_EQ(symlink(victim.c_str(), Temp(out_, 1, ".mp3").c_str()), 0);
    // A folder of the final name that leads outside.
    ASSERT_EQ(symlink(aux_.c_str(), (out_ + "Linked").c_str()), 0);
    Album album(out_, 5);
    std::snprintf(album.records[4].fileName, sizeof album.records[4].fileName, "Linked/05 Track");
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake(""), 1})), 1);
    Bytes audio[5];
    for (int i = 0; i < 5; ++i) {
        audio[i] = Audio(280000, static_cast<unsigned>(i + 1));  // more than a FIFO holds
        EXPECT_EQ(host_->DeliverTrack(audio[i]), 1);
    }
    EXPECT_EQ(Text(ts::ReadFile(victim)), "precious");
    EXPECT_FALSE(ts::FileExists(ghost));
    for (int number = 1; number <= 4; ++number) {
        EXPECT_EQ(Text(ts::ReadFile(Final(out_, number, ".mp3"))), FakeOutput(audio[number - 1])) << number;
    }
    EXPECT_EQ(ts::ReadFile(Temp(out_, 5, ".wav")), FinishedWav(audio[4]));
    EXPECT_FALSE(ts::FileExists(aux_ + "05 Track.mp3"));
    for (const char *kept : {"#kept(01)-1.wav", "#kept(01)-1.mp3", "#kept(02)-1.wav", "#kept(04)-1.wav"}) {
        struct stat info;
        EXPECT_EQ(lstat((out_ + kept).c_str(), &info), 0) << kept;
        EXPECT_FALSE(S_ISREG(info.st_mode)) << kept << " is moved aside as it is";
    }
    EXPECT_EQ(host_->Kill(), 0);
}
#endif

class RealEncoderTest : public WorkerTest {
protected:
    // Rips an album with one track per title through the encoder.
    std::vector<Bytes> RipTitles(const std::string &encoder, const std::string &extension, const std::string &command,
                                 const std::string &extra = "") {
        Album album(out_, 3);
        for (int i = 0; i < 3; ++i) {
            std::snprintf(album.records[i].title, sizeof album.records[i].title, "%s", kTitles[i]);
        }
        std::vector<Bytes> audio;
        Settings s{extension, command, 1, encoder};
        s.extra = extra;
        EXPECT_EQ(host_->Create(album.info.get(), WriteSettings(s)), 1);
        for (int number = 1; number <= 3; ++number) {
            // About a second of audio, not a whole number of CD sectors.
            audio.push_back(Audio(4 * (44100 + 97 * static_cast<std::size_t>(number)), static_cast<unsigned>(number)));
            EXPECT_EQ(host_->DeliverTrack(audio.back()), 1);
        }
        EXPECT_EQ(host_->Kill(), 0);
        return audio;
    }
};

TEST_F(RealEncoderTest, FlacDecodesToTheDeliveredAudioAndKeepsTheTitles) {
    if (OnWindows() || !ts::HaveTool("flac") || !ts::HaveTool("metaflac")) GTEST_SKIP() << "flac is not installed";
    // Each proven by flac's own decoder before its WAV file goes.
    std::vector<Bytes> audio =
        RipTitles(ToolPath("flac"), ".flac", "--silent --no-utf8-convert -T TITLE=%ttit% -o %o% %i%",
                  "VERIFY=exact\nVERIFY_EXEPATH=" + ToolPath("flac") + "\nVERIFY_COMMAND=-d -c --silent %o%\n");
    for (int number = 1; number <= 3; ++number) {
        SCOPED_TRACE(number);
        std::string path = Final(out_, number, ".flac");
        ASSERT_TRUE(ts::FileExists(path));
        EXPECT_FALSE(ts::FileExists(Temp(out_, number, ".wav")));
        std::string decoded = ts::RunTool(
            "flac --silent --decode --stdout --force-raw-format --endian=little "
            "--sign=signed " +
            ShellQuote(path));
        EXPECT_TRUE(decoded == Text(audio[number - 1])) << "decoded " << decoded.size() << " bytes";
        EXPECT_EQ(ts::RunTool("metaflac --no-utf8-convert --show-tag=TITLE " + ShellQuote(path)),
                  std::string("TITLE=") + kTitles[number - 1] + "\n");
    }
}

// The data chunk of a WAV file, or nothing.
Bytes WavData(const Bytes &wav) {
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        std::uint32_t size =
            wav[at + 4] | wav[at + 5] << 8 | wav[at + 6] << 16 | static_cast<std::uint32_t>(wav[at + 7]) << 24;
        if (std::memcmp(&wav[at], "data", 4) == 0) {
            return Bytes(wav.begin() + static_cast<long>(at + 8),
                         wav.begin() + static_cast<long>(std::min<std::size_t>(wav.size(), at + 8 + size)));
        }
        at += 8 + size + (size & 1);
    }
    return Bytes();
}

void AppendUtf8(std::string &out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The text of an ID3v2 text frame in UTF-8; the frame starts with its
// encoding byte. Characters beyond the basic plane do not occur here.
std::string FrameText(const std::uint8_t *frame, std::size_t size) {
    std::string text;
    const int encoding = frame[0];
    if (encoding == 1 && size >= 3) {
        const bool littleEndian = frame[1] == 0xFF;
        for (std::size_t i = 3; i + 1 < size; i += 2) {
            std::uint32_t unit = littleEndian ? frame[i] | frame[i + 1] << 8 : frame[i] << 8 | frame[i + 1];
            if (unit != 0) AppendUtf8(text, unit);
        }
    } else {
        for (std::size_t i = 1; i < size && frame[i] != 0; ++i) {
            if (encoding == 0) {
                AppendUtf8(text, frame[i]);
            } else {
                text += static_cast<char>(frame[i]);
            }
        }
    }
    return text;
}

// The title of the ID3v2.3 or 2.4 tag at the start of the file, in UTF-8.
std::string Id3Title(const Bytes &file) {
    if (file.size() < 10 || std::memcmp(file.data(), "ID3", 3) != 0) return "(no tag)";
    const int version = file[3];
    auto syncsafe = [&](std::size_t at) {
        return static_cast<std::size_t>(file[at] << 21 | file[at + 1] << 14 | file[at + 2] << 7 | file[at + 3]);
    };
    const std::size_t end = std::min(file.size(), 10 + syncsafe(6));
    std::size_t at = 10;
    while (at + 10 <= end && file[at] != 0) {
        std::size_t size =
            version == 4
                ? syncsafe(at + 4)
                : static_cast<std::size_t>(file[at + 4] << 24 | file[at + 5] << 16 | file[at + 6] << 8 | file[at + 7]);
        if (std::memcmp(&file[at], "TIT2", 4) == 0 && size > 0 && at + 10 + size <= end) {
            return FrameText(&file[at + 10], size);
        }
        at += 10 + size;
    }
    return "(no title)";
}

// lame reads its tag texts in the locale's character set and stops at the
// first byte that the set does not know.
bool Utf8Locale() {
    for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        std::string locale = value;
        return locale.find("UTF-8") != std::string::npos || locale.find("utf8") != std::string::npos;
    }
    return false;
}

TEST_F(RealEncoderTest, LameDecodesToTheDeliveredLengthAndKeepsTheTitles) {
    if (OnWindows() || !ts::HaveTool("lame")) GTEST_SKIP() << "lame is not installed";
    std::vector<Bytes> audio = RipTitles(ToolPath("lame"), ".mp3", "--quiet --id3v2-only --tt %ttit% %i% %o%");
    for (int number = 1; number <= 3; ++number) {
        SCOPED_TRACE(number);
        std::string path = Final(out_, number, ".mp3");
        ASSERT_TRUE(ts::FileExists(path));
        EXPECT_FALSE(ts::FileExists(Temp(out_, number, ".wav")));
        std::string decodedPath = aux_ + "decoded.wav";
        ts::RunTool("lame --quiet --decode " + ShellQuote(path) + " " + ShellQuote(decodedPath));
        EXPECT_EQ(WavData(ts::ReadFile(decodedPath)).size(), audio[number - 1].size());
        const std::string title = kTitles[number - 1];
        const bool ascii = std::all_of(title.begin(), title.end(), [](char c) { return (c & 0x80) == 0; });
        if (ascii || Utf8Locale()) {
            EXPECT_EQ(Id3Title(ts::ReadFile(path)), title);
        }
    }
}

}  // namespace
