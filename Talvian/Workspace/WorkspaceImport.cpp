// Import and analysis: every recording enters the controller here.

#include "Model/Localization.h"
#include "Process/Runner.h"
#include "WorkspaceInternals.h"

namespace fs = std::filesystem;

namespace talvian {

void Workspace::importFiles() {
    const Operation operation(*this);
    if (job().busy || !d_->window_) return;
    const auto chosen =
        d_->showPanel([this] { return d_->window_->chooseMediaFile(L("选择口播视频或音频")); });
    if (chosen) loadSource(*chosen, true);
}

void Workspace::sample() {
    const Operation operation(*this);
    if (job().busy) return;
    const fs::path url = resourcesFolder() / "Samples" / "sample-talk.mp4";
    std::error_code error;
    if (resourcesFolder().empty() || !fs::exists(url, error)) {
        setNotice(L("未找到示例素材，请导入自己的视频或音频。"));
        return;
    }
    loadSource(url, true);
}

bool Workspace::Internals::editIsSafeToReplace() const {
    return document().project && savedProject_ && *document().project == *savedProject_;
}

bool Workspace::loadSource(const fs::path& url, bool analyzeImmediately) {
    const Operation operation(*this);
    if (job().busy) {
        setNotice(L("请等待当前任务完成，或先取消任务。"));
        return false;
    }
    return d_->switchSource(url, analyzeImmediately);
}

bool Workspace::Internals::switchSource(const fs::path& url, bool analyzeImmediately) {
    std::error_code error;
    if (!url.is_absolute() || !fs::exists(url, error)) {
        owner.setNotice(L("找不到素材文件，请重新导入。"));
        return false;
    }
    // The edit on screen must be safe in the backup (or in its saved file) before anything of
    // it is dropped.
    if (document().project) {
        backupCurrentProject();
        if (!document().sessionBackupSaved && sessionBackupURL_ && !editIsSafeToReplace()) {
            owner.setNotice(L("当前剪辑尚未备份，请先保存项目，再打开其他素材。"));
            return false;
        }
    }
    owner.cancelDetectionPreview();
    sessionNeedsArchive_ = true;
    set(&WaveformState::boundaryDrag, std::nullopt);
    set(&WaveformState::window, std::nullopt);
    owner.reloadWaveformDetail();
    owner.resetBatchSelection();
    owner.resetManualMarks();
    resetProjectLocation();
    setSource(url);
    setProject(std::nullopt);
    savedProject_.reset();
    setCutOutput(std::nullopt);
    // The channels and stems of the last export belong to the previous recording.
    set(&ExportState::exportedAudioChannels, std::nullopt);
    set(&ExportState::channelStemsFolder, std::nullopt);
    owner.setPreviewCuts(false);
    setSourceReadIssue(std::nullopt);
    resetCutHistory();
    clearOptionHistory();
    setReviewID(std::nullopt);
    installPlayer(url, 0);
    setCutStatus(L("正在读取媒体信息"));
    if (analyzeImmediately) {
        owner.setCutOptions(CutOptions());
        owner.analyze();
    }
    return true;
}

void Workspace::analyze() {
    const Operation operation(*this);
    if (!document().source || job().busy) return;
    stopAudition(true);
    d_->pausePlayer();
    const CancellationToken token = d_->job_.start(L("正在读取媒体信息"));
    d_->setCutOutput(std::nullopt);
    d_->setSourceReadIssue(std::nullopt);
    const fs::path url = *document().source;
    const CutOptions options = detection().cutOptions;
    const Analyzer analyzer = d_->analyzer_;
    const ProgressCallback progress = d_->jobProgress(token);
    d_->runInBackground([analyzer, url, options, token, progress](const MainThreadPost& post) {
        try {
            CutProject result = analyzer(url, options, token, progress);
            post([result = std::move(result), token](Internals& in) mutable {
                in.didAnalyze(std::move(result), token);
            });
        } catch (...) {
            post([error = std::current_exception(), token](Internals& in) {
                in.analysisFailed(error, token);
            });
        }
    });
}

void Workspace::Internals::didAnalyze(CutProject result, const CancellationToken& token) {
    if (!job_.owns(token)) return;
    if (token->isCancelled()) return job_.finishCancelled();
    bool archived = false;
    if (document().project && sessionBackupURL_) {
        std::optional<std::string> failure;
        try {
            backupCurrentProject();
            if (!document().sessionBackupSaved || !sessionBackupWriter_)
                throw MediaError(document().sessionBackupIssue.value_or(L("无法保留重新分析前的剪辑。")));
            sessionBackupWriter_->write(result, true, RecentSession::Origin::reanalysis);
            set(&DocumentState::recentSessions, sessionBackupWriter_->recentSessions());
            archived = true;
        } catch (...) {
            failure = describeError(std::current_exception(), L("无法保留重新分析前的剪辑。"));
        }
        if (failure) {
            set(&DocumentState::sessionBackupSaved, false);
            set(&DocumentState::sessionBackupIssue, failure);
            // An edit that equals its saved file loses nothing when it is replaced.
            if (!editIsSafeToReplace())
                return job_.finish(JobOutcome::failed, L("当前剪辑保留。请重试备份后重新分析。"),
                                   FailureNotice::none);
        }
    }
    const std::size_t regions = result.cuts.size();
    setProject(std::move(result));
    resetCutHistory();
    clearOptionHistory();
    setReviewID(std::nullopt);
    owner.resetBatchSelection();
    owner.resetManualMarks();
    set(&WaveformState::boundaryDrag, std::nullopt);
    set(&WaveformState::window, std::nullopt);
    owner.reloadWaveformDetail();
    std::string status =
        regions > 0 ? L("找到 %@ 段停顿。先试听，再决定保留或删除。", static_cast<long long>(regions))
                    : L("未找到符合条件的长停顿。底噪也可能遮住停顿，可试听后调整参数。");
    if (archived) status += L(" 重分析前版本可从“最近剪辑”找回。");
    job_.finish(JobOutcome::succeeded, status);
}

void Workspace::Internals::analysisFailed(std::exception_ptr error, const CancellationToken& token) {
    if (!job_.owns(token)) return;
    if (!token->isCancelled() && errorIs<ProcessTimeout>(error)) {
        setSourceReadIssue(describeError(error));
        return job_.finish(JobOutcome::failed, L("媒体信息读取已停止。重新选择原素材后可重试。"),
                           FailureNotice::none);
    }
    job_.finish(error);
}

void Workspace::restoreAnalyzedOptions() {
    const Operation operation(*this);
    if (job().busy || !document().project || !d_->needsAnalysis()) return;
    setCutOptions(document().project->options);
}

}  // namespace talvian
