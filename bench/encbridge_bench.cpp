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
//   album      a whole album of six noise tracks from the host's first
//              SetData to its last return, encoded by lame -V2 and by
//              flac -8 with JOBS=0 and JOBS=1, against the same encoder run
//              on the same WAV files, already on disk, by xargs -P with as
//              many at once as the process may use processors
//
// Handoff and album end run with JOBS=1 and JOBS=0. With
// ENCBRIDGE_BENCH_BASELINE naming another build of the module (an earlier
// one), the album with JOBS=1 is also ripped through it, in the same run.
//
// Loads the libencbridge.so beside the program, or the one named by
// ENCBRIDGE_BENCH_MODULE; works in a new folder under TMPDIR (or /tmp).
// Ends with a table of the medians.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
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

#include "encbridge/plugin.h"

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
Module baseline;        // an earlier build, when ENCBRIDGE_BENCH_BASELINE names one
std::string workspace;  // with a trailing "/"
std::string ripFolder;  // where both the module and the references write
std::vector<std::uint8_t> piece(kPieceBytes);

std::string EncoderPath() { return ProgramFolder() + "bench_stamp_encoder"; }

bool LoadModule(const std::string &path, Module &loaded, const char *what) {
    // RTLD_LOCAL: a baseline build loaded beside the module keeps its own
    // functions and its own rip.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
        return false;
    }
    EncbridgeExports found;
    const char *missing = EncbridgeLoadExports(
        handle, [](void *module, const char *name) { return reinterpret_cast<EncbridgeFunction>(dlsym(module, name)); },
        &found);
    loaded.create = found.create;
    loaded.setData = found.setData;
    loaded.kill = found.kill;
    std::printf("%s: %s\n", what, path.c_str());
    return missing == nullptr;
}

std::string EnvironmentPath(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
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

// The settings of a rip with the benchmarks' encoder, which sleeps sleepMs,
// and JOBS=jobs.
std::string Settings(int deleteWav, long sleepMs, int jobs = 1) {
    std::string path = workspace + "settings-" + std::to_string(deleteWav) + "-" + std::to_string(sleepMs) + "-" +
                       std::to_string(jobs) + ".ini";
    std::string options = sleepMs > 0 ? "--sleep " + std::to_string(sleepMs) + " " : "";
    WriteText(path, "[SETUP]\nOUT=.stamp\n[OPTION]\nCOMMAND=" + options +
                        "%i% %o%\nDELETE=" + std::to_string(deleteWav) + "\nEXEPATH=" + EncoderPath() +
                        "\nWIN_HIDE=1\nJOBS=" + std::to_string(jobs) + "\n");
    return path;
}

std::string FinalFile(int number, const std::string &extension) {
    char name[32];
    std::snprintf(name, sizeof name, "%02d Track", number);
    return ripFolder + name + extension;
}

std::string FinalStamp(int number) { return FinalFile(number, ".stamp"); }

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

void HandoffModule(benchmark::State &state, int jobs) {
    const std::string settings = Settings(1, 0, jobs);
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

void AlbumEndModule(benchmark::State &state, int jobs) {
    const std::string settings = Settings(1, kEncoderMs, jobs);
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
        // With several encoders at once the first may end last.
        const std::int64_t firstEnd = ReadStamps(FinalStamp(1))["end"], lastEnd = ReadStamps(FinalStamp(2))["end"];
        const std::int64_t encoderEnd = std::max(firstEnd, lastEnd);
        module.kill();
        EmptyFolder(ripFolder);
        if (firstEnd == 0 || lastEnd == 0) {
            state.SkipWithError("a track was not encoded");
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

// ---- A whole album with real encoders -----------------------------------------

// Six tracks of 45 s: on two processors each encoder runs long enough that
// starting it costs next to nothing, and a whole run stays within minutes.
constexpr int kRealTracks = 6;
constexpr std::size_t kRealTrackBytes = 45 * 75 * 2352;
constexpr std::size_t kRealPieceBytes = 58800;  // the reference host's piece

struct RealEncoder {
    const char *name;
    const char *program;
    const char *extension;
    // The module's COMMAND, and the same arguments with {} for the input
    // that xargs replaces; the output is the input's name plus extension.
    const char *command;
    std::vector<std::string> direct;
};

const RealEncoder kLame = {
    "lame -V2", "/usr/bin/lame", ".mp3", "--quiet -V2 %i% %o%", {"--quiet", "-V2", "{}", "{}.mp3"}};
const RealEncoder kFlac = {
    "flac -8", "/usr/bin/flac", ".flac", "-s -f -8 -o %o% %i%", {"-s", "-f", "-8", "-o", "{}.flac", "{}"}};

// The audio of each track. Held only while an album benchmark runs, so
// that it is no part of the resident size that the memory figure reads.
using RealTracks = std::vector<std::vector<std::uint8_t>>;
std::string sourceFolder;  // the same tracks as WAV files, for the reference

int Processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}

// Noise at half of full scale from a fixed seed, different in each track:
// the same album in every run, and no encoder finds it easy.
RealTracks MakeRealTracks() {
    std::uint32_t state = 0x2545F491u;
    RealTracks realTracks(kRealTracks, std::vector<std::uint8_t>(kRealTrackBytes));
    for (std::vector<std::uint8_t> &track : realTracks) {
        for (std::size_t i = 0; i < track.size(); i += 2) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const std::int16_t sample = static_cast<std::int16_t>(static_cast<std::int32_t>(state >> 16) - 32768) / 2;
            track[i] = static_cast<std::uint8_t>(sample & 0xFF);
            track[i + 1] = static_cast<std::uint8_t>((sample >> 8) & 0xFF);
        }
    }
    return realTracks;
}

void PutLittle(std::uint8_t *at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The 44-byte header that the module writes for a host that gives none,
// with the track's true sizes, as the module leaves it.
std::vector<std::uint8_t> WavHeader(std::uint32_t dataBytes) {
    std::vector<std::uint8_t> header(44);
    std::memcpy(&header[0], "RIFF", 4);
    PutLittle(&header[4], dataBytes + 36, 4);
    std::memcpy(&header[8], "WAVEfmt ", 8);
    PutLittle(&header[16], 16, 4);
    PutLittle(&header[20], 1, 2);  // PCM
    PutLittle(&header[22], 2, 2);
    PutLittle(&header[24], 44100, 4);
    PutLittle(&header[28], 44100 * 4, 4);
    PutLittle(&header[32], 4, 2);
    PutLittle(&header[34], 16, 2);
    std::memcpy(&header[36], "data", 4);
    PutLittle(&header[40], dataBytes, 4);
    return header;
}

std::string SourceWav(int track) {
    char name[32];
    std::snprintf(name, sizeof name, "source(%02d).wav", track + 1);
    return sourceFolder + name;
}

bool WriteSourceWavs() {
    const RealTracks realTracks = MakeRealTracks();
    std::string list;
    for (int track = 0; track < kRealTracks; ++track) {
        const std::vector<std::uint8_t> header = WavHeader(static_cast<std::uint32_t>(kRealTrackBytes));
        int fd = open(SourceWav(track).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        bool ok = WriteAll(fd, header.data(), header.size()) &&
                  WriteAll(fd, realTracks[track].data(), realTracks[track].size());
        if (close(fd) != 0 || !ok) return false;
        list += SourceWav(track) + "\n";
    }
    WriteText(sourceFolder + "list.txt", list);
    return true;
}

// Removes the reference's outputs, keeping its WAV files.
void RemoveOutputs(const std::string &extension) {
    for (int track = 0; track < kRealTracks; ++track) unlink((SourceWav(track) + extension).c_str());
}

// Every track has a non-empty file of the encoder's, named name(track).
template <typename Name>
bool AllEncoded(Name name) {
    for (int track = 0; track < kRealTracks; ++track) {
        struct stat info;
        if (stat(name(track).c_str(), &info) != 0 || info.st_size == 0) return false;
    }
    return true;
}

std::string RealSettings(const RealEncoder &encoder, int jobs) {
    std::string path = workspace + "real" + encoder.extension + "-" + std::to_string(jobs) + ".ini";
    WriteText(path, std::string("[SETUP]\nOUT=") + encoder.extension + "\n[OPTION]\nEXEPATH=" + encoder.program +
                        "\nCOMMAND=" + encoder.command + "\nDELETE=1\nWIN_HIDE=1\nJOBS=" + std::to_string(jobs) + "\n");
    return path;
}

// Seconds from the first SetData until the last returns, the encoders done;
// negative when the module refused something or a track has no file. In
// *delivering the seconds until the album's last call began: the part of
// the figure that writes the WAV files the reference finds on disk.
double RipRealAlbum(const Module &through, const RealTracks &realTracks, const std::string &settings,
                    const std::string &extension, double *delivering) {
    Album album(kRealTracks);
    if (through.create(album.info.get(), settings.c_str(), nullptr, 0) != 1) return -1;
    bool taken = true;
    const std::int64_t start = Now();
    for (int track = 0; track < kRealTracks && taken; ++track) {
        const std::vector<std::uint8_t> &audio = realTracks[track];
        for (std::size_t at = 0; at < audio.size() && taken; at += kRealPieceBytes) {
            taken = through.Deliver(&audio[at], std::min(kRealPieceBytes, audio.size() - at)) == 1;
        }
        if (track + 1 == kRealTracks) *delivering = static_cast<double>(Now() - start) / 1e9;
        taken = taken && through.EndTrack() == 1;
    }
    const double seconds = static_cast<double>(Now() - start) / 1e9;
    through.kill();
    const bool encoded = AllEncoded([&](int track) { return FinalFile(track + 1, extension); });
    EmptyFolder(ripFolder);
    return taken && encoded ? seconds : -1;
}

void RealAlbumModule(benchmark::State &state, const Module *through, const RealEncoder *encoder, int jobs) {
    const std::string settings = RealSettings(*encoder, jobs);
    const RealTracks realTracks = MakeRealTracks();
    double seconds = 0, delivering = 0;
    for (auto _ : state) {
        seconds = RipRealAlbum(*through, realTracks, settings, encoder->extension, &delivering);
        if (seconds < 0) {
            state.SkipWithError("the module refused the rip, or a track has no file");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["s"] = seconds;
    state.counters["delivering_s"] = delivering;
}

// xargs -P N: N encoders at once over the WAV files on disk, a new one as
// soon as one ends, as fast as these files can be encoded here.
void RealAlbumReference(benchmark::State &state, const RealEncoder *encoder) {
    std::vector<std::string> arguments = {
        "/usr/bin/xargs", "-a", sourceFolder + "list.txt", "-d", "\n", "-P", std::to_string(Processors()), "-I", "{}",
        encoder->program};
    arguments.insert(arguments.end(), encoder->direct.begin(), encoder->direct.end());
    std::vector<char *> argv;
    for (std::string &argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    double seconds = 0;
    for (auto _ : state) {
        RemoveOutputs(encoder->extension);
        pid_t pid = 0;
        const std::int64_t start = Now();
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("xargs did not start");
            return;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
        }
        seconds = static_cast<double>(Now() - start) / 1e9;
        const bool encoded = AllEncoded([&](int track) { return SourceWav(track) + encoder->extension; });
        RemoveOutputs(encoder->extension);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !encoded) {
            state.SkipWithError("the encoder failed under xargs");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["s"] = seconds;
    state.counters["processors"] = Processors();
}

template <typename Body>
void Register(const std::string &name, Body body, int repetitions) {
    benchmark::RegisterBenchmark(name.c_str(), body)
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
        Line(out, "per-track handoff, JOBS=0, ms", Value("handoff/module_jobs0", "ms", 2),
             Value("handoff/reference", "ms", 2), "< 5 ms");
        Line(out, "end-of-album latency, ms", Value("album_end/module", "ms", 2), Value("album_end/reference", "ms", 2),
             "< 5 ms");
        Line(out, "end-of-album latency, JOBS=0, ms", Value("album_end/module_jobs0", "ms", 2),
             Value("album_end/reference", "ms", 2), "< 5 ms");
        Line(out, "peak resident during rip, MiB", Value("memory/module", "peak_MiB", 1),
             Value("memory/module", "before_MiB", 1),
             "< 4 MiB above reference (" + Value("memory/module", "growth_MiB", 2) + ")");
        Line(out, "CPU, worker waiting, ms/s", Value("idle_cpu/worker", "cpu_ms/s", 3),
             Value("idle_cpu/reference", "cpu_ms/s", 3), "< 1 ms/s");
        Line(out, "CPU, host's last SetData, ms/s", Value("idle_cpu/host", "cpu_ms/s", 3),
             Value("idle_cpu/reference", "cpu_ms/s", 3), "< 1 ms/s");
        for (const char *encoder : {"lame", "flac"}) {
            const std::string album = std::string("album_") + encoder, reference = album + "/xargs";
            Line(out, album + ", JOBS=0, s", Value(album + "/jobs0", "s", 2), Value(reference, "s", 2),
                 "<= 1.10 of reference (" + Ratio(album + "/jobs0", reference, "s") + ")");
            Line(out, album + ", JOBS=1, s", Value(album + "/jobs1", "s", 2), Value(reference, "s", 2),
                 "(" + Ratio(album + "/jobs1", reference, "s") + " of reference)");
            // The part that the reference does not do: the WAV files written.
            Line(out, album + ", JOBS=0, delivering, s", Value(album + "/jobs0", "delivering_s", 3), "-",
                 "(part of the JOBS=0 figure)");
            if (Has(album + "/jobs1_baseline", "s")) {
                Line(out, album + ", JOBS=1, s", Value(album + "/jobs1", "s", 2),
                     Value(album + "/jobs1_baseline", "s", 2),
                     "<= 1.05 of baseline build (" + Ratio(album + "/jobs1", album + "/jobs1_baseline", "s") + ")");
            }
        }
        out << "album reference: the same encoder on the same WAV files by xargs -P "
            << Value("album_lame/xargs", "processors", 0) << "\n";
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

    const std::string chosen = EnvironmentPath("ENCBRIDGE_BENCH_MODULE");
    if (!LoadModule(chosen.empty() ? ProgramFolder() + "libencbridge.so" : chosen, module, "module")) return 1;
    const std::string earlier = EnvironmentPath("ENCBRIDGE_BENCH_BASELINE");
    if (!earlier.empty() && !LoadModule(earlier, baseline, "baseline")) return 1;
    if (!Exists(EncoderPath())) {
        std::fprintf(stderr, "missing %s\n", EncoderPath().c_str());
        return 1;
    }
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/encbridge-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) return 1;
    workspace = pattern + "/";
    ripFolder = workspace + "rip/";
    sourceFolder = workspace + "source/";
    if (mkdir(ripFolder.c_str(), 0755) != 0 || mkdir(sourceFolder.c_str(), 0755) != 0) return 1;
    for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::printf("folder: %s\n", ripFolder.c_str());
    if (!WriteSourceWavs()) {
        std::fprintf(stderr, "cannot write the album's WAV files into %s\n", sourceFolder.c_str());
        return 1;
    }

    Register("delivery/module", DeliveryModule, 9);
    Register("delivery/reference", DeliveryReference, 9);
    Register(
        "handoff/module", [](benchmark::State &state) { HandoffModule(state, 1); }, 31);
    Register(
        "handoff/module_jobs0", [](benchmark::State &state) { HandoffModule(state, 0); }, 31);
    Register("handoff/reference", HandoffReference, 31);
    Register(
        "album_end/module", [](benchmark::State &state) { AlbumEndModule(state, 1); }, 31);
    Register(
        "album_end/module_jobs0", [](benchmark::State &state) { AlbumEndModule(state, 0); }, 31);
    Register("album_end/reference", AlbumEndReference, 31);
    Register("memory/module", PeakMemory, 3);
    Register("idle_cpu/worker", IdleWorker, 5);
    Register("idle_cpu/host", IdleHost, 5);
    Register("idle_cpu/reference", IdleReference, 5);
    for (const RealEncoder *encoder : {&kLame, &kFlac}) {
        const std::string album = encoder == &kLame ? "album_lame" : "album_flac";
        // flac's album takes a fraction of lame's: more runs for a steadier
        // median in the same time.
        const int runs = encoder == &kLame ? 5 : 9;
        for (int jobs : {0, 1}) {
            Register(
                album + "/jobs" + std::to_string(jobs),
                [=](benchmark::State &state) { RealAlbumModule(state, &module, encoder, jobs); }, runs);
        }
        if (baseline.create != nullptr) {
            Register(
                album + "/jobs1_baseline",
                [=](benchmark::State &state) { RealAlbumModule(state, &baseline, encoder, 1); }, runs);
        }
        Register(
            album + "/xargs", [=](benchmark::State &state) { RealAlbumReference(state, encoder); }, runs);
    }

    SummaryReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                   : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    EmptyFolder(ripFolder);
    rmdir(ripFolder.c_str());
    EmptyFolder(sourceFolder);
    rmdir(sourceFolder.c_str());
    EmptyFolder(workspace);
    rmdir(workspace.c_str());
    return 0;
}
