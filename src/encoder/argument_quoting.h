// Writing a text into a command line so that it arrives as one argument.
#pragma once

#include <cstddef>

namespace encbridge {

// Writes value (read up to its NUL or its width) into out, which holds
// capacity bytes, as one double-quoted argument that the Windows rules split
// back into exactly value: a double quote inside becomes \", and a run of
// backslashes is doubled where it stands before a double quote or at the end.
// Linux splits command lines by the same rules, so this holds on both builds.
//
// True when the whole quoted form fits in capacity - 1 characters; otherwise
// out holds it cut, which no caller may hand to a program.
bool QuoteArgument(char *out, std::size_t capacity, const char *value, std::size_t width);

}  // namespace encbridge
