// The window over the real controller, the real analysis (ffmpeg) and real libmpv players
// without sound or picture devices.

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <fstream>

#include <gtest/gtest.h>

#include "Analysis/PauseAnalysis.h"
#include "Player/MpvPlayer.h"
#include "Shell/EditorView.h"
#include "Shell/QuitTeardown.h"
#include "ShellFixture.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;

// Speech-like sound: 2 s of tone, then 1 s of silence, over and over.
void makeTalk(const fs::path& file, double seconds, int sampleRate = 16000) {
    makeMedia("-f lavfi -i \"aevalsrc='if(lt(mod(t,3),2),0.5*sin(2*PI*220*t),0)':s=" +
                  std::to_string(sampleRate) + ":d=" + std::to_string(seconds) + "\" -c:a pcm_s16le",
              file);
}

// The ffmpeg and ffprobe children of this process that are still alive.
std::vector<pid_t> toolChildren() {
    std::vector<pid_t> children;
    DIR* proc = opendir("/proc");
    if (!proc) return children;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string name = line.substr(open + 1, close - open - 1);
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == getpid() && state != 'Z' && (name == "ffmpeg" || name == "ffprobe"))
            children.push_back(pid);
    }
    closedir(proc);
    return children;
}

std::vector<fs::path> hiddenFiles(const fs::path& folder) {
    std::vector<fs::path> hidden;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".")) hidden.push_back(entry.path());
    return hidden;
}

MpvSettings silentPlayers() {
    MpvSettings settings;
    settings.audioOutput = "null";
    return settings;
}

class WindowIntegration : public ::testing::Test {
  protected:
    TempDir folder;
    fs::path backupURL = folder / "Recovery/last-session.quenlo.json";
    MpvPlayerFactory players{silentPlayers()};
    std::unique_ptr<Workspace> workspace = std::make_unique<Workspace>(
        players, backupURL, std::vector<std::string>{"--output", (folder / "out").string()},
        &VevazAvezud::analyze);
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>(*workspace, QStringList{});
};

TEST_F(WindowIntegration, ADroppedRecordingIsAnalysedIntoAnEditThatIsBackedUp) {
    const fs::path talk = folder / "talk.wav";
    makeTalk(talk, 12);
    window->show();
    ASSERT_TRUE(dropFiles(window->view(), {QUrl::fromLocalFile(QString::fromStdString(talk.string()))}));
    ASSERT_TRUE(waitUntil([&] { return workspace->document().source == talk; }));
    settle();
    EXPECT_TRUE(window->view().findChild<EditorView*>()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return workspace->document().project && !workspace->job().busy; }, 120000))
        << workspace->job().status;
    EXPECT_FALSE(workspace->document().project->cuts.empty());
    EXPECT_TRUE(fs::exists(backupURL));
    EXPECT_TRUE(workspace->document().sessionBackupSaved);
}

TEST_F(WindowIntegration, ANewExportResultOpensTheResultCard) {
    const fs::path talk = folder / "talk.wav";
    makeTalk(talk, 9);
    window->show();
    window->view().setPanelFactory([](ModalPanel modal, WorkspaceView&) -> QWidget* {
        return new QLabel(QString::number(static_cast<int>(modal)));
    });
    workspace->loadSource(talk, true);
    ASSERT_TRUE(waitUntil([&] { return workspace->document().project && !workspace->job().busy; }, 120000));
    window->view().setModal(ModalPanel::settings);
    workspace->exportCut();
    ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }, 120000));
    settle();
    ASSERT_TRUE(workspace->document().cutOutput) << workspace->job().status;
    EXPECT_EQ(window->view().modal(), ModalPanel::done);
    // An edit clears the output again: nothing opens or closes.
    window->view().setModal(std::nullopt);
    workspace->toggleCut(workspace->document().project->cuts.front().id);
    settle();
    ASSERT_FALSE(workspace->document().cutOutput);
    EXPECT_FALSE(window->view().modal());
}

TEST_F(WindowIntegration, QuittingDuringAnAnalysisLeavesNoChildAndNoWorkFile) {
    const fs::path talk = folder / "long.wav";
    // Long enough that the analysis is still running when the window closes.
    makeTalk(talk, 1200, 8000);
    // The analysis keeps its work folder in the temporary folder: this test's own.
    const fs::path temporary = folder / "tmp";
    fs::create_directories(temporary);
    const QByteArray previousTemporary = qgetenv("TMPDIR");
    qputenv("TMPDIR", QByteArray::fromStdString(temporary.string()));
    quitWithTeardown(*qApp, *workspace, kQuitBound);
    window->show();
    workspace->loadSource(talk, true);
    ASSERT_TRUE(waitUntil([] { return !toolChildren().empty(); }, 60000)) << workspace->job().status;
    ASSERT_TRUE(workspace->job().busy);

    // Closing the window quits the application like the real one does.
    QTimer::singleShot(0, window.get(), [&] { window->close(); });
    QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
    QApplication::exec();

    EXPECT_TRUE(toolChildren().empty());
    EXPECT_TRUE(hiddenFiles(folder.path()).empty());
    EXPECT_TRUE(fs::is_empty(temporary)) << fs::directory_iterator(temporary)->path();
    if (previousTemporary.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", previousTemporary);
}

}  // namespace
}  // namespace talvian::test
