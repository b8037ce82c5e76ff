// Cut editing: every change of the cut list goes through applyCuts, one undo step each.

#include <algorithm>

#include "Model/Localization.h"
#include "Workspace.h"

namespace talvian {

bool Workspace::applyCuts(std::vector<CutRegion> list) {
    if (cutBusy_ || needsAnalysis() || !project_ || list == project_->cuts) return false;
    if (window_ && !window_->endTextEditing()) return false;
    publish(boundaryDrag_, std::optional<WaveformBoundaryDrag>());
    stopAudition(true);
    optionPast_.clear();
    optionFuture_.clear();
    // The history is changed in place: copying 50 whole cut lists per edit is too slow.
    cutHistory_.record(project_->cuts, list);
    emit changed();
    CutProject edited = *project_;
    edited.cuts = std::move(list);
    setProject(std::move(edited));
    reconcileReview();
    publish(cutOutput_, std::optional<std::filesystem::path>());
    setCutStatus(L("剪辑已调整，可撤销或继续试听。"));
    return true;
}

void Workspace::toggleCut(const Uuid& id) {
    if (cutBusy_ || needsAnalysis() || !project_) return;
    auto list = project_->cuts;
    const auto region =
        std::find_if(list.begin(), list.end(), [&id](const CutRegion& r) { return r.id == id; });
    if (region == list.end()) return;
    setReviewID(id);
    region->remove = !region->remove;
    applyCuts(std::move(list));
}

void Workspace::toggleReviewCut() {
    if (cutBusy_ || needsAnalysis()) return;
    if (auto current = reviewCut()) toggleCut(current->id);
}

void Workspace::toggleSelectedCuts() {
    if (!canApplyBatch()) {
        toggleReviewCut();
        return;
    }
    bool allRemoved = true;
    for (const auto& region : project_->cuts)
        if (batchIDs_.contains(region.id) && !region.remove) allRemoved = false;
    applyBatch(!allRemoved);
}

void Workspace::setAllCuts(bool remove) {
    if (!project_) return;
    auto list = project_->cuts;
    for (auto& region : list) region.remove = remove;
    applyCuts(std::move(list));
}

bool Workspace::applyBatch(bool remove) {
    if (!canApplyBatch() || !project_) return false;
    auto list = project_->cuts;
    long long count = 0;
    for (auto& region : list) {
        if (batchIDs_.contains(region.id) && region.remove != remove) {
            region.remove = remove;
            ++count;
        }
    }
    if (count == 0) return false;
    pausePlayer();
    // A text field that keeps the focus refuses the edit: nothing is reported as done.
    if (!applyCuts(std::move(list))) return false;
    setCutStatus(L("已将所选中的 %@ 段设为%@，可一次撤销。", count, remove ? L("删除") : L("保留")));
    return true;
}

bool Workspace::adjustCut(const Uuid& id, double start, double end) {
    if (cutBusy_ || needsAnalysis() || !project_) return false;
    if (!CutAdjustmentState::valid(start, end, project_->info.duration)) return false;
    auto list = project_->cuts;
    const auto region =
        std::find_if(list.begin(), list.end(), [&id](const CutRegion& r) { return r.id == id; });
    if (region == list.end()) return false;
    region->start = start;
    region->end = end;
    setReviewID(id);
    std::stable_sort(list.begin(), list.end(),
                     [](const CutRegion& a, const CutRegion& b) { return a.start < b.start; });
    return applyCuts(std::move(list));
}

void Workspace::undoInContext() {
    if (window_ && window_->undoTextEditing()) return;
    if (canUndoOptions()) {
        stepOptionHistory(true);
        return;
    }
    undoCut();
}

void Workspace::redoInContext() {
    if (window_ && window_->redoTextEditing()) return;
    if (canRedoOptions()) {
        stepOptionHistory(false);
        return;
    }
    redoCut();
}

bool Workspace::canUndoCut() const {
    return !cutBusy_ && !needsAnalysis() && cutHistory_.canUndo();
}
bool Workspace::canRedoCut() const {
    return !cutBusy_ && !needsAnalysis() && cutHistory_.canRedo();
}

void Workspace::undoCut() { stepCutHistory(true); }

void Workspace::redoCut() { stepCutHistory(false); }

void Workspace::stepCutHistory(bool undo) {
    publish(boundaryDrag_, std::optional<WaveformBoundaryDrag>());
    if (!(undo ? canUndoCut() : canRedoCut()) || !project_) return;
    auto restored = undo ? cutHistory_.undo(project_->cuts) : cutHistory_.redo(project_->cuts);
    if (!restored) return;
    emit changed();
    optionPast_.clear();
    optionFuture_.clear();
    stopAudition(true);
    CutProject edited = *project_;
    edited.cuts = std::move(*restored);
    setProject(std::move(edited));
    reconcileReview();
    publish(cutOutput_, std::optional<std::filesystem::path>());
    setCutStatus(undo ? L("已撤销上一步剪辑。") : L("已重做剪辑。"));
}

}  // namespace talvian
