// The one bounded formatter through which every text of the module is made.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "encbridge/limits.h"

namespace encbridge {

using PathBuffer = char[kPathCapacity];

// One argument of FormatText. A text is read up to its NUL or its width,
// whichever comes first, so a host field without a NUL is never read past its
// end. A plain pointer has no width and is refused at compile time: pass the
// array itself, or the pointer with its capacity.
struct FormatArg {
    // Implicit on purpose: a pattern's arguments are written as a braced
    // list of arrays and numbers.
    template <std::size_t N>
    // cppcheck-suppress noExplicitConstructor
    FormatArg(const char (&array)[N]) : text(array), width(N), number(0) {}
    FormatArg(const char *bounded, std::size_t capacity) : text(bounded), width(capacity), number(0) {}
    // cppcheck-suppress noExplicitConstructor
    FormatArg(int value) : text(nullptr), width(0), number(value) {}

    const char *text;
    std::size_t width;
    int number;
};

enum class FormatStatus { Complete, Cut, Failed };

// Formats pattern into buffer, which holds size bytes. The pattern knows only
// "%s" (a text argument), "%d" and "%02d" (number arguments). At most
// size - 1 characters are written and the buffer is always NUL-terminated
// (unless size is 0); a longer result is cut.
//
// Returns the length of the result, or 0 when it was cut or formatting
// failed (an unknown conversion, or arguments that do not match the
// pattern), and so also for an empty result. Where the difference between
// "empty" and "cut" matters, status tells it.
std::size_t FormatText(char *buffer, std::size_t size, const char *pattern, std::initializer_list<FormatArg> args,
                       FormatStatus *status = nullptr);

// FormatText, true only when the whole result fit. For what must never be
// used cut: a cut path could name another file, a cut line drop an argument.
bool FormatWhole(char *buffer, std::size_t size, const char *pattern, std::initializer_list<FormatArg> args);

// Length of a text read within its width: the position of its first NUL, or
// the width when it holds none.
std::size_t BoundedLength(const char *text, std::size_t width);

template <std::size_t N>
std::size_t BoundedLength(const char (&array)[N]) {
    return BoundedLength(array, N);
}

}  // namespace encbridge
