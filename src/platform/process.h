// The encoders' processes: starting, watching, ending them, and their words.
// Part of the thin layer over the operating system (see platform.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/system.h"
#include "platform/threads.h"

namespace encbridge {
namespace platform {

// ---- Processes -----------------------------------------------------------
struct Process;

// Takes a program's standard output as it comes, piece by piece and in
// order, so that no program ever waits on a full pipe and nothing is held
// whole in memory. Called inside WaitForAny (Linux) or on a thread of the
// platform layer's (Windows), never at once for one program; every call
// returns before WaitForAny reports the program's end. take returns false
// once the rest can change nothing: the program, and whatever it started
// in its group or job, is then ended at once, its end taken as a stop (no
// exit code, no signal) unless it had ended already, and the rest of what
// it wrote is read and thrown away.
struct OutputSink {
    bool (*take)(void *context, const char *bytes, std::size_t count);
    void *context;
};

// How much of what a program says is kept: the last bytes of its standard
// error (and of its standard output, where nothing else takes it).
constexpr std::size_t kMessageTailCapacity = 4096;

// Starts the program named by the first item of commandLine with the whole
// command line, as CreateProcessA does with no application name: no handle
// of the module is inherited, normal priority, the host's environment and
// current folder. On Windows the start options carry STARTF_USESHOWWINDOW
// with SW_HIDE when hideWindow is non-zero and SW_SHOWNOACTIVATE otherwise.
// On Linux the line is split into program and arguments by the Windows
// rules, the program is run by its path (never looked up on PATH, never
// through a shell), and standard input is /dev/null (NUL on Windows). Null
// when the program could not be started.
//
// throughCommandShell: the program is a batch file and the line was written
// for cmd.exe (RunsThroughCommandShell). Windows runs it as
// cmd.exe /e:ON /v:OFF /d /c "LINE", cmd.exe taken from the system folder:
// no AutoRun commands, and '!' is plain text. On Linux nothing is started.
//
// startError, when given, receives the system's reason when nothing was
// started.
//
// What the program writes: with output given, its standard output goes to
// output, and its standard error is kept (ProcessMessages) whatever
// hideWindow says. Without it, when hideWindow is non-zero, its standard
// output and error are both kept, in the order they come, instead of being
// thrown away; when hideWindow is zero they reach the console as they
// always did. Both are read through pipes that the platform drains as the
// program writes, on both builds.
Process *StartProcess(const char *commandLine, bool throughCommandShell, std::int32_t hideWindow,
                      SystemError *startError = nullptr, const OutputSink *output = nullptr);

// The last bytes (at most kMessageTailCapacity) that an ended program wrote
// to what was kept of its standard streams, into out (capacity bytes, not
// NUL-terminated): their count. 0 when nothing was kept.
std::size_t ProcessMessages(const Process *process, char *out, std::size_t capacity);

// The arguments that the program of commandLine receives, the program
// first, each followed by its NUL, into out (capacity bytes): their count,
// or -1 when they do not fit or cannot be told here (on Windows each program
// splits its own line).
std::int32_t LineArguments(const char *commandLine, char *out, std::size_t capacity);

// Waits up to milliseconds (kWaitForever: no limit) until one of the
// processes ends or one of the events is raised. Returns the index of a
// process that has ended (its end taken, so that ProcessExitCode knows it, and its pipes read
// to their end, or given up two seconds after its end when something that
// it started holds them open still), or
// count plus the index of a raised event (taken as WaitForEvent takes it),
// or -1 when the time ran out. At most kMostWaited of both together.
constexpr std::size_t kMostWaited = 64;
int WaitForAny(Process *const *processes, std::size_t count, Event *const *events, std::size_t eventCount,
               std::uint32_t milliseconds);
// Ends the process if it still runs and waits until it is gone, so that it
// holds no file any more.
void EndProcess(Process *process);
// Ends every process of the list as EndProcess does, all at once: each is
// told to stop before any is waited for, so that the whole list takes one
// grace period (Linux) however many there are. At most kMostWaited.
void EndProcesses(Process *const *processes, std::size_t count);
// The exit code of a process that has ended; false when it is not known.
bool ProcessExitCode(Process *process, std::uint32_t *code);
// The signal that ended a process (Linux); false when none did, and always
// on Windows, where an ended process has an exit code.
bool ProcessSignal(Process *process, std::int32_t *signal);

// Releases what the process record holds. The process must have ended.
void CloseProcess(Process *process);

}  // namespace platform
}  // namespace encbridge
