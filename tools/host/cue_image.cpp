#include "cue_image.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "flac_cue.h"
#include "host_paths.h"

namespace host {

namespace {

// Larger than any cue sheet: a file this long was given by mistake.
constexpr std::int64_t kMaxCueBytes = 1 << 20;

bool IsFile(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// path with each of its parts that is missing as written matched, without
// regard to ASCII case, against the names in its folder. Empty when a part
// matches nothing.
std::string FindIgnoringCase(const std::string &path) {
    std::string found = path[0] == '/' ? "/" : "";
    std::size_t at = path[0] == '/' ? 1 : 0;
    while (at <= path.size()) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(at, slash - at);
        at = slash + 1;
        if (part.empty()) continue;
        std::string exact = found + part;
        struct stat info;
        if (lstat(exact.c_str(), &info) != 0) {
            DIR *folder = opendir(found.empty() ? "." : found.c_str());
            if (folder == nullptr) return std::string();
            std::string match;
            while (const dirent *entry = readdir(folder)) {
                if (strcasecmp(entry->d_name, part.c_str()) == 0) {
                    match = entry->d_name;
                    break;
                }
            }
            closedir(folder);
            if (match.empty()) return std::string();
            exact = found + match;
        }
        found = exact + (slash < path.size() ? "/" : "");
    }
    return IsFile(found) ? found : std::string();
}

std::string WithExtension(const std::string &path, const char *extension) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    bool hasOne = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasOne ? path.substr(0, dot) : path) + extension;
}

// The first index of a track, or null for a track without one.
const CueIndex *FirstIndex(const ImageTrack &track) { return track.indexes.empty() ? nullptr : &track.indexes.front(); }

// Silence that no file holds, placed at a position of a file: a POSTGAP
// (order 0) comes before the next track's PREGAP (order 1) at the same place.
struct Gap {
    int file;
    std::int64_t frame;
    int order;
    std::int64_t frames;
};

}  // namespace

bool FileHoldsAudio(const CueAlbum &album, int file) {
    for (const ImageTrack &track : album.tracks) {
        for (const CueIndex &index : track.indexes) {
            if (track.audio && index.file == file) return true;
        }
    }
    return false;
}

std::string FindAudioFile(const CueFile &file, const std::string &cueFolder, std::vector<std::string> &tried) {
    std::vector<std::string> bases = {file.path};
    std::size_t separator = file.named.find_last_of("/\\");
    if (separator != std::string::npos && cueFolder + file.named.substr(separator + 1) != file.path) {
        bases.push_back(cueFolder + file.named.substr(separator + 1));
    }
    std::vector<std::string> candidates = bases;
    for (const std::string &base : bases) {
        for (const char *extension : {".flac", ".wav", ".aiff", ".aif"}) {
            std::string other = WithExtension(base, extension);
            if (std::find(candidates.begin(), candidates.end(), other) == candidates.end()) {
                candidates.push_back(other);
            }
        }
    }
    for (const std::string &candidate : candidates) {
        tried.push_back(candidate);
        if (IsFile(candidate)) return candidate;
        std::string found = FindIgnoringCase(candidate);
        if (!found.empty()) return found;
    }
    return std::string();
}

bool FindAudioFiles(CueAlbum &album, const std::string &cueName, std::string &error) {
    for (std::size_t i = 0; i < album.files.size(); ++i) {
        CueFile &file = album.files[i];
        if (!FileHoldsAudio(album, static_cast<int>(i))) continue;
        std::vector<std::string> tried;
        std::string found = FindAudioFile(file, album.folder, tried);
        if (found.empty()) {
            std::string list;
            for (const std::string &name : tried) list += (list.empty() ? "" : ", ") + name;
            error = "there is no image at " + file.path + ", which " + cueName + " names (tried " + list +
                    ", each also without regard to case)";
            return false;
        }
        if (found != file.path) file.note = cueName + " names " + file.named + "; using " + found;
        file.path = found;
    }
    return true;
}

std::string FoundElsewhereNote(const CueAlbum &album) {
    std::string first;
    int more = 0;
    for (const CueFile &file : album.files) {
        if (file.note.empty()) continue;
        more += first.empty() ? 0 : 1;
        if (first.empty()) first = file.note;
    }
    return more == 0
               ? first
               : first + ", and " + std::to_string(more) + " more file(s) it names were found under other names too";
}

bool PlaceTracks(CueAlbum &album, const std::vector<std::int64_t> &fileFrames, std::string &error, GapMode gaps) {
    std::vector<ImageTrack> &tracks = album.tracks;
    const bool single = album.files.size() == 1;
    for (const ImageTrack &track : tracks) {
        for (const CueIndex &index : track.indexes) {
            const std::int64_t length = fileFrames[static_cast<std::size_t>(index.file)];
            const std::int64_t frame = static_cast<std::int64_t>(index.sector) * kFramesPerSector;
            if (!track.audio || (index.number == 1 ? frame < length : frame <= length)) continue;
            const std::string &named = album.files[static_cast<std::size_t>(index.file)].named;
            char number[8];
            std::snprintf(number, sizeof number, "%02d", index.number);
            error = "track " + std::to_string(track.number) +
                    (index.number == 1 ? std::string(" starts at ") : " has INDEX " + std::string(number) + " at ") +
                    SectorTime(index.sector) + (single ? "" : " in " + named) + ", but " +
                    (single ? "the image" : named) + " ends at " +
                    SectorTime(static_cast<long>(length / kFramesPerSector));
            return false;
        }
    }
    // An index of a data track may lie beyond the audio (the data of an
    // enhanced CD is in no audio file): it counts as the end of its file.
    auto frameOf = [&](const CueIndex &index) {
        return std::min(static_cast<std::int64_t>(index.sector) * kFramesPerSector,
                        std::max<std::int64_t>(fileFrames[static_cast<std::size_t>(index.file)], 0));
    };
    std::vector<Gap> silences;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const ImageTrack &track = tracks[i];
        const CueIndex *first = FirstIndex(track);
        if (first == nullptr) continue;
        if (track.pregapSectors > 0) {
            silences.push_back({first->file, frameOf(*first), 1, track.pregapSectors * kFramesPerSector});
        }
        if (track.postgapSectors > 0) {
            // After the track's audio: where the next track begins, or at
            // the end of its own file when the next is in no audio file.
            const CueIndex *next = i + 1 < tracks.size() ? FirstIndex(tracks[i + 1]) : nullptr;
            if (next && fileFrames[static_cast<std::size_t>(next->file)] < 0) next = nullptr;
            const int file = next ? next->file : track.indexes.back().file;
            silences.push_back({file, next ? frameOf(*next) : fileFrames[static_cast<std::size_t>(file)], 0,
                                track.postgapSectors * kFramesPerSector});
        }
    }
    std::stable_sort(silences.begin(), silences.end(), [](const Gap &a, const Gap &b) {
        return a.file != b.file ? a.file < b.file : a.frame != b.frame ? a.frame < b.frame : a.order < b.order;
    });

    album.timeline.clear();
    std::vector<std::int64_t> base(album.files.size(), -1);
    std::int64_t position = 0;
    for (std::size_t f = 0; f < album.files.size(); ++f) {
        if (fileFrames[f] < 0) continue;
        base[f] = position;
        std::int64_t from = 0;
        for (const Gap &gap : silences) {
            if (gap.file != static_cast<int>(f)) continue;
            if (gap.frame > from) album.timeline.push_back({static_cast<int>(f), from, gap.frame - from});
            album.timeline.push_back({-1, 0, gap.frames});
            from = std::max(from, gap.frame);
        }
        if (fileFrames[f] > from) album.timeline.push_back({static_cast<int>(f), from, fileFrames[f] - from});
        position = base[f] + fileFrames[f];
        for (const Gap &gap : silences) position += gap.file == static_cast<int>(f) ? gap.frames : 0;
    }
    // A position in a file, on the timeline: after the silence placed there.
    auto place = [&](int file, std::int64_t frame) {
        std::int64_t at = base[static_cast<std::size_t>(file)] + frame;
        for (const Gap &gap : silences) at += gap.file == file && gap.frame <= frame ? gap.frames : 0;
        return at;
    };
    auto start = [&](const ImageTrack &track) {
        for (const CueIndex &index : track.indexes) {
            if (index.number == 1) return place(index.file, frameOf(index));
        }
        return position;
    };

    // Where a track's gap begins: its first index, less its PREGAP silence.
    auto gapStart = [&](const ImageTrack &track) {
        const CueIndex &first = *FirstIndex(track);
        return place(first.file, frameOf(first)) - track.pregapSectors * kFramesPerSector;
    };

    std::vector<ImageTrack> audio;
    std::int64_t carried = -1;  // prepended: where the track before ended
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        ImageTrack track = tracks[i];
        if (!track.audio) continue;
        track.indexFrame = start(track);
        track.gapFrame = i == 0 ? 0 : gapStart(track);
        track.firstFrame = carried >= 0 ? carried : track.indexFrame;
        carried = -1;
        const ImageTrack *next = i + 1 < tracks.size() ? &tracks[i + 1] : nullptr;
        const CueIndex *nextFirst = next ? FirstIndex(*next) : nullptr;
        if (next && next->audio && gaps != GapMode::Append) {
            // A gap that a careless sheet starts before this track's INDEX 01
            // never runs back into it.
            track.endFrame = std::max(gapStart(*next), start(track));
            if (gaps == GapMode::Prepend) carried = track.endFrame;
        } else if (next && next->audio) {
            track.endFrame = start(*next);
        } else if (nextFirst && base[static_cast<std::size_t>(nextFirst->file)] >= 0) {
            // A data track ends the audio where it begins, before its own
            // pregap silence.
            track.endFrame = place(nextFirst->file, frameOf(*nextFirst)) - next->pregapSectors * kFramesPerSector;
        } else if (next) {
            const int file = track.indexes.back().file;
            track.endFrame = place(file, fileFrames[static_cast<std::size_t>(file)]);
        } else {
            track.endFrame = position;
        }
        if (track.endFrame <= track.firstFrame) {
            error =
                "track " + std::to_string(track.number) + " holds no audio: the track after it starts where it does";
            return false;
        }
        if (audio.empty()) {
            album.lead = ImageTrack();
            album.lead.number = 0;
            album.lead.title = album.hiddenTitle.empty() ? "Hidden track" : album.hiddenTitle;
            album.lead.performer = album.performer;
            album.lead.year = album.year;
            album.lead.comment = album.comment;
            album.lead.firstFrame = track.gapFrame;
            album.lead.endFrame = track.firstFrame;
        }
        audio.push_back(track);
    }
    tracks = audio;
    return true;
}

namespace {

// The kind of an audio file that is named where a cue sheet is expected,
// from its first bytes; null for anything else.
const char *AudioKind(std::istream &in) {
    char head[12] = {};
    in.read(head, sizeof head);
    if (in.gcount() < 12) return nullptr;
    if ((std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0) &&
        std::memcmp(head + 8, "WAVE", 4) == 0) {
        return "a WAV";
    }
    if (std::memcmp(head, "FORM", 4) == 0 &&
        (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0)) {
        return "an AIFF";
    }
    return nullptr;
}

// The host delivers what the image holds: a track mastered with
// pre-emphasis stays so, and the user is told which ones are; so is each
// value of the sheet that was dropped. Always true.
bool NotePreEmphasis(const CueAlbum &album, std::vector<std::string> &notes) {
    notes.insert(notes.end(), album.notes.begin(), album.notes.end());
    for (const ImageTrack &track : album.tracks) {
        if (track.preEmphasis) {
            notes.push_back("track " + std::to_string(track.number) +
                            " is marked pre-emphasised (FLAGS PRE); its audio is delivered unchanged, without "
                            "de-emphasis");
        }
    }
    return true;
}

}  // namespace

bool ReadCueSheet(const std::string &path, const std::string &charset, CueAlbum &album, std::vector<std::string> &notes,
                  std::string &error) {
    std::ifstream in;
    bool notRegular = false;
    if (!OpenRegularStream(path, in, notRegular)) {
        const int reason = errno;
        struct stat info;
        const bool folder = notRegular && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        error = folder             ? path + " is a folder; " + kWhatTheHostTakes + ": name the sheet in it"
                : notRegular       ? path + " is not a regular file (a FIFO, a folder or a device); name the cue sheet"
                : reason == ENOENT ? "no cue sheet at " + path
                                   : "cannot read the cue sheet " + path + ": " + std::strerror(reason);
        return false;
    }
    const char *audio = AudioKind(in);
    if (audio != nullptr) {
        error = path + " is " + audio + " file with no cue sheet; " + kWhatTheHostTakes +
                ": write one beside it (FILE \"name\" WAVE, TRACK 01 AUDIO, INDEX 01 00:00:00)";
        return false;
    }
    in.clear();
    in.seekg(0);
    if (IsFlacFile(in))
        return ReadEmbeddedCueSheet(path, charset, album, notes, error) && NotePreEmphasis(album, notes);
    in.clear();
    in.seekg(0, std::ios::end);
    if (static_cast<std::int64_t>(in.tellg()) > kMaxCueBytes) {
        error = path + " is not a valid cue sheet: it is larger than 1 MiB";
        return false;
    }
    in.clear();
    in.seekg(0);
    std::stringstream content;
    content << in.rdbuf();
    std::string text, note;
    if (!DecodeCueText(content.str(), charset, path, text, note, error)) return false;
    if (!note.empty()) notes.push_back(note);
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return ParseCueText(text, folder, path, album, error) && NotePreEmphasis(album, notes);
}

AudioFile::~AudioFile() {
    if (file_) sf_close(file_);
}

bool AudioFile::Open(const std::string &path, std::string &error) {
    bool notRegular = false;
    const int fd = OpenRegularFile(path, notRegular);
    if (fd < 0) {
        error = "there is no image at " + path + (notRegular ? ": it is not a regular file" : "");
        return false;
    }
    path_ = path;
    SF_INFO info = {};
    // libsndfile closes the copy it is given, even when it cannot read it;
    // the other decoder gets the file itself.
    const int copy = dup(fd);
    file_ = copy < 0 ? nullptr : sf_open_fd(copy, SFM_READ, &info, SF_TRUE);
    const std::string sndfileWords = copy < 0 ? std::strerror(errno) : sf_strerror(nullptr);
    int major = info.format & SF_FORMAT_TYPEMASK;
    if (file_ == nullptr || (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64 &&
                             major != SF_FORMAT_W64 && major != SF_FORMAT_FLAC && major != SF_FORMAT_AIFF)) {
        SF_FORMAT_INFO name = {};
        name.format = major;
        if (file_ != nullptr) sf_command(nullptr, SFC_GET_FORMAT_INFO, &name, sizeof name);
        if (file_ != nullptr) sf_close(file_);
        file_ = nullptr;
        return OpenDecoded(fd, name.name ? std::string("it is ") + name.name : sndfileWords, error);
    }
    close(fd);
    int subtype = info.format & SF_FORMAT_SUBMASK;
    if (info.samplerate != 44100 || info.channels != 2 || subtype != SF_FORMAT_PCM_16) {
        SF_FORMAT_INFO name = {};
        name.format = subtype;
        sf_command(nullptr, SFC_GET_FORMAT_INFO, &name, sizeof name);
        error = "the image " + path + " is not CD audio: " + std::to_string(info.samplerate) + " Hz, " +
                std::to_string(info.channels) + " channel(s), " + (name.name ? name.name : "unknown sample format") +
                "; " + kCdAudio;
        return false;
    }
    frames_ = info.frames;
    // A FLAC stream may leave its length unknown (0 samples in STREAMINFO,
    // which libsndfile gives as the largest count): it is decoded to its end.
    if (major == SF_FORMAT_FLAC && (frames_ <= 0 || frames_ == SF_COUNT_MAX)) {
        frames_ = 0;
        std::vector<short> samples(2 * 4096);
        for (sf_count_t read; (read = sf_readf_short(file_, samples.data(), 4096)) > 0;) frames_ += read;
        if (sf_seek(file_, 0, SEEK_SET) != 0) {
            error = "cannot read the image " + path + ": its length is unknown, and it cannot be read again";
            return false;
        }
    }
    return true;
}

bool AudioFile::OpenDecoded(int fd, const std::string &sndfileWords, std::string &error) {
    decoded_.reset(new AvAudio());
    std::string reason, notCd;
    if (decoded_->Open(fd, reason, notCd)) {
        frames_ = decoded_->frames();
        return true;
    }
    // What libsndfile said of a file it knows but does not take is more
    // telling than that the other decoder does not know it.
    if (reason == kNotReadHere && sndfileWords.rfind("it is ", 0) == 0) reason = sndfileWords;
    error = notCd.empty()
                ? "cannot read the image " + path_ + ": " + reason + "; the host reads " + kImageFormats + " images"
                : "the image " + path_ + " is not CD audio: " + notCd + "; " + kCdAudio;
    return false;
}

std::int64_t AudioFile::Read(std::int64_t frame, std::int64_t count, std::uint8_t *out) {
    if (decoded_) return decoded_->Read(frame, count, out);
    if (frame != position_) {
        if (sf_seek(file_, frame, SEEK_SET) < 0) return 0;
        position_ = frame;
    }
    samples_.resize(static_cast<std::size_t>(count) * 2);
    sf_count_t read = sf_readf_short(file_, samples_.data(), count);
    if (read < 0) read = 0;
    position_ += read;
    for (sf_count_t i = 0; i < read * 2; ++i) {
        auto sample = static_cast<std::uint16_t>(samples_[static_cast<std::size_t>(i)]);
        out[2 * i] = static_cast<std::uint8_t>(sample & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(sample >> 8);
    }
    return read;
}

std::string AudioFile::Failure(std::int64_t frame) const {
    const int code = decoded_ ? SF_ERR_NO_ERROR : sf_error(file_);
    const std::string words = decoded_ ? decoded_->reason() : code != SF_ERR_NO_ERROR ? sf_strerror(file_) : "";
    return path_ + " could not be read beyond " + SectorTime(static_cast<long>(frame / kFramesPerSector)) + " of its " +
           SectorTime(static_cast<long>(frames_ / kFramesPerSector)) + ": " +
           (words.empty() ? "the decoder found no more audio there" : words);
}

bool AudioImage::Open(const CueAlbum &album, std::string &error) {
    files_.clear();
    for (std::size_t i = 0; i < album.files.size(); ++i) {
        files_.emplace_back();
        if (!FileHoldsAudio(album, static_cast<int>(i))) continue;
        files_.back().reset(new AudioFile());
        if (!files_.back()->Open(album.files[i].path, error)) return false;
    }
    return true;
}

std::vector<std::int64_t> AudioImage::fileFrames() const {
    std::vector<std::int64_t> frames;
    for (const auto &file : files_) frames.push_back(file ? file->frames() : -1);
    return frames;
}

void AudioImage::SetTimeline(const std::vector<Stretch> &timeline) {
    timeline_ = timeline;
    frames_ = 0;
    for (const Stretch &stretch : timeline_) frames_ += stretch.count;
}

std::int64_t AudioImage::Read(std::int64_t frame, std::int64_t count, std::uint8_t *out) {
    std::int64_t read = 0;
    std::int64_t start = 0;
    for (const Stretch &stretch : timeline_) {
        if (read == count) break;
        const std::int64_t at = frame + read;
        if (at >= start + stretch.count) {
            start += stretch.count;
            continue;
        }
        const std::int64_t want = std::min(count - read, start + stretch.count - at);
        std::uint8_t *to = out + read * kFrameBytes;
        if (stretch.file < 0) {
            std::fill(to, to + want * kFrameBytes, 0);
        } else {
            AudioFile &file = *files_[static_cast<std::size_t>(stretch.file)];
            const std::int64_t got = file.Read(stretch.first + at - start, want, to);
            if (got != want) {
                failure_ = file.Failure(stretch.first + at - start + got);
                return read;
            }
        }
        read += want;
        start += stretch.count;
    }
    return read;
}

bool PlaceFirstPregap(CueAlbum &album, AudioImage &image, FirstPregap mode, std::string &note, std::string &error) {
    note.clear();
    const ImageTrack &lead = album.lead;
    if (lead.endFrame <= lead.firstFrame || album.tracks.empty()) return true;
    bool silent = true;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(75 * kFramesPerSector * kFrameBytes));
    for (std::int64_t at = lead.firstFrame; silent && at < lead.endFrame;) {
        const std::int64_t count = std::min<std::int64_t>(75 * kFramesPerSector, lead.endFrame - at);
        if (image.Read(at, count, piece.data()) != count) {
            error = "the image could not be read before track " + std::to_string(album.tracks.front().number) + ": " +
                    image.failure();
            return false;
        }
        const auto end = piece.begin() + count * kFrameBytes;
        silent = std::all_of(piece.begin(), end, [](std::uint8_t byte) { return byte == 0; });
        at += count;
    }
    char what[160];
    std::snprintf(what, sizeof what, "%.2f s of %s before track %d", (lead.endFrame - lead.firstFrame) / 44100.0,
                  silent ? "digital silence" : "audio", album.tracks.front().number);
    // Audio is joined to track 1 unless the user asks for a track 0: on the
    // disc it is track 1's own index 0, and the module numbers the records it
    // is handed from 1, so a track 0 would put every tag one ahead of the sheet.
    if (mode == FirstPregap::Join || (mode == FirstPregap::Auto && !silent)) {
        album.tracks.front().firstFrame = lead.firstFrame;
        note = std::string(what) + " is joined to it" +
               (mode == FirstPregap::Auto
                    ? ", so that every track keeps the sheet's number; --first-pregap=track or drop changes that"
                    : " (--first-pregap=join)");
    } else if (mode == FirstPregap::Drop) {
        note = std::string(what) + " is dropped (--first-pregap=drop)";
    } else if (mode == FirstPregap::Auto) {
        note = std::string(what) + " is dropped; --first-pregap=track or join keeps it";
    } else {
        album.tracks.insert(album.tracks.begin(), lead);
        note = std::string(what) + " is written as track 0, \"" + lead.title + "\"";
    }
    return true;
}

}  // namespace host
