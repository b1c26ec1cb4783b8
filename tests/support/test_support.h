// What the tests need of the system, the same on both builds.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

// A new empty folder for one test, with its path separator at the end, the
// way a host passes an output folder. Removed with everything in it by
// RemoveTree.
std::string MakeTempFolder();
void RemoveTree(const std::string &folder);

// The folder that holds the running test program (and the built module),
// with a trailing separator.
std::string ProgramFolder();
// The platform's path separator as text.
const char *Separator();

bool FileExists(const std::string &path);
std::vector<std::uint8_t> ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);
std::vector<std::string> ListFolder(const std::string &folder);  // sorted names
bool MakeFolder(const std::string &folder);
bool RemoveFile(const std::string &path);
// Takes write permission away: on Linux also the permission to run it.
bool MakeReadOnly(const std::string &path);
bool MakeExecutable(const std::string &path);
bool OpensForWriting(const std::string &path);

// Whether a program is on PATH, and the standard output of a shell command.
// The Windows build has no tools and runs none.
bool HaveTool(const char *name);
std::string RunTool(const std::string &command);

// Milliseconds since a time of the steady clock.
long ElapsedMs(std::chrono::steady_clock::time_point since);
void SleepMs(int milliseconds);
// Polls until done() holds; false when it still does not after timeoutMs
// (a guard against a hang, never a measure of speed).
bool WaitUntil(const std::function<bool()> &done, long timeoutMs = 15000);

// True once the process with this id (in decimal) has ended; false for no id.
bool ProcessGone(const std::string &pid);
// Ends the process with this id (in decimal), one a test started and no
// longer has a handle to, and waits until it is gone.
bool EndProcessById(const std::string &pid);

// True when the Windows build runs under wine rather than on Windows.
bool RunningUnderWine();

// Makes link a symbolic link to the folder target. On Windows that needs a
// privilege; under wine, which reports success without making one, it is
// made as a link of the host system, which wine shows as a reparse point.
bool MakeFolderLink(const std::string &link, const std::string &target);

// A small file system of its own (another volume) mounted on an existing
// empty folder (named with its separator at the end) while it lives, to
// fill up; root only (under wine too, where the host system's mount is
// run). Unmounted at its end.
class SmallDisk {
public:
    SmallDisk(const std::string &folder, int kilobytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

// The module, loaded at run time as a host loads it.
class LoadedModule {
public:
    explicit LoadedModule(const std::string &path);
    ~LoadedModule();
    LoadedModule(const LoadedModule &) = delete;
    LoadedModule &operator=(const LoadedModule &) = delete;

    bool loaded() const { return handle_ != nullptr; }
    void *Symbol(const char *name) const;
    // Windows only: the export with this ordinal; null elsewhere.
    void *Ordinal(unsigned ordinal) const;
    void Unload();

private:
    void *handle_;
};

// The test suite's stand-in encoder, built beside the test programs.
std::string FakeEncoderPath();
// Makes FakeEncoderPath() give path, a copy of it (the original's again when
// empty).
void UseFakeEncoderAt(const std::string &path);

// A settings file of one output, the fake encoder behind it unless told
// otherwise.
struct Settings {
    std::string extension = ".mp3";
    std::string command;
    int deleteWav = 1;
    std::string encoder = FakeEncoderPath();
    int hideWindow = 1;
    std::string jobs = "";       // no JOBS line when empty
    std::string extra = "";      // more lines: album steps, other outputs
    std::string newline = "\n";  // "\r\n" as a Windows editor writes them
};
// Writes the file at path and gives back path.
std::string WriteSettings(const std::string &path, const Settings &settings);

// Audio for the track numbered seed: other bytes for every seed, with no
// short period, so that a byte lost, doubled or moved within a track shows.
Bytes Audio(std::size_t bytes, unsigned seed);

// The file that a rip holds in its output folder from Create to Kill.
constexpr char kRipLockName[] = "#ripping.lock";

// File name of the built module (libencbridge.so or encbridge.dll).
const char *ModuleFileName();

// The items of a command line, the program first, as a Windows program gets
// them: on Windows from CommandLineToArgvW, on Linux from the module's own
// splitter. Bytes other than blanks, quotes and backslashes pass unchanged.
// Defined apart from the rest (support/command_line_split_*.cpp), since the
// Linux one needs the module's internals, which only unit_tests links.
std::vector<std::string> SplitCommandLine(const std::string &line);

}  // namespace testing_support
