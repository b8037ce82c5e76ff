#pragma once
// The rules for the edges of a cut region, shared by boundary dragging, typed
// adjustments, manual ranges and cut editing. Pure; any thread.

#include <optional>
#include <string_view>

namespace talvian {

// The two edges of a region, in this order.
enum class CutBoundary { start, end };
inline constexpr CutBoundary kAllCutBoundaries[] = {CutBoundary::start, CutBoundary::end};

namespace CutAdjustmentState {

// Shortest region an edit may leave, seconds (a length of exactly this is refused).
inline constexpr double kMinimumLength = 0.08;

// The value a typed field stands for: the text "%.4f" of `original` means the untouched
// original itself (full precision kept); otherwise the whole text as a decimal literal.
std::optional<double> resolved(std::string_view text, double original);

// Finite bounds, 0 ≤ start, end ≤ duration (both inclusive), end − start > 0.08 s.
bool valid(double start, double end, double duration);

}  // namespace CutAdjustmentState

}  // namespace talvian
