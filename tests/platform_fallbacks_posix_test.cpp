// The fallbacks of the Linux layer: moving through a hard link where a file
// system cannot rename without replacing, and by copying across file
// systems; waiting for a process by polling where there is no pidfd.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "platform/posix/files.h"
#include "platform/posix/process.h"
#include "temp_folder_test.h"
#include "test_support.h"

namespace platform = encbridge::platform;
using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::WriteFile;

// The file of the last fsync in this program: the copy must reach the disk
// before its source goes. Calls go on to the system unchanged.
namespace {
ino_t lastSynced = 0;
}  // namespace
extern "C" int fsync(int fd) {
    struct stat info;
    if (fstat(fd, &info) == 0) lastSynced = info.st_ino;
    return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace {

std::string Text(const std::vector<std::uint8_t> &bytes) { return std::string(bytes.begin(), bytes.end()); }

using MoveFunction = bool (*)(const char *, const char *);

struct Fallback {
    const char *name;
    MoveFunction move;
};

const Fallback kFallbacks[] = {
    {"linking", platform::MoveByLinking},
    {"copying", platform::MoveByCopying},
};

class FallbackTest : public testing_support::TempFolderTest {
protected:
    void SetUp() override { ASSERT_TRUE(NewFolder(folder_)); }
    std::string folder_;
};

TEST_F(FallbackTest, EachFallbackMovesToAFreeNameAndNeverReplaces) {
    for (const Fallback &fallback : kFallbacks) {
        SCOPED_TRACE(fallback.name);
        std::string from = folder_ + "#temp(01).flac";
        std::string to = folder_ + "01 Title.flac";
        std::string taken = folder_ + "02 Taken.flac";
        WriteFile(from, std::string(200000, 'e'));  // more than one chunk of the copy
        chmod(from.c_str(), 0640);
        WriteFile(taken, "older");

        EXPECT_FALSE(fallback.move(from.c_str(), taken.c_str()));
        EXPECT_EQ(Text(ReadFile(taken)), "older");
        EXPECT_TRUE(FileExists(from));

        EXPECT_FALSE(fallback.move((folder_ + "missing").c_str(), to.c_str()));
        EXPECT_FALSE(FileExists(to));

        ASSERT_TRUE(fallback.move(from.c_str(), to.c_str()));
        EXPECT_FALSE(FileExists(from));
        EXPECT_EQ(ReadFile(to).size(), 200000u);
        struct stat info;
        ASSERT_EQ(stat(to.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u);
        if (fallback.move == platform::MoveByCopying) {
            EXPECT_EQ(lastSynced, info.st_ino) << "the copy reached the disk before its source went";
        }

        testing_support::RemoveTree(to);
        testing_support::RemoveTree(taken);
    }
}

TEST_F(FallbackTest, MovingAcrossFileSystemsCopies) {
    // /dev/shm is a memory file system on Linux; it is another file system
    // than the temporary folder unless that lies on it too.
    struct stat shm, temp;
    if (stat("/dev/shm", &shm) != 0 || stat(folder_.c_str(), &temp) != 0 || shm.st_dev == temp.st_dev) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    std::string from = "/dev/shm/encbridge-move-" + std::to_string(getpid());
    WriteFile(from, "across");
    std::string to = folder_ + "final.mp3";
    const std::string copy = folder_ + "#temp(01)-copy.mp3";
    WriteFile(to, "older");
    EXPECT_FALSE(platform::MoveFileNoReplace(from.c_str(), to.c_str(), nullptr, false, copy.c_str()));
    EXPECT_EQ(Text(ReadFile(to)), "older");
    EXPECT_FALSE(FileExists(copy)) << "a copy that cannot take the name goes";

    testing_support::RemoveTree(to);
    platform::SystemError error = {0};
    EXPECT_FALSE(platform::MoveFileNoReplace(from.c_str(), to.c_str(), &error)) << "no copy without a name for it";
    EXPECT_EQ(error.code, EXDEV);
    EXPECT_TRUE(platform::MoveFileNoReplace(from.c_str(), to.c_str(), nullptr, false, copy.c_str()));
    EXPECT_EQ(Text(ReadFile(to)), "across");
    EXPECT_FALSE(FileExists(from));
    EXPECT_FALSE(FileExists(copy));
    testing_support::RemoveTree(from);
}

TEST_F(FallbackTest, AWaitSeesTheEndAndAStopRaisedBeforeIt) {
    std::string program = "\"" + testing_support::FakeEncoderPath() + "\"";
    platform::Event *stop = platform::CreateManualResetEvent();
    ASSERT_NE(stop, nullptr);

    std::string input = folder_ + "in.wav";
    WriteFile(input, "x");
    std::string line = program + " --exit 5 --sleep 100 \"" + input + "\" \"" + folder_ + "out\"";
    platform::Process *process = platform::StartProcess(line.c_str(), false, 1);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(platform::WaitForAny(&process, 1, &stop, 1, platform::kWaitForever), 0);
    std::uint32_t code = 0;
    EXPECT_TRUE(platform::ProcessExitCode(process, &code));
    EXPECT_EQ(code, 5u);
    platform::CloseProcess(process);

    process = platform::StartProcess((program + " --hang").c_str(), false, 1);
    ASSERT_NE(process, nullptr);
    platform::RaiseEvent(stop);
    EXPECT_EQ(platform::WaitForAny(&process, 1, &stop, 1, platform::kWaitForever), 1);
    platform::EndProcess(process);
    EXPECT_FALSE(platform::ProcessExitCode(process, &code)) << "a killed process has no exit code";
    platform::CloseProcess(process);
    platform::DestroyEvent(stop);
}

// The guard over a WAV file that encoders read: no one may write it while
// it is held, not its group nor others either, and it gets back the very
// mode it had. A file with a second name could be written through that
// name: it is refused, and left as it was.
TEST_F(FallbackTest, TheWavGuardTakesEveryWriteBitAndGivesTheModeBack) {
    const struct Row {
        const char *name;
        mode_t mode;
        bool secondName;
        bool guarded;
        mode_t whileHeld;
    } rows[] = {
        {"writable by all", 0666, false, true, 0444},
        {"read-only, private", 0400, false, true, 0400},
        {"with a second name", 0644, true, false, 0644},
    };
    const mode_t mask = umask(0);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string wav = folder_ + "#temp(01).wav", other = folder_ + "other";
        testing_support::RemoveTree(wav);
        testing_support::RemoveTree(other);
        WriteFile(wav, "RIFF");
        ASSERT_EQ(chmod(wav.c_str(), row.mode), 0);
        if (row.secondName) {
            ASSERT_EQ(link(wav.c_str(), other.c_str()), 0);
        }
        platform::FileGuard guard = {};
        EXPECT_EQ(platform::GuardFile(wav.c_str(), guard, nullptr), row.guarded);
        struct stat info;
        ASSERT_EQ(stat(wav.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, row.whileHeld);
        platform::ReleaseFile(guard);
        ASSERT_EQ(stat(wav.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, row.mode);
    }
    umask(mask);
}

// Another user takes a lock over that a killed rip left only if he can
// open its file: it is readable by all, whatever the umask.
TEST_F(FallbackTest, TheLockFileIsReadableByOthers) {
    const mode_t mask = umask(077);
    const std::string path = folder_ + "#ripping.lock";
    platform::LockRefusal refusal;
    platform::FolderLock *lock = platform::LockFolder(path.c_str(), refusal);
    umask(mask);
    ASSERT_NE(lock, nullptr);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0444, 0444u);
    platform::UnlockFolder(lock);
}

}  // namespace
