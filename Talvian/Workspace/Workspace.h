#pragma once
// The one controller of the application: it holds every piece of state the window shows
// and runs every user operation. Main thread only; background work comes back through
// queued calls and is applied only while its token or generation is current.
//
// Published state is grouped into value slices (WorkspaceState.h), each with a getter and
// one signal. Every operation — a public call, a background completion, a timer, a player
// report — publishes once, at its end: the signal of each slice whose value changed, then
// `changed()`. Nested operations publish from the outermost one, so no observer sees a
// half-applied operation. The playback position lives on PlaybackClock, never in a slice.

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "AuditionSession.h"
#include "BackgroundLoader.h"
#include "DesktopServices.h"
#include "Export/AuditionPlan.h"
#include "Export/ExportDiskPreflight.h"
#include "Model/AudioStreamInfo.h"
#include "Model/CoreTypes.h"
#include "Model/CutAdjustment.h"
#include "Model/CutMath.h"
#include "Model/CutProject.h"
#include "Model/ProjectSelection.h"
#include "Model/WaveformBoundaryDrag.h"
#include "Model/WaveformSlice.h"
#include "Model/WaveformWindow.h"
#include "OwnedPlayer.h"
#include "PlaybackClock.h"
#include "Player/Player.h"
#include "Player/PlayerFactory.h"
#include "PublishedState.h"
#include "Support/SessionBackup.h"
#include "WorkspaceGuards.h"
#include "WorkspaceJob.h"
#include "WorkspaceState.h"
#include "WorkspaceWindow.h"

namespace talvian {

class Workspace : public QObject {
    Q_OBJECT

  public:
    // The analysis a job runs (VevazAvezud::analyze in the application); any thread.
    using Analyzer = std::function<CutProject(const std::filesystem::path&, const CutOptions&,
                                              const CancellationToken&, const ProgressCallback&)>;

    // players: makes the preview and audition players and hands over the media entry points
    // that exports and auditions call (the media module's in the application; it must outlive
    // the controller). sessionBackupURL: the last-session file
    // (SessionBackup::defaultURL() in the application); nullopt disables the backup.
    // `arguments` are the launch arguments ("--output <folder>"). Starts no task.
    Workspace(PlayerFactory& players, std::optional<std::filesystem::path> sessionBackupURL,
              std::vector<std::string> arguments = {}, Analyzer analyzer = {}, QObject* parent = nullptr);
    // Without an analyzer (a controller that only reads the backup) analyses fail at once. An
    // analysis that fails after its source was moved, deleted or replaced fails with
    // "找不到素材文件，请重新导入。".
    // Cancels every job and loader, then waits at most the teardown bound for the background
    // work; work still running then finishes on its own and finds the controller gone.
    ~Workspace() override;

    void setWindow(WorkspaceWindow* window) { window_ = window; }
    // The debounce of the detection preview (400 ms); tests shorten it.
    void setDetectionPreviewDelay(std::chrono::milliseconds delay) { detectionLoader_.setDelay(delay); }
    // How long destruction waits for background work (3 s); tests shorten it.
    void setTeardownBound(std::chrono::milliseconds bound) { teardownBound_ = bound; }

    // ==== The published slices (WorkspaceState.h) and their signals below.
    const DocumentState& document() const { return *document_; }
    const JobState& job() const { return *jobState_; }
    const DetectionState& detection() const { return *detection_; }
    const ReviewState& review() const { return *review_; }
    const WaveformState& waveform() const { return *waveform_; }
    const PlaybackState& playback() const { return *playback_; }
    // `export` is a keyword.
    const ExportState& exports() const { return *export_; }
    // Whether each command can act (WorkspaceGuards.h), as the last operation left them.
    const WorkspaceGuards& guards() const { return guards_; }

    // ---- Job state
    void setNotice(std::optional<std::string> value);
    const std::optional<std::string>& lastDiagnosticError() const { return lastDiagnosticError_; }
    void setStudioOverlayPresented(bool value);
    // Asks the running job to stop.
    void cancelCut();
    // The shared failure path of jobs.
    void cutFailed(const std::string& text);

    // ---- Source, project and outputs
    void setAudioOutputFormat(AudioOutputFormat value);
    void setPreviewCuts(bool value);

    // ---- Import and analysis
    void importFiles();
    void sample();
    // False when the source was refused (a job runs, the file is missing, the edit on screen
    // could not be backed up and differs from the project last saved or opened); the refusal
    // is in `notice`.
    bool loadSource(const std::filesystem::path& url, bool analyzeImmediately);
    void analyze();
    void restoreAnalyzedOptions();

    // ---- Detection settings, preview and settings history
    void setCutOptions(const CutOptions& value);
    void previewDetection(const CutOptions& options);
    bool applyDetectionPreview(const CutOptions& options);
    void cancelDetectionPreview();

    // ---- Cut editing and undo
    const CutHistory& cutHistory() const { return cutHistory_; }
    void toggleCut(const Uuid& id);
    void toggleReviewCut();
    void toggleSelectedCuts();
    void setAllCuts(bool remove);
    bool applyBatch(bool remove);
    // Moves both edges of one region; false when the edit rules refused it.
    bool adjustCut(const Uuid& id, double start, double end);
    void undoInContext();
    void redoInContext();
    void undoCut();
    void redoCut();

    // ---- Review order, navigation and batch selection
    std::vector<CutRegion> reviewCuts() const;
    std::optional<std::size_t> reviewIndex() const;
    std::optional<CutRegion> reviewCut() const;
    void setReviewOrder(ReviewOrder order);
    void moveReview(int step);
    void rewindReview();
    void selectCutRow(const Uuid& id, bool additive, bool extend);
    void toggleBatchCut(const Uuid& id, bool extend);
    void beginBatchSelection();
    void selectAllBatch();
    void clearBatchSelection();
    void resetBatchSelection();

    // ---- Manual ranges
    void setManualStart(const std::string& value);
    void setManualEnd(const std::string& value);
    static std::optional<double> manualSeconds(const std::string& text);
    static std::optional<std::string> manualRangeIssue(const std::string& start, const std::string& end,
                                                       const CutProject& project);
    std::optional<std::string> manualCutIssue() const;
    std::string manualCutHint() const;
    // True when the range was added to the cut list.
    bool addManualCut(const std::string& start, const std::string& end);
    void resetManualMarks();
    // Takes the active player's position (in source time) into manualStart or manualEnd,
    // stopping playback; false when nothing was taken.
    bool captureManualPosition(CutBoundary edge);

    // ---- Session backup and recent sessions
    const std::optional<std::filesystem::path>& sessionBackupURL() const { return sessionBackupURL_; }
    void backupCurrentProject();
    // The user's retry of a failed backup: backupCurrentProject(), and when it fails again the
    // reason (sessionBackupIssue) as the notice.
    void retrySessionBackup();

    // ==== Waveform: window, selection, boundary dragging, detail loader (WorkspaceWaveform.cpp,
    //      WorkspaceBoundaryDrag.cpp). Main thread.
    // The zoomed stretch; none = the whole file.
    // waveformWindow, else [0, duration], or [0, 0] without a project.
    WaveformWindow visibleWaveformWindow() const;
    // Stores the window (one as long as the file counts as none) and reloads the detail when it
    // changed. Needs a project.
    void setWaveformWindow(std::optional<WaveformWindow> window);
    // In: half the span, at most 60 s; out: double, the whole file from 60 s up. Centred on
    // the reviewed pause, else on the playhead.
    void zoomWaveform(bool inward);
    // Half a window forward (+1) or back (-1); nothing with the whole file shown.
    void panWaveform(int step);
    // Frames the reviewed pause with 1.2 s either side, at least 12 s.
    void focusWaveformReview();
    void fitWaveform();
    // Keeps the reviewed pause inside a zoomed window (run when reviewID changes).
    void revealWaveformReview();
    // A click on the waveform: stops playback, reviews the pause hit (or none) and seeks there.
    void navigateWaveform(double seconds);
    // A drag across the waveform: batch-selects every pause the range touches.
    void selectWaveformRange(double from, double to);

    // The live drag of an edge of the reviewed pause; a view abandons it with nullopt.
    void setBoundaryDrag(std::optional<WaveformBoundaryDrag> value);
    void beginWaveformBoundary(const Uuid& id, CutBoundary edge);
    // The handle's horizontal translation ÷ max(view width, 1); abandons the drag when the
    // project changed under it.
    void updateWaveformBoundary(double translationFraction);
    // Applies the proposed edge as one undo step when the project still matches.
    void finishWaveformBoundary();
    // Moves one edge by 0.01 s (coarse: 0.1 s) in `direction` (+1/-1) under the drag's clamps;
    // true only when the edit was applied (a refused edit changes neither project nor status).
    bool nudgeWaveformBoundary(const Uuid& id, CutBoundary edge, int direction, bool coarse);

    // The detail waveform of the current window.
    // Restarts the detail load for the current window (after the delay); also the retry action.
    void reloadWaveformDetail();
    // The delay before a detail load starts (150 ms); tests shorten it.
    void setWaveformDetailDelay(std::chrono::milliseconds delay) { waveformLoader_.setDelay(delay); }
    // ==== end of waveform

    // ---- Audition flags read by the guards
    bool auditionIsDraft() const { return playback_->audition && playback_->audition->draft; }
    bool auditionIsManual() const { return playback_->audition && playback_->audition->manual; }

    // ==== Preview player and playback clock (WorkspacePlayback.cpp). Main thread.
    // The five speeds the transport offers, in menu order.
    static constexpr float kPlaybackSpeeds[] = {0.5f, 1.0f, 1.25f, 1.5f, 2.0f};
    // The preview player of the current source (an empty player before any source).
    Player& player() const { return **preview_; }
    // The position in source seconds; never replaced.
    PlaybackClock& playbackClock() { return playbackClock_; }
    // The active player (the audition's while one exists) is muted or at volume 0.
    // The active player's default rate.
    // Why the preview cannot be shown (failure or slow load).
    // Play or pause the active player (restarts from 0 within 0.05 s of the end).
    void togglePlayback();
    // One of kPlaybackSpeeds, for the active player; anything else is ignored.
    void setPlaybackSpeed(float speed);
    // Moves playback and selection to a typed source time; true when it moved.
    bool jumpToSourceTime(const std::string& text);
    // Why a typed time cannot be used with a source of `durationSeconds`; none when it can.
    static std::optional<std::string> sourceTimeIssue(const std::string& text, double durationSeconds);
    // How long a preview or audition may load before it counts as slow (12 s); tests shorten it.
    void setLoadTimeout(std::chrono::milliseconds timeout) { loadTimeout_ = timeout; }
    // ==== end of preview player

    // ==== Audition (WorkspaceAudition.cpp). Main thread.
    // The selected audition: the region's id, or a fresh id for the whole edit.
    std::optional<Uuid> auditionID() const;
    // The mode of the last audition started.
    // The audition player from installation until the audition stops; the active player.
    Player* auditionPlayer() const;
    // The status line: "正在准备…试听…" while preparing, else the description with the suffix
    // of the phase; none without an audition.
    std::optional<std::string> auditionStatus() const;
    bool auditionIsFull() const { return playback_->audition && playback_->audition->full; }
    void setRepeatAudition(bool on);
    // Source seconds covered by the current one-region plan; none otherwise.
    std::optional<std::pair<double, double>> auditionSourceRange() const;
    // The region with this id in the current project.
    void audition(const Uuid& id, AuditionMode mode);
    // The pause under review, else the first of the review order.
    void auditionReview(AuditionMode mode);
    // The typed manual range, before it is added.
    void auditionManual(AuditionMode mode);
    // Common start of every one-region audition (draft: an unsaved variant in `project`).
    void beginAudition(const CutRegion& cut, const CutProject& project, AuditionMode mode, bool draft,
                       bool manual);
    // The project with one region moved, for a draft audition; none when the move is invalid.
    std::optional<CutProject> adjustmentProject(const Uuid& id, double start, double end) const;
    // The whole edited result from the current source position.
    void auditionFull();
    // Ends the audition; with returnToSource the preview continues where its cursor was.
    void stopAudition(bool returnToSource);
    // Stops only the draft audition of that region.
    void stopAdjustmentAudition(const Uuid& id);
    static std::string auditionLabel(AuditionMode mode, bool manual, bool draft);
    std::string auditionDescription(const AuditionPlan& plan) const;
    std::string auditionPlaybackSuffix() const;
    // ==== end of audition

    // ==== Quit, desktop services, project files and diagnostics (WorkspaceProject.cpp,
    //      WorkspaceDiagnostics.cpp, WorkspaceLifecycle.cpp). Main thread.
    // Cancels every job and loader, stops every child process and waits at most `bound` for
    // the background work to finish its clean-up. True when nothing runs any more.
    bool shutdown(std::chrono::milliseconds bound);
    // Removes, on the pool, the work entries that an instance ended outright (killed, a power
    // cut) left in the system temporary folder and in the output folder; an entry whose lock a
    // running instance holds is never touched. The application calls it once at start.
    void removeStaleWorkInBackground();
    // The file browser used to reveal and open files; not owned. Without one the controller
    // uses the running desktop.
    void setDesktopServices(DesktopServices* services) { desktop_ = services; }
    // The file browser the views use to reveal outputs and open links.
    DesktopServices& desktopServices();

    // The recovery card of an open that failed because of its source.
    // The open project points at a relocated source and has not been saved since.
    // User commands: each asks for its file with a panel, then starts its job.
    void openProject();
    void saveProject();
    void retryProjectLoad();
    void dismissProjectRecovery();
    void relocateSource(const std::optional<ProjectRecovery>& recovery);
    void reselectPreviewSource();
    // The jobs behind them (also used by the session resume below).
    void beginProjectLoad(const std::filesystem::path& selection);
    void beginProjectSave(const CutProject& project, const std::filesystem::path& url);
    void beginSourceRelocation(const std::filesystem::path& url,
                               const std::optional<ProjectRecovery>& recovery);
    // Reopening the session backup: the last session, one recent session, or showing the file.
    void resumeSessionBackup();
    void resumeRecentSession(const Uuid& id);
    void revealSessionBackup();

    // Saves the support report where the user chooses; only a failed write shows a notice.
    void exportDiagnostics();
    // ==== end of quit, project files and diagnostics

    // ==== Export, export settings, stems and hand-off (WorkspaceExport.cpp,
    //      WorkspaceExportSettings.cpp, WorkspaceHandoff.cpp). Main thread.
    // The free-space check before an export; any thread.
    using DiskPreflight = std::function<std::optional<DiskSpaceShortfall>(
        const CutProject&, const std::filesystem::path&, AudioOutputFormat, const CancellationToken&)>;
    // The read of a source's first audio stream for the export panel; any thread.
    using AudioInfoReader =
        std::function<AudioStreamInfo(const std::filesystem::path&, const CancellationToken&)>;
    void setDiskPreflight(DiskPreflight preflight) { diskPreflight_ = std::move(preflight); }
    void setExportAudioInfoReader(AudioInfoReader reader) { exportAudioInfoReader_ = std::move(reader); }

    // The last delivered result: the cut file (or the hand-off package folder).
    void setAudioHandoffInfoPresented(bool value);

    // The format the export of the open project writes: m4a for a source with video (its
    // sound goes into the MP4), else audioOutputFormat.
    AudioOutputFormat exportFormat() const;
    // The export panel's facts, all for exportFormat().
    std::optional<std::filesystem::path> exportAudioSource() const;
    bool exportCopiesOriginal() const;
    std::optional<std::string> exportAudioTrackNote() const;
    std::optional<std::string> exportAudioSpecLabel() const;
    // "44.1 kHz · 双声道": the rate and channel text of an audio description.
    static std::string audioSpecText(std::int64_t sampleRate, std::int64_t channels);
    // Reads the audio format of exportAudioSource() in the background (the export panel runs
    // it while shown). Facts already read for that source stay and nothing is read again;
    // without a source the facts are cleared. The end of the read is the export slice's
    // change that turns exportAudioInfoLoading off.
    void readExportAudioInfo();
    // Stops a running read; facts already read stay.
    void cancelExportAudioInfo();
    // The export panel's codec read (its wording is the panel's): `read` runs on the
    // controller's pool with the token of a new load, which replaces the previous one and which
    // quitting and teardown cancel and wait for; `apply` runs on the main thread only while that
    // load is still current. A read that throws gives nullopt.
    using CodecRead = std::function<std::optional<std::string>(const CancellationToken&)>;
    void readExportCodecs(CodecRead read, std::function<void(const std::optional<std::string>&)> apply);
    void cancelExportCodecs() { exportCodecLoader_.cancel(); }

    // Exports the open, analysed project into outputFolder after a free-space check.
    void exportCut();
    // The output folder: chosen with a panel (and remembered), or shown in the file browser.
    void chooseOutput();
    void openOutput();

    // Splits the last exported file of 3 or more channels into one WAV per channel.
    void exportChannelStems();
    // A hand-off package for a video source; for an audio source the information sheet.
    void exportHandoff();
    // The sheet's action: a WAV cut file through the ordinary export.
    void exportAudioHandoffWAV();
    // ==== end of export

  signals:
    // One per slice, each at most once per operation and only when the slice's value changed.
    void documentChanged();
    void jobChanged();
    void detectionChanged();
    void reviewChanged();
    void waveformChanged();
    void playbackChanged();
    void exportChanged();
    // The guards' value changed; after the slice signals.
    void guardsChanged();
    // Something changed: once per operation that changed any slice or the guards, last.
    void changed();

  private:
    friend class Job;

    // ==== Publishing (WorkspacePublishing.cpp)
    // Marks one operation for as long as it lives; the outermost one publishes when it ends.
    class Operation {
      public:
        explicit Operation(Workspace& workspace) : workspace_(workspace) { ++workspace_.operationDepth_; }
        ~Operation() {
            if (--workspace_.operationDepth_ == 0) workspace_.publishChanges();
        }
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

      private:
        Workspace& workspace_;
    };
    // Brings a step back to the main thread as an operation of its own, while the controller
    // exists. Copied into background work, which never holds the controller itself; any thread.
    class MainThreadPost {
      public:
        explicit MainThreadPost(Workspace& workspace) : workspace_(&workspace) {}
        void operator()(std::function<void(Workspace&)> step) const;

      private:
        QPointer<Workspace> workspace_;
    };
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
    template <class State, class Field, class Value>
    void set(Published<State>& slice, Field State::*field, Value&& value) {
        if ((*slice).*field == value) return;
        edit(slice).*field = std::forward<Value>(value);
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

    // Property setters with their assignment rules.
    void setCutBusy(bool value);
    void setProject(std::optional<CutProject> value);
    void setSource(std::optional<std::filesystem::path> value);
    void setReviewID(std::optional<Uuid> value);
    void setCutStatus(std::string value) { set(jobState_, &JobState::status, std::move(value)); }
    void setCutProgress(double value) { set(jobState_, &JobState::progress, value); }
    void setCutOutput(std::optional<std::filesystem::path> value) {
        set(document_, &DocumentState::cutOutput, std::move(value));
    }
    void setSourceReadIssue(std::optional<std::string> value) {
        set(playback_, &PlaybackState::sourceReadIssue, std::move(value));
    }
    void setBatchIDs(std::set<Uuid> value) { set(review_, &ReviewState::batchIDs, std::move(value)); }
    void setBatchAnchor(std::optional<Uuid> value) { set(review_, &ReviewState::batchAnchor, value); }
    void clearOptionHistory();
    void resetCutHistory();

    // Background work: runs on the pool with a post back to the main thread.
    void runInBackground(std::function<void(const MainThreadPost&)> work);
    void postToMain(std::function<void(Workspace&)> step);
    // The job's progress reporter: applied only while `token` is the current, running job.
    ProgressCallback jobProgress(const CancellationToken& token);
    // Cancels the job and every loader (teardown and quit).
    void cancelAllWork();

    // Analysis completions.
    void didAnalyze(CutProject result, const CancellationToken& token);
    void analysisFailed(std::exception_ptr error, const CancellationToken& token);
    void recordOptions(const CutOptions& before);
    void stepOptionHistory(bool undo);
    void stepCutHistory(bool undo);
    // loadSource without its busy check: the project load's own job installs the source.
    bool switchSource(const std::filesystem::path& url, bool analyzeImmediately);
    // An edit that cannot be backed up may still be replaced when it equals the project last
    // written by Save or read from a file: nothing of it would be lost.
    bool editIsSafeToReplace() const;

    // ==== Guards computed from the live state (the feature files; WorkspaceGuards.h says what each
    //      one allows). An operation asks these mid-way; guards() is what the last one published.
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
    // ==== end of guards

    // The single edit path of the cut list; false when nothing was changed.
    bool applyCuts(std::vector<CutRegion> list);
    void reconcileReview();

    // The playback clock's position, seconds.
    double playbackPosition() const { return playbackClock_.position(); }

    // ==== Preview player internals (WorkspacePlayback.cpp)
    // Replaces the preview player by one for `url`, moved to `startSeconds` once ready.
    void installPlayer(const std::filesystem::path& url, double startSeconds);
    // Moves the preview to a source time (only when ready and idle), optionally playing.
    void seek(double seconds, bool play);
    // Pauses the preview player.
    void pausePlayer();
    void setIsPlaying(bool value) { set(playback_, &PlaybackState::isPlaying, value); }
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
    // Calls `step` from a fresh main-thread event while this object and `player` exist.
    void postForPlayer(Player* player, std::function<void(Workspace&, Player&)> step);
    // Timers and sound observation of the first (empty) player; run once by the constructor.
    void setUpPlayback();
    // ==== end of preview player internals

    // ==== Audition internals (WorkspaceAudition.cpp)
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
    // ==== end of audition internals

    WorkspaceWindow* window_ = nullptr;
    PlayerFactory& playerFactory_;
    Analyzer analyzer_;
    // Runner calls block a pool thread for a child's whole life; handed to the application
    // object when teardown's bound passes before the work ends.
    std::unique_ptr<QThreadPool> pool_;
    std::chrono::milliseconds teardownBound_{3000};

    // ==== Published state (WorkspaceState.h)
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
    // ==== end of published state

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

    // ==== Preview player state
    std::unique_ptr<OwnedPlayer> preview_;
    PlaybackClock playbackClock_;
    // Identity of the current boundary observer: a crossing reported by an older one is void.
    Uuid previewBoundaryGeneration_ = Uuid::random();
    // Removed ranges merged, ascending.
    std::vector<CutRegion> previewRemovedRanges_;
    QTimer previewTimeout_;
    std::chrono::milliseconds loadTimeout_{12000};
    // ==== end of preview player state

    // The running audition's resources; it exists exactly while playback_->audition does.
    std::unique_ptr<AuditionSession> audition_;

    // Detail waveform loader.
    BackgroundLoader waveformLoader_{std::chrono::milliseconds(150)};

    // ==== Project files (WorkspaceProject.cpp)
    // Clears what belonged to the previous project's files; run by loadSource.
    void resetProjectLocation();
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

    // Linux has no security-scoped access; the selections are kept for what they name.
    std::optional<std::filesystem::path> projectSelectionAccess_;
    std::optional<std::filesystem::path> sourceSelectionAccess_;
    SystemDesktopServices systemDesktop_;
    DesktopServices* desktop_ = nullptr;
    // ==== end of project files

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

    DiskPreflight diskPreflight_;
    AudioInfoReader exportAudioInfoReader_;
    BackgroundLoader exportAudioLoader_{std::chrono::milliseconds(0)};
    BackgroundLoader exportCodecLoader_{std::chrono::milliseconds(0)};
    // The source the export panel's audio facts were read from.
    std::optional<std::filesystem::path> exportAudioInfoSource_;
    // ==== end of export
};

}  // namespace talvian
