#include "Export/SupportDiagnostics.h"
#include "Support/AppConfiguration.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <limits>
#include <nlohmann/json.hpp>

#include "TestSupport.h"

namespace talvian {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
const std::string kPrivacyText = "发生错误。为保护隐私，详细错误文案已省略。";

TEST(SupportDiagnostics, ReportShowsTheVersionOfTheBuild) {
    auto info = readInfoDictionary();
    ASSERT_TRUE(info.contains("CFBundleShortVersionString")) << info;
    auto version = info["CFBundleShortVersionString"].get<std::string>();
    EXPECT_NE(SupportDiagnostics::text(version, "1", {}, "", "", {}, {}).find("Version: " + version + "\n"),
              std::string::npos);
}

DiagnosticMedia videoMedia() {
    MediaInfo info;
    info.duration = 12.3456;
    info.width = 1920;
    info.height = 1080;
    info.hasVideo = true;
    info.hasAudio = true;
    info.audioTracks = 1;
    info.frameRate = 30000.0 / 1001;
    return DiagnosticMedia(info, {"h264", "aac"}, 2);
}

TEST(SupportDiagnostics, ReportWithMediaLineByLine) {
    auto report = SupportDiagnostics::text("1.2.3", "45", {6, 1, 0}, "AMD Ryzen 7 5800X 8-Core Processor",
                                           "zh", "磁盘空间不足。当前剪辑已保留。", videoMedia());
    EXPECT_EQ(report,
              "Version: 1.2.3\n"
              "Build: 45\n"
              "Linux: 6.1.0\n"
              "Chip: AMD Ryzen 7 5800X 8-Core Processor\n"
              "Language: zh\n"
              "Last error: 磁盘空间不足。当前剪辑已保留。\n"
              "Duration (s): 12.346\n"
              "Resolution: 1920 × 1080\n"
              "Frame rate: 29.970\n"
              "Encoding: h264, aac\n"
              "Channels: 2\n");
}

TEST(SupportDiagnostics, ReportWithoutMediaHasSixLinesAndDashesForRefusedValues) {
    auto report =
        SupportDiagnostics::text("1.2-beta", "", {-1, 19, -3}, "", "zh-Hans", std::nullopt, std::nullopt);
    EXPECT_EQ(report,
              "Version: —\n"
              "Build: —\n"
              "Linux: 0.19.0\n"
              "Chip: —\n"
              "Language: —\n"
              "Last error: —\n");
}

// The report line of one field, for tables of single values.
std::string reportLine(const std::string& report, const std::string& label) {
    auto start = report.find("\n" + label);
    if (start == std::string::npos) return "(no " + label + "line)";
    start += 1 + label.size();
    return report.substr(start, report.find('\n', start) - start);
}

TEST(SupportDiagnostics, VersionsAreOneToFourNumbers) {
    const std::pair<const char*, const char*> cases[] = {
        {"1", "1"},
        {"1.2.3.4", "1.2.3.4"},
        {"10.0.12", "10.0.12"},
        {"1.2.3.4.5", "—"},
        {"1.2-beta", "—"},
        {"", "—"},
        {"1..2", "—"},
        {".1", "—"},
        {"1.", "—"},
        {" 1.2", "—"},
        {"１.２", "—"},  // full-width digits are not version numbers
        {"1.2\n/home/me", "—"},
    };
    for (const auto& [version, shown] : cases) {
        auto report = SupportDiagnostics::text(version, version, {}, "x86_64", "en", {}, {});
        EXPECT_EQ(report.substr(0, report.find('\n')), std::string("Version: ") + shown) << version;
        EXPECT_EQ(reportLine(report, "Build: "), shown) << version;
    }
}

TEST(SupportDiagnostics, ProcessorLineShowsPlainModelNamesOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"x86_64", "x86_64"},
        {"aarch64", "aarch64"},
        {"Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz", "Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz"},
        {"AMD Ryzen 9 7940HS w/ Radeon 780M Graphics", "AMD Ryzen 9 7940HS w/ Radeon 780M Graphics"},
        {"AMD EPYC", "AMD EPYC"},
        {"", "—"},
        {" AMD EPYC", "—"},
        {"AMD  EPYC", "—"},
        {"AMD EPYC\nLast error: forged", "—"},
        {"处理器", "—"},
        {"Intel\tCore", "—"},
        {"name \"quoted\"", "—"},
    };
    for (const auto& [chip, shown] : cases)
        EXPECT_EQ(reportLine(SupportDiagnostics::text("1", "1", {}, chip, "en", {}, {}), "Chip: "), shown)
            << chip;
    EXPECT_EQ(
        reportLine(SupportDiagnostics::text("1", "1", {}, std::string(129, 'A'), "en", {}, {}), "Chip: "),
        "—");
    EXPECT_EQ(
        reportLine(SupportDiagnostics::text("1", "1", {}, std::string(128, 'A'), "en", {}, {}), "Chip: "),
        std::string(128, 'A'));
}

TEST(SupportDiagnostics, LanguageMustBeAnIsoCode) {
    const std::pair<const char*, const char*> cases[] = {
        {"zh", "zh"}, {"en", "en"}, {"haw", "haw"}, {"zh-Hans", "—"}, {"zh_CN", "—"},
        {"ZH", "—"},  {"", "—"},    {"e", "—"},     {"english", "—"},
    };
    for (const auto& [language, shown] : cases)
        EXPECT_EQ(
            reportLine(SupportDiagnostics::text("1", "1", {}, "x86_64", language, {}, {}), "Language: "),
            shown)
            << language;
}

TEST(SupportDiagnostics, MediaNumbersHaveThreeDecimalsOrADash) {
    const std::pair<double, const char*> cases[] = {
        {12.3456, "12.346"}, {0, "0.000"},     {-0.0, "0.000"},
        {2.0005, "2.001"},   {-1, "—"},        {-1e-9, "—"},
        {kNaN, "—"},         {kInfinity, "—"}, {1e20, "100000000000000000000.000"},
    };
    for (const auto& [value, shown] : cases) {
        auto media = videoMedia();
        media.duration = value;
        media.frameRate = value;
        auto report = SupportDiagnostics::text("1", "1", {}, "x86_64", "en", {}, media);
        EXPECT_EQ(reportLine(report, "Duration (s): "), shown) << value;
        EXPECT_EQ(reportLine(report, "Frame rate: "), shown) << value;
    }
}

TEST(SupportDiagnostics, MediaLinesKeepOnlyKnownCodecsAndValidCounts) {
    struct Case {
        std::vector<std::string> codecs;
        std::optional<std::int64_t> channels;
        std::int64_t width, height;
        const char* encoding;
        const char* channelsShown;
        const char* resolution;
    };
    const Case cases[] = {
        {{"h264", "aac"}, 2, 1920, 1080, "h264, aac", "2", "1920 × 1080"},
        {{"png"}, 0, 0, 0, "—", "—", "0 × 0"},
        {{}, 65, -640, 480, "—", "—", "0 × 480"},
        {{"hevc", "png", "eac3", "eac3", "pcm_s32be"},
         64,
         3840,
         -1,
         "hevc, eac3, eac3, pcm_s32be",
         "64",
         "3840 × 0"},
        {{"/home/me/secret.mov", "HEVC", "h264 "}, 1, 1, 1, "—", "1", "1 × 1"},
        {{"alac"}, std::nullopt, 0, 0, "alac", "—", "0 × 0"},
    };
    for (const auto& c : cases) {
        auto media = videoMedia();
        media.codecs = c.codecs;
        media.channels = c.channels;
        media.width = c.width;
        media.height = c.height;
        auto report = SupportDiagnostics::text("1", "1", {}, "x86_64", "en", {}, media);
        EXPECT_EQ(reportLine(report, "Encoding: "), c.encoding) << c.encoding;
        EXPECT_EQ(reportLine(report, "Channels: "), c.channelsShown) << c.encoding;
        EXPECT_EQ(reportLine(report, "Resolution: "), c.resolution) << c.encoding;
    }
}

TEST(SupportDiagnostics, PrivateErrorPassesOnlyTheKnownMessages) {
    const char* known[] = {
        "任务已取消，原文件未改动。",
        "处理被中断。原片和已有剪辑已保留，可稍后重试。",
        "处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。",
        "无法读取音频采样率或声道信息。",
        "找不到素材文件，请重新导入。",
        "全部内容都被标为删除了。请恢复至少一段内容后再导出。",
        "磁盘空间不足。当前剪辑已保留。",
    };
    for (const char* message : known)
        EXPECT_EQ(SupportDiagnostics::privateError(std::string(message)), message);

    const std::string others[] = {
        "无法写入“会议-张三.m4a”：没有访问权限。",
        "找不到素材文件：\n/home/zhang/录音/会议.m4a",
        "处理未完成：\nffmpeg: /home/zhang/a.wav: Permission denied",
        "磁盘空间不足。当前剪辑已保留。 ",  // not exactly a known message
        "No such file or directory",
    };
    for (const auto& message : others)
        EXPECT_EQ(SupportDiagnostics::privateError(message), kPrivacyText) << message;
    EXPECT_EQ(SupportDiagnostics::privateError(std::nullopt), "—");
    EXPECT_EQ(SupportDiagnostics::privateError(std::string()), "—");

    // In the report, a path in the last error never appears.
    auto report =
        SupportDiagnostics::text("1", "1", {}, "x86_64", "en", "无法读取“/home/zhang/私人.mp4”。", {});
    EXPECT_EQ(reportLine(report, "Last error: "), kPrivacyText);
    EXPECT_EQ(report.find("zhang"), std::string::npos);
}

TEST(SupportDiagnostics, KernelReleaseGivesOnlyItsLeadingNumbers) {
    const std::pair<const char*, OperatingSystemVersion> cases[] = {
        {"6.1.0-18-amd64", {6, 1, 0}},
        {"6.18.44-fc-v1523", {6, 18, 44}},
        {"5.15.0-91-generic", {5, 15, 0}},
        {"5.15", {5, 15, 0}},
        {"4", {4, 0, 0}},
        {"6.1.0.99", {6, 1, 0}},
        {"6.x.3", {6, 0, 0}},
        {"6.8.0+zhangs-laptop", {6, 8, 0}},
        {"", {0, 0, 0}},
        {"linux", {0, 0, 0}},
        {"99999999999999999999.1.1", {0, 0, 0}},
    };
    for (const auto& [release, version] : cases)
        EXPECT_EQ(SupportDiagnostics::kernelVersion(release), version) << release;
}

TEST(SupportDiagnostics, ModelNameComesFromTheFirstProcessorBlock) {
    const std::pair<const char*, const char*> cases[] = {
        {"processor\t: 0\nvendor_id\t: GenuineIntel\nmodel\t\t: 142\n"
         "model name\t: Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz\nstepping\t: 10\n\n"
         "processor\t: 1\nmodel name\t: Other\n",
         "Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz"},
        {"model name\t: Intel(R) Xeon(R) CPU           E5-2670 0 @ 2.60GHz  \n",
         "Intel(R) Xeon(R) CPU E5-2670 0 @ 2.60GHz"},
        {"model name : AMD EPYC", "AMD EPYC"},
        {"processor\t: 0\nBogoMIPS\t: 48.00\nCPU implementer\t: 0x41\n", ""},
        {"model names\t: not this\nmodel\t\t: 142\n", ""},
        {"", ""},
    };
    for (const auto& [cpuinfo, name] : cases)
        EXPECT_EQ(SupportDiagnostics::modelName(cpuinfo), name) << cpuinfo;
}

TEST(SupportDiagnostics, ThisMachineFillsTheSystemLines) {
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    auto version = SupportDiagnostics::systemVersion();
    EXPECT_EQ(version, SupportDiagnostics::kernelVersion(names.release));
    EXPECT_GE(version.major, 3);

    // The real model name (or machine name) passes the report's filter.
    auto processor = SupportDiagnostics::processorName();
    ASSERT_FALSE(processor.empty());
    auto report = SupportDiagnostics::text("1.0.0", "1", version, processor, "zh", {}, {});
    EXPECT_EQ(reportLine(report, "Chip: "), processor);
    EXPECT_EQ(reportLine(report, "Linux: "), std::to_string(version.major) + "." +
                                                 std::to_string(version.minor) + "." +
                                                 std::to_string(version.patch));
}

}  // namespace
}  // namespace talvian
