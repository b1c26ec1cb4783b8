// Profile files read the way Windows reads them, so that one settings file
// gives the same values on both builds.
//
// Where Windows' behaviour is not known, this reader chooses:
// - A header without "]" opens the section named by the rest of the line
//   after "[", with blanks trimmed.
// - Keys before the first header belong to no section and are never found.
// - A ";" after leading blanks still starts a comment.
// - Names compare without regard to case for ASCII letters only; other bytes
//   must be equal.
// - A file that starts with the UTF-16LE byte order mark is read as UTF-16
//   and its text handed out as UTF-8 (an unpaired surrogate becomes "?");
//   any other file is taken byte for byte.
// - A file that is not a regular file, or is larger than kMaxFileSize, is
//   treated as missing.
// - A null section or key (Windows' lists of names) gives the default, as a
//   missing key does; the module never asks for a list.
// - ProfileInt reads the whole value, with no limit on its length, and knows
//   no prefix but "0x".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

namespace {

constexpr std::size_t kMaxFileSize = std::size_t{16} * 1024 * 1024;

struct Text {
    const char *data;
    std::size_t size;
};

// The whole content of a profile file, already in the form the parser reads.
struct FileContent {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
};

// Blanks around names and values in the file. Ctrl-Z is the old DOS end of
// file mark, which files copied from old media still carry after the last
// value.
bool IsFileBlank(char c) { return c == ' ' || c == '\t' || c == '\x1a'; }

Text TrimFileBlanks(Text text) {
    while (text.size > 0 && IsFileBlank(text.data[0])) {
        ++text.data;
        --text.size;
    }
    while (text.size > 0 && IsFileBlank(text.data[text.size - 1])) --text.size;
    return text;
}

// Windows trims only spaces from the names a caller asks for; a tab stays
// part of the name and so never matches.
Text TrimQuerySpaces(const char *name) {
    Text text{name, std::strlen(name)};
    while (text.size > 0 && text.data[0] == ' ') {
        ++text.data;
        --text.size;
    }
    while (text.size > 0 && text.data[text.size - 1] == ' ') --text.size;
    return text;
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(Text a, Text b) {
    if (a.size != b.size) return false;
    for (std::size_t i = 0; i < a.size; ++i) {
        if (FoldCase(a.data[i]) != FoldCase(b.data[i])) return false;
    }
    return true;
}

Text StripQuotes(Text text) {
    if (text.size >= 2 && (text.data[0] == '"' || text.data[0] == '\'') && text.data[text.size - 1] == text.data[0]) {
        return Text{text.data + 1, text.size - 2};
    }
    return text;
}

bool ReadRegularFile(const char *path, FileContent &content) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<unsigned long long>(info.st_size) > kMaxFileSize) {
        close(fd);
        return false;
    }
    std::size_t expected = static_cast<std::size_t>(info.st_size);
    content.bytes.reset(new (std::nothrow) char[expected + 1]);
    if (!content.bytes) {
        close(fd);
        return false;
    }
    // A file that grows while it is read is cut at the size it had when it
    // was opened.
    std::size_t got = 0;
    while (got < expected) {
        ssize_t count = read(fd, content.bytes.get() + got, expected - got);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            close(fd);
            return false;
        }
        if (count == 0) break;
        got += static_cast<std::size_t>(count);
    }
    close(fd);
    content.size = got;
    return true;
}

void AppendUtf8(char *out, std::size_t &length, std::uint32_t code) {
    if (code < 0x80) {
        out[length++] = static_cast<char>(code);
    } else if (code < 0x800) {
        out[length++] = static_cast<char>(0xC0 | (code >> 6));
        out[length++] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out[length++] = static_cast<char>(0xE0 | (code >> 12));
        out[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[length++] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out[length++] = static_cast<char>(0xF0 | (code >> 18));
        out[length++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[length++] = static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Replaces a UTF-16LE content (byte order mark first) by its UTF-8 form. A
// code unit never takes more than three bytes of UTF-8 (a surrogate pair
// takes four for two units), so three bytes a unit always suffice.
bool DecodeUtf16(FileContent &content) {
    const unsigned char *in = reinterpret_cast<const unsigned char *>(content.bytes.get());
    std::size_t units = (content.size - 2) / 2;
    std::unique_ptr<char[]> decoded(new (std::nothrow) char[units * 3 + 1]);
    if (!decoded) return false;
    std::size_t length = 0;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t unit = in[2 + 2 * i] | (in[3 + 2 * i] << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            std::uint32_t next = in[4 + 2 * i] | (in[5 + 2 * i] << 8);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(decoded.get(), length, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(decoded.get(), length, (unit >= 0xD800 && unit <= 0xDFFF) ? '?' : unit);
    }
    content.bytes = std::move(decoded);
    content.size = length;
    return true;
}

bool LoadProfile(const char *path, FileContent &content) {
    if (path == nullptr || !ReadRegularFile(path, content)) return false;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(content.bytes.get());
    if (content.size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE && !DecodeUtf16(content)) return false;
    // Windows gives every query on a file with a NUL in it the default.
    return std::memchr(content.bytes.get(), '\0', content.size) == nullptr;
}

// Looks the key up in the first section of that name. True with its value
// (blanks trimmed, quotes still on) when found.
bool FindValue(const FileContent &content, const char *section, const char *key, Text &value) {
    Text wantedSection = TrimQuerySpaces(section);
    Text wantedKey = TrimQuerySpaces(key);
    const char *p = content.bytes.get();
    const char *end = p + content.size;
    bool inSection = false;
    while (p < end) {
        const char *lineEnd = p;
        while (lineEnd < end && *lineEnd != '\r' && *lineEnd != '\n') ++lineEnd;
        Text line = TrimFileBlanks(Text{p, static_cast<std::size_t>(lineEnd - p)});
        p = lineEnd;
        // LF, CR LF and a lone CR each end one line.
        if (p < end && *p == '\r') ++p;
        if (p < end && *p == '\n') ++p;

        if (line.size == 0 || line.data[0] == ';') continue;
        if (line.data[0] == '[') {
            // Later sections of the same name are never searched.
            if (inSection) return false;
            const char *close = static_cast<const char *>(std::memchr(line.data + 1, ']', line.size - 1));
            std::size_t nameSize = close ? static_cast<std::size_t>(close - line.data - 1) : line.size - 1;
            inSection = SameName(TrimFileBlanks(Text{line.data + 1, nameSize}), wantedSection);
            continue;
        }
        if (!inSection) continue;
        const char *equals = static_cast<const char *>(std::memchr(line.data, '=', line.size));
        if (equals == nullptr) continue;
        Text name = TrimFileBlanks(Text{line.data, static_cast<std::size_t>(equals - line.data)});
        if (!SameName(name, wantedKey)) continue;
        const char *valueStart = equals + 1;
        value = TrimFileBlanks(Text{valueStart, static_cast<std::size_t>(line.data + line.size - valueStart)});
        return true;
    }
    return false;
}

bool LookUp(const char *section, const char *key, const char *path, Text &value, FileContent &content) {
    if (section == nullptr || key == nullptr || !LoadProfile(path, content)) return false;
    return FindValue(content, section, key, value);
}

// Trailing spaces of the default go, but never its first character: a default
// of only spaces gives one space.
Text TrimDefault(const char *fallback) {
    if (fallback == nullptr) return Text{"", 0};
    Text text{fallback, std::strlen(fallback)};
    while (text.size > 1 && text.data[text.size - 1] == ' ') --text.size;
    return text;
}

}  // namespace

std::uint32_t ProfileString(const char *section, const char *key, const char *fallback, char *out, std::uint32_t size,
                            const char *path) {
    if (out == nullptr || size == 0) return 0;
    FileContent content;
    Text value;
    if (!LookUp(section, key, path, value, content)) value = TrimDefault(fallback);
    value = StripQuotes(value);
    std::size_t count = value.size < size - 1 ? value.size : size - 1;
    std::memcpy(out, value.data, count);
    out[count] = '\0';
    return static_cast<std::uint32_t>(count);
}

std::int32_t ProfileInt(const char *section, const char *key, std::int32_t fallback, const char *path) {
    FileContent content;
    Text value;
    if (!LookUp(section, key, path, value, content)) return fallback;
    value = StripQuotes(value);
    if (value.size == 0) return fallback;

    const char *p = value.data;
    const char *end = p + value.size;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // Unsigned arithmetic wraps modulo 2^32, as Windows' result does.
    std::uint32_t result = 0;
    if (end - p >= 2 && p[0] == '0' && p[1] == 'x') {
        for (p += 2; p < end; ++p) {
            unsigned digit;
            if (*p >= '0' && *p <= '9') {
                digit = static_cast<unsigned>(*p - '0');
            } else if (*p >= 'a' && *p <= 'f') {
                digit = static_cast<unsigned>(*p - 'a' + 10);
            } else if (*p >= 'A' && *p <= 'F') {
                digit = static_cast<unsigned>(*p - 'A' + 10);
            } else {
                break;
            }
            result = result * 16u + digit;
        }
    } else {
        for (; p < end && *p >= '0' && *p <= '9'; ++p) result = result * 10u + static_cast<unsigned>(*p - '0');
    }
    if (negative) result = 0u - result;
    return static_cast<std::int32_t>(result);
}

}  // namespace platform
}  // namespace encbridge
