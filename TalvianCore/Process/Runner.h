#pragma once
// Runs one child process (ffmpeg, ffprobe) to completion under a cancellation token and
// an optional time limit, and keeps the registry of live children the application stops
// when it quits.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Model/CoreTypes.h"

namespace talvian {

// The captured output of a run that ended with status 0.
struct ProcessResult {
    std::string stdout;  // the child's standard output, byte for byte
    std::string stderr;  // its standard error as UTF-8, ill-formed bytes replaced by U+FFFD
    bool operator==(const ProcessResult&) const = default;
};

// A run reached its time limit before it ended or was cancelled. Callers recognise it by
// its type; message() is the localised "读取媒体信息超时。…" sentence.
class ProcessTimeout : public UserError {
  public:
    ProcessTimeout();
};

// A child ended with a non-zero status or by a signal that was not a cancellation or a time
// limit. message() is one sentence: `interrupted` ("处理被中断。…") when the child was
// stopped from outside (a stop signal, the application's quit, or ffmpeg reporting that it
// received one), `incomplete` ("处理未完成。…") otherwise. diagnostics() holds the last
// characters of the child's standard error, for the support report only.
class ProcessFailure : public UserError {
  public:
    enum class Kind { incomplete, interrupted };
    ProcessFailure(Kind kind, std::string standardError);
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

namespace Runner {

// Arbitrary but fixed by the behaviour: how often a running child is looked at, and how
// long a child asked to stop (SIGTERM) gets before SIGKILL.
inline constexpr std::chrono::milliseconds kPollInterval{120};
inline constexpr double kKillGraceSeconds = 2.0;
// Characters of standard error a failed run keeps in its diagnostics.
inline constexpr std::size_t kErrorTailCharacters = 1400;

using LaunchCallback = std::function<void(std::int32_t processID)>;
using TickCallback = std::function<void()>;
// Gets the child's standard output as it arrives, in pieces of any size, on the calling thread.
using OutputCallback = std::function<void(std::span<const std::byte>)>;

// Runs `executable` with `arguments` (argv[1…], no shell) and blocks the calling thread
// until it has ended; standard input is the null device, standard output and error go to
// files in a private folder ("TalvianProcess-<UUID>", mode 0700, in the system temporary
// folder, locked while the run lasts; stale ones of killed runs are removed first) that is
// removed on every way out. The child inherits the environment, the working folder and its
// three standard streams only, with default signal dispositions and an empty signal mask; it
// runs in its own process group. It gets SIGKILL when the calling thread ends (the kernel ties
// it to the thread, not the process), so a host killed outright leaves no child running: the
// thread is blocked here for the child's whole life, so only the death of the process can end it.
// `onLaunch` gets the process ID once after the launch; `tick` is called once per poll
// while the child runs (not at all for a child that ended before the first poll); both on
// the calling thread. With `onOutput`, standard output is a pipe instead of a file: the calling
// thread hands every piece to `onOutput` as it arrives (also while waiting between polls, so a
// child that writes much never waits on it) and the result's `stdout` is empty; nothing the
// child writes there touches the disk. A null token is never cancelled.
// Throws, in this order of judgement: OperationCancelled (token cancelled before the start or
// by the check after exit), MediaError "读取时限必须是正数。" (timeout not finite or ≤ 0),
// MediaError for a folder, capture file or launch failure, ProcessTimeout, ProcessFailure
// (with the last 1400 characters of standard error as its diagnostics) for a non-zero status
// or an end by a signal.
// Whatever the outcome, the child and every process of its group have ended when this
// returns or throws after a stop was requested.
ProcessResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                  const CancellationToken& cancellation, std::optional<double> timeoutSeconds = std::nullopt,
                  const LaunchCallback& onLaunch = {}, const TickCallback& tick = {},
                  const OutputCallback& onOutput = {});

// What a child's failure stands for when it was writing `written`: the full disk
// ("无法写入…：磁盘空间不足。", `written` named as fileError names it, the child's standard
// error in the diagnostics) when the volume of its folder is nearly full, otherwise nothing.
// An interruption is never a full disk.
std::optional<MediaError> fullDiskError(const std::filesystem::path& written, const ProcessFailure& failure);

// run, for a child that writes `written`. ffmpeg tells a full disk only in its English report,
// its status says no more than "failed": so its failure goes through fullDiskError.
ProcessResult runWriting(const std::filesystem::path& written, const std::filesystem::path& executable,
                         const std::vector<std::string>& arguments, const CancellationToken& cancellation,
                         std::optional<double> timeoutSeconds = std::nullopt,
                         const LaunchCallback& onLaunch = {}, const TickCallback& tick = {},
                         const OutputCallback& onOutput = {});

// Children started by run that have not been reaped yet, over all threads.
std::size_t liveChildCount();

// For the application's quit path: sends SIGTERM to every live child's process group and
// makes each of their runs escalate to SIGKILL as for a cancellation (a run stopped this
// way and not cancelled fails with an interrupted ProcessFailure). Returns how many were asked.
// Does not wait; any thread.
std::size_t stopAllChildren();

}  // namespace Runner
}  // namespace talvian
