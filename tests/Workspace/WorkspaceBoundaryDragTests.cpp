#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

namespace {

// A 10-minute recording zoomed to [5, 15] with the pause [10.00, 10.50] under review.
class BoundaryTest : public WorkspaceTest {
  protected:
    CutRegion pause{10.0, 10.5, true};
    CutRegion tiny{12.0, 12.07, true};        // 0.07 s: too short to adjust
    CutRegion justLong{13.0, 13.0805, true};  // 0.0805 s: adjustable, keeps its own length
    CutRegion last{599.5, 600, true};
    CutRegion overhang{14.0, 14.5, true};  // replaced below by a region the edit rules refuse

    void SetUp() override {
        WorkspaceTest::SetUp();
        analysis.duration = 600;
        analysis.cuts = [this](const CutOptions&) {
            return std::vector<CutRegion>{pause, tiny, justLong, overhang, last};
        };
        workspace->setWaveformDetailDelay(std::chrono::hours(1));
        open(sourceA);
        review(pause);
        workspace->setWaveformWindow(WaveformWindow{5, 15});
    }
    void review(const CutRegion& region) { workspace->selectCutRow(region.id, false, false); }
    CutRegion current(const Uuid& id) const {
        for (const auto& region : workspace->document().project->cuts)
            if (region.id == id) return region;
        ADD_FAILURE() << "no such region";
        return {};
    }
};

}  // namespace

TEST_F(BoundaryTest, AFinishedDragIsOneUndoStep) {
    ASSERT_TRUE(workspace->guards().canAdjustWaveformBoundary);
    workspace->beginWaveformBoundary(pause.id, CutBoundary::end);
    ASSERT_TRUE(workspace->waveform().boundaryDrag);
    const auto& drag = *workspace->waveform().boundaryDrag;
    EXPECT_EQ(drag.original, pause);
    EXPECT_EQ(drag.proposed, pause);
    EXPECT_EQ(drag.window, (WaveformWindow{5, 15}));
    EXPECT_EQ(drag.duration, 600);
    EXPECT_EQ(drag.source, sourceA.string());
    EXPECT_EQ(drag.cutsBefore, workspace->document().project->cuts);

    workspace->updateWaveformBoundary(0.3);
    workspace->updateWaveformBoundary(-0.1);  // the total translation counts, not the sum
    EXPECT_DOUBLE_EQ(workspace->waveform().boundaryDrag->proposed.end, 10.081);
    EXPECT_EQ(current(pause.id), pause);  // nothing applied while dragging
    workspace->finishWaveformBoundary();
    EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);
    EXPECT_DOUBLE_EQ(current(pause.id).end, 10.081);
    EXPECT_EQ(current(pause.id).start, 10.0);
    EXPECT_EQ(workspace->job().status, "剪辑已调整，可撤销或继续试听。");
    workspace->undoCut();
    EXPECT_EQ(current(pause.id), pause);
    EXPECT_FALSE(workspace->guards().canUndoCut);
}

TEST_F(BoundaryTest, ADraggedStartIsHeldByTheEndAndByTheWindow) {
    workspace->beginWaveformBoundary(pause.id, CutBoundary::start);
    workspace->updateWaveformBoundary(0.2);
    EXPECT_DOUBLE_EQ(workspace->waveform().boundaryDrag->proposed.start, 10.419);
    workspace->updateWaveformBoundary(-1);
    EXPECT_EQ(workspace->waveform().boundaryDrag->proposed.start, 5);
    workspace->finishWaveformBoundary();
    EXPECT_EQ(current(pause.id).start, 5);
    // The list stays sorted by start: the region moved ahead of nothing, still first.
    EXPECT_EQ(workspace->document().project->cuts.front().id, pause.id);
}

TEST_F(BoundaryTest, ADragThatEndsWhereItBeganRecordsNothing) {
    workspace->beginWaveformBoundary(pause.id, CutBoundary::end);
    workspace->updateWaveformBoundary(0.2);
    workspace->updateWaveformBoundary(0);
    workspace->finishWaveformBoundary();
    EXPECT_FALSE(workspace->guards().canUndoCut);
    workspace->finishWaveformBoundary();  // no drag: nothing
    EXPECT_FALSE(workspace->guards().canUndoCut);
}

TEST_F(BoundaryTest, ADragStartsOnlyOnTheReviewedAdjustablePauseInAZoomedWindow) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        Uuid id;
    };
    const Case cases[] = {
        {"not under review", [] {}, justLong.id},
        {"0.07 s long", [&] { review(tiny); }, tiny.id},
        {"a window over 60 s",
         [&] {
             workspace->setWaveformWindow(WaveformWindow{0, 60.5});
         },
         pause.id},
        {"the whole file", [&] { workspace->fitWaveform(); }, pause.id},
        {"an unknown region", [] {}, Uuid::random()},
        {"settings not analysed",
         [&] {
             CutOptions options = workspace->detection().cutOptions;
             options.padding = 0.2;
             workspace->setCutOptions(options);
         },
         pause.id},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        workspace->beginWaveformBoundary(c.id, CutBoundary::end);
        EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);
        EXPECT_FALSE(workspace->nudgeWaveformBoundary(c.id, CutBoundary::end, 1, false));
        workspace->restoreAnalyzedOptions();
        review(pause);
        workspace->setWaveformWindow(WaveformWindow{5, 15});
    }
    EXPECT_FALSE(workspace->guards().canUndoCut);
    // Exactly 60 s still allows adjusting; a region of 0.0805 s too.
    workspace->setWaveformWindow(WaveformWindow{0, 60});
    EXPECT_TRUE(workspace->guards().canAdjustWaveformBoundary);
    workspace->setWaveformWindow(WaveformWindow{0, 60.5});
    EXPECT_FALSE(workspace->guards().canAdjustWaveformBoundary);
    workspace->setWaveformWindow(WaveformWindow{5, 15});
    review(justLong);
    workspace->beginWaveformBoundary(justLong.id, CutBoundary::end);
    ASSERT_TRUE(workspace->waveform().boundaryDrag);
    workspace->updateWaveformBoundary(-1);
    EXPECT_DOUBLE_EQ(workspace->waveform().boundaryDrag->proposed.end, 13.0805);
    // A second start while one runs is refused.
    workspace->beginWaveformBoundary(justLong.id, CutBoundary::start);
    EXPECT_EQ(workspace->waveform().boundaryDrag->edge, CutBoundary::end);
}

TEST_F(BoundaryTest, ADragIsAbandonedWhenTheProjectChangesUnderIt) {
    // A drag whose recorded state no longer matches the project (source, duration or cut
    // list) is dropped by the next update or by the finish.
    workspace->beginWaveformBoundary(pause.id, CutBoundary::end);
    auto stale = *workspace->waveform().boundaryDrag;
    stale.source = "/elsewhere.wav";
    workspace->setBoundaryDrag(stale);
    workspace->updateWaveformBoundary(0.1);
    EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);

    workspace->beginWaveformBoundary(pause.id, CutBoundary::end);
    workspace->updateWaveformBoundary(0.1);
    stale = *workspace->waveform().boundaryDrag;
    stale.duration = 601;
    workspace->setBoundaryDrag(stale);
    workspace->finishWaveformBoundary();
    EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);
    EXPECT_EQ(current(pause.id), pause);

    workspace->beginWaveformBoundary(pause.id, CutBoundary::end);
    workspace->updateWaveformBoundary(0.1);
    stale = *workspace->waveform().boundaryDrag;
    stale.cutsBefore.pop_back();
    workspace->setBoundaryDrag(stale);
    workspace->finishWaveformBoundary();
    EXPECT_EQ(current(pause.id), pause);
    EXPECT_FALSE(workspace->guards().canUndoCut);

    // A job that starts during the drag: the update abandons it, the finish applies nothing.
    workspace->beginWaveformBoundary(pause.id, CutBoundary::end);
    workspace->updateWaveformBoundary(0.1);
    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    ASSERT_TRUE(workspace->waveform().boundaryDrag);
    workspace->finishWaveformBoundary();
    EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);
    EXPECT_EQ(current(pause.id), pause);
    analysis.hold = false;
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
}

TEST_F(BoundaryTest, OperationsThatClearTheDragEndIt) {
    const std::pair<const char*, std::function<void()>> clearers[] = {
        {"undo", [&] { workspace->undoCut(); }},
        {"redo", [&] { workspace->redoCut(); }},
        {"settings change",
         [&] {
             CutOptions options = workspace->detection().cutOptions;
             options.minimumSilence = 1.0;
             workspace->setCutOptions(options);
             workspace->restoreAnalyzedOptions();
         }},
        {"the view abandons it", [&] { workspace->setBoundaryDrag(std::nullopt); }},
    };
    for (const auto& [name, clear] : clearers) {
        SCOPED_TRACE(name);
        review(pause);
        workspace->beginWaveformBoundary(pause.id, CutBoundary::start);
        ASSERT_TRUE(workspace->waveform().boundaryDrag);
        clear();
        EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);
        workspace->finishWaveformBoundary();
        EXPECT_EQ(current(pause.id), pause);
    }
}

TEST_F(BoundaryTest, NudgesMoveOneEdgeAndReportTheNewValue) {
    EXPECT_TRUE(workspace->nudgeWaveformBoundary(pause.id, CutBoundary::start, -1, true));
    EXPECT_DOUBLE_EQ(current(pause.id).start, 9.9);
    EXPECT_EQ(workspace->job().status, "已将起点微调至 9.9000 秒，可用Ctrl+Z撤销。");
    EXPECT_TRUE(workspace->nudgeWaveformBoundary(pause.id, CutBoundary::end, 1, false));
    EXPECT_DOUBLE_EQ(current(pause.id).end, 10.51);
    EXPECT_EQ(workspace->job().status, "已将终点微调至 10.5100 秒，可用Ctrl+Z撤销。");
    workspace->undoCut();
    workspace->undoCut();
    EXPECT_EQ(current(pause.id), pause);
    EXPECT_EQ(workspace->review().reviewID, pause.id);
}

TEST_F(BoundaryTest, ANudgeThatChangesNothingOrIsRefusedReportsNothing) {
    const std::string status = workspace->job().status;
    const auto cuts = workspace->document().project->cuts;
    // Guards and arguments.
    EXPECT_FALSE(workspace->nudgeWaveformBoundary(pause.id, CutBoundary::start, 0, false));
    EXPECT_FALSE(workspace->nudgeWaveformBoundary(pause.id, CutBoundary::start, 2, false));
    EXPECT_FALSE(
        workspace->nudgeWaveformBoundary(justLong.id, CutBoundary::start, 1, false));  // not reviewed
    workspace->beginWaveformBoundary(pause.id, CutBoundary::end);
    EXPECT_FALSE(workspace->nudgeWaveformBoundary(pause.id, CutBoundary::start, 1, false));  // a drag runs
    workspace->setBoundaryDrag(std::nullopt);
    // At a clamp: the end of the file, the minimum length, the window's edge.
    review(last);
    workspace->setWaveformWindow(WaveformWindow{590, 600});
    EXPECT_FALSE(workspace->nudgeWaveformBoundary(last.id, CutBoundary::end, 1, false));
    review(justLong);
    workspace->setWaveformWindow(WaveformWindow{5, 15});
    EXPECT_FALSE(workspace->nudgeWaveformBoundary(justLong.id, CutBoundary::start, 1, false));
    review(pause);
    workspace->setWaveformWindow(WaveformWindow{10.5 - 2, 10.5});
    EXPECT_FALSE(workspace->nudgeWaveformBoundary(pause.id, CutBoundary::end, 1, true));
    EXPECT_EQ(workspace->document().project->cuts, cuts);
    EXPECT_FALSE(workspace->guards().canUndoCut);
    EXPECT_EQ(workspace->job().status, status);

    // The clamps pass but the edit is refused: a text field keeps the focus.
    workspace->setWaveformWindow(WaveformWindow{5, 15});
    window.keepsFocus = true;
    EXPECT_FALSE(workspace->nudgeWaveformBoundary(pause.id, CutBoundary::start, -1, false));
    workspace->beginWaveformBoundary(pause.id, CutBoundary::start);
    workspace->updateWaveformBoundary(-0.1);
    workspace->finishWaveformBoundary();
    EXPECT_EQ(workspace->document().project->cuts, cuts);
    EXPECT_EQ(workspace->job().status, status);
    window.keepsFocus = false;
}

TEST_F(BoundaryTest, ANudgeOfARegionTheEditRulesRejectReportsNothing) {
    // A region reaching past the file's end (as an older project may hold): moving its start
    // passes the drag's clamps, but the edit rules refuse the bounds.
    auto cuts = workspace->document().project->cuts;
    for (auto& region : cuts)
        if (region.id == overhang.id) {
            region.start = 599.6;
            region.end = 600.2;
        }
    // Such a project cannot be backed up, so it is opened without a session backup.
    analysis.cuts = [cuts](const CutOptions&) { return cuts; };
    workspace =
        std::make_unique<Workspace>(players, std::nullopt, std::vector<std::string>{}, analysis.analyzer());
    workspace->setWindow(&window);
    workspace->setWaveformDetailDelay(std::chrono::hours(1));
    open(sourceA);
    review(current(overhang.id));
    workspace->setWaveformWindow(WaveformWindow{590, 600});
    const std::string status = workspace->job().status;
    EXPECT_FALSE(workspace->nudgeWaveformBoundary(overhang.id, CutBoundary::start, -1, false));
    EXPECT_EQ(workspace->job().status, status);
    EXPECT_EQ(current(overhang.id).start, 599.6);
    EXPECT_FALSE(workspace->guards().canUndoCut);
}
