// Session backup driven by the controller: after every assignment of the project.

#include "Model/Localization.h"
#include "Workspace.h"

namespace talvian {

void Workspace::backupCurrentProject() {
    if (!project_ || !sessionBackupURL_) return;
    try {
        if (!sessionBackupWriter_) sessionBackupWriter_ = std::make_unique<SessionBackup>(*sessionBackupURL_);
        sessionBackupWriter_->write(*project_, sessionNeedsArchive_, RecentSession::Origin::switching);
        sessionNeedsArchive_ = false;
        publish(recentSessions_, sessionBackupWriter_->recentSessions());
        publish(sessionBackupName_,
                std::optional<std::string>(std::filesystem::path(project_->source).filename()));
        publish(sessionBackupSaved_, true);
        publish(sessionBackupIssue_, std::optional<std::string>());
    } catch (const MediaError& error) {
        publish(sessionBackupSaved_, false);
        publish(sessionBackupIssue_, std::optional<std::string>(error.message()));
    } catch (...) {
        publish(sessionBackupSaved_, false);
        publish(sessionBackupIssue_, std::optional<std::string>(L("本机备份不可写，请先保存项目。")));
    }
}

}  // namespace talvian
