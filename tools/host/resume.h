// Picking up a rip that was stopped: which tracks are there already, and
// what becomes of the files the stopped rip left.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cue_image.h"
#include "rip.h"
#include "settings_check.h"

namespace host {

// Whether every output of track lies under its final name as the module
// that tools belong to publishes one: a plain file with one name and at
// least one byte. This is
// the one place that decides that a track needs no new rip; a check of its
// files against the image belongs here.
bool TrackAlreadyDone(const EncbridgeToolTable &tools, const RipTrack &track);

// Before Create, looking only: marks the selected tracks that are done as
// resumed, so that the module is handed the others.
void MarkResumedTracks(std::vector<RipTrack> &tracks, const ModuleSettings &settings);

// Once the module holds the output folder (after Create), so that no other
// rip's files are moved: a track with only some of its outputs under their
// final names is ripped anew, so those are moved aside to the names the
// module gives kept copies (#kept(NN)-K plus the extension), to be compared
// with the new ones after the rip. False with a message in error when one
// cannot be moved.
bool MoveAsideForRip(const std::vector<RipTrack> &tracks, const std::string &outputFolder,
                     const ModuleSettings &settings, std::string &error);

// The files of earlier rips in the output folder, by name.
struct Leftovers {
    std::vector<std::string> removed;  // copies of what this rip delivered or produced
    std::vector<std::string> left;     // any other: the user decides
};

// After Kill: every kept copy in the output folder, and the temporary files
// that a resumed track's earlier rip left (its WAV only when DELETE is set,
// since otherwise the WAV is what the user keeps), is removed when it is
// byte-identical to what this rip delivered or produced for its track: the
// file at that output's final name, or the WAV of a track delivered whole
// (delivered: the count of tracks delivered whole, from the first), as the
// module writes it from the image. Any other is left and listed.
Leftovers SweepLeftovers(const std::string &outputFolder, const std::vector<RipTrack> &tracks,
                         const ModuleSettings &settings, AudioImage &image, std::size_t delivered);

}  // namespace host
