// The controller with the real pause analysis on generated media.

#include "Analysis/PauseAnalysis.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;

namespace {

class RealAnalysisTest : public ::testing::Test {
  protected:
    TempDir folder;
    std::filesystem::path source = folder / "讲话 talk.m4a";
    FakePlayerFactory players;
    std::unique_ptr<Workspace> workspace;

    void SetUp() override {
        // Three tone bursts with pauses of 1.5 s and 2 s between them, and quiet ends.
        makeMedia(
            "-f lavfi -i \"sine=frequency=300:duration=12,volume='if(between(t,1,3)+between(t,4.5,7)+"
            "between(t,9,11),1,0)':eval=frame\" -c:a aac -b:a 64k",
            source);
        workspace = std::make_unique<Workspace>(players, folder / "Recovery/last-session.quenlo.json",
                                                std::vector<std::string>{}, &VevazAvezud::analyze);
    }
};

}  // namespace

TEST_F(RealAnalysisTest, ImportFindsThePausesAndBacksUpTheProject) {
    double lastProgress = 0;
    bool progressWentBack = false;
    QObject::connect(workspace.get(), &Workspace::changed, [&] {
        if (workspace->cutProgress() < lastProgress && workspace->cutBusy()) progressWentBack = true;
        lastProgress = workspace->cutProgress();
    });
    workspace->loadSource(source, true);
    EXPECT_TRUE(workspace->cutBusy());
    ASSERT_TRUE(waitUntil([&] { return !workspace->cutBusy(); }, 60000));
    ASSERT_TRUE(workspace->project()) << workspace->cutStatus();
    const auto& cuts = workspace->project()->cuts;
    // The leading and trailing quiet stretches and the two inner pauses, padded by 0.3 s.
    ASSERT_EQ(cuts.size(), 4u) << workspace->cutStatus();
    EXPECT_NEAR(cuts[1].start, 3.3, 0.05);
    EXPECT_NEAR(cuts[1].end, 4.2, 0.05);
    EXPECT_EQ(workspace->cutStatus(), "找到 4 段停顿。先试听，再决定保留或删除。");
    EXPECT_FALSE(progressWentBack);
    EXPECT_FALSE(workspace->needsAnalysis());
    EXPECT_TRUE(workspace->sessionBackupSaved());
    EXPECT_EQ(SessionBackup::project(folder / "Recovery/last-session.quenlo.json")->cuts, cuts);
}

TEST_F(RealAnalysisTest, CancellingARealAnalysisLeavesNoProject) {
    workspace->loadSource(source, true);
    workspace->cancelCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->cutBusy(); }, 60000));
    EXPECT_EQ(workspace->cutStatus(), "任务已取消，原文件未改动。");
    EXPECT_FALSE(workspace->project());
}

TEST_F(RealAnalysisTest, ANonMediaFileFailsWithAChineseSentence) {
    writeFile(source, "not media");
    workspace->loadSource(source, true);
    ASSERT_TRUE(waitUntil([&] { return !workspace->cutBusy(); }, 60000));
    EXPECT_FALSE(workspace->project());
    ASSERT_TRUE(workspace->notice());
    EXPECT_EQ(workspace->notice(), workspace->cutStatus());
    EXPECT_EQ(workspace->notice()->find("Invalid data"), std::string::npos);
}
