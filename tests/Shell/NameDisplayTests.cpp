// File names and paths wherever the window shows them: each stands isolated from the text around
// it, on one line, with characters that would reorder or break it shown as a visible mark.

#include <QAction>
#include <QLabel>

#include <gtest/gtest.h>

#include "NameCases.h"
#include "Shell/ExportPanel.h"
#include "Shell/FooterBar.h"
#include "Shell/HeaderBar.h"
#include "Shell/RecentSessionsMenu.h"
#include "Shell/ShellWidgets.h"
#include "Shell/StartScreen.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;

QStringList labelTexts(QWidget& root) {
    QStringList texts;
    for (auto* label : root.findChildren<QLabel*>()) texts << label->text();
    return texts;
}

class NameDisplayTest : public ShellTest {};

TEST_F(NameDisplayTest, TheHeaderTheRecentEditsAndTheRecoveryCardShowNamesIsolated) {
    showWindow();
    auto* title = view().header().findChild<ElidedLabel*>();
    ASSERT_NE(title, nullptr);
    RecentSessionsMenu menu(*workspace);
    RecoveryCard card(*workspace);
    for (const Name& name : kNames) {
        SCOPED_TRACE(name.label);
        const fs::path file = folder / name.file;
        const std::string shownPath = folder.path().string() + "/" + name.shown;
        writeFile(file, "x");
        open(file);
        EXPECT_EQ(title->text(), isolated(name.shown));
        EXPECT_EQ(shownToolTip(title->toolTip()), isolated(shownPath));
        saveShot(*mainWindow, std::string("names-header-") + std::to_string(&name - kNames));

        // Another recording replaces the edit: it is listed with its name and path.
        open(sourceB);
        QAction* entry = nullptr;
        for (QAction* action : menu.actions())
            if (shownMenuText(action->text()).contains(isolated(name.shown))) entry = action;
        ASSERT_NE(entry, nullptr);
        EXPECT_TRUE(shownMenuText(entry->text())
                        .startsWith(QStringLiteral("自动保存 · ") + isolated(name.shown) + " · "))
            << entry->text().toStdString();
        EXPECT_EQ(shownToolTip(entry->toolTip()), isolated(shownPath));

        ProjectRecovery recovery;
        recovery.selection = folder / "p.quenlo.json";
        recovery.sourcePath = file.string();
        card.setRecovery(recovery);
        EXPECT_TRUE(labelTexts(card).contains(isolated(shownPath)));
        card.setRecovery(std::nullopt);
    }
    saveMenuShot(menu, "names-recent-menu");
}

TEST_F(NameDisplayTest, TheStartScreenShowsTheBackupAndTheRecentEditsIsolated) {
    for (const Name& name : kNames) {
        SCOPED_TRACE(name.label);
        const fs::path file = folder / name.file;
        writeFile(file, "x");
        // The named edit is replaced twice: once listed as a recent edit, once as the backup.
        open(file);
        open(sourceA);
        open(file);
        mainWindow.reset();
        workspace.reset();
        workspace = makeWorkspace();
        showWindow();
        auto* start = view().findChild<StartScreen*>();
        ASSERT_NE(start, nullptr);
        const QStringList texts = visibleTexts(*start);
        EXPECT_TRUE(texts.contains(isolated(name.shown))) << texts.join("|").toStdString();
        bool listed = false;
        for (const QString& text : texts)
            listed = listed || text.startsWith(QStringLiteral("自动保存 · ") + isolated(name.shown) + " · ");
        EXPECT_TRUE(listed) << texts.join("|").toStdString();
        saveShot(*mainWindow, std::string("names-start-screen-") + std::to_string(&name - kNames));
        mainWindow.reset();
    }
}

TEST_F(NameDisplayTest, TheExportPanelShowsTheOutputFolderIsolated) {
    for (const Name& name : kNames) {
        SCOPED_TRACE(name.label);
        const fs::path output = folder / name.file;
        mainWindow.reset();
        workspace = std::make_unique<Workspace>(
            players, std::nullopt, std::vector<std::string>{"Talvian", "--output", output.string()},
            analysis.analyzer());
        workspace->setWindow(&window);
        showWindow();
        open(sourceA);
        ExportPanel panel(*workspace, view());
        const QString shownPath = isolated(folder.path().string() + "/" + name.shown);
        QLabel* folderLabel = nullptr;
        for (auto* label : panel.findChildren<QLabel*>())
            if (label->text() == shownPath) folderLabel = label;
        ASSERT_NE(folderLabel, nullptr) << labelTexts(panel).join("|").toStdString();
        EXPECT_EQ(shownToolTip(folderLabel->toolTip()), shownPath);
    }
}

}  // namespace
}  // namespace talvian::test
