#include "Model/ProjectJson.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace talvian {
namespace {

using nlohmann::json;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

CutProject minimalProject() {
    CutProject project;
    project.version = 1;
    project.source = "/media/录音/talk.mp4";
    project.sourceBytes = 123'456;
    project.modifiedAt = 1'700'000'000.123456789;
    project.info = MediaInfo{61.44, 1920, 1080, true, true, 2, 123'456, 29.97};
    project.cuts = {CutRegion(1, 2.5, true), CutRegion(3.25, 4, false)};
    project.waveform = {0, 0.1, 1};
    return project;
}

// Every optional member present, and doubles that print awkwardly.
CutProject fullProject() {
    CutProject project = minimalProject();
    project.version = 8;
    project.options = CutOptions(-47.5, 0.15, 0.0, DetectionMode::adaptive);
    project.options.paddingRight = 0.1;
    project.sourceSHA256 = kDigest;
    project.diagnostics = DetectionDiagnostics{-62.25, -47.5, 30.0000001, "音量忽高忽低，检测结果可能不准。"};
    project.effectiveThresholdDB = -52.123456789012345;
    project.waveform = {0.1, 1.0 / 3.0, 5e-324, -0.0, 1};
    return project;
}

void expectMediaError(const std::function<void()>& action, const std::string& expected,
                      const std::string& label) {
    try {
        action();
        ADD_FAILURE() << label << ": no error";
    } catch (const MediaError& error) {
        EXPECT_EQ(error.message(), expected) << label;
    }
}

TEST(ProjectJson, RoundTripKeepsEveryField) {
    CutProject packaged = minimalProject();
    packaged.version = 3;
    packaged.packagedSource = PackagedSource{"media/talk.mp4", kDigest};
    for (const auto& project : {minimalProject(), fullProject(), packaged}) {
        for (auto style : {ProjectJson::Style::pretty, ProjectJson::Style::compact}) {
            CutProject decoded = ProjectJson::decode(ProjectJson::encode(project, style));
            EXPECT_EQ(decoded, project);
            EXPECT_TRUE(std::signbit(decoded.waveform.size() > 3 ? decoded.waveform[3] : -0.0));
        }
    }
}

TEST(ProjectJson, WrittenFormSortedEscapedAndWithoutAbsentMembers) {
    CutProject project = minimalProject();
    std::string compact = ProjectJson::encode(project, ProjectJson::Style::compact);
    EXPECT_EQ(compact.find('\n'), std::string::npos);
    EXPECT_EQ(compact.find("null"), std::string::npos);
    EXPECT_EQ(compact.find("paddingRight"), std::string::npos);
    EXPECT_EQ(compact.find("diagnostics"), std::string::npos);
    EXPECT_NE(compact.find(R"("source":"\/media\/录音\/talk.mp4")"), std::string::npos) << compact;
    EXPECT_NE(compact.find(R"("mode":"fixed")"), std::string::npos);
    EXPECT_NE(compact.find("\"id\":\"" + project.cuts[0].id.string() + "\""), std::string::npos);
    EXPECT_EQ(project.cuts[0].id.string().find_first_of("abcdef"), std::string::npos);
    for (std::size_t i = 0; i < compact.size(); ++i)
        if (compact[i] == '/') {
            EXPECT_EQ(compact[i - 1], '\\') << "unescaped slash at " << i;
        }

    std::string pretty = ProjectJson::encode(fullProject());
    EXPECT_NE(pretty.find("\n  \"cuts\": ["), std::string::npos) << pretty;
    const char* order[] = {"\"cuts\"",    "\"diagnostics\"", "\"effectiveThresholdDB\"",
                           "\"info\"",    "\"modifiedAt\"",  "\"options\"",
                           "\"source\"",  "\"sourceBytes\"", "\"sourceSHA256\"",
                           "\"version\"", "\"waveform\""};
    std::size_t previous = 0;
    for (const char* key : order) {
        std::size_t at = pretty.find(std::string("\n  ") + key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, previous) << key;
        previous = at;
    }
    // Nested objects are sorted too.
    EXPECT_LT(pretty.find("\"minimumSilence\""), pretty.find("\"mode\""));
    EXPECT_LT(pretty.find("\"padding\""), pretty.find("\"paddingRight\""));
}

TEST(ProjectJson, ReadsTheDocumentAsWrittenByHand) {
    const std::string document = R"({
      "version": 2, "source": "\/Users\/a\/talk.mov", "sourceBytes": 10, "modifiedAt": 5,
      "info": {"duration": 60, "width": 0, "height": 0, "hasVideo": false, "hasAudio": true,
               "audioTracks": 1, "bytes": 10, "frameRate": 0},
      "options": {"thresholdDB": -35, "minimumSilence": 0.8, "padding": 0.3, "paddingRight": null},
      "cuts": [{"id": "e621e1f8-c36c-495a-93fc-0c247a3e6e5f", "start": 1, "end": 2, "remove": true}],
      "waveform": [],
      "diagnostics": null, "effectiveThresholdDB": null, "packagedSource": null, "sourceSHA256": null,
      "somethingNew": {"ignored": [1, 2]}
    })";
    CutProject project = ProjectJson::decode(document);
    EXPECT_EQ(project.source, "/Users/a/talk.mov");
    EXPECT_EQ(project.options.mode, DetectionMode::fixed);
    EXPECT_FALSE(project.options.paddingRight);
    EXPECT_FALSE(project.diagnostics);
    EXPECT_FALSE(project.effectiveThresholdDB);
    EXPECT_FALSE(project.packagedSource);
    EXPECT_FALSE(project.sourceSHA256);
    ASSERT_EQ(project.cuts.size(), 1u);
    EXPECT_EQ(project.cuts[0].id.string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(project.info.duration, 60);
    EXPECT_NO_THROW(project.validateStructure());

    // Decoding does not validate: a version 9 document reads, and its validation refuses it.
    json changed = json::parse(document);
    changed["version"] = 9;
    EXPECT_EQ(ProjectJson::decode(changed.dump()).version, 9);
}

TEST(ProjectJson, DecodingRefusals) {
    struct Case {
        const char* label;
        std::function<void(json&)> change;
        std::string expected;
    };
    auto integer = [](const char* path) {
        return std::string("项目文件格式无效：“") + path + "”不是有效的整数。";
    };
    auto type = [](const char* path) { return std::string("项目文件格式无效：“") + path + "”的类型不对。"; };
    auto missing = [](const char* path) { return std::string("项目文件格式无效：缺少“") + path + "”。"; };
    const std::string unnamable = "项目文件格式无效：“source”不是可用的文件路径。";
    const Case cases[] = {
        {"no waveform", [](json& d) { d.erase("waveform"); }, missing("waveform")},
        {"null version", [](json& d) { d["version"] = nullptr; }, missing("version")},
        {"no info duration", [](json& d) { d["info"].erase("duration"); }, missing("info.duration")},
        {"no cut end", [](json& d) { d["cuts"][1].erase("end"); }, missing("cuts[1].end")},
        {"no options padding", [](json& d) { d["options"].erase("padding"); }, missing("options.padding")},
        {"diagnostics without noise floor",
         [](json& d) {
             d["diagnostics"] = {{"thresholdDB", 1}, {"dynamicRangeDB", 1}};
         },
         missing("diagnostics.noiseFloorDB")},
        {"package without digest",
         [](json& d) {
             d["packagedSource"] = {{"relativePath", "media/a.mp4"}};
         },
         missing("packagedSource.sha256")},
        {"fractional version", [](json& d) { d["version"] = 5.5; }, integer("version")},
        {"whole number with a fraction", [](json& d) { d["version"] = 1.0; }, integer("version")},
        {"huge size", [](json& d) { d["sourceBytes"] = 1e30; }, integer("sourceBytes")},
        {"size of 2^63", [](json& d) { d["sourceBytes"] = std::uint64_t{1} << 63; }, integer("sourceBytes")},
        {"fractional width", [](json& d) { d["info"]["width"] = 1920.5; }, integer("info.width")},
        {"text for a number", [](json& d) { d["info"]["frameRate"] = "30"; }, type("info.frameRate")},
        {"number for a flag", [](json& d) { d["info"]["hasVideo"] = 1; }, type("info.hasVideo")},
        {"text for an integer", [](json& d) { d["info"]["audioTracks"] = "2"; }, type("info.audioTracks")},
        {"number for the source", [](json& d) { d["source"] = 5; }, type("source")},
        {"object for the cuts", [](json& d) { d["cuts"] = json::object(); }, type("cuts")},
        {"text in the waveform", [](json& d) { d["waveform"][2] = "x"; }, type("waveform[2]")},
        {"array for the info", [](json& d) { d["info"] = json::array(); }, type("info")},
        {"number for the mode", [](json& d) { d["options"]["mode"] = 3; }, type("options.mode")},
        {"number for the warning",
         [](json& d) {
             d["diagnostics"] = {
                 {"noiseFloorDB", 1}, {"thresholdDB", 1}, {"dynamicRangeDB", 1}, {"warning", 5}};
         },
         type("diagnostics.warning")},
        {"number for the digest", [](json& d) { d["sourceSHA256"] = 5; }, type("sourceSHA256")},
        {"text for the right padding", [](json& d) { d["options"]["paddingRight"] = "0.1"; },
         type("options.paddingRight")},
        {"unknown mode", [](json& d) { d["options"]["mode"] = "manual"; },
         "项目文件格式无效：未知的检测模式“manual”。"},
        {"mode in capitals", [](json& d) { d["options"]["mode"] = "Fixed"; },
         "项目文件格式无效：未知的检测模式“Fixed”。"},
        {"malformed identity", [](json& d) { d["cuts"][1]["id"] = "not-a-uuid"; },
         "项目文件格式无效：“cuts[1].id”不是有效的标识。"},
        {"identity without hyphens", [](json& d) { d["cuts"][0]["id"] = "E621E1F8C36C495A93FC0C247A3E6E5F"; },
         "项目文件格式无效：“cuts[0].id”不是有效的标识。"},
        {"a cut that is not an object", [](json& d) { d["cuts"][0] = 1; }, type("cuts[0]")},
        {"document is an array", [](json& d) { d = json::array({1}); },
         "项目文件格式无效：“顶层”的类型不对。"},
        {"empty source", [](json& d) { d["source"] = ""; }, unnamable},
        {"source component longer than a name", [](json& d) { d["source"] = "/m/" + std::string(256, 'a'); },
         unnamable},
        {"source longer than the system allows", [](json& d) { d["source"] = std::string(4096, '/'); },
         unnamable},
    };
    const json base = ProjectJson::toJson(minimalProject());
    for (const auto& c : cases) {
        json document = base;
        c.change(document);
        expectMediaError([&] { ProjectJson::decode(document.dump()); }, c.expected, c.label);
    }
}

TEST(ProjectJson, ASourceWithANulByteIsRefused) {
    // Every system call would end the name at the NUL: the export looked up and wrote under
    // another name than the project shows.
    const std::string document = ProjectJson::encode(minimalProject(), ProjectJson::Style::compact);
    const std::string spelled = R"("source":"\/media\/录音\/talk.mp4")";
    ASSERT_NE(document.find(spelled), std::string::npos);
    const std::string sources[] = {
        R"(\u0000\/media\/talk.mp4)", R"(\/media\/talk.mp4\u0000)",     R"(\/media\/录音\u0000\/talk.mp4)",
        R"(\/media\/talk\u0000.mp4)", R"(\/media\/talk.mp4\u0000.txt)",
    };
    for (const auto& source : sources) {
        std::string changed = document;
        changed.replace(changed.find(spelled), spelled.size(), "\"source\":\"" + source + "\"");
        expectMediaError([&] { ProjectJson::decode(changed); },
                         "项目文件格式无效：“source”不是可用的文件路径。", source);
    }
    // A raw NUL inside a string is no JSON at all.
    std::string raw = document;
    raw.replace(raw.find("talk.mp4"), 4, std::string("ta\0k", 4));
    expectMediaError([&] { ProjectJson::decode(raw); }, "项目文件不是有效的 JSON 文本。", "raw NUL");
    // Nothing is written that the reader refuses; a NUL elsewhere (a warning) is only text.
    CutProject withNul = minimalProject();
    withNul.source = std::string("/media/talk.mp4\0.txt", 20);
    expectMediaError([&] { ProjectJson::encode(withNul); }, "无法写入剪辑项目：项目文件格式无效。", "encode");
    CutProject warned = fullProject();
    warned.diagnostics->warning = std::string("a\0b", 3);
    for (auto style : {ProjectJson::Style::pretty, ProjectJson::Style::compact})
        EXPECT_EQ(ProjectJson::decode(ProjectJson::encode(warned, style)), warned);
}

TEST(ProjectJson, DecodingRefusesMalformedText) {
    const std::string valid = ProjectJson::encode(minimalProject());
    std::string overflowingInteger = valid;
    overflowingInteger.replace(overflowingInteger.find("123456"), 6, "-9223372036854775809");
    expectMediaError([&] { ProjectJson::decode(overflowingInteger); },
                     "项目文件格式无效：“info.bytes”不是有效的整数。", "below the smallest integer");
    std::string overflowingNumber = valid;
    overflowingNumber.replace(overflowingNumber.find("61.44"), 5, "1e400");

    const std::string malformed[] = {
        "",
        "{",
        valid + " x",
        "{\"version\": 1,}",
        overflowingNumber,
        "{\"version\": 1, \"source\": \"\xff\"}",
        "{\"version\": NaN}",
    };
    for (const auto& text : malformed)
        expectMediaError([&] { ProjectJson::decode(text); }, "项目文件不是有效的 JSON 文本。",
                         text.substr(0, 40));
}

TEST(ProjectJson, NestedObjectsAreReadWithTheSameRules) {
    // A writer that nests the project in its own document reads it back through fromJson.
    CutProject project = minimalProject();
    json document = ProjectJson::toJson(project);
    EXPECT_EQ(ProjectJson::fromJson(document), project);
    document["waveform"][1] = kNaN;
    expectMediaError([&] { ProjectJson::fromJson(document, "entries[0].project"); },
                     "项目文件格式无效：“entries[0].project.waveform[1]”不是有效的数值。", "NaN in memory");

    // Deep nesting is refused as a wrong type, not by exhausting the stack.
    std::string deep =
        R"({"version": 1, "source": )" + std::string(200'000, '[') + std::string(200'000, ']') + "}";
    expectMediaError([&] { ProjectJson::decode(deep); }, "项目文件格式无效：“source”的类型不对。",
                     "deep nesting");
}

TEST(ProjectJson, EncodingRefusesWhatTheReaderWouldRefuse) {
    struct Case {
        const char* label;
        std::function<void(CutProject&)> change;
        std::string expected;
    };
    const std::string prefix = "无法写入剪辑项目：";
    const Case cases[] = {
        {"structure", [](CutProject& p) { p.version = 9; }, prefix + "项目文件格式无效。"},
        {"NaN cut", [](CutProject& p) { p.cuts[0].end = kNaN; }, prefix + "项目文件格式无效。"},
        {"options", [](CutProject& p) { p.options.padding = 2.5; }, prefix + "停顿参数超出有效范围。"},
        {"package reference",
         [](CutProject& p) {
             p.version = 3;
             p.packagedSource = PackagedSource{"media/../talk.mp4", kDigest};
         },
         prefix + "交接包的素材引用无效。请保留完整的 media 文件夹。"},
        {"NaN time", [](CutProject& p) { p.modifiedAt = kNaN; },
         prefix + "数据中有无效的数值（非数字或无穷大）。"},
        {"infinite frame rate", [](CutProject& p) { p.info.frameRate = INFINITY; },
         prefix + "数据中有无效的数值（非数字或无穷大）。"},
        {"NaN diagnostics",
         [](CutProject& p) {
             p.diagnostics = DetectionDiagnostics{kNaN, -40, 20, std::nullopt};
         },
         prefix + "数据中有无效的数值（非数字或无穷大）。"},
        {"source not UTF-8", [](CutProject& p) { p.source = "/media/\xff.mp4"; },
         prefix + "数据中有不是 UTF-8 编码的文本。"},
        {"warning not UTF-8",
         [](CutProject& p) {
             p.diagnostics = DetectionDiagnostics{-60, -40, 20, std::string("\xc3")};
         },
         prefix + "数据中有不是 UTF-8 编码的文本。"},
    };
    for (const auto& c : cases) {
        CutProject project = minimalProject();
        c.change(project);
        for (auto style : {ProjectJson::Style::pretty, ProjectJson::Style::compact})
            expectMediaError([&] { ProjectJson::encode(project, style); }, c.expected, c.label);
    }
}

TEST(ProjectJson, TheDirectCompactWriterMatchesTheTreeWriterByteForByte) {
    std::vector<CutProject> projects = {minimalProject(), fullProject()};
    CutProject odd = fullProject();
    odd.source = "/a \"quoted\" \\ name\t\x01\x7f/中文.wav";
    odd.diagnostics->warning = "line\nbreak";
    odd.modifiedAt = 1e20;
    odd.info.frameRate = 123456789012345.0;
    odd.info.duration = 1234567890123456.0;
    odd.effectiveThresholdDB = -1e-7;
    odd.options.thresholdDB = -0.0001;
    odd.waveform = {1e-5, 0.00012, 0.5, 2.5e-300, 0.30000000000000004, 1.0 / 7.0};
    odd.cuts.emplace_back(0.1 + 0.2, 1e15, true);
    projects.push_back(odd);
    std::uint64_t state = 42;
    CutProject random = minimalProject();
    random.waveform.clear();
    for (int i = 0; i < 2000; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        random.waveform.push_back(static_cast<double>(state >> 11) / 9007199254740992.0);
    }
    projects.push_back(random);
    for (std::size_t i = 0; i < projects.size(); ++i) {
        const std::string direct = ProjectJson::encodeCompactDocument(projects[i]);
        const std::string tree =
            StrictJson::dump(ProjectJson::toJson(projects[i]), StrictJson::Style::compact);
        // The library's digit algorithm is not always shortest (a 17th digit now and then); the
        // values are the same, and every printed number reads back exactly.
        if (i + 1 < projects.size()) {
            EXPECT_EQ(direct, tree);
        }
        EXPECT_EQ(json::parse(direct), json::parse(tree));
        EXPECT_EQ(ProjectJson::decode(direct), projects[i]);
    }

    CutProject broken = minimalProject();
    broken.source = "/bad\xff.wav";
    expectMediaError([&] { ProjectJson::encodeCompactDocument(broken); }, "数据中有不是 UTF-8 编码的文本。",
                     "utf-8");
    broken = minimalProject();
    broken.modifiedAt = kNaN;
    expectMediaError([&] { ProjectJson::encodeCompactDocument(broken); },
                     "数据中有无效的数值（非数字或无穷大）。", "nan");
}

}  // namespace
}  // namespace talvian
