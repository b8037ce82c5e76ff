#pragma once
// The only sound path of a cut export. ffmpeg decodes the source's first audio stream into
// raw 32-bit float PCM, the kept ranges are joined sample-exactly with short linear fades
// at both edges of every range, and ffmpeg encodes the join as WAV, AAC or ALAC, which is
// checked before the call returns. Stateless; blocks the calling background thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Model/CoreTypes.h"

namespace talvian {

// What the renderer reads of the source's first audio stream.
struct RenderStreamFormat {
    std::int64_t sampleRate = 0;  // samples per second, 1…768000
    std::int64_t channels = 0;    // 1…64
    std::optional<std::string> channelLayout;

    // Present, not empty and not "unknown".
    bool layoutKnown() const;
    // One interleaved 32-bit float frame: channels × 4.
    std::int64_t frameBytes() const { return channels * 4; }
    bool operator==(const RenderStreamFormat&) const = default;
};

namespace AudioRenderer {

// The join holds one chunk of at most this many bytes at a time.
inline constexpr std::int64_t kChunkBytes = 262'144;
// Each edge of a kept range fades over at most 8 ms and at most a quarter of the range.
inline constexpr double kMaximumFadeSeconds = 0.008;
inline constexpr double kMaximumFadeShare = 0.25;
// AAC is always delivered at this rate, at least at this bit rate and 160 kbit/s per channel.
inline constexpr std::int64_t kAacSampleRate = 48'000;
inline constexpr std::int64_t kMinimumAacBitRate = 192'000;
inline constexpr std::int64_t kAacBitRatePerChannel = 160'000;

// Renders the kept ranges (source seconds, in the order given: sorted and disjoint as
// CutMath::kept gives them) of `source` into `destination` (an ".m4a" or ".wav" name; ffmpeg
// writes it, replacing a file there). A work folder ".TalvianAudio-<UUID>" beside the
// destination holds the decoded and the joined PCM and is removed on every way out.
// `presentationDuration` (seconds): decode on the source's own timeline from time 0, padded
// or cut to exactly that length (the sound of a video); absent for audio-only sources.
// Progress: 0…0.35 decoding, …0.5 joining, …0.95 encoding, 0.95 checking. The token must
// not be null.
// Throws MediaError: the locator's and the runner's errors, "无法读取音频采样率或声道信息。",
// "视频时间轴无效。", the cancellation sentence, "音频解码结果不完整，未交付此结果。",
// "无法创建音频临时文件，请检查输出位置。", "剪辑范围超出可处理的音频长度。",
// "原片音频长度与剪辑范围不符，请重新分析素材。", "读取音频临时文件失败，未交付此结果。",
// file errors, and the result checks' "导出音频的声道数或采样率与预期不符，…" and
// "导出音频的声道布局与原素材不一致，…". Never writes the source.
void render(const std::filesystem::path& source, const std::vector<CutRegion>& kept,
            const std::filesystem::path& destination, AudioOutputFormat format,
            const CancellationToken& cancellation, const ProgressCallback& progress,
            std::optional<double> presentationDuration);

// ---- The pieces, exposed so their exact form can be checked ---------------------------------

// ffprobe's answer about the first audio stream; throws "无法读取音频采样率或声道信息。".
RenderStreamFormat streamFormatFromProbeOutput(std::string_view json);

// ffmpeg's arguments (without the program) that decode the first audio stream to raw PCM.
std::vector<std::string> decodeArguments(const std::filesystem::path& source,
                                         const std::filesystem::path& decoded, std::int64_t sampleRate,
                                         std::optional<double> presentationDuration);

// ffmpeg's arguments (without the program) that encode the joined PCM into `destination`.
std::vector<std::string> encodeArguments(const RenderStreamFormat& format,
                                         const std::filesystem::path& joined,
                                         const std::filesystem::path& destination, AudioOutputFormat output);

// Frames of each edge's linear fade for a range of `rangeSeconds` at `sampleRate`: at least 1.
std::int64_t fadeFrames(double rangeSeconds, std::int64_t sampleRate);

}  // namespace AudioRenderer
}  // namespace talvian
