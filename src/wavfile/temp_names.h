// The names of the module's own files in the output folder: the temporary
// name of each track, the names that files found in the way are moved to,
// and the lock file of a rip. Forming and recognising them happens here only.
#pragma once

#include <cstddef>

#include "platform/format.h"

namespace encbridge {

namespace platform {
struct SystemError;
}

// The file that a rip holds in its output folder from Create to Kill, so
// that no other process rips into the same folder at the same time.
constexpr char kLockFileName[] = "#ripping.lock";

// "#temp(NN)" behind folder (read within folderWidth): the base of the
// names of track number's WAV file and encoder output. False when it would
// be cut, since a cut name could be shared by several tracks.
bool FormTempBase(PathBuffer &base, const char *folder, std::size_t folderWidth, int number);

// "#temp(NN)-copy" and extension (read within extensionWidth) in the folder
// of finalPath: the name under which a move to another volume copies track
// number's output beside its final name, so that the final name never
// holds a part of it. folderLength receives the length of that folder.
// False when it would be cut.
bool FormCopyName(PathBuffer &name, const char *finalPath, int number, const char *extension,
                  std::size_t extensionWidth, std::size_t &folderLength);

// Whether name begins like a temporary name: "#temp(" digits ")", in any
// case.
bool StartsLikeATemporaryName(const char *name, std::size_t length);

// Whether name begins like any file the module makes or keeps in the output
// folder: a temporary name, a kept copy ("#kept("), or the lock file, in any
// case. Another file under such a name would be taken for the module's.
bool IsAModuleFileName(const char *name, std::size_t length);

// Reads a kept copy's name, "#kept(NN)-K" and an extension, as ClearTheWay
// forms it: number is NN, and extension (which may be empty) starts at
// extensionAt. False for any other name.
bool ReadKeptName(const char *name, std::size_t length, int &number, std::size_t &extensionAt);

// Makes way for a new file at path, one of track number's temporary names
// in folder, ending in extension. Nothing found there is ever reused or
// written through: an empty plain file is removed; anything else (a WAV or
// an output that an earlier rip kept, a link, a FIFO...) is renamed to the
// first free "#kept(NN)-K" followed by extension, K from 1, which never
// looks like a temporary name. False when something stays in the way.
bool ClearTheWay(const char *path, const char *folder, std::size_t folderWidth, int number, const char *extension,
                 std::size_t extensionWidth, platform::SystemError *error = nullptr);

// Makes way for the lock file in folder, at lockPath, where something that
// is no lock lies (a folder, a link, a FIFO, a file that cannot be opened):
// as ClearTheWay does, to "#kept(00)-K.lock"; no track has number 0.
bool ClearTheLockName(const char *lockPath, const char *folder, std::size_t folderWidth,
                      platform::SystemError *error = nullptr);

}  // namespace encbridge
