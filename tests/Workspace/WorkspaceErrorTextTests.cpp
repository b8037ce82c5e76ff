// What the user reads when an operation of the controller fails: for every kind of error and
// every path that meets it, the finished Chinese sentence, never a tool's or a library's
// English, and the cancellation sentence only for a cancellation.

#include <stdexcept>

#include "Export/ExportDiskPreflight.h"
#include "Export/SupportDiagnostics.h"
#include "PlaybackFixture.h"
#include "Process/Runner.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

const std::string kIncomplete =
    "处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。";
const std::string kInterrupted = "处理被中断。原片和已有剪辑已保留，可稍后重试。";
const std::string kCancelled = "任务已取消，原文件未改动。";
const std::string kTimeout = "读取媒体信息超时。请重新选择原素材后再试；已有剪辑已保留。";
// A source whose size or time changed since its analysis, in a project without a digest.
const std::string kChangedSinceAnalysis = "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。";
// ffprobe's words for a file it cannot read, as a failing child or a library writes them.
const std::string kEnglish = "/home/someone/talk.mp4: Invalid data found when processing input";

std::string missingText(const fs::path& source) {
    return "找不到项目的原素材。请将原素材放回此路径后重试：\n" + source.string();
}
std::string changedText(const fs::path& source) {
    return "原素材的文件信息已变化。可重新定位并核对原片，保留已有剪辑。\n" + source.string();
}

// One kind of error as a job may throw it, and the sentence it stands for.
struct ThrownError {
    const char* name;
    std::exception_ptr error;
    std::string sentence;
};

std::vector<ThrownError> thrownErrors(const fs::path& source) {
    using Kind = ProcessFailure::Kind;
    return {
        {"analysis error", std::make_exception_ptr(MediaError("停顿参数超出有效范围。", kEnglish)),
         "停顿参数超出有效范围。"},
        {"time-out", std::make_exception_ptr(ProcessTimeout()), kTimeout},
        {"missing source", std::make_exception_ptr(MissingProjectSource(source.string())),
         missingText(source)},
        {"changed source", std::make_exception_ptr(ChangedProjectSource(source.string())),
         changedText(source)},
        {"process failure", std::make_exception_ptr(ProcessFailure(Kind::incomplete, kEnglish)), kIncomplete},
        {"interrupted process",
         std::make_exception_ptr(
             ProcessFailure(Kind::interrupted, "Exiting normally, received signal 15.\n")),
         kInterrupted},
        {"library failure", std::make_exception_ptr(std::runtime_error(kEnglish)), kIncomplete},
        {"cancellation", std::make_exception_ptr(OperationCancelled()), kCancelled},
    };
}

// The text on screen is the expected one; neither it nor the diagnostic copy holds English.
void expectShown(const std::optional<std::string>& shown, const std::string& expected,
                 const std::optional<std::string>& diagnostic, const std::string& label) {
    ASSERT_TRUE(shown) << label;
    EXPECT_EQ(*shown, expected) << label;
    if (expected.find(kCancelled) == std::string::npos) {
        EXPECT_EQ(shown->find(kCancelled), std::string::npos) << label;
    }
    for (const auto& text : {shown, diagnostic}) {
        if (!text) continue;
        EXPECT_EQ(text->find("Invalid data"), std::string::npos) << label;
        EXPECT_EQ(text->find("received signal"), std::string::npos) << label;
    }
}

}  // namespace

// ---- Errors thrown by the analysis, through its two callers

TEST_F(WorkspaceTest, AFailedAnalysisShowsTheSentenceOfEveryKindOfError) {
    for (const auto& row : thrownErrors(sourceA)) {
        analysis.thrown = row.error;
        workspace->setNotice(std::nullopt);
        workspace->loadSource(sourceA, true);
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; })) << row.name;
        // A time-out is the source's read issue; every other failure is the notice.
        const auto shown =
            workspace->job().notice ? workspace->job().notice : workspace->playback().sourceReadIssue;
        expectShown(shown, row.sentence, workspace->lastDiagnosticError(), row.name);
        EXPECT_FALSE(workspace->document().project) << row.name;
    }
}

TEST_F(WorkspaceTest, AFailedDetectionPreviewShowsTheSentenceOfEveryKindOfError) {
    open(sourceA);
    CutOptions options = workspace->detection().cutOptions;
    for (const auto& row : thrownErrors(sourceA)) {
        analysis.thrown = row.error;
        options.thresholdDB -= 1;  // a new setting each time: a new preview
        workspace->previewDetection(options);
        ASSERT_TRUE(waitUntil([&] { return !workspace->detection().calculating; })) << row.name;
        expectShown(workspace->detection().issue, row.sentence, workspace->lastDiagnosticError(), row.name);
        // Only the preview failed: the project, the status and the notice stay.
        EXPECT_TRUE(workspace->document().project) << row.name;
        EXPECT_FALSE(workspace->job().notice) << row.name;
    }
}

// ---- Errors of the export panel's audio read: the panel's own two sentences

TEST_F(WorkspaceTest, AFailedAudioReadShowsThePanelsSentenceAndKeepsNoEnglish) {
    open(sourceA);
    const std::string failed = "无法读取音频规格。可重新选择同一素材后重试，当前剪辑保留。";
    const std::string timedOut = "读取音频规格超时。可重新选择同一素材后重试，当前剪辑保留。";
    for (const auto& row : thrownErrors(sourceA)) {
        const std::exception_ptr error = row.error;
        workspace->setExportAudioInfoReader(
            [error](const fs::path&, const CancellationToken&) -> AudioStreamInfo {
                std::rethrow_exception(error);
            });
        workspace->readExportAudioInfo();
        ASSERT_TRUE(waitUntil([&] { return !workspace->exports().audioInfoLoading; })) << row.name;
        expectShown(workspace->exports().audioInfoIssue, row.sentence == kTimeout ? timedOut : failed,
                    workspace->lastDiagnosticError(), row.name);
        // The support report gets the sentence the user would have read, privacy-filtered.
        EXPECT_EQ(workspace->lastDiagnosticError(), SupportDiagnostics::privateError(row.sentence))
            << row.name;
    }
}

// ---- Real failures of the jobs that read the source themselves

namespace {

// The controller with its outputs in a folder of the test, over three sources that fail in
// three ways: one that went missing, one that changed after its analysis, and a text file
// (ffmpeg and ffprobe fail on it with English reports). The thrown table above has the
// changed-source error of a project with a digest.
class WorkspaceErrorTextTest : public PlaybackTest {
  protected:
    fs::path output = folder / "输出";
    fs::path missing = folder / "missing.wav";
    fs::path changed = folder / "changed.wav";
    fs::path notMedia = sourceB;

    struct Condition {
        const char* name;
        fs::path source;
        std::function<void()> apply;
    };
    std::vector<Condition> conditions() {
        return {
            {"missing source", missing, [this] { fs::remove(missing); }},
            {"changed source", changed, [this] { writeFile(changed, readFile(sourceA) + "more"); }},
            {"not media", notMedia, [] {}},
        };
    }

    void SetUp() override {
        PlaybackTest::SetUp();
        workspace = std::make_unique<Workspace>(
            players, backupURL, std::vector<std::string>{"Talvian", "--output", output.string()},
            analysis.analyzer());
        workspace->setWindow(&window);
        workspace->setDesktopServices(&desktop);
        workspace->setWaveformDetailDelay(std::chrono::milliseconds(0));
        workspace->setDiskPreflight(
            [](const CutProject&, const fs::path&, AudioOutputFormat, const CancellationToken&) {
                return std::optional<DiskSpaceShortfall>();
            });
    }

    // Opens the condition's source (a fresh copy of the recording, or the text file), lets
    // the preview load, then makes the condition true.
    void openUnder(const Condition& condition) {
        if (condition.source != notMedia)
            fs::copy_file(sourceA, condition.source, fs::copy_options::overwrite_existing);
        open(condition.source);
        preview().finishLoading(analysis.duration);
        ASSERT_TRUE(waitUntil([&] { return workspace->playback().previewReady; }));
        settle();
        workspace->setNotice(std::nullopt);
        condition.apply();
    }

    // The sentence a failure under `condition` shows; `otherwise` stands for a source that is
    // no media (each path may word that one its own way).
    std::string expectedText(const Condition& condition, const std::string& otherwise = kIncomplete) const {
        return condition.source == missing   ? missingText(missing)
               : condition.source == changed ? kChangedSinceAnalysis
                                             : otherwise;
    }
};

}  // namespace

TEST_F(WorkspaceErrorTextTest, TheExportShowsOneSentenceForEveryWayTheSourceFails) {
    for (const auto& condition : conditions()) {
        openUnder(condition);
        workspace->exportCut();
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->job().notice; }))
            << condition.name;
        const std::string expected = expectedText(condition);
        expectShown(workspace->job().notice, expected, workspace->lastDiagnosticError(), condition.name);
        EXPECT_EQ(workspace->job().status, expected) << condition.name;
        EXPECT_FALSE(workspace->document().cutOutput) << condition.name;
    }
}

TEST_F(WorkspaceErrorTextTest, TheHandOffShowsOneSentenceForEveryWayTheSourceFails) {
    analysis.finish = [](CutProject& project) { project.info.hasVideo = true; };
    int attempt = 0;
    for (const auto& condition : conditions()) {
        openUnder(condition);
        window.chosenSaveLocation = output / ("交接 " + std::to_string(++attempt));
        workspace->exportHandoff();
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->job().notice; }))
            << condition.name;
        const std::string expected = expectedText(condition);
        expectShown(workspace->job().notice, expected, workspace->lastDiagnosticError(), condition.name);
        EXPECT_FALSE(fs::exists(*window.chosenSaveLocation)) << condition.name;
    }
}

TEST_F(WorkspaceErrorTextTest, AnAuditionShowsOneSentenceForEveryWayTheSourceFails) {
    for (const auto& condition : conditions()) {
        openUnder(condition);
        workspace->audition(cut(1).id, AuditionMode::edited);
        ASSERT_TRUE(waitUntil([&] { return workspace->job().notice.has_value(); })) << condition.name;
        const std::string expected = expectedText(condition, "无法读取这份素材的音视频轨道。");
        expectShown(workspace->job().notice, "无法试听：" + expected, workspace->lastDiagnosticError(),
                    condition.name);
        EXPECT_FALSE(workspace->auditionID()) << condition.name;
    }
}

TEST_F(WorkspaceErrorTextTest, TheDetailWaveformShowsItsOwnSentenceForEveryWayTheSourceFails) {
    for (const auto& condition : conditions()) {
        openUnder(condition);
        workspace->setWaveformWindow(WaveformWindow{0, 5});
        ASSERT_TRUE(waitUntil([&] { return workspace->waveform().issue.has_value(); })) << condition.name;
        expectShown(workspace->waveform().issue, "局部波形未能加载。", workspace->lastDiagnosticError(),
                    condition.name);
    }
}

TEST_F(WorkspaceErrorTextTest, ProjectFilesShowTheirSentence) {
    openUnder(conditions()[2]);
    const fs::path broken = folder / "坏的.quenlo.json";
    writeFile(broken, "{\"version\": 1,");
    struct Case {
        const char* name;
        std::function<void()> act;
        std::string shown;
    };
    const Case cases[] = {
        {"open a damaged file", [&] { workspace->beginProjectLoad(broken); },
         "项目文件不是有效的 JSON 文本。"},
        {"save into a folder that is gone",
         [&] {
             workspace->beginProjectSave(*workspace->document().project, folder / "gone" / "a.quenlo.json");
         },
         "无法写入“a.quenlo.json”：文件或文件夹不存在。"},
    };
    for (const auto& c : cases) {
        workspace->setNotice(std::nullopt);
        c.act();
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->job().notice; })) << c.name;
        expectShown(workspace->job().notice, c.shown, workspace->lastDiagnosticError(), c.name);
    }
}

TEST_F(WorkspaceErrorTextTest, SplittingAnExportedFileThatIsNoLongerMediaShowsOneSentence) {
    const fs::path talk = folder / "六声道.wav";
    makeMedia("-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -ac 6", talk);
    analysis.probeMedia = true;
    analysis.cuts = [](const CutOptions&) { return std::vector<CutRegion>{CutRegion(0.2, 0.4, true)}; };
    open(talk);
    workspace->setAudioOutputFormat(AudioOutputFormat::wav);
    workspace->exportCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->document().cutOutput; }));
    ASSERT_EQ(workspace->exports().exportedAudioChannels, 6);
    // Replaced by something ffprobe reports on in English.
    writeFile(*workspace->document().cutOutput, "not a recording any more");
    window.chosenFolder = output;
    workspace->setNotice(std::nullopt);
    workspace->exportChannelStems();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy && workspace->job().notice; }));
    expectShown(workspace->job().notice, kIncomplete, workspace->lastDiagnosticError(), "stems");
}
