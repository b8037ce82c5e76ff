#pragma once
// Helpers of the tests that run programs as real child processes: a started process with its
// output in files, the processes a process has started, and a lock held from another process.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ChildProcesses.h"

namespace talvian::test {

// Every wait of these helpers ends by then.
inline constexpr std::chrono::seconds kProcessDeadline{30};

// A program started with `arguments`, the environment of the test plus `environment`,
// standard input from the null device, standard output and error into files of `logFolder`.
// Destroying it while it runs kills it and reaps it.
class StartedProcess {
  public:
    StartedProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& logFolder,
                   const std::map<std::string, std::string>& environment = {});
    ~StartedProcess();
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The wait status once it has ended (reaped), absent when the deadline passed first.
    std::optional<int> waitForExit(std::chrono::milliseconds deadline = kProcessDeadline);
    std::string standardOutput() const;
    std::string standardError() const;

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::filesystem::path stdout_, stderr_;
};

// Waits until `condition` holds; false when the deadline passed first.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = kProcessDeadline);

// True when a lock on `path` (a file or folder) is held by someone: an exclusive try fails.
bool lockIsHeld(const std::filesystem::path& path);

// A shared flock(1) lock on `path` held by another process, as a running instance holds its work
// entries; released (the holder killed) when destroyed.
class LockHolder {
  public:
    LockHolder(const std::filesystem::path& path, const std::filesystem::path& logFolder);
    void release();

  private:
    std::optional<StartedProcess> holder_;
};

// Names in `folder` that are work entries (ours or look-alikes): everything starting "Talvian" or
// ".Talvian".
std::set<std::string> workEntries(const std::filesystem::path& folder);

// Fills `bin` (a Resources/bin folder) with the tools a program finds before the system's: an
// ffmpeg that reads the input of one step at the input's native rate (-re), so that the step whose
// arguments contain $SLOWED_STEP lasts as long as the recording while every other step runs at
// full speed, and the real ffprobe.
void installSlowedTools(const std::filesystem::path& bin);

}  // namespace talvian::test
