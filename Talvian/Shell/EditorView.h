#pragma once
// The working page shown once a source or a project is set. Top to bottom: the recovery card
// while one is pending, the main row (the preview column with its notes beside the pause-list
// column), the timeline area and at most one status banner. The main row and the timeline
// take the heights EditorLayout gives for the window's content height; the page lays its
// parts out itself, so their fixed heights never raise the window's minimum size (with a
// recovery card the content runs past the bottom instead). While the first analysis runs,
// the analysis panel covers the preview.
//
// Follows the document, detection, job and playback slices; a progress report changes only
// the progress bars and status texts. Main thread.

#include <QWidget>

#include "EditorLayout.h"

class QLabel;

namespace talvian {

class RecoveryCard;
class StudioButton;
class StudioProgress;
class TimelineArea;
class Workspace;

class EditorView : public QWidget {
    Q_OBJECT

  public:
    EditorView(Workspace& workspace, QWidget* parent = nullptr);

    // h, the height of the window's whole content (header, this page and footer), which the
    // sizes follow. The root sets it whenever its height changes.
    void setContentHeight(double height);
    EditorLayout::Sizes sizes() const;
    EditorLayout::Banner banner() const { return banner_; }

    // The parts, for the window that fills their slots and for tests.
    QWidget& mainRow() const { return *mainRow_; }
    TimelineArea& timeline() const { return *timeline_; }
    QWidget& bannerRow() const { return *bannerRow_; }
    QWidget& analysisPanel() const { return *analysisPanel_; }

  signals:
    // The pause list's link to the detection settings.
    void settingsRequested();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildPreviewColumn(QWidget* column);
    void buildBanner();
    void documentChanged();
    void jobChanged();
    void playbackChanged();
    void refreshPreview();
    void refreshBanner();
    void layOut();
    // The width of the stack's items, and the recovery card's height at it (0 while hidden).
    int cardWidth() const;
    int recoveryCardHeight(int width) const;

    Workspace& workspace_;
    double contentHeight_ = 0;
    EditorLayout::Banner banner_ = EditorLayout::Banner::none;

    RecoveryCard* recovery_;
    QWidget* mainRow_;
    TimelineArea* timeline_;

    // ---- Preview column
    // The video preview (the sounding player's picture).
    QWidget* preview_;
    QLabel* audioSymbol_;
    QWidget* analysisPanel_;
    StudioProgress* analysisProgress_;
    QLabel* analysisStatus_;
    // The transport bar, padded 10 on Studio::panel.
    QWidget* transport_;
    QLabel* loadingNote_;
    QLabel* mutedNote_;
    QWidget* auditionLine_;
    QLabel* auditionText_;

    // ---- Pause-list column: the pause list, padded 4 at the top, L wide.
    QWidget* queue_;

    // ---- Banner: one row per kind, at most one shown.
    QWidget* bannerRow_;
    QWidget* busyRow_;
    StudioProgress* busyProgress_;
    QLabel* busyStatus_;
    QWidget* sourceReadRow_;
    QLabel* sourceReadText_;
    QWidget* relocatedRow_;
    QWidget* changedSettingsRow_;
};

}  // namespace talvian
