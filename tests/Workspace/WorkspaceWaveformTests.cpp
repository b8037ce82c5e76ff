#include "PlaybackFixture.h"
#include "Workspace/PlaybackClock.h"

using namespace talvian;
using namespace talvian::test;

namespace {

// The controller on a 10-minute recording; detail loads never start (the delay is an hour),
// so the tests see every reload as `waveformLoading` without any child process.
class WaveformTest : public WorkspaceTest {
  protected:
    CutRegion early{10.0, 10.5, true};
    CutRegion middle{300.2, 300.7, true};
    CutRegion longPause{400, 420, false};

    void SetUp() override {
        WorkspaceTest::SetUp();
        analysis.duration = 600;
        analysis.cuts = [this](const CutOptions&) {
            return std::vector<CutRegion>{early, middle, longPause};
        };
        workspace->setWaveformDetailDelay(std::chrono::hours(1));
    }
    void review(const CutRegion& region) { workspace->selectCutRow(region.id, false, false); }
    std::optional<WaveformWindow> window() const { return workspace->waveform().window; }
    // Windows computed from fractional centres, compared up to rounding.
    void expectWindow(double start, double end) const {
        ASSERT_TRUE(window());
        EXPECT_NEAR(window()->start, start, 1e-9);
        EXPECT_NEAR(window()->end, end, 1e-9);
    }
};

}  // namespace

TEST_F(WaveformTest, ZoomHalvesDownToTwoSecondsAndDoublesBackToTheWholeFile) {
    open(sourceA);
    EXPECT_EQ(workspace->visibleWaveformWindow(), (WaveformWindow{0, 600}));
    // The playhead follows the preview player once it is ready and has landed.
    dynamic_cast<FakePlayer&>(workspace->player()).finishLoading(600);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    workspace->navigateWaveform(250);  // no pause there: the playhead is the centre
    ASSERT_EQ(workspace->review().reviewID, std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return workspace->playbackClock().position() == 250; }));
    const double spans[] = {60, 30, 15, 7.5, 3.75, 2, 2};
    for (double span : spans) {
        workspace->zoomWaveform(true);
        ASSERT_TRUE(window());
        EXPECT_EQ(*window(), (WaveformWindow{250 - span / 2, 250 + span / 2}));
        EXPECT_TRUE(workspace->waveform().loading);
    }
    workspace->setWaveformWindow(WaveformWindow{230, 270});
    workspace->zoomWaveform(false);
    EXPECT_EQ(window(), (WaveformWindow{210, 290}));
    workspace->zoomWaveform(false);
    EXPECT_EQ(window(), std::nullopt);
    EXPECT_EQ(workspace->visibleWaveformWindow(), (WaveformWindow{0, 600}));
    EXPECT_FALSE(workspace->waveform().loading);  // the whole file uses the overview
}

TEST_F(WaveformTest, ZoomCentresOnThePauseUnderReview) {
    open(sourceA);
    review(middle);
    workspace->zoomWaveform(true);
    expectWindow(270.45, 330.45);
    review(early);  // the reviewed pause moves out of view: the window follows it
    EXPECT_EQ(window(), (WaveformWindow{0, 60}));
}

TEST_F(WaveformTest, ZoomOutOfAShortFilePinnedToItsLengthShowsTheWholeFile) {
    analysis.duration = 50;
    analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(20, 21, true)}; };
    open(sourceA);
    workspace->setWaveformWindow(WaveformWindow{10, 40});
    workspace->zoomWaveform(false);
    EXPECT_EQ(window(), std::nullopt);
    // A window as long as the file (within rounding) is stored as the whole file.
    workspace->setWaveformWindow(WaveformWindow{0, 50 - 1e-9});
    EXPECT_EQ(window(), std::nullopt);
}

TEST_F(WaveformTest, PanMovesHalfAWindowAndAnUnchangedWindowReloadsNothing) {
    open(sourceA);
    workspace->panWaveform(1);  // the whole file: nothing to pan
    EXPECT_EQ(window(), std::nullopt);
    workspace->setWaveformWindow(WaveformWindow{100, 160});
    workspace->panWaveform(1);
    EXPECT_EQ(window(), (WaveformWindow{130, 190}));
    workspace->panWaveform(-1);
    workspace->panWaveform(-1);
    EXPECT_EQ(window(), (WaveformWindow{70, 130}));
    workspace->panWaveform(2);
    workspace->panWaveform(0);
    EXPECT_EQ(window(), (WaveformWindow{70, 130}));

    workspace->setWaveformWindow(WaveformWindow{540, 600});
    int notices = 0;
    QObject::connect(workspace.get(), &Workspace::changed, [&notices] { ++notices; });
    workspace->panWaveform(1);  // already at the end
    workspace->setWaveformWindow(WaveformWindow{540, 600});
    EXPECT_EQ(window(), (WaveformWindow{540, 600}));
    EXPECT_EQ(notices, 0);
}

TEST_F(WaveformTest, FocusFramesThePauseWithAtLeastTwelveSeconds) {
    open(sourceA);
    workspace->focusWaveformReview();  // nothing under review
    EXPECT_EQ(window(), std::nullopt);
    review(middle);
    workspace->focusWaveformReview();
    expectWindow(294.45, 306.45);
    review(longPause);
    workspace->focusWaveformReview();
    expectWindow(398.8, 421.2);
    workspace->fitWaveform();
    EXPECT_EQ(window(), std::nullopt);
}

TEST_F(WaveformTest, RevealKeepsTheLengthOrGrowsToFitThePause) {
    open(sourceA);
    review(longPause);  // whole file shown: nothing moves
    EXPECT_EQ(window(), std::nullopt);
    workspace->setWaveformWindow(WaveformWindow{405, 415});
    review(early);
    EXPECT_EQ(window(), (WaveformWindow{5.25, 15.25}));
    review(longPause);  // 20 s does not fit in 10 s: the window grows to 22.4 s
    expectWindow(398.8, 421.2);
    const auto grown = window();
    workspace->navigateWaveform(410);  // the same pause stays reviewed: no change
    EXPECT_EQ(workspace->review().reviewID, longPause.id);
    EXPECT_EQ(window(), grown);
}

TEST_F(WaveformTest, AClickReviewsThePauseItHitsAndSeeksThere) {
    const CutRegion wide(100, 103, true);
    const CutRegion narrow(101, 102, true);
    const CutRegion last(598, 600, true);
    analysis.cuts = [&](const CutOptions&) { return std::vector<CutRegion>{wide, narrow, last}; };
    open(sourceA);
    workspace->navigateWaveform(101.5);
    EXPECT_EQ(workspace->review().reviewID, narrow.id);
    workspace->navigateWaveform(100.5);
    EXPECT_EQ(workspace->review().reviewID, wide.id);
    workspace->navigateWaveform(101.5);  // the selected wide pause keeps the selection
    EXPECT_EQ(workspace->review().reviewID, wide.id);
    workspace->navigateWaveform(103);  // the end of a pause is outside it
    EXPECT_EQ(workspace->review().reviewID, std::nullopt);
    workspace->navigateWaveform(650);  // clamped to the file's end, where the last pause ends
    EXPECT_EQ(workspace->review().reviewID, last.id);
    workspace->navigateWaveform(std::nan(""));
    EXPECT_EQ(workspace->review().reviewID, last.id);
    // The playhead is where the click was: zooming centres there.
    workspace->navigateWaveform(-4);
    EXPECT_EQ(workspace->review().reviewID, std::nullopt);
    workspace->zoomWaveform(true);
    EXPECT_EQ(window(), (WaveformWindow{0, 60}));
}

TEST_F(WaveformTest, DraggingAcrossTheWaveformBatchSelectsTheTouchedPauses) {
    open(sourceA);
    workspace->selectWaveformRange(200, 250);  // touches nothing
    EXPECT_FALSE(workspace->review().batchMode);
    workspace->selectWaveformRange(420, 300.7);  // touching ends count, either direction
    EXPECT_TRUE(workspace->review().batchMode);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{middle.id, longPause.id}));
    EXPECT_EQ(workspace->review().batchAnchor, middle.id);
    workspace->selectWaveformRange(300.7, 420);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{middle.id, longPause.id}));
    workspace->selectWaveformRange(0, 11);  // replaces the earlier selection
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{early.id}));
    EXPECT_EQ(workspace->review().batchAnchor, early.id);
    workspace->selectWaveformRange(200, 250);  // a miss keeps the selection
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{early.id}));
}

TEST_F(WaveformTest, NothingNavigatesWhileBusyUnanalysedOrDragging) {
    open(sourceA);
    review(middle);
    workspace->setWaveformWindow(WaveformWindow{290, 310});
    workspace->beginWaveformBoundary(middle.id, CutBoundary::end);
    ASSERT_TRUE(workspace->waveform().boundaryDrag);
    EXPECT_FALSE(workspace->guards().canNavigateWaveform);
    workspace->zoomWaveform(true);
    workspace->zoomWaveform(false);
    workspace->panWaveform(1);
    workspace->focusWaveformReview();
    workspace->fitWaveform();
    workspace->navigateWaveform(10.2);
    workspace->selectWaveformRange(0, 600);
    EXPECT_EQ(window(), (WaveformWindow{290, 310}));
    EXPECT_EQ(workspace->review().reviewID, middle.id);
    EXPECT_FALSE(workspace->review().batchMode);
    workspace->setBoundaryDrag(std::nullopt);  // the view abandons the gesture

    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -30;
    workspace->setCutOptions(options);  // not analysed with these settings
    EXPECT_FALSE(workspace->guards().canNavigateWaveform);
    workspace->fitWaveform();
    workspace->navigateWaveform(10.2);
    EXPECT_EQ(window(), (WaveformWindow{290, 310}));
    EXPECT_EQ(workspace->review().reviewID, middle.id);
    // Storing a window needs only a project.
    workspace->setWaveformWindow(WaveformWindow{0, 20});
    EXPECT_EQ(window(), (WaveformWindow{0, 20}));
    workspace->restoreAnalyzedOptions();

    analysis.hold = true;
    workspace->analyze();
    EXPECT_FALSE(workspace->guards().canNavigateWaveform);
    workspace->panWaveform(1);
    EXPECT_EQ(window(), (WaveformWindow{0, 20}));
    analysis.hold = false;
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    // A new analysis shows the whole file again.
    EXPECT_EQ(window(), std::nullopt);
    EXPECT_FALSE(workspace->waveform().loading);
}

TEST_F(WaveformTest, WithoutAProjectTheWindowIsEmptyAndNothingActs) {
    EXPECT_EQ(workspace->visibleWaveformWindow(), (WaveformWindow{0, 0}));
    EXPECT_FALSE(workspace->guards().canNavigateWaveform);
    workspace->setWaveformWindow(WaveformWindow{0, 10});
    workspace->zoomWaveform(true);
    workspace->navigateWaveform(1);
    EXPECT_EQ(window(), std::nullopt);
    EXPECT_FALSE(workspace->waveform().loading);
}
