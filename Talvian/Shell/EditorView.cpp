#include "EditorView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "FooterBar.h"
#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "TimelineArea.h"
#include "Views/PauseListPanel.h"
#include "Views/SourcePreview.h"
#include "Views/TransportBar.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

using EditorLayout::Banner;

constexpr int kMainRowSpacing = 22;
constexpr double kColumnCornerRadius = 12;
constexpr double kPreviewCornerRadius = 10;
constexpr int kAudioSymbolPixels = 70;
constexpr int kTransportPadding = 10;
constexpr int kNotePadding = 6;
constexpr int kAuditionPadding = 8;
constexpr int kTextLines = 2;
constexpr int kQueueTopPadding = 4;
constexpr int kQueueSpacing = 12;

constexpr int kPanelPadding = 30;
constexpr int kPanelSpacing = 18;
constexpr int kPanelSymbolPixels = 42;
constexpr int kPanelTitlePixels = 20;
constexpr int kPanelProgressWidth = 240;
constexpr double kPanelOpacity = 0.94;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

int rounded(double length) {
    return static_cast<int>(std::lround(length));
}

// A label that wraps and shows at most `lines` lines.
void limitLines(QLabel* label, int lines) {
    label->setWordWrap(true);
    label->setMaximumHeight(label->fontMetrics().lineSpacing() * lines);
}

// The preview area's outline: its own 10 px corners inside the column's 12 px ones (the area
// sits at the top left of its column).
QPainterPath previewOutline(const QWidget& area) {
    QPainterPath own;
    own.addRoundedRect(QRectF(area.rect()), kPreviewCornerRadius, kPreviewCornerRadius);
    const QWidget* column = area.parentWidget();
    if (!column) return own;
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(column->size())), kColumnCornerRadius,
                        kColumnCornerRadius);
    return own.intersected(clip);
}

// A fill of the preview area's rounded outline: the black stage itself, or the analysis veil
// that lies exactly over it (its parent) and takes the stage's outline.
class PreviewFill : public QWidget {
  public:
    PreviewFill(const QColor& color, bool coversParent, QWidget* parent)
        : QWidget(parent), color_(color), coversParent_(coversParent) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        const QWidget* stage = coversParent_ ? parentWidget() : this;
        if (!stage) return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(previewOutline(*stage), color_);
    }

  private:
    QColor color_;
    bool coversParent_;
};

QWidget* row(QWidget* parent, QHBoxLayout*& layout) {
    auto* widget = new QWidget(parent);
    layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    return widget;
}

}  // namespace

EditorView::EditorView(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    recovery_ = new RecoveryCard(workspace_, this);

    mainRow_ = new QWidget(this);
    auto* main = new QHBoxLayout(mainRow_);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(kMainRowSpacing);
    auto* column = new QWidget(mainRow_);
    buildPreviewColumn(column);
    main->addWidget(column, 1);
    queue_ = new QWidget(mainRow_);
    auto* queue = new QVBoxLayout(queue_);
    queue->setContentsMargins(0, kQueueTopPadding, 0, 0);
    queue->setSpacing(kQueueSpacing);
    auto* pauseList = new PauseListPanel(workspace_, queue_);
    queue->addWidget(pauseList, 1);
    main->addWidget(queue_);
    connect(pauseList, &PauseListPanel::settingsRequested, this, &EditorView::settingsRequested);

    timeline_ = new TimelineArea(workspace_, this);
    buildBanner();

    // The recovery card follows the document itself and was bound first, so its refresh runs
    // first and the layout below sees its new height. Each part has its own binding: a progress
    // report refreshes only the job's texts and bars.
    bindSlices(*this, workspace_, {Slice::document}, [this] { documentChanged(); });
    bindSlices(*this, workspace_, {Slice::guards}, [this] { refreshBanner(); });
    bindSlices(*this, workspace_, {Slice::job}, [this] { jobChanged(); });
    bindSlices(*this, workspace_, {Slice::playback}, [this] { playbackChanged(); });
    refreshPreview();
    jobChanged();
    playbackChanged();
    refreshBanner();
    layOut();
}

void EditorView::buildPreviewColumn(QWidget* column) {
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    // The preview area: its layers share one cell, back to front.
    auto* area = new PreviewFill(Qt::black, false, column);
    auto* layers = new QGridLayout(area);
    layers->setContentsMargins(0, 0, 0, 0);
    preview_ = new SourcePreview(workspace_, area);
    preview_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layers->addWidget(preview_, 0, 0);
    audioSymbol_ = makeSymbol("waveform", kAudioSymbolPixels, Studio::secondary, area);
    layers->addWidget(audioSymbol_, 0, 0, Qt::AlignCenter);

    analysisPanel_ = new PreviewFill(Studio::withOpacity(Studio::background, kPanelOpacity), true, area);
    analysisPanel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    auto* panel = new QVBoxLayout(analysisPanel_);
    panel->setContentsMargins(kPanelPadding, kPanelPadding, kPanelPadding, kPanelPadding);
    panel->setSpacing(kPanelSpacing);
    panel->addStretch(1);
    panel->addWidget(makeSymbol("waveform", kPanelSymbolPixels, Studio::secondary), 0, Qt::AlignHCenter);
    panel->addWidget(makeLabel(L("正在查找停顿…"), kPanelTitlePixels, QFont::DemiBold, Studio::text), 0,
                     Qt::AlignHCenter);
    analysisProgress_ = new StudioProgress(analysisPanel_);
    analysisProgress_->setFixedWidth(kPanelProgressWidth);
    panel->addWidget(analysisProgress_, 0, Qt::AlignHCenter);
    analysisStatus_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::secondary, analysisPanel_);
    analysisStatus_->setAlignment(Qt::AlignHCenter);
    analysisStatus_->setWordWrap(true);
    panel->addWidget(analysisStatus_);
    auto* cancel = new StudioButton(qt(L("取消")), false, analysisPanel_);
    panel->addWidget(cancel, 0, Qt::AlignHCenter);
    panel->addStretch(1);
    layers->addWidget(analysisPanel_, 0, 0);
    stack->addWidget(area, 1);

    transport_ = new FilledShape(Studio::panel, 0, column);
    auto* transport = new QVBoxLayout(transport_);
    transport->setContentsMargins(kTransportPadding, kTransportPadding, kTransportPadding, kTransportPadding);
    transport->addWidget(new TransportBar(workspace_, transport_));
    stack->addWidget(transport_);

    loadingNote_ =
        makeLabel(L("正在载入预览…"), Studio::kBodyPixels, QFont::Normal, Studio::secondary, column);
    mutedNote_ = makeLabel(L("预览已静音；导出音量不变。"), Studio::kBodyPixels, QFont::Normal,
                           Studio::secondary, column);
    for (QLabel* note : {loadingNote_, mutedNote_}) {
        note->setContentsMargins(kNotePadding, kNotePadding, kNotePadding, kNotePadding);
        stack->addWidget(note);
    }

    auditionLine_ = new QWidget(column);
    auto* audition = new QHBoxLayout(auditionLine_);
    audition->setContentsMargins(kAuditionPadding, kAuditionPadding, kAuditionPadding, kAuditionPadding);
    auditionText_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::text, auditionLine_);
    limitLines(auditionText_, kTextLines);
    audition->addWidget(auditionText_, 1);
    auto* back = new StudioButton(qt(L("返回全片")), false, auditionLine_);
    audition->addWidget(back, 0, Qt::AlignVCenter);
    stack->addWidget(auditionLine_);

    connect(cancel, &QAbstractButton::clicked, this, [this] { workspace_.cancelCut(); });
    connect(back, &QAbstractButton::clicked, this, [this] { workspace_.stopAudition(true); });
}

void EditorView::buildBanner() {
    bannerRow_ = new QWidget(this);
    auto* rows = new QVBoxLayout(bannerRow_);
    rows->setContentsMargins(0, 0, 0, 0);
    QHBoxLayout* layout = nullptr;

    busyRow_ = row(bannerRow_, layout);
    busyProgress_ = new StudioProgress(busyRow_);
    layout->addWidget(busyProgress_, 1, Qt::AlignVCenter);
    busyStatus_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::text, busyRow_);
    layout->addWidget(busyStatus_, 0, Qt::AlignVCenter);
    auto* cancel = new StudioButton(qt(L("取消")), false, busyRow_);
    layout->addWidget(cancel, 0, Qt::AlignVCenter);
    rows->addWidget(busyRow_);

    // The text banners sit in the middle of the editor's width.
    sourceReadRow_ = row(bannerRow_, layout);
    layout->addStretch(1);
    sourceReadText_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::text, sourceReadRow_);
    limitLines(sourceReadText_, kTextLines);
    layout->addWidget(sourceReadText_, 0, Qt::AlignVCenter);
    auto* reselect = new StudioButton(qt(L("重新选择同一素材…")), false, sourceReadRow_);
    layout->addWidget(reselect, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    rows->addWidget(sourceReadRow_);

    relocatedRow_ = row(bannerRow_, layout);
    layout->addStretch(1);
    layout->addWidget(makeLabel(L("已核对并找回同一原片，剪辑已保留。请保存项目以记录新位置。"),
                                Studio::kBodyPixels, QFont::Normal, Studio::text),
                      0, Qt::AlignVCenter);
    auto* save = new StudioButton(qt(L("保存新位置…")), false, relocatedRow_);
    layout->addWidget(save, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    rows->addWidget(relocatedRow_);

    changedSettingsRow_ = row(bannerRow_, layout);
    layout->addStretch(1);
    layout->addWidget(
        makeLabel(L("参数已变化，需要重新分析。"), Studio::kBodyPixels, QFont::Normal, Studio::text), 0,
        Qt::AlignVCenter);
    auto* restore = new StudioButton(qt(L("恢复本次分析参数")), false, changedSettingsRow_);
    layout->addWidget(restore, 0, Qt::AlignVCenter);
    auto* analyze = new StudioButton(qt(L("重新分析")), false, changedSettingsRow_);
    layout->addWidget(analyze, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    rows->addWidget(changedSettingsRow_);

    for (QWidget* banner : {busyRow_, sourceReadRow_, relocatedRow_, changedSettingsRow_}) banner->hide();
    bannerRow_->hide();

    connect(cancel, &QAbstractButton::clicked, this, [this] { workspace_.cancelCut(); });
    connect(reselect, &QAbstractButton::clicked, this, [this] { workspace_.reselectPreviewSource(); });
    connect(save, &QAbstractButton::clicked, this, [this] { workspace_.saveProject(); });
    connect(restore, &QAbstractButton::clicked, this, [this] { workspace_.restoreAnalyzedOptions(); });
    connect(analyze, &QAbstractButton::clicked, this, [this] { workspace_.analyze(); });
}

// ---- Following the controller

void EditorView::documentChanged() {
    refreshPreview();
    refreshBanner();
    // The recovery card may have come, gone or changed its height.
    layOut();
}

void EditorView::jobChanged() {
    const double progress = workspace_.job().progress;
    const QString status = qt(workspace_.job().status);
    refreshPreview();
    analysisProgress_->setFraction(progress);
    analysisStatus_->setText(status);
    busyProgress_->setFraction(progress);
    busyStatus_->setText(status);
    refreshBanner();
}

void EditorView::playbackChanged() {
    loadingNote_->setVisible(workspace_.playback().previewLoading);
    mutedNote_->setVisible(workspace_.playback().soundMuted);
    const auto audition = workspace_.auditionStatus();
    auditionLine_->setVisible(audition.has_value());
    if (audition) auditionText_->setText(qt(*audition));
    refreshBanner();
}

void EditorView::refreshPreview() {
    const auto& project = workspace_.document().project;
    // An audio recording shows its symbol once analysed; until then the player stays.
    const bool audioOnly = project && !project->info.hasVideo;
    audioSymbol_->setVisible(audioOnly);
    preview_->setVisible(!audioOnly);
    analysisPanel_->setVisible(workspace_.job().busy && !project);
}

void EditorView::refreshBanner() {
    const auto& readIssue = workspace_.playback().sourceReadIssue;
    const Banner banner = EditorLayout::banner(
        workspace_.job().busy, workspace_.document().project.has_value(), readIssue.has_value(),
        workspace_.document().sourceLocationNeedsSaving, workspace_.guards().needsAnalysis);
    const QString readText = readIssue ? qt(*readIssue) : QString();
    const bool readTextChanged = readText != sourceReadText_->text();
    sourceReadText_->setText(readText);
    if (banner == banner_ && !(banner == Banner::sourceRead && readTextChanged)) return;
    banner_ = banner;
    busyRow_->setVisible(banner == Banner::busy);
    sourceReadRow_->setVisible(banner == Banner::sourceRead);
    relocatedRow_->setVisible(banner == Banner::relocated);
    changedSettingsRow_->setVisible(banner == Banner::changedSettings);
    bannerRow_->setVisible(banner != Banner::none);
    layOut();
}

// ---- Layout

void EditorView::setContentHeight(double height) {
    if (height == contentHeight_) return;
    contentHeight_ = height;
    layOut();
}

EditorLayout::Sizes EditorView::sizes() const {
    return EditorLayout::sizes(contentHeight_, banner_ != Banner::none, recoveryCardHeight(cardWidth()));
}

int EditorView::cardWidth() const {
    return std::max(width() - 2 * rounded(EditorLayout::kStackPadding), 0);
}

int EditorView::recoveryCardHeight(int width) const {
    if (recovery_->isHidden()) return 0;
    return recovery_->hasHeightForWidth() ? recovery_->heightForWidth(width) : recovery_->sizeHint().height();
}

void EditorView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOut();
}

void EditorView::layOut() {
    using namespace EditorLayout;
    const EditorLayout::Sizes computed = sizes();
    const int padding = rounded(kStackPadding);
    const int spacing = rounded(kStackSpacing);
    const int x = padding;
    const int width = cardWidth();
    int y = padding;

    // The card's height came out of the main row (sizes()); only at the smallest main row does
    // the page run past its bottom.
    if (const int height = recoveryCardHeight(width); height > 0) {
        recovery_->setGeometry(x, y, width, height);
        y += height + spacing;
    }
    const int mainRowHeight = rounded(computed.mainRowHeight);
    queue_->setFixedWidth(rounded(computed.listWidth));
    mainRow_->setGeometry(x, y, width, mainRowHeight);
    y += mainRowHeight + spacing;
    const int timelineHeight = rounded(computed.timelineHeight);
    timeline_->setGeometry(x, y, width, timelineHeight);
    y += timelineHeight;

    if (banner_ != Banner::none) {
        // The banner's share of the height, after one spacing of the stack. A row taller than
        // its share (buttons, two lines of text) is centred on it and reaches into the
        // spacing and padding around it rather than being cut.
        const int share = rounded(kBannerAllowance - kStackSpacing);
        const int natural = bannerRow_->hasHeightForWidth() ? bannerRow_->heightForWidth(width)
                                                            : bannerRow_->sizeHint().height();
        const int height = std::max(share, natural);
        bannerRow_->setGeometry(x, y + spacing + (share - height) / 2, width, height);
    }
}

}  // namespace talvian
