#include "platform/posix/command_line_split.h"

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace encbridge {
namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(const char *commandLine) {
    std::vector<std::string> items;
    if (commandLine == nullptr) return items;
    const char *p = commandLine;

    std::string program;
    if (*p == '"') {
        for (++p; *p != '\0' && *p != '"'; ++p) program += *p;
        if (*p == '"') ++p;
    } else {
        for (; *p != '\0' && !IsBlank(*p); ++p) program += *p;
    }
    items.push_back(program);

    for (;;) {
        while (IsBlank(*p)) ++p;
        if (*p == '\0') break;
        std::string item;
        bool quoted = false;
        while (*p != '\0' && (quoted || !IsBlank(*p))) {
            if (*p == '\\') {
                std::size_t backslashes = 0;
                for (; *p == '\\'; ++p) ++backslashes;
                if (*p != '"') {
                    item.append(backslashes, '\\');
                    continue;
                }
                item.append(backslashes / 2, '\\');
                if (backslashes % 2 != 0) {
                    item += '"';
                    ++p;
                    continue;
                }
            }
            if (*p == '"') {
                ++p;
                if (quoted && *p == '"') {
                    item += '"';
                    ++p;
                    quoted = false;
                } else {
                    quoted = !quoted;
                }
                continue;
            }
            item += *p++;
        }
        items.push_back(item);
    }
    return items;
}

bool SplitForSpawn(const char *commandLine, std::string &program, std::vector<std::string> &arguments) {
    arguments = SplitCommandLine(commandLine);
    if (arguments.empty() || arguments.front().empty()) {
        program.clear();
        arguments.clear();
        return false;
    }
    program = arguments.front();
    return true;
}

std::int32_t LineArguments(const char *commandLine, char *out, std::size_t capacity) {
    // The splitter allocates; a tool's call must not throw.
    try {
        const std::vector<std::string> items = SplitCommandLine(commandLine);
        std::size_t used = 0;
        for (const std::string &item : items) {
            if (capacity - used < item.size() + 1 || item.find('\0') != std::string::npos) return -1;
            std::memcpy(out + used, item.c_str(), item.size() + 1);
            used += item.size() + 1;
        }
        return static_cast<std::int32_t>(items.size());
    } catch (...) {
        return -1;
    }
}

}  // namespace platform
}  // namespace encbridge
