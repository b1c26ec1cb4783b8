#include "try_windows.h"

#include <shellapi.h>

#include <cstdio>

namespace encbridge_try {

namespace {

std::wstring Widened(const std::string &text, UINT codePage = CP_ACP) {
    if (text.empty()) return std::wstring();
    const int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string Narrowed(const wchar_t *wide, int length) {
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, wide, length, &text[0], size, nullptr, nullptr);
    return text;
}

}  // namespace

bool LoadModuleBesideProgram(Module &module, std::string &error) {
    // A path as long as the system allows; a cut one would name another file.
    std::vector<wchar_t> own(32768);
    const DWORD length = GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
    if (length == 0 || length >= own.size()) {
        error = "cannot tell where this program lies: " + SystemWords(GetLastError());
        return false;
    }
    std::wstring path(own.data(), length);
    path.replace(path.find_last_of(L"\\/") + 1, std::wstring::npos, L"encbridge.dll");
    const std::string shown = Narrowed(path.c_str(), static_cast<int>(path.size()));
    // The DLL's own folder first for what it imports, as for a plug-in.
    module.handle = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module.handle == nullptr) {
        error = "cannot load " + shown + " (it must lie beside encbridge-try.exe): " + SystemWords(GetLastError());
        return false;
    }
    EncbridgeExports found;
    const char *missing = EncbridgeLoadExports(
        module.handle,
        [](void *dll, const char *name) {
            return reinterpret_cast<EncbridgeFunction>(GetProcAddress(static_cast<HMODULE>(dll), name));
        },
        &found);
    module.version = found.getDllViersion;
    module.create = found.create;
    module.setData = found.setData;
    module.kill = found.kill;
    module.tools = found.tools != nullptr ? found.tools() : nullptr;
    if (missing != nullptr) {
        error = shown + " lacks one of GetDllViersion, Create, SetData and Kill: it is no encbridge module";
        return false;
    }
    if (module.tools == nullptr || module.tools->size < sizeof(EncbridgeToolTable) ||
        module.tools->version != kEncbridgeToolsVersion) {
        error = shown + " offers no tools' table of version " + std::to_string(kEncbridgeToolsVersion) +
                ": it belongs to another release than encbridge-try.exe";
        return false;
    }
    return true;
}

void Say(const std::string &text, bool toErrors) {
    HANDLE handle = GetStdHandle(toErrors ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Widened(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::FILE *stream = toErrors ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

std::string AnsiLetters(const std::wstring &wide) {
    std::string text;
    for (const wchar_t letter : wide) {
        const std::string narrow = Narrowed(&letter, 1);
        const std::wstring back = Widened(narrow);
        if (back.size() == 1 && back[0] == letter) text += narrow;
    }
    return text;
}

std::vector<std::string> ArgumentsOf(const std::string &line) {
    std::vector<std::string> arguments;
    const std::wstring wide = Widened(line);
    int count = 0;
    LPWSTR *split = wide.empty() ? nullptr : CommandLineToArgvW(wide.c_str(), &count);
    if (split == nullptr) return arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Narrowed(split[i], -1).c_str());
    LocalFree(split);
    return arguments;
}

std::string FullPath(const std::string &path) {
    // As long as the system makes one: a path too long to use is still
    // named to its user, and judged by its length, not taken for a missing one.
    // (The ANSI function stops at MAX_PATH.)
    std::vector<wchar_t> whole(32768);
    const DWORD length =
        GetFullPathNameW(Widened(path).c_str(), static_cast<DWORD>(whole.size()), whole.data(), nullptr);
    return length == 0 || length >= whole.size() ? std::string() : Narrowed(whole.data(), static_cast<int>(length));
}

std::size_t FirstUtf8Letter(const std::string &bytes) {
    std::size_t first = 0;
    while (first < bytes.size() && static_cast<unsigned char>(bytes[first]) < 0x80) ++first;
    if (first == bytes.size()) return std::string::npos;
    const bool utf8 = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                          nullptr, 0) > 0;
    return utf8 ? first : std::string::npos;
}

std::string Utf8InAnsi(const std::string &utf8) {
    const std::wstring wide = Widened(utf8, CP_UTF8);
    return Narrowed(wide.c_str(), static_cast<int>(wide.size()));
}

std::string SystemWords(DWORD code) {
    char words[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        words, sizeof words, nullptr);
    std::string text(words, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return (text.empty() ? std::string("error") : text) + " (error " + std::to_string(code) + ")";
}

}  // namespace encbridge_try
