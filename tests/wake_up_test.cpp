// Wake-ups between the host's thread and the encoder worker. The rips here
// run with the fallback of every wait turned off, so that a wake-up that is
// lost hangs the rip instead of costing half a second; a watchdog turns the
// hang into a failure. What is asserted is order, never time: each last
// delivery returns only once the worker has ended and every run is done.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encoder/encoder_worker.h"
#include "fake_encoder/run_log.h"
#include "interface/plugin_interface.h"
#include "interface/rip_state.h"
#include "module_host.h"
#include "platform/platform.h"
#include "temp_folder_test.h"
#include "test_support.h"

namespace ts = testing_support;
namespace platform = encbridge::platform;

namespace {

using ts::Bytes;

// Ends the test program when not dismissed in time. The limit is far beyond
// anything a working rip takes, even under a sanitizer or wine: passing it
// means that a waiting side was never woken.
class Watchdog {
public:
    explicit Watchdog(const std::string &what, std::chrono::seconds limit = std::chrono::seconds(120))
        : thread_([this, what, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!dismissed_changed_.wait_for(lock, limit, [this] { return dismissed_; })) {
                  std::fprintf(stderr, "hang: %s\n", what.c_str());
                  std::fflush(stderr);
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            dismissed_ = true;
        }
        dismissed_changed_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable dismissed_changed_;
    bool dismissed_ = false;
    std::thread thread_;
};

// Different pacing from round to round, so that the host's raises land at
// different points of the worker's loop: before it first runs, between its
// look at finishedTracks and its wait, and while it waits.
void Pace(int round) {
    switch (round % 3) {
        case 0:
            break;
        case 1:
            std::this_thread::yield();
            break;
        default:
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            break;
    }
}

using ts::Album;

std::int32_t Deliver(const Bytes &audio) {
    std::int32_t boundary = 0;
    return SetData(audio.data(), static_cast<std::int32_t>(audio.size()), &boundary);
}

std::int32_t EndTrack() {
    static const std::uint8_t none = 0;
    std::int32_t boundary = 0;
    return SetData(&none, 0, &boundary);
}

bool WorkerRunning() { return encbridge::EncoderWorkerRunning(); }

class WakeUpTest : public ts::TempFolderTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(NewFolder(out_) && NewFolder(aux_));
        encbridge::SetWaitFallback(platform::kWaitForever);
    }
    void TearDown() override {
        Kill();
        encbridge::SetWaitFallback(500);
    }

    std::string Settings(const std::string &log) {
        return ts::WriteSettings(aux_ + "encbridge.ini", {".mp3", "--log \"" + aux_ + log + "\" %i% %o%"});
    }
    std::string Folder(const std::string &name) {
        std::string folder = out_ + name + ts::Separator();
        EXPECT_TRUE(ts::MakeFolder(folder));
        return folder;
    }

    std::string out_, aux_;
};

// ---- The events themselves -------------------------------------------------

TEST(WakeUpEventTest, AnAutoResetEventKeepsARaiseForTheNextWaitOnly) {
    platform::Event *event = platform::CreateAutoResetEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(platform::WaitForEvent(event, 0));
    // Raised before anyone waits: the wait that comes later still sees it.
    platform::RaiseEvent(event);
    platform::RaiseEvent(event);
    EXPECT_TRUE(platform::WaitForEvent(event, 0));
    // Both raises were taken by that one wait.
    EXPECT_FALSE(platform::WaitForEvent(event, 0));
    platform::RaiseEvent(event);
    EXPECT_TRUE(platform::WaitForEvent(event, platform::kWaitForever));
    EXPECT_FALSE(platform::WaitForEvent(event, 10));
    platform::DestroyEvent(event);
}

TEST(WakeUpEventTest, EveryRaiseFromAnotherThreadEndsAWaitWithoutLimit) {
    // A ping-pong of two auto-reset events: each side raises the other's
    // and then waits for its own, so every raise may land before, during or
    // after the other side's wait. One that is lost hangs the exchange.
    platform::Event *ping = platform::CreateAutoResetEvent();
    platform::Event *pong = platform::CreateAutoResetEvent();
    ASSERT_NE(ping, nullptr);
    ASSERT_NE(pong, nullptr);
    constexpr int kRounds = 2000;
    Watchdog watchdog("ping-pong of auto-reset events");
    std::thread other([&] {
        for (int round = 0; round < kRounds; ++round) {
            platform::WaitForEvent(ping, platform::kWaitForever);
            Pace(round);
            platform::RaiseEvent(pong);
        }
    });
    int answered = 0;
    for (int round = 0; round < kRounds; ++round) {
        platform::RaiseEvent(ping);
        Pace(round + 1);
        if (platform::WaitForEvent(pong, platform::kWaitForever)) ++answered;
    }
    other.join();
    EXPECT_EQ(answered, kRounds);
    platform::DestroyEvent(ping);
    platform::DestroyEvent(pong);
}

// ---- Rips with no fallback ---------------------------------------------------

TEST_F(WakeUpTest, EachTrackEndWakesTheWorkerAndTheWorkersEndWakesTheHost) {
    // Skipped tracks start no encoder, so many rounds stay cheap: the worker
    // passes them all at once, then waits for each of the host's track ends
    // until the last, and the host's last delivery waits for the worker.
    Album album(out_, 4);
    for (TrackInfo &track : album.records) track.marked = 0;
    const std::string settings = Settings("none.log");
    const Bytes audio(2352, 0);
    Watchdog watchdog("rips of skipped tracks");
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(Create(album.info.get(), settings.c_str(), nullptr, 0), 1);
        for (int track = 0; track < 4; ++track) {
            Pace(round);
            ASSERT_EQ(Deliver(audio), 1);
            ASSERT_EQ(EndTrack(), 1);
        }
        EXPECT_FALSE(WorkerRunning()) << "the last delivery returned before the worker ended";
        // Every other round leaves the ended worker to the next Create.
        if (round % 2 == 0) {
            EXPECT_EQ(Kill(), 0);
        }
    }
    EXPECT_EQ(Kill(), 0);  // before the album's records go
    EXPECT_TRUE(ts::ListFolder(out_).empty());
}

TEST_F(WakeUpTest, EveryFinishedTrackIsEncodedBeforeTheLastDeliveryReturns) {
    // Under wine each encoder start takes long; fewer rounds still cover the
    // three pacings.
    const int rounds = ts::RunningUnderWine() ? 6 : 24;
    constexpr int kTracks = 3;
    Watchdog watchdog("rips with the fake encoder");
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        const std::string name = "round" + std::to_string(round);
        const std::string folder = Folder(name);
        Album album(folder, kTracks);
        ASSERT_EQ(Create(album.info.get(), Settings(name + ".log").c_str(), nullptr, 0), 1);
        for (int track = 0; track < kTracks; ++track) {
            Pace(round);
            ASSERT_EQ(Deliver(Bytes(2352 * 4, static_cast<std::uint8_t>(track))), 1);
            ASSERT_EQ(EndTrack(), 1);
        }
        // Nothing waits any more: all of this happened before the last
        // delivery returned.
        EXPECT_FALSE(WorkerRunning());
        const std::vector<fake_encoder::Run> runs = fake_encoder::ReadRuns(aux_ + name + ".log");
        ASSERT_EQ(runs.size(), static_cast<std::size_t>(kTracks));
        std::vector<std::string> expected = {ts::kRipLockName};
        for (int track = 0; track < kTracks; ++track) {
            char temp[32], final[32];
            std::snprintf(temp, sizeof temp, "#temp(%02d).wav", track + 1);
            std::snprintf(final, sizeof final, "%02d Track.mp3", track + 1);
            EXPECT_EQ(runs[track].arguments.at(2), folder + temp) << "in track order";
            EXPECT_FALSE(runs[track].overlapped);
            expected.push_back(final);
        }
        EXPECT_EQ(ts::ListFolder(folder), expected);
        EXPECT_EQ(Kill(), 0);
    }
}

TEST_F(WakeUpTest, AStopWakesAWorkerThatWaitsForATrack) {
    // Kill and Create both stop a worker that waits for a track that never
    // comes; with no fallback only the stop's wake-up ends its wait. The
    // events of one worker are destroyed and the next one's made in between.
    Album album(out_, 3);
    const std::string settings = Settings("stop.log");
    const Bytes audio(2352, 1);
    Watchdog watchdog("stopping a waiting worker");
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(Create(album.info.get(), settings.c_str(), nullptr, 0), 1);
        ASSERT_EQ(Deliver(audio), 1);
        Pace(round);
        EXPECT_TRUE(WorkerRunning());
        if (round % 2 == 0) {
            EXPECT_EQ(Kill(), 0);
            EXPECT_FALSE(WorkerRunning());
        }
    }
    EXPECT_EQ(Kill(), 0);  // before the album's records go
    EXPECT_TRUE(fake_encoder::ReadRuns(aux_ + "stop.log").empty()) << "no track was ever finished";
}

}  // namespace
