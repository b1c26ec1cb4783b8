// The encoder as a process among others, through the loaded module: how the
// encoder check finds a program, how a stop ends an encoder and everything it
// started, and what the host's own habits (signals, forks, threads,
// descriptors) may and may not do to a rip.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "encoder_rip_fixture.h"
#include "fake_encoder/run_log.h"
#include "interface/plugin_interface.h"
#include "module_host.h"
#include "test_support.h"

namespace ts = testing_support;

namespace {

using ts::Album;
using ts::Bytes;

using ts::ElapsedMs;
using ts::SleepMs;
using ts::WaitUntil;

std::string Text(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

using ts::Audio;

using ts::ProcessGone;

using ts::FakeEncoderPath;

class ProcessTest : public ts::EncoderRipTest {
protected:
    // A copy of the fake encoder under another name, in aux_.
    std::string CopyOfFakeEncoder(const std::string &name) {
        std::string path = aux_ + name;
        ts::WriteFile(path, Text(ts::ReadFile(FakeEncoderPath())));
        ts::MakeExecutable(path);
        return path;
    }
    std::string Temp(int number, const std::string &extension) const {
        char name[32];
        std::snprintf(name, sizeof name, "#temp(%02d)", number);
        return out_ + name + extension;
    }
    std::string Final(int number, const std::string &extension) const {
        char name[32];
        std::snprintf(name, sizeof name, "%02d Track", number);
        return out_ + name + extension;
    }
};

// ---- The encoder check -----------------------------------------------------

#ifndef _WIN32
// What Create makes of EXEPATHs that name no program. None of them may be
// opened: a FIFO's open would wait for a writer for ever, and a device's can
// act. A FIFO's writer side opens without blocking only while a reader has
// it open, which is how the watcher tells that Create opened it.
TEST_F(ProcessTest, TheEncoderCheckRefusesWhatIsNoProgramWithoutOpeningIt) {
    const std::string fifo = aux_ + "encoder.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0755), 0);
    const std::string folder = aux_ + "folder";
    ASSERT_TRUE(ts::MakeFolder(folder));
    const std::string notRunnable = aux_ + "not-runnable";
    ts::WriteFile(notRunnable, "#!/bin/sh\n");
    struct Case {
        std::string path;
        std::int32_t created;
    } cases[] = {
        {fifo, 0}, {folder, 0}, {"/dev/null", 0}, {"/dev/zero", 0}, {notRunnable, 0}, {FakeEncoderPath(), 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::atomic<bool> done{false}, opened{false};
        std::thread watcher([&] {
            while (!done.load()) {
                int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    opened = true;  // and closing it lets a blocked open go on
                    close(fd);
                }
                SleepMs(5);
            }
        });
        Album album(out_, 1);
        EXPECT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", "%i% %o%", 1, c.path})), c.created);
        done = true;
        watcher.join();
        EXPECT_FALSE(opened.load()) << "Create opened the FIFO";
        EXPECT_EQ(host_->Kill(), 0);
    }
}
#else
// A running encoder, a read-only one (as under C:\Program Files for a
// standard user) and one named by a \\?\ path are all usable.
TEST_F(ProcessTest, TheEncoderCheckTakesRunningReadOnlyAndDevicePathPrograms) {
    const std::string running = CopyOfFakeEncoder("running.exe");
    std::string line = "\"" + running + "\" --hang";
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &started));
    const std::string readOnly = CopyOfFakeEncoder("read-only.exe");
    ASSERT_TRUE(ts::MakeReadOnly(readOnly));
    const std::string paths[] = {running, readOnly, "\\\\?\\" + FakeEncoderPath()};
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        Album album(out_, 1);
        EXPECT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", "%i% %o%", 1, path})), 1);
        EXPECT_EQ(host_->Kill(), 0);
    }
    TerminateProcess(started.hProcess, 1);
    WaitForSingleObject(started.hProcess, INFINITE);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

// ---- Stopping a whole encoder ---------------------------------------------

// An encoder behind a wrapper: a script that starts the real encoder and
// waits for it. A stop must end the real encoder too, or its output, removed
// by the stop, could come back; so too when both ignore the polite signal.
struct WrapperCase {
    const char *name;
    const char *script;  // FAKE stands for the fake encoder's path
};

#ifndef _WIN32
const WrapperCase kWrappers[] = {
    {"in the background, waited for", "#!/bin/sh\n\"FAKE\" \"$@\" &\nwait\n"},
    {"in the foreground", "#!/bin/sh\n\"FAKE\" \"$@\"\nstatus=$?\nexit $status\n"},
    {"both ignoring TERM", "#!/bin/sh\ntrap '' TERM\n\"FAKE\" \"$@\"\n"},
};
const char kWrapperName[] = "wrapper.sh";
#else
const WrapperCase kWrappers[] = {
    {"a batch file that waits for it", "@\"FAKE\" %*\r\n"},
    {"a batch file that starts it and waits", "@start \"\" /b /wait \"FAKE\" %*\r\n"},
};
const char kWrapperName[] = "wrapper.bat";
#endif

TEST_F(ProcessTest, KillEndsTheEncoderBehindAWrapper) {
    int caseNumber = 0;
    for (const WrapperCase &c : kWrappers) {
        SCOPED_TRACE(c.name);
        const std::string log = "case" + std::to_string(++caseNumber) + ".log";
        std::string script = c.script;
        script.replace(script.find("FAKE"), 4, FakeEncoderPath());
        const std::string wrapper = aux_ + std::to_string(caseNumber) + kWrapperName;
        ts::WriteFile(wrapper, script);
        ASSERT_TRUE(ts::MakeExecutable(wrapper));
        Album album(out_, 2);
        ASSERT_EQ(
            host_->Create(album.info.get(), WriteSettings({".mp3", Fake("--partial-then-hang", log), 1, wrapper})), 1);
        const Bytes first = Audio(4000, 1);
        ASSERT_EQ(host_->DeliverTrack(first), 1);
        ASSERT_TRUE(WaitUntil([&] { return ts::ReadFile(Temp(1, ".mp3")).size() > 4; }));
        ASSERT_EQ(Runs(log).size(), 1u);
        const std::string pid = Runs(log)[0].facts["pid"];

        EXPECT_EQ(host_->Kill(), 0);
        EXPECT_TRUE(ProcessGone(pid)) << "the encoder behind the wrapper still runs";
        EXPECT_FALSE(ts::FileExists(Temp(1, ".mp3")));
        SleepMs(300);
        EXPECT_FALSE(ts::FileExists(Temp(1, ".mp3"))) << "the removed partial output came back";
        EXPECT_TRUE(ts::FileExists(Temp(1, ".wav")));
        // Whatever a failed case left is ended here, not by a later test.
#ifdef _WIN32
        HANDLE left = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(pid)));
        if (left != nullptr) {
            TerminateProcess(left, 1);
            CloseHandle(left);
        }
#else
        kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
#endif
        ts::RemoveTree(Temp(1, ".wav"));
        ts::RemoveTree(Temp(2, ".wav"));
    }
}

// ---- Kill from another thread -----------------------------------------------

// The host's Cancel button: Kill from another thread while the album's last
// delivery waits for the encoder. The worker and the encoder stop, the
// delivery returns 0, and nothing freed is touched (run under the
// sanitizers too). An encoder that hangs is the case with no other way out;
// one that ends soon lets the Kill fall anywhere from the encoder's start to
// after the album's end.
TEST_F(ProcessTest, KillFromAnotherThreadEndsTheLastDelivery) {
    struct Case {
        const char *options;
        int rounds;
        bool mustStop;  // else the album may also end before the Kill
    } cases[] = {{"--hang", 8, true}, {"--sleep 20", 12, false}};
    for (const Case &c : cases) {
        for (int round = 0; round < c.rounds; ++round) {
            SCOPED_TRACE(std::string(c.options) + " round " + std::to_string(round));
            const std::string log = "kill" + std::to_string(round) + (c.mustStop ? "h" : "s") + ".log";
            Album album(out_, 1);
            ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake(c.options, log)})), 1);
            std::int32_t killed = -1;
            std::thread cancel([&] {
                // The encoder starts once the track has ended: the host's
                // thread is in the album's last delivery, or past it. A Kill
                // before that would come while the audio is still written,
                // which no host may do from another thread.
                WaitUntil([&] { return Runs(log).size() == 1; });
                SleepMs(round * 3);
                killed = host_->Kill();
            });
            const std::int32_t delivered = host_->DeliverTrack(Audio(400, 1));
            cancel.join();
            EXPECT_EQ(killed, 0);
            if (c.mustStop) {
                EXPECT_EQ(delivered, 0) << "the last delivery went on as if nothing had stopped it";
                EXPECT_FALSE(ts::FileExists(Final(1, ".mp3")));
            } else {
                EXPECT_TRUE(delivered == 0 || delivered == 1);
            }
            for (const fake_encoder::Run &run : Runs(log))
                EXPECT_TRUE(WaitUntil([&] { return ProcessGone(run.facts.at("pid")); }));
            EXPECT_EQ(host_->Kill(), 0);
            ts::RemoveTree(out_);
            ASSERT_TRUE(ts::MakeFolder(out_));
        }
    }
}

#ifndef _WIN32
// A host that is killed outright runs no code of the module: the encoder
// still goes, through the launcher, which sees the host's end.
TEST_F(ProcessTest, AHostKilledOutrightTakesItsEncoderWithIt) {
    const std::string wrapper = aux_ + kWrapperName;
    std::string script = kWrappers[0].script;
    script.replace(script.find("FAKE"), 4, FakeEncoderPath());
    ts::WriteFile(wrapper, script);
    ASSERT_TRUE(ts::MakeExecutable(wrapper));
    const std::string settings = WriteSettings({".mp3", Fake("--partial-then-hang"), 1, wrapper});
    EXPECT_EXIT(
        {
            Album album(out_, 2);
            if (host_->Create(album.info.get(), settings) != 1 || host_->DeliverTrack(Audio(4000, 1)) != 1) {
                std::exit(3);
            }
            if (!WaitUntil([&] { return ts::ReadFile(Temp(1, ".mp3")).size() > 4; })) std::exit(4);
            kill(getpid(), SIGKILL);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    ASSERT_EQ(Runs().size(), 1u);
    const std::string pid = Runs()[0].facts["pid"];
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(pid); })) << "the encoder outlived its host";
    kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
}

// ---- What the host may do with SIGCHLD and fork -----------------------------

class HostSignalTest : public ProcessTest {
protected:
    void TearDown() override {
        signal(SIGCHLD, SIG_DFL);
        ProcessTest::TearDown();
    }
    // Rips an album of count tracks; the count of tracks that reached their
    // final names.
    int RipAndCountFinished(int count) {
        Album album(out_, count);
        if (host_->Create(album.info.get(), WriteSettings({".mp3", Fake("")})) != 1) return -1;
        for (int number = 1; number <= count; ++number) {
            if (host_->DeliverTrack(Audio(1000, static_cast<unsigned>(number))) != 1) return -1;
        }
        int finished = 0;
        for (int number = 1; number <= count; ++number) finished += ts::FileExists(Final(number, ".mp3")) ? 1 : 0;
        host_->Kill();
        return finished;
    }
};

void ReapEveryChild(int) {
    const int saved = errno;
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved;
}

// A host may ignore SIGCHLD, or reap every child from its own handler; the
// encoders' exit statuses still count, and every track is finished.
TEST_F(HostSignalTest, SigchldIgnoredOrReapedByTheHostCostsNoTrack) {
    signal(SIGCHLD, SIG_IGN);
    EXPECT_EQ(RipAndCountFinished(3), 3) << "SIGCHLD ignored";
    struct sigaction reaper = {};
    reaper.sa_handler = ReapEveryChild;
    reaper.sa_flags = SA_RESTART;
    sigemptyset(&reaper.sa_mask);
    sigaction(SIGCHLD, &reaper, nullptr);
    ts::RemoveTree(out_);
    ASSERT_TRUE(ts::MakeFolder(out_));
    EXPECT_EQ(RipAndCountFinished(8), 8) << "a handler that reaps every child";
}

// The usual fork, exec fails, exit: the child's exit runs the library's
// destructor, which must leave the parent's rip alone.
TEST_F(HostSignalTest, AForkedChildThatExitsLeavesTheRipAlone) {
    Album album(out_, 3);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("--sleep 300")})), 1);
    ASSERT_EQ(host_->DeliverTrack(Audio(1000, 1)), 1);
    ASSERT_TRUE(WaitUntil([&] { return Runs().size() == 1; }));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl("/nonexistent/program", "program", static_cast<char *>(nullptr));
        std::exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 127);
    ASSERT_EQ(host_->DeliverTrack(Audio(1000, 2)), 1);
    ASSERT_EQ(host_->DeliverTrack(Audio(1000, 3)), 1);
    for (int number = 1; number <= 3; ++number) EXPECT_TRUE(ts::FileExists(Final(number, ".mp3"))) << number;
    EXPECT_EQ(host_->Kill(), 0);
}

// Descriptors that the host opened without close-on-exec (a pipe, a locked
// file) stay with the host: the encoder gets 0, 1 and 2 only.
TEST_F(ProcessTest, NoDescriptorOfTheHostReachesTheEncoder) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const std::string lockedPath = aux_ + "locked";
    ts::WriteFile(lockedPath, "x");
    int locked = open(lockedPath.c_str(), O_RDWR);
    ASSERT_GE(locked, 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(locked, F_SETLK, &lock), 0);
    Album album(out_, 1);
    ASSERT_EQ(host_->Create(album.info.get(), WriteSettings({".mp3", Fake("")})), 1);
    ASSERT_EQ(host_->DeliverTrack(Audio(100, 1)), 1);
    EXPECT_EQ(host_->Kill(), 0);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    close(locked);
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0].facts["inherited"], "");
    EXPECT_EQ(Runs()[0].facts["stdin"], "/dev/null");
}
#endif

#ifdef _WIN32
// ---- The host's end and the encoder's standard input (Windows) -------------

// A host of its own: this program run again with one helper test, which
// rips with the encoder the settings name and leaves through ExitProcess in
// the middle of an encode. gtest's death tests do not run their statement
// under wine, so the test starts the helper itself. Told how to end, it
// rips an album of one track from a ripping thread of its own, whose last
// delivery waits for the encoder while the helper ends that way.
constexpr char kHelperFolders[] = "ENCBRIDGE_TEST_HELPER_FOLDERS";

DWORD WINAPI DeliverTheAlbum(void *host) {
    static_cast<ts::ModuleHost *>(host)->DeliverTrack(Audio(4000, 1));
    return 0;
}

TEST(HostHelper, ExitsDuringAnEncode) {
    char given[1024];
    DWORD length = GetEnvironmentVariableA(kHelperFolders, given, sizeof given);
    if (length == 0 || length >= sizeof given) GTEST_SKIP() << "run only as a helper host";
    const std::string text(given, length);
    const std::size_t bar = text.find('|'), lastBar = text.rfind('|');
    const std::string out = text.substr(0, bar);
    const std::string settings = text.substr(bar + 1, lastBar - bar - 1);
    const std::string ending = text.substr(lastBar + 1);
    static ts::ModuleHost host(ts::ProgramFolder() + ts::ModuleFileName());
    // Loaded after the module, so that its detach comes first at exit.
    HMODULE component = LoadLibraryA((ts::ProgramFolder() + "exit_kill_component.dll").c_str());
    static Album album(out, ending.empty() ? 2 : 1);
    if (host.Create(album.info.get(), settings) != 1) ExitProcess(3);
    if (ending.empty() && host.DeliverTrack(Audio(4000, 1)) != 1) ExitProcess(3);
    HANDLE ripping = ending.empty() ? nullptr : CreateThread(nullptr, 0, DeliverTheAlbum, &host, 0, nullptr);
    if (!WaitUntil([&] { return ts::ReadFile(out + "#temp(01).mp3").size() > 4; })) ExitProcess(4);
    if (ending == "unload-component") {
        FreeLibrary(component);
        WaitForSingleObject(ripping, INFINITE);
    } else if (ending == "end-ripping-thread") {
        TerminateThread(ripping, 1);
        WaitForSingleObject(ripping, INFINITE);
        if (host.Kill() != 0) ExitProcess(5);
        static Album next(out, 1);
        if (host.Create(next.info.get(), settings) != 1 || host.Kill() != 0) ExitProcess(6);
        host.Unload();
        // The worker's thread holds the module until it has left; then the
        // module goes, and the component at exit finds none to call.
        if (!WaitUntil([] { return GetModuleHandleA(ts::ModuleFileName()) == nullptr; })) ExitProcess(7);
    }
    ExitProcess(0);
}

// Runs the helper host; its exit code, or -1 when it had to be ended.
int RunHelperHost(const std::string &out, const std::string &settings, const std::string &ending = "") {
    SetEnvironmentVariableA(kHelperFolders, (out + "|" + settings + "|" + ending).c_str());
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string line = "\"" + std::string(program) + "\" --gtest_filter=HostHelper.ExitsDuringAnEncode";
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION started = {};
    BOOL ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &started);
    SetEnvironmentVariableA(kHelperFolders, nullptr);
    if (!ok) return -2;
    DWORD code = 0;
    // A hang guard only: the helper ends within seconds.
    if (WaitForSingleObject(started.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(started.hProcess, 1);
        WaitForSingleObject(started.hProcess, INFINITE);
        code = static_cast<DWORD>(-1);
    } else {
        GetExitCodeProcess(started.hProcess, &code);
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return static_cast<int>(code);
}

// The job that holds the encoder goes with the host's process; a component
// that calls Kill from its DLL_PROCESS_DETACH then, when the worker's thread
// is gone already, gets an answer.
TEST_F(ProcessTest, AHostThatExitsTakesItsEncoderWithIt) {
    const std::string marker = aux_ + "kill-returned";
    SetEnvironmentVariableA("ENCBRIDGE_TEST_KILL_MARKER", marker.c_str());
    const int code = RunHelperHost(out_, WriteSettings({".mp3", Fake("--partial-then-hang")}));
    SetEnvironmentVariableA("ENCBRIDGE_TEST_KILL_MARKER", nullptr);
    EXPECT_EQ(code, 0) << "-1: the host hung at its exit";
    EXPECT_TRUE(ts::FileExists(marker)) << "Kill at process exit never returned";
    ASSERT_EQ(Runs().size(), 1u);
    const std::string pid = Runs()[0].facts["pid"];
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(pid); })) << "the encoder outlived its host";
    HANDLE left = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(pid)));
    if (left != nullptr) {
        TerminateProcess(left, 1);
        CloseHandle(left);
    }
}

// A host that ends its rip mid-album in unusual ways, with WIN_HIDE=1 (the
// encoder's output is read by a thread of the module's): every Kill, the
// next rip and the unloading return, and the encoder goes.
TEST_F(ProcessTest, EveryKillReturnsHoweverTheHostEndsItsRip) {
    // Each way to end, and whether the component's Kill writes the marker.
    const std::pair<const char *, bool> cases[] = {
        // A component unloaded mid-album calls Kill from its DLL_PROCESS_DETACH,
        // where the readers of the pipes cannot end their threads.
        {"unload-component", true},
        // The ripping thread is ended while its last delivery waits; then
        // Kill, a new rip and FreeLibrary.
        {"end-ripping-thread", false},
        // The process exits while the ripping thread waits there, and the
        // component calls Kill at the exit.
        {"exit-while-waiting", true},
    };
    for (const auto &[ending, killAtDetach] : cases) {
        SCOPED_TRACE(ending);
        const std::string out = out_ + ending + "\\";
        ASSERT_TRUE(ts::MakeFolder(out));
        const std::string marker = aux_ + ending + "-kill-returned", log = std::string(ending) + ".log";
        SetEnvironmentVariableA("ENCBRIDGE_TEST_KILL_MARKER", marker.c_str());
        const int code = RunHelperHost(out, WriteSettings({".mp3", Fake("--partial-then-hang", log)}), ending);
        SetEnvironmentVariableA("ENCBRIDGE_TEST_KILL_MARKER", nullptr);
        EXPECT_EQ(code, 0) << "-1: the host hung";
        EXPECT_EQ(ts::FileExists(marker), killAtDetach);
        ASSERT_EQ(Runs(log).size(), 1u);
        // It runs in the helper's job, which ends it with the helper in any case.
        EXPECT_TRUE(WaitUntil([&] { return ProcessGone(Runs(log)[0].facts["pid"]); }))
            << "the encoder outlived its rip";
    }
}

// An encoder that reads its standard input reads end of file at once, never
// the host's input. Here the host's input is a pipe that stays open: an
// encoder that got it would wait until the watcher writes to it.
TEST_F(ProcessTest, TheEncoderReadsEndOfFileFromItsStandardInput) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
    HANDLE hostInput = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, readEnd);
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        for (int waited = 0; waited < 5000 && !done.load(); waited += 20) SleepMs(20);
        DWORD written = 0;
        if (!done.load()) WriteFile(writeEnd, "LATE", 4, &written, nullptr);
        CloseHandle(writeEnd);
    });
    for (int hide : {1, 0}) {
        SCOPED_TRACE(hide);
        const std::string log = "hide" + std::to_string(hide) + ".log";
        std::string settings = WriteSettings({".mp3", Fake("--read-stdin", log)});
        if (hide == 0) {
            ts::WriteFile(settings, Text(ts::ReadFile(settings)) + "[OPTION]\nWIN_HIDE=0\n");
        }
        Album album(out_, 1);
        ASSERT_EQ(host_->Create(album.info.get(), settings), 1);
        EXPECT_EQ(host_->DeliverTrack(Audio(100, 1)), 1);
        EXPECT_EQ(host_->Kill(), 0);
        ASSERT_EQ(Runs(log).size(), 1u);
        EXPECT_EQ(Runs(log)[0].facts["stdin-bytes"], "0");
        ts::RemoveTree(Final(1, ".mp3"));
    }
    done = true;
    watcher.join();
    SetStdHandle(STD_INPUT_HANDLE, hostInput);
    CloseHandle(readEnd);
}
#endif

}  // namespace
