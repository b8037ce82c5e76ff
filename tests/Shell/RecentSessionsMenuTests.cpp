// The "最近剪辑" submenu: its model for every kind of backup state, and the real submenu over the
// controller's session backup, including choices the controller refuses.

#include <QAction>
#include <QMessageBox>

#include <gtest/gtest.h>

#include "NameCases.h"
#include "Shell/RecentSessionsMenu.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;

using Menu = RecentSessionsMenu;
using Kind = Menu::Kind;
using Action = Menu::Action;

const std::string kRefused = "当前剪辑尚未备份，请先保存项目，再打开其他素材。";

Menu::Item text(Kind kind, const std::string& shown) {
    return {kind, shown, {}, Action::none, std::nullopt};
}
const Menu::Item kDivider{Kind::separator, {}, {}, Action::none, std::nullopt};
const Menu::Item kNothingYet = text(Kind::note, "还没有先前剪辑");
const Menu::Item kKeepsEight = text(Kind::note, "保留最近8份切换或重分析前的剪辑");

TEST(RecentSessionsMenuModel, ShowsTheBackupStateAndTheEarlierEdits) {
    const Uuid first = Uuid::random(), second = Uuid::random(), third = Uuid::random();
    const std::vector<Menu::Entry> three = {
        {first, "自动保存 · a.wav · 01-02 03:04:05 · 1段待删 · 剪后00:09.0", "/x/a.wav"},
        {second, "重新分析前 · b.wav · 01-02 03:04:06 · 2段待删 · 剪后00:08.0", "/y/b.wav"},
        {third, "先前版本 · c.wav · 01-02 03:04:07 · 0段待删 · 剪后00:10.0", "/z/c.wav"}};
    const auto entry = [](const Menu::Entry& e) {
        return Menu::Item{Kind::button, e.label, e.sourcePath, Action::resumeRecent, e.id};
    };
    const Menu::Item resume{Kind::button, "继续最近一次：talk.wav", {}, Action::resumeLast, std::nullopt};
    const Menu::Item backedUp = text(Kind::status, "当前剪辑已自动备份");

    const struct {
        const char* name;
        Menu::State state;
        Menu::Model expected;
    } cases[] = {
        {"nothing", {}, {false, {kNothingYet}}},
        {"a backup name only",
         {false, "talk.wav", false, false, {}},
         {true, {resume, kDivider, kNothingYet}}},
        {"the open edit backed up",
         {false, "talk.wav", true, true, {}},
         {true, {backedUp, kDivider, kNothingYet}}},
        {"the open edit not backed up",
         {false, "talk.wav", true, false, {}},
         {true, {resume, kDivider, kNothingYet}}},
        // "Saved" without an open edit names no current edit: the resume button stays.
        {"saved but nothing open",
         {false, "talk.wav", false, true, {}},
         {true, {resume, kDivider, kNothingYet}}},
        {"earlier edits without a name: no divider above them",
         {false, std::nullopt, false, false, three},
         {true, {entry(three[0]), entry(three[1]), entry(three[2]), kDivider, kKeepsEight}}},
        {"a name and earlier edits",
         {false, "talk.wav", true, true, {three[0]}},
         {true, {backedUp, kDivider, entry(three[0]), kDivider, kKeepsEight}}},
        {"busy with nothing", {true, std::nullopt, false, false, {}}, {false, {kNothingYet}}},
        {"busy with everything",
         {true, "talk.wav", false, false, three},
         {false,
          {resume, kDivider, entry(three[0]), entry(three[1]), entry(three[2]), kDivider, kKeepsEight}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Menu::Model model = Menu::of(c.state);
        EXPECT_EQ(model.enabled, c.expected.enabled);
        ASSERT_EQ(model.items.size(), c.expected.items.size());
        for (std::size_t i = 0; i < model.items.size(); ++i) {
            EXPECT_EQ(model.items[i], c.expected.items[i]) << "item " << i << ": " << model.items[i].text;
        }
    }
}

// The shown items of a submenu: text, whether it acts, and whether it is a divider.
struct Shown {
    QString text;
    bool enabled;
    bool separator;
    bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& shown, std::ostream* out) {
    *out << (shown.separator ? "—" : shown.text.toStdString()) << (shown.enabled ? " (acts)" : "");
}

std::vector<Shown> shownItems(const QMenu& menu) {
    std::vector<Shown> items;
    for (const QAction* action : menu.actions())
        items.push_back(
            {action->text(), !action->isSeparator() && action->isEnabled(), action->isSeparator()});
    return items;
}

QAction* actionStartingWith(const QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions())
        if (action->text().startsWith(text)) return action;
    return nullptr;
}

class RecentSessionsMenuTest : public ShellTest {
  protected:
    // Waits for the job, then lets the menu follow the controller.
    void waitIdle() {
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
        settle();
    }
};

TEST_F(RecentSessionsMenuTest, ListsTheArchivedEditsAndReopensTheChosenOne) {
    const fs::path named = folder / "x&y.wav";
    writeFile(named, "x");
    RecentSessionsMenu menu(*workspace);
    EXPECT_EQ(menu.title(), "最近剪辑");
    EXPECT_EQ(menu.accessibleName(), "最近剪辑，找回切换或重分析前的修改");
    EXPECT_FALSE(menu.icon().isNull());
    EXPECT_FALSE(menu.model().enabled);

    open(named);
    open(sourceB);
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);
    const RecentSession archived = workspace->document().recentSessions[0];
    ASSERT_TRUE(archived.menuLabel().starts_with("自动保存 · \u2068x&y.wav\u2069 · "));
    EXPECT_TRUE(menu.model().enabled);
    // A file name's "&" is shown as itself, not as the underline of the next letter.
    const QString label = QString::fromStdString(archived.menuLabel()).replace("&", "&&");
    EXPECT_EQ(shownItems(menu), (std::vector<Shown>{{"当前剪辑已自动备份", false, false},
                                                    {"", false, true},
                                                    {label, true, false},
                                                    {"", false, true},
                                                    {"保留最近8份切换或重分析前的剪辑", false, false}}));
    EXPECT_EQ(shownToolTip(menu.actions().at(2)->toolTip()),
              QString::fromStdString("\u2068" + named.string() + "\u2069"));
    saveMenuShot(menu, "menu-recent-sessions");

    // Choosing the entry opens that state; the items it came from are replaced meanwhile.
    actionStartingWith(menu, "自动保存")->trigger();
    waitIdle();
    EXPECT_EQ(workspace->document().source, named);
    EXPECT_EQ(workspace->document().project->source, named.string());
    // b.wav's edit was archived in turn and is offered now.
    ASSERT_NE(actionStartingWith(menu, "自动保存 · \u2068b.wav\u2069"), nullptr);
    EXPECT_EQ(shownToolTip(actionStartingWith(menu, "自动保存 · \u2068b.wav\u2069")->toolTip()),
              QString::fromStdString("\u2068" + sourceB.string() + "\u2069"));
}

TEST_F(RecentSessionsMenuTest, ResumingTheLastSessionNeverDropsAnEditThatCouldNotBeBackedUp) {
    // The last session names b.wav; then another instance holds the backup.
    workspace.reset();
    SessionBackup(backupURL).write(makeProject(sourceB, 10, {CutRegion(1, 2, true)}), false,
                                   RecentSession::Origin::switching);
    const ForeignBackupLock lock(backupURL);
    ASSERT_TRUE(lock.held);
    workspace = makeWorkspace();
    showWindow();
    RecentSessionsMenu menu(*workspace);
    open(sourceA);
    workspace->toggleCut(ids()[0]);
    ASSERT_FALSE(workspace->document().sessionBackupSaved);
    const CutProject edit = *workspace->document().project;

    QAction* resume = actionStartingWith(menu, "继续最近一次：\u2068b.wav\u2069");
    ASSERT_NE(resume, nullptr);
    resume->trigger();
    waitIdle();
    EXPECT_EQ(workspace->job().notice, kRefused);
    EXPECT_TRUE(waitUntil([&] { return view().noticeShown(); }));
    EXPECT_EQ(view().noticeAlert()->text(), QString::fromStdString(kRefused));
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_EQ(workspace->document().project, edit);
    EXPECT_TRUE(workspace->guards().canUndoCut);
}

TEST_F(RecentSessionsMenuTest, AnEarlierEditIsNotOpenedOverAnEditThatCouldNotBeBackedUp) {
    showWindow();
    RecentSessionsMenu menu(*workspace);
    open(sourceA);
    open(sourceB);
    workspace->toggleCut(ids()[0]);
    ASSERT_TRUE(workspace->document().sessionBackupSaved);
    // A folder in the way of the last-session file: every later backup of the edit fails.
    fs::remove(backupURL);
    fs::create_directory(backupURL);
    workspace->toggleCut(ids()[1]);
    settle();
    ASSERT_FALSE(workspace->document().sessionBackupSaved);
    const CutProject edit = *workspace->document().project;
    // The edit is not backed up: the submenu offers the last session again, and the entry.
    EXPECT_NE(actionStartingWith(menu, "继续最近一次：\u2068b.wav\u2069"), nullptr);

    QAction* earlier = actionStartingWith(menu, "自动保存 · \u2068a.wav\u2069");
    ASSERT_NE(earlier, nullptr);
    earlier->trigger();
    waitIdle();
    EXPECT_EQ(workspace->job().notice, kRefused);
    EXPECT_TRUE(waitUntil([&] { return view().noticeShown(); }));
    EXPECT_EQ(workspace->document().source, sourceB);
    EXPECT_EQ(workspace->document().project, edit);
}

}  // namespace
}  // namespace talvian::test
