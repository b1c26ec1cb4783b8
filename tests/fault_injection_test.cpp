// Faults of the disk, the folder and the encoder during whole rips through
// the loaded module (Linux). Whatever fails, the host must learn it from the
// results of its calls, and every byte it was told was taken must still be
// on disk: in the track's temporary WAV file or in its final file.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "interface/plugin_interface.h"
#include "module_host.h"
#include "temp_folder_test.h"
#include "test_support.h"

namespace ts = testing_support;

namespace {

using ts::Bytes;

constexpr std::size_t kHeaderSize = 44;

using ts::FakeEncoderPath;

using ts::Audio;

std::string Numbered(const std::string &folder, const char *pattern, int number, const char *extension) {
    char name[64];
    std::snprintf(name, sizeof name, pattern, number);
    return folder + name + extension;
}
std::string Temp(const std::string &folder, int number, const char *extension) {
    return Numbered(folder, "#temp(%02d)", number, extension);
}
std::string Final(const std::string &folder, int number) { return Numbered(folder, "%02d Track", number, ".mp3"); }

// Whether the file holds, after skip bytes, the header and then at least
// the given audio.
bool HoldsAudio(const std::string &path, std::size_t skip, const Bytes &audio) {
    if (!ts::FileExists(path)) return false;
    const Bytes file = ts::ReadFile(path);
    const std::size_t start = skip + kHeaderSize;
    return file.size() >= start + audio.size() &&
           std::equal(audio.begin(), audio.end(), file.begin() + static_cast<std::ptrdiff_t>(start));
}

// What the host learned of one track: the result of each call, and the
// bytes of the calls that said they were taken.
struct TrackRecord {
    std::vector<int> results;
    Bytes taken;
};

// A host with the module loaded as a host loads it, that keeps a record of
// every call.
class Host {
public:
    Host() : module_(ts::ProgramFolder() + ts::ModuleFileName()) {}
    bool ready() const { return module_.ready(); }

    // An album of processed tracks in folder.
    int Create(const std::string &folder, int tracks, const std::string &settings) {
        album_.reset(new ts::Album(folder, tracks));
        tracks_.assign(static_cast<std::size_t>(tracks), TrackRecord());
        current_ = 0;
        return module_.Create(album_->info.get(), settings);
    }
    int Deliver(const Bytes &piece) {
        std::int32_t boundary = 0;
        const int result = module_.Deliver(piece, 0, &boundary);
        TrackRecord &track = tracks_.at(current_);
        track.results.push_back(result);
        if (result == 1) track.taken.insert(track.taken.end(), piece.begin(), piece.begin() + boundary);
        return result;
    }
    int EndTrack() {
        const int result = module_.EndTrack();
        tracks_.at(current_).results.push_back(result);
        ++current_;
        return result;
    }
    void DeliverTrack(const Bytes &audio, std::size_t piece, bool end = true) {
        for (std::size_t at = 0; at < audio.size(); at += piece) {
            Deliver(Bytes(audio.begin() + static_cast<std::ptrdiff_t>(at),
                          audio.begin() + static_cast<std::ptrdiff_t>(std::min(audio.size(), at + piece))));
        }
        if (end) EndTrack();
    }
    int Kill() { return module_.Kill(); }

    const std::vector<TrackRecord> &tracks() const { return tracks_; }

private:
    std::unique_ptr<ts::Album> album_;
    std::vector<TrackRecord> tracks_;
    std::size_t current_ = 0;
    // Declared last, so that it ends the rip before the album's records go.
    ts::ModuleHost module_;
};

class FaultTest : public ts::TempFolderTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(NewFolder(out_) && NewFolder(aux_));
        ASSERT_TRUE(host_.ready());
    }
    void TearDown() override {
        host_.Kill();
        chmod(out_.c_str(), 0755);
    }

    std::string WriteSettings(const std::string &options, const std::string &encoder = FakeEncoderPath(),
                              const std::string &extra = "") {
        return ts::WriteSettings(aux_ + "encbridge.ini", {".mp3", options + " %i% %o%", 1, encoder, 1, "", extra});
    }

    // Every byte that the host was told was taken is in the track's WAV
    // file, or in the encoder's output under the final name.
    void ExpectNothingLost(const std::string &folder) {
        for (std::size_t i = 0; i < host_.tracks().size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            const Bytes &taken = host_.tracks()[i].taken;
            if (taken.empty()) continue;
            EXPECT_TRUE(HoldsAudio(Temp(folder, number, ".wav"), 0, taken) ||
                        HoldsAudio(Final(folder, number), 4, taken))
                << "track " << number << ": " << taken.size() << " bytes taken";
        }
    }

    std::string out_, aux_;
    Host host_;
};

// ---- The disk fills up -------------------------------------------------------

// A limit on the size of every file this process and its children write,
// as a full disk sets one; lifted again at the end of the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        // Past the limit a write fails with EFBIG instead of killing us.
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        set_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }
    bool set() const { return set_; }

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
    bool set_ = false;
};

TEST_F(FaultTest, AFullDiskFailsTheDeliveryThatDoesNotFitAndKeepsWhatWasTaken) {
    constexpr std::size_t kPiece = 4000;
    struct Case {
        const char *name;
        rlim_t limit;
    };
    const Case cases[] = {
        {"the limit falls within a piece", kHeaderSize + 3 * kPiece + 1234},
        {"the limit falls at the end of a piece", kHeaderSize + 3 * kPiece},
        {"the limit falls at the end of a buffer", 8192},
    };
    int caseNumber = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = out_ + "case" + std::to_string(++caseNumber) + "/";
        ASSERT_TRUE(ts::MakeFolder(folder));
        const Bytes first = Audio(6 * kPiece, 1), second = Audio(1000, 2);
        // The journal has room for a part of a record only: none may stay cut.
        const std::string journal = folder + "journal.log", older = std::string(c.limit - 31, 'j') + "\n";
        ts::WriteFile(journal, older);
        int last;
        {
            FileSizeLimit limit(c.limit);
            ASSERT_TRUE(limit.set());
            ASSERT_EQ(host_.Create(folder, 2, WriteSettings("", FakeEncoderPath(), "LOG=journal.log\n")), 1);
            host_.DeliverTrack(first, kPiece);
            host_.DeliverTrack(second, kPiece, false);
            last = host_.EndTrack();
            EXPECT_EQ(host_.Kill(), 0);
        }
        const Bytes kept = ts::ReadFile(journal);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), older);
        // Each piece that fits is taken; the first that does not is refused,
        // and so is every later piece of the track, whose file is closed.
        const std::size_t fitting = (c.limit - kHeaderSize) / kPiece;
        std::vector<int> expected(6, 0);
        std::fill(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(fitting), 1);
        expected.push_back(1);  // the end of the track moves the rip on
        EXPECT_EQ(host_.tracks()[0].results, expected);
        EXPECT_EQ(host_.tracks()[0].taken.size(), fitting * kPiece);
        // The next track fits, and the album ends as usual.
        EXPECT_EQ(host_.tracks()[1].results, std::vector<int>({1, 1}));
        EXPECT_EQ(last, 1);
        ExpectNothingLost(folder);
    }
}

// A track whose file filled the disk lacks audio: even when the disk has
// room again by the time it is encoded, it is never published as whole,
// and its record says what the system said.
TEST_F(FaultTest, ATrackWhoseWriteFailedIsNeverPublished) {
    constexpr std::size_t kPiece = 4000;
    const Bytes first = Audio(6 * kPiece, 1), second = Audio(1000, 2);
    const std::string journal = aux_ + "journal.log";
    {
        FileSizeLimit limit(kHeaderSize + 2 * kPiece);
        ASSERT_TRUE(limit.set());
        ASSERT_EQ(host_.Create(out_, 2, WriteSettings("", FakeEncoderPath(), "LOG=" + journal + "\n")), 1);
        host_.DeliverTrack(first, kPiece, false);
    }
    EXPECT_EQ(host_.EndTrack(), 1);
    host_.DeliverTrack(second, kPiece);
    EXPECT_EQ(host_.tracks()[0].taken.size(), 2 * kPiece);
    EXPECT_FALSE(ts::FileExists(Final(out_, 1)));
    EXPECT_TRUE(HoldsAudio(Temp(out_, 1, ".wav"), 0, host_.tracks()[0].taken));
    EXPECT_TRUE(HoldsAudio(Final(out_, 2), 4, second));
    EXPECT_EQ(host_.Kill(), 0);
    const Bytes text = ts::ReadFile(journal);
    EXPECT_NE(std::string(text.begin(), text.end()).find("track-not-written\t"), std::string::npos);
    EXPECT_NE(std::string(text.begin(), text.end()).find(std::strerror(EFBIG)), std::string::npos);
}

TEST_F(FaultTest, AHeaderThatDoesNotFitRefusesTheRip) {
    {
        FileSizeLimit limit(kHeaderSize / 2);
        ASSERT_TRUE(limit.set());
        EXPECT_EQ(host_.Create(out_, 1, WriteSettings("")), 0);
    }
    EXPECT_EQ(host_.Kill(), 0);
}

// A file system of its own, small enough to fill; root only.
class FullFileSystemTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
        disk_ = out_ + "disk/";
        ASSERT_TRUE(ts::MakeFolder(disk_));
        ASSERT_EQ(mount("encbridge-test", disk_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=200k"), 0)
            << std::strerror(errno);
        mounted_ = true;
    }
    void TearDown() override {
        host_.Kill();
        if (mounted_) umount2(disk_.c_str(), MNT_DETACH);
        FaultTest::TearDown();
    }

    std::string disk_;
    bool mounted_ = false;
};

TEST_F(FullFileSystemTest, TracksThatDoNotFitAreRefusedAndNoTakenByteIsLost) {
    // Three tracks of 96,000 bytes and their encoded copies cannot all fit
    // into 200 KiB, whatever the order in which the worker and the host
    // fill it.
    ASSERT_EQ(host_.Create(disk_, 3, WriteSettings("")), 1);
    std::vector<Bytes> audio;
    for (unsigned number = 1; number <= 3; ++number) audio.push_back(Audio(96000, number));
    host_.DeliverTrack(audio[0], 4000);
    host_.DeliverTrack(audio[1], 4000);
    host_.DeliverTrack(audio[2], 4000, false);
    // The last delivery of the album returns once the worker has ended.
    EXPECT_EQ(host_.EndTrack(), 1);

    int refused = 0;
    for (const TrackRecord &track : host_.tracks()) {
        for (int result : track.results) {
            EXPECT_TRUE(result == 0 || result == 1);
            refused += result == 0;
        }
    }
    EXPECT_GT(refused, 0) << "the disk was full, and the host must have been told";
    ExpectNothingLost(disk_);
    EXPECT_EQ(host_.Kill(), 0);
}

// ---- The output folder becomes read-only --------------------------------------

// Runs body in a child process and returns what it wrote to out. As root,
// the child has a mount namespace of its own, in which a folder can be made
// read-only for root too.
std::string InChild(const std::function<void(std::string &out)> &body) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        std::string out;
        if (geteuid() == 0 &&
            (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)) {
            out = "no mount namespace";
        } else {
            body(out);
        }
        ssize_t ignored = write(pipeEnds[1], out.data(), out.size());
        (void)ignored;
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string out;
    char chunk[256];
    ssize_t count;
    while ((count = read(pipeEnds[0], chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<std::size_t>(count));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += " (the child did not exit normally)";
    return out;
}

// In the child of InChild: no file can be made or removed in folder any
// more. Files already open stay writable, as they do when a user takes the
// permission away.
bool MakeFolderReadOnly(const std::string &folder) {
    if (geteuid() != 0) return chmod(folder.c_str(), 0555) == 0;
    return mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

std::string Results(const std::vector<TrackRecord> &tracks) {
    std::string text;
    for (const TrackRecord &track : tracks) {
        for (int result : track.results) text += std::to_string(result);
        text += " ";
    }
    return text;
}

TEST_F(FaultTest, AFolderThatBecomesReadOnlyRefusesTheTracksItCannotHold) {
    // The encoder waits before it writes, so that the folder is read-only
    // by then; should it be quicker, its move fails instead.
    const std::string settings = WriteSettings("--sleep 300");
    const std::vector<Bytes> audio = {Audio(12000, 1), Audio(12000, 2), Audio(12000, 3)};
    const std::string report = InChild([&](std::string &out) {
        if (host_.Create(out_, 3, settings) != 1) {
            out = "Create failed";
            return;
        }
        host_.DeliverTrack(audio[0], 4000);  // its end opens the file of track 2
        if (!MakeFolderReadOnly(out_)) {
            out = "could not make the folder read-only";
            return;
        }
        host_.DeliverTrack(audio[1], 4000);
        host_.DeliverTrack(audio[2], 4000);
        out = Results(host_.tracks()) + "kill " + std::to_string(host_.Kill());
        // What was taken, for the parent to look for.
        for (const TrackRecord &track : host_.tracks()) out += " " + std::to_string(track.taken.size());
    });
    // Track 2 was open already and is written whole; the end of it cannot
    // open the file of track 3, whose pieces then have nowhere to go. The
    // album's end still returns 1 once the worker has ended.
    EXPECT_EQ(report, "1111 1110 0001 kill 0 12000 12000 0");
    chmod(out_.c_str(), 0755);
    for (int number = 1; number <= 2; ++number) {
        EXPECT_TRUE(HoldsAudio(Temp(out_, number, ".wav"), 0, audio[number - 1]) ||
                    HoldsAudio(Final(out_, number), 4, audio[number - 1]))
            << "track " << number;
    }
    EXPECT_FALSE(ts::FileExists(Temp(out_, 3, ".wav")));
}

// ---- The encoder fails ---------------------------------------------------------

TEST_F(FaultTest, AnEncoderThatFailsInAnyWayLeavesEveryWavWhole) {
    struct Case {
        const char *name;
        const char *options;
        bool removeEncoder;  // after Create
        bool hangs;          // the album's end would wait for ever: Kill instead
        bool outputStays;    // under its temporary name
    };
    const Case cases[] = {
        {"removed after Create", "", true, false, false},
        {"killed by a signal after writing a part", "--crash", false, false, true},
        {"hangs while the host goes on", "--hang", false, true, false},
        {"exits 0 leaving an empty output", "--empty-output", false, false, true},
    };
    int caseNumber = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = out_ + "case" + std::to_string(++caseNumber) + "/";
        ASSERT_TRUE(ts::MakeFolder(folder));
        // A copy of its own, which the case may take away.
        const std::string encoder = aux_ + "encoder" + std::to_string(caseNumber);
        const Bytes program = ts::ReadFile(FakeEncoderPath());
        ts::WriteFile(encoder, std::string(program.begin(), program.end()));
        ASSERT_TRUE(ts::MakeExecutable(encoder));

        ASSERT_EQ(host_.Create(folder, 3, WriteSettings(c.options, encoder)), 1);
        if (c.removeEncoder) {
            ASSERT_TRUE(ts::RemoveFile(encoder));
        }
        const std::vector<Bytes> audio = {Audio(9000, 1), Audio(9000, 2), Audio(9000, 3)};
        host_.DeliverTrack(audio[0], 3000);
        host_.DeliverTrack(audio[1], 3000);
        host_.DeliverTrack(audio[2], 3000, !c.hangs);
        const std::vector<int> whole = {1, 1, 1, 1};
        EXPECT_EQ(host_.tracks()[0].results, whole);
        EXPECT_EQ(host_.tracks()[1].results, whole);
        EXPECT_EQ(host_.tracks()[2].results, c.hangs ? std::vector<int>({1, 1, 1}) : whole);
        EXPECT_EQ(host_.Kill(), 0);

        for (int number = 1; number <= 3; ++number) {
            SCOPED_TRACE(number);
            EXPECT_TRUE(HoldsAudio(Temp(folder, number, ".wav"), 0, audio[number - 1]));
            EXPECT_FALSE(ts::FileExists(Final(folder, number)));
        }
        EXPECT_EQ(ts::FileExists(Temp(folder, 1, ".mp3")), c.outputStays);
    }
}

// ---- A file that cannot be written ------------------------------------------------

// While it lives, this thread is held to the permissions of files, as any
// user is: root's overrides (of modes, and of a shared folder's owners) are
// taken away from it, and from it alone.
class PermissionsHold {
public:
    PermissionsHold() {
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_FOWNER));
        held_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~PermissionsHold() {
        if (held_) syscall(SYS_capset, &header_, saved_);
    }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool held_ = false;
};

TEST_F(FaultTest, AStaleWavIsMovedAsideNeitherRewrittenNorEncoded) {
    // The WAV file of an earlier rip whose encoding failed: the only copy of
    // that track, kept under the name that track 2 of this album would get.
    const std::string stale = Temp(out_, 2, ".wav");
    ts::WriteFile(stale, "the audio of an earlier album");
    ASSERT_TRUE(ts::MakeReadOnly(stale));
    const std::string log = aux_ + "runs.log";
    const std::vector<Bytes> audio = {Audio(3000, 1), Audio(3000, 2)};
    {
        PermissionsHold hold;
        ASSERT_EQ(host_.Create(out_, 2, WriteSettings("--log \"" + log + "\"")), 1);
        host_.DeliverTrack(audio[0], 1000);
        host_.DeliverTrack(audio[1], 1000);
    }
    EXPECT_EQ(host_.tracks()[1].results, std::vector<int>({1, 1, 1, 1}));
    EXPECT_TRUE(HoldsAudio(Final(out_, 1), 4, audio[0]));
    EXPECT_TRUE(HoldsAudio(Final(out_, 2), 4, audio[1]));
    const std::string movedAside = out_ + "#kept(02)-1.wav";
    const Bytes kept = ts::ReadFile(movedAside);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "the audio of an earlier album");
    const Bytes runs = ts::ReadFile(log);
    const std::string text(runs.begin(), runs.end());
    EXPECT_EQ(text.find(movedAside), std::string::npos) << "the stale file was given to the encoder";
    EXPECT_EQ(host_.Kill(), 0);
}

// ---- The folder's lock ------------------------------------------------------------

// Only a lock that a live process holds refuses a rip: a lock file that a
// killed rip of another user left in a shared folder is taken over, and a
// folder, link or FIFO at its name is moved aside. A folder that is gone,
// or read-only, has a reason of its own.
TEST_F(FaultTest, OnlyALiveLockRefusesARip) {
    struct Case {
        const char *name;
        std::function<bool(const std::string &lock)> plant;
        bool readOnly;
        const char *result;  // Create's, and the refusal's reason or what was moved aside
    };
    // A rip in another process beside a copy of it cloned as a launcher is
    // (no fork handler runs), which holds its descriptors as a launcher does
    // before it runs. Killed, or alive with its lock file another user's
    // (shared: a third user's, which it may only read too).
    pid_t rip = -1, copy = -1;
    auto ripBesideACopy = [&](bool killed, bool shared) {
        const std::string lock = out_ + "#ripping.lock";
        int ready[2];
        if (shared) ts::WriteFile(lock, "");
        if (pipe(ready) != 0 || (shared && chown(lock.c_str(), 65533, 65533) != 0) || (rip = fork()) < 0) return false;
        if (rip == 0) {
            PermissionsHold hold;
            const pid_t cloned = host_.Create(out_, 1, WriteSettings("")) == 1
                                     ? static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0))
                                     : -1;
            if (cloned != 0 && write(ready[1], &cloned, sizeof cloned) < 0) _exit(1);
            for (;;) pause();
        }
        const bool told = read(ready[0], &copy, sizeof copy) == static_cast<ssize_t>(sizeof copy);
        if (killed && kill(rip, SIGKILL) == 0 && waitpid(rip, nullptr, 0) == rip) rip = -1;  // gone
        return close(ready[0]) == 0 && close(ready[1]) == 0 && told && copy > 0 &&
               (killed || shared || chown(lock.c_str(), 65534, 65534) == 0);
    };
    // Another copy of the module in this process, whose lock this copy's
    // look at leaves in place.
    std::unique_ptr<ts::ModuleHost> other;
    const ts::Album album(out_, 1);
    auto ripOfAnotherCopy = [&](const std::string &) {
        const std::string path = aux_ + "copy-" + ts::ModuleFileName();
        const Bytes image = ts::ReadFile(ts::ProgramFolder() + ts::ModuleFileName());
        ts::WriteFile(path, std::string(image.begin(), image.end()));
        other.reset(new ts::ModuleHost(path));
        return other->Create(album.info.get(), WriteSettings("")) == 1 && host_.Create(out_, 1, WriteSettings("")) == 0;
    };
    const Case cases[] = {
        {"killed rip, its launcher not yet run", [&](const std::string &) { return ripBesideACopy(true, false); },
         false, "1"},
        {"live rip, another user's lock", [&](const std::string &) { return ripBesideACopy(false, false); }, false,
         "0 folder-in-use"},
        {"live rip, a lock both may only read", [&](const std::string &) { return ripBesideACopy(false, true); }, false,
         "0 folder-in-use"},
        {"live rip of another copy in this process", ripOfAnotherCopy, false, "0 folder-in-use"},
        {"stale lock of another user",
         [&](const std::string &lock) {
             ts::WriteFile(lock, "");
             return chmod(out_.c_str(), 01777) == 0 && chown(out_.c_str(), 65533, 65533) == 0 &&
                    chown(lock.c_str(), 65534, 65534) == 0;
         },
         false, "1"},
        {"folder", [](const std::string &lock) { return mkdir(lock.c_str(), 0755) == 0; }, false, "1 kept"},
        {"link", [&](const std::string &lock) { return symlink(aux_.c_str(), lock.c_str()) == 0; }, false, "1 kept"},
        {"FIFO", [](const std::string &lock) { return mkfifo(lock.c_str(), 0644) == 0; }, false, "1 kept"},
        {"folder gone", [&](const std::string &) { return rmdir(out_.c_str()) == 0; }, false, "0 folder-missing"},
        {"read-only folder", [](const std::string &) { return true; }, true, "0 folder-not-writable"},
    };
    const std::string journal = aux_ + "journal.log";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ts::RemoveTree(out_);
        ASSERT_TRUE(ts::MakeFolder(out_));
        ts::WriteFile(journal, "");
        ASSERT_TRUE(c.plant(out_ + "#ripping.lock"));
        const std::string settings = WriteSettings("", FakeEncoderPath(), "LOG=" + journal + "\n");
        std::string report = InChild([&](std::string &out) {
            PermissionsHold hold;
            if (c.readOnly && !MakeFolderReadOnly(out_)) return;
            out = std::to_string(host_.Create(out_, 1, settings));
        });
        struct stat kept;
        if (lstat((out_ + "#kept(00)-1.lock").c_str(), &kept) == 0) report += " kept";
        const Bytes text = ts::ReadFile(journal);
        const std::string records(text.begin(), text.end());
        const std::size_t refused = records.find("\trefused\t");
        if (refused != std::string::npos)
            report += " " + records.substr(refused + 9, records.find('\t', refused + 9) - refused - 9);
        EXPECT_EQ(report, c.result);
        if (copy > 0) kill(copy, SIGKILL);
        if (rip > 0 && kill(rip, SIGKILL) == 0) waitpid(rip, nullptr, 0);
        rip = copy = -1;
        other.reset();
    }
}

}  // namespace
