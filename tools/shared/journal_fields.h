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

// Whether a record's fields belong to a rip of process pid: the rip field
// begins with the process id and a dot.
inline bool OfProcess(const std::vector<std::string> &fields, unsigned long pid) {
    const std::string ours = std::to_string(pid) + ".";
    return fields.size() > encbridge::journal::kRip &&
           fields[encbridge::journal::kRip].compare(0, ours.size(), ours) == 0;
}

}  // namespace encbridge_tools
