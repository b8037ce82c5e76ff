// The controller with the real libmpv player (no picture, no sound device): loading, the
// clock while playing, a whole-edit audition and the way back to the preview.

#include <algorithm>

#include "Player/MpvPlayer.h"
#include "Workspace/PlaybackClock.h"
#include "WorkspaceFixture.h"

namespace talvian::test {
namespace {

class WorkspaceMpvTest : public ::testing::Test {
  protected:
    TempDir folder;
    std::filesystem::path source = folder / "talk.wav";
    ScriptedAnalysis analysis;
    MpvPlayerFactory players{[] {
        MpvSettings settings;
        settings.audioOutput = "null";
        return settings;
    }()};
    std::unique_ptr<Workspace> workspace;

    void SetUp() override {
        makeMedia("-f lavfi -i sine=f=440:r=48000:d=4", source);
        analysis.duration = 4;
        analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(1, 1.5, true)}; };
        workspace = std::make_unique<Workspace>(players, std::nullopt, std::vector<std::string>{},
                                                analysis.analyzer());
    }
};

TEST_F(WorkspaceMpvTest, PreviewAndWholeEditAuditionRunOnLibmpv) {
    workspace->loadSource(source, true);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->playback().previewReady; }));
    ASSERT_TRUE(workspace->document().project);

    workspace->togglePlayback();
    ASSERT_TRUE(waitUntil([&] { return workspace->playbackClock().position() > 0.2; }));
    EXPECT_TRUE(workspace->playback().isPlaying);
    workspace->togglePlayback();
    ASSERT_TRUE(waitUntil([&] { return workspace->player().rate() == 0; }));

    ASSERT_TRUE(workspace->jumpToSourceTime("0.5"));
    std::vector<double> positions;
    QObject::connect(&workspace->playbackClock(), &PlaybackClock::positionChanged,
                     [&positions](double seconds) { positions.push_back(seconds); });
    workspace->auditionFull();
    ASSERT_TRUE(
        waitUntil([&] { return workspace->auditionPlayer() && !workspace->guards().auditionLoading; }));
    EXPECT_EQ(workspace->auditionStatus(), "完整剪后试听 · 原片位置 · 播完自动停止");
    ASSERT_TRUE(waitUntil([&] { return workspace->playbackClock().position() >= 1.7; }));
    EXPECT_TRUE(workspace->playback().isPlaying);
    // The cursor is in source time: it jumps over the removed range, never into it.
    // The first report comes from a playing player: on a busy machine it may lag the start by a
    // few milliseconds, so it is held to the start within one report period, far from 0.
    ASSERT_FALSE(positions.empty());
    EXPECT_NEAR(positions.front(), 0.5, 0.05);
    EXPECT_TRUE(
        std::none_of(positions.begin(), positions.end(), [](double t) { return t > 1.0 && t < 1.5; }));

    workspace->togglePlayback();
    EXPECT_EQ(workspace->auditionStatus(), "完整剪后试听 · 原片位置 · 已暂停");
    const double shown = workspace->playbackClock().position();
    workspace->stopAudition(true);
    EXPECT_FALSE(workspace->auditionPlayer());
    ASSERT_TRUE(waitUntil([&] { return std::abs(workspace->player().currentTime() - shown) < 1e-3; }));
}

TEST_F(WorkspaceMpvTest, AFileThatIsNoMediaCannotBePreviewed) {
    const auto broken = folder / "broken.wav";
    writeFile(broken, "not a recording");
    workspace->loadSource(broken, false);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewIssue.has_value(); }));
    EXPECT_EQ(workspace->playback().previewIssue, "无法预览这份素材。可重新选择原素材，或导入其他音视频。");
    EXPECT_FALSE(workspace->playback().previewReady);
    EXPECT_FALSE(workspace->playback().previewLoading);
}

}  // namespace
}  // namespace talvian::test
