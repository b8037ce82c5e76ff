#include "ExportCodecText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

#include "Model/Localization.h"
#include "Process/Dependencies.h"
#include "Process/Runner.h"

namespace fs = std::filesystem;

namespace talvian::StudioVideoMetadata {

namespace {

// PQ and HLG: the re-encode keeps a wide-range picture in HEVC.
constexpr std::array<std::string_view, 2> kWideRangeTransfers{"smpte2084", "arib-std-b67"};
// Pixel formats H.264 takes as they are.
constexpr std::array<std::string_view, 12> kEightBitFormats{"yuv420p", "yuvj420p", "yuv422p", "yuv444p",
                                                            "nv12",    "rgb24",    "bgr24",   "rgba",
                                                            "bgra",    "argb",     "abgr",    "gray"};

// A value of the stream, only when it is a string.
std::optional<std::string> stringField(const QJsonObject& stream, const char* key) {
    const QJsonValue value = stream.value(QLatin1String(key));
    if (!value.isString()) return std::nullopt;
    return value.toString().toStdString();
}

// A decimal integer with an optional sign, the whole text; 0 otherwise.
long long decimal(const std::string& text) {
    std::string_view digits(text);
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    long long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return 0;
    return negative ? -value : value;
}

bool hasHighDepth(const std::string& pixelFormat) {
    static const QRegularExpression pattern(QStringLiteral("p(10|12|14|16)|rgb48|rgba64|gray16"));
    return pattern.match(QString::fromStdString(pixelFormat)).hasMatch();
}

}  // namespace

std::vector<std::string> probeArguments(const fs::path& source) {
    return {"-v",
            "error",
            "-show_entries",
            "stream=codec_type,codec_name,pix_fmt,bits_per_raw_sample,color_transfer",
            "-of",
            "json",
            source.string()};
}

std::string displayName(const std::string& codecName) {
    if (codecName == "h264") return "H.264";
    if (codecName == "hevc") return "HEVC";
    if (codecName == "aac") return "AAC";
    if (codecName == "alac") return "ALAC";
    return QString::fromStdString(codecName).toUpper().toStdString();
}

std::optional<std::string> codecs(const QJsonObject& video, const std::optional<QJsonObject>& audio,
                                  bool copiesOriginal, std::optional<std::int64_t> channels) {
    if (copiesOriginal) {
        const auto videoName = stringField(video, "codec_name");
        if (!videoName) return std::nullopt;
        std::string summary = displayName(*videoName);
        if (audio)
            if (const auto audioName = stringField(*audio, "codec_name"))
                summary += ", " + displayName(*audioName);
        return summary;
    }
    const std::string format = stringField(video, "pix_fmt").value_or("");
    const long long depth = decimal(stringField(video, "bits_per_raw_sample").value_or(""));
    const std::string transfer = stringField(video, "color_transfer").value_or("");
    std::string picture;
    if (depth > 8 || std::find(kWideRangeTransfers.begin(), kWideRangeTransfers.end(), transfer) !=
                         kWideRangeTransfers.end())
        picture = "HEVC";
    else if (depth == 8)
        picture = hasHighDepth(format) ? "HEVC" : "H.264";
    else if (hasHighDepth(format))
        picture = "HEVC";
    else if (std::find(kEightBitFormats.begin(), kEightBitFormats.end(), format) != kEightBitFormats.end())
        picture = "H.264";
    else
        return std::nullopt;
    if (!channels) return picture;
    return picture + (*channels >= 3 ? ", ALAC" : ", AAC");
}

std::optional<std::string> summarize(const std::string& probeOutput, bool copiesOriginal,
                                     std::optional<std::int64_t> channels) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(probeOutput), &error);
    if (error.error != QJsonParseError::NoError) throw MediaError(L("无法读取媒体信息。"));
    std::vector<QJsonObject> streams;
    if (document.isObject()) {
        const QJsonValue list = document.object().value(QStringLiteral("streams"));
        if (list.isArray()) {
            for (const QJsonValue& stream : list.toArray()) {
                // One element that is not an object makes the list unusable as a whole.
                if (!stream.isObject()) {
                    streams.clear();
                    break;
                }
                streams.push_back(stream.toObject());
            }
        }
    }
    const auto ofType = [&](const char* type) -> std::optional<QJsonObject> {
        for (const QJsonObject& stream : streams)
            if (stringField(stream, "codec_type") == type) return stream;
        return std::nullopt;
    };
    const auto video = ofType("video");
    if (!video) return std::nullopt;
    return codecs(*video, ofType("audio"), copiesOriginal, channels);
}

std::optional<std::string> read(const fs::path& source, bool copiesOriginal,
                                std::optional<std::int64_t> channels, const CancellationToken& cancellation,
                                const ToolLocator& locate) {
    const fs::path ffprobe = locate ? locate() : Dependencies::require("ffprobe");
    const ProcessResult result = Runner::run(ffprobe, probeArguments(source), cancellation, kTimeoutSeconds);
    return summarize(result.stdout, copiesOriginal, channels);
}

}  // namespace talvian::StudioVideoMetadata
