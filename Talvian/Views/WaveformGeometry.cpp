#include "WaveformGeometry.h"

#include <algorithm>
#include <cmath>

namespace talvian::WaveformGeometry {

double drawnSpan(const WaveformWindow& window) {
    return std::max(window.end - window.start, kShortestDrawnSpan);
}

double x(double seconds, const WaveformWindow& window, double width) {
    return width * (seconds - window.start) / drawnSpan(window);
}

Lane lane(double height) {
    Lane result;
    result.height = std::max(height - kLaneTop - kLaneBottomMargin, 0.0);
    result.middle = kLaneTop + result.height * 0.5;
    return result;
}

std::optional<Extent> extent(double start, double end, const WaveformWindow& window, double width) {
    const Extent result{std::max(x(start, window, width), 0.0), std::min(x(end, window, width), width)};
    // Written so that a value that is not a number draws nothing.
    if (!(result.x0 < result.x1)) return std::nullopt;
    return result;
}

double fraction(double x, double width) {
    const double value = x / std::max(width - 1, 1.0);
    if (std::isnan(value)) return 0;
    return std::clamp(value, 0.0, 1.0);
}

double time(double fraction, const WaveformWindow& window) {
    return window.start + fraction * (window.end - window.start);
}

bool movedAtLeast(double dx, double dy, double distance) {
    return std::hypot(dx, dy) >= distance;
}

std::optional<double> cursorX(double position, const WaveformWindow& window, double width) {
    if (!(window.start <= position && position <= window.end)) return std::nullopt;
    return std::min(std::max(x(position, window, width), 0.0), width - 1);
}

std::vector<CutRegion> drawnPauses(const std::vector<CutRegion>& cuts,
                                   const std::optional<WaveformBoundaryDrag>& drag) {
    std::vector<CutRegion> drawn = cuts;
    if (!drag) return drawn;
    for (CutRegion& region : drawn)
        if (region.id == drag->original.id) region = drag->proposed;
    return drawn;
}

bool tinted(const CutRegion& pause, const std::optional<Uuid>& reviewed, const std::set<Uuid>& batch,
            const WaveformWindow& window) {
    if (!(window.end - window.start <= kLongestTintedSpan)) return false;
    return pause.id == reviewed || batch.count(pause.id) > 0;
}

std::vector<float> removedCoverage(const std::vector<CutRegion>& pauses, const WaveformWindow& window,
                                   double width, std::size_t columns) {
    std::vector<float> coverage(columns, 0.0f);
    if (columns == 0 || !(width > 0)) return coverage;
    const double columnWidth = width / static_cast<double>(columns);
    // The visible extents in column units; the union is their merge, so an overlap counts once.
    std::vector<std::pair<double, double>> spans;
    spans.reserve(pauses.size());
    for (const CutRegion& pause : pauses) {
        if (!pause.remove) continue;
        if (const auto drawn = extent(pause.start, pause.end, window, width))
            spans.emplace_back(drawn->x0 / columnWidth, drawn->x1 / columnWidth);
    }
    // Analyses write their pauses in order; only edited lists need the sort.
    if (!std::is_sorted(spans.begin(), spans.end())) std::sort(spans.begin(), spans.end());
    const double last = static_cast<double>(columns);
    auto cover = [&](double from, double to) {
        from = std::clamp(from, 0.0, last);
        to = std::clamp(to, 0.0, last);
        if (!(from < to)) return;
        const auto first = static_cast<std::size_t>(from);
        const auto final = std::min(static_cast<std::size_t>(to), columns - 1);
        if (first == final) {
            coverage[first] += static_cast<float>(to - from);
            return;
        }
        coverage[first] += static_cast<float>(static_cast<double>(first + 1) - from);
        for (std::size_t column = first + 1; column < final; ++column) coverage[column] = 1.0f;
        coverage[final] += static_cast<float>(to - static_cast<double>(final));
    };
    std::optional<std::pair<double, double>> open;
    for (const auto& span : spans) {
        if (open && span.first <= open->second) {
            open->second = std::max(open->second, span.second);
            continue;
        }
        if (open) cover(open->first, open->second);
        open = span;
    }
    if (open) cover(open->first, open->second);
    for (float& value : coverage) value = std::min(value, 1.0f);
    return coverage;
}

PeakSource peakSource(const std::vector<double>& overview, double duration,
                      const std::optional<WaveformSlice>& detail, const WaveformWindow& window) {
    if (detail && detail->window == window)
        return {&detail->peaks, detail->window.start, detail->window.end, true};
    return {&overview, 0, duration, false};
}

double binWidth(std::size_t count, double start, double end, const WaveformWindow& window, double width) {
    const double bins = static_cast<double>(std::max<std::size_t>(count, 1));
    return width * (end - start) / (bins * drawnSpan(window));
}

std::vector<OutlinePoint> outline(const std::vector<double>& peaks, double start, double end,
                                  const WaveformWindow& window, double width, double laneHeight) {
    std::vector<OutlinePoint> points;
    if (peaks.empty()) return points;
    const double bin = (end - start) / static_cast<double>(peaks.size());
    const double margin = binWidth(peaks.size(), start, end, window, width);
    const double reach = (laneHeight - kPeakMargin) * kPeakScale;
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        const double at = x(start + bin * (static_cast<double>(i) + 0.5), window, width);
        if (!(-margin <= at && at <= width + margin)) continue;
        const double peak = std::isfinite(peaks[i]) ? peaks[i] : 0.0;
        points.push_back({at, std::max(reach * peak, kSmallestHalfHeight)});
    }
    return points;
}

double gripCentreX(double seconds, const WaveformWindow& window, double width) {
    return std::min(std::max(x(seconds, window, width), kGripInset), width - kGripInset);
}

std::vector<GripPlacement> grips(bool canAdjust, const std::vector<CutRegion>& drawn,
                                 const std::optional<Uuid>& reviewed, const WaveformWindow& window,
                                 double width, double height) {
    std::vector<GripPlacement> placed;
    if (!canAdjust || !reviewed) return placed;
    const auto found = std::find_if(drawn.begin(), drawn.end(),
                                    [&](const CutRegion& region) { return region.id == *reviewed; });
    if (found == drawn.end() || !(found->end - found->start > CutAdjustmentState::kMinimumLength))
        return placed;
    for (const CutBoundary edge : kAllCutBoundaries) {
        const double seconds = edge == CutBoundary::start ? found->start : found->end;
        if (!(window.start <= seconds && seconds <= window.end)) continue;
        placed.push_back({edge, *found, gripCentreX(seconds, window, width), height * kGripHeightFraction});
    }
    return placed;
}

}  // namespace talvian::WaveformGeometry
