#include "resume.h"

#include <dirent.h>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "encbridge/reasons.h"
#include "host_paths.h"
#include "interruption.h"
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

// The header the module writes for track when the host gives none: its
// default, with the true sizes. False when the module gives none.
bool TrackWavHeader(const EncbridgeToolTable &tools, const RipTrack &track, std::uint8_t (&header)[44]) {
    if (tools.defaultHeader(header, sizeof header) != sizeof header) return false;
    const std::int64_t frames = track.image.endFrame - track.image.firstFrame;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames * kFrameBytes);
    PutLE32(header + 4, dataBytes + sizeof header - 8);
    PutLE32(header + 40, dataBytes);
    return true;
}

// Whether the file at path holds what the module writes for track: its
// default header with the true sizes, then the track's audio from the image.
bool SameAsTrackWav(const EncbridgeToolTable &tools, const std::string &path, AudioImage &image,
                    const RipTrack &track) {
    std::uint8_t header[44], expected[44];
    if (!TrackWavHeader(tools, track, expected)) return false;
    const int fd = OpenPlain(tools, path);
    if (fd < 0) return false;
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

// Writes what the module would write for track to a new file at path, for
// a verify line's audio to be compared with. False when it cannot.
bool WriteTrackWav(const EncbridgeToolTable &tools, const std::string &path, AudioImage &image, const RipTrack &track) {
    std::uint8_t header[44];
    if (!TrackWavHeader(tools, track, header)) return false;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    auto put = [fd](const std::uint8_t *bytes, std::size_t count) {
        for (std::size_t done = 0; done < count;) {
            const ssize_t step = write(fd, bytes + done, count - done);
            if (step <= 0) return false;
            done += static_cast<std::size_t>(step);
        }
        return true;
    };
    bool ok = put(header, sizeof header);
    const std::int64_t framesPerChunk = kChunk / kFrameBytes;
    std::vector<std::uint8_t> audio(kChunk);
    for (std::int64_t at = track.image.firstFrame; ok && at < track.image.endFrame; at += framesPerChunk) {
        const std::int64_t count = std::min(framesPerChunk, track.image.endFrame - at);
        ok = image.Read(at, count, audio.data()) == count &&
             put(audio.data(), static_cast<std::size_t>(count * kFrameBytes));
    }
    return close(fd) == 0 && ok;
}

// Why the file at path is not a lossless file of CD audio holding frames
// sample frames; empty when it is. Only a lossless file has the track's
// length exactly, and only one decoded to its end shows that it was not cut.
std::string WhyNotOfLength(const EncbridgeToolTable &tools, const std::string &path, std::int64_t frames) {
    const int fd = OpenPlain(tools, path);
    if (fd < 0) return "it cannot be read";
    SF_INFO info = {};
    SNDFILE *file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const bool lossless = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64 ||
                          major == SF_FORMAT_W64 || major == SF_FORMAT_FLAC || major == SF_FORMAT_AIFF;
    std::string why;
    if (file == nullptr || !lossless) {
        why = "only a WAV, FLAC or AIFF file can be measured without a verify line (VERIFY), which this output lacks";
    } else if (info.samplerate != 44100 || info.channels != 2) {
        why = "it is not CD audio (" + std::to_string(info.samplerate) + " Hz, " + std::to_string(info.channels) +
              " channel(s))";
    } else {
        std::int64_t decoded = 0;
        std::vector<short> samples(2 * 4096);
        for (sf_count_t read; (read = sf_readf_short(file, samples.data(), 4096)) > 0;) decoded += read;
        if (decoded != frames) {
            why =
                "it decodes to " + std::to_string(decoded) + " sample frames, the track has " + std::to_string(frames);
        }
    }
    if (file != nullptr) {
        sf_close(file);
    } else {
        close(fd);
    }
    return why;
}

}  // namespace

ResumeVerdict CheckTrackDone(const ResumeCheck &check, const std::vector<RipTrack> &tracks, std::size_t index) {
    const EncbridgeToolTable &tools = *check.settings.tools;
    const RipTrack &track = tracks[index];
    ResumeVerdict verdict;
    for (const std::string &path : track.finalPaths) {
        if (!IsPlainFile(tools, path)) return verdict;
    }
    const std::string wav = check.scratch + "track.wav";
    bool written = false;
    const std::vector<std::string> extensions = check.settings.Extensions();
    const auto number = static_cast<std::int32_t>(index);
    for (std::size_t o = 0; o < track.finalPaths.size() && verdict.why.empty(); ++o) {
        const char *path = track.finalPaths[o].c_str();
        const auto output = static_cast<std::int32_t>(o);
        std::int64_t sample = 0;
        if (tools.verifyFile(check.settingsPath.c_str(), output, &check.album, number, path, nullptr, &sample) != 0) {
            verdict.why = WhyNotOfLength(tools, path, track.image.endFrame - track.image.firstFrame);
        } else if (!written && !(written = WriteTrackWav(tools, wav, check.image, track))) {
            verdict.why = "the track's audio could not be written to " + wav + " for its verify line";
        } else {
            const std::int32_t reason =
                tools.verifyFile(check.settingsPath.c_str(), output, &check.album, number, path, wav.c_str(), &sample);
            const auto known = static_cast<encbridge::Reason>(reason);
            if (reason < 0) {
                verdict.why = "its verify line could not be used";
            } else if (known != encbridge::Reason::Done) {
                const bool atSample = known == encbridge::Reason::VerifyMismatch ||
                                      known == encbridge::Reason::VerifyTooShort ||
                                      known == encbridge::Reason::VerifyTooLong;
                verdict.why = std::string("its verify line says: ") + encbridge::ReasonText(known) +
                              (atSample ? ", at sample " + std::to_string(sample) : std::string());
            }
        }
        if (!verdict.why.empty()) verdict.why = extensions[o] + ": " + verdict.why;
    }
    // Also what a write that failed left.
    unlink(wav.c_str());
    verdict.done = verdict.why.empty() && !track.finalPaths.empty();
    return verdict;
}

bool MarkResumedTracks(std::vector<RipTrack> &tracks, const ResumeCheck &given, std::string &error) {
    // The track's WAV file for the verify lines goes in a folder of the
    // host's own, never in the output folder.
    ResumeCheck check = given;
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/encbridge-resume-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        error = "cannot make a folder at " + pattern + " to check the files there with: " + std::strerror(errno);
        return false;
    }
    check.scratch = pattern + "/";
    struct Remove {
        std::string folder;
        ~Remove() { rmdir(folder.c_str()); }
    } remove{pattern};
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        RipTrack &track = tracks[i];
        if (!track.selected) continue;
        const ResumeVerdict verdict = CheckTrackDone(check, tracks, i);
        // A stop kills a verify line too: its verdict means nothing, and
        // nothing more is moved.
        if (StopRequest().load() != 0) {
            error = std::string("stopped by ") + SignalName(StopRequest().load()) +
                    " while the files at the final names were checked; the rip did not start";
            return false;
        }
        track.resumed = verdict.done;
        track.notResumed = verdict.why;
    }
    return true;
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

std::vector<std::string> ModuleFiles(const EncbridgeToolTable &tools, const std::string &folder, bool kept) {
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir)) {
            std::int32_t number = 0;
            std::size_t extensionAt = 0;
            const std::size_t length = std::strlen(entry->d_name);
            if (tools.readKeptName(entry->d_name, length, &number, &extensionAt) == 1 ||
                (!kept && tools.nameKind(entry->d_name, length) == kEncbridgeNameTemporary)) {
                names.push_back(entry->d_name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string RemovePartialDelivery(const EncbridgeToolTable &tools, const std::string &outputFolder, AudioImage &image,
                                  const std::vector<RipTrack> &tracks, std::size_t index) {
    if (index >= tracks.size() || !TrackToWrite(tracks[index])) return std::string();
    const std::string name = TemporaryName(tools, "", static_cast<int>(index + 1), ".wav");
    const int fd = name.empty() ? -1 : OpenPlain(tools, outputFolder + name);
    if (fd < 0) return std::string();
    const ImageTrack &track = tracks[index].image;
    // The header as the module writes it, whatever sizes it holds by now.
    std::uint8_t header[44], expected[44];
    bool same = TrackWavHeader(tools, tracks[index], expected) && ReadFully(fd, header, sizeof header) == sizeof header;
    for (std::size_t i = 0; same && i < sizeof header; ++i)
        same = (i >= 4 && i < 8) || i >= 40 || header[i] == expected[i];
    const std::int64_t framesPerChunk = kChunk / kFrameBytes;
    std::vector<std::uint8_t> file(kChunk), audio(kChunk);
    for (std::int64_t at = track.firstFrame; same;) {
        const std::size_t got = ReadFully(fd, file.data(), kChunk);
        const std::int64_t count = static_cast<std::int64_t>(got / kFrameBytes);
        same = got % kFrameBytes == 0 && at + count <= track.endFrame && image.Read(at, count, audio.data()) == count &&
               std::memcmp(file.data(), audio.data(), got) == 0;
        at += count;
        if (count < framesPerChunk) break;
    }
    close(fd);
    return same && unlink((outputFolder + name).c_str()) == 0 ? name : std::string();
}

}  // namespace host
