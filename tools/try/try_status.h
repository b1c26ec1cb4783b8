// What encbridge-try.exe tells its user without words: its exit statuses
// and the names of what it makes. The Windows users' README quotes them, and
// a test holds the README to these values.
#pragma once

namespace encbridge_try {

// Exit statuses.
constexpr int kAllMade = 0;      // every output was made (--dry-run: every line would run)
constexpr int kRefused = 1;      // the module refuses the settings
constexpr int kCannotTry = 2;    // wrong arguments, no module, no settings file, no folder or temp folder to use
constexpr int kSomeNotMade = 3;  // some outputs were not made

// An output folder's path of this many characters or more is refused: a
// file's path in it would be too long for the system's ANSI functions.
constexpr unsigned kFolderPathTooLong = 260;
// A folder of its own in the temp folder: this, then its number from 1.
constexpr char kTempFolderName[] = "encbridge-try ";
// The journal it turns on, in the folder it rips into.
constexpr char kJournalName[] = "encbridge-try.log";

}  // namespace encbridge_try
