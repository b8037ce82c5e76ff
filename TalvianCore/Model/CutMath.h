#pragma once
// Arithmetic on cut lists, which every consumer of a project goes through, and the undo
// history of whole cut lists. All functions are pure and may run on any thread.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "CoreTypes.h"

namespace talvian {

namespace CutMath {

// Removed ranges separated by at most this gap are one range; kept gaps this short are dropped.
inline constexpr double kJoinTolerance = 0.001;
// A pause starting this close to 0, or ending this close to the end, touches that end.
inline constexpr double kEdgeTolerance = 0.01;
// The shortest pause that parseSilences reports (seconds).
inline constexpr double kShortestPause = 0.08;

// Sorted, disjoint removed ranges inside 0 … durationSeconds (`remove` flags ignored,
// non-finite and empty regions dropped, ranges closer than kJoinTolerance joined). Fresh UUIDs.
std::vector<CutRegion> merged(const std::vector<CutRegion>& regions, double durationSeconds);
// The total length (seconds) of merged() over the `remove` regions only; draws no UUIDs.
double removedSeconds(const std::vector<CutRegion>& regions, double durationSeconds);

// The complement of the merged removed regions (`remove` true only): the kept ranges in source
// order, `remove` false, fresh UUIDs; empty when everything is removed.
std::vector<CutRegion> kept(const std::vector<CutRegion>& regions, double durationSeconds);

// Pause regions (`remove` true, sorted, disjoint, fresh UUIDs) from the standard-error text of an
// ffmpeg silencedetect run: events paired, merged, padded by `padding` before and `paddingRight`
// (else `padding`) after, except at the ends of the media; pauses shorter than kShortestPause dropped.
std::vector<CutRegion> parseSilences(std::string_view text, double durationSeconds, double padding,
                                     std::optional<double> paddingRight);

}  // namespace CutMath

// Undo and redo of whole cut lists; a value owned by the controller (main thread).
class CutHistory {
  public:
    // Together `past` and `future` never hold more lists than this.
    static constexpr std::size_t kLimit = 50;

    bool canUndo() const { return !past_.empty(); }
    bool canRedo() const { return !future_.empty(); }
    // Records one edit: nothing when the lists are equal; otherwise pushes `before` (dropping the
    // oldest beyond kLimit) and clears the redo list.
    void record(const std::vector<CutRegion>& before, const std::vector<CutRegion>& after);
    // The list to restore (and `current` goes to the redo list), or absent when there is none.
    std::optional<std::vector<CutRegion>> undo(const std::vector<CutRegion>& current);
    // The list to restore (and `current` goes to the undo list), or absent when there is none.
    std::optional<std::vector<CutRegion>> redo(const std::vector<CutRegion>& current);

    bool operator==(const CutHistory&) const = default;

  private:
    std::vector<std::vector<CutRegion>> past_;
    std::vector<std::vector<CutRegion>> future_;
};

}  // namespace talvian
