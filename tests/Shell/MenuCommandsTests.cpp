// The menu bar: its model for the states the edit goes through, and the real menus over the
// controller in the window, driven by their shortcuts and actions.

#include <QAction>
#include <QDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <map>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Shell/MainWindow.h"
#include "Shell/MenuCommands.h"
#include "Shell/QuitTeardown.h"
#include "Shell/RecentSessionsMenu.h"
#include "Shell/ShortcutReference.h"
#include "ShellFixture.h"
#include "Update/UpdateService.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;

using Command = MenuCommands::Command;
using Item = MenuCommands::Item;
using State = MenuCommands::State;

// ---- The model

const Item& itemOf(const std::vector<MenuCommands::Menu>& menus, Command command) {
    for (const auto& menu : menus)
        for (const auto& item : menu.items)
            if (item.command == command) return item;
    throw std::logic_error("no such item");
}

const Command kAll[] = {
    Command::importFiles,
    Command::openProject,
    Command::recentSessions,
    Command::saveProject,
    Command::exportHandoff,
    Command::reselectSource,
    Command::relocateSource,
    Command::revealBackup,
    Command::quit,
    Command::undo,
    Command::redo,
    Command::previousReview,
    Command::nextReview,
    Command::auditionOriginal,
    Command::auditionEdited,
    Command::repeatAudition,
    Command::toggleReviewCut,
    Command::captureManualStart,
    Command::captureManualEnd,
    Command::addManualCut,
    Command::checkForUpdates,
    Command::automaticChecks,
    Command::contactSupport,
    Command::openGuide,
    Command::exportDiagnostics,
    Command::shortcutHelp,
};

// An analysed project of a recording without picture, its preview ready, no pause reviewed.
State analysedAudio() {
    State s;
    s.hasProject = true;
    s.needsAnalysis = false;
    s.hasSource = true;
    s.canReview = true;
    s.canReviewNext = true;
    s.canCaptureManualPosition = true;
    s.recentSessionsEnabled = true;
    s.hasSupportLink = true;
    s.hasGuideLink = true;
    return s;
}

State reviewing(std::size_t index, bool removed) {
    State s = analysedAudio();
    s.reviewIndex = index;
    s.reviewCutRemoved = removed;
    return s;
}

TEST(MenuCommandsModel, EnablingAndTextsFollowTheState) {
    State start;
    start.recentSessionsEnabled = true;
    start.hasSupportLink = true;
    start.hasGuideLink = true;

    State video = analysedAudio();
    video.projectHasVideo = true;
    video.canRelocateSource = true;

    // Options changed after the analysis: the controller's review guards are off too.
    State stale = reviewing(0, false);
    stale.needsAnalysis = true;
    stale.canReview = stale.canReviewNext = stale.canCaptureManualPosition = false;

    // A job runs: every controller guard says no, the submenu is off by its own rule.
    State busy = reviewing(1, true);
    busy.cutBusy = true;
    busy.canReview = busy.canReviewNext = busy.canCaptureManualPosition = false;
    busy.recentSessionsEnabled = false;

    State auditioning = reviewing(1, false);
    auditioning.canRepeatAudition = true;
    auditioning.repeatAudition = true;
    auditioning.canAddManualCut = true;

    State lastReviewed = reviewing(2, false);
    lastReviewed.canReviewNext = false;

    State blocked = auditioning;
    blocked.blocked = true;

    State noLinks = analysedAudio();
    noLinks.hasSupportLink = noLinks.hasGuideLink = false;

    State updates = analysedAudio();
    updates.hasUpdater = true;
    updates.canCheckForUpdates = true;
    updates.automaticChecks = true;
    State updatesBlocked = updates;
    updatesBlocked.blocked = true;
    updatesBlocked.canCheckForUpdates = false;

    const std::set<Command> always = {Command::revealBackup, Command::quit, Command::contactSupport,
                                      Command::openGuide};
    const auto with = [&](std::set<Command> more) {
        more.insert(always.begin(), always.end());
        return more;
    };
    const std::set<Command> analysedSet = with(
        {Command::importFiles, Command::openProject, Command::recentSessions, Command::saveProject,
         Command::exportHandoff, Command::reselectSource, Command::undo, Command::redo, Command::nextReview,
         Command::auditionOriginal, Command::auditionEdited, Command::captureManualStart,
         Command::captureManualEnd, Command::exportDiagnostics, Command::shortcutHelp});
    const auto plus = [](std::set<Command> set, std::initializer_list<Command> more) {
        set.insert(more);
        return set;
    };
    const auto minus = [](std::set<Command> set, std::initializer_list<Command> less) {
        for (Command c : less) set.erase(c);
        return set;
    };

    const struct {
        const char* name;
        State state;
        std::set<Command> enabled;  // every other present item is disabled
        std::map<Command, std::string> texts;
    } cases[] = {
        {"start, no recording",
         start,
         with({Command::importFiles, Command::openProject, Command::recentSessions, Command::undo,
               Command::redo, Command::exportDiagnostics, Command::shortcutHelp}),
         {{Command::exportHandoff, "导出剪映工程（试验）…"},
          {Command::auditionOriginal, "听第一段原音"},
          {Command::auditionEdited, "听第一段剪后"},
          {Command::toggleReviewCut, "保留当前区间"}}},
        {"analysed audio, no pause reviewed",
         analysedAudio(),
         analysedSet,
         {{Command::exportHandoff, "音频交接说明…"}, {Command::auditionOriginal, "听第一段原音"}}},
        {"analysed video with a source identity",
         video,
         plus(analysedSet, {Command::relocateSource}),
         {{Command::exportHandoff, "导出剪映工程（试验）…"}}},
        {"needs analysis: no hand-off and no keep/delete although a project is open",
         stale,
         with({Command::importFiles, Command::openProject, Command::recentSessions, Command::saveProject,
               Command::reselectSource, Command::undo, Command::redo, Command::exportDiagnostics,
               Command::shortcutHelp}),
         {{Command::toggleReviewCut, "删除当前区间"}}},
        {"busy", busy, with({Command::shortcutHelp}), {{Command::toggleReviewCut, "保留当前区间"}}},
        {"first pause reviewed: no previous",
         reviewing(0, false),
         plus(analysedSet, {Command::toggleReviewCut}),
         {{Command::auditionOriginal, "听当前段原音"},
          {Command::auditionEdited, "听当前段剪后"},
          {Command::toggleReviewCut, "删除当前区间"}}},
        {"a removed pause reviewed",
         reviewing(1, true),
         plus(analysedSet, {Command::previousReview, Command::toggleReviewCut}),
         {{Command::toggleReviewCut, "保留当前区间"}}},
        {"the last pause reviewed: no next",
         lastReviewed,
         minus(plus(analysedSet, {Command::previousReview, Command::toggleReviewCut}), {Command::nextReview}),
         {}},
        {"an audition with its loop on and a manual range",
         auditioning,
         plus(analysedSet, {Command::previousReview, Command::toggleReviewCut, Command::repeatAudition,
                            Command::addManualCut}),
         {}},
        {"sheet or panel shown: only the help items and quitting",
         blocked,
         {Command::quit, Command::contactSupport, Command::openGuide, Command::exportDiagnostics},
         {{Command::toggleReviewCut, "删除当前区间"}, {Command::auditionOriginal, "听当前段原音"}}},
        {"no support or guide link",
         noLinks,
         minus(analysedSet, {Command::contactSupport, Command::openGuide}),
         {}},
        {"updates configured",
         updates,
         plus(analysedSet, {Command::checkForUpdates, Command::automaticChecks}),
         {}},
        {"updates are never blocked",
         updatesBlocked,
         {Command::quit, Command::contactSupport, Command::openGuide, Command::exportDiagnostics,
          Command::automaticChecks},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto menus = MenuCommands::model(c.state);
        for (Command command : kAll) {
            const Item& item = itemOf(menus, command);
            if (!item.present) {
                EXPECT_FALSE(c.enabled.contains(command)) << item.text << " is missing";
                continue;
            }
            EXPECT_EQ(item.enabled, c.enabled.contains(command)) << item.text;
        }
        for (const auto& [command, text] : c.texts) EXPECT_EQ(itemOf(menus, command).text, text);
    }
}

TEST(MenuCommandsModel, MissingLinksAndUpdaterRemoveTheirItems) {
    const struct {
        const char* name;
        bool updater, support, guide;
        std::vector<std::string> help;  // the present items of 帮助, "—" for a separator
    } cases[] = {
        {"everything",
         true,
         true,
         true,
         {"检查更新…", "每天自动检查更新", "—", "联系支持…", "使用指南", "导出诊断信息…", "—",
          "键盘快捷键…"}},
        {"no updater", false, true, true, {"联系支持…", "使用指南", "导出诊断信息…", "—", "键盘快捷键…"}},
        {"no support address", false, false, true, {"使用指南", "导出诊断信息…", "—", "键盘快捷键…"}},
        {"no guide",
         true,
         true,
         false,
         {"检查更新…", "每天自动检查更新", "—", "联系支持…", "导出诊断信息…", "—", "键盘快捷键…"}},
        {"nothing", false, false, false, {"导出诊断信息…", "—", "键盘快捷键…"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        State s;
        s.hasUpdater = c.updater;
        s.hasSupportLink = c.support;
        s.hasGuideLink = c.guide;
        const auto menus = MenuCommands::model(s);
        ASSERT_EQ(menus.size(), 4u);
        EXPECT_EQ(menus[3].title, "帮助");
        std::vector<std::string> help;
        for (const Item& item : menus[3].items)
            if (item.present) help.push_back(item.kind == Item::Kind::separator ? "—" : item.text);
        EXPECT_EQ(help, c.help);
        EXPECT_TRUE(itemOf(menus, Command::automaticChecks).checkable);
    }
}

TEST(MenuCommandsModel, EveryStateHasTheSameItemsAndDistinctShortcuts) {
    const auto layout = [](const std::vector<MenuCommands::Menu>& menus) {
        std::vector<std::pair<Item::Kind, std::optional<Command>>> items;
        for (const auto& menu : menus)
            for (const auto& item : menu.items) items.emplace_back(item.kind, item.command);
        return items;
    };
    State blocked = reviewing(1, false);
    blocked.blocked = true;
    blocked.hasUpdater = true;
    const auto first = MenuCommands::model(State());
    for (const State& s : {analysedAudio(), reviewing(0, true), blocked})
        EXPECT_EQ(layout(MenuCommands::model(s)), layout(first));

    std::vector<std::string> titles;
    for (const auto& menu : first) titles.push_back(menu.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"文件", "编辑", "复核", "帮助"}));

    // Every item of every kind is there once; no text carries a mnemonic.
    std::set<Command> seen;
    std::map<QKeySequence, std::string> shortcuts;
    for (const auto& menu : first) {
        EXPECT_EQ(menu.title.find('&'), std::string::npos);
        for (const auto& item : menu.items) {
            EXPECT_EQ(item.text.find('&'), std::string::npos) << item.text;
            if (item.command) {
                EXPECT_TRUE(seen.insert(*item.command).second) << item.text;
            }
            if (item.shortcut.empty()) continue;
            const QKeySequence keys(QString::fromStdString(item.shortcut), QKeySequence::PortableText);
            ASSERT_EQ(keys.count(), 1) << item.shortcut;
            // Every menu shortcut holds Ctrl, so none takes a single key of the window.
            EXPECT_TRUE(keys[0].keyboardModifiers() & Qt::ControlModifier) << item.shortcut;
            const auto [at, fresh] = shortcuts.emplace(keys, item.text);
            EXPECT_TRUE(fresh) << item.text << " shares " << item.shortcut << " with " << at->second;
        }
    }
    EXPECT_EQ(seen.size(), std::size(kAll));

    const std::map<Command, std::string> expected = {
        {Command::importFiles, "Ctrl+O"},
        {Command::openProject, "Ctrl+Shift+O"},
        {Command::saveProject, "Ctrl+S"},
        {Command::quit, "Ctrl+Q"},
        {Command::undo, "Ctrl+Z"},
        {Command::redo, "Ctrl+Shift+Z"},
        {Command::previousReview, "Ctrl+Alt+P"},
        {Command::nextReview, "Ctrl+Alt+N"},
        {Command::auditionOriginal, "Ctrl+Alt+1"},
        {Command::auditionEdited, "Ctrl+Alt+2"},
        {Command::repeatAudition, "Ctrl+Alt+L"},
        {Command::toggleReviewCut, "Ctrl+Alt+R"},
        {Command::captureManualStart, "Ctrl+Alt+I"},
        {Command::captureManualEnd, "Ctrl+Alt+O"},
    };
    for (Command command : kAll) {
        const auto found = expected.find(command);
        EXPECT_EQ(itemOf(first, command).shortcut, found == expected.end() ? "" : found->second)
            << itemOf(first, command).text;
    }
}

// ---- The menus in the window

// An updater that counts checks and reports the automatic-check setting it accepts.
class TestUpdater : public Updater {
  public:
    bool canCheck = true;
    bool automatic = false;
    bool acceptsChanges = true;
    int checks = 0;
    bool canCheckForUpdates() const override { return canCheck; }
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool on) override {
        if (!acceptsChanges) return;
        automatic = on;
        emit automaticallyChecksForUpdatesChanged(on);
    }
    void checkForUpdates() override { ++checks; }
};

class MenuCommandsTest : public ShellTest {
  protected:
    std::unique_ptr<UpdateService> updates;
    TestUpdater* updater = nullptr;
    int sheetsMade = 0;
    QPointer<QDialog> sheet;
    MenuCommands* menus = nullptr;

    void SetUp() override {
        ShellTest::SetUp();
        // Auditions read the recording's tracks: a real sound.
        makeMedia("-f lavfi -i sine=f=440:r=48000:d=10", sourceA);
    }
    void TearDown() override {
        menus = nullptr;
        ShellTest::TearDown();
    }

    // The window with its menus, the update service made from `info`.
    void install(const nlohmann::json& info = nlohmann::json::object(), AppServiceConfiguration links = {},
                 bool realSheet = false) {
        updates = std::make_unique<UpdateService>(info, [this](const AppServiceConfiguration&) {
            auto made = std::make_unique<TestUpdater>();
            updater = made.get();
            return std::unique_ptr<Updater>(std::move(made));
        });
        showWindow();
        menus = &mainWindow->installMenus({std::move(links), [this]() -> UpdateService& { return *updates; },
                                           [this, realSheet](QWidget* parent) {
                                               ++sheetsMade;
                                               sheet = realSheet ? new ShortcutReference(parent)
                                                                 : new QDialog(parent);
                                               return sheet.data();
                                           }});
    }
    QAction& action(Command command) { return *menus->action(command); }
    void activate() {
        QApplication::setActiveWindow(mainWindow.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(mainWindow.get()));
    }
    // Each lets the window follow the controller before the test reads it.
    void press(int key, Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(mainWindow.get(), Qt::Key(key), modifiers);
        settle();
    }
    void openReady() {
        open(sourceA);
        players.last()->finishLoading(analysis.duration);
        ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
        settle();
    }
    void waitIdle() {
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
        settle();
    }
    // The file, edit and review items (the groups the window blocks), without the separators.
    std::vector<QAction*> blockableActions() {
        std::vector<QAction*> list;
        for (const char* title : {"文件", "编辑", "复核"})
            for (QAction* item : menus->menu(title)->actions())
                if (!item->isSeparator() && item != &action(Command::quit)) list.push_back(item);
        return list;
    }
};

TEST_F(MenuCommandsTest, TheMenusAreBuiltOnceAndFollowTheController) {
    install();
    std::vector<QString> titles;
    for (QAction* menu : mainWindow->menuBar()->actions()) titles.push_back(menu->text());
    EXPECT_EQ(titles, (std::vector<QString>{"文件", "编辑", "复核", "帮助"}));
    std::map<Command, QAction*> built;
    for (Command command : kAll) built[command] = menus->action(command);
    EXPECT_EQ(action(Command::importFiles).shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(action(Command::captureManualEnd).shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_O));
    EXPECT_EQ(action(Command::recentSessions).menu(), &menus->recentSessions());
    EXPECT_FALSE(action(Command::saveProject).isEnabled());
    EXPECT_FALSE(action(Command::recentSessions).isEnabled()) << "nothing backed up yet";
    EXPECT_EQ(action(Command::exportHandoff).text(), "导出剪映工程（试验）…");

    openReady();
    for (Command command : kAll) EXPECT_EQ(menus->action(command), built[command]);
    EXPECT_TRUE(action(Command::saveProject).isEnabled());
    EXPECT_TRUE(action(Command::recentSessions).isEnabled());
    EXPECT_EQ(action(Command::exportHandoff).text(), "音频交接说明…");
    EXPECT_EQ(action(Command::auditionOriginal).text(), "听第一段原音");
    EXPECT_TRUE(action(Command::nextReview).isEnabled());
    EXPECT_FALSE(action(Command::previousReview).isEnabled());

    // Ctrl+Alt+N reviews the first pause of the review order; Ctrl+Alt+R toggles it.
    activate();
    press(Qt::Key_N, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(workspace->review().reviewID, workspace->reviewCuts().front().id);
    EXPECT_EQ(action(Command::auditionOriginal).text(), "听当前段原音");
    // The analysis removes every pause it finds.
    EXPECT_EQ(action(Command::toggleReviewCut).text(), "保留当前区间");
    press(Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(workspace->reviewCut()->remove);
    EXPECT_EQ(action(Command::toggleReviewCut).text(), "删除当前区间");
    // The window's single keys still reach it.
    press(Qt::Key_Down, Qt::NoModifier);
    EXPECT_EQ(workspace->reviewIndex(), 1u);
    EXPECT_TRUE(action(Command::previousReview).isEnabled());

    // The audio hand-off's explanation is in the export panel, which the item opens.
    action(Command::exportHandoff).trigger();
    EXPECT_TRUE(workspace->exports().audioHandoffInfoPresented);
    EXPECT_EQ(view().modal(), ModalPanel::exportPanel);
}

TEST_F(MenuCommandsTest, NoShortcutActsWhileAPanelIsOpen) {
    install();
    openReady();
    workspace->toggleCut(ids()[0]);
    const CutProject edited = *workspace->document().project;
    activate();

    view().setModal(ModalPanel::settings);
    settle();
    ASSERT_TRUE(workspace->job().studioOverlayPresented);
    for (QAction* item : blockableActions()) EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    EXPECT_FALSE(action(Command::shortcutHelp).isEnabled());
    EXPECT_TRUE(action(Command::quit).isEnabled());
    EXPECT_TRUE(action(Command::exportDiagnostics).isEnabled());
    saveMenuShot(*menus->menu("复核"), "menu-review-blocked");
    const auto reviewed = workspace->reviewIndex();
    press(Qt::Key_Z, Qt::ControlModifier);
    press(Qt::Key_N, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(workspace->document().project, edited);
    EXPECT_EQ(workspace->reviewIndex(), reviewed);

    view().setModal(std::nullopt);
    settle();
    EXPECT_TRUE(action(Command::undo).isEnabled());
    press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NE(workspace->document().project, edited) << "Ctrl+Z undoes once the panel is closed";
    press(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(workspace->document().project, edited) << "Ctrl+Shift+Z redoes";
    press(Qt::Key_N, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(workspace->reviewIndex(), reviewed.value_or(0) + 1);
}

TEST_F(MenuCommandsTest, CtrlZInATextFieldUndoesTheTypingNotTheEdit) {
    install();
    openReady();
    workspace->toggleCut(ids()[0]);
    const CutProject edited = *workspace->document().project;
    auto* field = new QLineEdit(&view());
    field->show();
    activate();
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return field->hasFocus(); }));
    QTest::keyClicks(field, QStringLiteral("12"));
    ASSERT_EQ(field->text(), "12");

    press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(workspace->document().project, edited);
}

TEST_F(MenuCommandsTest, TheLoopToggleShowsWhatTheControllerAccepted) {
    install();
    openReady();
    QAction& loop = action(Command::repeatAudition);
    ASSERT_TRUE(loop.isCheckable());
    // Without an audition the item is off; offered anyway (as a stale menu would), the
    // controller refuses and the item shows unchecked again.
    EXPECT_FALSE(loop.isEnabled());
    loop.setEnabled(true);
    loop.trigger();
    EXPECT_FALSE(workspace->playback().repeatAudition);
    EXPECT_FALSE(loop.isChecked());

    activate();
    press(Qt::Key_1, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return workspace->auditionPlayer() != nullptr; }));
    auto* player = dynamic_cast<FakePlayer*>(workspace->auditionPlayer());
    player->finishLoading(player->timeline()->durationSeconds());
    ASSERT_TRUE(waitUntil([&] { return workspace->guards().canRepeatAudition; }));
    settle();
    EXPECT_EQ(player->timeline()->mode, AuditionMode::original);
    EXPECT_TRUE(loop.isEnabled());
    press(Qt::Key_L, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(workspace->playback().repeatAudition);
    EXPECT_TRUE(loop.isChecked());
    loop.trigger();
    EXPECT_FALSE(workspace->playback().repeatAudition);
    EXPECT_FALSE(loop.isChecked());
}

TEST_F(MenuCommandsTest, WhileAJobRunsOnlyTheBackupLinksAndQuittingAct) {
    install({}, AppServiceConfiguration(nlohmann::json{{"TalvianSupportEmail", "help@example.org"},
                                                       {"TalvianGuideURL", "https://example.org/guide"}}));
    open(sourceA);
    open(sourceB);
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);
    ASSERT_TRUE(action(Command::recentSessions).isEnabled());
    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    settle();
    for (Command command :
         {Command::importFiles, Command::openProject, Command::recentSessions, Command::saveProject,
          Command::exportHandoff, Command::reselectSource, Command::undo, Command::redo,
          Command::toggleReviewCut, Command::exportDiagnostics})
        EXPECT_FALSE(action(command).isEnabled()) << action(command).text().toStdString();
    for (Command command : {Command::revealBackup, Command::contactSupport, Command::openGuide, Command::quit,
                            Command::shortcutHelp})
        EXPECT_TRUE(action(command).isEnabled()) << action(command).text().toStdString();
    analysis.release();
    waitIdle();
    EXPECT_TRUE(action(Command::importFiles).isEnabled());
}

TEST_F(MenuCommandsTest, HelpLinksAndTheBackupGoThroughTheDesktop) {
    install({}, AppServiceConfiguration(nlohmann::json{{"TalvianSupportEmail", "help@example.org"},
                                                       {"TalvianGuideURL", "https://example.org/guide"}}));
    mainWindow->view().setModal(ModalPanel::settings);
    settle();
    // Help is never blocked.
    ASSERT_TRUE(action(Command::contactSupport).isVisible());
    action(Command::contactSupport).trigger();
    action(Command::openGuide).trigger();
    EXPECT_EQ(desktop.openedLinks,
              (std::vector<std::string>{"mailto:help@example.org", "https://example.org/guide"}));
    mainWindow->view().setModal(std::nullopt);
    settle();
    action(Command::revealBackup).trigger();
    EXPECT_EQ(desktop.revealedFiles, std::vector<fs::path>{backupURL});

    // Without the links their items are gone, not disabled.
    mainWindow.reset();
    install();
    EXPECT_FALSE(action(Command::contactSupport).isVisible());
    EXPECT_FALSE(action(Command::openGuide).isVisible());
    EXPECT_TRUE(action(Command::exportDiagnostics).isVisible());
}

TEST_F(MenuCommandsTest, TheShortcutSheetBlocksTheMenusUntilItCloses) {
    install();
    openReady();
    workspace->toggleCut(ids()[0]);
    settle();
    const CutProject edited = *workspace->document().project;
    activate();
    std::map<QAction*, bool> before;
    for (QAction* item : blockableActions()) before[item] = item->isEnabled();

    action(Command::shortcutHelp).trigger();
    ASSERT_EQ(sheetsMade, 1);
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), mainWindow.get());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(menus->blocked());
    for (QAction* item : blockableActions()) EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    EXPECT_FALSE(action(Command::shortcutHelp).isEnabled());
    EXPECT_TRUE(action(Command::quit).isEnabled());
    // Neither a second sheet nor a shortcut of the window.
    action(Command::shortcutHelp).trigger();
    EXPECT_EQ(sheetsMade, 1);
    press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(workspace->document().project, edited);

    sheet->reject();
    EXPECT_FALSE(menus->blocked());
    for (QAction* item : blockableActions())
        EXPECT_EQ(item->isEnabled(), before[item]) << item->text().toStdString();
    EXPECT_TRUE(action(Command::shortcutHelp).isEnabled());
    // Deleted later: a test outside any event loop delivers that by hand.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sheet.isNull());
    action(Command::shortcutHelp).trigger();
    EXPECT_EQ(sheetsMade, 2);
    // Destroyed without finishing (the window's own teardown, say), it unblocks as well.
    delete sheet.data();
    EXPECT_FALSE(menus->blocked());
    EXPECT_TRUE(action(Command::undo).isEnabled());
}

TEST_F(MenuCommandsTest, TheRealSheetKeepsTheKeysUntilEscapeGivesTheMenusBack) {
    install({}, {}, true);
    openReady();
    activate();
    QAction& importItem = action(Command::importFiles);
    ASSERT_TRUE(importItem.isEnabled());

    action(Command::shortcutHelp).trigger();
    auto* reference = qobject_cast<ShortcutReference*>(sheet.data());
    ASSERT_NE(reference, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(reference));
    QLineEdit& field = reference->searchField();
    EXPECT_TRUE(waitUntil([&] { return field.hasFocus(); }));
    EXPECT_FALSE(importItem.isEnabled());

    // Ctrl+F brings the focus back from anywhere in the sheet.
    reference->closeButton().setFocus();
    ASSERT_FALSE(field.hasFocus());
    QTest::keyClick(reference, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(field.hasFocus());

    // Enter in the search field neither closes the sheet nor reaches the window.
    QTest::keyClicks(&field, "cmd s");
    QTest::keyClick(&field, Qt::Key_Return);
    QTest::keyClick(&field, Qt::Key_Enter);
    EXPECT_TRUE(reference->isVisible());
    EXPECT_TRUE(menus->blocked());
    EXPECT_EQ(reference->query(), "cmd s");

    QTest::keyClick(&field, Qt::Key_Escape);
    EXPECT_FALSE(reference->isVisible());
    EXPECT_FALSE(menus->blocked());
    EXPECT_TRUE(importItem.isEnabled());
    EXPECT_TRUE(action(Command::shortcutHelp).isEnabled());
}

TEST_F(MenuCommandsTest, TheUpdateItemsLeadHelpAndFollowTheUpdater) {
    const nlohmann::json info = {{"SUFeedURL", "https://example.org/feed"},
                                 {"SUPublicEDKey", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="}};
    install(info);
    ASSERT_NE(updater, nullptr);
    const QList<QAction*> help = menus->menu("帮助")->actions();
    ASSERT_GE(help.size(), 3);
    EXPECT_EQ(help[0], &action(Command::checkForUpdates));
    EXPECT_EQ(help[1], &action(Command::automaticChecks));
    EXPECT_TRUE(help[2]->isSeparator() && help[2]->isVisible());
    EXPECT_TRUE(action(Command::checkForUpdates).isVisible());
    EXPECT_FALSE(action(Command::automaticChecks).isChecked());

    view().setModal(ModalPanel::settings);
    settle();
    ASSERT_TRUE(action(Command::checkForUpdates).isEnabled()) << "never blocked";
    action(Command::checkForUpdates).trigger();
    EXPECT_EQ(updater->checks, 1);
    action(Command::automaticChecks).trigger();
    EXPECT_TRUE(updater->automatic);
    EXPECT_TRUE(action(Command::automaticChecks).isChecked());
    saveMenuShot(*menus->menu("帮助"), "menu-help-updates");
    // A setting the updater does not take shows its own value again.
    updater->acceptsChanges = false;
    action(Command::automaticChecks).trigger();
    EXPECT_TRUE(action(Command::automaticChecks).isChecked());
    // The updater's reports reach the items.
    updater->canCheck = false;
    emit updater->canCheckForUpdatesChanged(false);
    EXPECT_FALSE(action(Command::checkForUpdates).isEnabled());

    // Without the update keys: no updater, no items.
    mainWindow.reset();
    updater = nullptr;
    install();
    EXPECT_EQ(updater, nullptr);
    EXPECT_FALSE(action(Command::checkForUpdates).isVisible());
    EXPECT_FALSE(action(Command::automaticChecks).isVisible());
    EXPECT_FALSE(menus->menu("帮助")->actions()[2]->isVisible());
}

TEST_F(MenuCommandsTest, QuittingClosesTheWindowAndTearsTheWorkDown) {
    install();
    open(sourceA);
    quitWithTeardown(*qApp, *workspace, std::chrono::milliseconds(200));
    bool aboutToQuit = false;
    const auto watch = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { aboutToQuit = true; });
    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);

    QTimer::singleShot(0, mainWindow.get(), [&] { action(Command::quit).trigger(); });
    // Only a deadline in case the application does not quit.
    bool gaveUp = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        gaveUp = true;
        QCoreApplication::quit();
    });
    deadline.start(30000);
    QApplication::exec();
    QObject::disconnect(watch);

    EXPECT_FALSE(gaveUp);
    EXPECT_TRUE(aboutToQuit);
    EXPECT_FALSE(mainWindow->isVisible());
    // The analysis held through the quit finds its job cancelled by the teardown.
    analysis.release();
    waitIdle();
    EXPECT_EQ(workspace->job().status, "任务已取消，原文件未改动。");
}

}  // namespace
}  // namespace talvian::test
