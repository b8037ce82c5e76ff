#include "HandoffFixtures.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

TEST_F(WorkspaceTest, AnAudioHandOffOnlyShowsTheSheetWhoseActionExportsAWav) {
    const fs::path talk = folder / "talk.wav";
    makeMedia("-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 -ac 2", talk);
    analysis.probeMedia = true;
    analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(0.5, 1.0, true)}; };
    workspace = std::make_unique<Workspace>(
        players, backupURL, std::vector<std::string>{"Talvian", "--output", (folder / "out").string()},
        analysis.analyzer());
    workspace->setWindow(&window);

    // Without the sheet the action only closes it.
    open(talk);
    workspace->exportAudioHandoffWAV();
    EXPECT_FALSE(workspace->job().busy);
    EXPECT_EQ(workspace->exports().audioOutputFormat, AudioOutputFormat::m4a);

    workspace->exportHandoff();
    EXPECT_TRUE(workspace->exports().audioHandoffInfoPresented);
    EXPECT_TRUE(window.savePanels.empty());
    workspace->exportAudioHandoffWAV();
    EXPECT_FALSE(workspace->exports().audioHandoffInfoPresented);
    EXPECT_TRUE(workspace->job().busy);
    ASSERT_TRUE(waitUntil([&] { return workspace->document().cutOutput.has_value(); }));
    EXPECT_EQ(workspace->document().cutOutput->filename(), "talk-粗剪.wav");
    EXPECT_EQ(workspace->exports().audioOutputFormat, AudioOutputFormat::wav);
}

TEST_F(WorkspaceTest, TheHandOffPanelProposesTheSourceNameAndACancelChangesNothing) {
    const fs::path video = folder / "Talk 01.mov";
    writeFile(video, std::string(2'500'000, 'v'));
    analysis.finish = [](CutProject& project) { project.info.hasVideo = true; };
    open(video);
    workspace->exportHandoff();
    ASSERT_EQ(window.savePanels.size(), 1u);
    const auto& panel = window.savePanels[0];
    EXPECT_EQ(panel.defaultName, "Talk 01 剪映交接");
    EXPECT_EQ(panel.title, "导出剪映工程 · 试验");
    EXPECT_EQ(panel.prompt, "生成交接包");
    EXPECT_EQ(panel.nameLabel, "交接包名称：");
    EXPECT_EQ(panel.startFolder, workspace->exports().outputFolder);
    EXPECT_NE(panel.message.find("约占用 2.5 MB。"), std::string::npos) << panel.message;
    EXPECT_FALSE(workspace->job().busy);
    EXPECT_FALSE(workspace->exports().audioHandoffInfoPresented);
}

TEST_F(WorkspaceTest, AHandOffPackageBecomesTheResultAndACancelledOneLeavesNothing) {
    const fs::path video = folder / "clip.mp4";
    makeRec709Video(video, "30", 2);
    analysis.probeMedia = true;
    analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(0.5, 1.0, true)}; };
    open(video);

    window.chosenSaveLocation = folder / "clip 剪映交接";
    workspace->exportHandoff();
    EXPECT_EQ(workspace->job().status, "正在检查工程交接条件…");
    workspace->cancelCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().status, "已取消工程导出，原片未改动。");
    EXPECT_FALSE(workspace->document().cutOutput);
    EXPECT_FALSE(fs::exists(folder / "clip 剪映交接"));

    workspace->exportHandoff();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().status, "已生成 2 段工程，共 00:01.5。下一步在剪映首页导入时间线。");
    EXPECT_EQ(workspace->document().cutOutput, folder / "clip 剪映交接");
    EXPECT_TRUE(workspace->exports().outputIsHandoff);
    ASSERT_TRUE(workspace->exports().handoffXMLURL);
    EXPECT_TRUE(fs::exists(*workspace->exports().handoffXMLURL));
    EXPECT_EQ(workspace->job().progress, 1.0);

    // A package is no file to split into channels.
    workspace->exportChannelStems();
    EXPECT_TRUE(window.openPanels.empty());
}
