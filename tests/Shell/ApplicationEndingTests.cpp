// The built application as a real process, ended by the session (SIGTERM at a logout or shutdown,
// SIGHUP when its terminal goes, SIGINT from Ctrl+C) in the middle of an analysis or an export:
// it takes the way of 退出, so no ffmpeg outlives it, no work entry stays and the edit is in the
// backup. Killed outright instead, it leaves its work behind, and the next start removes it in
// the background, never an entry that a running instance holds.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "Process/Dependencies.h"
#include "ProcessTestSupport.h"
#include "Support/SessionBackup.h"
#include "TestSupport.h"

namespace talvian {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::StartedProcess;
using test::TempDir;
using test::workEntries;

const fs::path kApplication = TALVIAN_APP_PROGRAM;

// The application, and every ffmpeg it started, must be gone by then, counted from the signal.
constexpr auto kEndedWithin = 5s;
// Long enough that a step read at the recording's own rate is still running when it is stopped.
constexpr int kRecordingSeconds = 30;
// Starting, analysing the sample at full speed and pressing the keys one by one, each once the
// window is idle, takes a while on a loaded machine before the slowed step begins.
constexpr auto kStepStartsWithin = 90s;
// Opens the export panel from the header, starts the export from the panel, after keeping the
// first pause of the review (the edit that must reach the backup).
const char* const kEditAndExportKeys = "Down,Backspace,click:导出,click:导出";

// Command lines of running processes (zombies have none) that mention `folder`.
std::vector<std::string> processesMentioning(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string commandLine = test::readFile(entry.path() / "cmdline");  // empty once ended
        for (char& c : commandLine)
            if (c == '\0') c = ' ';
        if (commandLine.find(folder.string()) != std::string::npos) found.push_back(commandLine);
    }
    return found;
}

// A copy of the application with resources of its own: its sample is a recording with a pause
// every few seconds, and its ffmpeg reads the input of one step at the input's native rate (-re):
// the step whose arguments contain $SLOWED_STEP lasts as long as the recording. (The application
// finds its resources and media module beside its own executable, so the copy is what makes the
// slowed ffmpeg its ffmpeg.) Its settings, backup, temporary and output folders are fresh ones.
struct AppHost {
    TempDir dir;
    fs::path program = dir / "app" / "talvian";
    fs::path temporary = dir / "tmp";
    fs::path output = dir / "out";
    fs::path data = dir / "data";
    fs::path logs = dir / "logs";

    AppHost() {
        const fs::path built = kApplication.parent_path();
        const fs::path resources = program.parent_path() / "Resources";
        for (const auto& folder : {temporary, output, data, logs, dir / "config", dir / "runtime",
                                   resources / "bin", resources / "Samples"})
            fs::create_directories(folder);
        fs::permissions(dir / "runtime", fs::perms::owner_all);
        fs::copy_file(kApplication, program);
        fs::create_symlink(built / "libtalvian-media.so", program.parent_path() / "libtalvian-media.so");
        for (const char* file : {"Localizable.json", "Info.json"})
            fs::copy_file(built / "Resources" / file, resources / file);
        // Three seconds of tone, one of silence, over and over.
        test::makeMedia(
            "-f lavfi -i sine=frequency=300:sample_rate=48000:duration=" + std::to_string(kRecordingSeconds) +
                " -af \"volume='if(lt(mod(t,4),3),0.5,0)':eval=frame\" -c:a aac -b:a 64k",
            resources / "Samples" / "sample-talk.mp4");
        test::installSlowedTools(resources / "bin");
    }

    std::unique_ptr<StartedProcess> start(std::vector<std::string> arguments,
                                          std::map<std::string, std::string> environment) const {
        arguments.insert(arguments.end(), {"--output", output.string()});
        environment.insert({{"QT_QPA_PLATFORM", "offscreen"},
                            {"TMPDIR", temporary.string()},
                            {"XDG_DATA_HOME", data.string()},
                            {"XDG_CONFIG_HOME", (dir / "config").string()},
                            {"XDG_RUNTIME_DIR", (dir / "runtime").string()}});
        return std::make_unique<StartedProcess>(program, arguments, logs, environment);
    }

    // The demo analyses the sample; with `exporting`, the edit and the export follow.
    std::unique_ptr<StartedProcess> startDemo(const std::string& slowedStep, bool exporting) const {
        std::map<std::string, std::string> environment{{"SLOWED_STEP", slowedStep}};
        if (exporting) {
            // The shot itself would come only once the export ended; the test ends it before.
            environment["TALVIAN_SCREENSHOT"] = (dir / "shot.png").string();
            environment["TALVIAN_SCREENSHOT_KEYS"] = kEditAndExportKeys;
        }
        return start({"--demo"}, environment);
    }

    fs::path backup() const { return data / "Talvian" / "Recovery" / "last-session.quenlo.json"; }
};

// Waits until a child of `run` has `step` in its arguments; returns every child seen then.
std::map<pid_t, std::string> childrenOnceRunning(const StartedProcess& run, const std::string& step) {
    std::map<pid_t, std::string> children;
    const bool running = test::waitUntil(
        [&] {
            children = test::childrenOf(run.pid());
            for (const auto& [pid, commandLine] : children)
                if (commandLine.find(step) != std::string::npos) return true;
            return false;
        },
        kStepStartsWithin);
    EXPECT_TRUE(running) << "no step " << step << " started:\n" << run.standardError();
    return children;
}

enum class Stage { analysis, exporting };

struct StageFacts {
    const char* name;
    const char* slowedStep;  // text in the arguments of that step's ffmpeg only
    bool exports;
};

StageFacts factsOf(Stage stage) {
    return stage == Stage::analysis ? StageFacts{"Analysis", "waveform.f32", false}
                                    : StageFacts{"Export", "source.f32", true};
}

struct Ending {
    const char* name;
    int signal;
};

void PrintTo(Stage stage, std::ostream* out) {
    *out << factsOf(stage).name;
}
void PrintTo(const Ending& ending, std::ostream* out) {
    *out << ending.name;
}

class SessionEnding : public testing::TestWithParam<std::tuple<Stage, Ending>> {};

TEST_P(SessionEnding, TakesTheWayOfQuitAndLeavesNothing) {
    const StageFacts stage = factsOf(std::get<0>(GetParam()));
    const Ending ending = std::get<1>(GetParam());
    AppHost host;
    auto run = host.startDemo(stage.slowedStep, stage.exports);
    const auto children = childrenOnceRunning(*run, stage.slowedStep);
    ASSERT_FALSE(children.empty());
    // The step's work is on disk, so "nothing left" below means it was removed.
    EXPECT_FALSE(workEntries(host.temporary).empty() && workEntries(host.output).empty());

    ASSERT_EQ(::kill(run->pid(), ending.signal), 0);
    const auto signalled = Clock::now();
    auto status = run->waitForExit(kEndedWithin);
    ASSERT_TRUE(status.has_value()) << "still running " << kEndedWithin.count() << " s after the signal";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 128 + ending.signal) << *status;
    for (const auto& [pid, commandLine] : children) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(kEndedWithin - (Clock::now() - signalled));
        EXPECT_TRUE(test::waitUntil([pid = pid] { return test::processEnded(pid); },
                                    std::max(left, std::chrono::milliseconds(0))))
            << "still running: " << commandLine;
    }
    EXPECT_EQ(workEntries(host.temporary), std::set<std::string>{});
    EXPECT_EQ(workEntries(host.output), std::set<std::string>{});
    // Nor any process started later (a following step): every ffmpeg of this case names its folder.
    EXPECT_EQ(processesMentioning(host.dir.path()), std::vector<std::string>{});

    if (stage.exports) {
        // The pause kept before the export is kept in the backup; the others are still removed.
        const auto backedUp = SessionBackup::project(host.backup());
        ASSERT_TRUE(backedUp.has_value());
        std::multiset<bool> removes;
        for (const auto& cut : backedUp->cuts) removes.insert(cut.remove);
        EXPECT_EQ(removes.count(false), 1u);
        EXPECT_GE(removes.count(true), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(StageAndSignal, SessionEnding,
                         testing::Combine(testing::Values(Stage::analysis, Stage::exporting),
                                          testing::Values(Ending{"Terminate", SIGTERM},
                                                          Ending{"HangUp", SIGHUP},
                                                          Ending{"Interrupt", SIGINT})),
                         [](const testing::TestParamInfo<SessionEnding::ParamType>& info) {
                             return std::string(factsOf(std::get<0>(info.param)).name) +
                                    std::get<1>(info.param).name;
                         });

// Killed outright in the middle of an export, the application leaves its work in the temporary
// and the output folder. The next start, with nothing opened, removes it within seconds of
// showing its window, except the entry a running instance holds.
TEST(StartAfterAKill, RemovesTheStaleWorkButNeverALiveInstances) {
    AppHost host;
    auto run = host.startDemo(factsOf(Stage::exporting).slowedStep, true);
    childrenOnceRunning(*run, factsOf(Stage::exporting).slowedStep);
    ASSERT_EQ(::kill(run->pid(), SIGKILL), 0);
    ASSERT_TRUE(run->waitForExit().has_value());

    const auto staleInTemporary = workEntries(host.temporary);
    const auto staleInOutput = workEntries(host.output);
    ASSERT_FALSE(staleInTemporary.empty());
    ASSERT_FALSE(staleInOutput.empty());
    // The export's hidden file in the output folder stands for another instance's running work.
    std::optional<fs::path> held;
    for (const auto& name : staleInOutput)
        if (name.starts_with(".Talvian-")) held = host.output / name;
    ASSERT_TRUE(held) << "no hidden export file among " << staleInOutput.size() << " entries";
    test::LockHolder live(*held, host.logs);

    auto next = host.start({}, {});
    EXPECT_TRUE(test::waitUntil(
        [&] { return workEntries(host.temporary).empty() && workEntries(host.output).size() == 1; }, 10s))
        << next->standardError();
    EXPECT_EQ(workEntries(host.output), std::set<std::string>{held->filename().string()});
    EXPECT_TRUE(fs::exists(*held));

    // The sweep is done; it leaves the held entry alone for the rest of the run.
    ASSERT_EQ(::kill(next->pid(), SIGTERM), 0);
    ASSERT_TRUE(next->waitForExit(kEndedWithin).has_value());
    EXPECT_TRUE(fs::exists(*held));
}

}  // namespace
}  // namespace talvian
