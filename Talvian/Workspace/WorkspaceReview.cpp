// Review order, navigation and batch selection.

#include <algorithm>

#include "WorkspaceInternals.h"

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
    if (!document().project) return {};
    auto list = document().project->cuts;
    if (review().order == ReviewOrder::longestFirst) std::stable_sort(list.begin(), list.end(), longerFirst);
    return list;
}

std::optional<std::size_t> Workspace::reviewIndex() const {
    const auto& project = document().project;
    if (!review().reviewID || !project) return std::nullopt;
    const auto& cuts = project->cuts;
    const auto found = std::find_if(cuts.begin(), cuts.end(),
                                    [this](const CutRegion& r) { return r.id == *review().reviewID; });
    if (found == cuts.end()) return std::nullopt;
    const auto at = static_cast<std::size_t>(found - cuts.begin());
    if (review().order == ReviewOrder::chronological) return at;
    // Its place in the stable sort of reviewCuts(), counted instead of sorted (the guards ask
    // at the end of every operation): the pauses that sort before it, and the equal ones
    // that stand before it.
    std::size_t before = 0;
    for (std::size_t i = 0; i < cuts.size(); ++i)
        if (i != at && (longerFirst(cuts[i], *found) || (i < at && !longerFirst(*found, cuts[i])))) ++before;
    return before;
}

std::optional<CutRegion> Workspace::reviewCut() const {
    if (!review().reviewID || !document().project) return std::nullopt;
    for (const auto& region : document().project->cuts)
        if (region.id == *review().reviewID) return region;
    return std::nullopt;
}

bool Workspace::Internals::canReview() const {
    return !job().busy && !needsAnalysis() && playback().previewReady && document().project &&
           !document().project->cuts.empty();
}

bool Workspace::Internals::canReviewNext() const {
    if (!canReview()) return false;
    const auto index = owner.reviewIndex();
    return (index ? *index + 1 : 0) < document().project->cuts.size();
}

bool Workspace::Internals::canSelectBatch() const {
    return !job().busy && !needsAnalysis() && !waveform().boundaryDrag && document().project &&
           !document().project->cuts.empty();
}

bool Workspace::Internals::canApplyBatch() const {
    return review().batchMode && canSelectBatch() && !review().batchIDs.empty();
}

bool Workspace::Internals::canKeepBatch() const {
    return canApplyBatch() &&
           std::any_of(document().project->cuts.begin(), document().project->cuts.end(),
                       [this](const CutRegion& r) { return review().batchIDs.contains(r.id) && r.remove; });
}

bool Workspace::Internals::canDeleteBatch() const {
    return canApplyBatch() &&
           std::any_of(document().project->cuts.begin(), document().project->cuts.end(),
                       [this](const CutRegion& r) { return review().batchIDs.contains(r.id) && !r.remove; });
}

void Workspace::setReviewOrder(ReviewOrder order) {
    const Operation operation(*this);
    if (job().busy || d_->needsAnalysis() || order == review().order) return;
    stopAudition(true);
    d_->set(&ReviewState::order, order);
    d_->reconcileReview();
}

void Workspace::moveReview(int step) {
    const Operation operation(*this);
    if (!d_->canReview() || (step != 1 && step != -1)) return;
    const auto index = reviewIndex();
    const long long target = (index ? static_cast<long long>(*index) : -1) + step;
    const auto list = reviewCuts();
    if (target < 0 || target >= static_cast<long long>(list.size())) return;
    audition(list[static_cast<std::size_t>(target)].id, AuditionMode::original);
}

void Workspace::rewindReview() {
    const Operation operation(*this);
    const auto list = reviewCuts();
    if (!d_->canReview() || list.empty()) return;
    const auto index = reviewIndex();
    const std::size_t target = index && *index >= kRewindSteps ? *index - kRewindSteps : 0;
    audition(list[target].id, AuditionMode::original);
}

void Workspace::Internals::reconcileReview() {
    if (!owner.reviewIndex() && review().reviewID) setReviewID(std::nullopt);
    // Nothing to keep is the common case (no batch selection): no set is built then.
    if (review().batchIDs.empty()) return setBatchAnchor(std::nullopt);
    std::set<Uuid> kept;
    if (document().project)
        for (const auto& region : document().project->cuts)
            if (review().batchIDs.contains(region.id)) kept.insert(region.id);
    setBatchIDs(std::move(kept));
    if (review().batchAnchor && !review().batchIDs.contains(*review().batchAnchor))
        setBatchAnchor(std::nullopt);
}

void Workspace::beginBatchSelection() {
    const Operation operation(*this);
    if (!d_->canSelectBatch()) return;
    stopAudition(true);
    d_->pausePlayer();
    d_->set(&ReviewState::batchMode, true);
    d_->setBatchIDs({});
    d_->setBatchAnchor(std::nullopt);
}

void Workspace::selectCutRow(const Uuid& id, bool additive, bool extend) {
    const Operation operation(*this);
    if (!d_->canSelectBatch()) return;
    const auto& cuts = document().project->cuts;
    const auto region =
        std::find_if(cuts.begin(), cuts.end(), [&id](const CutRegion& r) { return r.id == id; });
    if (region == cuts.end()) return;
    if (review().batchMode || additive || extend) {
        if (!review().batchMode) {
            const auto reviewed = review().reviewID;
            beginBatchSelection();
            if (reviewed) {
                std::set<Uuid> selection = review().batchIDs;
                selection.insert(*reviewed);
                d_->setBatchIDs(std::move(selection));
                d_->setBatchAnchor(reviewed);
            }
        }
        toggleBatchCut(id, extend);
        return;
    }
    const double start = region->start;
    stopAudition(true);
    d_->pausePlayer();
    d_->setReviewID(id);
    d_->seek(start, false);
}

void Workspace::toggleBatchCut(const Uuid& id, bool extend) {
    const Operation operation(*this);
    if (!review().batchMode || !d_->canSelectBatch()) return;
    const auto list = reviewCuts();
    auto position = [&list](const Uuid& target) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].id == target) return i;
        return std::nullopt;
    };
    const auto at = position(id);
    if (!at) return;
    std::set<Uuid> selection = review().batchIDs;
    if (extend && review().batchAnchor) {
        if (const auto anchor = position(*review().batchAnchor)) {
            for (std::size_t i = std::min(*anchor, *at); i <= std::max(*anchor, *at); ++i)
                selection.insert(list[i].id);
            d_->setBatchIDs(std::move(selection));
            return;
        }
    }
    if (!selection.erase(id)) selection.insert(id);
    d_->setBatchIDs(std::move(selection));
    d_->setBatchAnchor(id);
}

void Workspace::selectAllBatch() {
    const Operation operation(*this);
    if (!review().batchMode || !d_->canSelectBatch()) return;
    std::set<Uuid> selection;
    for (const auto& region : document().project->cuts) selection.insert(region.id);
    d_->setBatchIDs(std::move(selection));
    if (!review().batchAnchor) d_->setBatchAnchor(reviewCuts().front().id);
}

void Workspace::clearBatchSelection() {
    const Operation operation(*this);
    if (!review().batchMode || !d_->canSelectBatch()) return;
    d_->setBatchIDs({});
    d_->setBatchAnchor(std::nullopt);
}

void Workspace::resetBatchSelection() {
    const Operation operation(*this);
    d_->set(&ReviewState::batchMode, false);
    d_->setBatchIDs({});
    d_->setBatchAnchor(std::nullopt);
}

}  // namespace talvian
