#include "MediaFingerprint.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "FileSystem.h"
#include "Model/Localization.h"

namespace talvian::MediaFingerprint {

namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// OpenSSL only fails here when it runs out of memory or lacks the algorithm; neither
// has a better sentence for the user than that the check could not be made.
MediaError digestError() {
    return MediaError(L("无法计算文件校验值。"));
}

std::string hexadecimal(const unsigned char* bytes, unsigned int count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (unsigned int i = 0; i < count; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0f]);
    }
    return text;
}

}  // namespace

struct Sha256::Context {
    DigestContext digest{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (!context_->digest || EVP_DigestInit_ex(context_->digest.get(), EVP_sha256(), nullptr) != 1)
        throw digestError();
}

Sha256::~Sha256() = default;

void Sha256::add(std::string_view bytes) {
    if (EVP_DigestUpdate(context_->digest.get(), bytes.data(), bytes.size()) != 1) throw digestError();
}

std::string Sha256::finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->digest.get(), digest, &length) != 1) throw digestError();
    return hexadecimal(digest, length);
}

std::string sha256(std::string_view bytes) {
    Sha256 digest;
    digest.add(bytes);
    return digest.finish();
}

std::string sha256(const std::filesystem::path& file, const Cancellation& cancellation,
                   const FractionCallback& progress) {
    cancellation.check();
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) throw fileError(L("读取"), file, errno);
    struct stat info {};
    double total = ::fstat(fd.get(), &info) == 0 ? std::max<double>(static_cast<double>(info.st_size), 1) : 1;
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    Sha256 digest;
    std::vector<char> chunk(kChunkBytes);
    double read = 0;
    for (;;) {
        ssize_t count = ::read(fd.get(), chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            throw fileError(L("读取"), file, errno);
        }
        if (count == 0) break;
        cancellation.check();
        digest.add(std::string_view(chunk.data(), static_cast<std::size_t>(count)));
        read += static_cast<double>(count);
        if (progress) progress(std::min(read / total, 1.0));
    }
    cancellation.check();
    return digest.finish();
}

CopiedBytes copyWithDigest(int input, const std::filesystem::path& inputPath, int output,
                           const std::filesystem::path& outputPath, const Cancellation& cancellation,
                           const std::function<void(std::int64_t copiedBytes)>& copied) {
    Sha256 digest;
    std::string chunk(kChunkBytes, '\0');
    std::int64_t total = 0;
    for (;;) {
        ssize_t count = ::read(input, chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            throw fileError(L("读取"), inputPath, errno);
        }
        if (count == 0) break;
        cancellation.check();
        std::string_view piece(chunk.data(), static_cast<std::size_t>(count));
        if (int code = writeAll(output, piece); code != 0) throw fileError(L("写入"), outputPath, code);
        digest.add(piece);
        total += count;
        if (copied) copied(total);
    }
    return CopiedBytes{total, digest.finish()};
}

}  // namespace talvian::MediaFingerprint
