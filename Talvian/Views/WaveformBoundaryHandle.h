#pragma once
// The coral grip on one edge of the reviewed pause on the waveform: dragging it moves that edge
// live and commits it as one undo step; a click, or Space or Return while it has the keyboard
// focus, opens the boundary popover for exact times; Left and Right nudge the edge. Screen
// readers meet a button whose press opens the popover and whose value is the edge's time. The
// waveform view owns two of them (one per edge), places, shows and hides them; a grip keeps
// only its focus, its popover and its gesture, and sends every change to the controller.
// Main thread.

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include "BoundaryForm.h"
#include "Model/CoreTypes.h"
#include "Model/CutAdjustment.h"

namespace talvian {

class Workspace;

namespace WaveformHandleKeys {

enum class Action { pass, openPopover, nudge };

struct Decision {
    Action action = Action::pass;
    int direction = 0;    // nudge: −1 Left, +1 Right
    bool coarse = false;  // nudge: Shift held (0.1 s instead of 0.01 s)
    bool operator==(const Decision&) const = default;
};

// What a key press on a grip does. Nothing is handled unless the grip is enabled, focused,
// adjusting is allowed and its popover is closed. Space and Return open the popover only
// without any modifier at all (Caps Lock and the keypad flag count) and not as a repeat; Left
// and Right nudge, repeats included, with no modifier or Shift alone (Ctrl, Alt or Meta pass
// the key on; Caps Lock and the keypad flag do not matter). Every other key passes on.
Decision decide(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat, bool capsLock, bool enabled,
                bool focused, bool canAdjust, bool popoverOpen);

// Caps Lock from a key event's native modifier mask: X11 and xkb both keep Lock at bit 1.
bool capsLockIn(quint32 nativeModifiers);

}  // namespace WaveformHandleKeys

class WaveformBoundaryHandle : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 24;
    static constexpr int kHeight = 28;

    WaveformBoundaryHandle(Workspace& workspace, CutBoundary edge, QWidget* parent = nullptr);
    // Abandons a drag still running and closes an open popover.
    ~WaveformBoundaryHandle() override;

    CutBoundary edge() const { return edge_; }
    // The pause this grip moves, as drawn (during its drag, the proposed region).
    const CutRegion& cut() const { return cut_; }
    // Set by the view at each placement: the pause as drawn and the waveform's width (pixels).
    void setCut(const CutRegion& cut, double waveformWidth);
    // The edge's time, seconds.
    double edgeSeconds() const;
    bool popoverOpen() const { return !popover_.isNull(); }
    // The open popover with the exact times of the pause, if any.
    BoundaryFormPopover* popover() const { return popover_; }

    QSize sizeHint() const override { return {kWidth, kHeight}; }

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    // Assistive technology presses the grip like a click.
    friend class WaveformGripAccessible;
    WaveformHandleKeys::Decision decision(const QKeyEvent& event) const;
    void openPopover();
    void popoverClosed();
    // The horizontal translation since the press, as a fraction of the waveform's width.
    double translationFraction(const QPointF& globalPosition) const;
    // Ends a running drag without committing it: the pause stays as it was.
    void abandonDrag();
    void updateDescription();

    Workspace& workspace_;
    CutBoundary edge_;
    CutRegion cut_;
    double waveformWidth_ = 0;
    QPointer<BoundaryFormPopover> popover_;
    Uuid popoverCut_;  // the pause the open popover adjusts
    // The gesture: a press, then a move of kGripDragDistance turns it into a drag, whose first
    // move begins the controller's boundary drag.
    bool pressed_ = false;
    bool dragging_ = false;
    bool dragBegun_ = false;
    QPointF pressGlobal_;
};

}  // namespace talvian
