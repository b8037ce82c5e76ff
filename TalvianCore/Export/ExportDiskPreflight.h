#pragma once
// The advisory free-space check before a cut export: an estimate of the bytes the
// export writes, compared with the free space of the volumes it writes to. Whenever a
// figure cannot be obtained there is no answer and the export goes ahead.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "Model/CoreTypes.h"
#include "Model/CutProject.h"
#include "Support/FileSystem.h"

namespace talvian {

// Bytes an export needs, margin included.
struct ExportSpaceEstimate {
    std::int64_t temporaryBytes = 0;  // intermediate PCM of the whole source and of the kept sound
    std::int64_t outputBytes = 0;     // everything written beside the output, the output included

    // Seconds, samples per second, channel count, optional bit/s of a re-encoded picture,
    // optional size of a plain copy. Nothing for out-of-range or non-finite input, or when a
    // figure reaches 2^63. Pure.
    static std::optional<ExportSpaceEstimate> make(double sourceDuration, double keptDuration,
                                                   std::int64_t sampleRate, std::int64_t channels,
                                                   std::optional<double> videoBitrate = std::nullopt,
                                                   std::optional<std::int64_t> copyBytes = std::nullopt);
    bool operator==(const ExportSpaceEstimate&) const = default;
};

// The first volume found short, and by how much (> 0).
struct DiskSpaceShortfall {
    enum class Location { temporary, output };
    Location location = Location::output;
    std::int64_t missingBytes = 0;

    // The complete user sentence with the missing size ("506.9 MB").
    std::string message() const;
    bool operator==(const DiskSpaceShortfall&) const = default;
};

// Decimal file-size text: "812 字节", "13 KB", "506.9 MB", "3.3 GB" (C-locale point).
std::string byteCountText(std::int64_t bytes);

// Free bytes of the volume holding a path; may throw.
using FreeSpaceReader = std::function<std::int64_t(const std::filesystem::path&)>;

// Sample rate and channel count of a file's first audio stream.
struct PreflightAudioStream {
    std::int64_t sampleRate = 0;
    std::int64_t channels = 0;
};
// Reads them (ffprobe under the token); may throw.
using PreflightAudioReader =
    std::function<PreflightAudioStream(const std::filesystem::path&, const CancellationToken&)>;

namespace ExportDiskPreflight {

// The file-system layer's readers (FileSystem.h), under the names the check's callers use.
using talvian::availableBytes;
using talvian::existingAncestor;

// The check the controller runs off the main thread, on the project's source, removed
// duration and media facts. `copiesOriginal`: the export would copy the source unchanged
// (the export driver's copy rule for the chosen format). Every work file of an export
// (decoded and joined PCM, the hidden work file, the video work folder) is written beside
// the output and counted in `outputBytes`, so only the output folder's volume is measured.
// The token is polled only by `readAudio`. Never throws.
std::optional<DiskSpaceShortfall> check(const CutProject& project, bool copiesOriginal,
                                        const std::filesystem::path& outputFolder,
                                        const CancellationToken& cancellation,
                                        const PreflightAudioReader& readAudio,
                                        const FreeSpaceReader& available = availableBytes);

// The check as the controller runs it: the export's own copy rule for `format` and the
// source's first audio stream read by ffprobe under the token. Never throws.
std::optional<DiskSpaceShortfall> check(const CutProject& project, const std::filesystem::path& outputFolder,
                                        AudioOutputFormat format, const CancellationToken& cancellation);

// The comparison alone: the temporary volume first, then the output volume; a volume whose
// free space cannot be read (throws, or negative) is skipped; equal is enough. Never throws.
std::optional<DiskSpaceShortfall> check(const std::optional<ExportSpaceEstimate>& estimate,
                                        const std::filesystem::path& temporary,
                                        const std::filesystem::path& output,
                                        const FreeSpaceReader& available);

}  // namespace ExportDiskPreflight

}  // namespace talvian
