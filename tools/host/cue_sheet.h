// The text of a cue sheet: its character set, and what its lines say about
// the album, its files and its tracks. Nothing here opens an audio file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// The images the host reads, for the messages about those it does not.
constexpr const char *kImageFormats = "WAV, AIFF, FLAC, WavPack, APE, TTA, ALAC (.m4a) or MP3";

// What the module's records hold, for the messages about images that are not.
constexpr const char *kCdAudio = "CD audio is 44,100 Hz, 2 channels, 16 bits";

// What the host reads, for the messages about what it does not.
inline const std::string kWhatTheHostTakes =
    std::string("the host takes a cue sheet (.cue) that names CD audio files (44,100 Hz, 2 channels, 16 bits, in ") +
    kImageFormats + "), or a FLAC image with a cue sheet inside";

// One CD sector holds 588 sample frames of 4 bytes each.
constexpr long kFramesPerSector = 588;
constexpr int kFrameBytes = 4;

// An INDEX line: its number, the FILE it stands under (an index into
// CueAlbum::files) and its position in that file.
struct CueIndex {
    int number = 0;
    int file = 0;
    long sector = 0;
};

struct ImageTrack {
    int number = 0;  // the sheet's track number; 0 for audio before the first track
    int line = 0;    // the sheet's TRACK line; 0 when no text gave it
    bool audio = true;
    bool preEmphasis = false;    // FLAGS PRE: mastered with pre-emphasis
    bool copyPermitted = false;  // FLAGS DCP
    bool fourChannels = false;   // FLAGS 4CH
    std::string isrc;            // ISRC: twelve letters and digits
    std::string composer;        // REM COMPOSER within the track
    std::string songwriter;      // SONGWRITER within the track
    std::string title;
    std::string performer;
    std::string year;
    std::string comment;
    long startSector = 0;           // the track's INDEX 01, within its file
    long pregapSectors = 0;         // PREGAP: silence before the track that no file holds
    long postgapSectors = 0;        // POSTGAP: silence after the track that no file holds
    std::vector<CueIndex> indexes;  // in the order of the sheet, INDEX 00 first when there is one
    // The track's audio on the album's timeline (its files one after the
    // other, with the silences that no file holds), in sample frames, end
    // excluded: from its INDEX 01 to the next track's INDEX 01, or to the
    // end of the audio.
    std::int64_t firstFrame = 0;
    std::int64_t endFrame = 0;
    // Set by PlaceTracks, on the same timeline: where the track's gap (its
    // first index, less its PREGAP silence) and its INDEX 01 are on the disc.
    std::int64_t gapFrame = 0;
    std::int64_t indexFrame = 0;
};

struct CueFile {
    std::string named;  // as the FILE line writes it
    std::string path;   // where it is looked for first: beside the sheet, separators mapped
    std::string note;   // set when another file than the one named is used
};

// A stretch of the album's timeline: count frames from first on of one of
// its files, or, with file -1, silence that no file holds.
struct Stretch {
    int file = -1;
    std::int64_t first = 0;
    std::int64_t count = 0;
};

struct CueAlbum {
    std::string title;
    std::string performer;
    std::string year;
    std::string comment;
    std::string genre;       // REM GENRE
    std::string disc;        // REM DISCNUMBER or REM DISC: digits only
    std::string discs;       // REM TOTALDISCS, or the "2" of a DISCNUMBER "1/2"
    std::string catalog;     // CATALOG: 12 or 13 digits
    std::string composer;    // REM COMPOSER before the first track
    std::string songwriter;  // SONGWRITER before the first track
    // The front picture a FLAC image holds in a PICTURE block, and its MIME
    // type; empty when it holds none that the host takes.
    std::string picture;
    std::string pictureType;
    // Values of the sheet that were dropped, and why, for the user.
    std::vector<std::string> notes;
    std::string hiddenTitle;  // REM HIDDEN_TITLE: the name of audio before the first track
    std::string folder;       // the sheet's folder, with its trailing "/"
    std::vector<CueFile> files;
    // Every track of the sheet after reading it; after PlaceTracks the
    // tracks that are ripped, in order.
    std::vector<ImageTrack> tracks;
    std::vector<Stretch> timeline;  // set by PlaceTracks
    ImageTrack lead;                // set by PlaceTracks: the audio before the first audio track
};

// Makes the bytes of a cue sheet UTF-8. charset empty: UTF-8 when the bytes
// are valid UTF-8, with or without a byte order mark; UTF-16 after its byte
// order mark, or without one when its zero bytes give the order; otherwise
// the common code page whose reading stands out (GuessCodePage); each but
// UTF-8 with a notice in note. Any other charset is a name that iconv knows
// ("cp1251", "latin1"...). A UTF-8 byte order mark is taken off in every
// case, and the bytes after it that are not UTF-8 are read in the code page
// named or found. False with a message in error when a byte cannot be
// converted, the charset is unknown, or no code page stands out (the message
// names the likely ones and --cue-charset). Both messages speak of the sheet
// by name.
bool DecodeCueText(const std::string &bytes, const std::string &charset, const std::string &name, std::string &text,
                   std::string &note, std::string &error);

// Whether text is valid UTF-8: no stray, overlong or surrogate sequences.
bool IsUtf8(const std::string &text);

// Parses the UTF-8 text of a cue sheet; cueFolder (with its trailing "/") is
// where a relative FILE is looked for. False with a message in error when
// the text is no cue sheet, names a track without a FILE, an audio track
// without INDEX 01, indexes out of order, or no audio track.
bool ParseCueText(const std::string &text, const std::string &cueFolder, const std::string &cueName, CueAlbum &album,
                  std::string &error);

// What must hold across the tracks of any cue sheet: every track has
// INDEX 01 (where a data track starts ends the audio track before it), indexes rise within a file, tracks follow each
// other, and one track at least holds CD audio. False with a message in error otherwise.
bool CheckCueTracks(const CueAlbum &album, const std::string &cueName, std::string &error);

// The longest value the host hands on for a disc's or track's tag (genre,
// ISRC, composer...): longer ones are dropped with a notice.
constexpr std::size_t kMaxTagValue = 255;

// The largest cover picture the host hands on: larger ones are left out.
constexpr long long kMaxCoverBytes = 16LL * 1024 * 1024;

// Why value, read for what (such as "REM GENRE"), is not handed on: it holds
// a control character or is longer than kMaxTagValue; empty when it may be.
std::string RefusedTagValue(const std::string &what, const std::string &value);

// Sets disc (and discs, when empty) from a disc number as sheets and tags
// write it: "2" or "2/3". False, with nothing set, for anything else.
bool ReadDiscNumber(const std::string &value, std::string &disc, std::string &discs);

// "mm:ss:ff" as cue sheets write positions, for messages.
std::string SectorTime(long sector);

}  // namespace host
