#include "Process/Runner.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

TEST_F(WorkspaceTest, RapidPreviewRequestsRunOneAnalysisWithTheLastSettings) {
    open(sourceA);
    const std::size_t before = analysis.calls().size();
    CutOptions first = workspace->detection().cutOptions;
    first.thresholdDB = -40;
    CutOptions second = first;
    second.thresholdDB = -45;
    workspace->setDetectionPreviewDelay(std::chrono::milliseconds(200));
    workspace->previewDetection(first);
    workspace->previewDetection(second);
    EXPECT_TRUE(workspace->detection().calculating);
    ASSERT_TRUE(waitUntil([&] { return workspace->detection().preview.has_value(); }));
    const auto calls = analysis.calls();
    ASSERT_EQ(calls.size(), before + 1);
    EXPECT_EQ(calls.back(), second);
    EXPECT_FALSE(workspace->detection().calculating);
}

TEST_F(WorkspaceTest, ApplyingAPreviewInstallsItOnlyForExactlyItsSettings) {
    analysis.cuts = [](const CutOptions& options) {
        return options.thresholdDB < -40
                   ? std::vector<CutRegion>{CutRegion(2, 3, true)}
                   : std::vector<CutRegion>{CutRegion(1, 2, true), CutRegion(4, 5, true)};
    };
    open(sourceA);
    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -45;
    workspace->previewDetection(options);
    ASSERT_TRUE(waitUntil([&] { return workspace->detection().preview.has_value(); }));
    CutOptions nearly = options;
    nearly.padding = std::nextafter(nearly.padding, 1.0);
    EXPECT_FALSE(workspace->applyDetectionPreview(nearly));
    EXPECT_EQ(workspace->document().project->cuts.size(), 2u);

    EXPECT_TRUE(workspace->applyDetectionPreview(options));
    EXPECT_EQ(workspace->document().project->cuts.size(), 1u);
    EXPECT_EQ(workspace->detection().cutOptions, options);
    EXPECT_FALSE(workspace->detection().preview);
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);
    EXPECT_EQ(workspace->document().recentSessions[0].origin, "reanalysis");
    // An installed analysis starts a fresh settings history.
    EXPECT_FALSE(workspace->guards().canUndoOptions);
}

TEST_F(WorkspaceTest, APreviewFinishingAfterCancelOrANewSourceChangesNothing) {
    open(sourceA);
    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -45;
    analysis.hold = true;
    workspace->setDetectionPreviewDelay(std::chrono::milliseconds(1));
    workspace->previewDetection(options);
    ASSERT_TRUE(waitUntil([&] { return analysis.calls().size() == 2; }));
    workspace->cancelDetectionPreview();
    analysis.hold = false;
    analysis.release();
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(workspace->detection().preview);
    EXPECT_FALSE(workspace->detection().calculating);

    analysis.hold = true;
    workspace->previewDetection(options);
    ASSERT_TRUE(waitUntil([&] { return analysis.calls().size() == 3; }));
    analysis.hold = false;
    workspace->loadSource(sourceB, false);
    analysis.release();
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(workspace->detection().preview);
}

TEST_F(WorkspaceTest, AFailedPreviewOnlyFillsItsIssueWithTheErrorsOwnSentence) {
    open(sourceA);
    const auto status = workspace->job().status;
    const std::string missing = sourceB.string();
    const std::pair<std::exception_ptr, std::string> cases[] = {
        {std::make_exception_ptr(MediaError("无法读取音频。")), "无法读取音频。"},
        {std::make_exception_ptr(ProcessTimeout()),
         "读取媒体信息超时。请重新选择原素材后再试；已有剪辑已保留。"},
        {std::make_exception_ptr(MissingProjectSource(missing)),
         "找不到项目的原素材。请将原素材放回此路径后重试：\n" + missing},
        {std::make_exception_ptr(ChangedProjectSource(missing)),
         "原素材的文件信息已变化。可重新定位并核对原片，保留已有剪辑。\n" + missing},
        // A failed child: its own words stay out of the sentence.
        {std::make_exception_ptr(ProcessFailure(ProcessFailure::Kind::incomplete,
                                                "[aist#0:0] Invalid data found when processing input")),
         "处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。"},
        {std::make_exception_ptr(
             ProcessFailure(ProcessFailure::Kind::interrupted, "Exiting normally, received signal 15.")),
         "处理被中断。原片和已有剪辑已保留，可稍后重试。"},
        {std::make_exception_ptr(std::runtime_error("basic_string::_M_create")),
         "处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。"},
    };
    for (const auto& [error, text] : cases) {
        SCOPED_TRACE(text);
        analysis.thrown = error;
        workspace->previewDetection(workspace->detection().cutOptions);
        ASSERT_TRUE(waitUntil([&] { return !workspace->detection().calculating; }));
        EXPECT_EQ(workspace->detection().issue, text);
        EXPECT_FALSE(workspace->detection().preview);
        EXPECT_FALSE(workspace->job().notice);
        EXPECT_EQ(workspace->job().status, status);
    }
}
