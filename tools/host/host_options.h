// The command line of encbridge-host, and the parsing of its option values.
#pragma once

#include <string>
#include <vector>

namespace host {

// Whole CD sectors: one sector holds 588 stereo 16-bit sample frames.
constexpr int kSectorBytes = 2352;
constexpr int kDefaultPieceSize = 25 * kSectorBytes;

enum class EndBy {
    Zero,      // a call with length 0 after the track's last piece
    Boundary,  // the last piece names where the track ends within it
};

// What becomes of audio before the first track's INDEX 01.
enum class FirstPregap {
    Auto,   // written as track 0 unless it is digital silence, then dropped
    Track,  // always written as track 0
    Drop,
    Join,  // the first track starts with it
};

// Where the audio between a track's INDEX 00 (and PREGAP silence) and its
// INDEX 01 goes.
enum class GapMode {
    Append,   // the end of the track before, as rippers deliver it
    Prepend,  // the start of its own track
    Drop,
};

// An inclusive range of track numbers from --tracks.
struct TrackSpan {
    int first;
    int last;
};

struct HostOptions {
    // The cue sheets, FLAC images and folders named; empty: make and encode
    // the demo album.
    std::vector<std::string> inputs;
    std::string cuePath;  // the album being ripped; empty: the demo album
    std::string pluginPath;
    std::string settingsPath;
    std::string outFolder;
    std::string namePattern = "{number} {title}";
    // Set by the run, not by an option: the album is one disc of a set in
    // this run, and its names begin with its disc number.
    bool discNamed = false;
    std::string cueCharset;  // empty: as DecodeCueText finds it
    FirstPregap firstPregap = FirstPregap::Auto;
    GapMode gaps = GapMode::Append;
    std::vector<TrackSpan> tracks;  // empty: every track
    EndBy endBy = EndBy::Zero;
    int pieceSize = kDefaultPieceSize;
    bool dryRun = false;
    bool overwrite = false;
    bool writeCue = false;
    bool resume = false;
    bool recursive = false;
    bool skipColliding = false;  // a shelf rips its other albums when two would write one file
    bool keepGoing = false;      // a shelf goes on after an album whose every track failed alike
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// The name that messages about the command line start with.
constexpr const char *kProgramName = "encbridge-host";

// Fills options from the program's arguments (without the program's name),
// read by getopt_long: "--opt value" and "--opt=value", unambiguous
// abbreviations, "--" before an input whose name starts with "-". False
// when the line is wrong: with a message in error for a value that is not
// allowed, with error empty when getopt_long has printed its own message (an
// unknown option, a missing value) to standard error.
bool ParseOptions(const std::vector<std::string> &arguments, HostOptions &options, std::string &error);

// "1,3-5" and the like: track numbers from 1, ranges written low to high.
bool ParseTrackList(const std::string &text, std::vector<TrackSpan> &spans, std::string &error);
// Whether track number is named by spans; an empty list names every track.
bool TrackSelected(const std::vector<TrackSpan> &spans, int number);

// A piece size in bytes: a positive multiple of 2,352.
bool ParsePieceSize(const std::string &text, int &pieceSize, std::string &error);

const char *UsageText();
// "encbridge-host (encbridge) VERSION" and the lines after it, for --version.
std::string VersionText();

}  // namespace host
