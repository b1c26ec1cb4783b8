#include "resume.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "host_paths.h"
#include "plugin_module.h"

namespace host {

namespace {

bool IsPlainFile(const EncbridgeToolTable &tools, const std::string &path) {
    return tools.entryKind(path.c_str()) == kEncbridgeEntryPlainFile;
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
int OpenPlain(const EncbridgeToolTable &tools, const std::string &path) {
    if (!IsPlainFile(tools, path)) return -1;
    bool notRegular = false;
    return OpenRegularFile(path, notRegular);
}

constexpr std::size_t kChunk = 1 << 16;

bool SameBytes(const EncbridgeToolTable &tools, const std::string &a, const std::string &b) {
    const int first = OpenPlain(tools, a), second = OpenPlain(tools, b);
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
bool SameAsTrackWav(const EncbridgeToolTable &tools, const std::string &path, AudioImage &image,
                    const RipTrack &track) {
    std::uint8_t header[44], expected[44];
    if (tools.defaultHeader(expected, sizeof expected) != sizeof expected) return false;
    const int fd = OpenPlain(tools, path);
    if (fd < 0) return false;
    const std::int64_t frames = track.image.endFrame - track.image.firstFrame;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames * kFrameBytes);
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

bool TrackAlreadyDone(const EncbridgeToolTable &tools, const RipTrack &track) {
    for (const std::string &path : track.finalPaths) {
        if (!IsPlainFile(tools, path)) return false;
    }
    return !track.finalPaths.empty();
}

void MarkResumedTracks(std::vector<RipTrack> &tracks, const ModuleSettings &settings) {
    for (RipTrack &track : tracks) track.resumed = track.selected && TrackAlreadyDone(*settings.tools, track);
}

bool MoveAsideForRip(const std::vector<RipTrack> &tracks, const std::string &outputFolder,
                     const ModuleSettings &settings, std::string &error) {
    const std::vector<std::string> extensions = settings.Extensions();
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const RipTrack &track = tracks[i];
        if (!TrackToWrite(track)) continue;
        for (std::size_t o = 0; o < track.finalPaths.size(); ++o) {
            if (settings.tools->clearTheWay(track.finalPaths[o].c_str(), outputFolder.c_str(), static_cast<int>(i + 1),
                                            extensions[o].c_str()) != 1) {
                error = "cannot move " + track.finalPaths[o] + " aside to rip its track again";
                return false;
            }
        }
    }
    return true;
}

Leftovers SweepLeftovers(const std::string &outputFolder, const std::vector<RipTrack> &tracks,
                         const ModuleSettings &settings, AudioImage &image, std::size_t delivered) {
    const EncbridgeToolTable &tools = *settings.tools;
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
            std::int32_t number = 0;
            std::size_t extensionAt = 0;
            const std::size_t length = std::strlen(entry->d_name);
            if (tools.readKeptName(entry->d_name, length, &number, &extensionAt) == 1) {
                found.push_back({entry->d_name, static_cast<std::size_t>(number) - 1, entry->d_name + extensionAt});
            }
        }
        closedir(folder);
    }
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (!tracks[i].resumed) continue;
        std::vector<std::string> left = extensions;
        if (settings.deleteWav != 0) left.push_back(".wav");
        for (const std::string &extension : left) {
            const std::string name = TemporaryName(tools, "", static_cast<int>(i + 1), extension);
            if (!name.empty() && tools.entryKind((outputFolder + name).c_str()) != kEncbridgeEntryMissing) {
                found.push_back({name, i, extension});
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
                copy = each.extension == extensions[o] && SameBytes(tools, path, tracks[i].finalPaths[o]);
            }
            const bool trackWav = tracks[i].resumed || (i < delivered && TrackToWrite(tracks[i]));
            copy = copy || (each.extension == ".wav" && trackWav && SameAsTrackWav(tools, path, image, tracks[i]));
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
