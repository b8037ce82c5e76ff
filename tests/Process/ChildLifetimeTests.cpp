// The bench tools as host processes, stopped in the middle of a step by a cancel (SIGINT, the
// tools' Ctrl+C), SIGTERM or SIGKILL: no ffmpeg outlives its host, a cancelled run leaves no work
// file, and what a killed run left is removed by the next run, never while a live one holds it.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "MediaTestSupport.h"
#include "Model/Localization.h"
#include "Model/ProjectFiles.h"
#include "Process/Dependencies.h"
#include "Process/MediaProbe.h"
#include "Process/Runner.h"
#include "ProcessTestSupport.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::StartedProcess;
using test::TempDir;
using test::workEntries;

const fs::path kAnalyzeTool = TALVIAN_ANALYZE_TOOL;
const fs::path kExportTool = TALVIAN_EXPORT_TOOL;

// Long enough that a step read at the recording's own rate is still running when it is stopped.
constexpr double kRecordingSeconds = 20;
// A stopped host's children must be gone by then, counted from the signal.
constexpr auto kChildrenGoneWithin = 3s;
const std::string kCancelledSentence = "任务已取消，原文件未改动。";

// A copy of a bench tool with resources of its own, whose ffmpeg reads the input of one step at
// the input's native rate (-re): the step whose arguments contain $SLOWED_STEP lasts as long as
// the recording, every other step runs at full speed. (The tool finds its resources beside its
// own executable, so the copy is what makes the slowed ffmpeg its ffmpeg.)
fs::path slowedCopyOf(const fs::path& tool, const fs::path& folder) {
    fs::create_directories(folder / "Resources" / "bin");
    fs::copy_file(tool, folder / tool.filename());
    fs::copy_file(resourcesFolder() / "Localizable.json", folder / "Resources" / "Localizable.json");
    test::installSlowedTools(folder / "Resources" / "bin");
    return folder / tool.filename();
}

std::set<std::string> allEntries(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.insert(entry.path().filename().string());
    return names;
}

enum class Stage { analysisDecode, exportDecode, exportEncode };

struct StageFacts {
    const char* name;
    const char* slowedStep;  // text in the arguments of that step's ffmpeg only
    bool exports;
    const char* heldPrefix;  // the work entry a live instance holds in the killed case
};

StageFacts factsOf(Stage stage) {
    switch (stage) {
        case Stage::analysisDecode:
            return {"AnalysisDecode", "waveform.f32", false, "TalvianAnalysis-"};
        case Stage::exportDecode:
            return {"ExportDecode", "source.f32", true, ".Talvian-"};
        case Stage::exportEncode:
            return {"ExportEncode", "joined.f32", true, ".Talvian-"};
    }
    return {};
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

const Ending kCancel{"Cancel", SIGINT};
const Ending kTerminate{"Terminate", SIGTERM};
const Ending kKill{"Kill", SIGKILL};

// One case's host: a source, a project that cuts something out of it (so the export renders),
// the slowed tool, and a private temporary folder and output folder.
struct Host {
    TempDir dir;
    fs::path temporary = dir / "tmp";
    fs::path output = dir / "out";
    fs::path logs = dir / "logs";
    fs::path source = dir / "talk.m4a";
    fs::path project = dir / "talk.quenlo.json";
    fs::path program;
    std::vector<std::string> arguments;

    explicit Host(const StageFacts& stage) {
        fs::create_directories(temporary);
        fs::create_directories(logs);
        test::makeSound(source, kRecordingSeconds);
        program = slowedCopyOf(stage.exports ? kExportTool : kAnalyzeTool, dir / "host");
        if (stage.exports) {
            auto cut = test::projectFor(source);
            cut.info = Runner::probe(source, makeCancellation());
            cut.cuts = {CutRegion(2, 4, true)};
            VevazAvezud::save(cut, project);
            arguments = {project.string(), output.string()};
        } else {
            arguments = {source.string()};
        }
    }

    std::unique_ptr<StartedProcess> start(const std::string& slowedStep) const {
        return std::make_unique<StartedProcess>(
            program, arguments, logs,
            std::map<std::string, std::string>{{"TMPDIR", temporary.string()}, {"SLOWED_STEP", slowedStep}});
    }

    // Runs the tool at full speed to its end; true when it succeeded.
    bool runToSuccess() const {
        auto run = start("");
        auto status = run->waitForExit();
        EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << run->standardError();
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    }
};

class ChildLifetime : public testing::TestWithParam<std::tuple<Stage, Ending>> {};

TEST_P(ChildLifetime, NothingOutlivesAStoppedHost) {
    const StageFacts stage = factsOf(std::get<0>(GetParam()));
    const Ending ending = std::get<1>(GetParam());
    Host host(stage);
    auto run = host.start(stage.slowedStep);

    // Stopped while the slowed step's ffmpeg runs.
    std::map<pid_t, std::string> children;
    ASSERT_TRUE(test::waitUntil([&] {
        children = test::childrenOf(run->pid());
        for (const auto& [pid, commandLine] : children)
            if (commandLine.find(stage.slowedStep) != std::string::npos) return true;
        return false;
    })) << run->standardError();
    ASSERT_EQ(::kill(run->pid(), ending.signal), 0);
    const auto signalled = Clock::now();

    auto status = run->waitForExit();
    ASSERT_TRUE(status.has_value());
    if (ending.signal == SIGKILL) {
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    } else {
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 128 + ending.signal) << *status;
        EXPECT_NE(run->standardError().find(kCancelledSentence), std::string::npos) << run->standardError();
    }
    for (const auto& [pid, commandLine] : children) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kChildrenGoneWithin -
                                                                                (Clock::now() - signalled));
        EXPECT_TRUE(test::waitUntil([pid = pid] { return test::processEnded(pid); },
                                    std::max(left, std::chrono::milliseconds(0))))
            << "still running: " << commandLine;
    }

    if (ending.signal != SIGKILL) {
        EXPECT_EQ(allEntries(host.temporary), std::set<std::string>{});
        EXPECT_EQ(allEntries(host.output), std::set<std::string>{});
        return;
    }

    // Killed outright, the host left its work behind; a live instance holds one of the entries.
    auto stale = workEntries(host.temporary);
    for (const auto& name : workEntries(host.output)) stale.insert(name);
    std::optional<fs::path> held;
    for (const auto& name : stale)
        if (name.starts_with(stage.heldPrefix)) held = (stage.exports ? host.output : host.temporary) / name;
    ASSERT_TRUE(held) << "no " << stage.heldPrefix << " entry among " << stale.size();
    EXPECT_GE(stale.size(), 2u);
    test::LockHolder live(*held, host.logs);

    // The next run removes every stale entry but the held one.
    ASSERT_TRUE(host.runToSuccess());
    EXPECT_EQ(workEntries(host.temporary).size() + workEntries(host.output).size(), 1u);
    EXPECT_TRUE(fs::exists(*held));

    // Once nobody holds it, the run after removes it too.
    live.release();
    ASSERT_TRUE(host.runToSuccess());
    EXPECT_EQ(workEntries(host.temporary), std::set<std::string>{});
    EXPECT_EQ(workEntries(host.output), std::set<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(StageAndEnding, ChildLifetime,
                         testing::Combine(testing::Values(Stage::analysisDecode, Stage::exportDecode,
                                                          Stage::exportEncode),
                                          testing::Values(kCancel, kTerminate, kKill)),
                         [](const testing::TestParamInfo<ChildLifetime::ParamType>& info) {
                             return std::string(factsOf(std::get<0>(info.param)).name) +
                                    std::get<1>(info.param).name;
                         });

// ---- The tools' errors ------------------------------------------------------------------

// A source that is a FIFO nobody writes: ffprobe blocks in open until the probe's time limit.
TEST(ToolErrors, ProbeTimeLimitOnAFifoEndsTheToolWithItsSentence) {
    TempDir dir;
    const auto fifo = dir / "talk.m4a";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directories(dir / "tmp");
    auto project = test::projectFor(fifo);
    project.info.duration = kRecordingSeconds;
    project.cuts = {CutRegion(2, 4, true)};
    VevazAvezud::save(project, dir / "talk.quenlo.json");

    const std::map<std::string, std::string> environment{{"TMPDIR", (dir / "tmp").string()}};
    // Both at once: each waits out the whole time limit.
    StartedProcess analyze(kAnalyzeTool, {fifo.string()}, dir.path(), environment);
    StartedProcess exportTool(kExportTool, {(dir / "talk.quenlo.json").string(), (dir / "out").string()},
                              dir.path(), environment);
    const std::string sentence = ProcessTimeout().message();
    for (auto* tool : {&analyze, &exportTool}) {
        auto status =
            tool->waitForExit(std::chrono::seconds(static_cast<int>(Runner::kProbeTimeoutSeconds) + 30));
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status;
        auto text = tool->standardError();
        ASSERT_FALSE(text.empty());
        text.pop_back();  // the last line is the sentence
        EXPECT_EQ(text.substr(text.rfind('\n') + 1), sentence) << text;
    }
    EXPECT_EQ(allEntries(dir / "tmp"), std::set<std::string>{});
    EXPECT_EQ(workEntries(dir / "out"), std::set<std::string>{});
}

// ---- A full disk at each step ------------------------------------------------------------

// Runs `program` in a private user and mount namespace where `volume` is a fresh tmpfs of
// `bytes`: a disk that fills up at a chosen point, with nothing of the machine's own touched.
// What the volume holds after the run is listed into `listing` (the tmpfs goes with the
// namespace). Absent when this machine does not allow unprivileged namespaces.
std::optional<std::unique_ptr<StartedProcess>> startOnSmallVolume(
    const fs::path& volume, std::int64_t bytes, const fs::path& listing, const fs::path& program,
    const std::vector<std::string>& arguments, const fs::path& logs,
    const std::map<std::string, std::string>& environment) {
    const auto unshare = Dependencies::find("unshare");
    if (!unshare || std::system((test::shellQuote(unshare->string()) + " -rm true 2>/dev/null").c_str()) != 0)
        return std::nullopt;
    std::vector<std::string> shell{"-rm",
                                   "sh",
                                   "-c",
                                   "mount -t tmpfs -o size=\"$1\" tmpfs \"$2\" || exit 99\n"
                                   "listing=\"$3\"; shift 3\n"
                                   "\"$@\"; status=$?\n"
                                   "ls -A \"$VOLUME\" > \"$listing\"\n"
                                   "exit $status\n",
                                   "sh",
                                   std::to_string(bytes),
                                   volume.string(),
                                   listing.string(),
                                   program.string()};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    auto env = environment;
    env["VOLUME"] = volume.string();
    return std::make_unique<StartedProcess>(*unshare, shell, logs, env);
}

enum class FullAt { analysisDecode, exportDecode, exportJoin, exportEncode };

struct FullDisk {
    const char* name;
    FullAt step;
};
void PrintTo(const FullDisk& row, std::ostream* out) {
    *out << row.name;
}

class DiskFull : public testing::TestWithParam<FullDisk> {};

// Wherever the disk fills up, the tool ends with one Chinese sentence that names the shortage
// (never ffmpeg's English, an internal file or an error number) and leaves no work file.
TEST_P(DiskFull, EndsWithOneSentenceAndLeavesNothing) {
    constexpr double kSeconds = 10;
    constexpr std::int64_t kRate = 48000;
    // The export decodes the whole source, then joins the kept sound beside it, as mono f32.
    constexpr std::int64_t kDecodedBytes = static_cast<std::int64_t>(kSeconds) * kRate * 4;
    constexpr std::int64_t kJoinedBytes = kDecodedBytes * 8 / 10;

    TempDir dir;
    const auto source = dir / "talk.m4a";
    const auto volume = dir / "volume";
    const auto temporary = dir / "tmp";
    fs::create_directories(volume);
    fs::create_directories(temporary);
    test::makeSound(source, kSeconds, static_cast<int>(kRate));

    const FullDisk row = GetParam();
    std::int64_t size = 0;
    std::vector<std::string> arguments;
    fs::path program = kExportTool;
    std::map<std::string, std::string> environment{{"TMPDIR", temporary.string()}};
    switch (row.step) {
        case FullAt::analysisDecode:
            program = kAnalyzeTool;
            environment["TMPDIR"] = volume.string();
            size = 64 * 1024;
            arguments = {source.string()};
            break;
        case FullAt::exportDecode:
            size = 64 * 1024;
            break;
        case FullAt::exportJoin:
            size = kDecodedBytes + kJoinedBytes / 2;
            break;
        case FullAt::exportEncode:
            size = kDecodedBytes + kJoinedBytes + 16 * 1024;
            break;
    }
    if (program == kExportTool) {
        auto cut = test::projectFor(source);
        cut.info = Runner::probe(source, makeCancellation());
        cut.cuts = {CutRegion(2, 4, true)};
        VevazAvezud::save(cut, dir / "talk.quenlo.json");
        arguments = {(dir / "talk.quenlo.json").string(), volume.string()};
    }

    auto run =
        startOnSmallVolume(volume, size, dir / "left.txt", program, arguments, dir.path(), environment);
    if (!run) GTEST_SKIP() << "no unprivileged user namespaces here";
    auto status = (*run)->waitForExit();
    ASSERT_TRUE(status.has_value());
    const std::string errors = (*run)->standardError();
    ASSERT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status << errors;

    // Progress lines ("NN% step") aside, the tool said one thing: the sentence.
    std::vector<std::string> said;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);)
        if (!std::regex_search(line, std::regex("^ *[0-9.]+% "))) said.push_back(line);
    ASSERT_EQ(said.size(), 1u) << errors;
    const std::string& sentence = said.front();
    EXPECT_NE(sentence.find("磁盘空间不足"), std::string::npos) << sentence;
    for (const char* word : {"No space", "ffmpeg", "Error", "error", ".Talvian", "f32", "错误码"})
        EXPECT_EQ(sentence.find(word), std::string::npos) << word << " in " << sentence;

    EXPECT_EQ(test::readFile(dir / "left.txt"), "");
    EXPECT_EQ(allEntries(temporary), std::set<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Step, DiskFull,
                         testing::Values(FullDisk{"AnalysisDecode", FullAt::analysisDecode},
                                         FullDisk{"ExportDecode", FullAt::exportDecode},
                                         FullDisk{"ExportJoin", FullAt::exportJoin},
                                         FullDisk{"ExportEncode", FullAt::exportEncode}),
                         [](const testing::TestParamInfo<FullDisk>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace talvian
