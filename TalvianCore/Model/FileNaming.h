#pragma once
// File identity, output names and clock labels.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace talvian {

class Cancellation;

// A file's identity as one fstatat (symbolic links followed) sees it. Equal records are one
// version of one file: a rewrite in place moves the exact time, a file renamed over the name
// has another inode, even when size and time were made to match.
struct SourceMetadata {
    std::int64_t bytes = 0;
    double modifiedAt = 0;  // seconds since 1970-01-01 UTC, nanoseconds as fraction
    bool isRegularFile = false;
    // The exact modification time, which a double near 2^31 s rounds to a quarter microsecond.
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    // Throws std::system_error (generic category) with the errno; ENOENT and ENOTDIR
    // mean the file is missing. Any thread.
    static SourceMetadata read(const std::filesystem::path& path);
    bool operator==(const SourceMetadata&) const = default;
};

// True when the system can name `path`: not empty, no NUL byte (every system call would end
// the name there), shorter than PATH_MAX and no component longer than NAME_MAX bytes. Empty
// components ("a//b") are fine.
bool isNamablePath(std::string_view path);

// The file's size, 0 on any error (estimates only).
std::int64_t fileBytes(const std::filesystem::path& path);

// The review project beside an exported file: "x.wav" → "x.wav.quenlo.json" (any case of
// "wav"), "x.mp4" → "x.quenlo.json", "x" → "x.quenlo.json".
std::filesystem::path exportProjectURL(const std::filesystem::path& media);

// At most this many names are tried: "stem.ext" and "stem-2.ext" … "stem-10000.ext".
inline constexpr long long kMaximumOutputCandidates = 10'000;

// The first of "stem.ext", "stem-2.ext", "stem-3.ext" … in `folder` at which neither the
// file, nor its export project, nor "stem….quenlo.json" exists (any entry, dangling links too).
// Every candidate is checked as a whole name before it is looked up: throws MediaError
// "导出文件名过长或无效，请缩短原片的文件名或换一个输出文件夹。" when the candidate, its
// project or the temporary file a Save of that project writes cannot be named (isNamablePath),
// MediaError "输出文件夹里同名的导出文件太多，请换一个输出文件夹。" when every candidate is
// taken, and the cancellation sentence (the token is read at every candidate).
std::filesystem::path uniqueOutput(const std::filesystem::path& folder, const std::string& stem,
                                   const std::string& ext, const Cancellation& cancellation);

// "MM:SS.s" below an hour, "H:MM:SS.s" above; non-finite or negative gives "00:00.0".
std::string timeLabel(double seconds);

}  // namespace talvian
