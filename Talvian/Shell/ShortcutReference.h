#pragma once
// The keyboard shortcut sheet: a fixed table of the application's shortcuts in groups, narrowed
// by a search that understands modifier names ("cmd", "ctrl", "option", "alt", "shift",
// "space"). It reads nothing from the controller and changes nothing in the edit; its only
// state is its search text and its focus. Window-modal over the main window, opened with
// open(); each showing should get a fresh sheet (nothing survives a close). Main thread.

#include <QDialog>
#include <QString>

#include <optional>
#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QScrollArea;

namespace talvian {

// One shortcut: the operation, its keys as displayed (⌘ ⌥ ⇧ stand for Ctrl, Alt, Shift; the
// legend says so), and an optional remark. Identified by `action`.
struct ShortcutRow {
    QString action;
    QString keys;
    std::optional<QString> note;
    bool operator==(const ShortcutRow&) const = default;
};

// A titled group of shortcuts. Identified by `title`.
struct ShortcutGroup {
    QString title;
    std::vector<ShortcutRow> rows;
    bool operator==(const ShortcutGroup&) const = default;
};

class ShortcutReference : public QDialog {
    Q_OBJECT

  public:
    // 560 × 600, window-modal, the search field focused when shown.
    explicit ShortcutReference(QWidget* parent = nullptr);

    // ---- The table and its search (pure)

    // The 17 shortcuts in 5 groups, localised, built once on first use.
    static const std::vector<ShortcutGroup>& groups();
    // The search fold: compatibility-decomposed, non-spacing marks dropped, case-folded (so
    // full-width Latin and capitals match their plain small letters); then "command",
    // "control", "ctrl", "cmd" become ⌘, "option" and "alt" ⌥, "shift" ⇧, "space" "空格"; then
    // whitespace and "+" dropped. Used alike for the query and for every row.
    static QString searchText(const QString& text);
    // The groups with the rows whose folded group title + action + keys + note contain the
    // folded query, in table order; groups left without rows are left out. An empty folded
    // query keeps everything.
    static std::vector<ShortcutGroup> matches(const QString& query);
    // "17 项操作" for an empty typed query, else "<n> 项匹配" (also for a query that folds to
    // nothing, such as spaces).
    static QString countText(const QString& query);

    // ---- The sheet as shown

    QString query() const;
    // The parts, for tests and the window.
    QLineEdit& searchField() const { return *field_; }
    QAbstractButton& clearButton() const { return *clear_; }
    QLabel& countLabel() const { return *count_; }
    QScrollArea& list() const { return *scroll_; }
    QWidget& noMatchState() const { return *noMatch_; }
    QAbstractButton& closeButton() const { return *close_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct Section {
        QWidget* widget = nullptr;
        std::vector<QWidget*> rows;  // parallel to the group's rows
    };

    void showMatches();
    void focusSearch();

    QLineEdit* field_ = nullptr;
    QAbstractButton* clear_ = nullptr;
    QLabel* count_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* noMatch_ = nullptr;
    QAbstractButton* close_ = nullptr;
    std::vector<Section> sections_;  // parallel to groups()
};

}  // namespace talvian
