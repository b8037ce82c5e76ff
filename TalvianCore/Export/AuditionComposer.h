#pragma once
// Turns an audition plan into a timeline description a media player can play without
// anything being rendered to disk: the plan's source ranges laid end to end, and for an
// edited plan a short linear gain ramp at every segment edge.
//
// Times are integer ticks of 1/60000 s, the precision every player seek uses.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "Export/AuditionPlan.h"
#include "Model/CoreTypes.h"

namespace talvian {

inline constexpr std::int64_t kAuditionTimescale = 60000;  // ticks per second
// Seconds to ticks, rounded to the nearest tick; negative and non-finite give 0.
std::int64_t auditionTicks(double seconds);
inline double auditionSeconds(std::int64_t ticks) {
    return static_cast<double>(ticks) / kAuditionTimescale;
}

// One source range placed on the audition timeline.
struct AuditionSegment {
    std::int64_t sourceStartTicks = 0;
    std::int64_t lengthTicks = 0;
    std::int64_t timelineStartTicks = 0;
    bool operator==(const AuditionSegment&) const = default;
};

// A linear gain change over [startTicks, startTicks + lengthTicks) of the timeline.
struct AuditionGainRamp {
    std::int64_t startTicks = 0;
    std::int64_t lengthTicks = 0;
    double fromGain = 0;
    double toGain = 1;
    bool operator==(const AuditionGainRamp&) const = default;
};

struct AuditionTimeline {
    std::filesystem::path source;
    AuditionMode mode = AuditionMode::original;
    bool hasVideo = false;  // the first picture track plays along
    std::vector<AuditionSegment> segments;
    // Ascending and disjoint; empty for `original` (segment edges are hard joins there).
    std::vector<AuditionGainRamp> ramps;

    double durationSeconds() const;
    // The gain the ramps give at a timeline time: 1 outside every ramp.
    double gainAt(double timelineSeconds) const;
    bool operator==(const AuditionTimeline&) const = default;
};

namespace AuditionComposer {

// Reads the source's track list, then lays out the plan. Only the first audio and the
// first picture track are used; an attached cover is no picture. Blocks while the file's
// header is read: call it off the main thread. Throws MediaError "素材没有可播放的音轨。",
// "无法读取这份素材的音视频轨道。" (FFmpeg's words in diagnostics()), the layout's errors, or
// OperationCancelled when `cancellation` is cancelled (checked after loading and before
// every segment).
AuditionTimeline timeline(const std::filesystem::path& source, const AuditionPlan& plan,
                          const CancellationToken& cancellation = nullptr);

// The layout alone, for a source whose tracks are known to include sound. Throws MediaError
// "无法创建试听音轨。" when the segments come to no whole tick of sound.
AuditionTimeline layout(const std::filesystem::path& source, const AuditionPlan& plan, bool hasVideo,
                        const CancellationToken& cancellation = nullptr);

}  // namespace AuditionComposer
}  // namespace talvian
