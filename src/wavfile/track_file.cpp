#include "wavfile/track_file.h"

#include <cstring>
#include <new>

#include "platform/platform.h"
#include "wavfile/audio_stream.h"

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
void LocateSizeFields(TrackHeader &header, const std::uint8_t *given, std::int32_t length) {
    header.riffSizeOffset = -1;
    header.dataSizeOffset = -1;
    if (given == nullptr || length < 12 || std::memcmp(given, "RIFF", 4) != 0 || std::memcmp(given + 8, "WAVE", 4) != 0)
        return;
    header.riffSizeOffset = 4;
    std::int64_t chunk = 12;
    while (chunk + 8 <= length) {
        if (std::memcmp(given + chunk, "data", 4) == 0) {
            header.dataSizeOffset = static_cast<std::int32_t>(chunk + 4);
            return;
        }
        std::uint32_t size = ReadLittle32(given + chunk + 4);
        chunk += 8 + static_cast<std::int64_t>(size) + (size & 1);
    }
}

bool WriteAt(std::FILE *file, std::int32_t offset, std::uint32_t value) {
    std::uint8_t bytes[4];
    WriteLE32(bytes, value);
    return std::fseek(file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, file) == 4;
}

}  // namespace

void ReleaseHeader(TrackHeader &header) {
    delete[] header.bytes;
    header.bytes = nullptr;
    header.length = 0;
}

bool SelectHeader(TrackHeader &header, const std::uint8_t *given, std::int32_t length) {
    ReleaseHeader(header);
    if (given == nullptr) {
        given = kDefaultHeader;
        length = sizeof kDefaultHeader;
    }
    LocateSizeFields(header, given, length);
    if (length <= 0) return true;  // no header
    header.bytes = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(length)];
    if (header.bytes == nullptr) return false;
    std::memcpy(header.bytes, given, static_cast<std::size_t>(length));
    header.length = length;
    return true;
}

std::FILE *OpenTrackFile(const char *path, const TrackHeader &header, platform::SystemError *error) {
    std::FILE *file = platform::OpenTrackStream(path, error);
    if (file == nullptr) return nullptr;
    const std::size_t length = static_cast<std::size_t>(header.length);
    if ((length > 0 && platform::WriteTrackBytes(file, header.bytes, length, error) != length) || std::ferror(file)) {
        (void)CloseTrackFile(file);
        return nullptr;
    }
    return file;
}

void FinishTrackFile(std::FILE *file, const TrackHeader &header) {
    if (file == nullptr) return;
    // Everything was appended, so the position is the length of the file.
    const long length = std::ftell(file);
    if (length >= 0) {
        const std::uint32_t fileLength = static_cast<std::uint32_t>(length);
        if (header.riffSizeOffset >= 0) WriteAt(file, header.riffSizeOffset, fileLength - 8);
        if (header.dataSizeOffset >= 0) {
            WriteAt(file, header.dataSizeOffset, fileLength - static_cast<std::uint32_t>(header.dataSizeOffset + 4));
        }
    }
    (void)CloseTrackFile(file);
}

std::int32_t CloseTrackFile(std::FILE *file) {
    if (file == nullptr) return 0;
    return std::fclose(file) == 0 ? 0 : -1;
}

}  // namespace encbridge
