#pragma once
// File identity, output names and clock labels.

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace talvian {

// A file's identity as one fstatat (symbolic links followed) sees it.
struct SourceMetadata {
    std::int64_t bytes = 0;
    double modifiedAt = 0;  // seconds since 1970-01-01 UTC, nanoseconds as fraction
    bool isRegularFile = false;

    // Throws std::system_error (generic category) with the errno; ENOENT and ENOTDIR
    // mean the file is missing. Any thread.
    static SourceMetadata read(const std::filesystem::path& path);
    bool operator==(const SourceMetadata&) const = default;
};

// The file's size, 0 on any error (estimates only).
std::int64_t fileBytes(const std::filesystem::path& path);

// The review project beside an exported file: "x.wav" → "x.wav.quenlo.json" (any case of
// "wav"), "x.mp4" → "x.quenlo.json", "x" → "x.quenlo.json".
std::filesystem::path exportProjectURL(const std::filesystem::path& media);

// The first of "stem.ext", "stem-2.ext", "stem-3.ext" … in `folder` at which neither the
// file, nor its export project, nor "stem….quenlo.json" exists (any entry, dangling links too).
std::filesystem::path uniqueOutput(const std::filesystem::path& folder, const std::string& stem,
                                   const std::string& ext);

// "MM:SS.s" below an hour, "H:MM:SS.s" above; non-finite or negative gives "00:00.0".
std::string timeLabel(double seconds);

}  // namespace talvian
