// Soak run: 200 albums of 20 tracks back to back through one loaded module,
// as a ripping host that runs all day would send them, with /bin/cp as a
// fast encoder. Every tenth album is ended by Kill halfway through, and
// every tenth by a Create for the next album while its rip still runs.
//
//   cmake --preset linux && cmake --build --preset linux --target soak
//   build/linux/bin/soak [albums]
//
// Reports the process's descriptors, threads, child processes and memory
// before the first album, after it, every 50 albums and after the last one,
// and ends with 1 when descriptors, threads or children have grown (from
// before the module to after the last Kill, and from the first album to the
// last), or when the heap in use has grown by more than 64 KiB from the first
// album to the last.
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "encbridge/plugin.h"

namespace {

constexpr int kTracks = 20;
constexpr std::size_t kPiece = 4704;  // two CD sectors
constexpr int kPiecesPerTrack = 4;

struct Figures {
    int descriptors = 0;
    int threads = 0;
    int children = 0;  // running or waiting to be reaped
    long rssKiB = 0;
    long heapInUse = 0;
};

int CountEntries(const char *folder) {
    int count = 0;
    if (DIR *dir = opendir(folder)) {
        while (dirent *entry = readdir(dir)) count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

long StatusValue(const char *key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(key), key) == 0) return std::atol(line.c_str() + std::strlen(key));
    }
    return -1;
}

int CountChildren() {
    int count = 0;
    const std::string self = std::to_string(getpid());
    DIR *proc = opendir("/proc");
    if (proc == nullptr) return -1;
    while (dirent *entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text;
        std::getline(stat, text);
        // pid (name) state ppid ...: the name may hold blanks and parentheses.
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long parent = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && std::to_string(parent) == self) {
            ++count;
        }
    }
    closedir(proc);
    return count;
}

Figures Measure() {
    Figures figures;
    // The descriptor that reads the folder is one of them.
    figures.descriptors = CountEntries("/proc/self/fd") - 1;
    figures.threads = static_cast<int>(StatusValue("Threads:"));
    figures.children = CountChildren();
    figures.rssKiB = StatusValue("VmRSS:");
    figures.heapInUse = static_cast<long>(mallinfo2().uordblks);
    return figures;
}

void Print(const char *when, const Figures &f) {
    std::printf("%-22s descriptors %3d  threads %2d  children %2d  RSS %6ld KiB  heap in use %9ld B\n", when,
                f.descriptors, f.threads, f.children, f.rssKiB, f.heapInUse);
    std::fflush(stdout);
}

void RemoveFolder(const std::string &folder) {
    if (DIR *dir = opendir(folder.c_str())) {
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] != '.') unlink((folder + entry->d_name).c_str());
        }
        closedir(dir);
    }
    rmdir(folder.c_str());
}

std::string ProgramFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

struct Album {
    std::unique_ptr<AlbumInfo> info{new AlbumInfo()};
    std::vector<TrackInfo> tracks = std::vector<TrackInfo>(kTracks);
    std::string folder;
};

}  // namespace

int main(int argc, char **argv) {
    const int albums = argc > 1 ? std::atoi(argv[1]) : 200;
    char pattern[] = "/tmp/encbridge-soak-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 2;
    const std::string root = std::string(pattern) + "/";
    const std::string settings = root + "soak.ini";
    {
        std::ofstream file(settings);
        file << "[SETUP]\nOUT=.out\n[OPTION]\nCOMMAND=%i% %o%\nDELETE=1\nEXEPATH=/bin/cp\nWIN_HIDE=1\n";
    }

    const Figures before = Measure();
    void *module = dlopen((ProgramFolder() + "libencbridge.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "soak: %s\n", dlerror());
        return 2;
    }
    EncbridgeExports found;
    if (EncbridgeLoadExports(
            module,
            [](void *loaded, const char *name) { return reinterpret_cast<EncbridgeFunction>(dlsym(loaded, name)); },
            &found) != nullptr) {
        return 2;
    }
    const auto create = found.create;
    const auto setData = found.setData;
    const auto kill = found.kill;
    Print("before the module", before);
    Print("module loaded", Measure());

    std::vector<std::uint8_t> piece(kPiece);
    for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<std::uint8_t>(i * 31);
    std::unique_ptr<Album> previous;  // kept until the rip that uses it is over
    Figures warm, last;
    int refused = 0, aborted = 0, replaced = 0, complete = 0, finals = 0, processed = 0;
    for (int t = 0; t < kTracks; ++t) processed += t % 7 == 6 ? 0 : 1;
    for (int a = 0; a < albums; ++a) {
        std::unique_ptr<Album> album(new Album);
        album->folder = root + "album" + std::to_string(a) + "/";
        mkdir(album->folder.c_str(), 0755);
        std::snprintf(album->info->outputFolder, sizeof album->info->outputFolder, "%s", album->folder.c_str());
        std::snprintf(album->info->albumTitle, sizeof album->info->albumTitle, "Album %d", a + 1);
        album->info->trackCount = kTracks;
        album->info->tracks = album->tracks.data();
        for (int t = 0; t < kTracks; ++t) {
            album->tracks[t].status = 1;
            album->tracks[t].marked = t % 7 == 6 ? 0 : 1;  // a few skipped tracks
            std::snprintf(album->tracks[t].fileName, sizeof album->tracks[t].fileName, "%02d Track", t + 1);
        }
        if (create(album->info.get(), settings.c_str(), nullptr, 0) != 1) ++refused;
        // The album that the last Create replaced is over now.
        if (previous) RemoveFolder(previous->folder);
        previous.reset();

        const bool abortByKill = a % 10 == 7;
        const bool abortByCreate = a % 10 == 3;
        const int tracksToDeliver = abortByKill || abortByCreate ? kTracks / 2 : kTracks;
        for (int t = 0; t < tracksToDeliver; ++t) {
            for (int p = 0; p < kPiecesPerTrack; ++p) {
                std::int32_t boundary = 0;
                if (setData(piece.data(), static_cast<std::int32_t>(piece.size()), &boundary) != 1) ++refused;
            }
            std::int32_t boundary = 0;
            if (setData(piece.data(), 0, &boundary) != 1) ++refused;
        }
        if (abortByCreate) {
            // The next Create ends this rip; its records live until then.
            ++replaced;
            previous = std::move(album);
        } else {
            if (kill() != 0) ++refused;
            aborted += abortByKill;
            if (!abortByKill) {
                ++complete;
                finals += CountEntries(album->folder.c_str());
            }
            RemoveFolder(album->folder);
        }
        // Measured with this album's records still held, the same way each
        // time, so that album 1 and the last album compare.
        if (a == 0 || (a + 1) % 50 == 0 || a + 1 == albums) {
            last = Measure();
            if (a == 0) warm = last;
            const std::string when = "after album " + std::to_string(a + 1);
            Print(when.c_str(), last);
        }
    }
    if (kill() != 0) ++refused;
    if (previous) RemoveFolder(previous->folder);
    const Figures end = Measure();
    Print("after the last Kill", end);
    unlink(settings.c_str());
    rmdir(root.c_str());

    std::printf("%d albums: %d complete, %d ended by Kill halfway, %d by the next Create\n", albums, complete, aborted,
                replaced);
    std::printf("files in the folders of complete albums: %d (%d processed tracks each); calls refused: %d\n", finals,
                processed, refused);
    const bool grew = last.descriptors > warm.descriptors || last.threads > warm.threads ||
                      last.children > warm.children || last.heapInUse > warm.heapInUse + 64 * 1024 ||
                      end.descriptors > before.descriptors || end.threads > before.threads ||
                      end.children > before.children;
    std::printf("%s\n", grew ? "GREW" : "no growth");
    return grew || refused > 0 || finals != complete * processed ? 1 : 0;
}
