#include "MenuCommands.h"

#include <QAction>
#include <QDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "MainWindow.h"
#include "Model/Localization.h"
#include "RecentSessionsMenu.h"
#include "Update/UpdateService.h"
#include "Workspace/DesktopServices.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"
#include "WorkspaceView.h"

namespace talvian {

namespace {

using Command = MenuCommands::Command;
using Item = MenuCommands::Item;

Item command(Command id, const std::string& text, const char* shortcut, bool enabled) {
    Item item;
    item.command = id;
    item.text = text;
    item.shortcut = shortcut;
    item.enabled = enabled;
    return item;
}

Item submenu(Command id, const std::string& title, bool enabled) {
    Item item = command(id, title, "", enabled);
    item.kind = Item::Kind::submenu;
    return item;
}

Item separator(bool present = true) {
    Item item;
    item.kind = Item::Kind::separator;
    item.enabled = false;
    item.present = present;
    return item;
}

// A group the window blocks: its items act only while nothing covers the window.
void blockAll(std::vector<Item>& items, bool blocked) {
    if (!blocked) return;
    for (Item& item : items) item.enabled = false;
}

}  // namespace

// ---- The model

std::vector<MenuCommands::Menu> MenuCommands::model(const State& s) {
    const bool idle = !s.cutBusy;

    // ⌘ is Ctrl here, ⌥ Alt and ⇧ Shift.
    Menu file{L("文件"), {}};
    file.items = {
        command(Command::importFiles, L("导入口播素材…"), "Ctrl+O", idle),
        command(Command::openProject, L("打开剪辑项目…"), "Ctrl+Shift+O", idle),
        submenu(Command::recentSessions, L("最近剪辑"), s.recentSessionsEnabled),
        command(Command::saveProject, L("保存剪辑项目…"), "Ctrl+S", idle && s.hasProject),
        // An audio-only project gets the explanation of the audio hand-off instead.
        command(Command::exportHandoff,
                !s.hasProject || s.projectHasVideo ? L("导出剪映工程（试验）…") : L("音频交接说明…"), "",
                idle && !s.needsAnalysis),
        separator(),
        command(Command::reselectSource, L("重新选择当前素材…"), "", idle && s.hasSource),
        command(Command::relocateSource, L("重新定位原素材…"), "", s.canRelocateSource),
        command(Command::revealBackup, L("显示备份"), "", true),
    };
    blockAll(file.items, s.blocked);
    // This platform has no application menu: quitting ends 文件, and like closing the window it
    // is never blocked.
    file.items.push_back(separator());
    file.items.push_back(command(Command::quit, L("退出"), "Ctrl+Q", true));

    Menu edit{L("编辑"),
              {
                  command(Command::undo, L("撤销"), "Ctrl+Z", idle),
                  command(Command::redo, L("重做"), "Ctrl+Shift+Z", idle),
              }};
    blockAll(edit.items, s.blocked);

    const bool reviewing = s.reviewCutRemoved.has_value();
    Item loop = command(Command::repeatAudition, L("循环当前试听"), "Ctrl+Alt+L", s.canRepeatAudition);
    loop.checkable = true;
    loop.checked = s.repeatAudition;
    Menu review{L("复核"),
                {
                    command(Command::previousReview, L("上一段并听原音"), "Ctrl+Alt+P",
                            s.canReview && s.reviewIndex && *s.reviewIndex >= 1),
                    command(Command::nextReview, L("下一段并听原音"), "Ctrl+Alt+N", s.canReviewNext),
                    separator(),
                    command(Command::auditionOriginal, reviewing ? L("听当前段原音") : L("听第一段原音"),
                            "Ctrl+Alt+1", s.canReview),
                    command(Command::auditionEdited, reviewing ? L("听当前段剪后") : L("听第一段剪后"),
                            "Ctrl+Alt+2", s.canReview),
                    loop,
                    command(Command::toggleReviewCut,
                            reviewing && !*s.reviewCutRemoved ? L("删除当前区间") : L("保留当前区间"),
                            "Ctrl+Alt+R", reviewing && idle && !s.needsAnalysis),
                    separator(),
                    command(Command::captureManualStart, L("用播放位置设手动起点"), "Ctrl+Alt+I",
                            s.canCaptureManualPosition),
                    command(Command::captureManualEnd, L("用播放位置设手动终点"), "Ctrl+Alt+O",
                            s.canCaptureManualPosition),
                    command(Command::addManualCut, L("添加手动删除区间"), "", s.canAddManualCut),
                }};
    blockAll(review.items, s.blocked);

    // Help is never blocked as a whole; the update items, which elsewhere follow the
    // application's About item, lead it.
    Item automatic = command(Command::automaticChecks, L("每天自动检查更新"), "", true);
    automatic.checkable = true;
    automatic.checked = s.automaticChecks;
    automatic.present = s.hasUpdater;
    Item check = command(Command::checkForUpdates, L("检查更新…"), "", s.canCheckForUpdates);
    check.present = s.hasUpdater;
    Item support = command(Command::contactSupport, L("联系支持…"), "", true);
    support.present = s.hasSupportLink;
    Item guide = command(Command::openGuide, L("使用指南"), "", true);
    guide.present = s.hasGuideLink;
    Menu help{L("帮助"),
              {
                  check,
                  automatic,
                  separator(s.hasUpdater),
                  support,
                  guide,
                  command(Command::exportDiagnostics, L("导出诊断信息…"), "", idle),
                  separator(),
                  command(Command::shortcutHelp, L("键盘快捷键…"), "", !s.blocked),
              }};

    return {file, edit, review, help};
}

// ---- The binder

MenuCommands::MenuCommands(MainWindow& window, Workspace& workspace, Services services)
    : QObject(&window), window_(window), workspace_(workspace), services_(std::move(services)) {
    if (services_.updates) updates_ = &services_.updates();
    recent_ = new RecentSessionsMenu(workspace_, &window_);
    build(model(state()));
    bindSlices(*this, workspace_, {Slice::any}, [this] { refresh(); });
    if (updates_) connect(updates_, &UpdateService::changed, this, &MenuCommands::refresh);
    refresh();
}

MenuCommands::~MenuCommands() {
    // A sheet still shown belongs to the window; nothing of it reports back here any more.
    if (sheet_) sheet_->disconnect(this);
}

MenuCommands::State MenuCommands::state() const {
    State s;
    s.cutBusy = workspace_.guards().cutBusy;
    s.hasProject = workspace_.document().project.has_value();
    s.projectHasVideo = s.hasProject && workspace_.document().project->info.hasVideo;
    s.needsAnalysis = workspace_.guards().needsAnalysis;
    s.hasSource = workspace_.document().source.has_value();
    s.canRelocateSource = workspace_.guards().canRelocateSource;
    s.canReview = workspace_.guards().canReview;
    s.canReviewNext = workspace_.guards().canReviewNext;
    s.reviewIndex = workspace_.reviewIndex();
    if (const auto cut = workspace_.reviewCut()) s.reviewCutRemoved = cut->remove;
    s.canRepeatAudition = workspace_.guards().canRepeatAudition;
    s.repeatAudition = workspace_.playback().repeatAudition;
    s.canCaptureManualPosition = workspace_.guards().canCaptureManualPosition;
    s.canAddManualCut = workspace_.guards().canAddManualCut;
    s.recentSessionsEnabled = recent_ && recent_->model().enabled;
    s.blocked = blocked();
    if (updates_ && updates_->controller()) {
        s.hasUpdater = true;
        s.canCheckForUpdates = updates_->canCheck();
        s.automaticChecks = updates_->automaticChecks();
    }
    s.hasSupportLink = services_.links.supportURL.has_value();
    s.hasGuideLink = services_.links.guideURL.has_value();
    return s;
}

bool MenuCommands::blocked() const {
    return sheet_ || workspace_.job().studioOverlayPresented;
}

void MenuCommands::build(const std::vector<Menu>& menus) {
    QMenuBar* bar = window_.menuBar();
    for (const Menu& menu : menus) {
        QMenu* shown = bar->addMenu(QString::fromStdString(menu.title));
        std::vector<QAction*> items;
        for (const Item& item : menu.items) {
            QAction* action = nullptr;
            if (item.kind == Item::Kind::separator) {
                action = shown->addSeparator();
            } else if (item.kind == Item::Kind::submenu) {
                action = shown->addMenu(recent_);
            } else {
                action = shown->addAction(QString::fromStdString(item.text));
                action->setShortcut(QKeySequence(QString::fromStdString(item.shortcut)));
                action->setCheckable(item.checkable);
                connect(action, &QAction::triggered, this,
                        [this, id = *item.command](bool checked) { perform(id, checked); });
            }
            if (item.command) actions_[*item.command] = action;
            items.push_back(action);
        }
        menus_.emplace_back(shown, std::move(items));
    }
}

void MenuCommands::refresh() {
    // The submenu follows the controller by itself; made and bound before this object, it has
    // refreshed by the time a change reaches here (queued calls run in the order they were posted).
    const std::vector<Menu> menus = model(state());
    for (std::size_t m = 0; m < menus.size(); ++m) {
        const auto& [shown, actions] = menus_[m];
        for (std::size_t i = 0; i < menus[m].items.size(); ++i) {
            const Item& item = menus[m].items[i];
            QAction* action = actions[i];
            // The submenu's title and symbol are its own.
            if (item.kind == Item::Kind::command) action->setText(QString::fromStdString(item.text));
            // Disabled one by one, so that no shortcut acts while the window is blocked.
            const bool offered = item.command != Command::shortcutHelp || services_.shortcutSheet != nullptr;
            action->setEnabled(item.enabled && offered);
            action->setChecked(item.checkable && item.checked);
            action->setVisible(item.present);
        }
    }
}

void MenuCommands::perform(Command command, bool checked) {
    switch (command) {
        case Command::importFiles:
            workspace_.importFiles();
            break;
        case Command::openProject:
            workspace_.openProject();
            break;
        case Command::recentSessions:
            break;
        case Command::saveProject:
            workspace_.saveProject();
            break;
        case Command::exportHandoff:
            workspace_.exportHandoff();
            // The audio hand-off's explanation lives in the export panel: shown from here, it
            // needs the panel, or the item would seem to do nothing.
            if (workspace_.exports().audioHandoffInfoPresented && !window_.view().modal())
                window_.view().setModal(ModalPanel::exportPanel);
            break;
        case Command::reselectSource:
            workspace_.reselectPreviewSource();
            break;
        case Command::relocateSource:
            workspace_.relocateSource(std::nullopt);
            break;
        case Command::revealBackup:
            workspace_.revealSessionBackup();
            break;
        // The same way out as the window's close box: the application's teardown follows.
        case Command::quit:
            window_.close();
            break;
        case Command::undo:
            workspace_.undoInContext();
            break;
        case Command::redo:
            workspace_.redoInContext();
            break;
        case Command::previousReview:
            workspace_.moveReview(-1);
            break;
        case Command::nextReview:
            workspace_.moveReview(1);
            break;
        case Command::auditionOriginal:
            workspace_.auditionReview(AuditionMode::original);
            break;
        case Command::auditionEdited:
            workspace_.auditionReview(AuditionMode::edited);
            break;
        case Command::repeatAudition:
            workspace_.setRepeatAudition(checked);
            break;
        case Command::toggleReviewCut:
            workspace_.toggleReviewCut();
            break;
        case Command::captureManualStart:
            workspace_.captureManualPosition(CutBoundary::start);
            break;
        case Command::captureManualEnd:
            workspace_.captureManualPosition(CutBoundary::end);
            break;
        case Command::addManualCut: {
            // Copies: the call may change the texts it reads.
            const std::string start = workspace_.review().manualStart, end = workspace_.review().manualEnd;
            workspace_.addManualCut(start, end);
            break;
        }
        case Command::checkForUpdates:
            if (updates_ && updates_->controller()) updates_->controller()->checkForUpdates();
            break;
        case Command::automaticChecks:
            // The new value comes back through the update service's change.
            if (updates_ && updates_->controller())
                updates_->controller()->setAutomaticallyChecksForUpdates(checked);
            break;
        case Command::contactSupport:
            if (services_.links.supportURL)
                workspace_.desktopServices().openLink(*services_.links.supportURL);
            break;
        case Command::openGuide:
            if (services_.links.guideURL) workspace_.desktopServices().openLink(*services_.links.guideURL);
            break;
        case Command::exportDiagnostics:
            workspace_.exportDiagnostics();
            break;
        case Command::shortcutHelp:
            showShortcutSheet();
            break;
    }
    // A toggle that the operation refused (or that changed nothing) shows the real value again;
    // everything else follows from the change the operation published.
    refresh();
}

void MenuCommands::showShortcutSheet() {
    if (sheet_ || blocked() || !services_.shortcutSheet) return;
    QDialog* sheet = services_.shortcutSheet(&window_);
    if (!sheet) return;
    sheet_ = sheet;
    // Closed in any way (its button, Esc, the window's dismissal) or destroyed, the sheet
    // unblocks the menus.
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        if (sheet_ == sheet) sheet_ = nullptr;
        sheet->deleteLater();
        refresh();
    });
    // A widget reports its destruction before its guards are cleared: forget it first.
    connect(sheet, &QObject::destroyed, this, [this, sheet] {
        if (sheet_ == sheet) sheet_ = nullptr;
        refresh();
    });
    refresh();
    sheet->open();
}

QAction* MenuCommands::action(Command command) const {
    const auto found = actions_.find(command);
    return found == actions_.end() ? nullptr : found->second;
}

QMenu* MenuCommands::menu(const std::string& title) const {
    for (const auto& [shown, actions] : menus_)
        if (shown->title() == QString::fromStdString(title)) return shown;
    return nullptr;
}

}  // namespace talvian
