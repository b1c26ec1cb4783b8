#include <dlfcn.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "test_support.h"

namespace testing_support {

std::string MakeTempFolder() {
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/encbridge-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return std::string();
    return pattern + "/";
}

std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

const char *Separator() { return "/"; }

bool MakeFolderLink(const std::string &link, const std::string &target) {
    return symlink(target.c_str(), link.c_str()) == 0;
}

SmallDisk::SmallDisk(const std::string &folder, int kilobytes) : folder_(folder) {
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    mounted_ = mount("encbridge-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
}

bool ProcessGone(const std::string &pid) {
    if (pid.empty()) return false;
    // A killed encoder whose launcher went with it waits as a zombie, which
    // holds nothing, until whoever adopted it reaps it.
    const Bytes stat = ReadFile("/proc/" + pid + "/stat");
    const std::string text(stat.begin(), stat.end());
    const std::size_t name = text.rfind(')');
    return name == std::string::npos || text.compare(name, 4, ") Z ") == 0;
}

bool EndProcessById(const std::string &pid) {
    if (pid.empty() || std::stol(pid) <= 0) return false;
    kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
    return WaitUntil([&] { return ProcessGone(pid); });
}

bool RunningUnderWine() { return false; }

bool MakeReadOnly(const std::string &path) { return chmod(path.c_str(), 0444) == 0; }

bool MakeExecutable(const std::string &path) { return chmod(path.c_str(), 0755) == 0; }

bool HaveTool(const char *name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string RunTool(const std::string &command) {
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char chunk[4096];
    std::size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, count);
    pclose(pipe);
    return output;
}

const char *ModuleFileName() { return "libencbridge.so"; }

LoadedModule::LoadedModule(const std::string &path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

LoadedModule::~LoadedModule() { Unload(); }

void *LoadedModule::Symbol(const char *name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

void *LoadedModule::Ordinal(unsigned) const { return nullptr; }

void LoadedModule::Unload() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace testing_support
