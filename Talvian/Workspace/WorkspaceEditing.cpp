// Cut editing: every change of the cut list goes through applyCuts, one undo step each.

#include <algorithm>

#include "Model/Localization.h"
#include "WorkspaceInternals.h"

namespace talvian {

bool Workspace::Internals::applyCuts(std::vector<CutRegion> list) {
    if (job().busy || needsAnalysis() || !document().project || list == document().project->cuts)
        return false;
    if (window_ && !window_->endTextEditing()) return false;
    set(&WaveformState::boundaryDrag, std::nullopt);
    owner.stopAudition(true);
    clearOptionHistory();
    // The history is changed in place: copying 50 whole cut lists per edit is too slow.
    cutHistory_.record(document().project->cuts, list);
    bumpCutHistory();
    CutProject edited = *document().project;
    edited.cuts = std::move(list);
    setProject(std::move(edited));
    reconcileReview();
    setCutOutput(std::nullopt);
    setCutStatus(L("剪辑已调整，可撤销或继续试听。"));
    return true;
}

void Workspace::toggleCut(const Uuid& id) {
    const Operation operation(*this);
    if (job().busy || d_->needsAnalysis() || !document().project) return;
    auto list = document().project->cuts;
    const auto region =
        std::find_if(list.begin(), list.end(), [&id](const CutRegion& r) { return r.id == id; });
    if (region == list.end()) return;
    d_->setReviewID(id);
    region->remove = !region->remove;
    d_->applyCuts(std::move(list));
}

void Workspace::toggleReviewCut() {
    const Operation operation(*this);
    if (job().busy || d_->needsAnalysis()) return;
    if (auto current = reviewCut()) toggleCut(current->id);
}

void Workspace::toggleSelectedCuts() {
    const Operation operation(*this);
    if (!d_->canApplyBatch()) {
        toggleReviewCut();
        return;
    }
    bool allRemoved = true;
    for (const auto& region : document().project->cuts)
        if (review().batchIDs.contains(region.id) && !region.remove) allRemoved = false;
    applyBatch(!allRemoved);
}

void Workspace::setAllCuts(bool remove) {
    const Operation operation(*this);
    if (!document().project) return;
    auto list = document().project->cuts;
    for (auto& region : list) region.remove = remove;
    d_->applyCuts(std::move(list));
}

bool Workspace::applyBatch(bool remove) {
    const Operation operation(*this);
    if (!d_->canApplyBatch() || !document().project) return false;
    auto list = document().project->cuts;
    long long count = 0;
    for (auto& region : list) {
        if (review().batchIDs.contains(region.id) && region.remove != remove) {
            region.remove = remove;
            ++count;
        }
    }
    if (count == 0) return false;
    d_->pausePlayer();
    // A text field that keeps the focus refuses the edit: nothing is reported as done.
    if (!d_->applyCuts(std::move(list))) return false;
    d_->setCutStatus(L("已将所选中的 %@ 段设为%@，可一次撤销。", count, remove ? L("删除") : L("保留")));
    return true;
}

bool Workspace::adjustCut(const Uuid& id, double start, double end) {
    const Operation operation(*this);
    if (job().busy || d_->needsAnalysis() || !document().project) return false;
    if (!CutAdjustmentState::valid(start, end, document().project->info.duration)) return false;
    auto list = document().project->cuts;
    const auto region =
        std::find_if(list.begin(), list.end(), [&id](const CutRegion& r) { return r.id == id; });
    if (region == list.end()) return false;
    region->start = start;
    region->end = end;
    d_->setReviewID(id);
    std::stable_sort(list.begin(), list.end(),
                     [](const CutRegion& a, const CutRegion& b) { return a.start < b.start; });
    return d_->applyCuts(std::move(list));
}

void Workspace::undoInContext() {
    const Operation operation(*this);
    if (d_->window_ && d_->window_->undoTextEditing()) return;
    if (d_->canUndoOptions()) {
        d_->stepOptionHistory(true);
        return;
    }
    undoCut();
}

void Workspace::redoInContext() {
    const Operation operation(*this);
    if (d_->window_ && d_->window_->redoTextEditing()) return;
    if (d_->canRedoOptions()) {
        d_->stepOptionHistory(false);
        return;
    }
    redoCut();
}

bool Workspace::Internals::canUndoCut() const {
    return !job().busy && !needsAnalysis() && cutHistory_.canUndo();
}
bool Workspace::Internals::canRedoCut() const {
    return !job().busy && !needsAnalysis() && cutHistory_.canRedo();
}

void Workspace::undoCut() {
    const Operation operation(*this);
    d_->stepCutHistory(true);
}

void Workspace::redoCut() {
    const Operation operation(*this);
    d_->stepCutHistory(false);
}

void Workspace::Internals::stepCutHistory(bool undo) {
    set(&WaveformState::boundaryDrag, std::nullopt);
    if (!(undo ? canUndoCut() : canRedoCut()) || !document().project) return;
    auto restored =
        undo ? cutHistory_.undo(document().project->cuts) : cutHistory_.redo(document().project->cuts);
    if (!restored) return;
    bumpCutHistory();
    clearOptionHistory();
    owner.stopAudition(true);
    CutProject edited = *document().project;
    edited.cuts = std::move(*restored);
    setProject(std::move(edited));
    reconcileReview();
    setCutOutput(std::nullopt);
    setCutStatus(undo ? L("已撤销上一步剪辑。") : L("已重做剪辑。"));
}

}  // namespace talvian
