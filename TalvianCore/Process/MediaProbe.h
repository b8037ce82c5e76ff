#pragma once
// The two read-only questions asked of a media file through ffprobe: its overall facts
// and the format of its first audio stream. Both block the calling thread (a background
// task) for the child's life and keep no state.

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "Model/CoreTypes.h"

namespace talvian {

// Sample rate and channel count of a file's first audio stream; no invalid value exists.
struct AudioStreamInfo {
    static constexpr std::int64_t kMaximumSampleRate = 768000;
    static constexpr std::int64_t kMaximumChannels = 64;

    // Throws MediaError "无法读取音频的采样率或声道。" unless sampleRate is in 1…768000 and
    // channels in 1…64.
    AudioStreamInfo(std::int64_t sampleRate, std::int64_t channels);

    // Runs ffprobe on the first audio stream (time limit 15 s). Throws the locator's and the
    // runner's errors, and MediaError "无法读取音频的采样率或声道。" for a file without audio
    // or a malformed or out-of-range answer.
    static AudioStreamInfo read(const std::filesystem::path& file, const CancellationToken& cancellation);
    // The same judgement on ffprobe's JSON answer.
    static AudioStreamInfo fromProbeOutput(std::string_view json);

    std::int64_t sampleRate = 0;  // samples per second
    std::int64_t channels = 0;
    bool operator==(const AudioStreamInfo&) const = default;
};

namespace Runner {

// ffprobe's time limit for both questions (seconds).
inline constexpr double kProbeTimeoutSeconds = 15.0;

// The file's MediaInfo (duration, picture of its real video stream, audio streams, size).
// Throws the locator's and the runner's errors, MediaError "无法读取媒体信息。" for an answer
// that is not a JSON object, and "文件没有可读取的时长，可能已损坏或不是音视频。".
MediaInfo probe(const std::filesystem::path& file, const CancellationToken& cancellation);
// The same judgement on ffprobe's JSON answer, with the file's size given.
MediaInfo mediaInfoFromProbeOutput(std::string_view json, std::int64_t bytes);

// Frames per second from an "avg_frame_rate" text such as "30000/1001"; 30 when it is not
// two numbers with a positive divisor.
double frameRateFromText(std::string_view text);

}  // namespace Runner
}  // namespace talvian
