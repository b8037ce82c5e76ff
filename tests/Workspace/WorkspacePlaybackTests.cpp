#include "PlaybackFixture.h"
#include "Workspace/PlaybackClock.h"

namespace talvian::test {
namespace {

const std::string kSlowText = "预览加载较慢。可继续等待，或重新选择原素材；就绪后会自动恢复。";
const std::string kFailedText = "无法预览这份素材。可重新选择原素材，或导入其他音视频。";

TEST_F(PlaybackTest, ANewSourceLoadsAndIsPositionedOnlyWhenReady) {
    open(sourceA);
    EXPECT_TRUE(workspace->playback().previewLoading);
    EXPECT_FALSE(workspace->playback().previewReady);
    EXPECT_EQ(preview().file(), sourceA);
    EXPECT_TRUE(preview().seekLog().empty());
    preview().finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    EXPECT_FALSE(workspace->playback().previewLoading);
    EXPECT_FALSE(workspace->playback().previewIssue);
    EXPECT_EQ(preview().seekLog(), std::vector<double>{0.0});
    EXPECT_TRUE(workspace->guards().canPlayPreview);
}

TEST_F(PlaybackTest, APreviewThatBecomesReadyDuringAJobIsNotMoved) {
    analysis.hold = true;
    workspace->loadSource(sourceA, true);
    ASSERT_TRUE(workspace->job().busy);
    preview().finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    EXPECT_TRUE(preview().seekLog().empty());
    workspace->togglePlayback();
    EXPECT_EQ(preview().playCount(), 0) << "no playback while the analysis runs";
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
}

TEST_F(PlaybackTest, ASlowLoadSaysSoAndRecoversWhenTheItemBecomesReady) {
    workspace->setLoadTimeout(std::chrono::milliseconds(40));
    open(sourceA);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewIssue.has_value(); }));
    EXPECT_EQ(workspace->playback().previewIssue, kSlowText);
    EXPECT_FALSE(workspace->playback().previewLoading);
    EXPECT_FALSE(workspace->playback().previewReady);
    preview().finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    EXPECT_FALSE(workspace->playback().previewIssue);
}

TEST_F(PlaybackTest, AnItemThatFailsLeavesTheFailureTextAndNoSlowText) {
    workspace->setLoadTimeout(std::chrono::milliseconds(40));
    open(sourceA);
    preview().failLoading();
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewIssue == kFailedText; }));
    // The slow-load timer was stopped by the failure.
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(workspace->playback().previewIssue, kFailedText);
    EXPECT_FALSE(workspace->playback().previewLoading);
    EXPECT_FALSE(workspace->playback().previewReady);
    EXPECT_FALSE(workspace->guards().canPlayPreview);
    workspace->togglePlayback();
    EXPECT_EQ(preview().playCount(), 0);
}

TEST_F(PlaybackTest, AReplacedPlayerBeforeItsItemIsReadyChangesNothing) {
    open(sourceA);
    FakePlayer* first = &preview();
    first->finishLoading(10);
    // The second source replaces the player before the first one's report is delivered.
    workspace->loadSource(sourceB, false);
    settle();
    EXPECT_EQ(preview().file(), sourceB);
    EXPECT_FALSE(workspace->playback().previewReady);
    EXPECT_TRUE(workspace->playback().previewLoading);
    EXPECT_FALSE(players.created[1]) << "the first source's player is released";
}

TEST_F(PlaybackTest, PlayAndPauseFollowThePlayerAndTheClockFollowsTicks) {
    openReady();
    workspace->togglePlayback();
    EXPECT_TRUE(workspace->playback().isPlaying);
    EXPECT_GT(preview().rate(), 0);
    preview().advance(0.5);
    settle();
    EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 0.5);
    workspace->togglePlayback();
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_EQ(preview().rate(), 0);
    // Reaching the end stops the transport.
    workspace->togglePlayback();
    preview().advance(20);
    settle();
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 10);
}

TEST_F(PlaybackTest, PlayNearTheEndRestartsOnlyWithinTheTolerance) {
    openReady();
    struct Case {
        double before;
        bool restarts;
    };
    for (const Case& c : {Case{0.04, true}, Case{0.06, false}}) {
        preview().pause();
        preview().seek(10 - c.before);
        settle();
        const std::size_t seeks = preview().seekLog().size();
        workspace->togglePlayback();
        EXPECT_EQ(preview().seekLog().size(), seeks + (c.restarts ? 1 : 0)) << c.before;
        if (c.restarts) {
            EXPECT_EQ(preview().seekLog().back(), 0) << c.before;
        }
        EXPECT_GT(preview().rate(), 0) << c.before;
        settle();
    }
}

TEST_F(PlaybackTest, OnlyTheFiveSpeedsAreAcceptedAndAPausedPlayerStaysPaused) {
    open(sourceA);
    workspace->setPlaybackSpeed(1.5f);  // not ready yet: ignored
    EXPECT_EQ(workspace->playback().speed, 1.0f);
    preview().finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    workspace->setPlaybackSpeed(0.75f);
    EXPECT_EQ(workspace->playback().speed, 1.0f);
    EXPECT_EQ(preview().defaultRate(), 1.0f);
    workspace->setPlaybackSpeed(1.5f);
    EXPECT_EQ(workspace->playback().speed, 1.5f);
    EXPECT_EQ(preview().defaultRate(), 1.5f);
    EXPECT_EQ(preview().rate(), 0);
    workspace->togglePlayback();
    EXPECT_EQ(preview().rate(), 1.5f);
    workspace->setPlaybackSpeed(2.0f);
    EXPECT_EQ(preview().rate(), 2.0f);
    // A speed set on the player itself (the view's own control) is reported too.
    preview().setDefaultRate(0.5f);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().speed == 0.5f; }));
    // A new source starts at normal speed.
    workspace->loadSource(sourceB, false);
    EXPECT_EQ(workspace->playback().speed, 1.0f);
}

TEST_F(PlaybackTest, MuteAndZeroVolumeBothCountAsMuted) {
    openReady();
    EXPECT_FALSE(workspace->playback().soundMuted);
    preview().setMuted(true);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().soundMuted; }));
    preview().setMuted(false);
    ASSERT_TRUE(waitUntil([&] { return !workspace->playback().soundMuted; }));
    preview().setVolume(0);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().soundMuted; }));
    preview().setVolume(0.5f);
    ASSERT_TRUE(waitUntil([&] { return !workspace->playback().soundMuted; }));
}

class SkipCutsTest : public PlaybackTest {
  protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        // Touching removed ranges, one at the very start and one pause that is kept.
        analysis.cuts = [](const CutOptions&) {
            return std::vector<CutRegion>{CutRegion(0, 2, true), CutRegion(3, 3.5, false),
                                          CutRegion(5, 7, true), CutRegion(7, 9, true)};
        };
    }
    // Plays from `from` for `wallSeconds` and returns where the preview was sent.
    std::vector<double> playFrom(double from, double wallSeconds) {
        preview().seek(from);
        settle();
        const std::size_t before = preview().seekLog().size();
        workspace->togglePlayback();
        preview().advance(wallSeconds);
        settle();
        return {preview().seekLog().begin() + static_cast<std::ptrdiff_t>(before), preview().seekLog().end()};
    }
};

TEST_F(SkipCutsTest, PlaybackJumpsOverExactlyTheRemovedRanges) {
    openReady();
    workspace->setPreviewCuts(true);
    struct Case {
        double from;
        double wall;
        std::vector<double> jumps;
    };
    const Case cases[] = {
        {4.9, 0.2, {9}},  // the boundary at 5 jumps over both merged ranges at once
        {6, 0.08, {9}},   // starting inside a removed range: the first tick jumps
        {0, 0.08, {2}},   // a range at 0 has no boundary; the tick skips it
        {3.2, 0.2, {}},   // a kept pause plays
        {9, 0.5, {}},     // landing on a range's end does not skip again
    };
    for (const Case& c : cases) {
        EXPECT_EQ(playFrom(c.from, c.wall), c.jumps) << c.from;
        workspace->togglePlayback();
    }
}

TEST_F(SkipCutsTest, NothingIsSkippedWithTheModeOffAndEditsReplanTheSkips) {
    openReady();
    EXPECT_EQ(playFrom(4.9, 0.2), std::vector<double>{});
    workspace->togglePlayback();
    workspace->setPreviewCuts(true);
    // Keeping the second of the touching ranges leaves only [5, 7].
    workspace->toggleCut(cut(3).id);
    EXPECT_EQ(playFrom(4.9, 0.2), std::vector<double>{7});
    workspace->togglePlayback();
    workspace->undoCut();
    EXPECT_EQ(playFrom(4.9, 0.2), std::vector<double>{9});
}

TEST(SourceTimeIssue, TypedTimesAreCheckedAgainstTheSource) {
    struct Case {
        std::string text;
        double duration;
        std::optional<std::string> issue;
    };
    const Case cases[] = {
        {"1:30", 120, std::nullopt},
        {"1:30", 60, "时间须在原片范围内：0 秒至片尾（约 60.000 秒）"},
        {"60", 60, std::nullopt},
        {" 0 ", 60, std::nullopt},
        {"1：02：03", 4000, std::nullopt},
        {"-1", 60, "时间须在原片范围内：0 秒至片尾（约 60.000 秒）"},
        {"abc", 60, "填写秒数、分:秒或时:分:秒"},
        {"1:60", 600, "填写秒数、分:秒或时:分:秒"},
        {"5", 0, "当前原片时间不可用"},
        {"5", std::nan(""), "当前原片时间不可用"},
    };
    for (const Case& c : cases) EXPECT_EQ(Workspace::sourceTimeIssue(c.text, c.duration), c.issue) << c.text;
}

TEST_F(PlaybackTest, AJumpToATypedTimeMovesTheClockAndThePreview) {
    open(sourceA);
    EXPECT_FALSE(workspace->jumpToSourceTime("5")) << "the preview is not ready";
    preview().finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    workspace->togglePlayback();
    EXPECT_TRUE(workspace->jumpToSourceTime("0:06.5"));
    EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 6.5);
    EXPECT_EQ(preview().seekLog().back(), 6.5);
    EXPECT_EQ(preview().rate(), 0);
    EXPECT_FALSE(workspace->playback().isPlaying);
    for (const char* refused : {"abc", "11", "-1"}) {
        EXPECT_FALSE(workspace->jumpToSourceTime(refused)) << refused;
        EXPECT_DOUBLE_EQ(workspace->playbackClock().position(), 6.5) << refused;
    }
}

TEST_F(PlaybackTest, AJumpOutOfAZoomedWaveformRecentresItWithTheSameWidth) {
    openReady();
    // Times between the pauses, so that no pause is revealed.
    workspace->setWaveformWindow(WaveformWindow{2, 5});
    EXPECT_TRUE(workspace->jumpToSourceTime("3"));
    EXPECT_EQ(workspace->waveform().window, (WaveformWindow{2, 5}));
    EXPECT_TRUE(workspace->jumpToSourceTime("6"));
    EXPECT_EQ(workspace->waveform().window, (WaveformWindow{4.5, 7.5}));
    EXPECT_TRUE(workspace->jumpToSourceTime("9.5"));
    EXPECT_EQ(workspace->waveform().window, (WaveformWindow{7, 10})) << "pinned to the end";
    // With the whole file shown nothing is zoomed.
    workspace->setWaveformWindow(std::nullopt);
    EXPECT_TRUE(workspace->jumpToSourceTime("0.5"));
    EXPECT_EQ(workspace->waveform().window, std::nullopt);
}

TEST_F(PlaybackTest, AJumpIsRefusedDuringABoundaryDrag) {
    openReady();
    workspace->selectCutRow(cut(1).id, false, false);
    workspace->setWaveformWindow(WaveformWindow{3, 7});
    workspace->beginWaveformBoundary(cut(1).id, CutBoundary::start);
    ASSERT_TRUE(workspace->waveform().boundaryDrag);
    EXPECT_FALSE(workspace->guards().canJumpToSourceTime);
    EXPECT_FALSE(workspace->jumpToSourceTime("8"));
    EXPECT_EQ(workspace->review().reviewID, cut(1).id);
}

}  // namespace
}  // namespace talvian::test
