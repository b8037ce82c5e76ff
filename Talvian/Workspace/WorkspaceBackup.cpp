// Session backup driven by the controller: after every assignment of the project.

#include "Model/Localization.h"
#include "Workspace.h"

namespace talvian {

void Workspace::backupCurrentProject() {
    const Operation operation(*this);
    if (!document().project || !sessionBackupURL_) return;
    try {
        if (!sessionBackupWriter_) sessionBackupWriter_ = std::make_unique<SessionBackup>(*sessionBackupURL_);
        sessionBackupWriter_->write(*document().project, sessionNeedsArchive_,
                                    RecentSession::Origin::switching);
        sessionNeedsArchive_ = false;
        set(document_, &DocumentState::recentSessions, sessionBackupWriter_->recentSessions());
        set(document_, &DocumentState::sessionBackupName,
            std::optional<std::string>(std::filesystem::path(document().project->source).filename()));
        set(document_, &DocumentState::sessionBackupSaved, true);
        set(document_, &DocumentState::sessionBackupIssue, std::nullopt);
    } catch (...) {
        set(document_, &DocumentState::sessionBackupSaved, false);
        set(document_, &DocumentState::sessionBackupIssue,
            std::optional<std::string>(
                describeError(std::current_exception(), L("本机备份不可写，请先保存项目。"))));
    }
}

void Workspace::retrySessionBackup() {
    const Operation operation(*this);
    backupCurrentProject();
    // The footer only offers the retry; a failure again would otherwise go unexplained.
    if (document().project && sessionBackupURL_ && document().sessionBackupIssue)
        setNotice(*document().sessionBackupIssue);
}

}  // namespace talvian
