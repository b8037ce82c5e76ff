#pragma once
// Whether each command of the controller can act now. A guard reads several slices at once (a
// job runs, the settings differ from the analysed ones, an audition loads, a drag is under
// way), so the guards are published as one value of their own: recomputed at the end of every
// operation, after the slices, with their own signal. A button or menu item that only enables
// itself listens to that signal alone.
//
// Each field is true when the command named acts; a command whose guard is false does nothing.
// Values only; main thread.

namespace talvian {

struct WorkspaceGuards {
    // ---- The job, the analysis and the source
    // A job runs (analysis, project check, save, relocation, export, stems, hand-off).
    bool cutBusy = false;
    // No project, or the detection settings differ from the analysed ones.
    bool needsAnalysis = true;
    // Relocate the source: no job, and the open project records a source identity.
    bool canRelocateSource = false;

    // ---- Undo and redo (the cut list and the detection settings)
    bool canUndoCut = false;
    bool canRedoCut = false;
    bool canUndoOptions = false;
    bool canRedoOptions = false;

    // ---- Review and the batch selection
    // Review and audition pauses: no job, analysed, the preview ready, at least one pause.
    bool canReview = false;
    // canReview, and a pause after the reviewed one in the review order.
    bool canReviewNext = false;
    // Batch selection: no job, analysed, no boundary drag, at least one pause.
    bool canSelectBatch = false;
    // Apply to the batch: in batch mode with a selection; keep when one selected pause is
    // deleted, delete when one is kept.
    bool canApplyBatch = false;
    bool canKeepBatch = false;
    bool canDeleteBatch = false;

    // ---- Manual ranges
    // Add the typed range: no job, analysed, no drag, no other draft audition, a valid range.
    bool canAddManualCut = false;
    // Take the player's position: no job, analysed, no drag, the preview ready, no audition
    // loading, no draft audition.
    bool canCaptureManualPosition = false;

    // ---- Waveform
    // Zoom, pan, focus, fit and clicks: no job, analysed, no boundary drag.
    bool canNavigateWaveform = false;
    // Drag or nudge an edge: no job, analysed, a window of at most 60 s, a pause under review.
    bool canAdjustWaveformBoundary = false;

    // ---- Playback and auditions
    // An audition is being prepared (its player is not yet playing).
    bool auditionLoading = false;
    // Play, pause and speed: the preview ready, no job, no audition loading.
    bool canPlayPreview = false;
    // A typed source time: canNavigateWaveform, the preview ready, no audition loading or draft.
    bool canJumpToSourceTime = false;
    // Loop the running audition: one exists and has loaded, no job.
    bool canRepeatAudition = false;
    // The whole edited result: the preview ready, no job, analysed, no audition loading, no drag.
    bool canAuditionFull = false;

    bool operator==(const WorkspaceGuards&) const = default;
};

}  // namespace talvian
