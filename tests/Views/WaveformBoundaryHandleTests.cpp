#include "Views/WaveformBoundaryHandle.h"

#include <gtest/gtest.h>

#include <functional>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Player/FakePlayer.h"
#include "Support/NumberText.h"
#include "Views/BoundaryForm.h"
#include "WaveformFixture.h"

using namespace talvian;
using namespace talvian::test;

namespace {

using WaveformHandleKeys::Action;
using WaveformHandleKeys::Decision;

constexpr quint32 kX11Lock = 0x2;

std::string name(const QColor& colour) {
    return colour.name().toStdString();
}

TEST(WaveformHandleKeys, DecideWhatAKeyOnAGripDoes) {
    struct Case {
        const char* what;
        int key;
        Qt::KeyboardModifiers modifiers;
        bool autoRepeat = false;
        bool capsLock = false;
        bool enabled = true;
        bool focused = true;
        bool canAdjust = true;
        bool popoverOpen = false;
        Decision decision;
    };
    const Decision open{Action::openPopover, 0, false};
    const Decision left{Action::nudge, -1, false};
    const Decision right{Action::nudge, 1, false};
    const Decision coarseRight{Action::nudge, 1, true};
    const Decision pass{};
    const Case cases[] = {
        {"Space", Qt::Key_Space, Qt::NoModifier, false, false, true, true, true, false, open},
        {"Return", Qt::Key_Return, Qt::NoModifier, false, false, true, true, true, false, open},
        {"Space with Caps Lock", Qt::Key_Space, Qt::NoModifier, false, true, true, true, true, false, pass},
        {"Space with Shift", Qt::Key_Space, Qt::ShiftModifier, false, false, true, true, true, false, pass},
        {"Space held down", Qt::Key_Space, Qt::NoModifier, true, false, true, true, true, false, pass},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, false, false, true, true, true, false, pass},
        {"Return with Ctrl", Qt::Key_Return, Qt::ControlModifier, false, false, true, true, true, false,
         pass},
        {"Left", Qt::Key_Left, Qt::NoModifier, false, false, true, true, true, false, left},
        {"Right", Qt::Key_Right, Qt::NoModifier, false, false, true, true, true, false, right},
        {"Right with Shift", Qt::Key_Right, Qt::ShiftModifier, false, false, true, true, true, false,
         coarseRight},
        {"Right held down", Qt::Key_Right, Qt::NoModifier, true, false, true, true, true, false, right},
        {"Right with Caps Lock", Qt::Key_Right, Qt::NoModifier, false, true, true, true, true, false, right},
        {"keypad Left", Qt::Key_Left, Qt::KeypadModifier, false, false, true, true, true, false, left},
        {"Right with Ctrl", Qt::Key_Right, Qt::ControlModifier, false, false, true, true, true, false, pass},
        {"Left with Alt", Qt::Key_Left, Qt::AltModifier, false, false, true, true, true, false, pass},
        {"Right with Meta", Qt::Key_Right, Qt::MetaModifier, false, false, true, true, true, false, pass},
        {"Right with Shift and Ctrl", Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier, false, false,
         true, true, true, false, pass},
        {"Right, popover open", Qt::Key_Right, Qt::NoModifier, false, false, true, true, true, true, pass},
        {"Space, popover open", Qt::Key_Space, Qt::NoModifier, false, false, true, true, true, true, pass},
        {"Right, not focused", Qt::Key_Right, Qt::NoModifier, false, false, true, false, true, false, pass},
        {"Right, adjusting not allowed", Qt::Key_Right, Qt::NoModifier, false, false, true, true, false,
         false, pass},
        {"Space, disabled", Qt::Key_Space, Qt::NoModifier, false, false, false, true, true, false, pass},
        {"Up", Qt::Key_Up, Qt::NoModifier, false, false, true, true, true, false, pass},
        {"Escape", Qt::Key_Escape, Qt::NoModifier, false, false, true, true, true, false, pass},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WaveformHandleKeys::decide(c.key, c.modifiers, c.autoRepeat, c.capsLock, c.enabled,
                                             c.focused, c.canAdjust, c.popoverOpen),
                  c.decision);
    }
    EXPECT_TRUE(WaveformHandleKeys::capsLockIn(kX11Lock));
    EXPECT_TRUE(WaveformHandleKeys::capsLockIn(kX11Lock | 0x1 | 0x10));
    EXPECT_FALSE(WaveformHandleKeys::capsLockIn(0x1 | 0x10));
}

// The waveform zoomed to [0, 60] with the removed pause [10, 12] under review.
class GripTest : public WaveformTest {
  protected:
    void SetUp() override {
        WaveformTest::SetUp();
        openView();
        zoom(0, 60);
        review(removed);
    }
};

}  // namespace

TEST_F(GripTest, GripsShowOnTheVisibleEdgesOfALongEnoughReviewedPause) {
    struct Case {
        const char* what;
        WaveformWindow window;
        const CutRegion& reviewed;
        bool start;
        bool end;
    };
    const Case cases[] = {
        {"both edges in a minute", {0, 60}, removed, true, true},
        {"a window of 60.5 s", {0, 60.5}, removed, false, false},
        {"the whole file", {0, 120}, removed, false, false},
        {"a pause of 0.08 s", {0, 60}, brief, false, false},
        {"the start outside the window", {11, 40}, removed, false, true},
        {"the end outside the window", {0, 11}, removed, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        review(c.reviewed);
        zoom(c.window.start, c.window.end);
        EXPECT_EQ(grip(CutBoundary::start).isVisibleTo(view), c.start);
        EXPECT_EQ(grip(CutBoundary::end).isVisibleTo(view), c.end);
        for (const CutBoundary edge : kAllCutBoundaries) {
            WaveformBoundaryHandle& handle = grip(edge);
            if (!handle.isVisibleTo(view)) continue;
            const double seconds = edge == CutBoundary::start ? c.reviewed.start : c.reviewed.end;
            EXPECT_NEAR(handle.x() + 12, std::clamp(xOf(seconds), 16.0, kWidth - 16.0), 0.5);
            EXPECT_NEAR(handle.y() + 14, kHeight * 0.55, 0.5);
            EXPECT_EQ(handle.size(), QSize(24, 28));
        }
    }
    // Near a side the grip is held 16 px inside the view.
    review(removed);
    zoom(9.95, 69.95);
    ASSERT_TRUE(grip(CutBoundary::start).isVisibleTo(view));
    EXPECT_EQ(grip(CutBoundary::start).geometry().left(), 4);
    // Another job or changed settings take the grips away.
    zoom(0, 60);
    CutOptions changed = workspace->detection().cutOptions;
    changed.padding = 0.2;
    workspace->setCutOptions(changed);
    settle();
    EXPECT_FALSE(grip(CutBoundary::end).isVisibleTo(view));
}

TEST_F(GripTest, AGripLooksLikeACoralTabWithAPauseSymbol) {
    ASSERT_TRUE(showActive());
    WaveformBoundaryHandle& handle = grip(CutBoundary::end);
    const QImage image = grabbed(handle);
    saveShot(host, "waveform-grips");
    EXPECT_LE(distance(at(image, 3, 14), Studio::coral), 2) << name(at(image, 3, 14));
    EXPECT_LE(distance(at(image, 12, 3), Studio::coral), 2);
    // The symbol's bars, left and right of the centre, in black.
    int dark = 0;
    for (int y = 9; y < 19; ++y)
        for (int x = 6; x < 18; ++x) dark += distance(at(image, x, y), Qt::black) < 60;
    EXPECT_GT(dark, 20);
    // The corners are rounded off: the waveform shows through.
    EXPECT_GT(distance(at(image, 0, 0), Studio::coral), 40);
}

TEST_F(GripTest, DraggingAGripMovesItsEdgeByItsShareOfTheWindowInOneUndoStep) {
    ASSERT_TRUE(showActive());
    WaveformBoundaryHandle& handle = grip(CutBoundary::end);
    const int left = handle.x();
    const QPointF start = gripCentre(CutBoundary::end);
    dragGrip(CutBoundary::end, 40, false);
    // While dragging, the pause is drawn, hit and handled where the drag has put it.
    const double moved = 12 + 40.0 / kWidth * 60;
    ASSERT_TRUE(workspace->waveform().boundaryDrag);
    EXPECT_DOUBLE_EQ(workspace->waveform().boundaryDrag->proposed.end, moved);
    EXPECT_EQ(current(removed.id), removed);
    EXPECT_NEAR(handle.x() - left, 40, 1);
    EXPECT_TRUE(handle.hasFocus());
    const auto drawn = std::find_if(view->scene().pauses.begin(), view->scene().pauses.end(),
                                    [&](const CutRegion& region) { return region.id == removed.id; });
    ASSERT_NE(drawn, view->scene().pauses.end());
    EXPECT_DOUBLE_EQ(drawn->end, moved);
    saveShot(host, "waveform-grip-drag");

    const QPointF end = start + QPointF(40, 0);
    sendMouse(handle, QEvent::MouseButtonRelease, handle.mapFromGlobal(end), Qt::NoModifier, end);
    EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);
    EXPECT_DOUBLE_EQ(current(removed.id).end, moved);
    EXPECT_EQ(current(removed.id).start, 10);
    EXPECT_TRUE(handle.hasFocus());
    workspace->undoCut();
    EXPECT_EQ(current(removed.id), removed);
    EXPECT_FALSE(workspace->guards().canUndoCut);
}

TEST_F(GripTest, ADragThatEndsWithoutAReleaseChangesNoPause) {
    struct Case {
        const char* what;
        std::function<void()> interrupt;
    };
    const Case cases[] = {
        {"Escape", [&] { sendKey(grip(CutBoundary::start), Qt::Key_Escape); }},
        {"the grip hidden by changed settings",
         [&] {
             CutOptions changed = workspace->detection().cutOptions;
             changed.padding = 0.2;
             workspace->setCutOptions(changed);
         }},
        {"the view destroyed",
         [&] {
             delete view;
             view = nullptr;
         }},
    };
    // Hidden grips get no hide event: the window is shown as it would be.
    ASSERT_TRUE(showActive());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(grip(CutBoundary::start).isVisible());
        WaveformBoundaryHandle& handle = grip(CutBoundary::start);
        dragGrip(CutBoundary::start, -20, false);
        ASSERT_TRUE(workspace->waveform().boundaryDrag);
        c.interrupt();
        EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);
        if (view) {
            const QPointF end = handle.mapToGlobal(QPointF(12, 14));
            sendMouse(handle, QEvent::MouseButtonRelease, QPointF(12, 14), Qt::NoModifier, end);
        }
        EXPECT_EQ(current(removed.id), removed);
        EXPECT_FALSE(workspace->guards().canUndoCut);
        // Back to the starting state for the next way.
        workspace->restoreAnalyzedOptions();
        if (!view) {
            openView();
            view->show();
        }
        zoom(0, 60);
        review(removed);
    }
}

TEST_F(GripTest, AShortPressIsAClickThatOpensThePopoverAndBeginsNoDrag) {
    ASSERT_TRUE(showActive());
    WaveformBoundaryHandle& handle = grip(CutBoundary::start);
    const int left = handle.x();
    dragGrip(CutBoundary::start, 2);
    EXPECT_EQ(workspace->waveform().boundaryDrag, std::nullopt);
    EXPECT_EQ(current(removed.id), removed);
    EXPECT_EQ(handle.x(), left);
    EXPECT_TRUE(handle.popoverOpen());
    EXPECT_FALSE(workspace->guards().canUndoCut);
}

TEST_F(GripTest, ArrowKeysNudgeTheFocusedEdgeAndOtherKeysReachTheWindow) {
    ASSERT_TRUE(showActive());
    WaveformBoundaryHandle& handle = grip(CutBoundary::end);
    handle.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(handle.hasFocus());
    struct Press {
        const char* what;
        int key;
        Qt::KeyboardModifiers modifiers;
        bool autoRepeat;
        quint32 native;
        double end;  // the end afterwards
        bool reachesWindow;
    };
    const Press presses[] = {
        {"Right", Qt::Key_Right, Qt::NoModifier, false, 0, 12.01, false},
        {"Shift+Right", Qt::Key_Right, Qt::ShiftModifier, false, 0, 12.11, false},
        {"Left held down", Qt::Key_Left, Qt::NoModifier, true, 0, 12.1, false},
        {"Left with Caps Lock", Qt::Key_Left, Qt::NoModifier, false, kX11Lock, 12.09, false},
        {"Ctrl+Right", Qt::Key_Right, Qt::ControlModifier, false, 0, 12.09, true},
        {"Alt+Left", Qt::Key_Left, Qt::AltModifier, false, 0, 12.09, true},
        {"Space with Caps Lock", Qt::Key_Space, Qt::NoModifier, false, kX11Lock, 12.09, true},
        {"Shift+Space", Qt::Key_Space, Qt::ShiftModifier, false, 0, 12.09, true},
        {"a letter", Qt::Key_K, Qt::NoModifier, false, 0, 12.09, true},
    };
    double end = removed.end;
    for (const Press& press : presses) {
        SCOPED_TRACE(press.what);
        host.keysReceived.clear();
        const std::string backup = readFile(backupURL);
        sendKey(handle, press.key, press.modifiers, press.autoRepeat, press.native);
        EXPECT_NEAR(current(removed.id).end, press.end, 1e-9);
        EXPECT_EQ(host.keysReceived, press.reachesWindow ? std::vector<int>{press.key} : std::vector<int>{});
        // The grip is the same widget after the edit: the focus stays on it.
        EXPECT_TRUE(grip(CutBoundary::end).hasFocus());
        if (press.end != end) {
            EXPECT_EQ(workspace->job().status,
                      "已将终点微调至 " + fixedDecimal(press.end, 4) + " 秒，可用Ctrl+Z撤销。");
            EXPECT_NE(readFile(backupURL), backup);
            EXPECT_EQ(handle.accessibleDescription().toStdString(), fixedDecimal(press.end, 4) + " 秒");
        } else {
            EXPECT_EQ(readFile(backupURL), backup);
        }
        end = press.end;
    }
    saveShot(host, "waveform-grip-focused");
}

TEST_F(GripTest, ArrowKeysPassOnWithoutTheFocusOrOutsideAdjusting) {
    ASSERT_TRUE(showActive());
    WaveformBoundaryHandle& handle = grip(CutBoundary::end);
    // Not focused: the key reaches the window.
    handle.clearFocus();
    sendKey(handle, Qt::Key_Right);
    EXPECT_EQ(host.keysReceived, std::vector<int>{Qt::Key_Right});
    EXPECT_EQ(current(removed.id), removed);
    // Focused, but a job runs: still passed on.
    handle.setFocus();
    host.keysReceived.clear();
    analysis.hold = true;
    workspace->analyze();
    ASSERT_TRUE(workspace->job().busy);
    sendKey(handle, Qt::Key_Right);
    EXPECT_EQ(host.keysReceived, std::vector<int>{Qt::Key_Right});
    EXPECT_EQ(current(removed.id), removed);
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
}

TEST_F(GripTest, GripsNameTheirEdgeAndTheirTime) {
    EXPECT_EQ(grip(CutBoundary::start).accessibleName(), QStringLiteral("拖动调整起点，点击精确输入"));
    EXPECT_EQ(grip(CutBoundary::end).accessibleName(), QStringLiteral("拖动调整终点，点击精确输入"));
    EXPECT_EQ(grip(CutBoundary::start).accessibleDescription(), QStringLiteral("10.0000 秒"));
    EXPECT_EQ(grip(CutBoundary::end).accessibleDescription(), QStringLiteral("12.0000 秒"));
    EXPECT_EQ(
        grip(CutBoundary::end).toolTip(),
        QStringLiteral("拖动或点击调整；焦点在端点时←/→微调0.01秒，Shift为0.1秒，限当前视野；Ctrl+Z撤销"));
    EXPECT_EQ(grip(CutBoundary::end).focusPolicy(), Qt::StrongFocus);
}

TEST_F(GripTest, AClickSpaceOrReturnOpenTheExactTimesOfTheDrawnPause) {
    ASSERT_TRUE(showActive());
    WaveformBoundaryHandle& handle = grip(CutBoundary::end);
    struct Way {
        const char* what;
        std::function<void()> open;
    };
    const Way ways[] = {
        {"a click", [&] { dragGrip(CutBoundary::end, 2); }},
        {"Space", [&] { sendKey(handle, Qt::Key_Space); }},
        {"Return", [&] { sendKey(handle, Qt::Key_Return); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        host.keysReceived.clear();
        way.open();
        ASSERT_TRUE(handle.popoverOpen());
        BoundaryForm& form = handle.popover()->form();
        EXPECT_EQ(form.startField().text(), QStringLiteral("10.0000"));
        EXPECT_EQ(form.endField().text(), QStringLiteral("12.0000"));
        EXPECT_TRUE(handle.popover()->isVisible());
        saveShot(*handle.popover(), "waveform-grip-popover");
        // While it is open the grip's keys pass on.
        sendKey(handle, Qt::Key_Right);
        EXPECT_EQ(host.keysReceived, std::vector<int>{Qt::Key_Right});
        EXPECT_EQ(current(removed.id), removed);
        // Escape closes it without an edit; the keys come back to the grip.
        QTest::keyClick(&form.startField(), Qt::Key_Escape);
        EXPECT_FALSE(handle.popoverOpen());
        EXPECT_TRUE(waitUntil([&] { return handle.hasFocus(); }, 5000));
        EXPECT_EQ(current(removed.id), removed);
    }
    // A typed edge applied from the popover is one edit; the grip follows it and keeps the keys.
    sendKey(handle, Qt::Key_Space);
    ASSERT_TRUE(handle.popoverOpen());
    BoundaryForm& form = handle.popover()->form();
    form.endField().setText(QStringLiteral("12.5"));
    QTest::keyClick(&form.endField(), Qt::Key_Return);
    settle();
    EXPECT_FALSE(handle.popoverOpen());
    EXPECT_EQ(current(removed.id).end, 12.5);
    EXPECT_NEAR(handle.x() + 12, xOf(12.5), 0.5);
    EXPECT_TRUE(waitUntil([&] { return handle.hasFocus(); }, 5000));
    workspace->undoCut();
    EXPECT_EQ(current(removed.id), removed);
}

namespace {

// The grips over a real recording whose preview is ready, so the popover can audition.
class GripAuditionTest : public WaveformTest {
  protected:
    void SetUp() override {
        WaveformTest::SetUp();
        makeMedia("-f lavfi -i sine=f=440:r=8000:d=120", sourceA);
        openView();
        dynamic_cast<FakePlayer&>(workspace->player()).finishLoading(120);
        ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
        zoom(0, 60);
        review(removed);
        ASSERT_TRUE(showActive());
    }
    BoundaryForm& openPopover() {
        dragGrip(CutBoundary::start, 1);
        EXPECT_TRUE(grip(CutBoundary::start).popoverOpen());
        return grip(CutBoundary::start).popover()->form();
    }
    bool draftPlaying() const {
        return workspace->auditionIsDraft() && workspace->auditionID() == removed.id;
    }
};

}  // namespace

TEST_F(GripAuditionTest, TypingOrClosingStopsTheDraftAuditionOfThisPauseOnly) {
    BoundaryForm* form = &openPopover();
    form->originalButton().click();
    ASSERT_TRUE(waitUntil([&] { return draftPlaying(); }, 10000));
    QTest::keyClick(&form->startField(), Qt::Key_5);
    EXPECT_EQ(form->startField().text(), QStringLiteral("10.00005"));
    EXPECT_FALSE(workspace->auditionID().has_value());

    form->editedButton().click();
    ASSERT_TRUE(waitUntil([&] { return draftPlaying(); }, 10000));
    QTest::keyClick(&form->startField(), Qt::Key_Escape);
    EXPECT_FALSE(grip(CutBoundary::start).popoverOpen());
    EXPECT_FALSE(workspace->auditionID().has_value());

    // An audition of another pause plays on when the popover closes.
    workspace->audition(wide.id, AuditionMode::original);
    ASSERT_TRUE(waitUntil([&] { return workspace->auditionID() == wide.id; }, 10000));
    form = &openPopover();
    form->cancelButton().click();
    EXPECT_FALSE(grip(CutBoundary::start).popoverOpen());
    EXPECT_EQ(workspace->auditionID(), wide.id);
}
