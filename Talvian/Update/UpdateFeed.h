#pragma once
// What the updater reads and checks, without Qt or a network: the feed document, version
// order, the name and the partial file of a download, and its Ed25519 signature.
//
// The feed is one small JSON object (UTF-8) at the https address of "SUFeedURL":
//
//   {"version":   "1.4.0",                           dotted numbers, compared with the running
//                                                    version ("CFBundleShortVersionString")
//    "page":      "https://example.com/talvian/1.4", the release's web page, opened on request
//    "file":      "https://example.com/talvian-1.4.0.tar.xz",  the package, downloaded on request
//    "length":    123456,                            the package's exact size in bytes
//    "signature": "<base64>"}                        Ed25519 signature of the package's bytes,
//                                                    by the key of "SUPublicEDKey"
//
// Every member is required; other members are ignored, so a later feed can add some. Nothing
// downloaded is ever unpacked, installed or run: a verified package is only kept for the user.

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Support/FileSystem.h"

namespace talvian {

// The feed is a few hundred bytes; anything past this is not a feed.
inline constexpr std::int64_t kFeedLimitBytes = 256 * 1024;
// No package is larger; a feed announcing more is refused before anything is downloaded.
inline constexpr std::int64_t kDownloadLimitBytes = std::int64_t{1} << 30;
inline constexpr std::size_t kSignatureBytes = 64;

// ---- The feed -----------------------------------------------------------------------------

struct UpdateFeed {
    std::string version;
    std::string page;         // an https address with a host
    std::string file;         // an https address with a host
    std::int64_t length = 0;  // 1 … kDownloadLimitBytes
    std::string signature;    // kSignatureBytes raw bytes
    bool operator==(const UpdateFeed&) const = default;
};

// The feed in `bytes`. Throws MediaError "更新信息中有不安全的地址，已停止检查更新。" when the
// page or the file is not an https address with a host, else "更新信息无法识别，请稍后再试。"
// for anything that is not a feed as described above. Pure.
UpdateFeed parseUpdateFeed(std::string_view bytes);

// ---- Versions -----------------------------------------------------------------------------

// The numbers of a dotted numeric version ("1.10.2" → 1, 10, 2): one or more groups of ASCII
// digits within 64 bits, separated by single dots; nothing else, no white space.
std::optional<std::vector<std::uint64_t>> parseVersion(std::string_view text);
// Versions compared group by group, missing groups counting as 0 ("1.2" == "1.2.0",
// "1.10" > "1.9"); none when either is not a version. Pure.
std::optional<std::strong_ordering> compareVersions(std::string_view a, std::string_view b);
// True only when both are versions and `candidate` is the greater: garbage is never newer.
bool isNewerVersion(std::string_view candidate, std::string_view running);

// ---- The download -------------------------------------------------------------------------

// The name a package is saved under: `urlFileName` (the last segment of its address, decoded)
// without leading dots; "Talvian-<version>" when that leaves no usable name (empty, "..",
// control characters, a "/", ill-formed UTF-8, too long for the suffixes the free names add).
std::string downloadName(std::string_view urlFileName, std::string_view version);
// The n-th name tried for `name` (n ≥ 1): "talvian-1.4.0.tar.xz", then "talvian-1.4.0-2.tar.xz" …;
// a tar archive's double extension (".tar.xz") stays whole, and a last part without a letter
// ("Talvian-1.4.0") is no extension.
std::string downloadCandidate(const std::string& name, int n);
// At most this many names are tried before the download is refused.
inline constexpr int kMaximumDownloadCandidates = 1000;

// The file a download is written into: a hidden ".talvian-update-<UUID>.part" in the target
// folder (so the final rename never crosses a volume), created new, readable as the user's
// umask allows. Removed when destroyed unless kept. Main thread.
class PartialDownload {
  public:
    // Throws MediaError "无法在下载文件夹中保存新版本：<reason>。".
    explicit PartialDownload(const std::filesystem::path& folder);
    ~PartialDownload();
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Appends bytes; returns 0 or the errno of the failed write.
    int write(std::string_view bytes);
    // Flushes and closes the file. Throws MediaError as the constructor does.
    void finish();
    // Moves the finished file to the first free downloadCandidate() of `name` in the folder,
    // never replacing anything; returns the path. Throws MediaError "下载文件夹里同名的文件太多，
    // 请清理后再下载。" when every candidate is taken, or the move's own failure.
    std::filesystem::path keepAs(const std::string& name);

  private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    UniqueFd fd_;
    bool kept_ = false;
};

// ---- Signatures ---------------------------------------------------------------------------

// True when `signature` (kSignatureBytes) is a valid Ed25519 signature of `message` by
// `publicKey` (32 raw bytes); false for anything else, wrong sizes included. Any thread.
bool verifyEd25519(std::string_view message, std::string_view signature, std::string_view publicKey);
// The same over a file's bytes, mapped rather than read into memory. Throws MediaError when
// the file cannot be read.
bool verifyEd25519File(const std::filesystem::path& file, std::string_view signature,
                       std::string_view publicKey);

}  // namespace talvian
