// The clock and its time jump: the clock's text, the field's prefill (never refused for the
// current position), the popover's check of typed times, the jump itself, and that position
// ticks reach the clock without passing through the controller's change signal.

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

#include "../Workspace/PlaybackFixture.h"
#include "Kit/StudioControls.h"
#include "Pixels.h"
#include "Views/PlaybackTimecode.h"
#include "WaveformFixture.h"
#include "Workspace/PlaybackClock.h"

namespace talvian::test {
namespace {

const std::string kUnavailable = "当前原片时间不可用";
const std::string kUnreadable = "填写秒数、分:秒或时:分:秒";
const std::string kOutside725 = "时间须在原片范围内：0 秒至片尾（约 725.000 秒）";

TEST(StudioClockText, PositionThenDuration) {
    EXPECT_EQ(PlaybackTimecode::clockText(83.3, 725), "01:23.3 / 12:05.0");
    EXPECT_EQ(PlaybackTimecode::clockText(0, 0), "00:00.0 / 00:00.0");
    EXPECT_EQ(PlaybackTimecode::clockText(3725.25, 7200), "1:02:05.2 / 2:00:00.0");
}

TEST(StudioTimecodePrefill, IsThePositionClampedAndNeverRoundedPastTheEnd) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double position, duration;
        std::string text;
    };
    const Case cases[] = {
        {83.25, 725, "83.250"},
        {0, 725, "0.000"},
        {-0.4, 725, "0.000"},
        {725, 725, "725.000"},
        {800, 725, "725.000"},
        {inf, 725, "725.000"},
        {nan, 725, "0.000"},
        // Three decimals would round up past the end: the exact value is written instead.
        {9.9996, 9.9996, "9.9996"},
        {9.99951, 9.99952, "9.99951"},
        {20, 9.99952, "9.99952"},
        // Rounding that stays inside the file keeps three decimals.
        {9.9994, 9.9996, "9.999"},
        {9.99949, 9.9996, "9.999"},
        // Without a usable duration only the start bounds it.
        {12.5, nan, "12.500"},
        {-3, 0, "0.000"},
        {4, 0, "4.000"},
    };
    for (const Case& c : cases) {
        const std::string text = PlaybackTimecode::prefill(c.position, c.duration);
        EXPECT_EQ(text, c.text) << c.position << " of " << c.duration;
        if (std::isfinite(c.duration) && c.duration > 0) {
            EXPECT_EQ(Workspace::sourceTimeIssue(text, c.duration), std::nullopt)
                << "opens in an error state at " << c.position << " of " << c.duration;
        }
    }
}

class StudioTimecodeTest : public PlaybackTest {
  protected:
    CutRegion first{100, 102, true};
    CutRegion second{200, 201.5, true};
    Host host;
    PlaybackTimecode* timecode = nullptr;

    void SetUp() override {
        PlaybackTest::SetUp();
        analysis.duration = 725;
        analysis.cuts = [this](const CutOptions&) { return std::vector<CutRegion>{first, second}; };
        workspace->setWaveformDetailDelay(std::chrono::hours(1));
    }
    // A project of 12:05 with its preview ready, the clock on a shown window.
    void openClock() {
        open(sourceA);
        preview().finishLoading(725);
        ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
        makeClock();
    }
    void makeClock() {
        timecode = new PlaybackTimecode(*workspace, &host);
        host.hold(*timecode);
        host.resize(400, 60);
        host.show();
        settle();
    }
    QString clockText() const { return timecode->clockButton().label(); }
    TimeJumpPopover& clickClock() {
        QTest::mouseClick(&timecode->clockButton(), Qt::LeftButton);
        EXPECT_NE(timecode->popover(), nullptr);
        return *timecode->popover();
    }
    // Typed as keys; text beyond ASCII (which the test's key events cannot carry) as one input.
    void type(StudioField& field, const QString& text) {
        field.selectAll();
        bool ascii = true;
        for (const QChar c : text) ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            QTest::keyClicks(&field, text);
        else
            field.insert(text);
    }
    bool closed() {
        return waitUntil([&] { return timecode->popover() == nullptr; }, 5000);
    }
};

TEST_F(StudioTimecodeTest, TheClockFollowsPlaybackTicksOutsideTheControllersChangeSignal) {
    openClock();
    EXPECT_EQ(clockText(), "00:00.0 / 12:05.0");
    EXPECT_EQ(timecode->clockButton().accessibleName(), "跳转到原片时间");
    ASSERT_TRUE(workspace->jumpToSourceTime("83"));
    settle();
    workspace->togglePlayback();
    settle();
    QSignalSpy changed(workspace.get(), &Workspace::changed);
    QSignalSpy ticks(&workspace->playbackClock(), &PlaybackClock::positionChanged);
    preview().advance(0.3);
    settle();
    EXPECT_GE(ticks.count(), 1);
    EXPECT_EQ(changed.count(), 0) << "a tick went through the controller's change signal";
    EXPECT_EQ(clockText(), "01:23.3 / 12:05.0");
    saveShot(host, "clock");
}

TEST_F(StudioTimecodeTest, WithoutAProjectTheClockShowsNoDurationAndIsDisabled) {
    makeClock();
    EXPECT_EQ(clockText(), "00:00.0 / 00:00.0");
    EXPECT_FALSE(timecode->clockButton().isEnabled());
    timecode->openJump();
    EXPECT_EQ(timecode->popover(), nullptr) << "a refused jump opens nothing";
    // The analysis alone is not enough: the preview must be ready too.
    open(sourceA);
    settle();
    EXPECT_EQ(clockText(), "00:00.0 / 12:05.0");
    EXPECT_FALSE(timecode->clockButton().isEnabled());
    preview().finishLoading(725);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    settle();
    EXPECT_TRUE(timecode->clockButton().isEnabled());
}

TEST_F(StudioTimecodeTest, TheFieldOpensOnTheCurrentPositionWithoutAnIssue) {
    openClock();
    ASSERT_TRUE(workspace->jumpToSourceTime("83.25"));
    settle();
    TimeJumpPopover& popover = clickClock();
    EXPECT_EQ(popover.field().text(), "83.250");
    EXPECT_FALSE(popover.issueLabel().isVisibleTo(&popover));
    EXPECT_TRUE(popover.jumpButton().isEnabled());
    EXPECT_EQ(popover.width(), 330);
    EXPECT_EQ(popover.field().placeholderText(), "秒 / 分:秒");
    // Every opening takes the position again.
    type(popover.field(), "12");
    QTest::mouseClick(&popover.cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(closed());
    EXPECT_EQ(workspace->playbackClock().position(), 83.25) << "cancel moves nothing";
    EXPECT_EQ(clickClock().field().text(), "83.250");
}

TEST_F(StudioTimecodeTest, TheIssueLineAndTheJumpButtonFollowEveryKeystroke) {
    openClock();
    TimeJumpPopover& popover = clickClock();
    struct Case {
        QString text;
        std::optional<std::string> issue;
    };
    const Case cases[] = {
        {"65", std::nullopt},      {"1:05", std::nullopt}, {"0:01:05", std::nullopt}, {"1：05", std::nullopt},
        {"  1:05 ", std::nullopt}, {"0", std::nullopt},    {"725", std::nullopt},     {"12:05", std::nullopt},
        {"725.001", kOutside725},  {"12:06", kOutside725}, {"-1", kOutside725},       {"1:75", kUnreadable},
        {"abc", kUnreadable},      {"", kUnreadable},
    };
    for (const Case& c : cases) {
        type(popover.field(), c.text);
        if (c.text.isEmpty()) popover.field().clear();
        EXPECT_EQ(popover.issueLabel().isVisibleTo(&popover), c.issue.has_value()) << c.text.toStdString();
        EXPECT_EQ(popover.issueLabel().text().toStdString(), c.issue.value_or("")) << c.text.toStdString();
        EXPECT_EQ(popover.jumpButton().isEnabled(), !c.issue) << c.text.toStdString();
    }
    type(popover.field(), "-1");
    saveShot(popover, "time-jump-issue");
}

TEST_F(StudioTimecodeTest, AJumpClosesThePopoverAndReviewsThePauseUnderTheTime) {
    openClock();
    workspace->togglePlayback();
    settle();
    TimeJumpPopover& popover = clickClock();
    type(popover.field(), "1:40.5");
    saveShot(popover, "time-jump");
    QTest::mouseClick(&popover.jumpButton(), Qt::LeftButton);
    ASSERT_TRUE(closed());
    EXPECT_EQ(workspace->review().reviewID, workspace->document().project->cuts.at(0).id);
    EXPECT_EQ(workspace->playbackClock().position(), 100.5);
    EXPECT_FALSE(workspace->playback().isPlaying);
    settle();
    EXPECT_EQ(clockText(), "01:40.5 / 12:05.0");

    // Return jumps as well; a time between the pauses reviews none.
    TimeJumpPopover& again = clickClock();
    type(again.field(), "3:00");
    QTest::keyClick(&again.field(), Qt::Key_Return);
    ASSERT_TRUE(closed());
    EXPECT_EQ(workspace->review().reviewID, std::nullopt);
    EXPECT_EQ(workspace->playbackClock().position(), 180);
}

TEST_F(StudioTimecodeTest, AnInvalidTextOrARefusedJumpKeepsThePopoverOpen) {
    openClock();
    TimeJumpPopover& popover = clickClock();
    type(popover.field(), "13:00");
    QTest::keyClick(&popover.field(), Qt::Key_Return);
    settle();
    ASSERT_EQ(timecode->popover(), &popover);
    EXPECT_EQ(popover.field().text(), "13:00");
    EXPECT_EQ(workspace->playbackClock().position(), 0);

    // A job starts while the popover is open: the clock is disabled, the popover stays and
    // neither the button nor Return moves anything.
    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    settle();
    EXPECT_FALSE(timecode->clockButton().isEnabled());
    ASSERT_EQ(timecode->popover(), &popover);
    type(popover.field(), "1:40.5");
    QTest::mouseClick(&popover.jumpButton(), Qt::LeftButton);
    QTest::keyClick(&popover.field(), Qt::Key_Return);
    settle();
    EXPECT_EQ(timecode->popover(), &popover);
    EXPECT_EQ(workspace->playbackClock().position(), 0);
    EXPECT_EQ(workspace->review().reviewID, std::nullopt);
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
}

TEST_F(StudioTimecodeTest, ThePopoverSaysWhenTheSourceTimeIsGone) {
    openClock();
    TimeJumpPopover& popover = clickClock();
    QSignalSpy editing(timecode, &PlaybackTimecode::jumpEditingChanged);
    // Loading a source without analysing it leaves no project.
    ASSERT_TRUE(workspace->loadSource(sourceB, false));
    settle();
    ASSERT_FALSE(workspace->document().project);
    ASSERT_EQ(timecode->popover(), &popover);
    EXPECT_EQ(popover.issueLabel().text().toStdString(), kUnavailable);
    EXPECT_FALSE(popover.jumpButton().isEnabled());
    EXPECT_EQ(clockText().right(7), "00:00.0");
    popover.close();
    ASSERT_TRUE(closed());
    ASSERT_EQ(editing.count(), 1);
    EXPECT_EQ(editing.at(0).at(0).toBool(), false);
}

}  // namespace
}  // namespace talvian::test
