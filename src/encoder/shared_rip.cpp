#include "encoder/shared_rip.h"

#include <cstdint>
#include <new>

namespace encbridge {
namespace {

std::uint16_t AllOutputs(std::int32_t outputCount) { return static_cast<std::uint16_t>((1u << outputCount) - 1u); }

}  // namespace

bool MakeRipTracks(SharedRip &rip, std::int32_t count) {
    ReleaseRipTracks(rip);
    if (count < 0 || static_cast<std::size_t>(count) > SIZE_MAX / sizeof(RipTrack)) return false;
    rip.tracks = new (std::nothrow) RipTrack[static_cast<std::size_t>(count)]();
    if (rip.tracks == nullptr) return false;
    rip.trackCount = count;
    return true;
}

void ReleaseRipTracks(SharedRip &rip) {
    delete[] rip.tracks;
    rip.tracks = nullptr;
    rip.trackCount = 0;
}

void MarkTrackNotWritten(RipTrack &track, platform::SystemError why) {
    track.state = TrackState::NotWritten;
    track.writeError = why;
}

void MarkTrackWriting(RipTrack &track) { track.state = TrackState::Writing; }

void MarkTrackWritten(RipTrack &track) {
    if (track.state == TrackState::Writing) track.state = TrackState::Finished;
}

void MarkTrackEncoding(RipTrack &track) { track.state = TrackState::Encoding; }

bool MarkOutputEnded(RipTrack &track, std::int32_t output, bool published, std::int32_t outputCount) {
    const std::uint16_t bit = static_cast<std::uint16_t>(1u << output);
    track.ended = static_cast<std::uint16_t>(track.ended | bit);
    if (published) track.published = static_cast<std::uint16_t>(track.published | bit);
    return track.ended == AllOutputs(outputCount);
}

void MarkTrackEnded(RipTrack &track, std::int32_t outputCount) {
    track.state = PublishedEverywhere(track, outputCount) ? TrackState::Published : TrackState::Kept;
}

void MarkTrackRemoved(RipTrack &track) { track.state = TrackState::Removed; }

bool PublishedEverywhere(const RipTrack &track, std::int32_t outputCount) {
    return track.published == AllOutputs(outputCount);
}

}  // namespace encbridge
