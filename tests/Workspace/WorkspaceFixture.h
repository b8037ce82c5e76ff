#pragma once
// Shared pieces of the controller tests: a window that answers the controller, an analysis
// that the test scripts, and waits with deadlines.

#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <utility>

#include <gtest/gtest.h>

#include "Model/FileNaming.h"
#include "Player/FakePlayer.h"
#include "Process/MediaProbe.h"
#include "TestSupport.h"
#include "Workspace/DesktopServices.h"
#include "Workspace/Workspace.h"
#include "Workspace/WorkspaceWindow.h"

namespace talvian::test {

// Runs the event loop until `done` holds or the deadline passes; returns `done()`.
// The default deadline only bounds a hang: real ffmpeg exports take much longer on a busy machine.
inline bool waitUntil(const std::function<bool()>& done, int milliseconds = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Runs the event loop until every queued report (and the reports those cause) is delivered,
// and every view has followed the controller: a view refreshes at a turn of the event loop
// after the controller published (Workspace/SliceBinding.h).
inline void settle() {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Another process holds the session backup's lock, as a second running instance would, until
// this object goes.
class ForeignBackupLock {
  public:
    explicit ForeignBackupLock(const std::filesystem::path& backupURL) {
        const std::filesystem::path lock = backupURL.string() + ".lock";
        std::filesystem::create_directories(backupURL.parent_path());
        holder_ = fork();
        if (holder_ == 0) {
            // A group of its own, so that flock and its sleeping child end together (a child
            // left running would keep the test's output open).
            setpgid(0, 0);
            // -o: only flock itself holds the lock, so ending it frees the lock.
            execlp("flock", "flock", "-o", "-x", lock.c_str(), "sleep", "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        held = waitUntil(
            [&] {
                try {
                    SessionBackup backup(backupURL);
                    return false;
                } catch (const MediaError&) {
                    return true;
                }
            },
            30000);
    }
    ~ForeignBackupLock() {
        kill(-holder_, SIGKILL);
        kill(holder_, SIGKILL);
        waitpid(holder_, nullptr, 0);
    }
    ForeignBackupLock(const ForeignBackupLock&) = delete;
    ForeignBackupLock& operator=(const ForeignBackupLock&) = delete;

    bool held = false;

  private:
    pid_t holder_ = -1;
};

// Runs `action` once, just before the next queued call reaches the application object: the
// moment a background job's completion arrives on the main thread.
class BeforeNextQueuedCall : public QObject {
  public:
    explicit BeforeNextQueuedCall(std::function<void()> action) : action_(std::move(action)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~BeforeNextQueuedCall() override { QCoreApplication::instance()->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (action_ && watched == QCoreApplication::instance() && event->type() == QEvent::MetaCall)
            std::exchange(action_, nullptr)();
        return false;
    }

  private:
    std::function<void()> action_;
};

class TestWindow : public WorkspaceWindow {
  public:
    std::optional<std::filesystem::path> chosen;
    bool keepsFocus = false;
    bool editingText = false;
    int textUndos = 0;
    int textRedos = 0;

    // The answers of the other panels, and the requests they were shown with.
    std::optional<std::filesystem::path> chosenProject;
    std::optional<std::filesystem::path> chosenSource;
    std::optional<std::filesystem::path> chosenFolder;
    std::optional<std::filesystem::path> chosenSaveLocation;
    std::vector<OpenPanelRequest> openPanels;
    std::vector<SavePanelRequest> savePanels;
    // Runs while a panel is shown (modal): what the user or a late completion does meanwhile.
    std::function<void()> whilePanelShown;

    std::optional<std::filesystem::path> chooseMediaFile(const std::string&) override { return chosen; }
    int textEditingEnds = 0;  // how often the controller asked the field to give up the keyboard
    bool endTextEditing() override {
        ++textEditingEnds;
        return !keepsFocus;
    }
    bool undoTextEditing() override { return editingText && ++textUndos; }
    bool redoTextEditing() override { return editingText && ++textRedos; }
    std::optional<std::filesystem::path> chooseProjectFile(const OpenPanelRequest& request) override {
        return open(request, chosenProject);
    }
    std::optional<std::filesystem::path> chooseSourceFile(const OpenPanelRequest& request) override {
        return open(request, chosenSource);
    }
    std::optional<std::filesystem::path> chooseFolder(const OpenPanelRequest& request) override {
        return open(request, chosenFolder);
    }
    std::optional<std::filesystem::path> chooseSaveLocation(const SavePanelRequest& request) override {
        savePanels.push_back(request);
        if (whilePanelShown) whilePanelShown();
        return chosenSaveLocation;
    }

  private:
    std::optional<std::filesystem::path> open(const OpenPanelRequest& request,
                                              const std::optional<std::filesystem::path>& answer) {
        openPanels.push_back(request);
        if (whilePanelShown) whilePanelShown();
        return answer;
    }
};

// Records what the controller asked the file browser to show.
class RecordingDesktop : public DesktopServices {
  public:
    std::vector<std::filesystem::path> openedFolders;
    std::vector<std::filesystem::path> revealedFiles;
    std::vector<std::string> openedLinks;
    void openFolder(const std::filesystem::path& folder) override { openedFolders.push_back(folder); }
    void revealFile(const std::filesystem::path& file) override { revealedFiles.push_back(file); }
    void openLink(const std::string& address) override { openedLinks.push_back(address); }
};

// A project of the file at `path` as an analysis in fixed mode would produce it.
inline CutProject makeProject(const std::filesystem::path& path, double duration, std::vector<CutRegion> cuts,
                              const CutOptions& options = CutOptions()) {
    CutProject project;
    project.version = options.paddingRight ? 5 : (options.mode == DetectionMode::fixed ? 1 : 2);
    project.source = path.string();
    const auto metadata = SourceMetadata::read(path);
    project.sourceBytes = metadata.bytes;
    project.modifiedAt = metadata.modifiedAt;
    project.info.duration = duration;
    project.info.hasAudio = true;
    project.info.audioTracks = 1;
    project.options = options;
    project.cuts = std::move(cuts);
    project.waveform = std::vector<double>(320, 0.5);
    return project;
}

// An analysis whose results the test decides. With `hold` set, each call blocks until
// release() so that a test can act while the job runs; it reports progress first.
class ScriptedAnalysis {
  public:
    std::function<std::vector<CutRegion>(const CutOptions&)> cuts = [](const CutOptions&) {
        return std::vector<CutRegion>{CutRegion(1, 2, true), CutRegion(4, 5.5, true),
                                      CutRegion(7, 7.5, true)};
    };
    double duration = 10;
    bool hold = false;
    std::optional<std::string> failure;
    // Thrown instead of a result, when set (any error, as an analysis may throw it).
    std::exception_ptr thrown;
    bool timeout = false;
    // Media facts as ffprobe reads them from the file (real media), instead of a 10 s sound.
    bool probeMedia = false;
    // Changes each result before it is returned (media facts the test needs).
    std::function<void(CutProject&)> finish;

    Workspace::Analyzer analyzer() {
        return [this](const std::filesystem::path& url, const CutOptions& options,
                      const CancellationToken& token, const ProgressCallback& progress) {
            {
                std::lock_guard guard(lock_);
                calls_.push_back(options);
            }
            progress(0.5, "解码原始音频");
            if (hold) {
                std::unique_lock guard(lock_);
                wake_.wait(guard, [this] { return released_; });
                released_ = false;
            }
            if (failure) throw MediaError(*failure);
            if (thrown) std::rethrow_exception(thrown);
            token->check();
            CutProject project = makeProject(url, duration, cuts(options), options);
            if (probeMedia) project.info = Runner::probe(url, token);
            if (finish) finish(project);
            return project;
        };
    }

    void release() {
        std::lock_guard guard(lock_);
        released_ = true;
        wake_.notify_all();
    }
    std::vector<CutOptions> calls() {
        std::lock_guard guard(lock_);
        return calls_;
    }

  private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool released_ = false;
    std::vector<CutOptions> calls_;
};

// A controller with a backup folder, a source file and a scripted analysis.
class WorkspaceTest : public ::testing::Test {
  protected:
    TempDir folder;
    std::filesystem::path backupURL = folder / "Recovery/last-session.quenlo.json";
    std::filesystem::path sourceA = folder / "a.wav";
    std::filesystem::path sourceB = folder / "b.wav";
    ScriptedAnalysis analysis;
    TestWindow window;
    // Scripted players; the test decides when each one loads.
    FakePlayerFactory players;
    RecordingDesktop desktop;
    std::unique_ptr<Workspace> workspace;

    void SetUp() override {
        writeFile(sourceA, "a");
        writeFile(sourceB, "b");
        workspace = makeWorkspace();
    }
    void TearDown() override {
        analysis.hold = false;
        analysis.release();
    }

    std::unique_ptr<Workspace> makeWorkspace() {
        auto made =
            std::make_unique<Workspace>(players, backupURL, std::vector<std::string>{}, analysis.analyzer());
        made->setWindow(&window);
        made->setDesktopServices(&desktop);
        made->setDetectionPreviewDelay(std::chrono::milliseconds(30));
        return made;
    }

    // Loads a source and waits for the analysis to be installed.
    void open(const std::filesystem::path& source) {
        workspace->loadSource(source, true);
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
        ASSERT_TRUE(workspace->document().project);
    }
    std::vector<Uuid> ids() const {
        std::vector<Uuid> list;
        for (const auto& region : workspace->document().project->cuts) list.push_back(region.id);
        return list;
    }
};

}  // namespace talvian::test
