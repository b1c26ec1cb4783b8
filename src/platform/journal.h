// The journal file and the output folder's lock file.
// Part of the thin layer over the operating system (see platform.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/system.h"

namespace encbridge {
namespace platform {

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

}  // namespace platform
}  // namespace encbridge
