#include <sys/stat.h>

#include <QAccessible>
#include <QLabel>

#include <gtest/gtest.h>

#include "Kit/StudioControls.h"
#include "NameCases.h"
#include "Shell/FooterBar.h"
#include "Shell/HeaderBar.h"
#include "Shell/ShellWidgets.h"
#include "Shell/StartScreen.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

TEST(HeaderBar, DurationTextTable) {
    struct Case {
        double duration;
        std::vector<CutRegion> cuts;
        const char* text;
    };
    const Case cases[] = {
        {90.4, {CutRegion(10, 20.2, true), CutRegion(30, 31, false)}, "01:30 → 01:20"},
        {90.4, {CutRegion(0, 90.4, true)}, "01:30 → 00:00"},
        {3600.5, {}, "1:00:00 → 1:00:00"},
        {59.99, {CutRegion(1, 2, true)}, "00:59 → 00:58"},
    };
    for (const Case& c : cases) {
        CutProject project;
        project.info.duration = c.duration;
        project.cuts = c.cuts;
        EXPECT_EQ(HeaderBar::durationText(project), c.text);
    }
}

TEST(HeaderBar, ExportIsOfferedOnlyForAnAnalysedProjectOutsideJobsAndPanels) {
    EXPECT_TRUE(HeaderBar::canExport(true, false, false, false));
    EXPECT_FALSE(HeaderBar::canExport(false, false, false, false));
    EXPECT_FALSE(HeaderBar::canExport(true, true, false, false));
    EXPECT_FALSE(HeaderBar::canExport(true, false, true, false));
    EXPECT_FALSE(HeaderBar::canExport(true, false, false, true));
}

class HeaderStartTest : public ShellTest {};

TEST_F(HeaderStartTest, HeaderFollowsTheSourceAndTheProject) {
    showWindow();
    auto& header = view().header();
    auto* title = header.findChild<ElidedLabel*>();
    EXPECT_EQ(title->text(), QStringLiteral("Talvian"));
    EXPECT_EQ(shownToolTip(title->toolTip()), QStringLiteral("Talvian"));
    auto* exportButton = buttonWithText(header, QStringLiteral("导出"));
    ASSERT_NE(exportButton, nullptr);
    EXPECT_FALSE(exportButton->isEnabled());
    EXPECT_FALSE(visibleTexts(header).join("|").contains("→"));

    const auto longName = folder / (std::string(200, 'x') + "-end.wav");
    writeFile(longName, "x");
    open(longName);
    EXPECT_EQ(title->text().toStdString(), "\u2068" + longName.filename().string() + "\u2069");
    EXPECT_EQ(shownToolTip(title->toolTip()).toStdString(), "\u2068" + longName.string() + "\u2069");
    // Too long for the bar: the beginning and the end stay, the middle is elided.
    EXPECT_TRUE(title->shownText().startsWith("\u2068xxx"));
    EXPECT_TRUE(title->shownText().endsWith("-end.wav\u2069"));
    EXPECT_TRUE(title->shownText().contains(QStringLiteral("…")));
    EXPECT_TRUE(visibleTexts(header).contains(QStringLiteral("00:10 → 00:07")));
    EXPECT_TRUE(exportButton->isEnabled());
    saveShot(*mainWindow, "editor-idle");

    // Undo follows the cut history.
    auto undo = header.findChildren<StudioButton*>();
    const auto undoButton = std::find_if(undo.begin(), undo.end(),
                                         [](auto* b) { return b->toolTip() == QStringLiteral("撤销"); });
    ASSERT_NE(undoButton, undo.end());
    EXPECT_FALSE((*undoButton)->isEnabled());
    workspace->toggleCut(workspace->document().project->cuts.front().id);
    settle();
    EXPECT_TRUE((*undoButton)->isEnabled());
    (*undoButton)->click();
    EXPECT_TRUE(workspace->document().project->cuts.front().remove);

    // Changed settings that were not applied: no export.
    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB -= 5;
    workspace->setCutOptions(options);
    settle();
    EXPECT_FALSE(exportButton->isEnabled());
}

TEST_F(HeaderStartTest, StartScreenListsTwoRecentEditsAndTheNoteOnlyWithNothingToResume) {
    showWindow();
    auto* start = view().findChild<StartScreen*>();
    EXPECT_TRUE(visibleTexts(*start).contains(QStringLiteral("你的剪辑会自动备份在这台电脑上。")));
    EXPECT_FALSE(buttonWithText(*start, QStringLiteral("试用示例")) == nullptr);

    // Three edits of three recordings: the last is the backup, the two before are recent.
    const auto sourceC = folder / "c.wav";
    writeFile(sourceC, "c");
    for (const auto& source : {sourceA, sourceB, sourceC}) open(source);
    ASSERT_GE(workspace->document().recentSessions.size(), 2u);
    // Back on the start screen with nothing open: a fresh window over the same backup.
    mainWindow.reset();
    workspace.reset();
    workspace = makeWorkspace();
    showWindow();
    start = view().findChild<StartScreen*>();
    const QStringList texts = visibleTexts(*start);
    EXPECT_FALSE(texts.contains(QStringLiteral("你的剪辑会自动备份在这台电脑上。")));
    EXPECT_TRUE(texts.contains(QStringLiteral("继续上次剪辑")));
    EXPECT_TRUE(texts.contains(QStringLiteral("\u2068c.wav\u2069")));
    int listed = 0;
    for (const auto& session : workspace->document().recentSessions)
        listed += texts.contains(QString::fromStdString(session.menuLabel()));
    EXPECT_EQ(listed,
              static_cast<int>(std::min<std::size_t>(workspace->document().recentSessions.size(), 2)));
    saveShot(*mainWindow, "start-screen-recent");
}

TEST_F(HeaderStartTest, TheStartScreenSaysWhatIsWrongWithTheBackupInPlaceOfTheNote) {
    const QString note = QStringLiteral("你的剪辑会自动备份在这台电脑上。");
    const QString lastUnreadable = QStringLiteral("上次备份无法读取。原文件已保留，可打开已保存的项目。");
    const QString historyUnreadable =
        QStringLiteral("先前剪辑备份无法读取，旧文件已保留。可继续或打开已保存的项目。");
    const QString heldElsewhere = QStringLiteral("另一应用实例正在使用本机备份，请先保存当前项目。");
    const std::filesystem::path recovery = backupURL.parent_path();
    const std::filesystem::path history = recovery / "recent-sessions.json";
    std::unique_ptr<ForeignBackupLock> holder;

    struct Case {
        const char* name;
        std::function<void()> damage;
        QString line;
        bool resumable;
    };
    const Case cases[] = {
        {"no backup yet", [] {}, note, false},
        {"last session not JSON", [&] { writeFile(backupURL, "{\"version\": 5, \"cuts\": ["); },
         lastUnreadable, false},
        {"last session a folder", [&] { std::filesystem::create_directories(backupURL); }, lastUnreadable,
         false},
        {"recent sessions not JSON", [&] { writeFile(history, "{\"entries\": [{"); }, historyUnreadable,
         false},
        {"recent sessions a FIFO", [&] { ASSERT_EQ(::mkfifo(history.c_str(), 0600), 0); }, historyUnreadable,
         false},
        {"both damaged",
         [&] {
             writeFile(backupURL, "[]");
             writeFile(history, "null");
         },
         lastUnreadable + historyUnreadable, false},
        {"a resumable last session beside damaged recent sessions",
         [&] {
             workspace = makeWorkspace();
             open(sourceA);
             workspace.reset();
             writeFile(history, "{}");
         },
         historyUnreadable, true},
        {"held by another instance",
         [&] {
             holder = std::make_unique<ForeignBackupLock>(backupURL);
             ASSERT_TRUE(holder->held);
         },
         heldElsewhere, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mainWindow.reset();
        workspace.reset();
        holder.reset();
        std::filesystem::remove_all(recovery);
        std::filesystem::create_directories(recovery);
        c.damage();
        workspace = makeWorkspace();
        showWindow();
        auto* start = view().findChild<StartScreen*>();
        ASSERT_TRUE(start && start->isVisible());
        const QStringList texts = visibleTexts(*start);
        EXPECT_TRUE(texts.contains(c.line)) << texts.join("|").toStdString();
        EXPECT_EQ(texts.contains(note), c.line == note);
        EXPECT_EQ(texts.contains(QStringLiteral("继续上次剪辑")), c.resumable);
        if (c.line == lastUnreadable && !c.resumable) saveShot(*mainWindow, "start-screen-backup-unreadable");
    }
}

TEST(StartScreen, TheBackupIssueTakesThePlaceOfTheNote) {
    const std::vector<RecentSession> sessions(1);
    const std::string note = "你的剪辑会自动备份在这台电脑上。";
    const std::string issue = "上次备份无法读取。原文件已保留，可打开已保存的项目。";
    EXPECT_EQ(StartScreen::backupLine(std::nullopt, {}, std::nullopt), note);
    EXPECT_EQ(StartScreen::backupLine(std::string("a.wav"), {}, std::nullopt), std::nullopt);
    EXPECT_EQ(StartScreen::backupLine(std::nullopt, sessions, std::nullopt), std::nullopt);
    EXPECT_EQ(StartScreen::backupLine(std::nullopt, {}, issue), issue);
    EXPECT_EQ(StartScreen::backupLine(std::string("a.wav"), sessions, issue), issue);
}

TEST(StartScreen, ListedSessionsAndBackupNote) {
    std::vector<RecentSession> sessions(3);
    for (std::size_t i = 0; i < sessions.size(); ++i) sessions[i].id = Uuid::random();
    EXPECT_EQ(StartScreen::listedSessions(sessions),
              std::vector<RecentSession>(sessions.begin(), sessions.begin() + 2));
    EXPECT_EQ(StartScreen::listedSessions({}), std::vector<RecentSession>{});
    EXPECT_TRUE(StartScreen::showsBackupNote(std::nullopt, {}));
    EXPECT_FALSE(StartScreen::showsBackupNote(std::string("a.wav"), {}));
    EXPECT_FALSE(StartScreen::showsBackupNote(std::nullopt, sessions));
}

TEST(FooterBar, BackupDisplayTable) {
    using Display = FooterBar::BackupDisplay;
    struct Case {
        bool project, saved, issue;
        Display display;
    };
    const Case cases[] = {
        {false, true, true, Display::none},  {true, false, false, Display::none},
        {true, true, false, Display::saved}, {true, false, true, Display::retry},
        {true, true, true, Display::retry},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FooterBar::backupDisplay(c.project, c.saved, c.issue), c.display)
            << c.project << c.saved << c.issue;
}

TEST_F(HeaderStartTest, FooterShowsTheBackupAndRetriesAFailure) {
    // Another instance holds the backup until it goes.
    workspace.reset();
    auto holder = std::make_unique<Workspace>(players, backupURL);
    workspace = makeWorkspace();
    showWindow();
    auto* footer = view().findChild<FooterBar*>();
    EXPECT_TRUE(visibleTexts(*footer).contains(QStringLiteral("本机处理 · 原文件保留")));
    // No edit open: no backup state, even with a backup issue.
    EXPECT_FALSE(visibleTexts(*footer).contains(QStringLiteral("备份失败，重试")));
    open(sourceA);
    EXPECT_TRUE(visibleTexts(*footer).contains(QStringLiteral("备份失败，重试")));
    EXPECT_FALSE(visibleTexts(*footer).contains(QStringLiteral("已备份到本机")));
    saveShot(*mainWindow, "footer-retry");
    holder.reset();
    buttonWithText(*footer, QStringLiteral("备份失败，重试"))->click();
    settle();
    EXPECT_TRUE(visibleTexts(*footer).contains(QStringLiteral("已备份到本机")));
    EXPECT_FALSE(visibleTexts(*footer).contains(QStringLiteral("备份失败，重试")));
}

TEST_F(HeaderStartTest, ABackupThatKeepsFailingSaysWhyOnTheButtonAndAfterARetry) {
    const std::filesystem::path history = backupURL.parent_path() / "recent-sessions.json";
    std::unique_ptr<ForeignBackupLock> holder;
    struct Case {
        const char* name;
        std::function<void()> before;  // before the controller starts
        std::function<void()> edit;    // the edits whose backup fails
        std::string reason;
    };
    const Case cases[] = {
        {"another instance holds the backup",
         [&] {
             holder = std::make_unique<ForeignBackupLock>(backupURL);
             ASSERT_TRUE(holder->held);
         },
         [&] { open(sourceA); }, "另一应用实例正在使用本机备份，请先保存当前项目。"},
        // Nothing can be kept aside of a FIFO: the first session that is archived fails.
        {"a FIFO in place of the recent sessions",
         [&] {
             std::filesystem::create_directories(history.parent_path());
             ASSERT_EQ(::mkfifo(history.c_str(), 0600), 0);
         },
         [&] {
             open(sourceA);
             open(sourceB);
         },
         "先前剪辑备份位置不可写，请先保存当前项目。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mainWindow.reset();
        workspace.reset();
        holder.reset();
        std::filesystem::remove_all(backupURL.parent_path());
        c.before();
        workspace = makeWorkspace();
        showWindow();
        c.edit();
        auto* footer = view().findChild<FooterBar*>();
        QAbstractButton* retry = buttonWithText(*footer, QStringLiteral("备份失败，重试"));
        ASSERT_TRUE(retry && retry->isVisible());
        const QString reason = QString::fromStdString(c.reason);
        EXPECT_EQ(shownToolTip(retry->toolTip()), reason);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(retry);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("备份失败，重试"));
        EXPECT_EQ(accessible->text(QAccessible::Description), reason);
        EXPECT_EQ(accessible->role(), QAccessible::Button);

        // The retry fails the same way and says so.
        const CutProject edit = *workspace->document().project;
        retry->click();
        ASSERT_TRUE(waitUntil([&] { return view().noticeShown(); }, 5000));
        settle();
        EXPECT_EQ(workspace->job().notice, c.reason);
        EXPECT_EQ(view().noticeAlert()->text(), reason);
        EXPECT_TRUE(retry->isVisible());
        EXPECT_EQ(shownToolTip(retry->toolTip()), reason);
        EXPECT_EQ(workspace->document().project, edit);
        if (holder) saveShot(*view().noticeAlert(), "footer-retry-failed");
        view().noticeAlert()->reject();
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().notice; }, 5000));
    }

    // Once the other instance has gone, the retry succeeds without a notice.
    mainWindow.reset();
    workspace.reset();
    std::filesystem::remove_all(backupURL.parent_path());
    holder = std::make_unique<ForeignBackupLock>(backupURL);
    workspace = makeWorkspace();
    showWindow();
    open(sourceA);
    holder.reset();
    auto* footer = view().findChild<FooterBar*>();
    buttonWithText(*footer, QStringLiteral("备份失败，重试"))->click();
    settle();
    EXPECT_TRUE(visibleTexts(*footer).contains(QStringLiteral("已备份到本机")));
    EXPECT_FALSE(workspace->job().notice);
}

TEST_F(HeaderStartTest, RecoveryCardOffersRelocationOnlyWhenPossible) {
    showWindow();
    RecoveryCard card(*workspace);
    card.show();
    ProjectRecovery recovery;
    recovery.selection = folder / "p.quenlo.json";
    recovery.sourcePath = "/media/gone/talk.wav";
    recovery.canRelocate = false;
    card.setRecovery(recovery);
    QStringList texts = visibleTexts(card);
    EXPECT_TRUE(texts.contains(QStringLiteral("找不到原素材")));
    EXPECT_TRUE(texts.contains(QStringLiteral("\u2068/media/gone/talk.wav\u2069")));
    EXPECT_TRUE(texts.contains(QStringLiteral("恢复后重试")));
    EXPECT_TRUE(texts.contains(QStringLiteral("关闭")));
    EXPECT_FALSE(texts.contains(QStringLiteral("重新定位…")));
    recovery.canRelocate = true;
    card.setRecovery(recovery);
    EXPECT_TRUE(visibleTexts(card).contains(QStringLiteral("重新定位…")));
    // The path can be selected and copied.
    for (auto* label : card.findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("\u2068/media/gone/talk.wav\u2069")) {
            EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        }
    }
    saveShot(card, "recovery-card");
    card.setRecovery(std::nullopt);
    EXPECT_FALSE(card.isVisible());
}

}  // namespace
}  // namespace talvian::test
