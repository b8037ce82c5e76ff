#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "ChildProcesses.h"
#include "MediaTestSupport.h"
#include "Model/FileNaming.h"
#include "Shell/ExportCodecText.h"
#include "Shell/ExportPanel.h"
#include "ShellFixture.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace talvian::test {
namespace {

using Facts = ExportPanel::Facts;
using State = ExportPanel::State;
using SoundLine = ExportPanel::SoundLine;

TEST(ExportPanelPath, FoldsOnlyTheHomeFolderAndWhatIsInsideIt) {
    const std::string home = "/home/x";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"/home/x", "~"},         {"/home/x/Downloads", "~/Downloads"},
        {"/home/xy", "/home/xy"}, {"/tmp/x", "/tmp/x"},
        {"/home/x/", "~/"},
    };
    for (const auto& [path, shown] : cases) EXPECT_EQ(ExportPanel::displayPath(path, home), shown) << path;
}

TEST(ExportPanelState, ShowsWhatTheFactsSay) {
    Facts video;
    video.hasProject = true;
    video.hasVideo = true;
    video.width = 1920;
    video.height = 1080;
    video.duration = 70;
    video.removedDuration = 10;
    video.videoCodecs = "H.264, AAC";
    video.audioSpecLabel = "48 kHz · 双声道";
    Facts audio = video;
    audio.hasVideo = false;
    audio.videoCodecs.reset();
    const std::string reading = "正在读取音频规格…";
    struct Case {
        std::string name;
        Facts facts;
        std::function<void(State&)> expect;  // changes from the state of an idle panel
    };
    const auto with = [](Facts facts, const std::function<void(Facts&)>& change) {
        change(facts);
        return facts;
    };
    const std::vector<Case> cases{
        {"no project", Facts{},
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(0);
             s.soundText = reading;
         }},
        {"video", video,
         [&](State& s) {
             s.keptDuration = timeLabel(60);
             s.videoRow = "1920 × 1080, H.264, AAC";
             s.soundLine = SoundLine::format;
             s.soundText = "48 kHz · 双声道";
         }},
        {"video before its codecs", with(video, [](Facts& f) { f.videoCodecs.reset(); }),
         [&](State& s) {
             s.keptDuration = timeLabel(60);
             s.videoRow = "1920 × 1080";
             s.soundLine = SoundLine::format;
             s.soundText = "48 kHz · 双声道";
         }},
        // A re-encoded picture is written at even sides; a copied one keeps the source's.
        {"odd-sized video",
         with(video,
              [](Facts& f) {
                  f.width = 641;
                  f.height = 361;
              }),
         [&](State& s) {
             s.keptDuration = timeLabel(60);
             s.videoRow = "642 × 362, H.264, AAC";
             s.soundLine = SoundLine::format;
             s.soundText = "48 kHz · 双声道";
         }},
        {"odd-sized video copied",
         with(video,
              [](Facts& f) {
                  f.width = 641;
                  f.height = 361;
                  f.copiesOriginal = true;
              }),
         [&](State& s) {
             s.keptDuration = timeLabel(60);
             s.videoRow = "641 × 361, H.264, AAC";
             s.soundLine = SoundLine::format;
             s.soundText = "48 kHz · 双声道";
             s.copyNote = true;
         }},
        {"audio", audio,
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(60);
             s.soundLine = SoundLine::format;
             s.soundText = "48 kHz · 双声道";
         }},
        {"read issue",
         with(audio,
              [](Facts& f) {
                  f.audioSpecLabel.reset();
                  f.audioInfoIssue = "无法读取音频规格。";
              }),
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(60);
             s.soundLine = SoundLine::issue;
             s.soundText = "无法读取音频规格。";
         }},
        {"stems at 2 channels", with(Facts{}, [](Facts& f) { f.exportedAudioChannels = 2; }),
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(0);
             s.soundText = reading;
         }},
        {"stems at 3 channels",
         with(Facts{},
              [](Facts& f) {
                  f.hasOutput = true;
                  f.exportedAudioChannels = 3;
              }),
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(0);
             s.soundText = reading;
             s.offersStems = true;
         }},
        // The output was given up (an edit, another recording): nothing left to split.
        {"stems at 6 channels without an output",
         with(Facts{}, [](Facts& f) { f.exportedAudioChannels = 6; }),
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(0);
             s.soundText = reading;
         }},
        {"stems of a hand-off package",
         with(Facts{},
              [](Facts& f) {
                  f.hasOutput = true;
                  f.exportedAudioChannels = 6;
                  f.outputIsHandoff = true;
              }),
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(0);
             s.soundText = reading;
         }},
        {"stems folder set", with(Facts{}, [](Facts& f) { f.channelStemsFolderSet = true; }),
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(0);
             s.soundText = reading;
             s.showsStems = true;
         }},
        {"audio hand-off text, notes, busy",
         with(audio,
              [](Facts& f) {
                  f.audioHandoffInfoPresented = true;
                  f.audioTrackNote = "note";
                  f.copiesOriginal = true;
                  f.cutBusy = true;
              }),
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(60);
             s.soundLine = SoundLine::format;
             s.soundText = "48 kHz · 双声道";
             s.audioHandoff = true;
             s.trackNote = "note";
             s.copyNote = true;
             s.exportEnabled = false;
         }},
        {"removed longer than the duration",
         with(audio,
              [](Facts& f) {
                  f.removedDuration = 99;
                  f.needsAnalysis = true;
              }),
         [&](State& s) {
             s.formatChoice = true;
             s.keptDuration = timeLabel(0);
             s.soundLine = SoundLine::format;
             s.soundText = "48 kHz · 双声道";
             s.exportEnabled = false;
         }},
    };
    for (const auto& test : cases) {
        State expected;
        expected.exportEnabled = true;
        test.expect(expected);
        EXPECT_EQ(ExportPanel::state(test.facts), expected) << test.name;
    }
}

// A stream as the core reads it from ffprobe's answer.
ProbedStream stream(const nlohmann::json& fields) {
    return ProbedStream(fields);
}

TEST(CodecSummary, WordsTheStreams) {
    const auto h264 = stream({{"codec_name", "h264"}});
    const auto aac = stream({{"codec_name", "aac"}});
    const auto opus = stream({{"codec_name", "opus"}});
    const auto picture = [](std::optional<nlohmann::json> format, std::optional<nlohmann::json> bits,
                            std::optional<nlohmann::json> transfer) {
        nlohmann::json video = nlohmann::json::object();
        if (format) video["pix_fmt"] = *format;
        if (bits) video["bits_per_raw_sample"] = *bits;
        if (transfer) video["color_transfer"] = *transfer;
        return stream(video);
    };
    const std::optional<nlohmann::json> none;
    struct Case {
        std::string name;
        ProbedStream video;
        std::optional<ProbedStream> audio;
        bool copies;
        std::optional<std::int64_t> channels;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"copy h264 aac", h264, aac, true, 2, "H.264, AAC"},
        {"copy h264 opus", h264, opus, true, 6, "H.264, OPUS"},
        {"copy without audio", h264, std::nullopt, true, 2, "H.264"},
        {"copy without a video name", ProbedStream{}, aac, true, 2, std::nullopt},
        {"copy with a number as name", stream({{"codec_name", 264}}), aac, true, 2, std::nullopt},
        {"10 bit whatever else", picture("rgb24", "10", "bt709"), std::nullopt, false, 2, "HEVC, AAC"},
        {"8 bit PQ", picture("yuv420p", "8", "smpte2084"), std::nullopt, false, std::nullopt, "HEVC"},
        {"HLG", picture("yuv420p", none, "arib-std-b67"), std::nullopt, false, std::nullopt, "HEVC"},
        {"8 bit with a deep format", picture("yuv420p10le", "8", "bt709"), std::nullopt, false, 1,
         "HEVC, AAC"},
        {"8 bit", picture("yuv420p", "8", "bt709"), std::nullopt, false, 3, "H.264, ALAC"},
        {"+8 is eight", picture("yuv420p10le", "+8", none), std::nullopt, false, std::nullopt, "HEVC"},
        {"+8 plain", picture("yuva420p", "+8", none), std::nullopt, false, std::nullopt, "H.264"},
        {"bits as a number count as missing", picture("yuva420p", 10, none), std::nullopt, false, 2,
         std::nullopt},
        {"no depth, 8-bit format", picture("yuv420p", none, none), std::nullopt, false, 2, "H.264, AAC"},
        {"no depth, deep format", picture("yuv420p10le", none, none), std::nullopt, false, 8, "HEVC, ALAC"},
        {"no depth, alpha", picture("yuva420p", "", none), aac, false, 2, std::nullopt},
        {"no depth, p010le", picture("p010le", "x", none), std::nullopt, false, 2, std::nullopt},
        {"gray16le", picture("gray16le", none, none), std::nullopt, false, std::nullopt, "HEVC"},
        {"gray", picture("gray", none, none), std::nullopt, false, std::nullopt, "H.264"},
    };
    for (const auto& test : cases)
        EXPECT_EQ(ExportCodecText::codecs(test.video, test.audio, test.copies, test.channels), test.expected)
            << test.name;
}

class CodecSummaryMedia : public ::testing::Test {
  protected:
    TempDir folder;
};

TEST_F(CodecSummaryMedia, ReadsGeneratedFiles) {
    const std::string picture = "-f lavfi -i testsrc=size=160x120:rate=10:duration=1 ";
    const std::string sound = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -ac 2 ";
    struct Case {
        std::string name;
        std::string arguments;
        bool copies;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"h264-aac.mp4", picture + sound + "-c:v libx264 -pix_fmt yuv420p -c:a aac", true, "H.264, AAC"},
        {"h264-aac-cut.mp4", picture + sound + "-c:v libx264 -pix_fmt yuv420p -c:a aac", false, "H.264, AAC"},
        {"h264-opus.mp4", picture + sound + "-c:v libx264 -pix_fmt yuv420p -c:a libopus", true,
         "H.264, OPUS"},
        {"h264-10bit.mp4", picture + sound + "-c:v libx264 -pix_fmt yuv420p10le -c:a aac", false,
         "HEVC, AAC"},
        {"sound.m4a", sound + "-c:a aac", true, std::nullopt},
    };
    for (const auto& test : cases) {
        const fs::path file = folder / test.name;
        makeMedia(test.arguments, file);
        EXPECT_EQ(ExportCodecText::read(file, test.copies, 2, makeCancellation()), test.expected)
            << test.name;
    }
}

// ---- The panel in the real window

// A codec read that a test holds open and answers.
class HeldCodecReader {
  public:
    ExportPanel::CodecReader reader() {
        return [this](const fs::path&, bool, std::optional<std::int64_t>,
                      const CancellationToken& token) -> std::optional<std::string> {
            std::size_t index;
            {
                std::lock_guard guard(lock_);
                index = tokens_.size();
                tokens_.push_back(token);
            }
            while (!token->isCancelled() && released_ <= index)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return "answer " + std::to_string(index);
        };
    }
    std::size_t calls() {
        std::lock_guard guard(lock_);
        return tokens_.size();
    }
    CancellationToken token(std::size_t index) {
        std::lock_guard guard(lock_);
        return tokens_.at(index);
    }
    // Lets every read up to `index` answer, even a cancelled one's late result.
    void release(std::size_t index) { released_ = index + 1; }

  private:
    std::mutex lock_;
    std::vector<CancellationToken> tokens_;
    std::atomic<std::size_t> released_ = 0;
};

class ExportPanelTest : public ShellTest {
  protected:
    std::optional<ExportPanel::CodecReader> codecReader;

    void SetUp() override {
        ShellTest::SetUp();
        analysis.probeMedia = true;
        analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{}; };
        // Exports and opened folders stay inside the test's folder.
        workspace = std::make_unique<Workspace>(
            players, backupURL, std::vector<std::string>{"Talvian", "--output", (folder / "out").string()},
            analysis.analyzer());
        workspace->setWindow(&window);
        workspace->setDesktopServices(&desktop);
    }
    fs::path video(const std::string& name = "clip.mp4") {
        const fs::path file = folder / name;
        makeMedia(
            "-f lavfi -i testsrc=size=320x240:rate=10:duration=2 -f lavfi -i "
            "sine=frequency=440:sample_rate=48000:duration=2 -ac 2 -c:v libx264 -pix_fmt yuv420p -c:a aac",
            file);
        return file;
    }
    fs::path sound(int channels) {
        const fs::path file = folder / ("talk-" + std::to_string(channels) + ".wav");
        makeMedia(
            "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac " + std::to_string(channels),
            file);
        return file;
    }
    // The panel opened last (a closed one lingers until its deferred deletion).
    QPointer<ExportPanel> current;

    ExportPanel* openPanel() {
        view().setPanelFactory([this](ModalPanel modal, WorkspaceView& shown) -> QWidget* {
            if (modal != ModalPanel::exportPanel) return nullptr;
            auto* panel = new ExportPanel(*workspace, shown);
            if (codecReader) panel->setCodecReader(*codecReader);
            current = panel;
            return panel;
        });
        view().setModal(ModalPanel::exportPanel);
        return current;
    }
    // Whether the panel shows `text` once it has followed the controller.
    bool shows(const QString& text) {
        settle();
        return current && current->isVisible() && visibleTexts(*current).contains(text);
    }
};

TEST_F(ExportPanelTest, AVideoProjectCopiedAfterWAVWasChosenShowsTheSourceCodecsAndTheCopyNote) {
    workspace->setAudioOutputFormat(AudioOutputFormat::wav);
    open(video());
    showWindow();
    ExportPanel* panel = openPanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(waitUntil([&] { return panel->videoCodecs().has_value(); }));
    EXPECT_EQ(panel->videoCodecs(), "H.264, AAC");
    EXPECT_TRUE(shows("320 × 240, H.264, AAC"));
    EXPECT_TRUE(shows("48 kHz · 双声道"));
    EXPECT_TRUE(shows("未删除片段，保留原有编码。"));
    EXPECT_TRUE(shows("MP4"));
    EXPECT_FALSE(shows("WAV"));
    EXPECT_FALSE(shows("声道 WAV…"));
    saveShot(*mainWindow, "export-panel-video");
}

TEST_F(ExportPanelTest, AnAudioProjectChoosesItsContainerAndExplainsTheHandoffInsideThePanel) {
    open(sound(2));
    showWindow();
    ExportPanel* panel = openPanel();
    ASSERT_TRUE(waitUntil([&] { return workspace->exportAudioSpecLabel().has_value(); }));
    EXPECT_TRUE(shows(QString::fromStdString(*workspace->exportAudioSpecLabel())));
    EXPECT_FALSE(shows("MP4"));
    buttonWithText(*panel, "WAV")->click();
    EXPECT_EQ(workspace->exports().audioOutputFormat, AudioOutputFormat::wav);
    EXPECT_TRUE(buttonWithText(*panel, "WAV")->isChecked());
    EXPECT_FALSE(buttonWithText(*panel, "M4A")->isChecked());
    buttonWithText(*panel, "导出到其他剪辑软件…")->click();
    EXPECT_EQ(view().modal(), ModalPanel::exportPanel);
    EXPECT_TRUE(shows("纯音频请导出 WAV，再导入剪辑软件。"));
    EXPECT_TRUE(shows("导出 WAV"));
    saveShot(*mainWindow, "export-panel-audio");
}

TEST_F(ExportPanelTest, EachButtonClosesThePanelOrLeavesItOpen) {
    open(sound(2));
    workspace->setExportAudioInfoReader(
        [](const fs::path&, const CancellationToken&) -> AudioStreamInfo { throw MediaError("unreadable"); });
    showWindow();
    // The folder and file choosers run modally: they are dismissed as soon as they show.
    const auto dismissChooser = [] {
        QTimer::singleShot(0, [] {
            QElapsedTimer clock;
            clock.start();
            while (!QApplication::activeModalWidget() && clock.elapsed() < 5000)
                QApplication::processEvents(QEventLoop::AllEvents, 20);
            if (auto* chooser = QApplication::activeModalWidget()) chooser->close();
        });
    };
    struct Case {
        QString button;
        bool closes;
        std::function<void()> before = [] {};
    };
    const std::vector<Case> cases{
        {"取消", true},
        {"M4A", false},
        {"WAV", false},
        {"更改…", false, dismissChooser},
        {"打开文件夹", false},
        {"重试读取", false},
        {"重新选择同一素材…", true, dismissChooser},
        {"导出到其他剪辑软件…", false},
        {"导出 WAV", true,
         [&] {
             workspace->setAudioHandoffInfoPresented(true);
             settle();
         }},
        {"导出", true},
    };
    for (const auto& test : cases) {
        ExportPanel* panel = openPanel();
        ASSERT_TRUE(waitUntil([&] { return workspace->exports().audioInfoIssue.has_value(); }))
            << test.button.toStdString();
        settle();
        QAbstractButton* button = buttonWithText(*panel, test.button);
        test.before();
        ASSERT_TRUE(button && button->isVisible()) << test.button.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(view().modal().has_value(), !test.closes) << test.button.toStdString();
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
        settle();
        view().setModal(std::nullopt);
    }
    EXPECT_EQ(desktop.openedFolders.size(), 1u);
    // Esc, through the panel's own shortcut.
    openPanel();
    mainWindow->activateWindow();
    QApplication::setActiveWindow(mainWindow.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(mainWindow.get()));
    QTest::keyClick(current, Qt::Key_Escape);
    EXPECT_FALSE(view().modal());
}

TEST_F(ExportPanelTest, ChannelsAndStemsOfTheLastExportGoWithItsRecording) {
    const QString stemsButton = QStringLiteral("声道 WAV…");
    const QString showStems = QStringLiteral("显示声道");
    open(sound(6));
    showWindow();
    // The test answers the folder panel (the window would show a real one).
    workspace->setWindow(&window);
    workspace->exportCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->document().cutOutput; }))
        << workspace->job().status;
    settle();
    view().setModal(std::nullopt);
    window.chosenFolder = folder.path();
    workspace->exportChannelStems();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    ASSERT_TRUE(workspace->exports().channelStemsFolder) << workspace->job().status;
    ASSERT_EQ(workspace->exports().exportedAudioChannels, 6);
    workspace->setNotice(std::nullopt);
    view().setModal(std::nullopt);

    openPanel();
    EXPECT_TRUE(shows(stemsButton));
    EXPECT_TRUE(shows(showStems));
    view().setModal(std::nullopt);

    // Another recording: what was exported of the first one is no longer offered.
    open(sound(2));
    EXPECT_FALSE(workspace->document().cutOutput);
    EXPECT_FALSE(workspace->exports().exportedAudioChannels);
    EXPECT_FALSE(workspace->exports().channelStemsFolder);
    openPanel();
    EXPECT_FALSE(shows(stemsButton));
    EXPECT_FALSE(shows(showStems));
    // The controller refuses the stems too: no folder is asked for.
    const auto panelsBefore = window.openPanels.size();
    workspace->exportChannelStems();
    EXPECT_EQ(window.openPanels.size(), panelsBefore);
    EXPECT_FALSE(workspace->job().busy);
}

TEST_F(ExportPanelTest, ALateCodecResultIsDroppedOnceItsReadIsNoLongerCurrent) {
    HeldCodecReader held;
    codecReader = held.reader();
    const fs::path clip = video();
    open(clip);
    showWindow();

    // "重试读取" cancels the first read; its late answer is not shown, the second one is.
    ExportPanel* panel = openPanel();
    ASSERT_TRUE(waitUntil([&] { return held.calls() == 1; }));
    buttonWithText(*panel, "重试读取")->click();
    ASSERT_TRUE(waitUntil([&] { return held.calls() == 2; }));
    EXPECT_TRUE(held.token(0)->isCancelled());
    held.release(0);
    QTest::qWait(100);
    EXPECT_FALSE(panel->videoCodecs());
    held.release(1);
    ASSERT_TRUE(waitUntil([&] { return panel->videoCodecs() == "answer 1"; }));
    EXPECT_TRUE(shows("320 × 240, answer 1"));

    // A source that changed while the read ran: the answer is for another file.
    view().setModal(std::nullopt);
    panel = openPanel();
    ASSERT_TRUE(waitUntil([&] { return held.calls() == 3; }));
    open(video("other.mp4"));
    held.release(2);
    QTest::qWait(100);
    EXPECT_FALSE(panel->videoCodecs());

    // Closing cancels the running read and the audio read.
    openPanel();
    ASSERT_TRUE(waitUntil([&] { return held.calls() == 4; }));
    view().setModal(std::nullopt);
    EXPECT_TRUE(held.token(3)->isCancelled());
    EXPECT_FALSE(workspace->exports().audioInfoLoading);
}

TEST_F(ExportPanelTest, QuittingWhileTheCodecProbeBlocksOnAPipeEndsItWithinTheBound) {
    // The panel's real probe, on a pipe that nobody ever writes: ffprobe waits in open().
    const fs::path pipe = folder / "never-written.mp4";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> readEnded = false;
    CancellationToken readToken;
    std::mutex tokenLock;
    codecReader = [&](const fs::path&, bool copiesOriginal, std::optional<std::int64_t> channels,
                      const CancellationToken& token) -> std::optional<std::string> {
        {
            std::lock_guard guard(tokenLock);
            readToken = token;
        }
        struct Ended {
            std::atomic<bool>& flag;
            ~Ended() { flag = true; }
        } ended{readEnded};
        return ExportCodecText::read(pipe, copiesOriginal, channels, token);
    };
    open(video());
    showWindow();
    openPanel();
    // The codec read runs once the audio read is over; its ffprobe is then the only child.
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard guard(tokenLock);
        if (!readToken) return false;
        const auto children = childrenOf(getpid());
        return children.size() == 1 && children.begin()->second.find(pipe.string()) != std::string::npos;
    }));
    QTest::qWait(200);
    EXPECT_FALSE(readEnded);

    // The application's quit: the controller cancels the read and waits for it, so nothing of
    // it outlives the controller.
    constexpr auto kBound = std::chrono::milliseconds(3000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(workspace->shutdown(kBound));
    EXPECT_LT(clock.elapsed(), kBound.count() + 500);
    EXPECT_TRUE(readEnded);
    {
        std::lock_guard guard(tokenLock);
        ASSERT_TRUE(readToken);
        EXPECT_TRUE(readToken->isCancelled());
    }
    EXPECT_TRUE(childrenOf(getpid()).empty());

    // Taking the window and the controller apart afterwards waits for nothing.
    clock.restart();
    mainWindow.reset();
    workspace.reset();
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(ExportPanelTest, ExportingFromThePanelDeliversTheCut) {
    open(sound(2));
    showWindow();
    ExportPanel* panel = openPanel();
    ASSERT_TRUE(waitUntil([&] { return workspace->exportAudioSpecLabel().has_value(); }));
    QTest::mouseClick(buttonWithText(*panel, "导出"), Qt::LeftButton);
    EXPECT_FALSE(view().modal() == ModalPanel::exportPanel);
    ASSERT_TRUE(
        waitUntil([&] { return !workspace->job().busy && workspace->document().cutOutput.has_value(); }));
    EXPECT_TRUE(fs::exists(*workspace->document().cutOutput));
}

}  // namespace
}  // namespace talvian::test
