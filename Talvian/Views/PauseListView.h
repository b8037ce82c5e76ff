#pragma once
// The scrolling list of the pause list panel: a model over the controller's review order, a
// painter of the collapsed rows, and a list view that lays one real row widget over the row
// under review. Thousands of pauses stay cheap: a refresh that keeps the order only repaints
// the rows that changed, and only the reviewed row is a widget. Screen readers meet a list of
// its rows: the row widget with its controls, and for every painted row an item whose checked
// state is its mark, pressed to review the pause and toggled like its mark. Main thread.

#include <QAbstractListModel>
#include <QListView>
#include <QPointer>
#include <QStyledItemDelegate>

#include <optional>
#include <set>
#include <vector>

#include "CutRow.h"
#include "Model/CoreTypes.h"

namespace talvian {

class Workspace;

// What every row reads of the controller besides its own region.
struct PauseListState {
    std::optional<Uuid> reviewID;
    bool batchMode = false;
    std::set<Uuid> batchIDs;
    bool disabled = false;
    bool operator==(const PauseListState&) const = default;
    CutRowState rowState(const CutRegion& cut) const;
};

class PauseListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    explicit PauseListModel(QObject* parent = nullptr);

    // Takes the new list. The same ids in the same order only report the rows whose region or
    // state changed; any other change resets the model.
    void refresh(std::vector<CutRegion> cuts, PauseListState state);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const std::vector<CutRegion>& cuts() const { return cuts_; }
    const PauseListState& state() const { return state_; }
    const CutRegion& cut(int row) const { return cuts_[static_cast<std::size_t>(row)]; }
    // The row of a region; nullopt when it is not listed.
    std::optional<int> rowOf(const Uuid& id) const;
    // What a row reads as: its start time and its length.
    static QString rowText(const CutRegion& cut);

  private:
    std::vector<CutRegion> cuts_;
    PauseListState state_;
};

// Paints the collapsed rows and turns clicks on them into the controller's selection calls.
class PauseListDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    PauseListDelegate(Workspace& workspace, PauseListModel& model, QObject* parent = nullptr);

    // The row drawn by the row widget instead (its height is the widget's); -1 for none.
    void setWidgetRow(int row, const CutRow* widget);
    int widgetRow() const { return widgetRow_; }
    // Rows are as wide as the viewport less the spacing at both sides.
    void setViewport(const QWidget* viewport, int spacing) {
        viewport_ = viewport;
        spacing_ = spacing;
    }
    int rowWidth() const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // The row's height changed: the list lays itself out again.
    void announceSizeChange(int row);

  private:
    Workspace& workspace_;
    PauseListModel& model_;
    int widgetRow_ = -1;
    const CutRow* widget_ = nullptr;
    const QWidget* viewport_ = nullptr;
    int spacing_ = 0;
};

class PauseListView : public QListView {
    Q_OBJECT

  public:
    // Gap between rows and around them.
    static constexpr int kRowSpacing = 6;

    PauseListView(Workspace& workspace, PauseListModel& model, QWidget* parent = nullptr);

    Workspace& workspace() const { return workspace_; }
    PauseListModel& model() const { return model_; }

    // Puts the one row widget over `row` (hidden for none); the widget is kept and reused.
    void setWidgetRow(std::optional<int> row);
    CutRow& rowWidget() const { return *rowWidget_; }
    PauseListDelegate& delegate() const { return *delegate_; }
    // Scrolls `row` to the top of the visible area at once; the end of the list stops it.
    void scrollRowToTop(int row);
    // The rectangle of a row in viewport coordinates, after any pending layout.
    QRect rowRect(int row);

  protected:
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void placeRowWidget();

    Workspace& workspace_;
    PauseListModel& model_;
    PauseListDelegate* delegate_ = nullptr;
    CutRow* rowWidget_;
};

}  // namespace talvian
