// Arbitrary sequences of Create, SetData and Kill, as a careless or hostile
// host could make them: records with any texts (without a NUL in their
// width, too), any track counts and marks, settings files with any content,
// any header and any lengths and boundaries. The encoder is the harmless
// fuzz_encoder, which writes only inside the output folder.
//
// The output folder may hold, before a Create, what a hostile or unlucky
// folder holds under the module's temporary names: links to a file outside
// the folder, links that lead nowhere, another name of an outside file,
// FIFOs, leftovers of earlier rips, empty files.
//
// After every call the target checks what a host can see: the result and
// the boundary that a model of the rip predicts, nothing touched outside the
// output folder (the file behind the links included), at most the track
// file and the rip's lock file of the sandbox held open, none once the rip
// is over, and nothing written while no rip runs. When an album is
// complete, every processed track whose file was opened is there, as its
// temporary WAV file or as its final file, holding exactly the audio that
// was delivered for it, whatever leftover lay under its names.
//
// The module's state is read only to learn which track is current and
// whether its file is open; everything checked is what a host sees.
#include <dirent.h>
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_check.h"
#include "interface/plugin_interface.h"
#include "interface/rip_state.h"
#include "platform/format.h"
#include "settings/plugin_settings.h"
#include "settings/profile_reader.h"

using namespace encbridge;

namespace {

// The module's rip, which the checks look inside.
RipSide &rip = RipSideForTests();

using Bytes = std::vector<std::uint8_t>;

// The output folder lies this many levels below the sandbox's root, so that
// a name that climbs out of it lands where the snapshot sees it.
constexpr int kLevelsAboveOutput = 3;

struct Sandbox {
    std::string root;      // with a trailing "/"
    std::string output;    // root + "l1/l2/out/"
    std::string settings;  // root + "l1/cfg/": settings files and "enc"
    std::string encoder;   // the fuzz encoder, by its absolute path
    std::string victim;    // a file outside the output folder, behind links
    std::string ghost;     // where links that lead nowhere lead
};

Sandbox sandbox;

void RemoveTree(const std::string &path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        if (DIR *dir = opendir(path.c_str())) {
            while (dirent *entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") RemoveTree(path + "/" + name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void RemoveSandbox() {
    if (!sandbox.root.empty()) RemoveTree(sandbox.root.substr(0, sandbox.root.size() - 1));
}

void EmptyOutputFolder() {
    if (DIR *dir = opendir(sandbox.output.c_str())) {
        while (dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") RemoveTree(sandbox.output + name);
        }
        closedir(dir);
    }
}

// Every entry under a folder with its type, size and time of change; the
// output folder is left out unless it is the folder itself.
using Snapshot = std::map<std::string, std::tuple<unsigned, long long, long long>>;

void Walk(const std::string &folder, const std::string &skip, Snapshot &snapshot) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folder + name;
        if (path + "/" == skip) continue;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        snapshot[path] =
            std::make_tuple(static_cast<unsigned>(info.st_mode), static_cast<long long>(info.st_size),
                            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec);
        if (S_ISDIR(info.st_mode)) Walk(path + "/", skip, snapshot);
    }
    closedir(dir);
}

Snapshot OutsideOutput() {
    Snapshot snapshot;
    Walk(sandbox.root, sandbox.output, snapshot);
    return snapshot;
}

Snapshot InsideOutput() {
    Snapshot snapshot;
    Walk(sandbox.output, "", snapshot);
    return snapshot;
}

// Descriptors of this process that lead into the sandbox.
// The files below the sandbox that this process holds open; guards counts
// those of them that are finished WAV files held read-only while their
// encoders run.
int OpenSandboxFiles(int *guards = nullptr) {
    int count = 0;
    if (guards != nullptr) *guards = 0;
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (dirent *entry = readdir(dir)) {
        char target[PATH_MAX];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0) continue;
        const std::string name(target, static_cast<std::size_t>(length));
        if (name.compare(0, sandbox.root.size(), sandbox.root) != 0) continue;
        ++count;
        std::ifstream info(std::string("/proc/self/fdinfo/") + entry->d_name);
        std::string key;
        unsigned flags = 0;
        while (info >> key && key != "flags:") info.ignore(4096, '\n');
        info >> std::oct >> flags;
        const bool wav = name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0;
        if (guards != nullptr && wav && (flags & O_ACCMODE) == O_RDONLY) ++*guards;
    }
    closedir(dir);
    return count;
}

Bytes ReadWhole(const std::string &path) {
    Bytes bytes;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    std::uint8_t chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + count);
    std::fclose(file);
    return bytes;
}

bool Exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Whether a name relative to the output folder stays within the sandbox,
// taking it apart as the file system does (there are no links in it).
bool StaysInSandbox(const std::string &relative) {
    int depth = 0;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        const std::string part = relative.substr(start, end - start);
        if (part == "..") {
            if (--depth < -kLevelsAboveOutput) return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, BoundedLength(field));
}

// Fills a text field: empty, a given text, a text from the input, or the
// whole width without a NUL.
template <std::size_t N>
void FillText(FuzzedDataProvider &data, char (&field)[N], const std::string &usual) {
    std::memset(field, 0, N);
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            std::memcpy(field, usual.data(), std::min(usual.size(), N - 1));
            break;
        case 1: {
            const std::string text = data.ConsumeRandomLengthString(N);
            std::memcpy(field, text.data(), text.size());
            break;
        }
        case 2:
            std::memset(field, data.ConsumeIntegralInRange<int>(1, 255), N);
            break;
        default:
            break;
    }
}

bool IsProcessedRecord(const TrackInfo &track) { return track.status == 1 && track.marked != 0; }

// What the target knows of an album that it handed to Create.
struct Album {
    std::unique_ptr<AlbumInfo> info;
    std::unique_ptr<TrackInfo[]> tracks;
    std::int32_t count = 0;
    std::int32_t headerLength = 0;  // as written at the start of every file
    std::vector<Bytes> audio;       // delivered per track while its file was open
    std::vector<bool> opened;
};

// The albums of one input live until its end: the host keeps its records
// valid until the worker has ended and Kill has returned.
std::vector<std::unique_ptr<Album>> albums;
Album *active = nullptr;  // the album of the rip that runs, if any
std::uint32_t audioCounter = 0;

std::int32_t CurrentTrack() { return rip.shared.finishedTracks.load(std::memory_order_relaxed); }
bool FileOpen() { return rip.trackFile != nullptr; }

void NoteOpenedTrack() {
    if (active == nullptr) return;
    const std::int32_t current = CurrentTrack();
    if (FileOpen() && current >= 0 && current < active->count) active->opened[current] = true;
}

// Whether the temporary WAV name of track index fits into its 260 bytes.
bool TempNameFits(const Album &album, std::int32_t index) {
    char number[16];
    std::snprintf(number, sizeof number, "(%02d)", index + 1);
    return BoundedLength(album.info->outputFolder) + std::strlen("#temp") + std::strlen(number) + 4 <= 259;
}

// Whether the rip's lock file's name fits; it is no longer than a WAV name.
bool LockNameFits(const Album &album) {
    return BoundedLength(album.info->outputFolder) + std::strlen("#ripping.lock") <= 259;
}

// Whether the file of track index can be opened: its name fits, and
// whatever lies under it now can be moved aside to a kept name that fits
// (an empty plain file is removed instead). To be asked before the call.
bool TrackFileOpens(const Album &album, std::int32_t index) {
    if (!TempNameFits(album, index)) return false;
    const std::string folder = FieldText(album.info->outputFolder);
    char name[48];
    std::snprintf(name, sizeof name, "#temp(%02d).wav", index + 1);
    struct stat info;
    if (lstat((folder + name).c_str(), &info) != 0) return true;
    if (S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_size == 0) return true;
    for (int copy = 1;; ++copy) {
        std::snprintf(name, sizeof name, "#kept(%02d)-%d.wav", index + 1, copy);
        if (folder.size() + std::strlen(name) > 259) return false;
        if (lstat((folder + name).c_str(), &info) != 0) return true;
    }
}

// Puts what a hostile or unlucky folder holds under the temporary names of
// the first tracks, WAV and output alike.
void FillOutputFolder(FuzzedDataProvider &data, const std::string &extension) {
    const int entries = data.ConsumeIntegralInRange<int>(0, 3);
    for (int e = 0; e < entries; ++e) {
        char base[32];
        std::snprintf(base, sizeof base, "#temp(%02d)", data.ConsumeIntegralInRange<int>(1, 3));
        const bool output = data.ConsumeBool();
        if (output && (extension.find('/') != std::string::npos || extension.size() > 64)) continue;
        const std::string path = sandbox.output + base + (output ? extension : ".wav");
        struct stat info;
        if (lstat(path.c_str(), &info) == 0) continue;
        switch (data.ConsumeIntegralInRange<int>(0, 5)) {
            case 0:
                CHECK(symlink(sandbox.victim.c_str(), path.c_str()) == 0);
                break;
            case 1:
                CHECK(symlink(sandbox.ghost.c_str(), path.c_str()) == 0);
                break;
            case 2:
                CHECK(link(sandbox.victim.c_str(), path.c_str()) == 0);
                break;
            case 3:
                CHECK(mkfifo(path.c_str(), 0600) == 0);
                break;
            default: {
                std::FILE *file = std::fopen(path.c_str(), "wb");
                CHECK(file != nullptr);
                if (data.ConsumeBool()) std::fputs("a leftover of another album", file);
                CHECK(std::fclose(file) == 0);
                break;
            }
        }
    }
}

// The file a track ended up in holds the header, then exactly the audio
// delivered for it; the fuzz encoder's output has "ENC" in front of that.
bool HoldsTrack(const std::string &path, const Album &album, const Bytes &audio) {
    if (!Exists(path)) return false;
    const Bytes content = ReadWhole(path);
    const std::size_t expected = static_cast<std::size_t>(album.headerLength) + audio.size();
    if (content.size() != expected && content.size() != expected + 3) return false;
    return std::equal(audio.begin(), audio.end(), content.end() - static_cast<std::ptrdiff_t>(audio.size()));
}

// The last delivery of an album has returned, so the worker has ended.
void CheckCompleteAlbum(const Album &album) {
    const std::string folder = FieldText(album.info->outputFolder);
    for (std::int32_t i = 0; i < album.count; ++i) {
        if (!album.opened[i]) continue;
        char base[32];
        std::snprintf(base, sizeof base, "#temp(%02d)", i + 1);
        const std::string wav = folder + base + ".wav";
        // The WAV goes only once every output holds the track.
        bool everyOutput = true;
        std::string final;
        for (std::int32_t o = 0; o < rip.shared.settings.outputCount; ++o) {
            const auto &extension = rip.shared.settings.outputs[o].outputExtension;
            final = folder + FieldText(album.tracks[i].fileName) +
                    std::string(extension, BoundedLength(extension, sizeof extension));
            everyOutput = everyOutput && final.size() <= 259 && HoldsTrack(final, album, album.audio[i]);
        }
        const bool kept = HoldsTrack(wav, album, album.audio[i]) || everyOutput;
        if (!kept)
            std::fprintf(stderr, "track %d of %d lost: neither %s nor every output such as %s\n", i + 1, album.count,
                         wav.c_str(), final.c_str());
        CHECK(kept);
    }
}

// ---- Create --------------------------------------------------------------

enum class EncoderChoice { Absolute, Relative, True, False, Missing, Denied, Empty, kCount };

struct SettingsFile {
    const char *path;  // null, or a file or folder in the sandbox
    bool encoderUsable;
    std::string extension;
    std::string secondExtension;  // empty: one output
};

// Whether the text names a key of an output or an album step anywhere but
// where the input put it.
bool NamesOtherOutputKeys(const ProfileReader &reader, bool second) {
    static const char *const kKeys[] = {"OUT", "EXEPATH", "COMMAND", "WIN_HIDE", "ALBUM_EXEPATH", "ALBUM_COMMAND"};
    char value[16];
    for (int number = second ? 3 : 2; number <= kMostOutputs; ++number) {
        const std::string section = "OUTPUT" + std::to_string(number);
        for (const char *key : kKeys) {
            if (reader.GetString(section.c_str(), key, "\x7f", value, sizeof value) != 1 || value[0] != '\x7f') {
                return true;
            }
        }
    }
    for (const char *key : {"ALBUM_EXEPATH", "ALBUM_COMMAND"}) {
        if (reader.GetString("OPTION", key, "\x7f", value, sizeof value) != 1 || value[0] != '\x7f') return true;
    }
    return false;
}

// Writes a settings file from the input, or picks a path that is no file.
// False when the file could name an encoder other than a harmless one.
bool MakeSettings(FuzzedDataProvider &data, SettingsFile &result) {
    static std::string path, missing, folder;
    path = sandbox.settings + "encbridge.ini";
    missing = sandbox.settings + "missing.ini";
    folder = sandbox.settings;
    // Choices are ordered so that an input running out of bytes (which
    // reads as zeros) makes the usual rip.
    switch (data.ConsumeIntegralInRange<int>(0, 15)) {
        case 13:
            result = {nullptr, false, "", ""};
            return true;
        case 14:
            result = {missing.c_str(), false, ".wav", ""};
            return true;
        case 15:
            result = {folder.c_str(), false, ".wav", ""};
            return true;
        default:
            break;
    }
    const int pick = data.ConsumeIntegralInRange<int>(0, 2 * static_cast<int>(EncoderChoice::kCount) - 1);
    const auto choice = static_cast<EncoderChoice>(pick < static_cast<int>(EncoderChoice::kCount) ? 0 : pick % 7);
    std::string encoder;
    switch (choice) {
        case EncoderChoice::Absolute:
            encoder = sandbox.encoder;
            break;
        case EncoderChoice::Relative:
            encoder = "enc";
            break;
        case EncoderChoice::True:
            encoder = "/bin/true";
            break;
        case EncoderChoice::False:
            encoder = "/bin/false";
            break;
        case EncoderChoice::Missing:
            encoder = "no-such-encoder";
            break;
        case EncoderChoice::Denied:
            encoder = kEncoderNotConfigured;
            break;
        default:
            break;
    }
    const std::string before = data.ConsumeBool() ? data.ConsumeRandomLengthString(64) : "";
    const std::string extension = data.ConsumeBool() ? data.ConsumeRandomLengthString(300) : ".mp3";
    const std::string command = data.ConsumeBool() ? data.ConsumeRandomLengthString(300) : "%i% %o%";
    const std::string remove = data.ConsumeBool() ? data.ConsumeRandomLengthString(12) : "1";
    const std::string hide = data.ConsumeBool() ? data.ConsumeRandomLengthString(12) : "1";
    // Several encoders at once, or one (no JOBS line, as most files have).
    const int jobs = data.ConsumeIntegralInRange<int>(-1, 4);
    const std::string after = data.ConsumeBool() ? data.ConsumeRandomLengthString(64) : "";
    // A second output, with an album step that runs a harmless program.
    const bool second = data.ConsumeBool();
    const std::string secondExtension = second && data.ConsumeBool() ? data.ConsumeRandomLengthString(40) : ".ogg";
    const bool albumStep = second && data.ConsumeBool();
    // A journal in the output folder now and then.
    const bool journal = data.ConsumeBool();
    const std::string text =
        before + "[SETUP]\nOUT=" + extension + "\n[OPTION]\nCOMMAND=" + command + "\nDELETE=" + remove +
        "\nEXEPATH=" + encoder + "\nWIN_HIDE=" + hide + "\n" + (jobs < 0 ? "" : "JOBS=" + std::to_string(jobs) + "\n") +
        (journal ? "LOG=journal.log\n" : "") + after +
        (second ? "\n[OUTPUT2]\nOUT=" + secondExtension + "\nEXEPATH=" + sandbox.encoder + "\nCOMMAND=%i% %o%\n" +
                      (albumStep ? "ALBUM_EXEPATH=/bin/true\nALBUM_COMMAND=%dir% %files%\n" : "")
                : "");
    std::FILE *file = std::fopen(path.c_str(), "wb");
    CHECK(file != nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    CHECK(std::fclose(file) == 0);

    // The module reads the file through the same reader: whatever the text
    // around it, the encoder it names must be the one chosen, or none.
    ProfileReader reader(path.c_str());
    char value[260] = {};
    reader.GetString("OPTION", "EXEPATH", kEncoderNotConfigured, value, 255);
    const bool denied = std::strcmp(value, kEncoderNotConfigured) == 0;
    if (!denied && encoder != value) return false;
    char extensionValue[256] = {};
    reader.GetString("SETUP", "OUT", ".wav", extensionValue, 256);
    result.path = path.c_str();
    result.encoderUsable = !denied && (choice == EncoderChoice::Absolute || choice == EncoderChoice::Relative ||
                                       choice == EncoderChoice::True || choice == EncoderChoice::False);
    result.extension = extensionValue;
    result.secondExtension.clear();
    if (NamesOtherOutputKeys(reader, second)) return false;
    // A journal elsewhere than in the output folder is the user's to name,
    // never the input's: it would be written outside the sandbox.
    char journalName[260] = {};
    reader.GetString("OPTION", "LOG", "", journalName, sizeof journalName);
    if (journalName[0] == '/') return false;
    if (second) {
        reader.GetString("OUTPUT2", "EXEPATH", "", value, 255);
        if (sandbox.encoder != value) return false;
        char secondValue[256] = {};
        reader.GetString("OUTPUT2", "OUT", "", secondValue, 256);
        result.secondExtension = secondValue;
        // Outputs that would write one file, or one that is the WAV the
        // other reads, are refused.
        result.encoderUsable = result.encoderUsable && secondValue[0] != '\0' &&
                               strcasecmp(secondValue, extensionValue) != 0 && strcasecmp(secondValue, ".wav") != 0 &&
                               strcasecmp(extensionValue, ".wav") != 0;
    }
    return true;
}

std::unique_ptr<Album> MakeAlbum(FuzzedDataProvider &data) {
    std::unique_ptr<Album> album(new Album);
    album->info.reset(new AlbumInfo());
    AlbumInfo &info = *album->info;
    std::int32_t count;
    bool withRecords = true;
    switch (data.ConsumeIntegralInRange<int>(0, 9)) {
        case 7:
            count = data.ConsumeIntegralInRange<std::int32_t>(INT_MIN, -1);
            withRecords = data.ConsumeBool();
            break;
        case 8:
            count = data.ConsumeIntegralInRange<std::int32_t>(1, INT_MAX);
            withRecords = false;
            break;
        case 9:
            count = data.ConsumeIntegralInRange<std::int32_t>(95, 105);
            break;
        default:
            count = 2 - data.ConsumeIntegralInRange<std::int32_t>(-4, 2);
            break;
    }
    info.trackCount = count;
    album->count = count;
    const std::size_t records = count > 0 && withRecords ? static_cast<std::size_t>(count) : 0;
    // Exactly as many records as the count says, so that reading past the
    // last one is caught.
    if (withRecords) album->tracks.reset(new TrackInfo[records == 0 ? 1 : records]());
    info.tracks = withRecords ? album->tracks.get() : nullptr;

    // The output folder: the sandbox's, with a name part of any bytes but
    // "/" behind it (a host's folder ends with its separator), or a text
    // that fills the field.
    std::string folder = sandbox.output;
    if (data.ConsumeBool()) {
        for (char c : data.ConsumeRandomLengthString(300)) {
            if (c != '/' && c != '\0') folder += c;
        }
    }
    std::memset(info.outputFolder, 0, sizeof info.outputFolder);
    if (data.ConsumeIntegralInRange<int>(0, 15) == 15) {
        std::memset(info.outputFolder, 'x', sizeof info.outputFolder);
        std::memcpy(info.outputFolder, folder.data(), folder.size());
    } else {
        std::memcpy(info.outputFolder, folder.data(), std::min(folder.size(), sizeof info.outputFolder - 1));
    }
    FillText(data, info.albumTitle, "Album");
    FillText(data, info.albumArtist, "Artist");
    FillText(data, info.albumComment, "");

    for (std::size_t i = 0; i < records; ++i) {
        TrackInfo &track = album->tracks[i];
        switch (data.ConsumeIntegralInRange<int>(0, 5)) {
            case 4:
                track.status = 1;
                track.marked = 0;
                break;
            case 5:
                track.status = data.ConsumeIntegral<std::int32_t>();
                track.marked = data.ConsumeIntegral<std::uint8_t>();
                break;
            default:
                track.status = 1;
                track.marked = 1;
                break;
        }
        char usual[32];
        std::snprintf(usual, sizeof usual, "%02zu Track", i + 1);
        FillText(data, track.fileName, usual);
        if (data.ConsumeBool()) {
            FillText(data, track.extraText, "");
            FillText(data, track.title, "Title");
            FillText(data, track.artist, "Artist");
            FillText(data, track.year, "2001");
            FillText(data, track.album, "Album");
            FillText(data, track.comment, "");
        }
    }
    album->headerLength = 0;
    album->audio.resize(records);
    album->opened.resize(album->audio.size());
    return album;
}

// A header built from the input: none, arbitrary bytes, or RIFF/WAVE with
// chunks of any sizes.
struct Header {
    Bytes bytes;
    bool null = true;
    std::int32_t length = 0;
    const std::uint8_t *pointer() const { return null ? nullptr : (bytes.empty() ? &empty : bytes.data()); }
    static const std::uint8_t empty;
};
const std::uint8_t Header::empty = 0;

Header MakeHeader(FuzzedDataProvider &data) {
    Header header;
    auto put = [&](const char *text) { header.bytes.insert(header.bytes.end(), text, text + 4); };
    auto number = [&](std::uint32_t value) {
        for (int i = 0; i < 4; ++i) header.bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    switch (data.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
        case 1:
            header.length = data.ConsumeBool() ? data.ConsumeIntegral<std::int32_t>() : 0;
            return header;
        case 2: {
            const std::string bytes = data.ConsumeRandomLengthString(300);
            header.bytes.assign(bytes.begin(), bytes.end());
            break;
        }
        case 3: {
            put("RIFF");
            number(data.ConsumeIntegral<std::uint32_t>());
            put("WAVE");
            const int chunks = data.ConsumeIntegralInRange<int>(0, 4);
            for (int i = 0; i < chunks; ++i) {
                put(data.ConsumeBool() ? "data" : "fmt ");
                number(data.ConsumeIntegralInRange<std::uint32_t>(0, 64));
                const std::string body = data.ConsumeRandomLengthString(40);
                header.bytes.insert(header.bytes.end(), body.begin(), body.end());
            }
            break;
        }
        case 4:
            header.null = false;
            header.length = data.ConsumeIntegralInRange<std::int32_t>(INT_MIN, -1);
            return header;
        default:
            break;  // a header of no bytes
    }
    header.null = false;
    header.length = static_cast<std::int32_t>(header.bytes.size());
    return header;
}

void DoCreate(FuzzedDataProvider &data) {
    std::unique_ptr<Album> album;
    if (data.ConsumeIntegralInRange<int>(0, 15) != 15) album = MakeAlbum(data);
    SettingsFile settingsFile{};
    if (!MakeSettings(data, settingsFile)) return;
    const Header header = MakeHeader(data);

    // Names that would climb out of the sandbox are not given to the module:
    // it must keep even names that climb less far inside the output folder.
    if (album) {
        const std::string folder = FieldText(album->info->outputFolder);
        const std::string prefix = folder.compare(0, sandbox.output.size(), sandbox.output) == 0
                                       ? folder.substr(sandbox.output.size())
                                       : folder;
        if (!StaysInSandbox(prefix + "#temp(01)" + settingsFile.extension)) return;
        if (!StaysInSandbox(prefix + "#temp(01)" + settingsFile.secondExtension)) return;
        for (std::int32_t i = 0; i < album->count && album->tracks; ++i) {
            TrackInfo &track = album->tracks[i];
            if (!StaysInSandbox(prefix + FieldText(track.fileName) + settingsFile.extension) ||
                !StaysInSandbox(prefix + FieldText(track.fileName) + settingsFile.secondExtension)) {
                std::memset(track.fileName, 0, sizeof track.fileName);
                std::strcpy(track.fileName, "climbed");
            }
        }
    }

    FillOutputFolder(data, settingsFile.extension);
    AlbumInfo *info = album ? album->info.get() : nullptr;
    // Without a header the module writes its own, whatever the length says.
    const bool refusedAtOnce = info == nullptr || settingsFile.path == nullptr || info->trackCount < 0 ||
                               (!header.null && header.length < 0) || (info->trackCount > 0 && info->tracks == nullptr);
    const bool firstOpens = !refusedAtOnce && album->count > 0 && TrackFileOpens(*album, 0);
    const std::int32_t currentBefore = CurrentTrack();
    std::FILE *fileBefore = rip.trackFile;

    const std::int32_t result = Create(info, settingsFile.path, header.pointer(), header.length);
    CHECK(result == 0 || result == 1);
    if (refusedAtOnce) {
        // Nothing changes: an earlier rip goes on.
        CHECK(result == 0);
        CHECK(CurrentTrack() == currentBefore);
        CHECK(rip.trackFile == fileBefore);
        return;
    }
    active = nullptr;
    CHECK(CurrentTrack() == 0);
    const bool firstProcessed = album->count > 0 && IsProcessedRecord(album->tracks[0]);
    if (!settingsFile.encoderUsable) {
        CHECK(result == 0);
    } else if (firstProcessed) {
        CHECK(result == (firstOpens && LockNameFits(*album) ? 1 : 0));
        CHECK(FileOpen() == (result == 1));
    } else {
        CHECK(result == (LockNameFits(*album) ? 1 : 0));
    }
    if (result == 0) {
        CHECK(!FileOpen());
        albums.push_back(std::move(album));
        return;
    }
    album->headerLength = header.null ? 44 : header.length;
    active = album.get();
    albums.push_back(std::move(album));
    NoteOpenedTrack();
}

// ---- SetData -------------------------------------------------------------

void DoSetData(FuzzedDataProvider &data) {
    std::int32_t length;
    switch (data.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
        case 1:
            length = 0;  // the end of a track
            break;
        case 6:
            length = data.ConsumeIntegralInRange<std::int32_t>(INT_MIN, -1);
            break;
        case 7:
            length = data.ConsumeIntegralInRange<std::int32_t>(1, 70000);
            break;
        default:
            length = data.ConsumeIntegralInRange<std::int32_t>(1, 3000);
            break;
    }
    std::int32_t b;
    switch (data.ConsumeIntegralInRange<int>(0, 7)) {
        case 5:
            b = length > 0 ? data.ConsumeIntegralInRange<std::int32_t>(1, length) : 1;
            break;
        case 6:
            b = length;
            break;
        case 7:
            b = data.ConsumeIntegral<std::int32_t>();
            break;
        default:
            b = 0;
            break;
    }
    const bool nullData = data.ConsumeIntegralInRange<int>(0, 31) == 31;
    const bool nullBoundary = data.ConsumeIntegralInRange<int>(0, 31) == 31;
    // Exactly length bytes, so that reading past them is caught.
    Bytes audio(length > 0 ? static_cast<std::size_t>(length) : 1);
    for (std::uint8_t &byte : audio) byte = static_cast<std::uint8_t>(++audioCounter * 2654435761u >> 24);

    const std::int32_t before = CurrentTrack();
    const bool openBefore = FileOpen();
    const std::int32_t next = before < INT_MAX ? before + 1 : before;
    const bool nextOpens = active != nullptr && next >= 0 && next < active->count && TrackFileOpens(*active, next);
    const Snapshot outputBefore = active == nullptr ? InsideOutput() : Snapshot();
    std::int32_t boundary = b;
    const std::int32_t result = SetData(nullData ? nullptr : audio.data(), length, nullBoundary ? nullptr : &boundary);
    CHECK(result == 0 || result == 1);
    const std::int32_t after = CurrentTrack();

    if (active == nullptr) {
        // No rip, no writing.
        CHECK(result == 0);
        CHECK(after == before);
        CHECK(boundary == b);
        CHECK(InsideOutput() == outputBefore);
        return;
    }
    Album &album = *active;
    if (nullData || nullBoundary || b < 0 || length < b) {
        CHECK(result == 0);
        CHECK(after == before);
        CHECK(boundary == b);
        CHECK(FileOpen() == openBefore);
        return;
    }
    // The result of moving on to the next track: 0 only when the file of a
    // processed next track could not be opened.
    auto advanced = [&]() {
        CHECK(after == (before < INT_MAX ? before + 1 : before));
        if (after < album.count && IsProcessedRecord(album.tracks[after])) {
            CHECK(FileOpen() == nextOpens);
            CHECK(result == (FileOpen() ? 1 : 0));
        } else {
            CHECK(!FileOpen());
            CHECK(result == 1);
        }
        CHECK(boundary == b);
    };
    if (length == 0) {
        advanced();
    } else if (before >= album.count) {
        if (b > 0 && album.count > 0 && !IsProcessedRecord(album.tracks[album.count - 1])) {
            advanced();  // one more end of the skipped last track
        } else {
            CHECK(result == 0);  // nowhere to put bytes after the album
            CHECK(after == before);
        }
    } else if (!IsProcessedRecord(album.tracks[before])) {
        if (b == 0) {
            CHECK(result == 1);
            CHECK(boundary == length);
            CHECK(after == before);
        } else {
            advanced();
        }
    } else if (!openBefore) {
        CHECK(result == 0);
        CHECK(after == before);
        CHECK(boundary == b);
    } else {
        Bytes &track = album.audio[before];
        if (b == 0) {
            // A file in the sandbox takes every byte.
            CHECK(result == 1);
            CHECK(boundary == length);
            CHECK(after == before);
            track.insert(track.end(), audio.begin(), audio.end());
        } else {
            track.insert(track.end(), audio.begin(), audio.begin() + b);
            advanced();
        }
    }
    NoteOpenedTrack();
    if (before < album.count && after >= album.count) {
        CHECK(!FileOpen());
        CheckCompleteAlbum(album);
    }
}

// ---- Kill ----------------------------------------------------------------

void DoKill() {
    const std::int32_t result = Kill();
    CHECK(result == 0 || result == -1);
    CHECK(OpenSandboxFiles() == 0);
    active = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/rip-fuzz-XXXXXX";
    CHECK(mkdtemp(&pattern[0]) != nullptr);
    sandbox.root = pattern + "/";
    std::atexit(RemoveSandbox);
    CHECK(mkdir((sandbox.root + "l1").c_str(), 0755) == 0);
    CHECK(mkdir((sandbox.root + "l1/l2").c_str(), 0755) == 0);
    CHECK(mkdir((sandbox.root + "l1/l2/out").c_str(), 0755) == 0);
    CHECK(mkdir((sandbox.root + "l1/cfg").c_str(), 0755) == 0);
    sandbox.output = sandbox.root + "l1/l2/out/";
    sandbox.settings = sandbox.root + "l1/cfg/";
    sandbox.victim = sandbox.root + "l1/victim";
    sandbox.ghost = sandbox.root + "l1/ghost";
    std::FILE *victim = std::fopen(sandbox.victim.c_str(), "wb");
    CHECK(victim != nullptr);
    std::fputs("a file outside the output folder", victim);
    CHECK(std::fclose(victim) == 0);

    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    CHECK(length > 0);
    const std::string program(self, static_cast<std::size_t>(length));
    sandbox.encoder = program.substr(0, program.rfind('/') + 1) + "fuzz_encoder";
    CHECK(access(sandbox.encoder.c_str(), X_OK) == 0);
    CHECK(symlink(sandbox.encoder.c_str(), (sandbox.settings + "enc").c_str()) == 0);
    setenv("ENCBRIDGE_FUZZ_OUTPUT", sandbox.output.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    // Every input starts a rip; what follows may be anything. Once the
    // input is used up, the host ends each remaining track, which completes
    // the album, and then ends the rip.
    FuzzedDataProvider none(nullptr, 0);
    for (int call = 0; call < 64; ++call) {
        const bool finishing = data.remaining_bytes() == 0 && call > 0;
        if (finishing && (active == nullptr || CurrentTrack() >= active->count)) break;
        const Snapshot outside = OutsideOutput();
        switch (call == 0 ? 7 : data.ConsumeIntegralInRange<int>(0, 9)) {
            case 7:
            case 8:
                DoCreate(data);
                break;
            case 9:
                DoKill();
                break;
            default:
                DoSetData(finishing ? none : data);
                break;
        }
        // The track's file, the folder's lock and the journal, at most,
        // beside a guard for each track whose encoders run.
        int guards = 0;
        CHECK(OpenSandboxFiles(&guards) - guards <= 3 && guards <= 32);
        // The settings file is the target's own; nothing else outside the
        // output folder may change.
        Snapshot now = OutsideOutput();
        Snapshot was = outside;
        for (const std::string &own :
             {sandbox.settings + "encbridge.ini", sandbox.settings.substr(0, sandbox.settings.size() - 1)}) {
            now.erase(own);
            was.erase(own);
        }
        for (const auto &entry : now) {
            auto old = was.find(entry.first);
            if (old == was.end() || old->second != entry.second) {
                std::fprintf(stderr, "touched outside the output folder: %s\n", entry.first.c_str());
            }
        }
        CHECK(now == was);
    }
    DoKill();
    EmptyOutputFolder();
    albums.clear();
    return 0;
}
