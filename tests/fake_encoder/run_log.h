// Reads back the records that the fake encoder appends to its --log file.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fake_encoder/fake_encoder.h"
#include "test_support.h"

namespace fake_encoder {

struct Run {
    std::vector<std::string> arguments;
    // The other lines of the record, by their first word.
    std::map<std::string, std::string> facts;
    bool overlapped = false;
};

// The descriptors that a child of this process inherits, as the fake
// encoder reports them under "inherited".
inline std::string ExpectedInherited() {
    std::string list = InheritableDescriptors();
    return list.empty() ? list : list.substr(1);
}

inline std::vector<Run> ReadRuns(const std::string &logPath) {
    std::vector<std::uint8_t> bytes = testing_support::ReadFile(logPath);
    std::string text(bytes.begin(), bytes.end());
    std::vector<Run> runs;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line == "run") {
            runs.emplace_back();
        } else if (runs.empty()) {
            continue;
        } else if (line == "overlap") {
            runs.back().overlapped = true;
        } else if (line.compare(0, 4, "arg ") == 0) {
            runs.back().arguments.push_back(line.substr(4));
        } else {
            std::size_t space = line.find(' ');
            runs.back().facts[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
        }
    }
    return runs;
}

}  // namespace fake_encoder
