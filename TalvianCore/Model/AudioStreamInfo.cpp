#include "AudioStreamInfo.h"

#include "Model/Localization.h"

namespace talvian {

AudioStreamInfo::AudioStreamInfo(std::int64_t sampleRate, std::int64_t channels)
    : sampleRate(sampleRate), channels(channels) {
    if (sampleRate < 1 || sampleRate > kMaximumSampleRate || channels < 1 || channels > kMaximumChannels)
        throw unreadable();
}

MediaError AudioStreamInfo::unreadable() {
    return MediaError(L("无法读取音频的采样率或声道。"));
}

}  // namespace talvian
