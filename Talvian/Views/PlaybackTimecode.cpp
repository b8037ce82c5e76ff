#include "PlaybackTimecode.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Support/NumberText.h"
#include "Workspace/PlaybackClock.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kPopoverWidth = 330;
constexpr int kPopoverPadding = 20;
constexpr int kPopoverSpacing = 16;
constexpr int kHeadlinePixels = 13;
// The same rounding the controller's range message shows.
constexpr int kPrefillDecimals = 3;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// What the typed time is checked against: not a number without a project, so the check says
// the source time is unavailable.
double checkedDuration(const Workspace& workspace) {
    const auto& project = workspace.document().project;
    return project ? project->info.duration : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

// ---- Clock

ClockButton::ClockButton(PlaybackClock& clock, QWidget* parent) : QAbstractButton(parent), clock_(clock) {
    setFont(Studio::monospacedDigitFont(Studio::kBodyPixels));
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(qs(L("跳转到原片时间")));
    // The position ticks reach this label alone; nothing else redraws for them.
    connect(&clock_, &PlaybackClock::positionChanged, this, &ClockButton::relabel);
    relabel();
}

void ClockButton::setDuration(double seconds) {
    if (seconds == duration_) return;
    duration_ = seconds;
    relabel();
}

void ClockButton::relabel() {
    const QString label = qs(PlaybackTimecode::clockText(clock_.position(), duration_));
    if (label == label_) return;
    const QSize before = sizeHint();
    label_ = label;
    if (sizeHint() != before) updateGeometry();
    update();
}

QSize ClockButton::sizeHint() const {
    const QFontMetrics metrics(font());
    // Two pixels each side leave room for the focus ring.
    return {metrics.horizontalAdvance(label_) + 4, metrics.height() + 4};
}

void ClockButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!isEnabled())
        painter.setOpacity(Studio::kDisabledOpacity);
    else if (isDown())
        painter.setOpacity(Studio::kPressedOpacity);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, label_);
    if (hasFocus()) {
        painter.setOpacity(1);
        painter.setPen(Studio::coral);
        painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

// ---- Popover

TimeJumpPopover::TimeJumpPopover(Workspace& workspace, const QString& text, QWidget* anchor)
    : StudioPopover(anchor), workspace_(workspace) {
    setAccessibleName(qs(L("跳转到原片时间")));
    setFixedWidth(kPopoverWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPopoverPadding, kPopoverPadding, kPopoverPadding, kPopoverPadding);
    column->setSpacing(kPopoverSpacing);

    auto* title = new QLabel(qs(L("跳转到原片时间")), this);
    title->setFont(Studio::font(kHeadlinePixels, QFont::Bold));
    column->addWidget(title);

    field_ = new StudioField(qs(L("秒 / 分:秒")), this);
    field_->setText(text);
    column->addWidget(field_);

    issue_ = new QLabel(this);
    issue_->setWordWrap(true);
    QPalette palette = issue_->palette();
    palette.setColor(QPalette::WindowText, Studio::secondary);
    issue_->setPalette(palette);
    column->addWidget(issue_);

    auto* buttons = new QHBoxLayout;
    cancel_ = new StudioButton(qs(L("取消")), false, this);
    jump_ = new StudioButton(qs(L("跳转")), false, this);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(jump_);
    column->addLayout(buttons);

    connect(cancel_, &QAbstractButton::clicked, this, &QWidget::close);
    connect(jump_, &QAbstractButton::clicked, this, &TimeJumpPopover::jump);
    connect(field_, &QLineEdit::returnPressed, this, &TimeJumpPopover::jump);
    connect(field_, &QLineEdit::textChanged, this, &TimeJumpPopover::refresh);
    // The project may go away (or come) while the popover is open.
    bindSlices(*this, workspace_, {Slice::document}, [this] { refresh(); });
    refresh();
    field_->setFocus();
}

bool TimeJumpPopover::jump() {
    if (!workspace_.jumpToSourceTime(field_->text().toStdString())) return false;
    close();
    return true;
}

void TimeJumpPopover::refresh() {
    const auto issue = Workspace::sourceTimeIssue(field_->text().toStdString(), checkedDuration(workspace_));
    issue_->setText(issue ? qs(*issue) : QString());
    issue_->setVisible(issue.has_value());
    jump_->setEnabled(!issue);
    // The issue line comes and goes: the popover keeps fitting its content.
    if (isVisible()) adjustSize();
}

// ---- Timecode

PlaybackTimecode::PlaybackTimecode(Workspace& workspace, QWidget* parent)
    : QWidget(parent), workspace_(workspace) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    clock_ = new ClockButton(workspace_.playbackClock(), this);
    row->addWidget(clock_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    connect(clock_, &QAbstractButton::clicked, this, &PlaybackTimecode::openJump);
    // Whether a typed time can be used is a guard; the duration is the project's.
    bindSlices(*this, workspace_, {Slice::document, Slice::guards}, [this] { refresh(); });
    refresh();
}

PlaybackTimecode::~PlaybackTimecode() {
    if (TimeJumpPopover* open = popover_.data()) {
        disconnect(open, nullptr, this, nullptr);
        delete open;
    }
}

std::string PlaybackTimecode::clockText(double position, double duration) {
    return timeLabel(position) + " / " + timeLabel(duration);
}

std::string PlaybackTimecode::prefill(double position, double duration) {
    double seconds = std::isnan(position) ? 0 : std::max(position, 0.0);
    const bool bounded = std::isfinite(duration) && duration > 0;
    if (bounded) seconds = std::min(seconds, duration);
    if (!std::isfinite(seconds)) seconds = 0;
    std::string text = fixedDecimal(seconds, kPrefillDecimals);
    // Rounding to milliseconds may step past the end of the file; the exact value never does.
    if (bounded && parseDecimal(text).value_or(seconds) > duration) text = shortestDecimal(seconds);
    return text;
}

double PlaybackTimecode::duration() const {
    const auto& project = workspace_.document().project;
    return project ? project->info.duration : 0;
}

void PlaybackTimecode::openJump() {
    if (popover_ || !workspace_.guards().canJumpToSourceTime) return;
    const QString text = qs(prefill(workspace_.playbackClock().position(), duration()));
    auto* popover = new TimeJumpPopover(workspace_, text, clock_);
    popover_ = popover;
    connect(popover, &StudioPopover::closed, this, [this] { emit jumpEditingChanged(false); });
    popover->present();
    emit jumpEditingChanged(true);
}

void PlaybackTimecode::refresh() {
    clock_->setDuration(duration());
    clock_->setEnabled(workspace_.guards().canJumpToSourceTime);
}

}  // namespace talvian
