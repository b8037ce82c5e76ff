#include "Workspace.h"

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

Workspace::Workspace(PlayerFactory& players, std::optional<fs::path> sessionBackupURL,
                     std::vector<std::string> arguments, Analyzer analyzer, QObject* parent)
    : QObject(parent),
      playerFactory_(players),
      analyzer_(reportingMissingSource(std::move(analyzer))),
      pool_(std::make_unique<QThreadPool>()),
      sessionBackupURL_(std::move(sessionBackupURL)),
      preview_(std::make_unique<OwnedPlayer>(players.makeEmptyPlayer())) {
    // The start values are published like any operation (before anyone can listen).
    const Operation operation(*this);
    pool_->setMaxThreadCount(kMaxBackgroundThreads);
    setCutStatus(L("导入一段口播，先看看哪些停顿可以省去。"));
    setUpPlayback();

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
    set(export_, &ExportState::outputFolder, std::move(outputFolder));

    if (sessionBackupURL_) {
        try {
            sessionBackupWriter_ = std::make_unique<SessionBackup>(*sessionBackupURL_);
            set(document_, &DocumentState::recentSessions, sessionBackupWriter_->recentSessions());
            set(document_, &DocumentState::sessionBackupIssue, sessionBackupWriter_->historyIssue());
        } catch (...) {
            set(document_, &DocumentState::sessionBackupIssue,
                std::optional<std::string>(
                    describeError(std::current_exception(), L("本机备份不可写，请先保存项目。"))));
        }
        try {
            if (auto last = SessionBackup::project(*sessionBackupURL_))
                set(document_, &DocumentState::sessionBackupName,
                    std::optional<std::string>(fs::path(last->source).filename().string()));
        } catch (...) {
            // Whatever the reason, the same advice: the saved projects are still there. A damaged
            // list of earlier edits is still said after it, so neither is dropped without a word.
            std::string issue = L("上次备份无法读取。原文件已保留，可打开已保存的项目。");
            if (document_->sessionBackupIssue) issue += *document_->sessionBackupIssue;
            set(document_, &DocumentState::sessionBackupIssue, std::optional<std::string>(std::move(issue)));
        }
    }
}

// ---- Setters and assignment rules

void Workspace::setNotice(std::optional<std::string> value) {
    const Operation operation(*this);
    set(jobState_, &JobState::notice, std::move(value));
}
void Workspace::setStudioOverlayPresented(bool value) {
    const Operation operation(*this);
    set(jobState_, &JobState::studioOverlayPresented, value);
}
void Workspace::setAudioOutputFormat(AudioOutputFormat value) {
    const Operation operation(*this);
    set(export_, &ExportState::audioOutputFormat, value);
}
void Workspace::setPreviewCuts(bool value) {
    const Operation operation(*this);
    if (value == playback().previewCuts) return;
    set(playback_, &PlaybackState::previewCuts, value);
    refreshPreviewCutBoundaries();
}

void Workspace::setCutBusy(bool value) {
    set(jobState_, &JobState::busy, value);
    if (value) set(export_, &ExportState::audioHandoffInfoPresented, false);
}

void Workspace::setCutOptions(const CutOptions& value) {
    const Operation operation(*this);
    if (value == detection().cutOptions) return;
    const CutOptions old = detection().cutOptions;
    set(detection_, &DetectionState::cutOptions, value);
    if (!applyingOptionHistory_) recordOptions(old);
    set(export_, &ExportState::audioHandoffInfoPresented, false);
    set(waveform_, &WaveformState::boundaryDrag, std::nullopt);
    stopAudition(true);
}

void Workspace::setProject(std::optional<CutProject> value) {
    set(document_, &DocumentState::project, std::move(value));
    set(export_, &ExportState::audioHandoffInfoPresented, false);
    backupCurrentProject();
    refreshPreviewCutBoundaries();
}

void Workspace::setSource(std::optional<fs::path> value) {
    set(document_, &DocumentState::source, std::move(value));
    set(export_, &ExportState::audioHandoffInfoPresented, false);
    resetExportAudioInfo();
}

void Workspace::setReviewID(std::optional<Uuid> value) {
    const bool changedValue = value != review().reviewID;
    set(review_, &ReviewState::reviewID, std::move(value));
    if (changedValue) revealWaveformReview();
}

void Workspace::setManualStart(const std::string& value) {
    const Operation operation(*this);
    const bool changedText = value != review().manualStart;
    set(review_, &ReviewState::manualStart, value);
    if (changedText && auditionIsManual()) stopAudition(true);
}

void Workspace::setManualEnd(const std::string& value) {
    const Operation operation(*this);
    const bool changedText = value != review().manualEnd;
    set(review_, &ReviewState::manualEnd, value);
    if (changedText && auditionIsManual()) stopAudition(true);
}

void Workspace::clearOptionHistory() {
    set(document_, &DocumentState::optionPast, std::vector<CutOptions>());
    set(document_, &DocumentState::optionFuture, std::vector<CutOptions>());
}

void Workspace::resetCutHistory() {
    if (!cutHistory_.canUndo() && !cutHistory_.canRedo()) return;
    cutHistory_ = CutHistory();
    bumpCutHistory();
}

// ---- Derived state

bool Workspace::needsAnalysis() const {
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

void Workspace::runInBackground(std::function<void(const MainThreadPost&)> work) {
    pool_->start([work = std::move(work), post = MainThreadPost(*this)] { work(post); });
}

void Workspace::MainThreadPost::operator()(std::function<void(Workspace&)> step) const {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [workspace = workspace_, step = std::move(step)] {
            if (!workspace) return;
            const Operation operation(*workspace);
            step(*workspace);
        },
        Qt::QueuedConnection);
}

void Workspace::postToMain(std::function<void(Workspace&)> step) {
    const MainThreadPost post(*this);
    post(std::move(step));
}

ProgressCallback Workspace::jobProgress(const CancellationToken& token) {
    return [post = MainThreadPost(*this), token](double fraction, const std::string& step) {
        post([token, fraction, step](Workspace& workspace) { workspace.job_.report(token, fraction, step); });
    };
}

// ---- The job

void Workspace::cancelCut() {
    const Operation operation(*this);
    job_.cancel();
}

void Workspace::cutFailed(const std::string& text) {
    const Operation operation(*this);
    job_.finish(JobOutcome::failed, text);
}

}  // namespace talvian
