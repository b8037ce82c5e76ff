#pragma once
// The bar across the top of the window: the recording's name, its length before and after
// the cut, undo, redo and export. Follows the document, job and detection slices. Main thread.

#include <QWidget>

#include <optional>
#include <string>

class QLabel;

namespace talvian {

struct CutProject;
class ElidedLabel;
class StudioButton;
class Workspace;

class HeaderBar : public QWidget {
    Q_OBJECT

  public:
    HeaderBar(Workspace& workspace, QWidget* parent = nullptr);

    // A panel is open over the window: export is not offered.
    void setObstructed(bool obstructed);
    // "01:30 → 01:20": the project's length and what the cut keeps, in whole seconds.
    static std::string durationText(const CutProject& project);
    // Export is offered for an analysed project, outside jobs, with no panel open.
    static bool canExport(bool hasProject, bool needsAnalysis, bool busy, bool obstructed);

    static constexpr int kHeight = 64;

  signals:
    // The export button was pressed: the window opens the export panel.
    void exportRequested();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void refresh();
    Workspace& workspace_;
    bool obstructed_ = false;
    bool digitFontSet_ = false;
    ElidedLabel* title_;
    QWidget* divider_;
    QLabel* durations_;
    StudioButton* undo_;
    StudioButton* redo_;
    StudioButton* export_;
};

}  // namespace talvian
