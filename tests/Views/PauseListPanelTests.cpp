// The pause list panel: its title and warnings, the batch bar's states, and the list at work
// over the real controller (order menu, Ctrl- and Shift-clicks, the mark in batch mode,
// scrolling the reviewed pause to the top).

#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "../Workspace/WorkspaceFixture.h"
#include "Kit/StudioControls.h"
#include "Pixels.h"
#include "Views/CutRow.h"
#include "Views/PauseListPanel.h"
#include "Views/PauseListView.h"
#include "WaveformFixture.h"

namespace talvian::test {
namespace {

using Warning = PauseListSummary::Warning;

const Warning kNote{"info.circle", "这段录音有较多内容被标为删除。导出前请先试听几处停顿。", false};
const Warning kAlarm{"exclamationmark.triangle", "待删内容超过 80%。请逐段听原音，确认没有误删。", true};

CutProject projectOf(double duration, std::vector<CutRegion> cuts) {
    CutProject project;
    project.info.duration = duration;
    project.cuts = std::move(cuts);
    return project;
}

TEST(PauseListSummary, TitleAndWarningsFollowTheRemovedCountAndShare) {
    CutProject detected = projectOf(100, {CutRegion(0, 10, true)});
    detected.diagnostics = DetectionDiagnostics{-60, -45, 12, "录音底噪较高，检测结果可能不准。"};
    struct Case {
        const char* name;
        std::optional<CutProject> project;
        PauseListSummary expected;
    };
    const Case cases[] = {
        {"no project", std::nullopt, {"待删除停顿 · 0", std::nullopt, std::nullopt, false}},
        {"no regions", projectOf(100, {}), {"待删除停顿 · 0", std::nullopt, std::nullopt, true}},
        {"kept regions count for nothing",
         projectOf(100, {CutRegion(0, 90, false), CutRegion(91, 92, true)}),
         {"待删除停顿 · 1", std::nullopt, std::nullopt, false}},
        {"share 0.39",
         projectOf(100, {CutRegion(0, 39, true)}),
         {"待删除停顿 · 1", std::nullopt, std::nullopt, false}},
        {"share 0.4",
         projectOf(100, {CutRegion(0, 40, true)}),
         {"待删除停顿 · 1", kNote, std::nullopt, false}},
        {"share 0.85",
         projectOf(100, {CutRegion(0, 85, true)}),
         {"待删除停顿 · 1", kAlarm, std::nullopt, false}},
        // Two overlapping regions count twice in the title, their overlap once in the share
        // (0.6, where adding them up would give 1.0).
        {"overlap",
         projectOf(100, {CutRegion(0, 50, true), CutRegion(10, 60, true)}),
         {"待删除停顿 · 2", kNote, std::nullopt, false}},
        {"duration 0",
         projectOf(0, {CutRegion(0, 5, true)}),
         {"待删除停顿 · 1", std::nullopt, std::nullopt, false}},
        {"detection warning",
         detected,
         {"待删除停顿 · 1", std::nullopt, "录音底噪较高，检测结果可能不准。", false}},
    };
    for (const auto& item : cases) EXPECT_EQ(PauseListSummary::of(item.project), item.expected) << item.name;
}

TEST(PauseListBatchBar, StatesFollowTheControllersGuards) {
    struct Case {
        bool batchMode;
        std::size_t selected;
        bool canSelect, canKeep, canDelete;
        PauseListBatchBar expected;
    };
    const Case cases[] = {
        {false, 0, true, false, false, {false, "选择", true, "已选 0 段", false, false}},
        // No project, no regions or a job: neither the switch nor the menu.
        {false, 0, false, false, false, {false, "选择", false, "已选 0 段", false, false}},
        {true, 0, true, false, false, {true, "完成选择", true, "已选 0 段", false, false}},
        // Only removed pauses selected: keeping them is the one thing left to do.
        {true, 3, true, true, false, {true, "完成选择", true, "已选 3 段", true, false}},
        {true, 12, true, true, true, {true, "完成选择", true, "已选 12 段", true, true}},
        // A job runs in batch mode: "完成选择" is disabled and the bar stays.
        {true, 2, false, false, false, {true, "完成选择", false, "已选 2 段", false, false}},
    };
    for (const auto& item : cases)
        EXPECT_EQ(PauseListBatchBar::of(item.batchMode, item.selected, item.canSelect, item.canKeep,
                                        item.canDelete),
                  item.expected)
            << item.batchMode << ' ' << item.selected;
}

// The panel 340 × 640 over the real controller with five pauses of different lengths.
class PauseListPanelTest : public WorkspaceTest {
  protected:
    void SetUp() override {
        WorkspaceTest::SetUp();
        analysis.duration = 120;
        analysis.cuts = [this](const CutOptions&) { return regions; };
    }
    void build(int height = 640) {
        panel = new PauseListPanel(*workspace, &host);
        panel->setGeometry(0, 0, 340, height);
        host.resize(340, height);
        host.show();
        settle();
    }
    static void settle() {
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    }
    std::vector<Uuid> listed() const {
        std::vector<Uuid> list;
        for (const auto& region : panel->model().cuts()) list.push_back(region.id);
        return list;
    }
    // A click on a listed row's time (or its mark), as the user sends it.
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {}, bool onMark = false) {
        const QRect rect = panel->list().rowRect(row);
        const QPoint at = onMark ? QPoint(rect.left() + CutRowLook::kPadding + CutRowLook::kMarkWidth / 2,
                                          rect.top() + CutRowLook::kPadding + CutRowLook::kTopLineHeight / 2)
                                 : QPoint(rect.center().x(), rect.top() + CutRowLook::kPadding + 8);
        QWidget* target = panel->list().viewport()->childAt(at);
        if (target) {
            // The reviewed row is a real widget over its place.
            QTest::mouseClick(target, Qt::LeftButton, modifiers,
                              target->mapFrom(panel->list().viewport(), at));
        } else {
            QTest::mouseClick(panel->list().viewport(), Qt::LeftButton, modifiers, at);
        }
        settle();
    }

    std::vector<CutRegion> regions{CutRegion(1, 2, true), CutRegion(10, 13, true), CutRegion(20, 20.5, false),
                                   CutRegion(30, 34, true), CutRegion(40, 42, false)};
    Host host;
    PauseListPanel* panel = nullptr;
};

TEST_F(PauseListPanelTest, WithoutAProjectOnlyTheTitleAndDisabledControlsShow) {
    build();
    EXPECT_EQ(panel->titleLabel().text().toStdString(), "待删除停顿 · 0");
    EXPECT_EQ(panel->model().rowCount(), 0);
    EXPECT_FALSE(panel->emptyLabel().isVisibleTo(panel));
    EXPECT_FALSE(panel->removalWarning().isVisibleTo(panel));
    EXPECT_FALSE(panel->selectionSwitch().isEnabled());
    EXPECT_FALSE(panel->moreButton().isEnabled());
    EXPECT_FALSE(panel->settingsLink().isEnabled()) << "no source yet";
}

TEST_F(PauseListPanelTest, AProjectWithoutPausesSaysSo) {
    regions.clear();
    open(sourceA);
    build();
    EXPECT_TRUE(panel->emptyLabel().isVisibleTo(panel));
    EXPECT_EQ(panel->emptyLabel().text().toStdString(), "未发现可删除的停顿。");
    EXPECT_FALSE(panel->selectionSwitch().isEnabled());
    EXPECT_FALSE(panel->moreButton().isEnabled());
    EXPECT_TRUE(panel->settingsLink().isEnabled());
    QSignalSpy requested(panel, &PauseListPanel::settingsRequested);
    QTest::mouseClick(&panel->settingsLink(), Qt::LeftButton);
    EXPECT_EQ(requested.count(), 1);
}

TEST_F(PauseListPanelTest, OrderMenuReordersTheList) {
    open(sourceA);
    build();
    const auto stored = ids();
    EXPECT_EQ(listed(), stored);
    ASSERT_EQ(panel->orderMenu().actions().size(), 2);
    EXPECT_EQ(panel->orderMenu().actions()[0]->text().toStdString(), "按时间");
    EXPECT_EQ(panel->orderMenu().actions()[1]->text().toStdString(), "长段优先");

    panel->orderMenu().actions()[1]->trigger();
    settle();
    EXPECT_EQ(workspace->review().order, ReviewOrder::longestFirst);
    EXPECT_EQ(listed(), (std::vector<Uuid>{stored[3], stored[1], stored[4], stored[0], stored[2]}));
    EXPECT_EQ(panel->orderButton().text().toStdString(), "长段优先");

    panel->orderMenu().actions()[0]->trigger();
    settle();
    EXPECT_EQ(listed(), stored);
    EXPECT_EQ(panel->orderButton().text().toStdString(), "按时间");
}

TEST_F(PauseListPanelTest, PlainCtrlAndShiftClicksSelect) {
    open(sourceA);
    build();
    const auto id = ids();
    // A plain click reviews the pause; its row becomes the real row widget.
    clickRow(1);
    EXPECT_EQ(workspace->review().reviewID, id[1]);
    EXPECT_FALSE(workspace->review().batchMode);
    EXPECT_TRUE(panel->rowWidget().isVisible());
    EXPECT_EQ(panel->rowWidget().cut().id, id[1]);

    // Ctrl enters batch mode with the reviewed pause and this one.
    clickRow(3, Qt::ControlModifier);
    EXPECT_TRUE(workspace->review().batchMode);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{id[1], id[3]}));
    EXPECT_TRUE(panel->batchBar().isVisibleTo(panel));
    EXPECT_EQ(panel->batchCountLabel().text().toStdString(), "已选 2 段");
    EXPECT_EQ(panel->selectionSwitch().text().toStdString(), "完成选择");

    // Ctrl again on the same row takes it out again.
    clickRow(3, Qt::ControlModifier);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{id[1]}));
    clickRow(3, Qt::ControlModifier);

    // Shift adds the run from the anchor (the last Ctrl-clicked pause) to this one.
    clickRow(0, Qt::ShiftModifier);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{id[0], id[1], id[2], id[3]}));
    EXPECT_EQ(panel->batchCountLabel().text().toStdString(), "已选 4 段");
    saveShot(host, "pause-list-batch");

    // "完成选择" leaves batch mode and the bar hides.
    QTest::mouseClick(&panel->selectionSwitch(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(workspace->review().batchMode);
    EXPECT_FALSE(panel->batchBar().isVisibleTo(panel));
}

TEST_F(PauseListPanelTest, TheMarkFlipsOutsideBatchModeAndSelectsInside) {
    open(sourceA);
    build();
    const auto id = ids();
    clickRow(2, {}, true);
    EXPECT_TRUE(workspace->document().project->cuts[2].remove);
    EXPECT_EQ(panel->titleLabel().text().toStdString(), "待删除停顿 · 4");

    QTest::mouseClick(&panel->selectionSwitch(), Qt::LeftButton);
    settle();
    ASSERT_TRUE(workspace->review().batchMode);
    EXPECT_FALSE(panel->keepButton().isEnabled());
    EXPECT_FALSE(panel->deleteButton().isEnabled());
    const auto before = workspace->document().project->cuts;
    clickRow(4, {}, true);
    clickRow(0, {}, true);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{id[0], id[4]}));
    EXPECT_EQ(workspace->document().project->cuts, before) << "the mark in batch mode never flips a pause";
    EXPECT_TRUE(panel->keepButton().isEnabled());
    EXPECT_TRUE(panel->deleteButton().isEnabled());
    clickRow(4, {}, true);
    EXPECT_EQ(workspace->review().batchIDs, std::set<Uuid>{id[0]});
    // Only removed pauses selected: they can be kept, not deleted.
    EXPECT_TRUE(panel->keepButton().isEnabled());
    EXPECT_FALSE(panel->deleteButton().isEnabled());
    QTest::mouseClick(&panel->keepButton(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(workspace->document().project->cuts[0].remove);

    // The more menu keeps or deletes everything as one edit.
    ASSERT_EQ(panel->moreMenu().actions().size(), 2);
    panel->moreMenu().actions()[1]->trigger();
    settle();
    EXPECT_EQ(panel->titleLabel().text().toStdString(), "待删除停顿 · 5");
    panel->moreMenu().actions()[0]->trigger();
    settle();
    EXPECT_EQ(panel->titleLabel().text().toStdString(), "待删除停顿 · 0");
}

TEST_F(PauseListPanelTest, TheReviewedRowScrollsToTheTopClampedAtTheEnd) {
    regions.clear();
    for (int i = 0; i < 60; ++i) regions.emplace_back(i * 2.0, i * 2.0 + 0.5, i % 3 != 0);
    open(sourceA);
    build(420);
    const auto id = ids();
    QScrollBar& bar = *panel->list().verticalScrollBar();
    EXPECT_EQ(bar.value(), 0);

    workspace->selectCutRow(id[30], false, false);
    settle();
    EXPECT_EQ(panel->list().rowRect(30).top(), PauseListView::kRowSpacing);
    EXPECT_EQ(panel->rowWidget().geometry(), panel->list().rowRect(30));
    saveShot(host, "pause-list-reviewed");

    // Scrolling away by hand stays until another pause is reviewed.
    bar.setValue(0);
    panel->refresh();
    EXPECT_EQ(bar.value(), 0);

    // The last pause cannot reach the top: the list stops at its end, the row fully shown.
    workspace->selectCutRow(id[59], false, false);
    settle();
    EXPECT_EQ(bar.value(), bar.maximum());
    EXPECT_GT(bar.maximum(), 0);
    EXPECT_LE(panel->list().rowRect(59).bottom(), panel->list().viewport()->height());
    EXPECT_TRUE(panel->rowWidget().isVisible());
}

}  // namespace
}  // namespace talvian::test
