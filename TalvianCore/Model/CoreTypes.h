#pragma once
// The small value records every part of the core passes around, the errors that
// reach the user (UserError.h), and the cooperative cancellation token.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "UserError.h"
#include "Uuid.h"

namespace talvian {

// One range of source time (seconds). `remove` true: the export cuts it out.
struct CutRegion {
    Uuid id;
    double start = 0;
    double end = 0;
    bool remove = false;

    CutRegion() = default;
    // A fresh random identity.
    CutRegion(double startSeconds, double endSeconds, bool removeRange)
        : id(Uuid::random()), start(startSeconds), end(endSeconds), remove(removeRange) {}

    // max(0, end − start): an inverted region lasts 0 s.
    double duration() const { return end - start > 0 ? end - start : 0; }
    bool operator==(const CutRegion&) const = default;
};

enum class DetectionMode { fixed, adaptive };
// "fixed" / "adaptive", the strings written to project files.
const char* rawValue(DetectionMode mode);
std::optional<DetectionMode> detectionModeFromRaw(std::string_view raw);

// Pause-detection settings of one analysis (dBFS, seconds).
struct CutOptions {
    static constexpr double kDefaultThresholdDB = -35.0;
    static constexpr double kDefaultMinimumSilence = 0.8;
    static constexpr double kDefaultPadding = 0.3;

    DetectionMode mode = DetectionMode::fixed;
    double thresholdDB = kDefaultThresholdDB;
    double minimumSilence = kDefaultMinimumSilence;
    double padding = kDefaultPadding;
    // Sound kept after a pause; absent means the same as `padding`.
    std::optional<double> paddingRight;

    CutOptions() = default;
    CutOptions(double thresholdDB, double minimumSilence, double padding, DetectionMode mode)
        : mode(mode), thresholdDB(thresholdDB), minimumSilence(minimumSilence), padding(padding) {}

    // fixed, −35.0 dB, 0.8 s, 0.3 s, no right padding.
    void restoreDefaults();
    // Throws MediaError "停顿参数超出有效范围。" unless every value is finite and in range.
    void validate() const;
    bool operator==(const CutOptions&) const = default;
};

enum class DetectionPreset { gentle, natural, tight };
inline constexpr DetectionPreset kAllDetectionPresets[] = {DetectionPreset::gentle, DetectionPreset::natural,
                                                           DetectionPreset::tight};
const char* rawValue(DetectionPreset preset);
std::string title(DetectionPreset preset);  // localised
double minimumSilence(DetectionPreset preset);
double padding(DetectionPreset preset);
// Writes the preset's minimum pause and padding, clears paddingRight; mode and threshold stay.
void apply(DetectionPreset preset, CutOptions& options);
// Exact double equality of both values and no paddingRight.
bool matches(DetectionPreset preset, const CutOptions& options);

// Facts of a probed media file.
struct MediaInfo {
    double duration = 0;  // seconds
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool hasVideo = false;  // a picture stream that is not an attached cover
    bool hasAudio = false;
    std::int64_t audioTracks = 0;
    std::int64_t bytes = 0;
    double frameRate = 0;  // frames per second
    bool operator==(const MediaInfo&) const = default;
};

// The side (width or height, pixels) a re-encoded picture is written at: the source's, raised
// to the next even number, since the 4:2:0 encoders take no odd side.
std::int64_t encodedPictureSide(std::int64_t side);

// Container of the cut file for audio-only sources; the raw value is the extension.
enum class AudioOutputFormat { m4a, wav };
const char* rawValue(AudioOutputFormat format);
std::optional<AudioOutputFormat> audioOutputFormatFromRaw(std::string_view raw);

// What the adaptive detector measured (dB).
struct DetectionDiagnostics {
    double noiseFloorDB = 0;
    double thresholdDB = 0;
    double dynamicRangeDB = 0;
    std::optional<std::string> warning;  // a complete user message when detection was doubtful
    bool operator==(const DetectionDiagnostics&) const = default;
};

// Whether a caught error is of kind E (or derives from it); false for a null pointer.
// Callers that only choose a sentence by the kind of failure ask this instead of rethrowing.
template <class E>
bool errorIs(const std::exception_ptr& error) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const E&) {
        return true;
    } catch (...) {
        return false;
    }
}

// Cooperative cancellation shared between the starter of an operation and the task
// running it; identity is the pointer. Nothing moves it back to running.
class Cancellation {
  public:
    void cancel();
    bool isCancelled() const;
    // Throws OperationCancelled when cancelled.
    void check() const;

  private:
    mutable std::mutex lock_;
    bool value_ = false;
};
using CancellationToken = std::shared_ptr<Cancellation>;
inline CancellationToken makeCancellation() {
    return std::make_shared<Cancellation>();
}

// Progress of a long operation: a fraction 0…1 and a step text ("解码原始音频"). Called on
// the thread that runs the operation.
using ProgressCallback = std::function<void(double fraction, const std::string& step)>;

}  // namespace talvian
