// Final file names of the tracks, from the --name pattern.
#pragma once

#include <cstddef>
#include <string>

namespace host {

struct NameFields {
    int number;  // from 1
    std::string title;
    std::string performer;
    std::string album;
};

// Checks that every "{...}" in pattern is a known field. False with a message
// in error otherwise.
bool CheckNamePattern(const std::string &pattern, std::string &error);

// The pattern with its fields filled in, made safe as a file name and cut to
// at most maxBytes bytes (never inside a UTF-8 sequence). A name that ends
// up empty becomes "Track NN".
std::string MakeTrackName(const std::string &pattern, const NameFields &fields, std::size_t maxBytes);

// Replaces what Linux or Windows file systems refuse in a name: path
// separators, the characters : * ? " < > |, and control characters become
// "_"; blanks at both ends and dots at the end are removed.
std::string SafeFileName(const std::string &name);

}  // namespace host
