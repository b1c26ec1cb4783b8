#include "resume.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "host_paths.h"
#include "platform/platform.h"
#include "wavfile/temp_names.h"
#include "wavfile/track_file.h"

namespace host {

namespace {

bool IsPlainFile(const std::string &path) {
    return encbridge::platform::InspectEntry(path.c_str()) == encbridge::platform::EntryKind::PlainFile;
}

// Reads up to size bytes, as many as there are.
std::size_t ReadFully(int fd, std::uint8_t *buffer, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t step = read(fd, buffer + got, size - got);
        if (step <= 0) break;
        got += static_cast<std::size_t>(step);
    }
    return got;
}

// Opens a plain file with one name for reading, or -1.
int OpenPlain(const std::string &path) {
    if (!IsPlainFile(path)) return -1;
    bool notRegular = false;
    return OpenRegularFile(path, notRegular);
}

constexpr std::size_t kChunk = 1 << 16;

bool SameBytes(const std::string &a, const std::string &b) {
    const int first = OpenPlain(a), second = OpenPlain(b);
    bool same = first >= 0 && second >= 0;
    std::vector<std::uint8_t> one(kChunk), two(kChunk);
    while (same) {
        const std::size_t got = ReadFully(first, one.data(), kChunk);
        same = ReadFully(second, two.data(), kChunk) == got && std::memcmp(one.data(), two.data(), got) == 0;
        if (got < kChunk) break;
    }
    if (first >= 0) close(first);
    if (second >= 0) close(second);
    return same;
}

void PutLE32(std::uint8_t *at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Whether the file at path holds what the module writes for track: its
// default header with the true sizes, then the track's audio from the image.
bool SameAsTrackWav(const std::string &path, AudioImage &image, const RipTrack &track) {
    const int fd = OpenPlain(path);
    if (fd < 0) return false;
    const std::int64_t frames = track.image.endFrame - track.image.firstFrame;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames * kFrameBytes);
    std::uint8_t header[sizeof encbridge::kDefaultHeader], expected[sizeof encbridge::kDefaultHeader];
    std::memcpy(expected, encbridge::kDefaultHeader, sizeof expected);
    PutLE32(expected + 4, dataBytes + sizeof expected - 8);
    PutLE32(expected + 40, dataBytes);
    bool same =
        ReadFully(fd, header, sizeof header) == sizeof header && std::memcmp(header, expected, sizeof header) == 0;
    const std::int64_t framesPerChunk = kChunk / kFrameBytes;
    std::vector<std::uint8_t> file(kChunk), audio(kChunk);
    for (std::int64_t at = track.image.firstFrame; same && at < track.image.endFrame; at += framesPerChunk) {
        const std::int64_t count = std::min(framesPerChunk, track.image.endFrame - at);
        const std::size_t bytes = static_cast<std::size_t>(count * kFrameBytes);
        same = image.Read(at, count, audio.data()) == count && ReadFully(fd, file.data(), bytes) == bytes &&
               std::memcmp(file.data(), audio.data(), bytes) == 0;
    }
    // Nothing after the audio.
    same = same && ReadFully(fd, file.data(), 1) == 0;
    close(fd);
    return same;
}

}  // namespace

bool TrackAlreadyDone(const RipTrack &track) {
    for (const std::string &path : track.finalPaths) {
        if (!IsPlainFile(path)) return false;
    }
    return !track.finalPaths.empty();
}

bool PrepareResume(std::vector<RipTrack> &tracks, const std::string &outputFolder,
                   const std::vector<std::string> &extensions, std::string &error) {
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        RipTrack &track = tracks[i];
        if (!track.selected) continue;
        track.resumed = TrackAlreadyDone(track);
        if (track.resumed) continue;
        for (std::size_t o = 0; o < track.finalPaths.size(); ++o) {
            if (!encbridge::ClearTheWay(track.finalPaths[o].c_str(), outputFolder.c_str(), outputFolder.size(),
                                        static_cast<int>(i + 1), extensions[o].c_str(), extensions[o].size())) {
                error = "cannot move " + track.finalPaths[o] + " aside to rip its track again";
                return false;
            }
        }
    }
    return true;
}

Leftovers SweepLeftovers(const std::string &outputFolder, const std::vector<RipTrack> &tracks,
                         const ModuleSettings &settings, AudioImage &image, std::size_t delivered) {
    const std::vector<std::string> extensions = settings.Extensions();
    // Each leftover's name, the place of its track in the list, and its
    // extension.
    struct Found {
        std::string name;
        std::size_t track;
        std::string extension;
        bool operator<(const Found &other) const { return name < other.name; }
        bool operator==(const Found &other) const { return name == other.name; }
    };
    std::vector<Found> found;
    if (DIR *folder = opendir(outputFolder.c_str())) {
        while (const dirent *entry = readdir(folder)) {
            int number = 0;
            std::size_t extensionAt = 0;
            const std::size_t length = std::strlen(entry->d_name);
            if (encbridge::ReadKeptName(entry->d_name, length, number, extensionAt)) {
                found.push_back({entry->d_name, static_cast<std::size_t>(number) - 1, entry->d_name + extensionAt});
            }
        }
        closedir(folder);
    }
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (!tracks[i].resumed) continue;
        encbridge::PathBuffer base;
        encbridge::FormTempBase(base, "", 1, static_cast<int>(i + 1));
        std::vector<std::string> left = extensions;
        if (settings.deleteWav != 0) left.push_back(".wav");
        for (const std::string &extension : left) {
            if (encbridge::platform::InspectEntry((outputFolder + base + extension).c_str()) !=
                encbridge::platform::EntryKind::Missing) {
                found.push_back({base + extension, i, extension});
            }
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());

    Leftovers leftovers;
    for (const Found &each : found) {
        const std::size_t i = each.track;
        const std::string path = outputFolder + each.name;
        bool copy = false;
        if (i < tracks.size()) {
            for (std::size_t o = 0; o < extensions.size() && !copy; ++o) {
                copy = each.extension == extensions[o] && SameBytes(path, tracks[i].finalPaths[o]);
            }
            const bool trackWav = tracks[i].resumed || (i < delivered && TrackToWrite(tracks[i]));
            copy = copy || (each.extension == ".wav" && trackWav && SameAsTrackWav(path, image, tracks[i]));
        }
        if (copy && unlink(path.c_str()) == 0) {
            leftovers.removed.push_back(each.name);
        } else {
            leftovers.left.push_back(each.name);
        }
    }
    return leftovers;
}

}  // namespace host
