#include "rip.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
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
        for (const std::string &path : track.finalPaths) {
            struct stat info;
            count += TrackToWrite(track) && stat(path.c_str(), &info) == 0;
        }
    }
    return count;
}

}  // namespace

bool OutputIsTheWav(const std::string &extension) { return extension == ".wav"; }

bool TrackToWrite(const RipTrack &track) { return track.selected && !track.resumed; }

int CountEncodersWriting(const EncbridgeToolTable &tools, const std::string &folder,
                         const std::vector<std::string> &extensions, int trackCount, std::time_t now) {
    int count = -1;
    for (const std::string &extension : extensions) {
        if (OutputIsTheWav(extension)) continue;
        if (count < 0) count = 0;
        for (int number = 1; number <= trackCount; ++number) {
            const std::string name = TemporaryName(tools, folder, number, extension);
            struct stat info;
            if (name.empty() || lstat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
            count += now - info.st_mtime <= kWritingSeconds;
        }
    }
    return count;
}

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
        record.marked = TrackToWrite(tracks[i]) ? 1 : 0;
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

namespace {

// What the delivery of one album works with.
struct Delivery {
    PluginModule &module;
    AudioImage &image;
    const std::vector<RipTrack> &tracks;
    const HostOptions &options;
    const std::function<int()> &encoders;
    Progress &progress;
    RipTimes &times;
    const std::atomic<int> &stop;
    Clock::time_point start;
    std::vector<std::uint8_t> piece;
    int expected;                 // the files that the tracks should give
    Clock::time_point counted{};  // when the encoders at work were last counted
};

// The bar is redrawn as often as pieces come, thousands a second: there the
// count is taken again only every tenth of a second (often), each a read of
// the journal.
void CountEncoders(Delivery &d, bool often = false) {
    const Clock::time_point now = Clock::now();
    if (often && now - d.counted < std::chrono::milliseconds(100)) return;
    d.counted = now;
    d.progress.SetEncoding(d.encoders());
}

// One SetData call with the bytes in piece. The album's last call returns
// only when the module's encoder worker has ended; while it waits, a second
// thread shows how long and how many files are ready.
std::int32_t Call(Delivery &d, std::int32_t length, std::int32_t boundary, bool lastOfAlbum, std::int32_t &after) {
    after = boundary;
    if (!lastOfAlbum) return d.module.setData(d.piece.data(), length, &after);
    CountEncoders(d);
    d.progress.TrackDone();
    d.times.delivering = Since(d.start);
    const Clock::time_point waitStart = Clock::now();
    std::atomic<bool> done(false);
    std::thread ticker([&]() {
        bool killed = false;
        while (!done.load()) {
            // The call returns only when the encoders are done, or at Kill.
            if (d.stop.load() != 0 && !killed) {
                killed = true;
                d.module.kill();
            }
            CountEncoders(d);
            d.progress.Waiting(Since(waitStart), CountExisting(d.tracks), d.expected);
            for (int i = 0; i < 4 && !done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::int32_t result = d.module.setData(d.piece.data(), length, &after);
    done.store(true);
    ticker.join();
    d.times.waiting = Since(waitStart);
    CountEncoders(d);
    d.progress.WaitDone(d.times.waiting, CountExisting(d.tracks), d.expected);
    return result;
}

// The last piece of a track as a drive reads it, running on into the next
// track where there is more audio; the boundary says where this track ends,
// and the rest is delivered again as the start of the next track.
bool EndByBoundary(Delivery &d, std::int64_t position, std::int64_t remaining, bool lastTrack, const std::string &name,
                   std::string &error) {
    const std::int64_t framesPerPiece = d.options.pieceSize / kFrameBytes;
    std::int64_t want = std::min(framesPerPiece, d.image.frames() - position);
    std::int64_t got = d.image.Read(position, want, d.piece.data());
    if (got < remaining) {
        error = "the image could not be read at " + name + ": " + d.image.failure();
        return false;
    }
    std::int32_t boundary = static_cast<std::int32_t>(remaining * kFrameBytes), after = 0;
    if (Call(d, static_cast<std::int32_t>(got * kFrameBytes), boundary, lastTrack, after) != 1) {
        error = "the module refused the last piece of " + name + " (SetData returned 0)";
        return false;
    }
    return true;
}

// Track i's audio in pieces, then its end.
bool DeliverTrack(Delivery &d, std::size_t i, std::string &error) {
    const ImageTrack &track = d.tracks[i].image;
    const bool lastTrack = i + 1 == d.tracks.size();
    const std::string name = "track " + std::to_string(track.number);
    const std::int64_t framesPerPiece = d.options.pieceSize / kFrameBytes;
    d.progress.TrackStart(track.number, d.tracks.back().image.number,
                          track.title.empty() ? d.tracks[i].fileName : track.title, !TrackToWrite(d.tracks[i]),
                          (track.endFrame - track.firstFrame) * kFrameBytes);
    for (std::int64_t position = track.firstFrame; position < track.endFrame;) {
        if (d.stop.load() != 0) {
            error = "stopped during " + name;
            return false;
        }
        std::int64_t remaining = track.endFrame - position;
        if (d.options.endBy == EndBy::Boundary && remaining <= framesPerPiece) {
            return EndByBoundary(d, position, remaining, lastTrack, name, error);
        }
        std::int64_t count = std::min(framesPerPiece, remaining);
        if (d.image.Read(position, count, d.piece.data()) != count) {
            error = "the image could not be read at " + name + ": " + d.image.failure();
            return false;
        }
        std::int32_t length = static_cast<std::int32_t>(count * kFrameBytes), after = 0;
        if (Call(d, length, 0, false, after) != 1) {
            error = "the module refused the audio of " + name +
                    " (SetData returned 0): the temporary file could not be written";
            return false;
        }
        if (after != length) {
            error = "the module took only " + std::to_string(after) + " of " + std::to_string(length) + " bytes of " +
                    name + ": is the disk full?";
            return false;
        }
        position += count;
        if (d.progress.Terminal()) CountEncoders(d, true);
        d.progress.TrackAdvance((position - track.firstFrame) * kFrameBytes);
    }
    std::int32_t after = 0;
    if (Call(d, 0, 0, lastTrack, after) != 1) {
        error = "the module refused the end of " + name + " (SetData returned 0)";
        return false;
    }
    return true;
}

}  // namespace

bool DeliverAlbum(PluginModule &module, AudioImage &image, const std::vector<RipTrack> &tracks,
                  const HostOptions &options, int outputsPerTrack, const std::function<int()> &encoders,
                  Progress &progress, RipTimes &times, const std::atomic<int> &stop, std::size_t &reached,
                  std::string &error) {
    Delivery d{
        module,   image, tracks, options,      encoders,
        progress, times, stop,   Clock::now(), std::vector<std::uint8_t>(static_cast<std::size_t>(options.pieceSize)),
        0};
    for (const RipTrack &track : tracks) d.expected += TrackToWrite(track) ? outputsPerTrack : 0;
    for (reached = 0; reached < tracks.size(); ++reached) {
        const std::size_t i = reached;
        if (!DeliverTrack(d, i, error)) {
            if (d.times.delivering == 0) d.times.delivering = Since(d.start);
            return false;
        }
        if (i + 1 != tracks.size()) {
            CountEncoders(d);
            progress.TrackDone();
        }
    }
    return true;
}

}  // namespace host
