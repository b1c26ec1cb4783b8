#include <windows.h>

#include <atomic>

#include "test_support.h"

namespace testing_support {

std::string MakeTempFolder() {
    static std::atomic<unsigned> serial{0};
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) return std::string();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string folder = std::string(base) + "encbridge-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(serial++);
        if (CreateDirectoryA(folder.c_str(), nullptr)) return folder + "\\";
    }
    return std::string();
}

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/") + 1);
}

const char *Separator() { return "\\"; }

bool MakeReadOnly(const std::string &path) { return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0; }

bool MakeExecutable(const std::string &) { return true; }

bool HaveTool(const char *) { return false; }

std::string RunTool(const std::string &) { return std::string(); }

bool ProcessGone(const std::string &pid) {
    if (pid.empty()) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::stoul(pid)));
    if (process == nullptr) return true;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

bool EndProcessById(const std::string &pid) {
    if (pid.empty() || std::stoul(pid) == 0) return false;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(pid)));
    if (process != nullptr) TerminateProcess(process, 1), CloseHandle(process);
    return WaitUntil([&] { return ProcessGone(pid); });
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const char *ModuleFileName() { return "encbridge.dll"; }

LoadedModule::LoadedModule(const std::string &path) : handle_(LoadLibraryA(path.c_str())) {}

LoadedModule::~LoadedModule() { Unload(); }

void *LoadedModule::Symbol(const char *name) const {
    return handle_ ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

void *LoadedModule::Ordinal(unsigned ordinal) const {
    return handle_ ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)))
                   : nullptr;
}

void LoadedModule::Unload() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

}  // namespace testing_support
