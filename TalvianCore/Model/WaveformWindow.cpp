#include "WaveformWindow.h"

#include <algorithm>
#include <cmath>

namespace talvian {

std::optional<WaveformWindow> WaveformWindow::centered(double time, double span, double total) {
    if (!std::isfinite(time) || !std::isfinite(span) || !std::isfinite(total) || span <= 0 || total <= 0)
        return std::nullopt;
    const double effective = total < kMinimumSpan ? total : std::clamp(span, kMinimumSpan, total);
    double start = std::max(time - effective / 2, 0.0);
    start = std::min(start, total - effective);
    const double end = start + effective;
    if (!std::isfinite(end) || !(end > start)) return std::nullopt;
    return WaveformWindow{start, end};
}

std::optional<double> WaveformWindow::time(double fraction) const {
    if (!std::isfinite(start) || !std::isfinite(end) || !(start < end) || !std::isfinite(fraction))
        return std::nullopt;
    return start + std::clamp(fraction, 0.0, 1.0) * (end - start);
}

std::optional<Uuid> WaveformSelection::target(double time, double duration,
                                              const std::vector<CutRegion>& cuts,
                                              const std::optional<Uuid>& current) {
    if (!std::isfinite(time) || !std::isfinite(duration) || duration <= 0 || time < 0 || time > duration)
        return std::nullopt;
    const CutRegion* best = nullptr;
    for (const auto& region : cuts) {
        if (!std::isfinite(region.start) || !std::isfinite(region.end) || !(region.start < region.end))
            continue;
        const bool inside = region.start <= time && time < region.end;
        const bool atFileEnd = time == duration && region.end == duration;
        if (!inside && !atFileEnd) continue;
        // A click inside the selected pause keeps it, even where a shorter one overlaps.
        if (current && region.id == *current) return current;
        if (!best || region.duration() < best->duration()) best = &region;
    }
    if (!best) return std::nullopt;
    return best->id;
}

}  // namespace talvian
