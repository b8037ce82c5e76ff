#include <QSettings>

#include <atomic>
#include <future>
#include <thread>

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

// Blocks a reader's thread until `done` holds or the deadline passes (no event loop there).
bool blockUntil(const std::function<bool()>& done, int milliseconds = 20000) {
    for (int waited = 0; !done() && waited < milliseconds; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

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
    EXPECT_TRUE(workspace->exports().audioInfoLoading);
    ASSERT_TRUE(waitUntil([&] { return gate.calls() == 1; }));
    workspace->readExportAudioInfo();
    ASSERT_TRUE(waitUntil([&] { return gate.calls() == 2; }));
    gate.answer(1, [] { return AudioStreamInfo(44100, 2); });
    ASSERT_TRUE(waitUntil([&] { return workspace->exports().audioInfo.has_value(); }));
    gate.answer(0, [] { return AudioStreamInfo(8000, 1); });
    ASSERT_TRUE(workspace->shutdown(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_EQ(workspace->exports().audioInfo, AudioStreamInfo(44100, 2));
    EXPECT_FALSE(workspace->exports().audioInfoLoading);

    // A read that ends after the source changed leaves nothing behind.
    workspace->readExportAudioInfo();
    workspace->loadSource(sourceB, false);
    EXPECT_FALSE(workspace->exports().audioInfo);
    gate.answer(2, [] { return AudioStreamInfo(48000, 2); });
    ASSERT_TRUE(workspace->shutdown(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_FALSE(workspace->exports().audioInfo);
    EXPECT_FALSE(workspace->exports().audioInfoLoading);
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
        ASSERT_TRUE(waitUntil([&] { return !workspace->exports().audioInfoLoading; }));
        EXPECT_EQ(workspace->exports().audioInfoIssue, text);
        EXPECT_FALSE(workspace->exports().audioInfo);
        EXPECT_TRUE(workspace->lastDiagnosticError());
    }
    // Nothing is read while the settings differ from the analysed ones.
    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -50;
    workspace->setCutOptions(options);
    workspace->readExportAudioInfo();
    EXPECT_FALSE(workspace->exports().audioInfoLoading);
    EXPECT_FALSE(workspace->exports().audioInfoIssue);
}

TEST_F(WorkspaceTest, TheChosenOutputFolderIsRememberedAndOpenedOnRequest) {
    const fs::path chosen = folder / "exports/new";
    window.chosenFolder = chosen;
    workspace->chooseOutput();
    ASSERT_EQ(window.openPanels.size(), 1u);
    EXPECT_EQ(window.openPanels[0].title, "选择输出文件夹");
    EXPECT_EQ(workspace->exports().outputFolder, chosen);
    EXPECT_EQ(QSettings("Talvian", "Talvian").value("talvian.outputFolder").toString().toStdString(),
              chosen.string());
    EXPECT_EQ(makeWorkspace()->exports().outputFolder, chosen);
    EXPECT_EQ(
        Workspace(players, std::nullopt, {"Talvian", "--output", "/tmp/elsewhere"}).exports().outputFolder,
        "/tmp/elsewhere");

    workspace->openOutput();
    EXPECT_TRUE(fs::is_directory(chosen));
    EXPECT_EQ(desktop.openedFolders, std::vector<fs::path>{chosen});

    writeFile(folder / "in-the-way", "");
    window.chosenFolder = folder / "in-the-way/out";
    workspace->chooseOutput();
    workspace->openOutput();
    EXPECT_EQ(workspace->job().notice, "无法创建“out”：路径中有一项不是文件夹。");
    EXPECT_EQ(desktop.openedFolders.size(), 1u);
    QSettings("Talvian", "Talvian").remove("talvian.outputFolder");
}

TEST_F(WorkspaceTest, TheAudioReadIsAwaitedThroughItsSliceAndACancelKeepsWhatWasRead) {
    open(sourceA);
    std::atomic<int> reads = 0;
    std::atomic<bool> holding = false;
    workspace->setExportAudioInfoReader([&](const fs::path&, const CancellationToken& token) {
        ++reads;
        // The second read holds until it is cancelled, as the probe does.
        if (reads == 2) {
            holding = true;
            blockUntil([&] { return token->isCancelled(); });
            token->check();
        }
        return AudioStreamInfo(48000, 2);
    });
    std::vector<std::optional<AudioStreamInfo>> delivered;  // at each change that ends a read
    bool wasLoading = false;
    QObject::connect(workspace.get(), &Workspace::exportChanged, [&] {
        if (wasLoading && !workspace->exports().audioInfoLoading)
            delivered.push_back(workspace->exports().audioInfo);
        wasLoading = workspace->exports().audioInfoLoading;
    });

    workspace->readExportAudioInfo();
    ASSERT_TRUE(waitUntil([&] { return !delivered.empty(); }));
    EXPECT_EQ(delivered, (std::vector<std::optional<AudioStreamInfo>>{AudioStreamInfo(48000, 2)}));
    // The facts stay with their source: asking again reads nothing, a cancel drops nothing.
    workspace->readExportAudioInfo();
    workspace->cancelExportAudioInfo();
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(workspace->exports().audioInfo, AudioStreamInfo(48000, 2));
    EXPECT_FALSE(workspace->exports().audioInfoLoading);

    // Another source: a new read, which a cancel stops at once.
    workspace->loadSource(sourceB, true);
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->document().project; }));
    EXPECT_FALSE(workspace->exports().audioInfo);
    workspace->readExportAudioInfo();
    ASSERT_TRUE(waitUntil([&] { return holding.load(); }));
    workspace->cancelExportAudioInfo();
    EXPECT_FALSE(workspace->exports().audioInfoLoading);
    ASSERT_TRUE(workspace->shutdown(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_FALSE(workspace->exports().audioInfo);
    EXPECT_FALSE(workspace->exports().audioInfoIssue) << "a cancelled read is no failure";
}

TEST_F(WorkspaceTest, DestroyingTheControllerStopsTheAudioReadAndWaitsOnlyItsBound) {
    // A reader that polls its token stops as soon as the controller goes, and the controller
    // waits for it: nothing of it runs afterwards.
    struct Read {
        std::atomic<bool> started = false;
        std::atomic<bool> sawCancel = false;
        std::atomic<bool> ended = false;
        std::atomic<bool> released = false;
    };
    Read polling;
    open(sourceA);
    workspace->setExportAudioInfoReader([&polling](const fs::path&, const CancellationToken& token) {
        polling.started = true;
        blockUntil([&] { return token->isCancelled(); });
        polling.sawCancel = token->isCancelled();
        polling.ended = true;
        token->check();
        return AudioStreamInfo(44100, 2);
    });
    workspace->readExportAudioInfo();
    ASSERT_TRUE(waitUntil([&] { return polling.started.load(); }));
    workspace.reset();
    EXPECT_TRUE(polling.sawCancel);
    EXPECT_TRUE(polling.ended) << "the read ended before the controller was gone";

    // A reader that ignores its token does not hold the controller beyond the bound; it ends
    // on its own later and finds the controller gone.
    Read stubborn;
    workspace = makeWorkspace();
    workspace->setTeardownBound(std::chrono::milliseconds(100));
    open(sourceA);
    workspace->setExportAudioInfoReader([&stubborn](const fs::path&, const CancellationToken& token) {
        stubborn.started = true;
        blockUntil([&] { return stubborn.released.load(); });
        stubborn.sawCancel = token->isCancelled();
        stubborn.ended = true;
        return AudioStreamInfo(44100, 2);
    });
    workspace->readExportAudioInfo();
    ASSERT_TRUE(waitUntil([&] { return stubborn.started.load(); }));
    workspace.reset();
    EXPECT_FALSE(stubborn.ended) << "destruction waited past its bound";
    stubborn.released = true;
    ASSERT_TRUE(waitUntil([&] { return stubborn.ended.load(); }));
    EXPECT_TRUE(stubborn.sawCancel);
}
