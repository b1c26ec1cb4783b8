// A ripping host for the tests: the album records it hands the module, and
// the module loaded at run time with its four functions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "interface/plugin_interface.h"
#include "test_support.h"

namespace testing_support {

// An album of processed tracks named "NN Track" and titled "Title N". The
// records must stay valid until the rip's Kill has returned.
struct Album {
    Album(const std::string &folder, int tracks) : info(new AlbumInfo()), records(static_cast<std::size_t>(tracks)) {
        std::snprintf(info->outputFolder, sizeof info->outputFolder, "%s", folder.c_str());
        std::snprintf(info->albumTitle, sizeof info->albumTitle, "Album");
        info->trackCount = tracks;
        info->tracks = records.data();
        for (int i = 0; i < tracks; ++i) {
            records[i].status = 1;
            records[i].marked = 1;
            std::snprintf(records[i].fileName, sizeof records[i].fileName, "%02d Track", i + 1);
            std::snprintf(records[i].title, sizeof records[i].title, "Title %d", i + 1);
        }
    }
    void Skip(int index) { records[static_cast<std::size_t>(index)].marked = 0; }

    std::unique_ptr<AlbumInfo> info;
    std::vector<TrackInfo> records;
};

// The module as a host loads it. Ends a rip still running when it goes.
class ModuleHost {
public:
    explicit ModuleHost(const std::string &path) : module_(new LoadedModule(path)) {
        EncbridgeExports found;
        EncbridgeLoadExports(
            module_.get(),
            [](void *module, const char *name) {
                return reinterpret_cast<EncbridgeFunction>(static_cast<LoadedModule *>(module)->Symbol(name));
            },
            &found);
        version = found.getDllViersion;
        create = found.create;
        setData = found.setData;
        kill = found.kill;
    }
    ~ModuleHost() {
        if (ready()) kill();
    }
    ModuleHost(const ModuleHost &) = delete;
    ModuleHost &operator=(const ModuleHost &) = delete;

    bool ready() const { return version && create && setData && kill; }
    const LoadedModule &module() const { return *module_; }

    std::int32_t Create(AlbumInfo *info, const std::string &settings) {
        return create(info, settings.c_str(), nullptr, 0);
    }
    // Delivers bytes with boundary b; after receives the boundary the call left.
    std::int32_t Deliver(const Bytes &bytes, std::int32_t b = 0, std::int32_t *after = nullptr) {
        static const std::uint8_t none = 0;
        std::int32_t boundary = b;
        std::int32_t result =
            setData(bytes.empty() ? &none : bytes.data(), static_cast<std::int32_t>(bytes.size()), &boundary);
        if (after) *after = boundary;
        return result;
    }
    std::int32_t EndTrack() { return Deliver(Bytes()); }
    // One whole track: its audio, then the end of the track.
    std::int32_t DeliverTrack(const Bytes &audio) { return Deliver(audio) == 1 ? EndTrack() : 0; }
    std::int32_t Kill() { return kill(); }
    // Unloads the module as a host may, without ending the rip first.
    void Unload() {
        module_->Unload();
        version = nullptr;
        create = nullptr;
        setData = nullptr;
        kill = nullptr;
    }

    decltype(&::GetDllViersion) version = nullptr;
    decltype(&::Create) create = nullptr;
    decltype(&::SetData) setData = nullptr;
    decltype(&::Kill) kill = nullptr;

private:
    std::unique_ptr<LoadedModule> module_;
};

}  // namespace testing_support
