// Paths, the files a rip writes, the WAV guard, and moving and syncing outputs.
// Part of the thin layer over the operating system (see platform.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/system.h"

namespace encbridge {
namespace platform {

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

}  // namespace platform
}  // namespace encbridge
