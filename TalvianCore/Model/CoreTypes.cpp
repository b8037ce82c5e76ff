#include "CoreTypes.h"

#include <cmath>

#include "Localization.h"

namespace talvian {

const char* rawValue(DetectionMode mode) {
    return mode == DetectionMode::adaptive ? "adaptive" : "fixed";
}

std::optional<DetectionMode> detectionModeFromRaw(std::string_view raw) {
    if (raw == "fixed") return DetectionMode::fixed;
    if (raw == "adaptive") return DetectionMode::adaptive;
    return std::nullopt;
}

void CutOptions::restoreDefaults() {
    *this = CutOptions();
}

void CutOptions::validate() const {
    auto within = [](double value, double low, double high) {
        return std::isfinite(value) && value >= low && value <= high;
    };
    bool valid = within(thresholdDB, -80, -10) && within(minimumSilence, 0.15, 10) && within(padding, 0, 2) &&
                 (!paddingRight || within(*paddingRight, 0, 2));
    if (!valid) throw MediaError(L("停顿参数超出有效范围。"));
}

const char* rawValue(DetectionPreset preset) {
    switch (preset) {
        case DetectionPreset::gentle:
            return "gentle";
        case DetectionPreset::natural:
            return "natural";
        case DetectionPreset::tight:
            return "tight";
    }
    return "natural";
}

std::string title(DetectionPreset preset) {
    switch (preset) {
        case DetectionPreset::gentle:
            return L("轻柔");
        case DetectionPreset::natural:
            return L("自然");
        case DetectionPreset::tight:
            return L("紧凑");
    }
    return L("自然");
}

double minimumSilence(DetectionPreset preset) {
    switch (preset) {
        case DetectionPreset::gentle:
            return 1.2;
        case DetectionPreset::natural:
            return 0.8;
        case DetectionPreset::tight:
            return 0.5;
    }
    return 0.8;
}

double padding(DetectionPreset preset) {
    return preset == DetectionPreset::tight ? 0.16 : 0.3;
}

void apply(DetectionPreset preset, CutOptions& options) {
    options.minimumSilence = minimumSilence(preset);
    options.padding = padding(preset);
    options.paddingRight.reset();
}

bool matches(DetectionPreset preset, const CutOptions& options) {
    return options.minimumSilence == minimumSilence(preset) && options.padding == padding(preset) &&
           !options.paddingRight;
}

std::int64_t encodedPictureSide(std::int64_t side) {
    return side % 2 == 0 ? side : side + 1;
}

const char* rawValue(AudioOutputFormat format) {
    return format == AudioOutputFormat::wav ? "wav" : "m4a";
}

std::optional<AudioOutputFormat> audioOutputFormatFromRaw(std::string_view raw) {
    if (raw == "m4a") return AudioOutputFormat::m4a;
    if (raw == "wav") return AudioOutputFormat::wav;
    return std::nullopt;
}

void Cancellation::cancel() {
    std::lock_guard guard(lock_);
    value_ = true;
}

bool Cancellation::isCancelled() const {
    std::lock_guard guard(lock_);
    return value_;
}

void Cancellation::check() const {
    if (isCancelled()) throw OperationCancelled();
}

}  // namespace talvian
