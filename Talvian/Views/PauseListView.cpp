#include "PauseListView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "Kit/AccessibleFactory.h"
#include "Model/FileNaming.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

bool markChecked(const CutRegion& cut, const CutRowState& state) {
    return std::string_view(CutRowLook::markSymbol(cut, state)) == "checkmark";
}

// A painted row: read from the model by its region's id, so it stays the same item across
// re-ordering and lasts while its region is listed.
class PauseRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    PauseRowAccessible(PauseListView* view, const Uuid& id) : view_(view), id_(id) {}

    bool isValid() const override { return row().has_value(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text kind) const override {
        const auto at = row();
        if (!at || kind != QAccessible::Name) return {};
        return PauseListModel::rowText(view_->model().cut(*at));
    }
    QRect rect() const override {
        const auto at = row();
        if (!at) return {};
        const QRect local = view_->visualRect(view_->model().index(*at));
        return {view_->viewport()->mapToGlobal(local.topLeft()), local.size()};
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        const auto at = row();
        if (!at) {
            state.invalid = true;
            return state;
        }
        const PauseListModel& model = view_->model();
        const CutRegion& cut = model.cut(*at);
        const CutRowState rowState = model.state().rowState(cut);
        state.checkable = true;
        state.checked = markChecked(cut, rowState);
        state.selected = rowState.selected || rowState.inBatch;
        state.disabled = rowState.disabled || !view_->isEnabled();
        state.invisible = !view_->isVisible();
        state.offscreen = !view_->viewport()->rect().intersects(view_->visualRect(model.index(*at)));
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    // Press reviews the pause, as a plain click on its time does; toggle is its mark.
    QStringList actionNames() const override {
        if (state().disabled || !row()) return {};
        return {pressAction(), toggleAction()};
    }
    void doAction(const QString& name) override {
        if (!actionNames().contains(name)) return;
        Workspace& workspace = view_->workspace();
        if (name == pressAction())
            workspace.selectCutRow(id_, false, false);
        else if (view_->model().state().batchMode)
            workspace.toggleBatchCut(id_, false);
        else
            workspace.toggleCut(id_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    std::optional<int> row() const { return view_ ? view_->model().rowOf(id_) : std::nullopt; }

    QPointer<PauseListView> view_;
    Uuid id_;
};

// The list: its rows in order, the row widget in place of the row it covers. The items of
// painted rows are made when asked for and dropped once their region leaves the list.
class PauseListAccessible : public QAccessibleWidget {
  public:
    explicit PauseListAccessible(PauseListView* view) : QAccessibleWidget(view, QAccessible::List) {
        const auto prune = [this] { dropUnlisted(); };
        reset_ = QObject::connect(&view->model(), &QAbstractItemModel::modelReset, view, prune);
    }
    ~PauseListAccessible() override {
        QObject::disconnect(reset_);
        for (const auto& [id, item] : items_) QAccessible::deleteAccessibleInterface(item);
    }

    int childCount() const override { return view()->model().rowCount(); }
    QAccessibleInterface* child(int index) const override {
        const PauseListModel& model = view()->model();
        if (index < 0 || index >= model.rowCount()) return nullptr;
        if (index == view()->delegate().widgetRow() && view()->rowWidget().isVisible())
            return QAccessible::queryAccessibleInterface(&view()->rowWidget());
        const Uuid& id = model.cut(index).id;
        if (const auto found = items_.find(id); found != items_.end())
            return QAccessible::accessibleInterface(found->second);
        auto* item = new PauseRowAccessible(view(), id);
        items_.emplace(id, QAccessible::registerAccessibleInterface(item));
        return item;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr) return -1;
        if (child->object() == &view()->rowWidget()) return view()->delegate().widgetRow();
        for (const auto& [id, item] : items_)
            if (QAccessible::accessibleInterface(item) == child)
                return view()->model().rowOf(id).value_or(-1);
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint local = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = view()->indexAt(local);
        return index.isValid() ? child(index.row()) : nullptr;
    }

  private:
    PauseListView* view() const { return static_cast<PauseListView*>(widget()); }
    void dropUnlisted() {
        std::erase_if(items_, [this](const auto& entry) {
            if (view()->model().rowOf(entry.first)) return false;
            QAccessible::deleteAccessibleInterface(entry.second);
            return true;
        });
    }

    mutable std::map<Uuid, QAccessible::Id> items_;
    QMetaObject::Connection reset_;
};

// The row widget is the list's item for its row: named like a painted row, checked like its mark.
class CutRowAccessible : public QAccessibleWidget {
  public:
    explicit CutRowAccessible(CutRow* row) : QAccessibleWidget(row, QAccessible::ListItem) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return PauseListModel::rowText(row()->cut());
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = markChecked(row()->cut(), row()->state());
        state.selected = row()->state().selected || row()->state().inBatch;
        return state;
    }
    QAccessibleInterface* parent() const override {
        for (QWidget* up = row()->parentWidget(); up != nullptr; up = up->parentWidget())
            if (auto* list = qobject_cast<PauseListView*>(up))
                return QAccessible::queryAccessibleInterface(list);
        return QAccessibleWidget::parent();
    }
    // The same actions as a painted row, through the row's own controls.
    QStringList actionNames() const override {
        if (!row()->isEnabled()) return QAccessibleWidget::actionNames();
        return QStringList{pressAction(), toggleAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (!row()->isEnabled()) return QAccessibleWidget::doAction(name);
        if (name == pressAction())
            row()->selectArea().click();
        else if (name == toggleAction())
            row()->markButton().click();
        else
            QAccessibleWidget::doAction(name);
    }

  private:
    CutRow* row() const { return static_cast<CutRow*>(widget()); }
};

}  // namespace

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
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return rowText(region);
    return {};
}

QString PauseListModel::rowText(const CutRegion& cut) {
    return QString::fromStdString(timeLabel(cut.start) + " " + CutRowLook::lengthText(cut));
}

std::optional<int> PauseListModel::rowOf(const Uuid& id) const {
    for (std::size_t i = 0; i < cuts_.size(); ++i)
        if (cuts_[i].id == id) return static_cast<int>(i);
    return std::nullopt;
}

PauseListDelegate::PauseListDelegate(Workspace& workspace, PauseListModel& model, QObject* parent)
    : QStyledItemDelegate(parent), workspace_(workspace), model_(model) {}

void PauseListDelegate::setWidgetRow(int row, const CutRow* widget) {
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
    : QListView(parent), workspace_(workspace), model_(model) {
    installAccessibleFactory<PauseListAccessible, PauseListView>();
    installAccessibleFactory<CutRowAccessible, CutRow>();
    // Made first: every layout pass (already while the view is being set up) places it.
    rowWidget_ = new CutRow(workspace, viewport());
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

    connect(rowWidget_, &CutRow::heightChanged, this,
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
