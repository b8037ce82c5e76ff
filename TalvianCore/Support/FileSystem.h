#pragma once
// File operations that never leave a partial file under a final name, and the
// translation of errno into Chinese sentences (no system text reaches the user).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "Model/CoreTypes.h"
#include "Model/FileNaming.h"

namespace talvian {

// Owns one file descriptor; closes it once.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    // Closes now; returns the errno of close (0 when it succeeded or nothing was open).
    int reset();

  private:
    int fd_ = -1;
};

// A short Chinese clause for an errno ("磁盘空间不足", "没有访问权限" …; "读写出错" for the
// rest: the number goes to the diagnostics, never into the sentence).
std::string systemErrorText(int code);
// How a message names a file: "“<file name>”", shortened with pathForMessage. A private
// work file or folder (one whose path has a work name in it) means nothing to the user and
// is never named: "“<folder name>”中的临时文件" names the folder that holds the work (the
// output folder, the system temporary folder) instead.
std::string fileLabel(const std::filesystem::path& path);
// MediaError "无法<action><fileLabel>：<reason>。", e.g. action "写入"; the errno goes to
// diagnostics().
MediaError fileError(std::string_view action, const std::filesystem::path& path, int code);

// The nearest existing ancestor of a path, made absolute and normalised first ("/" at
// worst): a folder that does not exist yet is measured on the volume that will hold it.
std::filesystem::path existingAncestor(const std::filesystem::path& path);

// Free bytes (available to this user) of the volume holding `path`, which need not exist.
// Throws MediaError when the volume cannot be read or states no size (no blocks at all).
std::int64_t availableBytes(const std::filesystem::path& path);

// True when the volume holding `path` has less than kNearlyFullBytes left for this user; false
// when that cannot be read.
inline constexpr std::int64_t kNearlyFullBytes = 1024 * 1024;
bool volumeNearlyFull(const std::filesystem::path& path);

// True for the name of one of our private work files or folders ("[.]Talvian…-<UUID>[.ext]").
bool isWorkName(const std::filesystem::path& name);

// How hard an atomic replacement works to survive a power failure. `synced` flushes the
// file and its folder (Save, diagnostics). `renameOnly` skips both flushes: the file the
// session backup rewrites on every edit needs atomicity against crashes of the program, and
// ext4 already writes the data of a file replaced by rename before the rename itself.
enum class Durability { synced, renameOnly };

// Replaces `target` atomically: a temporary file in the same folder, (fsync,) rename.
// A failure leaves `target` as it was and removes the temporary file. Throws MediaError.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Durability durability = Durability::synced);
// The temporary file writeFileAtomically() writes for `target`: ".<name>.<new UUID>.tmp" beside it.
std::filesystem::path atomicTemporaryPath(const std::filesystem::path& target);

// Writes every byte to an open descriptor, retrying after signals; returns the errno of a
// failed write, else 0.
int writeAll(int fd, std::string_view bytes);

// Creates `target` with `bytes` and flushes it to disk; an existing entry of that name (a
// dangling link too) makes it fail instead of being replaced. A failed write removes the
// partial file it created. Throws MediaError.
void writeNewFile(const std::filesystem::path& target, std::string_view bytes);

// Moves `from` to `to` without ever replacing an existing `to` (renameat2 RENAME_NOREPLACE).
// Throws MediaError; on EEXIST the text says the name is taken.
void moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
// The same move, but false (nothing moved) when `to` exists, so the caller can pick another name.
bool moveIfFree(const std::filesystem::path& from, const std::filesystem::path& to);

// Reads a whole regular file of at most `limitBytes` bytes; throws MediaError when it is
// larger (the text given), missing or unreadable, and "无法读取“<name>”：这是一个文件夹。" or
// "…：这不是普通文件。" for anything else: a FIFO or a device is refused without waiting for a
// writer or reading endless bytes. Reads at most limitBytes + 1 bytes.
std::string readFileLimited(const std::filesystem::path& path, std::size_t limitBytes,
                            const std::string& tooLargeMessage);

// `path` made absolute with every symbolic link in its existing part resolved and "." and
// ".." removed; a part that does not exist is only tidied. Never throws.
std::filesystem::path resolvedPath(const std::filesystem::path& path);

// SourceMetadata::read, with a failure as MediaError "无法读取“<file name>”：<reason>。".
SourceMetadata readMetadata(const std::filesystem::path& path);

// ---- Work folders and hidden work files ----------------------------------------------
// Our work entries are named "<prefix>-<UUID>" (folders: TalvianProcess, TalvianAnalysis and
// TalvianWaveform in the system temporary folder, .TalvianAudio and .TalvianVideo beside an
// output) or ".Talvian-<UUID>.<m4a|mp4|wav>" (the export's hidden work file), the UUID in its
// upper-case text. While one is in use its creator holds a shared flock(2) on the entry's own
// descriptor (O_CLOEXEC, so no child keeps it); a process killed outright leaves the lock free,
// and the next creation of work in the same folder removes the entry.

// Removes from `folder` every entry whose name is exactly one of ours, that the current user
// owns, that is of its pattern's kind (folder or regular file, never a link) and whose lock
// nobody holds; entries of another running instance are never touched. Never throws: an entry
// that cannot be judged or removed is left.
void removeStaleWork(const std::filesystem::path& folder);

// Creates the folder (mode 0700, its parent must exist; nothing already there, a planted link
// included, is reused) and takes its lock; `locked` receives the locked read-only descriptor.
// Returns 0, or the errno of the failure (nothing is left behind then). Does not sweep.
int createLockedFolder(const std::filesystem::path& folder, UniqueFd& locked);
// The same for an empty file (mode 0644); `locked` is open for reading and writing.
int createLockedFile(const std::filesystem::path& file, UniqueFd& locked);

// Removes `path` (a file, or a folder with everything in it) when destroyed, then lets go of
// its lock. Removal errors are ignored: a leftover hidden file is better than a lost result,
// and the next run removes it.
class WorkPath {
  public:
    explicit WorkPath(std::filesystem::path path, UniqueFd lock = {})
        : path_(std::move(path)), lock_(std::move(lock)) {}
    ~WorkPath();
    WorkPath(const WorkPath&) = delete;
    WorkPath& operator=(const WorkPath&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
    UniqueFd lock_;
};

// Sweeps the parent folder (removeStaleWork), then creates and locks the folder as
// createLockedFolder does, and returns its guard. Throws MediaError "无法创建“<name>”：<reason>。".
WorkPath makeWorkFolder(const std::filesystem::path& folder);
// The same for a hidden work file made on behalf of `output`: sweeps its folder, creates the
// empty file (createLockedFile) and holds its lock while writers fill it in place (the inode
// must stay: writers truncate, never replace). Throws MediaError "无法写入“<output's name>”：
// <reason>。", naming the file the user will look for.
WorkPath makeWorkFile(const std::filesystem::path& file, const std::filesystem::path& output);
// A private work folder "<prefix>-<UUID>" in the system temporary folder. Throws as above.
WorkPath makeTemporaryWorkFolder(const std::string& prefix);

// What a writer finds at its destination: nothing (it creates the file and never replaces an
// entry), or the empty work file makeWorkFile made, which it fills in place so its lock stays.
enum class Destination { newFile, workFile };

}  // namespace talvian
