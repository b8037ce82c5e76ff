#include "ExportDiskPreflight.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

#include "CutExport.h"
#include "Model/Localization.h"
#include "Process/MediaProbe.h"
#include "Support/FileSystem.h"
#include "Support/IntegerBounds.h"
#include "Support/NumberText.h"

namespace talvian {

namespace {

constexpr std::int64_t kMaximumSampleRate = 768000;
constexpr std::int64_t kMaximumChannels = 64;
constexpr double kFloatSampleBytes = 4;  // the renderer's intermediate files are 32-bit float PCM
// Room for what the estimate cannot see: container overhead, encoder look-ahead, a few
// seconds of drift between the analysed and the decoded length.
constexpr double kSafetyMargin = 1.2;
// A re-encoded picture is costed at a quarter of a bit per pixel and frame, within bounds
// that keep tiny and huge pictures plausible.
constexpr double kVideoBitsPerPixel = 0.25;
constexpr double kMinimumVideoBitrate = 1'000'000;
constexpr double kMaximumVideoBitrate = 40'000'000;

std::optional<std::int64_t> withMargin(double bytes) {
    return checkedInteger<std::int64_t>(std::ceil(bytes * kSafetyMargin));
}

struct VolumeNeed {
    std::filesystem::path location;
    std::int64_t requiredBytes;
    DiskSpaceShortfall::Location kind;
};

// The first volume that is measured and short; volumes that cannot be measured are skipped
// because the check is only advisory.
std::optional<DiskSpaceShortfall> firstShortfall(std::initializer_list<VolumeNeed> needs,
                                                 const FreeSpaceReader& available) {
    for (const auto& need : needs) {
        std::int64_t free = 0;
        try {
            free = available(need.location);
        } catch (...) {
            continue;
        }
        if (free >= 0 && free < need.requiredBytes)
            return DiskSpaceShortfall{need.kind, need.requiredBytes - free};
    }
    return std::nullopt;
}

}  // namespace

std::optional<ExportSpaceEstimate> ExportSpaceEstimate::make(double sourceDuration, double keptDuration,
                                                             std::int64_t sampleRate, std::int64_t channels,
                                                             std::optional<double> videoBitrate,
                                                             std::optional<std::int64_t> copyBytes) {
    double s = sourceDuration;
    double k = keptDuration;
    if (!std::isfinite(s) || !std::isfinite(k) || s <= 0 || k <= 0 || s < k) return std::nullopt;
    if (sampleRate < 1 || sampleRate > kMaximumSampleRate || channels < 1 || channels > kMaximumChannels)
        return std::nullopt;
    double bps = static_cast<double>(sampleRate) * static_cast<double>(channels) * kFloatSampleBytes;

    double output = 0;
    double temporary = 0;
    if (copyBytes) {
        if (*copyBytes < 1) return std::nullopt;
        output = static_cast<double>(*copyBytes);
    } else if (!videoBitrate) {
        output = s * bps + 2 * k * bps;
        temporary = s * bps + k * bps;
    } else {
        double bitrate = *videoBitrate;
        if (!std::isfinite(bitrate) || bitrate <= 0) return std::nullopt;
        output = s * bps + 3 * k * bps + 2 * k * (bitrate / 8);
        temporary = s * bps + k * bps;
    }
    auto outputBytes = withMargin(output);
    auto temporaryBytes = withMargin(temporary);
    if (!outputBytes || !temporaryBytes) return std::nullopt;
    return ExportSpaceEstimate{*temporaryBytes, *outputBytes};
}

std::string byteCountText(std::int64_t bytes) {
    constexpr std::int64_t kUnit = 1000;  // file sizes are counted in decimal units
    if (bytes < kUnit) return L("%lld 字节", static_cast<long long>(bytes));
    struct Unit {
        const char* name;
        int decimals;
    };
    // Fewer decimals for small units: "13 KB" but "506.9 MB" and "3.25 GB".
    static constexpr Unit kUnits[] = {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}};
    double value = static_cast<double>(bytes) / kUnit;
    std::size_t unit = 0;
    std::string number = fixedDecimal(value, kUnits[unit].decimals);
    // A value that rounds up to 1000 is shown in the next unit ("1 MB", not "1000 KB").
    while (parseDecimal(number).value_or(0) >= kUnit && unit + 1 < std::size(kUnits)) {
        value /= kUnit;
        ++unit;
        number = fixedDecimal(value, kUnits[unit].decimals);
    }
    if (number.find('.') != std::string::npos) {
        while (number.back() == '0') number.pop_back();
        if (number.back() == '.') number.pop_back();
    }
    return number + " " + kUnits[unit].name;
}

std::string DiskSpaceShortfall::message() const {
    auto size = byteCountText(missingBytes);
    if (location == Location::output)
        return L("输出磁盘空间不足，还需 %@。请释放空间或更换输出位置后重试，当前剪辑已保留。", size);
    return L("临时磁盘空间不足，还需 %@。请释放空间后重试，当前剪辑已保留。", size);
}

namespace ExportDiskPreflight {

std::optional<DiskSpaceShortfall> check(const std::optional<ExportSpaceEstimate>& estimate,
                                        const std::filesystem::path& temporary,
                                        const std::filesystem::path& output,
                                        const FreeSpaceReader& available) {
    if (!estimate) return std::nullopt;
    return firstShortfall({{temporary, estimate->temporaryBytes, DiskSpaceShortfall::Location::temporary},
                           {output, estimate->outputBytes, DiskSpaceShortfall::Location::output}},
                          available);
}

std::optional<DiskSpaceShortfall> check(const CutProject& project, bool copiesOriginal,
                                        const std::filesystem::path& outputFolder,
                                        const CancellationToken& cancellation,
                                        const PreflightAudioReader& readAudio,
                                        const FreeSpaceReader& available) {
    try {
        auto stream = readAudio(project.source, cancellation);
        const auto& info = project.info;
        double sourceDuration = info.duration;
        double keptDuration = std::max(0.0, sourceDuration - project.removedDuration());
        std::optional<double> videoBitrate;
        if (info.hasVideo) {
            double bitrate = static_cast<double>(info.width) * static_cast<double>(info.height) *
                             std::max(info.frameRate, 1.0) * kVideoBitsPerPixel;
            videoBitrate = std::clamp(bitrate, kMinimumVideoBitrate, kMaximumVideoBitrate);
        }
        std::optional<std::int64_t> copyBytes;
        if (copiesOriginal) copyBytes = info.bytes;
        auto estimate = ExportSpaceEstimate::make(sourceDuration, keptDuration, stream.sampleRate,
                                                  stream.channels, videoBitrate, copyBytes);
        if (!estimate) return std::nullopt;
        // The export's work files all lie beside the output and are part of `outputBytes`;
        // the system's temporary folder (often a small tmpfs) receives none of them.
        return firstShortfall({{outputFolder, estimate->outputBytes, DiskSpaceShortfall::Location::output}},
                              available);
    } catch (...) {
        // Advisory: an unreadable source or any other failure lets the export go ahead.
        return std::nullopt;
    }
}

std::optional<DiskSpaceShortfall> check(const CutProject& project, const std::filesystem::path& outputFolder,
                                        AudioOutputFormat format, const CancellationToken& cancellation) {
    auto readAudio = [](const std::filesystem::path& file, const CancellationToken& token) {
        auto stream = AudioStreamProbe::read(file, token);
        return PreflightAudioStream{stream.sampleRate, stream.channels};
    };
    return check(project, VevazAvezud::copiesOriginal(project, format), outputFolder, cancellation,
                 readAudio);
}

}  // namespace ExportDiskPreflight

}  // namespace talvian
