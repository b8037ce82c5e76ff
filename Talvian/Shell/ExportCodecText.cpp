#include "ExportCodecText.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <array>
#include <string_view>

namespace fs = std::filesystem;

namespace talvian::ExportCodecText {

namespace {

// PQ and HLG: the re-encode keeps a wide-range picture in HEVC.
constexpr std::array<std::string_view, 2> kWideRangeTransfers{"smpte2084", "arib-std-b67"};
// Pixel formats H.264 takes as they are.
constexpr std::array<std::string_view, 12> kEightBitFormats{"yuv420p", "yuvj420p", "yuv422p", "yuv444p",
                                                            "nv12",    "rgb24",    "bgr24",   "rgba",
                                                            "bgra",    "argb",     "abgr",    "gray"};

bool hasHighDepth(const std::string& pixelFormat) {
    static const QRegularExpression pattern(QStringLiteral("p(10|12|14|16)|rgb48|rgba64|gray16"));
    return pattern.match(QString::fromStdString(pixelFormat)).hasMatch();
}

}  // namespace

std::string displayName(const std::string& codecName) {
    if (codecName == "h264") return "H.264";
    if (codecName == "hevc") return "HEVC";
    if (codecName == "aac") return "AAC";
    if (codecName == "alac") return "ALAC";
    return QString::fromStdString(codecName).toUpper().toStdString();
}

std::optional<std::string> codecs(const ProbedStream& video, const std::optional<ProbedStream>& audio,
                                  bool copiesOriginal, std::optional<std::int64_t> channels) {
    if (copiesOriginal) {
        if (!video.codecName) return std::nullopt;
        std::string text = displayName(*video.codecName);
        if (audio && audio->codecName) text += ", " + displayName(*audio->codecName);
        return text;
    }
    const std::string format = video.pixelFormat.value_or("");
    // A depth that is not stated (or not as a decimal text) counts as 0: the format decides.
    const std::int64_t depth = video.bitsPerRawSample.value_or(0);
    const std::string transfer = video.colorTransfer.value_or("");
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

std::optional<std::string> summary(const CodecStreams& streams, bool copiesOriginal,
                                   std::optional<std::int64_t> channels) {
    if (!streams.video) return std::nullopt;
    return codecs(*streams.video, streams.audio, copiesOriginal, channels);
}

std::optional<std::string> read(const fs::path& source, bool copiesOriginal,
                                std::optional<std::int64_t> channels, const CancellationToken& cancellation) {
    return summary(CodecProbe::read(source, cancellation), copiesOriginal, channels);
}

}  // namespace talvian::ExportCodecText
