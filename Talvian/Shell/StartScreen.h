#pragma once
// The page shown while there is neither a source nor a project: the invitation to drop or
// choose a recording, the sample, opening a saved project and resuming earlier edits.
// Follows the document and job slices. Main thread.

#include <QWidget>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "Support/SessionBackup.h"

class QLabel;
class QVBoxLayout;

namespace talvian {

class PanelRowButton;
class RecoveryCard;
class Workspace;

class StartScreen : public QWidget {
    Q_OBJECT

  public:
    StartScreen(Workspace& workspace, QWidget* parent = nullptr);

    // How many recent sessions the page lists; the rest are in the File menu.
    static constexpr std::size_t kListedRecentSessions = 2;
    // The entries listed for the controller's recent sessions (the newest first).
    static std::vector<RecentSession> listedSessions(const std::vector<RecentSession>& sessions);
    // The note that edits are backed up shows only when there is nothing to resume.
    static bool showsBackupNote(const std::optional<std::string>& backupName,
                                const std::vector<RecentSession>& sessions);
    // The line under the recent edits: the controller's backup issue when there is one (a
    // damaged backup must not look like a first run), else the note when it shows.
    static std::optional<std::string> backupLine(const std::optional<std::string>& backupName,
                                                 const std::vector<RecentSession>& sessions,
                                                 const std::optional<std::string>& backupIssue);

  private:
    void refresh();
    void rebuildRecentRows(const std::vector<RecentSession>& listed);
    Workspace& workspace_;
    RecoveryCard* recovery_;
    PanelRowButton* resume_;
    QLabel* resumeName_;
    QVBoxLayout* recentRows_;
    std::vector<RecentSession> shownSessions_;
    QLabel* backupNote_;
};

}  // namespace talvian
