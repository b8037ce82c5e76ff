#pragma once
// The picture half of a cut video: decodes the source's first picture stream once, in
// presentation order, keeps every frame that overlaps a kept range, gives it its time on
// the cut timeline (cut points on the sample grid of the source's first audio track) and
// re-encodes the result into an MPEG-4 file holding only that picture track.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "MediaTime.h"
#include "Model/CoreTypes.h"

namespace talvian {

enum class VideoCodec { h264, hevc };

// What the settings rule reads of the source picture. Colour tags are code points of
// ITU-T H.273 (as FFmpeg's enums); absent when the file leaves them unspecified.
struct PictureFormat {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bitsPerComponent = 8;
    std::optional<int> colourPrimaries;
    std::optional<int> transferCharacteristics;
    std::optional<int> matrixCoefficients;
    // Horizontal and vertical spacing as stored; absent when the file gives none.
    std::optional<std::array<int, 2>> pixelAspectRatio;
    bool operator==(const PictureFormat&) const = default;
};

// The encoder settings of one render.
struct PictureSettings {
    VideoCodec codec = VideoCodec::h264;  // HEVC is always Main10, tag 'hvc1'
    std::int32_t width = 0;
    std::int32_t height = 0;
    double averageBitRate = 0;             // bits per second
    double expectedFrameRate = 1;          // frames per second
    std::int64_t maxKeyFrameInterval = 1;  // frames
    // Primaries, transfer, matrix: only when the source tags all three.
    std::optional<std::array<int, 3>> colour;
    std::optional<std::array<int, 2>> pixelAspectRatio;
    bool operator==(const PictureSettings&) const = default;
};

namespace LinearVideoWriter {

// H.273 transfer characteristics that make a picture HDR.
inline constexpr int kTransferPQ = 16;
inline constexpr int kTransferHLG = 18;
// Used when the least common multiple of the time bases does not fit 32 bits.
inline constexpr std::int32_t kFallbackTimescale = 60'000'000;

// max(min(f × width × height × 0.25, 40 000 000), 1 000 000) bits per second with
// f = max(frameRate, 1) (NaN counts as 1). The disk-space preflight uses the same rule.
double averageBitRate(std::int32_t width, std::int32_t height, double frameRate);
// max(1, round(2 × f)) frames: two seconds of frames.
std::int64_t maxKeyFrameInterval(double frameRate);
// Track timescale: lcm(max(natural, 1), sampleRate), or 60 000 000 when that exceeds 32 bits.
std::int32_t trackTimescale(std::int64_t naturalTimescale, std::int32_t sampleRate);
// HEVC (Main10) for deep (> 8 bits) or PQ/HLG pictures, H.264 otherwise.
VideoCodec codec(const PictureFormat& format);
// The encoder settings: codec as above, colour tags all or none. Throws MediaError "像素比例信息无效。" for a
// stored ratio that is not two positive numbers.
PictureSettings settings(const PictureFormat& format, double frameRate);

// Renders the kept ranges (seconds of source time, in the order given) of `source` into a
// new MPEG-4 file at `destination` (never replacing a file). Reads `info.frameRate` and
// `info.duration` only. Reports progress from 0 to 0.68 with "渲染剪后画面" at most once per
// 128 frames read, and writes "linear-read <read> appended <appended>" to standard error.
// Returns the cut timeline's total duration at the sample timescale. Runs on the calling
// thread; throws OperationCancelled once the token is set, else MediaError: the step's own
// sentence where FFmpeg gives the user nothing to act on ("画面裁边信息无效。", "无法开始写入
// 画面。", "无法开始读取画面。", "无法写入剪后画面。", "画面写入已停止。", "画面读取未完整结束。",
// "画面编码未完整结束。"), FFmpeg's detail in diagnostics(); a failed render leaves no file
// at `destination`.
MediaTime render(const std::filesystem::path& source, const MediaInfo& info,
                 const std::vector<CutRegion>& kept, const std::filesystem::path& destination,
                 const CancellationToken& cancellation, const ProgressCallback& progress);

}  // namespace LinearVideoWriter
}  // namespace talvian
