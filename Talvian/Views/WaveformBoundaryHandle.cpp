#include "WaveformBoundaryHandle.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>

#include "Kit/AccessibleFactory.h"
#include "Kit/Studio.h"
#include "Model/Localization.h"
#include "Support/NumberText.h"
#include "WaveformGeometry.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace WaveformHandleKeys {

namespace {

// The modifiers an arrow key looks at; the keypad and group-switch flags do not count.
constexpr Qt::KeyboardModifiers kArrowModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
// Lock in the X11 core and xkb modifier masks.
constexpr quint32 kNativeLockMask = 0x2;

}  // namespace

Decision decide(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat, bool capsLock, bool enabled,
                bool focused, bool canAdjust, bool popoverOpen) {
    if (!enabled || !focused || !canAdjust || popoverOpen) return {};
    switch (key) {
        case Qt::Key_Space:
        case Qt::Key_Return:
            if (autoRepeat || modifiers != Qt::NoModifier || capsLock) return {};
            return {Action::openPopover, 0, false};
        case Qt::Key_Left:
        case Qt::Key_Right: {
            const Qt::KeyboardModifiers looked = modifiers & kArrowModifiers;
            if (looked != Qt::NoModifier && looked != Qt::ShiftModifier) return {};
            return {Action::nudge, key == Qt::Key_Left ? -1 : 1, looked == Qt::ShiftModifier};
        }
        default:
            return {};
    }
}

bool capsLockIn(quint32 nativeModifiers) {
    return (nativeModifiers & kNativeLockMask) != 0;
}

}  // namespace WaveformHandleKeys

namespace {

constexpr double kCornerRadius = 7;
constexpr int kSymbolPixels = 13;
// The keyboard focus shows as a ring of the text colour just inside the grip's edge.
constexpr double kFocusRingWidth = 1.5;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

// A grip reads as a button named after what it does, its value the edge's time.
class WaveformGripAccessible : public QAccessibleWidget {
  public:
    explicit WaveformGripAccessible(WaveformBoundaryHandle* grip)
        : QAccessibleWidget(grip, QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) return grip()->accessibleDescription();
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override {
        QStringList names;
        if (grip()->isEnabled()) names << pressAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name != pressAction()) return QAccessibleWidget::doAction(name);
        if (grip()->isEnabled()) grip()->openPopover();
    }

  private:
    WaveformBoundaryHandle* grip() const { return static_cast<WaveformBoundaryHandle*>(widget()); }
};

WaveformBoundaryHandle::WaveformBoundaryHandle(Workspace& workspace, CutBoundary edge, QWidget* parent)
    : QWidget(parent), workspace_(workspace), edge_(edge) {
    installAccessibleFactory<WaveformGripAccessible, WaveformBoundaryHandle>();
    setFixedSize(kWidth, kHeight);
    // Clicked or tabbed to, the grip keeps the keys: the arrows nudge the edge it holds.
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::SizeHorCursor);
    setAccessibleName(
        qt(edge == CutBoundary::start ? L("拖动调整起点，点击精确输入") : L("拖动调整终点，点击精确输入")));
    setToolTip(qt(L("拖动或点击调整；焦点在端点时←/→微调0.01秒，Shift为0.1秒，限当前视野；Ctrl+Z撤销")));
    updateDescription();
}

WaveformBoundaryHandle::~WaveformBoundaryHandle() {
    abandonDrag();
    if (popover_) {
        // Gone with the grip: the draft audition stops, and there is no grip to take the focus.
        disconnect(popover_, nullptr, this, nullptr);
        workspace_.stopAdjustmentAudition(popoverCut_);
        delete popover_.data();
    }
}

void WaveformBoundaryHandle::setCut(const CutRegion& cut, double waveformWidth) {
    waveformWidth_ = waveformWidth;
    if (cut == cut_) return;
    cut_ = cut;
    updateDescription();
}

double WaveformBoundaryHandle::edgeSeconds() const {
    return edge_ == CutBoundary::start ? cut_.start : cut_.end;
}

void WaveformBoundaryHandle::updateDescription() {
    setAccessibleDescription(qt(L("%@ 秒", fixedDecimal(edgeSeconds(), 4))));
}

bool WaveformBoundaryHandle::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // A key the grip handles is not taken by a window shortcut first.
            auto* key = static_cast<QKeyEvent*>(event);
            if (decision(*key).action != WaveformHandleKeys::Action::pass) {
                key->accept();
                return true;
            }
            break;
        }
        case QEvent::WindowDeactivate:
            // The window will not see the release of a pointer that left with it.
            abandonDrag();
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

void WaveformBoundaryHandle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(Studio::kDisabledOpacity);
    const QRectF bounds = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(bounds, kCornerRadius, kCornerRadius);
    painter.fillPath(shape, Studio::coral);
    if (hasFocus()) {
        const double inset = kFocusRingWidth / 2;
        QPainterPath ring;
        ring.addRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), kCornerRadius - inset,
                            kCornerRadius - inset);
        painter.strokePath(ring, QPen(Studio::text, kFocusRingWidth));
    }
    const QPixmap symbol = Studio::symbol("pause.fill", kSymbolPixels, Qt::black);
    const QSizeF size = QSizeF(symbol.size()) / symbol.devicePixelRatio();
    painter.drawPixmap(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), symbol);
}

void WaveformBoundaryHandle::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressed_ = true;
    dragging_ = false;
    dragBegun_ = false;
    // Global: the grip itself moves under the pointer while the edge follows it.
    pressGlobal_ = event->globalPosition();
    event->accept();
}

void WaveformBoundaryHandle::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_) return QWidget::mouseMoveEvent(event);
    event->accept();
    const QPointF moved = event->globalPosition() - pressGlobal_;
    if (!dragging_) {
        if (!WaveformGeometry::movedAtLeast(moved.x(), moved.y(), WaveformGeometry::kGripDragDistance))
            return;
        dragging_ = true;
    }
    if (!dragBegun_) {
        setFocus(Qt::MouseFocusReason);
        dragBegun_ = true;
        workspace_.beginWaveformBoundary(cut_.id, edge_);
    }
    workspace_.updateWaveformBoundary(translationFraction(event->globalPosition()));
}

void WaveformBoundaryHandle::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) return QWidget::mouseReleaseEvent(event);
    event->accept();
    pressed_ = false;
    if (!dragging_) {
        // Under the drag distance: a click.
        setFocus(Qt::MouseFocusReason);
        openPopover();
        return;
    }
    dragging_ = false;
    if (dragBegun_) {
        dragBegun_ = false;
        workspace_.updateWaveformBoundary(translationFraction(event->globalPosition()));
        workspace_.finishWaveformBoundary();
        // The gesture is over: whatever the finish did, no drag is left behind.
        workspace_.setBoundaryDrag(std::nullopt);
    }
}

void WaveformBoundaryHandle::keyPressEvent(QKeyEvent* event) {
    if (dragging_ && event->key() == Qt::Key_Escape) {
        abandonDrag();
        return event->accept();
    }
    const WaveformHandleKeys::Decision action = decision(*event);
    switch (action.action) {
        case WaveformHandleKeys::Action::openPopover:
            openPopover();
            return event->accept();
        case WaveformHandleKeys::Action::nudge:
            // Handled whatever the controller makes of it: the key never reaches the window.
            workspace_.nudgeWaveformBoundary(cut_.id, edge_, action.direction, action.coarse);
            return event->accept();
        case WaveformHandleKeys::Action::pass:
            break;
    }
    // Ignored: Qt hands the key to the parent, up to the window's own key routing.
    event->ignore();
}

void WaveformBoundaryHandle::hideEvent(QHideEvent* event) {
    abandonDrag();
    // A popover is attached to a grip on screen: it goes with it.
    if (popover_) popover_->close();
    QWidget::hideEvent(event);
}

void WaveformBoundaryHandle::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void WaveformBoundaryHandle::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

WaveformHandleKeys::Decision WaveformBoundaryHandle::decision(const QKeyEvent& event) const {
    return WaveformHandleKeys::decide(event.key(), event.modifiers(), event.isAutoRepeat(),
                                      WaveformHandleKeys::capsLockIn(event.nativeModifiers()), isEnabled(),
                                      hasFocus(), workspace_.guards().canAdjustWaveformBoundary,
                                      popoverOpen());
}

double WaveformBoundaryHandle::translationFraction(const QPointF& globalPosition) const {
    return (globalPosition.x() - pressGlobal_.x()) / std::max(waveformWidth_, 1.0);
}

void WaveformBoundaryHandle::abandonDrag() {
    const bool begun = dragBegun_;
    pressed_ = false;
    dragging_ = false;
    dragBegun_ = false;
    if (begun) workspace_.setBoundaryDrag(std::nullopt);
}

void WaveformBoundaryHandle::openPopover() {
    if (popoverOpen()) return;
    setFocus(Qt::OtherFocusReason);
    const double duration = workspace_.document().project ? workspace_.document().project->info.duration : 0;
    popover_ = new BoundaryFormPopover(workspace_, cut_, duration, this);
    popoverCut_ = cut_.id;
    connect(popover_, &StudioPopover::closed, this, &WaveformBoundaryHandle::popoverClosed);
    popover_->present();
}

void WaveformBoundaryHandle::popoverClosed() {
    // Closed is closed, though the popover deletes itself only later: the keys are the grip's.
    popover_ = nullptr;
    // Only the draft audition of this pause stops; the keys come back to the grip.
    workspace_.stopAdjustmentAudition(popoverCut_);
    if (isVisible()) setFocus(Qt::PopupFocusReason);
}

}  // namespace talvian
