// The module's whole boundary with a ripping host: the four exported
// functions and the two records through which the host describes an album.
//
// Calling convention: the platform's default C convention. On 32-bit Windows
// that is __cdecl (the caller pops the arguments, names are not decorated);
// on Linux it is the System V ABI. The functions are exported by plain name
// and, on Windows, also by ordinal: 1 GetDllViersion, 2 Create, 3 SetData,
// 4 Kill.
//
// The records are in records/host_records.h, where every layer may read
// them.
#pragma once

#include <cstdint>

#include "records/host_records.h"

extern "C" {
// Always 4.
std::int32_t GetDllViersion(void);
// 1 = rip started, 0 = refused. header may be null (a default 44-byte PCM
// header is used); headerLength 0 writes no header.
std::int32_t Create(AlbumInfo *info, const char *settingsPath, const std::uint8_t *header, std::int32_t headerLength);
// *boundary 0: all length bytes belong to the current track. *boundary b > 0:
// the first b bytes end the current track. A call with length 0 ends it too.
// 1 = taken, 0 = refused or failed.
std::int32_t SetData(const std::uint8_t *data, std::int32_t length, std::int32_t *boundary);
// Ends the rip: 0, or -1 when closing an open track file failed.
std::int32_t Kill(void);
}
