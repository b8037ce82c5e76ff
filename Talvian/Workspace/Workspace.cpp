#include "Workspace.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>

#include "Export/SupportDiagnostics.h"
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
      analyzer_(std::move(analyzer)),
      sessionBackupURL_(std::move(sessionBackupURL)),
      player_(players.makeEmptyPlayer()) {
    pool_.setMaxThreadCount(kMaxBackgroundThreads);
    cutStatus_ = L("导入一段口播，先看看哪些停顿可以省去。");
    detectionPreviewTimer_.setSingleShot(true);
    setUpPlayback();

    // Output folder: Downloads/"Talvian 输出", the saved setting over it, "--output" over both.
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    outputFolder_ = fs::path(downloads.toStdString()) / L("Talvian 输出");
    const QSettings settings("Talvian", "Talvian");
    const QString saved = settings.value("talvian.outputFolder").toString();
    if (!saved.isEmpty()) outputFolder_ = fs::path(saved.toStdString());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--output") {
            if (i + 1 < arguments.size()) outputFolder_ = fs::path(arguments[i + 1]);
            break;
        }
    }

    if (sessionBackupURL_) {
        try {
            sessionBackupWriter_ = std::make_unique<SessionBackup>(*sessionBackupURL_);
            recentSessions_ = sessionBackupWriter_->recentSessions();
            sessionBackupIssue_ = sessionBackupWriter_->historyIssue();
        } catch (const MediaError& error) {
            sessionBackupIssue_ = error.message();
        } catch (...) {
            sessionBackupIssue_ = L("本机备份不可写，请先保存项目。");
        }
        try {
            if (auto last = SessionBackup::project(*sessionBackupURL_))
                sessionBackupName_ = fs::path(last->source).filename().string();
        } catch (...) {
            sessionBackupIssue_ = L("上次备份无法读取。原文件已保留，可打开已保存的项目。");
        }
    }
}

Workspace::~Workspace() {
    stopLoaders();
    // Jobs finish on their own; their completions find this object gone and do nothing.
    pool_.waitForDone();
}

void Workspace::stopLoaders() {
    detectionPreviewTimer_.stop();
    detectionPreviewCancellation_->cancel();
    waveformDetailTimer_.stop();
    waveformCancellation_->cancel();
    previewTimeout_.stop();
    auditionTimeout_.stop();
    auditionCancellation_->cancel();
}

// ---- Setters and assignment rules

void Workspace::setNotice(std::optional<std::string> value) {
    publish(notice_, std::move(value));
}
void Workspace::setStudioOverlayPresented(bool value) {
    publish(studioOverlayPresented_, value);
}
void Workspace::setAudioOutputFormat(AudioOutputFormat value) {
    publish(audioOutputFormat_, value);
}
void Workspace::setPreviewCuts(bool value) {
    publish(previewCuts_, value);
}

void Workspace::setCutBusy(bool value) {
    publish(cutBusy_, value);
    if (value) publish(audioHandoffInfoPresented_, false);
}

void Workspace::setCutOptions(const CutOptions& value) {
    if (value == cutOptions_) return;
    const CutOptions old = cutOptions_;
    publish(cutOptions_, value);
    if (!applyingOptionHistory_) recordOptions(old);
    publish(audioHandoffInfoPresented_, false);
    publish(boundaryDrag_, std::optional<WaveformBoundaryDrag>());
    stopAudition(true);
}

void Workspace::setProject(std::optional<CutProject> value) {
    publish(project_, std::move(value));
    publish(audioHandoffInfoPresented_, false);
    backupCurrentProject();
    refreshPreviewCutBoundaries();
}

void Workspace::setSource(std::optional<fs::path> value) {
    publish(source_, std::move(value));
    publish(audioHandoffInfoPresented_, false);
    cancelExportAudioInfo();
}

void Workspace::setReviewID(std::optional<Uuid> value) {
    const bool changedValue = value != reviewID_;
    publish(reviewID_, std::move(value));
    if (changedValue) revealWaveformReview();
}

void Workspace::setManualStart(const std::string& value) {
    const bool changedText = value != manualStart_;
    publish(manualStart_, value);
    if (changedText && auditionIsManual_) stopAudition(true);
}

void Workspace::setManualEnd(const std::string& value) {
    const bool changedText = value != manualEnd_;
    publish(manualEnd_, value);
    if (changedText && auditionIsManual_) stopAudition(true);
}

// ---- Derived state

bool Workspace::needsAnalysis() const {
    if (!project_) return true;
    const CutOptions& analysed = project_->options;
    if (analysed.mode != cutOptions_.mode) return true;
    if (!sameSetting(analysed.thresholdDB, cutOptions_.thresholdDB) ||
        !sameSetting(analysed.minimumSilence, cutOptions_.minimumSilence) ||
        !sameSetting(analysed.padding, cutOptions_.padding))
        return true;
    return analysed.paddingRight != cutOptions_.paddingRight;
}

// ---- Job pattern

void Workspace::runInBackground(std::function<void()> work) {
    pool_.start(std::move(work));
}

void Workspace::postToMain(std::function<void(Workspace&)> step) {
    QPointer<Workspace> self(this);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, step = std::move(step)] {
            if (self) step(*self);
        },
        Qt::QueuedConnection);
}

ProgressCallback Workspace::jobProgress(const CancellationToken& token) {
    return [this, token](double fraction, const std::string& step) {
        postToMain([token, fraction, step](Workspace& workspace) {
            if (workspace.cutCancellation_ != token || !workspace.cutBusy_ || token->isCancelled()) return;
            workspace.setCutProgress(fraction);
            workspace.setCutStatus(step);
        });
    };
}

void Workspace::cancelCut() {
    cutCancellation_->cancel();
    if (sourceCheckActive_) {
        cutCancellation_ = makeCancellation();
        sourceCheckActive_ = false;
        setCutBusy(false);
        setCutProgress(0);
        setCutStatus(L("已取消原片核对，当前剪辑与项目文件未改动。"));
    }
}

void Workspace::cutFailed(const std::string& text) {
    lastDiagnosticError_ = SupportDiagnostics::privateError(text);
    setCutBusy(false);
    setCutStatus(text);
    setNotice(text);
}

}  // namespace talvian
