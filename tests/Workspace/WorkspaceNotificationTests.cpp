// The controller's notifications: every slice signal is checked against the slice's value
// (it changed, once per operation), every changed() against the slices it did not name (they
// kept their value), and at every notification the document must be whole: source, project,
// edit history and session backup agree. The main operations run end to end, the export
// with real ffmpeg.

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "Model/CutMath.h"
#include "Model/FileNaming.h"
#include "Model/ProjectFiles.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

// Every notification of one controller, counted per slice since the last take().
class NotificationRecorder {
  public:
    NotificationRecorder(Workspace& workspace, std::function<void()> invariant)
        : workspace_(workspace), invariant_(std::move(invariant)) {
        watch("document", &Workspace::documentChanged, &Workspace::document);
        watch("job", &Workspace::jobChanged, &Workspace::job);
        watch("detection", &Workspace::detectionChanged, &Workspace::detection);
        watch("review", &Workspace::reviewChanged, &Workspace::review);
        watch("waveform", &Workspace::waveformChanged, &Workspace::waveform);
        watch("playback", &Workspace::playbackChanged, &Workspace::playback);
        watch("export", &Workspace::exportChanged, &Workspace::exports);
        QObject::connect(&workspace_, &Workspace::changed, [this] {
            EXPECT_FALSE(signalled_.empty()) << "changed() without a slice";
            for (const auto& unchanged : checks_) unchanged();
            signalled_.clear();
            ++operations_;
            invariant_();
        });
    }

    struct Counts {
        int operations = 0;                 // published operations (changed() signals)
        std::map<std::string, int> slices;  // slice signals, by slice
    };
    // The counts since the last take; every operation seen so far has ended with changed().
    Counts take() {
        EXPECT_TRUE(signalled_.empty()) << "slice signals without changed()";
        Counts counts{operations_, slices_};
        operations_ = 0;
        slices_.clear();
        return counts;
    }

  private:
    template <class State>
    void watch(const char* name, void (Workspace::*signal)(), const State& (Workspace::*getter)() const) {
        auto last = std::make_shared<State>((workspace_.*getter)());
        QObject::connect(&workspace_, signal, [this, name, getter, last] {
            const State& now = (workspace_.*getter)();
            EXPECT_FALSE(now == *last) << name << " signalled an unchanged value";
            EXPECT_TRUE(signalled_.insert(name).second) << name << " signalled twice in one operation";
            *last = now;
            ++slices_[name];
            invariant_();
        });
        checks_.push_back([this, name, getter, last] {
            EXPECT_TRUE(signalled_.contains(name) || (workspace_.*getter)() == *last)
                << name << " changed without its signal";
        });
    }

    Workspace& workspace_;
    std::function<void()> invariant_;
    std::vector<std::function<void()>> checks_;
    std::set<std::string> signalled_;
    std::map<std::string, int> slices_;
    int operations_ = 0;
};

class NotificationTest : public WorkspaceTest {
  protected:
    fs::path output = folder / "out";
    fs::path talk = folder / "talk.wav";

    void SetUp() override {
        WorkspaceTest::SetUp();
        makeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=10 -ac 2", talk);
        analysis.probeMedia = true;
        workspace = std::make_unique<Workspace>(
            players, backupURL, std::vector<std::string>{"Talvian", "--output", output.string()},
            analysis.analyzer());
        workspace->setWindow(&window);
        workspace->setDesktopServices(&desktop);
        workspace->setDetectionPreviewDelay(std::chrono::milliseconds(1));
        workspace->setWaveformDetailDelay(std::chrono::hours(1));
    }

    // The document is whole whenever anyone is told anything.
    void checkDocument() {
        const DocumentState& document = workspace->document();
        ++invariantChecks;
        if (!document.project) {
            EXPECT_FALSE(workspace->cutHistory().canUndo() || workspace->cutHistory().canRedo())
                << "a history without its project";
            EXPECT_FALSE(workspace->review().reviewID);
            return;
        }
        const CutProject& project = *document.project;
        ASSERT_TRUE(document.source) << "a project without its source";
        EXPECT_EQ(project.source, document.source->string()) << "a project beside another source";
        if (workspace->cutHistory().canUndo()) {
            CutHistory history = workspace->cutHistory();
            EXPECT_NE(history.undo(project.cuts), project.cuts) << "the history's last step is not this edit";
        }
        if (document.sessionBackupSaved) {
            const auto backup = SessionBackup::project(backupURL);
            ASSERT_TRUE(backup);
            EXPECT_EQ(backup->source, project.source);
            EXPECT_EQ(backup->cuts, project.cuts) << "the backup lags behind the edit";
            EXPECT_EQ(backup->options, project.options);
            EXPECT_EQ(document.sessionBackupName, fs::path(project.source).filename().string());
        }
        EXPECT_TRUE(!workspace->review().reviewID || workspace->reviewCut()) << "review of a lost pause";
        for (const auto& id : workspace->review().batchIDs)
            EXPECT_TRUE(std::any_of(project.cuts.begin(), project.cuts.end(),
                                    [&id](const CutRegion& region) { return region.id == id; }));
        const auto& detail = workspace->waveform().detail;
        EXPECT_TRUE(!detail || detail->window == workspace->waveform().window);
    }

    // Runs one user operation (and waits until `done`), then returns what it published.
    NotificationRecorder::Counts run(const std::string& name, const std::function<void()>& operation,
                                     const std::function<bool()>& done = {}) {
        recorder->take();
        operation();
        EXPECT_TRUE(!done || waitUntil(done, 60000)) << name;
        // Late reports (queued progress, player reports) belong to the operation too.
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        auto counts = recorder->take();
        std::string line;
        for (const auto& [slice, count] : counts.slices) line += " " + slice + " " + std::to_string(count);
        std::printf("[ notifications ] %-22s changed() %3d |%s\n", name.c_str(), counts.operations,
                    line.c_str());
        return counts;
    }
    bool idle() const { return !workspace->job().busy; }

    int invariantChecks = 0;
    std::unique_ptr<NotificationRecorder> recorder;
};

using Slices = std::map<std::string, int>;

}  // namespace

TEST_F(NotificationTest, EachOperationPublishesOnceAndOnlyWhatChanged) {
    recorder = std::make_unique<NotificationRecorder>(*workspace, [this] { checkDocument(); });

    // Import with its analysis: the start, the progress report, the result.
    const auto sample = run(
        "sample", [&] { workspace->sample(); }, [&] { return idle(); });
    ASSERT_TRUE(workspace->document().project);
    EXPECT_LE(sample.operations, 3);
    window.chosen = talk;
    const auto imported = run(
        "import+analysis", [&] { workspace->importFiles(); }, [&] { return idle(); });
    ASSERT_TRUE(workspace->document().project);
    EXPECT_EQ(workspace->document().source, talk);
    EXPECT_LE(imported.operations, 3);
    EXPECT_EQ(imported.slices.at("document"), 2) << "the switch, then the project";

    // Edits: one operation each, and only the slices they touch.
    const auto toggled = run("toggle", [&] { workspace->toggleCut(ids()[0]); });
    EXPECT_EQ(toggled.operations, 1);
    EXPECT_EQ(toggled.slices, (Slices{{"document", 1}, {"job", 1}, {"review", 1}}));

    workspace->beginBatchSelection();
    workspace->toggleBatchCut(ids()[0], false);
    workspace->toggleBatchCut(ids()[1], false);
    const auto batch = run("batch delete", [&] { EXPECT_TRUE(workspace->applyBatch(true)); });
    EXPECT_EQ(batch.operations, 1);
    EXPECT_EQ(batch.slices, (Slices{{"document", 1}, {"job", 1}}));

    const auto undone = run("undo", [&] { workspace->undoCut(); });
    EXPECT_EQ(undone.slices, (Slices{{"document", 1}, {"job", 1}}));
    const auto redone = run("redo", [&] { workspace->redoCut(); });
    EXPECT_EQ(redone.slices, (Slices{{"document", 1}, {"job", 1}}));
    const auto unchanged = run("redo without a step", [&] { workspace->redoCut(); });
    EXPECT_EQ(unchanged.operations, 0);

    workspace->resetBatchSelection();
    const auto manual = run("add manual range", [&] { EXPECT_TRUE(workspace->addManualCut("8.2", "8.9")); });
    EXPECT_EQ(manual.operations, 1);
    EXPECT_EQ(manual.slices, (Slices{{"document", 1}, {"job", 1}, {"review", 1}}));

    const Uuid dragged = ids()[0];
    workspace->selectCutRow(dragged, false, false);
    run("boundary drag begin", [&] { workspace->beginWaveformBoundary(dragged, CutBoundary::end); });
    const auto moved = run("boundary drag move", [&] { workspace->updateWaveformBoundary(0.01); });
    EXPECT_EQ(moved.slices, (Slices{{"waveform", 1}}));
    const auto finished = run("boundary drag finish", [&] { workspace->finishWaveformBoundary(); });
    EXPECT_EQ(finished.operations, 1);
    EXPECT_EQ(finished.slices, (Slices{{"document", 1}, {"job", 1}, {"waveform", 1}}));

    CutOptions options = workspace->detection().cutOptions;
    options.thresholdDB = -40;
    const auto previewed = run(
        "detection preview", [&] { workspace->previewDetection(options); },
        [&] { return workspace->detection().preview.has_value(); });
    EXPECT_EQ(previewed.operations, 2) << "the request, then the result";
    EXPECT_EQ(previewed.slices, (Slices{{"detection", 2}}));
    const auto applied =
        run("apply preview", [&] { EXPECT_TRUE(workspace->applyDetectionPreview(options)); });
    EXPECT_EQ(applied.operations, 1);

    const fs::path saved = folder / "saved.quenlo.json";
    window.chosenSaveLocation = saved;
    const auto save = run(
        "save project", [&] { workspace->saveProject(); }, [&] { return idle(); });
    EXPECT_EQ(readProjectFile(saved).cuts, workspace->document().project->cuts);
    window.chosenProject = saved;
    const auto opened = run(
        "open project", [&] { workspace->openProject(); }, [&] { return idle(); });
    EXPECT_EQ(workspace->job().status, "已恢复项目，可继续调整和导出。");
    EXPECT_EQ(opened.operations, 2) << "the check's start, then the project with its source";

    const auto exported = run(
        "export", [&] { workspace->exportCut(); },
        [&] { return idle() && workspace->document().cutOutput.has_value(); });
    EXPECT_TRUE(fs::exists(*workspace->document().cutOutput));
    EXPECT_EQ(workspace->job().status, "已导出剪后文件及可恢复的剪辑项目。");

    for (const auto* counts : {&sample, &imported, &previewed, &save, &opened, &exported})
        for (const auto& [slice, count] : counts->slices) EXPECT_LE(count, counts->operations) << slice;
    EXPECT_GT(invariantChecks, 50);
}

TEST_F(NotificationTest, ATogglePublishesTheEditAndWritesTheBackupOnce) {
    workspace->loadSource(talk, true);
    ASSERT_TRUE(waitUntil([&] { return idle() && workspace->document().project; }));
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(inotify_add_watch(watcher, backupURL.parent_path().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
    int changes = 0;
    QObject::connect(workspace.get(), &Workspace::changed, [&] { ++changes; });

    workspace->toggleCut(ids()[1]);

    // Every write of the backup replaces the file by a rename into place.
    int backupWrites = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t length; (length = read(watcher, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if ((event->mask & IN_MOVED_TO) && event->len && backupURL.filename() == event->name)
                ++backupWrites;
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watcher);
    EXPECT_EQ(backupWrites, 1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(SessionBackup::project(backupURL)->cuts, workspace->document().project->cuts);
}
