#include "SessionBackup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <set>

#include <nlohmann/json.hpp>

#include "IntegerBounds.h"
#include "Model/CutMath.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Model/ProjectJson.h"
#include "UnicodeText.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of archived dates.
constexpr double kReferenceDateOffset = 978'307'200.0;
constexpr std::size_t kMenuNameLength = 28;
constexpr int kHistoryVersion = 1;

double nowSinceReferenceDate() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDateOffset;
}

// The lenient checks of a backup project: what every later reader needs to find its source.
bool acceptableBackupProject(const CutProject& project) {
    return project.version >= 1 && project.version <= 8 &&
           (project.version >= 5) == project.options.paddingRight.has_value() &&
           project.source.starts_with("/") && std::isfinite(project.info.duration) &&
           project.info.duration > 0;
}

std::optional<struct stat> statFollowing(const fs::path& path, bool& missing) {
    struct stat info {};
    missing = false;
    if (::stat(path.c_str(), &info) == 0) return info;
    if (errno == ENOENT || errno == ENOTDIR) {
        missing = true;
        return std::nullopt;
    }
    throw fileError("读取", path, errno);
}

// Keeps an unreadable backup file unchanged beside the new one: a hard link costs nothing and
// survives the atomic replacement of the original name; a copy is the fallback.
void preserveAside(const fs::path& file, const fs::path& aside) {
    if (::link(file.c_str(), aside.c_str()) == 0) return;
    std::error_code error;
    if (!fs::copy_file(file, aside, fs::copy_options::none, error))
        throw fileError("保留", file, error.value());
}

std::string truncatedName(const std::string& name) {
    // Counts what a reader sees as one character: an emoji with its modifier or a letter with
    // its accent is one, so the cut never splits one apart.
    std::string head = firstCharacters(name, kMenuNameLength);
    return head.size() < name.size() ? head + "…" : name;
}

}  // namespace

const char* RecentSession::rawValue(Origin origin) {
    return origin == Origin::switching ? "switching" : "reanalysis";
}

std::string RecentSession::originLabel() const {
    if (origin == "switching") return L("自动保存");
    if (origin == "reanalysis") return L("重新分析前");
    return L("先前版本");
}

std::string RecentSession::menuLabel() const {
    const std::string name = displayedName(truncatedName(fs::path(project.source).filename().string()));
    char time[32] = "";
    const auto seconds = checkedInteger<std::time_t>(std::floor(archivedAt + kReferenceDateOffset));
    std::tm local{};
    if (seconds && localtime_r(&*seconds, &local)) std::strftime(time, sizeof time, "%m-%d %H:%M:%S", &local);
    long long count = 0;
    for (const auto& cut : project.cuts) count += cut.remove ? 1 : 0;
    const double kept = std::max(0.0, project.info.duration - project.removedDuration());
    const std::string keptText =
        checkedInteger<std::int64_t>(kept) ? L("剪后%@", timeLabel(kept)) : L("剪后时长待核验");
    return originLabel() + " · " + name + " · " + time + L(" · %@段待删 · ", count) + keptText;
}

const fs::path& SessionBackup::defaultURL() {
    static const fs::path url = [] {
        const char* dataHome = std::getenv("XDG_DATA_HOME");
        fs::path base;
        if (dataHome && dataHome[0] == '/')
            base = dataHome;
        else if (const char* home = std::getenv("HOME"))
            base = fs::path(home) / ".local" / "share";
        else
            base = "/tmp";
        return base / "Talvian" / "Recovery" / "last-session.quenlo.json";
    }();
    return url;
}

SessionBackup::SessionBackup(fs::path url) : url_(std::move(url)) {
    const fs::path folder = url_.parent_path();
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) throw fileError("创建", folder, error.value());
    ::chmod(folder.c_str(), 0700);

    fs::path lockPath = url_;
    lockPath += ".lock";
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock) throw MediaError(L("无法打开本机备份锁，请先保存项目。"));
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
        throw MediaError(L("另一应用实例正在使用本机备份，请先保存当前项目。"));
    lock_ = std::move(lock);

    try {
        if (auto last = project(url_)) lastData_ = encoded(*last);
    } catch (...) {
        lastData_.reset();
    }
    readHistory();
}

SessionBackup::~SessionBackup() {
    if (lock_) ::flock(lock_.get(), LOCK_UN);
}

fs::path SessionBackup::sibling(const std::string& name) const {
    return url_.parent_path() / name;
}

void SessionBackup::readHistory() {
    const fs::path file = sibling("recent-sessions.json");
    std::vector<Cached> loaded;
    bool readable = false;
    try {
        bool missing = false;
        const auto info = statFollowing(file, missing);
        if (missing) return;
        if (S_ISREG(info->st_mode) && static_cast<std::size_t>(info->st_size) <= kMaxHistoryBytes) {
            const auto text =
                readFileLimited(file, kMaxHistoryBytes, L("先前剪辑备份过大，请先保存当前项目。"));
            const auto json = StrictJson::parse(text);
            const auto& entries = json.at("entries");
            const auto& version = json.at("version");
            if (version.is_number_integer() && version.get<long long>() == kHistoryVersion &&
                entries.is_array() && entries.size() <= kMaxHistoryEntries) {
                std::set<Uuid> ids;
                readable = true;
                for (const auto& item : entries) {
                    RecentSession entry;
                    const auto parsedID = Uuid::parse(item.at("id").get<std::string>());
                    const auto& date = item.at("archivedAt");
                    if (!parsedID || !date.is_number()) {
                        readable = false;
                        break;
                    }
                    entry.id = *parsedID;
                    entry.archivedAt = date.get<double>();
                    if (item.contains("origin") && !item.at("origin").is_null())
                        entry.origin = item.at("origin").get<std::string>();
                    entry.project = ProjectJson::fromJson(item.at("project"));
                    if (!ids.insert(entry.id).second || !acceptableBackupProject(entry.project) ||
                        !std::isfinite(entry.archivedAt)) {
                        readable = false;
                        break;
                    }
                    std::string data = encoded(entry.project);
                    loaded.push_back({std::move(entry), std::move(data)});
                }
            }
        }
    } catch (...) {
        readable = false;
    }
    if (readable) {
        history_ = std::move(loaded);
        return;
    }
    history_.clear();
    historyNeedsPreservation_ = true;
    historyIssue_ = L("先前剪辑备份无法读取，旧文件已保留。可继续或打开已保存的项目。");
}

std::vector<RecentSession> SessionBackup::recentSessions() const {
    std::vector<RecentSession> sessions;
    for (const auto& cached : history_)
        if (!lastData_ || cached.data != *lastData_) sessions.push_back(cached.entry);
    return sessions;
}

std::optional<CutProject> SessionBackup::project(const fs::path& url) {
    bool missing = false;
    const auto info = statFollowing(url, missing);
    if (missing) return std::nullopt;
    const std::string invalid = L("上次备份格式无效，请打开已保存的项目。");
    if (!S_ISREG(info->st_mode) || static_cast<std::size_t>(info->st_size) > kMaxProjectBytes)
        throw MediaError(invalid);
    const auto text = readFileLimited(url, kMaxProjectBytes, invalid);
    CutProject project = ProjectJson::decode(text);
    if (!acceptableBackupProject(project)) throw MediaError(invalid);
    return project;
}

std::string SessionBackup::encoded(const CutProject& project) {
    return ProjectJson::encode(project, ProjectJson::Style::compact);
}

void SessionBackup::write(const CutProject& original, bool replacingSession, RecentSession::Origin origin) {
    if (!lock_) throw MediaError(L("本机备份不可写，请先保存项目。"));
    const fs::path source = fs::path(original.source).lexically_normal();
    for (const auto& own : {url_, sibling("recent-sessions.json"), sibling("selected-recent.quenlo.json")})
        if (source == own.lexically_normal()) throw MediaError(L("本机备份不能覆盖原素材，请另存项目。"));

    CutProject stored = original;
    if (stored.packagedSource) {
        stored.sourceSHA256 = stored.packagedSource->sha256;
        stored.packagedSource.reset();
        stored.version = stored.options.paddingRight ? 8 : 4;
    }
    const std::string data = encoded(stored);
    if (data.size() > kMaxProjectBytes) throw MediaError(L("本机备份超过5 MB，请保存项目。"));

    std::vector<Cached> history = history_;
    auto dropEqual = [&history](const std::string& bytes) {
        std::erase_if(history, [&bytes](const Cached& cached) { return cached.data == bytes; });
    };
    if (replacingSession) {
        std::optional<CutProject> old;
        std::string oldData;
        try {
            old = project(url_);
            if (old) oldData = encoded(*old);
        } catch (...) {
            old.reset();
        }
        if (old && oldData != data) {
            dropEqual(oldData);
            dropEqual(data);
            RecentSession entry;
            entry.id = Uuid::random();
            entry.archivedAt = nowSinceReferenceDate();
            entry.project = *old;
            entry.origin = RecentSession::rawValue(origin);
            history.insert(history.begin(), Cached{std::move(entry), std::move(oldData)});
            if (history.size() > kMaxHistoryEntries) history.resize(kMaxHistoryEntries);
        } else {
            dropEqual(data);
        }
    }

    bool sameIDs = history.size() == history_.size();
    for (std::size_t i = 0; sameIDs && i < history.size(); ++i)
        sameIDs = history[i].entry.id == history_[i].entry.id;
    if (historyNeedsPreservation_ || !sameIDs) writeHistory(history);

    bool missing = false;
    const auto info = statFollowing(url_, missing);
    if (!missing) {
        bool readable = false;
        try {
            // The file this writer left is known to be readable; only a foreign one is decoded.
            readable = (lastData_ && S_ISREG(info->st_mode) &&
                        static_cast<std::size_t>(info->st_size) == lastData_->size() &&
                        readFileLimited(url_, kMaxProjectBytes, {}) == *lastData_) ||
                       project(url_).has_value();
        } catch (...) {
        }
        if (!readable) {
            // A directory in the way is never moved or copied: nothing is written over it.
            if (!S_ISREG(info->st_mode)) throw MediaError(L("本机备份不可写，请先保存项目。"));
            preserveAside(url_, sibling("unreadable-" + Uuid::random().string() + ".quenlo.json"));
        }
    }
    writeFileAtomically(url_, data, Durability::renameOnly);
    lastData_ = data;
}

void SessionBackup::writeHistory(const std::vector<Cached>& history) {
    const fs::path file = sibling("recent-sessions.json");
    if (historyNeedsPreservation_) {
        bool missing = false;
        const auto info = statFollowing(file, missing);
        if (!missing) {
            if (!S_ISREG(info->st_mode)) throw MediaError(L("先前剪辑备份位置不可写，请先保存当前项目。"));
            preserveAside(file, sibling("unreadable-recent-" + Uuid::random().string() + ".json"));
        }
    }
    nlohmann::json entries = nlohmann::json::array();
    for (const auto& cached : history) {
        nlohmann::json item = {{"archivedAt", cached.entry.archivedAt},
                               {"id", cached.entry.id.string()},
                               {"project", ProjectJson::toJson(cached.entry.project)}};
        if (cached.entry.origin) item["origin"] = *cached.entry.origin;
        entries.push_back(std::move(item));
    }
    const nlohmann::json document = {{"entries", std::move(entries)}, {"version", kHistoryVersion}};
    const std::string text = StrictJson::dump(document, StrictJson::Style::compact);
    if (text.size() > kMaxHistoryBytes) throw MediaError(L("先前剪辑备份过大，请先保存当前项目。"));
    writeFileAtomically(file, text, Durability::renameOnly);
    history_ = history;
    historyNeedsPreservation_ = false;
    historyIssue_.reset();
}

fs::path SessionBackup::selectRecent(const Uuid& id) {
    for (const auto& cached : history_) {
        if (cached.entry.id == id) {
            const fs::path file = sibling("selected-recent.quenlo.json");
            writeFileAtomically(file, cached.data);
            return file;
        }
    }
    throw MediaError(L("这份先前剪辑已不在列表中，请打开已保存的项目。"));
}

}  // namespace talvian
