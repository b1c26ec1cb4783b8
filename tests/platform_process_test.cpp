// The platform layer under the encoder worker: the wake-up event, the worker
// thread, encoder processes, and moving and deleting files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fake_encoder/run_log.h"
#include "platform/platform.h"
#include "temp_folder_test.h"
#include "test_support.h"

namespace fs = std::filesystem;
namespace platform = encbridge::platform;
using testing_support::FakeEncoderPath;
using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

using Clock = std::chrono::steady_clock;

using testing_support::ElapsedMs;

std::string Quote(const std::string &text) { return "\"" + text + "\""; }

bool OnWindows() { return std::string(testing_support::Separator()) == "\\"; }

// Where our own standard output leads, which a child inherits (Linux).
std::string StandardOutputTarget() {
    std::error_code error;
    return fs::read_symlink("/proc/self/fd/1", error).string();
}

std::string Text(const std::vector<std::uint8_t> &bytes) { return std::string(bytes.begin(), bytes.end()); }

struct DelayedRaise {
    platform::Event *event;
    std::uint32_t delayMs;
};

void RaiseLater(void *argument) {
    DelayedRaise *raise = static_cast<DelayedRaise *>(argument);
    platform::SleepMilliseconds(raise->delayMs);
    platform::RaiseEvent(raise->event);
}

class PlatformTest : public testing_support::TempFolderTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(NewFolder(folder_));
        stop_ = platform::CreateManualResetEvent();
        ASSERT_NE(stop_, nullptr);
    }
    void TearDown() override { platform::DestroyEvent(stop_); }

    std::string folder_;
    platform::Event *stop_ = nullptr;
};

// ---- Events and the worker thread ------------------------------------------

// A worker thread with a hold on the code of its own.
platform::WorkerThread *StartThread(void (*body)(void *), void *argument) {
    platform::ModuleHold *hold = platform::HoldModule();
    platform::WorkerThread *thread = platform::StartWorkerThread(body, argument, hold);
    platform::ReleaseModuleHold(hold);
    return thread;
}

TEST_F(PlatformTest, EventWaitTimesOutUntilRaisedThenStaysRaised) {
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(platform::WaitForEvent(stop_, 100));
    EXPECT_GE(ElapsedMs(start), 90);
    EXPECT_FALSE(platform::WaitForEvent(stop_, 0));

    platform::RaiseEvent(stop_);
    platform::RaiseEvent(stop_);  // raising twice is harmless
    start = Clock::now();
    for (int look = 0; look < 3; ++look) EXPECT_TRUE(platform::WaitForEvent(stop_, 5000));
    EXPECT_LT(ElapsedMs(start), 1000);
}

TEST_F(PlatformTest, RaisingFromAnotherThreadWakesAWaiterAtOnce) {
    DelayedRaise raise{stop_, 200};
    platform::WorkerThread *thread = StartThread(RaiseLater, &raise);
    ASSERT_NE(thread, nullptr);
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(platform::WaitForEvent(stop_, 10000));
    long waited = ElapsedMs(start);
    EXPECT_GE(waited, 150);
    EXPECT_LT(waited, 2000);
    platform::JoinWorkerThread(thread);
}

struct SlowBody {
    std::atomic<int> calls{0};
    std::atomic<bool> done{false};
};

void RunSlowBody(void *argument) {
    SlowBody *body = static_cast<SlowBody *>(argument);
    body->calls.fetch_add(1);
    platform::SleepMilliseconds(300);
    body->done.store(true);
}

TEST_F(PlatformTest, JoinWaitsUntilTheBodyHasReturned) {
    SlowBody body;
    Clock::time_point start = Clock::now();
    platform::WorkerThread *thread = StartThread(RunSlowBody, &body);
    ASSERT_NE(thread, nullptr);
    platform::JoinWorkerThread(thread);
    EXPECT_TRUE(body.done.load());
    EXPECT_EQ(body.calls.load(), 1);
    EXPECT_GE(ElapsedMs(start), 250);
}

// ---- Processes -----------------------------------------------------------

class ProcessTest : public PlatformTest {
protected:
    std::string Log() const { return folder_ + "runs.log"; }
    std::string Input() const { return folder_ + "in.wav"; }
    std::string Output() const { return folder_ + "out.enc"; }

    // The command line of a fake encoder run on in.wav that writes out.enc.
    std::string Command(const std::string &options) const {
        return Quote(FakeEncoderPath()) + " --log " + Quote(Log()) + " " + options + " " + Quote(Input()) + " " +
               Quote(Output());
    }

    std::vector<fake_encoder::Run> Runs() const { return fake_encoder::ReadRuns(Log()); }
};

struct ExitCase {
    const char *options;
    std::uint32_t code;
    bool output;
};

TEST_F(ProcessTest, ExitCodesAndOutputsOfFinishedRuns) {
    const ExitCase cases[] = {
        {"", 0, true},
        {"--exit 3", 3, true},
        {"--exit 255", 255, true},
        {"--no-output", 0, false},
        {"--unknown-option", 2, false},
    };
    WriteFile(Input(), "RIFF-and-audio");
    for (const ExitCase &c : cases) {
        SCOPED_TRACE(c.options);
        testing_support::RemoveTree(Output());
        platform::Process *process = platform::StartProcess(Command(c.options).c_str(), false, 1);
        ASSERT_NE(process, nullptr);
        EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, platform::kWaitForever), 0);
        std::uint32_t code = 12345;
        EXPECT_TRUE(platform::ProcessExitCode(process, &code));
        EXPECT_EQ(code, c.code);
        platform::CloseProcess(process);
        EXPECT_EQ(FileExists(Output()), c.output);
        if (c.output) {
            EXPECT_EQ(Text(ReadFile(Output())), "FAKERIFF-and-audio");
        }
    }
    EXPECT_EQ(Runs().size(), sizeof cases / sizeof cases[0]);
}

TEST_F(ProcessTest, WhatIsNoProgramIsNotStarted) {
    std::string missing = folder_ + "no-such-encoder.exe";
    EXPECT_EQ(platform::StartProcess((Quote(missing) + " a b").c_str(), false, 1), nullptr);
    EXPECT_EQ(platform::StartProcess("", false, 1), nullptr);

    // wine hands a file that is no Windows program to the host system, and
    // keeps it locked after that process has ended; Windows refuses it.
    if (testing_support::RunningUnderWine()) GTEST_SKIP() << "wine runs files that are no Windows program";
    std::string text = folder_ + "text.exe";
    WriteFile(text, "this is no program\n");
    ASSERT_TRUE(testing_support::MakeExecutable(text));
    EXPECT_EQ(platform::StartProcess((Quote(text) + " a b").c_str(), false, 1), nullptr);
}

TEST_F(ProcessTest, ABareProgramNameIsNotLookedUpOnPath) {
    // CreateProcessA searches PATH for a bare name; the Linux build runs a
    // program by its path only.
    if (OnWindows()) GTEST_SKIP() << "Windows looks a bare program name up";
    EXPECT_EQ(platform::StartProcess("true", false, 1), nullptr);
    EXPECT_EQ(platform::StartProcess("sh -c true", false, 1), nullptr);
}

TEST_F(ProcessTest, ArgumentsArriveSplitByTheWindowsRules) {
    // The copy lives in a folder with a blank in its name, so that the
    // program itself is a quoted item.
    std::string spaced = folder_ + "encoder folder" + testing_support::Separator();
    std::string program = spaced + fs::path(FakeEncoderPath()).filename().string();
    std::error_code error;
    fs::create_directory(spaced, error);
    ASSERT_FALSE(error);
    fs::copy_file(FakeEncoderPath(), program, error);  // keeps the permission to run it
    ASSERT_FALSE(error);
    WriteFile(Input(), "x");

    std::string line = Quote(program) + " --log " + Quote(Log()) +
                       R"( --tag "two words" --tag "say \"hi\"" --tag back\slash --tag "end\\" )" + Quote(Input()) +
                       " " + Quote(Output());
    platform::Process *process = platform::StartProcess(line.c_str(), false, 1);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, platform::kWaitForever), 0);
    platform::CloseProcess(process);

    std::vector<fake_encoder::Run> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    std::vector<std::string> expected = {"--log", Log(),         "--tag", "two words", "--tag", "say \"hi\"",
                                         "--tag", "back\\slash", "--tag", "end\\",     Input(), Output()};
    EXPECT_EQ(runs[0].arguments, expected);
}

TEST_F(ProcessTest, AStopEndsTheWaitForAHangingProgram) {
    platform::Process *process = platform::StartProcess(Command("--hang").c_str(), false, 1);
    ASSERT_NE(process, nullptr);
    DelayedRaise raise{stop_, 300};
    platform::WorkerThread *raiser = StartThread(RaiseLater, &raise);
    ASSERT_NE(raiser, nullptr);

    Clock::time_point start = Clock::now();
    EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, platform::kWaitForever), 1);
    platform::EndProcess(process);
    EXPECT_LT(ElapsedMs(start), 1500);
    std::uint32_t code = 0;
    bool known = platform::ProcessExitCode(process, &code);
    EXPECT_FALSE(known && code == 0) << "an ended process must not look like a success";
    platform::CloseProcess(process);
    platform::JoinWorkerThread(raiser);
}

TEST_F(ProcessTest, EndingAProgramReleasesTheFileItHoldsOpen) {
    WriteFile(Input(), std::string(4000, 'a'));
    platform::Process *process = platform::StartProcess(Command("--partial-then-hang").c_str(), false, 1);
    ASSERT_NE(process, nullptr);
    for (int look = 0; look < 200 && ReadFile(Output()).size() < 4; ++look) platform::SleepMilliseconds(50);
    ASSERT_TRUE(FileExists(Output()));
    platform::RaiseEvent(stop_);
    EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, platform::kWaitForever), 1);
    platform::EndProcess(process);
    platform::CloseProcess(process);
    // On Windows a file that a process still holds cannot be deleted.
    EXPECT_TRUE(platform::RemoveFile(Output().c_str()));
}

TEST_F(ProcessTest, ShowModeAndStandardStreams) {
    WriteFile(Input(), "x");
    for (std::int32_t hide : {1, 0}) {
        SCOPED_TRACE(hide);
        testing_support::RemoveTree(Log());
        platform::Process *process = platform::StartProcess(Command("").c_str(), false, hide);
        ASSERT_NE(process, nullptr);
        EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, platform::kWaitForever), 0);
        platform::CloseProcess(process);
        std::vector<fake_encoder::Run> runs = Runs();
        ASSERT_EQ(runs.size(), 1u);
        std::map<std::string, std::string> &facts = runs[0].facts;
        if (OnWindows()) {
            EXPECT_EQ(facts["show-window-flag"], "1");
            EXPECT_EQ(facts["show-mode"], hide ? "0" : "4");  // SW_HIDE, SW_SHOWNOACTIVATE
        } else {
            EXPECT_EQ(facts["stdin"], "/dev/null");
            EXPECT_EQ(facts["stdout"].substr(0, hide ? 5 : std::string::npos), hide ? "pipe:" : StandardOutputTarget());
        }
    }
}

TEST_F(ProcessTest, NoDescriptorOfTheModuleReachesTheProgram) {
    if (OnWindows()) GTEST_SKIP() << "handle inheritance is not observable from the child here";
    std::string wav = folder_ + "track.wav";
    std::FILE *track = platform::OpenTrackStream(wav.c_str());
    ASSERT_NE(track, nullptr);
    // A descriptor opened without close-on-exec shows that the child's
    // report names the ones it inherited.
    std::string control = folder_ + "control";
    WriteFile(control, "");
    int inheritable = open(control.c_str(), O_RDONLY);
    ASSERT_GE(inheritable, 0);
    std::string expected = fake_encoder::ExpectedInherited();
    EXPECT_NE(expected.find(std::to_string(inheritable) + "=" + control), std::string::npos);
    WriteFile(Input(), "x");
    platform::Process *process = platform::StartProcess(Command("").c_str(), false, 1);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, platform::kWaitForever), 0);
    platform::CloseProcess(process);
    close(inheritable);
    std::fclose(track);

    std::vector<fake_encoder::Run> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    // Only the standard three reach the program: neither the track file nor
    // the descriptors of the wait, nor the one the host opened without
    // close-on-exec.
    EXPECT_EQ(runs[0].facts["inherited"], "");
}

#ifndef _WIN32
// Each launcher holds its own pipes and the encoder's standard streams, and
// nothing else: not the host's files (a lock, a WAV being written), and not
// the pipes of the launchers started before it, whose hang-up at the host's
// end it would otherwise delay.
TEST_F(ProcessTest, ALauncherHoldsOnlyItsOwnDescriptors) {
    WriteFile(Input(), "x");
    const int hostFile = open(Input().c_str(), O_RDONLY | O_CLOEXEC);
    platform::Process *processes[3] = {};
    for (platform::Process *&process : processes) process = platform::StartProcess(Command("--hang").c_str(), false, 1);
    for (int look = 0; look < 200 && Runs().size() < 3; ++look) platform::SleepMilliseconds(50);
    ASSERT_EQ(Runs().size(), 3u);
    for (const fake_encoder::Run &run : Runs()) {
        std::string pid, name, state, launcher;  // the encoder's parent
        std::ifstream("/proc/" + run.facts.at("pid") + "/stat") >> pid >> name >> state >> launcher;
        std::vector<std::string> targets;
        for (const fs::directory_entry &fd : fs::directory_iterator("/proc/" + launcher + "/fd")) {
            if (std::stoi(fd.path().filename().string()) > 2) targets.push_back(fs::read_symlink(fd).string());
        }
        EXPECT_LE(targets.size(), 4u) << "two pipes, /dev/null and the encoder's pidfd at most";
        EXPECT_EQ(std::count(targets.begin(), targets.end(), Input()), 0);
    }
    platform::EndProcesses(processes, 3);
    for (platform::Process *process : processes) platform::CloseProcess(process);
    close(hostFile);
}
#endif

struct WordsCase {
    const char *options;
    bool sink;
    int pace;  // how long each take lasts (ms); -1: the sink takes the first piece only
    std::int32_t hide;
    const char *printed;  // the --print text, and how often
    int times;
    const char *messagesStart;  // what is kept, the first bytes of it
    std::size_t messageBytes;   // and how many (on Linux; Windows ends lines with CR LF)
};

struct Taken {
    std::string bytes;
    int pace;
};

bool TakeInto(void *context, const char *bytes, std::size_t count) {
    Taken &taken = *static_cast<Taken *>(context);
    taken.bytes.append(bytes, count);
    if (taken.pace > 0) platform::SleepMilliseconds(static_cast<std::uint32_t>(taken.pace));
    return taken.pace >= 0;
}

// What a program writes reaches the sink whole and in order, and its words
// are kept, the last ones only, however much it writes.
TEST_F(ProcessTest, WhatAProgramWritesIsTakenOrKept) {
    // Words longer than the kept tail in one write: the tail keeps their end.
    const std::string longWords = "--say " + std::string(3000, 'a') + std::string(2000, 'b') + "last";
    const WordsCase cases[] = {
        {"--say oops --print out", false, 0, 1, "", 0, "oops", 8},
        {"--say oops --print out --repeat 3", true, 0, 0, "out", 3, "oops", 5},
        {"--print 0123456789 --repeat 200000", true, 0, 1, "0123456789", 200000, "", 0},
        // A slow sink has taken everything before the end is reported.
        {"--print 0123456789 --repeat 6000", true, 100, 1, "0123456789", 6000, "", 0},
        {"--print 0123456789 --repeat 200000", true, -1, 1, "0123456789", 200000, "", 0},
        {"--flood 100 --say last", false, 0, 1, "", 0, "xx", platform::kMessageTailCapacity},
        {longWords.c_str(), false, 0, 1, "", 0, "aa", platform::kMessageTailCapacity},
        {"--say shown", false, 0, 0, "", 0, "", 0},
    };
    WriteFile(Input(), "x");
    for (const WordsCase &c : cases) {
        SCOPED_TRACE(c.options);
        Taken taken = {"", c.pace};
        const platform::OutputSink sink = {TakeInto, &taken};
        platform::Process *process =
            platform::StartProcess(Command(c.options).c_str(), false, c.hide, nullptr, c.sink ? &sink : nullptr);
        ASSERT_NE(process, nullptr);
        // A program that has ended by the wait has the end of its words in the pipe still.
        platform::SleepMilliseconds(200);
        EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, 60000), 0);
        char messages[platform::kMessageTailCapacity + 10];
        const std::string kept(messages, platform::ProcessMessages(process, messages, sizeof messages));
        const std::string takenByTheEnd = taken.bytes;
        platform::CloseProcess(process);
        std::string printed;
        for (int time = 0; time < c.times; ++time) printed += c.printed;
        if (c.pace < 0) {
            EXPECT_LT(takenByTheEnd.size(), printed.size());
            EXPECT_EQ(printed.compare(0, takenByTheEnd.size(), takenByTheEnd), 0);
        } else {
            EXPECT_TRUE(takenByTheEnd == printed) << takenByTheEnd.size() << " bytes taken";
        }
        EXPECT_EQ(kept.compare(0, std::strlen(c.messagesStart), c.messagesStart), 0) << kept;
        const std::size_t returns = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\r'));
        EXPECT_EQ(kept.size(), std::min(c.messageBytes + returns, platform::kMessageTailCapacity));
        // The flood's tail: its last words are there.
        EXPECT_EQ(kept.find("last") != std::string::npos, c.messageBytes == platform::kMessageTailCapacity);
    }
}

// A program that writes without pause keeps the wait busy, and still the
// wait ends when its time is up.
TEST_F(ProcessTest, AWaitEndsInTimeWhileAProgramWrites) {
    platform::Process *process = platform::StartProcess(Command("--flood 100000").c_str(), false, 1);
    ASSERT_NE(process, nullptr);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, 300), -1);
    EXPECT_LT(ElapsedMs(start), 2000);
    platform::EndProcess(process);
    platform::CloseProcess(process);
}

// Something the program started that holds its pipes open delays the
// report of the program's end by the grace only.
TEST_F(ProcessTest, AGrandchildHoldingThePipesDelaysTheEndByTheGraceOnly) {
    WriteFile(Input(), "x");
    platform::Process *process = platform::StartProcess(Command("--leave-child --say started").c_str(), false, 1);
    ASSERT_NE(process, nullptr);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(platform::WaitForAny(&process, 1, &stop_, 1, platform::kWaitForever), 0);
    EXPECT_LT(ElapsedMs(start), 5000);
    char messages[64];
    EXPECT_EQ(std::string(messages, platform::ProcessMessages(process, messages, sizeof messages)).substr(0, 7),
              "started");
    platform::EndProcess(process);
    platform::CloseProcess(process);
    // The grandchild outlives its parent, whose end no longer reaches it.
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_TRUE(testing_support::EndProcessById(Runs()[0].facts["child"]));
}

// ---- Moving and deleting files -------------------------------------------

struct MoveCase {
    const char *name;
    bool sourceExists;
    bool targetExists;
    bool targetFolderExists;
    bool moved;
    // The target folder is a small volume of its own, so the move copies;
    // "roomy" has room for the file, "full" for a part of it only.
    const char *volume = "";
};

const MoveCase kMoveCases[] = {
    {"to a free name", true, false, true, true},
    {"onto an existing file", true, true, true, false},
    {"from a missing file", false, false, true, false},
    {"into a missing folder", true, false, false, false},
    {"onto another volume", true, false, true, true, "roomy"},
    // The system's own copy left a part of the file under the final name,
    // which a journal then took for a file that was there before.
    {"onto another volume that fills up", true, false, true, false, "full"},
};

TEST_F(PlatformTest, MoveNeverReplacesAnExistingFile) {
    const std::string sep = testing_support::Separator();
    for (const MoveCase &c : kMoveCases) {
        SCOPED_TRACE(c.name);
        const std::string volume = c.volume;
        std::string from = folder_ + "from.mp3";
        std::string targetFolder = folder_ + (!c.targetFolderExists ? "missing" + sep
                                              : volume.empty()      ? ""
                                                                    : volume + sep);
        std::string to = targetFolder + "Final name.mp3";
        const std::string copyName = targetFolder + "#temp(01)-copy.mp3";
        testing_support::RemoveTree(from);
        testing_support::RemoveTree(to);
        std::unique_ptr<testing_support::SmallDisk> disk;
        if (!volume.empty()) {
            ASSERT_TRUE(testing_support::MakeFolder(targetFolder));
            disk.reset(new testing_support::SmallDisk(targetFolder, 200));
            // A mount needs root.
            if (!disk->mounted()) continue;
            if (volume == "full") WriteFile(targetFolder + "filler", std::string(180 * 1024, 'f'));
        }
        // More than one write's worth of bytes, and more than the full disk has room for.
        const std::string content = volume.empty() ? "encoded" : std::string(150 * 1024, 'e');
        if (c.sourceExists) WriteFile(from, content);
        if (c.targetExists) WriteFile(to, "older");

        platform::SystemError error = {0};
        EXPECT_EQ(platform::MoveFileNoReplace(from.c_str(), to.c_str(), &error, false, copyName.c_str()), c.moved);
        if (c.moved) {
            EXPECT_FALSE(FileExists(from));
            EXPECT_EQ(Text(ReadFile(to)), content);
        } else {
            EXPECT_EQ(FileExists(from), c.sourceExists);
            if (c.sourceExists) {
                EXPECT_EQ(Text(ReadFile(from)), content);
            }
            if (c.targetExists) {
                EXPECT_EQ(Text(ReadFile(to)), "older");
            }
        }
        EXPECT_FALSE(FileExists(copyName));
        if (volume == "full") {
            EXPECT_EQ(testing_support::ListFolder(targetFolder), std::vector<std::string>{"filler"});
            EXPECT_EQ(error.code, OnWindows() ? 112 : ENOSPC) << "a full disk's own reason";
        }
    }
}

TEST_F(PlatformTest, RemoveFileDeletesOnlyWhatExists) {
    std::string path = folder_ + "#temp(01).wav";
    WriteFile(path, "x");
    EXPECT_TRUE(platform::RemoveFile(path.c_str()));
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(platform::RemoveFile(path.c_str()));
}

}  // namespace
