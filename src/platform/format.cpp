#include "platform/format.h"

#include <cstring>

namespace encbridge {

bool FormatWhole(char *buffer, std::size_t size, const char *pattern, std::initializer_list<FormatArg> args) {
    FormatStatus status = FormatStatus::Failed;
    FormatText(buffer, size, pattern, args, &status);
    return status == FormatStatus::Complete;
}

std::size_t BoundedLength(const char *text, std::size_t width) {
    if (text == nullptr) return 0;
    const void *nul = std::memchr(text, '\0', width);
    return nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - text) : width;
}

namespace {

// Appends to a fixed buffer and remembers whether anything fell off the end.
struct Sink {
    char *buffer;
    std::size_t limit;  // characters that fit, NUL excluded
    std::size_t length;
    bool cut;

    void Put(const char *text, std::size_t count) {
        std::size_t room = limit - length;
        if (count > room) {
            count = room;
            cut = true;
        }
        std::memcpy(buffer + length, text, count);
        length += count;
    }
};

// Decimal digits of value, zero-padded to a width of minWidth characters,
// the sign included (as printf's "%02d" prints -5 as "-5").
std::size_t FormatNumber(char (&out)[16], int value, std::size_t minWidth) {
    char digits[12];
    std::size_t count = 0;
    // Work in unsigned so that the most negative int has a magnitude.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::size_t length = 0;
    if (value < 0) out[length++] = '-';
    for (std::size_t width = length + count; width < minWidth; ++width) out[length++] = '0';
    while (count > 0) out[length++] = digits[--count];
    return length;
}

}  // namespace

std::size_t FormatText(char *buffer, std::size_t size, const char *pattern, std::initializer_list<FormatArg> args,
                       FormatStatus *status) {
    if (status) *status = FormatStatus::Failed;
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    if (pattern == nullptr) return 0;

    Sink sink{buffer, size - 1, 0, false};
    const FormatArg *arg = args.begin();
    for (const char *p = pattern; *p != '\0';) {
        if (*p != '%') {
            const char *run = p;
            while (*p != '\0' && *p != '%') ++p;
            sink.Put(run, static_cast<std::size_t>(p - run));
            continue;
        }
        bool text = p[1] == 's';
        bool plain = p[1] == 'd';
        bool twoDigits = p[1] == '0' && p[2] == '2' && p[3] == 'd';
        if (!(text || plain || twoDigits) || arg == args.end() || (text != (arg->text != nullptr))) {
            buffer[0] = '\0';
            return 0;
        }
        if (text) {
            sink.Put(arg->text, BoundedLength(arg->text, arg->width));
            p += 2;
        } else {
            char digits[16];
            const std::size_t count = FormatNumber(digits, arg->number, twoDigits ? 2 : 1);
            sink.Put(digits, count);
            p += twoDigits ? 4 : 2;
        }
        ++arg;
    }
    buffer[sink.length] = '\0';
    if (arg != args.end()) {
        buffer[0] = '\0';
        return 0;
    }
    if (status) *status = sink.cut ? FormatStatus::Cut : FormatStatus::Complete;
    return sink.cut ? 0 : sink.length;
}

}  // namespace encbridge
