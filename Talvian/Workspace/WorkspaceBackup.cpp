// Session backup driven by the controller: after every assignment of the project.

#include "Model/Localization.h"
#include "WorkspaceInternals.h"

namespace talvian {

void Workspace::Internals::backupCurrentProject() {
    const Operation operation(owner);
    if (!document().project || !sessionBackupURL_) return;
    try {
        if (!sessionBackupWriter_) sessionBackupWriter_ = std::make_unique<SessionBackup>(*sessionBackupURL_);
        sessionBackupWriter_->write(*document().project, sessionNeedsArchive_,
                                    RecentSession::Origin::switching);
        sessionNeedsArchive_ = false;
        set(&DocumentState::recentSessions, sessionBackupWriter_->recentSessions());
        set(&DocumentState::sessionBackupName,
            std::optional<std::string>(std::filesystem::path(document().project->source).filename()));
        set(&DocumentState::sessionBackupSaved, true);
        set(&DocumentState::sessionBackupIssue, std::nullopt);
    } catch (...) {
        set(&DocumentState::sessionBackupSaved, false);
        set(&DocumentState::sessionBackupIssue,
            std::optional<std::string>(
                describeError(std::current_exception(), L("本机备份不可写，请先保存项目。"))));
    }
}

void Workspace::retrySessionBackup() {
    const Operation operation(*this);
    d_->backupCurrentProject();
    // The footer only offers the retry; a failure again would otherwise go unexplained.
    if (document().project && d_->sessionBackupURL_ && document().sessionBackupIssue)
        setNotice(*document().sessionBackupIssue);
}

}  // namespace talvian
