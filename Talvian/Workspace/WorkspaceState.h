#pragma once
// The controller's published state, grouped into value slices. Each slice is a plain value
// with its own change signal on the `Workspace`, so that a view subscribes to what it shows;
// an operation publishes once, at its end, only the slices whose value changed.
//
// Values only; main thread (they are members of the controller).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Export/AuditionPlan.h"
#include "Model/AudioStreamInfo.h"
#include "Model/CoreTypes.h"
#include "Model/CutProject.h"
#include "Model/ProjectSelection.h"
#include "Model/WaveformBoundaryDrag.h"
#include "Model/WaveformSlice.h"
#include "Model/WaveformWindow.h"
#include "Support/SessionBackup.h"

namespace talvian {

// The order of the review list.
enum class ReviewOrder { chronological, longestFirst };
inline constexpr ReviewOrder kAllReviewOrders[] = {ReviewOrder::chronological, ReviewOrder::longestFirst};
const char* rawValue(ReviewOrder order);
std::optional<ReviewOrder> reviewOrderFromRaw(std::string_view raw);

// The source, its project with the edit history, the session backup and the last output.
struct DocumentState {
    std::optional<std::filesystem::path> source;
    std::optional<CutProject> project;
    // Counts the changes of the cut history, which lives beside the slice: it holds up to 50
    // whole cut lists, too many to copy and compare once per operation.
    std::uint64_t cutHistoryRevision = 0;
    // The detection settings before (past) and after (future) the current ones; newest last.
    std::vector<CutOptions> optionPast;
    std::vector<CutOptions> optionFuture;
    std::optional<std::string> sessionBackupName;
    std::optional<std::string> sessionBackupIssue;
    bool sessionBackupSaved = false;
    std::vector<RecentSession> recentSessions;
    // The recovery card of an open that failed because of its source.
    std::optional<ProjectRecovery> projectRecovery;
    // The open project points at a relocated source and has not been saved since.
    bool sourceLocationNeedsSaving = false;
    // The last delivered result: the cut file (or the hand-off package folder).
    std::optional<std::filesystem::path> cutOutput;
    bool operator==(const DocumentState&) const = default;
};

// The one running job and the messages for the user.
struct JobState {
    bool busy = false;
    double progress = 0;  // 0 … 1
    std::string status;
    std::optional<std::string> notice;
    bool studioOverlayPresented = false;
    bool operator==(const JobState&) const = default;
};

// The detection settings and the preview of an analysis with other settings.
struct DetectionState {
    CutOptions cutOptions;
    std::optional<CutProject> preview;
    bool calculating = false;
    std::optional<std::string> issue;
    bool operator==(const DetectionState&) const = default;
};

// Review order, the reviewed pause, the batch selection and the typed manual range.
struct ReviewState {
    ReviewOrder order = ReviewOrder::chronological;
    std::optional<Uuid> reviewID;
    bool batchMode = false;
    std::set<Uuid> batchIDs;
    std::optional<Uuid> batchAnchor;
    std::string manualStart = "0";
    std::string manualEnd = "1";
    bool operator==(const ReviewState&) const = default;
};

// The zoomed window, the live edge drag and the detail waveform of the window.
struct WaveformState {
    std::optional<WaveformWindow> window;  // none: the whole file
    std::optional<WaveformBoundaryDrag> boundaryDrag;
    std::optional<WaveformSlice> detail;
    bool loading = false;
    std::optional<std::string> issue;
    bool operator==(const WaveformState&) const = default;
};

// One audition from its start to its stop. `phase` is what the status line reports:
// preparing until the player is ready and positioned, then playing (also while a loop
// restarts), paused or ended.
struct AuditionState {
    enum class Phase { preparing, playing, paused, ended };
    Uuid id;  // the region's id, or a fresh id for the whole edit
    AuditionPlan plan;
    bool draft = false;   // an unsaved variant: a region being adjusted or a typed range
    bool manual = false;  // a typed manual range that is not yet added
    bool full = false;    // the whole edited result
    Phase phase = Phase::preparing;
    bool operator==(const AuditionState&) const = default;
};

// Which player the transport, the sound controls and the cursor follow.
enum class ActivePlayer { preview, audition };

// The preview player, the transport and the audition.
struct PlaybackState {
    bool previewReady = false;
    bool previewLoading = false;
    std::optional<std::string> previewIssue;  // why the preview cannot be shown
    bool isPlaying = false;
    bool previewCuts = false;  // skip removed ranges while the preview plays
    bool soundMuted = false;   // the active player is muted or at volume 0
    float speed = 1.0f;        // the active player's default rate
    std::optional<std::string> sourceReadIssue;
    std::optional<AuditionState> audition;
    AuditionMode auditionMode = AuditionMode::original;  // of the last audition started
    bool repeatAudition = false;
    ActivePlayer activePlayer = ActivePlayer::preview;
    // Counts the player objects made: a view that holds a player takes the new one.
    std::uint64_t playerRevision = 0;
    bool operator==(const PlaybackState&) const = default;
};

// Export settings, the outputs besides the cut file, and the export panel's audio facts.
struct ExportState {
    std::filesystem::path outputFolder;
    AudioOutputFormat audioOutputFormat = AudioOutputFormat::m4a;
    bool audioHandoffInfoPresented = false;
    std::optional<std::int64_t> exportedAudioChannels;
    bool outputIsHandoff = false;
    std::optional<std::filesystem::path> channelStemsFolder;
    std::optional<std::filesystem::path> handoffXMLURL;
    std::optional<AudioStreamInfo> audioInfo;
    bool audioInfoLoading = false;
    std::optional<std::string> audioInfoIssue;
    bool operator==(const ExportState&) const = default;
};

}  // namespace talvian
