#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <functional>

#include "Kit/StudioControls.h"
#include "MediaTestSupport.h"
#include "Shell/DetectionSettingsPanel.h"
#include "ShellFixture.h"

using namespace talvian;
using namespace talvian::test;

namespace {

CutOptions options(double threshold, double minimum, double padding,
                   std::optional<double> right = std::nullopt, DetectionMode mode = DetectionMode::fixed) {
    CutOptions made(threshold, minimum, padding, mode);
    made.paddingRight = right;
    return made;
}

}  // namespace

// Which edits ask for a preview: only those after which the draft differs in any of its five
// fields, and then with exactly the new draft.
TEST(DetectionDraftTest, AnEditRequestsAPreviewOnlyWhenTheDraftReallyChanged) {
    using Edit = std::function<std::optional<CutOptions>(DetectionDraft&)>;
    const auto stepRight = [](double value, double lower, double upper) {
        return StudioSlider::stepped(value, +1, lower, upper);
    };
    struct Case {
        const char* name;
        CutOptions start;
        Edit edit;
        std::optional<CutOptions> request;
    };
    const Case cases[] = {
        {"the card of the preset the draft already matches", options(-42, 0.8, 0.3),
         [](DetectionDraft& d) { return d.choose(DetectionPreset::natural); }, std::nullopt},
        {"another card keeps mode and threshold",
         options(-42, 0.8, 0.3, std::nullopt, DetectionMode::adaptive),
         [](DetectionDraft& d) { return d.choose(DetectionPreset::tight); },
         options(-42, 0.5, 0.16, std::nullopt, DetectionMode::adaptive)},
        {"the matching card clears a right edge", options(-35, 0.8, 0.3, 0.3),
         [](DetectionDraft& d) { return d.choose(DetectionPreset::natural); }, options(-35, 0.8, 0.3)},
        {"right edge on starts at the edge", options(-35, 0.5, 0.16),
         [](DetectionDraft& d) { return d.setSeparateSides(true); }, options(-35, 0.5, 0.16, 0.16)},
        {"right edge on while on", options(-35, 0.5, 0.16, 0.4),
         [](DetectionDraft& d) { return d.setSeparateSides(true); }, std::nullopt},
        {"right edge off", options(-35, 0.5, 0.16, 0.4),
         [](DetectionDraft& d) { return d.setSeparateSides(false); }, options(-35, 0.5, 0.16)},
        {"right edge off while off", options(-35, 0.5, 0.16),
         [](DetectionDraft& d) { return d.setSeparateSides(false); }, std::nullopt},
        {"reset on the defaults", CutOptions(), [](DetectionDraft& d) { return d.reset(); }, std::nullopt},
        {"reset from a custom threshold", options(-50, 0.8, 0.3), [](DetectionDraft& d) { return d.reset(); },
         CutOptions()},
        {"reset from adaptive mode alone", options(-35, 0.8, 0.3, std::nullopt, DetectionMode::adaptive),
         [](DetectionDraft& d) { return d.reset(); }, CutOptions()},
        {"reset from a right edge alone", options(-35, 0.8, 0.3, 0.3),
         [](DetectionDraft& d) { return d.reset(); }, CutOptions()},
        {"a threshold step", options(-35, 0.8, 0.3),
         [&](DetectionDraft& d) { return d.setThreshold(stepRight(d.options().thresholdDB, -80, -10)); },
         options(-34.3, 0.8, 0.3)},
        {"a threshold step at the slider's end", options(-10, 0.8, 0.3),
         [&](DetectionDraft& d) { return d.setThreshold(stepRight(d.options().thresholdDB, -80, -10)); },
         std::nullopt},
        {"a step brings a loaded minimum pause into the slider's range", options(-35, 5, 0.3),
         [&](DetectionDraft& d) {
             return d.setMinimumSilence(stepRight(d.options().minimumSilence, 0.15, 3));
         },
         options(-35, 3, 0.3)},
        {"the same mode again", options(-35, 0.8, 0.3),
         [](DetectionDraft& d) { return d.setMode(DetectionMode::fixed); }, std::nullopt},
        {"the other mode", options(-35, 0.8, 0.3),
         [](DetectionDraft& d) { return d.setMode(DetectionMode::adaptive); },
         options(-35, 0.8, 0.3, std::nullopt, DetectionMode::adaptive)},
        {"a right edge equal to the edge is still a change", options(-35, 0.8, 0.3),
         [](DetectionDraft& d) { return d.setPaddingRight(0.3); }, options(-35, 0.8, 0.3, 0.3)},
        {"the smallest padding change", options(-35, 0.8, 0.3),
         [](DetectionDraft& d) { return d.setPadding(std::nextafter(0.3, 1.0)); },
         options(-35, 0.8, std::nextafter(0.3, 1.0))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DetectionDraft draft(c.start);
        EXPECT_EQ(c.edit(draft), c.request);
        EXPECT_EQ(draft.options(), c.request.value_or(c.start));
    }
}

TEST(DetectionDraftTest, OnlyOptionsMatchingNoPresetOpenTheAdvancedSection) {
    const std::pair<CutOptions, bool> cases[] = {
        {options(-35, 0.8, 0.3), false},
        {options(-60, 1.2, 0.3, std::nullopt, DetectionMode::adaptive),
         false},  // threshold and mode not compared
        {options(-35, 0.5, 0.16), false},
        {options(-35, 0.8, 0.3, 0.3), true},  // a right edge matches no preset
        {options(-35, 0.8, 0.31), true},
        {options(-35, 0.7, 0.3), true},
    };
    for (const auto& [start, open] : cases) {
        SCOPED_TRACE(start.minimumSilence);
        EXPECT_EQ(DetectionDraft::opensAdvanced(start), open);
    }
}

TEST(DetectionSettingsTextsTest, NumbersUseThePanelsFormats) {
    using namespace DetectionSettingsTexts;
    const std::pair<std::string, std::string> cases[] = {
        {pauseText(DetectionPreset::gentle), "停顿 1.2 s"},
        {pauseText(DetectionPreset::natural), "停顿 0.8 s"},
        {pauseText(DetectionPreset::tight), "停顿 0.5 s"},
        {edgeText(DetectionPreset::gentle), "边缘 0.30 s"},
        {edgeText(DetectionPreset::tight), "边缘 0.16 s"},
        {decibelText(-35), "-35 dB"},
        {decibelText(-34.3), "-34 dB"},
        {decibelText(-10), "-10 dB"},
        {secondsText(0.8), "0.80 s"},
        {secondsText(5), "5.00 s"},
        {secondsText(0.155), "0.15 s"},
    };
    for (const auto& [shown, expected] : cases) EXPECT_EQ(shown, expected);
}

// "应用" is enabled only for a finished preview of exactly the draft.
TEST(DetectionSettingsTextsTest, ApplyNeedsAFinishedPreviewOfExactlyTheDraft) {
    const CutOptions draft = options(-45, 0.8, 0.3);
    CutProject made;
    made.options = draft;
    CutProject other = made;
    other.options.padding = std::nextafter(0.3, 1.0);
    CutProject rightEdge = made;
    rightEdge.options.paddingRight = 0.3;
    struct Case {
        const char* name;
        bool calculating;
        std::optional<CutProject> preview;
        bool enabled;
    };
    const Case cases[] = {
        {"no preview", false, std::nullopt, false},
        {"still calculating", true, std::nullopt, false},
        {"a preview while the next one is calculated", true, made, false},
        {"a preview of other options", false, other, false},
        {"a preview with a right edge the draft lacks", false, rightEdge, false},
        {"a preview of the draft", false, made, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DetectionSettingsTexts::canApply(c.calculating, c.preview, draft), c.enabled);
    }
}

TEST(DetectionSettingsTextsTest, TheSummaryLineAndTheQuietHintFollowThePreview) {
    using DetectionSettingsTexts::SummaryLine;
    CutProject current;
    current.info.duration = 60;
    current.cuts = {CutRegion(1, 2, true), CutRegion(3, 4, false)};
    CutProject preview;
    preview.info.duration = 60;
    preview.cuts = {CutRegion(1, 3, true), CutRegion(2, 4, true), CutRegion(10, 11, false)};
    CutProject overCut = preview;
    overCut.info.duration = 2;
    overCut.cuts = {CutRegion(0, 5, true)};
    const std::string issue = "无法读取音频。";
    struct Case {
        const char* name;
        bool calculating;
        std::optional<CutProject> preview;
        std::optional<std::string> issue;
        std::optional<CutProject> project;
        SummaryLine line;
    };
    const Case cases[] = {
        {"calculating wins", true, preview, issue, current, {true, "正在计算…"}},
        // Overlapping removals count once: 60 − 3 s kept.
        {"a preview", false, preview, issue, current, {false, "2 → 3 段停顿，剪后 00:57.0"}},
        {"a preview without a project",
         false,
         preview,
         std::nullopt,
         std::nullopt,
         {false, "0 → 3 段停顿，剪后 00:57.0"}},
        {"removals longer than the file",
         false,
         overCut,
         std::nullopt,
         current,
         {false, "2 → 1 段停顿，剪后 00:00.0"}},
        {"an issue", false, std::nullopt, issue, current, {false, issue}},
        {"nothing yet", false, std::nullopt, std::nullopt, current, {false, "修改参数即可预览结果。"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DetectionSettingsTexts::summaryLine(c.calculating, c.preview, c.issue, c.project), c.line);
    }

    // The hint speaks only of a project made with exactly the draft.
    CutProject quiet;
    quiet.options = options(-35, 0.8, 0.3);
    quiet.effectiveThresholdDB = -41.3;
    ASSERT_TRUE(quiet.quietRecordingHint());
    CutProject quietPreview = quiet;
    quietPreview.options.thresholdDB = -30;
    const CutOptions draft = quiet.options;
    EXPECT_EQ(DetectionSettingsTexts::quietHint(std::nullopt, quiet, draft), quiet.quietRecordingHint());
    EXPECT_FALSE(DetectionSettingsTexts::quietHint(std::nullopt, quiet, quietPreview.options));
    // A preview of other options hides the current project's hint.
    EXPECT_FALSE(DetectionSettingsTexts::quietHint(quietPreview, quiet, draft));
    EXPECT_EQ(DetectionSettingsTexts::quietHint(quietPreview, quiet, quietPreview.options),
              quietPreview.quietRecordingHint());
}

// The panel over the real window and controller, with the scripted analysis behind the preview.
class DetectionSettingsPanelTest : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        // Fewer pauses for tighter settings, so that a preview is told apart from the edit.
        analysis.cuts = [](const CutOptions& o) {
            std::vector<CutRegion> cuts{CutRegion(1, 2, true), CutRegion(4, 5.5, true)};
            if (o.minimumSilence < 0.6) cuts.push_back(CutRegion(7, 7.5, true));
            return cuts;
        };
        showWindow();
        view().setPanelFactory([&](ModalPanel modal, WorkspaceView& v) -> QWidget* {
            if (modal == ModalPanel::settings) return new DetectionSettingsPanel(*workspace, v);
            if (modal == ModalPanel::exportPanel) return new QLabel("x");
            return nullptr;
        });
    }
    DetectionSettingsPanel* openPanel() {
        view().setModal(ModalPanel::settings);
        auto* panel = view().panel() ? view().panel()->findChild<DetectionSettingsPanel*>() : nullptr;
        if (panel) QCoreApplication::processEvents();
        return panel;
    }
    void settle() {
        waitUntil([] { return false; }, 150);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST_F(DetectionSettingsPanelTest, OpeningRequestsNothingAndTheMatchingCardRequestsNothing) {
    open(sourceA);
    const std::size_t calls = analysis.calls().size();
    auto* panel = openPanel();
    ASSERT_TRUE(panel);
    settle();
    EXPECT_EQ(analysis.calls().size(), calls);
    EXPECT_FALSE(workspace->detection().calculating);
    EXPECT_EQ(panel->summaryLabel().text(), "修改参数即可预览结果。");
    EXPECT_FALSE(panel->applyButton().isEnabled());
    EXPECT_FALSE(panel->advancedOpen());
    EXPECT_TRUE(panel->presetHighlighted(DetectionPreset::natural));
    EXPECT_FALSE(panel->presetHighlighted(DetectionPreset::tight));

    QTest::mouseClick(&panel->presetCard(DetectionPreset::natural), Qt::LeftButton);
    settle();
    EXPECT_EQ(analysis.calls().size(), calls);
    EXPECT_FALSE(workspace->detection().calculating);
    saveShot(*view().panel(), "detection-settings-natural");
}

TEST_F(DetectionSettingsPanelTest, ApplyingTightInstallsTheDraftAndKeepsTheReplacedEdit) {
    // A real recording, whose facts the analysis reads with ffprobe.
    makeMedia("-f lavfi -i sine=f=440:r=16000:d=10 -c:a pcm_s16le", sourceA);
    analysis.probeMedia = true;
    open(sourceA);
    const auto before = workspace->document().project->cuts;
    auto* panel = openPanel();
    ASSERT_TRUE(panel);
    QTest::mouseClick(&panel->presetCard(DetectionPreset::tight), Qt::LeftButton);
    // One turn: the panel follows the controller, the preview's debounce has not run out yet.
    QCoreApplication::processEvents();
    EXPECT_TRUE(panel->presetHighlighted(DetectionPreset::tight));
    EXPECT_FALSE(panel->presetHighlighted(DetectionPreset::natural));
    EXPECT_TRUE(workspace->detection().calculating);
    EXPECT_EQ(panel->summaryLabel().text(), "正在计算…");
    EXPECT_FALSE(panel->applyButton().isEnabled());
    ASSERT_TRUE(waitUntil([&] { return panel->applyButton().isEnabled(); }));
    EXPECT_EQ(panel->summaryLabel().text(), "2 → 3 段停顿，剪后 00:07.0");
    const CutOptions draft = panel->draft();
    EXPECT_EQ(draft, options(-35, 0.5, 0.16));

    QTest::mouseClick(&panel->applyButton(), Qt::LeftButton);
    EXPECT_FALSE(view().modal());
    EXPECT_EQ(workspace->detection().cutOptions, draft);
    EXPECT_EQ(workspace->document().project->options, draft);
    EXPECT_EQ(workspace->document().project->cuts.size(), 3u);
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);
    EXPECT_EQ(workspace->document().recentSessions[0].origin, "reanalysis");
}

TEST_F(DetectionSettingsPanelTest, ChangingTheDraftAfterAPreviewDisablesApplyUntilTheNextOne) {
    open(sourceA);
    auto* panel = openPanel();
    ASSERT_TRUE(panel);
    QTest::mouseClick(&panel->presetCard(DetectionPreset::gentle), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel->applyButton().isEnabled(); }));
    const std::size_t calls = analysis.calls().size();

    // Turning on the right edge: a new slider at the edge, no card highlighted, a new preview.
    panel->advancedButton().click();
    ASSERT_TRUE(panel->advancedOpen());
    QCoreApplication::processEvents();
    EXPECT_FALSE(panel->paddingRightRow().isVisible());
    QTest::mouseClick(&panel->separateSidesToggle(), Qt::LeftButton);
    EXPECT_TRUE(panel->paddingRightRow().isVisible());
    EXPECT_EQ(panel->draft().paddingRight, 0.3);
    for (DetectionPreset preset : kAllDetectionPresets) EXPECT_FALSE(panel->presetHighlighted(preset));
    EXPECT_FALSE(panel->applyButton().isEnabled());
    ASSERT_TRUE(waitUntil([&] { return panel->applyButton().isEnabled(); }));
    EXPECT_EQ(analysis.calls().size(), calls + 1);
    EXPECT_EQ(analysis.calls().back(), panel->draft());

    // An arrow step on the threshold slider.
    panel->thresholdSlider().setFocus();
    QTest::keyClick(&panel->thresholdSlider(), Qt::Key_Right);
    EXPECT_NEAR(panel->draft().thresholdDB, -34.3, 1e-9);
    EXPECT_EQ(panel->thresholdValue().text(), "-34 dB");
    EXPECT_FALSE(panel->applyButton().isEnabled());
    saveShot(*view().panel(), "detection-settings-advanced");

    // A card afterwards turns the right edge off again.
    QTest::mouseClick(&panel->presetCard(DetectionPreset::natural), Qt::LeftButton);
    EXPECT_FALSE(panel->separateSidesToggle().isChecked());
    EXPECT_FALSE(panel->paddingRightRow().isVisible());
    EXPECT_TRUE(panel->presetHighlighted(DetectionPreset::natural));
}

TEST_F(DetectionSettingsPanelTest, OptionsBeyondThePresetsOpenAdvancedAndResetRequestsTheDefaults) {
    open(sourceA);
    CutOptions custom = options(-50, 5, 0.3, 0.45);
    workspace->previewDetection(custom);
    ASSERT_TRUE(waitUntil([&] { return workspace->detection().preview.has_value(); }));
    ASSERT_TRUE(workspace->applyDetectionPreview(custom));
    const std::size_t calls = analysis.calls().size();
    auto* panel = openPanel();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->advancedOpen());
    EXPECT_TRUE(panel->paddingRightRow().isVisible());
    // Outside its slider's range the value is shown as it is.
    EXPECT_EQ(panel->thresholdValue().text(), "-50 dB");
    saveShot(*view().panel(), "detection-settings-custom");

    QTest::mouseClick(buttonWithText(*panel, "重置"), Qt::LeftButton);
    EXPECT_EQ(panel->draft(), CutOptions());
    EXPECT_TRUE(panel->presetHighlighted(DetectionPreset::natural));
    EXPECT_FALSE(panel->paddingRightRow().isVisible());
    ASSERT_TRUE(waitUntil([&] { return !workspace->detection().calculating; }));
    EXPECT_EQ(analysis.calls().size(), calls + 1);
    EXPECT_EQ(analysis.calls().back(), CutOptions());
}

// Escape, the close button, "取消", a refused apply and another panel replacing this one.
TEST_F(DetectionSettingsPanelTest, EveryWayOutCancelsThePreviewAndLeavesTheOptions) {
    open(sourceA);
    const CutOptions before = workspace->detection().cutOptions;
    const std::function<void(DetectionSettingsPanel&)> ways[] = {
        [](DetectionSettingsPanel& panel) { QTest::keyClick(&panel, Qt::Key_Escape); },
        [](DetectionSettingsPanel& panel) {
            QTest::mouseClick(buttonWithText(panel, "取消"), Qt::LeftButton);
        },
        [](DetectionSettingsPanel& panel) {
            for (auto* button : panel.findChildren<StudioButton*>())
                if (button->toolTip() == "关闭") QTest::mouseClick(button, Qt::LeftButton);
        },
        [this](DetectionSettingsPanel&) { view().setModal(ModalPanel::exportPanel); },
    };
    for (std::size_t i = 0; i < std::size(ways); ++i) {
        SCOPED_TRACE(i);
        auto* panel = openPanel();
        ASSERT_TRUE(panel);
        QPointer<DetectionSettingsPanel> alive(panel);
        analysis.hold = true;
        const std::size_t calls = analysis.calls().size();
        QTest::mouseClick(&panel->presetCard(DetectionPreset::gentle), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return analysis.calls().size() == calls + 1; }));
        ways[i](*panel);
        EXPECT_NE(view().modal(), ModalPanel::settings);
        EXPECT_FALSE(workspace->detection().calculating);
        analysis.hold = false;
        analysis.release();
        settle();
        EXPECT_FALSE(alive);
        EXPECT_FALSE(workspace->detection().preview);
        EXPECT_EQ(workspace->detection().cutOptions, before);
        view().setModal(std::nullopt);
    }

    // Apply refused while the next preview is calculated: the panel stays with its draft.
    auto* panel = openPanel();
    ASSERT_TRUE(panel);
    QTest::mouseClick(&panel->presetCard(DetectionPreset::tight), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel->applyButton().isEnabled(); }));
    QTest::mouseClick(&panel->presetCard(DetectionPreset::gentle), Qt::LeftButton);
    panel->apply();
    EXPECT_EQ(view().modal(), ModalPanel::settings);
    EXPECT_EQ(panel->draft(), options(-35, 1.2, 0.3));
    EXPECT_EQ(workspace->detection().cutOptions, before);
}
