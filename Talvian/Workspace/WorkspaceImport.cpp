// Import and analysis: every recording enters the controller here.

#include <QCoreApplication>
#include <QMetaObject>

#include "Model/Localization.h"
#include "Process/Runner.h"
#include "Workspace.h"

namespace fs = std::filesystem;

namespace talvian {

void Workspace::importFiles() {
    if (cutBusy_ || !window_) return;
    if (auto chosen = window_->chooseMediaFile(L("选择口播视频或音频"))) loadSource(*chosen, true);
}

void Workspace::sample() {
    if (cutBusy_) return;
    const fs::path url = resourcesFolder() / "Samples" / "sample-talk.mp4";
    std::error_code error;
    if (resourcesFolder().empty() || !fs::exists(url, error)) {
        setNotice(L("未找到示例素材，请导入自己的视频或音频。"));
        return;
    }
    loadSource(url, true);
}

bool Workspace::loadSource(const fs::path& url, bool analyzeImmediately) {
    if (cutBusy_) {
        setNotice(L("请等待当前任务完成，或先取消任务。"));
        return false;
    }
    std::error_code error;
    if (!url.is_absolute() || !fs::exists(url, error)) {
        setNotice(L("找不到素材文件，请重新导入。"));
        return false;
    }
    // The edit on screen must be safe in the backup before anything of it is dropped.
    if (project_) {
        backupCurrentProject();
        if (!sessionBackupSaved_ && sessionBackupURL_) {
            setNotice(L("当前剪辑尚未备份，请先保存项目，再打开其他素材。"));
            return false;
        }
    }
    cancelDetectionPreview();
    sessionNeedsArchive_ = true;
    publish(boundaryDrag_, std::optional<WaveformBoundaryDrag>());
    publish(waveformWindow_, std::optional<WaveformWindow>());
    reloadWaveformDetail();
    resetBatchSelection();
    resetManualMarks();
    resetProjectLocation();
    setSource(url);
    setProject(std::nullopt);
    publish(cutOutput_, std::optional<fs::path>());
    setPreviewCuts(false);
    publish(sourceReadIssue_, std::optional<std::string>());
    publish(cutHistory_, CutHistory());
    optionPast_.clear();
    optionFuture_.clear();
    setReviewID(std::nullopt);
    installPlayer(url, 0);
    setCutStatus(L("正在读取媒体信息"));
    if (analyzeImmediately) {
        setCutOptions(CutOptions());
        analyze();
    }
    return true;
}

void Workspace::analyze() {
    if (!source_ || cutBusy_) return;
    stopAudition(true);
    pausePlayer();
    setCutBusy(true);
    publish(cutOutput_, std::optional<fs::path>());
    setCutProgress(0);
    const CancellationToken token = makeCancellation();
    cutCancellation_ = token;
    const fs::path url = *source_;
    const CutOptions options = cutOptions_;
    publish(sourceReadIssue_, std::optional<std::string>());
    setCutStatus(L("正在读取媒体信息"));

    const Analyzer analyzer = analyzer_;
    const ProgressCallback progress = jobProgress(token);
    QPointer<Workspace> self(this);
    runInBackground([self, analyzer, url, options, token, progress] {
        std::optional<CutProject> result;
        std::exception_ptr error;
        try {
            result = analyzer(url, options, token, progress);
        } catch (...) {
            error = std::current_exception();
        }
        if (!self) return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, result = std::move(result), error, token]() mutable {
                if (!self) return;
                if (error)
                    self->analysisFailed(error, token);
                else
                    self->didAnalyze(std::move(*result), token);
            },
            Qt::QueuedConnection);
    });
}

void Workspace::didAnalyze(CutProject result, const CancellationToken& token) {
    if (token != cutCancellation_) return;
    if (token->isCancelled()) {
        analysisFailed(std::make_exception_ptr(OperationCancelled()), token);
        return;
    }
    bool archived = false;
    if (project_ && sessionBackupURL_) {
        try {
            backupCurrentProject();
            if (!sessionBackupSaved_ || !sessionBackupWriter_)
                throw MediaError(sessionBackupIssue_.value_or(L("无法保留重新分析前的剪辑。")));
            sessionBackupWriter_->write(result, true, RecentSession::Origin::reanalysis);
            publish(recentSessions_, sessionBackupWriter_->recentSessions());
            archived = true;
        } catch (const MediaError& error) {
            publish(sessionBackupSaved_, false);
            publish(sessionBackupIssue_, std::optional<std::string>(error.message()));
            setCutBusy(false);
            setCutProgress(0);
            setCutStatus(L("当前剪辑保留。请重试备份后重新分析。"));
            return;
        }
    }
    const std::size_t regions = result.cuts.size();
    setProject(std::move(result));
    setCutBusy(false);
    setCutProgress(1.0);
    publish(cutHistory_, CutHistory());
    optionPast_.clear();
    optionFuture_.clear();
    setReviewID(std::nullopt);
    resetBatchSelection();
    resetManualMarks();
    publish(boundaryDrag_, std::optional<WaveformBoundaryDrag>());
    publish(waveformWindow_, std::optional<WaveformWindow>());
    reloadWaveformDetail();
    std::string status =
        regions > 0 ? L("找到 %@ 段停顿。先试听，再决定保留或删除。", static_cast<long long>(regions))
                    : L("未找到符合条件的长停顿。底噪也可能遮住停顿，可试听后调整参数。");
    if (archived) status += L(" 重分析前版本可从“最近剪辑”找回。");
    setCutStatus(status);
}

void Workspace::analysisFailed(std::exception_ptr error, const CancellationToken& token) {
    if (token != cutCancellation_) return;
    setCutProgress(0);
    try {
        std::rethrow_exception(error);
    } catch (const ProcessTimeout& timeout) {
        setCutBusy(false);
        publish(sourceReadIssue_, std::optional<std::string>(timeout.message()));
        setCutStatus(L("媒体信息读取已停止。重新选择原素材后可重试。"));
        return;
    } catch (...) {
    }
    cutFailed(describeError(error));
}

void Workspace::restoreAnalyzedOptions() {
    if (cutBusy_ || !project_ || !needsAnalysis()) return;
    setCutOptions(project_->options);
}

}  // namespace talvian
