#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

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

bool RunningUnderWine() { return false; }

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
