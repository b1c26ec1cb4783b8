#include "plugin_module.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

PluginModule::~PluginModule() {
    if (handle_) dlclose(handle_);
}

bool PluginModule::Load(const std::string &path, std::string &error) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        error = "no module at " + path + " (build it, or name it with --plugin)";
        return false;
    }
    // A name without a slash would be looked up in the library path instead.
    std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char *reason = dlerror();
        error = "the module " + path + " does not load: " + (reason ? reason : "unknown reason");
        return false;
    }
    EncbridgeExports found;
    const char *missing = EncbridgeLoadExports(
        handle_,
        [](void *module, const char *name) { return reinterpret_cast<EncbridgeFunction>(dlsym(module, name)); },
        &found);
    if (missing != nullptr) {
        error = "the module " + path + " does not export " + missing + ", so it is no encbridge module";
        return false;
    }
    version = found.getDllViersion;
    create = found.create;
    setData = found.setData;
    kill = found.kill;
    const EncbridgeToolTable *offered = found.tools != nullptr ? found.tools() : nullptr;
    if (offered == nullptr || offered->size < sizeof(EncbridgeToolTable) ||
        offered->version != kEncbridgeToolsVersion) {
        error = "the module " + path + " offers no tools' table of version " + std::to_string(kEncbridgeToolsVersion) +
                " (EncbridgeTools), which this host reads its rules with: is it of another release?";
        return false;
    }
    tools = offered;
    this->path = path;
    return true;
}

std::string TemporaryName(const EncbridgeToolTable &tools, const std::string &folder, int number,
                          const std::string &extension) {
    char name[encbridge::kPathCapacity];
    return tools.temporaryName(folder.c_str(), number, extension.c_str(), name, sizeof name) == 1 ? name
                                                                                                  : std::string();
}

std::string FolderOf(const std::string &path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

}  // namespace host
