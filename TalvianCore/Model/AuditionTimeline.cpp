#include "AuditionTimeline.h"

#include <cmath>
#include <limits>

#include "Support/IntegerBounds.h"

namespace talvian {

const char* rawValue(AuditionMode mode) {
    return mode == AuditionMode::original ? "original" : "edited";
}

std::optional<AuditionMode> auditionModeFromRaw(std::string_view raw) {
    if (raw == "original") return AuditionMode::original;
    if (raw == "edited") return AuditionMode::edited;
    return std::nullopt;
}

std::int64_t auditionTicks(double seconds) {
    if (!(seconds > 0)) return 0;  // negative, zero or NaN
    // Past the last tick the last tick stands: it lies beyond the end of every item.
    return checkedInteger<std::int64_t>(std::round(seconds * kAuditionTimescale))
        .value_or(std::numeric_limits<std::int64_t>::max());
}

double AuditionTimeline::durationSeconds() const {
    std::int64_t total = 0;
    for (const auto& segment : segments) total += segment.lengthTicks;
    return auditionSeconds(total);
}

double AuditionTimeline::gainAt(double timelineSeconds) const {
    for (const auto& ramp : ramps) {
        double start = auditionSeconds(ramp.startTicks);
        double length = auditionSeconds(ramp.lengthTicks);
        if (timelineSeconds >= start && timelineSeconds < start + length)
            return ramp.fromGain + (ramp.toGain - ramp.fromGain) * (timelineSeconds - start) / length;
    }
    return 1;
}

}  // namespace talvian
