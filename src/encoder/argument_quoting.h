// Writing a text into a command line so that it arrives as one argument.
#pragma once

#include <cstddef>

namespace encbridge {

// Who reads the encoder's command line first.
enum class CommandStyle {
    // The program itself, which splits it by the Windows argument rules (and
    // on Linux the module, by the same rules).
    Arguments,
    // cmd.exe, which runs a batch file with it: its own rules for quotes,
    // operators and %variables% apply before the script sees %1..%9.
    BatchFile,
};

enum class QuoteResult {
    Quoted,
    // The quoted form does not fit in capacity - 1 characters.
    TooLong,
    // No quoted form keeps the value one argument and inert: a broken
    // double-byte character (a lead byte without its trail byte), or, for a
    // batch file, a line break or a '%', which cmd.exe would act on.
    Unsafe,
};

// Writes value (read up to its NUL or its width) into out, which holds
// capacity bytes, as one double-quoted argument that the reader of the style
// splits back into exactly value. Double-byte characters of the code page in
// force are copied as units, so that a trail byte equal to '\' or '"' is
// never taken for one.
//
// Arguments: a double quote inside becomes \", and a run of backslashes is
// doubled where it stands before a double quote or at the end.
// BatchFile: a double quote inside becomes "" (cmd.exe's own escape, which
// the C runtime also reads as one quote, so every character stays inside
// cmd.exe's quotes and no operator in it acts), and runs of backslashes
// before a quote are doubled as above.
//
// Only Quoted leaves a text that may be handed to a program.
QuoteResult QuoteArgument(CommandStyle style, char *out, std::size_t capacity, const char *value, std::size_t width);

// Whether value (up to its NUL or its width) may stand unquoted in a batch
// file's command line: none of its characters is a cmd.exe operator, quote,
// escape or expansion, nor a line break, and it holds no broken double-byte
// character.
bool SafeUnquotedInBatchFile(const char *value, std::size_t width);
// Whether value may stand in a batch file's line inside double quotes that
// are not its own, as the script's path does: no line break, no '%', and no
// broken double-byte character. (A double quote in it ends the quotes.)
bool SafeQuotedInBatchFile(const char *value, std::size_t width);

}  // namespace encbridge
