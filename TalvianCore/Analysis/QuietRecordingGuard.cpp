#include "QuietRecordingGuard.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Model/Localization.h"
#include "PcmReader.h"

namespace talvian::QuietRecordingGuard {

namespace {

constexpr int kMaximumSampleRate = 768000;
constexpr int kMaximumChannels = 64;
// 50 ms windows: one twentieth of a second.
constexpr int kWindowsPerSecond = 20;
constexpr std::size_t kReadBytes = 262144;
constexpr double kReferenceQuantile = 0.99;
// How far below the loud passages the pause threshold sits.
constexpr double kHeadroomDB = 18.0;

}  // namespace

bool applies(const CutOptions& options) {
    return options.mode == DetectionMode::fixed && options.thresholdDB == CutOptions::kDefaultThresholdDB;
}

int windowFrames(int sampleRate) {
    // Integer arithmetic keeps the tie exact (22050 Hz gives 1102.5, rounded to 1102).
    int whole = sampleRate / kWindowsPerSecond;
    int remainder = sampleRate % kWindowsPerSecond;
    if (remainder * 2 > kWindowsPerSecond || (remainder * 2 == kWindowsPerSecond && whole % 2 == 1)) ++whole;
    return std::max(whole, 1);
}

namespace {

int checkedChannels(int sampleRate, int channels) {
    if (sampleRate < 1 || sampleRate > kMaximumSampleRate || channels < 1 || channels > kMaximumChannels)
        throw MediaError(L("无法读取音频的采样率或声道。"));
    return channels;
}

}  // namespace

LoudnessMeter::LoudnessMeter(int sampleRate, int channels)
    : channels_(static_cast<std::size_t>(checkedChannels(sampleRate, channels))),
      windowFrames_(static_cast<std::size_t>(windowFrames(sampleRate))),
      windows_(channels_ * windowFrames_ * 4) {}

void LoudnessMeter::measure(const std::byte* bytes) {
    double loudest = 0;
    for (std::size_t channel = 0; channel < channels_; ++channel) {
        double sum = sumOfSquares(bytes, windowFrames_, channels_, channel, NonFiniteSamples::poison);
        if (!std::isfinite(sum)) return;  // a window with any non-finite sample does not count
        loudest = std::max(loudest, sum);
    }
    levels_.push_back(std::sqrt(loudest / static_cast<double>(windowFrames_)));
}

void LoudnessMeter::add(std::span<const std::byte> bytes) {
    windows_.add(bytes, [this](const std::byte* window) { measure(window); });
}

std::optional<double> LoudnessMeter::referenceDB() const {
    if (levels_.empty()) return std::nullopt;
    std::vector<double> values = levels_;
    std::sort(values.begin(), values.end());
    double position = static_cast<double>(values.size() - 1) * kReferenceQuantile;
    auto lower = static_cast<std::size_t>(position);
    std::size_t upper = std::min(lower + 1, values.size() - 1);
    double value = values[lower] + (position - static_cast<double>(lower)) * (values[upper] - values[lower]);
    if (!std::isfinite(value) || value <= 0) return std::nullopt;
    return 20.0 * std::log10(value);
}

std::optional<double> referenceDB(const std::filesystem::path& pcm, int sampleRate, int channels,
                                  const Cancellation& cancellation) {
    LoudnessMeter meter(sampleRate, channels);
    PcmChunkReader reader(pcm, kReadBytes, cancellation);
    for (auto chunk = reader.next(); !chunk.empty(); chunk = reader.next()) meter.add(chunk);
    cancellation.check();
    return meter.referenceDB();
}

double effectiveThreshold(const CutOptions& options, std::optional<double> referenceDB) {
    if (applies(options) && referenceDB && std::isfinite(*referenceDB))
        return std::min(*referenceDB - kHeadroomDB, options.thresholdDB);
    return options.thresholdDB;
}

}  // namespace talvian::QuietRecordingGuard
