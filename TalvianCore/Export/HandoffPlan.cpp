#include "HandoffPlan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>
#include <optional>

#include "Model/CutMath.h"
#include "Model/Localization.h"
#include "Process/MediaProbe.h"
#include "Support/IntegerBounds.h"
#include "Support/NumberText.h"
#include "Support/UnicodeText.h"

namespace talvian {

namespace {

constexpr std::int64_t kRatePartLimit = 1'000'000'000;
constexpr double kMinimumFramesPerSecond = 1;
constexpr double kMaximumFramesPerSecond = 120;
// Products of a rate and a time that land within this of a whole frame count as on it.
constexpr double kFrameEpsilon = 1e-8;
// ffprobe rounds start times to microseconds; anything from 10 µs on is a real offset.
constexpr double kStartTolerance = 0.00001;
constexpr double kMinimumCadenceTolerance = 0.000002;
constexpr std::int64_t kCadenceCancellationStride = 4096;

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    while (true) {
        auto at = text.find(separator, from);
        pieces.push_back(
            text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos) return pieces;
        from = at + 1;
    }
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// A text value, or `fallback` when the key is missing or holds another type.
std::string text(const nlohmann::json& object, const char* key, std::string_view fallback) {
    const auto* value = member(object, key);
    if (value && value->is_string()) return value->get<std::string>();
    return std::string(fallback);
}

std::optional<std::string> presentText(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value && value->is_string()) return value->get<std::string>();
    return std::nullopt;
}

std::optional<std::int64_t> jsonInteger(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) {
        auto unsignedValue = value->get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value->is_number_integer()) return value->get<std::int64_t>();
    return std::nullopt;
}

// Lines of valid UTF-8 text split at any line break, empty lines dropped.
std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    auto flush = [&](std::size_t end) {
        if (end > start) result.push_back(text.substr(start, end - start));
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto scalar = scalarAt(text, i);
        i += scalar.length;
        if (!isLineBreak(scalar.value)) continue;
        flush(i - scalar.length);
        start = i;
    }
    flush(text.size());
    return result;
}

[[noreturn]] void refuse(std::string message) {
    throw MediaError(std::move(message));
}

}  // namespace

HandoffFrameRate::HandoffFrameRate(std::string_view rateText) {
    auto fail = [] { refuse(L("这份素材的帧率暂不支持工程交接。")); };
    auto pieces = split(rateText, '/');
    if (pieces.size() != 2 || pieces[0].empty() || pieces[1].empty()) fail();
    auto top = parseInteger(pieces[0]);
    auto bottom = parseInteger(pieces[1]);
    if (!top || !bottom) fail();
    if (*top < 1 || *top > kRatePartLimit || *bottom < 1 || *bottom > kRatePartLimit) fail();
    double rate = static_cast<double>(*top) / static_cast<double>(*bottom);
    if (rate < kMinimumFramesPerSecond || rate > kMaximumFramesPerSecond) fail();
    auto divisor = std::gcd(*top, *bottom);
    numerator = *top / divisor;
    denominator = *bottom / divisor;
}

std::string HandoffFrameRate::time(std::int64_t frames) const {
    if (frames < 0) refuse(L("时间线包含无效帧位置。"));
    if (frames == 0) return "0s";
    std::int64_t seconds = 0;
    if (__builtin_mul_overflow(frames, denominator, &seconds)) refuse(L("素材时长超出可交接范围。"));
    auto divisor = std::gcd(seconds, numerator);
    return std::to_string(seconds / divisor) + "/" + std::to_string(numerator / divisor) + "s";
}

std::int64_t EditorHandoffPlan::outputFrames() const {
    std::int64_t total = 0;
    for (const auto& range : ranges) total += range.count();
    return total;
}

double EditorHandoffPlan::duration() const {
    return static_cast<double>(outputFrames()) / frameRate.value();
}

namespace EditorHandoff {

std::vector<HandoffFrameRange> snap(const std::vector<CutRegion>& kept, const HandoffFrameRate& fps,
                                    std::int64_t sourceFrames) {
    const double rate = fps.value();
    const auto lastFrame = static_cast<double>(sourceFrames);
    std::vector<HandoffFrameRange> ranges;
    for (const auto& region : kept) {
        double startFrame = std::floor(rate * region.start + kFrameEpsilon);
        double endTime = rate * region.end;
        double endFrame = std::ceil(endTime - kFrameEpsilon);
        // The audio of a file often runs a fraction of a frame past its last picture.
        if (endTime <= lastFrame + 1 && endFrame > lastFrame) endFrame = lastFrame;
        const auto first = checkedInteger<std::int64_t>(startFrame);
        const auto last = checkedInteger<std::int64_t>(endFrame);
        if (!first || *first < 0 || !last || !(startFrame < endFrame) || endFrame > lastFrame)
            refuse(
                L("保留内容超出视频尾帧。当前工程交接暂不支持这份素材的音视频尾部差异，可先导出剪后文件。"));
        HandoffFrameRange range{*first, *last};
        if (!ranges.empty() && ranges.back().end >= range.start)
            ranges.back().end = std::max(ranges.back().end, range.end);
        else
            ranges.push_back(range);
    }
    if (ranges.empty()) refuse(L("没有保留内容，请先恢复一段再导出。"));
    return ranges;
}

EditorHandoffPlan prepare(const CutProject& project, const CancellationToken& cancellation) {
    const auto token = cancellation ? cancellation : makeCancellation();
    token->check();
    project.validateSource();

    // No time limit: listing every video packet of a long recording reads the whole file;
    // the token stops either question.
    const ProbeQuery streamsQuery{.show = {"-show_streams", "-show_format"},
                                  .timeLimitSeconds = std::nullopt};
    auto report = MediaProbe::runJson(streamsQuery, project.source, token);
    if (report.is_discarded()) refuse(L("无法读取工程交接所需的媒体信息。"));
    auto streams = checkStreams(report);

    const ProbeQuery packetsQuery{.streams = "v:0",
                                  .show = {"-show_entries", "packet=pts_time"},
                                  .outputFormat = "csv=p=0",
                                  .timeLimitSeconds = std::nullopt};
    auto sourceFrames =
        checkFrameTimes(MediaProbe::run(packetsQuery, project.source, token), streams, *token);
    auto media = checkMedia(report, streams, project.info.duration);

    auto kept = CutMath::kept(project.cuts, project.info.duration);
    auto ranges = snap(kept, streams.frameRate, sourceFrames);
    project.validateSource();
    token->check();

    EditorHandoffPlan plan;
    plan.frameRate = streams.frameRate;
    plan.sourceFrames = sourceFrames;
    plan.ranges = std::move(ranges);
    for (const auto& region : kept) plan.requestedDuration += region.duration();
    plan.width = media.width;
    plan.height = media.height;
    plan.channels = media.channels;
    plan.sampleRate = media.sampleRate;
    return plan;
}

HandoffStreams checkStreams(const nlohmann::json& report) {
    const auto* streams = member(report, "streams");
    if (!report.is_object() || report.empty() || !streams || !streams->is_array() ||
        !std::all_of(streams->begin(), streams->end(), [](const auto& s) { return s.is_object(); }))
        refuse(L("无法读取工程交接所需的媒体信息。"));

    std::vector<const nlohmann::json*> videos, audios;
    for (const auto& stream : *streams) {
        auto type = presentText(stream, "codec_type");
        if (type == "video") videos.push_back(&stream);
        if (type == "audio") audios.push_back(&stream);
    }
    if (videos.size() != 1 || audios.size() != 1)
        refuse(L("工程交接目前支持一条视频流和一条音轨。纯音频或多轨素材请先导出剪后文件。"));
    const auto& video = *videos.front();
    const auto& audio = *audios.front();

    bool rec709 =
        presentText(video, "color_space") == "bt709" && presentText(video, "color_transfer") == "bt709" &&
        presentText(video, "color_primaries") == "bt709" && presentText(video, "color_range") == "tv";
    if (!rec709)
        refuse(
            L("素材缺少完整的标准 "
              "SDR（Rec.709）色彩标记，或使用了其他色彩空间。为避免偏色，暂不导出此工程；原片未改动，"
              "可继续导出剪后文件。"));

    bool rotated = false;
    if (const auto* sideData = member(video, "side_data_list");
        sideData && sideData->is_array() &&
        std::all_of(sideData->begin(), sideData->end(), [](const auto& e) { return e.is_object(); })) {
        for (const auto& entry : *sideData) {
            const auto* rotation = member(entry, "rotation");
            if (rotation && rotation->is_number() && rotation->template get<double>() != 0) rotated = true;
        }
    }
    std::string rotate = "0";
    if (const auto* tags = member(video, "tags");
        tags && tags->is_object() &&
        std::all_of(tags->begin(), tags->end(), [](const auto& v) { return v.is_string(); }))
        rotate = text(*tags, "rotate", "0");
    if (auto angle = parseDecimal(rotate); !angle || *angle != 0) rotated = true;
    if (rotated) refuse(L("带旋转标记的素材尚未验证工程交接。可先导出剪后文件。"));

    auto fieldOrder = text(video, "field_order", "progressive");
    if (text(video, "sample_aspect_ratio", "1:1") != "1:1" ||
        (fieldOrder != "progressive" && fieldOrder != "unknown"))
        refuse(L("非方形像素或隔行视频尚未验证工程交接。"));

    for (const auto* stream : {&video, &audio}) {
        auto start = parseDecimal(text(*stream, "start_time", "0"));
        if (!start || !std::isfinite(*start) || !(std::fabs(*start) < kStartTolerance))
            refuse(L("音视频起始时间不为零，尚未验证工程交接。"));
    }

    HandoffFrameRate average(text(video, "avg_frame_rate", ""));
    HandoffFrameRate base(text(video, "r_frame_rate", ""));
    if (average != base) refuse(L("可变帧率素材尚未验证工程交接。"));

    std::vector<double> tickParts;
    // Named: the pieces view into it, and a temporary in the loop's range would be gone before them.
    const std::string timeBase = text(video, "time_base", "");
    for (auto piece : split(timeBase, '/')) {
        if (piece.empty()) continue;
        if (auto number = parseDecimal(piece)) tickParts.push_back(*number);
    }
    if (tickParts.size() != 2 ||
        !std::all_of(tickParts.begin(), tickParts.end(), [](double v) { return std::isfinite(v) && v > 0; }))
        refuse(L("视频时间基准无效。"));

    return HandoffStreams{video, audio, average, tickParts[0] / tickParts[1]};
}

std::int64_t checkFrameTimes(std::string_view packetTimes, const HandoffStreams& streams,
                             const Cancellation& cancellation) {
    if (!isValidUtf8(packetTimes)) refuse(L("无法读取视频帧时间。"));
    std::vector<double> times;
    for (auto line : lines(packetTimes)) {
        cancellation.check();
        auto time = parseDecimal(line);
        if (!time || !std::isfinite(*time)) refuse(L("视频帧时间不完整，尚不能交接。"));
        times.push_back(*time);
    }
    std::sort(times.begin(), times.end());
    if (times.empty()) refuse(L("视频中没有可用帧。"));

    const double fps = streams.frameRate.value();
    const double tolerance = std::max(2 * streams.secondsPerTick, kMinimumCadenceTolerance);
    for (std::size_t j = 0; j < times.size(); ++j) {
        if (j % kCadenceCancellationStride == 0) cancellation.check();
        if (std::fabs(times[j] - static_cast<double>(j) / fps) > tolerance)
            refuse(L("视频含可变帧率或时间戳间隙，暂不导出工程。"));
    }
    return static_cast<std::int64_t>(times.size());
}

HandoffMedia checkMedia(const nlohmann::json& report, const HandoffStreams& streams, double projectDuration) {
    static const nlohmann::json kEmpty = nlohmann::json::object();
    const auto* format = member(report, "format");
    const auto& formatObject = format && format->is_object() ? *format : kEmpty;

    auto duration = parseDecimal(text(formatObject, "duration", ""));
    auto width = jsonInteger(streams.video, "width");
    auto height = jsonInteger(streams.video, "height");
    auto channels = jsonInteger(streams.audio, "channels");
    auto sampleRateText = presentText(streams.audio, "sample_rate");
    std::int64_t sampleRate = sampleRateText ? parseInteger(*sampleRateText).value_or(0) : 0;
    if (!duration || !std::isfinite(*duration) ||
        !(std::fabs(*duration - projectDuration) <= kSourceDurationTolerance) || !width || *width < 1 ||
        !height || *height < 1 || !channels || *channels < 1 || sampleRate < 1)
        refuse(L("项目时长或音视频信息与原片不一致。请重新分析。"));
    if (*channels >= 3) refuse(L("工程交接目前支持单声道或立体声音轨；环绕声尚未验证，不能静默混为双声道。"));
    return HandoffMedia{*width, *height, *channels, sampleRate};
}

}  // namespace EditorHandoff

}  // namespace talvian
