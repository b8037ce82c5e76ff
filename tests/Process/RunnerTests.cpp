#include "Process/Runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <thread>

#include "Model/Uuid.h"
#include "Process/Dependencies.h"
#include "ProcessTestSupport.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using namespace std::chrono_literals;
using test::readFile;
using test::TempDir;
using test::writeFile;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = 10s;  // every wait of these tests ends by then

const std::string kIncomplete =
    "处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。";
const std::string kInterrupted = "处理被中断。原片和已有剪辑已保留，可稍后重试。";
const std::string kCancelled = "任务已取消，原文件未改动。";

// A /bin/sh script as the child process.
std::filesystem::path writeScript(const TempDir& dir, const std::string& name, const std::string& body) {
    auto path = dir / name;
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

// Blocks until the child has exited, without reaping it (the runner still must).
void waitUntilExited(std::int32_t pid) {
    const auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid != 0)
            return;
        std::this_thread::sleep_for(5ms);
    }
    FAIL() << "child " << pid << " did not exit";
}

// Ended (gone, or a zombie waiting for its reaper) within the deadline.
bool waitUntilEnded(pid_t pid) {
    return test::waitUntil([pid] { return test::processEnded(pid); }, kDeadline);
}

pid_t readPid(const std::filesystem::path& file) {
    const auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline) {
        auto text = readFile(file);
        if (!text.empty() && text.back() == '\n') return static_cast<pid_t>(std::stol(text));
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

enum class Outcome { result, mediaError, cancelled, timeout, processFailure, otherError };

struct Caught {
    Outcome outcome = Outcome::result;
    std::string message;
    std::string diagnostics;
    ProcessResult result;
};

Caught runCatching(const std::function<ProcessResult()>& action) {
    Caught caught;
    try {
        caught.result = action();
    } catch (const ProcessTimeout& timeout) {
        caught.outcome = Outcome::timeout;
        caught.message = timeout.message();
    } catch (const ProcessFailure& failure) {
        caught.outcome = Outcome::processFailure;
        caught.message = failure.message();
        caught.diagnostics = failure.diagnostics();
    } catch (const OperationCancelled& cancelled) {
        caught.outcome = Outcome::cancelled;
        caught.message = cancelled.message();
    } catch (const MediaError& error) {
        caught.outcome = Outcome::mediaError;
        caught.message = error.message();
    } catch (const std::exception& error) {
        caught.outcome = Outcome::otherError;
        caught.message = error.what();
    }
    return caught;
}

TEST(Runner, ChildThatExitsAtOnceReturnsItsOutputWithoutTicks) {
    TempDir dir;
    auto script = writeScript(dir, "quick", R"(printf 'out\000bytes\377'; printf '进度 ok' >&2)");
    int launches = 0, ticks = 0;
    std::int32_t launched = 0;
    auto result = Runner::run(
        script, {}, makeCancellation(), std::nullopt,
        [&](std::int32_t pid) {
            ++launches;
            launched = pid;
            waitUntilExited(pid);  // ended before the first poll
        },
        [&] { ++ticks; });
    EXPECT_EQ(launches, 1);
    EXPECT_GT(launched, 0);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(result.stdout, std::string("out\0bytes\xFF", 10));
    EXPECT_EQ(result.stderr, "进度 ok");
    EXPECT_EQ(Runner::liveChildCount(), 0u);
}

TEST(Runner, ArgumentsReachTheChildUnchanged) {
    TempDir dir;
    auto script = writeScript(dir, "echo-args", R"(printf '%s\000' "$@")");
    const std::vector<std::string> arguments = {
        "-i", "带 空格 'single' \"double\" 录音.mp4", "", "$HOME", "*", "a\nb"};
    auto result = Runner::run(script, arguments, makeCancellation());
    std::string expected;
    for (const auto& argument : arguments) expected += argument + '\0';
    EXPECT_EQ(result.stdout, expected);
}

TEST(Runner, ChildInheritsOnlyItsStandardStreamsAndDefaultSignals) {
    // A descriptor without O_CLOEXEC, as a careless library might leave one.
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    // The application ignores SIGPIPE and a thread blocks SIGUSR1; neither may reach ffmpeg.
    auto previousPipe = ::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);

    auto result = Runner::run("/bin/sh",
                              {"-c",
                               // A plain command: a pipeline here would show the shell's own pipe.
                               "ls -m /proc/$$/fd; readlink /proc/$$/fd/0; "
                               "grep -E '^Sig(Blk|Ign)' /proc/$$/status | cut -f2; "
                               "test \"$(cut -d' ' -f5 /proc/$$/stat)\" = $$ && echo own-group"},
                              makeCancellation());

    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::signal(SIGPIPE, previousPipe);
    ::close(leaked);
    std::istringstream lines(result.stdout);
    std::string descriptors, input, blockedMask, ignoredMask, group;
    std::getline(lines, descriptors);
    std::getline(lines, input);
    std::getline(lines, blockedMask);
    std::getline(lines, ignoredMask);
    std::getline(lines, group);
    EXPECT_EQ(descriptors, "0, 1, 2");
    EXPECT_EQ(input, "/dev/null");
    EXPECT_EQ(std::stoull(blockedMask, nullptr, 16), 0u);
    EXPECT_EQ(std::stoull(ignoredMask, nullptr, 16), 0u) << ignoredMask;
    EXPECT_EQ(group, "own-group");
}

TEST(Runner, EachRunHasAPrivateFolderThatNoOutcomeLeavesBehind) {
    TempDir dir;  // outside the temporary folder watched below
    test::TemporaryFolderScope temporary;
    auto succeed = writeScript(dir, "succeed", "echo done");
    auto fail = writeScript(dir, "fail", "echo broken >&2; exit 4");
    auto slow = writeScript(dir, "slow", "sleep 30");
    writeFile(dir / "not-executable", "#!/bin/sh\n");

    // While a child runs, its folder holds exactly the two capture files, for its owner only.
    Runner::run(succeed, {}, makeCancellation(), std::nullopt, [&](std::int32_t) {
        auto entries = temporary.entries();
        ASSERT_EQ(entries.size(), 1u);
        auto name = entries[0].filename().string();
        ASSERT_EQ(name.rfind("TalvianProcess-", 0), 0u);
        auto uuid = name.substr(std::string("TalvianProcess-").size());
        EXPECT_TRUE(Uuid::parse(uuid));
        EXPECT_EQ(uuid, Uuid::parse(uuid)->string());  // upper case
        struct stat info {};
        ASSERT_EQ(::stat(entries[0].c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        std::set<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(entries[0]))
            files.insert(entry.path().filename().string());
        EXPECT_EQ(files, (std::set<std::string>{"stderr", "stdout"}));
    });

    struct Case {
        const char* name;
        std::function<ProcessResult()> run;
        Outcome outcome;
        std::string message;
    };
    auto cancelled = makeCancellation();
    auto cancelOnTick = [cancelled] { cancelled->cancel(); };
    const Case cases[] = {
        {"result", [&] { return Runner::run(succeed, {}, makeCancellation()); }, Outcome::result, ""},
        {"non-zero status", [&] { return Runner::run(fail, {}, makeCancellation()); },
         Outcome::processFailure, kIncomplete},
        {"time limit", [&] { return Runner::run(slow, {}, makeCancellation(), 0.2); }, Outcome::timeout,
         "读取媒体信息超时。请重新选择原素材后再试；已有剪辑已保留。"},
        {"cancelled while running",
         [&] { return Runner::run(slow, {}, cancelled, std::nullopt, {}, cancelOnTick); }, Outcome::cancelled,
         kCancelled},
        {"missing executable", [&] { return Runner::run(dir / "missing-tool", {}, makeCancellation()); },
         Outcome::mediaError, "无法启动“missing-tool”：文件或文件夹不存在。"},
        {"not executable", [&] { return Runner::run(dir / "not-executable", {}, makeCancellation()); },
         Outcome::mediaError, "无法启动“not-executable”：没有访问权限。"},
        {"launch callback throws",
         [&] {
             return Runner::run(slow, {}, makeCancellation(), std::nullopt,
                                [](std::int32_t) { throw std::runtime_error("callback failed"); });
         },
         Outcome::otherError, "callback failed"},
    };
    for (const auto& c : cases) {
        auto caught = runCatching(c.run);
        EXPECT_EQ(caught.outcome, c.outcome) << c.name << ": " << caught.message;
        EXPECT_EQ(caught.message, c.message) << c.name;
        EXPECT_TRUE(temporary.entries().empty()) << c.name;
        EXPECT_EQ(Runner::liveChildCount(), 0u) << c.name;
    }
}

TEST(Runner, RefusesBeforeCreatingAnything) {
    TempDir dir;  // outside the temporary folder watched below
    test::TemporaryFolderScope temporary;
    auto script = writeScript(dir, "never", "touch " + (dir / "ran").string());
    auto cancelled = makeCancellation();
    cancelled->cancel();
    struct Case {
        const char* name;
        CancellationToken token;
        std::optional<double> timeout;
        Outcome outcome;
        std::string message;
    };
    const std::string badLimit = "读取时限必须是正数。";
    const Case cases[] = {
        {"cancelled before the start", cancelled, 5.0, Outcome::cancelled, kCancelled},
        {"cancellation is judged before the limit", cancelled, -1.0, Outcome::cancelled, kCancelled},
        {"zero limit", makeCancellation(), 0.0, Outcome::mediaError, badLimit},
        {"negative limit", makeCancellation(), -0.5, Outcome::mediaError, badLimit},
        {"NaN limit", makeCancellation(), std::nan(""), Outcome::mediaError, badLimit},
        {"infinite limit", makeCancellation(), INFINITY, Outcome::mediaError, badLimit},
        {"negative infinite limit", makeCancellation(), -INFINITY, Outcome::mediaError, badLimit},
    };
    for (const auto& c : cases) {
        bool launched = false;
        auto caught = runCatching([&] {
            return Runner::run(script, {}, c.token, c.timeout, [&](std::int32_t) { launched = true; });
        });
        EXPECT_EQ(caught.outcome, c.outcome) << c.name;
        EXPECT_EQ(caught.message, c.message) << c.name;
        EXPECT_FALSE(launched) << c.name;
        EXPECT_TRUE(temporary.entries().empty()) << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "ran"));
}

TEST(Runner, UnusableTemporaryFolderIsReportedInChinese) {
    TempDir dir;
    writeFile(dir / "a-file", "x");
    std::optional<std::string> saved;
    if (const char* value = ::getenv("TMPDIR")) saved = value;
    ::setenv("TMPDIR", (dir / "a-file").c_str(), 1);
    auto caught = runCatching([&] { return Runner::run("/bin/true", {}, makeCancellation()); });
    if (saved)
        ::setenv("TMPDIR", saved->c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_EQ(caught.outcome, Outcome::mediaError);
    EXPECT_EQ(caught.message, "无法创建处理用的临时文件夹：路径中有一项不是文件夹。");
}

TEST(Runner, StandardErrorIsDecodedLossilyNeverToNothing) {
    TempDir dir;
    // A Latin-1 "é" from a file's metadata among otherwise valid text.
    auto succeed = writeScript(dir, "latin1-ok", R"(printf 'title: caf\351\n' >&2)");
    auto fail =
        writeScript(dir, "latin1-fail", R"(printf 'title: caf\351\n录音.mp4: Invalid data\n' >&2; exit 1)");
    EXPECT_EQ(Runner::run(succeed, {}, makeCancellation()).stderr, "title: caf\xEF\xBF\xBD\n");
    auto caught = runCatching([&] { return Runner::run(fail, {}, makeCancellation()); });
    EXPECT_EQ(caught.diagnostics, "title: caf\xEF\xBF\xBD\n录音.mp4: Invalid data\n");
}

TEST(Runner, FailureDiagnosticsKeepTheLast1400Characters) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 600; ++i) text += "前";
    for (int i = 0; i < 1399; ++i) text += "后";
    text += "e\xCC\x81";  // one character of two code points
    writeFile(dir / "report", text);
    auto script = writeScript(dir, "long-report", R"(cat "$1" >&2; exit 2)");
    auto caught =
        runCatching([&] { return Runner::run(script, {(dir / "report").string()}, makeCancellation()); });
    std::string tail;
    for (int i = 0; i < 1399; ++i) tail += "后";
    EXPECT_EQ(caught.message, kIncomplete);
    EXPECT_EQ(caught.diagnostics, tail + "e\xCC\x81");
}

TEST(Runner, AChildThatDoesNotSucceedFailsWithOneSentenceAndKeepsItsWordsForDiagnostics) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* body;
        std::string message;
        std::string diagnostics;
    };
    const Case cases[] = {
        {"error status", "echo 'Conversion failed!' >&2; exit 1", kIncomplete, "Conversion failed!\n"},
        {"crash", "echo 'Segmentation fault' >&2; kill -SEGV $$", kIncomplete, "Segmentation fault\n"},
        {"killed from elsewhere", "echo dying >&2; kill -KILL $$", kInterrupted, "dying\n"},
        {"terminated from elsewhere", "echo stopping >&2; kill -TERM $$", kInterrupted, "stopping\n"},
        {"interrupted from a terminal", "kill -INT $$", kInterrupted, ""},
        {"hung up", "kill -HUP $$", kInterrupted, ""},
        // ffmpeg catches a stop signal, cleans up and says so with status 255.
        {"ffmpeg stopped by a signal", "echo 'Exiting normally, received signal 15.' >&2; exit 255",
         kInterrupted, "Exiting normally, received signal 15.\n"},
    };
    for (const auto& c : cases) {
        auto script = writeScript(dir, "child", c.body);
        auto caught = runCatching([&] { return Runner::run(script, {}, makeCancellation()); });
        EXPECT_EQ(caught.outcome, Outcome::processFailure) << c.name;
        EXPECT_EQ(caught.message, c.message) << c.name;
        EXPECT_EQ(caught.diagnostics, c.diagnostics) << c.name;
        std::filesystem::remove(script);
    }
}

TEST(Runner, FfmpegStoppedByASignalFromElsewhereIsInterrupted) {
    // A real ffmpeg, reading a generated sound in real time, sent SIGTERM by someone else (the
    // process alone, as `kill` would): not a cancellation, not a time limit.
    std::int32_t child = 0;
    int ticks = 0;
    auto caught = runCatching([&] {
        return Runner::run(
            Dependencies::require("ffmpeg"),
            {"-hide_banner", "-nostdin", "-re", "-f", "lavfi", "-i", "sine=r=8000", "-t", "60", "-f", "null",
             "-"},
            makeCancellation(), std::nullopt, [&](std::int32_t pid) { child = pid; },
            [&] {
                if (++ticks == 5) ::kill(child, SIGTERM);
            });
    });
    EXPECT_EQ(caught.outcome, Outcome::processFailure);
    EXPECT_EQ(caught.message, kInterrupted);
    EXPECT_EQ(Runner::liveChildCount(), 0u);
}

TEST(Runner, TimeLimitStopsTheChildAndEverythingItStarted) {
    TempDir dir;
    auto script =
        writeScript(dir, "too-long", "sleep 30 & echo $! > " + (dir / "grandchild").string() + "; wait");
    std::int32_t child = 0;
    int ticks = 0;
    auto caught = runCatching([&] {
        return Runner::run(
            script, {}, makeCancellation(), 0.3, [&](std::int32_t pid) { child = pid; }, [&] { ++ticks; });
    });
    EXPECT_EQ(caught.outcome, Outcome::timeout);
    EXPECT_EQ(caught.message, "读取媒体信息超时。请重新选择原素材后再试；已有剪辑已保留。");
    EXPECT_GE(ticks, 2);              // polled while it ran
    EXPECT_EQ(::kill(child, 0), -1);  // reaped
    pid_t grandchild = readPid(dir / "grandchild");
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(waitUntilEnded(grandchild));
    EXPECT_EQ(Runner::liveChildCount(), 0u);
}

TEST(Runner, CancellationWinsOverTimeLimitAndSuccessfulExit) {
    TempDir dir;
    // Asked to stop (time limit), it notes the request and ends with status 0 once the test,
    // having cancelled, lets it go.
    auto marker = dir / "asked-to-stop";
    auto go = dir / "go";
    auto script = writeScript(dir, "graceful",
                              "trap 'touch " + marker.string() + "; while [ ! -e " + go.string() +
                                  " ]; do sleep 0.02; done; exit 0' TERM\n"
                                  "while :; do sleep 0.05; done");
    auto token = makeCancellation();
    auto caught = runCatching([&] {
        return Runner::run(script, {}, token, 0.2, {}, [&] {
            if (!std::filesystem::exists(marker)) return;
            token->cancel();
            writeFile(go, "");
        });
    });
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_EQ(caught.outcome, Outcome::cancelled);
    EXPECT_EQ(caught.message, kCancelled);

    // Ended with status 0, cancelled before the check after exit: no output either.
    auto quick = writeScript(dir, "quick", "echo result");
    auto late = makeCancellation();
    auto lateCaught = runCatching([&] {
        return Runner::run(quick, {}, late, 5.0, [&](std::int32_t pid) {
            waitUntilExited(pid);
            late->cancel();
        });
    });
    EXPECT_EQ(lateCaught.outcome, Outcome::cancelled);
    EXPECT_EQ(lateCaught.message, kCancelled);
}

TEST(Runner, ChildIgnoringTerminationIsKilledAfterTheGracePeriod) {
    TempDir dir;
    // The ignored SIGTERM is inherited by the sleep too.
    auto script = writeScript(
        dir, "stubborn", "trap '' TERM\nsleep 30 & echo $! > " + (dir / "grandchild").string() + "; wait");
    auto token = makeCancellation();
    std::int32_t child = 0;
    Clock::time_point cancelledAt;
    auto caught = runCatching([&] {
        return Runner::run(
            script, {}, token, std::nullopt, [&](std::int32_t pid) { child = pid; },
            [&] {
                if (!token->isCancelled()) {
                    cancelledAt = Clock::now();
                    token->cancel();
                }
            });
    });
    const double waited = std::chrono::duration<double>(Clock::now() - cancelledAt).count();
    EXPECT_EQ(caught.outcome, Outcome::cancelled);
    EXPECT_GE(waited, Runner::kKillGraceSeconds);  // never killed before the grace period
    EXPECT_EQ(::kill(child, 0), -1);
    pid_t grandchild = readPid(dir / "grandchild");
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(waitUntilEnded(grandchild));
    EXPECT_EQ(Runner::liveChildCount(), 0u);
}

TEST(Runner, StopAllChildrenEndsEveryLiveRun) {
    TempDir dir;
    auto polite = writeScript(dir, "polite", "sleep 30");
    auto ready = dir / "ready";
    auto stubborn = writeScript(dir, "stubborn", "trap '' TERM\ntouch " + ready.string() + "\nsleep 30");
    auto first = std::async(std::launch::async, [&] {
        return runCatching([&] { return Runner::run(polite, {}, makeCancellation()); });
    });
    auto second = std::async(std::launch::async, [&] {
        return runCatching([&] { return Runner::run(stubborn, {}, makeCancellation(), 60.0); });
    });
    // Both launched, and the stubborn one has set its trap: only SIGKILL can end it now.
    const auto deadline = Clock::now() + kDeadline;
    while ((Runner::liveChildCount() < 2 || !std::filesystem::exists(ready)) && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(Runner::liveChildCount(), 2u);
    ASSERT_TRUE(std::filesystem::exists(ready));

    EXPECT_EQ(Runner::stopAllChildren(), 2u);
    ASSERT_EQ(first.wait_for(kDeadline), std::future_status::ready);
    ASSERT_EQ(second.wait_for(kDeadline), std::future_status::ready);
    // Not cancelled and no time limit reached: the run was interrupted.
    for (const auto& caught : {first.get(), second.get()}) {
        EXPECT_EQ(caught.outcome, Outcome::processFailure);
        EXPECT_EQ(caught.message, kInterrupted);
    }
    EXPECT_EQ(Runner::liveChildCount(), 0u);
    EXPECT_EQ(Runner::stopAllChildren(), 0u);
}

// ---- Streamed standard output

TEST(Runner, StreamedOutputArrivesWholeAndInOrderWithoutTouchingTheDisk) {
    TempDir dir;
    test::TemporaryFolderScope temporary;
    // 40 MiB of a known pattern, far beyond any pipe's buffer.
    constexpr std::size_t kBytes = 40u << 20;
    const std::string line = "0123456789abcdef\n";
    auto script = writeScript(
        dir, "writer", "yes 0123456789abcdef | head -c " + std::to_string(kBytes) + "; printf 'said' >&2");
    std::size_t received = 0, pieces = 0, mismatches = 0;
    std::uintmax_t largestFolder = 0;
    auto result = Runner::run(script, {}, makeCancellation(), std::nullopt, {}, {},
                              [&](std::span<const std::byte> bytes) {
                                  for (std::byte byte : bytes)
                                      if (static_cast<char>(byte) != line[received++ % line.size()])
                                          ++mismatches;
                                  ++pieces;
                                  largestFolder = std::max(largestFolder, temporary.bytes());
                              });
    EXPECT_EQ(received, kBytes);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(pieces, 1u);
    EXPECT_LT(largestFolder, 4096u);  // only the small standard error capture
    EXPECT_EQ(result.stdout, "");
    EXPECT_EQ(result.stderr, "said");
    EXPECT_EQ(Runner::liveChildCount(), 0u);
}

TEST(Runner, StreamedOutputEndsWithTheChildEvenWhenItsChildHoldsThePipe) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string body;
        std::string expected;
    };
    const Case cases[] = {
        // Everything is still in the pipe when the exit is seen.
        {"written just before a quick exit", "printf 'last words'", "last words"},
        {"nothing written", "true", ""},
        // A process the child left behind keeps the writing end open: the run ends all the same.
        {"a grandchild holds the pipe",
         "sleep 30 & echo $! > " + (dir / "grandchild").string() + "; printf 'done'", "done"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto script = writeScript(dir, "child", c.body);
        std::string received;
        const auto start = Clock::now();
        Runner::run(script, {}, makeCancellation(), std::nullopt, {}, {},
                    [&](std::span<const std::byte> bytes) {
                        received.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
                    });
        EXPECT_LT(Clock::now() - start, 5s);
        EXPECT_EQ(received, c.expected);
        if (std::filesystem::exists(dir / "grandchild")) {
            ::kill(readPid(dir / "grandchild"), SIGKILL);
            std::filesystem::remove(dir / "grandchild");
        }
    }
}

TEST(Runner, CancellationStopsAChildThatStreamsWithoutEnd) {
    TempDir dir;
    auto script = writeScript(dir, "endless", "exec yes talvian");
    auto token = makeCancellation();
    std::size_t received = 0;
    const auto start = Clock::now();
    auto caught = runCatching([&] {
        return Runner::run(script, {}, token, std::nullopt, {}, {}, [&](std::span<const std::byte> bytes) {
            received += bytes.size();
            if (received > (4u << 20)) token->cancel();
        });
    });
    EXPECT_EQ(caught.outcome, Outcome::cancelled);
    EXPECT_EQ(caught.message, kCancelled);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(Runner::liveChildCount(), 0u);
}

}  // namespace
}  // namespace talvian
