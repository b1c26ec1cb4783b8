// Where the host looks for the module and the settings file, in the build
// folder and in an installed prefix, with the environment and the files made
// up for each case.
#include "host_paths.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace host {
namespace {

const std::string kInstalledModule = "/opt/eb/bin/" ENCBRIDGE_MODULE_FROM_PROGRAM "/libencbridge.so";
const std::string kInstalledExample = "/opt/eb/bin/" ENCBRIDGE_EXAMPLES_FROM_PROGRAM "/flac.ini";

PathEnvironment MadeUp(const std::string &programFolder, const std::set<std::string> &files,
                       const std::string &xdgConfigHome = "", const std::string &home = "/home/u") {
    PathEnvironment environment;
    environment.programFolder = programFolder;
    environment.xdgConfigHome = xdgConfigHome;
    environment.home = home;
    environment.systemSettings = "/etc/encbridge/encbridge.ini";
    environment.isFile = [files](const std::string &path) { return files.count(path) != 0; };
    return environment;
}

TEST(HostPaths, TheModuleBesideTheProgramComesFirst) {
    struct Case {
        std::set<std::string> files;
        std::string module;
    };
    const Case cases[] = {
        // The build folder: program and module side by side.
        {{"/opt/eb/bin/libencbridge.so", kInstalledModule}, "/opt/eb/bin/libencbridge.so"},
        // Installed: the module below the library folder, found from the program.
        {{kInstalledModule}, kInstalledModule},
        // Neither: the error names the place beside the program.
        {{}, "/opt/eb/bin/libencbridge.so"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FindModule(MadeUp("/opt/eb/bin/", c.files)), c.module);
    }
}

TEST(HostPaths, UserSettingsFollowTheXdgRules) {
    struct Case {
        std::string xdgConfigHome, home, path;
    };
    const Case cases[] = {
        {"/cfg", "/home/u", "/cfg/encbridge/encbridge.ini"},
        {"/cfg/", "/home/u", "/cfg/encbridge/encbridge.ini"},
        {"", "/home/u", "/home/u/.config/encbridge/encbridge.ini"},
        // A relative XDG_CONFIG_HOME is not to be used.
        {"cfg", "/home/u", "/home/u/.config/encbridge/encbridge.ini"},
        {"", "", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(UserSettingsPath(MadeUp("/opt/eb/bin/", {}, c.xdgConfigHome, c.home)), c.path)
            << "XDG_CONFIG_HOME=" << c.xdgConfigHome << " HOME=" << c.home;
    }
}

TEST(HostPaths, SettingsAreTheFirstThatExists) {
    const std::string user = "/home/u/.config/encbridge/encbridge.ini";
    const std::string system = "/etc/encbridge/encbridge.ini";
    struct Case {
        const char *what;
        std::string option;
        std::set<std::string> files;
        std::string path;
        SettingsSource source;
    };
    const Case cases[] = {
        {"--settings wins, even over a file that is missing",
         "my.ini",
         {user, system, kInstalledExample},
         "my.ini",
         SettingsSource::Option},
        {"the user's before the system's", "", {user, system, kInstalledExample}, user, SettingsSource::User},
        {"the system's before the example", "", {system, kInstalledExample}, system, SettingsSource::System},
        {"the installed example last", "", {kInstalledExample}, kInstalledExample, SettingsSource::Example},
        {"the build folder: beside the module, even when missing",
         "",
         {},
         "/build/bin/encbridge.ini",
         SettingsSource::BesideModule},
    };
    for (const Case &c : cases) {
        const SettingsChoice choice =
            ChooseSettings(c.option, "/build/bin/libencbridge.so", MadeUp("/opt/eb/bin/", c.files));
        EXPECT_EQ(choice.path, c.path) << c.what;
        EXPECT_EQ(choice.source, c.source) << c.what;
    }
}

TEST(HostPaths, TheExampleNoticeSaysWhereTheUsersFileGoes) {
    const PathEnvironment environment = MadeUp("/opt/eb/bin/", {kInstalledExample}, "/cfg");
    const SettingsChoice choice = ChooseSettings("", kInstalledModule, environment);
    ASSERT_EQ(choice.source, SettingsSource::Example);
    EXPECT_NE(DescribeSettingsChoice(choice, environment).find("/cfg/encbridge/encbridge.ini"), std::string::npos);
}

TEST(HostPaths, NoSettingsSaysWhereToLookAndHowToNameOne) {
    const PathEnvironment environment = MadeUp("/opt/eb/bin/", {"/src/examples/flac.ini"});
    const SettingsChoice none = ChooseSettings("", "/opt/eb/bin/libencbridge.so", environment);
    EXPECT_EQ(NoSettingsMessage(none, environment, "/src/examples"),
              "no settings file was found (looked for /home/u/.config/encbridge/encbridge.ini, "
              "/etc/encbridge/encbridge.ini, " +
                  kInstalledExample +
                  ", /opt/eb/bin/encbridge.ini); name one with --settings FILE, such as "
                  "/src/examples/flac.ini (the examples are in /src/examples/)");
    // A file found, or named, says nothing; so does the build folder's own.
    EXPECT_EQ(NoSettingsMessage({"/x.ini", SettingsSource::Option}, environment, "/src/examples"), "");
    const PathEnvironment build = MadeUp("/opt/eb/bin/", {"/opt/eb/bin/encbridge.ini"});
    EXPECT_EQ(NoSettingsMessage(ChooseSettings("", "/opt/eb/bin/libencbridge.so", build), build, "/src"), "");
}

// --help never names the missing file beside the module as the one a rip
// would use.
TEST(HostPaths, HelpNamesNoSettingsFileThatIsNotThere) {
    const PathEnvironment environment = MadeUp("/opt/eb/bin/", {});
    const SettingsChoice none = ChooseSettings("", "/opt/eb/bin/libencbridge.so", environment);
    EXPECT_EQ(SettingsChoiceLine(none, environment, "/src"),
              "With a cue sheet, this run would rip nothing: " + NoSettingsMessage(none, environment, "/src") + ".");
}

}  // namespace
}  // namespace host
