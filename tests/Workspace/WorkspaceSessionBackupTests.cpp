#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include "WorkspaceFixture.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

class SessionBackupTest : public ::testing::Test {
  protected:
    TempDir folder;
    fs::path url = folder / "Recovery/last-session.quenlo.json";

    void SetUp() override { writeFile(folder / "talk.wav", "x"); }
};

}  // namespace

TEST_F(SessionBackupTest, AGarbledLastSessionOffersNoResumeAtStart) {
    fs::create_directories(url.parent_path());
    writeFile(url, "{garbled");
    FakePlayerFactory players;
    Workspace workspace(players, url);
    EXPECT_EQ(workspace.document().sessionBackupIssue,
              "上次备份无法读取。原文件已保留，可打开已保存的项目。");
    EXPECT_FALSE(workspace.document().sessionBackupName);
}

TEST_F(WorkspaceTest, SwitchingSourcesArchivesThePreviousEdit) {
    open(sourceA);
    workspace->toggleCut(ids()[0]);
    EXPECT_TRUE(workspace->document().sessionBackupSaved);
    EXPECT_EQ(workspace->document().sessionBackupName, "a.wav");
    open(sourceB);
    ASSERT_EQ(workspace->document().recentSessions.size(), 1u);
    EXPECT_EQ(workspace->document().recentSessions[0].origin, "switching");
    EXPECT_EQ(workspace->document().recentSessions[0].project.source, sourceA.string());
    EXPECT_EQ(SessionBackup::project(backupURL)->source, sourceB.string());

    // A restart offers the last session and lists the earlier one.
    workspace.reset();
    workspace = makeWorkspace();
    EXPECT_EQ(workspace->document().sessionBackupName, "b.wav");
    EXPECT_EQ(workspace->document().recentSessions.size(), 1u);
}

TEST_F(WorkspaceTest, ALockHeldByAnotherProcessIsReportedAtStartAndAtEveryBackup) {
    workspace.reset();
    const fs::path lock = backupURL.string() + ".lock";
    fs::create_directories(backupURL.parent_path());
    const pid_t holder = fork();
    if (holder == 0) {
        // A group of its own, so that the test can end flock and its sleeping child together
        // (a child left running would keep the test's output open for 30 s).
        setpgid(0, 0);
        // -o: only flock itself holds the lock, so killing it frees the lock.
        execlp("flock", "flock", "-o", "-x", lock.c_str(), "sleep", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto lockIsHeld = [&] {
        try {
            SessionBackup backup(backupURL);
            return false;
        } catch (const MediaError&) {
            return true;
        }
    };
    ASSERT_TRUE(waitUntil(lockIsHeld, 30000));
    workspace = makeWorkspace();
    EXPECT_EQ(workspace->document().sessionBackupIssue, "另一应用实例正在使用本机备份，请先保存当前项目。");
    open(sourceA);
    EXPECT_FALSE(workspace->document().sessionBackupSaved);
    EXPECT_EQ(workspace->document().sessionBackupIssue, "另一应用实例正在使用本机备份，请先保存当前项目。");
    kill(-holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    // flock's own child may still hold the inherited descriptor for a moment after its fork.
    ASSERT_TRUE(waitUntil([&] { return !lockIsHeld(); }, 10000));
    workspace->toggleCut(ids()[0]);  // the lock is free again: the next backup succeeds
    EXPECT_TRUE(workspace->document().sessionBackupSaved);
}

// Run in a child process by the test below: edits, then waits to be killed.
TEST(SessionBackupCrash, EditsUntilKilled) {
    const char* folder = std::getenv("TALVIAN_CRASH_FOLDER");
    if (!folder) GTEST_SKIP() << "runs only as the child of KillBetweenTwoEditsKeepsTheFirst";
    const fs::path source = fs::path(folder) / "talk.wav";
    ScriptedAnalysis analysis;
    FakePlayerFactory players;
    Workspace workspace(players, fs::path(folder) / "Recovery/last-session.quenlo.json", {},
                        analysis.analyzer());
    workspace.loadSource(source, true);
    waitUntil([&] { return !workspace.job().busy; });
    workspace.toggleCut(workspace.document().project->cuts[1].id);
    writeFile(fs::path(folder) / "edited", "1");
    waitUntil([] { return false; }, 30000);
}

TEST_F(SessionBackupTest, KillBetweenTwoEditsKeepsTheFirst) {
    const pid_t child = fork();
    if (child == 0) {
        setenv("TALVIAN_CRASH_FOLDER", folder.path().c_str(), 1);
        const auto self = fs::read_symlink("/proc/self/exe");
        execl(self.c_str(), self.c_str(), "--gtest_filter=SessionBackupCrash.EditsUntilKilled",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(waitUntil([&] { return fs::exists(folder / "edited"); }, 30000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const auto saved = SessionBackup::project(url);
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->cuts.size(), 3u);
    EXPECT_FALSE(saved->cuts[1].remove);
    // The next instance takes the lock the killed one held.
    FakePlayerFactory nextPlayers;
    Workspace next(nextPlayers, url);
    EXPECT_EQ(next.document().sessionBackupName, "talk.wav");
    EXPECT_FALSE(next.document().sessionBackupIssue);
}
