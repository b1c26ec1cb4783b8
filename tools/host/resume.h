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

// What --resume checks a track's files with: the records handed to Create,
// the settings file whose verify lines prove outputs, the image, and a
// folder of the host's own for the track's WAV file that a verify line's
// audio is compared with.
struct ResumeCheck {
    const ModuleSettings &settings;
    const std::string &settingsPath;
    const AlbumInfo &album;
    AudioImage &image;
    std::string scratch;  // with its trailing "/"
};

// Whether the files at track's final names (tracks[index]) are this album's
// track. done: every output lies there as the module publishes one (a plain
// file with one name and at least one byte) and is the track's: an output
// with a verify line (VERIFY) is proven as the module proves it before
// publishing, against the track's audio from the image; any other must be a
// lossless file (WAV, FLAC, AIFF) of CD audio that decodes to the track's
// length in sample frames. why: what was wrong with a file that lies there,
// empty when a file is missing. This is the one place that decides that a
// track needs no new rip.
struct ResumeVerdict {
    bool done = false;
    std::string why;
};
ResumeVerdict CheckTrackDone(const ResumeCheck &check, const std::vector<RipTrack> &tracks, std::size_t index);

// Before Create, looking only (the files of another rip may be there):
// marks the selected tracks that are done as resumed, with why a track's
// files were not taken in its notResumed. False with a message in error
// when the check cannot be made or a stop came meanwhile.
bool MarkResumedTracks(std::vector<RipTrack> &tracks, const ResumeCheck &check, std::string &error);

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

// The module's files of a rip in folder, by name: its temporary files, and
// kept copies (#kept(NN)-K), with kept only those; the lock is neither.
std::vector<std::string> ModuleFiles(const EncbridgeToolTable &tools, const std::string &folder, bool kept);

// After a delivery that failed at tracks[index] because the image could not
// be read: the module keeps the WAV file it was given so far, and the host
// removes it only when it holds nothing but the start of that track's audio
// as the image still holds it, so that nothing is lost. The name removed, or
// empty.
std::string RemovePartialDelivery(const EncbridgeToolTable &tools, const std::string &outputFolder, AudioImage &image,
                                  const std::vector<RipTrack> &tracks, std::size_t index);

}  // namespace host
