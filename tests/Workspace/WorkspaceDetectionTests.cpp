#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

TEST_F(WorkspaceTest, RapidPreviewRequestsRunOneAnalysisWithTheLastSettings) {
    open(sourceA);
    const std::size_t before = analysis.calls().size();
    CutOptions first = workspace->cutOptions();
    first.thresholdDB = -40;
    CutOptions second = first;
    second.thresholdDB = -45;
    workspace->setDetectionPreviewDelay(std::chrono::milliseconds(200));
    workspace->previewDetection(first);
    workspace->previewDetection(second);
    EXPECT_TRUE(workspace->detectionCalculating());
    ASSERT_TRUE(waitUntil([&] { return workspace->detectionPreview().has_value(); }));
    const auto calls = analysis.calls();
    ASSERT_EQ(calls.size(), before + 1);
    EXPECT_EQ(calls.back(), second);
    EXPECT_FALSE(workspace->detectionCalculating());
}

TEST_F(WorkspaceTest, ApplyingAPreviewInstallsItOnlyForExactlyItsSettings) {
    analysis.cuts = [](const CutOptions& options) {
        return options.thresholdDB < -40
                   ? std::vector<CutRegion>{CutRegion(2, 3, true)}
                   : std::vector<CutRegion>{CutRegion(1, 2, true), CutRegion(4, 5, true)};
    };
    open(sourceA);
    CutOptions options = workspace->cutOptions();
    options.thresholdDB = -45;
    workspace->previewDetection(options);
    ASSERT_TRUE(waitUntil([&] { return workspace->detectionPreview().has_value(); }));
    CutOptions nearly = options;
    nearly.padding = std::nextafter(nearly.padding, 1.0);
    EXPECT_FALSE(workspace->applyDetectionPreview(nearly));
    EXPECT_EQ(workspace->project()->cuts.size(), 2u);

    EXPECT_TRUE(workspace->applyDetectionPreview(options));
    EXPECT_EQ(workspace->project()->cuts.size(), 1u);
    EXPECT_EQ(workspace->cutOptions(), options);
    EXPECT_FALSE(workspace->detectionPreview());
    ASSERT_EQ(workspace->recentSessions().size(), 1u);
    EXPECT_EQ(workspace->recentSessions()[0].origin, "reanalysis");
    // An installed analysis starts a fresh settings history.
    EXPECT_FALSE(workspace->canUndoOptions());
}

TEST_F(WorkspaceTest, APreviewFinishingAfterCancelOrANewSourceChangesNothing) {
    open(sourceA);
    CutOptions options = workspace->cutOptions();
    options.thresholdDB = -45;
    analysis.hold = true;
    workspace->setDetectionPreviewDelay(std::chrono::milliseconds(1));
    workspace->previewDetection(options);
    ASSERT_TRUE(waitUntil([&] { return analysis.calls().size() == 2; }));
    workspace->cancelDetectionPreview();
    analysis.hold = false;
    analysis.release();
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(workspace->detectionPreview());
    EXPECT_FALSE(workspace->detectionCalculating());

    analysis.hold = true;
    workspace->previewDetection(options);
    ASSERT_TRUE(waitUntil([&] { return analysis.calls().size() == 3; }));
    analysis.hold = false;
    workspace->loadSource(sourceB, false);
    analysis.release();
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(workspace->detectionPreview());
}

TEST_F(WorkspaceTest, AFailedPreviewOnlyFillsItsIssue) {
    open(sourceA);
    const auto status = workspace->cutStatus();
    analysis.failure = "无法读取音频。";
    workspace->previewDetection(workspace->cutOptions());
    ASSERT_TRUE(waitUntil([&] { return workspace->detectionPreviewIssue().has_value(); }));
    EXPECT_EQ(workspace->detectionPreviewIssue(), "无法读取音频。");
    EXPECT_FALSE(workspace->notice());
    EXPECT_EQ(workspace->cutStatus(), status);
}
