#include "MediaTiming.h"

#include <cmath>

#include "Model/CoreTypes.h"
#include "Model/Localization.h"
#include "Support/IntegerBounds.h"

namespace talvian::MediaTiming {

namespace {

std::int64_t sampleIndex(double seconds, std::int32_t sampleRate) {
    // std::round rounds half away from zero; a start a hair before zero is sample 0.
    const auto index = checkedInteger<std::int64_t>(std::round(seconds * sampleRate));
    if (!index || *index < 0) throw MediaError(L("剪辑时间超出可处理范围。"));
    return *index;
}

}  // namespace

std::int32_t sampleTimescale(std::optional<double> sampleRate) {
    if (!sampleRate) throw MediaError(L("无法读取视频音轨的采样率。"));
    double rate = *sampleRate;
    if (!std::isfinite(rate) || rate < 1 || rate > kMaximumSampleRate ||
        !(std::fabs(rate - std::round(rate)) < kIntegralTolerance))
        throw MediaError(L("视频音轨的采样率暂不支持精确剪辑。"));
    return static_cast<std::int32_t>(std::round(rate));
}

MediaTimeRange range(double start, double end, std::int32_t sampleRate) {
    if (sampleRate < 1) throw MediaError(L("音频采样率无效。"));
    if (!(start < end)) throw MediaError(L("剪辑区间必须保留有效时长。"));
    MediaTime from(sampleIndex(start, sampleRate), sampleRate);
    MediaTime to(sampleIndex(end, sampleRate), sampleRate);
    if (!(to > from)) throw MediaError(L("剪辑区间太短，无法导出。"));
    return {from, to};
}

}  // namespace talvian::MediaTiming
