// Final file names of the tracks, from the --name pattern.
#pragma once

#include <cstddef>
#include <string>

namespace host {

struct NameFields {
    int number = 0;  // the sheet's
    std::string title;
    std::string performer;
    std::string album;
    std::string albumArtist;
    std::string date;
    std::string genre;
    std::string disc;
};

// Checks that every "{...}" in pattern is a known field. False with a message
// in error, which starts with option, otherwise.
bool CheckNamePattern(const std::string &pattern, std::string &error, const char *option = "--name");

// The pattern with its fields filled in. A "/" written in the pattern
// separates folders below the output folder; one inside a field's value is
// a character like any other. Each part is made safe as a file name (a part
// that ends up empty, "." or "..", is left out, so the name never leaves
// the output folder) and cut to 255 bytes, the last one to 255 less
// extensionBytes; the whole to maxBytes, by cutting the last part (never
// inside a UTF-8 sequence). A last part that ends up empty becomes
// "Track NN".
std::string MakeTrackName(const std::string &pattern, const NameFields &fields, std::size_t maxBytes,
                          std::size_t extensionBytes = 0);

// A folder from the --out pattern: the parts of pattern that hold fields
// filled in, each made one safe folder name (a "/" in a value never makes a
// folder; a part that ends up empty, "." or ".." is left out), the parts
// without fields as the user wrote them.
std::string MakeFolderPath(const std::string &pattern, const NameFields &fields);

// Replaces what Linux or Windows file systems refuse in a name: path
// separators, the characters : * ? " < > |, and control characters (C0,
// DEL and C1) become "_"; blanks at both ends and dots at the end are removed.
std::string SafeFileName(const std::string &name);

}  // namespace host
