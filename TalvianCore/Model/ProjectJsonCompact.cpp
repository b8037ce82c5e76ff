// The compact byte form of a review project, written straight into a string.
//
// The session backup rewrites this form after every edit; building a JSON tree first costs
// several milliseconds for a few thousand pauses, which an edit must not wait for. The output
// is the document the tree writer makes (sorted keys, "/" escaped, no whitespace), except that
// every number has its shortest exact digits where the library now and then prints a 17th.

#include <charconv>
#include <cmath>
#include <cstdio>

#include "Localization.h"
#include "ProjectJson.h"
#include "Support/UnicodeText.h"

namespace talvian::ProjectJson {

namespace {

class CompactWriter {
  public:
    std::string text;

    void key(std::string_view name, bool first = false) {
        if (!first) text += ',';
        text += '"';
        text += name;
        text += "\":";
    }

    void integer(std::int64_t value) {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text.append(buffer, result.ptr);
    }

    void boolean(bool value) { text += value ? "true" : "false"; }

    // The shortest digits that read back to the value, laid out as the JSON library lays out
    // doubles: plain notation with ".0" for whole numbers up to 15 digits, otherwise "1e+20".
    void number(double value) {
        if (!std::isfinite(value)) throw MediaError(L("数据中有无效的数值（非数字或无穷大）。"));
        if (std::signbit(value)) {
            text += '-';
            value = -value;
        }
        if (value == 0) {
            text += "0.0";
            return;
        }
        char buffer[40];
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
        const std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
        const auto e = scientific.find('e');
        std::string digits;
        for (char c : scientific.substr(0, e))
            if (c != '.') digits += c;
        int exponent = 0;
        std::from_chars(scientific.data() + e + (scientific[e + 1] == '+' ? 2 : 1),
                        scientific.data() + scientific.size(), exponent);
        const int k = static_cast<int>(digits.size());
        const int n = exponent + 1;  // position of the decimal point
        constexpr int kMaxPlain = 15, kMinPlain = -4;
        if (k <= n && n <= kMaxPlain) {
            text += digits;
            text.append(static_cast<std::size_t>(n - k), '0');
            text += ".0";
        } else if (0 < n && n <= kMaxPlain) {
            text += digits.substr(0, static_cast<std::size_t>(n));
            text += '.';
            text += digits.substr(static_cast<std::size_t>(n));
        } else if (kMinPlain < n && n <= 0) {
            text += "0.";
            text.append(static_cast<std::size_t>(-n), '0');
            text += digits;
        } else {
            text += digits[0];
            if (k > 1) {
                text += '.';
                text += digits.substr(1);
            }
            char exponentText[16];
            std::snprintf(exponentText, sizeof exponentText, "e%c%02d", n - 1 < 0 ? '-' : '+',
                          std::abs(n - 1));
            text += exponentText;
        }
    }

    void string(std::string_view value) {
        if (!isValidUtf8(value)) throw MediaError(L("数据中有不是 UTF-8 编码的文本。"));
        text += '"';
        for (unsigned char c : value) {
            switch (c) {
                case '"':
                    text += "\\\"";
                    break;
                case '\\':
                    text += "\\\\";
                    break;
                case '/':
                    text += "\\/";
                    break;
                case '\b':
                    text += "\\b";
                    break;
                case '\f':
                    text += "\\f";
                    break;
                case '\n':
                    text += "\\n";
                    break;
                case '\r':
                    text += "\\r";
                    break;
                case '\t':
                    text += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                        text += escaped;
                    } else {
                        text += static_cast<char>(c);
                    }
            }
        }
        text += '"';
    }
};

}  // namespace

std::string encodeCompactDocument(const CutProject& project) {
    CompactWriter out;
    out.text.reserve(160 + project.cuts.size() * 110 + project.waveform.size() * 20);
    out.text += '{';
    out.key("cuts", true);
    out.text += '[';
    for (std::size_t i = 0; i < project.cuts.size(); ++i) {
        const CutRegion& cut = project.cuts[i];
        if (i > 0) out.text += ',';
        out.text += '{';
        out.key("end", true);
        out.number(cut.end);
        out.key("id");
        out.string(cut.id.string());
        out.key("remove");
        out.boolean(cut.remove);
        out.key("start");
        out.number(cut.start);
        out.text += '}';
    }
    out.text += ']';
    if (project.diagnostics) {
        const auto& diagnostics = *project.diagnostics;
        out.key("diagnostics");
        out.text += '{';
        out.key("dynamicRangeDB", true);
        out.number(diagnostics.dynamicRangeDB);
        out.key("noiseFloorDB");
        out.number(diagnostics.noiseFloorDB);
        out.key("thresholdDB");
        out.number(diagnostics.thresholdDB);
        if (diagnostics.warning) {
            out.key("warning");
            out.string(*diagnostics.warning);
        }
        out.text += '}';
    }
    if (project.effectiveThresholdDB) {
        out.key("effectiveThresholdDB");
        out.number(*project.effectiveThresholdDB);
    }
    out.key("info");
    out.text += '{';
    out.key("audioTracks", true);
    out.integer(project.info.audioTracks);
    out.key("bytes");
    out.integer(project.info.bytes);
    out.key("duration");
    out.number(project.info.duration);
    out.key("frameRate");
    out.number(project.info.frameRate);
    out.key("hasAudio");
    out.boolean(project.info.hasAudio);
    out.key("hasVideo");
    out.boolean(project.info.hasVideo);
    out.key("height");
    out.integer(project.info.height);
    out.key("width");
    out.integer(project.info.width);
    out.text += '}';
    out.key("modifiedAt");
    out.number(project.modifiedAt);
    out.key("options");
    out.text += '{';
    out.key("minimumSilence", true);
    out.number(project.options.minimumSilence);
    out.key("mode");
    out.string(rawValue(project.options.mode));
    out.key("padding");
    out.number(project.options.padding);
    if (project.options.paddingRight) {
        out.key("paddingRight");
        out.number(*project.options.paddingRight);
    }
    out.key("thresholdDB");
    out.number(project.options.thresholdDB);
    out.text += '}';
    if (project.packagedSource) {
        out.key("packagedSource");
        out.text += '{';
        out.key("relativePath", true);
        out.string(project.packagedSource->relativePath);
        out.key("sha256");
        out.string(project.packagedSource->sha256);
        out.text += '}';
    }
    out.key("source");
    out.string(project.source);
    out.key("sourceBytes");
    out.integer(project.sourceBytes);
    if (project.sourceSHA256) {
        out.key("sourceSHA256");
        out.string(*project.sourceSHA256);
    }
    out.key("version");
    out.integer(project.version);
    out.key("waveform");
    out.text += '[';
    for (std::size_t i = 0; i < project.waveform.size(); ++i) {
        if (i > 0) out.text += ',';
        out.number(project.waveform[i]);
    }
    out.text += "]}";
    return std::move(out.text);
}

}  // namespace talvian::ProjectJson
