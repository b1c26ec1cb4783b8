#include "platform/posix/command_line_split.h"
#include "test_support.h"

namespace testing_support {

std::vector<std::string> SplitCommandLine(const std::string &line) {
    return encbridge::platform::SplitCommandLine(line.c_str());
}

}  // namespace testing_support
