// The encoder as a process among others, through the loaded module: how the
// encoder check finds a program, how a stop ends an encoder and everything it
// started, and what the host's own habits (signals, forks, threads,
// descriptors) may and may not do to a rip.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
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

#include "fake_encoder/run_log.h"
#include "interface/plugin_interface.h"
#include "module_host.h"
#include "test_support.h"

namespace ts = testing_support;

namespace {

using ts::Album;
using ts::Bytes;
using Clock = std::chrono::steady_clock;

[[maybe_unused]] long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

void SleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

[[maybe_unused]] bool OnWindows() { return std::string(ts::Separator()) == "\\"; }

std::string Text(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

// Polls until done() holds; false when it still does not after timeoutMs
// (a hang guard, never a measure of speed).
[[maybe_unused]] bool WaitUntil(const std::function<bool()> &done, long timeoutMs = 15000) {
    Clock::time_point start = Clock::now();
    while (!done()) {
        if (ElapsedMs(start) > timeoutMs) return false;
        SleepMs(20);
    }
    return true;
}

[[maybe_unused]] Bytes Audio(std::size_t bytes, unsigned seed) {
    Bytes audio(bytes);
    for (std::size_t i = 0; i < bytes; ++i) audio[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    return audio;
}

// True once the process with this id has ended.
[[maybe_unused]] bool ProcessGone(const std::string &pid) {
    if (pid.empty()) return false;
#ifdef _WIN32
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::stoul(pid)));
    if (process == nullptr) return true;
    bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
#else
    // A zombie has ended too: its parent, not the test, reaps it.
    std::vector<std::uint8_t> stat = ts::ReadFile("/proc/" + pid + "/stat");
    std::string text(stat.begin(), stat.end());
    std::size_t close = text.rfind(')');
    return text.empty() || (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z');
#endif
}

std::string FakeEncoderPath() { return ts::ProgramFolder() + FAKE_ENCODER_NAME; }

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        out_ = ts::MakeTempFolder();
        aux_ = ts::MakeTempFolder();
        ASSERT_FALSE(out_.empty());
        ASSERT_FALSE(aux_.empty());
        host_.reset(new ts::ModuleHost(ts::ProgramFolder() + ts::ModuleFileName()));
        ASSERT_TRUE(host_->ready());
    }
    void TearDown() override {
        host_.reset();
        ts::RemoveTree(out_);
        ts::RemoveTree(aux_);
    }

    std::string Log(const std::string &name = "runs.log") const { return aux_ + name; }
    std::vector<fake_encoder::Run> Runs(const std::string &log = "runs.log") const {
        return fake_encoder::ReadRuns(Log(log));
    }
    // A command template for the fake encoder with the given options.
    std::string Fake(const std::string &options, const std::string &log = "runs.log") const {
        return "--log \"" + Log(log) + "\" " + options + " %i% %o%";
    }
    std::string WriteSettings(const std::string &encoder, const std::string &command,
                              const std::string &name = "encbridge.ini") {
        std::string path = aux_ + name;
        ts::WriteFile(path, "[SETUP]\nOUT=.mp3\n[OPTION]\nCOMMAND=" + command + "\nDELETE=1\nEXEPATH=" + encoder +
                                "\nWIN_HIDE=1\n");
        return path;
    }
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

    std::string out_, aux_;
    std::unique_ptr<ts::ModuleHost> host_;
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
        EXPECT_EQ(host_->Create(album.info.get(), WriteSettings(c.path, "%i% %o%")), c.created);
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
        EXPECT_EQ(host_->Create(album.info.get(), WriteSettings(path, "%i% %o%")), 1);
        EXPECT_EQ(host_->Kill(), 0);
    }
    TerminateProcess(started.hProcess, 1);
    WaitForSingleObject(started.hProcess, INFINITE);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

}  // namespace
