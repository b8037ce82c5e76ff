// Writes the fuzzer's starting corpus: valid review projects of every version 1 … 8 (fixed and
// adaptive, by path, packaged, guarded by digest, with diagnostics and right padding), in both
// styles, plus a few that read but fail the structural check and a few the reader refuses
// (a member named twice, a NUL in the source). Usage: SeedCorpus <folder>.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Model/ProjectJson.h"
#include "Support/FileSystem.h"
#include "Support/StrictJson.h"

namespace {

using namespace talvian;

const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

CutProject project(std::int64_t version) {
    const std::int64_t base = version > CutProject::kRightPaddingVersionOffset
                                  ? version - CutProject::kRightPaddingVersionOffset
                                  : version;
    CutProject result;
    result.version = version;
    result.source = "/home/用户/录音/talk.mp4";
    result.sourceBytes = 2'345'678;
    result.modifiedAt = 1'765'000'000.123456789;
    result.info = MediaInfo{52.48, 640, 360, true, true, 1, 2'345'678, 25};
    result.options = CutOptions(
        -35, 0.8, 0.3, base == CutProject::kBaseFixedPath ? DetectionMode::fixed : DetectionMode::adaptive);
    if (version > CutProject::kRightPaddingVersionOffset) result.options.paddingRight = 0.15;
    result.cuts = {CutRegion(0, 1.7, true), CutRegion(5.25, 7.5, true), CutRegion(12, 12.4, false),
                   CutRegion(50.1, 52.485, true)};
    for (int bin = 0; bin < 24; ++bin) result.waveform.push_back((bin % 7) / 6.0);
    if (result.options.mode == DetectionMode::adaptive)
        result.diagnostics = DetectionDiagnostics{-61.5, -44.25, 38.7, std::nullopt};
    else
        result.effectiveThresholdDB = -41.3;
    if (base == CutProject::kBasePackaged) result.packagedSource = PackagedSource{"media/talk.mp4", kDigest};
    if (base == CutProject::kBaseDigest) result.sourceSHA256 = kDigest;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    auto write = [&](const std::string& name, const std::string& bytes) {
        writeFileAtomically(folder / ("seed-" + name + ".json"), bytes);
    };

    for (std::int64_t version = CutProject::kMinimumVersion; version <= CutProject::kMaximumVersion;
         ++version) {
        CutProject valid = project(version);
        write("v" + std::to_string(version), ProjectJson::encode(valid, ProjectJson::Style::pretty));
        write("v" + std::to_string(version) + "-compact",
              ProjectJson::encode(valid, ProjectJson::Style::compact));
    }

    CutProject warned = project(6);
    warned.diagnostics->warning = "音量忽高忽低，检测结果可能不准。";
    warned.cuts.clear();
    warned.waveform = {0, 5e-324, -0.0, 1};
    write("v6-warning", ProjectJson::encode(warned, ProjectJson::Style::compact));

    // Readable but structurally refused: the fuzzer starts on both sides of the check.
    std::vector<std::pair<std::string, CutProject>> refused;
    refused.emplace_back("bad-version", project(1));
    refused.back().second.version = 9;
    refused.emplace_back("bad-cut", project(2));
    refused.back().second.cuts.push_back(CutRegion(60, 61, true));
    refused.emplace_back("bad-packaged", project(3));
    refused.back().second.packagedSource->relativePath = "media/../talk.mp4";
    for (const auto& [name, invalid] : refused)
        write(name, StrictJson::dump(ProjectJson::toJson(invalid), StrictJson::Style::compact));

    // Refused by the reader: the fuzzer starts next to the duplicate-member and path rules.
    const std::string valid = ProjectJson::encode(project(2), ProjectJson::Style::compact);
    auto edited = [&](const std::string& find, const std::string& replacement) {
        std::string text = valid;
        text.replace(text.find(find), find.size(), replacement);
        return text;
    };
    write("duplicate-cuts", edited("\"cuts\":", "\"cuts\":[],\"cuts\":"));
    write("duplicate-nested", edited("\"duration\":", "\"duration\":30,\"duration\":"));
    write("duplicate-escaped", edited("\"version\":", "\"\\u0076ersion\":3,\"version\":"));
    write("nul-in-source", edited("talk.mp4", "talk\\u0000.mp4"));
    write("nul-in-warning", edited("\"diagnostics\":{", "\"diagnostics\":{\"warning\":\"a\\u0000b\","));
    write("long-component", edited("talk.mp4", std::string(256, 't') + ".mp4"));
    return 0;
}
