#pragma once
// A small window attached to a control: a Qt::Popup, so a click outside it or Escape closes it,
// drawn as a Studio panel. It deletes itself once closed and says so exactly once, whichever way
// it went (a button, Escape, a click outside, or its anchor going away). Screen readers find a
// shown popover as a dialog among the application's windows, named by its accessible name.
// Main thread.

#include <QFrame>
#include <QPointer>

namespace talvian {

class StudioPopover : public QFrame {
    Q_OBJECT

  public:
    // The popover lives no longer than `anchor`, below (else above) which it is shown.
    explicit StudioPopover(QWidget* anchor);
    ~StudioPopover() override;

    // Shows the popover centred under the anchor's bounds, kept on the anchor's screen.
    void present();
    QWidget* anchor() const { return anchor_; }

    // Where a popover of `size` goes for an anchor at `anchor` (global coordinates) on a screen
    // whose usable area is `screen`: below with a small gap, above when it does not fit below,
    // centred on the anchor and moved sideways to stay on the screen.
    static QPoint placement(const QRect& anchor, const QSize& size, const QRect& screen);

    // Lists shown popovers among the application's windows for assistive technology (Qt leaves
    // every popup window out). Call before the application object is made.
    static void installApplicationAccessibility();

  signals:
    // The popover has gone; emitted once.
    void closed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void announceClosed();
    QPointer<QWidget> anchor_;
    bool announced_ = false;
};

}  // namespace talvian
