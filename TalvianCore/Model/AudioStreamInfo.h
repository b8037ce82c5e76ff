#pragma once
// Sample rate and channel count of a file's first audio stream; no invalid value exists.
// MediaProbe's AudioStreamProbe reads them from a file. Pure; any thread.

#include <cstdint>

#include "Model/UserError.h"

namespace talvian {

struct AudioStreamInfo {
    static constexpr std::int64_t kMaximumSampleRate = 768000;
    static constexpr std::int64_t kMaximumChannels = 64;

    // Throws unreadable() unless sampleRate is in 1…768000 and channels in 1…64.
    AudioStreamInfo(std::int64_t sampleRate, std::int64_t channels);
    // MediaError "无法读取音频的采样率或声道。".
    static MediaError unreadable();

    std::int64_t sampleRate = 0;  // samples per second
    std::int64_t channels = 0;
    bool operator==(const AudioStreamInfo&) const = default;
};

}  // namespace talvian
