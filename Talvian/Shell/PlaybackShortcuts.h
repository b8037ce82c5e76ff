#pragma once
// The window's keys without modifiers: the space bar plays and pauses, and the single-key review
// shortcuts act, whichever control has the focus, yet a text field keeps every key typed into
// it. The main window hands this responder every key event that no widget consumed (Qt passes
// an ignored key to the parent, up to the window), the way a responder placed right after the
// window would see it. Main thread.

#include <functional>

class QKeyEvent;
class QWidget;

namespace talvian {

class PlaybackSpaceResponder {
  public:
    // The toggle of the space bar; nothing when unset.
    std::function<void()> onToggle;
    // The single keys; true when consumed.
    std::function<bool(const QKeyEvent&)> onKey;

    // A key press that reached the window; `focus` is the window's focused widget (or none).
    // True when consumed. A repeat of a handled space press is consumed without a toggle.
    bool keyDown(const QKeyEvent& event, const QWidget* focus);
    // A key release: consumes the release of a space press handled here. On X11 a held key
    // sends release/press pairs marked as repeats; those releases are consumed and the press
    // stays handled until the real release.
    bool keyUp(const QKeyEvent& event);
    bool handledSpaceDown() const { return handledSpaceDown_; }
    // Forgets a handled press (the window lost its keys).
    void reset() { handledSpaceDown_ = false; }

    // Widgets that keep every key typed into them: line edits, text editors, spin boxes and
    // editable combo boxes.
    static bool isTextInput(const QWidget* widget);

  private:
    bool handledSpaceDown_ = false;
};

}  // namespace talvian
