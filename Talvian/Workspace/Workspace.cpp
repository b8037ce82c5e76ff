#include "WorkspaceInternals.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>
#include <system_error>

#include "Export/SupportDiagnostics.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

// Two settings count as equal when they differ by at most this (rounding of sliders).
constexpr double kOptionTolerance = 1e-12;
// Runner calls block a pool thread for a child's whole life.
constexpr int kMaxBackgroundThreads = 64;

bool sameSetting(double a, double b) {
    return std::fabs(a - b) <= kOptionTolerance;
}

// A folder named on the command line is meant from the folder the program was started in: it
// is fixed once, so the folder shown and the folder written to stay the same whole path.
fs::path absoluteFolder(const std::string& argument) {
    std::error_code error;
    fs::path folder = fs::absolute(fs::path(argument), error).lexically_normal();
    if (error) return fs::path(argument);
    // "out/" names the folder "out", not an empty name inside it.
    return !folder.has_filename() && folder.has_relative_path() ? folder.parent_path() : folder;
}

// The file at `url`, if one can be read there (nothing when it is gone or unreadable).
std::optional<SourceMetadata> fileAt(const fs::path& url) {
    try {
        return SourceMetadata::read(url);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

// True when the file an analysis started on is no longer at its path: nothing is there any
// more, or another file (another inode) has taken the name.
bool sourceLeft(const fs::path& url, const std::optional<SourceMetadata>& started) {
    std::error_code error;
    if (!fs::exists(url, error) && !error) return true;
    const auto now = fileAt(url);
    return started && now && (now->device != started->device || now->inode != started->inode);
}

// An analysis (import, re-analysis, detection preview) whose source was moved, deleted or
// replaced while it ran fails for that reason: what the decode made of the vanished file
// (a failed child, an unreadable path, a changed size) would send the user looking at the
// wrong thing. A cancellation stays a cancellation.
Workspace::Analyzer reportingMissingSource(Workspace::Analyzer analyzer) {
    if (!analyzer) return analyzer;
    return
        [analyzer = std::move(analyzer)](const fs::path& url, const CutOptions& options,
                                         const CancellationToken& token, const ProgressCallback& progress) {
            const std::optional<SourceMetadata> started = fileAt(url);
            auto missing = [&](std::string diagnostics) {
                return MediaError(L("找不到素材文件，请重新导入。"), std::move(diagnostics));
            };
            auto judged = [&] { return !(token && token->isCancelled()) && sourceLeft(url, started); };
            try {
                return analyzer(url, options, token, progress);
            } catch (const OperationCancelled&) {
                throw;
            } catch (const UserError& error) {
                if (judged()) throw missing(error.diagnostics());
                throw;
            } catch (...) {
                if (judged()) throw missing({});
                throw;
            }
        };
}

}  // namespace

const char* rawValue(ReviewOrder order) {
    return order == ReviewOrder::chronological ? "chronological" : "longestFirst";
}

std::optional<ReviewOrder> reviewOrderFromRaw(std::string_view raw) {
    if (raw == "chronological") return ReviewOrder::chronological;
    if (raw == "longestFirst") return ReviewOrder::longestFirst;
    return std::nullopt;
}

Workspace::Internals::Internals(Workspace& owner, PlayerFactory& players,
                                std::optional<fs::path> sessionBackupURL, Analyzer analyzer)
    : owner(owner),
      playerFactory_(players),
      analyzer_(reportingMissingSource(std::move(analyzer))),
      pool_(std::make_unique<QThreadPool>()),
      sessionBackupURL_(std::move(sessionBackupURL)),
      preview_(std::make_unique<OwnedPlayer>(players.makeEmptyPlayer())) {}

Workspace::Workspace(PlayerFactory& players, std::optional<fs::path> sessionBackupURL,
                     std::vector<std::string> arguments, Analyzer analyzer, QObject* parent)
    : QObject(parent),
      d_(std::make_unique<Internals>(*this, players, std::move(sessionBackupURL), std::move(analyzer))) {
    // The start values are published like any operation (before anyone can listen).
    const Operation operation(*this);
    d_->pool_->setMaxThreadCount(kMaxBackgroundThreads);
    d_->setCutStatus(L("导入一段口播，先看看哪些停顿可以省去。"));
    d_->setUpPlayback();

    // Output folder: Downloads/"Talvian 输出", the saved setting over it, "--output" over both.
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    fs::path outputFolder = fs::path(downloads.toStdString()) / L("Talvian 输出");
    const QSettings settings("Talvian", "Talvian");
    const QString saved = settings.value("talvian.outputFolder").toString();
    if (!saved.isEmpty()) outputFolder = fs::path(saved.toStdString());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--output") {
            if (i + 1 < arguments.size()) outputFolder = absoluteFolder(arguments[i + 1]);
            break;
        }
    }
    d_->set(&ExportState::outputFolder, std::move(outputFolder));

    if (d_->sessionBackupURL_) {
        try {
            d_->sessionBackupWriter_ = std::make_unique<SessionBackup>(*d_->sessionBackupURL_);
            d_->set(&DocumentState::recentSessions, d_->sessionBackupWriter_->recentSessions());
            d_->set(&DocumentState::sessionBackupIssue, d_->sessionBackupWriter_->historyIssue());
        } catch (...) {
            d_->set(&DocumentState::sessionBackupIssue,
                    std::optional<std::string>(
                        describeError(std::current_exception(), L("本机备份不可写，请先保存项目。"))));
        }
        try {
            if (auto last = SessionBackup::project(*d_->sessionBackupURL_))
                d_->set(&DocumentState::sessionBackupName,
                        std::optional<std::string>(fs::path(last->source).filename().string()));
        } catch (...) {
            // Whatever the reason, the same advice: the saved projects are still there. A damaged
            // list of earlier edits is still said after it, so neither is dropped without a word.
            std::string issue = L("上次备份无法读取。原文件已保留，可打开已保存的项目。");
            if (document().sessionBackupIssue) issue += *document().sessionBackupIssue;
            d_->set(&DocumentState::sessionBackupIssue, std::optional<std::string>(std::move(issue)));
        }
    }
}

// ---- The published state and what only the controller holds

const DocumentState& Workspace::document() const {
    return d_->document();
}
const JobState& Workspace::job() const {
    return d_->job();
}
const DetectionState& Workspace::detection() const {
    return d_->detection();
}
const ReviewState& Workspace::review() const {
    return d_->review();
}
const WaveformState& Workspace::waveform() const {
    return d_->waveform();
}
const PlaybackState& Workspace::playback() const {
    return d_->playback();
}
const ExportState& Workspace::exports() const {
    return d_->exports();
}
const WorkspaceGuards& Workspace::guards() const {
    return d_->guards_;
}
PlaybackClock& Workspace::playbackClock() {
    return d_->playbackClock_;
}
const CutHistory& Workspace::cutHistory() const {
    return d_->cutHistory_;
}
const std::optional<std::string>& Workspace::lastDiagnosticError() const {
    return d_->lastDiagnosticError_;
}

// ---- Hooks of the application and the tests

void Workspace::setWindow(WorkspaceWindow* window) {
    d_->window_ = window;
}
void Workspace::setDesktopServices(DesktopServices* services) {
    d_->desktop_ = services;
}
void Workspace::setDiskPreflight(DiskPreflight preflight) {
    d_->diskPreflight_ = std::move(preflight);
}
void Workspace::setExportAudioInfoReader(AudioInfoReader reader) {
    d_->exportAudioInfoReader_ = std::move(reader);
}
void Workspace::setDetectionPreviewDelay(std::chrono::milliseconds delay) {
    d_->detectionLoader_.setDelay(delay);
}
void Workspace::setWaveformDetailDelay(std::chrono::milliseconds delay) {
    d_->waveformLoader_.setDelay(delay);
}
void Workspace::setLoadTimeout(std::chrono::milliseconds timeout) {
    d_->loadTimeout_ = timeout;
}
void Workspace::setTeardownBound(std::chrono::milliseconds bound) {
    d_->teardownBound_ = bound;
}

// ---- Setters and assignment rules

void Workspace::setNotice(std::optional<std::string> value) {
    const Operation operation(*this);
    d_->set(&JobState::notice, std::move(value));
}
void Workspace::setStudioOverlayPresented(bool value) {
    const Operation operation(*this);
    d_->set(&JobState::studioOverlayPresented, value);
}
void Workspace::setAudioOutputFormat(AudioOutputFormat value) {
    const Operation operation(*this);
    d_->set(&ExportState::audioOutputFormat, value);
}
void Workspace::setPreviewCuts(bool value) {
    const Operation operation(*this);
    if (value == playback().previewCuts) return;
    d_->set(&PlaybackState::previewCuts, value);
    d_->refreshPreviewCutBoundaries();
}

void Workspace::Internals::setCutBusy(bool value) {
    set(&JobState::busy, value);
    if (value) set(&ExportState::audioHandoffInfoPresented, false);
}

void Workspace::setCutOptions(const CutOptions& value) {
    const Operation operation(*this);
    if (value == detection().cutOptions) return;
    const CutOptions old = detection().cutOptions;
    d_->set(&DetectionState::cutOptions, value);
    if (!d_->applyingOptionHistory_) d_->recordOptions(old);
    d_->set(&ExportState::audioHandoffInfoPresented, false);
    d_->set(&WaveformState::boundaryDrag, std::nullopt);
    stopAudition(true);
}

void Workspace::Internals::setProject(std::optional<CutProject> value) {
    set(&DocumentState::project, std::move(value));
    set(&ExportState::audioHandoffInfoPresented, false);
    backupCurrentProject();
    refreshPreviewCutBoundaries();
}

void Workspace::Internals::setSource(std::optional<fs::path> value) {
    set(&DocumentState::source, std::move(value));
    set(&ExportState::audioHandoffInfoPresented, false);
    resetExportAudioInfo();
}

void Workspace::Internals::setReviewID(std::optional<Uuid> value) {
    const bool changedValue = value != review().reviewID;
    set(&ReviewState::reviewID, std::move(value));
    if (changedValue) revealWaveformReview();
}

void Workspace::setManualStart(const std::string& value) {
    const Operation operation(*this);
    const bool changedText = value != review().manualStart;
    d_->set(&ReviewState::manualStart, value);
    if (changedText && auditionIsManual()) stopAudition(true);
}

void Workspace::setManualEnd(const std::string& value) {
    const Operation operation(*this);
    const bool changedText = value != review().manualEnd;
    d_->set(&ReviewState::manualEnd, value);
    if (changedText && auditionIsManual()) stopAudition(true);
}

void Workspace::Internals::clearOptionHistory() {
    set(&DocumentState::optionPast, std::vector<CutOptions>());
    set(&DocumentState::optionFuture, std::vector<CutOptions>());
}

void Workspace::Internals::resetCutHistory() {
    if (!cutHistory_.canUndo() && !cutHistory_.canRedo()) return;
    cutHistory_ = CutHistory();
    bumpCutHistory();
}

// ---- Derived state

bool Workspace::Internals::needsAnalysis() const {
    if (!document().project) return true;
    const CutOptions& analysed = document().project->options;
    const CutOptions& current = detection().cutOptions;
    if (analysed.mode != current.mode) return true;
    if (!sameSetting(analysed.thresholdDB, current.thresholdDB) ||
        !sameSetting(analysed.minimumSilence, current.minimumSilence) ||
        !sameSetting(analysed.padding, current.padding))
        return true;
    return analysed.paddingRight != current.paddingRight;
}

// ---- Background work

void Workspace::Internals::runInBackground(std::function<void(const MainThreadPost&)> work) {
    pool_->start([work = std::move(work), post = MainThreadPost(owner)] { work(post); });
}

void Workspace::MainThreadPost::operator()(std::function<void(Internals&)> step) const {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [workspace = workspace_, step = std::move(step)] {
            if (!workspace) return;
            const Operation operation(*workspace);
            step(*workspace->d_);
        },
        Qt::QueuedConnection);
}

void Workspace::Internals::postToMain(std::function<void(Internals&)> step) {
    const MainThreadPost post(owner);
    post(std::move(step));
}

ProgressCallback Workspace::Internals::jobProgress(const CancellationToken& token) {
    return [post = MainThreadPost(owner), token](double fraction, const std::string& step) {
        post([token, fraction, step](Internals& in) { in.job_.report(token, fraction, step); });
    };
}

// ---- The job

void Workspace::cancelCut() {
    const Operation operation(*this);
    d_->job_.cancel();
}

}  // namespace talvian
