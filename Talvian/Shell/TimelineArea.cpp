#include "TimelineArea.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Views/WaveformControls.h"
#include "Views/WaveformView.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr double kCornerRadius = 12;
constexpr int kTimelinePadding = 16;
constexpr int kTimelineSpacing = 12;
constexpr int kLabelPadding = 6;
constexpr int kEmptyPadding = 20;
constexpr int kEmptySpacing = 18;
constexpr double kRuleOpacity = 0.2;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// A row of `widgets` padded 6 on a Studio::panel background: the labels over the waveform.
FilledShape* waveformLabel(std::initializer_list<QWidget*> widgets, QWidget* parent) {
    auto* label = new FilledShape(Studio::panel, 0, parent);
    auto* row = new QHBoxLayout(label);
    row->setContentsMargins(kLabelPadding, kLabelPadding, kLabelPadding, kLabelPadding);
    for (QWidget* widget : widgets) row->addWidget(widget, 0, Qt::AlignVCenter);
    label->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    label->hide();
    return label;
}

}  // namespace

TimelineArea::TimelineArea(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    auto* pages = new QStackedLayout(this);
    pages->setContentsMargins(0, 0, 0, 0);

    // ---- The timeline of a project
    timeline_ = new FilledShape(Studio::panel, kCornerRadius, this);
    auto* stack = new QVBoxLayout(timeline_);
    stack->setContentsMargins(kTimelinePadding, kTimelinePadding, kTimelinePadding, kTimelinePadding);
    stack->setSpacing(kTimelineSpacing);

    auto* header = new QHBoxLayout;
    addCut_ = new StudioLink(qt(L("添加切点")), Studio::text, timeline_);
    addCut_->hide();
    header->addWidget(addCut_, 0, Qt::AlignVCenter);
    header->addStretch(1);
    controls_ = new WaveformControls(workspace_, timeline_);
    header->addWidget(controls_, 0, Qt::AlignVCenter);
    stack->addLayout(header);

    // The labels share the waveform's cell, centred at its top edge, in front of it.
    auto* cell = new QGridLayout;
    cell->setContentsMargins(0, 0, 0, 0);
    waveform_ = new WaveformView(
        workspace_, [this](double fraction) { seek(fraction); }, timeline_);
    waveform_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    cell->addWidget(waveform_, 0, 0);
    loadingLabel_ = waveformLabel(
        {makeLabel(L("正在加载局部波形…"), Studio::kBodyPixels, QFont::Normal, Studio::text)}, timeline_);
    cell->addWidget(loadingLabel_, 0, 0, Qt::AlignTop | Qt::AlignHCenter);
    issueText_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::text);
    auto* retry = new StudioButton(qt(L("重试")), false);
    issueRow_ = waveformLabel({issueText_, retry}, timeline_);
    cell->addWidget(issueRow_, 0, 0, Qt::AlignTop | Qt::AlignHCenter);
    stack->addLayout(cell, 1);
    pages->addWidget(timeline_);

    // ---- The empty timeline, before the first analysis has produced a project
    emptyTimeline_ = new FilledShape(Studio::panel, kCornerRadius, this);
    auto* empty = new QVBoxLayout(emptyTimeline_);
    empty->setContentsMargins(kEmptyPadding, kEmptyPadding, kEmptyPadding, kEmptyPadding);
    empty->setSpacing(kEmptySpacing);
    auto* title = new QHBoxLayout;
    title->addWidget(makeLabel(L("波形"), Studio::kBodyPixels, QFont::Normal, Studio::secondary));
    title->addStretch(1);
    empty->addLayout(title);
    auto* rule = new FilledShape(Studio::withOpacity(Studio::secondary, kRuleOpacity), 0, emptyTimeline_);
    rule->setFixedHeight(1);
    empty->addWidget(rule);
    emptyText_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::secondary, emptyTimeline_);
    emptyText_->setWordWrap(true);
    empty->addWidget(emptyText_);
    empty->addStretch(1);
    pages->addWidget(emptyTimeline_);

    connect(addCut_, &QAbstractButton::clicked, this, &TimelineArea::toggleManualPopover);
    connect(retry, &QAbstractButton::clicked, this, [this] { workspace_.reloadWaveformDetail(); });
    bindSlices(*this, workspace_, {Slice::document}, [this] { documentChanged(); });
    bindSlices(*this, workspace_, {Slice::job}, [this] { refreshEmptyText(); });
    bindSlices(*this, workspace_, {Slice::waveform}, [this] { refreshWaveformLabel(); });
    documentChanged();
    refreshEmptyText();
    refreshWaveformLabel();
}

bool TimelineArea::showsTimeline() const {
    return static_cast<QStackedLayout*>(layout())->currentWidget() == timeline_;
}

void TimelineArea::documentChanged() {
    const bool hasProject = workspace_.document().project.has_value();
    static_cast<QStackedLayout*>(layout())->setCurrentWidget(hasProject ? timeline_ : emptyTimeline_);
    // The popover edits the project: it has nothing to work on without one.
    if (!hasProject && manualPopover_) manualPopover_->close();
}

void TimelineArea::refreshEmptyText() {
    emptyText_->setText(workspace_.job().busy ? qt(L("分析完成后，停顿会直接标在波形上。"))
                                              : qt(workspace_.job().status));
}

TimelineArea::WaveformNote TimelineArea::waveformNote(bool loading, bool hasIssue) {
    if (loading) return WaveformNote::loading;
    return hasIssue ? WaveformNote::issue : WaveformNote::none;
}

void TimelineArea::refreshWaveformLabel() {
    const auto& issue = workspace_.waveform().issue;
    const WaveformNote note = waveformNote(workspace_.waveform().loading, issue.has_value());
    loadingLabel_->setVisible(note == WaveformNote::loading);
    issueRow_->setVisible(note == WaveformNote::issue);
    if (issue) issueText_->setText(qt(*issue));
    loadingLabel_->raise();
    issueRow_->raise();
}

void TimelineArea::seek(double fraction) {
    const std::optional<double> time = workspace_.visibleWaveformWindow().time(fraction);
    if (time) workspace_.navigateWaveform(*time);
}

// ---- The manual-range popover

void TimelineArea::setManualPopoverFactory(ManualPopoverFactory factory) {
    manualPopoverFactory_ = std::move(factory);
    addCut_->setVisible(static_cast<bool>(manualPopoverFactory_));
}

void TimelineArea::toggleManualPopover() {
    if (manualPresented_) {
        if (manualPopover_) manualPopover_->close();
        manualPopoverGone();
        return;
    }
    if (!manualPopoverFactory_) return;
    QWidget* popover = manualPopoverFactory_(addCut_);
    if (!popover) return;
    // The press on the link that closes the popover must not reopen it at once.
    popover->setAttribute(Qt::WA_NoMouseReplay);
    manualPopover_ = popover;
    manualPresented_ = true;
    popover->installEventFilter(this);
    connect(popover, &QObject::destroyed, this, [this] {
        manualPopover_ = nullptr;
        manualPopoverGone();
    });
    if (!popover->isVisible()) popover->show();
    emit manualPresentedChanged(true);
}

bool TimelineArea::eventFilter(QObject* watched, QEvent* event) {
    if (watched == manualPopover_ && event->type() == QEvent::Hide) manualPopoverGone();
    return QWidget::eventFilter(watched, event);
}

void TimelineArea::manualPopoverGone() {
    if (!manualPresented_) return;
    manualPresented_ = false;
    if (QWidget* popover = manualPopover_) {
        popover->removeEventFilter(this);
        popover->disconnect(this);
        popover->deleteLater();
    }
    manualPopover_ = nullptr;
    emit manualPresentedChanged(false);
}

TimelineArea::~TimelineArea() {
    // The popover is a window of its own: it goes with the area it belongs to.
    if (QWidget* popover = manualPopover_) {
        popover->removeEventFilter(this);
        popover->disconnect(this);
        delete popover;
    }
}

}  // namespace talvian
