#pragma once
// The editor's column for reviewing pauses one by one and in batches: a title with the number
// of removed pauses, the order menu, the batch switch and the keep/delete-all menu, the batch
// bar, the list, the warnings and the link to the detection settings. It reads the controller
// and calls its operations; opening the settings is the window's business (settingsRequested).
// It refreshes after the controller's signal has returned, so a row widget whose field caused
// an edit is never torn down while it is still handling that edit. Main thread.

#include <QWidget>

#include <optional>
#include <string>

#include "Model/CutProject.h"

class QLabel;
class QMenu;

namespace talvian {

class PauseListModel;
class PauseListView;
class StudioButton;
class CutRow;
class StudioLink;
class Workspace;

// The texts above and below the list for a project (none: no project open).
struct PauseListSummary {
    struct Warning {
        std::string symbol;  // "exclamationmark.triangle" or "info.circle"
        std::string text;
        bool coral = false;  // else Studio::secondary
        bool operator==(const Warning&) const = default;
    };
    std::string title;
    std::optional<Warning> removalWarning;
    std::optional<std::string> detectionWarning;
    // "未发现可删除的停顿。" under the list: a project without regions.
    bool showsEmptyText = false;
    bool operator==(const PauseListSummary&) const = default;

    // Removed regions are counted one by one; the share is removedDuration ÷ duration, only for
    // a duration above 0: from 0.4 a note, from 0.8 the coral warning.
    static PauseListSummary of(const std::optional<CutProject>& project);
};

// The header's switch and menu and the batch bar for the controller's guards.
struct PauseListBatchBar {
    bool visible = false;        // the bar shows in batch mode only
    std::string switchText;      // "选择" / "完成选择"
    bool switchEnabled = false;  // canSelectBatch (also enables the more menu)
    std::string countText;       // "已选 n 段"
    bool keepEnabled = false;
    bool deleteEnabled = false;
    bool operator==(const PauseListBatchBar&) const = default;

    static PauseListBatchBar of(bool batchMode, std::size_t selected, bool canSelectBatch, bool canKeepBatch,
                                bool canDeleteBatch);
};

class PauseListPanel : public QWidget {
    Q_OBJECT

  public:
    explicit PauseListPanel(Workspace& workspace, QWidget* parent = nullptr);
    ~PauseListPanel() override;

    // Reads the controller again and updates the panel's own widgets; the list repaints only
    // the rows that changed and scrolls when the reviewed pause changed.
    void refresh();

    // The parts, for the window's layout and for tests.
    QLabel& titleLabel() const { return *title_; }
    StudioButton& orderButton() const { return *orderButton_; }
    QMenu& orderMenu() const { return *orderMenu_; }
    StudioLink& selectionSwitch() const { return *selectionSwitch_; }
    StudioButton& moreButton() const { return *moreButton_; }
    QMenu& moreMenu() const { return *moreMenu_; }
    QWidget& batchBar() const { return *batchBar_; }
    StudioLink& selectAllButton() const { return *selectAll_; }
    StudioLink& clearSelectionButton() const { return *clearSelection_; }
    QLabel& batchCountLabel() const { return *batchCount_; }
    StudioButton& keepButton() const { return *keep_; }
    StudioButton& deleteButton() const { return *delete_; }
    PauseListView& list() const { return *list_; }
    PauseListModel& model() const { return *model_; }
    CutRow& rowWidget() const;
    QLabel& emptyLabel() const { return *empty_; }
    QWidget& removalWarning() const { return *removalWarning_; }
    QLabel& removalWarningText() const { return *removalWarningText_; }
    QLabel& detectionWarning() const { return *detectionWarning_; }
    StudioLink& settingsLink() const { return *settings_; }

  signals:
    // "检测设置": the window opens the detection settings panel.
    void settingsRequested();

  private:
    void toggleBatchMode();

    Workspace& workspace_;
    bool everRefreshed_ = false;
    std::optional<Uuid> lastReviewID_;
    std::optional<PauseListSummary::Warning> shownWarning_;

    QLabel* title_;
    StudioButton* orderButton_;
    QMenu* orderMenu_;
    StudioLink* selectionSwitch_;
    StudioButton* moreButton_;
    QMenu* moreMenu_;
    QWidget* batchBar_;
    StudioLink* selectAll_;
    StudioLink* clearSelection_;
    QLabel* batchCount_;
    StudioButton* keep_;
    StudioButton* delete_;
    PauseListModel* model_;
    PauseListView* list_;
    QLabel* empty_;
    QWidget* removalWarning_;
    QLabel* removalWarningIcon_;
    QLabel* removalWarningText_;
    QLabel* detectionWarning_;
    StudioLink* settings_;
};

}  // namespace talvian
