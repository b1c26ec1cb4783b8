// The name under which a track's encoded output is kept.
#pragma once

#include <cstddef>

#include "platform/format.h"
#include "records/host_records.h"
#include "settings/plugin_settings.h"

namespace encbridge {

namespace platform {
struct SystemError;
}

// Whether the track's final name, its file name followed by extension, may be
// joined to the output folder. The file name comes from the host, and so
// from CD-Text or an online database. A host's naming scheme may place the
// file in folders below the output folder ("Artist\Album\01 Title"), so the
// name may hold separators, but every part between them must be an ordinary
// name: not empty (no root, drive-less UNC or device prefix, no doubled or
// trailing separator), not "." or "..", no drive or device, and not one of
// the module's temporary names ("#temp(" digits ")" at its start, in any
// case), or the output of one track would be moved to where the WAV file or
// the output of another is written. The extension holds no separator.
bool UsableFinalName(const TrackInfo &track, const char *extension);

// The journal's path for name (LOG, read within width): an absolute path as
// it stands; a relative one below folder, each part an ordinary name as in
// a final name. Either way the file is not named like one of the module's
// own files (a temporary or kept file, or the lock), whose data it would
// spoil, in this folder or another rip's. folderLength receives the length
// of the part of path that is taken as it stands: the output folder, or an
// absolute path's own folder; the parts after it must be folders that are
// no links. False when no journal may be written there.
bool UsableJournalPath(const char *name, std::size_t width, const char *folder, std::size_t folderWidth,
                       PathBuffer &path, std::size_t &folderLength);

// Whether the journal at path (folderLength as UsableJournalPath gave it)
// is where one of the album's tracks would be published, in any output:
// its records would take that track's final name.
bool IsAFinalPath(const PathBuffer &path, const AlbumInfo &album, const PluginSettings &settings);

// Makes the folders that the track's file name places its final file in,
// below folder, where they are missing. False when one cannot be made or is
// not a folder itself (a link to one leads elsewhere); error then says why.
bool MakeFinalFolders(const char *folder, std::size_t folderWidth, const TrackInfo &track,
                      platform::SystemError *error = nullptr);

// Puts on disk the entries of every folder from the one that holds the
// track's final file up to folder itself, the deepest first: the file's
// name, and the name of each folder that MakeFinalFolders made, in the
// folder above it. False when one cannot be; error then says why.
bool SyncFinalFolders(const char *folder, std::size_t folderWidth, const TrackInfo &track,
                      platform::SystemError *error = nullptr);

}  // namespace encbridge
