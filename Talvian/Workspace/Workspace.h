#pragma once
// The one controller of the application: it holds every piece of state the window shows
// and runs every user operation. Main thread only; background work comes back through
// queued calls and is applied only while its token or generation is current.
//
// Published properties are getters plus the one `changed()` signal; every assignment goes
// through a setter that runs the property's assignment rule.

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

#include "DetailWaveform.h"
#include "Export/AuditionPlan.h"
#include "Model/CoreTypes.h"
#include "Model/CutAdjustment.h"
#include "Model/CutMath.h"
#include "Model/CutProject.h"
#include "PlaybackClock.h"
#include "Player/Player.h"
#include "Player/PlayerFactory.h"
#include "DesktopServices.h"
#include "Export/ExportDiskPreflight.h"
#include "Process/MediaProbe.h"
#include "ProjectSelection.h"
#include "SessionBackup.h"
#include "WaveformBoundaryDrag.h"
#include "WaveformWindow.h"
#include "WorkspaceWindow.h"

namespace talvian {

// The order of the review list.
enum class ReviewOrder { chronological, longestFirst };
inline constexpr ReviewOrder kAllReviewOrders[] = {ReviewOrder::chronological, ReviewOrder::longestFirst};
const char* rawValue(ReviewOrder order);
std::optional<ReviewOrder> reviewOrderFromRaw(std::string_view raw);

class Workspace : public QObject {
    Q_OBJECT

  public:
    // The analysis a job runs (VevazAvezud::analyze in the application); any thread.
    using Analyzer = std::function<CutProject(const std::filesystem::path&, const CutOptions&,
                                              const CancellationToken&, const ProgressCallback&)>;

    // players: makes the preview and audition players (libmpv in the application; it must
    // outlive the controller). sessionBackupURL: the last-session file
    // (SessionBackup::defaultURL() in the application); nullopt disables the backup.
    // `arguments` are the launch arguments ("--output <folder>"). Starts no task.
    Workspace(PlayerFactory& players, std::optional<std::filesystem::path> sessionBackupURL,
              std::vector<std::string> arguments = {}, Analyzer analyzer = {}, QObject* parent = nullptr);
    // Without an analyzer (a controller that only reads the backup) analyses fail at once.
    ~Workspace() override;

    void setWindow(WorkspaceWindow* window) { window_ = window; }
    // The debounce of the detection preview (400 ms); tests shorten it.
    void setDetectionPreviewDelay(std::chrono::milliseconds delay) { detectionPreviewDelay_ = delay; }

    // ---- Job state
    bool cutBusy() const { return cutBusy_; }
    double cutProgress() const { return cutProgress_; }
    const std::string& cutStatus() const { return cutStatus_; }
    const std::optional<std::string>& notice() const { return notice_; }
    void setNotice(std::optional<std::string> value);
    const std::optional<std::string>& lastDiagnosticError() const { return lastDiagnosticError_; }
    bool studioOverlayPresented() const { return studioOverlayPresented_; }
    void setStudioOverlayPresented(bool value);
    // True without a project, or while the settings differ from the analysed ones.
    bool needsAnalysis() const;
    // Asks the running job to stop.
    void cancelCut();
    // The shared failure path of jobs.
    void cutFailed(const std::string& text);

    // ---- Source, project and outputs
    const std::optional<std::filesystem::path>& source() const { return source_; }
    const std::optional<CutProject>& project() const { return project_; }
    const std::optional<std::filesystem::path>& cutOutput() const { return cutOutput_; }
    const std::filesystem::path& outputFolder() const { return outputFolder_; }
    AudioOutputFormat audioOutputFormat() const { return audioOutputFormat_; }
    void setAudioOutputFormat(AudioOutputFormat value);
    bool audioHandoffInfoPresented() const { return audioHandoffInfoPresented_; }
    const std::optional<std::string>& sourceReadIssue() const { return sourceReadIssue_; }
    bool previewCuts() const { return previewCuts_; }
    void setPreviewCuts(bool value);
    bool previewReady() const { return previewReady_; }
    bool isPlaying() const { return isPlaying_; }

    // ---- Import and analysis
    void importFiles();
    void sample();
    // False when the source was refused (a job runs, the file is missing, the edit on screen
    // could not be backed up); the refusal is in `notice`.
    bool loadSource(const std::filesystem::path& url, bool analyzeImmediately);
    void analyze();
    void restoreAnalyzedOptions();

    // ---- Detection settings, preview and settings history
    const CutOptions& cutOptions() const { return cutOptions_; }
    void setCutOptions(const CutOptions& value);
    const std::optional<CutProject>& detectionPreview() const { return detectionPreview_; }
    bool detectionCalculating() const { return detectionCalculating_; }
    const std::optional<std::string>& detectionPreviewIssue() const { return detectionPreviewIssue_; }
    void previewDetection(const CutOptions& options);
    bool applyDetectionPreview(const CutOptions& options);
    void cancelDetectionPreview();
    bool canUndoOptions() const { return !cutBusy_ && !optionPast_.empty(); }
    bool canRedoOptions() const { return !cutBusy_ && !optionFuture_.empty(); }

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
    bool canUndoCut() const;
    bool canRedoCut() const;

    // ---- Review order, navigation and batch selection
    ReviewOrder reviewOrder() const { return reviewOrder_; }
    const std::optional<Uuid>& reviewID() const { return reviewID_; }
    bool batchMode() const { return batchMode_; }
    const std::set<Uuid>& batchIDs() const { return batchIDs_; }
    const std::optional<Uuid>& batchAnchor() const { return batchAnchor_; }
    std::vector<CutRegion> reviewCuts() const;
    std::optional<std::size_t> reviewIndex() const;
    std::optional<CutRegion> reviewCut() const;
    bool canReview() const;
    bool canReviewNext() const;
    bool canSelectBatch() const;
    bool canApplyBatch() const;
    bool canKeepBatch() const;
    bool canDeleteBatch() const;
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
    const std::string& manualStart() const { return manualStart_; }
    const std::string& manualEnd() const { return manualEnd_; }
    void setManualStart(const std::string& value);
    void setManualEnd(const std::string& value);
    static std::optional<double> manualSeconds(const std::string& text);
    static std::optional<std::string> manualRangeIssue(const std::string& start, const std::string& end,
                                                       const CutProject& project);
    std::optional<std::string> manualCutIssue() const;
    std::string manualCutHint() const;
    bool canAddManualCut() const;
    // True when the range was added to the cut list.
    bool addManualCut(const std::string& start, const std::string& end);
    void resetManualMarks();
    // Not busy, analysed, no drag, the preview ready, no audition loading and no draft audition.
    bool canCaptureManualPosition() const;
    // Takes the active player's position (in source time) into manualStart or manualEnd,
    // stopping playback; false when nothing was taken.
    bool captureManualPosition(CutBoundary edge);

    // ---- Session backup and recent sessions
    const std::optional<std::string>& sessionBackupName() const { return sessionBackupName_; }
    const std::optional<std::string>& sessionBackupIssue() const { return sessionBackupIssue_; }
    bool sessionBackupSaved() const { return sessionBackupSaved_; }
    const std::vector<RecentSession>& recentSessions() const { return recentSessions_; }
    const std::optional<std::filesystem::path>& sessionBackupURL() const { return sessionBackupURL_; }
    void backupCurrentProject();

    // ==== Waveform: window, selection, boundary dragging, detail loader (WorkspaceWaveform.cpp,
    //      WorkspaceBoundaryDrag.cpp). Main thread.
    // The zoomed stretch; none = the whole file.
    const std::optional<WaveformWindow>& waveformWindow() const { return waveformWindow_; }
    // waveformWindow, else [0, duration], or [0, 0] without a project.
    WaveformWindow visibleWaveformWindow() const;
    // Not busy, analysed, a project and no boundary drag: zoom, pan, focus, fit and clicks act.
    bool canNavigateWaveform() const;
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
    const std::optional<WaveformBoundaryDrag>& boundaryDrag() const { return boundaryDrag_; }
    void setBoundaryDrag(std::optional<WaveformBoundaryDrag> value);
    // Not busy, analysed, a window of at most 60 s and a pause under review.
    bool canAdjustWaveformBoundary() const;
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
    const std::optional<WaveformSlice>& waveformDetail() const { return waveformDetail_; }
    bool waveformLoading() const { return waveformLoading_; }
    const std::optional<std::string>& waveformIssue() const { return waveformIssue_; }
    // Restarts the detail load for the current window (after the delay); also the retry action.
    void reloadWaveformDetail();
    // The delay before a detail load starts (150 ms); tests shorten it.
    void setWaveformDetailDelay(std::chrono::milliseconds delay) { waveformDetailDelay_ = delay; }
    // ==== end of waveform

    // ---- Audition flags read by the guards
    bool auditionLoading() const { return auditionLoading_; }
    bool auditionIsDraft() const { return auditionIsDraft_; }
    bool auditionIsManual() const { return auditionIsManual_; }

    // ==== Preview player and playback clock (WorkspacePlayback.cpp). Main thread.
    // The five speeds the transport offers, in menu order.
    static constexpr float kPlaybackSpeeds[] = {0.5f, 1.0f, 1.25f, 1.5f, 2.0f};
    // The preview player of the current source (an empty player before any source).
    Player& player() const { return *player_; }
    // The position in source seconds; never replaced.
    PlaybackClock& playbackClock() { return playbackClock_; }
    // The active player (the audition's while one exists) is muted or at volume 0.
    bool previewSoundMuted() const { return previewSoundMuted_; }
    // The active player's default rate.
    float playbackSpeed() const { return playbackSpeed_; }
    bool previewLoading() const { return previewLoading_; }
    // Why the preview cannot be shown (failure or slow load).
    const std::optional<std::string>& previewIssue() const { return previewIssue_; }
    bool canPlayPreview() const { return previewReady_ && !cutBusy_ && !auditionLoading_; }
    // Play or pause the active player (restarts from 0 within 0.05 s of the end).
    void togglePlayback();
    // One of kPlaybackSpeeds, for the active player; anything else is ignored.
    void setPlaybackSpeed(float speed);
    bool canJumpToSourceTime() const;
    // Moves playback and selection to a typed source time; true when it moved.
    bool jumpToSourceTime(const std::string& text);
    // Why a typed time cannot be used with a source of `durationSeconds`; none when it can.
    static std::optional<std::string> sourceTimeIssue(const std::string& text, double durationSeconds);
    // How long a preview or audition may load before it counts as slow (12 s); tests shorten it.
    void setLoadTimeout(std::chrono::milliseconds timeout) { loadTimeout_ = timeout; }
    // ==== end of preview player

    // ==== Audition (WorkspaceAudition.cpp). Main thread.
    // The selected audition: the region's id, or a fresh id for the whole edit.
    const std::optional<Uuid>& auditionID() const { return auditionID_; }
    AuditionMode auditionMode() const { return auditionMode_; }
    // The audition player from installation until the audition stops; the active player.
    Player* auditionPlayer() const { return auditionPlayer_.get(); }
    const std::optional<std::string>& auditionStatus() const { return auditionStatus_; }
    bool auditionIsFull() const { return auditionIsFull_; }
    bool repeatAudition() const { return repeatAudition_; }
    void setRepeatAudition(bool on);
    bool canRepeatAudition() const { return auditionID_ && !auditionLoading_ && !cutBusy_; }
    bool canAuditionFull() const;
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
    //      WorkspaceDiagnostics.cpp). Main thread.
    // Cancels every job and loader, stops every child process and waits at most `bound` for
    // the background work to finish its clean-up. True when nothing runs any more.
    bool shutdown(std::chrono::milliseconds bound);
    // The file browser used to reveal and open files; not owned. Without one the controller
    // uses the running desktop.
    void setDesktopServices(DesktopServices* services) { desktop_ = services; }

    // The recovery card of an open that failed because of its source.
    const std::optional<ProjectRecovery>& projectRecovery() const { return projectRecovery_; }
    // The open project points at a relocated source and has not been saved since.
    bool sourceLocationNeedsSaving() const { return sourceLocationNeedsSaving_; }
    // No job runs and the open project records a source identity.
    bool canRelocateSource() const;
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
    void beginSourceRelocation(const std::filesystem::path& url, const std::optional<ProjectRecovery>& recovery);
    // Reopening the session backup: the last session, one recent session, or showing the file.
    void resumeSessionBackup();
    void resumeRecentSession(const Uuid& id);
    void revealSessionBackup();

    // Saves the support report where the user chooses; only a failed write shows a notice.
    void exportDiagnostics();
    // ==== end of quit, project files and diagnostics

    // ==== Export, export settings, stems and hand-off (WorkspaceExport.cpp,
    //      WorkspaceHandoff.cpp). Main thread.
    // The free-space check before an export; any thread.
    using DiskPreflight = std::function<std::optional<DiskSpaceShortfall>(
        const CutProject&, const std::filesystem::path&, AudioOutputFormat, const CancellationToken&)>;
    // The read of a source's first audio stream for the export panel; any thread.
    using AudioInfoReader = std::function<AudioStreamInfo(const std::filesystem::path&, const CancellationToken&)>;
    void setDiskPreflight(DiskPreflight preflight) { diskPreflight_ = std::move(preflight); }
    void setExportAudioInfoReader(AudioInfoReader reader) { exportAudioInfoReader_ = std::move(reader); }

    // The last delivered result: the cut file (or the hand-off package folder).
    const std::optional<std::int64_t>& exportedAudioChannels() const { return exportedAudioChannels_; }
    bool outputIsHandoff() const { return outputIsHandoff_; }
    const std::optional<std::filesystem::path>& channelStemsFolder() const { return channelStemsFolder_; }
    const std::optional<std::filesystem::path>& handoffXMLURL() const { return handoffXMLURL_; }
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
    const std::optional<AudioStreamInfo>& exportAudioInfo() const { return exportAudioInfo_; }
    bool exportAudioInfoLoading() const { return exportAudioInfoLoading_; }
    const std::optional<std::string>& exportAudioInfoIssue() const { return exportAudioInfoIssue_; }
    // Reads the audio format of exportAudioSource() in the background (the export panel runs
    // it while shown); cancelExportAudioInfo() stops it and clears the facts.
    void readExportAudioInfo();
    void cancelExportAudioInfo();

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
    // Any published property changed.
    void changed();

  private:
    template <class T>
    void publish(T& member, T value) {
        member = std::move(value);
        emit changed();
    }

    // Property setters with their assignment rules.
    void setCutBusy(bool value);
    void setProject(std::optional<CutProject> value);
    void setSource(std::optional<std::filesystem::path> value);
    void setReviewID(std::optional<Uuid> value);
    void setCutStatus(std::string value) { publish(cutStatus_, std::move(value)); }
    void setCutProgress(double value) { publish(cutProgress_, value); }

    // Job pattern: a background call whose completion comes back to the main thread only
    // while this object exists.
    void runInBackground(std::function<void()> work);
    void postToMain(std::function<void(Workspace&)> step);
    // The job's progress reporter: applied only while `token` is the current, running job.
    ProgressCallback jobProgress(const CancellationToken& token);

    // Analysis completions.
    void didAnalyze(CutProject result, const CancellationToken& token);
    void analysisFailed(std::exception_ptr error, const CancellationToken& token);
    void recordOptions(const CutOptions& before);
    void stepOptionHistory(bool undo);
    void stepCutHistory(bool undo);
    // Stops the timers and cancels the tokens of every loader (teardown and quit).
    void stopLoaders();

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
    void setIsPlaying(bool value);
    Player& activePlayer() const { return auditionPlayer_ ? *auditionPlayer_ : *player_; }
    // Recomputes the merged removed ranges and the boundary observer of skip-cuts mode.
    void refreshPreviewCutBoundaries();
    void skipPreviewCutIfNeeded();
    // The sound indicators and speed follow `player` from now on.
    void observePreviewSound(Player& player);
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
    void setAuditionStatus(std::optional<std::string> value);
    // The audition player's first play, at playback time `seconds`.
    void beginAuditionPlayback(double seconds, const std::string& description);
    void auditionStatusChanged(const std::string& description);
    void auditionRateChanged(const std::string& description);
    void auditionTick(double seconds, const std::string& description);
    void auditionEnded(const std::string& description);
    // ==== end of audition internals

    WorkspaceWindow* window_ = nullptr;
    PlayerFactory& playerFactory_;
    Analyzer analyzer_;
    QThreadPool pool_;

    // Detection preview.
    std::optional<CutProject> detectionPreview_;
    bool detectionCalculating_ = false;
    std::optional<std::string> detectionPreviewIssue_;
    QTimer detectionPreviewTimer_;
    std::chrono::milliseconds detectionPreviewDelay_{400};
    CancellationToken detectionPreviewCancellation_ = makeCancellation();
    Uuid detectionPreviewGeneration_ = Uuid::random();

    // Job state.
    bool cutBusy_ = false;
    bool studioOverlayPresented_ = false;
    double cutProgress_ = 0;
    std::string cutStatus_;
    CancellationToken cutCancellation_ = makeCancellation();
    bool sourceCheckActive_ = false;  // a source check runs (set by the project loader)

    // Detection settings and their history.
    CutOptions cutOptions_;
    std::vector<CutOptions> optionPast_;
    std::vector<CutOptions> optionFuture_;
    bool applyingOptionHistory_ = false;

    // Project and session backup.
    std::optional<CutProject> project_;
    std::optional<std::string> sessionBackupName_;
    std::optional<std::string> sessionBackupIssue_;
    bool sessionBackupSaved_ = false;
    std::vector<RecentSession> recentSessions_;
    std::optional<std::filesystem::path> sessionBackupURL_;
    std::unique_ptr<SessionBackup> sessionBackupWriter_;
    bool sessionNeedsArchive_ = false;

    // Source and outputs.
    std::optional<std::filesystem::path> source_;
    std::optional<std::filesystem::path> cutOutput_;
    std::filesystem::path outputFolder_;
    AudioOutputFormat audioOutputFormat_ = AudioOutputFormat::m4a;
    bool audioHandoffInfoPresented_ = false;

    // Preview.
    bool previewCuts_ = false;
    bool previewReady_ = false;
    bool isPlaying_ = false;
    std::optional<std::string> sourceReadIssue_;
    // ==== Preview player state
    std::unique_ptr<Player> player_;
    PlaybackClock playbackClock_;
    bool previewSoundMuted_ = false;
    float playbackSpeed_ = 1.0f;
    bool previewLoading_ = false;
    std::optional<std::string> previewIssue_;
    std::optional<Player::ObserverID> observer_;  // periodic observer on player_
    std::optional<Player::ObserverID> previewBoundaryObserver_;
    QPointer<Player> previewBoundaryPlayer_;
    Uuid previewBoundaryGeneration_ = Uuid::random();
    // Removed ranges merged, ascending.
    std::vector<CutRegion> previewRemovedRanges_;
    // The sound and speed reports of the active player.
    std::vector<QMetaObject::Connection> soundConnections_;
    QTimer previewTimeout_;
    std::chrono::milliseconds loadTimeout_{12000};
    // ==== end of preview player state

    // Manual range texts.
    std::string manualStart_ = "0";
    std::string manualEnd_ = "1";

    // Review and batch selection.
    std::optional<Uuid> reviewID_;
    bool batchMode_ = false;
    std::set<Uuid> batchIDs_;
    std::optional<Uuid> batchAnchor_;
    ReviewOrder reviewOrder_ = ReviewOrder::chronological;

    // Audition flags.
    std::optional<Uuid> auditionID_;
    bool auditionLoading_ = false;
    bool auditionIsDraft_ = false;
    bool auditionIsManual_ = false;
    bool auditionIsFull_ = false;
    // ==== Audition state
    AuditionMode auditionMode_ = AuditionMode::original;
    std::unique_ptr<Player> auditionPlayer_;
    std::optional<std::string> auditionStatus_;
    bool repeatAudition_ = false;
    std::optional<AuditionPlan> auditionPlan_;
    Uuid auditionGeneration_ = Uuid::random();
    CancellationToken auditionCancellation_ = makeCancellation();  // the preparation's
    QTimer auditionTimeout_;
    double auditionStartOffset_ = 0;  // playback seconds
    std::optional<Player::ObserverID> auditionObserver_;
    Uuid auditionRestartToken_ = Uuid::random();
    bool auditionRestartPending_ = false;
    // ==== end of audition state

    // Waveform, drag, history, notices.
    std::optional<WaveformWindow> waveformWindow_;
    std::optional<WaveformBoundaryDrag> boundaryDrag_;
    // ==== Detail waveform loader.
    std::optional<WaveformSlice> waveformDetail_;
    bool waveformLoading_ = false;
    std::optional<std::string> waveformIssue_;
    QTimer waveformDetailTimer_;  // the delay before a load; a newer load stops it
    std::chrono::milliseconds waveformDetailDelay_{150};
    CancellationToken waveformCancellation_ = makeCancellation();
    Uuid waveformGeneration_ = Uuid::random();
    // ==== end of detail waveform loader
    CutHistory cutHistory_;
    std::optional<std::string> notice_;
    std::optional<std::string> lastDiagnosticError_;

    // ==== Project files (WorkspaceProject.cpp)
    DesktopServices& desktop();
    // Clears what belonged to the previous project's files; run by loadSource.
    void resetProjectLocation();
    // Install the loaded project; false when its source could not be loaded after all.
    bool didLoadProject(CutProject project, const CancellationToken& token, const std::filesystem::path& selection);
    void projectLoadFailed(std::exception_ptr error, const CancellationToken& token,
                           const std::optional<std::filesystem::path>& selection);
    void showProjectRecovery(ProjectRecovery recovery);
    CancellationToken beginSourceCheck(const std::string& text);
    void sourceCheckProgress(double fraction, const std::string& text, const CancellationToken& token);
    void commitProjectSave(const CutProject& project, const std::filesystem::path& url,
                           const CancellationToken& token);
    void sourceCheckFailed(std::exception_ptr error, const CancellationToken& token);
    void didRelocateSource(CutProject project, const std::filesystem::path& selected,
                           const std::optional<ProjectRecovery>& recovery, double position,
                           const CancellationToken& token);
    void didReselectPreview(const std::filesystem::path& url, double position, const CancellationToken& token);

    std::optional<ProjectRecovery> projectRecovery_;
    bool sourceLocationNeedsSaving_ = false;
    // Linux has no security-scoped access; the selections are kept for what they name.
    std::optional<std::filesystem::path> projectSelectionAccess_;
    std::optional<std::filesystem::path> sourceSelectionAccess_;
    SystemDesktopServices systemDesktop_;
    DesktopServices* desktop_ = nullptr;
    // ==== end of project files

    // ==== Export (WorkspaceExport.cpp, WorkspaceHandoff.cpp)
    void startExport(const CutProject& project, const std::filesystem::path& folder, AudioOutputFormat format);
    bool didExport(const std::filesystem::path& url, std::optional<std::int64_t> channels, const CancellationToken& token);
    void projectSaveFailed(const std::string& text);
    void exportFailed(std::exception_ptr error, const CancellationToken& token);
    void didExportChannelStems(const std::filesystem::path& folder, const CancellationToken& token);
    void handoffFailed(const std::string& text, bool cancelled);

    DiskPreflight diskPreflight_;
    AudioInfoReader exportAudioInfoReader_;
    std::optional<std::int64_t> exportedAudioChannels_;
    bool outputIsHandoff_ = false;
    std::optional<std::filesystem::path> channelStemsFolder_;
    std::optional<std::filesystem::path> handoffXMLURL_;
    std::optional<AudioStreamInfo> exportAudioInfo_;
    bool exportAudioInfoLoading_ = false;
    std::optional<std::string> exportAudioInfoIssue_;
    CancellationToken exportAudioInfoCancellation_ = makeCancellation();
    Uuid exportAudioInfoGeneration_ = Uuid::random();
    // ==== end of export
};

}  // namespace talvian
