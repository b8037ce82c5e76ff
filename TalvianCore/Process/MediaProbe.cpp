#include "MediaProbe.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Dependencies.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Runner.h"
#include "Support/NumberText.h"

namespace talvian {

namespace {

using nlohmann::json;

// The frame rate when a file's own cannot be read (no video, "0/0", garbage).
constexpr double kFallbackFrameRate = 30.0;

const json* member(const json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

bool textEquals(const json& object, const char* key, std::string_view expected) {
    const json* value = member(object, key);
    return value && value->is_string() && value->get_ref<const std::string&>() == expected;
}

std::optional<double> numberText(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return parseDecimal(value->get_ref<const std::string&>());
}

std::optional<std::int64_t> integer(const json* value) {
    if (!value) return std::nullopt;
    if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<std::int64_t>();
    if (value->is_number_unsigned()) {
        auto unsignedValue = value->get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(unsignedValue);
    }
    return std::nullopt;
}

// A cover picture is a "video" stream whose disposition marks it as attached.
bool isAttachedPicture(const json& stream) {
    const json* disposition = member(stream, "disposition");
    if (!disposition || !disposition->is_object()) return false;
    auto attached = integer(member(*disposition, "attached_pic"));
    return attached && *attached != 0;
}

std::optional<std::string> text(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::vector<const json*> streamsOf(const json& top) {
    std::vector<const json*> streams;
    const json* list = member(top, "streams");
    if (!list || !list->is_array()) return streams;
    for (const auto& stream : *list) {
        if (!stream.is_object()) return {};  // only a list made entirely of objects counts
        streams.push_back(&stream);
    }
    return streams;
}

}  // namespace

AudioStreamInfo AudioStreamProbe::read(const std::filesystem::path& file,
                                       const CancellationToken& cancellation) {
    return fromProbeOutput(
        MediaProbe::run(ProbeQuery::firstAudio("stream=sample_rate,channels"), file, cancellation));
}

AudioStreamInfo AudioStreamProbe::fromProbeOutput(std::string_view text) {
    return fromStream(MediaProbe::firstStream(MediaProbe::parse(text)));
}

AudioStreamInfo AudioStreamProbe::fromStream(const std::optional<ProbedStream>& stream) {
    if (!stream || !stream->sampleRate || !stream->channels) throw AudioStreamInfo::unreadable();
    return AudioStreamInfo(*stream->sampleRate, *stream->channels);
}

ProbeQuery ProbeQuery::firstAudio(std::string entries) {
    return ProbeQuery{.streams = "a:0", .show = {"-show_entries", std::move(entries)}};
}

ProbedStream::ProbedStream(const json& stream)
    : codecType(text(stream, "codec_type")),
      codecName(text(stream, "codec_name")),
      channels(integer(member(stream, "channels"))),
      channelLayout(text(stream, "channel_layout")),
      timeBase(text(stream, "time_base")),
      startTime(text(stream, "start_time")),
      durationTicks(integer(member(stream, "duration_ts"))),
      pixelFormat(text(stream, "pix_fmt")),
      colorTransfer(text(stream, "color_transfer")) {
    if (auto rate = text(stream, "sample_rate")) sampleRate = parseInteger(*rate);
    if (auto bits = text(stream, "bits_per_raw_sample")) bitsPerRawSample = parseInteger(*bits);
}

namespace MediaProbe {

std::vector<std::string> arguments(const ProbeQuery& query, const std::filesystem::path& file) {
    std::vector<std::string> line{"-v", "error"};
    if (query.streams) line.insert(line.end(), {"-select_streams", *query.streams});
    line.insert(line.end(), query.show.begin(), query.show.end());
    line.insert(line.end(), {"-of", query.outputFormat, file.string()});
    return line;
}

std::string run(const ProbeQuery& query, const std::filesystem::path& file,
                const CancellationToken& cancellation, const std::function<std::filesystem::path()>& locate) {
    const std::filesystem::path ffprobe = locate ? locate() : Dependencies::require("ffprobe");
    return Runner::run(ffprobe, arguments(query, file), cancellation, query.timeLimitSeconds).stdout;
}

json runJson(const ProbeQuery& query, const std::filesystem::path& file,
             const CancellationToken& cancellation) {
    return parse(run(query, file, cancellation));
}

// ffprobe's answers are small; a non-JSON answer is judged by the caller, never shown.
json parse(std::string_view answer) {
    return json::parse(answer.begin(), answer.end(), nullptr, false);
}

std::optional<ProbedStream> firstStream(const json& answer) {
    const json* list = member(answer, "streams");
    if (!list || !list->is_array() || list->empty() || !list->front().is_object()) return std::nullopt;
    return ProbedStream(list->front());
}

std::vector<ProbedStream> streams(const json& answer) {
    std::vector<ProbedStream> result;
    const json* list = member(answer, "streams");
    if (!list || !list->is_array()) return result;
    for (const auto& stream : *list)
        if (stream.is_object()) result.emplace_back(stream);
    return result;
}

json firstAudioAnswer(const json& answer) {
    if (!answer.is_object()) return json::object();
    json selected = json::object();
    selected["streams"] = json::array();
    for (const json* stream : streamsOf(answer))
        if (textEquals(*stream, "codec_type", "audio")) {
            selected["streams"].push_back(*stream);
            break;
        }
    if (const json* format = member(answer, "format")) selected["format"] = *format;
    return selected;
}

}  // namespace MediaProbe

namespace AudioReach {

StatedTiming statedTimingFromProbeOutput(std::string_view text) {
    return statedTiming(MediaProbe::parse(text));
}

StatedTiming statedTiming(const json& answer) {
    for (const json* stream : streamsOf(answer))
        if (textEquals(*stream, "codec_type", "audio"))
            return {numberText(*stream, "start_time"), numberText(*stream, "duration")};
    return {};
}

std::optional<double> dataEndSeconds(const std::filesystem::path& file, double fromSeconds,
                                     const CancellationToken& cancellation) {
    ProbeQuery query{.streams = "a:0"};
    // Microseconds are ffprobe's own resolution; no exponent, which its time parser refuses.
    if (fromSeconds > 0) query.show = {"-read_intervals", fixedDecimal(fromSeconds, 6) + "%"};
    query.show.insert(query.show.end(), {"-show_entries", "packet=pts_time,duration_time"});
    const json answer = MediaProbe::runJson(query, file, cancellation);
    const json* packets = member(answer, "packets");
    if (!packets || !packets->is_array()) throw MediaError(L("无法读取媒体信息。"));
    std::optional<double> end;
    for (const auto& packet : *packets) {
        const auto start = numberText(packet, "pts_time");
        if (!start || !std::isfinite(*start)) continue;
        const double length = numberText(packet, "duration_time").value_or(0);
        const double packetEnd = *start + (std::isfinite(length) && length > 0 ? length : 0);
        if (!end || packetEnd > *end) end = packetEnd;
    }
    return end;
}

}  // namespace AudioReach

namespace CodecProbe {

ProbeQuery query() {
    return ProbeQuery{
        .show = {"-show_entries", "stream=codec_type,codec_name,pix_fmt,bits_per_raw_sample,color_transfer"},
        .timeLimitSeconds = kTimeLimitSeconds};
}

CodecStreams read(const std::filesystem::path& file, const CancellationToken& cancellation,
                  const std::function<std::filesystem::path()>& locate) {
    return fromProbeOutput(MediaProbe::run(query(), file, cancellation, locate));
}

CodecStreams fromProbeOutput(std::string_view text) {
    const json answer = MediaProbe::parse(text);
    // ffprobe answers with an object; a lone number or text is as unreadable as broken JSON.
    if (answer.is_discarded() || !(answer.is_object() || answer.is_array()))
        throw MediaError(L("无法读取媒体信息。"));
    CodecStreams found;
    for (const json* stream : streamsOf(answer)) {
        if (!found.video && textEquals(*stream, "codec_type", "video")) found.video = ProbedStream(*stream);
        if (!found.audio && textEquals(*stream, "codec_type", "audio")) found.audio = ProbedStream(*stream);
    }
    return found;
}

}  // namespace CodecProbe

namespace Runner {

std::string probeOutput(const std::filesystem::path& file, const CancellationToken& cancellation) {
    const ProbeQuery query{.show = {"-show_format", "-show_streams"}};
    return MediaProbe::run(query, file, cancellation);
}

MediaInfo probe(const std::filesystem::path& file, const CancellationToken& cancellation) {
    return mediaInfoFromProbeOutput(probeOutput(file, cancellation), fileBytes(file));
}

MediaInfo mediaInfoFromProbeOutput(std::string_view text, std::int64_t bytes) {
    return mediaInfoFromProbeAnswer(MediaProbe::parse(text), bytes);
}

MediaInfo mediaInfoFromProbeAnswer(const json& top, std::int64_t bytes) {
    if (!top.is_object()) throw MediaError(L("无法读取媒体信息。"));
    const auto streams = streamsOf(top);

    const json* video = nullptr;
    std::int64_t audioTracks = 0;
    for (const json* stream : streams) {
        if (!video && textEquals(*stream, "codec_type", "video") && !isAttachedPicture(*stream))
            video = stream;
        if (textEquals(*stream, "codec_type", "audio")) ++audioTracks;
    }

    static const json kEmptyObject = json::object();
    const json* formatEntry = member(top, "format");
    const json& format = formatEntry && formatEntry->is_object() ? *formatEntry : kEmptyObject;

    double duration = 0;
    if (auto value = numberText(format, "duration"))
        duration = *value;
    else if (auto streamValue = video ? numberText(*video, "duration") : std::nullopt)
        duration = *streamValue;

    // A video file lasts until the end of its longest stream measured from 0, start offsets
    // included; an audio-only file keeps the container's duration.
    if (video) {
        for (const json* stream : streams) {
            if (!textEquals(*stream, "codec_type", "video") && !textEquals(*stream, "codec_type", "audio"))
                continue;
            auto start = numberText(*stream, "start_time");
            auto length = numberText(*stream, "duration");
            if (!start || !length || !std::isfinite(*start) || !std::isfinite(*length) || *length <= 0)
                continue;
            const double end = *start + *length;
            if (std::isfinite(end)) duration = std::max(duration, end);
        }
    }
    if (!std::isfinite(duration) || duration <= 0)
        throw MediaError(L("文件没有可读取的时长，可能已损坏或不是音视频。"));

    MediaInfo info;
    info.duration = duration;
    info.hasVideo = video != nullptr;
    info.audioTracks = audioTracks;
    info.hasAudio = audioTracks > 0;
    info.bytes = bytes;
    const json* rate = video ? member(*video, "avg_frame_rate") : nullptr;
    info.frameRate = rate && rate->is_string() ? frameRateFromText(rate->get_ref<const std::string&>())
                                               : kFallbackFrameRate;
    if (video) {
        info.width = integer(member(*video, "width")).value_or(0);
        info.height = integer(member(*video, "height")).value_or(0);
    }
    return info;
}

double frameRateFromText(std::string_view text) {
    std::vector<double> numbers;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find('/', begin);
        if (end == std::string_view::npos) end = text.size();
        auto piece = text.substr(begin, end - begin);
        if (!piece.empty())
            if (auto value = parseDecimal(piece)) numbers.push_back(*value);
        begin = end + 1;
    }
    if (numbers.size() != 2 || !(numbers[1] > 0)) return kFallbackFrameRate;
    const double rate = numbers[0] / numbers[1];
    // A rate of 0, a negative or an infinite one would break every frame computation after.
    return std::isfinite(rate) && rate > 0 ? rate : kFallbackFrameRate;
}

}  // namespace Runner
}  // namespace talvian
