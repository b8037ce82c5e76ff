#include "Process/Runner.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> list;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto end = text.find('\n', begin);
        list.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return list;
}

class WorkspaceDiagnosticsTest : public WorkspaceTest {
  protected:
    fs::path report = folder / "reports/Talvian-Diagnostics.txt";

    void SetUp() override {
        WorkspaceTest::SetUp();
        fs::create_directories(report.parent_path());
        window.chosenSaveLocation = report;
    }
    // Exports the report and returns its lines once it is written.
    std::vector<std::string> exportReport() {
        fs::remove(report);
        workspace->exportDiagnostics();
        EXPECT_TRUE(waitUntil([&] { return fs::exists(report); }));
        return lines(readFile(report));
    }
};

}  // namespace

TEST_F(WorkspaceDiagnosticsTest, WithoutAProjectTheReportHasTheSixGeneralLines) {
    auto report = exportReport();
    ASSERT_EQ(window.savePanels.size(), 1u);
    EXPECT_EQ(window.savePanels[0].defaultName, "Talvian-Diagnostics.txt");
    EXPECT_EQ(window.savePanels[0].kind, SavePanelRequest::Kind::plainText);
    ASSERT_EQ(report.size(), 6u);
    EXPECT_TRUE(report[0].starts_with("Version: "));
    EXPECT_EQ(report[5], "Last error: —");

    // A source without a finished analysis adds nothing either.
    workspace->loadSource(sourceA, false);
    EXPECT_EQ(exportReport().size(), 6u);
    EXPECT_FALSE(workspace->job().busy);
}

TEST_F(WorkspaceDiagnosticsTest, AVideoSourceReportsItsCodecsAndChannels) {
    const fs::path video = folder / "talk.mp4";
    makeMedia(
        "-f lavfi -i testsrc=size=64x48:rate=30:duration=1 -f lavfi -i sine=frequency=440:duration=1 "
        "-ac 6 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest",
        video);
    open(video);
    const auto report = exportReport();
    ASSERT_EQ(report.size(), 11u);
    EXPECT_EQ(report[9], "Encoding: h264, aac");
    EXPECT_EQ(report[10], "Channels: 6");
}

TEST_F(WorkspaceDiagnosticsTest, AProbeFailureLeavesTheMediaFactsOpenAndTheLastErrorPrivate) {
    open(sourceA);  // not a media file: ffprobe fails
    analysis.thrown = std::make_exception_ptr(
        ProcessFailure(ProcessFailure::Kind::incomplete, "/home/someone/a.wav: Invalid data\n"));
    workspace->analyze();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    const auto report = exportReport();
    ASSERT_EQ(report.size(), 11u);
    EXPECT_EQ(
        report[5],
        "Last error: 处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。");
    EXPECT_EQ(report[9], "Encoding: —");
    EXPECT_EQ(report[10], "Channels: —");
}

TEST_F(WorkspaceDiagnosticsTest, AnExistingReportIsReplacedAndAnUnwritablePlaceOnlySetsTheNotice) {
    writeFile(report, "old report");
    workspace->exportDiagnostics();
    ASSERT_TRUE(waitUntil([&] { return readFile(report) != "old report"; }));
    EXPECT_EQ(lines(readFile(report)).size(), 6u);
    EXPECT_FALSE(workspace->job().notice);

    open(sourceA);
    const auto status = workspace->job().status;
    writeFile(folder / "plain-file", "");
    window.chosenSaveLocation = folder / "plain-file/Talvian-Diagnostics.txt";
    workspace->exportDiagnostics();
    ASSERT_TRUE(waitUntil([&] { return workspace->job().notice.has_value(); }));
    EXPECT_EQ(workspace->job().notice, "无法保存诊断信息，请选择其他保存位置。");
    EXPECT_EQ(workspace->job().status, status);
    EXPECT_FALSE(workspace->job().busy);

    // A cancelled panel does nothing at all.
    window.chosenSaveLocation.reset();
    workspace->setNotice(std::nullopt);
    workspace->exportDiagnostics();
    EXPECT_TRUE(workspace->shutdown(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_FALSE(workspace->job().notice);
}
