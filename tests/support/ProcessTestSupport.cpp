#include "ProcessTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "Model/Uuid.h"
#include "Process/Dependencies.h"
#include "TestSupport.h"

extern char** environ;

namespace talvian::test {

namespace {

using Clock = std::chrono::steady_clock;

std::string readAll(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream out;
    out << file.rdbuf();
    return out.str();
}

}  // namespace

StartedProcess::StartedProcess(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments,
                               const std::filesystem::path& logFolder,
                               const std::map<std::string, std::string>& environment) {
    const auto name = program.filename().string() + "-" + Uuid::random().string();
    stdout_ = logFolder / (name + ".out");
    stderr_ = logFolder / (name + ".err");

    std::vector<std::string> texts{program.string()};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string variable = *entry;
        auto key = variable.substr(0, variable.find('='));
        if (!environment.count(key)) variables.push_back(variable);
    }
    for (const auto& [key, value] : environment) variables.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    int code = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (code != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << code;
        pid_ = -1;
        reaped_ = true;
    }
}

StartedProcess::~StartedProcess() {
    if (reaped_) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

std::optional<int> StartedProcess::waitForExit(std::chrono::milliseconds deadline) {
    if (reaped_) return std::nullopt;
    const auto end = Clock::now() + deadline;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            return status;
        }
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string StartedProcess::standardOutput() const {
    return readAll(stdout_);
}
std::string StartedProcess::standardError() const {
    return readAll(stderr_);
}

std::map<pid_t, std::string> childrenOf(pid_t pid) {
    std::map<pid_t, std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = readAll(entry.path() / "stat");
        auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        pid_t parent = 0;
        fields >> state >> parent;
        if (parent != pid) continue;
        std::string commandLine = readAll(entry.path() / "cmdline");
        for (char& c : commandLine)
            if (c == '\0') c = ' ';
        found.emplace(static_cast<pid_t>(std::stol(name)), commandLine);
    }
    return found;
}

bool processEnded(pid_t pid) {
    std::string stat = readAll("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (!condition()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool lockIsHeld(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

LockHolder::LockHolder(const std::filesystem::path& path, const std::filesystem::path& logFolder) {
    // One process holds it from start to end: the shell opens the entry, flock(1) locks that
    // descriptor, and the sleep the shell becomes keeps it until it is killed.
    holder_.emplace("/bin/sh",
                    std::vector<std::string>{"-c", "exec 9<\"$1\" && flock --shared 9 && exec sleep 600",
                                             "sh", path.string()},
                    logFolder);
    EXPECT_TRUE(waitUntil([&] { return lockIsHeld(path); })) << "flock did not take " << path;
}

void LockHolder::release() {
    holder_.reset();
}

std::set<std::string> workEntries(const std::filesystem::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        auto name = entry.path().filename().string();
        if (name.starts_with("Talvian") || name.starts_with(".Talvian")) names.insert(name);
    }
    return names;
}

void installSlowedTools(const std::filesystem::path& bin) {
    std::filesystem::create_directories(bin);
    const auto real = shellQuote(Dependencies::require("ffmpeg").string());
    writeFile(bin / "ffmpeg",
              "#!/bin/sh\n"
              "if [ -n \"$SLOWED_STEP\" ]; then\n"
              "  case \"$*\" in *\"$SLOWED_STEP\"*) exec " +
                  real +
                  " -re \"$@\";; esac\n"
                  "fi\n"
                  "exec " +
                  real + " \"$@\"\n");
    ::chmod((bin / "ffmpeg").c_str(), 0755);
    std::filesystem::create_symlink(Dependencies::require("ffprobe"), bin / "ffprobe");
}

}  // namespace talvian::test
