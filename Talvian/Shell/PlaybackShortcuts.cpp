#include "PlaybackShortcuts.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace talvian {

namespace {

// Space with any of these is someone else's shortcut (the keypad flag does not count).
constexpr Qt::KeyboardModifiers kSpaceBlockers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

}  // namespace

bool PlaybackSpaceResponder::isTextInput(const QWidget* widget) {
    if (!widget) return false;
    if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
        qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget))
        return true;
    const auto* combo = qobject_cast<const QComboBox*>(widget);
    return combo && combo->isEditable();
}

bool PlaybackSpaceResponder::keyDown(const QKeyEvent& event, const QWidget* focus) {
    if (isTextInput(focus)) return false;
    if (onKey && onKey(event)) return true;
    if (event.key() == Qt::Key_Space && !(event.modifiers() & kSpaceBlockers) && onToggle) {
        handledSpaceDown_ = true;
        if (!event.isAutoRepeat()) onToggle();
        return true;
    }
    return false;
}

bool PlaybackSpaceResponder::keyUp(const QKeyEvent& event) {
    if (event.key() != Qt::Key_Space || !handledSpaceDown_) return false;
    if (!event.isAutoRepeat()) handledSpaceDown_ = false;
    return true;
}

}  // namespace talvian
