// The export result card: what it offers for each recorded result, and the card over the real
// controller after real exports and a real hand-off package.

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include "HandoffFixtures.h"
#include "MediaTestSupport.h"
#include "NameCases.h"
#include "Shell/ExportResultCard.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;

TEST(ResultCardState, OffersWhatTheControllerWillActOn) {
    const fs::path cut = "/tmp/out/talk-粗剪.m4a";
    const fs::path package = "/tmp/out/talk 剪映交接";
    const fs::path timeline = package / "talk.fcpxml";
    const fs::path stems = "/tmp/out/声道-WAV-0A1B2C3D";
    struct Case {
        const char* name;
        ResultCardFacts facts;
        std::string outputName;
        bool offersStems;
        bool stemsEnabled;
        std::optional<fs::path> stemsFolder;
        std::optional<fs::path> guide;
    };
    const Case cases[] = {
        {"stereo cut file", {cut, 2, false, {}, {}, false}, "talk-粗剪.m4a", false, false, {}, {}},
        {"three channels", {cut, 3, false, {}, {}, false}, "talk-粗剪.m4a", true, true, {}, {}},
        {"six channels", {cut, 6, false, {}, {}, false}, "talk-粗剪.m4a", true, true, {}, {}},
        {"channel count unread", {cut, {}, false, {}, {}, false}, "talk-粗剪.m4a", false, false, {}, {}},
        {"six channels while a job runs",
         {cut, 6, false, {}, {}, true},
         "talk-粗剪.m4a",
         true,
         false,
         {},
         {}},
        {"stems written", {cut, 6, false, stems, {}, false}, "talk-粗剪.m4a", true, true, stems, {}},
        // The channel count is still the earlier export's: the controller ignores the request.
        {"hand-off after a six-channel export",
         {package, 6, true, {}, timeline, false},
         "talk 剪映交接",
         false,
         false,
         {},
         timeline},
        {"package named with a trailing slash",
         {package / "", {}, true, {}, timeline, false},
         "talk 剪映交接",
         false,
         false,
         {},
         timeline},
        // handoffXMLURL outlives its package: a later cut export must not show its guide.
        {"cut export after a hand-off",
         {cut, 2, false, {}, timeline, false},
         "talk-粗剪.m4a",
         false,
         false,
         {},
         {}},
        {"package that does not hold the timeline",
         {"/tmp/out/other 剪映交接", {}, true, {}, timeline, false},
         "other 剪映交接",
         false,
         false,
         {},
         {}},
        {"no output", {{}, 6, false, {}, timeline, false}, "", false, false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ResultCardState state = ResultCardState::make(c.facts);
        EXPECT_EQ(state.outputName, c.outputName);
        EXPECT_EQ(state.revealed, c.facts.output);
        EXPECT_EQ(state.offersStems, c.offersStems);
        EXPECT_EQ(state.stemsEnabled, c.stemsEnabled);
        EXPECT_EQ(state.stemsFolder, c.stemsFolder);
        EXPECT_EQ(state.guideTimeline, c.guide);
    }
}

TEST(HandoffGuide, NamesTheTimelineFileAndCopiesItsPlainPath) {
    const fs::path timeline = "/tmp/my clips/talk 剪映交接/talk v2.fcpxml";
    HandoffGuide guide(timeline);
    EXPECT_EQ(HandoffGuide::sentence(timeline),
              "在剪映或 DaVinci Resolve 中导入时间线文件“\u2068talk "
              "v2.fcpxml\u2069”。具体步骤见交接包里的“导入说明”。");
    auto* button = buttonWithText(guide, "复制时间线路径");
    ASSERT_TRUE(button);
    EXPECT_EQ(button->accessibleName(), "复制时间线路径");
    EXPECT_EQ(button->accessibleDescription(), "尚未复制");
    EXPECT_EQ(button->focusPolicy() & Qt::ClickFocus, 0);

    QGuiApplication::clipboard()->setText("older text");
    button->click();
    // The path itself, not a file URL, spaces unescaped.
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "/tmp/my clips/talk 剪映交接/talk v2.fcpxml");
    EXPECT_TRUE(guide.copied());
    EXPECT_EQ(button->text(), "已复制路径");
    EXPECT_EQ(button->accessibleName(), "复制时间线路径");
    EXPECT_EQ(button->accessibleDescription(), "已复制路径");
}

// The window over the controller with real media and the real export back-end.
class ExportResultCardTest : public ShellTest {
  protected:
    fs::path output = folder / "out";

    void SetUp() override {
        ShellTest::SetUp();
        analysis.probeMedia = true;
        analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(0.5, 1.0, true)}; };
        workspace = std::make_unique<Workspace>(
            players, backupURL, std::vector<std::string>{"Talvian", "--output", output.string()},
            analysis.analyzer());
        workspace->setDesktopServices(&desktop);
        // The window answers the controller's file panels itself (MainWindow).
        showWindow();
        workspace->setWindow(&window);
        view().setPanelFactory([this](ModalPanel modal, WorkspaceView& v) -> QWidget* {
            return modal == ModalPanel::done ? new ExportResultCard(*workspace, v) : nullptr;
        });
    }
    ExportResultCard* card() {
        return view().panel() ? view().panel()->findChild<ExportResultCard*>() : nullptr;
    }
    void exportAndWait() {
        workspace->exportCut();
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->document().cutOutput; }))
            << workspace->job().status;
        settle();
        ASSERT_EQ(view().modal(), ModalPanel::done);
        ASSERT_TRUE(card());
    }
    void handoffAndWait(const fs::path& package) {
        window.chosenSaveLocation = package;
        workspace->exportHandoff();
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->document().cutOutput; }))
            << workspace->job().status;
        settle();
        ASSERT_TRUE(card());
    }
};

TEST_F(ExportResultCardTest, ASixChannelExportOffersChannelWavsThatCloseTheCardAndAskForAFolder) {
    const fs::path room = folder / "room.wav";
    makeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 6", room);
    open(room);
    exportAndWait();
    ExportResultCard& shown = *card();
    const QStringList texts = visibleTexts(shown);
    for (const char* text : {"导出完成", "\u2068room-粗剪.m4a\u2069", "原文件和剪辑项目均已保留。",
                             "打开文件夹", "声道 WAV…", "完成"})
        EXPECT_TRUE(texts.contains(text)) << text;
    EXPECT_FALSE(texts.contains("显示声道"));
    EXPECT_FALSE(shown.guide());
    EXPECT_EQ(shown.width(), ExportResultCard::kWidth);

    buttonWithText(shown, "打开文件夹")->click();
    EXPECT_EQ(desktop.revealedFiles, std::vector<fs::path>{output / "room-粗剪.m4a"});

    // The card is closed by the time the controller asks for the folder; the panel is cancelled.
    std::optional<bool> cardOpenAtPanel;
    window.whilePanelShown = [&] { cardOpenAtPanel = view().modal().has_value(); };
    buttonWithText(shown, "声道 WAV…")->click();
    EXPECT_EQ(cardOpenAtPanel, false);
    ASSERT_EQ(window.openPanels.size(), 1u);
    EXPECT_EQ(window.openPanels[0].title, "选择声道文件保存位置");
    EXPECT_FALSE(view().modal());
}

TEST_F(ExportResultCardTest, AHandOffShowsItsGuideAndALaterCutExportDoesNot) {
    const fs::path video = folder / "clip.mp4";
    makeRec709Video(video, "30", 2);
    open(video);

    const fs::path package = folder / "clip 剪映交接";
    handoffAndWait(package);
    ExportResultCard& shown = *card();
    const QStringList texts = visibleTexts(shown);
    EXPECT_TRUE(texts.contains("\u2068clip 剪映交接\u2069"));
    EXPECT_FALSE(texts.contains("声道 WAV…"));
    ASSERT_TRUE(shown.guide());
    const fs::path timeline = *workspace->exports().handoffXMLURL;
    EXPECT_TRUE(texts.contains(QString::fromStdString(HandoffGuide::sentence(timeline))));
    saveShot(*view().panel(), "export-result-card-handoff");

    buttonWithText(shown, "打开文件夹")->click();
    EXPECT_EQ(desktop.revealedFiles.back(), package);
    buttonWithText(shown, "复制时间线路径")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), timeline.string());
    EXPECT_TRUE(visibleTexts(shown).contains("已复制路径"));

    // The guide of that package never follows a later cut file.
    exportAndWait();
    EXPECT_FALSE(card()->guide());
    EXPECT_FALSE(visibleTexts(*card()).contains("复制时间线路径"));
    saveShot(*view().panel(), "export-result-card-cut");
}

TEST_F(ExportResultCardTest, AHandOffOfAnotherRecordingNeverOffersTheEarlierStems) {
    const fs::path room = folder / "room.wav";
    makeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 6", room);
    open(room);
    exportAndWait();
    view().setModal(std::nullopt);
    window.chosenFolder = folder.path();
    workspace->exportChannelStems();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    settle();
    ASSERT_TRUE(workspace->exports().channelStemsFolder) << workspace->job().status;
    workspace->setNotice(std::nullopt);
    view().setModal(std::nullopt);

    // The hand-off of another recording: its card offers nothing of the first one's stems.
    const fs::path video = folder / "clip.mp4";
    makeRec709Video(video, "30", 2);
    open(video);
    handoffAndWait(folder / "clip 剪映交接");
    EXPECT_FALSE(workspace->exports().channelStemsFolder);
    const QStringList texts = visibleTexts(*card());
    EXPECT_TRUE(texts.contains("\u2068clip 剪映交接\u2069"));
    EXPECT_FALSE(texts.contains("显示声道"));
    EXPECT_FALSE(texts.contains("声道 WAV…"));
    saveShot(*view().panel(), "export-result-card-after-switch");
}

TEST_F(ExportResultCardTest, DoneAndEscapeCloseTheCard) {
    const fs::path talk = folder / "talk.wav";
    makeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 2", talk);
    open(talk);
    exportAndWait();
    EXPECT_FALSE(visibleTexts(*card()).contains("声道 WAV…"));
    buttonWithText(*card(), "完成")->click();
    EXPECT_FALSE(view().modal());
    EXPECT_FALSE(workspace->job().studioOverlayPresented);

    view().setModal(ModalPanel::done);
    ASSERT_TRUE(card());
    mainWindow->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(mainWindow.get()));
    QTest::keyClick(mainWindow.get(), Qt::Key_Escape);
    EXPECT_FALSE(view().modal());
}

TEST_F(ExportResultCardTest, TheCutFileIsNamedIsolatedOnOneLine) {
    for (const Name& name : kNames) {
        SCOPED_TRACE(name.label);
        const fs::path talk = folder / name.file;
        makeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2", talk);
        open(talk);
        exportAndWait();
        // The cut takes the recording's name with "-粗剪" and its own extension.
        std::string shown = name.shown;
        shown.replace(shown.size() - std::string(".wav").size(), std::string::npos, "-粗剪.m4a");
        EXPECT_TRUE(visibleTexts(*card()).contains(isolated(shown)))
            << visibleTexts(*card()).join("|").toStdString();
        buttonWithText(*card(), "完成")->click();
        ASSERT_FALSE(view().modal());
    }
}

}  // namespace
}  // namespace talvian::test
