#pragma once
// What the controller keeps to itself: the published slices with their write path, the
// players, loaders, job and backup writer, and the steps its operations share. Included only
// by the controller's own files (Talvian/Workspace/Workspace*.cpp); views see Workspace.h.
//
// The public commands are Workspace's members and reach this state as `d_->…`; the steps
// below are members of Internals and reach the commands as `owner.…`. Main thread.

#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <exception>
#include <set>
#include <type_traits>
#include <utility>

#include "AuditionSession.h"
#include "BackgroundLoader.h"
#include "DesktopServices.h"
#include "Export/ExportDiskPreflight.h"
#include "Model/CutMath.h"
#include "OwnedPlayer.h"
#include "PlaybackClock.h"
#include "Player/Player.h"
#include "Player/PlayerFactory.h"
#include "PublishedState.h"
#include "Support/SessionBackup.h"
#include "Workspace.h"
#include "WorkspaceJob.h"
#include "WorkspaceWindow.h"

namespace talvian {

// ==== Publishing (WorkspacePublishing.cpp)

// Marks one operation for as long as it lives; the outermost one publishes when it ends.
class Workspace::Operation {
  public:
    explicit Operation(Workspace& workspace);
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

  private:
    Workspace& workspace_;
};

// Brings a step back to the main thread as an operation of its own, while the controller
// exists. Copied into background work, which never holds the controller itself; any thread.
class Workspace::MainThreadPost {
  public:
    explicit MainThreadPost(Workspace& workspace) : workspace_(&workspace) {}
    void operator()(std::function<void(Internals&)> step) const;

  private:
    QPointer<Workspace> workspace_;
};

struct Workspace::Internals {
    Internals(Workspace& owner, PlayerFactory& players, std::optional<std::filesystem::path> sessionBackupURL,
              Analyzer analyzer);

    // The slices as they stand; the same names as the controller's accessors, so that a step
    // reads them as a command does.
    const DocumentState& document() const { return *document_; }
    const JobState& job() const { return *jobState_; }
    const DetectionState& detection() const { return *detection_; }
    const ReviewState& review() const { return *review_; }
    const WaveformState& waveform() const { return *waveform_; }
    const PlaybackState& playback() const { return *playback_; }
    const ExportState& exports() const { return *export_; }

    // ==== Publishing (WorkspacePublishing.cpp)
    // Emits the signals of the changed slices, then guardsChanged() when the guards computed
    // from them differ from the last published ones, then changed().
    void publishChanges();
    // Every write of a slice goes through these two; a write outside any operation (a path
    // that forgot its operation) is published from the event loop.
    template <class State>
    State& edit(Published<State>& slice) {
        noteWrite();
        return slice.edit();
    }
    // Sets one field of the slice that holds it, when the value differs.
    template <class State, class Field, class Value>
    void set(Field State::*field, Value&& value) {
        Published<State>& slice = published<State>();
        if ((*slice).*field == value) return;
        edit(slice).*field = std::forward<Value>(value);
    }
    // The slice whose value is a State.
    template <class State>
    Published<State>& published() {
        if constexpr (std::is_same_v<State, DocumentState>) {
            return document_;
        } else if constexpr (std::is_same_v<State, JobState>) {
            return jobState_;
        } else if constexpr (std::is_same_v<State, DetectionState>) {
            return detection_;
        } else if constexpr (std::is_same_v<State, ReviewState>) {
            return review_;
        } else if constexpr (std::is_same_v<State, WaveformState>) {
            return waveform_;
        } else if constexpr (std::is_same_v<State, PlaybackState>) {
            return playback_;
        } else {
            static_assert(std::is_same_v<State, ExportState>, "a field of a published slice");
            return export_;
        }
    }
    void noteWrite();
    // A callback that runs as an operation of its own (timers and player reports).
    std::function<void()> asOperation(std::function<void()> step);
    // Shows a modal panel: what happened before it is published first, and what arrives while
    // it is shown (completions, reports) publishes as its own operations.
    template <class Panel>
    auto showPanel(Panel&& panel) {
        publishChanges();
        const int depth = std::exchange(operationDepth_, 0);
        auto answer = std::forward<Panel>(panel)();
        operationDepth_ = depth;
        return answer;
    }
    void bumpCutHistory();

    // Property setters with their assignment rules (Workspace.cpp).
    void setCutBusy(bool value);
    void setProject(std::optional<CutProject> value);
    void setSource(std::optional<std::filesystem::path> value);
    void setReviewID(std::optional<Uuid> value);
    void setCutStatus(std::string value) { set(&JobState::status, std::move(value)); }
    void setCutProgress(double value) { set(&JobState::progress, value); }
    void setCutOutput(std::optional<std::filesystem::path> value) {
        set(&DocumentState::cutOutput, std::move(value));
    }
    void setSourceReadIssue(std::optional<std::string> value) {
        set(&PlaybackState::sourceReadIssue, std::move(value));
    }
    void setBatchIDs(std::set<Uuid> value) { set(&ReviewState::batchIDs, std::move(value)); }
    void setBatchAnchor(std::optional<Uuid> value) { set(&ReviewState::batchAnchor, value); }
    void clearOptionHistory();
    void resetCutHistory();

    // Background work: runs on the pool with a post back to the main thread.
    void runInBackground(std::function<void(const MainThreadPost&)> work);
    void postToMain(std::function<void(Internals&)> step);
    // The job's progress reporter: applied only while `token` is the current, running job.
    ProgressCallback jobProgress(const CancellationToken& token);
    // Cancels the job and every loader (teardown and quit).
    void cancelAllWork();

    // ==== Guards computed from the live state (WorkspaceGuards.h says what each one allows).
    //      An operation asks these mid-way; guards() is what the last one published.
    WorkspaceGuards computeGuards() const;
    bool needsAnalysis() const;
    bool auditionLoading() const;
    bool canUndoOptions() const { return !job().busy && !document().optionPast.empty(); }
    bool canRedoOptions() const { return !job().busy && !document().optionFuture.empty(); }
    bool canUndoCut() const;
    bool canRedoCut() const;
    bool canReview() const;
    bool canReviewNext() const;
    bool canSelectBatch() const;
    bool canApplyBatch() const;
    bool canKeepBatch() const;
    bool canDeleteBatch() const;
    bool canAddManualCut() const;
    bool canCaptureManualPosition() const;
    bool canNavigateWaveform() const;
    bool canAdjustWaveformBoundary() const;
    bool canPlayPreview() const { return playback().previewReady && !job().busy && !auditionLoading(); }
    bool canJumpToSourceTime() const;
    bool canRepeatAudition() const { return playback().audition && !auditionLoading() && !job().busy; }
    bool canAuditionFull() const;
    bool canRelocateSource() const;

    // ==== Import, analysis and the settings history (WorkspaceImport.cpp, WorkspaceDetection.cpp)
    void didAnalyze(CutProject result, const CancellationToken& token);
    void analysisFailed(std::exception_ptr error, const CancellationToken& token);
    void recordOptions(const CutOptions& before);
    void stepOptionHistory(bool undo);
    // loadSource without its busy check: the project load's own job installs the source.
    bool switchSource(const std::filesystem::path& url, bool analyzeImmediately);
    // An edit that cannot be backed up may still be replaced when it equals the project last
    // written by Save or read from a file: nothing of it would be lost.
    bool editIsSafeToReplace() const;

    // ==== Editing, review and manual ranges (WorkspaceEditing.cpp, WorkspaceReview.cpp,
    //      WorkspaceManual.cpp, WorkspaceBackup.cpp, WorkspaceWaveform.cpp)
    // The single edit path of the cut list; false when nothing was changed.
    bool applyCuts(std::vector<CutRegion> list);
    void stepCutHistory(bool undo);
    void reconcileReview();
    // Why the typed range cannot be added to the open project; none when it can.
    std::optional<std::string> manualCutIssue() const;
    // Rewrites the session backup with the current project (after every assignment of it).
    void backupCurrentProject();
    // Keeps the reviewed pause inside a zoomed window (run when reviewID changes).
    void revealWaveformReview();

    // ==== Preview player (WorkspacePlayback.cpp)
    // The playback clock's position, seconds.
    double playbackPosition() const { return playbackClock_.position(); }
    // Replaces the preview player by one for `url`, moved to `startSeconds` once ready.
    void installPlayer(const std::filesystem::path& url, double startSeconds);
    // Moves the preview to a source time (only when ready and idle), optionally playing.
    void seek(double seconds, bool play);
    // Pauses the preview player.
    void pausePlayer();
    void setIsPlaying(bool value) { set(&PlaybackState::isPlaying, value); }
    Player& activePlayer() const;
    // Recomputes the merged removed ranges and the boundary observer of skip-cuts mode.
    void refreshPreviewCutBoundaries();
    void skipPreviewCutIfNeeded();
    // Connects the sound and speed reports of a new player; they count while it is active.
    void observeSound(OwnedPlayer& player);
    // The sound indicators and speed follow `player` from now on.
    void followSound(Player& player);
    void previewStatusChanged(double startSeconds);
    void previewTick(double seconds);
    // Calls `step` from a fresh main-thread event while the controller and `player` exist.
    void postForPlayer(Player* player, std::function<void(Internals&, Player&)> step);
    // Timers and sound observation of the first (empty) player; run once by the constructor.
    void setUpPlayback();

    // ==== Audition (WorkspaceAudition.cpp)
    void startAudition(const AuditionPlan& plan, const CutProject& project, const Uuid& id, bool draft,
                       bool manual, bool full, double startOffset);
    void installAudition(const AuditionTimeline& timeline, const Uuid& generation);
    void failAudition(const std::string& message);
    void setAuditionPhase(AuditionState::Phase phase);
    // True while `generation` is the running audition's and `player` its player.
    bool isCurrentAudition(const Uuid& generation, const Player* player) const;
    // The audition player's first play, at playback time `seconds`.
    void beginAuditionPlayback(double seconds);
    void auditionStatusChanged();
    void auditionRateChanged();
    void auditionTick(double seconds);
    void auditionEnded();

    // ==== Project files (WorkspaceProject.cpp)
    // Clears what belonged to the previous project's files; run by loadSource.
    void resetProjectLocation();
    void beginSourceRelocation(const std::filesystem::path& url,
                               const std::optional<ProjectRecovery>& recovery);
    // Install the loaded project; false when its source could not be loaded after all.
    bool didLoadProject(CutProject project, const CancellationToken& token,
                        const std::filesystem::path& selection);
    void projectLoadFailed(std::exception_ptr error, const CancellationToken& token,
                           const std::optional<std::filesystem::path>& selection);
    void showProjectRecovery(ProjectRecovery recovery);
    CancellationToken beginSourceCheck(const std::string& text);
    void commitProjectSave(const CutProject& project, const std::filesystem::path& url,
                           const CancellationToken& token);
    void sourceCheckFailed(std::exception_ptr error, const CancellationToken& token);
    void didRelocateSource(CutProject project, const std::filesystem::path& selected,
                           const std::optional<ProjectRecovery>& recovery, double position,
                           const CancellationToken& token);
    void didReselectPreview(const std::filesystem::path& url, double position,
                            const CancellationToken& token);

    // ==== Export (WorkspaceExport.cpp, WorkspaceExportSettings.cpp, WorkspaceHandoff.cpp)
    void startExport(const CutProject& project, const std::filesystem::path& folder,
                     AudioOutputFormat format);
    bool didExport(const std::filesystem::path& url, std::optional<std::int64_t> channels,
                   const CancellationToken& token);
    void projectSaveFailed(const std::string& text);
    void exportFailed(std::exception_ptr error, const CancellationToken& token);
    void didExportChannelStems(const std::filesystem::path& folder, const CancellationToken& token);
    // Drops the audio facts of the previous source and stops their read.
    void resetExportAudioInfo();

    // ==== State. Declared in the order it is made; it goes in the reverse order.
    Workspace& owner;
    WorkspaceWindow* window_ = nullptr;
    PlayerFactory& playerFactory_;
    Analyzer analyzer_;
    // Runner calls block a pool thread for a child's whole life; handed to the application
    // object when teardown's bound passes before the work ends.
    std::unique_ptr<QThreadPool> pool_;
    std::chrono::milliseconds teardownBound_{3000};

    // The published slices (WorkspaceState.h) and guards (WorkspaceGuards.h).
    Published<DocumentState> document_;
    Published<JobState> jobState_;
    Published<DetectionState> detection_;
    Published<ReviewState> review_;
    Published<WaveformState> waveform_;
    Published<PlaybackState> playback_;
    Published<ExportState> export_;
    // The guards as last published.
    WorkspaceGuards guards_;
    int operationDepth_ = 0;
    bool publishPosted_ = false;
    bool tearingDown_ = false;

    // The job at a time (WorkspaceJob.cpp).
    Job job_{*this};
    std::optional<std::string> lastDiagnosticError_;

    // Detection preview and the settings history.
    BackgroundLoader detectionLoader_{std::chrono::milliseconds(400)};
    bool applyingOptionHistory_ = false;

    // Session backup and the edit history.
    CutHistory cutHistory_;
    std::optional<std::filesystem::path> sessionBackupURL_;
    std::unique_ptr<SessionBackup> sessionBackupWriter_;
    bool sessionNeedsArchive_ = false;
    // The project as Save last wrote it or as it was read from a file.
    std::optional<CutProject> savedProject_;

    // Preview player.
    std::unique_ptr<OwnedPlayer> preview_;
    PlaybackClock playbackClock_;
    // Identity of the current boundary observer: a crossing reported by an older one is void.
    Uuid previewBoundaryGeneration_ = Uuid::random();
    // Removed ranges merged, ascending.
    std::vector<CutRegion> previewRemovedRanges_;
    QTimer previewTimeout_;
    std::chrono::milliseconds loadTimeout_{12000};

    // The running audition's resources; it exists exactly while playback_->audition does.
    std::unique_ptr<AuditionSession> audition_;

    // Detail waveform loader.
    BackgroundLoader waveformLoader_{std::chrono::milliseconds(150)};

    // Project files. Linux has no security-scoped access; the selections are kept for what
    // they name.
    std::optional<std::filesystem::path> projectSelectionAccess_;
    std::optional<std::filesystem::path> sourceSelectionAccess_;
    SystemDesktopServices systemDesktop_;
    DesktopServices* desktop_ = nullptr;

    // Export.
    DiskPreflight diskPreflight_;
    AudioInfoReader exportAudioInfoReader_;
    BackgroundLoader exportAudioLoader_{std::chrono::milliseconds(0)};
    BackgroundLoader exportCodecLoader_{std::chrono::milliseconds(0)};
    // The source the export panel's audio facts were read from.
    std::optional<std::filesystem::path> exportAudioInfoSource_;
};

}  // namespace talvian
