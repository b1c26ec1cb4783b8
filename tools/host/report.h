// The table of produced files that ends a rip.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "rip.h"

namespace host {

// Prints one row per track and output: the final file with its size and its
// duration (where libsndfile can read it, "-" elsewhere), or what became of
// it. Returns the count of selected tracks with some final file missing.
int PrintReport(std::FILE *out, const std::vector<RipTrack> &tracks, const std::string &outputFolder,
                const std::vector<std::string> &extensions);

// "1.4 MiB" and the like.
std::string SizeText(long long bytes);
// "m:ss.cc".
std::string DurationText(double seconds);

}  // namespace host
