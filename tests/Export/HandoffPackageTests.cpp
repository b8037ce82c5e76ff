#include "Export/HandoffPackage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "HandoffFixtures.h"
#include "Model/FileNaming.h"
#include "Model/ProjectJson.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

namespace fs = std::filesystem;
using test::makeRec709Video;
using test::messageOf;
using test::probedProject;
using test::readFile;
using test::sha256sum;
using test::shell;
using test::shellQuote;
using test::TempDir;
using test::writeFile;

bool wellFormed(const std::string& xmlText, const TempDir& dir) {
    auto file = dir / "check.fcpxml";
    writeFile(file, xmlText);
    return shell("xmllint --noout " + shellQuote(file.string()) + " 2>/dev/null") == 0;
}

bool wellFormedFile(const fs::path& file) {
    return shell("xmllint --noout " + shellQuote(file.string())) == 0;
}

TEST(EditorHandoffTimeline, FileNamesFollowTheSourceStem) {
    std::string seventy;
    for (int i = 0; i < 70; ++i) seventy += "字";
    std::string sixtySix;
    for (int i = 0; i < 66; ++i) sixtySix += "字";
    // 199 ASCII letters, then "é" as e + combining acute: the whole character does not fit.
    std::string letters(199, 'a');
    struct Case {
        std::string source;
        std::string expected;
    };
    for (const auto& c : std::vector<Case>{
             {"/m/Talk.final.mp4", "Talk.final-粗剪.fcpxml"},
             {"/m/. . ..mp4", "口播素材-粗剪.fcpxml"},
             {"/m/ \u3000 talk \u00a0.mov", "talk-粗剪.fcpxml"},
             {"/m/a:b.mp4", "a_b-粗剪.fcpxml"},
             {"/m/a\x01"
              "b\tc.mp4",
              "a_b_c-粗剪.fcpxml"},
             {"/m/\x7f"
              "x\u200ey.mp4",
              "_x_y-粗剪.fcpxml"},
             {"/m/\xff\xfe.mp4", "\uFFFD\uFFFD-粗剪.fcpxml"},
             {"/m/" + seventy + ".mp4", sixtySix + "-粗剪.fcpxml"},
             {"/m/" + letters + "e\u0301.mp4", letters + "-粗剪.fcpxml"},
             {"/m/" + std::string(200, 'b') + ".mp4", std::string(200, 'b') + "-粗剪.fcpxml"},
         }) {
        EXPECT_EQ(EditorHandoff::xmlFilename(c.source), c.expected) << c.source;
    }
}

EditorHandoffPlan threeRanges() {
    EditorHandoffPlan plan;
    plan.frameRate = HandoffFrameRate("25/1");
    plan.sourceFrames = 400;
    plan.ranges = {{0, 100}, {150, 300}, {310, 400}};
    plan.requestedDuration = 13.55;
    plan.width = 320;
    plan.height = 240;
    plan.channels = 2;
    plan.sampleRate = 48000;
    return plan;
}

TEST(EditorHandoffTimeline, WritesTheFcpxmlTextLineForLine) {
    TempDir dir;
    auto text = EditorHandoff::xml(threeRanges(), "/pkg/media/Talk & Q's.mp4");
    EXPECT_EQ(
        text,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE fcpxml>\n"
        "<fcpxml version=\"1.9\">\n"
        "  <resources>\n"
        "    <format id=\"r1\" frameDuration=\"1/25s\" width=\"320\" height=\"240\" colorSpace=\"1-1-1 (Rec. "
        "709)\"/>\n"
        "    <asset id=\"r2\" name=\"Talk &amp; Q&apos;s.mp4\" start=\"0s\" duration=\"16/1s\" "
        "hasVideo=\"1\" "
        "format=\"r1\" hasAudio=\"1\" audioSources=\"1\" audioChannels=\"2\" audioRate=\"48000\">\n"
        "      <media-rep kind=\"original-media\" src=\"file:///pkg/media/Talk%20&amp;%20Q&apos;s.mp4\"/>\n"
        "    </asset>\n"
        "  </resources>\n"
        "  <library><event name=\"Talvian\"><project name=\"Talk &amp; Q&apos;s.mp4 粗剪交接\">\n"
        "    <sequence format=\"r1\" duration=\"68/5s\" tcStart=\"0s\" tcFormat=\"NDF\" "
        "audioLayout=\"stereo\" "
        "audioRate=\"48k\">\n"
        "      <spine>\n"
        "        <asset-clip name=\"保留段 1\" ref=\"r2\" offset=\"0s\" start=\"0s\" duration=\"4/1s\" "
        "audioRole=\"dialogue\"/>\n"
        "        <asset-clip name=\"保留段 2\" ref=\"r2\" offset=\"4/1s\" start=\"6/1s\" duration=\"6/1s\" "
        "audioRole=\"dialogue\"/>\n"
        "        <asset-clip name=\"保留段 3\" ref=\"r2\" offset=\"10/1s\" start=\"62/5s\" "
        "duration=\"18/5s\" "
        "audioRole=\"dialogue\"/>\n"
        "      </spine>\n"
        "    </sequence>\n"
        "  </project></event></library>\n"
        "</fcpxml>\n");
    EXPECT_TRUE(wellFormed(text, dir));
}

// Linux file names may hold any byte but "/" and NUL; none of them may break the timeline.
TEST(EditorHandoffTimeline, StaysWellFormedXmlForAnyFileName) {
    TempDir dir;
    struct Case {
        std::string name;
        std::string asset;  // expected name attribute
    };
    for (const auto& c : std::vector<Case>{
             {"a\x01"
              "b\x1b"
              "c.mp4",
              "a_b_c.mp4"},
             {"tab\tline\nreturn\r.mp4", "tab_line_return_.mp4"},
             {"del\x7f"
              "c1\u0085.mp4",
              "del_c1_.mp4"},
             {"bad\xff\xc3.mp4", "bad\uFFFD\uFFFD.mp4"},
             {"nonchar\uFFFE\uFFFF.mp4", "nonchar__.mp4"},
             {"<clip a=\"1\">]]>&amp;.mp4", "&lt;clip a=&quot;1&quot;&gt;]]&gt;&amp;amp;.mp4"},
             {"讲座 😀 e\u0301.mp4", "讲座 😀 e\u0301.mp4"},
         }) {
        auto text = EditorHandoff::xml(threeRanges(), "/pkg/media/" + c.name);
        EXPECT_TRUE(wellFormed(text, dir)) << text;
        EXPECT_NE(text.find("name=\"" + c.asset + "\" start=\"0s\""), std::string::npos) << c.asset;
        EXPECT_NE(text.find("<project name=\"" + c.asset + " 粗剪交接\">"), std::string::npos) << c.asset;
    }
    EXPECT_EQ(EditorHandoff::fileURL("/a b/\x01%é/x.mp4"), "file:///a%20b/%01%25%C3%A9/x.mp4");
}

// ---- Packages of generated media ----------------------------------------------------------

struct Clip {
    std::string offset, start, duration;
};

std::vector<Clip> clipsOf(const std::string& text) {
    static const std::regex clip(
        R"re(<asset-clip name="[^"]*" ref="r2" offset="([^"]+)" start="([^"]+)" duration="([^"]+)" audioRole="dialogue"/>)re");
    std::vector<Clip> clips;
    for (std::sregex_iterator it(text.begin(), text.end(), clip), end; it != end; ++it)
        clips.push_back({(*it)[1], (*it)[2], (*it)[3]});
    return clips;
}

// A timeline time "A/Bs" or "0s" as a number of frames; fails the test unless it is whole.
std::int64_t framesOf(const std::string& time, const HandoffFrameRate& rate) {
    if (time == "0s") return 0;
    std::smatch parts;
    static const std::regex fraction(R"((\d+)/(\d+)s)");
    EXPECT_TRUE(std::regex_match(time, parts, fraction)) << time;
    if (parts.empty()) return -1;
    auto top = std::stoll(parts[1]) * rate.numerator;
    auto bottom = std::stoll(parts[2]) * rate.denominator;
    EXPECT_EQ(top % bottom, 0) << time << " is not a whole frame";
    return top / bottom;
}

const std::string kInstructionsTemplate =
    "剪映11.6：在首页“本地草稿”旁点击“…” → “导入PR或FCP工程”，选择本包的“%@”。\n"
    "若未显示该入口：在全局设置的“草稿”页开启PR/"
    "FCP工程导入，再回首页操作。编辑窗口的“导入”是媒体入口，不用于此工程交接。\n"
    "剪映5.5：在全局设置启用“导入工程”，回首页选择“%@”。\n"
    "若剪映提示读取权限，请在系统文件面板选择本包的 media 文件夹。\n"
    "media 内保存完整原片，可以拉回片段边缘继续修改；整个目录一起移动。\n"
    "切点向外对齐整帧，可能多保留少量停顿。8ms 音频淡入淡出不传递，请复核接缝。\n"
    "搬移后剪映若提示“链接媒体”，点击“链接媒体”，选择本包的 media "
    "文件夹；保持“链接文件夹时自动匹配丢失媒体”勾选。\n"
    "review.quenlo.json 可用新版 Talvian 打开；整个包搬移后自动校验并关联包内原片，无需手改路径。\n"
    "若把复核项目另存到包外，它将使用当前原片的绝对路径；下次搬移请继续保留整个交接包。\n"
    "DaVinci Resolve：先用“文件 → 导入 → 媒体”选择 media 文件夹里的原片，再用“文件 → 导入 → "
    "时间线”选择本包的 "
    ".fcpxml 文件，并取消勾选“自动将源片段导入媒体池”。\n"
    "此功能仍为试验。已实测剪映 Mac 5.5.0、11.6.0 的 30fps H.264 合成 SDR 测试片，以及 DaVinci Resolve "
    "21（App "
    "Store 版）；其他版本与真实长片尚未完成验证。";

TEST(EditorHandoffPackage, WritesAVerifiedPackageWithAWellFormedTimeline) {
    TempDir dir;
    const std::string name = "Talk & Q's\x01.mp4";
    makeRec709Video(dir / name, "25");
    auto project = probedProject(dir / name, {{0.5, 1.0, true}, {1.7, 2.2, true}});
    const auto package = dir / "交接包";
    std::vector<std::pair<double, std::string>> reports;
    auto result = EditorHandoff::exportPackage(project, package, makeCancellation(),
                                               [&](double f, const std::string& step) {
                                                   reports.push_back({f, step});
                                               });

    const std::string timelineName = "Talk & Q's_-粗剪.fcpxml";
    EXPECT_EQ(result.folder, package);
    EXPECT_EQ(result.xmlURL, package / timelineName);
    EXPECT_EQ(result.clips, 3);
    struct stat info {};
    ASSERT_EQ(::stat(package.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(package))
        entries.push_back(fs::relative(entry.path(), package).string());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{timelineName, "handoff.json", "media", "media/" + name,
                                                 "review.quenlo.json", "导入说明.txt"}));

    // The copy is byte for byte the source.
    const auto copy = package / "media" / name;
    const auto digest = sha256sum(dir / name);
    EXPECT_EQ(sha256sum(copy), digest);
    EXPECT_EQ(readFile(copy), readFile(dir / name));

    EXPECT_TRUE(wellFormedFile(result.xmlURL));
    auto timeline = readFile(result.xmlURL);
    EXPECT_EQ(timeline, EditorHandoff::xml(EditorHandoff::prepare(project, makeCancellation()), copy));
    EXPECT_NE(timeline.find("name=\"Talk &amp; Q&apos;s_.mp4\""), std::string::npos);

    auto manifestText = readFile(package / "handoff.json");
    EXPECT_NE(manifestText.find("\"media\\/Talk & Q's\\u0001.mp4\""), std::string::npos) << manifestText;
    auto manifest = nlohmann::json::parse(manifestText);
    EXPECT_EQ(manifest.size(), 18u);
    EXPECT_EQ(manifest["experimental"], true);
    EXPECT_EQ(manifest["fps"], "25/1");
    EXPECT_EQ(manifest["limitations"].size(), 4u);
    EXPECT_EQ(manifest["media"], "media/" + name);
    EXPECT_EQ(manifest["source_frames"], 75);
    // Kept [0, 0.5] [1.0, 1.7] [2.2, 3.0]: frames [0,13) [25,43) [55,75).
    EXPECT_EQ(manifest["retained_frame_ranges"], nlohmann::json::parse("[[0,13],[25,43],[55,75]]"));
    EXPECT_EQ(manifest["output_frames"], 51);
    EXPECT_DOUBLE_EQ(manifest["output_duration_seconds"].get<double>(), 51.0 / 25);
    EXPECT_DOUBLE_EQ(result.duration, 51.0 / 25);
    EXPECT_NEAR(manifest["requested_duration_seconds"].get<double>(), 2.0, 1e-9);
    EXPECT_EQ(manifest["review_project_version"], 3);
    EXPECT_EQ(manifest["schema"], 1);
    EXPECT_EQ(manifest["source_bytes"], project.sourceBytes);
    EXPECT_EQ(manifest["source_sha256"], digest);
    EXPECT_EQ(manifest["xml"], timelineName);
    EXPECT_EQ(manifest["xml_sha256"], sha256sum(result.xmlURL));

    auto packaged = ProjectJson::decode(readFile(package / "review.quenlo.json"));
    EXPECT_EQ(packaged.version, 3);
    EXPECT_EQ(packaged.source, copy.string());
    EXPECT_EQ(packaged.sourceBytes, static_cast<std::int64_t>(fs::file_size(copy)));
    EXPECT_EQ(packaged.modifiedAt, SourceMetadata::read(copy).modifiedAt);
    ASSERT_TRUE(packaged.packagedSource);
    EXPECT_EQ(packaged.packagedSource->relativePath, "media/" + name);
    EXPECT_EQ(packaged.packagedSource->sha256, digest);
    EXPECT_FALSE(packaged.sourceSHA256);
    EXPECT_EQ(packaged.cuts, project.cuts);
    EXPECT_NO_THROW(packaged.validateSource());

    auto instructions = kInstructionsTemplate;
    for (auto at = instructions.find("%@"); at != std::string::npos; at = instructions.find("%@"))
        instructions.replace(at, 2, timelineName);
    EXPECT_EQ(readFile(package / "导入说明.txt"), instructions);

    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), (std::pair<double, std::string>{0.0, "正在检查色彩、帧率和切点…"}));
    EXPECT_EQ(reports.back(), (std::pair<double, std::string>{1.0, "交接包已生成，原片与切点均已保留。"}));
    for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].first, reports[i - 1].first);
}

TEST(EditorHandoffPackage, ClipsAreWholeFramesThatEndInsideTheMedia) {
    TempDir dir;
    for (auto rateText : {"25/1", "30000/1001", "24000/1001"}) {
        SCOPED_TRACE(rateText);
        const HandoffFrameRate rate(rateText);
        auto source = dir / ("rate " + std::to_string(rate.numerator) + ".mp4");
        makeRec709Video(source, rateText);
        // Cuts off frame boundaries; the last kept stretch runs to the end of the sound.
        auto project = probedProject(source, {{0.31, 0.77, true}, {1.234, 1.5, true}, {2.01, 2.4, true}});
        auto result = EditorHandoff::exportPackage(
            project, dir / ("package " + std::to_string(rate.numerator)), makeCancellation());
        EXPECT_TRUE(wellFormedFile(result.xmlURL));
        auto timeline = readFile(result.xmlURL);
        auto manifest = nlohmann::json::parse(readFile(result.folder / "handoff.json"));
        const std::int64_t sourceFrames = manifest["source_frames"];
        EXPECT_EQ(manifest["fps"], rateText);

        auto clips = clipsOf(timeline);
        ASSERT_EQ(clips.size(), 4u);
        EXPECT_EQ(result.clips, 4);
        std::int64_t offset = 0, previousEnd = -1;
        for (const auto& clip : clips) {
            auto start = framesOf(clip.start, rate);
            auto length = framesOf(clip.duration, rate);
            EXPECT_EQ(framesOf(clip.offset, rate), offset);
            EXPECT_GT(length, 0);
            EXPECT_GT(start, previousEnd);  // disjoint and not touching
            EXPECT_LE(start + length, sourceFrames);
            offset += length;
            previousEnd = start + length;
        }
        EXPECT_EQ(previousEnd, sourceFrames);  // the tail ends at the last frame, not past it
        EXPECT_EQ(manifest["output_frames"], offset);
        EXPECT_NE(timeline.find("<sequence format=\"r1\" duration=\"" + rate.time(offset) + "\""),
                  std::string::npos);
        EXPECT_NE(timeline.find("duration=\"" + rate.time(sourceFrames) + "\" hasVideo=\"1\""),
                  std::string::npos);
    }
}

TEST(EditorHandoffPackage, RefusesAnExistingDestinationWithoutTouchingIt) {
    TempDir dir;
    makeRec709Video(dir / "talk.mp4", "25", 1);
    auto project = probedProject(dir / "talk.mp4");
    fs::create_directory(dir / "empty");
    writeFile(dir / "file", "mine");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    for (const auto& destination : {dir / "empty", dir / "file", dir / "dangling", fs::path("relative")}) {
        EXPECT_EQ(messageOf([&] { EditorHandoff::exportPackage(project, destination, makeCancellation()); }),
                  "交接文件夹已存在，请换一个名称；已有文件不会覆盖。")
            << destination;
    }
    EXPECT_TRUE(fs::is_empty(dir / "empty"));
    EXPECT_EQ(readFile(dir / "file"), "mine");
    EXPECT_FALSE(fs::exists(dir / "nowhere"));

    // A refusal of the check comes before any folder.
    auto everythingCut = probedProject(dir / "talk.mp4", {{0, 1, true}});
    EXPECT_EQ(
        messageOf([&] { EditorHandoff::exportPackage(everythingCut, dir / "new", makeCancellation()); }),
        "没有保留内容，请先恢复一段再导出。");
    EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST(EditorHandoffPackage, LeavesNothingBehindWhenCancelledOrTheSourceChanges) {
    TempDir dir;
    makeRec709Video(dir / "talk.mp4", "25", 1);
    auto project = probedProject(dir / "talk.mp4");
    struct Case {
        const char* when;  // the step during which it happens
        bool cancel;
        std::string message;
    };
    for (const auto& c : std::vector<Case>{
             {"正在复制完整原片…", true, "任务已取消，原文件未改动。"},
             {"正在校验原片副本…", true, "任务已取消，原文件未改动。"},
             {"正在校验原片未改变…", false, "原片在交接过程中发生变化，已取消生成。请重新分析后再试。"},
         }) {
        auto token = makeCancellation();
        auto destination = dir / "package";
        auto progress = [&](double, const std::string& step) {
            if (step != c.when) return;
            if (c.cancel)
                token->cancel();
            else
                shell("touch -d '2001-02-03 04:05:06' " + shellQuote((dir / "talk.mp4").string()));
        };
        EXPECT_EQ(messageOf([&] { EditorHandoff::exportPackage(project, destination, token, progress); }),
                  c.message)
            << c.when;
        EXPECT_FALSE(fs::exists(destination)) << c.when;
    }
}

TEST(EditorHandoffPackage, CopiesALinkedSourceUnderItsOwnNameAndKeepsRightPadding) {
    TempDir dir;
    fs::create_directory(dir / "recordings");
    makeRec709Video(dir / "recordings" / "lecture.mp4", "30000/1001", 1);
    fs::create_symlink(dir / "recordings" / "lecture.mp4", dir / "shortcut.mp4");
    auto project = probedProject(dir / "shortcut.mp4", {{0.2, 0.5, true}});
    project.options.paddingRight = 0.1;
    project.version = 5;

    auto result = EditorHandoff::exportPackage(project, dir / "package", makeCancellation());
    EXPECT_EQ(result.xmlURL, dir / "package" / "lecture-粗剪.fcpxml");
    EXPECT_TRUE(fs::is_regular_file(dir / "package" / "media" / "lecture.mp4"));
    EXPECT_FALSE(fs::is_symlink(dir / "package" / "media" / "lecture.mp4"));
    auto manifest = nlohmann::json::parse(readFile(dir / "package" / "handoff.json"));
    EXPECT_EQ(manifest["media"], "media/lecture.mp4");
    EXPECT_EQ(manifest["fps"], "30000/1001");
    EXPECT_EQ(manifest["review_project_version"], 7);
    auto packaged = ProjectJson::decode(readFile(dir / "package" / "review.quenlo.json"));
    EXPECT_EQ(packaged.version, 7);
    EXPECT_EQ(packaged.options.paddingRight, 0.1);
}

}  // namespace
}  // namespace talvian
