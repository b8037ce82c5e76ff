#include "Process/Runner.h"
#include "WorkspaceFixture.h"

#include "Model/Localization.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

TEST_F(WorkspaceTest, StartsIdleWithTheWelcomeTextAndNoSession) {
    EXPECT_FALSE(workspace->job().busy);
    EXPECT_EQ(workspace->job().status, "导入一段口播，先看看哪些停顿可以省去。");
    EXPECT_TRUE(workspace->guards().needsAnalysis);
    EXPECT_FALSE(workspace->document().sessionBackupName);
    EXPECT_FALSE(workspace->document().sessionBackupIssue);
    EXPECT_TRUE(workspace->document().recentSessions.empty());
    EXPECT_EQ(workspace->review().manualStart, "0");
    EXPECT_EQ(workspace->review().manualEnd, "1");
}

TEST(WorkspaceSettings, OutputFolderComesFromTheFirstOutputArgument) {
    TempDir folder;
    FakePlayerFactory players;
    const auto made = [&players](std::vector<std::string> arguments) {
        return Workspace(players, std::nullopt, std::move(arguments)).exports().outputFolder;
    };
    EXPECT_EQ(made({"Talvian", "--output", "/tmp/x", "--output", "/tmp/y"}), "/tmp/x");
    EXPECT_EQ(made({"Talvian", "--output"}).filename(), "Talvian 输出");
    // A relative folder is taken from the folder the program starts in, and kept whole.
    const fs::path start = fs::current_path();
    const struct {
        std::string argument;
        fs::path expected;
    } relative[] = {
        {"out", start / "out"},
        {"./输出/", start / "输出"},
        {"../a/./b", start.parent_path() / "a" / "b"},
        {"/tmp/x/../y", "/tmp/y"},
    };
    for (const auto& [argument, expected] : relative)
        EXPECT_EQ(made({"Talvian", "--output", argument}), expected) << argument;
    EXPECT_EQ(made({}).filename(), "Talvian 输出");
    Workspace withoutBackup(players, std::nullopt);
    EXPECT_FALSE(withoutBackup.document().sessionBackupIssue);
    EXPECT_TRUE(withoutBackup.document().recentSessions.empty());
}

TEST_F(WorkspaceTest, NeedsAnalysisComparesSettingsWithTheAnalysedOnes) {
    open(sourceA);
    EXPECT_FALSE(workspace->guards().needsAnalysis);
    CutOptions options = workspace->detection().cutOptions;
    options.padding += 1e-13;
    workspace->setCutOptions(options);
    EXPECT_FALSE(workspace->guards().needsAnalysis);
    options.padding += 1e-11;
    workspace->setCutOptions(options);
    EXPECT_TRUE(workspace->guards().needsAnalysis);
    workspace->restoreAnalyzedOptions();
    EXPECT_FALSE(workspace->guards().needsAnalysis);
    options = workspace->detection().cutOptions;
    options.paddingRight = 0.3;
    workspace->setCutOptions(options);
    EXPECT_TRUE(workspace->guards().needsAnalysis);
}

TEST_F(WorkspaceTest, ASecondJobIsRefusedWhileTheFirstRuns) {
    analysis.hold = true;
    workspace->loadSource(sourceA, true);
    ASSERT_TRUE(workspace->job().busy);
    ASSERT_TRUE(waitUntil([&] { return workspace->job().progress == 0.5; }));
    EXPECT_EQ(workspace->job().status, "解码原始音频");

    workspace->loadSource(sourceB, true);
    EXPECT_EQ(workspace->job().notice, "请等待当前任务完成，或先取消任务。");
    EXPECT_EQ(workspace->document().source, sourceA);
    workspace->analyze();
    workspace->sample();
    EXPECT_EQ(analysis.calls().size(), 1u);

    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    ASSERT_TRUE(workspace->document().project);
    EXPECT_EQ(workspace->document().project->source, sourceA.string());
    EXPECT_EQ(workspace->job().progress, 1.0);
    EXPECT_EQ(workspace->job().status, "找到 3 段停顿。先试听，再决定保留或删除。");
}

TEST_F(WorkspaceTest, CancelDuringAnalysisStaysBusyUntilTheAnalysisReportsBack) {
    analysis.hold = true;
    workspace->loadSource(sourceA, true);
    ASSERT_TRUE(waitUntil([&] { return workspace->job().progress == 0.5; }));
    workspace->cancelCut();
    EXPECT_TRUE(workspace->job().busy);
    analysis.release();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().status, "任务已取消，原文件未改动。");
    EXPECT_EQ(workspace->job().notice, "任务已取消，原文件未改动。");
    EXPECT_FALSE(workspace->document().project);
    EXPECT_EQ(workspace->job().progress, 0);
}

TEST_F(WorkspaceTest, FailuresReachStatusAndNoticeAndKeepTheProject) {
    open(sourceA);
    const auto before = *workspace->document().project;
    analysis.thrown = std::make_exception_ptr(
        ProcessFailure(ProcessFailure::Kind::interrupted, "Exiting normally, received signal 15.\n"));
    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -40;
    workspace->setCutOptions(options);
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().notice, "处理被中断。原片和已有剪辑已保留，可稍后重试。");
    EXPECT_EQ(workspace->job().status, "处理被中断。原片和已有剪辑已保留，可稍后重试。");
    EXPECT_EQ(workspace->document().project, before);
}
