#include "host_paths.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "plugin_module.h"

namespace host {

namespace {

constexpr const char *kModuleName = "libencbridge.so";
constexpr const char *kSettingsName = "encbridge.ini";
// The example that the demo's own settings file matches: flac from Debian.
constexpr const char *kFlacExample = "flac.ini";

bool IsFile(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string InstalledExample(const PathEnvironment &environment) {
    return environment.programFolder + ENCBRIDGE_EXAMPLES_FROM_PROGRAM + "/" + kFlacExample;
}

}  // namespace

PathEnvironment CurrentPathEnvironment() {
    PathEnvironment environment;
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string program = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string();
    environment.programFolder = FolderOf(program);
    environment.xdgConfigHome = Environment("XDG_CONFIG_HOME");
    environment.home = Environment("HOME");
    environment.systemSettings = std::string("/etc/encbridge/") + kSettingsName;
    environment.isFile = IsFile;
    return environment;
}

std::string FindModule(const PathEnvironment &environment) {
    const std::string beside = environment.programFolder + kModuleName;
    if (environment.isFile(beside)) return beside;
    const std::string installed = environment.programFolder + ENCBRIDGE_MODULE_FROM_PROGRAM + "/" + kModuleName;
    if (environment.isFile(installed)) return installed;
    return beside;
}

std::string UserSettingsPath(const PathEnvironment &environment) {
    // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
    std::string config = environment.xdgConfigHome;
    if (config.empty() || config[0] != '/') {
        if (environment.home.empty()) return std::string();
        config = environment.home + "/.config";
    }
    if (config.back() != '/') config += '/';
    return config + "encbridge/" + kSettingsName;
}

SettingsChoice ChooseSettings(const std::string &option, const std::string &modulePath,
                              const PathEnvironment &environment) {
    if (!option.empty()) return {option, SettingsSource::Option};
    const std::string user = UserSettingsPath(environment);
    if (!user.empty() && environment.isFile(user)) return {user, SettingsSource::User};
    if (environment.isFile(environment.systemSettings)) return {environment.systemSettings, SettingsSource::System};
    const std::string example = InstalledExample(environment);
    if (environment.isFile(example)) return {example, SettingsSource::Example};
    return {FolderOf(modulePath) + kSettingsName, SettingsSource::BesideModule};
}

std::string NoSettingsMessage(const SettingsChoice &choice, const PathEnvironment &environment,
                              const std::string &sourceExamples) {
    if (choice.source != SettingsSource::BesideModule || environment.isFile(choice.path)) return std::string();
    std::string looked;
    for (const std::string &path :
         {UserSettingsPath(environment), environment.systemSettings, InstalledExample(environment), choice.path}) {
        if (!path.empty()) looked += (looked.empty() ? "" : ", ") + path;
    }
    const bool examples = environment.isFile(sourceExamples + "/flac.ini");
    return "no settings file was found (looked for " + looked + "); name one with --settings FILE" +
           (examples ? ", such as " + sourceExamples + "/flac.ini (the examples are in " + sourceExamples + "/)"
                     : std::string(" (the settings guide, settings.md in share/doc/encbridge/, has examples)"));
}

std::string DescribeSettingsChoice(const SettingsChoice &choice, const PathEnvironment &environment) {
    switch (choice.source) {
        case SettingsSource::Option:
            return "named by --settings";
        case SettingsSource::User:
            return "the user's settings";
        case SettingsSource::System:
            return "the system's settings";
        case SettingsSource::Example: {
            const std::string user = UserSettingsPath(environment);
            return "the installed FLAC example; copy it to " +
                   (user.empty() ? std::string("~/.config/encbridge/encbridge.ini") : user) + " to make it your own";
        }
        case SettingsSource::BesideModule:
            break;
    }
    return "beside the module";
}

std::string SettingsChoiceLine(const SettingsChoice &choice, const PathEnvironment &environment,
                               const std::string &sourceExamples) {
    const std::string none = NoSettingsMessage(choice, environment, sourceExamples);
    if (!none.empty()) return "With a cue sheet, this run would rip nothing: " + none + ".";
    if (!environment.isFile(choice.path)) {
        return "With a cue sheet, this run would rip nothing: there is no settings file at " + choice.path + " (" +
               DescribeSettingsChoice(choice, environment) + ").";
    }
    return "With a cue sheet, this run would use the settings file " + choice.path + " (" +
           DescribeSettingsChoice(choice, environment) + ").";
}

bool WriteWhole(int fd, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

int OpenRegularFile(const std::string &path, bool &notRegular) {
    notRegular = false;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return fd;
    notRegular = true;
    close(fd);
    return -1;
}

bool OpenRegularStream(const std::string &path, std::ifstream &in, bool &notRegular) {
    const int fd = OpenRegularFile(path, notRegular);
    if (fd < 0) return false;
    // The descriptor's own name reopens the file that was checked, whatever
    // lies at path by now.
    in.open("/proc/self/fd/" + std::to_string(fd), std::ios::binary);
    close(fd);
    return static_cast<bool>(in);
}

}  // namespace host
