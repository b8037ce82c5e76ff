// Review order, navigation and batch selection.

#include <algorithm>

#include "Workspace.h"

namespace talvian {

namespace {

// Longest first; ties by start, end, then the UUID text so that the order is total.
bool longerFirst(const CutRegion& a, const CutRegion& b) {
    const double lengthA = std::max(0.0, a.end - a.start);
    const double lengthB = std::max(0.0, b.end - b.start);
    if (lengthA != lengthB) return lengthA > lengthB;
    if (a.start != b.start) return a.start < b.start;
    if (a.end != b.end) return a.end < b.end;
    return a.id.string() < b.id.string();
}

constexpr std::size_t kRewindSteps = 3;

}  // namespace

std::vector<CutRegion> Workspace::reviewCuts() const {
    if (!project_) return {};
    auto list = project_->cuts;
    if (reviewOrder_ == ReviewOrder::longestFirst) std::stable_sort(list.begin(), list.end(), longerFirst);
    return list;
}

std::optional<std::size_t> Workspace::reviewIndex() const {
    if (!reviewID_) return std::nullopt;
    const auto list = reviewCuts();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].id == *reviewID_) return i;
    return std::nullopt;
}

std::optional<CutRegion> Workspace::reviewCut() const {
    if (!reviewID_ || !project_) return std::nullopt;
    for (const auto& region : project_->cuts)
        if (region.id == *reviewID_) return region;
    return std::nullopt;
}

bool Workspace::canReview() const {
    return !cutBusy_ && !needsAnalysis() && previewReady_ && project_ && !project_->cuts.empty();
}

bool Workspace::canReviewNext() const {
    if (!canReview()) return false;
    const auto index = reviewIndex();
    return (index ? *index + 1 : 0) < project_->cuts.size();
}

bool Workspace::canSelectBatch() const {
    return !cutBusy_ && !needsAnalysis() && !boundaryDrag_ && project_ && !project_->cuts.empty();
}

bool Workspace::canApplyBatch() const {
    return batchMode_ && canSelectBatch() && !batchIDs_.empty();
}

bool Workspace::canKeepBatch() const {
    return canApplyBatch() &&
           std::any_of(project_->cuts.begin(), project_->cuts.end(),
                       [this](const CutRegion& r) { return batchIDs_.contains(r.id) && r.remove; });
}

bool Workspace::canDeleteBatch() const {
    return canApplyBatch() &&
           std::any_of(project_->cuts.begin(), project_->cuts.end(),
                       [this](const CutRegion& r) { return batchIDs_.contains(r.id) && !r.remove; });
}

void Workspace::setReviewOrder(ReviewOrder order) {
    if (cutBusy_ || needsAnalysis() || order == reviewOrder_) return;
    stopAudition(true);
    publish(reviewOrder_, order);
    reconcileReview();
}

void Workspace::moveReview(int step) {
    if (!canReview() || (step != 1 && step != -1)) return;
    const auto index = reviewIndex();
    const long long target = (index ? static_cast<long long>(*index) : -1) + step;
    const auto list = reviewCuts();
    if (target < 0 || target >= static_cast<long long>(list.size())) return;
    audition(list[static_cast<std::size_t>(target)].id, AuditionMode::original);
}

void Workspace::rewindReview() {
    const auto list = reviewCuts();
    if (!canReview() || list.empty()) return;
    const auto index = reviewIndex();
    const std::size_t target = index && *index >= kRewindSteps ? *index - kRewindSteps : 0;
    audition(list[target].id, AuditionMode::original);
}

void Workspace::reconcileReview() {
    if (!reviewIndex() && reviewID_) setReviewID(std::nullopt);
    std::set<Uuid> kept;
    if (project_)
        for (const auto& region : project_->cuts)
            if (batchIDs_.contains(region.id)) kept.insert(region.id);
    if (kept != batchIDs_) publish(batchIDs_, std::move(kept));
    if (batchAnchor_ && !batchIDs_.contains(*batchAnchor_)) batchAnchor_.reset();
}

void Workspace::beginBatchSelection() {
    if (!canSelectBatch()) return;
    stopAudition(true);
    pausePlayer();
    publish(batchMode_, true);
    publish(batchIDs_, std::set<Uuid>());
    batchAnchor_.reset();
}

void Workspace::selectCutRow(const Uuid& id, bool additive, bool extend) {
    if (!canSelectBatch()) return;
    const auto& cuts = project_->cuts;
    const auto region =
        std::find_if(cuts.begin(), cuts.end(), [&id](const CutRegion& r) { return r.id == id; });
    if (region == cuts.end()) return;
    if (batchMode_ || additive || extend) {
        if (!batchMode_) {
            const auto reviewed = reviewID_;
            beginBatchSelection();
            if (reviewed) {
                std::set<Uuid> selection = batchIDs_;
                selection.insert(*reviewed);
                publish(batchIDs_, std::move(selection));
                batchAnchor_ = reviewed;
            }
        }
        toggleBatchCut(id, extend);
        return;
    }
    const double start = region->start;
    stopAudition(true);
    pausePlayer();
    setReviewID(id);
    seek(start, false);
}

void Workspace::toggleBatchCut(const Uuid& id, bool extend) {
    if (!batchMode_ || !canSelectBatch()) return;
    const auto list = reviewCuts();
    auto position = [&list](const Uuid& target) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].id == target) return i;
        return std::nullopt;
    };
    const auto at = position(id);
    if (!at) return;
    std::set<Uuid> selection = batchIDs_;
    if (extend && batchAnchor_) {
        if (const auto anchor = position(*batchAnchor_)) {
            for (std::size_t i = std::min(*anchor, *at); i <= std::max(*anchor, *at); ++i)
                selection.insert(list[i].id);
            publish(batchIDs_, std::move(selection));
            return;
        }
    }
    if (!selection.erase(id)) selection.insert(id);
    publish(batchIDs_, std::move(selection));
    batchAnchor_ = id;
}

void Workspace::selectAllBatch() {
    if (!batchMode_ || !canSelectBatch()) return;
    std::set<Uuid> selection;
    for (const auto& region : project_->cuts) selection.insert(region.id);
    publish(batchIDs_, std::move(selection));
    if (!batchAnchor_) batchAnchor_ = reviewCuts().front().id;
}

void Workspace::clearBatchSelection() {
    if (!batchMode_ || !canSelectBatch()) return;
    publish(batchIDs_, std::set<Uuid>());
    batchAnchor_.reset();
}

void Workspace::resetBatchSelection() {
    publish(batchMode_, false);
    publish(batchIDs_, std::set<Uuid>());
    batchAnchor_.reset();
}

}  // namespace talvian
