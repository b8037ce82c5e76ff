#include "UpdateFeed.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <nlohmann/json.hpp>

#include "Model/Localization.h"
#include "Model/UserError.h"
#include "Model/Uuid.h"
#include "Support/AppConfiguration.h"
#include "Support/AsciiCharacters.h"
#include "Support/Base64.h"
#include "Support/UnicodeText.h"

namespace talvian {

namespace {

MediaError unrecognisedFeed() {
    return MediaError(L("更新信息无法识别，请稍后再试。"));
}

// A string member of the feed, required.
const std::string& feedText(const nlohmann::json& feed, const char* key) {
    auto found = feed.find(key);
    if (found == feed.end() || !found->is_string()) throw unrecognisedFeed();
    return found->get_ref<const std::string&>();
}

// A page or file address: anything but https would let a network in the middle swap it.
std::string feedAddress(const nlohmann::json& feed, const char* key) {
    const std::string& address = feedText(feed, key);
    if (!isHttpsAddress(address)) throw MediaError(L("更新信息中有不安全的地址，已停止检查更新。"));
    return address;
}

// Well below NAME_MAX (255 bytes), so that a free name's "-1000" still fits.
constexpr std::size_t kLongestDownloadName = 200;

bool isUsableName(std::string_view name) {
    if (name.empty() || name.size() > kLongestDownloadName || name == "." || name == "..") return false;
    if (!isValidUtf8(name)) return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '/' || byte < 0x20 || byte == 0x7F;
    });
}

// The extension kept whole when free names are made: ".tar.xz" for a tar archive, else the
// last one when it has a letter (so a version's last number, "Talvian-1.4.0", is no
// extension); none for a name without one.
std::size_t extensionStart(const std::string& name) {
    const auto last = name.rfind('.');
    if (last == std::string::npos || last == 0) return name.size();
    if (std::none_of(name.begin() + static_cast<std::ptrdiff_t>(last), name.end(), isAsciiLetter))
        return name.size();
    const auto before = name.rfind('.', last - 1);
    if (before != std::string::npos && before > 0 && name.compare(before, last - before, ".tar") == 0)
        return before;
    return last;
}

struct EvpPkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpMdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// A read-only mapping of a whole file, unmapped once.
class FileMapping {
  public:
    FileMapping(void* address, std::size_t bytes) : address_(address), bytes_(bytes) {}
    ~FileMapping() { ::munmap(address_, bytes_); }
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    std::string_view bytes() const { return {static_cast<const char*>(address_), bytes_}; }

  private:
    void* address_;
    std::size_t bytes_;
};

MediaError saveFailure(int code) {
    return MediaError(L("无法在下载文件夹中保存新版本：%@。", systemErrorText(code)));
}

}  // namespace

UpdateFeed parseUpdateFeed(std::string_view bytes) {
    auto feed = nlohmann::json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (!feed.is_object()) throw unrecognisedFeed();
    UpdateFeed result;
    result.version = feedText(feed, "version");
    if (!parseVersion(result.version)) throw unrecognisedFeed();
    result.page = feedAddress(feed, "page");
    result.file = feedAddress(feed, "file");
    // A whole number literal only: 5.0, 5.5 and anything past 64 bits are not lengths.
    auto length = feed.find("length");
    if (length == feed.end() || !length->is_number_integer()) throw unrecognisedFeed();
    if (length->is_number_unsigned()) {
        const auto value = length->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(kDownloadLimitBytes)) throw unrecognisedFeed();
        result.length = static_cast<std::int64_t>(value);
    } else {
        result.length = length->get<std::int64_t>();
    }
    if (result.length < 1 || result.length > kDownloadLimitBytes) throw unrecognisedFeed();
    auto signature = decodeBase64(feedText(feed, "signature"));
    if (!signature || signature->size() != kSignatureBytes) throw unrecognisedFeed();
    result.signature = std::move(*signature);
    return result;
}

std::optional<std::vector<std::uint64_t>> parseVersion(std::string_view text) {
    std::vector<std::uint64_t> numbers;
    while (true) {
        const auto dot = std::min(text.find('.'), text.size());
        const auto group = text.substr(0, dot);
        if (group.empty() || !std::all_of(group.begin(), group.end(), isAsciiDigit)) return std::nullopt;
        std::uint64_t number = 0;
        auto [end, error] = std::from_chars(group.data(), group.data() + group.size(), number);
        if (error != std::errc() || end != group.data() + group.size()) return std::nullopt;
        numbers.push_back(number);
        if (dot == text.size()) return numbers;
        text.remove_prefix(dot + 1);
    }
}

std::optional<std::strong_ordering> compareVersions(std::string_view a, std::string_view b) {
    auto left = parseVersion(a);
    auto right = parseVersion(b);
    if (!left || !right) return std::nullopt;
    const auto groups = std::max(left->size(), right->size());
    left->resize(groups, 0);
    right->resize(groups, 0);
    return *left <=> *right;
}

bool isNewerVersion(std::string_view candidate, std::string_view running) {
    auto order = compareVersions(candidate, running);
    return order && *order == std::strong_ordering::greater;
}

std::string downloadName(std::string_view urlFileName, std::string_view version) {
    while (urlFileName.starts_with('.')) urlFileName.remove_prefix(1);
    if (isUsableName(urlFileName)) return std::string(urlFileName);
    // The version is a checked dotted number, so this name is always usable.
    return "Talvian-" + std::string(version);
}

std::string downloadCandidate(const std::string& name, int n) {
    if (n <= 1) return name;
    const auto split = extensionStart(name);
    char number[16];
    auto [end, error] = std::to_chars(number, number + sizeof number, n);
    (void)error;
    return name.substr(0, split) + "-" + std::string(number, end) + name.substr(split);
}

PartialDownload::PartialDownload(const std::filesystem::path& folder)
    : folder_(folder), path_(folder / (".talvian-update-" + Uuid::random().string() + ".part")) {
    // 0666 under the umask: the kept package gets the permissions of any other download.
    fd_ = UniqueFd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!fd_) throw saveFailure(errno);
}

PartialDownload::~PartialDownload() {
    fd_.reset();
    if (!kept_) ::unlink(path_.c_str());
}

int PartialDownload::write(std::string_view bytes) {
    if (!fd_) return EBADF;
    return writeAll(fd_.get(), bytes);
}

void PartialDownload::finish() {
    if (!fd_) throw saveFailure(EBADF);
    if (::fsync(fd_.get()) != 0) throw saveFailure(errno);
    if (int code = fd_.reset(); code != 0) throw saveFailure(code);
}

std::filesystem::path PartialDownload::keepAs(const std::string& name) {
    for (int n = 1; n <= kMaximumDownloadCandidates; ++n) {
        const auto target = folder_ / downloadCandidate(name, n);
        if (moveIfFree(path_, target)) {
            kept_ = true;
            return target;
        }
    }
    throw MediaError(L("下载文件夹里同名的文件太多，请清理后再下载。"));
}

bool verifyEd25519(std::string_view message, std::string_view signature, std::string_view publicKey) {
    if (signature.size() != kSignatureBytes || publicKey.size() != kPublicKeyBytes) return false;
    std::unique_ptr<EVP_PKEY, EvpPkeyFree> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.data()),
        publicKey.size()));
    if (!key) return false;
    std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree> context(EVP_MD_CTX_new());
    // Ed25519 hashes the message itself: no digest is given, and the message goes in whole.
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

bool verifyEd25519File(const std::filesystem::path& file, std::string_view signature,
                       std::string_view publicKey) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) throw fileError(L("读取"), file, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw fileError(L("读取"), file, errno);
    if (!S_ISREG(info.st_mode)) throw fileError(L("读取"), file, EINVAL);
    const auto bytes = static_cast<std::size_t>(info.st_size);
    // A zero-length mapping is refused; the empty message needs none.
    if (bytes == 0) return verifyEd25519({}, signature, publicKey);
    void* address = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (address == MAP_FAILED) throw fileError(L("读取"), file, errno);
    const FileMapping mapping(address, bytes);
    return verifyEd25519(mapping.bytes(), signature, publicKey);
}

}  // namespace talvian
