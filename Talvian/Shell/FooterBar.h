#pragma once
// The status bar at the bottom of the window (local processing, the session backup's state
// with a retry) and the recovery card of a project whose source is missing or changed.
// Both follow the controller's document slice. Main thread.

#include <QWidget>

#include <optional>

#include "Model/ProjectSelection.h"
#include "ShellWidgets.h"

class QLabel;

namespace talvian {

class StudioButton;
class Workspace;

class FooterBar : public QWidget {
    Q_OBJECT

  public:
    FooterBar(Workspace& workspace, QWidget* parent = nullptr);

    // What the backup part of the footer shows for the controller's values.
    enum class BackupDisplay { none, saved, retry };
    static BackupDisplay backupDisplay(bool hasProject, bool saved, bool hasIssue);

    static constexpr int kHeight = 40;

  private:
    void refresh();
    Workspace& workspace_;
    QLabel* saved_;
    StudioButton* retry_;
};

class RecoveryCard : public FilledShape {
    Q_OBJECT

  public:
    RecoveryCard(Workspace& workspace, QWidget* parent = nullptr);
    // Shows the card for `recovery`, or hides it; the card follows the controller by itself.
    void setRecovery(const std::optional<ProjectRecovery>& recovery);

  private:
    Workspace& workspace_;
    std::optional<ProjectRecovery> recovery_;
    QLabel* path_;
    StudioButton* relocate_;
};

}  // namespace talvian
