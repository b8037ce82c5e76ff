#include "PauseListPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QVBoxLayout>

#include "CutRow.h"
#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/Localization.h"
#include "PauseListView.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kPartSpacing = 12;
constexpr int kTopPadding = 4;
constexpr int kTitlePixels = 17;
constexpr int kEmptyPadding = 26;
constexpr int kWarningSpacing = 8;
constexpr int kWarningIconPixels = 15;
// Shares of the recording marked for deletion from which the panel warns.
constexpr double kNoteShare = 0.4;
constexpr double kAlarmShare = 0.8;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

void setColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
}

QLabel* label(const QString& text, const QColor& colour, QWidget* parent) {
    auto* made = new QLabel(text, parent);
    setColour(*made, colour);
    return made;
}

}  // namespace

PauseListSummary PauseListSummary::of(const std::optional<CutProject>& project) {
    PauseListSummary summary;
    long long removed = 0;
    if (project)
        for (const auto& region : project->cuts) removed += region.remove ? 1 : 0;
    summary.title = L("待删除停顿 · %@", std::to_string(removed));
    if (!project) return summary;
    summary.showsEmptyText = project->cuts.empty();
    if (project->info.duration > 0) {
        const double share = project->removedDuration() / project->info.duration;
        if (share >= kAlarmShare)
            summary.removalWarning = Warning{"exclamationmark.triangle",
                                             L("待删内容超过 80%。请逐段听原音，确认没有误删。"), true};
        else if (share >= kNoteShare)
            summary.removalWarning =
                Warning{"info.circle", L("这段录音有较多内容被标为删除。导出前请先试听几处停顿。"), false};
    }
    if (project->diagnostics && project->diagnostics->warning)
        summary.detectionWarning = L(*project->diagnostics->warning);
    return summary;
}

PauseListBatchBar PauseListBatchBar::of(bool batchMode, std::size_t selected, bool canSelectBatch,
                                        bool canKeepBatch, bool canDeleteBatch) {
    PauseListBatchBar bar;
    bar.visible = batchMode;
    bar.switchText = batchMode ? L("完成选择") : L("选择");
    bar.switchEnabled = canSelectBatch;
    bar.countText = L("已选 %@ 段", std::to_string(selected));
    bar.keepEnabled = canKeepBatch;
    bar.deleteEnabled = canDeleteBatch;
    return bar;
}

PauseListPanel::PauseListPanel(Workspace& workspace, QWidget* parent)
    : QWidget(parent), workspace_(workspace) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, kTopPadding, 0, 0);
    column->setSpacing(kPartSpacing);

    title_ = label({}, Studio::text, this);
    title_->setFont(Studio::font(kTitlePixels, QFont::DemiBold));
    column->addWidget(title_);

    // Header: the order menu, the batch switch and the keep/delete-all menu.
    auto* header = new QHBoxLayout;
    orderButton_ = new StudioButton(qs(L("按时间")), false, this);
    // Its text is the order chosen; screen readers also hear that it opens the menu of orders.
    makeStudioMenuButton(*orderButton_);
    orderMenu_ = new QMenu(this);
    const std::pair<ReviewOrder, const char*> orders[] = {{ReviewOrder::chronological, "按时间"},
                                                          {ReviewOrder::longestFirst, "长段优先"}};
    for (const auto& [order, text] : orders) {
        const ReviewOrder chosen = order;
        orderMenu_->addAction(qs(L(text)), this, [this, chosen] { workspace_.setReviewOrder(chosen); });
    }
    connect(orderButton_, &QAbstractButton::clicked, this,
            [this] { orderMenu_->popup(orderButton_->mapToGlobal(QPoint(0, orderButton_->height()))); });
    header->addWidget(orderButton_);
    header->addStretch(1);
    selectionSwitch_ = new StudioLink(qs(L("选择")), Studio::text, this, false);
    connect(selectionSwitch_, &QAbstractButton::clicked, this, &PauseListPanel::toggleBatchMode);
    header->addWidget(selectionSwitch_);
    moreButton_ = StudioButton::iconButton("ellipsis", qs(L("更多停顿操作")), this);
    moreButton_->setAccessibleName(qs(L("更多停顿操作")));
    makeStudioMenuButton(*moreButton_);
    moreMenu_ = new QMenu(this);
    moreMenu_->addAction(qs(L("全部保留")), this, [this] { workspace_.setAllCuts(false); });
    moreMenu_->addAction(qs(L("全部删除")), this, [this] { workspace_.setAllCuts(true); });
    connect(moreButton_, &QAbstractButton::clicked, this,
            [this] { moreMenu_->popup(moreButton_->mapToGlobal(QPoint(0, moreButton_->height()))); });
    header->addWidget(moreButton_);
    column->addLayout(header);

    // The batch bar: two rows, shown in batch mode.
    batchBar_ = new QWidget(this);
    auto* bar = new QVBoxLayout(batchBar_);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(kPartSpacing);
    auto* firstRow = new QHBoxLayout;
    selectAll_ = new StudioLink(qs(L("全选")), Studio::secondary, batchBar_, false);
    clearSelection_ = new StudioLink(qs(L("清空选择")), Studio::secondary, batchBar_, false);
    connect(selectAll_, &QAbstractButton::clicked, this, [this] { workspace_.selectAllBatch(); });
    connect(clearSelection_, &QAbstractButton::clicked, this, [this] { workspace_.clearBatchSelection(); });
    firstRow->addWidget(selectAll_);
    firstRow->addWidget(clearSelection_);
    firstRow->addStretch(1);
    bar->addLayout(firstRow);
    auto* secondRow = new QHBoxLayout;
    batchCount_ = label({}, Studio::secondary, batchBar_);
    keep_ = new StudioButton(qs(L("保留")), false, batchBar_);
    delete_ = new StudioButton(qs(L("删除")), false, batchBar_);
    connect(keep_, &QAbstractButton::clicked, this, [this] { workspace_.applyBatch(false); });
    connect(delete_, &QAbstractButton::clicked, this, [this] { workspace_.applyBatch(true); });
    secondRow->addWidget(batchCount_);
    secondRow->addWidget(keep_);
    secondRow->addWidget(delete_);
    secondRow->addStretch(1);
    bar->addLayout(secondRow);
    batchBar_->hide();
    column->addWidget(batchBar_);

    // The list, or the text that nothing was found.
    model_ = new PauseListModel(this);
    list_ = new PauseListView(workspace_, *model_, this);
    column->addWidget(list_, 1);
    empty_ = label(qs(L("未发现可删除的停顿。")), Studio::secondary, this);
    empty_->setContentsMargins(0, kEmptyPadding, 0, kEmptyPadding);
    empty_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    empty_->hide();
    column->addWidget(empty_);

    // The warnings and the settings link.
    removalWarning_ = new QWidget(this);
    auto* warning = new QHBoxLayout(removalWarning_);
    warning->setContentsMargins(0, 0, 0, 0);
    warning->setSpacing(kWarningSpacing);
    removalWarningIcon_ = new QLabel(removalWarning_);
    removalWarningText_ = new QLabel(removalWarning_);
    removalWarningText_->setWordWrap(true);
    warning->addWidget(removalWarningIcon_, 0, Qt::AlignTop);
    warning->addWidget(removalWarningText_, 1, Qt::AlignTop);
    removalWarning_->hide();
    column->addWidget(removalWarning_);
    detectionWarning_ = label({}, Studio::secondary, this);
    detectionWarning_->setWordWrap(true);
    detectionWarning_->hide();
    column->addWidget(detectionWarning_);
    settings_ = new StudioLink(qs(L("检测设置")), Studio::secondary, this);
    connect(settings_, &QAbstractButton::clicked, this, &PauseListPanel::settingsRequested);
    column->addWidget(settings_, 0, Qt::AlignLeft);

    // The rows need the preview for their auditions; the guards enable the bar and the rows.
    bindSlices(*this, workspace_, {Slice::document, Slice::review, Slice::playback, Slice::guards},
               [this] { refresh(); });
    refresh();
}

PauseListPanel::~PauseListPanel() = default;

CutRow& PauseListPanel::rowWidget() const {
    return list_->rowWidget();
}

void PauseListPanel::toggleBatchMode() {
    if (!workspace_.review().batchMode)
        workspace_.beginBatchSelection();
    else if (!workspace_.job().busy)
        workspace_.resetBatchSelection();
}

void PauseListPanel::refresh() {
    const auto& project = workspace_.document().project;

    const PauseListSummary summary = PauseListSummary::of(project);
    title_->setText(qs(summary.title));
    if (summary.removalWarning != shownWarning_) {
        shownWarning_ = summary.removalWarning;
        if (shownWarning_) {
            const QColor colour = shownWarning_->coral ? Studio::coral : Studio::secondary;
            removalWarningIcon_->setPixmap(Studio::symbol(shownWarning_->symbol, kWarningIconPixels, colour));
            removalWarningText_->setText(qs(shownWarning_->text));
            setColour(*removalWarningText_, colour);
        }
        removalWarning_->setVisible(shownWarning_.has_value());
    }
    detectionWarning_->setText(summary.detectionWarning ? qs(*summary.detectionWarning) : QString());
    detectionWarning_->setVisible(summary.detectionWarning.has_value());
    empty_->setVisible(summary.showsEmptyText);
    list_->setVisible(!summary.showsEmptyText);

    orderButton_->setText(
        qs(workspace_.review().order == ReviewOrder::longestFirst ? L("长段优先") : L("按时间")));
    orderButton_->updateGeometry();
    const PauseListBatchBar bar =
        PauseListBatchBar::of(workspace_.review().batchMode, workspace_.review().batchIDs.size(),
                              workspace_.guards().canSelectBatch, workspace_.guards().canKeepBatch,
                              workspace_.guards().canDeleteBatch);
    selectionSwitch_->setText(qs(bar.switchText));
    selectionSwitch_->updateGeometry();
    selectionSwitch_->setEnabled(bar.switchEnabled);
    moreButton_->setEnabled(bar.switchEnabled);
    batchBar_->setVisible(bar.visible);
    batchCount_->setText(qs(bar.countText));
    keep_->setEnabled(bar.keepEnabled);
    delete_->setEnabled(bar.deleteEnabled);
    settings_->setEnabled(!workspace_.guards().cutBusy && workspace_.document().source.has_value());

    PauseListState state;
    state.reviewID = workspace_.review().reviewID;
    state.batchMode = workspace_.review().batchMode;
    state.batchIDs = workspace_.review().batchIDs;
    state.disabled = workspace_.guards().cutBusy || workspace_.guards().needsAnalysis;
    model_->refresh(workspace_.reviewCuts(), std::move(state));
    list_->rowWidget().keepComplaintsOf(model_->cuts());

    const auto& reviewID = workspace_.review().reviewID;
    const auto row = reviewID ? model_->rowOf(*reviewID) : std::nullopt;
    if (row) list_->rowWidget().setCut(model_->cut(*row), model_->state().rowState(model_->cut(*row)));
    list_->setWidgetRow(row);

    // A new reviewed pause (or the first showing of one) goes to the top; none scrolls nothing.
    if (row && (!everRefreshed_ || reviewID != lastReviewID_)) list_->scrollRowToTop(*row);
    lastReviewID_ = reviewID;
    everRefreshed_ = true;
}

}  // namespace talvian
