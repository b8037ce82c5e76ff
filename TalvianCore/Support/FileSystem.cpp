#include "FileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "Model/Localization.h"
#include "Model/Uuid.h"

namespace talvian {

int writeAll(int fd, std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

std::string systemErrorText(int code) {
    switch (code) {
        case ENOENT:
            return L("文件或文件夹不存在");
        case ENOTDIR:
            return L("路径中有一项不是文件夹");
        case EISDIR:
            return L("这是一个文件夹");
        case EACCES:
        case EPERM:
            return L("没有访问权限");
        case ENOSPC:
        case EDQUOT:
            return L("磁盘空间不足");
        case EROFS:
            return L("磁盘是只读的");
        case EEXIST:
            return L("同名文件已存在");
        case ENAMETOOLONG:
            return L("文件名太长");
        case EMFILE:
        case ENFILE:
            return L("打开的文件过多");
        case EXDEV:
            return L("不能跨磁盘移动");
        case ELOOP:
            return L("符号链接层级过多");
        case EFBIG:
            return L("文件过大");
        case EINTR:
            return L("操作被中断");
        default:
            return L("读写出错");
    }
}

namespace {

// The errno in the system's own words, for the diagnostics (strerrordesc_np: thread-safe,
// and English whatever the locale).
std::string errnoDiagnostics(int code) {
    const char* description = ::strerrordesc_np(code);
    return "errno " + std::to_string(code) + (description ? std::string(" (") + description + ")" : "");
}

}  // namespace

bool isWorkName(const std::filesystem::path& name) {
    constexpr std::size_t kUuidCharacters = 36;
    const std::string text = name.filename().string();
    std::string_view rest = text;
    if (rest.starts_with('.')) rest.remove_prefix(1);
    if (!rest.starts_with("Talvian")) return false;
    // "<prefix>-<UUID>", possibly followed by an extension.
    for (std::size_t dash = rest.find('-'); dash != std::string_view::npos; dash = rest.find('-', dash + 1)) {
        const std::size_t end = dash + 1 + kUuidCharacters;
        if (end > rest.size() || (end < rest.size() && rest[end] != '.')) continue;
        if (Uuid::parse(rest.substr(dash + 1, kUuidCharacters))) return true;
    }
    return false;
}

std::string fileLabel(const std::filesystem::path& path) {
    // The outermost work name in the path: everything from there on is our private work.
    std::optional<std::filesystem::path> work;
    std::filesystem::path walked;
    for (const auto& part : path) {
        walked /= part;
        if (isWorkName(part)) {
            work = walked;
            break;
        }
    }
    if (!work) return L("“%@”", pathForMessage(path.filename().string()));
    std::error_code ignored;
    std::filesystem::path folder = work->parent_path();
    if (folder.empty()) folder = std::filesystem::current_path(ignored);
    const std::string name = folder.has_filename() ? folder.filename().string() : folder.string();
    return L("“%@”中的临时文件", pathForMessage(name));
}

MediaError fileError(std::string_view action, const std::filesystem::path& path, int code) {
    return MediaError(L("无法%@%@：%@。", std::string(action), fileLabel(path), systemErrorText(code)),
                      errnoDiagnostics(code));
}

std::filesystem::path existingAncestor(const std::filesystem::path& path) {
    std::error_code error;
    auto current = std::filesystem::absolute(path, error).lexically_normal();
    if (error) current = path.lexically_normal();
    const auto root = current.root_path().empty() ? std::filesystem::path("/") : current.root_path();
    struct stat status {};
    while (current != root && !current.empty() && ::stat(current.c_str(), &status) != 0)
        current = current.parent_path();
    return current.empty() ? root : current;
}

std::int64_t availableBytes(const std::filesystem::path& path) {
    auto volume = existingAncestor(path);
    struct statvfs facts {};
    if (::statvfs(volume.c_str(), &facts) != 0)
        throw MediaError(L("无法读取磁盘的可用空间：%@。", systemErrorText(errno)));
    // A volume with no blocks at all (procfs, sysfs, some FUSE and network mounts) states no
    // size: its zero free blocks say nothing about room, so it is not judged.
    if (facts.f_blocks == 0) throw MediaError(L("无法读取磁盘的可用空间：%@。", L("磁盘没有报告容量")));
    unsigned long long blockSize = facts.f_frsize != 0 ? facts.f_frsize : facts.f_bsize;
    unsigned long long blocks = facts.f_bavail;
    constexpr auto kLargest = static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
    if (blockSize != 0 && blocks > kLargest / blockSize) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(blocks * blockSize);
}

bool volumeNearlyFull(const std::filesystem::path& path) {
    try {
        return availableBytes(path) < kNearlyFullBytes;
    } catch (const MediaError&) {
        return false;
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::reset() {
    if (fd_ < 0) return 0;
    int result = ::close(std::exchange(fd_, -1));
    return result == 0 ? 0 : errno;
}

std::filesystem::path atomicTemporaryPath(const std::filesystem::path& target) {
    return target.parent_path() / ("." + target.filename().string() + "." + Uuid::random().string() + ".tmp");
}

void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, Durability durability) {
    auto temporary = atomicTemporaryPath(target);
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) throw fileError(L("写入"), target, errno);
    auto fail = [&](int code) {
        fd.reset();
        ::unlink(temporary.c_str());
        return fileError(L("写入"), target, code);
    };
    if (int code = writeAll(fd.get(), bytes); code != 0) throw fail(code);
    if (durability == Durability::synced && ::fsync(fd.get()) != 0) throw fail(errno);
    if (int code = fd.reset(); code != 0) throw fail(code);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        int code = errno;
        ::unlink(temporary.c_str());
        throw fileError(L("写入"), target, code);
    }
    if (durability != Durability::synced) return;
    // Make the rename itself durable.
    UniqueFd folder(::open(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder) ::fsync(folder.get());
}

void writeNewFile(const std::filesystem::path& target, std::string_view bytes) {
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) throw fileError(L("写入"), target, errno);
    auto fail = [&](int code) {
        fd.reset();
        ::unlink(target.c_str());
        return fileError(L("写入"), target, code);
    };
    if (int code = writeAll(fd.get(), bytes); code != 0) throw fail(code);
    if (::fsync(fd.get()) != 0) throw fail(errno);
    if (int code = fd.reset(); code != 0) throw fail(code);
}

void moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
        throw fileError(L("保存"), to, errno);
}

bool moveIfFree(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    throw fileError(L("保存"), to, errno);
}

std::string readFileLimited(const std::filesystem::path& path, std::size_t limitBytes,
                            const std::string& tooLargeMessage) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) throw fileError(L("读取"), path, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw fileError(L("读取"), path, errno);
    if (S_ISDIR(info.st_mode)) throw fileError(L("读取"), path, EISDIR);
    if (!S_ISREG(info.st_mode))
        throw MediaError(L("无法%@%@：%@。", L("读取"), fileLabel(path), L("这不是普通文件")));
    // A regular file: blocking reads from here on, as for any other file.
    if (int flags = ::fcntl(fd.get(), F_GETFL);
        flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw fileError(L("读取"), path, errno);
    if (static_cast<std::uint64_t>(info.st_size) > limitBytes) throw MediaError(tooLargeMessage);
    // Sized for the file as it is now (one byte more shows growth), not for the limit: a small
    // file never pays for a large limit. A file that grows gets more room, up to the limit + 1.
    const std::size_t ceiling = limitBytes + 1;
    std::string bytes;
    bytes.resize(std::min<std::size_t>(static_cast<std::size_t>(info.st_size) + 1, ceiling));
    std::size_t filled = 0;
    while (true) {
        if (filled == bytes.size()) {
            if (bytes.size() == ceiling) break;
            bytes.resize(std::min(bytes.size() * 2, ceiling));
        }
        ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw fileError(L("读取"), path, errno);
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    // The file may have grown while it was read: never accept more than the limit.
    if (filled > limitBytes) throw MediaError(tooLargeMessage);
    bytes.resize(filled);
    return bytes;
}

std::filesystem::path resolvedPath(const std::filesystem::path& path) {
    std::error_code error;
    auto resolved = std::filesystem::weakly_canonical(path, error);
    if (!error) return resolved;
    // A link loop or an unreadable folder: keep the spelling; the next metadata read reports it.
    auto absolute = std::filesystem::absolute(path, error);
    return (error ? path : absolute).lexically_normal();
}

SourceMetadata readMetadata(const std::filesystem::path& path) {
    try {
        return SourceMetadata::read(path);
    } catch (const std::system_error& error) {
        throw fileError(L("读取"), path, error.code().value());
    }
}

// ---- Work folders and hidden work files ------------------------------------------------

namespace {

// Every name a work entry of ours takes; an entry not named here is never swept.
constexpr std::string_view kWorkFolderPrefixes[] = {"TalvianProcess-", "TalvianAnalysis-", "TalvianWaveform-",
                                                    ".TalvianAudio-", ".TalvianVideo-"};
constexpr std::string_view kWorkFilePrefix = ".Talvian-";
constexpr std::string_view kWorkFileExtensions[] = {".m4a", ".mp4", ".wav"};
constexpr std::size_t kUuidTextLength = 36;

// How often a creation starts over after a sweep of another process removed its new entry in
// the instant between creating and locking it; once is already rare.
constexpr int kCreationAttempts = 4;

enum class WorkKind { none, folder, file };

bool isUpperCaseUuid(std::string_view text) {
    auto parsed = Uuid::parse(text);
    return parsed && parsed->string() == text;
}

WorkKind workKindOf(std::string_view name) {
    for (auto prefix : kWorkFolderPrefixes)
        if (name.starts_with(prefix) && isUpperCaseUuid(name.substr(prefix.size()))) return WorkKind::folder;
    if (!name.starts_with(kWorkFilePrefix)) return WorkKind::none;
    auto rest = name.substr(kWorkFilePrefix.size());
    if (rest.size() <= kUuidTextLength || !isUpperCaseUuid(rest.substr(0, kUuidTextLength)))
        return WorkKind::none;
    for (auto extension : kWorkFileExtensions)
        if (rest.substr(kUuidTextLength) == extension) return WorkKind::file;
    return WorkKind::none;
}

bool sameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The holder's lock is shared: a shared flock works on a read-only descriptor of a folder even
// where the filesystem emulates flock with byte-range locks, and it still excludes the sweep's
// exclusive try. Waits out a sweep that holds the entry, then returns ENOENT when that sweep
// removed it (the name no longer leads to the locked entry), else 0. A filesystem without locks
// leaves the entry unlocked: no sweep can take it there either.
int lockCreated(const std::filesystem::path& path, int fd) {
    while (::flock(fd, LOCK_SH) != 0)
        if (errno != EINTR) return 0;
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::lstat(path.c_str(), &named) != 0 || !sameEntry(opened, named))
        return ENOENT;
    return 0;
}

int createLocked(const std::filesystem::path& path, UniqueFd& locked, bool folder) {
    for (int attempt = 0; attempt < kCreationAttempts; ++attempt) {
        UniqueFd fd;
        if (folder) {
            if (::mkdir(path.c_str(), 0700) != 0) return errno;
            fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
        } else {
            fd = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
            if (!fd) return errno;
        }
        if (!fd) {
            int code = errno;
            if (code == ENOENT) continue;
            ::rmdir(path.c_str());
            return code;
        }
        if (lockCreated(path, fd.get()) == ENOENT) continue;
        locked = std::move(fd);
        return 0;
    }
    return ENOENT;
}

std::filesystem::path parentOf(const std::filesystem::path& path) {
    auto parent = path.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

}  // namespace

void removeStaleWork(const std::filesystem::path& folder) {
    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) return;
    // Names first: removing entries while the folder is being read could skip others.
    std::vector<std::pair<std::string, WorkKind>> candidates;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        auto name = it->path().filename().string();
        if (auto kind = workKindOf(name); kind != WorkKind::none)
            candidates.emplace_back(std::move(name), kind);
    }
    for (const auto& [name, kind] : candidates) {
        // Judged by the entry itself, never through a link, and never opening anything that
        // is not of its pattern's kind (a device, a FIFO).
        struct stat named {};
        if (::fstatat(directory.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const bool kindMatches = kind == WorkKind::folder ? S_ISDIR(named.st_mode) : S_ISREG(named.st_mode);
        if (!kindMatches || named.st_uid != ::geteuid()) continue;
        UniqueFd entry(::openat(directory.get(), name.c_str(),
                                O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK |
                                    (kind == WorkKind::folder ? O_DIRECTORY : 0)));
        struct stat opened {};
        if (!entry || ::fstat(entry.get(), &opened) != 0 || !sameEntry(opened, named)) continue;
        // Held by a running instance (or a filesystem without locks): not ours to judge.
        if (::flock(entry.get(), LOCK_EX | LOCK_NB) != 0) continue;
        // Removed while the lock is held, so a creator that raced this sweep sees it gone.
        if (kind == WorkKind::file) {
            ::unlinkat(directory.get(), name.c_str(), 0);
        } else {
            std::error_code ignored;
            std::filesystem::remove_all(folder / name, ignored);
        }
    }
}

int createLockedFolder(const std::filesystem::path& folder, UniqueFd& locked) {
    return createLocked(folder, locked, true);
}

int createLockedFile(const std::filesystem::path& file, UniqueFd& locked) {
    return createLocked(file, locked, false);
}

WorkPath::~WorkPath() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    // The lock goes only after this (lock_ is destroyed after the body): a sweep of another
    // process never finds the entry free while it is being removed here.
}

WorkPath makeWorkFolder(const std::filesystem::path& folder) {
    removeStaleWork(parentOf(folder));
    UniqueFd lock;
    if (int code = createLockedFolder(folder, lock); code != 0) throw fileError(L("创建"), folder, code);
    return WorkPath(folder, std::move(lock));
}

WorkPath makeWorkFile(const std::filesystem::path& file, const std::filesystem::path& output) {
    removeStaleWork(parentOf(file));
    UniqueFd lock;
    if (int code = createLockedFile(file, lock); code != 0) throw fileError(L("写入"), output, code);
    return WorkPath(file, std::move(lock));
}

WorkPath makeTemporaryWorkFolder(const std::string& prefix) {
    std::error_code error;
    auto base = std::filesystem::temp_directory_path(error);
    if (!error) std::filesystem::create_directories(base, error);
    if (error) throw fileError(L("创建"), base, error.value());
    return makeWorkFolder(base / (prefix + "-" + Uuid::random().string()));
}

}  // namespace talvian
