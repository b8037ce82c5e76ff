// Dragging and nudging the edges of the reviewed pause on the zoomed waveform. The edit
// itself goes through adjustCut: one undo step per finished drag or per nudge.

#include <algorithm>

#include "Model/Localization.h"
#include "Support/NumberText.h"
#include "WorkspaceInternals.h"

namespace talvian {

namespace {

// Boundaries are adjusted only in a zoomed window (60 s and rounding).
constexpr double kLongestAdjustableWindow = 60.00000001;
constexpr double kFineNudgeSeconds = 0.01;
constexpr double kCoarseNudgeSeconds = 0.1;

const CutRegion* findRegion(const std::vector<CutRegion>& cuts, const Uuid& id) {
    const auto found =
        std::find_if(cuts.begin(), cuts.end(), [&id](const CutRegion& r) { return r.id == id; });
    return found == cuts.end() ? nullptr : &*found;
}

}  // namespace

void Workspace::setBoundaryDrag(std::optional<WaveformBoundaryDrag> value) {
    const Operation operation(*this);
    d_->set(&WaveformState::boundaryDrag, std::move(value));
}

bool Workspace::Internals::canAdjustWaveformBoundary() const {
    return !job().busy && !needsAnalysis() &&
           owner.visibleWaveformWindow().length() <= kLongestAdjustableWindow &&
           owner.reviewCut().has_value();
}

void Workspace::beginWaveformBoundary(const Uuid& id, CutBoundary edge) {
    const Operation operation(*this);
    if (waveform().boundaryDrag || !d_->canAdjustWaveformBoundary() || !document().project) return;
    const CutRegion* region = findRegion(document().project->cuts, id);
    if (!region || review().reviewID != id ||
        !(region->end - region->start > CutAdjustmentState::kMinimumLength))
        return;
    const CutRegion original = *region;
    stopAudition(true);
    d_->pausePlayer();
    setBoundaryDrag(WaveformBoundaryDrag{original, document().project->cuts, document().project->source,
                                         visibleWaveformWindow(), document().project->info.duration, edge,
                                         original});
}

void Workspace::updateWaveformBoundary(double translationFraction) {
    const Operation operation(*this);
    if (!waveform().boundaryDrag) return;
    const WaveformBoundaryDrag& drag = *waveform().boundaryDrag;
    if (job().busy || d_->needsAnalysis() || !document().project ||
        document().project->source != drag.source || document().project->info.duration != drag.duration ||
        document().project->cuts != drag.cutsBefore) {
        setBoundaryDrag(std::nullopt);
        return;
    }
    WaveformBoundaryDrag moved = drag;
    moved.update(translationFraction);
    setBoundaryDrag(std::move(moved));
}

void Workspace::finishWaveformBoundary() {
    const Operation operation(*this);
    if (!waveform().boundaryDrag) return;
    const WaveformBoundaryDrag drag = *waveform().boundaryDrag;
    setBoundaryDrag(std::nullopt);
    if (job().busy || d_->needsAnalysis() || !document().project ||
        document().project->source != drag.source || document().project->info.duration != drag.duration ||
        document().project->cuts != drag.cutsBefore)
        return;
    if (drag.proposed == drag.original) return;
    adjustCut(drag.original.id, drag.proposed.start, drag.proposed.end);
}

bool Workspace::nudgeWaveformBoundary(const Uuid& id, CutBoundary edge, int direction, bool coarse) {
    const Operation operation(*this);
    if (waveform().boundaryDrag || !d_->canAdjustWaveformBoundary() || (direction != 1 && direction != -1) ||
        review().reviewID != id || !document().project)
        return false;
    const CutRegion* region = findRegion(document().project->cuts, id);
    if (!region || !(region->end - region->start > CutAdjustmentState::kMinimumLength)) return false;
    const WaveformWindow window = visibleWaveformWindow();
    WaveformBoundaryDrag drag{*region, document().project->cuts,          document().project->source,
                              window,  document().project->info.duration, edge,
                              *region};
    const double step = coarse ? kCoarseNudgeSeconds : kFineNudgeSeconds;
    drag.update(step * direction / window.length());
    if (drag.proposed == drag.original) return false;
    stopAudition(true);
    d_->pausePlayer();
    // A refused edit (a text field keeps the focus, bounds the edit rules reject) is not
    // reported as a nudge: the status keeps saying what really happened.
    if (!adjustCut(id, drag.proposed.start, drag.proposed.end)) return false;
    const double moved = edge == CutBoundary::start ? drag.proposed.start : drag.proposed.end;
    d_->setCutStatus(L("已将%@微调至 %@ 秒，可用Ctrl+Z撤销。",
                       edge == CutBoundary::start ? L("起点") : L("终点"), fixedDecimal(moved, 4)));
    return true;
}

}  // namespace talvian
