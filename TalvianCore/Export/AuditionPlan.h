#pragma once
// Which stretches of source time an audition plays back to back, and the mapping
// between the audition player's clock (playback time) and source time.
//
// Pure values; any thread.

#include <optional>
#include <string_view>
#include <vector>

#include "Model/AuditionTimeline.h"
#include "Model/CoreTypes.h"

namespace talvian {

struct AuditionPlan {
    AuditionMode mode = AuditionMode::original;
    double sourceStart = 0;  // seconds of source time: the audition window
    double sourceEnd = 0;
    // Played back to back in ascending source order, never overlapping; each has a fresh
    // identity and `remove` false.
    std::vector<CutRegion> segments;

    // One pause or range with `contextSeconds` of sound on each side. `cuts` is the whole
    // current cut list; `edited` plays only what it keeps. The cut's own `remove` is not read.
    // Throws MediaError "试听区间无效，请重新选择切点。" or
    // "这段试听范围内没有保留内容。请先恢复区间，或听原音。".
    static AuditionPlan forCut(const CutRegion& cut, const std::vector<CutRegion>& cuts,
                               double durationSeconds, AuditionMode mode, double contextSeconds);
    // The whole edited result. Throws MediaError "素材时长无效。" or "没有保留内容可供预览。".
    static AuditionPlan forFullEdit(const std::vector<CutRegion>& cuts, double durationSeconds);

    // Seconds of playback: the sum of the segment lengths.
    double duration() const;
    // Playback seconds to source seconds; bad input counts as 0, times past the end pin
    // to the last segment's end. A time exactly at a segment's length maps to the next start.
    double sourceTime(double playbackSeconds) const;
    // Source seconds to playback seconds; a time in a gap maps to where the next segment
    // begins, a time after the last segment to `duration()`.
    double playbackTime(double sourceSeconds) const;

    bool operator==(const AuditionPlan&) const = default;
};

}  // namespace talvian
