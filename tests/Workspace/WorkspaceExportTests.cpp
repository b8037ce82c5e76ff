#include "Export/CutExport.h"
#include "Export/ExportDiskPreflight.h"
#include "Model/ProjectFiles.h"
#include "Process/Runner.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

const std::string kExported = "已导出剪后文件及可恢复的剪辑项目。";
const std::string kMultichannel =
    "已导出多声道文件。部分剪辑软件会将它混为双声道，可能漏掉某些声道的声音。剪映 11.6 "
    "的一次默认导出测试中，第 4 声道的信号几乎消失。请保留原片，并在目标软件中逐声道核验。";

std::vector<fs::path> entries(const fs::path& folder) {
    std::vector<fs::path> list;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) list.push_back(entry.path().filename());
    std::sort(list.begin(), list.end());
    return list;
}

// Real media, real ffmpeg: the controller drives the export back-end end to end.
class WorkspaceExportTest : public WorkspaceTest {
  protected:
    fs::path output = folder / "out";

    void SetUp() override {
        WorkspaceTest::SetUp();
        analysis.probeMedia = true;
        analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(1.0, 1.5, true)}; };
        workspace = makeWorkspace(output);
    }
    std::unique_ptr<Workspace> makeWorkspace(const fs::path& outputFolder) {
        auto made = std::make_unique<Workspace>(
            players, backupURL, std::vector<std::string>{"Talvian", "--output", outputFolder.string()},
            analysis.analyzer());
        made->setWindow(&window);
        made->setDesktopServices(&desktop);
        return made;
    }
    fs::path sound(const std::string& name, int channels, double seconds = 2) {
        const fs::path file = folder / name;
        makeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + std::to_string(seconds) +
                      " -ac " + std::to_string(channels),
                  file);
        return file;
    }
    // Starts an export and waits until the back-end (not the free-space check) runs ffmpeg.
    void startExportUntilAChildRuns() {
        const std::string before = workspace->job().status;
        workspace->exportCut();
        ASSERT_TRUE(
            waitUntil([&] { return workspace->job().status != before && Runner::liveChildCount() > 0; }));
    }
    void exportAndWait() {
        workspace->exportCut();
        ASSERT_TRUE(workspace->job().busy);
        ASSERT_TRUE(
            waitUntil([&] { return !workspace->job().busy && workspace->job().status != "准备导出"; }));
    }
};

}  // namespace

TEST_F(WorkspaceExportTest, ExportsTheCutWithItsProjectAndKeepsAStereoNoticeAlone) {
    open(sound("talk.wav", 2));
    workspace->setNotice("older notice");
    exportAndWait();
    EXPECT_EQ(workspace->job().status, kExported);
    ASSERT_TRUE(workspace->document().cutOutput);
    const fs::path delivered = *workspace->document().cutOutput;
    EXPECT_EQ(delivered, output / "talk-粗剪.m4a");
    EXPECT_EQ(readProjectFile(exportProjectURL(delivered)).cuts, workspace->document().project->cuts);
    EXPECT_EQ(workspace->exports().exportedAudioChannels, 2);
    EXPECT_FALSE(workspace->exports().outputIsHandoff);
    EXPECT_EQ(workspace->job().progress, 1.0);
    EXPECT_EQ(workspace->job().notice, "older notice");

    // Nothing to split in a stereo file.
    window.chosenFolder = folder.path();
    workspace->exportChannelStems();
    EXPECT_TRUE(window.openPanels.empty());
}

TEST_F(WorkspaceExportTest, ASixChannelExportWarnsAndSplitsIntoStems) {
    open(sound("room.wav", 6));
    exportAndWait();
    EXPECT_EQ(workspace->job().status, kExported);
    EXPECT_EQ(workspace->exports().exportedAudioChannels, 6);
    EXPECT_EQ(workspace->job().notice, kMultichannel);

    window.chosenFolder = folder / "stems";
    fs::create_directories(*window.chosenFolder);
    workspace->exportChannelStems();
    ASSERT_EQ(window.openPanels.size(), 1u);
    EXPECT_EQ(window.openPanels[0].title, "选择声道文件保存位置");
    EXPECT_EQ(workspace->job().status, "准备分离声道");
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().status, "已生成各声道 WAV；对齐视频起点并检查混音。");
    ASSERT_TRUE(workspace->exports().channelStemsFolder);
    const std::string name = workspace->exports().channelStemsFolder->filename().string();
    EXPECT_TRUE(name.starts_with("声道-WAV-")) << name;
    const std::string id = name.substr(std::string("声道-WAV-").size());
    EXPECT_EQ(id.size(), 8u);
    EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
    EXPECT_TRUE(fs::exists(*workspace->exports().channelStemsFolder / "声道-06.wav"));

    // A later cut export forgets the stems.
    exportAndWait();
    EXPECT_FALSE(workspace->exports().channelStemsFolder);
}

TEST_F(WorkspaceTest, AVideoSourceIsExportedAsM4aWhateverTheAudioFormat) {
    const fs::path video = folder / "clip.mp4";
    writeFile(video, "video");
    analysis.finish = [](CutProject& project) { project.info.hasVideo = true; };
    open(video);
    workspace->setAudioOutputFormat(AudioOutputFormat::wav);
    std::optional<AudioOutputFormat> checked;
    workspace->setDiskPreflight([&](const CutProject&, const fs::path&, AudioOutputFormat format,
                                    const CancellationToken&) {
        checked = format;
        return std::optional<DiskSpaceShortfall>(DiskSpaceShortfall{DiskSpaceShortfall::Location::output, 1});
    });
    workspace->exportCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(checked, AudioOutputFormat::m4a);
}

TEST_F(WorkspaceExportTest, CancellingTheExportLeavesNothingInTheOutputFolder) {
    open(sound("long.wav", 2, 300));
    startExportUntilAChildRuns();
    workspace->cancelCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().status, "任务已取消，原文件未改动。");
    EXPECT_FALSE(workspace->document().cutOutput);
    EXPECT_TRUE(entries(output).empty());
}

TEST_F(WorkspaceExportTest, QuittingDuringAnExportStopsFfmpegAndRemovesTheWorkFiles) {
    open(sound("long.wav", 2, 300));
    startExportUntilAChildRuns();
    ASSERT_TRUE(waitUntil([&] {
        const auto list = entries(output);
        return std::any_of(list.begin(), list.end(),
                           [](const fs::path& name) { return name.string()[0] == '.'; });
    })) << "the export keeps its work files beside the output";
    EXPECT_TRUE(workspace->shutdown(std::chrono::seconds(10)));
    EXPECT_EQ(Runner::liveChildCount(), 0u);
    EXPECT_TRUE(entries(output).empty());
}

TEST_F(WorkspaceExportTest, AShortfallOrACancelledPreflightWritesNothing) {
    open(sound("talk.wav", 2));
    const auto status = workspace->job().status;
    workspace->setDiskPreflight(
        [](const CutProject&, const fs::path&, AudioOutputFormat, const CancellationToken&) {
            return std::optional<DiskSpaceShortfall>(
                DiskSpaceShortfall{DiskSpaceShortfall::Location::output, 5'000'000});
        });
    workspace->exportCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().notice,
              (DiskSpaceShortfall{DiskSpaceShortfall::Location::output, 5'000'000}.message()));
    EXPECT_EQ(workspace->lastDiagnosticError(), "磁盘空间不足。当前剪辑已保留。");
    EXPECT_EQ(workspace->job().status, status);

    workspace->setNotice(std::nullopt);
    workspace->setDiskPreflight(
        [](const CutProject&, const fs::path&, AudioOutputFormat, const CancellationToken& t) {
            waitUntil([&] { return t->isCancelled(); }, 10000);
            return std::optional<DiskSpaceShortfall>();
        });
    workspace->exportCut();
    workspace->cancelCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    EXPECT_EQ(workspace->job().status, status);
    EXPECT_FALSE(workspace->job().notice);
    EXPECT_TRUE(entries(output).empty());

    // Settings edited after the analysis: nothing starts.
    CutOptions options = workspace->detection().cutOptions;
    options.padding = 0.1;
    workspace->setCutOptions(options);
    workspace->exportCut();
    EXPECT_FALSE(workspace->job().busy);
}

TEST_F(WorkspaceExportTest, AnOutputFolderThatCannotBeMeasuredFailsWithItsOwnReason) {
    // procfs states no size at all: the export is not refused for a full disk, and the user
    // learns why the folder cannot be made.
    workspace = makeWorkspace("/proc/1/nope");
    open(sound("talk.wav", 2));
    exportAndWait();
    EXPECT_EQ(workspace->job().notice, "无法创建“nope”：文件或文件夹不存在。");
    EXPECT_EQ(workspace->job().status, workspace->job().notice);
    EXPECT_FALSE(workspace->document().cutOutput);
}

TEST_F(WorkspaceTest, ThePanelsFactsFollowTheFormatTheExportWillUse) {
    // Facts only, no export: the files need only their names.
    const fs::path video = folder / "talk.mp4";
    const fs::path audio = folder / "talk.m4a";
    writeFile(video, "video");
    writeFile(audio, "audio");
    struct Case {
        fs::path source;
        bool hasVideo;
        AudioOutputFormat chosen;
        bool removes;
        std::int64_t channels;
        bool copies;
        std::string note;
        std::string label;
    };
    const std::string allTracks = "保留全部3条音轨；此处显示第1条的规格。";
    const std::string firstTrack = "仅导出第1条音轨。";
    const Case cases[] = {
        // A video's sound goes into the MP4 whatever was chosen for audio-only sources.
        {video, true, AudioOutputFormat::wav, false, 2, true, allTracks, "44.1 kHz · 双声道"},
        {video, true, AudioOutputFormat::wav, true, 1, false, firstTrack, "48 kHz · 单声道"},
        {audio, false, AudioOutputFormat::wav, false, 2, false, firstTrack, "44.1 kHz · 双声道"},
        {audio, false, AudioOutputFormat::m4a, false, 2, true, allTracks, "44.1 kHz · 双声道"},
        {audio, false, AudioOutputFormat::m4a, true, 6, false, firstTrack, "44.1 kHz · 6 声道"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label + " " + c.source.filename().string());
        analysis.cuts = [&](const CutOptions&) { return std::vector<CutRegion>{CutRegion(1, 2, c.removes)}; };
        analysis.finish = [&](CutProject& project) {
            project.info.hasVideo = c.hasVideo;
            project.info.audioTracks = 3;
        };
        open(c.source);
        workspace->setAudioOutputFormat(c.chosen);
        workspace->setExportAudioInfoReader(
            [&](const fs::path&, const CancellationToken&) { return AudioStreamInfo(44100, c.channels); });
        workspace->readExportAudioInfo();
        ASSERT_TRUE(waitUntil([&] { return workspace->exports().audioInfo.has_value(); }));
        EXPECT_EQ(workspace->exportFormat(), c.hasVideo ? AudioOutputFormat::m4a : c.chosen);
        EXPECT_EQ(workspace->exportCopiesOriginal(), c.copies);
        EXPECT_EQ(workspace->exportAudioTrackNote(), c.note);
        EXPECT_EQ(workspace->exportAudioSpecLabel(), c.label);
    }
}
