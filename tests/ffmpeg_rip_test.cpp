// Whole rips through the DLL with real Windows encoders (ffmpeg.exe, and
// flac.exe, metaflac.exe and lame.exe for the shipped examples),
// started by the module through CreateProcessA as on a user's machine. What
// a Windows program can see is checked here: the results of the host's calls,
// the names in the output folder, the WAV files that go or stay, the encoder
// ending on Kill. Decoding the encoded files and reading their tags back is
// done with the Linux tools: each rip adds what its files must hold to a
// manifest, which ffmpeg_end_to_end.sh checks once this program has ended.
//
// Set by ffmpeg_end_to_end.sh:
//   ENCBRIDGE_FFMPEG    ffmpeg.exe; only copies of it are run, since the
//                       module refuses a program that it cannot open for writing
//   ENCBRIDGE_RIP_ROOT  an empty folder for the rips and the manifest
//   ENCBRIDGE_ENCODERS  the folder of the Windows flac.exe, metaflac.exe and
//                       lame.exe that tools/build-win-encoders built
//   ENCBRIDGE_EXAMPLES  the shipped Windows settings examples, which are run
// tlhelp32.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "encbridge/limits.h"
#include "module_host.h"
#include "test_support.h"

namespace ts = testing_support;

namespace {

using ts::Album;
using ts::Bytes;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrameBytes = 4;      // 16-bit stereo
constexpr std::size_t kSectorFrames = 588;  // one CD sector
constexpr std::size_t kPieceBytes = 58800;  // what a ripping program hands over at once: 25 sectors
constexpr double kTwoPi = 6.283185307179586;

std::string Environment(const char *name) {
    char value[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length == 0 || length >= sizeof value ? std::string() : std::string(value, length);
}

std::string Utf8(const std::wstring &text) {
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &result[0], size, nullptr, nullptr);
    return result;
}

// The names in a folder, read through the wide functions and given in UTF-8,
// so that a name the module wrote in the ANSI code page shows what it became.
std::vector<std::string> NamesIn(const std::string &folder) {
    std::vector<std::string> names;
    std::wstring pattern(folder.begin(), folder.end());  // ASCII folders only
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((pattern + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(Utf8(name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

long long FileSize(const std::string &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// How many processes run that were started from path: their image is that
// file, and they have not ended.
int ProgramsRunning(const std::string &path) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no snapshot of the processes: " << GetLastError();
        return true;
    }
    int running = 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (process == nullptr) continue;
        char image[MAX_PATH];
        DWORD size = sizeof image;
        DWORD code = 0;
        running += QueryFullProcessImageNameA(process, 0, image, &size) && lstrcmpiA(image, path.c_str()) == 0 &&
                   GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return running;
}

bool ProgramRunning(const std::string &path) { return ProgramsRunning(path) > 0; }

bool FileExists(const std::string &path) { return FileSize(path) >= 0; }

// Two tones, one per channel, that differ from track to track, with a little
// noise so that no encoder finds the audio trivially compressible.
Bytes Tone(std::size_t frames, unsigned track) {
    Bytes bytes(frames * kFrameBytes);
    std::uint32_t noise = 2463534242u + track;
    for (std::size_t i = 0; i < frames; ++i) {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        const double t = static_cast<double>(i) / 44100.0;
        const int dither = static_cast<int>(noise % 64) - 32;
        const int left = static_cast<int>(9000.0 * std::sin(kTwoPi * (220.0 + 55.0 * track) * t)) + dither;
        const int right = static_cast<int>(7000.0 * std::sin(kTwoPi * (330.0 + 40.0 * track) * t)) - dither;
        for (int channel = 0; channel < 2; ++channel) {
            const auto sample = static_cast<std::uint16_t>(static_cast<std::int16_t>(channel == 0 ? left : right));
            bytes[i * kFrameBytes + 2 * channel] = static_cast<std::uint8_t>(sample);
            bytes[i * kFrameBytes + 2 * channel + 1] = static_cast<std::uint8_t>(sample >> 8);
        }
    }
    return bytes;
}

void SetText(char *field, std::size_t size, const std::string &text) { std::snprintf(field, size, "%s", text.c_str()); }

class FfmpegRip : public ::testing::Test {
protected:
    void SetUp() override {
        ffmpeg_ = Environment("ENCBRIDGE_FFMPEG");
        root_ = Environment("ENCBRIDGE_RIP_ROOT");
        ASSERT_FALSE(ffmpeg_.empty()) << "ENCBRIDGE_FFMPEG names no ffmpeg.exe: run ffmpeg_end_to_end.sh";
        ASSERT_GT(FileSize(ffmpeg_), 0) << ffmpeg_ << " is missing: tools/install-deps fetches it";
        ASSERT_FALSE(root_.empty()) << "ENCBRIDGE_RIP_ROOT names no folder: run ffmpeg_end_to_end.sh";
        if (root_.back() != '\\') root_ += '\\';
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = root_ + name_ + "\\";
        ASSERT_TRUE(ts::MakeFolder(folder_)) << folder_;
        ts::MakeFolder(root_ + "expected");
        host_.reset(new ts::ModuleHost(ts::ProgramFolder() + ts::ModuleFileName()));
        ASSERT_TRUE(host_->ready());
    }
    void TearDown() override {
        host_.reset();
        // The copies are large, and only the encoded files are checked later.
        for (const std::string &copy : copies_) DeleteFileA(copy.c_str());
    }

    // A writable copy of a program (ffmpeg.exe unless told) at path, in new
    // folders as an installer makes them.
    std::string InstallEncoder(const std::string &path, const std::string &program = std::string()) {
        for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
            CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
        }
        const std::string &source = program.empty() ? ffmpeg_ : program;
        EXPECT_TRUE(CopyFileA(source.c_str(), path.c_str(), TRUE))
            << source << " to " << path << ": " << GetLastError();
        copies_.push_back(path);
        return path;
    }

    std::string WriteSettings(const std::string &path, const std::string &extension, const std::string &encoder,
                              const std::string &command, const std::string &more = "") {
        // A longer template would be cut by the module and fail in confusing ways.
        EXPECT_LE(command.size(), 253u) << command;
        return ts::WriteSettings(path, {extension, command, 1, encoder, 1, "", more, "\r\n"});
    }

    // A new output folder for one rip, under this test's folder.
    std::string OutputFolder(const std::string &name) {
        std::string folder = folder_ + name + "\\";
        EXPECT_TRUE(ts::MakeFolder(folder)) << folder;
        return folder;
    }

    // Every track's audio, handed over as a ripping program reads a disc: in
    // pieces of 25 sectors taken from the stream of the whole album, so that
    // a track's end falls inside a piece and is marked by its boundary (the
    // rest of the piece comes again as the start of the next one). The last
    // track ends with a call of length 0. Skipped tracks are delivered too.
    void Rip(const std::vector<Bytes> &tracks) {
        Bytes stream;
        for (const Bytes &track : tracks) stream.insert(stream.end(), track.begin(), track.end());
        std::size_t at = 0;
        for (std::size_t index = 0; index < tracks.size(); ++index) {
            const std::size_t end = at + tracks[index].size();
            for (;;) {
                const std::size_t length = std::min(kPieceBytes, stream.size() - at);
                const std::size_t left = end - at;
                const Bytes piece(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                  stream.begin() + static_cast<std::ptrdiff_t>(at + length));
                if (left > length || (left == length && index + 1 == tracks.size())) {
                    if (length > 0) {
                        ASSERT_EQ(host_->Deliver(piece), 1) << "track " << index + 1;
                    }
                    at += length;
                    if (left > length) continue;
                    ASSERT_EQ(host_->EndTrack(), 1) << "track " << index + 1;
                    break;
                }
                ASSERT_EQ(host_->Deliver(piece, static_cast<std::int32_t>(left)), 1) << "track " << index + 1;
                at = end;
                break;
            }
        }
    }

    // The manifest: one line per check of an encoded file, with the file
    // relative to the root, in UTF-8, fields apart by tabs.
    void Expect(const std::string &line) {
        std::ofstream manifest(root_ + "manifest.txt", std::ios::binary | std::ios::app);
        manifest << line << "\n";
        EXPECT_TRUE(manifest.good());
    }
    std::string Relative(const std::string &output, const std::string &nameUtf8) const {
        std::string path = output.substr(root_.size()) + nameUtf8;
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
    // The file decodes to exactly audio.
    void ExpectAudio(const std::string &output, const std::string &nameUtf8, const Bytes &audio) {
        std::string raw = "expected/" + name_ + "-" + std::to_string(expectedCount_++) + ".raw";
        ts::WriteFile(root_ + raw, std::string(audio.begin(), audio.end()));
        Expect("audio\t" + Relative(output, nameUtf8) + "\t" + raw);
    }
    // The file decodes to as long as audio, at whatever rate it was encoded.
    void ExpectLength(const std::string &output, const std::string &nameUtf8, const Bytes &audio) {
        Expect("length\t" + Relative(output, nameUtf8) + "\t" + std::to_string(audio.size() / kFrameBytes));
    }
    void ExpectTag(const std::string &output, const std::string &nameUtf8, const std::string &key,
                   const std::string &valueUtf8) {
        Expect("tag\t" + Relative(output, nameUtf8) + "\t" + key + "\t" + valueUtf8);
    }

    std::string ffmpeg_, root_, name_, folder_;
    std::vector<std::string> copies_;
    int expectedCount_ = 0;
    std::unique_ptr<ts::ModuleHost> host_;
};

// Quiet, never waiting for a key, and replacing a leftover output of its own.
const std::string kQuiet = "-nostdin -hide_banner -v error -y ";

TEST_F(FfmpegRip, AnAlbumToFlacDecodesToExactlyTheDeliveredAudio) {
    std::string encoder = InstallEncoder(folder_ + "encoder\\ffmpeg.exe");
    std::string settings = WriteSettings(folder_ + "flac.ini", ".flac", encoder,
                                         kQuiet + "-i %i% -c:a flac -metadata TRACKNUMBER=%no% %o%");
    std::string out = OutputFolder("out");
    // Frames: whole seconds; a second and a sector; 183 sectors, as long as a
    // pregap of 2 s 33 frames, which no piece boundary meets; a skipped
    // track; a short last track that is no whole number of sectors.
    const std::size_t frames[] = {88200, 44100 + kSectorFrames, 183 * kSectorFrames, 44100, 26000 + 7};
    Album album(out, 5);
    album.Skip(3);
    std::vector<Bytes> tracks;
    for (unsigned i = 0; i < 5; ++i) tracks.push_back(Tone(frames[i], i + 1));

    ASSERT_EQ(host_->Create(album.info.get(), settings), 1);
    Rip(tracks);
    EXPECT_EQ(host_->Kill(), 0);

    EXPECT_EQ(NamesIn(out),
              (std::vector<std::string>{"01 Track.flac", "02 Track.flac", "03 Track.flac", "05 Track.flac"}));
    for (int number : {1, 2, 3, 5}) {
        char name[32];
        std::snprintf(name, sizeof name, "%02d Track.flac", number);
        ExpectAudio(out, name, tracks[static_cast<std::size_t>(number - 1)]);
        ExpectTag(out, name, "TRACKNUMBER", std::to_string(number));
    }
}

// A shipped settings example as written, but for the programs it names: each
// EXEPATH line (ALBUM_EXEPATH and VERIFY_EXEPATH too) is given the path of
// the installed copy.
struct Example {
    std::string extension, command, text;
};
Example ShippedExample(const std::string &file, const std::string &encoder, const std::string &albumStep) {
    std::ifstream stream(Environment("ENCBRIDGE_EXAMPLES") + "\\" + file, std::ios::binary);
    Example example;
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("OUT=", 0) == 0) example.extension = line.substr(4);
        if (line.rfind("COMMAND=", 0) == 0) example.command = line.substr(8);
        if (line.rfind("EXEPATH=", 0) == 0) line = "EXEPATH=" + encoder;
        if (line.rfind("ALBUM_EXEPATH=", 0) == 0) line = "ALBUM_EXEPATH=" + albumStep;
        // The examples' verify lines decode with their encoder's program.
        if (line.rfind("VERIFY_EXEPATH=", 0) == 0) line = "VERIFY_EXEPATH=" + encoder;
        example.text += line + "\r\n";
    }
    return example;
}

TEST_F(FfmpegRip, TheShippedExamplesEncodeAnAlbumWithItsTags) {
    struct ExampleCase {
        const char *file, *encoder, *albumStep;
        bool lossless;
        // The tags' names as the Linux tools read them from each format; a
        // track total of its own, or none when the track tag holds "n/total".
        const char *titleKey, *artistKey, *albumKey, *albumArtistKey, *dateKey, *trackKey, *totalKey;
    };
    const std::string encoders = Environment("ENCBRIDGE_ENCODERS");
    ASSERT_FALSE(encoders.empty()) << "ENCBRIDGE_ENCODERS names no folder: run ffmpeg_end_to_end.sh";
    // FLAC decodes to exactly what was delivered; MP3 and Opus to as long
    // (Opus at 48 kHz, the only rate it encodes at).
    const ExampleCase cases[] = {
        {"ffmpeg-flac.ini", "ffmpeg.exe", "", true, "TITLE", "ARTIST", "ALBUM", "ALBUMARTIST", "DATE", "TRACKNUMBER",
         nullptr},
        {"ffmpeg-mp3.ini", "ffmpeg.exe", "", false, "title", "artist", "album", "album_artist", "date", "track",
         nullptr},
        {"ffmpeg-opus.ini", "ffmpeg.exe", "", false, "title", "artist", "album", "album_artist", "date", "track",
         nullptr},
        {"flac.ini", "flac.exe", "", true, "TITLE", "ARTIST", "ALBUM", "ALBUMARTIST", "DATE", "TRACKNUMBER",
         "TRACKTOTAL"},
        {"lame.ini", "lame.exe", "", false, "title", "artist", "album", "album_artist", "date", "track", nullptr},
        // The album step writes the album's gain into every file.
        {"flac-replaygain.ini", "flac.exe", "metaflac.exe", true, "TITLE", "ARTIST", "ALBUM", "ALBUMARTIST", "DATE",
         "TRACKNUMBER", "TRACKTOTAL"},
    };
    int number = 0;
    for (const ExampleCase &c : cases) {
        SCOPED_TRACE(c.file);
        std::string folder = folder_ + "example " + std::to_string(++number) + "\\";
        ts::MakeFolder(folder);
        auto install = [&](const std::string &program) {
            if (program.empty()) return std::string();
            return InstallEncoder(folder + program, program == "ffmpeg.exe" ? ffmpeg_ : encoders + "\\" + program);
        };
        const std::string encoder = install(c.encoder), albumStep = install(c.albumStep);
        const Example example = ShippedExample(c.file, encoder, albumStep);
        ASSERT_FALSE(example.extension.empty() || example.command.empty()) << "no OUT or COMMAND in " << c.file;
        EXPECT_LE(example.command.size(), encbridge::kLongestTemplate)
            << "the module would cut the COMMAND of " << c.file;
        const std::string settings = folder + c.file;
        ts::WriteFile(settings, example.text);
        std::string out = OutputFolder("example " + std::to_string(number) + " out");
        Album album(out, 2);
        SetText(album.info->albumTitle, sizeof album.info->albumTitle, "Cr\xE8me de la cr\xE8me");
        SetText(album.info->albumArtist, sizeof album.info->albumArtist, "\"The\" \xC9quipe");
        SetText(album.records[1].title, sizeof album.records[1].title, "Caf\xE9 \"au\" lait 100%");
        for (TrackInfo &record : album.records) {
            SetText(record.artist, sizeof record.artist, "S\xF8ren \\ M\xFCller");
            SetText(record.year, sizeof record.year, "2001");
        }
        const std::vector<Bytes> tracks = {Tone(44100 + kSectorFrames, 1), Tone(183 * kSectorFrames + 7, 2)};

        ASSERT_EQ(host_->Create(album.info.get(), settings), 1);
        Rip(tracks);
        EXPECT_EQ(host_->Kill(), 0);

        const std::string names[] = {"01 Track" + example.extension, "02 Track" + example.extension};
        EXPECT_EQ(NamesIn(out), (std::vector<std::string>{names[0], names[1]}));
        for (std::size_t i = 0; i < 2; ++i) {
            if (c.lossless) {
                ExpectAudio(out, names[i], tracks[i]);
            } else {
                ExpectLength(out, names[i], tracks[i]);
            }
            ExpectTag(out, names[i], c.artistKey, "S\xC3\xB8ren \\ M\xC3\xBCller");
            ExpectTag(out, names[i], c.albumKey, "Cr\xC3\xA8me de la cr\xC3\xA8me");
            ExpectTag(out, names[i], c.albumArtistKey, "\"The\" \xC3\x89quipe");
            ExpectTag(out, names[i], c.dateKey, "2001");
            if (c.totalKey == nullptr) {
                ExpectTag(out, names[i], c.trackKey, std::to_string(i + 1) + "/2");
            } else {
                ExpectTag(out, names[i], c.trackKey, std::to_string(i + 1));
                ExpectTag(out, names[i], c.totalKey, "2");
            }
            if (*c.albumStep != '\0') Expect("gain\t" + Relative(out, names[i]) + "\tREPLAYGAIN_ALBUM_GAIN");
        }
        ExpectTag(out, names[0], c.titleKey, "Title 1");
        ExpectTag(out, names[1], c.titleKey, "Caf\xC3\xA9 \"au\" lait 100%");
    }
}

TEST_F(FfmpegRip, TagsAndFinalNamesArriveAsTheHostsTexts) {
    // The host's records hold ANSI text, and CreateProcessA turns the command
    // line into UTF-16 with the ANSI code page: the cp1252 letters below are
    // what a ripping program on a Western European Windows hands over.
    ASSERT_EQ(GetACP(), 1252u) << "the records below hold cp1252 text";
    struct Texts {
        const char *ansi;
        const char *utf8;
    };
    struct TaggedTrack {
        Texts fileName, title, artist, comment;
    };
    // Blanks (doubled and at the ends), double quotes, backslashes before a
    // quote, doubled and at the end, %, a variable that no shell may expand,
    // letters outside ASCII in names and tags alike, and the cp1252 signs
    // that Latin-1 lacks (euro, typographic quotes, dash).
    const TaggedTrack kTracks[] = {
        {{"01 Caf\xE9", "01 Caf\xC3\xA9"},
         {"Say \"hi\" \\\"now\\\"", "Say \"hi\" \\\"now\\\""},
         {"Jos\xE9 M\xFCller", "Jos\xC3\xA9 M\xC3\xBCller"},
         {"100% pure %PATH% 50% \x80 \x93q\x94 \x97",
          "100% pure %PATH% 50% \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xE2\x80\x94"}},
        {{"02 \xD8resund M\xFCnchen", "02 \xC3\x98resund M\xC3\xBCnchen"},
         {"C:\\Music\\ends with a backslash\\", "C:\\Music\\ends with a backslash\\"},
         {"  two  blanks  ", "  two  blanks  "},
         {"\xF8 \xE9 \xFC \\\\server\\share", "\xC3\xB8 \xC3\xA9 \xC3\xBC \\\\server\\share"}},
        {{"03 Na\xEFve & \xE6sthetic", "03 Na\xC3\xAFve & \xC3\xA6sthetic"},
         {"\"\"", "\"\""},
         {"\xC0 la \"fa\xE7on\" de \xD8", "\xC3\x80 la \"fa\xC3\xA7on\" de \xC3\x98"},
         {"a\\\\\"b", "a\\\\\"b"}},
    };
    const Texts albumTitle = {"Gr\xFC\xDF \"Gott\" \\ 5%", "Gr\xC3\xBC\xC3\x9F \"Gott\" \\ 5%"};
    const Texts albumArtist = {"Bj\xF8rn & the \xC9quipe", "Bj\xC3\xB8rn & the \xC3\x89quipe"};

    std::string encoder = InstallEncoder(folder_ + "encoder\\ffmpeg.exe");
    std::string settings =
        WriteSettings(folder_ + "tags.ini", ".flac", encoder,
                      kQuiet +
                          "-i %i% -metadata title=%ttit% -metadata artist=%tart% -metadata album=%atit% "
                          "-metadata album_artist=%aart% -metadata date=%tyer% -metadata comment=%tcom% %o%");
    std::string out = OutputFolder("out");
    Album album(out, 3);
    SetText(album.info->albumTitle, sizeof album.info->albumTitle, albumTitle.ansi);
    SetText(album.info->albumArtist, sizeof album.info->albumArtist, albumArtist.ansi);
    std::vector<Bytes> tracks;
    for (std::size_t i = 0; i < 3; ++i) {
        TrackInfo &record = album.records[i];
        SetText(record.fileName, sizeof record.fileName, kTracks[i].fileName.ansi);
        SetText(record.title, sizeof record.title, kTracks[i].title.ansi);
        SetText(record.artist, sizeof record.artist, kTracks[i].artist.ansi);
        SetText(record.comment, sizeof record.comment, kTracks[i].comment.ansi);
        SetText(record.year, sizeof record.year, "1999");
        tracks.push_back(Tone(22050 + 100 * i, static_cast<unsigned>(i + 1)));
    }

    ASSERT_EQ(host_->Create(album.info.get(), settings), 1);
    Rip(tracks);
    EXPECT_EQ(host_->Kill(), 0);

    std::vector<std::string> names;
    for (const TaggedTrack &track : kTracks) names.push_back(std::string(track.fileName.utf8) + ".flac");
    EXPECT_EQ(NamesIn(out), names);
    for (std::size_t i = 0; i < 3; ++i) {
        ExpectAudio(out, names[i], tracks[i]);
        ExpectTag(out, names[i], "TITLE", kTracks[i].title.utf8);
        ExpectTag(out, names[i], "ARTIST", kTracks[i].artist.utf8);
        ExpectTag(out, names[i], "DESCRIPTION", kTracks[i].comment.utf8);
        ExpectTag(out, names[i], "ALBUM", albumTitle.utf8);
        ExpectTag(out, names[i], "ALBUMARTIST", albumArtist.utf8);
        ExpectTag(out, names[i], "DATE", "1999");
    }
}

TEST_F(FfmpegRip, AnEncoderInstalledUnderProgramFilesIsFoundByAbsoluteAndRelativePaths) {
    // Where a 32-bit installer puts programs: "C:\Program Files (x86)" on a
    // 64-bit system, blanks and parentheses included.
    const std::string programFiles = Environment("ProgramFiles");
    ASSERT_FALSE(programFiles.empty());
    const std::string install = programFiles + "\\encbridge test " + std::to_string(GetCurrentProcessId()) + "\\";
    const std::string encoder = InstallEncoder(install + "FFmpeg 4.1\\bin\\ffmpeg.exe");
    struct PathCase {
        const char *name;
        std::string settings;  // where the settings file lies
        std::string exePath;   // its EXEPATH
    };
    const PathCase cases[] = {
        {"absolute", folder_ + "absolute.ini", encoder},
        {"relative", install + "encbridge.ini", "FFmpeg 4.1\\bin\\ffmpeg.exe"},
        {"relative and up", install + "settings dir\\encbridge.ini", "..\\FFmpeg 4.1\\bin\\ffmpeg.exe"},
    };
    CreateDirectoryA((install + "settings dir").c_str(), nullptr);
    int number = 0;
    for (const PathCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string settings = WriteSettings(c.settings, ".flac", c.exePath, kQuiet + "-i %i% %o%");
        std::string out = OutputFolder("out " + std::to_string(++number));
        Album album(out, 1);
        const Bytes audio = Tone(30000, static_cast<unsigned>(number));

        ASSERT_EQ(host_->Create(album.info.get(), settings), 1) << c.exePath;
        Rip({audio});
        EXPECT_EQ(host_->Kill(), 0);

        EXPECT_EQ(NamesIn(out), std::vector<std::string>{"01 Track.flac"});
        ExpectAudio(out, "01 Track.flac", audio);
        DeleteFileA(c.settings.c_str());
    }
    host_.reset();
    DeleteFileA(encoder.c_str());
    copies_.clear();
    RemoveDirectoryA((install + "settings dir").c_str());
    RemoveDirectoryA((install + "FFmpeg 4.1\\bin").c_str());
    RemoveDirectoryA((install + "FFmpeg 4.1").c_str());
    EXPECT_TRUE(RemoveDirectoryA(install.c_str())) << install << " left behind";
}

// JOBS=0: one encoder per processor the process may use, so several
// ffmpeg.exe at once where there are several; every track still decodes to
// exactly its audio. -re keeps each encode running for as long as its track
// plays, long enough to be seen.
TEST_F(FfmpegRip, JobsZeroRunsSeveralEncodersAtOnce) {
    DWORD_PTR processMask = 0, systemMask = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask));
    if ((processMask & (processMask - 1)) == 0) GTEST_SKIP() << "this process may use one processor only";
    std::string encoder = InstallEncoder(folder_ + "encoder\\ffmpeg.exe");
    std::string settings =
        WriteSettings(folder_ + "jobs.ini", ".flac", encoder, kQuiet + "-re -i %i% %o%", "JOBS=0\r\n");
    std::string out = OutputFolder("out");
    Album album(out, 4);
    std::vector<Bytes> tracks;
    for (unsigned track = 1; track <= 4; ++track) tracks.push_back(Tone(2 * 44100, track));

    ASSERT_EQ(host_->Create(album.info.get(), settings), 1);
    std::atomic<bool> done(false);
    std::atomic<int> most(0);
    std::thread watcher([&] {
        while (!done.load()) {
            most.store(std::max(most.load(), ProgramsRunning(encoder)));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    Rip(tracks);
    done.store(true);
    watcher.join();
    EXPECT_GE(most.load(), 2) << "the encoders ran one after another";
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%02zu Track.flac", i + 1);
        ExpectAudio(out, name, tracks[i]);
    }
    EXPECT_EQ(host_->Kill(), 0);
}

TEST_F(FfmpegRip, KillEndsTheRunningEncoderAndKeepsTheWavFiles) {
    // -re makes ffmpeg.exe read its input no faster than it plays: the first
    // track takes 20 s to encode, long enough to be ended halfway.
    std::string encoder = InstallEncoder(folder_ + "encoder\\ffmpeg.exe");
    std::string settings = WriteSettings(folder_ + "slow.ini", ".flac", encoder, kQuiet + "-re -i %i% %o%");
    std::string out = OutputFolder("out");
    Album album(out, 3);
    const Bytes first = Tone(20 * 44100, 1), second = Tone(44100, 2), third = Tone(22050, 3);

    ASSERT_EQ(host_->Create(album.info.get(), settings), 1);
    ASSERT_EQ(host_->DeliverTrack(first), 1);
    ASSERT_EQ(host_->DeliverTrack(second), 1);
    ASSERT_EQ(host_->Deliver(third), 1);  // the third track is still being ripped
    ASSERT_TRUE(ts::WaitUntil([&] { return ProgramRunning(encoder); })) << "ffmpeg.exe never ran";
    // The output is opened once the input has been read and encoding begins;
    // what is written stays in ffmpeg.exe's buffer for some seconds.
    ASSERT_TRUE(ts::WaitUntil([&] { return FileExists(out + "#temp(01).flac"); })) << "ffmpeg.exe opened no output";

    ASSERT_TRUE(ProgramRunning(encoder)) << "ffmpeg.exe ended before Kill";
    Clock::time_point start = Clock::now();
    EXPECT_EQ(host_->Kill(), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << "Kill waited for the encode to end";
    EXPECT_FALSE(ProgramRunning(encoder)) << "ffmpeg.exe still runs after Kill";

    // The partial output is gone; every WAV stays, whole.
    EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"#temp(01).wav", "#temp(02).wav", "#temp(03).wav"}));
    EXPECT_EQ(FileSize(out + "#temp(01).wav"), static_cast<long long>(44 + first.size()));
    EXPECT_EQ(FileSize(out + "#temp(02).wav"), static_cast<long long>(44 + second.size()));
    EXPECT_EQ(FileSize(out + "#temp(03).wav"), static_cast<long long>(44 + third.size()));
}

}  // namespace
