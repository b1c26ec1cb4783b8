// The table of produced files that ends a rip.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "journal_reader.h"
#include "rip.h"
#include "settings_check.h"

namespace host {

// Prints one row per track and output: the final file with its size and its
// duration (where libsndfile can read it, "-" elsewhere), or what became of
// it: the reason the module's journal gave, and the WAV file left. When the
// journal was read, a file counts only when it says the module published
// it. Returns the count of selected tracks with some final file missing.
int PrintReport(std::FILE *out, const std::vector<RipTrack> &tracks, const std::string &outputFolder,
                const ModuleSettings &settings, const RipOutcome &outcome);

// Then a row for each output's album step that the journal tells of: done,
// or not done and why. Returns the count of steps not done.
int PrintAlbumSteps(std::FILE *out, const ModuleSettings &settings, const RipOutcome &outcome);

// When the journal tells that every output of every track written failed
// for one and the same reason: that reason in words, with what the first
// one's program said; empty otherwise (a track produced, a reason unknown,
// or reasons that differ). A shelf stops on it: its settings are wrong.
std::string SameFailure(const std::vector<RipTrack> &tracks, const ModuleSettings &settings, const RipOutcome &outcome);

// "1.4 MiB" and the like.
std::string SizeText(long long bytes);
// "m:ss.cc".
std::string DurationText(double seconds);

}  // namespace host
