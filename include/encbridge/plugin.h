/* The module's whole boundary with a ripping host, in C: the two records
 * through which the host describes an album, the four exported functions,
 * and a loader that finds them in a loaded module.
 *
 * Calling convention: the platform's default C convention. On 32-bit Windows
 * that is __cdecl (the caller pops the arguments, names are not decorated);
 * on Linux it is the System V ABI. The functions are exported by plain name
 * and, on Windows, also by ordinal: 1 GetDllViersion, 2 Create, 3 SetData,
 * 4 Kill (and 5 EncbridgeTools, for tools: see encbridge/tools.h).
 *
 * Threads: one host thread rips (the "ripping thread": Create, every
 * SetData, then Kill). Kill may also come from one other host thread while
 * the album's last SetData waits, to cancel the rip; two Kills that overlap
 * end as one. Each function says below which thread may call it and what it
 * waits for. */
#ifndef ENCBRIDGE_PLUGIN_H
#define ENCBRIDGE_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define ENCBRIDGE_STATIC_ASSERT(condition, text) static_assert(condition, text)
#define ENCBRIDGE_FUNCTION_CAST(type, function) reinterpret_cast<type>(function)
extern "C" {
#else
#define ENCBRIDGE_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#define ENCBRIDGE_FUNCTION_CAST(type, function) ((type)(function))
#endif

/* The records belong to the host and are read, never written. Their layout
 * is binary and fixed: the offsets below are those of the 32-bit layout,
 * checked at compile time. On a 64-bit build `tracks` is 8 bytes wide at the
 * same offset, so only that record's size differs. */
typedef struct TrackInfo {
    int32_t status;       /* the track is processed only when this equals 1 */
    uint8_t marked;       /* ...and this is non-zero */
    char extraText[1024]; /* reaches no command tag */
    char fileName[260];   /* base name of the final file */
    char title[1024];
    char artist[1024];
    char year[1024];
    char album[1031];   /* album name given per track; to the next field */
    char comment[1040]; /* to the end of the record */
} TrackInfo;

typedef struct AlbumInfo {
    uint8_t hostReserved[4]; /* belongs to the host, never read */
    char outputFolder[1288]; /* literal prefix: ends with a separator */
    char albumTitle[1024];
    char albumArtist[1284];
    char albumComment[1028];
    int32_t trackCount;
    TrackInfo *tracks; /* trackCount records, one after the other */
} AlbumInfo;

ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, status) == 0, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, marked) == 4, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, extraText) == 5, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, fileName) == 1029, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, title) == 1289, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, artist) == 2313, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, year) == 3337, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, album) == 4361, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(TrackInfo, comment) == 5392, "TrackInfo layout");
ENCBRIDGE_STATIC_ASSERT(sizeof(TrackInfo) == 6432, "one TrackInfo every 6,432 bytes");
ENCBRIDGE_STATIC_ASSERT(offsetof(AlbumInfo, outputFolder) == 4, "AlbumInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(AlbumInfo, albumTitle) == 1292, "AlbumInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(AlbumInfo, albumArtist) == 2316, "AlbumInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(AlbumInfo, albumComment) == 3600, "AlbumInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(AlbumInfo, trackCount) == 4628, "AlbumInfo layout");
ENCBRIDGE_STATIC_ASSERT(offsetof(AlbumInfo, tracks) == 4632, "AlbumInfo layout");
/* The width of the pointer itself is meant: 4 bytes, or 8 on 64-bit Linux. */
ENCBRIDGE_STATIC_ASSERT(sizeof(AlbumInfo) == 4632 + sizeof(TrackInfo *), /* NOLINT(bugprone-sizeof-expression) */
                        "AlbumInfo ends with tracks");

/* [any thread] Always 4. Waits for nothing. */
int32_t GetDllViersion(void);

/* [ripping thread] Starts a rip of info's album with the settings file at
 * settingsPath: 1 = rip started, 0 = refused. header may be null (a default
 * 44-byte PCM header is used); headerLength 0 writes no header. A rip of an
 * earlier Create that is still going is ended first, its encoders stopped,
 * as Kill would. */
int32_t Create(AlbumInfo *info, const char *settingsPath, const uint8_t *header, int32_t headerLength);

/* [ripping thread] Audio of the current track. *boundary 0: all length bytes
 * belong to the current track. *boundary b > 0: the first b bytes end the
 * current track. A call with length 0 ends it too. 1 = taken, 0 = refused
 * or failed. Writes to disk; the call that ends the album's last track
 * waits until every encoder has ended, or until Kill from another thread. */
int32_t SetData(const uint8_t *data, int32_t length, int32_t *boundary);

/* [ripping thread, or one other host thread while the album's last SetData
 * waits] Ends the rip: encoders still running are stopped. 0, or -1 when
 * closing an open track file failed. Waits for the encoders' end, within a
 * bounded time whatever became of the host's other threads. */
int32_t Kill(void);

/* The exports as a host calls them, found by EncbridgeLoadExports. */
struct EncbridgeToolTable;
typedef struct EncbridgeExports {
    int32_t (*getDllViersion)(void);
    int32_t (*create)(AlbumInfo *info, const char *settingsPath, const uint8_t *header, int32_t headerLength);
    int32_t (*setData)(const uint8_t *data, int32_t length, int32_t *boundary);
    int32_t (*kill)(void);
    /* For tools (encbridge/tools.h); null in a module without it. */
    const struct EncbridgeToolTable *(*tools)(void);
} EncbridgeExports;

/* Any function, as a lookup returns it: dlsym's result or GetProcAddress's,
 * cast to this type. */
typedef void (*EncbridgeFunction)(void);
typedef EncbridgeFunction (*EncbridgeLookup)(void *module, const char *name);

/* [any thread] Fills exports from a loaded module through lookup. Returns
 * null when the four host functions were found (tools may stay null), or
 * else the name of the first that is missing, with exports all null. */
static inline const char *EncbridgeLoadExports(void *module, EncbridgeLookup lookup, EncbridgeExports *exports) {
    static const char *const names[] = {"GetDllViersion", "Create", "SetData", "Kill", "EncbridgeTools"};
    EncbridgeFunction found[5];
    size_t i;
    EncbridgeExports none = {0, 0, 0, 0, 0};
    *exports = none;
    for (i = 0; i < 5; ++i) {
        found[i] = lookup(module, names[i]);
        if (i < 4 && found[i] == 0) return names[i];
    }
    /* void (*)(void) converts to any function type and back unchanged. */
    exports->getDllViersion = ENCBRIDGE_FUNCTION_CAST(int32_t(*)(void), found[0]);
    exports->create =
        ENCBRIDGE_FUNCTION_CAST(int32_t(*)(AlbumInfo *, const char *, const uint8_t *, int32_t), found[1]);
    exports->setData = ENCBRIDGE_FUNCTION_CAST(int32_t(*)(const uint8_t *, int32_t, int32_t *), found[2]);
    exports->kill = ENCBRIDGE_FUNCTION_CAST(int32_t(*)(void), found[3]);
    exports->tools = ENCBRIDGE_FUNCTION_CAST(const struct EncbridgeToolTable *(*)(void), found[4]);
    return 0;
}

#ifdef __cplusplus
}
#endif

#endif
