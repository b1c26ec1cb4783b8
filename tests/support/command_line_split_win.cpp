#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "test_support.h"

namespace testing_support {

std::vector<std::string> SplitCommandLine(const std::string &line) {
    // Each byte becomes the UTF-16 unit of the same value and back: the rules
    // look at spaces, tabs, quotes and backslashes only, so this keeps every
    // other byte as it is, whatever the code page.
    std::wstring wide;
    for (char c : line) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    std::vector<std::string> items;
    int count = 0;
    LPWSTR *argv = CommandLineToArgvW(wide.c_str(), &count);
    if (argv == nullptr) return items;
    for (int i = 0; i < count; ++i) {
        std::string item;
        for (const wchar_t *p = argv[i]; *p != L'\0'; ++p) item += static_cast<char>(*p);
        items.push_back(item);
    }
    LocalFree(argv);
    return items;
}

}  // namespace testing_support
