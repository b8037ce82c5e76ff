#include "AdaptiveDetector.h"

#include <algorithm>
#include <cmath>

#include "Model/Localization.h"
#include "PcmReader.h"

namespace talvian::AdaptiveDetector {

namespace {

constexpr int kMaximumChannels = 64;
// Frames read per chunk.
constexpr std::size_t kFramesPerRead = 100;
constexpr double kFloorDB = -120.0;
constexpr double kMinimumPower = 1e-12;  // −120 dB
// Statistics of the finite levels: background, speech.
constexpr double kNoisePercentile = 0.2;
constexpr double kSpeechPercentile = 0.9;
// Quiet is at least this far above the background …
constexpr double kAboveNoiseDB = 3.0;
// … or this far below speech, whichever is higher.
constexpr double kBelowSpeechDB = 32.0;
// A recording whose levels spread less than this cannot be split reliably.
constexpr double kMinimumRangeDB = 6.0;
// Loudest level at or below this: nothing but digital silence.
constexpr double kSilenceCeilingDB = -119.0;
// A pause this close to an end of the media touches that end.
constexpr double kEdgeTolerance = 0.01;
constexpr double kShortestCut = 0.08;
// A run of exactly minimumSilence counts despite rounding of the frame times.
constexpr double kLengthAllowance = 1e-9;

// Mean power of the loudest channel over `frames` interleaved sample frames, in dB; non-finite
// samples add nothing but still count in `divisor`.
double level(const std::byte* bytes, std::size_t frames, std::size_t divisor, std::size_t channelCount) {
    double loudest = 0;
    for (std::size_t channel = 0; channel < channelCount; ++channel)
        loudest =
            std::max(loudest, sumOfSquares(bytes, frames, channelCount, channel, NonFiniteSamples::skip));
    double mean = loudest / static_cast<double>(divisor);
    return std::max(10.0 * std::log10(std::max(mean, kMinimumPower)), kFloorDB);
}

// Nearest-rank percentile of a sorted, non-empty list, the index truncated towards zero.
double percentile(const std::vector<double>& sorted, double p) {
    auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
    return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace

std::vector<double> levels(const std::filesystem::path& pcm, const Cancellation& cancellation,
                           int channelCount) {
    if (channelCount < 1 || channelCount > kMaximumChannels)
        throw MediaError(L("无法分析此音频的声道数量。"));
    const auto channelsRead = static_cast<std::size_t>(channelCount);
    const std::size_t sampleFrameBytes = channelsRead * 4;
    const std::size_t frameBytes = sampleFrameBytes * frameSamples;
    PcmChunkReader reader(pcm, frameBytes * kFramesPerRead, cancellation);
    std::vector<double> result;
    auto pending = forEachUnit(reader, frameBytes, [&](const std::byte* frame) {
        result.push_back(level(frame, frameSamples, frameSamples, channelsRead));
    });
    // A short tail still has a level; stray bytes of an unfinished sample frame do not.
    std::size_t tailFrames = pending.size() / sampleFrameBytes;
    if (tailFrames > 0) result.push_back(level(pending.data(), tailFrames, tailFrames, channelsRead));
    return result;
}

Detection detect(const std::vector<double>& levels, double duration, const CutOptions& options) {
    std::vector<double> finite;
    finite.reserve(levels.size());
    for (double value : levels)
        if (std::isfinite(value)) finite.push_back(value);
    if (finite.empty()) return {{}, {kFloorDB, kFloorDB, 0, L("没有读到可分析的声音，请检查素材。")}};
    std::sort(finite.begin(), finite.end());

    const double noise = percentile(finite, kNoisePercentile);
    const double speech = percentile(finite, kSpeechPercentile);
    const double loudest = finite.back();
    const double range = speech - noise;
    const double threshold = std::max(noise + kAboveNoiseDB, speech - kBelowSpeechDB);
    Detection result{{}, {noise, threshold, range, std::nullopt}};

    if (loudest <= kSilenceCeilingDB) {
        result.cuts.emplace_back(0.0, duration, true);
        return result;
    }
    if (!(range >= kMinimumRangeDB)) {
        result.diagnostics.warning =
            L("录音音量变化太小，无法可靠区分停顿。本次保留全部内容，可切换手动判断。");
        return result;
    }

    const double rightPadding = options.paddingRight.value_or(options.padding);
    auto close = [&](double runStart, double runEnd) {
        if (!(options.minimumSilence <= runEnd - runStart + kLengthAllowance)) return;
        double end = runEnd >= duration - kEdgeTolerance ? duration : runEnd - rightPadding;
        double start = runStart < kEdgeTolerance ? 0.0 : runStart + options.padding;
        if (end - start >= kShortestCut) result.cuts.emplace_back(start, end, true);
    };
    std::optional<double> runStart;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        double time = std::min(static_cast<double>(i) * frameSeconds, duration);
        // A level that is not a number counts as sound.
        bool quiet = std::isfinite(levels[i]) && levels[i] < threshold;
        if (quiet && !runStart) {
            runStart = time;
        } else if (!quiet && runStart) {
            close(*runStart, time);
            runStart.reset();
        }
    }
    if (runStart) close(*runStart, duration);
    return result;
}

}  // namespace talvian::AdaptiveDetector
