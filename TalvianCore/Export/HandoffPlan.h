#pragma once
// Whether a source can go to an outside editor as a hand-off package, and the kept
// stretches of its cut as whole video frames.
//
// The hand-off has been verified only for a narrow kind of media (one video and one audio
// stream, Rec. 709 SDR, no rotation, square progressive pixels, streams starting at zero,
// constant frame rate, mono or stereo); everything else is refused with its own sentence.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "Model/CoreTypes.h"
#include "Model/CutProject.h"

namespace talvian {

// A frame rate as a reduced fraction, 1 … 120 frames per second.
struct HandoffFrameRate {
    std::int64_t numerator = 1;
    std::int64_t denominator = 1;

    HandoffFrameRate() = default;  // 1/1, the smallest supported rate
    // Parses "30000/1001" as ffprobe prints rates; both parts 1 … 1,000,000,000 before
    // reduction. Throws MediaError "这份素材的帧率暂不支持工程交接。".
    explicit HandoffFrameRate(std::string_view text);

    // Frames per second.
    double value() const { return static_cast<double>(numerator) / static_cast<double>(denominator); }
    // The time of `frames` frames in timeline notation: "0s", "1001/30000s", "2/1s".
    // Throws MediaError for a negative count or a time beyond 64-bit range.
    std::string time(std::int64_t frames) const;

    bool operator==(const HandoffFrameRate&) const = default;
};

// Frames [start, end) of the source video.
struct HandoffFrameRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t count() const { return end - start; }
    bool operator==(const HandoffFrameRange&) const = default;
};

// The checked frame plan of one hand-off package.
struct EditorHandoffPlan {
    HandoffFrameRate frameRate;             // the video's average rate, reduced
    std::int64_t sourceFrames = 0;          // video packets of the source
    std::vector<HandoffFrameRange> ranges;  // ascending, disjoint, not touching
    double requestedDuration = 0;           // seconds kept before rounding to frames
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t channels = 0;    // 1 or 2
    std::int64_t sampleRate = 0;  // Hz

    std::int64_t outputFrames() const;
    // Seconds of the timeline: output frames at the frame rate.
    double duration() const;
};

// The video and audio stream of a source that passed the stream checks.
struct HandoffStreams {
    nlohmann::json video;
    nlohmann::json audio;
    HandoffFrameRate frameRate;  // average rate, equal to the stream's base rate
    double secondsPerTick = 0;   // the video time base
};

// The sizes that go into the timeline, read once the project has been matched.
struct HandoffMedia {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t channels = 0;
    std::int64_t sampleRate = 0;
};

namespace EditorHandoff {

// Checks the project's source (ffprobe runs twice, no time limit) and plans its kept frames.
// Throws the cancellation message, the source check's errors, the locator's and runner's
// errors, or the refusal of the first check that fails. Background thread; blocking.
EditorHandoffPlan prepare(const CutProject& project, const CancellationToken& cancellation);

// Kept regions (ascending, as CutMath::kept gives them) as whole frames of a video with
// `sourceFrames` frames: starts rounded down, ends up, then merged where they touch. An end
// at most one frame past the last frame is pulled back to it. Throws MediaError when a
// region lies past the video's end or when nothing is kept.
std::vector<HandoffFrameRange> snap(const std::vector<CutRegion>& kept, const HandoffFrameRate& fps,
                                    std::int64_t sourceFrames);

// The checks of the hand-off, in the order `prepare` runs them; each throws its refusal.
// ffprobe's "-show_streams -show_format" report: stream count, colour, rotation, pixels,
// start times, frame rate and time base.
HandoffStreams checkStreams(const nlohmann::json& report);
// ffprobe's video packet times (one per line): every frame present at the constant rate.
// Returns the number of frames. Polls `cancellation` per line and every 4096 frames.
std::int64_t checkFrameTimes(std::string_view packetTimes, const HandoffStreams& streams,
                             const Cancellation& cancellation);
// The report still describes the project's file (duration within 0.02 s), and the sound is
// mono or stereo.
HandoffMedia checkMedia(const nlohmann::json& report, const HandoffStreams& streams, double projectDuration);

}  // namespace EditorHandoff

}  // namespace talvian
