#include "RecentSessionsMenu.h"

#include <QIcon>

#include "Kit/Studio.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Support/UnicodeText.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kSymbolPixels = 16;

// A menu item shows "&" as the underline of the next letter; a file name's own "&" must stay.
QString menuText(const std::string& text) {
    return QString::fromStdString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

// ---- The model

RecentSessionsMenu::Model RecentSessionsMenu::of(const State& state) {
    Model model;
    model.enabled = !state.cutBusy && (state.sessionBackupName || !state.recent.empty());
    if (state.sessionBackupName) {
        if (state.projectOpen && state.sessionBackupSaved)
            model.items.push_back({Kind::status, L("当前剪辑已自动备份"), {}, Action::none, std::nullopt});
        else
            model.items.push_back({Kind::button,
                                   L("继续最近一次：%@", *state.sessionBackupName),
                                   {},
                                   Action::resumeLast,
                                   std::nullopt});
        model.items.push_back({Kind::separator, {}, {}, Action::none, std::nullopt});
    }
    if (state.recent.empty()) {
        model.items.push_back({Kind::note, L("还没有先前剪辑"), {}, Action::none, std::nullopt});
        return model;
    }
    for (const Entry& entry : state.recent)
        model.items.push_back({Kind::button, entry.label, entry.sourcePath, Action::resumeRecent, entry.id});
    model.items.push_back({Kind::separator, {}, {}, Action::none, std::nullopt});
    model.items.push_back({Kind::note, L("保留最近8份切换或重分析前的剪辑"), {}, Action::none, std::nullopt});
    return model;
}

RecentSessionsMenu::State RecentSessionsMenu::stateOf(const Workspace& workspace) {
    State state;
    state.cutBusy = workspace.guards().cutBusy;
    if (const auto& name = workspace.document().sessionBackupName)
        state.sessionBackupName = displayedName(*name);
    state.projectOpen = workspace.document().project.has_value();
    state.sessionBackupSaved = workspace.document().sessionBackupSaved;
    for (const RecentSession& session : workspace.document().recentSessions)
        state.recent.push_back({session.id, session.menuLabel(), displayedName(session.project.source)});
    return state;
}

// ---- The submenu

RecentSessionsMenu::RecentSessionsMenu(Workspace& workspace, QWidget* parent)
    : QMenu(parent), workspace_(workspace) {
    setTitle(QString::fromStdString(L("最近剪辑")));
    setIcon(QIcon(Studio::symbol(kSymbol, kSymbolPixels, Studio::text)));
    setAccessibleName(QString::fromStdString(L("最近剪辑，找回切换或重分析前的修改")));
    // Each earlier edit names its full source path in its tooltip.
    setToolTipsVisible(true);
    // Bound like the menu bar, which reads this model when it refreshes: bound first, this one
    // refreshes first.
    bindSlices(*this, workspace_, {Slice::any}, [this] { refresh(); });
    refresh();
}

void RecentSessionsMenu::refresh() {
    Model model = of(stateOf(workspace_));
    if (built_ && model == model_) return;
    model_ = std::move(model);
    built_ = true;
    rebuild();
}

void RecentSessionsMenu::rebuild() {
    // The action being triggered may be the one that led here (its call published a change):
    // the old items leave the menu now and are deleted once that call has returned.
    for (QAction* old : actions()) {
        removeAction(old);
        old->deleteLater();
    }
    for (const Item& item : model_.items) {
        if (item.kind == Kind::separator) {
            addSeparator();
            continue;
        }
        QAction* action = addAction(menuText(item.text));
        if (!item.tooltip.empty()) action->setToolTip(plainToolTip(QString::fromStdString(item.tooltip)));
        // Texts without an action read as the system's secondary text.
        action->setEnabled(item.action != Action::none);
        if (item.action == Action::resumeLast) {
            connect(action, &QAction::triggered, this, [this] { workspace_.resumeSessionBackup(); });
        } else if (item.action == Action::resumeRecent && item.recentID) {
            connect(action, &QAction::triggered, this,
                    [this, id = *item.recentID] { workspace_.resumeRecentSession(id); });
        }
    }
}

}  // namespace talvian
