#pragma once
// The visible stretch of the review waveform and the rule that decides which pause a time
// on the waveform hits. Pure values; any thread.

#include <optional>
#include <vector>

#include "Model/CoreTypes.h"

namespace talvian {

// The visible source range of the waveform, seconds. Every window the controller stores
// comes from centered(), so 0 ≤ start < end ≤ total, at least 2 s unless the file is shorter.
struct WaveformWindow {
    // Shortest window, seconds (unless the whole file is shorter).
    static constexpr double kMinimumSpan = 2.0;

    double start = 0;
    double end = 0;

    double length() const { return end - start; }

    // The window of `span` seconds centred on `time`, the span clamped to [2, total] (the whole
    // file when it is shorter than 2 s) and the window pinned to 0 and `total` at the file's
    // ends. Absent when a value is not finite, span ≤ 0 or total ≤ 0.
    static std::optional<WaveformWindow> centered(double time, double span, double total);
    // The source time at a horizontal position (0 at start, 1 at end, clamped to that range).
    // Absent for a non-finite fraction or an empty or non-finite window.
    std::optional<double> time(double fraction) const;

    bool operator==(const WaveformWindow&) const = default;
};

namespace WaveformSelection {

// The pause hit by a source time: the regions with start ≤ time < end (a region ending at
// the file's end also hits at time == duration); `current` wins when it is one of them, else
// the shortest, earlier in `cuts` among equals. Kept and removed regions alike. Absent when
// nothing is hit or the time lies outside 0 … duration.
std::optional<Uuid> target(double time, double duration, const std::vector<CutRegion>& cuts,
                           const std::optional<Uuid>& current);

}  // namespace WaveformSelection

}  // namespace talvian
