// Benchmarks of the built module, each beside a reference measured in the
// same run: what the machine itself allows for the same work.
//
//   delivery   a 700 MB album through SetData in pieces of 2,352 x 16 bytes,
//              against plain write() calls of the same pieces into files in
//              the same folder
//   handoff    end of a track's delivery until that track's encoder starts,
//              against starting the same encoder directly
//   album end  the last encoder's end until the last SetData returns,
//              against waitpid() noticing the same encoder's end
//   memory     peak resident size during a 700 MB rip, against the resident
//              size with the module loaded before it
//   idle CPU   CPU used by the worker waiting for a track and by the host's
//              last SetData waiting for the worker, against a plain sleep
//
// Loads the libencbridge.so beside the program, or the one named by
// ENCBRIDGE_BENCH_MODULE; works in a new folder under TMPDIR (or /tmp).
// Ends with a table of the medians.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "interface/plugin_interface.h"

extern char **environ;

namespace {

constexpr std::size_t kPieceBytes = 2352 * 16;
// 12 tracks of 1,625 pieces: 733,824,000 bytes, just under 700 MiB.
constexpr int kAlbumTracks = 12;
constexpr int kPiecesPerTrack = 1625;
constexpr double kAlbumBytes = static_cast<double>(kPieceBytes) * kPiecesPerTrack * kAlbumTracks;
constexpr double kMiB = 1024.0 * 1024.0;

// ---- Clocks and files --------------------------------------------------------

std::int64_t Nanoseconds(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::int64_t Now() { return Nanoseconds(CLOCK_MONOTONIC); }

void SleepMs(long milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), (milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

std::string ProgramFolder() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

void EmptyFolder(const std::string &folder) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        unlink((folder + entry->d_name).c_str());
    }
    closedir(dir);
}

void WriteText(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

// The stamps that the benchmarks' encoder wrote: "start" and "end".
std::map<std::string, std::int64_t> ReadStamps(const std::string &path) {
    std::map<std::string, std::int64_t> stamps;
    std::ifstream file(path);
    std::string name;
    long long value = 0;
    while (file >> name >> value) stamps[name] = value;
    return stamps;
}

// Waits until path exists; false after 10 s. Looks every 50 us, which takes
// little of the CPU that the worker and the encoder need meanwhile.
bool AwaitFile(const std::string &path) {
    const std::int64_t deadline = Now() + 10000000000LL;
    while (!Exists(path)) {
        if (Now() > deadline) return false;
        usleep(50);
    }
    return true;
}

// Resident and peak resident size of this process, in bytes.
std::int64_t StatusBytes(const char *field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(field), field) == 0) {
            return std::atoll(line.c_str() + std::strlen(field) + 1) * 1024;
        }
    }
    return -1;
}

// Sets the peak resident size back to the present one.
bool ResetPeak() {
    int fd = open("/proc/self/clear_refs", O_WRONLY);
    if (fd < 0) return false;
    bool done = write(fd, "5", 1) == 1;
    close(fd);
    return done;
}

// ---- The module and the encoder --------------------------------------------

struct Module {
    decltype(&::Create) create = nullptr;
    decltype(&::SetData) setData = nullptr;
    decltype(&::Kill) kill = nullptr;

    std::int32_t Deliver(const std::uint8_t *data, std::size_t length) const {
        std::int32_t boundary = 0;
        return setData(data, static_cast<std::int32_t>(length), &boundary);
    }
    std::int32_t EndTrack() const {
        static const std::uint8_t none = 0;
        std::int32_t boundary = 0;
        return setData(&none, 0, &boundary);
    }
};

Module module;
std::string workspace;  // with a trailing "/"
std::string ripFolder;  // where both the module and the references write
std::vector<std::uint8_t> piece(kPieceBytes);

std::string EncoderPath() { return ProgramFolder() + "bench_stamp_encoder"; }

bool LoadModule() {
    const char *chosen = std::getenv("ENCBRIDGE_BENCH_MODULE");
    std::string path = chosen != nullptr && *chosen != '\0' ? chosen : ProgramFolder() + "libencbridge.so";
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
        return false;
    }
    module.create = reinterpret_cast<decltype(module.create)>(dlsym(handle, "Create"));
    module.setData = reinterpret_cast<decltype(module.setData)>(dlsym(handle, "SetData"));
    module.kill = reinterpret_cast<decltype(module.kill)>(dlsym(handle, "Kill"));
    std::printf("module: %s\n", path.c_str());
    return module.create != nullptr && module.setData != nullptr && module.kill != nullptr;
}

struct Album {
    explicit Album(int tracks) : info(new AlbumInfo()), records(static_cast<std::size_t>(tracks)) {
        std::snprintf(info->outputFolder, sizeof info->outputFolder, "%s", ripFolder.c_str());
        info->trackCount = tracks;
        info->tracks = records.data();
        for (int i = 0; i < tracks; ++i) {
            records[i].status = 1;
            records[i].marked = 1;
            std::snprintf(records[i].fileName, sizeof records[i].fileName, "%02d Track", i + 1);
        }
    }
    std::unique_ptr<AlbumInfo> info;
    std::vector<TrackInfo> records;
};

// The settings of a rip with the benchmarks' encoder, which sleeps sleepMs.
std::string Settings(int deleteWav, long sleepMs) {
    std::string path = workspace + "settings-" + std::to_string(deleteWav) + "-" + std::to_string(sleepMs) + ".ini";
    std::string options = sleepMs > 0 ? "--sleep " + std::to_string(sleepMs) + " " : "";
    WriteText(path, "[SETUP]\nOUT=.stamp\n[OPTION]\nCOMMAND=" + options + "%i% %o%\nDELETE=" +
                        std::to_string(deleteWav) + "\nEXEPATH=" + EncoderPath() + "\nWIN_HIDE=1\n");
    return path;
}

std::string FinalStamp(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "%02d Track.stamp", number);
    return ripFolder + name;
}

// Runs the benchmarks' encoder directly and waits for it; its stamps, and
// in *started and *reaped the times just before it was started and just
// after waitpid() returned. Empty when it could not run.
std::map<std::string, std::int64_t> RunEncoderDirectly(long sleepMs, std::int64_t *started, std::int64_t *reaped) {
    const std::string input = ripFolder + "direct.wav", output = ripFolder + "direct.stamp";
    WriteText(input, "");
    std::vector<std::string> arguments = {EncoderPath()};
    if (sleepMs > 0) {
        arguments.push_back("--sleep");
        arguments.push_back(std::to_string(sleepMs));
    }
    arguments.push_back(input);
    arguments.push_back(output);
    std::vector<char *> argv;
    for (std::string &argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    *started = Now();
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return {};
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    *reaped = Now();
    std::map<std::string, std::int64_t> stamps = ReadStamps(output);
    EmptyFolder(ripFolder);
    return stamps;
}

// ---- Delivery throughput and peak memory -------------------------------------

// Rips the 700 MB album through the module, the encoder leaving the WAV
// files in place. Seconds from Create until the last SetData returns, or a
// negative value when the module refused something.
double RipAlbum(const std::string &settings) {
    Album album(kAlbumTracks);
    const std::int64_t start = Now();
    if (module.create(album.info.get(), settings.c_str(), nullptr, 0) != 1) return -1;
    for (int track = 0; track < kAlbumTracks; ++track) {
        for (int i = 0; i < kPiecesPerTrack; ++i) {
            if (module.Deliver(piece.data(), piece.size()) != 1) return -1;
        }
        if (module.EndTrack() != 1) return -1;
    }
    const double seconds = static_cast<double>(Now() - start) / 1e9;
    module.kill();
    return seconds;
}

void DeliveryModule(benchmark::State &state) {
    const std::string settings = Settings(0, 0);
    double seconds = 0;
    for (auto _ : state) {
        seconds = RipAlbum(settings);
        EmptyFolder(ripFolder);
        if (seconds < 0) {
            state.SkipWithError("the module refused the rip");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["MiB/s"] = kAlbumBytes / kMiB / seconds;
}

bool WriteAll(int fd, const std::uint8_t *data, std::size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, data, length);
        if (written < 0) return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void DeliveryReference(benchmark::State &state) {
    double seconds = 0;
    for (auto _ : state) {
        const std::int64_t start = Now();
        for (int track = 0; track < kAlbumTracks; ++track) {
            char name[32];
            std::snprintf(name, sizeof name, "plain(%02d).wav", track + 1);
            int fd = open((ripFolder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            bool ok = fd >= 0;
            for (int i = 0; ok && i < kPiecesPerTrack; ++i) ok = WriteAll(fd, piece.data(), piece.size());
            if (fd >= 0) ok = close(fd) == 0 && ok;
            if (!ok) {
                state.SkipWithError("write failed");
                return;
            }
        }
        seconds = static_cast<double>(Now() - start) / 1e9;
        EmptyFolder(ripFolder);
        state.SetIterationTime(seconds);
    }
    state.counters["MiB/s"] = kAlbumBytes / kMiB / seconds;
}

void PeakMemory(benchmark::State &state) {
    const std::string settings = Settings(0, 0);
    for (auto _ : state) {
        if (!ResetPeak()) {
            state.SkipWithError("cannot reset the peak resident size");
            return;
        }
        const std::int64_t before = StatusBytes("VmRSS:");
        const double seconds = RipAlbum(settings);
        const std::int64_t peak = StatusBytes("VmHWM:");
        EmptyFolder(ripFolder);
        if (seconds < 0) {
            state.SkipWithError("the module refused the rip");
            return;
        }
        state.SetIterationTime(seconds);
        state.counters["before_MiB"] = static_cast<double>(before) / kMiB;
        state.counters["peak_MiB"] = static_cast<double>(peak) / kMiB;
        state.counters["growth_MiB"] = static_cast<double>(peak - before) / kMiB;
    }
}

// ---- Handoff and album end --------------------------------------------------

void HandoffModule(benchmark::State &state) {
    const std::string settings = Settings(1, 0);
    double handoffMs = 0;
    for (auto _ : state) {
        Album album(2);
        if (module.create(album.info.get(), settings.c_str(), nullptr, 0) != 1 ||
            module.Deliver(piece.data(), piece.size()) != 1) {
            state.SkipWithError("the module refused the rip");
            return;
        }
        // The worker has long begun to wait for the track by now.
        SleepMs(20);
        const std::int64_t ended = Now();
        module.EndTrack();
        const bool encoded = AwaitFile(FinalStamp(1));
        const std::int64_t started = ReadStamps(FinalStamp(1))["start"];
        module.Deliver(piece.data(), piece.size());
        module.EndTrack();
        module.kill();
        EmptyFolder(ripFolder);
        if (!encoded || started == 0) {
            state.SkipWithError("the track was not encoded");
            return;
        }
        handoffMs = static_cast<double>(started - ended) / 1e6;
        state.SetIterationTime(handoffMs / 1e3);
    }
    state.counters["ms"] = handoffMs;
}

void HandoffReference(benchmark::State &state) {
    double handoffMs = 0;
    for (auto _ : state) {
        std::int64_t spawned = 0, reaped = 0;
        std::map<std::string, std::int64_t> stamps = RunEncoderDirectly(0, &spawned, &reaped);
        if (stamps.count("start") == 0) {
            state.SkipWithError("the encoder did not run");
            return;
        }
        handoffMs = static_cast<double>(stamps["start"] - spawned) / 1e6;
        state.SetIterationTime(handoffMs / 1e3);
    }
    state.counters["ms"] = handoffMs;
}

// Each encoder run lasts this long, so that the host's last SetData is
// surely waiting when the last one ends.
constexpr long kEncoderMs = 30;

void AlbumEndModule(benchmark::State &state) {
    const std::string settings = Settings(1, kEncoderMs);
    double latencyMs = 0;
    for (auto _ : state) {
        Album album(2);
        if (module.create(album.info.get(), settings.c_str(), nullptr, 0) != 1) {
            state.SkipWithError("the module refused the rip");
            return;
        }
        for (int track = 0; track < 2; ++track) {
            module.Deliver(piece.data(), piece.size());
            module.EndTrack();
        }
        const std::int64_t returned = Now();
        const std::int64_t encoderEnd = ReadStamps(FinalStamp(2))["end"];
        module.kill();
        EmptyFolder(ripFolder);
        if (encoderEnd == 0) {
            state.SkipWithError("the last track was not encoded");
            return;
        }
        latencyMs = static_cast<double>(returned - encoderEnd) / 1e6;
        state.SetIterationTime(latencyMs / 1e3);
    }
    state.counters["ms"] = latencyMs;
}

void AlbumEndReference(benchmark::State &state) {
    double latencyMs = 0;
    for (auto _ : state) {
        std::int64_t spawned = 0, reaped = 0;
        std::map<std::string, std::int64_t> stamps = RunEncoderDirectly(kEncoderMs, &spawned, &reaped);
        if (stamps.count("end") == 0) {
            state.SkipWithError("the encoder did not run");
            return;
        }
        latencyMs = static_cast<double>(reaped - stamps["end"]) / 1e6;
        state.SetIterationTime(latencyMs / 1e3);
    }
    state.counters["ms"] = latencyMs;
}

// ---- CPU while waiting ---------------------------------------------------------

constexpr long kIdleMs = 1000;

// CPU milliseconds per second of wall time between the two readings.
double CpuPerSecond(std::int64_t cpuNs, std::int64_t wallNs) {
    return static_cast<double>(cpuNs) / 1e6 / (static_cast<double>(wallNs) / 1e9);
}

void IdleWorker(benchmark::State &state) {
    const std::string settings = Settings(1, 0);
    double perSecond = 0;
    for (auto _ : state) {
        Album album(2);
        if (module.create(album.info.get(), settings.c_str(), nullptr, 0) != 1) {
            state.SkipWithError("the module refused the rip");
            return;
        }
        SleepMs(50);  // the worker settles into its wait for track 1
        // The whole process: the worker's thread waits, this one sleeps.
        const std::int64_t cpu = Nanoseconds(CLOCK_PROCESS_CPUTIME_ID), wall = Now();
        SleepMs(kIdleMs);
        perSecond = CpuPerSecond(Nanoseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu, Now() - wall);
        module.kill();
        EmptyFolder(ripFolder);
        state.SetIterationTime(static_cast<double>(kIdleMs) / 1e3);
    }
    state.counters["cpu_ms/s"] = perSecond;
}

void IdleHost(benchmark::State &state) {
    const std::string settings = Settings(1, kIdleMs);
    double perSecond = 0;
    for (auto _ : state) {
        Album album(1);
        if (module.create(album.info.get(), settings.c_str(), nullptr, 0) != 1 ||
            module.Deliver(piece.data(), piece.size()) != 1) {
            state.SkipWithError("the module refused the rip");
            return;
        }
        // This thread only: the last SetData, which waits for the worker
        // while the encoder sleeps.
        const std::int64_t cpu = Nanoseconds(CLOCK_THREAD_CPUTIME_ID), wall = Now();
        module.EndTrack();
        const std::int64_t waited = Now() - wall;
        perSecond = CpuPerSecond(Nanoseconds(CLOCK_THREAD_CPUTIME_ID) - cpu, waited);
        module.kill();
        EmptyFolder(ripFolder);
        state.SetIterationTime(static_cast<double>(waited) / 1e9);
    }
    state.counters["cpu_ms/s"] = perSecond;
}

void IdleReference(benchmark::State &state) {
    double perSecond = 0;
    for (auto _ : state) {
        const std::int64_t cpu = Nanoseconds(CLOCK_PROCESS_CPUTIME_ID), wall = Now();
        SleepMs(kIdleMs);
        perSecond = CpuPerSecond(Nanoseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu, Now() - wall);
        state.SetIterationTime(static_cast<double>(kIdleMs) / 1e3);
    }
    state.counters["cpu_ms/s"] = perSecond;
}

void Register(const char *name, void (*body)(benchmark::State &), int repetitions) {
    benchmark::RegisterBenchmark(name, body)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(repetitions)
        ->DisplayAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond);
}

// ---- The summary ---------------------------------------------------------------

// The console's report, and a note of each benchmark's median counters.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    explicit SummaryReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run> &reports) override {
        for (const Run &run : reports) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median" || run.error_occurred) continue;
            for (const auto &counter : run.counters)
                medians_[run.run_name.function_name][counter.first] = counter.second;
        }
        ConsoleReporter::ReportRuns(reports);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream &out = GetOutputStream();
        out << "\nMedians\n";
        Line(out, "figure", "module", "reference", "target");
        Line(out, "delivery throughput, MiB/s", Value("delivery/module", "MiB/s", 0),
             Value("delivery/reference", "MiB/s", 0),
             ">= 0.95 of reference (" + Ratio("delivery/module", "delivery/reference", "MiB/s") + ")");
        Line(out, "per-track handoff, ms", Value("handoff/module", "ms", 2), Value("handoff/reference", "ms", 2),
             "< 5 ms");
        Line(out, "end-of-album latency, ms", Value("album_end/module", "ms", 2), Value("album_end/reference", "ms", 2),
             "< 5 ms");
        Line(out, "peak resident during rip, MiB", Value("memory/module", "peak_MiB", 1),
             Value("memory/module", "before_MiB", 1),
             "< 4 MiB above reference (" + Value("memory/module", "growth_MiB", 2) + ")");
        Line(out, "CPU, worker waiting, ms/s", Value("idle_cpu/worker", "cpu_ms/s", 3),
             Value("idle_cpu/reference", "cpu_ms/s", 3), "< 1 ms/s");
        Line(out, "CPU, host's last SetData, ms/s", Value("idle_cpu/host", "cpu_ms/s", 3),
             Value("idle_cpu/reference", "cpu_ms/s", 3), "< 1 ms/s");
    }

private:
    static void Line(std::ostream &out, const std::string &a, const std::string &b, const std::string &c,
                     const std::string &d) {
        char line[256];
        std::snprintf(line, sizeof line, "%-32s %12s %12s   %s\n", a.c_str(), b.c_str(), c.c_str(), d.c_str());
        out << line;
    }
    bool Has(const std::string &name, const std::string &counter) const {
        auto found = medians_.find(name);
        return found != medians_.end() && found->second.count(counter) != 0;
    }
    double Get(const std::string &name, const std::string &counter) const {
        return medians_.at(name).at(counter).value;
    }
    std::string Value(const std::string &name, const std::string &counter, int decimals) const {
        if (!Has(name, counter)) return "-";
        std::ostringstream text;
        text.setf(std::ios::fixed);
        text.precision(decimals);
        text << Get(name, counter);
        return text.str();
    }
    std::string Ratio(const std::string &a, const std::string &b, const std::string &counter) const {
        if (!Has(a, counter) || !Has(b, counter) || Get(b, counter) == 0) return "-";
        std::ostringstream text;
        text.setf(std::ios::fixed);
        text.precision(3);
        text << Get(a, counter) / Get(b, counter);
        return text.str();
    }

    std::map<std::string, std::map<std::string, benchmark::Counter>> medians_;
};

}  // namespace

int main(int argc, char **argv) {
    // Repetitions of different benchmarks take turns, so that a slow phase
    // of the shared machine falls on module and reference alike.
    std::vector<char *> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, &interleave[0]);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;

    if (!LoadModule()) return 1;
    if (!Exists(EncoderPath())) {
        std::fprintf(stderr, "missing %s\n", EncoderPath().c_str());
        return 1;
    }
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/encbridge-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) return 1;
    workspace = pattern + "/";
    ripFolder = workspace + "rip/";
    if (mkdir(ripFolder.c_str(), 0755) != 0) return 1;
    for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::printf("folder: %s\n", ripFolder.c_str());

    Register("delivery/module", DeliveryModule, 9);
    Register("delivery/reference", DeliveryReference, 9);
    Register("handoff/module", HandoffModule, 31);
    Register("handoff/reference", HandoffReference, 31);
    Register("album_end/module", AlbumEndModule, 31);
    Register("album_end/reference", AlbumEndReference, 31);
    Register("memory/module", PeakMemory, 3);
    Register("idle_cpu/worker", IdleWorker, 5);
    Register("idle_cpu/host", IdleHost, 5);
    Register("idle_cpu/reference", IdleReference, 5);

    SummaryReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                   : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    EmptyFolder(ripFolder);
    rmdir(ripFolder.c_str());
    EmptyFolder(workspace);
    rmdir(workspace.c_str());
    return 0;
}
