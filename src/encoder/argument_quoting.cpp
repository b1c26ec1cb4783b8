#include "encoder/argument_quoting.h"

#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {

namespace {

// Appends through the formatter at the end of what has been written so far,
// so that the quoted form is built in one pass and can never overrun out.
class Appender {
public:
    Appender(char *out, std::size_t capacity) : out_(out), capacity_(capacity), length_(0), complete_(true) {
        if (capacity_ > 0) out_[0] = '\0';
    }

    void Put(const char *piece, std::size_t count) {
        if (!complete_) return;
        if (capacity_ == 0) {
            complete_ = false;
            return;
        }
        FormatStatus status;
        length_ += FormatText(out_ + length_, capacity_ - length_, "%s", {FormatArg(piece, count)}, &status);
        if (status != FormatStatus::Complete) complete_ = false;
    }

    bool complete() const { return complete_; }

private:
    char *out_;
    std::size_t capacity_;
    std::size_t length_;
    bool complete_;
};

// What cmd.exe acts on in a line it runs: line breaks end the command
// whatever the quotes; '%' expands variables inside quotes too (and under
// wine no way of writing it keeps it from doing so).
bool ActsInsideQuotes(char c) { return c == '\r' || c == '\n' || c == '%'; }

// ...and, outside quotes, its operators, quote and escape character.
bool ActsOutsideQuotes(char c) {
    switch (c) {
        case '"':
        case '&':
        case '|':
        case '<':
        case '>':
        case '^':
        case '(':
        case ')':
            return true;
        default:
            return ActsInsideQuotes(c);
    }
}

}  // namespace

QuoteResult QuoteArgument(CommandStyle style, char *out, std::size_t capacity, const char *value, std::size_t width) {
    const bool batchFile = style == CommandStyle::BatchFile;
    Appender quoted(out, capacity);
    const std::size_t length = BoundedLength(value, width);
    quoted.Put("\"", 1);
    std::size_t plainStart = 0;   // what lies from here on is not written yet
    std::size_t backslashes = 0;  // the run of backslashes just passed
    std::size_t i = 0;
    while (i < length) {
        const std::size_t size = platform::CharacterLength(value + i, length - i);
        if (size == 0) return QuoteResult::Unsafe;
        if (size > 1) {
            // A trail byte may equal '\' or '"' and is neither.
            i += size;
            backslashes = 0;
            continue;
        }
        const char c = value[i];
        if (batchFile && ActsInsideQuotes(c)) return QuoteResult::Unsafe;
        if (c != '"') {
            backslashes = c == '\\' ? backslashes + 1 : 0;
            ++i;
            continue;
        }
        // The run before this quote is written, then once more, so that
        // each of its backslashes has a partner and none escapes the quote.
        quoted.Put(value + plainStart, i - plainStart);
        quoted.Put(value + i - backslashes, backslashes);
        if (batchFile) {
            quoted.Put("\"\"", 2);
        } else {
            quoted.Put("\\\"", 2);
        }
        backslashes = 0;
        ++i;
        plainStart = i;
    }
    quoted.Put(value + plainStart, length - plainStart);
    // A run at the end stands before our closing quote.
    quoted.Put(value + length - backslashes, backslashes);
    quoted.Put("\"", 1);
    return quoted.complete() ? QuoteResult::Quoted : QuoteResult::TooLong;
}

namespace {

// True when no character of value is one that acts.
bool NoneActs(const char *value, std::size_t width, bool (*acts)(char)) {
    const std::size_t length = BoundedLength(value, width);
    for (std::size_t i = 0; i < length;) {
        const std::size_t size = platform::CharacterLength(value + i, length - i);
        if (size == 0) return false;
        if (size == 1 && acts(value[i])) return false;
        i += size;
    }
    return true;
}

}  // namespace

bool SafeUnquotedInBatchFile(const char *value, std::size_t width) { return NoneActs(value, width, ActsOutsideQuotes); }

bool SafeQuotedInBatchFile(const char *value, std::size_t width) { return NoneActs(value, width, ActsInsideQuotes); }

}  // namespace encbridge
