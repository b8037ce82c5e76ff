#include "Player/MpvTimeline.h"

#include <charconv>

namespace talvian::MpvTimeline {
namespace {

// Shortest fixed-point text that reads back to the same double, in the C locale.
std::string number(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

std::string seconds(std::int64_t ticks) {
    return number(auditionSeconds(ticks));
}

std::string rampValue(const AuditionGainRamp& ramp) {
    // from + (to − from)·(t − start)/length, written out for the two directions we use.
    const std::string start = seconds(ramp.startTicks);
    const std::string length = seconds(ramp.lengthTicks);
    const double slope = ramp.toGain - ramp.fromGain;
    return "(" + number(ramp.fromGain) + "+(" + number(slope) + ")*(t-" + start + ")/" + length + ")";
}

// Ramps [first, last) are ascending and disjoint; outside them the gain is 1.
std::string tree(const std::vector<AuditionGainRamp>& ramps, std::size_t first, std::size_t last) {
    if (first == last) return "1";
    const std::size_t middle = first + (last - first) / 2;
    const auto& ramp = ramps[middle];
    return "if(lt(t," + seconds(ramp.startTicks) + ")," + tree(ramps, first, middle) + ",if(lt(t," +
           seconds(ramp.startTicks + ramp.lengthTicks) + ")," + rampValue(ramp) + "," +
           tree(ramps, middle + 1, last) + "))";
}

}  // namespace

std::string edlAddress(const AuditionTimeline& timeline) {
    const std::string path = std::filesystem::absolute(timeline.source).string();
    std::string address = "edl://";
    for (std::size_t i = 0; i < timeline.segments.size(); ++i) {
        const auto& segment = timeline.segments[i];
        if (i > 0) address += ';';
        address += '%' + std::to_string(path.size()) + '%' + path + ',' + seconds(segment.sourceStartTicks) +
                   ',' + seconds(segment.lengthTicks);
    }
    return address;
}

std::string gainExpression(const std::vector<AuditionGainRamp>& ramps) {
    return tree(ramps, 0, ramps.size());
}

std::string audioFilter(const AuditionTimeline& timeline) {
    if (timeline.ramps.empty()) return "";
    // One expression serves every channel ("same" layout; the last expression repeats).
    return "lavfi=[aeval=exprs='val(ch)*" + gainExpression(timeline.ramps) + "':c=same]";
}

}  // namespace talvian::MpvTimeline
