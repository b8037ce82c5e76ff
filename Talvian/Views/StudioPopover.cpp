#include "StudioPopover.h"

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

}  // namespace

StudioPopover::StudioPopover(QWidget* anchor) : QFrame(anchor, Qt::Popup), anchor_(anchor) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAutoFillBackground(false);
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
