#include "Runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <map>
#include <mutex>
#include <thread>

#include "Model/Localization.h"
#include "Model/Uuid.h"
#include "Support/FileSystem.h"
#include "Support/UnicodeText.h"

extern char** environ;

namespace talvian {

ProcessTimeout::ProcessTimeout()
    : UserError(L("读取媒体信息超时。请重新选择原素材后再试；已有剪辑已保留。")) {}

ProcessFailure::ProcessFailure(Kind kind, std::string standardError)
    : UserError(kind == Kind::interrupted ? L("处理被中断。原片和已有剪辑已保留，可稍后重试。")
                                          : generalFailureMessage(),
                std::move(standardError)),
      kind_(kind) {}

namespace Runner {

namespace {

using Clock = std::chrono::steady_clock;

// ffmpeg catches SIGINT, SIGTERM and SIGQUIT, stops cleanly and ends with this status; it
// uses it for nothing else.
constexpr int kFfmpegStoppedBySignalStatus = 255;

// ---- Registry of live children -------------------------------------------------------

// pid → whether the application asked it to stop. A pid is in the map from its spawn until
// just before it is reaped, so a signal sent under the lock never reaches a reused pid.
struct Registry {
    std::mutex lock;
    std::map<pid_t, bool> children;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

bool stopRequestedByApplication(pid_t pid) {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    auto found = r.children.find(pid);
    return found != r.children.end() && found->second;
}

// ---- The run's private folder ----------------------------------------------------------

MediaError folderError(int code) {
    return MediaError(L("无法创建处理用的临时文件夹：%@。", systemErrorText(code)));
}

MediaError captureFileError(int code) {
    return MediaError(L("无法创建处理用的临时文件：%@。", systemErrorText(code)));
}

// Keeps descriptors the child gets as 0, 1 and 2 clear of those numbers, so that setting
// up one standard stream never overwrites the source of another (a parent started with a
// standard stream closed).
UniqueFd aboveStandardStreams(UniqueFd fd) {
    if (!fd || fd.get() > STDERR_FILENO) return fd;
    UniqueFd moved(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    if (!moved) throw captureFileError(errno);
    return moved;
}

class RunFolder {
  public:
    RunFolder() {
        std::error_code error;
        auto base = std::filesystem::temp_directory_path(error);
        if (error) throw folderError(error.value());
        std::filesystem::create_directories(base, error);
        if (error) throw folderError(error.value());
        // What runs killed outright left behind; never a folder a live run holds.
        removeStaleWork(base);
        path_ = base / ("TalvianProcess-" + Uuid::random().string());
        // Fails on anything already there, a planted link included; locked while the run lasts.
        if (int code = createLockedFolder(path_, folder_); code != 0) throw folderError(code);
    }
    ~RunFolder() { remove(); }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    UniqueFd createFile(const char* name) const {
        UniqueFd fd(
            ::openat(folder_.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd) throw captureFileError(errno);
        return aboveStandardStreams(std::move(fd));
    }

    // The whole file; empty on any failure.
    std::string read(const char* name) const {
        std::string bytes;
        UniqueFd fd(::openat(folder_.get(), name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!fd) return bytes;
        struct stat info {};
        if (::fstat(fd.get(), &info) == 0 && info.st_size > 0)
            bytes.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[65536];
        for (;;) {
            ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return {};
            if (n == 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }

  private:
    void remove() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        folder_.reset();
    }

    std::filesystem::path path_;
    UniqueFd folder_;
};

// ---- The child -------------------------------------------------------------------------

// The child's stack between the clone and its exec; it only makes a few system calls.
constexpr std::size_t kChildStackBytes = 64 * 1024;
// Where a kernel without close_range (before 5.9) stops closing descriptors one by one;
// arbitrary, far above what the application opens.
constexpr int kDescriptorScanLimit = 1 << 16;

// Everything the child needs, prepared by the parent: between the clone and the exec the child
// shares the parent's memory and may only make async-signal-safe calls (no allocation, no lock).
struct ChildSetup {
    const char* executable = nullptr;
    char* const* argv = nullptr;
    char* const* environment = nullptr;
    int input = -1, output = -1, error = -1;  // all above the standard stream numbers
    pid_t parent = 0;                         // the parent's process ID, read before the clone
    int descriptorLimit = 0;                  // for closing by hand where close_range is missing
    int failure = 0;                          // written by the child: the errno of a failed step
};

// The signal mask as the kernel sees it; glibc's own calls leave its two internal signals out.
using KernelSignalSet = std::uint64_t;

int setKernelSignalMask(KernelSignalSet mask, KernelSignalSet* previous) {
    return static_cast<int>(::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &mask, previous, sizeof mask));
}

[[noreturn]] void failChild(ChildSetup& setup) {
    setup.failure = errno;
    ::_exit(127);
}

int childMain(void* argument) {
    auto& setup = *static_cast<ChildSetup*>(argument);
    // Every signal is blocked (the parent did it before the clone), so no handler of the parent
    // runs on the shared memory. Default dispositions: a SIGPIPE the application ignores must not
    // change how ffmpeg behaves (exec resets handled signals, not ignored ones).
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP) ::sigaction(signal, &defaults, nullptr);
    // Its own process group lets a stop reach anything the child starts.
    if (::setpgid(0, 0) != 0) failChild(setup);
    // Dies with the thread that started it, however that thread's process ends (SIGKILL
    // included), so no ffmpeg keeps writing work files nobody will remove.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) failChild(setup);
    // The parent died before the line above: the child was handed to another process already.
    if (::getppid() != setup.parent) ::_exit(127);
    if (::dup2(setup.input, STDIN_FILENO) < 0 || ::dup2(setup.output, STDOUT_FILENO) < 0 ||
        ::dup2(setup.error, STDERR_FILENO) < 0)
        failChild(setup);
    // Descriptors a library opened without O_CLOEXEC are not handed on either.
    if (::syscall(SYS_close_range, STDERR_FILENO + 1, ~0u, 0) != 0)
        for (int fd = STDERR_FILENO + 1; fd < setup.descriptorLimit; ++fd) ::close(fd);
    if (setKernelSignalMask(0, nullptr) != 0) failChild(setup);
    ::execve(setup.executable, setup.argv, setup.environment);
    failChild(setup);
}

// A launched child until it is reaped. Destroying it unreaped (an exception from a callback)
// kills its whole process group and reaps it, so no child outlives its run.
class Child {
  public:
    Child(const std::filesystem::path& executable, const std::vector<std::string>& arguments, int input,
          int output, int error) {
        std::vector<std::string> argumentTexts;
        argumentTexts.reserve(arguments.size() + 1);
        argumentTexts.push_back(executable.string());
        argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& text : argumentTexts) argv.push_back(text.data());
        argv.push_back(nullptr);

        ChildSetup setup;
        setup.executable = executable.c_str();
        setup.argv = argv.data();
        setup.environment = environ;
        setup.input = input;
        setup.output = output;
        setup.error = error;
        setup.parent = ::getpid();
        const long limit = ::sysconf(_SC_OPEN_MAX);
        setup.descriptorLimit =
            limit > 0 && limit < kDescriptorScanLimit ? static_cast<int>(limit) : kDescriptorScanLimit;
        std::vector<std::byte> stack(kChildStackBytes);
        // The stack grows down on every Linux target of ours; its top, 16-byte aligned.
        void* stackTop = reinterpret_cast<void*>(
            (reinterpret_cast<std::uintptr_t>(stack.data() + stack.size())) & ~std::uintptr_t{15});

        int code = 0;
        {
            // Launching under the registry's lock: stopAllChildren never misses a child that
            // exists but is not listed yet.
            auto& r = registry();
            std::lock_guard guard(r.lock);
            KernelSignalSet previous = 0;
            if (setKernelSignalMask(~KernelSignalSet{0}, &previous) != 0)
                throw fileError(L("启动"), executable, errno);
            // CLONE_VFORK: this thread sleeps until the child has called exec or exited, so the
            // setup and the stack stay valid and `failure` is final when clone returns. The
            // child's death signal is tied to this thread (PR_SET_PDEATHSIG follows the thread
            // that created it): a run blocks its calling thread for the child's whole life, so
            // the thread cannot end first.
            pid_ = ::clone(childMain, stackTop, CLONE_VM | CLONE_VFORK | SIGCHLD, &setup);
            code = pid_ < 0 ? errno : setup.failure;
            setKernelSignalMask(previous, nullptr);
            if (pid_ > 0 && code == 0) r.children.emplace(pid_, false);
        }
        if (pid_ > 0 && code != 0) {
            // Reaps the child that failed before its exec.
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (code != 0) {
            reaped_ = true;
            throw fileError(L("启动"), executable, code);
        }
        // Lets the wait between polls end as soon as the child exits; without it (an old
        // kernel) the poll simply sleeps. The raw call: glibc 2.36's <sys/pidfd.h> lacks C
        // linkage for C++.
        exitNotice_ = UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    }

    ~Child() {
        if (reaped_) return;
        signalGroup(SIGKILL);
        reap();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Running means not yet exited; the exited child stays unreaped (a zombie keeps its pid
    // and its group from being reused while they are still signalled).
    bool isRunning() const {
        for (;;) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
                return info.si_pid == 0;
            if (errno != EINTR) return false;  // ECHILD: someone else reaped it
        }
    }

    // Sends to the child and everything in its process group.
    void signalGroup(int signal) const { ::kill(-pid_, signal); }

    // Sleeps until `deadline`, waking early when the child exits or, with `output` (-1: none),
    // when there is something to read there (its end included). Returns whether there is.
    bool waitUntil(Clock::time_point deadline, int output) const {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const int timeout = static_cast<int>(std::max<std::int64_t>(remaining.count(), 0));
        pollfd entries[2];
        nfds_t count = 0;
        if (output >= 0) entries[count++] = pollfd{output, POLLIN, 0};
        if (exitNotice_) entries[count++] = pollfd{exitNotice_.get(), POLLIN, 0};
        if (count == 0) {
            std::this_thread::sleep_for(remaining);
            return false;
        }
        // Without an exit notice (an old kernel) the wait simply lasts until the deadline.
        if (::poll(entries, count, timeout) <= 0) return false;
        return output >= 0 && (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }

    // Waits for the exit and removes the child from the registry; returns the wait status,
    // or nothing when it is unknown.
    std::optional<int> reap() {
        {
            auto& r = registry();
            std::lock_guard guard(r.lock);
            r.children.erase(pid_);
        }
        reaped_ = true;
        int status = 0;
        for (;;) {
            if (::waitpid(pid_, &status, 0) == pid_) return status;
            if (errno != EINTR) return std::nullopt;
        }
    }

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    UniqueFd exitNotice_;
};

// The reading end of a child's standard output when it is streamed: a pipe, read without
// blocking on the calling thread.
class StreamedOutput {
  public:
    // The writing end for the child (above the standard stream numbers).
    UniqueFd open() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw captureFileError(errno);
        read_ = UniqueFd(ends[0]);
        UniqueFd write(ends[1]);
        // A larger pipe lets the child write on while the reader is busy; the default (64 KiB)
        // serves where the system refuses.
        ::fcntl(write.get(), F_SETPIPE_SZ, kPipeBytes);
        batches_ = ::fcntl(write.get(), F_GETPIPE_SZ) >= kPipeBytes;
        if (::fcntl(read_.get(), F_SETFL, O_NONBLOCK) != 0) throw captureFileError(errno);
        buffer_.resize(kReadBytes);
        return aboveStandardStreams(std::move(write));
    }

    // -1 once the stream has ended or when nothing is streamed.
    int fd() const { return read_ ? read_.get() : -1; }

    // One read of what is there, handed on; closes the stream at its end. False when nothing
    // was there to read now.
    bool readOnce(const OutputCallback& onOutput) {
        if (!read_) return false;
        for (;;) {
            const ssize_t n = ::read(read_.get(), buffer_.data(), buffer_.size());
            if (n > 0) {
                onOutput(std::span<const std::byte>(buffer_.data(), static_cast<std::size_t>(n)));
                // Emptied: a writer that fills the pipe a little at a time would wake this
                // thread for every write. A short pause lets a large pipe gather many writes
                // into one read and costs the writer nothing while the pipe has room.
                if (batches_ && static_cast<std::size_t>(n) < buffer_.size())
                    std::this_thread::sleep_for(kGatherPause);
                return true;
            }
            if (n < 0 && errno == EINTR) continue;
            // The end, or an error the child would have met as well: nothing more comes.
            if (n == 0 || errno != EAGAIN) read_.reset();
            return false;
        }
    }

    // After the child's exit: what is left in the pipe. Stops at its end, or where it is empty
    // because a process the child started still holds the writing end.
    void drain(const OutputCallback& onOutput) {
        while (readOnce(onOutput)) {
        }
        read_.reset();
    }

  private:
    static constexpr int kPipeBytes = 1 << 20;
    static constexpr std::size_t kReadBytes = 262144;
    // A fraction of the time a fast writer (ffmpeg: about 300 MB/s) takes to fill the pipe.
    static constexpr std::chrono::microseconds kGatherPause{500};
    UniqueFd read_;
    bool batches_ = false;
    std::vector<std::byte> buffer_;
};

bool isCancelled(const CancellationToken& cancellation) {
    return cancellation && cancellation->isCancelled();
}

// A child that did not end with status 0 was interrupted when the application asked it to
// stop, when a stop signal from elsewhere (a logout, the system, a person with `kill`) ended
// it, or when ffmpeg reports with its status that it caught one; anything else, a crash
// included, left the processing incomplete.
ProcessFailure::Kind failureKind(std::optional<int> status, bool askedToStop) {
    if (askedToStop) return ProcessFailure::Kind::interrupted;
    if (status && WIFSIGNALED(*status)) {
        switch (WTERMSIG(*status)) {
            case SIGTERM:
            case SIGINT:
            case SIGHUP:
            case SIGQUIT:
            case SIGKILL:
                return ProcessFailure::Kind::interrupted;
            default:
                return ProcessFailure::Kind::incomplete;
        }
    }
    if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == kFfmpegStoppedBySignalStatus)
        return ProcessFailure::Kind::interrupted;
    return ProcessFailure::Kind::incomplete;
}

}  // namespace

ProcessResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                  const CancellationToken& cancellation, std::optional<double> timeoutSeconds,
                  const LaunchCallback& onLaunch, const TickCallback& tick, const OutputCallback& onOutput) {
    if (isCancelled(cancellation)) throw OperationCancelled();
    if (timeoutSeconds && !(std::isfinite(*timeoutSeconds) && *timeoutSeconds > 0))
        throw MediaError(L("读取时限必须是正数。"));

    RunFolder folder;
    StreamedOutput streamed;
    UniqueFd output = onOutput ? streamed.open() : folder.createFile("stdout");
    UniqueFd error = folder.createFile("stderr");
    UniqueFd input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!input) throw captureFileError(errno);
    input = aboveStandardStreams(std::move(input));

    Child child(executable, arguments, input.get(), output.get(), error.get());
    // Only the child may hold the pipe's writing end, so that its exit ends the stream.
    if (onOutput) output.reset();
    const auto t0 = Clock::now();
    if (onLaunch) onLaunch(static_cast<std::int32_t>(child.pid()));

    bool stopRequested = false;
    bool timedOut = false;
    Clock::time_point stopAt;
    Clock::time_point nextPoll = t0;
    while (child.isRunning()) {
        const auto now = Clock::now();
        if (now >= nextPoll) {
            const double elapsed = std::chrono::duration<double>(now - t0).count();
            if (!stopRequested) {
                const bool timeReached = timeoutSeconds && elapsed >= *timeoutSeconds;
                if (isCancelled(cancellation) || timeReached || stopRequestedByApplication(child.pid())) {
                    // Read again: a cancel that races the time limit still wins.
                    timedOut = timeReached && !isCancelled(cancellation);
                    child.signalGroup(SIGTERM);
                    stopRequested = true;
                    stopAt = now;
                }
            } else if (std::chrono::duration<double>(now - stopAt).count() > kKillGraceSeconds) {
                child.signalGroup(SIGKILL);
            }
            if (tick) tick();
            nextPoll = now + kPollInterval;
        }
        // A child stopping on a signal may still be writing: the pipe is read until it exits.
        if (child.waitUntil(nextPoll, streamed.fd())) streamed.readOnce(onOutput);
    }
    // The leader has exited but may have left processes in its group behind.
    const bool askedToStop = stopRequested || stopRequestedByApplication(child.pid());
    if (askedToStop) child.signalGroup(SIGKILL);
    const std::optional<int> status = child.reap();
    streamed.drain(onOutput);
    output.reset();
    error.reset();

    if (isCancelled(cancellation)) throw OperationCancelled();
    if (timedOut) throw ProcessTimeout();
    std::string errorText = decodeLossy(folder.read("stderr"));
    const bool succeeded = status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    if (!succeeded)
        throw ProcessFailure(failureKind(status, askedToStop),
                             lastCharacters(errorText, kErrorTailCharacters));
    return ProcessResult{onOutput ? std::string() : folder.read("stdout"), std::move(errorText)};
}

std::optional<MediaError> fullDiskError(const std::filesystem::path& written, const ProcessFailure& failure) {
    if (failure.kind() != ProcessFailure::Kind::incomplete || !volumeNearlyFull(written.parent_path()))
        return std::nullopt;
    return MediaError(fileError(L("写入"), written, ENOSPC).message(), failure.diagnostics());
}

ProcessResult runWriting(const std::filesystem::path& written, const std::filesystem::path& executable,
                         const std::vector<std::string>& arguments, const CancellationToken& cancellation,
                         std::optional<double> timeoutSeconds, const LaunchCallback& onLaunch,
                         const TickCallback& tick, const OutputCallback& onOutput) {
    try {
        return run(executable, arguments, cancellation, timeoutSeconds, onLaunch, tick, onOutput);
    } catch (const ProcessFailure& failure) {
        if (auto full = fullDiskError(written, failure)) throw *full;
        throw;
    }
}

std::size_t liveChildCount() {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    return r.children.size();
}

std::size_t stopAllChildren() {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    for (auto& [pid, asked] : r.children) {
        asked = true;
        ::kill(-pid, SIGTERM);
    }
    return r.children.size();
}

}  // namespace Runner
}  // namespace talvian
