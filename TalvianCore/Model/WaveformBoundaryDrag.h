#pragma once
// One live drag of an edge of the reviewed pause on the zoomed waveform, with the project
// state it belongs to. Pure value; any thread.

#include <string>
#include <vector>

#include "Model/CoreTypes.h"
#include "Model/CutAdjustment.h"
#include "Model/WaveformWindow.h"

namespace talvian {

struct WaveformBoundaryDrag {
    // The length a drag leaves at least, seconds: a little above the 0.08 s that an edit
    // refuses, so that a drag to the limit is still accepted. A shorter region keeps its own.
    static constexpr double kMinimumKeptLength = 0.081;

    CutRegion original;                 // the region when the drag began
    std::vector<CutRegion> cutsBefore;  // the project's cut list when the drag began
    std::string source;                 // the project's source path when the drag began
    WaveformWindow window;              // the visible window when the drag began
    double duration = 0;                // the project's duration when the drag began, seconds
    CutBoundary edge = CutBoundary::start;
    CutRegion proposed;  // the region as it would be now

    // Moves the dragged edge of `proposed` to the original edge plus `fraction` × the window's
    // length, clamped to the window, to the file and to the minimum kept length. Every call
    // starts again from `original`. A non-finite fraction changes nothing.
    void update(double translationFraction);

    bool operator==(const WaveformBoundaryDrag&) const = default;
};

}  // namespace talvian
