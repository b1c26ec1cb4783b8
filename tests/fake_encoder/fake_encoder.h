// What the fake encoder learns from the system it runs on, told apart by
// platform.
#pragma once

#include <string>

namespace fake_encoder {

// Lines for the run record that describe how the program was started: the
// start-up flags and show mode on Windows; where standard output leads and
// which other descriptors are open on Linux; and the process id.
std::string DescribeStart();
// The descriptors of this process that a child inherits (Linux: those
// without close-on-exec, beyond the standard three), as " fd=target" each;
// empty on Windows. In the fake encoder they are the ones it inherited.
std::string InheritableDescriptors();
// Appends text to the file at path, creating it when missing, with one
// write that other runs appending at the same time cannot split or
// overwrite.
void AppendToFile(const std::string &path, const std::string &text);
// Creates path, failing when it exists already.
bool CreateExclusive(const std::string &path);
void SleepMilliseconds(unsigned milliseconds);
// Ignores SIGTERM (Linux); nothing on Windows, where no stop can be ignored.
void IgnoreTerm();
// Makes link another name of target: a hard link when asked, else a
// symbolic link on Linux; always a hard link on Windows (where symbolic
// links need a privilege).
bool LinkTo(const std::string &target, const std::string &link, bool hard);
// Gives to the permissions of from, as encoders that keep their input's
// mode do: its mode on Linux, its read-only attribute on Windows.
bool CopyMode(const std::string &from, const std::string &to);
// Makes standard output write bytes as they are (Windows: no CR before LF).
void BinaryStandardOutput();
// Starts program (this one) with --hang, holding this process's standard
// streams, and leaves it running: its process id (for the test to end it),
// 0 when it did not start.
unsigned long LeaveHangingChild(const char *program);
// Ends this process as a crash does: by a signal on Linux, by an unhandled
// exception's code on Windows.
[[noreturn]] void Crash();

}  // namespace fake_encoder
