// The module, loaded at run time with dlopen as a ripping host loads it.
#pragma once

#include <string>

#include "interface/plugin_interface.h"

namespace host {

class PluginModule {
public:
    PluginModule() = default;
    ~PluginModule();
    PluginModule(const PluginModule &) = delete;
    PluginModule &operator=(const PluginModule &) = delete;

    // False with a message in error when the file is missing, does not load,
    // or lacks one of the four exported functions.
    bool Load(const std::string &path, std::string &error);

    decltype(&GetDllViersion) version = nullptr;
    decltype(&Create) create = nullptr;
    decltype(&SetData) setData = nullptr;
    decltype(&Kill) kill = nullptr;

private:
    void *handle_ = nullptr;
};

// The folder of path with its trailing "/", or "./" when it has none.
std::string FolderOf(const std::string &path);

}  // namespace host
