#include "encoder/argument_quoting.h"

#include "platform/format.h"

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

}  // namespace

bool QuoteArgument(char *out, std::size_t capacity, const char *value, std::size_t width) {
    Appender quoted(out, capacity);
    const std::size_t length = BoundedLength(value, width);
    quoted.Put("\"", 1);
    std::size_t plainStart = 0;
    std::size_t i = 0;
    while (i < length) {
        if (value[i] != '\\' && value[i] != '"') {
            ++i;
            continue;
        }
        // Copy what lies before this run of backslashes (possibly empty) and
        // the run itself once.
        std::size_t runStart = i;
        while (i < length && value[i] == '\\') ++i;
        quoted.Put(value + plainStart, i - plainStart);
        const std::size_t run = i - runStart;
        if (i == length || value[i] == '"') {
            // The run stands before a quote of ours or of the value: each of
            // its backslashes needs a partner so that none escapes the quote.
            quoted.Put(value + runStart, run);
        }
        if (i < length && value[i] == '"') {
            quoted.Put("\\\"", 2);
            ++i;
        }
        plainStart = i;
    }
    quoted.Put(value + plainStart, length - plainStart);
    quoted.Put("\"", 1);
    return quoted.complete();
}

}  // namespace encbridge
