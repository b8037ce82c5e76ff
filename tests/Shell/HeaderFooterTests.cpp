#include <QLabel>

#include <gtest/gtest.h>

#include "NameCases.h"
#include "Shell/FooterBar.h"
#include "Shell/HeaderBar.h"
#include "Shell/ShellWidgets.h"
#include "Shell/StartScreen.h"
#include "ShellFixture.h"
#include "Views/StudioControls.h"

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
    workspace->toggleCut(workspace->project()->cuts.front().id);
    EXPECT_TRUE((*undoButton)->isEnabled());
    (*undoButton)->click();
    EXPECT_TRUE(workspace->project()->cuts.front().remove);

    // Changed settings that were not applied: no export.
    CutOptions options = workspace->cutOptions();
    options.thresholdDB -= 5;
    workspace->setCutOptions(options);
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
    ASSERT_GE(workspace->recentSessions().size(), 2u);
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
    for (const auto& session : workspace->recentSessions())
        listed += texts.contains(QString::fromStdString(session.menuLabel()));
    EXPECT_EQ(listed, static_cast<int>(std::min<std::size_t>(workspace->recentSessions().size(), 2)));
    saveShot(*mainWindow, "start-screen-recent");
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
    EXPECT_TRUE(visibleTexts(*footer).contains(QStringLiteral("已备份到本机")));
    EXPECT_FALSE(visibleTexts(*footer).contains(QStringLiteral("备份失败，重试")));
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
