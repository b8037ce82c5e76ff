#include "ProjectJson.h"

#include "FileNaming.h"
#include "Localization.h"

namespace talvian {

namespace ProjectJson {

namespace {

using nlohmann::json;
using StrictJson::elementPath;
using StrictJson::ObjectReader;
using StrictJson::readNumber;

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
    // A path the system cannot name is never a recording: with a NUL, every system call would
    // end the name early and read or write another file than the project shows.
    if (!isNamablePath(project.source))
        throw MediaError(L("项目文件格式无效：“%@”不是可用的文件路径。", reader.pathOf("source")));
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
        return style == Style::compact ? encodeCompactDocument(project)
                                       : StrictJson::dump(toJson(project), style);
    } catch (const MediaError& error) {
        throw MediaError(L("无法写入剪辑项目：%@", error.message()));
    }
}

CutProject decode(std::string_view bytes) {
    return fromJson(StrictJson::parse(bytes));
}

}  // namespace ProjectJson

}  // namespace talvian
