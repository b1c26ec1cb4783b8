// The module's journal records as the tools read them: a line split into its
// fields, each with its escapes undone, at the places that
// encbridge/journal_format.h gives them. Shared by the reference host and
// the Windows try-out program, which read the same journal.
#pragma once

#include <string>
#include <vector>

#include "encbridge/journal_format.h"

namespace encbridge_tools {

// A journal text field with its escapes undone.
inline std::string UnescapeField(const std::string &field) {
    std::string text(field.size(), '\0');
    text.resize(encbridge::journal::UnescapeField(field.data(), field.size(), &text[0]));
    return text;
}

// Splits a record's line into its fields; empty when it is no record.
inline std::vector<std::string> SplitRecord(const std::string &line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(UnescapeField(line.substr(start, tab - start)));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (fields.size() <= encbridge::journal::kKind) fields.clear();
    return fields;
}

// A record's field; empty where it holds "-" (nothing), and where the
// record, written before the field was kept, ends before it.
inline std::string FieldAt(const std::vector<std::string> &fields, std::size_t place) {
    return fields.size() > place && fields[place] != "-" ? fields[place] : std::string();
}

// text as it may be printed: control characters (C0, DEL and C1, which a
// terminal takes as commands) become "?", so that a title from a cue sheet
// or a disc database, or what an encoder wrote, cannot drive the terminal.
inline std::string Shown(const std::string &text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next < 0xA0) {
            shown += '?';
            ++i;
        } else {
            shown += byte < 0x20 || byte == 0x7F ? '?' : text[i];
        }
    }
    return shown;
}

// A program's kept words, a line each as it may be printed, blank lines
// left out; a lone carriage return (a progress meter's) ends a line too.
inline std::vector<std::string> MessageLines(const std::string &messages) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < messages.size()) {
        std::size_t end = messages.find_first_of("\r\n", start);
        if (end == std::string::npos) end = messages.size();
        const std::string line = messages.substr(start, end - start);
        if (line.find_first_not_of(" \t") != std::string::npos) lines.push_back(Shown(line));
        start = end + 1;
    }
    return lines;
}

// Whether a record's fields belong to a rip of process pid: the rip field
// begins with the process id and a dot.
inline bool OfProcess(const std::vector<std::string> &fields, unsigned long pid) {
    const std::string ours = std::to_string(pid) + ".";
    return fields.size() > encbridge::journal::kRip &&
           fields[encbridge::journal::kRip].compare(0, ours.size(), ours) == 0;
}

}  // namespace encbridge_tools
