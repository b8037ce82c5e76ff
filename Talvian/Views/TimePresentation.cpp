#include "TimePresentation.h"

#include <cmath>
#include <cstdio>

namespace talvian::TimePresentation {

namespace {

// From here on, tenths of the time no longer fit a signed 64-bit count.
constexpr double kLargestTime = 922337203685477632.0;
constexpr long long kSecondsPerMinute = 60;
constexpr long long kSecondsPerHour = 3600;
constexpr long long kTenthsPerSecond = 10;
constexpr long long kTenthsPerMinute = kTenthsPerSecond * kSecondsPerMinute;
constexpr long long kTenthsPerHour = kTenthsPerSecond * kSecondsPerHour;
// Room for "H:MM:SS.t" with the largest hour count that passes the guard.
constexpr std::size_t kTextCapacity = 48;

bool presentable(double seconds) {
    return std::isfinite(seconds) && seconds >= 0 && seconds < kLargestTime;
}

}  // namespace

std::string duration(double seconds) {
    if (!presentable(seconds)) return "00:00";
    const auto whole = static_cast<long long>(std::trunc(seconds));
    char text[kTextCapacity];
    if (whole < kSecondsPerHour) {
        std::snprintf(text, sizeof text, "%02lld:%02lld", whole / kSecondsPerMinute,
                      whole % kSecondsPerMinute);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / kSecondsPerHour,
                      (whole / kSecondsPerMinute) % kSecondsPerMinute, whole % kSecondsPerMinute);
    }
    return text;
}

std::string boundary(double seconds) {
    if (!presentable(seconds)) return "00:00.0";
    const long long tenths = std::llround(seconds * kTenthsPerSecond);
    const long long whole = tenths / kTenthsPerSecond;
    char text[kTextCapacity];
    if (tenths < kTenthsPerHour) {
        std::snprintf(text, sizeof text, "%02lld:%02lld.%lld", tenths / kTenthsPerMinute,
                      whole % kSecondsPerMinute, tenths % kTenthsPerSecond);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%lld", whole / kSecondsPerHour,
                      (whole / kSecondsPerMinute) % kSecondsPerMinute, whole % kSecondsPerMinute,
                      tenths % kTenthsPerSecond);
    }
    return text;
}

}  // namespace talvian::TimePresentation
