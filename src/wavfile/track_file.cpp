#include "wavfile/track_file.h"

#include <cstring>
#include <new>

#include "interface/rip_state.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "wavfile/temp_names.h"

namespace encbridge {

const std::uint8_t kDefaultHeader[44] = {
    'R',  'I',  'F',  'F',  0x44, 0xA7, 0xEE, 0x07,                                      // RIFF size 133,080,900
    'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00,  // PCM
    0x02, 0x00,                                                                          // 2 channels
    0x44, 0xAC, 0x00, 0x00,                                                              // 44,100 samples per second
    0x10, 0xB1, 0x02, 0x00,                                                              // 176,400 bytes per second
    0x04, 0x00, 0x10, 0x00,                                                              // 4 bytes per frame, 16 bits
    'd',  'a',  't',  'a',  0x20, 0xA7, 0xEE, 0x07,                                      // data size 133,080,864
};

namespace {

std::uint32_t ReadLE32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void WriteLE32(std::uint8_t *p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

// Finds the two size fields that the finish patches. Only a RIFF/WAVE header
// has them; the "data" chunk header is looked for by walking the chunks, and
// only within the bytes the host gave, so that no byte of audio is ever taken
// for a size.
void LocateSizeFields(const std::uint8_t *h, std::int32_t n) {
    rip.riffSizeOffset = -1;
    rip.dataSizeOffset = -1;
    if (h == nullptr || n < 12 || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) return;
    rip.riffSizeOffset = 4;
    std::int64_t chunk = 12;
    while (chunk + 8 <= n) {
        if (std::memcmp(h + chunk, "data", 4) == 0) {
            rip.dataSizeOffset = static_cast<std::int32_t>(chunk + 4);
            return;
        }
        std::uint32_t size = ReadLE32(h + chunk + 4);
        chunk += 8 + static_cast<std::int64_t>(size) + (size & 1);
    }
}

bool WriteAt(std::FILE *file, std::int32_t offset, std::uint32_t value) {
    std::uint8_t bytes[4];
    WriteLE32(bytes, value);
    return std::fseek(file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, file) == 4;
}

}  // namespace

void AbandonTrackFile() {
    (void)CloseTrackFile();
    const std::int32_t index = rip.currentTrack.load(std::memory_order_relaxed);
    if (rip.tempBases != nullptr && index >= 0 && index < TrackCount()) rip.tempBases[index][0] = '\0';
}

std::int32_t CloseTrackFile() {
    if (rip.trackFile == nullptr) return 0;
    int closed = std::fclose(rip.trackFile);
    rip.trackFile = nullptr;
    return closed == 0 ? 0 : -1;
}

void ReleaseHeader() {
    delete[] rip.headerBytes;
    rip.headerBytes = nullptr;
}

std::int32_t SelectHeader(const std::uint8_t *h, std::int32_t n) {
    ReleaseHeader();
    rip.headerLength = 0;
    if (h == nullptr) {
        h = kDefaultHeader;
        n = sizeof kDefaultHeader;
    }
    LocateSizeFields(h, n);
    if (n <= 0) return 1;  // no header; headerTemplate keeps what it holds

    rip.headerBytes = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(n)];
    if (rip.headerBytes == nullptr) return 0;
    std::memcpy(rip.headerBytes, h, static_cast<std::size_t>(n));
    rip.headerLength = n;
    // A header shorter than 44 bytes fills only the front of the template.
    std::size_t templateBytes = n < 44 ? static_cast<std::size_t>(n) : 44;
    std::memset(rip.headerTemplate, 0, sizeof rip.headerTemplate);
    std::memcpy(rip.headerTemplate, h, templateBytes);
    return 1;
}

std::int32_t OpenTrackFile() {
    if (rip.info == nullptr) return 0;
    std::int32_t index = rip.currentTrack.load(std::memory_order_relaxed);
    if (index >= TrackCount()) return 1;
    (void)CloseTrackFile();
    if (!IsProcessed(Track(index))) {
        rip.skipTrack = true;
        return 1;
    }
    rip.skipTrack = false;

    // A name that had to be cut could be shared by several tracks, which would
    // then write into one file: such a track is refused instead.
    PathBuffer &base = rip.tempBases[index];
    const std::size_t folderWidth = sizeof rip.info->outputFolder;
    if (!FormTempBase(base, rip.info->outputFolder, folderWidth, index + 1)) {
        base[0] = '\0';
        return 0;
    }
    // The worker encodes a track only while its name is set. Whatever lies
    // under this name (a WAV file that an earlier rip kept, a link, a FIFO)
    // is moved aside first and never written through; one that stays in the
    // way fails the open, and is then neither encoded nor deleted as this
    // track.
    char wavPath[kPathCapacity];
    if (FormatText(wavPath, sizeof wavPath, "%s%s", {FormatArg(base, kPathCapacity), ".wav"}) != 0 &&
        ClearTheWay(wavPath, rip.info->outputFolder, folderWidth, index + 1, ".wav", 5)) {
        rip.trackFile = platform::OpenTrackStream(wavPath);
    }
    if (rip.trackFile == nullptr) {
        base[0] = '\0';
        return 0;
    }
    const std::size_t headerLength = static_cast<std::size_t>(rip.headerLength);
    if ((headerLength > 0 && platform::WriteTrackBytes(rip.trackFile, rip.headerBytes, headerLength) != headerLength) ||
        std::ferror(rip.trackFile)) {
        (void)CloseTrackFile();
        base[0] = '\0';
        return 0;
    }
    return 1;
}

void FinishTrackFile() {
    std::FILE *file = rip.trackFile;
    if (file == nullptr) return;
    // Everything was appended, so the position is the length of the file.
    long length = std::ftell(file);
    if (length >= 0) {
        std::uint32_t fileLength = static_cast<std::uint32_t>(length);
        if (rip.riffSizeOffset >= 0) {
            WriteLE32(rip.headerTemplate + rip.riffSizeOffset, fileLength - 8);
            WriteAt(file, rip.riffSizeOffset, fileLength - 8);
        }
        if (rip.dataSizeOffset >= 0) {
            std::uint32_t dataSize = fileLength - static_cast<std::uint32_t>(rip.dataSizeOffset + 4);
            if (rip.dataSizeOffset + 4 <= static_cast<std::int32_t>(sizeof rip.headerTemplate)) {
                WriteLE32(rip.headerTemplate + rip.dataSizeOffset, dataSize);
            }
            WriteAt(file, rip.dataSizeOffset, dataSize);
        }
    }
    (void)CloseTrackFile();
}

}  // namespace encbridge
