// Project files: opening a saved project or hand-off package, saving with a verified source
// identity, relocating a moved source, the recovery card, and re-selecting the same source.

#include <cmath>

#include "Analysis/SourceRelocation.h"
#include "Export/SupportDiagnostics.h"
#include "Model/Localization.h"
#include "Model/ProjectFiles.h"
#include "Process/MediaProbe.h"
#include "Support/FileSystem.h"
#include "WorkspaceInternals.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

std::optional<fs::path> folderOf(const std::optional<fs::path>& file) {
    if (!file) return std::nullopt;
    return file->parent_path();
}

// The project's timeline must be its source's, as the export demands: a duration the recording
// does not have (a damaged file's 1e300, another take of the same size and time) draws no
// timeline and cuts at the wrong places, so it counts as a changed source. A source that cannot
// be probed at all is reported where it is read (the preview, the export), not here.
void checkSourceDuration(const CutProject& project, const CancellationToken& token) {
    MediaInfo probed;
    try {
        probed = Runner::probe(project.source, token);
    } catch (const OperationCancelled&) {
        throw;
    } catch (...) {
        token->check();
        return;
    }
    if (!(std::fabs(probed.duration - project.info.duration) <= kSourceDurationTolerance))
        project.throwChangedSource();
}

}  // namespace

void Workspace::Internals::resetProjectLocation() {
    projectSelectionAccess_.reset();
    set(&DocumentState::projectRecovery, std::nullopt);
    set(&DocumentState::sourceLocationNeedsSaving, false);
    sourceSelectionAccess_.reset();
}

bool Workspace::Internals::canRelocateSource() const {
    return !job().busy && document().project && document().project->canRelocateSource();
}

// ---- Opening

void Workspace::openProject() {
    const Operation operation(*this);
    if (job().busy || !d_->window_) return;
    const auto chosen = d_->showPanel([this] {
        return d_->window_->chooseProjectFile(
            {L("打开剪辑项目或交接包"),
             L("选择剪辑项目 JSON 文件，或包含 review.quenlo.json 的完整交接文件夹。"), std::nullopt});
    });
    if (!chosen) return;
    d_->set(&DocumentState::projectRecovery, std::nullopt);
    beginProjectLoad(*chosen);
}

void Workspace::beginProjectLoad(const fs::path& selection) {
    const Operation operation(*this);
    if (job().busy) return;
    fs::path projectFile;
    try {
        projectFile = ProjectSelection::projectURL(selection);
    } catch (...) {
        const std::string text = describeError(std::current_exception());
        d_->lastDiagnosticError_ = SupportDiagnostics::privateError(text);
        setNotice(text);
        return;
    }
    stopAudition(true);
    d_->pausePlayer();
    const CancellationToken token = d_->job_.start(L("正在检查项目与原素材"));
    d_->runInBackground([projectFile, selection, token](const MainThreadPost& post) {
        try {
            CutProject project = VevazAvezud::load(projectFile, *token);
            checkSourceDuration(project, token);
            token->check();
            post([project = std::move(project), token, selection](Internals& in) mutable {
                in.didLoadProject(std::move(project), token, selection);
            });
        } catch (...) {
            post([error = std::current_exception(), token, selection](Internals& in) {
                in.projectLoadFailed(error, token, selection);
            });
        }
    });
}

bool Workspace::Internals::didLoadProject(CutProject project, const CancellationToken& token,
                                          const fs::path& selection) {
    if (!job_.owns(token)) return false;
    if (token->isCancelled()) {
        job_.finishCancelled(L("已取消项目校验，原片未改动。"));
        return false;
    }
    // The source was there when the project was checked; it may have gone since. Installing
    // the project now would put it on the previous source, player and history.
    const fs::path source(project.source);
    std::error_code error;
    if (!fs::exists(source, error)) {
        showProjectRecovery({selection, project.source, project.canRelocateSource(), false});
        return false;
    }
    // The job itself replaces the source: no busy check.
    if (!switchSource(source, false)) {
        // The edit on screen could not be backed up; the notice says why.
        job_.finish(JobOutcome::failed, job().notice.value_or(L("项目尚未打开：找不到原素材。")),
                    FailureNotice::none);
        return false;
    }
    projectSelectionAccess_ = selection;
    owner.setCutOptions(project.options);
    clearOptionHistory();
    // A file in the backup's own folder is no saved copy: the instance holding the backup
    // rewrites it.
    const bool fromBackup = sessionBackupURL_ && selection.parent_path() == sessionBackupURL_->parent_path();
    if (!fromBackup) savedProject_ = project;
    setProject(std::move(project));
    job_.finish(JobOutcome::succeeded, L("已恢复项目，可继续调整和导出。"));
    return true;
}

void Workspace::Internals::showProjectRecovery(ProjectRecovery recovery) {
    const bool changed = recovery.sourceChanged;
    set(&DocumentState::projectRecovery, std::optional<ProjectRecovery>(std::move(recovery)));
    job_.finish(
        JobOutcome::failed,
        changed ? L("项目尚未打开：原素材信息已变化，请重新定位并核对。") : L("项目尚未打开：找不到原素材。"),
        FailureNotice::none);
}

void Workspace::Internals::projectLoadFailed(std::exception_ptr error, const CancellationToken& token,
                                             const std::optional<fs::path>& selection) {
    if (!job_.owns(token)) return;
    if (token->isCancelled()) return job_.finishCancelled(L("已取消项目校验，原片未改动。"));
    try {
        std::rethrow_exception(error);
    } catch (const MissingProjectSource& missing) {
        if (selection) return showProjectRecovery({*selection, missing.path, missing.canRelocate, false});
    } catch (const ChangedProjectSource& changed) {
        if (selection) return showProjectRecovery({*selection, changed.path, true, true});
    } catch (...) {
    }
    job_.finish(error);
}

void Workspace::retryProjectLoad() {
    const Operation operation(*this);
    if (job().busy || !document().projectRecovery) return;
    beginProjectLoad(document().projectRecovery->selection);
}

void Workspace::dismissProjectRecovery() {
    const Operation operation(*this);
    if (job().busy) return;
    d_->set(&DocumentState::projectRecovery, std::nullopt);
    d_->setCutStatus(document().project ? L("已关闭恢复提示，当前剪辑未改动。")
                                        : L("已关闭恢复提示，可重新打开项目。"));
}

// ---- Saving

void Workspace::saveProject() {
    const Operation operation(*this);
    if (job().busy || !document().project || !d_->window_) return;
    SavePanelRequest request;
    request.kind = SavePanelRequest::Kind::project;
    request.defaultName = L("口播剪辑") + ".quenlo.json";
    request.message = L("保存时核对原片内容，搬移后可重新定位。请用新版 Talvian 打开。");
    const auto chosen = d_->showPanel([this, &request] { return d_->window_->chooseSaveLocation(request); });
    if (chosen && document().project) beginProjectSave(*document().project, *chosen);
}

CancellationToken Workspace::Internals::beginSourceCheck(const std::string& text) {
    owner.stopAudition(true);
    pausePlayer();
    return job_.start(text, Job::Kind::sourceCheck);
}

void Workspace::beginProjectSave(const CutProject& project, const fs::path& url) {
    const Operation operation(*this);
    if (job().busy) return;
    const std::string step = L("正在核对原片并保存项目");
    const CancellationToken token = d_->beginSourceCheck(step);
    d_->runInBackground([project, url, token, step](const MainThreadPost& post) {
        try {
            CutProject prepared =
                SourceRelocation::prepareForSave(project, *token, [post, token, step](double f) {
                    post([f, token, step](Internals& in) { in.job_.report(token, f, step); });
                });
            token->check();
            post([prepared = std::move(prepared), url, token](Internals& in) {
                in.commitProjectSave(prepared, url, token);
            });
        } catch (...) {
            post([error = std::current_exception(), token](Internals& in) {
                in.sourceCheckFailed(error, token);
            });
        }
    });
}

void Workspace::Internals::commitProjectSave(const CutProject& project, const fs::path& url,
                                             const CancellationToken& token) {
    if (!job_.owns(token)) return;
    if (token->isCancelled()) return job_.finishCancelled(L("已取消原片核对，当前剪辑与项目文件未改动。"));
    CutProject saved;
    try {
        saved = VevazAvezud::save(project, url);
    } catch (...) {
        return sourceCheckFailed(std::current_exception(), token);
    }
    savedProject_ = saved;
    setProject(std::move(saved));
    set(&DocumentState::sourceLocationNeedsSaving, false);
    job_.finish(JobOutcome::succeeded, L("已保存项目与原片身份，搬移后可重新定位原素材。"));
}

void Workspace::Internals::sourceCheckFailed(std::exception_ptr error, const CancellationToken& token) {
    if (!job_.owns(token)) return;
    job_.finish(error, L("已取消原片核对，当前剪辑与项目文件未改动。"));
}

// ---- Relocation

void Workspace::relocateSource(const std::optional<ProjectRecovery>& recovery) {
    const Operation operation(*this);
    if (job().busy || !d_->window_) return;
    if (recovery ? !recovery->canRelocate : !(document().project && document().project->canRelocateSource()))
        return;
    const auto chosen = d_->showPanel([this] {
        return d_->window_->chooseSourceFile(
            {L("重新定位原素材，保留剪辑"),
             L("请选择搬移后的同一原片。将核对完整内容；选错或取消不会替换当前剪辑。"),
             folderOf(document().source)});
    });
    if (chosen) d_->beginSourceRelocation(*chosen, recovery);
}

void Workspace::Internals::beginSourceRelocation(const fs::path& url,
                                                 const std::optional<ProjectRecovery>& recovery) {
    const Operation operation(owner);
    if (job().busy) return;
    if (recovery ? !recovery->canRelocate : !(document().project && document().project->canRelocateSource()))
        return;
    const std::optional<CutProject> project = document().project;
    const double position = playbackPosition();
    const std::string step = L("正在核对所选原片");
    const CancellationToken token = beginSourceCheck(step);
    runInBackground([url, recovery, project, position, token, step](const MainThreadPost& post) {
        const FractionCallback progress = [post, token, step](double f) {
            post([f, token, step](Internals& in) { in.job_.report(token, f, step); });
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
            post([relocated = std::move(relocated), url, recovery, position, token](Internals& in) mutable {
                in.didRelocateSource(std::move(relocated), url, recovery, position, token);
            });
        } catch (...) {
            post([error = std::current_exception(), token](Internals& in) {
                in.sourceCheckFailed(error, token);
            });
        }
    });
}

void Workspace::Internals::didRelocateSource(CutProject project, const fs::path& selected,
                                             const std::optional<ProjectRecovery>& recovery, double position,
                                             const CancellationToken& token) {
    if (!job_.owns(token)) return;
    if (token->isCancelled()) return job_.finishCancelled(L("已取消原片核对，当前剪辑与项目文件未改动。"));
    if (!recovery) {
        const fs::path source(project.source);
        setSource(source);
        setProject(std::move(project));
        setSourceReadIssue(std::nullopt);
        setCutOutput(std::nullopt);
        set(&ExportState::outputIsHandoff, false);
        installPlayer(source, position);
        owner.reloadWaveformDetail();
        projectSelectionAccess_.reset();
    } else if (!didLoadProject(std::move(project), token, recovery->selection)) {
        return;
    }
    // The project now names the new place, which no saved file records yet.
    savedProject_.reset();
    sourceSelectionAccess_ = selected;
    set(&DocumentState::projectRecovery, std::nullopt);
    set(&DocumentState::sourceLocationNeedsSaving, true);
    job_.finish(JobOutcome::succeeded, L("已核对并找回同一原片，剪辑已保留。请保存项目以记录新位置。"));
}

// ---- Re-selecting the same source

void Workspace::reselectPreviewSource() {
    const Operation operation(*this);
    if (job().busy || !document().source || !d_->window_) return;
    const auto chosen = d_->showPanel([this] {
        return d_->window_->chooseSourceFile(
            {L("重新选择当前素材，保留剪辑"), std::string(), folderOf(document().source)});
    });
    if (!chosen || job().busy || !document().source) return;
    if (resolvedPath(*chosen) != resolvedPath(*document().source)) {
        setNotice(L("请选择当前的原素材。要换成其他素材，请使用“导入素材”。"));
        return;
    }
    // The chosen name may be a link to the source: the project keeps its own path, so that
    // it still matches the source it was analysed from.
    const fs::path url = *document().source;
    stopAudition(true);
    d_->pausePlayer();
    const CancellationToken token = d_->job_.start(L("正在检查原素材"));
    const std::optional<CutProject> project = document().project;
    const double position = d_->playbackPosition();
    d_->runInBackground([url, project, position, token](const MainThreadPost& post) {
        try {
            token->check();
            if (project) project->validateSource();
            token->check();
            post([url, position, token](Internals& in) { in.didReselectPreview(url, position, token); });
        } catch (...) {
            post([error = std::current_exception(), token](Internals& in) {
                in.analysisFailed(error, token);
            });
        }
    });
}

void Workspace::Internals::didReselectPreview(const fs::path& url, double position,
                                              const CancellationToken& token) {
    if (!job_.owns(token)) return;
    if (token->isCancelled()) return job_.finishCancelled();
    setSource(url);
    setSourceReadIssue(std::nullopt);
    installPlayer(url, position);
    owner.reloadWaveformDetail();
    job_.finish(JobOutcome::succeeded, L("已重新选择原素材，剪辑已保留。可继续试听或分析。"));
}

// ---- The session backup's files, opened through the same load path

void Workspace::resumeSessionBackup() {
    const Operation operation(*this);
    if (job().busy || !document().sessionBackupName || !d_->sessionBackupURL_) return;
    beginProjectLoad(*d_->sessionBackupURL_);
}

void Workspace::resumeRecentSession(const Uuid& id) {
    const Operation operation(*this);
    if (job().busy || !d_->sessionBackupWriter_) return;
    fs::path selected;
    try {
        selected = d_->sessionBackupWriter_->selectRecent(id);
    } catch (...) {
        const std::string text = describeError(std::current_exception());
        d_->lastDiagnosticError_ = SupportDiagnostics::privateError(text);
        setNotice(text);
        return;
    }
    beginProjectLoad(selected);
}

void Workspace::revealSessionBackup() {
    if (d_->sessionBackupURL_) desktopServices().revealFile(*d_->sessionBackupURL_);
}

}  // namespace talvian
