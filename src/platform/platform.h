// The thin layer over the operating system. Everything above it is shared by
// both builds; src/platform/win and src/platform/posix implement it, and the
// build picks one of them.
#pragma once

#include <cstdint>
#include <cstdio>

namespace encbridge {

// ---- The module's life ---------------------------------------------------------
// What the module does when the system tells its entry point (DllMain on
// Windows, the library's constructor, destructor and fork handler on Linux)
// that it is being unloaded, or that the host forked a child. The rip
// provides them; the platform's entry points only call them.
//
// Unloaded (on Linux at the process's exit): the same as Kill. forGood (a
// Windows FreeLibrary; never on Linux, where the code stays mapped): what
// the module keeps for its whole life goes too, since no call can come
// any more.
void OnModuleUnload(bool forGood);
// In a child that the host forked: forgets the parent's rip, its worker and
// its files without touching any of them, so that nothing the child does (a
// Kill, its exit) reaches the parent's rip.
void OnForkedChild();

namespace platform {

// ---- The system's reason for a failure -------------------------------------
// errno on Linux, GetLastError() on Windows, as the failing call left it; 0
// when no system call failed. ErrorText gives its words. Each call below
// that takes one fills it when it fails, when it is given.
struct SystemError {
    std::int32_t code;
};
inline void KeepError(SystemError *error, std::int32_t code) {
    if (error != nullptr) error->code = code;
}

// ---- Profile files -------------------------------------------------------
// These behave as GetPrivateProfileStringA and GetPrivateProfileIntA do on
// Windows: a missing file, section or key yields the default; section and key
// names compare without regard to case; one pair of quotes around a value is
// removed; a value longer than size - 1 characters is cut and the buffer stays
// NUL-terminated. Returns the count of characters stored.
std::uint32_t ProfileString(const char *section, const char *key, const char *fallback, char *out, std::uint32_t size,
                            const char *path);
// Leading blanks, an optional sign, then decimal digits or "0x" and hex
// digits, up to the first other character; no digits give 0, an empty value
// or a missing key give the default. Wraps modulo 2^32.
std::int32_t ProfileInt(const char *section, const char *key, std::int32_t fallback, const char *path);

// ---- Paths ---------------------------------------------------------------
// True when c is the first byte of a double-byte character of the code page
// in force, so that the byte after it is never a path separator.
bool IsLeadByte(unsigned char c);
// The length in bytes of the character that begins at text, of which
// remaining (at least 1) bytes may be read, in the code page in force: 1, 2
// for a valid double-byte character, or 0 for a lead byte that no valid
// trail byte follows. The system's conversion of a command line takes a lead
// byte and whatever byte follows it as one character, so a broken one could
// swallow a quote after it.
std::size_t CharacterLength(const char *text, std::size_t remaining);
// True when c separates the parts of a path: "\\" and "/" on Windows, "/"
// on Linux.
bool IsPathSeparator(char c);
// The current folder as a path begins with it: "./" on Linux, ".\\" on
// Windows. Written before a relative path that would otherwise begin with
// '-', which a program would read as an option.
const char *CurrentFolderPrefix();
// True when an encoder path from the settings is absolute and is to be taken
// as it stands: a drive with its root ("C:\..." or "C:/..."), a UNC path, a
// \\?\ or \\.\ path on Windows, one beginning with "/" on Linux. A drive-relative
// path ("C:enc.exe") is not absolute: it depends on the host's current
// folder of that drive.
bool IsAbsoluteProgramPath(const char *path);
// True when the program is a batch file, which Windows runs through cmd.exe:
// a name ending in ".bat" or ".cmd" in any case, once the trailing dots and
// blanks that Windows drops from file names are set aside. Never on Linux,
// where a program is run by its path whatever its name.
bool RunsThroughCommandShell(const char *programPath);

// Whether the file system would take the two names (or extensions) for one.
// Windows: without regard to case, with the trailing dots and blanks it
// drops set aside. Linux: without regard to ASCII case too, since an output
// folder on a memory card or a Windows share ignores it.
bool NamesAlike(const char *a, const char *b);

// ---- Files ---------------------------------------------------------------
// Creates path as a new file and opens it as a binary stream for writing and
// reading: buffered by the C library on Windows, unbuffered on Linux, where
// glibc passes each write whole to the system. The stream is never inherited
// by a child process. Fails when anything lies at path already (a file, a
// link, whether it leads anywhere or not, a FIFO...), so that nothing behind
// the name is ever written, and when what was created is not a plain disk
// file with one name.
std::FILE *OpenTrackStream(const char *path, SystemError *error = nullptr);
// Opens the finished file at path as a binary stream for reading: only a
// plain file, never through a link, never inherited by a child process.
// Null, with the system's reason in error, otherwise.
std::FILE *OpenFinishedStream(const char *path, SystemError *error = nullptr);
// Appends count bytes to a track stream and hands them to the system at once,
// so that a full disk is reported by the call whose bytes do not fit rather
// than by a later flush, after the host was told they were taken. Returns the
// count the stream took; the stream's error flag tells whether it failed,
// and error then gets the system's reason.
std::size_t WriteTrackBytes(std::FILE *file, const void *bytes, std::size_t count, SystemError *error = nullptr);
// True when path names an existing file that may serve as the encoder. On
// Windows: a file on disk that opens for reading with read, write and delete
// sharing (so a read-only or running program passes). On Linux: an existing
// regular file that we may read and execute, found without opening it, so
// that a FIFO or a device is never opened.
bool EncoderFileUsable(const char *path);

// ---- Finished files that encoders read --------------------------------------
// While a guard stands, no process that the module starts can change the
// file, which may still be read. On Windows the module holds it open for
// reading, sharing only reading, so that no one may write, remove or rename
// it (the module releases the guard before it removes the file). On Linux
// its write permission is taken away, which holds for every user but root
// and a program that gives the permission back; removing or renaming it
// cannot be stopped in a writable folder, and KeepGuardedFile undoes it. Null when
// what lies at path is not a plain file with one name (a link is never
// followed) or cannot be guarded; error then gets the system's reason.
//
// A guard is a plain record with nothing on the heap, so that a child that
// the host forks while one stands has nothing of it to free; all zero is no
// guard.
struct FileGuard {
    bool held;
    std::intptr_t handle;  // the open file: a descriptor, or a HANDLE
    std::uint32_t mode;    // Linux: the permissions given back
};
bool GuardFile(const char *path, FileGuard &guard, SystemError *error);
// Gives the file back as it was (on Linux: its mode). A guard that is not
// held is allowed.
void ReleaseFile(FileGuard &guard);
// After a program that was handed the guarded file has ended: true when
// the file is at path still, with that one name. Windows: always, since the
// guard shares no deletion, so no one can remove or rename it. Linux: a
// program of the same user can remove or rename it (the folder is
// writable); when nothing lies at path any more, its content is copied back
// from the descriptor that the guard holds into a new file at path, which
// the guard then holds in its place. False, with the system's reason, when
// that copy fails, or when something else lies at path (EEXIST): the
// caller moves that aside and asks again.
bool KeepGuardedFile(const char *path, FileGuard &guard, SystemError *error);
// Gives the plain file at path (never through a link) the permissions that
// the guarded file had before its guard: on Linux the mode that the
// module's new files get (0666 less the umask, or what the folder's default
// ACL gives), whatever a program copied from the guarded, read-only file.
// Nothing to do on Windows, where the guard changes no attribute.
bool GiveUnguardedMode(const char *path, const FileGuard &guard, SystemError *error);

// ---- Processors --------------------------------------------------------------
// How many processors this process may run on; at least 1.
std::int32_t ProcessorCount();

// ---- Time --------------------------------------------------------------
void SleepMilliseconds(std::uint32_t milliseconds);

// ---- Events --------------------------------------------------------------
// Wake-up events between the host's thread and the encoder worker. Each has
// one waiting thread at a time. A raise is never lost: one that comes
// between the waiter's last look at what it waits for and its wait makes
// that wait return at once.
struct Event;
// An event that, once raised, stays raised: every later wait returns at
// once. For what happens once per worker: a stop, the worker's end. Null
// when the system has none to give.
Event *CreateManualResetEvent();
// An event that a wait takes back down as it returns: raises that no wait
// has taken yet count as one. For what happens again and again: a track
// that the host has finished. Null when the system has none to give.
Event *CreateAutoResetEvent();
void RaiseEvent(Event *event);
// Waits up to milliseconds for the event; true when it was raised.
// kWaitForever waits with no time limit.
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;
bool WaitForEvent(Event *event, std::uint32_t milliseconds);
// Takes the event back down, whatever raised it before.
void ClearEvent(Event *event);
void DestroyEvent(Event *event);

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

// ---- Time and errors ---------------------------------------------------------
// A millisecond count that only moves forward; it wraps, so only the
// difference of two readings means anything.
std::uint32_t Milliseconds();
// The time now, UTC, as "2026-12-07T14:05:03Z", into out.
void UtcTimeText(char (&out)[24]);
// The system's words for an error code (a SystemError's, or StartProcess's),
// into out.
void ErrorText(std::int32_t code, char *out, std::size_t size);
// This process's id.
std::uint32_t ProcessId();

// ---- The journal -------------------------------------------------------------
// A file that records are appended to by several rips, of this process and
// of others, each record whole or not at all.
struct JournalFile;
// Opens path for appending; creates it when it is missing and create is
// set. The first folderLength bytes of path name a folder that is taken as
// it stands (the output folder, or the folder of a journal named by its full
// path; none when 0: the current folder). Every part after it must be a
// folder itself, and is never followed when it is a link (a junction on
// Windows), so that a journal below the output folder stays below it. Null
// when it cannot be opened, or when the file is not a plain file with one
// name (a link, which is never followed, a FIFO, a device, a folder,
// another name of a file); error then gets the system's reason. Opening
// never waits for a reader or writer.
JournalFile *OpenJournal(const char *path, std::size_t folderLength, bool create, SystemError *error = nullptr);
// Appends the text at the file's end under an exclusive lock of the file,
// so that records of other processes never land inside it; the lock is
// waited for half a second at most, and after such a wait ran out, not at
// all until it is free again. A file whose last byte is no line break (cut
// by someone else) gets one first, so that the text starts a line of its
// own. A text that could not be written whole is taken back, with that
// line break. False when nothing was written.
bool AppendToJournal(JournalFile *journal, const char *text, std::size_t length);
// Null is allowed.
void CloseJournal(JournalFile *journal);
// In a child that the host forked: lets go of the record without touching
// the file, which stays the parent's. Null is allowed.
void ForgetJournal(JournalFile *journal);
// Releases what the process record holds. The process must have ended.
void CloseProcess(Process *process);

// ---- Entries of the output folder ------------------------------------------
enum class EntryKind {
    Missing,
    // A regular file with one name and nothing in it.
    EmptyPlainFile,
    // A regular file with one name and at least one byte.
    PlainFile,
    // Anything else: a link (never followed here), a folder, a FIFO, a
    // device, a file with several names, or one that cannot be looked at.
    Other,
};
EntryKind InspectEntry(const char *path);
// True when error is the system's word that a name is taken already (by a
// file, a folder or a link): the one failure of a move that an existing
// final name explains.
bool NameTaken(const SystemError &error);
// True when both paths name one existing file (the same file system object,
// whatever the names: case, trailing dots, links).
bool SameFile(const char *a, const char *b);
// Makes the folder path if it is missing. True when path is then a folder
// itself, not a link to one.
bool MakeFolder(const char *path, SystemError *error = nullptr);
// True when a part of a path (between separators) is an ordinary name of a
// file or folder. Not on Windows: a device (CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM1-9, LPT1-9, and COM or LPT with byte B9, B2 or B3, the
// superscript digits of code page 1252, with or without an extension, in
// any case), or a name holding ':'
// (a drive, or a stream inside a file). Every name is ordinary on Linux.
bool IsOrdinaryName(const char *part, std::size_t length);
// Writes the full path of path (relative ones start at the current folder)
// into out. False when it does not fit in size - 1 characters.
bool MakeFullPath(const char *path, char *out, std::size_t size);

// ---- One rip per folder ------------------------------------------------------
// An exclusive lock held through the file at path, which is made for it: no
// other process can hold it at the same time. It goes when released, or
// with the process, whatever children the process made hold (on Linux a
// record lock, which belongs to the process and not to its descriptors). A lock file that no live process holds (one
// left by a rip that was killed, of any user) is taken over.
struct FolderLock;
enum class LockRefusal {
    HeldElsewhere,      // a live process holds the lock
    NotALock,           // something else lies at path: a folder, a link, a
                        // FIFO, a file that cannot be opened
    FolderMissing,      // the folder of path does not exist
    FolderNotWritable,  // the file cannot be made there
};
// Null when the lock is not taken; refusal then says why.
FolderLock *LockFolder(const char *path, LockRefusal &refusal, SystemError *error = nullptr);
// Releases the lock and removes its file. Null is allowed.
void UnlockFolder(FolderLock *lock);
// In a child that the host forked: lets go of the record without releasing
// the lock or removing its file, which stay the parent's. Null is allowed.
void ForgetFolderLock(FolderLock *lock);

// ---- Moving and deleting files -------------------------------------------
// Moves the file from to the name to, as MoveFileA does: fails when to
// exists already (which is never replaced) or from does not. With
// writeThrough, Windows has the move on disk when it returns
// (MOVEFILE_WRITE_THROUGH); Linux leaves that to SyncFolder on the folders
// of both names.
//
// A move to another volume (file system) copies, and only when copyName
// names a file beside to (in its folder) that the module may make: the
// bytes go into a new file of that name, which is put on disk whole and
// only then renamed to to, so that to never holds a part of the file, not
// after a full disk nor after a crash; the copy goes again when anything
// fails, and error gets the system's reason (a full disk's own). Without
// copyName such a move fails with the system's "another device".
bool MoveFileNoReplace(const char *from, const char *to, SystemError *error = nullptr, bool writeThrough = false,
                       const char *copyName = nullptr);

// ---- Putting files on disk -----------------------------------------------
// Has the bytes and the length of the finished file at path on disk when it
// returns: fsync on Linux, FlushFileBuffers on Windows. Only a plain file
// with one name is opened, never through a link, and never one that would
// block (a FIFO).
bool SyncFile(const char *path, SystemError *error = nullptr);
// Has the folder's entries on disk when it returns: the names made, moved
// or removed in it. Linux: fsync of the folder, never through a link at
// its last part. Windows: true at once, since a name reaches the disk with
// the move that makes it (MoveFileNoReplace with writeThrough).
bool SyncFolder(const char *path, SystemError *error = nullptr);
bool RemoveFile(const char *path, SystemError *error = nullptr);

// ---- The module's lock ---------------------------------------------------------
// One lock for the whole module, held by the exported functions while they
// change the rip, so that two of them from two threads (a Kill beside
// another Kill, or beside a Create) take turns. Whoever holds it never
// waits for the system loader's lock (Windows), and a thread that dies
// holding it gives it up (Windows: the next taker gets it). False when it
// cannot be had: the system has no lock to give.
bool LockModule();
void UnlockModule();
// Gives back what the lock is made of, once the module is being unloaded
// and no call of the module can come any more. Windows only.
void DiscardModuleLock();

// ---- The worker thread -----------------------------------------------------
// A thread that runs body(argument) once. The module's code stays mapped
// while it runs, even when the host unloads the module meanwhile.
struct WorkerThread;
// What keeps the module's code mapped for a worker about to start. On
// Windows taking one and giving it back go through the loader's lock, which
// a host's component may hold while it waits in Kill for the module's lock:
// so it is taken before the module's lock, and a hold that no thread took
// over is given back after it. Null when none could be had.
struct ModuleHold;
ModuleHold *HoldModule();
void ReleaseModuleHold(ModuleHold *hold);
// Null when no thread could be started; body then never runs. The thread
// takes hold over (hold becomes null) when it starts.
WorkerThread *StartWorkerThread(void (*body)(void *), void *argument, ModuleHold *&hold);
// Waits until body has returned, then releases the record. Safe to call
// while the module is being unloaded: it never waits for a thread to finish
// exiting, only for body to return.
void JoinWorkerThread(WorkerThread *thread);
// Releases the record of a worker that does not exist in this process: in a
// child forked while it ran. Linux only.
void ForgetWorkerThread(WorkerThread *thread);

}  // namespace platform
}  // namespace encbridge
