#include "SupportDiagnostics.h"

#include <sys/utsname.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "Model/Localization.h"
#include "Process/MediaProbe.h"
#include "Support/AsciiCharacters.h"
#include "Support/NumberText.h"
#include "Support/UnicodeText.h"

namespace talvian {

namespace {

constexpr std::string_view kMissing = "—";  // U+2014 for every missing or refused value
// The first processor block of /proc/cpuinfo holds the model name; big machines list
// hundreds of blocks, which the report does not need.
constexpr std::streamsize kCpuinfoReadLimit = 64 * 1024;
// Keeps the processor line one readable line; real model names are well below this.
constexpr std::size_t kMaximumProcessorNameLength = 128;
constexpr std::int64_t kMaximumChannels = 64;

// One to four dot-separated groups of ASCII digits ("1", "1.2.3.4").
bool isVersionNumber(std::string_view text) {
    std::size_t groups = 0;
    for (std::size_t start = 0;; ++groups) {
        auto dot = text.find('.', start);
        auto group = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (group.empty() || !std::all_of(group.begin(), group.end(), isAsciiDigit)) return false;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return groups + 1 <= 4;
}

// A processor model name of plain ASCII words ("AMD Ryzen 7 5800X 8-Core Processor",
// "Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz", "x86_64"): single spaces, no control or
// other characters, bounded length.
bool isProcessorName(std::string_view text) {
    if (text.empty() || text.size() > kMaximumProcessorNameLength) return false;
    if (text.front() == ' ' || text.back() == ' ' || text.find("  ") != std::string_view::npos) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return isAsciiAlphanumeric(c) || std::string_view(" ()@.,:+/_-").find(c) != std::string_view::npos;
    });
}

// The ISO 639 language codes ICU knows (two letters where one exists, else three).
bool isLanguageCode(std::string_view text) {
    static const std::set<std::string, std::less<>> codes = [] {
        std::set<std::string, std::less<>> result;
        for (const char* const* code = uloc_getISOLanguages(); code && *code; ++code) result.emplace(*code);
        return result;
    }();
    return codes.contains(text);
}

// The codecs the report names; any other name (which a tool or a file could make up) is left out.
bool isReportedCodec(std::string_view name) {
    static constexpr std::string_view kCodecs[] = {
        "h264",       "hevc",      "av1",       "vp8",       "vp9",       "prores",    "mpeg4",
        "mpeg2video", "mjpeg",     "aac",       "alac",      "mp3",       "flac",      "opus",
        "vorbis",     "ac3",       "eac3",      "dts",       "pcm_s16le", "pcm_s24le", "pcm_s32le",
        "pcm_f32le",  "pcm_f64le", "pcm_s16be", "pcm_s24be", "pcm_s32be"};
    return std::find(std::begin(kCodecs), std::end(kCodecs), name) != std::end(kCodecs);
}

// Three decimals with a point, independent of the process locale; "—" for negative or
// non-finite values.
std::string decimal(double value) {
    if (!std::isfinite(value) || value < 0) return std::string(kMissing);
    value += 0.0;  // −0 prints as 0.000
    auto text = fixedDecimal(value, 3);
    return text.empty() ? std::string(kMissing) : text;
}

std::string line(std::string_view label, std::string_view value) {
    std::string result(label);
    result += value;
    result += '\n';
    return result;
}

}  // namespace

DiagnosticMedia::DiagnosticMedia(const MediaInfo& info, std::vector<std::string> codecs,
                                 std::optional<std::int64_t> channels)
    : duration(info.duration),
      width(info.width),
      height(info.height),
      frameRate(info.frameRate),
      codecs(std::move(codecs)),
      channels(channels) {}

namespace SupportDiagnostics {

std::string text(std::string_view version, std::string_view build, const OperatingSystemVersion& system,
                 std::string_view chip, std::string_view language,
                 const std::optional<std::string>& lastError, const std::optional<DiagnosticMedia>& media) {
    auto nonNegative = [](std::int64_t value) { return std::to_string(std::max<std::int64_t>(value, 0)); };
    std::string report;
    report += line("Version: ", isVersionNumber(version) ? version : kMissing);
    report += line("Build: ", isVersionNumber(build) ? build : kMissing);
    report += line("Linux: ", nonNegative(system.major) + "." + nonNegative(system.minor) + "." +
                                  nonNegative(system.patch));
    report += line("Chip: ", isProcessorName(chip) ? chip : kMissing);
    report += line("Language: ", isLanguageCode(language) ? language : kMissing);
    report += line("Last error: ", privateError(lastError));
    if (!media) return report;

    report += line("Duration (s): ", decimal(media->duration));
    report += line("Resolution: ", nonNegative(media->width) + " × " + nonNegative(media->height));
    report += line("Frame rate: ", decimal(media->frameRate));
    std::string encoding;
    for (const auto& codec : media->codecs) {
        if (!isReportedCodec(codec)) continue;
        if (!encoding.empty()) encoding += ", ";
        encoding += codec;
    }
    report += line("Encoding: ", encoding.empty() ? kMissing : std::string_view(encoding));
    auto channels = media->channels;
    bool validChannels = channels && *channels >= 1 && *channels <= kMaximumChannels;
    report += line("Channels: ", validChannels ? std::to_string(*channels) : std::string(kMissing));
    return report;
}

std::string privateError(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::string(kMissing);
    // Taken through L at each call, so they match the texts the user actually saw.
    const std::string known[] = {
        OperationCancelled().message(),
        L("处理被中断。原片和已有剪辑已保留，可稍后重试。"),
        L("处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。"),
        L("无法读取音频采样率或声道信息。"),
        L("找不到素材文件，请重新导入。"),
        L("全部内容都被标为删除了。请恢复至少一段内容后再导出。"),
        L("磁盘空间不足。当前剪辑已保留。"),
    };
    if (std::find(std::begin(known), std::end(known), *text) != std::end(known)) return *text;
    return L("发生错误。为保护隐私，详细错误文案已省略。");
}

OperatingSystemVersion kernelVersion(std::string_view release) {
    std::int64_t parts[3] = {0, 0, 0};
    const char* cursor = release.data();
    const char* end = release.data() + release.size();
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (cursor == end || *cursor != '.') break;
            ++cursor;
        }
        auto [next, error] = std::from_chars(cursor, end, parts[i]);
        if (error != std::errc()) {
            parts[i] = 0;
            break;
        }
        cursor = next;
    }
    return {parts[0], parts[1], parts[2]};
}

std::string modelName(std::string_view cpuinfo) {
    constexpr std::string_view kKey = "model name";
    while (!cpuinfo.empty()) {
        auto newline = cpuinfo.find('\n');
        auto row = cpuinfo.substr(0, newline);
        cpuinfo = newline == std::string_view::npos ? std::string_view() : cpuinfo.substr(newline + 1);
        if (!row.starts_with(kKey)) continue;
        auto rest = row.substr(kKey.size());
        auto colon = rest.find(':');
        if (colon == std::string_view::npos || !trimmed(rest.substr(0, colon)).empty()) continue;
        std::string name;
        for (char c : rest.substr(colon + 1)) {
            // Bytes of other characters are kept as they are; isProcessorName refuses them.
            const bool space =
                static_cast<unsigned char>(c) < 0x80 && isWhiteSpace(static_cast<unsigned char>(c));
            if (space && (name.empty() || name.back() == ' ')) continue;
            name.push_back(space ? ' ' : c);
        }
        if (!name.empty() && name.back() == ' ') name.pop_back();
        return name;
    }
    return {};
}

DiagnosticStreams probeStreams(const std::filesystem::path& source) {
    DiagnosticStreams facts;
    try {
        const ProbeQuery query{.show = {"-show_entries", "stream=codec_type,codec_name,channels"},
                               .timeLimitSeconds = kProbeTimeLimitSeconds};
        bool firstAudio = true;
        for (const auto& stream :
             MediaProbe::streams(MediaProbe::runJson(query, source, makeCancellation()))) {
            if (stream.codecType != "audio" && stream.codecType != "video") continue;
            if (stream.codecName) facts.codecs.push_back(*stream.codecName);
            if (stream.codecType == "audio" && firstAudio) {
                firstAudio = false;
                facts.channels = stream.channels;
            }
        }
    } catch (...) {
        return {};
    }
    return facts;
}

OperatingSystemVersion systemVersion() {
    struct utsname names {};
    if (::uname(&names) != 0) return {};
    return kernelVersion(names.release);
}

std::string processorName() {
    std::ifstream file("/proc/cpuinfo", std::ios::binary);
    std::string cpuinfo(static_cast<std::size_t>(kCpuinfoReadLimit), '\0');
    file.read(cpuinfo.data(), kCpuinfoReadLimit);
    cpuinfo.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    if (auto name = modelName(cpuinfo); !name.empty()) return name;
    struct utsname names {};
    if (::uname(&names) != 0) return {};
    return names.machine;
}

}  // namespace SupportDiagnostics

}  // namespace talvian
