// The module, loaded at run time with dlopen as a ripping host loads it.
#pragma once

#include <string>

#include "encbridge/plugin.h"
#include "encbridge/tools.h"

namespace host {

class PluginModule {
public:
    PluginModule() = default;
    ~PluginModule();
    PluginModule(const PluginModule &) = delete;
    PluginModule &operator=(const PluginModule &) = delete;

    // False with a message in error when the file is missing, does not load,
    // lacks one of the four exported functions, or offers no tools' table
    // that this host reads.
    bool Load(const std::string &path, std::string &error);

    decltype(&GetDllViersion) version = nullptr;
    decltype(&Create) create = nullptr;
    decltype(&SetData) setData = nullptr;
    decltype(&Kill) kill = nullptr;
    // The module's own rules, so that what the host shows of them is what
    // this file does.
    const EncbridgeToolTable *tools = nullptr;
    std::string path;  // the file loaded

private:
    void *handle_ = nullptr;
};

// Track number's temporary name behind folder, with extension, as the
// module forms it; empty when it would be cut.
std::string TemporaryName(const EncbridgeToolTable &tools, const std::string &folder, int number,
                          const std::string &extension);

// The folder of path with its trailing "/", or "./" when it has none.
std::string FolderOf(const std::string &path);

}  // namespace host
