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

namespace {

// Under wine, the host system's name of path; empty elsewhere.
std::string HostName(const std::string &path) {
    using UnixName = char *(__cdecl *)(const WCHAR *);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[MAX_PATH];
    if (unixName == nullptr || MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0) return "";
    char *name = unixName(wide);
    if (name == nullptr) return "";
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a command of the host system's shell under wine and waits for it;
// true when it exited with 0. wine 8 starts a file that is no Windows
// program without a process handle to wait on (CreateProcess succeeds and
// gives a null one), so the shell writes the exit status to a file of a
// folder of its own, as its last step, and the wait is for that file.
bool RunHostCommand(const std::string &command) {
    const std::string scratch = MakeTempFolder();
    const std::string hostScratch = scratch.empty() ? "" : HostName(scratch);
    if (hostScratch.empty()) return RemoveTree(scratch), false;
    std::string line = "Z:\\bin\\sh -c \"" + command + "; echo $? >'" + hostScratch + "/status.new' && mv '" +
                       hostScratch + "/status.new' '" + hostScratch + "/status'\"";
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION started = {};
    const bool ran = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &started);
    if (started.hThread != nullptr) CloseHandle(started.hThread);
    if (started.hProcess != nullptr) CloseHandle(started.hProcess);
    const bool ended = ran && WaitUntil([&] { return FileExists(scratch + "status"); }, 60000);
    const std::vector<std::uint8_t> status = ended ? ReadFile(scratch + "status") : std::vector<std::uint8_t>();
    const bool succeeded = status == std::vector<std::uint8_t>{'0', '\n'};
    RemoveTree(scratch);
    return succeeded;
}

bool IsReparsePoint(const std::string &path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool MakeFolderLink(const std::string &link, const std::string &target) {
    if (CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && IsReparsePoint(link)) {
        return true;
    }
    // What wine's call may have left at the name goes first.
    RemoveDirectoryA(link.c_str());
    DeleteFileA(link.c_str());
    // wine gives no host name for a name that does not exist yet.
    const std::size_t last = link.find_last_of("\\/");
    const std::string folder = last == std::string::npos ? std::string(".") : link.substr(0, last);
    const std::string hostFolder = HostName(folder), hostTarget = HostName(target);
    const std::string hostLink = hostFolder.empty() ? "" : hostFolder + "/" + link.substr(last + 1);
    return RunningUnderWine() && !hostLink.empty() && !hostTarget.empty() &&
           RunHostCommand("ln -s '" + hostTarget + "' '" + hostLink + "'") && IsReparsePoint(link);
}

SmallDisk::SmallDisk(const std::string &folder, int kilobytes) : folder_(folder) {
    const std::string host = HostName(folder);
    mounted_ =
        RunningUnderWine() && !host.empty() &&
        RunHostCommand("mount -t tmpfs -o size=" + std::to_string(kilobytes) + "k encbridge-test '" + host + "'");
}

SmallDisk::~SmallDisk() {
    // Detached at once, whatever wine still holds open in it.
    if (mounted_) RunHostCommand("umount -l '" + HostName(folder_) + "'");
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
