// A shelf of albums: the cue sheets, FLAC images and folders named on the
// command line, each album found once, and the summary of their rips.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace host {

// One album to rip, or one input that gave none.
struct ShelfAlbum {
    std::string path;     // the cue sheet or FLAC image; empty for a problem
    std::string input;    // as named on the command line
    std::string problem;  // why the input gave no album
};

// The albums of inputs, in the order named, a folder's by name: its cue
// sheets, then its FLAC images with a sheet inside that no sheet of the
// folder names (a sheet and its image are one album). A folder's subfolders
// only with recursive, never through a link. An album named twice is
// ripped once. charset is --cue-charset, for reading the sheets found.
std::vector<ShelfAlbum> FindAlbums(const std::vector<std::string> &inputs, bool recursive, const std::string &charset);

// How one album's rip ended.
enum class AlbumEnd { Done, Partly, Failed, Stopped, NotStarted };

struct AlbumResult {
    std::string name;  // the input or the sheet's path
    AlbumEnd end = AlbumEnd::Failed;
    std::string why;
};

// The summary over the albums: counts, then one line for each album not
// done, with why; albums not started after a stop (as results, or only
// counted in notStarted) are counted apart.
void PrintShelfSummary(std::FILE *out, const std::vector<AlbumResult> &results, std::size_t notStarted);

// The exit status over the albums: the worst of them, a failure (1) worse
// than tracks not produced (3).
int ShelfStatus(const std::vector<int> &statuses);

}  // namespace host
