#include "rip.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Host texts are fixed byte arrays; a longer text is cut and stays
// NUL-terminated.
template <std::size_t N>
void Put(char (&field)[N], const std::string &text) {
    std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

int CountExisting(const std::vector<RipTrack> &tracks) {
    int count = 0;
    for (const RipTrack &track : tracks) {
        struct stat info;
        count += track.selected && stat(track.finalPath.c_str(), &info) == 0;
    }
    return count;
}

}  // namespace

HostRecords MakeRecords(const CueAlbum &cue, const std::vector<RipTrack> &tracks, const std::string &outputFolder) {
    HostRecords records;
    records.album.reset(new AlbumInfo());
    AlbumInfo &album = *records.album;
    Put(album.outputFolder, outputFolder);
    Put(album.albumTitle, cue.title);
    Put(album.albumArtist, cue.performer);
    Put(album.albumComment, cue.comment);
    records.tracks.resize(tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        TrackInfo &record = records.tracks[i];
        const ImageTrack &image = tracks[i].image;
        // Unselected tracks are what a ripper marks as not to be written:
        // still in the list, still delivered.
        record.status = 1;
        record.marked = tracks[i].selected ? 1 : 0;
        Put(record.fileName, tracks[i].fileName);
        Put(record.title, image.title);
        Put(record.artist, image.performer);
        Put(record.year, image.year);
        Put(record.album, cue.title);
        Put(record.comment, image.comment);
    }
    album.trackCount = static_cast<std::int32_t>(tracks.size());
    album.tracks = records.tracks.data();
    return records;
}

bool DeliverAlbum(PluginModule &module, AudioImage &image, const std::vector<RipTrack> &tracks,
                  const HostOptions &options, Progress &progress, RipTimes &times, std::string &error) {
    const Clock::time_point start = Clock::now();
    const std::int64_t framesPerPiece = options.pieceSize / kFrameBytes;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(options.pieceSize));
    int expected = 0;
    for (const RipTrack &track : tracks) expected += track.selected;

    // The album's last call returns only when the module's encoder worker
    // has ended; while it waits, a second thread shows how long and how many
    // files are ready.
    auto deliver = [&](std::int32_t length, std::int32_t boundary, bool lastOfAlbum, std::int32_t &after) {
        after = boundary;
        if (!lastOfAlbum) return module.setData(piece.data(), length, &after);
        progress.TrackDone();
        times.delivering = Since(start);
        const Clock::time_point waitStart = Clock::now();
        std::atomic<bool> done(false);
        std::thread ticker([&]() {
            while (!done.load()) {
                progress.Waiting(Since(waitStart), CountExisting(tracks), expected);
                for (int i = 0; i < 4 && !done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        std::int32_t result = module.setData(piece.data(), length, &after);
        done.store(true);
        ticker.join();
        times.waiting = Since(waitStart);
        progress.WaitDone(times.waiting, CountExisting(tracks), expected);
        return result;
    };

    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const ImageTrack &track = tracks[i].image;
        const bool lastTrack = i + 1 == tracks.size();
        const std::string name = "track " + std::to_string(track.number);
        progress.TrackStart(track.number, tracks.back().image.number,
                            track.title.empty() ? tracks[i].fileName : track.title, !tracks[i].selected,
                            (track.endFrame - track.firstFrame) * kFrameBytes);
        std::int64_t position = track.firstFrame;
        bool ended = false;
        while (position < track.endFrame) {
            std::int64_t remaining = track.endFrame - position;
            if (options.endBy == EndBy::Boundary && remaining <= framesPerPiece) {
                // A whole piece as a drive reads it, running on into the
                // next track where there is more audio; the boundary says
                // where this track ends, and the rest is delivered again as
                // the start of the next track.
                std::int64_t want = std::min(framesPerPiece, image.frames() - position);
                std::int64_t got = image.Read(position, want, piece.data());
                if (got < remaining) {
                    error = "the image could not be read at " + name;
                    return false;
                }
                std::int32_t boundary = static_cast<std::int32_t>(remaining * kFrameBytes), after = 0;
                if (deliver(static_cast<std::int32_t>(got * kFrameBytes), boundary, lastTrack, after) != 1) {
                    error = "the module refused the last piece of " + name + " (SetData returned 0)";
                    return false;
                }
                ended = true;
                position = track.endFrame;
                break;
            }
            std::int64_t count = std::min(framesPerPiece, remaining);
            if (image.Read(position, count, piece.data()) != count) {
                error = "the image could not be read at " + name;
                return false;
            }
            std::int32_t length = static_cast<std::int32_t>(count * kFrameBytes), after = 0;
            if (deliver(length, 0, false, after) != 1) {
                error = "the module refused the audio of " + name +
                        " (SetData returned 0): the temporary file could not be written";
                return false;
            }
            if (after != length) {
                error = "the module took only " + std::to_string(after) + " of " + std::to_string(length) +
                        " bytes of " + name + ": is the disk full?";
                return false;
            }
            position += count;
            progress.TrackAdvance((position - track.firstFrame) * kFrameBytes);
        }
        if (!ended) {
            std::int32_t after = 0;
            if (deliver(0, 0, lastTrack, after) != 1) {
                error = "the module refused the end of " + name + " (SetData returned 0)";
                return false;
            }
        }
        if (!lastTrack) progress.TrackDone();
    }
    return true;
}

}  // namespace host
