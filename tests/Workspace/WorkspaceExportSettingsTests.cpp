#include <QSettings>

#include <future>

#include "Process/Runner.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

// A reader whose answers the test releases one call at a time.
class GatedReader {
  public:
    Workspace::AudioInfoReader reader() {
        return [this](const fs::path&, const CancellationToken&) {
            std::shared_future<std::function<AudioStreamInfo()>> answer;
            {
                std::lock_guard guard(lock_);
                answer = gates_.at(calls_++).get_future().share();
            }
            return answer.get()();
        };
    }
    explicit GatedReader(std::size_t calls) : gates_(calls) {}
    void answer(std::size_t call, std::function<AudioStreamInfo()> result) {
        gates_.at(call).set_value(result);
    }
    std::size_t calls() {
        std::lock_guard guard(lock_);
        return calls_;
    }

  private:
    std::mutex lock_;
    std::vector<std::promise<std::function<AudioStreamInfo()>>> gates_;
    std::size_t calls_ = 0;
};

}  // namespace

TEST(WorkspaceAudioSpec, RatesAndChannelsReadAsThePanelShowsThem) {
    const std::tuple<std::int64_t, std::int64_t, std::string> cases[] = {
        {44100, 2, "44.1 kHz · 双声道"},   {48000, 1, "48 kHz · 单声道"}, {22050, 6, "22.05 kHz · 6 声道"},
        {11025, 1, "11.025 kHz · 单声道"}, {8000, 2, "8 kHz · 双声道"},   {500, 3, "500 Hz · 3 声道"},
    };
    for (const auto& [rate, channels, text] : cases)
        EXPECT_EQ(Workspace::audioSpecText(rate, channels), text);
}

TEST_F(WorkspaceTest, TheAudioFormatReadKeepsOnlyTheCurrentAnswer) {
    open(sourceA);
    GatedReader gate(4);
    workspace->setExportAudioInfoReader(gate.reader());

    workspace->readExportAudioInfo();
    EXPECT_TRUE(workspace->exportAudioInfoLoading());
    ASSERT_TRUE(waitUntil([&] { return gate.calls() == 1; }));
    workspace->readExportAudioInfo();
    ASSERT_TRUE(waitUntil([&] { return gate.calls() == 2; }));
    gate.answer(1, [] { return AudioStreamInfo(44100, 2); });
    ASSERT_TRUE(waitUntil([&] { return workspace->exportAudioInfo().has_value(); }));
    gate.answer(0, [] { return AudioStreamInfo(8000, 1); });
    ASSERT_TRUE(workspace->shutdown(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_EQ(workspace->exportAudioInfo(), AudioStreamInfo(44100, 2));
    EXPECT_FALSE(workspace->exportAudioInfoLoading());

    // A read that ends after the source changed leaves nothing behind.
    workspace->readExportAudioInfo();
    workspace->loadSource(sourceB, false);
    EXPECT_FALSE(workspace->exportAudioInfo());
    gate.answer(2, [] { return AudioStreamInfo(48000, 2); });
    ASSERT_TRUE(workspace->shutdown(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_FALSE(workspace->exportAudioInfo());
    EXPECT_FALSE(workspace->exportAudioInfoLoading());
}

TEST_F(WorkspaceTest, AudioFormatFailuresSayWhetherTheReadTimedOut) {
    open(sourceA);
    const std::pair<std::function<AudioStreamInfo()>, std::string> cases[] = {
        {[]() -> AudioStreamInfo { throw ProcessTimeout(); },
         "读取音频规格超时。可重新选择同一素材后重试，当前剪辑保留。"},
        {[]() -> AudioStreamInfo { throw MediaError("无法读取音频的采样率或声道。"); },
         "无法读取音频规格。可重新选择同一素材后重试，当前剪辑保留。"},
    };
    for (const auto& [failure, text] : cases) {
        workspace->setExportAudioInfoReader(
            [failure](const fs::path&, const CancellationToken&) { return failure(); });
        workspace->readExportAudioInfo();
        ASSERT_TRUE(waitUntil([&] { return !workspace->exportAudioInfoLoading(); }));
        EXPECT_EQ(workspace->exportAudioInfoIssue(), text);
        EXPECT_FALSE(workspace->exportAudioInfo());
        EXPECT_TRUE(workspace->lastDiagnosticError());
    }
    // Nothing is read while the settings differ from the analysed ones.
    CutOptions options = workspace->cutOptions();
    options.thresholdDB = -50;
    workspace->setCutOptions(options);
    workspace->readExportAudioInfo();
    EXPECT_FALSE(workspace->exportAudioInfoLoading());
    EXPECT_FALSE(workspace->exportAudioInfoIssue());
}

TEST_F(WorkspaceTest, TheChosenOutputFolderIsRememberedAndOpenedOnRequest) {
    const fs::path chosen = folder / "exports/new";
    window.chosenFolder = chosen;
    workspace->chooseOutput();
    ASSERT_EQ(window.openPanels.size(), 1u);
    EXPECT_EQ(window.openPanels[0].title, "选择输出文件夹");
    EXPECT_EQ(workspace->outputFolder(), chosen);
    EXPECT_EQ(QSettings("Talvian", "Talvian").value("talvian.outputFolder").toString().toStdString(),
              chosen.string());
    EXPECT_EQ(makeWorkspace()->outputFolder(), chosen);
    EXPECT_EQ(Workspace(players, std::nullopt, {"Talvian", "--output", "/tmp/elsewhere"}).outputFolder(),
              "/tmp/elsewhere");

    workspace->openOutput();
    EXPECT_TRUE(fs::is_directory(chosen));
    EXPECT_EQ(desktop.openedFolders, std::vector<fs::path>{chosen});

    writeFile(folder / "in-the-way", "");
    window.chosenFolder = folder / "in-the-way/out";
    workspace->chooseOutput();
    workspace->openOutput();
    EXPECT_EQ(workspace->notice(), "无法创建“out”：路径中有一项不是文件夹。");
    EXPECT_EQ(desktop.openedFolders.size(), 1u);
    QSettings("Talvian", "Talvian").remove("talvian.outputFolder");
}
