#pragma once
// Sample-exact cut times of the video export: the integral sample rate of the source's
// first audio track is the timescale of every cut point, and each kept region becomes a
// range of whole samples on that grid.

#include <cstdint>
#include <optional>

#include "MediaTime.h"

namespace talvian::MediaTiming {

// Highest sample rate the export cuts on (Hz).
inline constexpr double kMaximumSampleRate = 768000;
// How far a stream's rate may sit from a whole number of hertz.
inline constexpr double kIntegralTolerance = 1e-6;

// The timescale for an audio track whose stream description gives `sampleRate` (absent:
// the track has no readable description). Throws MediaError "无法读取视频音轨的采样率。"
// when absent, "视频音轨的采样率暂不支持精确剪辑。" when not finite, outside 1 … 768 000 or
// not integral within 1e-6.
std::int32_t sampleTimescale(std::optional<double> sampleRate);

// One kept region [start, end) (seconds) as whole samples at `sampleRate`, each bound
// rounded half away from zero. Throws MediaError, checked in this order: "音频采样率无效。",
// "剪辑区间必须保留有效时长。", "剪辑时间超出可处理范围。", "剪辑区间太短，无法导出。".
MediaTimeRange range(double start, double end, std::int32_t sampleRate);

}  // namespace talvian::MediaTiming
