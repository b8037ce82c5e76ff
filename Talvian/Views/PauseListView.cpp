#include "PauseListView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "Model/FileNaming.h"
#include "Workspace/Workspace.h"

namespace talvian {

CutRowState PauseListState::rowState(const CutRegion& cut) const {
    CutRowState row;
    row.selected = reviewID && *reviewID == cut.id;
    row.batchMode = batchMode;
    row.inBatch = !batchIDs.empty() && batchIDs.contains(cut.id);
    row.disabled = disabled;
    return row;
}

PauseListModel::PauseListModel(QObject* parent) : QAbstractListModel(parent) {}

void PauseListModel::refresh(std::vector<CutRegion> cuts, PauseListState state) {
    const bool sameOrder = cuts.size() == cuts_.size() &&
                           std::equal(cuts.begin(), cuts.end(), cuts_.begin(),
                                      [](const CutRegion& a, const CutRegion& b) { return a.id == b.id; });
    if (!sameOrder) {
        beginResetModel();
        cuts_ = std::move(cuts);
        state_ = std::move(state);
        endResetModel();
        return;
    }
    // The rows to repaint: those whose region or row state differs.
    int first = -1;
    int last = -1;
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        if (cuts[i] == cuts_[i] && state.rowState(cuts[i]) == state_.rowState(cuts_[i])) continue;
        if (first < 0) first = static_cast<int>(i);
        last = static_cast<int>(i);
    }
    cuts_ = std::move(cuts);
    state_ = std::move(state);
    if (first >= 0) emit dataChanged(index(first), index(last));
}

int PauseListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(cuts_.size());
}

QVariant PauseListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const CutRegion& region = cut(index.row());
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromStdString(timeLabel(region.start) + " " + CutRowLook::lengthText(region));
    return {};
}

std::optional<int> PauseListModel::rowOf(const Uuid& id) const {
    for (std::size_t i = 0; i < cuts_.size(); ++i)
        if (cuts_[i].id == id) return static_cast<int>(i);
    return std::nullopt;
}

PauseListDelegate::PauseListDelegate(Workspace& workspace, PauseListModel& model, QObject* parent)
    : QStyledItemDelegate(parent), workspace_(workspace), model_(model) {}

void PauseListDelegate::setWidgetRow(int row, const StudioCutRow* widget) {
    widgetRow_ = row;
    widget_ = widget;
}

void PauseListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    // The row widget draws its own row.
    if (index.row() == widgetRow_) return;
    const CutRegion& cut = model_.cut(index.row());
    CutRowLook::paintCollapsed(*painter, QRectF(option.rect), cut, model_.state().rowState(cut));
}

int PauseListDelegate::rowWidth() const {
    return viewport_ ? std::max(1, viewport_->width() - 2 * spacing_) : 1;
}

QSize PauseListDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    // A narrow hint: the list stretches every row to its width, and never scrolls sideways.
    constexpr int kHintWidth = 1;
    if (index.row() == widgetRow_ && widget_) return {kHintWidth, widget_->heightForWidth(rowWidth())};
    return {kHintWidth, CutRowLook::kCollapsedHeight};
}

bool PauseListDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease || !index.isValid()) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    const CutRegion cut = model_.cut(index.row());
    if (model_.state().disabled) return true;
    if (CutRowLook::markRect(QRectF(option.rect)).contains(mouse->position())) {
        if (model_.state().batchMode)
            workspace_.toggleBatchCut(cut.id, false);
        else
            workspace_.toggleCut(cut.id);
    } else {
        // Ctrl stands for the additive modifier, Shift extends from the batch anchor.
        workspace_.selectCutRow(cut.id, mouse->modifiers().testFlag(Qt::ControlModifier),
                                mouse->modifiers().testFlag(Qt::ShiftModifier));
    }
    return true;
}

void PauseListDelegate::announceSizeChange(int row) {
    if (row >= 0 && row < model_.rowCount()) emit sizeHintChanged(model_.index(row));
}

PauseListView::PauseListView(Workspace& workspace, PauseListModel& model, QWidget* parent)
    : QListView(parent), model_(model) {
    // Made first: every layout pass (already while the view is being set up) places it.
    rowWidget_ = new StudioCutRow(workspace, viewport());
    rowWidget_->hide();
    setModel(&model_);
    delegate_ = new PauseListDelegate(workspace, model_, this);
    delegate_->setViewport(viewport(), kRowSpacing);
    setItemDelegate(delegate_);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setSpacing(kRowSpacing);
    setUniformItemSizes(false);
    setResizeMode(QListView::Adjust);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(false);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);

    connect(rowWidget_, &StudioCutRow::heightChanged, this,
            [this] { delegate_->announceSizeChange(delegate_->widgetRow()); });
}

void PauseListView::setWidgetRow(std::optional<int> row) {
    const int wanted = row.value_or(-1);
    if (wanted == delegate_->widgetRow()) return placeRowWidget();
    const int before = delegate_->widgetRow();
    delegate_->setWidgetRow(wanted, rowWidget_);
    delegate_->announceSizeChange(before);
    delegate_->announceSizeChange(wanted);
    placeRowWidget();
}

void PauseListView::scrollRowToTop(int row) {
    if (row < 0 || row >= model_.rowCount()) return;
    executeDelayedItemsLayout();
    scrollTo(model_.index(row), QAbstractItemView::PositionAtTop);
    placeRowWidget();
}

QRect PauseListView::rowRect(int row) {
    executeDelayedItemsLayout();
    return visualRect(model_.index(row));
}

void PauseListView::updateGeometries() {
    QListView::updateGeometries();
    placeRowWidget();
}

void PauseListView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    placeRowWidget();
}

void PauseListView::placeRowWidget() {
    const int row = delegate_ ? delegate_->widgetRow() : -1;
    if (row < 0 || row >= model_.rowCount()) {
        rowWidget_->hide();
        return;
    }
    const QRect rect = visualRect(model_.index(row));
    if (rect.isEmpty()) {
        rowWidget_->hide();
        return;
    }
    if (rowWidget_->geometry() != rect) rowWidget_->setGeometry(rect);
    rowWidget_->show();
}

}  // namespace talvian
