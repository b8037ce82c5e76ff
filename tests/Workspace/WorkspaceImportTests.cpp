#include "Model/CutMath.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

TEST_F(WorkspaceTest, LoadSourceRefusesMissingFilesAndChangesNothing) {
    open(sourceA);
    const auto before = *workspace->document().project;
    for (const std::filesystem::path& url : {folder / "gone.wav", std::filesystem::path("relative.wav")}) {
        workspace->loadSource(url, true);
        EXPECT_EQ(workspace->job().notice, "找不到素材文件，请重新导入。");
        EXPECT_EQ(workspace->document().source, sourceA);
        EXPECT_EQ(workspace->document().project, before);
    }
}

TEST_F(WorkspaceTest, ImportResetsTheSettingsToTheDefaultsBeforeAnalysing) {
    CutOptions edited(-50, 1.5, 0.1, DetectionMode::adaptive);
    workspace->setCutOptions(edited);
    window.chosen = sourceA;
    workspace->importFiles();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    ASSERT_EQ(analysis.calls().size(), 1u);
    EXPECT_EQ(analysis.calls()[0], CutOptions());
    EXPECT_EQ(workspace->detection().cutOptions, CutOptions());
}

TEST_F(WorkspaceTest, ACancelledOpenPanelChangesNothing) {
    workspace->importFiles();
    EXPECT_FALSE(workspace->document().source);
    EXPECT_TRUE(analysis.calls().empty());
}

TEST_F(WorkspaceTest, AnalysisWithoutPausesStillInstallsTheProject) {
    analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{}; };
    open(sourceA);
    EXPECT_EQ(workspace->job().status, "未找到符合条件的长停顿。底噪也可能遮住停顿，可试听后调整参数。");
}

TEST_F(WorkspaceTest, ReanalysisArchivesThePreviousEdit) {
    open(sourceA);
    workspace->toggleCut(ids()[0]);
    CutOptions options = workspace->detection().cutOptions;
    options.minimumSilence = 1.2;
    workspace->setCutOptions(options);
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().status,
              "找到 3 段停顿。先试听，再决定保留或删除。 重分析前版本可从“最近剪辑”找回。");
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);
    EXPECT_EQ(workspace->document().recentSessions[0].origin, "reanalysis");
    EXPECT_FALSE(workspace->document().recentSessions[0].project.cuts[0].remove);
    EXPECT_FALSE(workspace->cutHistory().canUndo());
}

TEST_F(WorkspaceTest, WithoutABackupNeitherReanalysisNorSwitchingDropsTheEdit) {
    // Another instance holds the backup lock: every backup of this controller fails.
    workspace.reset();
    Workspace holder(players, backupURL);
    workspace = makeWorkspace();
    EXPECT_EQ(workspace->document().sessionBackupIssue, "另一应用实例正在使用本机备份，请先保存当前项目。");
    open(sourceA);
    EXPECT_FALSE(workspace->document().sessionBackupSaved);
    const auto current = *workspace->document().project;

    CutOptions options = workspace->detection().cutOptions;
    options.minimumSilence = 1.2;
    workspace->setCutOptions(options);
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().status, "当前剪辑保留。请重试备份后重新分析。");
    EXPECT_EQ(workspace->document().project, current);
    EXPECT_EQ(workspace->document().sessionBackupIssue, "另一应用实例正在使用本机备份，请先保存当前项目。");

    workspace->loadSource(sourceB, true);
    EXPECT_EQ(workspace->job().notice, "当前剪辑尚未备份，请先保存项目，再打开其他素材。");
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_EQ(workspace->document().project, current);
}
