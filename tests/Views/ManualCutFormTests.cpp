// The hand-added range: what the hint says for typed texts, which buttons each situation
// allows, the fields as views of the controller's texts, and adding from the popover.

#include <QLabel>
#include <QTest>

#include <functional>

#include "../Workspace/PlaybackFixture.h"
#include "Kit/StudioControls.h"
#include "Pixels.h"
#include "Views/ManualCutForm.h"
#include "WaveformFixture.h"

namespace talvian::test {
namespace {

using Controls = ManualCutForm::Controls;

TEST(StudioManualCutControls, EachButtonFollowsItsGuards) {
    struct Case {
        bool canCapture, previewReady, canAdd;
        Controls expected;
    };
    const Case cases[] = {
        {true, true, true, {.take = true, .audition = true, .add = true}},
        {false, true, true, {.take = false, .audition = true, .add = true}},
        {true, false, true, {.take = true, .audition = false, .add = true}},
        {false, false, true, {.take = false, .audition = false, .add = true}},
        {true, true, false, {.take = true, .audition = false, .add = false}},
        {false, true, false, {}},
        {false, false, false, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ManualCutForm::controls(c.canCapture, c.previewReady, c.canAdd), c.expected)
            << c.canCapture << c.previewReady << c.canAdd;
}

class StudioManualCutTest : public PlaybackTest {
  protected:
    // The form on a plain window (the popover's content without the popup).
    ManualCutForm& openForm() {
        host = std::make_unique<Host>();
        auto* made = new ManualCutForm(*workspace, host.get());
        host->hold(*made);
        host->show();
        form = made;
        return *made;
    }
    // Replaces the text of a field as a person would, and lets the form follow the controller.
    static void type(StudioField& field, const QString& text) {
        field.selectAll();
        if (text.isEmpty())
            QTest::keyClick(&field, Qt::Key_Backspace);
        else
            QTest::keyClicks(&field, text);
        settle();
    }
    Controls shown() const {
        EXPECT_EQ(form->takeStartButton().isEnabled(), form->takeEndButton().isEnabled());
        EXPECT_EQ(form->originalButton().isEnabled(), form->editedButton().isEnabled());
        return {.take = form->takeStartButton().isEnabled(),
                .audition = form->originalButton().isEnabled(),
                .add = form->addButton().isEnabled()};
    }
    std::string hint() const { return form->hintLabel().text().toStdString(); }

    std::unique_ptr<Host> host;
    ManualCutForm* form = nullptr;
};

TEST_F(StudioManualCutTest, TheHintSaysWhatTheTypedRangeWouldDo) {
    // Removed pauses at 1–2, 4–5.5 and 7–7.5 of a 10 s recording.
    openReady();
    openForm();
    struct Case {
        const char* start;
        const char* end;
        std::string hint;
        bool valid;
    };
    const Case cases[] = {
        {"x", "1", "填写秒数或分:秒", false},
        {"1", "", "填写秒数或分:秒", false},
        {"1:75", "2", "填写秒数或分:秒", false},
        {"-1", "1", "时间须在原片范围内", false},
        {"9", "10.01", "时间须在原片范围内", false},
        {"0", "0.08", "区间需长于0.08秒", false},
        {"3", "2", "区间需长于0.08秒", false},
        {"1", "2", "此区间已添加", false},
        {"0:04", "0:05.5", "此区间已添加", false},
        {"0", "0.0801", "区间 0.08 秒 · 添加后预计多删 0.08 秒", true},
        {"2.5", "3", "区间 0.50 秒 · 添加后预计多删 0.50 秒", true},
        // Overlapping a removed pause: only the new part counts.
        {"1.5", "2.5", "区间 1.00 秒 · 添加后预计多删 0.50 秒", true},
        {"3.5", "8", "区间 4.50 秒 · 添加后预计多删 2.50 秒", true},
        // Inside one: nothing more is deleted.
        {"1.2", "1.8", "区间 0.60 秒 · 添加后预计多删 0.00 秒", true},
        {"9", "10", "区间 1.00 秒 · 添加后预计多删 1.00 秒", true},
        {"0:08.5", "0:09.25", "区间 0.75 秒 · 添加后预计多删 0.75 秒", true},
    };
    for (const auto& c : cases) {
        type(form->startField(), c.start);
        type(form->endField(), c.end);
        EXPECT_EQ(workspace->review().manualStart, c.start) << "typing writes the controller";
        EXPECT_EQ(workspace->review().manualEnd, c.end);
        EXPECT_EQ(hint(), c.hint) << c.start << " … " << c.end;
        const Controls expected{.take = true, .audition = c.valid, .add = c.valid};
        EXPECT_EQ(shown(), expected) << c.start << " … " << c.end;
    }
}

TEST_F(StudioManualCutTest, WithoutAProjectOnlyTheFieldsWork) {
    openForm();
    EXPECT_EQ(hint(), "添加后才会删除");
    EXPECT_EQ(shown(), Controls{});
    EXPECT_TRUE(form->startField().isEnabled());
    EXPECT_TRUE(form->endField().isEnabled());
}

TEST_F(StudioManualCutTest, EachSituationAllowsItsButtons) {
    struct Case {
        const char* name;
        bool previewReady;
        std::function<void()> arrange;
        Controls expected;
    };
    const Case cases[] = {
        {"ready", true, [] {}, {.take = true, .audition = true, .add = true}},
        {"preview not ready", false, [] {}, {.take = false, .audition = false, .add = true}},
        {"job running",
         true,
         [&] {
             analysis.hold = true;
             workspace->analyze();
             ASSERT_TRUE(workspace->job().busy);
         },
         {}},
        {"options await a new analysis",
         true,
         [&] {
             CutOptions options = workspace->detection().cutOptions;
             options.thresholdDB -= 6;
             workspace->setCutOptions(options);
             ASSERT_TRUE(workspace->guards().needsAnalysis);
         },
         {}},
        {"boundary dragged",
         true,
         [&] {
             workspace->selectCutRow(cut(0).id, false, false);
             workspace->beginWaveformBoundary(cut(0).id, CutBoundary::end);
             ASSERT_TRUE(workspace->waveform().boundaryDrag);
         },
         {}},
        {"adjustment draft playing",
         true,
         [&] {
             workspace->beginAudition(cut(0), *workspace->document().project, AuditionMode::original, true,
                                      false);
             playAudition();
         },
         {}},
        {"own manual audition playing",
         true,
         [&] {
             workspace->auditionManual(AuditionMode::edited);
             playAudition();
             ASSERT_TRUE(workspace->auditionIsManual());
         },
         {.take = false, .audition = true, .add = true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.reset();
        workspace = makeWorkspace();
        if (c.previewReady)
            openReady();
        else
            open(sourceA);
        workspace->setManualStart("2.5");
        workspace->setManualEnd("3");
        openForm();
        c.arrange();
        settle();
        EXPECT_EQ(shown(), c.expected);
        EXPECT_TRUE(form->startField().isEnabled());
        EXPECT_TRUE(form->endField().isEnabled());
        host.reset();
        analysis.hold = false;
        // Released only when held: a release with nobody waiting would let the next hold pass.
        if (workspace->job().busy) analysis.release();
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    }
}

TEST_F(StudioManualCutTest, FieldsShowTheControllersTextsAndKeepTheCaretWhileTyping) {
    openReady();
    workspace->setManualStart("2.5");
    workspace->setManualEnd("3");
    openForm();
    EXPECT_EQ(form->startField().text(), "2.5");
    EXPECT_EQ(form->endField().text(), "3");
    EXPECT_EQ(form->startField().placeholderText().toStdString(), "起点");
    EXPECT_EQ(form->endField().placeholderText().toStdString(), "终点");

    // Typing in the middle: the controller takes the text and the caret stays after the digit.
    StudioField& start = form->startField();
    start.setFocus();
    start.setCursorPosition(1);
    QTest::keyClick(&start, Qt::Key_0);
    settle();
    EXPECT_EQ(workspace->review().manualStart, "20.5");
    EXPECT_EQ(start.cursorPosition(), 2);
    // Another text set elsewhere (a menu command) reaches its field; this one is left alone.
    workspace->setManualEnd("22");
    settle();
    EXPECT_EQ(form->endField().text(), "22");
    EXPECT_EQ(start.cursorPosition(), 2);
    EXPECT_EQ(start.text(), "20.5");

    // The take buttons write the playback position into the controller's texts.
    ASSERT_TRUE(workspace->jumpToSourceTime("6.25"));
    settle();
    QTest::mouseClick(&form->takeEndButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(Workspace::manualSeconds(workspace->review().manualEnd), 6.25);
    EXPECT_EQ(form->endField().text().toStdString(), workspace->review().manualEnd);
    EXPECT_EQ(start.text(), "20.5");
}

TEST_F(StudioManualCutTest, ThePopoverAddsTheRangeThenReadsAlreadyAdded) {
    openReady();
    Host anchorWindow;
    anchorWindow.resize(500, 80);
    anchorWindow.show();
    QPointer<ManualCutPopover> popover = new ManualCutPopover(*workspace, &anchorWindow);
    popover->present();
    ManualCutForm& shownForm = popover->form();
    form = &shownForm;
    EXPECT_EQ(shownForm.width(), 420);

    type(shownForm.startField(), "2.5");
    type(shownForm.endField(), "3.0");
    EXPECT_EQ(hint(), "区间 0.50 秒 · 添加后预计多删 0.50 秒");
    saveShot(*popover, "manual-cut-popover");
    ASSERT_TRUE(shownForm.addButton().isEnabled());
    QTest::mouseClick(&shownForm.addButton(), Qt::LeftButton);

    ASSERT_EQ(workspace->document().project->cuts.size(), 4u);
    EXPECT_EQ(cut(1).start, 2.5);
    EXPECT_EQ(cut(1).end, 3.0);
    settle();
    ASSERT_FALSE(popover.isNull()) << "adding leaves the popover open";
    EXPECT_EQ(shownForm.startField().text(), "2.5");
    EXPECT_EQ(shownForm.endField().text(), "3.0");
    EXPECT_EQ(hint(), "此区间已添加");
    EXPECT_FALSE(shownForm.addButton().isEnabled());
    EXPECT_FALSE(shownForm.originalButton().isEnabled());
    saveShot(*popover, "manual-cut-popover-added");

    // A changed text is a new range again.
    QTest::keyClick(&shownForm.endField(), Qt::Key_5);
    settle();
    EXPECT_EQ(hint(), "区间 0.55 秒 · 添加后预计多删 0.05 秒");
    EXPECT_TRUE(shownForm.addButton().isEnabled());
    popover->close();
    EXPECT_TRUE(waitUntil([&] { return popover.isNull(); }));
}

}  // namespace
}  // namespace talvian::test
