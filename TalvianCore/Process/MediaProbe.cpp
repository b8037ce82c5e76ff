#include "MediaProbe.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Dependencies.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Model/NumberText.h"
#include "Runner.h"

namespace talvian {

namespace {

using nlohmann::json;

// The frame rate when a file's own cannot be read (no video, "0/0", garbage).
constexpr double kFallbackFrameRate = 30.0;

MediaError audioStreamError() {
    return MediaError(L("无法读取音频的采样率或声道。"));
}

// ffprobe's answers are small; a non-JSON answer is judged by the caller, never shown.
json parseAnswer(std::string_view text) {
    return json::parse(text.begin(), text.end(), nullptr, false);
}

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

AudioStreamInfo::AudioStreamInfo(std::int64_t sampleRate, std::int64_t channels)
    : sampleRate(sampleRate), channels(channels) {
    if (sampleRate < 1 || sampleRate > kMaximumSampleRate || channels < 1 || channels > kMaximumChannels)
        throw audioStreamError();
}

AudioStreamInfo AudioStreamInfo::read(const std::filesystem::path& file,
                                      const CancellationToken& cancellation) {
    auto ffprobe = Dependencies::require("ffprobe");
    auto result = Runner::run(ffprobe,
                              {"-v", "error", "-select_streams", "a:0", "-show_entries",
                               "stream=sample_rate,channels", "-of", "json", file.string()},
                              cancellation, Runner::kProbeTimeoutSeconds);
    return fromProbeOutput(result.stdout);
}

AudioStreamInfo AudioStreamInfo::fromProbeOutput(std::string_view text) {
    const json top = parseAnswer(text);
    const json* streams = member(top, "streams");
    if (!streams || !streams->is_array() || streams->empty() || !streams->front().is_object())
        throw audioStreamError();
    const json& first = streams->front();
    const json* rate = member(first, "sample_rate");
    if (!rate || !rate->is_string()) throw audioStreamError();
    auto sampleRate = parseInteger(rate->get_ref<const std::string&>());
    auto channels = integer(member(first, "channels"));
    if (!sampleRate || !channels) throw audioStreamError();
    return AudioStreamInfo(*sampleRate, *channels);
}

namespace Runner {

MediaInfo probe(const std::filesystem::path& file, const CancellationToken& cancellation) {
    auto ffprobe = Dependencies::require("ffprobe");
    auto result = run(ffprobe, {"-v", "error", "-show_format", "-show_streams", "-of", "json", file.string()},
                      cancellation, kProbeTimeoutSeconds);
    return mediaInfoFromProbeOutput(result.stdout, fileBytes(file));
}

MediaInfo mediaInfoFromProbeOutput(std::string_view text, std::int64_t bytes) {
    const json top = parseAnswer(text);
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
