// One pause of the list: how a row reads its two boundary texts, its mark, and its fields at
// work over the real controller (Return applies exactly and the row widget lives on).

#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QTest>

#include <bit>
#include <cstdint>

#include "../Workspace/WorkspaceFixture.h"
#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Pixels.h"
#include "Views/CutRow.h"
#include "Views/PauseListPanel.h"
#include "Views/PauseListView.h"
#include "Views/TimePresentation.h"
#include "WaveformFixture.h"

namespace talvian::test {
namespace {

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

TEST(StudioCutRowBoundary, ReadsUntouchedTextsExactlyAndTypedOnesByTheTimeParser) {
    // Edges with more digits than the fields show ("00:01.2" and "01:10.0").
    const CutRegion cut(1.23456789, 69.98765432, true);
    const std::string start = TimePresentation::boundary(cut.start);
    const std::string end = TimePresentation::boundary(cut.end);
    ASSERT_EQ(start, "00:01.2");
    ASSERT_EQ(end, "01:10.0");
    const double duration = 120;
    struct Case {
        std::string start, end;
        double duration;
        std::optional<std::pair<double, double>> accepted;
    };
    const Case cases[] = {
        {start, end, duration, std::pair{cut.start, cut.end}},
        // A text typed to look like the shown one is still the shown one.
        {"00:01.2", end, duration, std::pair{cut.start, cut.end}},
        {"1.2", end, duration, std::pair{1.2, cut.end}},
        {"1:05.25", end, duration, std::pair{65.25, cut.end}},
        {"1:05.25", "70", duration, std::pair{65.25, 70.0}},
        {"0:00:30", "1:00", duration, std::pair{30.0, 60.0}},
        {start, "120", duration, std::pair{cut.start, 120.0}},
        {start, "120.001", duration, std::nullopt},
        {"0", "0.08", duration, std::nullopt},
        {"0", "0.0801", duration, std::pair{0.0, 0.0801}},
        {"", end, duration, std::nullopt},
        {start, "", duration, std::nullopt},
        {"-1", end, duration, std::nullopt},
        {"1:75", end, duration, std::nullopt},
        {"abc", end, duration, std::nullopt},
        {"5", "3", duration, std::nullopt},
        // Without a project the end may not pass 0.
        {start, end, 0, std::nullopt},
    };
    for (const auto& item : cases) {
        const auto decided = CutRow::boundaryDecision(item.start, item.end, cut, item.duration);
        SCOPED_TRACE('"' + item.start + "\" … \"" + item.end + "\" in " + std::to_string(item.duration));
        ASSERT_EQ(decided.has_value(), item.accepted.has_value());
        if (!decided) continue;
        EXPECT_EQ(bits(decided->first), bits(item.accepted->first));
        EXPECT_EQ(bits(decided->second), bits(item.accepted->second));
    }
}

TEST(StudioCutRowLook, MarkFollowsRemovalOutsideBatchModeAndTheBatchInside) {
    CutRegion kept(1, 2, false);
    CutRegion removed(3, 4, true);
    struct Case {
        const CutRegion& cut;
        CutRowState state;
        std::string symbol;
        QColor colour;
    };
    const Case cases[] = {
        {kept, {}, "minus", Studio::secondary},
        {removed, {}, "checkmark", Studio::coral},
        // In batch mode the symbol says "in the batch"; the colour still says "removed".
        {kept, {.batchMode = true, .inBatch = true}, "checkmark", Studio::secondary},
        {removed, {.batchMode = true, .inBatch = false}, "minus", Studio::coral},
        {removed, {.batchMode = true, .inBatch = true}, "checkmark", Studio::coral},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(CutRowLook::markSymbol(item.cut, item.state), item.symbol);
        EXPECT_EQ(CutRowLook::markColor(item.cut), item.colour);
    }
    EXPECT_EQ(CutRowLook::cardColor({}), Studio::panel);
    EXPECT_EQ(CutRowLook::cardColor({.selected = true}), Studio::withOpacity(Studio::coral, 0.12));
    EXPECT_EQ(CutRowLook::cardColor({.inBatch = true}), Studio::withOpacity(Studio::coral, 0.12));
    EXPECT_EQ(CutRowLook::lengthText(CutRegion(1, 3.26, true)), "2.3 s");
    EXPECT_EQ(CutRowLook::lengthText(CutRegion(5, 4, true)), "0.0 s");
}

// The panel over the real controller, the reviewed pause's row widget in its list.
class StudioCutRowTest : public WorkspaceTest {
  protected:
    void SetUp() override {
        WorkspaceTest::SetUp();
        analysis.duration = 120;
        analysis.cuts = [](const CutOptions&) {
            return std::vector<CutRegion>{CutRegion(10, 12, true), CutRegion(62.345678, 70, true),
                                          CutRegion(90, 91, false)};
        };
        open(sourceA);
        panel = new PauseListPanel(*workspace, &host);
        panel->setGeometry(0, 0, 340, 640);
        host.resize(340, 640);
        host.show();
        settle();
    }
    static void settle() {
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    }
    CutRegion region(std::size_t index) const { return workspace->document().project->cuts.at(index); }
    void review(std::size_t index) {
        workspace->selectCutRow(region(index).id, false, false);
        settle();
    }
    void type(StudioField& field, const QString& text) {
        field.setFocus();
        field.selectAll();
        QTest::keyClicks(&field, text);
    }

    Host host;
    PauseListPanel* panel = nullptr;
};

TEST_F(StudioCutRowTest, ReturnAppliesExactlyAndKeepsTheRowWidget) {
    review(1);
    CutRow& row = panel->rowWidget();
    QPointer<CutRow> alive(&row);
    ASSERT_TRUE(row.isVisible());
    EXPECT_TRUE(row.details().isVisible());
    EXPECT_EQ(row.startField().text(), "01:02.3");
    EXPECT_EQ(row.endField().text(), "01:10.0");

    // Untouched texts give back the stored edges to the last bit: nothing changes.
    const CutRegion before = region(1);
    QTest::keyClick(&row.startField(), Qt::Key_Return);
    settle();
    EXPECT_EQ(bits(region(1).start), bits(before.start));
    EXPECT_FALSE(workspace->guards().canUndoCut);

    type(row.startField(), "1:05.25");
    QTest::keyClick(&row.startField(), Qt::Key_Return);
    EXPECT_EQ(region(1).start, 65.25);
    EXPECT_EQ(region(1).end, 70);
    settle();
    ASSERT_FALSE(alive.isNull()) << "the row that applied the edit was deleted";
    EXPECT_EQ(&panel->rowWidget(), &row) << "the row widget is reused";
    EXPECT_EQ(row.startField().text(), "01:05.3") << "the texts follow the stored region";
    EXPECT_FALSE(row.complaintLabel().isVisibleTo(&row));

    // A refused pair shows the complaint and changes nothing; the next valid one clears it.
    type(row.endField(), "1:75");
    QTest::keyClick(&row.endField(), Qt::Key_Return);
    settle();
    EXPECT_EQ(region(1).end, 70);
    EXPECT_TRUE(row.complaintLabel().isVisibleTo(&row));
    EXPECT_EQ(row.complaintLabel().text().toStdString(), CutRow::boundaryIssueText());
    const int complainedHeight = row.height();
    saveShot(host, "pause-list-row-complaint");

    // Flipping the pause with the link resets the texts and keeps the complaint.
    QTest::mouseClick(&row.flipLink(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(region(1).remove);
    EXPECT_EQ(row.flipLink().text().toStdString(), "删除此停顿");
    EXPECT_EQ(row.endField().text(), "01:10.0");
    EXPECT_TRUE(row.complaintLabel().isVisibleTo(&row));

    type(row.endField(), "1:20");
    QTest::keyClick(&row.endField(), Qt::Key_Return);
    settle();
    EXPECT_EQ(region(1).end, 80);
    EXPECT_FALSE(row.complaintLabel().isVisibleTo(&row));
    EXPECT_LT(row.height(), complainedHeight) << "the list gives the row its new height";
}

TEST_F(StudioCutRowTest, TheRowWidgetFollowsTheReviewedPauseAndBatchMode) {
    review(0);
    CutRow& row = panel->rowWidget();
    EXPECT_EQ(row.cut().id, region(0).id);
    type(row.startField(), "9");
    review(2);
    EXPECT_EQ(&panel->rowWidget(), &row);
    EXPECT_EQ(row.cut().id, region(2).id);
    EXPECT_EQ(row.startField().text(), "01:30.0") << "another pause brings its own texts";
    EXPECT_EQ(row.flipLink().text().toStdString(), "删除此停顿");
    // The row sits exactly over its place in the list.
    EXPECT_EQ(row.geometry(), panel->list().rowRect(2));

    // Batch mode hides the details at once; the mark then selects instead of flipping.
    QTest::mouseClick(&panel->selectionSwitch(), Qt::LeftButton);
    settle();
    ASSERT_TRUE(workspace->review().batchMode);
    EXPECT_FALSE(row.details().isVisibleTo(&row));
    EXPECT_EQ(row.height(), CutRowLook::kCollapsedHeight);
    QTest::mouseClick(&row.markButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(workspace->review().batchIDs, std::set<Uuid>{region(2).id});
    EXPECT_FALSE(region(2).remove) << "the mark in batch mode never flips the pause";
    EXPECT_EQ(row.markButton().accessibleName().toStdString(), "选择区间");
}

TEST_F(StudioCutRowTest, AuditionButtonsWaitForThePreviewAndABusyControllerDisablesTheRow) {
    review(1);
    CutRow& row = panel->rowWidget();
    EXPECT_FALSE(workspace->playback().previewReady);
    EXPECT_FALSE(row.originalButton().isEnabled());
    EXPECT_FALSE(row.editedButton().isEnabled());
    EXPECT_TRUE(row.startField().isEnabled());
    EXPECT_TRUE(row.flipLink().isEnabled());

    // New options await an analysis: the whole row is disabled.
    CutOptions options = workspace->detection().cutOptions;
    options.minimumSilence = 1.5;
    workspace->setCutOptions(options);
    settle();
    EXPECT_FALSE(row.isEnabled());
    EXPECT_FALSE(row.startField().isEnabled());
    EXPECT_FALSE(row.flipLink().isEnabled());
}

TEST_F(StudioCutRowTest, AuditionButtonsFollowEachReadinessChangeOfTheSamePause) {
    review(1);
    CutRow& row = panel->rowWidget();
    const CutRegion reviewed = region(1);
    for (StudioButton* button : {&row.originalButton(), &row.editedButton()})
        EXPECT_EQ(button->symbol().toStdString(), "play.fill") << button->text().toStdString();
    EXPECT_EQ(row.originalButton().text().toStdString(), "听原音");
    EXPECT_EQ(row.editedButton().text().toStdString(), "听剪后");

    // The player of the source finishes loading; reselecting the same source replaces it with
    // one that loads again, and that one becomes ready in turn. The pause and the row's state
    // stay the same each time the preview's readiness changes.
    window.chosenSource = sourceA;
    struct Step {
        const char* name;
        std::function<void()> act;
        bool ready;
    };
    const Step steps[] = {
        {"the first player is ready", [&] { players.last()->finishLoading(120); }, true},
        {"a new player loads", [&] { workspace->reselectPreviewSource(); }, false},
        {"the new player is ready", [&] { players.last()->finishLoading(120); }, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        ASSERT_TRUE(waitUntil(
            [&] { return !workspace->job().busy && workspace->playback().previewReady == step.ready; }));
        settle();
        ASSERT_EQ(region(1), reviewed);
        ASSERT_TRUE(row.details().isVisible());
        EXPECT_EQ(row.originalButton().isEnabled(), step.ready);
        EXPECT_EQ(row.editedButton().isEnabled(), step.ready);
    }
    saveShot(host, "pause-list-row-ready");
}

TEST_F(StudioCutRowTest, AComplaintStaysWithItsPauseWhileThePauseIsListed) {
    CutRow& row = panel->rowWidget();
    const std::string complaint = CutRow::boundaryIssueText();
    auto shownComplaint = [&]() -> std::optional<std::string> {
        if (!row.complaintLabel().isVisibleTo(&row)) return std::nullopt;
        return row.complaintLabel().text().toStdString();
    };
    review(1);
    type(row.endField(), "1:75");
    QTest::keyClick(&row.endField(), Qt::Key_Return);
    settle();
    ASSERT_EQ(shownComplaint(), complaint);

    struct Step {
        const char* name;
        std::function<void()> act;
        std::size_t reviewedPause;
        std::optional<std::string> complaint;
    };
    const Step steps[] = {
        {"another pause has none", [&] { review(0); }, 0, std::nullopt},
        {"back to the refused pause", [&] { review(1); }, 1, complaint},
        {"past a third pause", [&] { review(2); }, 2, std::nullopt},
        {"after a change of order",
         [&] {
             workspace->setReviewOrder(ReviewOrder::longestFirst);
             settle();
             review(1);
         },
         1, complaint},
        {"after flipping it",
         [&] {
             workspace->toggleCut(region(1).id);
             settle();
         },
         1, complaint},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        ASSERT_EQ(row.cut().id, region(step.reviewedPause).id);
        EXPECT_EQ(shownComplaint(), step.complaint);
        // The texts are always the reviewed pause's own boundaries.
        EXPECT_EQ(row.endField().text().toStdString(),
                  TimePresentation::boundary(region(step.reviewedPause).end));
    }
    saveShot(host, "pause-list-row-complaint-kept");

    // A new analysis lists new pauses: the old complaint belongs to none of them.
    CutOptions options = workspace->detection().cutOptions;
    options.minimumSilence = 1.5;
    workspace->setCutOptions(options);
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && !workspace->guards().needsAnalysis; }));
    settle();
    review(1);
    EXPECT_EQ(shownComplaint(), std::nullopt);
    // Applying a valid pair clears the pause's complaint for good.
    type(row.endField(), "1:75");
    QTest::keyClick(&row.endField(), Qt::Key_Return);
    settle();
    ASSERT_EQ(shownComplaint(), complaint);
    type(row.endField(), "1:20");
    QTest::keyClick(&row.endField(), Qt::Key_Return);
    review(0);
    review(1);
    EXPECT_EQ(shownComplaint(), std::nullopt);
}

}  // namespace
}  // namespace talvian::test
