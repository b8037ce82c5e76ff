#include "FileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "Localization.h"
#include "Uuid.h"

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
        case ENOENT: return L("文件或文件夹不存在");
        case ENOTDIR: return L("路径中有一项不是文件夹");
        case EISDIR: return L("这是一个文件夹");
        case EACCES:
        case EPERM: return L("没有访问权限");
        case ENOSPC:
        case EDQUOT: return L("磁盘空间不足");
        case EROFS: return L("磁盘是只读的");
        case EEXIST: return L("同名文件已存在");
        case ENAMETOOLONG: return L("文件名太长");
        case EMFILE:
        case ENFILE: return L("打开的文件过多");
        case EXDEV: return L("不能跨磁盘移动");
        case ELOOP: return L("符号链接层级过多");
        case EFBIG: return L("文件过大");
        case EINTR: return L("操作被中断");
        default: return L("读写出错");
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

void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, Durability durability) {
    auto temporary = target.parent_path() / ("." + target.filename().string() + "." + Uuid::random().string() + ".tmp");
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

std::string readFileLimited(const std::filesystem::path& path, std::size_t limitBytes,
                            const std::string& tooLargeMessage) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) throw fileError(L("读取"), path, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw fileError(L("读取"), path, errno);
    if ((info.st_mode & S_IFMT) != S_IFREG) throw fileError(L("读取"), path, EISDIR);
    if (static_cast<std::uint64_t>(info.st_size) > limitBytes) throw MediaError(tooLargeMessage);
    std::string bytes;
    bytes.resize(limitBytes + 1);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
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

WorkPath::~WorkPath() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

WorkPath makeWorkFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0) throw fileError(L("创建"), folder, errno);
    return WorkPath(folder);
}

WorkPath makeTemporaryWorkFolder(const std::string& prefix) {
    std::error_code error;
    auto base = std::filesystem::temp_directory_path(error);
    if (!error) std::filesystem::create_directories(base, error);
    if (error) throw fileError(L("创建"), base, error.value());
    return makeWorkFolder(base / (prefix + "-" + Uuid::random().string()));
}

}  // namespace talvian
