#include "ProjectJson.h"

#include <cmath>
#include <limits>

#include "Localization.h"

namespace talvian {

namespace ProjectJson {

namespace {

using nlohmann::json;

[[noreturn]] void wrongType(const std::string& path) {
    throw MediaError(L("项目文件格式无效：“%@”的类型不对。", path.empty() ? L("顶层") : path));
}

[[noreturn]] void missing(const std::string& path) {
    throw MediaError(L("项目文件格式无效：缺少“%@”。", path));
}

std::string elementPath(const std::string& arrayPath, std::size_t index) {
    return arrayPath + "[" + std::to_string(index) + "]";
}

bool hasNonFiniteNumber(const json& value) {
    switch (value.type()) {
        case json::value_t::number_float:
            return !std::isfinite(value.get<double>());
        case json::value_t::object:
        case json::value_t::array:
            for (const auto& element : value)
                if (hasNonFiniteNumber(element)) return true;
            return false;
        default:
            return false;
    }
}

json diagnosticsJson(const DetectionDiagnostics& diagnostics) {
    json object = {{"noiseFloorDB", diagnostics.noiseFloorDB},
                   {"thresholdDB", diagnostics.thresholdDB},
                   {"dynamicRangeDB", diagnostics.dynamicRangeDB}};
    if (diagnostics.warning) object["warning"] = *diagnostics.warning;
    return object;
}

MediaInfo readInfo(const ObjectReader& reader) {
    MediaInfo info;
    info.duration = reader.number("duration");
    info.width = reader.int64("width");
    info.height = reader.int64("height");
    info.hasVideo = reader.boolean("hasVideo");
    info.hasAudio = reader.boolean("hasAudio");
    info.audioTracks = reader.int64("audioTracks");
    info.bytes = reader.int64("bytes");
    info.frameRate = reader.number("frameRate");
    return info;
}

CutOptions readOptions(const ObjectReader& reader) {
    CutOptions options;
    options.mode = DetectionMode::fixed;
    if (auto mode = reader.optionalString("mode")) {
        auto parsed = detectionModeFromRaw(*mode);
        if (!parsed) throw MediaError(L("项目文件格式无效：未知的检测模式“%@”。", *mode));
        options.mode = *parsed;
    }
    options.thresholdDB = reader.number("thresholdDB");
    options.minimumSilence = reader.number("minimumSilence");
    options.padding = reader.number("padding");
    options.paddingRight = reader.optionalNumber("paddingRight");
    return options;
}

}  // namespace

// ---- Strict readers ---------------------------------------------------------------------

std::int64_t readInt64(const json& value, const std::string& path) {
    switch (value.type()) {
        case json::value_t::number_integer:
            return value.get<std::int64_t>();
        case json::value_t::number_unsigned: {
            auto unsignedValue = value.get<std::uint64_t>();
            if (unsignedValue <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return static_cast<std::int64_t>(unsignedValue);
            break;
        }
        // A number with a fraction or exponent is refused even when it looks whole: its double may
        // be the rounding of a different text (2^63 + 1, 5.0000000000000001).
        case json::value_t::number_float:
            break;
        default:
            wrongType(path);
    }
    throw MediaError(L("项目文件格式无效：“%@”不是有效的整数。", path));
}

double readNumber(const json& value, const std::string& path) {
    if (!value.is_number()) wrongType(path);
    double number = value.get<double>();
    if (!std::isfinite(number)) throw MediaError(L("项目文件格式无效：“%@”不是有效的数值。", path));
    return number;
}

ObjectReader::ObjectReader(const json& value, std::string path) : value_(value), path_(std::move(path)) {
    if (!value_.is_object()) wrongType(path_);
}

std::string ObjectReader::pathOf(std::string_view key) const {
    return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
}

const json* ObjectReader::optional(std::string_view key) const {
    auto found = value_.find(key);
    if (found == value_.end() || found->is_null()) return nullptr;
    return &*found;
}

const json& ObjectReader::require(std::string_view key) const {
    const json* member = optional(key);
    if (!member) missing(pathOf(key));
    return *member;
}

std::int64_t ObjectReader::int64(std::string_view key) const {
    return readInt64(require(key), pathOf(key));
}

double ObjectReader::number(std::string_view key) const {
    return readNumber(require(key), pathOf(key));
}

bool ObjectReader::boolean(std::string_view key) const {
    const json& member = require(key);
    if (!member.is_boolean()) wrongType(pathOf(key));
    return member.get<bool>();
}

std::string ObjectReader::string(std::string_view key) const {
    const json& member = require(key);
    if (!member.is_string()) wrongType(pathOf(key));
    return member.get<std::string>();
}

Uuid ObjectReader::uuid(std::string_view key) const {
    auto parsed = Uuid::parse(string(key));
    if (!parsed) throw MediaError(L("项目文件格式无效：“%@”不是有效的标识。", pathOf(key)));
    return *parsed;
}

const json& ObjectReader::array(std::string_view key) const {
    const json& member = require(key);
    if (!member.is_array()) wrongType(pathOf(key));
    return member;
}

ObjectReader ObjectReader::object(std::string_view key) const {
    return ObjectReader(require(key), pathOf(key));
}

std::optional<double> ObjectReader::optionalNumber(std::string_view key) const {
    const json* member = optional(key);
    if (!member) return std::nullopt;
    return readNumber(*member, pathOf(key));
}

std::optional<std::string> ObjectReader::optionalString(std::string_view key) const {
    const json* member = optional(key);
    if (!member) return std::nullopt;
    if (!member->is_string()) wrongType(pathOf(key));
    return member->get<std::string>();
}

// ---- Shared JSON text -------------------------------------------------------------------

std::string escapeSlashes(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c == '/') result += '\\';
        result += c;
    }
    return result;
}

std::string dump(const json& value, Style style) {
    // The encoder would write NaN and infinity as null, which no reader takes back as a number.
    if (hasNonFiniteNumber(value)) throw MediaError(L("数据中有无效的数值（非数字或无穷大）。"));
    try {
        // nlohmann's objects are ordered maps, so the keys come out sorted.
        return escapeSlashes(value.dump(style == Style::pretty ? 2 : -1));
    } catch (const json::type_error&) {
        throw MediaError(L("数据中有不是 UTF-8 编码的文本。"));
    }
}

json parse(std::string_view bytes) {
    try {
        return json::parse(bytes.begin(), bytes.end());
    } catch (const json::exception&) {
        throw MediaError(L("项目文件不是有效的 JSON 文本。"));
    }
}

// ---- Review projects --------------------------------------------------------------------

json toJson(const CutProject& project) {
    json options = {{"mode", rawValue(project.options.mode)},
                    {"thresholdDB", project.options.thresholdDB},
                    {"minimumSilence", project.options.minimumSilence},
                    {"padding", project.options.padding}};
    if (project.options.paddingRight) options["paddingRight"] = *project.options.paddingRight;

    const MediaInfo& info = project.info;
    json infoObject = {{"duration", info.duration}, {"width", info.width},
                       {"height", info.height},     {"hasVideo", info.hasVideo},
                       {"hasAudio", info.hasAudio}, {"audioTracks", info.audioTracks},
                       {"bytes", info.bytes},       {"frameRate", info.frameRate}};

    json cuts = json::array();
    for (const auto& cut : project.cuts)
        cuts.push_back(
            {{"id", cut.id.string()}, {"start", cut.start}, {"end", cut.end}, {"remove", cut.remove}});

    json waveform = json::array();
    for (double value : project.waveform) waveform.push_back(value);

    json document = {{"version", project.version},
                     {"source", project.source},
                     {"sourceBytes", project.sourceBytes},
                     {"modifiedAt", project.modifiedAt},
                     {"info", std::move(infoObject)},
                     {"options", std::move(options)},
                     {"cuts", std::move(cuts)},
                     {"waveform", std::move(waveform)}};
    if (project.diagnostics) document["diagnostics"] = diagnosticsJson(*project.diagnostics);
    if (project.effectiveThresholdDB) document["effectiveThresholdDB"] = *project.effectiveThresholdDB;
    if (project.packagedSource)
        document["packagedSource"] = {{"relativePath", project.packagedSource->relativePath},
                                      {"sha256", project.packagedSource->sha256}};
    if (project.sourceSHA256) document["sourceSHA256"] = *project.sourceSHA256;
    return document;
}

CutProject fromJson(const json& value, const std::string& path) {
    ObjectReader reader(value, path);
    CutProject project;
    project.version = reader.int64("version");
    project.source = reader.string("source");
    project.sourceBytes = reader.int64("sourceBytes");
    project.modifiedAt = reader.number("modifiedAt");
    project.info = readInfo(reader.object("info"));
    project.options = readOptions(reader.object("options"));

    const json& cuts = reader.array("cuts");
    project.cuts.reserve(cuts.size());
    for (std::size_t index = 0; index < cuts.size(); ++index) {
        ObjectReader cut(cuts[index], elementPath(reader.pathOf("cuts"), index));
        CutRegion region;
        region.id = cut.uuid("id");
        region.start = cut.number("start");
        region.end = cut.number("end");
        region.remove = cut.boolean("remove");
        project.cuts.push_back(region);
    }

    const json& waveform = reader.array("waveform");
    project.waveform.reserve(waveform.size());
    for (std::size_t index = 0; index < waveform.size(); ++index)
        project.waveform.push_back(
            readNumber(waveform[index], elementPath(reader.pathOf("waveform"), index)));

    if (reader.optional("diagnostics")) {
        ObjectReader diagnostics = reader.object("diagnostics");
        DetectionDiagnostics result;
        result.noiseFloorDB = diagnostics.number("noiseFloorDB");
        result.thresholdDB = diagnostics.number("thresholdDB");
        result.dynamicRangeDB = diagnostics.number("dynamicRangeDB");
        result.warning = diagnostics.optionalString("warning");
        project.diagnostics = result;
    }
    project.effectiveThresholdDB = reader.optionalNumber("effectiveThresholdDB");
    if (reader.optional("packagedSource")) {
        ObjectReader packaged = reader.object("packagedSource");
        project.packagedSource = PackagedSource{packaged.string("relativePath"), packaged.string("sha256")};
    }
    project.sourceSHA256 = reader.optionalString("sourceSHA256");
    return project;
}

std::string encode(const CutProject& project, Style style) {
    try {
        project.validateStructure();
        return style == Style::compact ? encodeCompactDocument(project) : dump(toJson(project), style);
    } catch (const MediaError& error) {
        throw MediaError(L("无法写入剪辑项目：%@", error.message()));
    }
}

CutProject decode(std::string_view bytes) {
    return fromJson(parse(bytes));
}

}  // namespace ProjectJson

}  // namespace talvian
