#include "WaveformBoundaryDrag.h"

#include <algorithm>
#include <cmath>

namespace talvian {

void WaveformBoundaryDrag::update(double translationFraction) {
    if (!std::isfinite(translationFraction)) return;
    const double edgeValue = edge == CutBoundary::start ? original.start : original.end;
    double x = edgeValue + translationFraction * (window.end - window.start);
    // The handle cannot leave the visible window.
    x = std::min(std::max(x, window.start), window.end);
    const double kept = std::min(std::max(original.end - original.start, 0.0), kMinimumKeptLength);
    proposed = original;
    if (edge == CutBoundary::start)
        proposed.start = std::min(std::max(x, 0.0), original.end - kept);
    else
        proposed.end = std::max(std::min(x, duration), original.start + kept);
}

}  // namespace talvian
