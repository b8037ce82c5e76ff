#include <thread>

#include "Process/Runner.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

// The controller on a real 130 s recording, with a private temporary folder.
class DetailLoaderTest : public WorkspaceTest {
  protected:
    fs::path temporary = folder / "tmp";
    fs::path talk = folder / "talk.wav";
    std::vector<std::optional<WaveformWindow>> shown;  // every detail window ever published

    void SetUp() override {
        WorkspaceTest::SetUp();
        fs::create_directories(temporary);
        ::setenv("TMPDIR", temporary.c_str(), 1);
        makeMedia("-f lavfi -i " + shellQuote("aevalsrc=exprs='0.3*sin(2*PI*150*t)':s=8000:d=130"), talk);
        analysis.duration = 130;
        analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(50, 51, true)}; };
        workspace->setWaveformDetailDelay(std::chrono::milliseconds(0));
        open(talk);
        QObject::connect(workspace.get(), &Workspace::changed, [this] {
            const auto& detail = workspace->waveform().detail;
            const std::optional<WaveformWindow> window =
                detail ? std::optional<WaveformWindow>(detail->window) : std::nullopt;
            if (window && (shown.empty() || shown.back() != window)) shown.push_back(window);
        });
    }
    void TearDown() override {
        WorkspaceTest::TearDown();
        ::unsetenv("TMPDIR");
    }
    bool loaded() const { return workspace->waveform().detail.has_value(); }
    bool idle() const { return Runner::liveChildCount() == 0 && fs::is_empty(temporary); }
};

}  // namespace

TEST_F(DetailLoaderTest, AZoomedWindowOfAtMostSixtySecondsGetsItsDetail) {
    EXPECT_FALSE(workspace->waveform().loading);  // the whole file uses the overview
    workspace->zoomWaveform(true);
    EXPECT_TRUE(workspace->waveform().loading);
    ASSERT_TRUE(waitUntil([&] { return loaded(); }));
    EXPECT_EQ(workspace->waveform().detail->window, (WaveformWindow{0, 60}));  // around the playhead
    EXPECT_EQ(workspace->waveform().detail->peaks.size(), 1024u);
    EXPECT_FALSE(workspace->waveform().loading);
    EXPECT_EQ(workspace->waveform().issue, std::nullopt);

    workspace->setWaveformWindow(WaveformWindow{0, 60.5});  // too long: no load at all
    EXPECT_FALSE(workspace->waveform().loading);
    EXPECT_EQ(workspace->waveform().detail, std::nullopt);
    workspace->setWaveformWindow(WaveformWindow{70, 130});
    ASSERT_TRUE(waitUntil([&] { return loaded(); }));
    EXPECT_EQ(workspace->waveform().detail->window, (WaveformWindow{70, 130}));
    workspace->fitWaveform();
    EXPECT_EQ(workspace->waveform().detail, std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return idle(); }));
}

TEST_F(DetailLoaderTest, ABurstOfWindowChangesShowsOnlyTheLastWindow) {
    workspace->setWaveformDetailDelay(std::chrono::milliseconds(150));
    workspace->zoomWaveform(true);
    workspace->zoomWaveform(true);
    workspace->zoomWaveform(true);
    const auto last = *workspace->waveform().window;
    ASSERT_TRUE(waitUntil([&] { return loaded(); }));
    EXPECT_EQ(shown, (std::vector<std::optional<WaveformWindow>>{last}));
}

TEST_F(DetailLoaderTest, AResultOfASupersededWindowIsDropped) {
    workspace->setWaveformWindow(WaveformWindow{10, 70});
    ASSERT_TRUE(waitUntil([&] { return Runner::liveChildCount() > 0; }));
    // The load runs on while this thread takes no events: its completion waits in the queue
    // until the window has changed.
    for (int i = 0; i < 500 && !idle(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    workspace->panWaveform(1);
    ASSERT_TRUE(waitUntil([&] { return loaded(); }));
    EXPECT_EQ(shown, (std::vector<std::optional<WaveformWindow>>{WaveformWindow{40, 100}}));
}

TEST_F(DetailLoaderTest, ACancelledLoadStopsItsChildAndPublishesNothing) {
    workspace->setWaveformWindow(WaveformWindow{10, 70});
    ASSERT_TRUE(waitUntil([&] { return Runner::liveChildCount() > 0; }));
    workspace->fitWaveform();
    EXPECT_FALSE(workspace->waveform().loading);
    ASSERT_TRUE(waitUntil([&] { return idle(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(workspace->waveform().issue, std::nullopt);
    EXPECT_FALSE(workspace->waveform().loading);
}

TEST_F(DetailLoaderTest, ASourceThatDisappearedLeavesTheOverviewWithAnIssue) {
    fs::remove(talk);
    workspace->zoomWaveform(true);
    ASSERT_TRUE(waitUntil([&] { return workspace->waveform().issue.has_value(); }));
    EXPECT_EQ(workspace->waveform().issue, "局部波形未能加载。");
    EXPECT_FALSE(workspace->waveform().loading);
    EXPECT_EQ(workspace->waveform().detail, std::nullopt);
    // The retry starts over and fails the same way; a new window clears the issue first.
    workspace->reloadWaveformDetail();
    EXPECT_EQ(workspace->waveform().issue, std::nullopt);
    EXPECT_TRUE(workspace->waveform().loading);
    ASSERT_TRUE(waitUntil([&] { return workspace->waveform().issue.has_value(); }));
    EXPECT_TRUE(waitUntil([&] { return idle(); }));
}
