#pragma once
// The lower part of the editor. With a project: a rounded box holding the header row (the
// "添加切点" link and the waveform controls) over the review waveform, with a label over the
// waveform while its detail peaks load or failed. Without one: the empty timeline, a titled
// placeholder with a hint while the first analysis runs and the status line otherwise.
// Follows the document, job and waveform slices. Main thread.

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;

namespace talvian {

class StudioLink;
class WaveformControls;
class WaveformView;
class Workspace;

class TimelineArea : public QWidget {
    Q_OBJECT

  public:
    explicit TimelineArea(Workspace& workspace, QWidget* parent = nullptr);
    ~TimelineArea() override;

    // A click on the waveform outside every pause, at `fraction` (0…1) of its width: moves the
    // playback position to that time of the window shown at this moment. A window that gives
    // no time (empty, not finite) does nothing.
    void seek(double fraction);

    // Makes the manual-range popover attached to `anchor` and shows it (a Qt::Popup). The area
    // owns what it returns and deletes it once it has closed. Without a factory the "添加切点"
    // link is hidden: a link that opens nothing would mislead.
    using ManualPopoverFactory = std::function<QWidget*(QWidget* anchor)>;
    void setManualPopoverFactory(ManualPopoverFactory factory);
    // The popover is open; it closes by the link, by itself or by a click outside.
    bool manualPresented() const { return manualPresented_; }
    // Opens the popover, or closes the open one.
    void toggleManualPopover();

    // The label over the waveform: a running load wins over the failure of the last one.
    enum class WaveformNote { none, loading, issue };
    static WaveformNote waveformNote(bool loading, bool hasIssue);

    // True while the timeline (not the empty timeline) is shown.
    bool showsTimeline() const;
    WaveformView& waveform() const { return *waveform_; }

  signals:
    // The popover opened (true) or closed by any path (false).
    void manualPresentedChanged(bool presented);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void documentChanged();
    void refreshEmptyText();
    void refreshWaveformLabel();
    void manualPopoverGone();

    Workspace& workspace_;
    ManualPopoverFactory manualPopoverFactory_;
    QPointer<QWidget> manualPopover_;
    bool manualPresented_ = false;

    QWidget* timeline_;
    StudioLink* addCut_;
    WaveformControls* controls_;
    // The review waveform; its clicks outside every pause come to seek().
    WaveformView* waveform_;
    QWidget* loadingLabel_;
    QWidget* issueRow_;
    QLabel* issueText_;

    QWidget* emptyTimeline_;
    QLabel* emptyText_;
};

}  // namespace talvian
