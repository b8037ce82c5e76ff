#pragma once
// What an audition plays, as a value any player can take: source ranges laid end to end on
// a timeline of 1/60000 s ticks, with the gain ramps at their edges. The composer makes
// these values, the players play them; neither needs the other's header.
//
// Pure values; any thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace talvian {

// `original`: the source as recorded; `edited`: only what the cut keeps.
enum class AuditionMode { original, edited };
// "original" / "edited".
const char* rawValue(AuditionMode mode);
std::optional<AuditionMode> auditionModeFromRaw(std::string_view raw);

// Ticks per second: the precision every player seek uses.
inline constexpr std::int64_t kAuditionTimescale = 60000;
// Seconds to ticks, rounded to the nearest tick; negative and NaN give 0, +∞ and anything
// past the last tick give the last tick.
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

}  // namespace talvian
