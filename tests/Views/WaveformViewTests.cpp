#include "Views/WaveformView.h"

#include <QAccessible>

#include <gtest/gtest.h>

#include <cmath>

#include "../Workspace/PlaybackFixture.h"
#include "Kit/Studio.h"
#include "WaveformFixture.h"
#include "Workspace/PlaybackClock.h"

using namespace talvian;
using namespace talvian::test;

namespace {

constexpr int kFillTolerance = 3;
// Rows of the lane: inside the outline of the 0.5 overview peaks (106 ± 33.6) yet above the
// grips (centred at 104.5, 28 tall), and above the outline.
constexpr int kOutlineRow = 80;
constexpr int kLaneRow = 50;

bool near(const QColor& a, const QColor& b) {
    return distance(a, b) <= kFillTolerance;
}

std::string name(const QColor& colour) {
    return colour.name().toStdString();
}

}  // namespace

TEST_F(WaveformTest, OnlyTheWaveformInsideRemovedPausesIsCoral) {
    openView();
    struct Case {
        const char* what;
        WaveformWindow window;
    };
    const Case cases[] = {{"zoomed to a minute", {0, 60}}, {"the whole file", {0, 120}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        zoom(c.window.start, c.window.end);
        const QImage image = picture();
        saveShot(host, std::string("waveform-removed-") + (c.window.end == 60 ? "minute" : "whole"));
        int coral = 0;
        for (int x = 4; x < kWidth - 4; ++x) {
            auto within = [&](const CutRegion& region, double margin) {
                return region.remove && xOf(region.start) - margin <= x && x + 1 <= xOf(region.end) + margin;
            };
            const bool inside = within(removed, -1) || within(brief, -1) || within(wide, -1);
            const bool nearby = within(removed, 1) || within(brief, 1) || within(wide, 1);
            const QColor outline = at(image, x, kOutlineRow);
            if (inside) {
                EXPECT_TRUE(near(outline, Studio::coral)) << "x " << x << ": " << name(outline);
                ++coral;
            } else if (!nearby) {
                EXPECT_TRUE(near(outline, Studio::wave)) << "x " << x << ": " << name(outline);
            }
            // The lane around the waveform never turns coral.
            EXPECT_TRUE(near(at(image, x, kLaneRow), Studio::background)) << "x " << x;
        }
        EXPECT_GT(coral, 20);
    }
    // In the whole file a pixel column is 0.2 s: the 0.08 s pause at 30 s covers 0.4 of column
    // 150 (x 150.25 … 150.65), which mixes the two colours by that share.
    const QColor mixed = over(Studio::coral, 0.4, Studio::wave);
    const QColor column = at(picture(), 150, kOutlineRow);
    EXPECT_TRUE(near(column, mixed)) << name(column) << " for " << name(mixed);
}

TEST_F(WaveformTest, TheReviewedAndBatchPausesAreTintedInWindowsUpToSixtySeconds) {
    openView();
    const QColor tint = over(Studio::coral, 0.12);
    struct Case {
        const char* what;
        WaveformWindow window;
        bool batch;
        bool tinted;
    };
    const Case cases[] = {
        {"reviewed, 60 s", {0, 60}, false, true},         {"reviewed, 60.5 s", {0, 60.5}, false, false},
        {"reviewed, whole file", {0, 120}, false, false}, {"batch-selected, 30 s", {30, 60}, true, true},
        {"batch-selected, 61 s", {0, 61}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        workspace->resetBatchSelection();
        review(removed);
        if (c.batch) workspace->selectWaveformRange(40.5, 41);
        zoom(c.window.start, c.window.end);
        const CutRegion& region = c.batch ? wide : removed;
        const QImage image = picture();
        const int middle = static_cast<int>(xOf((region.start + region.end) / 2));
        const QColor behind = at(image, middle, kLaneRow);
        EXPECT_TRUE(near(behind, c.tinted ? tint : Studio::background)) << name(behind);
        // Outside every pause the lane stays clear.
        EXPECT_TRUE(near(at(image, 5, kLaneRow), Studio::background));
    }
    workspace->resetBatchSelection();
    review(removed);
    zoom(5, 25);
    saveShot(host, "waveform-reviewed-tint");
}

TEST_F(WaveformTest, TheRulerLabelsTheWindowAtEveryFifth) {
    openView();
    zoom(30, 90);
    const QImage image = picture();
    // Label ink in the top band at the left, middle and right; the ticks at y 21 … 27.
    auto inkIn = [&](int from, int to) {
        int ink = 0;
        for (int y = 0; y < 19; ++y)
            for (int x = from; x < to; ++x) ink += distance(at(image, x, y), Studio::background) > 40;
        return ink;
    };
    EXPECT_GT(inkIn(0, 50), 10);
    EXPECT_GT(inkIn(240 - 25, 240 + 25), 10);  // the label of 0.4
    EXPECT_GT(inkIn(kWidth - 50, kWidth), 10);
    const QColor tick = over(Studio::secondary, 0.35);
    for (const int x : {120, 240, 360, 480, kWidth - 1})
        EXPECT_TRUE(near(at(image, x, 24), tick)) << "tick at " << x << ": " << name(at(image, x, 24));
    EXPECT_TRUE(near(at(image, 60, 24), Studio::background));
    saveShot(host, "waveform-ruler");
}

TEST_F(WaveformTest, TheDetailPeaksAreDrawnOnlyForExactlyTheirWindow) {
    // Silence for 30 s, then a tone: the detail shows the silence, the scripted overview does not.
    makeMedia("-f lavfi -i " + shellQuote("aevalsrc=exprs='0.5*sin(2*PI*300*t)*gte(t\\,30)':s=8000:d=120"),
              sourceA);
    workspace->setWaveformDetailDelay(std::chrono::milliseconds(0));
    openView();
    zoom(0, 60);
    ASSERT_TRUE(waitUntil([&] { return workspace->waveform().detail.has_value(); }));
    QImage image = picture();
    saveShot(host, "waveform-detail");
    // 20 px above the middle at 15 s: the 1-pixel floor of silence; at 45 s the tone's full peak.
    const int quiet = static_cast<int>(xOf(15));
    const int loud = static_cast<int>(xOf(45));
    EXPECT_TRUE(near(at(image, quiet, 86), Studio::background)) << name(at(image, quiet, 86));
    EXPECT_TRUE(near(at(image, loud, 56), Studio::wave)) << name(at(image, loud, 56));
    EXPECT_EQ(view->scene().peaks.size(), 1024u);

    // A window 1e-9 s longer is another window: until its own detail arrives, the overview
    // of the whole file is drawn, not the other window's peaks stretched over it.
    zoom(0, 60 + 1e-9);
    image = picture();
    EXPECT_EQ(view->scene().peaks.size(), 320u);
    EXPECT_TRUE(near(at(image, quiet, 86), Studio::wave)) << name(at(image, quiet, 86));
    EXPECT_TRUE(near(at(image, loud, 56), Studio::background)) << name(at(image, loud, 56));
}

TEST_F(WaveformTest, AClickSelectsThePauseUnderItOrSeeksThere) {
    openView();
    zoom(0, 60);
    struct Case {
        const char* what;
        double x;
        std::optional<Uuid> reviewed;
        std::optional<double> seek;
    };
    const Case cases[] = {
        {"a removed pause", xOf(11), removed.id, std::nullopt},
        {"a kept pause", xOf(20.5), kept.id, std::nullopt},
        {"between pauses", 350, std::nullopt, 350.0 / 600},
        {"the first column", 0, std::nullopt, 0.0},
        {"the last column", kWidth - 1, std::nullopt, 1.0},
        {"past the right side", kWidth + 20, std::nullopt, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        workspace->navigateWaveform(100);  // reviews nothing
        settle();
        seeks.clear();
        sendMouse(*view, QEvent::MouseButtonPress, QPointF(c.x, 120));
        sendMouse(*view, QEvent::MouseButtonRelease, QPointF(c.x, 120));
        EXPECT_EQ(workspace->review().reviewID, c.reviewed);
        if (c.seek) {
            ASSERT_EQ(seeks.size(), 1u);
            EXPECT_DOUBLE_EQ(seeks[0], *c.seek);
        } else {
            EXPECT_TRUE(seeks.empty());
        }
    }
}

TEST_F(WaveformTest, AFourPixelMoveIsAClickAndAFivePixelMoveADragSelection) {
    openView();
    zoom(0, 60);
    struct Case {
        const char* what;
        double from;
        double to;
        std::optional<Uuid> reviewed;
        std::set<Uuid> batch;
    };
    const Case cases[] = {
        // 97 → 101: a click at 101, that is 10.1 s, inside the removed pause.
        {"four pixels", 97, 101, removed.id, {}},
        {"five pixels", 96, 101, std::nullopt, {removed.id}},
        {"left to right", 90, 205, std::nullopt, {removed.id, kept.id}},
        {"right to left", 205, 90, std::nullopt, {removed.id, kept.id}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        workspace->resetBatchSelection();
        workspace->navigateWaveform(100);
        settle();
        seeks.clear();
        pointerDrag(*view, QPointF(c.from, 120), QPointF(c.to, 120));
        EXPECT_EQ(workspace->review().batchMode, !c.batch.empty());
        EXPECT_EQ(workspace->review().batchIDs, c.batch);
        if (c.batch.empty()) {
            EXPECT_EQ(workspace->review().reviewID, c.reviewed);
        }
        EXPECT_TRUE(seeks.empty());
        EXPECT_FALSE(view->scene().dragBand.has_value());
    }
}

TEST_F(WaveformTest, TheDragBandLiesBetweenThePressAndThePointer) {
    openView();
    zoom(0, 60);
    const QColor band = over(Studio::coral, 0.1);
    sendMouse(*view, QEvent::MouseButtonPress, QPointF(300, 120));
    for (int x = 299; x >= 250; --x) sendMouse(*view, QEvent::MouseMove, QPointF(x, 120));
    QImage image = picture();
    saveShot(host, "waveform-drag-band");
    EXPECT_TRUE(near(at(image, 275, kLaneRow), band)) << name(at(image, 275, kLaneRow));
    EXPECT_TRUE(near(at(image, 240, kLaneRow), Studio::background));
    EXPECT_TRUE(near(at(image, 310, kLaneRow), Studio::background));
    sendMouse(*view, QEvent::MouseButtonRelease, QPointF(250, 120));
    image = picture();
    EXPECT_TRUE(near(at(image, 275, kLaneRow), Studio::background));
}

TEST_F(WaveformTest, CtrlAddsToTheBatchAndShiftExtendsIt) {
    openView();
    zoom(0, 60);
    auto click = [&](double seconds, Qt::KeyboardModifiers modifiers) {
        sendMouse(*view, QEvent::MouseButtonPress, QPointF(xOf(seconds), 120), modifiers);
        sendMouse(*view, QEvent::MouseButtonRelease, QPointF(xOf(seconds), 120), modifiers);
    };
    click(11, Qt::NoModifier);
    EXPECT_EQ(workspace->review().reviewID, removed.id);
    EXPECT_FALSE(workspace->review().batchMode);
    click(42, Qt::ControlModifier);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{removed.id, wide.id}));
    click(42, Qt::ControlModifier);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{removed.id}));
    // Shift extends from the anchor (the pause clicked last) through the review order.
    click(11, Qt::ControlModifier);
    click(11, Qt::ControlModifier);
    click(42, Qt::ShiftModifier);
    EXPECT_EQ(workspace->review().batchIDs, (std::set<Uuid>{removed.id, kept.id, brief.id, wide.id}));
    saveShot(host, "waveform-batch");
    // Empty waveform seeks whatever the modifiers.
    click(50, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(seeks.size(), 1u);
    EXPECT_NEAR(seeks[0], xOf(50) / (kWidth - 1), 1e-12);
}

TEST_F(WaveformTest, PlaybackMovesOnlyTheCursor) {
    openView();
    zoom(0, 60);
    FakePlayer& preview = dynamic_cast<FakePlayer&>(workspace->player());
    preview.finishLoading(120);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    workspace->navigateWaveform(1);
    ASSERT_TRUE(waitUntil([&] { return workspace->playbackClock().position() == 1; }));
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    settle();
    const int builds = view->layerBuilds();
    workspace->togglePlayback();
    settle();
    double last = workspace->playbackClock().position();
    int ticks = 0;
    for (int i = 0; i < 100; ++i) {
        preview.advance(0.05);
        ASSERT_TRUE(waitUntil([&] { return workspace->playbackClock().position() != last; }, 5000));
        last = workspace->playbackClock().position();
        ++ticks;
        QCoreApplication::processEvents();
    }
    settle();
    EXPECT_EQ(ticks, 100);
    EXPECT_NEAR(last, 6, 1e-6);
    EXPECT_EQ(view->layerBuilds(), builds);
    ASSERT_TRUE(view->cursor()->isVisible());
    EXPECT_EQ(view->cursor()->geometry(),
              QRect(static_cast<int>(std::floor(xOf(last))), 16, 1, kHeight - 16));
    const QImage image = picture();
    EXPECT_TRUE(near(at(image, view->cursor()->x(), kLaneRow), Studio::text));
    saveShot(host, "waveform-cursor");
}

TEST_F(WaveformTest, TheCursorFollowsTheWindowAndStaysOnTheView) {
    openView();
    struct Case {
        WaveformWindow window;
        double position;
        std::optional<int> x;
    };
    const Case cases[] = {
        {{0, 60}, 30, 300},          {{0, 60}, 60, kWidth - 1},  // the window's end: on the last column
        {{0, 60}, 61, std::nullopt}, {{30, 90}, 29, std::nullopt}, {{30, 90}, 30, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.position << " in " << c.window.start << "…" << c.window.end);
        zoom(c.window.start, c.window.end);
        workspace->playbackClock().setPosition(c.position);
        EXPECT_EQ(view->cursor()->isVisibleTo(view), c.x.has_value());
        if (c.x) {
            EXPECT_EQ(view->cursor()->x(), *c.x);
        }
    }
}

TEST_F(WaveformTest, TheAuditionedRangeIsMarkedAboveTheLane) {
    makeMedia("-f lavfi -i sine=f=440:r=48000:d=120", sourceA);
    openView();
    zoom(0, 60);
    FakePlayer& preview = dynamic_cast<FakePlayer&>(workspace->player());
    preview.finishLoading(120);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    const int builds = view->layerBuilds();
    workspace->audition(wide.id, AuditionMode::original);
    ASSERT_TRUE(waitUntil([&] { return workspace->auditionSourceRange().has_value(); }, 10000));
    const auto [from, to] = *workspace->auditionSourceRange();
    const QImage image = picture();
    saveShot(host, "waveform-audition");
    EXPECT_GT(view->layerBuilds(), builds);
    const int middle = static_cast<int>(xOf((from + to) / 2));
    EXPECT_TRUE(near(at(image, middle, 28), Studio::text)) << name(at(image, middle, 28));
    EXPECT_TRUE(near(at(image, middle, 29), Studio::text));
    EXPECT_TRUE(near(at(image, static_cast<int>(xOf(from)) - 3, 28), Studio::background));
    EXPECT_TRUE(near(at(image, static_cast<int>(xOf(to)) + 3, 28), Studio::background));
    workspace->stopAudition(false);
    ASSERT_FALSE(workspace->auditionSourceRange().has_value());
    EXPECT_TRUE(near(at(picture(), middle, 28), Studio::background));
}

TEST_F(WaveformTest, TheLayerIsRedrawnOnlyWhenWhatItShowsChanges) {
    openView();
    zoom(0, 60);
    review(removed);
    picture();
    struct Step {
        const char* what;
        std::function<void()> change;
        bool redraws;
    };
    const Step steps[] = {
        {"the same window again", [&] { zoom(0, 60); }, false},
        {"a status line", [&] { workspace->setNotice(std::string("提示")); }, false},
        {"another reviewed pause", [&] { review(wide); }, true},
        {"a toggled pause", [&] { workspace->toggleCut(kept.id); }, true},
        {"another window", [&] { zoom(10, 40); }, true},
        {"another size", [&] { view->resize(kWidth - 1, kHeight); }, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const int builds = view->layerBuilds();
        step.change();
        picture();
        picture();
        EXPECT_EQ(view->layerBuilds(), builds + (step.redraws ? 1 : 0));
    }
}

TEST_F(WaveformTest, TheWaveformNamesItsGesturesForAssistiveTechnology) {
    openView();
    EXPECT_EQ(view->accessibleName(), QStringLiteral("音频波形，点击停顿选中，拖选或按住 Ctrl 多选。"));
    EXPECT_EQ(view->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(view->cursor()->testAttribute(Qt::WA_TransparentForMouseEvents));
}
