// What a whole run will write and read, worked out before anything is
// ripped: two albums of one run must never write the same file, and no
// output may be a file that the run reads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace host {

// One album of the run as planned: its name for messages, the files it
// reads (sheet, images) and the files it would write (every selected
// track's outputs, the written sheet).
struct PlannedAlbum {
    std::string name;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
};

// A path as names are compared: letters folded to lower case, since the
// library may lie on (or be copied to) a disk that folds case, where two
// names that differ only in case are one file. Folding needs a UTF-8
// character table; without one only ASCII letters are folded.
std::string NameKey(const std::string &path);

// Two albums that would write the same file (first < second, places in the
// list), and that file as the first album names it.
struct Clash {
    std::size_t first = 0;
    std::size_t second = 0;
    std::string path;
};

// Every pair of albums that would write one file, each pair once.
std::vector<Clash> FindClashes(const std::vector<PlannedAlbum> &albums);

// An output of some album that is a file some album of the run reads, the
// same file by device and inode however it is named (a link, another case
// of its name); the output's path in output and its album's place in album.
// An output that does not exist yet is no file being read.
bool FindOutputRead(const std::vector<PlannedAlbum> &albums, std::size_t &album, std::string &output);

// {album} for a sheet with no TITLE: the sheet's file name without its
// extension, else its folder's name; empty when neither gives one.
std::string AlbumNameFromFile(const std::string &sheetPath);

}  // namespace host
