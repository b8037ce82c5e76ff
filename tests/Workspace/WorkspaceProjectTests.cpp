#include <QObject>

#include "Analysis/SourceRelocation.h"
#include "MediaTestSupport.h"
#include "Model/Localization.h"
#include "Model/ProjectFiles.h"
#include "Process/MediaProbe.h"
#include "ProjectFixtures.h"
#include "Workspace/PlaybackClock.h"
#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

const std::string kMissingSourceStatus = "项目尚未打开：找不到原素材。";
const std::string kRelocatedStatus = "已核对并找回同一原片，剪辑已保留。请保存项目以记录新位置。";

// Project files on disk beside the controller's sources.
class WorkspaceProjectTest : public WorkspaceTest {
  protected:
    // A saved project of `source` (a digest project when `withDigest`), written to `file`.
    CutProject saveProjectOf(const fs::path& source, const fs::path& file, bool withDigest) {
        CutProject project = makeProject(source, 10, {CutRegion(1, 2, true), CutRegion(4, 5, false)},
                                         CutOptions(-40, 1.0, 0.2, DetectionMode::fixed));
        if (withDigest) project = SourceRelocation::prepareForSave(project, Cancellation());
        return VevazAvezud::save(project, file);
    }

    void waitIdle() {
        ASSERT_TRUE(waitUntil([&] { return !workspace->job().busy; }));
    }
};

}  // namespace

TEST_F(WorkspaceProjectTest, AProjectWhoseDurationIsNotItsSourcesOpensLikeAChangedSource) {
    const fs::path talk = folder / "talk.wav";
    makeMedia("-f lavfi -i sine=frequency=440:sample_rate=48000:duration=5", talk);
    const MediaInfo probed = Runner::probe(talk, std::make_shared<Cancellation>());
    ASSERT_EQ(probed.duration, 5.0);
    const std::string changedStatus = "项目尚未打开：原素材信息已变化，请重新定位并核对。";
    const std::string changedWithoutDigest = "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。";

    enum class Outcome { opens, card, refused };
    struct Case {
        const char* name;
        double duration;
        bool withDigest;
        bool fromBackup;
        Outcome outcome;
    };
    const double tolerance = kSourceDurationTolerance;
    const Case cases[] = {
        {"absurd", 1e300, true, false, Outcome::card},
        {"absurd, resumed from the backup", 1e300, true, true, Outcome::card},
        {"a few seconds longer", 8, true, false, Outcome::card},
        {"a few seconds shorter, no digest", 2, false, false, Outcome::refused},
        {"a few seconds shorter, resumed", 2, false, true, Outcome::refused},
        {"just over the tolerance", 5.03, true, false, Outcome::card},
        {"exactly the tolerance longer", 5 + tolerance, true, false, Outcome::opens},
        {"exactly the tolerance shorter", 5 - tolerance, false, false, Outcome::opens},
        {"the probed duration, resumed", 5, true, true, Outcome::opens},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CutProject project = makeProject(talk, c.duration, {CutRegion(1, 2, true)});
        project.info = probed;
        project.info.duration = c.duration;
        if (c.withDigest) project = SourceRelocation::prepareForSave(project, Cancellation());
        fs::path selection = folder / ("talk-" + std::to_string(++index) + ".quenlo.json");
        if (c.fromBackup) {
            workspace.reset();
            fs::remove_all(backupURL.parent_path());
            fs::create_directories(backupURL.parent_path());
            writeFile(backupURL, SessionBackup::encoded(project));
            workspace = makeWorkspace();
            ASSERT_EQ(workspace->document().sessionBackupName, "talk.wav");
            workspace->resumeSessionBackup();
            selection = backupURL;
        } else {
            VevazAvezud::save(project, selection);
            workspace->beginProjectLoad(selection);
        }
        waitIdle();
        switch (c.outcome) {
            case Outcome::opens:
                ASSERT_TRUE(workspace->document().project);
                EXPECT_EQ(workspace->document().project->info.duration, c.duration);
                EXPECT_EQ(workspace->document().source, talk);
                EXPECT_FALSE(workspace->document().projectRecovery);
                EXPECT_EQ(workspace->job().status, "已恢复项目，可继续调整和导出。");
                break;
            case Outcome::card:
                ASSERT_TRUE(workspace->document().projectRecovery);
                EXPECT_EQ(*workspace->document().projectRecovery,
                          (ProjectRecovery{selection, talk.string(), true, true}));
                EXPECT_EQ(workspace->job().status, changedStatus);
                EXPECT_TRUE(!workspace->document().project ||
                            workspace->document().project->info.duration == 5);
                break;
            case Outcome::refused:
                EXPECT_FALSE(workspace->document().projectRecovery);
                EXPECT_EQ(workspace->job().status, changedWithoutDigest);
                EXPECT_TRUE(!workspace->document().project ||
                            workspace->document().project->info.duration == 5);
                break;
        }
        workspace->setNotice(std::nullopt);
        if (workspace->document().projectRecovery) workspace->dismissProjectRecovery();
    }
}

TEST_F(WorkspaceProjectTest, SelectionsThatAreNoProjectStartNoJob) {
    const fs::path text = folder / "notes.txt";
    writeFile(text, "not a project");
    const fs::path linked = folder / "linked-package";
    fs::create_directories(linked);
    saveProjectOf(sourceB, folder / "elsewhere.quenlo.json", false);
    fs::create_symlink(folder / "elsewhere.quenlo.json", linked / "review.quenlo.json");
    const fs::path empty = folder / "empty-package";
    fs::create_directories(empty);

    const std::string invalid = "请选择剪辑项目 JSON 文件，或完整的交接文件夹。";
    const std::string noProject =
        "此文件夹内没有有效的 review.quenlo.json。请选择完整的交接文件夹，或直接选择剪辑项目文件。";
    const std::pair<fs::path, std::string> cases[] = {
        {text, invalid}, {linked, noProject}, {empty, noProject}, {"relative.json", invalid}};
    for (const auto& [selection, message] : cases) {
        workspace->beginProjectLoad(selection);
        EXPECT_FALSE(workspace->job().busy) << selection;
        EXPECT_EQ(workspace->job().notice, message) << selection;
        EXPECT_EQ(workspace->lastDiagnosticError(), "发生错误。为保护隐私，详细错误文案已省略。")
            << selection;
    }
    EXPECT_EQ(ProjectSelection::projectURL(linked.parent_path() / "elsewhere.quenlo.json"),
              folder / "elsewhere.quenlo.json");
}

TEST_F(WorkspaceProjectTest, OpensProjectFilesOfAnyJsonCaseAndHandOffFolders) {
    const fs::path upper = folder / "SAVED.JSON";
    const CutProject saved = saveProjectOf(sourceB, upper, false);
    window.chosenProject = upper;
    workspace->openProject();
    ASSERT_EQ(window.openPanels.size(), 1u);
    EXPECT_EQ(window.openPanels[0].title, "打开剪辑项目或交接包");
    EXPECT_TRUE(workspace->job().busy);
    EXPECT_EQ(workspace->job().status, "正在检查项目与原素材");
    waitIdle();
    EXPECT_EQ(workspace->document().project, saved);
    EXPECT_EQ(workspace->document().source, sourceB);
    EXPECT_EQ(workspace->detection().cutOptions, saved.options);
    EXPECT_FALSE(workspace->guards().canUndoOptions);
    EXPECT_EQ(workspace->job().progress, 1.0);
    EXPECT_EQ(workspace->job().status, "已恢复项目，可继续调整和导出。");

    const fs::path package = folder / "Talk 剪映交接";
    writePackage(package, "talk.wav", "packaged sound");
    workspace->beginProjectLoad(package);
    waitIdle();
    ASSERT_TRUE(workspace->document().project);
    EXPECT_EQ(workspace->document().source, package / "media/talk.wav");
    EXPECT_TRUE(workspace->document().project->packagedSource);
}

TEST_F(WorkspaceProjectTest, AMissingSourceLeavesTheCardAndTheOpenEditAndARetryOpensIt) {
    open(sourceA);
    workspace->toggleCut(ids()[0]);
    const auto edit = *workspace->document().project;
    const fs::path file = folder / "b.quenlo.json";
    const CutProject saved = saveProjectOf(sourceB, file, false);
    fs::rename(sourceB, folder / "away.wav");

    workspace->beginProjectLoad(file);
    waitIdle();
    ASSERT_TRUE(workspace->document().projectRecovery);
    EXPECT_EQ(*workspace->document().projectRecovery,
              (ProjectRecovery{file, sourceB.string(), false, false}));
    EXPECT_EQ(workspace->job().status, kMissingSourceStatus);
    EXPECT_EQ(workspace->job().progress, 0);
    EXPECT_EQ(workspace->document().project, edit);
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_TRUE(workspace->guards().canUndoCut);

    // Without a recorded identity the card offers no relocation.
    window.chosenSource = folder / "away.wav";
    workspace->relocateSource(workspace->document().projectRecovery);
    EXPECT_TRUE(window.openPanels.empty());
    EXPECT_FALSE(workspace->job().busy);

    fs::rename(folder / "away.wav", sourceB);
    workspace->retryProjectLoad();
    waitIdle();
    EXPECT_FALSE(workspace->document().projectRecovery);
    EXPECT_EQ(workspace->document().project, saved);
    EXPECT_EQ(workspace->document().source, sourceB);
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);
    EXPECT_EQ(workspace->document().recentSessions[0].project, edit);
}

TEST_F(WorkspaceProjectTest, ASourceThatVanishesAfterTheCheckNeverReceivesTheProject) {
    open(sourceA);
    workspace->toggleCut(ids()[0]);
    const auto edit = *workspace->document().project;
    const fs::path file = folder / "b.quenlo.json";
    saveProjectOf(sourceB, file, true);

    // The check passes; the file goes the moment the load's completion reaches the main thread.
    workspace->beginProjectLoad(file);
    const BeforeNextQueuedCall removal([&] { fs::remove(sourceB); });
    waitIdle();
    ASSERT_FALSE(fs::exists(sourceB));
    EXPECT_EQ(workspace->document().projectRecovery, (ProjectRecovery{file, sourceB.string(), true, false}));
    EXPECT_EQ(workspace->job().status, kMissingSourceStatus);
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_EQ(workspace->document().project, edit);
    EXPECT_TRUE(workspace->guards().canUndoCut);
}

TEST_F(WorkspaceProjectTest, AProjectIsNotOpenedOverAnEditThatCannotBeBackedUp) {
    workspace.reset();
    Workspace holder(players, backupURL);
    workspace = makeWorkspace();
    open(sourceA);
    const auto edit = *workspace->document().project;
    const fs::path file = folder / "b.quenlo.json";
    saveProjectOf(sourceB, file, false);

    workspace->beginProjectLoad(file);
    waitIdle();
    EXPECT_EQ(workspace->job().notice, "当前剪辑尚未备份，请先保存项目，再打开其他素材。");
    EXPECT_EQ(workspace->job().status, "当前剪辑尚未备份，请先保存项目，再打开其他素材。");
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_EQ(workspace->document().project, edit);
    EXPECT_NE(workspace->detection().cutOptions, (CutOptions(-40, 1.0, 0.2, DetectionMode::fixed)));
}

TEST_F(WorkspaceProjectTest, AChangedSourceIsRelocatedFromTheCardAndSavingRecordsTheNewPlace) {
    const fs::path file = folder / "b.quenlo.json";
    const CutProject saved = saveProjectOf(sourceB, file, true);
    const fs::path moved = folder / "moved/b renamed.wav";
    fs::create_directories(moved.parent_path());
    fs::copy_file(sourceB, moved);
    writeFile(sourceB, "another recording");

    workspace->beginProjectLoad(file);
    waitIdle();
    EXPECT_EQ(workspace->document().projectRecovery, (ProjectRecovery{file, sourceB.string(), true, true}));
    EXPECT_EQ(workspace->job().status, "项目尚未打开：原素材信息已变化，请重新定位并核对。");

    window.chosenSource = moved;
    workspace->relocateSource(workspace->document().projectRecovery);
    ASSERT_EQ(window.openPanels.size(), 1u);
    EXPECT_EQ(window.openPanels[0].title, "重新定位原素材，保留剪辑");
    EXPECT_EQ(workspace->job().status, "正在核对所选原片");
    waitIdle();
    EXPECT_EQ(workspace->job().status, kRelocatedStatus);
    EXPECT_FALSE(workspace->document().projectRecovery);
    EXPECT_TRUE(workspace->document().sourceLocationNeedsSaving);
    EXPECT_EQ(workspace->document().source, moved);
    ASSERT_TRUE(workspace->document().project);
    EXPECT_EQ(workspace->document().project->cuts, saved.cuts);
    EXPECT_EQ(workspace->document().project->source, moved.string());
    // The file on disk still names the old place until it is saved.
    EXPECT_EQ(readProjectFile(file).source, sourceB.string());

    window.chosenSaveLocation = file;
    workspace->saveProject();
    ASSERT_EQ(window.savePanels.size(), 1u);
    EXPECT_EQ(window.savePanels[0].defaultName, "口播剪辑.quenlo.json");
    waitIdle();
    EXPECT_EQ(workspace->job().status, "已保存项目与原片身份，搬移后可重新定位原素材。");
    EXPECT_FALSE(workspace->document().sourceLocationNeedsSaving);
    EXPECT_EQ(readProjectFile(file).source, moved.string());
}

TEST_F(WorkspaceProjectTest, RelocatingTheOpenProjectRepointsItAndAWrongFileChangesNothing) {
    const fs::path file = folder / "a.quenlo.json";
    saveProjectOf(sourceA, file, true);
    workspace->beginProjectLoad(file);
    waitIdle();
    const auto opened = *workspace->document().project;
    EXPECT_TRUE(workspace->guards().canRelocateSource);

    window.chosenSource = sourceB;
    workspace->relocateSource(std::nullopt);
    waitIdle();
    EXPECT_EQ(workspace->job().notice, "所选文件内容与原片不同，不能沿用这些切点。文件同名也不能替代原片。");
    EXPECT_EQ(workspace->document().project, opened);

    const fs::path moved = folder / "a-moved.wav";
    fs::rename(sourceA, moved);
    window.chosenSource = moved;
    workspace->playbackClock().setPosition(3.5);
    workspace->relocateSource(std::nullopt);
    EXPECT_EQ(window.openPanels.back().startFolder, folder.path());
    waitIdle();
    EXPECT_EQ(workspace->job().status, kRelocatedStatus);
    EXPECT_EQ(workspace->document().source, moved);
    EXPECT_EQ(workspace->document().project->source, moved.string());
    EXPECT_EQ(workspace->document().project->cuts, opened.cuts);
    EXPECT_EQ(workspace->playbackClock().position(), 3.5);
    EXPECT_FALSE(workspace->document().cutOutput);
    EXPECT_TRUE(workspace->document().sourceLocationNeedsSaving);
}

TEST_F(WorkspaceProjectTest, CancellingChecksEndsTheLoadLaterAndTheSaveAtOnce) {
    const fs::path file = folder / "a.quenlo.json";
    saveProjectOf(sourceA, file, false);
    workspace->beginProjectLoad(file);
    workspace->cancelCut();
    EXPECT_TRUE(workspace->job().busy);
    waitIdle();
    EXPECT_EQ(workspace->job().status, "已取消项目校验，原片未改动。");
    EXPECT_FALSE(workspace->document().project);

    open(sourceA);
    const fs::path target = folder / "saved.quenlo.json";
    workspace->beginProjectSave(*workspace->document().project, target);
    EXPECT_EQ(workspace->job().status, "正在核对原片并保存项目");
    workspace->cancelCut();
    EXPECT_FALSE(workspace->job().busy);
    EXPECT_EQ(workspace->job().status, "已取消原片核对，当前剪辑与项目文件未改动。");
    ASSERT_TRUE(workspace->shutdown(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(workspace->job().status, "已取消原片核对，当前剪辑与项目文件未改动。");
}

TEST_F(WorkspaceProjectTest, SavingOverTheSourceFailsAndKeepsTheEdit) {
    open(sourceA);
    const auto edit = *workspace->document().project;
    workspace->beginProjectSave(edit, sourceA);
    waitIdle();
    EXPECT_EQ(workspace->job().notice, "项目文件不能覆盖原始素材，请另选保存位置。");
    EXPECT_EQ(workspace->document().project, edit);
    EXPECT_EQ(readFile(sourceA), "a");
}

TEST_F(WorkspaceProjectTest, ReselectingThroughALinkKeepsTheProjectsOwnSourcePath) {
    open(sourceA);
    const auto edit = *workspace->document().project;
    const fs::path link = folder / "link.wav";
    fs::create_symlink(sourceA, link);

    window.chosenSource = sourceB;
    workspace->reselectPreviewSource();
    EXPECT_EQ(workspace->job().notice, "请选择当前的原素材。要换成其他素材，请使用“导入素材”。");
    EXPECT_FALSE(workspace->job().busy);

    window.chosenSource = link;
    workspace->reselectPreviewSource();
    EXPECT_EQ(window.openPanels.back().title, "重新选择当前素材，保留剪辑");
    EXPECT_EQ(workspace->job().status, "正在检查原素材");
    waitIdle();
    EXPECT_EQ(workspace->job().status, "已重新选择原素材，剪辑已保留。可继续试听或分析。");
    EXPECT_EQ(workspace->document().source, sourceA);
    EXPECT_EQ(workspace->document().project, edit);

    writeFile(sourceA, "changed recording");
    workspace->reselectPreviewSource();
    waitIdle();
    EXPECT_EQ(workspace->job().notice, "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。");
    EXPECT_EQ(workspace->document().project, edit);
}

TEST_F(WorkspaceProjectTest, DismissingTheCardSaysWhetherAnEditIsOpen) {
    const fs::path file = folder / "b.quenlo.json";
    saveProjectOf(sourceB, file, false);
    fs::remove(sourceB);
    workspace->beginProjectLoad(file);
    waitIdle();
    ASSERT_TRUE(workspace->document().projectRecovery);
    workspace->dismissProjectRecovery();
    EXPECT_FALSE(workspace->document().projectRecovery);
    EXPECT_EQ(workspace->job().status, "已关闭恢复提示，可重新打开项目。");

    open(sourceA);
    workspace->beginProjectLoad(file);
    waitIdle();
    workspace->dismissProjectRecovery();
    EXPECT_EQ(workspace->job().status, "已关闭恢复提示，当前剪辑未改动。");
}

TEST_F(WorkspaceProjectTest, TheLastSessionAndRecentSessionsReopenThroughTheLoadPath) {
    open(sourceA);
    workspace->toggleCut(ids()[0]);
    const auto editA = *workspace->document().project;
    open(sourceB);
    const auto editB = *workspace->document().project;
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);

    workspace->resumeRecentSession(workspace->document().recentSessions[0].id);
    waitIdle();
    EXPECT_EQ(workspace->document().project, editA);
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);
    EXPECT_EQ(workspace->document().recentSessions[0].project, editB);
    EXPECT_EQ(workspace->document().recentSessions[0].origin, "switching");

    workspace->resumeRecentSession(Uuid::random());
    EXPECT_EQ(workspace->job().notice, "这份先前剪辑已不在列表中，请打开已保存的项目。");

    workspace.reset();
    workspace = makeWorkspace();
    EXPECT_EQ(workspace->document().sessionBackupName, "a.wav");
    workspace->resumeSessionBackup();
    waitIdle();
    EXPECT_EQ(workspace->document().project, editA);
    EXPECT_EQ(workspace->document().recentSessions.size(), 1u);

    workspace->revealSessionBackup();
    EXPECT_EQ(desktop.revealedFiles, std::vector<fs::path>{backupURL});
}

TEST_F(WorkspaceProjectTest, WithTheBackupHeldElsewhereOnlyAnEditEqualToItsSavedFileIsReplaced) {
    // The last session names b.wav; then another instance takes the backup for good.
    const CutProject lastSession = makeProject(sourceB, 10, {CutRegion(1, 2, true)});
    workspace.reset();
    SessionBackup(backupURL).write(lastSession, false, RecentSession::Origin::switching);
    const ForeignBackupLock lock(backupURL);
    ASSERT_TRUE(lock.held);
    const fs::path projectOfB = folder / "b.quenlo.json";
    saveProjectOf(sourceB, projectOfB, false);
    const fs::path sampleFile = resourcesFolder() / "Samples" / "sample-talk.mp4";
    const std::string refused = "当前剪辑尚未备份，请先保存项目，再打开其他素材。";

    const struct {
        const char* name;
        std::function<void()> switchMaterial;
        fs::path arrives;
    } switches[] = {
        {"import",
         [&] {
             window.chosen = sourceB;
             workspace->importFiles();
         },
         sourceB},
        {"sample", [&] { workspace->sample(); }, sampleFile},
        {"open",
         [&] {
             window.chosenProject = projectOfB;
             workspace->openProject();
         },
         sourceB},
        {"resume", [&] { workspace->resumeSessionBackup(); }, sourceB},
    };
    for (const auto& [name, switchMaterial, arrives] : switches) {
        SCOPED_TRACE(name);
        workspace = makeWorkspace();
        ASSERT_EQ(workspace->document().sessionBackupName, "b.wav");
        open(sourceA);
        workspace->toggleCut(ids()[0]);
        ASSERT_FALSE(workspace->document().sessionBackupSaved);
        const auto edit = *workspace->document().project;

        switchMaterial();
        waitIdle();
        EXPECT_EQ(workspace->job().notice, refused);
        EXPECT_EQ(workspace->document().source, sourceA);
        EXPECT_EQ(workspace->document().project, edit);

        window.chosenSaveLocation = folder / "a.quenlo.json";
        workspace->saveProject();
        waitIdle();
        ASSERT_EQ(workspace->job().status, "已保存项目与原片身份，搬移后可重新定位原素材。");
        // An edit after the save is not in the file: still refused, until it is undone.
        workspace->toggleCut(ids()[1]);
        workspace->setNotice(std::nullopt);
        switchMaterial();
        waitIdle();
        EXPECT_EQ(workspace->job().notice, refused);
        EXPECT_EQ(workspace->document().source, sourceA);

        workspace->undoCut();
        workspace->setNotice(std::nullopt);
        switchMaterial();
        waitIdle();
        EXPECT_EQ(workspace->document().source, arrives);
        EXPECT_FALSE(workspace->job().notice);
        ASSERT_TRUE(workspace->document().project);
        EXPECT_EQ(workspace->document().project->source, arrives.string());
        EXPECT_FALSE(workspace->document().sessionBackupSaved) << "the backup is still held elsewhere";
    }
}
