#pragma once
// Where the review waveform puts things: times to x positions, the lane, the peaks that are
// drawn, the clicked fraction, the removed-pause coverage and the boundary grips. All lengths are
// logical pixels, all times source seconds. Pure; any thread.

#include <cstddef>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "Model/CoreTypes.h"
#include "Model/CutAdjustment.h"
#include "Model/WaveformBoundaryDrag.h"
#include "Model/WaveformSlice.h"
#include "Model/WaveformWindow.h"

namespace talvian::WaveformGeometry {

// ---- Constants of the layout
// A window shorter than this is drawn as if it lasted this long (seconds).
inline constexpr double kShortestDrawnSpan = 0.01;
// The lane runs from this y down to kLaneBottomMargin above the bottom.
inline constexpr double kLaneTop = 30;
inline constexpr double kLaneBottomMargin = 8;
// The peaks leave this much of the lane free and fill at most this share of each half.
inline constexpr double kPeakMargin = 12;
inline constexpr double kPeakScale = 0.48;
inline constexpr double kSmallestHalfHeight = 1;
// Pauses are tinted only while the window is at most this long (seconds).
inline constexpr double kLongestTintedSpan = 60;
// The ruler: six labels at every fifth of the width, ticks under them.
inline constexpr int kRulerMarks = 6;
inline constexpr double kTickTop = 21;
inline constexpr double kTickHeight = 7;
// The audition bar sits just above the lane.
inline constexpr double kAuditionBarTop = 28;
inline constexpr double kAuditionBarHeight = 2;
// The playback cursor starts under the ruler's labels.
inline constexpr double kCursorTop = 16;
// A press that moves this far (or farther) is a drag selection, not a click.
inline constexpr double kSelectionDragDistance = 5;
// A grip's centre stays this far inside either side; its height on the view.
inline constexpr double kGripInset = 16;
inline constexpr double kGripHeightFraction = 0.55;
// A press on a grip that moves this far (or farther) drags the edge instead of clicking.
inline constexpr double kGripDragDistance = 3;

// ---- Time and place
// S: the drawn span of the window, at least kShortestDrawnSpan.
double drawnSpan(const WaveformWindow& window);
// x of a source time in a view `width` wide: width × (seconds − start) / S. Unclamped.
double x(double seconds, const WaveformWindow& window, double width);

struct Lane {
    double top = kLaneTop;
    double height = 0;  // max(H − 30 − 8, 0)
    double middle = kLaneTop;
    bool operator==(const Lane&) const = default;
};
Lane lane(double height);

// The drawn x extent of a time range: [max(x(start), 0), min(x(end), width)].
struct Extent {
    double x0 = 0;
    double x1 = 0;
    bool operator==(const Extent&) const = default;
};
// None when the range leaves nothing visible (x0 ≥ x1, or a value is not a number).
std::optional<Extent> extent(double start, double end, const WaveformWindow& window, double width);

// The fraction 0…1 of the width at x: x / max(width − 1, 1), so the last pixel column reaches 1;
// clamped, and a value that is not a number gives 0.
double fraction(double x, double width);
// The source time at a fraction of the window: start + fraction × (end − start).
double time(double fraction, const WaveformWindow& window);
// True when a pointer moved from its press by at least `distance` (Euclidean).
bool movedAtLeast(double dx, double dy, double distance);

// The x of the playback cursor, none while the position is outside the window; held to
// [0, width − 1] so the cursor is visible at the window's end.
std::optional<double> cursorX(double position, const WaveformWindow& window, double width);

// ---- Pauses as drawn
// The project's cuts in their order, the one being dragged replaced by its proposed region.
std::vector<CutRegion> drawnPauses(const std::vector<CutRegion>& cuts,
                                   const std::optional<WaveformBoundaryDrag>& drag);
// Which drawn pauses get the faint selection tint: the reviewed one and the batch-selected
// ones, none at all when the window is longer than kLongestTintedSpan.
bool tinted(const CutRegion& pause, const std::optional<Uuid>& reviewed, const std::set<Uuid>& batch,
            const WaveformWindow& window);

// How much of each pixel column the union of the removed pauses covers, 0…1, for `columns`
// columns across the view (device pixels: width × device pixel ratio). Overlapping pauses count
// once; a pause narrower than a column covers its share of it.
std::vector<float> removedCoverage(const std::vector<CutRegion>& pauses, const WaveformWindow& window,
                                   double width, std::size_t columns);

// ---- Peaks
// The peaks that are drawn and the source range they cover.
struct PeakSource {
    const std::vector<double>* peaks = nullptr;
    double start = 0;
    double end = 0;
    bool detail = false;
};
// The detail peaks when their window is exactly the visible one, else the overview over
// [0, duration]: a detail of another window (a zoom that has not reloaded yet) is never
// stretched over this one.
PeakSource peakSource(const std::vector<double>& overview, double duration,
                      const std::optional<WaveformSlice>& detail, const WaveformWindow& window);

// The width of one peak's bin in view pixels: width × (end − start) / (n × S), n at least 1.
double binWidth(std::size_t count, double start, double end, const WaveformWindow& window, double width);

struct OutlinePoint {
    double x = 0;
    double halfHeight = 0;
    bool operator==(const OutlinePoint&) const = default;
};
// The points of the waveform outline: peak i at the middle of its bin, kept when it lies within
// one bin width of the view (so the outline always reaches both sides, also for coarse overview
// peaks in a zoomed window); half-height max((laneHeight − 12) × peak × 0.48, 1).
std::vector<OutlinePoint> outline(const std::vector<double>& peaks, double start, double end,
                                  const WaveformWindow& window, double width, double laneHeight);

// ---- Boundary grips
struct GripPlacement {
    CutBoundary edge = CutBoundary::start;
    CutRegion pause;     // the pause as drawn
    double centreX = 0;  // held kGripInset inside either side
    double centreY = 0;
    bool operator==(const GripPlacement&) const = default;
};
// The centre x of a grip for an edge at `seconds`: min(max(x, 16), width − 16).
double gripCentreX(double seconds, const WaveformWindow& window, double width);
// The grips shown, start before end: none unless adjusting is allowed and the reviewed pause,
// as drawn, is longer than 0.08 s; one per edge whose time lies within the window (ends
// included).
std::vector<GripPlacement> grips(bool canAdjust, const std::vector<CutRegion>& drawn,
                                 const std::optional<Uuid>& reviewed, const WaveformWindow& window,
                                 double width, double height);

}  // namespace talvian::WaveformGeometry
