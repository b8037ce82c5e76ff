#pragma once
// The plain-text diagnostics report a user can send to support. Nothing private (paths,
// file names, free-form error texts) ever reaches the report.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Model/CoreTypes.h"

namespace talvian {

// Media facts of the current source as the report shows them.
struct DiagnosticMedia {
    double duration = 0;  // seconds
    std::int64_t width = 0;
    std::int64_t height = 0;
    double frameRate = 0;             // frames per second
    std::vector<std::string> codecs;  // ffprobe codec names, stream order
    std::optional<std::int64_t> channels;

    DiagnosticMedia() = default;
    DiagnosticMedia(const MediaInfo& info, std::vector<std::string> codecs,
                    std::optional<std::int64_t> channels);
    bool operator==(const DiagnosticMedia&) const = default;
};

// What ffprobe says of the source's streams for the report.
struct DiagnosticStreams {
    std::vector<std::string> codecs;       // codec names of the audio and video streams, in order
    std::optional<std::int64_t> channels;  // the first audio stream's channel count, if stated
    bool operator==(const DiagnosticStreams&) const = default;
};

// Operating-system version as three numbers (the Linux kernel's major.minor.patch).
struct OperatingSystemVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;
    bool operator==(const OperatingSystemVersion&) const = default;
};

namespace SupportDiagnostics {

// ffprobe's time limit for the report's media facts (seconds).
inline constexpr double kProbeTimeLimitSeconds = 12.0;

// The report, one "Label: value" line each, ending with a line feed; six lines, plus five
// media lines when `media` is given. Values that do not qualify show as "—". Pure.
std::string text(std::string_view version, std::string_view build, const OperatingSystemVersion& system,
                 std::string_view chip, std::string_view language,
                 const std::optional<std::string>& lastError, const std::optional<DiagnosticMedia>& media);

// Seven known user messages unchanged, "—" for nothing, a privacy text for anything else.
std::string privateError(const std::optional<std::string>& text);

// "6.1.0-18-amd64" → 6.1.0: only the leading numbers of a kernel release, missing ones 0,
// so no local version suffix (which may name the machine) reaches the report.
OperatingSystemVersion kernelVersion(std::string_view release);
// The first "model name" of a /proc/cpuinfo text, white space collapsed; empty when absent.
std::string modelName(std::string_view cpuinfo);

// The codecs and the first audio stream's channels of `source` (ffprobe, 12 s limit); any
// failure leaves the facts empty, so the report shows "—". Blocking; a background thread.
DiagnosticStreams probeStreams(const std::filesystem::path& source);

// The running kernel's version (uname). Any thread.
OperatingSystemVersion systemVersion();
// The processor's model name from /proc/cpuinfo, else the machine name uname reports
// ("x86_64", "aarch64"). Any thread.
std::string processorName();

}  // namespace SupportDiagnostics

}  // namespace talvian
