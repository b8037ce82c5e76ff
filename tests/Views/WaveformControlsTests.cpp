#include "Views/WaveformControls.h"

#include <QAbstractButton>

#include <gtest/gtest.h>

#include <optional>

#include "../Workspace/WorkspaceFixture.h"
#include "Kit/Studio.h"
#include "Kit/StudioControls.h"

namespace talvian {
// The six flags in the row's order, for failure messages.
void PrintTo(const WaveformControls::Enabling& e, std::ostream* out) {
    *out << e.zoomOut << e.zoomIn << e.back << e.forward << e.current << e.fit;
}
}  // namespace talvian

namespace talvian::test {
namespace {

using Enabling = WaveformControls::Enabling;

// The six buttons in the row's order: zoom out, zoom in, back, forward, current, fit.
Enabling flags(bool zoomOut, bool zoomIn, bool back, bool forward, bool current, bool fit) {
    return {zoomOut, zoomIn, back, forward, current, fit};
}

TEST(WaveformControls, EnablingTable) {
    struct Case {
        const char* name;
        bool canNavigate;
        bool hasWindow;
        WaveformWindow visible;
        std::optional<double> duration;
        bool reviewCut;
        Enabling enabled;
    };
    const Case cases[] = {
        {"whole file shown", true, false, {0, 10}, 10, false, flags(false, true, false, false, false, false)},
        {"whole file with a reviewed pause",
         true,
         false,
         {0, 10},
         10,
         true,
         flags(false, true, false, false, true, false)},
        {"file of 2 s shown whole",
         true,
         false,
         {0, 2},
         2,
         false,
         flags(false, false, false, false, false, false)},
        {"file of 1.5 s shown whole",
         true,
         false,
         {0, 1.5},
         1.5,
         true,
         flags(false, false, false, false, true, false)},
        {"file just over 2 s",
         true,
         false,
         {0, 2.01},
         2.01,
         false,
         flags(false, true, false, false, false, false)},
        {"window at the start", true, true, {0, 5}, 10, false, flags(true, true, false, true, false, true)},
        {"start within 1e-8", true, true, {5e-9, 5}, 10, false, flags(true, true, false, true, false, true)},
        {"start past 1e-8", true, true, {2e-8, 5}, 10, false, flags(true, true, true, true, false, true)},
        {"window at the end", true, true, {5, 10}, 10, false, flags(true, true, true, false, false, true)},
        {"end within 1e-8",
         true,
         true,
         {5, 10 - 5e-9},
         10,
         false,
         flags(true, true, true, false, false, true)},
        {"end short of 1e-8",
         true,
         true,
         {5, 10 - 2e-8},
         10,
         false,
         flags(true, true, true, true, false, true)},
        {"narrowest window", true, true, {3, 5}, 10, true, flags(true, false, true, true, true, true)},
        // Zoomed out until the window is the whole file: zoom out and fit still act.
        {"chosen window of the whole file",
         true,
         true,
         {0, 10},
         10,
         false,
         flags(true, true, false, false, false, true)},
        {"cannot navigate", false, true, {3, 7}, 10, true, flags(false, false, false, false, false, false)},
        {"no project",
         true,
         false,
         {0, 0},
         std::nullopt,
         false,
         flags(false, false, false, false, false, false)},
        {"no project, a window",
         true,
         true,
         {0, 0},
         std::nullopt,
         false,
         flags(true, false, false, false, false, true)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WaveformControls::enabling(c.canNavigate, c.hasWindow, c.visible, c.duration, c.reviewCut),
                  c.enabled)
            << c.name;
}

class WaveformControlsTest : public WorkspaceTest {
  protected:
    std::unique_ptr<WaveformControls> controls;
    QList<StudioButton*> buttons;

    void build() {
        controls = std::make_unique<WaveformControls>(*workspace);
        buttons = controls->findChildren<StudioButton*>();
        ASSERT_EQ(buttons.size(), 6);
    }
    // A click as a person makes it; the row follows the controller before the next one.
    void click(int button) {
        buttons[button]->click();
        settle();
    }
    // What the row shows once it has followed the controller.
    Enabling shown() const {
        settle();
        return flags(buttons[0]->isEnabled(), buttons[1]->isEnabled(), buttons[2]->isEnabled(),
                     buttons[3]->isEnabled(), buttons[4]->isEnabled(), buttons[5]->isEnabled());
    }
    static constexpr Enabling kNone{};
};

TEST_F(WaveformControlsTest, ButtonsNameThemselvesAndTakeNoFocusOnClick) {
    build();
    struct Expected {
        const char* name;
        const char* help;
    };
    const Expected expected[] = {
        {"缩小波形", "缩小波形，保留当前复核段"},         {"放大波形", "围绕当前段或播放头放大波形"},
        {"波形向前半页", "查看前半页，播放位置不变"},     {"波形向后半页", "查看后半页，播放位置不变"},
        {"当前段", "显示当前段及前后原片，至少显示12秒"}, {"适配", "返回整段原片波形，保留当前复核段"},
    };
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(buttons[i]->accessibleName(), QString::fromUtf8(expected[i].name)) << i;
        EXPECT_EQ(buttons[i]->toolTip(), QString::fromUtf8(expected[i].help)) << i;
        EXPECT_EQ(buttons[i]->font().pixelSize(), 13) << i;
        EXPECT_FALSE(buttons[i]->focusPolicy() & Qt::ClickFocus) << i;
    }
    EXPECT_EQ(buttons[4]->text(), QStringLiteral("当前段"));
    EXPECT_EQ(buttons[5]->text(), QStringLiteral("适配"));
    // The three symbols drawn for the row exist.
    for (const char* symbol : {"minus.magnifyingglass", "plus.magnifyingglass", "chevron.left"})
        EXPECT_TRUE(Studio::hasSymbol(symbol)) << symbol;
}

TEST_F(WaveformControlsTest, ButtonsMoveTheWindowAndFollowTheController) {
    build();
    // No project.
    EXPECT_EQ(shown(), kNone);
    open(sourceA);
    EXPECT_EQ(shown(), flags(false, true, false, false, false, false));

    // Zoom in around the playhead at 0: a window at the file's start.
    click(1);
    ASSERT_TRUE(workspace->waveform().window);
    EXPECT_EQ(*workspace->waveform().window, (WaveformWindow{0, 5}));
    EXPECT_EQ(shown(), flags(true, true, false, true, false, true));
    click(3);
    EXPECT_EQ(*workspace->waveform().window, (WaveformWindow{2.5, 7.5}));
    EXPECT_EQ(shown(), flags(true, true, true, true, false, true));
    click(2);
    EXPECT_EQ(*workspace->waveform().window, (WaveformWindow{0, 5}));
    click(0);
    EXPECT_FALSE(workspace->waveform().window);
    click(1);
    click(5);
    EXPECT_FALSE(workspace->waveform().window);
    EXPECT_EQ(shown(), flags(false, true, false, false, false, false));

    // A reviewed pause: "当前段" frames it with at least 12 s, here the whole file.
    players.last()->finishLoading(10);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    workspace->moveReview(1);
    ASSERT_TRUE(workspace->reviewCut());
    EXPECT_EQ(shown(), flags(false, true, false, false, true, false));
    click(1);
    ASSERT_TRUE(workspace->waveform().window);
    click(4);
    EXPECT_FALSE(workspace->waveform().window);

    // Changed settings, a boundary drag and a running job turn the whole row off.
    click(1);
    ASSERT_TRUE(workspace->guards().canAdjustWaveformBoundary);
    workspace->beginWaveformBoundary(*workspace->review().reviewID, CutBoundary::start);
    ASSERT_TRUE(workspace->waveform().boundaryDrag);
    EXPECT_EQ(shown(), kNone);
    workspace->setBoundaryDrag(std::nullopt);
    EXPECT_NE(shown(), kNone);
    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB -= 5;
    workspace->setCutOptions(options);
    EXPECT_EQ(shown(), kNone);
    workspace->restoreAnalyzedOptions();
    EXPECT_NE(shown(), kNone);
    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    EXPECT_EQ(shown(), kNone);
}

}  // namespace
}  // namespace talvian::test
