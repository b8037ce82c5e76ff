#include "Export/AuditionPlan.h"

#include <algorithm>
#include <cmath>

#include "Model/CutMath.h"
#include "Model/Localization.h"

namespace talvian {
namespace {

// A kept stretch must be longer than this to be played in a one-cut audition; shorter
// slivers would be inaudible clicks.
constexpr double kMinimumPieceSeconds = 0.001;
// A cut may end this far past the probed duration (container rounding).
constexpr double kEndSlackSeconds = 0.01;

double sanitized(double seconds) {
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

}  // namespace

AuditionPlan AuditionPlan::forCut(const CutRegion& cut, const std::vector<CutRegion>& cuts,
                                  double durationSeconds, AuditionMode mode, double contextSeconds) {
    const bool valid = std::isfinite(durationSeconds) && durationSeconds > 0 &&
                       std::isfinite(contextSeconds) && contextSeconds >= 0 && std::isfinite(cut.start) &&
                       std::isfinite(cut.end) && cut.start >= 0 && cut.start < cut.end &&
                       cut.end <= durationSeconds + kEndSlackSeconds;
    if (!valid) throw MediaError(L("试听区间无效，请重新选择切点。"));

    AuditionPlan plan;
    plan.mode = mode;
    plan.sourceStart = std::max(cut.start - contextSeconds, 0.0);
    plan.sourceEnd = std::min(cut.end + contextSeconds, durationSeconds);
    const std::vector<CutRegion> material =
        mode == AuditionMode::edited ? CutMath::kept(cuts, durationSeconds)
                                     : std::vector<CutRegion>{CutRegion(0, durationSeconds, false)};
    for (const auto& region : material) {
        double start = std::max(region.start, plan.sourceStart);
        double end = std::min(region.end, plan.sourceEnd);
        if (end - start > kMinimumPieceSeconds) plan.segments.emplace_back(start, end, false);
    }
    if (plan.segments.empty()) throw MediaError(L("这段试听范围内没有保留内容。请先恢复区间，或听原音。"));
    return plan;
}

AuditionPlan AuditionPlan::forFullEdit(const std::vector<CutRegion>& cuts, double durationSeconds) {
    if (!std::isfinite(durationSeconds) || !(durationSeconds > 0)) throw MediaError(L("素材时长无效。"));
    AuditionPlan plan;
    plan.mode = AuditionMode::edited;
    plan.sourceStart = 0;
    plan.sourceEnd = durationSeconds;
    plan.segments = CutMath::kept(cuts, durationSeconds);
    if (plan.segments.empty()) throw MediaError(L("没有保留内容可供预览。"));
    return plan;
}

double AuditionPlan::duration() const {
    double total = 0;
    for (const auto& segment : segments) total += segment.duration();
    return total;
}

double AuditionPlan::sourceTime(double playbackSeconds) const {
    if (segments.empty()) return sourceStart;
    double t = sanitized(playbackSeconds);
    for (const auto& segment : segments) {
        double length = segment.duration();
        if (t < length) return segment.start + t;
        t -= length;
    }
    return segments.back().end;
}

double AuditionPlan::playbackTime(double sourceSeconds) const {
    if (segments.empty()) return 0;
    double s = sanitized(sourceSeconds);
    double sum = 0;
    for (const auto& segment : segments) {
        if (s < segment.start) return sum;
        if (s < segment.end) return sum + s - segment.start;
        sum += segment.duration();
    }
    return sum;
}

}  // namespace talvian
