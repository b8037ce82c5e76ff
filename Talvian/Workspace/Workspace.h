#pragma once
// The one controller of the application: it holds every piece of state the window shows and
// runs every user operation. Main thread only; background work comes back through queued
// calls and is applied only while its token or generation is current.
//
// Views read the state as `const&` value slices (WorkspaceState.h) and guards (whether each
// command can act, WorkspaceGuards.h). Every operation (a call, a background completion, a
// timer, a player report) publishes once, at its end: the signal of each slice whose value
// changed, then guardsChanged() when the guards recomputed from them changed, then changed().
// Nested operations publish from the outermost one, so no observer sees half an operation.
// The playback position lives on PlaybackClock. The players, loaders, backup writer and edit
// history are the controller's own (WorkspaceInternals.h, for its own files only).

#include <QObject>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "WorkspaceGuards.h"
#include "WorkspaceState.h"

namespace talvian {

class CutHistory;
class DesktopServices;
class PlaybackClock;
class Player;
class PlayerFactory;
class WorkspaceWindow;
struct DiskSpaceShortfall;

class Workspace : public QObject {
    Q_OBJECT

  public:
    // Work that runs on the pool (any thread): a job's analysis (VevazAvezud::analyze in the
    // application), the free-space check before an export, the export panel's audio read.
    using Analyzer = std::function<CutProject(const std::filesystem::path&, const CutOptions&,
                                              const CancellationToken&, const ProgressCallback&)>;
    using DiskPreflight = std::function<std::optional<DiskSpaceShortfall>(
        const CutProject&, const std::filesystem::path&, AudioOutputFormat, const CancellationToken&)>;
    using AudioInfoReader =
        std::function<AudioStreamInfo(const std::filesystem::path&, const CancellationToken&)>;

    // players: makes the preview and audition players and hands over the media entry points
    // that exports and auditions call (it must outlive the controller). sessionBackupURL: the
    // last-session file; nullopt disables the backup. `arguments`: the launch arguments
    // ("--output <folder>"). Starts no task. Without an analyzer analyses fail at once; one
    // whose source moved or changed fails with "找不到素材文件，请重新导入。".
    Workspace(PlayerFactory& players, std::optional<std::filesystem::path> sessionBackupURL,
              std::vector<std::string> arguments = {}, Analyzer analyzer = {}, QObject* parent = nullptr);
    // Cancels all work and waits at most the teardown bound; later reports find it gone.
    ~Workspace() override;

    // ==== The published state as it stands (the signals below say when it changed).
    const DocumentState& document() const;
    const JobState& job() const;
    const DetectionState& detection() const;
    const ReviewState& review() const;
    const WaveformState& waveform() const;
    const PlaybackState& playback() const;
    const ExportState& exports() const;     // `export` is a keyword
    const WorkspaceGuards& guards() const;  // as the last operation left them
    PlaybackClock& playbackClock();         // the position in source seconds; never replaced

    // ==== Queries computed from the state.
    // The cut list in the review order, the reviewed pause's place in it, and that pause.
    std::vector<CutRegion> reviewCuts() const;
    std::optional<std::size_t> reviewIndex() const;
    std::optional<CutRegion> reviewCut() const;
    // The zoomed window, else [0, duration], or [0, 0] without a project.
    WaveformWindow visibleWaveformWindow() const;
    // The typed range's hint: its problem, else its length and what it would add.
    std::string manualCutHint() const;
    // The running audition: its id (a fresh one for the whole edit), its status line (none
    // without one), the source seconds of a one-region plan, and its kind.
    std::optional<Uuid> auditionID() const;
    std::optional<std::string> auditionStatus() const;
    std::optional<std::pair<double, double>> auditionSourceRange() const;
    bool auditionIsDraft() const { return playback().audition && playback().audition->draft; }
    bool auditionIsManual() const { return playback().audition && playback().audition->manual; }
    bool auditionIsFull() const { return playback().audition && playback().audition->full; }
    // The project with one region moved, for a draft audition; none when the move is invalid.
    std::optional<CutProject> adjustmentProject(const Uuid& id, double start, double end) const;
    // The format the export writes (m4a for a video source), and the export panel's facts.
    AudioOutputFormat exportFormat() const;
    std::optional<std::filesystem::path> exportAudioSource() const;
    bool exportCopiesOriginal() const;
    std::optional<std::string> exportAudioTrackNote() const;
    std::optional<std::string> exportAudioSpecLabel() const;
    // The edit history; the privacy-filtered text of the last failure (for diagnostics); the
    // preview player (an empty one before any source); the audition player while one runs;
    // the file browser the views reveal outputs and open links with.
    const CutHistory& cutHistory() const;
    const std::optional<std::string>& lastDiagnosticError() const;
    Player& player() const;
    Player* auditionPlayer() const;
    DesktopServices& desktopServices();

    // ==== Texts and values that need no controller. A typed time (seconds, m:ss, h:mm:ss,
    // full-width colons too); why a typed range cannot be added, or a typed time used (none
    // when it can); "44.1 kHz · 双声道"; the transport's speeds in menu order.
    static std::optional<double> manualSeconds(const std::string& text);
    static std::optional<std::string> manualRangeIssue(const std::string& start, const std::string& end,
                                                       const CutProject& project);
    static std::optional<std::string> sourceTimeIssue(const std::string& text, double durationSeconds);
    static std::string audioSpecText(std::int64_t sampleRate, std::int64_t channels);
    static constexpr float kPlaybackSpeeds[] = {0.5f, 1.0f, 1.25f, 1.5f, 2.0f};

    // ==== Commands. Each is one operation; one whose guard is false does nothing.
    // ---- Messages and the job (cancelCut asks the running job to stop)
    void setNotice(std::optional<std::string> value);
    void setStudioOverlayPresented(bool value);
    void cancelCut();
    // Cancels all work, stops every child and waits at most `bound` for the background
    // clean-up. True when nothing runs any more.
    bool shutdown(std::chrono::milliseconds bound);
    // Removes on the pool what killed instances left in the temporary and output folders
    // (never an entry a running instance locks). Run once at start.
    void removeStaleWorkInBackground();

    // ---- Import, analysis and the detection settings with their preview
    void importFiles();
    void sample();
    // False when the source was refused (a job runs, no file, an edit on screen neither backed
    // up nor saved); the notice says why.
    bool loadSource(const std::filesystem::path& url, bool analyzeImmediately);
    void analyze();
    void restoreAnalyzedOptions();
    void setCutOptions(const CutOptions& value);
    void previewDetection(const CutOptions& options);
    bool applyDetectionPreview(const CutOptions& options);
    void cancelDetectionPreview();

    // ---- Cut editing and undo (one undo step per edit)
    void toggleCut(const Uuid& id);
    void toggleReviewCut();
    void toggleSelectedCuts();
    void setAllCuts(bool remove);
    bool applyBatch(bool remove);
    // Moves both edges of one region; false when the edit rules refused it.
    bool adjustCut(const Uuid& id, double start, double end);
    void undoInContext();  // the text being typed, else the settings, else the cut list
    void redoInContext();
    void undoCut();
    void redoCut();

    // ---- Review order, navigation and batch selection
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
    bool addManualCut(const std::string& start, const std::string& end);  // true when added
    void resetManualMarks();
    // The active player's position (source time) into the start or end text; stops playback.
    bool captureManualPosition(CutBoundary edge);

    // ---- Waveform window, clicks and edge drags
    // Stores the window (none while it spans the file), reloading the detail when it changed.
    void setWaveformWindow(std::optional<WaveformWindow> window);
    // In: half the span, at most 60 s; out: double, the whole file from 60 s up. Centred on
    // the reviewed pause, else on the playhead.
    void zoomWaveform(bool inward);
    // Half a window forward (+1) or back (-1); nothing with the whole file shown.
    void panWaveform(int step);
    // Frames the reviewed pause with 1.2 s either side, at least 12 s.
    void focusWaveformReview();
    void fitWaveform();
    // A click stops playback, reviews the pause hit (or none) and seeks there; a drag
    // batch-selects every pause the range touches.
    void navigateWaveform(double seconds);
    void selectWaveformRange(double from, double to);
    void reloadWaveformDetail();  // after the delay; also the retry
    // The live drag of an edge of the reviewed pause; a view abandons it with nullopt.
    void setBoundaryDrag(std::optional<WaveformBoundaryDrag> value);
    void beginWaveformBoundary(const Uuid& id, CutBoundary edge);
    // The handle's translation ÷ max(view width, 1); the drag ends when the project changed.
    void updateWaveformBoundary(double translationFraction);
    void finishWaveformBoundary();  // one undo step when the project still matches
    // Moves one edge by 0.01 s (coarse: 0.1 s) in `direction` (+1/-1) under the drag's clamps;
    // true only when the edit was applied (a refused edit changes neither project nor status).
    bool nudgeWaveformBoundary(const Uuid& id, CutBoundary edge, int direction, bool coarse);

    // ---- Playback and auditions
    // Play or pause the active player (restarts from 0 within 0.05 s of the end).
    void togglePlayback();
    void setPlaybackSpeed(float speed);              // one of kPlaybackSpeeds; anything else is ignored
    void setPreviewCuts(bool value);                 // skip the removed ranges while the preview plays
    bool jumpToSourceTime(const std::string& text);  // playback and selection; true when moved
    void setRepeatAudition(bool on);
    // The region with this id; the pause under review (else the first of the review order);
    // the typed range before it is added; the whole edited result from the source position.
    void audition(const Uuid& id, AuditionMode mode);
    void auditionReview(AuditionMode mode);
    void auditionManual(AuditionMode mode);
    void auditionFull();
    // Common start of every one-region audition (draft: an unsaved variant in `project`).
    void beginAudition(const CutRegion& cut, const CutProject& project, AuditionMode mode, bool draft,
                       bool manual);
    // Ends the audition (returnToSource: the preview goes on at the cursor), or only the draft
    // audition of that region.
    void stopAudition(bool returnToSource);
    void stopAdjustmentAudition(const Uuid& id);

    // ---- Project files and the session backup: a panel asks for the file, then the begin…
    //      job runs (also for the session resume).
    void openProject();
    void saveProject();
    void retryProjectLoad();
    void dismissProjectRecovery();
    void relocateSource(const std::optional<ProjectRecovery>& recovery);
    void reselectPreviewSource();
    void beginProjectLoad(const std::filesystem::path& selection);
    void beginProjectSave(const CutProject& project, const std::filesystem::path& url);
    // The last session, one recent session, or the backup file in the file browser.
    void resumeSessionBackup();
    void resumeRecentSession(const Uuid& id);
    void revealSessionBackup();
    void retrySessionBackup();  // a failure again leaves its reason as the notice
    void exportDiagnostics();   // where the user chooses; only a failed write shows a notice

    // ---- Export, its settings, stems and hand-off
    // Exports the open, analysed project into the output folder after a free-space check.
    void exportCut();
    void setAudioOutputFormat(AudioOutputFormat value);
    void setAudioHandoffInfoPresented(bool value);
    void chooseOutput();        // with a panel, remembered
    void openOutput();          // in the file browser
    void exportChannelStems();  // one WAV per channel of an export of 3 or more
    // A hand-off package for a video source; for an audio source the information sheet, whose
    // action writes a WAV cut file through the ordinary export.
    void exportHandoff();
    void exportAudioHandoffWAV();
    // Reads the audio format of exportAudioSource() in the background while the export panel
    // shows (once per source; none clears it); it ends with audioInfoLoading off. A cancel
    // keeps the facts read.
    void readExportAudioInfo();
    void cancelExportAudioInfo();
    // The export panel's codec read: `read` runs on the pool with the token of a load that
    // replaces the previous one (quitting cancels and waits for it); `apply` runs on the main
    // thread while that load is current. A read that throws gives nullopt.
    using CodecRead = std::function<std::optional<std::string>(const CancellationToken&)>;
    void readExportCodecs(CodecRead read, std::function<void(const std::optional<std::string>&)> apply);
    void cancelExportCodecs();

    // ==== Hooks of the application and the tests.
    void setWindow(WorkspaceWindow* window);
    void setDesktopServices(DesktopServices* services);  // not owned; none: the running desktop
    void setDiskPreflight(DiskPreflight preflight);
    void setExportAudioInfoReader(AudioInfoReader reader);
    // The detection preview's debounce (400 ms), the detail load's delay (150 ms), the load
    // time of a slow preview or audition (12 s), destruction's wait (3 s); tests shorten them.
    void setDetectionPreviewDelay(std::chrono::milliseconds delay);
    void setWaveformDetailDelay(std::chrono::milliseconds delay);
    void setLoadTimeout(std::chrono::milliseconds timeout);
    void setTeardownBound(std::chrono::milliseconds bound);

  signals:
    // One per slice, at most once per operation and only when the slice's value changed.
    void documentChanged();
    void jobChanged();
    void detectionChanged();
    void reviewChanged();
    void waveformChanged();
    void playbackChanged();
    void exportChanged();
    void guardsChanged();  // after the slice signals
    // Something changed: once per operation that changed any slice or the guards, last.
    void changed();

  private:
    // The state and the steps only the controller's own files see (WorkspaceInternals.h).
    struct Internals;
    class Operation;
    class MainThreadPost;
    friend class Job;

    std::unique_ptr<Internals> d_;
};

}  // namespace talvian
