// The playback controls: which ones act and show in each state of the controller, the speed
// labels, the move between one and two rows, and each control's call on the real controller.

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "../Workspace/PlaybackFixture.h"
#include "Kit/StudioControls.h"
#include "Pixels.h"
#include "Views/PlaybackTimecode.h"
#include "Views/TransportBar.h"
#include "WaveformFixture.h"

namespace talvian::test {
namespace {

using Facts = TransportBar::Facts;
using Controls = TransportBar::Controls;

TEST(TransportBarControls, FollowTheGuardsOfTheController) {
    // A ready preview of an analysed project with pauses, nothing reviewed or auditioned.
    Facts ready;
    ready.canPlayPreview = true;
    ready.needsAnalysis = false;
    ready.canReview = true;
    Controls idle;
    idle.playEnabled = idle.speedEnabled = idle.skipEnabled = idle.resultEnabled = true;

    struct Case {
        const char* name;
        Facts facts;
        Controls expected;
    };
    auto with = [](auto base, auto change) {
        change(base);
        return base;
    };
    const Case cases[] = {
        {"nothing open", Facts{}, Controls{}},
        {"ready", ready, idle},
        {"playing", with(ready, [](Facts& f) { f.isPlaying = true; }),
         with(idle, [](Controls& c) { c.playSymbol = "pause.fill"; })},
        {"preview not ready", with(ready, [](Facts& f) { f.canPlayPreview = false; }),
         with(idle, [](Controls& c) { c.playEnabled = c.speedEnabled = false; })},
        // A job makes the controller refuse playback and review as well.
        {"job running",
         with(ready,
              [](Facts& f) {
                  f.cutBusy = true;
                  f.canPlayPreview = f.canReview = false;
              }),
         Controls{}},
        {"settings differ from the analysis", with(ready, [](Facts& f) { f.needsAnalysis = true; }),
         with(idle, [](Controls& c) { c.skipEnabled = false; })},
        {"no pauses", with(ready, [](Facts& f) { f.canReview = false; }),
         with(idle, [](Controls& c) { c.resultEnabled = false; })},
        {"reviewed pause, no audition", with(ready, [](Facts& f) { f.hasReviewCut = true; }),
         with(idle, [](Controls& c) { c.loopShown = true; })},
        {"audition playing",
         with(ready,
              [](Facts& f) {
                  f.hasAudition = true;
                  f.canRepeatAudition = true;
              }),
         with(idle, [](Controls& c) { c.loopShown = c.loopEnabled = true; })},
        {"audition loading",
         with(ready,
              [](Facts& f) {
                  f.hasAudition = true;
                  f.canPlayPreview = false;
              }),
         with(idle,
              [](Controls& c) {
                  c.playEnabled = c.speedEnabled = false;
                  c.loopShown = true;
              })},
    };
    for (const Case& c : cases) EXPECT_EQ(TransportBar::controls(c.facts), c.expected) << c.name;
}

TEST(TransportBarSpeeds, AreLabelledWithTwoSignificantDigitsAsCRoundsThem) {
    const std::pair<float, const char*> cases[] = {
        {0.5f, "0.5×"},
        {1.0f, "1×"},
        {1.25f, "1.2×"},
        {1.5f, "1.5×"},
        {2.0f, "2×"},
        // A rate the player set by itself follows the same rule.
        {0.75f, "0.75×"},
        {1.0f / 3.0f, "0.33×"},
        {1.35f, "1.4×"},
    };
    for (const auto& [speed, text] : cases) EXPECT_EQ(TransportBar::speedText(speed), text) << speed;
}

class TransportBarTest : public PlaybackTest {
  protected:
    static constexpr int kPadding = 10;
    Host host;
    TransportBar* bar = nullptr;

    // The bar in a column with padding, as the editor holds it: the column's layout decides
    // the bar's height from its width.
    void makeBar(int width) {
        auto* column = new QVBoxLayout(&host);
        column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
        bar = new TransportBar(*workspace, &host);
        column->addWidget(bar);
        column->addStretch(1);
        host.resize(width + 2 * kPadding, 160);
        host.show();
        settle();
    }
    void resizeBar(int width) {
        host.resize(width + 2 * kPadding, 160);
        settle();
        EXPECT_EQ(bar->width(), width);
        EXPECT_EQ(bar->height(), bar->heightForWidth(width)) << "the column gives the bar its rows' height";
    }
    static int centre(const QWidget& control) { return control.geometry().center().y(); }
    void chooseSpeed(int index) { bar->speedMenu().actions().at(index)->trigger(); }
};

TEST_F(TransportBarTest, MovesOneSetOfControlsBetweenOneAndTwoRows) {
    openReady();
    workspace->selectCutRow(cut(0).id, false, false);
    makeBar(1200);
    ASSERT_TRUE(bar->loopToggle().isVisible());
    const QList<QWidget*> controls = bar->findChildren<QWidget*>();
    QWidget* play = &bar->playButton();
    QWidget* clock = &bar->timecode();
    QWidget* skip = &bar->skipToggle();
    QWidget* result = &bar->resultButton();
    QWidget* speed = &bar->speedButton();
    QWidget* loop = &bar->loopToggle();

    for (int round = 0; round < 2; ++round) {
        resizeBar(1200);
        EXPECT_EQ(bar->arrangement(), TransportBar::Arrangement::oneRow);
        // Left to right in this order, on one centre line, from the leading edge.
        EXPECT_EQ(play->x(), 0);
        const QWidget* order[] = {play, clock, skip, result, speed, loop};
        for (std::size_t i = 1; i < std::size(order); ++i) {
            EXPECT_EQ(order[i]->x(), order[i - 1]->geometry().right() + 1 + TransportBar::kOneRowSpacing)
                << i;
            EXPECT_NEAR(centre(*order[i]), centre(*play), 1) << i;
        }
        saveShot(host, "transport-one-row");

        resizeBar(300);
        EXPECT_EQ(bar->arrangement(), TransportBar::Arrangement::twoRows);
        EXPECT_GT(bar->heightForWidth(300), bar->heightForWidth(1200));
        // Row one: play, clock … speed at the trailing edge.
        EXPECT_EQ(play->x(), 0);
        EXPECT_EQ(clock->x(), play->geometry().right() + 1 + TransportBar::kTwoRowSpacing);
        EXPECT_EQ(speed->geometry().right(), 299);
        EXPECT_NEAR(centre(*clock), centre(*play), 1);
        EXPECT_NEAR(centre(*speed), centre(*play), 1);
        // Row two below it: skip … result, loop at the trailing edge.
        EXPECT_EQ(skip->x(), 0);
        EXPECT_GE(skip->y(), play->geometry().bottom() + TransportBar::kRowGap);
        EXPECT_EQ(loop->geometry().right(), 299);
        EXPECT_EQ(result->geometry().right() + 1 + TransportBar::kTwoRowSpacing, loop->x());
        EXPECT_NEAR(centre(*result), centre(*skip), 1);
        EXPECT_NEAR(centre(*loop), centre(*skip), 1);
        for (const QWidget* control : {play, clock, skip, result, speed, loop})
            EXPECT_LE(control->geometry().bottom(), bar->height() - 1);
        saveShot(host, "transport-two-rows");
    }
    // Moved, never rebuilt.
    EXPECT_EQ(bar->findChildren<QWidget*>(), controls);

    // The single row fits exactly at its own width and not a pixel narrower.
    resizeBar(bar->oneRowWidth());
    EXPECT_EQ(bar->arrangement(), TransportBar::Arrangement::oneRow);
    resizeBar(bar->oneRowWidth() - 1);
    EXPECT_EQ(bar->arrangement(), TransportBar::Arrangement::twoRows);
}

// Counts the layout requests a widget receives.
class LayoutRequests : public QObject {
  public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest) ++count;
        return false;
    }
};

TEST_F(TransportBarTest, PlaybackTicksRepaintTheClockWithoutLayingOutTheBar) {
    openReady();
    makeBar(1200);
    const QRect clock = bar->timecode().geometry();
    LayoutRequests requests;
    for (QWidget* watched :
         {static_cast<QWidget*>(&host), static_cast<QWidget*>(bar), static_cast<QWidget*>(&bar->timecode())})
        watched->installEventFilter(&requests);
    workspace->togglePlayback();
    for (int tick = 0; tick < 5; ++tick) {
        preview().advance(0.08);
        settle();
    }
    EXPECT_EQ(bar->timecode().clockButton().label(), "00:00.4 / 00:10.0");
    EXPECT_EQ(requests.count, 0);
    EXPECT_EQ(bar->timecode().geometry(), clock);
}

TEST_F(TransportBarTest, AnOpenJumpSurvivesTheChangeOfArrangement) {
    openReady();
    makeBar(1200);
    bar->timecode().openJump();
    ASSERT_NE(bar->timecode().popover(), nullptr);
    resizeBar(300);
    ASSERT_EQ(bar->arrangement(), TransportBar::Arrangement::twoRows);
    EXPECT_NE(bar->timecode().popover(), nullptr);
}

TEST_F(TransportBarTest, PlayAndSpeedActOnlyOnAReadyPreview) {
    open(sourceA);
    makeBar(1200);
    EXPECT_FALSE(bar->playButton().isEnabled());
    EXPECT_FALSE(bar->speedButton().isEnabled());
    EXPECT_EQ(bar->speedButton().text(), "1×");
    preview().finishLoading(analysis.duration);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    settle();
    ASSERT_TRUE(bar->playButton().isEnabled());
    EXPECT_EQ(bar->playButton().accessibleName(), "播放或暂停");
    EXPECT_TRUE(bar->playButton().toolTip().isEmpty());

    QTest::mouseClick(&bar->playButton(), Qt::LeftButton);
    settle();
    EXPECT_TRUE(workspace->playback().isPlaying);
    EXPECT_EQ(bar->playButton().symbol(), "pause.fill");
    QTest::mouseClick(&bar->playButton(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(workspace->playback().isPlaying);
    EXPECT_EQ(bar->playButton().symbol(), "play.fill");

    // The menu lists the speeds in order, without a mark on the current one.
    QStringList items;
    for (const QAction* item : bar->speedMenu().actions()) {
        items << item->text();
        EXPECT_FALSE(item->isChecked());
    }
    EXPECT_EQ(items, (QStringList{"0.5×", "1×", "1.2×", "1.5×", "2×"}));
    chooseSpeed(2);
    settle();
    EXPECT_EQ(workspace->playback().speed, 1.25f);
    EXPECT_EQ(bar->speedButton().text(), "1.2×");
    chooseSpeed(2);
    settle();
    EXPECT_EQ(workspace->playback().speed, 1.25f);
    chooseSpeed(0);
    settle();
    EXPECT_EQ(bar->speedButton().text(), "0.5×");
}

TEST_F(TransportBarTest, SkipSwitchWritesTheControllerAndKeepsItsValueWhileDisabled) {
    openReady();
    makeBar(1200);
    ASSERT_TRUE(bar->skipToggle().isEnabled());
    EXPECT_FALSE(bar->skipToggle().isChecked());
    QTest::mouseClick(&bar->skipToggle(), Qt::LeftButton);
    EXPECT_TRUE(workspace->playback().previewCuts);
    EXPECT_TRUE(bar->skipToggle().isChecked());

    // Settings that differ from the analysed ones.
    CutOptions options = workspace->detection().cutOptions;
    options.minimumSilence += 0.1;
    workspace->setCutOptions(options);
    settle();
    ASSERT_TRUE(workspace->guards().needsAnalysis);
    EXPECT_FALSE(bar->skipToggle().isEnabled());
    EXPECT_TRUE(bar->skipToggle().isChecked());
    workspace->restoreAnalyzedOptions();
    settle();
    EXPECT_TRUE(bar->skipToggle().isEnabled());
    QTest::mouseClick(&bar->skipToggle(), Qt::LeftButton);
    EXPECT_FALSE(workspace->playback().previewCuts);
}

TEST_F(TransportBarTest, LoopShowsWithAReviewedPauseAndActsWithAnAudition) {
    openReady();
    makeBar(1200);
    EXPECT_FALSE(bar->loopToggle().isVisible());
    const int oneRow = bar->oneRowWidth();

    workspace->selectCutRow(cut(1).id, false, false);
    settle();
    EXPECT_TRUE(bar->loopToggle().isVisible());
    EXPECT_FALSE(bar->loopToggle().isEnabled());
    EXPECT_GT(bar->oneRowWidth(), oneRow) << "the row makes room for it";

    workspace->audition(cut(1).id, AuditionMode::original);
    playAudition();
    ASSERT_TRUE(bar->loopToggle().isEnabled());
    QTest::mouseClick(&bar->loopToggle(), Qt::LeftButton);
    EXPECT_TRUE(workspace->playback().repeatAudition);
    EXPECT_TRUE(bar->loopToggle().isChecked());
    QTest::mouseClick(&bar->loopToggle(), Qt::LeftButton);
    EXPECT_FALSE(workspace->playback().repeatAudition);
}

TEST_F(TransportBarTest, ResultPreviewPlaysTheWholeEdit) {
    openReady();
    makeBar(1200);
    ASSERT_TRUE(bar->resultButton().isEnabled());
    QTest::mouseClick(&bar->resultButton(), Qt::LeftButton);
    EXPECT_TRUE(workspace->auditionIsFull());
    // An audition selected without a reviewed pause brings the loop check box.
    settle();
    EXPECT_TRUE(bar->loopToggle().isVisible());
    playAudition();
    EXPECT_TRUE(bar->loopToggle().isEnabled());
}

}  // namespace
}  // namespace talvian::test
