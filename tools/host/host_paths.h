// Where encbridge-host finds the module and the settings file: beside itself
// in the build folder, or in the prefix it was installed into, wherever that
// prefix has been moved since.
#pragma once

#include <fstream>
#include <functional>
#include <string>

// Paths from the installed program's folder to the module's and the examples'
// folders, from the build's install folders (GNUInstallDirs); relative, so
// that a prefix that is moved whole keeps working.
#ifndef ENCBRIDGE_MODULE_FROM_PROGRAM
#define ENCBRIDGE_MODULE_FROM_PROGRAM "../lib/encbridge"
#endif
#ifndef ENCBRIDGE_SOURCE_EXAMPLES
#define ENCBRIDGE_SOURCE_EXAMPLES "examples/linux"
#endif
#ifndef ENCBRIDGE_EXAMPLES_FROM_PROGRAM
#define ENCBRIDGE_EXAMPLES_FROM_PROGRAM "../share/doc/encbridge/examples"
#endif

namespace host {

// What the choice of paths depends on, gathered once so that the choice can
// be checked without touching the real environment or file system.
struct PathEnvironment {
    std::string programFolder;   // the running program's folder, with its trailing "/"
    std::string xdgConfigHome;   // $XDG_CONFIG_HOME, empty when unset
    std::string home;            // $HOME, empty when unset
    std::string systemSettings;  // the system-wide settings file
    std::function<bool(const std::string &)> isFile;
};

// The environment of this process: /proc/self/exe, XDG_CONFIG_HOME, HOME and
// /etc/encbridge/encbridge.ini.
PathEnvironment CurrentPathEnvironment();

// libencbridge.so beside the program (the build folder), else the installed
// one in the library folder's encbridge/ below the program's prefix. When
// neither exists, the one beside the program, so that the error names it.
std::string FindModule(const PathEnvironment &environment);

enum class SettingsSource {
    Option,        // --settings
    User,          // $XDG_CONFIG_HOME/encbridge/encbridge.ini
    System,        // /etc/encbridge/encbridge.ini
    Example,       // the installed FLAC example
    BesideModule,  // encbridge.ini beside the module, as in the build folder
};

struct SettingsChoice {
    std::string path;
    SettingsSource source;
};

// The user's settings file by the XDG rules: $XDG_CONFIG_HOME when it is an
// absolute path, else ~/.config. Empty when neither is known.
std::string UserSettingsPath(const PathEnvironment &environment);

// The first of: the --settings value, the user's file, the system's file, the
// installed FLAC example; else encbridge.ini beside the module, whether it
// exists or not (the module then says what is missing).
SettingsChoice ChooseSettings(const std::string &option, const std::string &modulePath,
                              const PathEnvironment &environment);

// Why a choice was made, for --help and the notices: "named by --settings"...
std::string DescribeSettingsChoice(const SettingsChoice &choice, const PathEnvironment &environment);

// When no settings file was found at all (the choice is the one beside the
// module, and it is not there): one line that says where the host looked,
// how to name one, and where the examples are (sourceExamples: the source
// tree's, for a program run from its build folder). Empty otherwise.
std::string NoSettingsMessage(const SettingsChoice &choice, const PathEnvironment &environment,
                              const std::string &sourceExamples);

// What --help says of the settings file a rip would read: the file and why
// it was chosen, or, when there is none to read, that the rip would not run
// and what to do, as NoSettingsMessage says it.
std::string SettingsChoiceLine(const SettingsChoice &choice, const PathEnvironment &environment,
                               const std::string &sourceExamples);

// Opens path for reading without ever waiting: non-blocking, so that a FIFO
// put at the name neither blocks nor is read, and kept only when fstat says
// it is a regular file. The descriptor, or -1: notRegular says whether
// something other than a regular file is there, else errno why not.
int OpenRegularFile(const std::string &path, bool &notRegular);
// The same, as a stream on that very file.
bool OpenRegularStream(const std::string &path, std::ifstream &in, bool &notRegular);

// Writes all of bytes to fd, again after an interruption; false when a
// write failed or wrote nothing before the end.
bool WriteWhole(int fd, const std::string &bytes);

}  // namespace host
