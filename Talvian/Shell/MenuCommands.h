#pragma once
// The window's menu bar: 文件, 编辑, 复核 and 帮助. A pure model of every item (text, shortcut,
// enabled, checked, present) for the controller's values, the window's state and the services;
// and the binder that builds the menus and their actions once and keeps them on the model.
// The menus hold no state of their own. Main thread.

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Support/AppConfiguration.h"

class QAction;
class QMenu;
class QWidget;

namespace talvian {

class MainWindow;
class RecentSessionsMenu;
class UpdateService;
class Workspace;

class MenuCommands : public QObject {
    Q_OBJECT

  public:
    // ---- The model

    // Every item that acts; separators have none.
    enum class Command {
        // 文件
        importFiles,
        openProject,
        recentSessions,
        saveProject,
        exportHandoff,
        reselectSource,
        relocateSource,
        revealBackup,
        quit,
        // 编辑
        undo,
        redo,
        // 复核
        previousReview,
        nextReview,
        auditionOriginal,
        auditionEdited,
        repeatAudition,
        toggleReviewCut,
        captureManualStart,
        captureManualEnd,
        addManualCut,
        // 帮助
        checkForUpdates,
        automaticChecks,
        contactSupport,
        openGuide,
        exportDiagnostics,
        shortcutHelp,
    };

    struct Item {
        enum class Kind { command, submenu, separator };
        Kind kind = Kind::command;
        std::optional<Command> command;  // none for separators
        std::string text;
        // Portable QKeySequence text ("Ctrl+Shift+O"); empty for none.
        std::string shortcut;
        bool enabled = true;
        bool checkable = false;
        bool checked = false;
        // A missing link or updater removes its items rather than disabling them.
        bool present = true;
        bool operator==(const Item&) const = default;
    };
    struct Menu {
        std::string title;
        std::vector<Item> items;
        bool operator==(const Menu&) const = default;
    };

    // Everything the items' texts and enabling read.
    struct State {
        // The controller.
        bool cutBusy = false;
        bool hasProject = false;
        bool projectHasVideo = false;
        bool needsAnalysis = true;
        bool hasSource = false;
        bool canRelocateSource = false;
        bool canReview = false;
        bool canReviewNext = false;
        std::optional<std::size_t> reviewIndex;
        // The reviewed pause's mark (true: removed); none without a reviewed pause.
        std::optional<bool> reviewCutRemoved;
        bool canRepeatAudition = false;
        bool repeatAudition = false;
        bool canCaptureManualPosition = false;
        bool canAddManualCut = false;
        // The recent-sessions submenu's own rule.
        bool recentSessionsEnabled = false;
        // The shortcut sheet or one of the window's panels is shown.
        bool blocked = false;
        // The services.
        bool hasUpdater = false;
        bool canCheckForUpdates = false;
        bool automaticChecks = false;
        bool hasSupportLink = false;
        bool hasGuideLink = false;
        bool operator==(const State&) const = default;
    };

    // Pure: the four menus, in menu-bar order. Every state gives the same items in the same
    // order (absent ones have present = false), so the actions are built once.
    static std::vector<Menu> model(const State& state);

    // ---- The binder

    // Makes the shortcut reference sheet over `parent`; the menus show it window-modal.
    using ShortcutSheetFactory = std::function<QDialog*(QWidget* parent)>;
    struct Services {
        AppServiceConfiguration links;
        // The update service, created on first use; kept by the caller for the process.
        std::function<UpdateService&()> updates;
        // Without one, "键盘快捷键…" is not offered.
        ShortcutSheetFactory shortcutSheet;
    };

    // Builds the menus into window.menuBar() and follows the controller, the update service
    // and the sheet from now on. A child of the window.
    MenuCommands(MainWindow& window, Workspace& workspace, Services services);
    ~MenuCommands() override;

    // The model's input as the controller, the window and the services stand now.
    State state() const;
    // True while the shortcut sheet is shown or a panel of the window is open.
    bool blocked() const;
    QAction* action(Command command) const;
    // The menu of that title ("文件" …); null for none.
    QMenu* menu(const std::string& title) const;
    RecentSessionsMenu& recentSessions() const { return *recent_; }
    // The sheet while it is shown.
    QDialog* shortcutSheet() const { return sheet_; }
    // Applies the model to every action; runs on every change of its inputs.
    void refresh();

  private:
    void build(const std::vector<Menu>& menus);
    void perform(Command command, bool checked);
    void showShortcutSheet();

    MainWindow& window_;
    Workspace& workspace_;
    Services services_;
    UpdateService* updates_ = nullptr;
    std::map<Command, QAction*> actions_;
    // Every item's action in model order, separators included, per menu.
    std::vector<std::pair<QMenu*, std::vector<QAction*>>> menus_;
    RecentSessionsMenu* recent_ = nullptr;
    QPointer<QDialog> sheet_;
};

}  // namespace talvian
