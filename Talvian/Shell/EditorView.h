#pragma once
// The page shown once a source or a project is set: the recovery card while one is pending and
// the state of the running job with its progress and a way to stop it. Follows the document and
// job slices. Main thread.

#include <QWidget>

class QLabel;

namespace talvian {

class RecoveryCard;
class StudioButton;
class StudioProgress;
class Workspace;

class EditorView : public QWidget {
    Q_OBJECT

  public:
    EditorView(Workspace& workspace, QWidget* parent = nullptr);

  private:
    void refresh();
    Workspace& workspace_;
    RecoveryCard* recovery_;
    QLabel* status_;
    StudioProgress* progress_;
    StudioButton* cancel_;
};

}  // namespace talvian
