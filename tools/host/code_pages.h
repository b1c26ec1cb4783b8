// Which code page a cue sheet that is not UTF-8 was written in. Each common
// code page reads the bytes; the readings are weighed by what titles hold
// (letters of one language in a word, in its usual case, frequent letters and
// characters) against what only a misreading gives (box-drawing signs,
// controls, a word mixing alphabets). Where no reading stands out, the sheet
// is not read: a wrong guess would name files and tags in garbage without a
// word.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace host {

// Makes bytes in charset (a name iconv knows) UTF-8. With utf8Around, what is
// valid UTF-8 stays as it is and only the other bytes, up to the next UTF-8
// character beyond ASCII or the line's end, are read in charset: a sheet
// written in UTF-8 with a title pasted in from another code page. False when
// a byte does not belong to charset (badAt: its offset) or iconv does not
// know charset (badAt: npos).
bool ReadInCodePage(const std::string &bytes, const char *charset, bool utf8Around, std::string &text,
                    std::size_t &badAt);

struct CodePageGuess {
    bool sure = false;
    std::string name;         // for iconv and --cue-charset
    std::string description;  // what it is for ("Windows Cyrillic")
    std::string text;         // the reading, UTF-8, when sure
    bool utf8Around = false;  // the text is UTF-8 but for some bytes
    // When not sure: the likeliest readings, best first, each as
    // `NAME ("a title as it reads")`; empty when no code page reads the bytes.
    std::vector<std::string> likely;
    std::string suggestion;  // the first of them that --cue-charset can name
};

// The reading of bytes that are not UTF-8 (utf8Around: UTF-8 for all but
// some of them, as ReadInCodePage reads them) that stands out of the
// readings in the common code pages, or not sure.
CodePageGuess GuessCodePage(const std::string &bytes, bool utf8Around);

// How a UTF-8 text reads as a cue sheet's: higher for the letters and
// characters that titles hold. strange counts characters that no title holds
// (controls, box-drawing signs, private use), broken the letters beyond ASCII
// in words that no language writes (mixed alphabets, case, letters of no one
// language), letters those beyond ASCII.
struct TextWeight {
    int score = 0;
    int strange = 0;
    int broken = 0;
    int letters = 0;
};
TextWeight WeighText(const std::string &text);

// A text without characters that no title holds, and with few words that no
// language writes.
bool Clean(const TextWeight &weight);

// Appends the code point c to out as UTF-8.
void AppendUtf8(std::string &out, char32_t c);

}  // namespace host
