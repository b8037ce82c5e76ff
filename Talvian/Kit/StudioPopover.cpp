#include "StudioPopover.h"

#include <QAccessible>
#include <QAccessibleApplication>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

#include "Studio.h"

namespace talvian {

namespace {

constexpr int kAnchorGap = 6;
constexpr int kScreenMargin = 4;
constexpr double kBorderOpacity = 0.12;

// The shown popovers, in the order the application lists its windows.
QList<StudioPopover*> shownPopovers() {
    QList<StudioPopover*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* popover = qobject_cast<StudioPopover*>(widget); popover && popover->isVisible())
            shown << popover;
    return shown;
}

// The application's windows as Qt lists them, then the shown popovers.
class ApplicationAccessible : public QAccessibleApplication {
  public:
    int childCount() const override {
        return QAccessibleApplication::childCount() + static_cast<int>(shownPopovers().size());
    }
    QAccessibleInterface* child(int index) const override {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows) return QAccessibleApplication::child(index);
        const QList<StudioPopover*> popovers = shownPopovers();
        if (index - windows >= popovers.size()) return nullptr;
        return QAccessible::queryAccessibleInterface(popovers.at(index - windows));
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const int index = QAccessibleApplication::indexOfChild(child);
        if (index >= 0 || child == nullptr) return index;
        const auto at = shownPopovers().indexOf(qobject_cast<StudioPopover*>(child->object()));
        return at < 0 ? -1 : QAccessibleApplication::childCount() + static_cast<int>(at);
    }
};

QAccessibleInterface* accessibleFactory(const QString& key, QObject* object) {
    if (object == qApp && key == QLatin1String(QApplication::staticMetaObject.className()))
        return new ApplicationAccessible;
    if (key == QLatin1String(StudioPopover::staticMetaObject.className()))
        if (auto* popover = qobject_cast<StudioPopover*>(object))
            return new QAccessibleWidget(popover, QAccessible::Dialog);
    return nullptr;
}

}  // namespace

StudioPopover::StudioPopover(QWidget* anchor) : QFrame(anchor, Qt::Popup), anchor_(anchor) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAutoFillBackground(false);
}

void StudioPopover::installApplicationAccessibility() {
    QAccessible::installFactory(&accessibleFactory);
}

StudioPopover::~StudioPopover() {
    // Destroyed while shown (its anchor went away): the owner still learns that it closed.
    announceClosed();
}

QPoint StudioPopover::placement(const QRect& anchor, const QSize& size, const QRect& screen) {
    int x = anchor.x() + (anchor.width() - size.width()) / 2;
    int y = anchor.bottom() + 1 + kAnchorGap;
    if (y + size.height() > screen.bottom() - kScreenMargin &&
        anchor.top() - kAnchorGap - size.height() >= screen.top())
        y = anchor.top() - kAnchorGap - size.height();
    const int right = screen.right() - kScreenMargin - size.width() + 1;
    x = std::max(screen.left() + kScreenMargin, std::min(x, right));
    return {x, y};
}

void StudioPopover::present() {
    adjustSize();
    QRect bounds;
    QRect screen;
    if (anchor_) {
        bounds = QRect(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
        if (const QScreen* shown = anchor_->screen()) screen = shown->availableGeometry();
    }
    if (screen.isEmpty()) screen = QRect(bounds.topLeft() - QPoint(2000, 2000), QSize(4000, 4000));
    move(placement(bounds, size(), screen));
    show();
    activateWindow();
}

void StudioPopover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Studio::panel);
    painter.setPen(Studio::withOpacity(Qt::white, kBorderOpacity));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void StudioPopover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    announceClosed();
}

void StudioPopover::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

void StudioPopover::announceClosed() {
    if (std::exchange(announced_, true)) return;
    emit closed();
}

}  // namespace talvian
