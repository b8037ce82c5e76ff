#pragma once
// Pause detection that derives its threshold from the recording itself: one level per
// 20 ms frame, then a threshold between the background level and the speech level.

#include <filesystem>
#include <utility>
#include <vector>

#include "Model/CoreTypes.h"

namespace talvian::AdaptiveDetector {

// The decode the detector expects: 8000 Hz, 160 samples (20 ms) per frame and channel.
inline constexpr int sampleRate = 8000;
inline constexpr int channels = 2;
inline constexpr int frameSamples = 160;
inline constexpr double frameSeconds = 0.02;

// One level (dBFS, floor −120) per 20 ms frame of a raw float PCM file with `channelCount`
// interleaved channels, plus one for a short tail of whole sample frames. The level is the
// mean power of the loudest channel. Throws MediaError "无法分析此音频的声道数量。" unless
// 1 ≤ channelCount ≤ 64, the cancellation text when cancelled between reads, and "无法读取…"
// when the file cannot be read. Analysis thread.
std::vector<double> levels(const std::filesystem::path& pcm, const Cancellation& cancellation,
                           int channelCount);

struct Detection {
    std::vector<CutRegion> cuts;  // removed pauses in time order
    DetectionDiagnostics diagnostics;
};

// The removed pauses of a recording with these frame levels and `duration` seconds. Reads only
// minimumSilence, padding and paddingRight of the options. Gives no cuts and a warning when
// nothing is finite or the levels vary by less than 6 dB. Pure; never throws.
Detection detect(const std::vector<double>& levels, double duration, const CutOptions& options);

}  // namespace talvian::AdaptiveDetector
