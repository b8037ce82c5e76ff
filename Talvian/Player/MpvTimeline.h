#pragma once
// How libmpv is told to play an audition timeline: an edl:// address that lays the source
// ranges end to end, and an audio filter that applies the gain ramps over playback time.

#include <string>
#include <vector>

#include "Model/AuditionTimeline.h"

namespace talvian::MpvTimeline {

// "edl://%N%/abs/path,start,length;…" — N counts the path's UTF-8 bytes, so any
// character (",", ";", "%") may appear in it.
std::string edlAddress(const AuditionTimeline& timeline);

// An expression of `t` (seconds of playback) that gives the ramps' gain, 1 between them. It
// is a balanced tree of comparisons, so each sample costs a logarithmic number of steps in
// the number of ramps rather than a linear one.
std::string gainExpression(const std::vector<AuditionGainRamp>& ramps);

// The value of mpv's "af" option for the timeline; empty when there is nothing to ramp.
std::string audioFilter(const AuditionTimeline& timeline);

}  // namespace talvian::MpvTimeline
