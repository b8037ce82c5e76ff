#include "SupportDiagnostics.h"

#include <sys/utsname.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <set>

#include "Model/FileSystem.h"
#include "Model/Localization.h"
#include "Model/NumberText.h"

namespace talvian {

namespace {

constexpr std::string_view kMissing = "—";  // U+2014 for every missing or refused value
// Info.json is a handful of keys; anything larger is not ours.
constexpr std::size_t kInfoDictionaryLimit = 1 << 20;
// The first processor block of /proc/cpuinfo holds the model name; big machines list
// hundreds of blocks, which the report does not need.
constexpr std::streamsize kCpuinfoReadLimit = 64 * 1024;
// Keeps the processor line one readable line; real model names are well below this.
constexpr std::size_t kMaximumProcessorNameLength = 128;
constexpr std::int64_t kMaximumChannels = 64;

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isAsciiAlphanumeric(char c) {
    return isAsciiDigit(c) || isAsciiLetter(c);
}
bool isHexDigit(char c) {
    return isAsciiDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// White space and line breaks, Unicode ones included (no-break and ideographic spaces
// are common in pasted text).
constexpr std::array<std::string_view, 25> kSpaces = {
    " ",      "\t",     "\n",     "\r",     "\v",     "\f",     "\u0085", "\u00A0", "\u1680",
    "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
    "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};

std::string_view trimmed(std::string_view text) {
    for (bool changed = true; changed && !text.empty();) {
        changed = false;
        for (auto space : kSpaces) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                changed = true;
            }
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                changed = true;
            }
        }
    }
    return text;
}

// A text value of the Info dictionary, trimmed; absent when missing, not text or empty.
std::optional<std::string> infoText(const nlohmann::json& info, const char* key) {
    if (!info.is_object()) return std::nullopt;
    auto found = info.find(key);
    if (found == info.end() || !found->is_string()) return std::nullopt;
    auto text = trimmed(found->get_ref<const std::string&>());
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

// Characters a URL may hold as written (RFC 3986: unreserved, reserved, percent escapes).
bool isURLCharacter(char c) {
    return isAsciiAlphanumeric(c) ||
           std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

// An address with the scheme "https" exactly as written and a non-empty host.
std::optional<std::string> httpsAddress(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::string_view url = *text;
    constexpr std::string_view kPrefix = "https://";
    if (!url.starts_with(kPrefix)) return std::nullopt;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (!isURLCharacter(url[i])) return std::nullopt;
        if (url[i] == '%' && (i + 2 >= url.size() || !isHexDigit(url[i + 1]) || !isHexDigit(url[i + 2])))
            return std::nullopt;
    }
    auto authority = url.substr(kPrefix.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = authority;
    if (host.starts_with('[')) {
        auto close = host.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        auto port = host.substr(close + 1);
        if (!port.empty() && !port.starts_with(':')) return std::nullopt;
        host = host.substr(1, close - 1);
    } else if (auto colon = host.find(':'); colon != std::string_view::npos) {
        auto port = host.substr(colon + 1);
        if (!std::all_of(port.begin(), port.end(), isAsciiDigit)) return std::nullopt;
        host = host.substr(0, colon);
    }
    if (host.empty() || host.find_first_of("[]") != std::string_view::npos) return std::nullopt;
    return std::string(url);
}

bool isMailLocalCharacter(char c) {
    return isAsciiAlphanumeric(c) ||
           std::string_view(".!#$%&'*+/=?^_`{|}~-").find(c) != std::string_view::npos;
}

// The shape local@domain.tld: a local part of the usual characters, a domain of letters,
// digits, dots and hyphens, and a top-level part of at least two letters.
bool isMailAddress(std::string_view text) {
    auto at = text.find('@');
    if (at == std::string_view::npos || at == 0) return false;
    auto local = text.substr(0, at);
    auto domain = text.substr(at + 1);
    if (!std::all_of(local.begin(), local.end(), isMailLocalCharacter)) return false;
    auto dot = domain.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    auto name = domain.substr(0, dot);
    auto top = domain.substr(dot + 1);
    auto isDomainCharacter = [](char c) { return isAsciiAlphanumeric(c) || c == '.' || c == '-'; };
    return std::all_of(name.begin(), name.end(), isDomainCharacter) && top.size() >= 2 &&
           std::all_of(top.begin(), top.end(), isAsciiLetter);
}

// "mailto:" and the address as the URL's path: characters a path may not hold as written
// ("#", "?", "%" …, allowed in an address) are percent-escaped so the link stays one address.
std::string mailtoURL(std::string_view address) {
    constexpr std::string_view kPathCharacters = "!$&'()*+,-./:;=@_~";
    std::string url = "mailto:";
    for (char c : address) {
        if (isAsciiAlphanumeric(c) || kPathCharacters.find(c) != std::string_view::npos) {
            url.push_back(c);
        } else {
            constexpr char kHex[] = "0123456789ABCDEF";
            auto byte = static_cast<unsigned char>(c);
            url += {'%', kHex[byte >> 4], kHex[byte & 0xF]};
        }
    }
    return url;
}

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

AppServiceConfiguration::AppServiceConfiguration(const nlohmann::json& info)
    : feedURL(httpsAddress(infoText(info, "SUFeedURL"))),
      publicKey(infoText(info, "SUPublicEDKey")),
      guideURL(httpsAddress(infoText(info, "TalvianGuideURL"))) {
    if (auto address = infoText(info, "TalvianSupportEmail"); address && isMailAddress(*address))
        supportURL = mailtoURL(*address);
}

nlohmann::json readInfoDictionary(const std::filesystem::path& path) {
    try {
        auto json = nlohmann::json::parse(readFileLimited(path, kInfoDictionaryLimit, ""), nullptr,
                                          /*allow_exceptions=*/false);
        if (json.is_object()) return json;
    } catch (const std::exception&) {
        // A missing or unreadable file is an empty dictionary: every setting stays absent.
    }
    return nlohmann::json::object();
}

nlohmann::json readInfoDictionary() {
    return readInfoDictionary(resourcesFolder() / "Info.json");
}

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
        if (colon == std::string_view::npos ||
            rest.substr(0, colon).find_first_not_of(" \t") != std::string_view::npos)
            continue;
        std::string name;
        for (char c : rest.substr(colon + 1)) {
            bool space = c == ' ' || c == '\t' || c == '\r';
            if (space && (name.empty() || name.back() == ' ')) continue;
            name.push_back(space ? ' ' : c);
        }
        if (!name.empty() && name.back() == ' ') name.pop_back();
        return name;
    }
    return {};
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
