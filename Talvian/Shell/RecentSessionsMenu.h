#pragma once
// The "最近剪辑" submenu of 文件: the last backed-up session and the earlier edits the session
// backup archived when another recording or project replaced them or when the recording was
// analysed again. A pure model of what the submenu shows for the controller's values, and the
// QMenu that shows it and calls the controller. Main thread.

#include <QMenu>

#include <optional>
#include <string>
#include <vector>

#include "Model/Uuid.h"

namespace talvian {

class Workspace;

class RecentSessionsMenu : public QMenu {
    Q_OBJECT

  public:
    // ---- The model

    // One earlier edit: its backup identity, its label (RecentSession::menuLabel) and the full
    // path of its source recording.
    struct Entry {
        Uuid id;
        std::string label;
        std::string sourcePath;
        bool operator==(const Entry&) const = default;
    };
    // What the submenu reads from the controller.
    struct State {
        bool cutBusy = false;
        // The file name of the last backed-up session's source.
        std::optional<std::string> sessionBackupName;
        bool projectOpen = false;
        bool sessionBackupSaved = false;
        // Newest first.
        std::vector<Entry> recent;
        bool operator==(const State&) const = default;
    };
    enum class Kind { status, button, separator, note };
    enum class Action { none, resumeLast, resumeRecent };
    struct Item {
        Kind kind = Kind::note;
        std::string text;
        std::string tooltip;
        Action action = Action::none;
        std::optional<Uuid> recentID;  // for Action::resumeRecent
        bool operator==(const Item&) const = default;
    };
    struct Model {
        bool enabled = false;
        std::vector<Item> items;
        bool operator==(const Model&) const = default;
    };

    // Pure: the submenu for `state`.
    static Model of(const State& state);
    static State stateOf(const Workspace& workspace);

    static constexpr const char* kSymbol = "clock";

    // ---- The submenu

    // Titled "最近剪辑" with the clock symbol; its items follow the controller by themselves.
    // The enabled state of its entry in 文件 is the menu bar's (it also depends on the window).
    explicit RecentSessionsMenu(Workspace& workspace, QWidget* parent = nullptr);

    const Model& model() const { return model_; }
    // Rebuilds the items when the model changed.
    void refresh();

  private:
    void rebuild();

    Workspace& workspace_;
    Model model_;
    bool built_ = false;
};

}  // namespace talvian
