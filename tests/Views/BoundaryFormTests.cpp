// The typed edges of one pause: what the two fields accept, that an untouched field keeps the
// stored edge to the last bit, the draft audition, and the popover's ways of closing.

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <bit>
#include <cstdint>

#include "../Workspace/PlaybackFixture.h"
#include "Kit/StudioControls.h"
#include "Support/NumberText.h"
#include "Views/BoundaryForm.h"

namespace talvian::test {
namespace {

const std::string kInvalid = "请输入有效的秒数。";
const std::string kTooShort = "终点应比起点晚超过 0.08 秒。";

TEST(CutAdjustmentValidation, ReadsTheTextsByTheEditRules) {
    // A pause whose edges have more digits than the fields show.
    CutRegion cut(1.23456789, 2.98765432, true);
    const double duration = 10;
    const std::string start = fixedDecimal(cut.start, 4);
    const std::string end = fixedDecimal(cut.end, 4);
    struct Case {
        std::string start, end;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {start, end, std::nullopt},
        {"1.5", end, std::nullopt},
        {"1,5", end, kInvalid},
        {" 1.5", end, kInvalid},
        {"1.5 ", end, kInvalid},
        {"", end, kInvalid},
        {start, "", kInvalid},
        {"inf", end, kInvalid},
        {start, "nan", kInvalid},
        {start, "1e999", kInvalid},
        {"-0.1", end, "范围应在 0 到 10.0000 秒内。"},
        {start, "10.0001", "范围应在 0 到 10.0000 秒内。"},
        {start, "10", std::nullopt},
        {"0", "0.08", kTooShort},
        {"0", "0.0801", std::nullopt},
        {"3", "2", kTooShort},
        // The range rule is checked before the length.
        {"-1", "-0.95", "范围应在 0 到 10.0000 秒内。"},
    };
    for (const auto& item : cases)
        EXPECT_EQ(BoundaryForm::validation(item.start, item.end, cut, duration), item.message)
            << '"' << item.start << "\" … \"" << item.end << '"';
    EXPECT_EQ(BoundaryForm::validation("0", "1", cut, 0.12345), "范围应在 0 到 0.1235 秒内。");
}

TEST(StudioPopoverPlacement, BelowTheAnchorUnlessThereIsNoRoom) {
    const QRect screen(0, 0, 1000, 800);
    const QSize size(380, 300);
    // Centred below the anchor, 6 px apart.
    EXPECT_EQ(StudioPopover::placement(QRect(400, 100, 24, 28), size, screen), QPoint(222, 134));
    // No room below: above the anchor.
    EXPECT_EQ(StudioPopover::placement(QRect(400, 600, 24, 28), size, screen), QPoint(222, 294));
    // Kept on the screen at both sides.
    EXPECT_EQ(StudioPopover::placement(QRect(2, 100, 24, 28), size, screen).x(), 4);
    EXPECT_EQ(StudioPopover::placement(QRect(990, 100, 24, 28), size, screen).x(), 1000 - 4 - 380);
}

class CutAdjustmentTest : public PlaybackTest {
  protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        analysis.cuts = [](const CutOptions&) {
            return std::vector<CutRegion>{CutRegion(1.23456789, 2.98765432, true), CutRegion(4, 5.5, true)};
        };
    }
    // The form of the first pause, as a popover over a host window.
    BoundaryFormPopover& openForm() {
        host = std::make_unique<QWidget>();
        host->resize(400, 300);
        host->show();
        auto* popover = new BoundaryFormPopover(*workspace, cut(0),
                                                workspace->document().project->info.duration, host.get());
        popover->present();
        shown = popover;
        return *popover;
    }
    BoundaryForm& form() { return shown->form(); }
    void type(StudioField& field, const QString& text) {
        field.selectAll();
        QTest::keyClicks(&field, text);
    }

    std::unique_ptr<QWidget> host;
    QPointer<BoundaryFormPopover> shown;
};

TEST_F(CutAdjustmentTest, ApplyingUntouchedFieldsKeepsTheEdgesBitForBit) {
    openReady();
    const CutRegion before = cut(0);
    openForm();
    EXPECT_EQ(form().startField().text(), "1.2346");
    EXPECT_EQ(form().endField().text(), "2.9877");
    EXPECT_TRUE(form().applyButton().isEnabled());
    QTest::mouseClick(&form().applyButton(), Qt::LeftButton);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(cut(0).start), std::bit_cast<std::uint64_t>(before.start));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(cut(0).end), std::bit_cast<std::uint64_t>(before.end));
    // The popover closed itself.
    EXPECT_TRUE(waitUntil([&] { return shown.isNull(); }));
}

TEST_F(CutAdjustmentTest, ReturnAppliesATypedRangeAsOneUndoStepOnlyWhileValid) {
    openReady();
    const CutRegion before = cut(0);
    openForm();
    type(form().endField(), "1.3");
    EXPECT_EQ(form().validationLabel().text().toStdString(), kTooShort);
    EXPECT_TRUE(form().validationLabel().isVisibleTo(&form()));
    EXPECT_FALSE(form().applyButton().isEnabled());
    QTest::keyClick(&form().endField(), Qt::Key_Return);
    EXPECT_EQ(cut(0), before) << "an invalid range is never applied";
    ASSERT_FALSE(shown.isNull()) << "the popover stays open";

    type(form().startField(), "0.75");
    type(form().endField(), "3.5");
    EXPECT_FALSE(form().validationLabel().isVisibleTo(&form()));
    QTest::keyClick(&form().endField(), Qt::Key_Return);
    EXPECT_EQ(cut(0).start, 0.75);
    EXPECT_EQ(cut(0).end, 3.5);
    EXPECT_TRUE(waitUntil([&] { return shown.isNull(); }));
    workspace->undoCut();
    EXPECT_EQ(cut(0).start, before.start);
    EXPECT_EQ(cut(0).end, before.end);
}

TEST_F(CutAdjustmentTest, EscapeAndAClickOutsideCloseWithoutChangingTheProject) {
    openReady();
    const auto project = *workspace->document().project;
    for (const bool escape : {true, false}) {
        auto& popover = openForm();
        QSignalSpy closed(&popover, &StudioPopover::closed);
        type(form().startField(), "0.5");
        if (escape)
            QTest::keyClick(&form().startField(), Qt::Key_Escape);
        else
            popover.close();  // what Qt does on a click outside a popup
        EXPECT_TRUE(waitUntil([&] { return shown.isNull(); }));
        EXPECT_EQ(closed.count(), 1);
        EXPECT_EQ(*workspace->document().project, project);
    }
}

TEST_F(CutAdjustmentTest, TheAnchorGoingAwayStillReportsTheClose) {
    openReady();
    auto& popover = openForm();
    QSignalSpy closed(&popover, &StudioPopover::closed);
    host.reset();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(shown.isNull());
}

TEST_F(CutAdjustmentTest, DraftAuditionNeedsTheReadyPreviewAndStopsWhenTheTextChanges) {
    open(sourceA);
    openForm();
    EXPECT_FALSE(form().originalButton().isEnabled()) << "the preview is not ready";
    EXPECT_FALSE(form().editedButton().isEnabled());
    EXPECT_TRUE(form().applyButton().isEnabled());
    preview().finishLoading(analysis.duration);
    ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
    settle();
    EXPECT_TRUE(form().originalButton().isEnabled());

    type(form().endField(), "3.25");
    QTest::mouseClick(&form().editedButton(), Qt::LeftButton);
    ASSERT_TRUE(workspace->auditionIsDraft());
    EXPECT_EQ(workspace->auditionID(), cut(0).id);
    EXPECT_EQ(workspace->playback().auditionMode, AuditionMode::edited);
    playAudition();
    // The draft is heard, the project keeps its pause.
    EXPECT_EQ(cut(0).end, 2.98765432);

    QTest::keyClick(&form().endField(), Qt::Key_5);
    settle();
    EXPECT_FALSE(workspace->auditionID().has_value()) << "typing stops the draft audition";

    // Closing stops a draft audition of this pause, but not one of another pause.
    workspace->audition(cut(1).id, AuditionMode::original);
    playAudition();
    QTest::keyClick(&form().endField(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return shown.isNull(); }));
    EXPECT_EQ(workspace->auditionID(), cut(1).id);
}

TEST_F(CutAdjustmentTest, LooksLikeAStudioForm) {
    openReady();
    openForm();
    type(form().startField(), "-1");
    settle();
    EXPECT_EQ(form().width(), 380);
    EXPECT_EQ(form().validationLabel().text().toStdString(), "范围应在 0 到 10.0000 秒内。");
    const QByteArray folder = qgetenv("TALVIAN_VIEW_SHOTS");
    if (!folder.isEmpty()) shown->grab().save(QString::fromUtf8(folder) + "/cut-adjustment.png");
}

}  // namespace
}  // namespace talvian::test
