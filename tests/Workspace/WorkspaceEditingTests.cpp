#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

TEST_F(WorkspaceTest, EveryEditIsOneUndoStepAndUndoRedoWalkTheStates) {
    open(sourceA);
    const auto original = workspace->document().project->cuts;
    const auto id = ids()[1];
    workspace->toggleCut(id);
    const auto once = workspace->document().project->cuts;
    EXPECT_FALSE(once[1].remove);
    EXPECT_EQ(workspace->review().reviewID, id);
    EXPECT_EQ(workspace->job().status, "剪辑已调整，可撤销或继续试听。");
    workspace->toggleCut(id);
    EXPECT_EQ(workspace->document().project->cuts, original);

    workspace->undoInContext();
    EXPECT_EQ(workspace->document().project->cuts, once);
    EXPECT_EQ(workspace->job().status, "已撤销上一步剪辑。");
    workspace->undoInContext();
    EXPECT_EQ(workspace->document().project->cuts, original);
    EXPECT_FALSE(workspace->guards().canUndoCut);
    workspace->redoInContext();
    EXPECT_EQ(workspace->document().project->cuts, once);
    EXPECT_EQ(workspace->job().status, "已重做剪辑。");
    // Every state was backed up as it came.
    EXPECT_EQ(SessionBackup::project(backupURL)->cuts, once);
}

TEST_F(WorkspaceTest, SetAllCutsAndEqualListsRecordNothing) {
    open(sourceA);
    workspace->setAllCuts(true);  // all removed already
    EXPECT_FALSE(workspace->guards().canUndoCut);
    workspace->setAllCuts(false);
    for (const auto& region : workspace->document().project->cuts) EXPECT_FALSE(region.remove);
    EXPECT_TRUE(workspace->guards().canUndoCut);
}

TEST_F(WorkspaceTest, TheThreeUndoLayersAreTriedInOrder) {
    open(sourceA);
    // Settings changed before a cut edit cannot be undone after it.
    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -34;
    workspace->setCutOptions(options);
    workspace->restoreAnalyzedOptions();
    workspace->toggleCut(ids()[0]);
    ASSERT_FALSE(workspace->guards().canUndoOptions);

    window.editingText = true;
    workspace->undoInContext();
    workspace->redoInContext();
    EXPECT_EQ(window.textUndos, 1);
    EXPECT_EQ(window.textRedos, 1);
    EXPECT_FALSE(workspace->document().project->cuts[0].remove);
    window.editingText = false;

    options = workspace->detection().cutOptions;
    options.thresholdDB = -30;
    workspace->setCutOptions(options);
    workspace->undoInContext();
    EXPECT_EQ(workspace->job().status, "已撤销参数调整。");
    EXPECT_EQ(workspace->detection().cutOptions.thresholdDB, -35);
    EXPECT_FALSE(workspace->document().project->cuts[0].remove);
    workspace->redoInContext();
    EXPECT_EQ(workspace->job().status, "已重做参数调整。");
    EXPECT_EQ(workspace->detection().cutOptions.thresholdDB, -30);
    workspace->undoInContext();
    workspace->undoInContext();  // now the cut layer
    EXPECT_TRUE(workspace->document().project->cuts[0].remove);
}

TEST_F(WorkspaceTest, SettingsHistoryKeepsTheLatestFiftyAndRecordsOnlyChanges) {
    open(sourceA);
    for (int i = 1; i <= 51; ++i) {
        CutOptions options = workspace->detection().cutOptions;
        options.thresholdDB = -35 - i;
        workspace->setCutOptions(options);
        workspace->setCutOptions(options);  // the same value records nothing
    }
    int undos = 0;
    while (workspace->guards().canUndoOptions) {
        workspace->undoInContext();
        ++undos;
    }
    EXPECT_EQ(undos, 50);
    EXPECT_EQ(workspace->detection().cutOptions.thresholdDB, -36);
    workspace->redoInContext();
    CutOptions options = workspace->detection().cutOptions;
    options.padding = 0.2;
    workspace->setCutOptions(options);
    EXPECT_FALSE(workspace->guards().canRedoOptions);
}

TEST_F(WorkspaceTest, NoEditWhileAnalysisIsNeededOrATextFieldKeepsTheFocus) {
    open(sourceA);
    const auto before = workspace->document().project->cuts;
    window.keepsFocus = true;
    workspace->toggleCut(ids()[0]);
    EXPECT_EQ(workspace->document().project->cuts, before);
    window.keepsFocus = false;

    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -30;
    workspace->setCutOptions(options);
    workspace->toggleCut(ids()[0]);
    workspace->setAllCuts(false);
    EXPECT_FALSE(workspace->adjustCut(ids()[0], 1, 3));
    EXPECT_EQ(workspace->document().project->cuts, before);
}

TEST_F(WorkspaceTest, AdjustCutChecksTheRulesAndResortsByStart) {
    open(sourceA);
    const auto first = ids()[0];
    EXPECT_FALSE(workspace->adjustCut(first, 0, 0.08));    // exactly the minimum length
    EXPECT_FALSE(workspace->adjustCut(first, 9.5, 10.5));  // past the end
    EXPECT_FALSE(workspace->adjustCut(Uuid::random(), 1, 2));
    EXPECT_FALSE(workspace->guards().canUndoCut);
    EXPECT_TRUE(workspace->adjustCut(first, 6, 6.5));
    EXPECT_EQ(ids()[1], first);
    EXPECT_EQ(workspace->review().reviewID, first);
    EXPECT_EQ(workspace->document().project->cuts[1].start, 6);
}

TEST_F(WorkspaceTest, BatchDeleteAndKeepCountOnlyChangedRegions) {
    open(sourceA);
    const auto list = ids();
    workspace->toggleCut(list[1]);  // one kept among removed ones
    workspace->beginBatchSelection();
    for (const auto& id : list) workspace->toggleBatchCut(id, false);
    ASSERT_TRUE(workspace->guards().canDeleteBatch);
    workspace->toggleSelectedCuts();
    EXPECT_EQ(workspace->job().status, "已将所选中的 1 段设为删除，可一次撤销。");
    EXPECT_FALSE(workspace->applyBatch(true));
    EXPECT_EQ(workspace->job().status, "已将所选中的 1 段设为删除，可一次撤销。");
    workspace->toggleSelectedCuts();  // every one removed: keep them all
    EXPECT_EQ(workspace->job().status, "已将所选中的 3 段设为保留，可一次撤销。");
    workspace->undoCut();
    for (const auto& region : workspace->document().project->cuts) EXPECT_TRUE(region.remove);
}

TEST_F(WorkspaceTest, UndoWithNothingToUndoStillEndsNothingElse) {
    open(sourceA);
    workspace->undoCut();
    EXPECT_FALSE(workspace->waveform().boundaryDrag);
    EXPECT_EQ(workspace->job().status, "找到 3 段停顿。先试听，再决定保留或删除。");
}
