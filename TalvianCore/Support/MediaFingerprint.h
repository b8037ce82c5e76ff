#pragma once
// Content identity of a file: a streamed SHA-256 digest.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "Model/CoreTypes.h"

namespace talvian {

// Share of the file read so far, 0…1; called on the hashing thread.
using FractionCallback = std::function<void(double fraction)>;

namespace MediaFingerprint {

// A SHA-256 fed piece by piece, for bytes that pass by anyway (a copy being written, a
// text about to be written). Throws MediaError "无法计算文件校验值。" when OpenSSL fails.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void add(std::string_view bytes);
    // 64 lower-case hexadecimal digits; call once.
    std::string finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// SHA-256 of bytes in memory, as 64 lower-case hexadecimal digits.
std::string sha256(std::string_view bytes);

// Chunks are read and hashed one at a time; a file is never loaded whole.
inline constexpr std::size_t kChunkBytes = 1'048'576;

// SHA-256 of the whole file as 64 lower-case hexadecimal digits. The token is read at the
// start, after every chunk and at the end (MediaError "任务已取消，原文件未改动。");
// progress follows every non-empty chunk, so an empty file reports nothing. Open and
// read failures throw MediaError with a Chinese sentence. Any thread; blocking.
std::string sha256(const std::filesystem::path& file, const Cancellation& cancellation,
                   const FractionCallback& progress = {});

// What copyWithDigest copied: the byte count and the SHA-256 of exactly those bytes.
struct CopiedBytes {
    std::int64_t bytes = 0;
    std::string sha256;
};

// Copies what the open descriptor `input` still holds to the open descriptor `output` in
// pieces of kChunkBytes with a running SHA-256 (so a copy needs no second read of the source
// to know what it wrote), reading the token after every piece read and calling
// `copied(bytes so far)` after every piece written. The paths only name the files in errors:
// fileError "读取" for `inputPath`, "写入" for `outputPath`, and the cancellation sentence.
CopiedBytes copyWithDigest(int input, const std::filesystem::path& inputPath, int output,
                           const std::filesystem::path& outputPath, const Cancellation& cancellation,
                           const std::function<void(std::int64_t copiedBytes)>& copied = {});

}  // namespace MediaFingerprint
}  // namespace talvian
