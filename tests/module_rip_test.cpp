// Whole rips through the built module, loaded at run time as a host loads it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "interface/plugin_interface.h"
#include "module_host.h"
#include "temp_folder_test.h"
#include "test_support.h"

namespace ts = testing_support;

namespace {

using ts::Album;
using ts::Bytes;

// A module of its own for each test: a copy of the built module under a new
// name, so that every test starts from a freshly loaded module.
std::string CopyOfModule(const std::string &folder) {
    static const Bytes bytes = ts::ReadFile(ts::ProgramFolder() + ts::ModuleFileName());
    std::string copy = folder + "module-" + ts::ModuleFileName();
    ts::WriteFile(copy, std::string(bytes.begin(), bytes.end()));
    return copy;
}

using ts::Audio;

std::uint32_t LE32(const Bytes &bytes, std::size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes CanonicalHeader() {
    const std::uint8_t header[44] = {'R',  'I',  'F',  'F',  0x44, 0xA7, 0xEE, 0x07, 'W',  'A',  'V',
                                     'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                                     0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00, 0x04,
                                     0x00, 0x10, 0x00, 'd',  'a',  't',  'a',  0x20, 0xA7, 0xEE, 0x07};
    return Bytes(header, header + 44);
}

// The header as it must stand once a track of dataSize audio bytes is finished.
Bytes Finished(Bytes header, std::size_t riffAt, std::size_t dataAt, std::uint32_t fileSize) {
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(riffAt, fileSize - 8);
    put(dataAt, fileSize - static_cast<std::uint32_t>(dataAt + 4));
    return header;
}

class RipTest : public ts::TempFolderTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(NewFolder(folder_));
        host_.reset(new ts::ModuleHost(CopyOfModule(folder_)));
        ASSERT_TRUE(host_->ready());
        settings_ = folder_ + "encbridge.ini";
        WriteSettings();
    }
    void TearDown() override {
        host_.reset();
        albums_.clear();
    }

    // A copy of the fake encoder of its own: a running program cannot pass
    // the encoder check on Windows, and other tests may run the original.
    // It is told an option it does not know, so it fails at once without
    // touching a file, and every temporary WAV file stays as written.
    std::string EncoderPath() {
        std::string path = folder_ + "encoder.exe";
        if (!ts::FileExists(path)) {
            Bytes program = ts::ReadFile(ts::FakeEncoderPath());
            ts::WriteFile(path, std::string(program.begin(), program.end()));
            ts::MakeExecutable(path);
        }
        return path;
    }

    void WriteSettings() { WriteSettings(EncoderPath()); }
    void WriteSettings(const std::string &exePath) {
        ts::WriteSettings(settings_, {".wav", "--fail-at-once", 0, exePath});
    }

    std::string Temp(int number) const {
        char name[32];
        std::snprintf(name, sizeof name, "#temp(%02d).wav", number);
        return folder_ + name;
    }

    // Without a header the module uses its own; an empty one means no header.
    std::int32_t Create(Album &album, const Bytes *header = nullptr) {
        static const std::uint8_t empty = 0;
        const std::uint8_t *bytes = header ? (header->empty() ? &empty : header->data()) : nullptr;
        return host_->create(album.info.get(), settings_.c_str(), bytes,
                             header ? static_cast<std::int32_t>(header->size()) : 0);
    }

    // The host keeps its records valid until Kill has returned: the albums
    // of a test live until the fixture has ended the rip.
    Album &NewAlbum(const std::string &folder, int tracks) {
        albums_.emplace_back(new Album(folder, tracks));
        return *albums_.back();
    }

    std::string folder_, settings_;
    std::unique_ptr<ts::ModuleHost> host_;
    std::vector<std::unique_ptr<Album>> albums_;
};

TEST_F(RipTest, VersionIsFourByNameAndByOrdinal) {
    EXPECT_EQ(host_->version(), 4);
    ts::LoadedModule same(ts::ProgramFolder() + ts::ModuleFileName());
    ASSERT_TRUE(same.loaded());
    if (ts::Separator()[0] == '\\') {
        const char *names[] = {"GetDllViersion", "Create", "SetData", "Kill"};
        for (unsigned ordinal = 1; ordinal <= 4; ++ordinal) {
            EXPECT_EQ(same.Ordinal(ordinal), same.Symbol(names[ordinal - 1])) << ordinal;
        }
        auto version = reinterpret_cast<decltype(&GetDllViersion)>(same.Ordinal(1));
        ASSERT_NE(version, nullptr);
        EXPECT_EQ(version(), 4);
    }
    EXPECT_EQ(same.Symbol("GetDllVersion"), nullptr);
}

TEST_F(RipTest, WritesOneWavPerProcessedTrackWithTrueSizes) {
    Album &album = NewAlbum(folder_, 4);
    album.Skip(1);
    album.records[3].status = 2;  // not processed either
    ASSERT_EQ(Create(album), 1);
    EXPECT_EQ(host_->version(), 4);

    // Track 1 in two pieces, ended by a call with length 0.
    Bytes first = Audio(2352 * 3, 1), second = Audio(1000, 2);
    std::int32_t boundary = -1;
    EXPECT_EQ(host_->Deliver(first, 0, &boundary), 1);
    EXPECT_EQ(boundary, static_cast<std::int32_t>(first.size()));
    EXPECT_EQ(host_->Deliver(second, 0), 1);
    EXPECT_EQ(host_->EndTrack(), 1);

    // Track 2 is skipped: its bytes are taken and dropped; a boundary ends it.
    EXPECT_EQ(host_->Deliver(Audio(500, 3), 0, &boundary), 1);
    EXPECT_EQ(boundary, 500);
    EXPECT_EQ(host_->Deliver(Audio(500, 3), 200, &boundary), 1);
    EXPECT_EQ(boundary, 200);

    // Track 3 ends by the boundary of its last piece: the bytes after it go nowhere.
    Bytes third = Audio(4000, 4);
    EXPECT_EQ(host_->Deliver(third, 0), 1);
    Bytes last = Audio(300, 5);
    EXPECT_EQ(host_->Deliver(last, 100, &boundary), 1);
    EXPECT_EQ(boundary, 100);
    Bytes thirdAll = Concat({third, Bytes(last.begin(), last.begin() + 100)});

    // Track 4 is skipped and is the last: its end completes the album.
    EXPECT_EQ(host_->EndTrack(), 1);
    EXPECT_EQ(host_->Deliver(Audio(10, 6), 0), 0) << "nowhere to put bytes after the album";
    EXPECT_EQ(host_->EndTrack(), 1) << "end-of-track calls after the album still return 1";

    EXPECT_EQ(ts::ListFolder(folder_),
              (std::vector<std::string>{ts::kRipLockName, "#temp(01).wav", "#temp(03).wav", "encbridge.ini",
                                        "encoder.exe", std::string("module-") + ts::ModuleFileName()}));
    Bytes audio1 = Concat({first, second});
    Bytes file1 = ts::ReadFile(Temp(1));
    EXPECT_EQ(file1, Concat({Finished(CanonicalHeader(), 4, 40, 44 + audio1.size()), audio1}));
    Bytes file3 = ts::ReadFile(Temp(3));
    EXPECT_EQ(file3, Concat({Finished(CanonicalHeader(), 4, 40, 44 + thirdAll.size()), thirdAll}));
    EXPECT_EQ(host_->kill(), 0);
}

TEST_F(RipTest, ABoundaryEqualToTheLengthWritesAllAndEndsTheTrack) {
    Album &album = NewAlbum(folder_, 2);
    ASSERT_EQ(Create(album), 1);
    Bytes audio = Audio(2352, 9);
    std::int32_t boundary = 0;
    EXPECT_EQ(host_->Deliver(audio, static_cast<std::int32_t>(audio.size()), &boundary), 1);
    EXPECT_EQ(boundary, static_cast<std::int32_t>(audio.size()));
    EXPECT_EQ(ts::ReadFile(Temp(1)), Concat({Finished(CanonicalHeader(), 4, 40, 44 + 2352), audio}));
    EXPECT_TRUE(ts::FileExists(Temp(2))) << "the next track's file is open";
}

TEST_F(RipTest, ATrackWithoutAudioKeepsOnlyItsHeader) {
    Album &album = NewAlbum(folder_, 1);
    ASSERT_EQ(Create(album), 1);
    EXPECT_EQ(host_->EndTrack(), 1);
    Bytes file = ts::ReadFile(Temp(1));
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(LE32(file, 4), 36u);
    EXPECT_EQ(LE32(file, 40), 0u);
}

TEST_F(RipTest, PatchesHostHeadersOnlyWhereTheirSizesAre) {
    Bytes mono = CanonicalHeader();
    mono[22] = 1;     // one channel
    mono[24] = 0x22;  // 22,050 Hz
    mono[25] = 0x56;
    mono[34] = 8;  // 8 bits
    // A LIST chunk before the data chunk puts the data size at offset 62.
    Bytes withList = Concat({Bytes(mono.begin(), mono.begin() + 36),
                             Bytes{'L', 'I', 'S', 'T', 9, 0, 0, 0, 'I', 'N', 'F', 'O', 'x', 'y', 'z', 'w', 'v', 0},
                             Bytes(mono.begin() + 36, mono.end())});
    Bytes raw = {'r', 'a', 'w', '!', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    Bytes shortRiff(mono.begin(), mono.begin() + 20);  // no data chunk within it
    Bytes audio = Audio(4410, 11);
    struct Row {
        const char *name;
        Bytes header;
        Bytes expectedHeader;
    } rows[] = {
        {"other format fields", mono, Finished(mono, 4, 40, 44 + 4410)},
        {"data chunk after a LIST chunk", withList, Finished(withList, 4, 58, 62 + 4410)},
        {"not RIFF: written as it is", raw, raw},
        {"short RIFF header", shortRiff,
         [&] {
             Bytes h = shortRiff;
             std::uint32_t riff = 20 + 4410 - 8;
             for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
             return h;
         }()},
        {"no header at all", Bytes(), Bytes()},
    };
    for (const Row &row : rows) {
        Album &album = NewAlbum(folder_, 1);
        ASSERT_EQ(Create(album, &row.header), 1) << row.name;
        EXPECT_EQ(host_->Deliver(audio, 0), 1) << row.name;
        EXPECT_EQ(host_->EndTrack(), 1) << row.name;
        EXPECT_EQ(ts::ReadFile(Temp(1)), Concat({row.expectedHeader, audio})) << row.name;
        EXPECT_EQ(host_->kill(), 0);
    }
}

TEST_F(RipTest, TruncatesAnExistingFileWithTheTemporaryName) {
    ts::WriteFile(Temp(1), std::string(100000, 'o'));
    Album &album = NewAlbum(folder_, 1);
    ASSERT_EQ(Create(album), 1);
    EXPECT_EQ(host_->EndTrack(), 1);
    EXPECT_EQ(ts::ReadFile(Temp(1)).size(), 44u);
}

TEST_F(RipTest, RefusesRipsItCannotStart) {
    Album &album = NewAlbum(folder_, 1);
    Album &negative = NewAlbum(folder_, 1);
    negative.info->trackCount = -1;
    Album &noTracks = NewAlbum(folder_, 1);
    noTracks.info->tracks = nullptr;
    Bytes header = CanonicalHeader();
    EXPECT_EQ(host_->create(nullptr, settings_.c_str(), nullptr, 0), 0);
    EXPECT_EQ(host_->create(album.info.get(), nullptr, nullptr, 0), 0);
    EXPECT_EQ(Create(negative), 0);
    EXPECT_EQ(Create(noTracks), 0);
    EXPECT_EQ(host_->create(album.info.get(), settings_.c_str(), header.data(), -1), 0);

    struct Row {
        const char *name;
        std::string settings;
    } rows[] = {
        {"no settings file", ""},
        {"encoder not configured", "[OPTION]\nEXEPATH=DENY\n"},
        {"no EXEPATH", "[OPTION]\nCOMMAND=x\n"},
        {"encoder missing", "[OPTION]\nEXEPATH=" + folder_ + "missing-encoder\n"},
        {"encoder is a folder", "[OPTION]\nEXEPATH=" + folder_ + "\n"},
    };
    for (const Row &row : rows) {
        if (row.settings.empty()) {
            std::string missing = folder_ + "none.ini";
            EXPECT_EQ(host_->create(album.info.get(), missing.c_str(), nullptr, 0), 0) << row.name;
        } else {
            ts::WriteFile(settings_, row.settings);
            EXPECT_EQ(Create(album), 0) << row.name;
        }
        EXPECT_FALSE(ts::FileExists(Temp(1))) << row.name;
    }

    // Extra outputs and album steps that no rip could be made with, beside a
    // usable main output; rows marked for Windows compare as NTFS does.
    const std::string main = "[SETUP]\nOUT=.mp3\n[OPTION]\nEXEPATH=" + EncoderPath() + "\n";
    const std::string usable = "EXEPATH=" + EncoderPath() + "\n";
    struct OutputRow {
        const char *name;
        std::string extra;
        bool windowsOnly;
    } outputRows[] = {
        {"extra encoder missing", "[OUTPUT2]\nOUT=.ogg\nEXEPATH=" + folder_ + "missing-encoder\n", false},
        {"extra encoder not configured", "[OUTPUT3]\nOUT=.ogg\n", false},
        {"extra output without OUT", "[OUTPUT2]\n" + usable, false},
        {"one extension twice", "[OUTPUT2]\nOUT=.mp3\n" + usable, false},
        {"one extension in another case", "[OUTPUT9]\nOUT=.MP3\n" + usable, false},
        {"one extension with a trailing dot", "[OUTPUT2]\nOUT=.mp3.\n" + usable, true},
        {"two extra outputs alike", "[OUTPUT2]\nOUT=.ogg\n" + usable + "[OUTPUT5]\nOUT=.OGG\n" + usable, false},
        {"an extra output is the WAV", "[OUTPUT2]\nOUT=.Wav\n" + usable, false},
        {"album step missing", "[OUTPUT2]\nOUT=.ogg\n" + usable + "ALBUM_EXEPATH=" + folder_ + "missing\n", false},
        {"album step without a program", "[OUTPUT2]\nOUT=.ogg\n" + usable + "ALBUM_COMMAND=%files%\n", false},
        {"template cut", "[OUTPUT2]\nOUT=.ogg\n" + usable + "COMMAND=" + std::string(1022, 'x') + "\n", false},
    };
    const std::vector<std::string> untouched = ts::ListFolder(folder_);
    for (const OutputRow &row : outputRows) {
        if (row.windowsOnly && std::string(ts::Separator()) != "\\") continue;
        ts::WriteFile(settings_, main + row.extra);
        EXPECT_EQ(Create(album), 0) << row.name;
        EXPECT_EQ(ts::ListFolder(folder_), untouched) << row.name;
    }
    ts::WriteFile(settings_, main + "[OUTPUT2]\nOUT=.ogg\n" + usable);
    EXPECT_EQ(Create(album), 1) << "the same outputs told apart";
    EXPECT_EQ(host_->kill(), 0);
}

// A settings path, or its folder, cut to its buffer names another file or
// folder, which may exist: such a rip is refused before anything is read or
// run. Here the cut names are made to exist, as a hostile folder would.
TEST_F(RipTest, RefusesASettingsPathThatWouldBeCut) {
    if (std::string(ts::Separator()) != "/") GTEST_SKIP() << "Windows paths are not made this long here";
    Album &album = NewAlbum(folder_, 1);
    const Bytes content = ts::ReadFile(settings_);
    // The path of 260 characters, cut to 259, names a usable settings file.
    const std::string fits = folder_ + std::string(259 - folder_.size() - 4, 's') + ".ini";
    ts::WriteFile(fits, std::string(content.begin(), content.end()));
    EXPECT_EQ(host_->create(album.info.get(), (fits + "x").c_str(), nullptr, 0), 0);

    // A folder of 256 characters: a relative EXEPATH resolved against the
    // first 255 would name a program beside that folder.
    const std::string parent = folder_ + std::string((255 - folder_.size()) / 2, 'a') + "/";
    const std::string deep = parent + std::string(255 - parent.size(), 'b') + "/";
    ASSERT_TRUE(ts::MakeFolder(parent) && ts::MakeFolder(deep));
    const std::string beside = deep.substr(0, 255) + "enc";
    const Bytes program = ts::ReadFile(EncoderPath());
    ts::WriteFile(beside, std::string(program.begin(), program.end()));
    ASSERT_TRUE(ts::MakeExecutable(beside));
    ts::WriteFile(deep + "s.i", "[OPTION]\nEXEPATH=enc\n");
    ASSERT_EQ((deep + "s.i").size(), 259u);
    EXPECT_EQ(host_->create(album.info.get(), (deep + "s.i").c_str(), nullptr, 0), 0);
    EXPECT_FALSE(ts::FileExists(Temp(1)));
    EXPECT_EQ(host_->create(album.info.get(), fits.c_str(), nullptr, 0), 1) << "a path that fits is read";
}

// Without a header the default one is written, whatever the length says.
TEST_F(RipTest, ANullHeaderIsTheDefaultWhateverItsLength) {
    Album &album = NewAlbum(folder_, 1);
    ASSERT_EQ(host_->create(album.info.get(), settings_.c_str(), nullptr, -1), 1);
    ASSERT_EQ(host_->DeliverTrack(Audio(100, 1)), 1);
    EXPECT_EQ(ts::ReadFile(Temp(1)).size(), 144u);
}

// A host may end a skipped last track by boundary, also once more after
// the album is complete, as it may with a call of length 0.
TEST_F(RipTest, EndingASkippedLastTrackIsTakenHoweverItIsEnded) {
    Album &album = NewAlbum(folder_, 2);
    album.Skip(1);
    ASSERT_EQ(Create(album), 1);
    ASSERT_EQ(host_->DeliverTrack(Audio(100, 1)), 1);
    EXPECT_EQ(host_->Deliver(Audio(50, 2), 20), 1);
    EXPECT_EQ(host_->Deliver(Audio(50, 2), 20), 1);
    EXPECT_EQ(host_->EndTrack(), 1);
    EXPECT_EQ(host_->Deliver(Audio(50, 2)), 0) << "bytes after the album's end have nowhere to go";
}

// Two hosts (here two copies of the module, each with a rip of its own)
// ripping into one folder would move each other's files aside and publish
// them as their own: the second one's Create is refused until the first
// rip has ended.
TEST_F(RipTest, OneRipPerFolderAtATime) {
    const std::string otherFolder = folder_ + "other" + ts::Separator();
    ASSERT_TRUE(ts::MakeFolder(otherFolder));
    ts::ModuleHost other(CopyOfModule(otherFolder));
    ASSERT_TRUE(other.ready());
    Album &album = NewAlbum(folder_, 1);
    Album &second = NewAlbum(folder_, 1);
    ASSERT_EQ(Create(album), 1);
    EXPECT_TRUE(ts::FileExists(folder_ + ts::kRipLockName));
    EXPECT_EQ(other.Create(second.info.get(), settings_), 0);
    EXPECT_EQ(host_->Kill(), 0);
    EXPECT_FALSE(ts::FileExists(folder_ + ts::kRipLockName));
    EXPECT_EQ(other.Create(second.info.get(), settings_), 1);
    EXPECT_EQ(Create(album), 0) << "and the other way round";
    EXPECT_EQ(other.Kill(), 0);
}

// A bare settings name means the current folder on both builds (the
// profile functions would look for it in the Windows folder).
TEST_F(RipTest, ABareSettingsNameIsReadFromTheCurrentFolder) {
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    Album &album = NewAlbum(folder_, 1);
    const std::int32_t result = host_->create(album.info.get(), "encbridge.ini", nullptr, 0);
    std::filesystem::current_path(saved);
    EXPECT_EQ(result, 1);
}

TEST_F(RipTest, RefusesAnEncoderFileItMayNotUse) {
    // Linux: a file that may not be run is refused. Windows: a read-only
    // file is usable (programs under C:\Program Files are read-only for
    // standard users); the check only finds the program.
    std::string encoder = folder_ + "encoder";
    ts::WriteFile(encoder, "not a program");
    ASSERT_TRUE(ts::MakeReadOnly(encoder));
    WriteSettings(encoder);
    Album &album = NewAlbum(folder_, 1);
    EXPECT_EQ(Create(album), ts::Separator()[0] == '\\' ? 1 : 0);
    EXPECT_EQ(host_->kill(), 0);
    EXPECT_EQ(ts::ReadFile(encoder), Bytes({'n', 'o', 't', ' ', 'a', ' ', 'p', 'r', 'o', 'g', 'r', 'a', 'm'}));
}

TEST_F(RipTest, NoRipNoWriting) {
    Bytes audio = Audio(100, 1);
    EXPECT_EQ(host_->Deliver(audio, 0), 0) << "before any Create";
    EXPECT_EQ(host_->EndTrack(), 0) << "before any Create";
    EXPECT_EQ(host_->kill(), 0) << "Kill before any Create";

    Album &album = NewAlbum(folder_, 2);
    ASSERT_EQ(Create(album), 1);
    EXPECT_EQ(host_->Deliver(audio, 0), 1);
    // A Create refused at its first step changes nothing: the rip goes on.
    EXPECT_EQ(host_->create(album.info.get(), nullptr, nullptr, 0), 0);
    EXPECT_EQ(host_->Deliver(audio, 0), 1);
    // One refused later on ends it.
    ts::WriteFile(settings_, "[OPTION]\nEXEPATH=DENY\n");
    EXPECT_EQ(Create(album), 0);
    EXPECT_EQ(host_->Deliver(audio, 0), 0);
    EXPECT_EQ(host_->EndTrack(), 0);
    EXPECT_FALSE(ts::FileExists(Temp(2)));

    WriteSettings();
    ASSERT_EQ(Create(album), 1);
    EXPECT_EQ(host_->kill(), 0);
    EXPECT_EQ(host_->kill(), 0) << "Kill twice";
    EXPECT_EQ(host_->Deliver(audio, 0), 0) << "after Kill";
    EXPECT_EQ(host_->EndTrack(), 0) << "after Kill";
    EXPECT_FALSE(ts::FileExists(Temp(2)));
}

TEST_F(RipTest, RefusedDeliveriesChangeNothing) {
    Album &album = NewAlbum(folder_, 2);
    ASSERT_EQ(Create(album), 1);
    Bytes audio = Audio(100, 1);
    std::int32_t boundary = 0;
    EXPECT_EQ(host_->Deliver(audio, -1, &boundary), 0) << "negative boundary";
    EXPECT_EQ(boundary, -1);
    EXPECT_EQ(host_->Deliver(audio, 101, &boundary), 0) << "boundary beyond the length";
    EXPECT_EQ(boundary, 101);
    boundary = 0;
    EXPECT_EQ(host_->setData(nullptr, 0, &boundary), 0) << "end of track without data";
    EXPECT_EQ(host_->setData(audio.data(), 0, nullptr), 0) << "no boundary";
    EXPECT_EQ(host_->setData(audio.data(), -5, &boundary), 0) << "negative length";
    EXPECT_FALSE(ts::FileExists(Temp(2))) << "track 1 has not ended";
    EXPECT_EQ(host_->EndTrack(), 1);
    EXPECT_EQ(ts::ReadFile(Temp(1)).size(), 44u) << "no refused byte was written";
}

TEST_F(RipTest, KillClosesTheOpenFileWithoutFinishingIt) {
    Album &album = NewAlbum(folder_, 1);
    ASSERT_EQ(Create(album), 1);
    Bytes audio = Audio(1000, 3);
    EXPECT_EQ(host_->Deliver(audio, 0), 1);
    EXPECT_EQ(host_->kill(), 0);
    EXPECT_EQ(ts::ReadFile(Temp(1)), Concat({CanonicalHeader(), audio}));
    // The file is closed: it can be removed.
    EXPECT_TRUE(ts::RemoveFile(Temp(1)));
}

TEST_F(RipTest, AnAlbumWithoutTracksOpensNothing) {
    Album &album = NewAlbum(folder_, 0);
    ASSERT_EQ(Create(album), 1);
    EXPECT_EQ(host_->EndTrack(), 1);
    EXPECT_EQ(ts::ListFolder(folder_).size(), 4u) << "settings, encoder, module and the rip's lock only";
}

TEST_F(RipTest, TheFirstTrackSkippedOpensNoFile) {
    Album &album = NewAlbum(folder_, 2);
    album.Skip(0);
    ASSERT_EQ(Create(album), 1);
    std::int32_t boundary = 0;
    EXPECT_EQ(host_->Deliver(Audio(777, 1), 0, &boundary), 1);
    EXPECT_EQ(boundary, 777);
    EXPECT_FALSE(ts::FileExists(Temp(1)));
    EXPECT_EQ(host_->EndTrack(), 1);
    EXPECT_TRUE(ts::FileExists(Temp(2)));
}

TEST_F(RipTest, RefusesATemporaryNameThatWouldBeCut) {
    // An output folder of exactly the length that leaves room for
    // "#temp(01).wav" within 259 characters, and one a character longer.
    const std::size_t fits = 259 - std::strlen("#temp(01).wav");
    std::string folder = folder_;
    ASSERT_LT(folder.size() + 1, fits) << "a temporary folder too long for this test";
    while (folder.size() < fits) {
        // Each part is a name and its separator; the last must not be left a
        // separator alone.
        std::size_t part = std::min<std::size_t>(100, fits - 1 - folder.size());
        if (fits - folder.size() == part + 2) --part;
        folder += std::string(part, 'd');
        folder += ts::Separator();
        ASSERT_TRUE(ts::MakeFolder(folder)) << folder;
    }
    ASSERT_EQ(folder.size(), fits);
    Album &album = NewAlbum(folder, 1);
    ASSERT_EQ(Create(album), 1);
    EXPECT_EQ(host_->EndTrack(), 1);
    EXPECT_TRUE(ts::FileExists(folder + "#temp(01).wav"));

    std::string longer = folder.substr(0, folder.size() - 1) + "e" + ts::Separator();
    ASSERT_TRUE(ts::MakeFolder(longer));
    Album &cut = NewAlbum(longer, 1);
    EXPECT_EQ(Create(cut), 0);
    EXPECT_TRUE(ts::ListFolder(longer).empty()) << "no file under a cut name";
}

TEST_F(RipTest, AWavFileReadsBackWithAnIndependentReader) {
    if (!ts::HaveTool("sndfile-info")) GTEST_SKIP() << "sndfile-info is not installed";
    Album &album = NewAlbum(folder_, 1);
    ASSERT_EQ(Create(album), 1);
    EXPECT_EQ(host_->Deliver(Audio(2352 * 75, 1), 0), 1);  // one second of CD audio
    EXPECT_EQ(host_->EndTrack(), 1);
    std::string info = ts::RunTool("sndfile-info '" + Temp(1) + "'");
    EXPECT_NE(info.find("Sample Rate : 44100"), std::string::npos) << info;
    EXPECT_NE(info.find("Channels    : 2"), std::string::npos) << info;
    EXPECT_NE(info.find("Frames      : 44100"), std::string::npos) << info;
    EXPECT_EQ(info.find("Should"), std::string::npos) << "no size complaint: " << info;
}

}  // namespace
