// Publishing: each operation's changes go out once, at its end, slice by slice, then the
// guards that follow from them.

#include <QMetaObject>

#include "WorkspaceInternals.h"

namespace talvian {

Workspace::Operation::Operation(Workspace& workspace) : workspace_(workspace) {
    ++workspace_.d_->operationDepth_;
}

Workspace::Operation::~Operation() {
    if (--workspace_.d_->operationDepth_ == 0) workspace_.d_->publishChanges();
}

void Workspace::Internals::publishChanges() {
    if (tearingDown_) return;
    // Every slice is settled before the first signal: a slot that calls back into the
    // controller runs an operation of its own, which publishes its own changes.
    const bool document = document_.settle();
    const bool job = jobState_.settle();
    const bool detection = detection_.settle();
    const bool review = review_.settle();
    const bool waveform = waveform_.settle();
    const bool playback = playback_.settle();
    const bool exports = export_.settle();
    const bool anySlice = document || job || detection || review || waveform || playback || exports;
    // The guards follow from the settled slices (and the cut history, whose every change bumps
    // the document's revision), so they can only move with a slice: an operation that changed
    // nothing (a playback tick) does not recompute them. They are in place before any slot
    // can read them.
    bool guardsMoved = false;
    if (anySlice) {
        WorkspaceGuards guards = computeGuards();
        guardsMoved = !(guards == guards_);
        if (guardsMoved) guards_ = guards;
    }
    if (document) emit owner.documentChanged();
    if (job) emit owner.jobChanged();
    if (detection) emit owner.detectionChanged();
    if (review) emit owner.reviewChanged();
    if (waveform) emit owner.waveformChanged();
    if (playback) emit owner.playbackChanged();
    if (exports) emit owner.exportChanged();
    if (guardsMoved) emit owner.guardsChanged();
    if (anySlice) emit owner.changed();
}

WorkspaceGuards Workspace::Internals::computeGuards() const {
    WorkspaceGuards guards;
    guards.cutBusy = job().busy;
    guards.needsAnalysis = needsAnalysis();
    guards.canRelocateSource = canRelocateSource();
    guards.canUndoCut = canUndoCut();
    guards.canRedoCut = canRedoCut();
    guards.canUndoOptions = canUndoOptions();
    guards.canRedoOptions = canRedoOptions();
    guards.canReview = canReview();
    guards.canReviewNext = canReviewNext();
    guards.canSelectBatch = canSelectBatch();
    guards.canApplyBatch = canApplyBatch();
    guards.canKeepBatch = canKeepBatch();
    guards.canDeleteBatch = canDeleteBatch();
    guards.canAddManualCut = canAddManualCut();
    guards.canCaptureManualPosition = canCaptureManualPosition();
    guards.canNavigateWaveform = canNavigateWaveform();
    guards.canAdjustWaveformBoundary = canAdjustWaveformBoundary();
    guards.auditionLoading = auditionLoading();
    guards.canPlayPreview = canPlayPreview();
    guards.canJumpToSourceTime = canJumpToSourceTime();
    guards.canRepeatAudition = canRepeatAudition();
    guards.canAuditionFull = canAuditionFull();
    return guards;
}

void Workspace::Internals::noteWrite() {
    if (operationDepth_ > 0 || publishPosted_ || tearingDown_) return;
    // A write outside any operation is a path that forgot to mark itself: its changes still
    // go out, from the event loop, instead of being lost.
    publishPosted_ = true;
    QMetaObject::invokeMethod(
        &owner,
        [this] {
            publishPosted_ = false;
            if (operationDepth_ == 0) publishChanges();
        },
        Qt::QueuedConnection);
}

std::function<void()> Workspace::Internals::asOperation(std::function<void()> step) {
    return [this, step = std::move(step)] {
        const Operation operation(owner);
        step();
    };
}

void Workspace::Internals::bumpCutHistory() {
    ++edit(document_).cutHistoryRevision;
}

}  // namespace talvian
