// Project files: opening a saved project or hand-off package, saving with a verified source
// identity, relocating a moved source, the recovery card, and re-selecting the same source.

#include "Analysis/SourceRelocation.h"
#include "Export/SupportDiagnostics.h"
#include "Model/FileSystem.h"
#include "Model/Localization.h"
#include "Model/ProjectFiles.h"
#include "Workspace.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

std::optional<fs::path> folderOf(const std::optional<fs::path>& file) {
    if (!file) return std::nullopt;
    return file->parent_path();
}

}  // namespace

void Workspace::resetProjectLocation() {
    projectSelectionAccess_.reset();
    publish(projectRecovery_, std::optional<ProjectRecovery>());
    publish(sourceLocationNeedsSaving_, false);
    sourceSelectionAccess_.reset();
}

bool Workspace::canRelocateSource() const {
    return !cutBusy_ && project_ && project_->canRelocateSource();
}

// ---- Opening

void Workspace::openProject() {
    if (cutBusy_ || !window_) return;
    const auto chosen = window_->chooseProjectFile(
        {L("打开剪辑项目或交接包"), L("选择剪辑项目 JSON 文件，或包含 review.quenlo.json 的完整交接文件夹。"),
         std::nullopt});
    if (!chosen) return;
    publish(projectRecovery_, std::optional<ProjectRecovery>());
    beginProjectLoad(*chosen);
}

void Workspace::beginProjectLoad(const fs::path& selection) {
    if (cutBusy_) return;
    fs::path projectFile;
    try {
        projectFile = ProjectSelection::projectURL(selection);
    } catch (const MediaError& error) {
        lastDiagnosticError_ = SupportDiagnostics::privateError(error.message());
        setNotice(error.message());
        return;
    }
    stopAudition(true);
    pausePlayer();
    setCutBusy(true);
    setCutProgress(0);
    setCutStatus(L("正在检查项目与原素材"));
    const CancellationToken token = makeCancellation();
    cutCancellation_ = token;
    runInBackground([this, projectFile, selection, token] {
        try {
            CutProject project = VevazAvezud::load(projectFile, *token);
            token->check();
            postToMain([project = std::move(project), token, selection](Workspace& workspace) mutable {
                workspace.didLoadProject(std::move(project), token, selection);
            });
        } catch (...) {
            postToMain([error = std::current_exception(), token, selection](Workspace& workspace) {
                workspace.projectLoadFailed(error, token, selection);
            });
        }
    });
}

bool Workspace::didLoadProject(CutProject project, const CancellationToken& token,
                               const fs::path& selection) {
    if (token != cutCancellation_) return false;
    if (token->isCancelled()) {
        projectLoadFailed(std::make_exception_ptr(OperationCancelled()), token, selection);
        return false;
    }
    setCutBusy(false);
    // The source was there when the project was checked; it may have gone since. Installing
    // the project now would put it on the previous source, player and history.
    const fs::path source(project.source);
    std::error_code error;
    if (!fs::exists(source, error) || !loadSource(source, false)) {
        setCutProgress(0);
        if (!fs::exists(source, error)) {
            showProjectRecovery({selection, project.source, project.canRelocateSource(), false});
        } else {
            // loadSource refused (the edit on screen could not be backed up) and said why.
            setCutStatus(notice_.value_or(L("项目尚未打开：找不到原素材。")));
        }
        return false;
    }
    setCutProgress(1.0);
    projectSelectionAccess_ = selection;
    setCutOptions(project.options);
    optionPast_.clear();
    optionFuture_.clear();
    setProject(std::move(project));
    setCutStatus(L("已恢复项目，可继续调整和导出。"));
    return true;
}

void Workspace::showProjectRecovery(ProjectRecovery recovery) {
    const bool changed = recovery.sourceChanged;
    publish(projectRecovery_, std::optional<ProjectRecovery>(std::move(recovery)));
    setCutBusy(false);
    setCutProgress(0);
    setCutStatus(changed ? L("项目尚未打开：原素材信息已变化，请重新定位并核对。")
                         : L("项目尚未打开：找不到原素材。"));
}

void Workspace::projectLoadFailed(std::exception_ptr error, const CancellationToken& token,
                                  const std::optional<fs::path>& selection) {
    if (token != cutCancellation_) return;
    if (token->isCancelled()) {
        setCutBusy(false);
        setCutProgress(0);
        setCutStatus(L("已取消项目校验，原片未改动。"));
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const MissingProjectSource& missing) {
        if (selection) return showProjectRecovery({*selection, missing.path, missing.canRelocate, false});
    } catch (const ChangedProjectSource& changed) {
        if (selection) return showProjectRecovery({*selection, changed.path, true, true});
    } catch (...) {
    }
    cutFailed(describeError(error));
}

void Workspace::retryProjectLoad() {
    if (cutBusy_ || !projectRecovery_) return;
    beginProjectLoad(projectRecovery_->selection);
}

void Workspace::dismissProjectRecovery() {
    if (cutBusy_) return;
    publish(projectRecovery_, std::optional<ProjectRecovery>());
    setCutStatus(project_ ? L("已关闭恢复提示，当前剪辑未改动。") : L("已关闭恢复提示，可重新打开项目。"));
}

// ---- Saving

void Workspace::saveProject() {
    if (cutBusy_ || !project_ || !window_) return;
    SavePanelRequest request;
    request.kind = SavePanelRequest::Kind::project;
    request.defaultName = L("口播剪辑") + ".quenlo.json";
    request.message = L("保存时核对原片内容，搬移后可重新定位。请用新版 Talvian 打开。");
    const auto chosen = window_->chooseSaveLocation(request);
    if (chosen && project_) beginProjectSave(*project_, *chosen);
}

CancellationToken Workspace::beginSourceCheck(const std::string& text) {
    stopAudition(true);
    pausePlayer();
    setCutBusy(true);
    setCutProgress(0);
    setCutStatus(text);
    sourceCheckActive_ = true;
    cutCancellation_ = makeCancellation();
    return cutCancellation_;
}

void Workspace::sourceCheckProgress(double fraction, const std::string& text,
                                    const CancellationToken& token) {
    if (token != cutCancellation_ || !cutBusy_ || token->isCancelled()) return;
    setCutProgress(fraction);
    setCutStatus(text);
}

void Workspace::beginProjectSave(const CutProject& project, const fs::path& url) {
    if (cutBusy_) return;
    const std::string step = L("正在核对原片并保存项目");
    const CancellationToken token = beginSourceCheck(step);
    runInBackground([this, project, url, token, step] {
        try {
            CutProject prepared =
                SourceRelocation::prepareForSave(project, *token, [this, token, step](double f) {
                    postToMain([f, token, step](Workspace& w) { w.sourceCheckProgress(f, step, token); });
                });
            token->check();
            postToMain([prepared = std::move(prepared), url, token](Workspace& workspace) {
                workspace.commitProjectSave(prepared, url, token);
            });
        } catch (...) {
            postToMain([error = std::current_exception(), token](Workspace& workspace) {
                workspace.sourceCheckFailed(error, token);
            });
        }
    });
}

void Workspace::commitProjectSave(const CutProject& project, const fs::path& url,
                                  const CancellationToken& token) {
    if (token != cutCancellation_) return;
    if (token->isCancelled()) return sourceCheckFailed(std::make_exception_ptr(OperationCancelled()), token);
    CutProject saved;
    try {
        saved = VevazAvezud::save(project, url);
    } catch (...) {
        return sourceCheckFailed(std::current_exception(), token);
    }
    setProject(std::move(saved));
    publish(sourceLocationNeedsSaving_, false);
    sourceCheckActive_ = false;
    setCutBusy(false);
    setCutProgress(1.0);
    setCutStatus(L("已保存项目与原片身份，搬移后可重新定位原素材。"));
}

void Workspace::sourceCheckFailed(std::exception_ptr error, const CancellationToken& token) {
    if (token != cutCancellation_) return;
    sourceCheckActive_ = false;
    setCutBusy(false);
    setCutProgress(0);
    if (token->isCancelled())
        setCutStatus(L("已取消原片核对，当前剪辑与项目文件未改动。"));
    else
        cutFailed(describeError(error));
}

// ---- Relocation

void Workspace::relocateSource(const std::optional<ProjectRecovery>& recovery) {
    if (cutBusy_ || !window_) return;
    if (recovery ? !recovery->canRelocate : !(project_ && project_->canRelocateSource())) return;
    const auto chosen = window_->chooseSourceFile(
        {L("重新定位原素材，保留剪辑"),
         L("请选择搬移后的同一原片。将核对完整内容；选错或取消不会替换当前剪辑。"), folderOf(source_)});
    if (chosen) beginSourceRelocation(*chosen, recovery);
}

void Workspace::beginSourceRelocation(const fs::path& url, const std::optional<ProjectRecovery>& recovery) {
    if (cutBusy_) return;
    if (recovery ? !recovery->canRelocate : !(project_ && project_->canRelocateSource())) return;
    const std::optional<CutProject> project = project_;
    const double position = playbackPosition();
    const std::string step = L("正在核对所选原片");
    const CancellationToken token = beginSourceCheck(step);
    runInBackground([this, url, recovery, project, position, token, step] {
        const FractionCallback progress = [this, token, step](double f) {
            postToMain([f, token, step](Workspace& w) { w.sourceCheckProgress(f, step, token); });
        };
        try {
            CutProject relocated;
            if (!recovery) {
                if (!project) throw MediaError(L("请先打开剪辑项目。"));
                relocated = SourceRelocation::relocate(*project, url, *token, progress);
            } else {
                const fs::path projectFile = ProjectSelection::projectURL(recovery->selection);
                relocated = SourceRelocation::relocateSavedProject(projectFile, url, *token, progress);
            }
            token->check();
            postToMain(
                [relocated = std::move(relocated), url, recovery, position, token](Workspace& w) mutable {
                    w.didRelocateSource(std::move(relocated), url, recovery, position, token);
                });
        } catch (...) {
            postToMain([error = std::current_exception(), token](Workspace& workspace) {
                workspace.sourceCheckFailed(error, token);
            });
        }
    });
}

void Workspace::didRelocateSource(CutProject project, const fs::path& selected,
                                  const std::optional<ProjectRecovery>& recovery, double position,
                                  const CancellationToken& token) {
    if (token != cutCancellation_ || token->isCancelled())
        return sourceCheckFailed(std::make_exception_ptr(OperationCancelled()), token);
    sourceCheckActive_ = false;
    if (!recovery) {
        const fs::path source(project.source);
        setSource(source);
        setProject(std::move(project));
        publish(sourceReadIssue_, std::optional<std::string>());
        publish(cutOutput_, std::optional<fs::path>());
        publish(outputIsHandoff_, false);
        installPlayer(source, position);
        reloadWaveformDetail();
        projectSelectionAccess_.reset();
        setCutBusy(false);
        setCutProgress(1.0);
    } else if (!didLoadProject(std::move(project), token, recovery->selection)) {
        return;
    }
    sourceSelectionAccess_ = selected;
    publish(projectRecovery_, std::optional<ProjectRecovery>());
    publish(sourceLocationNeedsSaving_, true);
    setCutStatus(L("已核对并找回同一原片，剪辑已保留。请保存项目以记录新位置。"));
}

// ---- Re-selecting the same source

void Workspace::reselectPreviewSource() {
    if (cutBusy_ || !source_ || !window_) return;
    const auto chosen =
        window_->chooseSourceFile({L("重新选择当前素材，保留剪辑"), std::string(), folderOf(source_)});
    if (!chosen || cutBusy_ || !source_) return;
    if (resolvedPath(*chosen) != resolvedPath(*source_)) {
        setNotice(L("请选择当前的原素材。要换成其他素材，请使用“导入素材”。"));
        return;
    }
    // The chosen name may be a link to the source: the project keeps its own path, so that
    // it still matches the source it was analysed from.
    const fs::path url = *source_;
    stopAudition(true);
    pausePlayer();
    setCutBusy(true);
    const CancellationToken token = makeCancellation();
    cutCancellation_ = token;
    setCutProgress(0);
    setCutStatus(L("正在检查原素材"));
    const std::optional<CutProject> project = project_;
    const double position = playbackPosition();
    runInBackground([this, url, project, position, token] {
        try {
            token->check();
            if (project) project->validateSource();
            token->check();
            postToMain([url, position, token](Workspace& w) { w.didReselectPreview(url, position, token); });
        } catch (...) {
            postToMain([error = std::current_exception(), token](Workspace& workspace) {
                workspace.analysisFailed(error, token);
            });
        }
    });
}

void Workspace::didReselectPreview(const fs::path& url, double position, const CancellationToken& token) {
    if (token != cutCancellation_) return;
    if (token->isCancelled()) return analysisFailed(std::make_exception_ptr(OperationCancelled()), token);
    setCutBusy(false);
    setSource(url);
    publish(sourceReadIssue_, std::optional<std::string>());
    installPlayer(url, position);
    reloadWaveformDetail();
    setCutStatus(L("已重新选择原素材，剪辑已保留。可继续试听或分析。"));
}

// ---- The session backup's files, opened through the same load path

void Workspace::resumeSessionBackup() {
    if (cutBusy_ || !sessionBackupName_ || !sessionBackupURL_) return;
    beginProjectLoad(*sessionBackupURL_);
}

void Workspace::resumeRecentSession(const Uuid& id) {
    if (cutBusy_ || !sessionBackupWriter_) return;
    fs::path selected;
    try {
        selected = sessionBackupWriter_->selectRecent(id);
    } catch (const MediaError& error) {
        lastDiagnosticError_ = SupportDiagnostics::privateError(error.message());
        setNotice(error.message());
        return;
    }
    beginProjectLoad(selected);
}

void Workspace::revealSessionBackup() {
    if (sessionBackupURL_) desktop().revealFile(*sessionBackupURL_);
}

}  // namespace talvian
