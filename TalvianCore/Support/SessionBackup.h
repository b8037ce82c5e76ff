#pragma once
// The local backup of the edit under review: one last-session file rewritten after every
// change, a history of at most 8 replaced sessions, and a lock so that only one running
// instance writes them. One thread at a time (the controller's main thread); every call is
// synchronous file work.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "Model/CutProject.h"
#include "Model/Uuid.h"

namespace talvian {

// One earlier session that a later edit replaced.
struct RecentSession {
    // Why the session was replaced; stored as its raw text.
    enum class Origin { switching, reanalysis };
    static const char* rawValue(Origin origin);

    Uuid id;
    double archivedAt = 0;  // seconds since 2001-01-01 00:00:00 UTC
    CutProject project;
    std::optional<std::string> origin;

    // "自动保存", "重新分析前" or "先前版本".
    std::string originLabel() const;
    // "<origin> · <name> · MM-dd HH:mm:ss · N段待删 · 剪后M:SS.s" (local time zone).
    std::string menuLabel() const;
    bool operator==(const RecentSession&) const = default;
};

class SessionBackup {
  public:
    static constexpr std::size_t kMaxProjectBytes = 4'999'999;
    static constexpr std::size_t kMaxHistoryBytes = 40'000'999;
    static constexpr std::size_t kMaxHistoryEntries = 8;

    // "$XDG_DATA_HOME/Talvian/Recovery/last-session.quenlo.json", computed once per process.
    static const std::filesystem::path& defaultURL();

    // Creates the folder (0700), takes the lock (flock, exclusive, non-blocking) and reads
    // the history. Throws MediaError when the lock cannot be opened or is held elsewhere;
    // an unreadable history only sets historyIssue.
    explicit SessionBackup(std::filesystem::path url);
    ~SessionBackup();
    SessionBackup(const SessionBackup&) = delete;
    SessionBackup& operator=(const SessionBackup&) = delete;

    const std::filesystem::path& url() const { return url_; }
    const std::optional<std::string>& historyIssue() const { return historyIssue_; }

    // History entries except the session that is in the last-session file, newest first.
    std::vector<RecentSession> recentSessions() const;

    // Backs the project up; with replacingSession the session in the last-session file
    // moves into the history when it differs. Throws MediaError; see the file rules.
    void write(const CutProject& project, bool replacingSession, RecentSession::Origin origin);

    // Writes the entry's project to "selected-recent.quenlo.json" and returns that path.
    std::filesystem::path selectRecent(const Uuid& id);

    // Lenient read of a backup project file; nullopt when there is no file. Throws.
    static std::optional<CutProject> project(const std::filesystem::path& url);

    // The byte form: sorted keys, compact, slashes escaped. Throws MediaError.
    static std::string encoded(const CutProject& project);

  private:
    struct Cached {
        RecentSession entry;
        std::string data;  // the byte form of entry.project
    };

    std::filesystem::path sibling(const std::string& name) const;
    void readHistory();
    void writeHistory(const std::vector<Cached>& history);

    std::filesystem::path url_;
    std::optional<std::string> historyIssue_;
    bool historyNeedsPreservation_ = false;
    std::vector<Cached> history_;
    std::optional<std::string> lastData_;
    UniqueFd lock_;
};

}  // namespace talvian
