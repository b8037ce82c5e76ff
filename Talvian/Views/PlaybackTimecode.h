#pragma once
// The playback clock of the transport bar and its jump to a typed source time. The label
// follows the playback clock's own signal, so position ticks repaint this one text and nothing
// else; its enabling and the duration follow the controller's slices. The jump popover holds
// only the typed text: reading it and moving there are the controller's. Main thread.

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <string>

#include "Kit/StudioPopover.h"

class QLabel;

namespace talvian {

class PlaybackClock;
class StudioButton;
class StudioField;
class Workspace;

// "position / duration" in monospaced digits, drawn flat in the inherited text colour (at 0.4
// while disabled). Clicking it only reports the click. A tick repaints the label and asks for
// a new layout only when the text's width changed (it keeps its width while the digits run).
class ClockButton : public QAbstractButton {
    Q_OBJECT

  public:
    ClockButton(PlaybackClock& clock, QWidget* parent = nullptr);
    // Seconds shown after the position.
    void setDuration(double seconds);
    double duration() const { return duration_; }
    const QString& label() const { return label_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void relabel();
    PlaybackClock& clock_;
    double duration_ = 0;
    // Not the button's text: setting that relayouts the window at every tick.
    QString label_;
};

// The form of the jump: the typed time, why it cannot be used, and the two buttons.
class TimeJumpPopover : public StudioPopover {
    Q_OBJECT

  public:
    // Opens with `text` in the field; the duration is read from the controller at every check.
    TimeJumpPopover(Workspace& workspace, const QString& text, QWidget* anchor);

    StudioField& field() const { return *field_; }
    // Shown only while the typed time cannot be used.
    QLabel& issueLabel() const { return *issue_; }
    StudioButton& jumpButton() const { return *jump_; }
    StudioButton& cancelButton() const { return *cancel_; }

    // Moves to the typed time and closes; a refused jump leaves the popover and its text as
    // they are. True when it moved.
    bool jump();

  private:
    void refresh();

    Workspace& workspace_;
    StudioField* field_;
    QLabel* issue_;
    StudioButton* cancel_;
    StudioButton* jump_;
};

class PlaybackTimecode : public QWidget {
    Q_OBJECT

  public:
    explicit PlaybackTimecode(Workspace& workspace, QWidget* parent = nullptr);
    // Closes an open popover first, so that its close is not reported to a half-gone clock.
    ~PlaybackTimecode() override;

    // The clock's text, e.g. 83.3 s of 725 s: "01:23.3 / 12:05.0".
    static std::string clockText(double position, double duration);
    // The field's text when the popover opens: the position clamped to [0, duration] with
    // three decimals, or, where that rounding would pass the duration, the shortest text that
    // reads back exactly; so the current position is never refused. Without a usable duration
    // only the lower bound applies.
    static std::string prefill(double position, double duration);
    // The open project's duration, 0 without one.
    double duration() const;

    ClockButton& clockButton() const { return *clock_; }
    // The jump popover while it is open.
    TimeJumpPopover* popover() const { return popover_; }
    // What a click on the clock does: fills the field from the position and opens the popover.
    // Nothing while the controller refuses jumps.
    void openJump();

  signals:
    // The jump popover opened or closed (the window routes keys elsewhere while it is open).
    void jumpEditingChanged(bool open);

  private:
    void refresh();

    Workspace& workspace_;
    ClockButton* clock_;
    QPointer<TimeJumpPopover> popover_;
};

}  // namespace talvian
