// The controller with the real pause analysis on generated media.

#include "Analysis/PauseAnalysis.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

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
        if (workspace->job().progress < lastProgress && workspace->job().busy) progressWentBack = true;
        lastProgress = workspace->job().progress;
    });
    workspace->loadSource(source, true);
    EXPECT_TRUE(workspace->job().busy);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }, 60000));
    ASSERT_TRUE(workspace->document().project) << workspace->job().status;
    const auto& cuts = workspace->document().project->cuts;
    // The leading and trailing quiet stretches and the two inner pauses, padded by 0.3 s.
    ASSERT_EQ(cuts.size(), 4u) << workspace->job().status;
    EXPECT_NEAR(cuts[1].start, 3.3, 0.05);
    EXPECT_NEAR(cuts[1].end, 4.2, 0.05);
    EXPECT_EQ(workspace->job().status, "找到 4 段停顿。先试听，再决定保留或删除。");
    EXPECT_FALSE(progressWentBack);
    EXPECT_FALSE(workspace->guards().needsAnalysis);
    EXPECT_TRUE(workspace->document().sessionBackupSaved);
    EXPECT_EQ(SessionBackup::project(folder / "Recovery/last-session.quenlo.json")->cuts, cuts);
}

TEST_F(RealAnalysisTest, CancellingARealAnalysisLeavesNoProject) {
    workspace->loadSource(source, true);
    workspace->cancelCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }, 60000));
    EXPECT_EQ(workspace->job().status, "任务已取消，原文件未改动。");
    EXPECT_FALSE(workspace->document().project);
}

TEST_F(RealAnalysisTest, ANonMediaFileFailsWithAChineseSentence) {
    writeFile(source, "not media");
    workspace->loadSource(source, true);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }, 60000));
    EXPECT_FALSE(workspace->document().project);
    ASSERT_TRUE(workspace->job().notice);
    EXPECT_EQ(workspace->job().notice, workspace->job().status);
    EXPECT_EQ(workspace->job().notice->find("Invalid data"), std::string::npos);
}

TEST_F(RealAnalysisTest, ASourceThatGoesAwayDuringTheAnalysisIsReportedMissing) {
    const std::string missing = "找不到素材文件，请重新导入。";
    const fs::path other = folder / "other.m4a";
    fs::copy_file(source, other);
    struct Case {
        const char* name;
        const char* step;  // the analysis's report at which the file goes
        std::function<void()> act;
    };
    const Case cases[] = {
        {"renamed before anything reads it", "正在读取媒体信息",
         [&] { fs::rename(source, folder / "moved.m4a"); }},
        {"deleted before the loudness pass", "正在测量录音响度", [&] { fs::remove(source); }},
        {"renamed while it is decoded", "分析音量与停顿", [&] { fs::rename(source, folder / "moved.m4a"); }},
        {"replaced by another file while it is decoded", "分析音量与停顿",
         [&] {
             fs::rename(source, folder / "moved.m4a");
             fs::copy_file(other, source);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(source);
        fs::copy_file(other, source);
        fs::remove(folder / "moved.m4a");
        // The real analysis; the file goes at the first report of the step.
        bool acted = false;
        auto analyzer = [&](const fs::path& url, const CutOptions& options, const CancellationToken& token,
                            const ProgressCallback& progress) {
            return VevazAvezud::analyze(url, options, token, [&](double fraction, const std::string& step) {
                if (step == c.step && !std::exchange(acted, true)) c.act();
                progress(fraction, step);
            });
        };
        workspace = std::make_unique<Workspace>(players, std::nullopt, std::vector<std::string>{}, analyzer);
        workspace->loadSource(source, true);
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }, 60000));
        EXPECT_TRUE(acted);
        EXPECT_FALSE(workspace->document().project);
        EXPECT_EQ(workspace->job().notice, missing);
        EXPECT_EQ(workspace->job().status, missing);
    }

    // The detection preview runs the same analysis and says the same.
    fs::remove(source);
    fs::copy_file(other, source);
    workspace =
        std::make_unique<Workspace>(players, std::nullopt, std::vector<std::string>{}, &VevazAvezud::analyze);
    workspace->loadSource(source, true);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }, 60000));
    ASSERT_TRUE(workspace->document().project);
    fs::remove(source);
    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -40;
    workspace->setDetectionPreviewDelay(std::chrono::milliseconds(1));
    workspace->previewDetection(options);
    ASSERT_TRUE(waitUntil([&] { return !workspace->detection().calculating; }, 60000));
    EXPECT_EQ(workspace->detection().issue, missing);

    // A file that is still there keeps the analysis's own sentence.
    writeFile(source, "not media");
    workspace->loadSource(source, true);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }, 60000));
    ASSERT_TRUE(workspace->job().notice);
    EXPECT_NE(workspace->job().notice, missing);
}
