#include "Export/HandoffPlan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "HandoffFixtures.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using nlohmann::json;
using test::messageOf;

const std::string kRateMessage = "这份素材的帧率暂不支持工程交接。";
const std::string kTailMessage =
    "保留内容超出视频尾帧。当前工程交接暂不支持这份素材的音视频尾部差异，可先导出剪后文件。";
const std::string kNothingKeptMessage = "没有保留内容，请先恢复一段再导出。";
const std::string kReportMessage = "无法读取工程交接所需的媒体信息。";
const std::string kStreamsMessage =
    "工程交接目前支持一条视频流和一条音轨。纯音频或多轨素材请先导出剪后文件。";
const std::string kColourMessage =
    "素材缺少完整的标准 "
    "SDR（Rec.709）色彩标记，或使用了其他色彩空间。为避免偏色，暂不导出此工程；原片未改动，"
    "可继续导出剪后文件。";
const std::string kRotationMessage = "带旋转标记的素材尚未验证工程交接。可先导出剪后文件。";
const std::string kPixelsMessage = "非方形像素或隔行视频尚未验证工程交接。";
const std::string kStartMessage = "音视频起始时间不为零，尚未验证工程交接。";
const std::string kVariableRateMessage = "可变帧率素材尚未验证工程交接。";
const std::string kTimeBaseMessage = "视频时间基准无效。";
const std::string kFrameTimesUnreadable = "无法读取视频帧时间。";
const std::string kFrameTimesIncomplete = "视频帧时间不完整，尚不能交接。";
const std::string kNoFrames = "视频中没有可用帧。";
const std::string kCadenceMessage = "视频含可变帧率或时间戳间隙，暂不导出工程。";
const std::string kMismatchMessage = "项目时长或音视频信息与原片不一致。请重新分析。";
const std::string kSurroundMessage =
    "工程交接目前支持单声道或立体声音轨；环绕声尚未验证，不能静默混为双声道。";

TEST(HandoffFrameRate, ReducesAcceptedRatesAndRefusesTheRest) {
    struct Case {
        const char* text;
        std::int64_t numerator, denominator;
    };
    for (auto c : std::vector<Case>{{"30000/1001", 30000, 1001},
                                    {"60/2", 30, 1},
                                    {"25/1", 25, 1},
                                    {"24000/1001", 24000, 1001},
                                    {"+50/2", 25, 1},
                                    {"120/1", 120, 1},
                                    {"1/1", 1, 1},
                                    {"1000000000/8333334", 500000000, 4166667}}) {
        HandoffFrameRate rate(c.text);
        EXPECT_EQ(rate.numerator, c.numerator) << c.text;
        EXPECT_EQ(rate.denominator, c.denominator) << c.text;
    }
    EXPECT_DOUBLE_EQ(HandoffFrameRate("30000/1001").value(), 30000.0 / 1001.0);
    for (auto text : {"0/0", "30", "30/", "/1", "30/1/1", "121/1", "1/2", "1000000001/1", "", "/", "-30/-1",
                      "30/0", "+-30/1", "30.0/1", " 30/1", "30/1 ", "0x1E/1", "99999999999999999999/1"}) {
        EXPECT_EQ(messageOf([&] { HandoffFrameRate{text}; }), kRateMessage) << text;
    }
}

TEST(HandoffFrameRate, WritesFrameCountsAsRationalTimes) {
    struct Case {
        const char* rate;
        std::int64_t frames;
        const char* time;
    };
    for (auto c : std::vector<Case>{{"25/1", 0, "0s"},
                                    {"25/1", 1, "1/25s"},
                                    {"25/1", 50, "2/1s"},
                                    {"25/1", 340, "68/5s"},
                                    {"30000/1001", 1, "1001/30000s"},
                                    {"30000/1001", 30, "1001/1000s"},
                                    {"30000/1001", 30000, "1001/1s"},
                                    {"24000/1001", 1, "1001/24000s"},
                                    {"24000/1001", 48, "1001/500s"}}) {
        EXPECT_EQ(HandoffFrameRate(c.rate).time(c.frames), c.time) << c.rate << " " << c.frames;
    }
    HandoffFrameRate ntsc("30000/1001");
    EXPECT_EQ(messageOf([&] { ntsc.time(-1); }), "时间线包含无效帧位置。");
    EXPECT_EQ(messageOf([&] { ntsc.time(INT64_MAX / 1001 + 1); }), "素材时长超出可交接范围。");
    EXPECT_NO_THROW(ntsc.time(INT64_MAX / 1001));
}

std::vector<CutRegion> keep(std::vector<std::pair<double, double>> spans) {
    std::vector<CutRegion> regions;
    for (auto [start, end] : spans) regions.emplace_back(start, end, false);
    return regions;
}

TEST(EditorHandoffSnap, RoundsOutwardsAndMergesAfterRounding) {
    HandoffFrameRate pal("25/1");
    using Ranges = std::vector<HandoffFrameRange>;
    struct Case {
        std::vector<std::pair<double, double>> kept;
        Ranges expected;
    };
    for (const auto& c : std::vector<Case>{
             {{{0.05, 3.99}}, {{1, 100}}},
             {{{0.04, 4.0}}, {{1, 100}}},
             {{{0, 10.03}}, {{0, 250}}},              // audio a fraction of a frame past the picture
             {{{0, 10.04}}, {{0, 250}}},              // exactly one frame past
             {{{0, 3.99}, {4.0, 7.2}}, {{0, 180}}},   // [0,100) and [100,180) touch
             {{{0, 3.99}, {3.97, 7.2}}, {{0, 180}}},  // [0,100) and [99,180) overlap
             {{{0, 1}, {1.03, 2}}, {{0, 50}}},        // 25.75 rounds down onto the end of [0,25)
             {{{0, 1}, {1.05, 2}}, {{0, 25}, {26, 50}}},
         }) {
        EXPECT_EQ(EditorHandoff::snap(keep(c.kept), pal, 250), c.expected) << c.kept.front().first;
    }
    EXPECT_EQ(messageOf([&] { EditorHandoff::snap(keep({{0, 10.05}}), pal, 250); }), kTailMessage);
    EXPECT_EQ(messageOf([&] { EditorHandoff::snap(keep({{10.0, 10.02}}), pal, 250); }), kTailMessage);
    EXPECT_EQ(messageOf([&] { EditorHandoff::snap(keep({{-0.1, 1}}), pal, 250); }), kTailMessage);
    EXPECT_EQ(messageOf([&] { EditorHandoff::snap(keep({{NAN, 1}}), pal, 250); }), kTailMessage);
    EXPECT_EQ(messageOf([&] { EditorHandoff::snap({}, pal, 250); }), kNothingKeptMessage);
}

// At every supported kind of rate, a time on a frame boundary stays on it, every range
// covers its kept stretch and no range reaches past the last frame.
TEST(EditorHandoffSnap, KeepsWholeFramesInsideTheMediaAtCommonRates) {
    for (auto rateText : {"25/1", "30000/1001", "24000/1001"}) {
        SCOPED_TRACE(rateText);
        HandoffFrameRate rate(rateText);
        const std::int64_t frames = 600;
        auto secondsOf = [&](std::int64_t frame) {
            return static_cast<double>(frame) * static_cast<double>(rate.denominator) /
                   static_cast<double>(rate.numerator);
        };
        for (std::int64_t k = 0; k < frames; ++k) {
            auto ranges = EditorHandoff::snap(keep({{secondsOf(k), secondsOf(k + 1)}}), rate, frames);
            ASSERT_EQ(ranges, (std::vector<HandoffFrameRange>{{k, k + 1}})) << "frame " << k;
        }

        // Kept stretches that fall between frame boundaries.
        std::vector<std::pair<double, double>> spans;
        for (double start = 0.013; start + 1.2 < secondsOf(frames); start += 1.37)
            spans.push_back({start, start + 0.9});
        spans.push_back({spans.back().second + 0.3, secondsOf(frames) + 0.5 / rate.value()});  // audio tail
        auto ranges = EditorHandoff::snap(keep(spans), rate, frames);
        ASSERT_EQ(ranges.size(), spans.size());
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            EXPECT_LE(secondsOf(ranges[i].start), spans[i].first + 1e-9);
            EXPECT_GT(secondsOf(ranges[i].start + 1), spans[i].first);
            EXPECT_LE(ranges[i].end, frames);
            if (i + 1 < ranges.size()) {
                EXPECT_GE(secondsOf(ranges[i].end), spans[i].second - 1e-9);
                EXPECT_LT(secondsOf(ranges[i].end - 1), spans[i].second);
                EXPECT_LT(ranges[i].end, ranges[i + 1].start);
            }
        }
        EXPECT_EQ(ranges.back().end, frames);
        // More than one frame of sound past the picture is refused rather than clipped.
        EXPECT_EQ(messageOf([&] {
                      EditorHandoff::snap(keep({{0, secondsOf(frames + 1) + 0.001}}), rate, frames);
                  }),
                  kTailMessage);
    }
}

// The report ffprobe gives for a 25 fps H.264 file with AAC stereo, cut to the keys read.
json goodReport() {
    return json::parse(R"({
      "streams": [
        {"index": 0, "codec_type": "video", "width": 320, "height": 240,
         "sample_aspect_ratio": "1:1", "field_order": "progressive",
         "color_range": "tv", "color_space": "bt709", "color_transfer": "bt709", "color_primaries": "bt709",
         "r_frame_rate": "25/1", "avg_frame_rate": "25/1", "time_base": "1/12800", "start_time": "0.000000",
         "tags": {"language": "und", "handler_name": "VideoHandler"}},
        {"index": 1, "codec_type": "audio", "sample_rate": "48000", "channels": 2, "time_base": "1/48000",
         "start_time": "0.000000"}
      ],
      "format": {"duration": "10.000000", "format_name": "mov,mp4,m4a,3gp,3g2,mj2"}
    })");
}

TEST(EditorHandoffChecks, AcceptsAStandardReport) {
    auto streams = EditorHandoff::checkStreams(goodReport());
    EXPECT_EQ(streams.frameRate, HandoffFrameRate("25/1"));
    EXPECT_DOUBLE_EQ(streams.secondsPerTick, 1.0 / 12800);
    auto media = EditorHandoff::checkMedia(goodReport(), streams, 10.0);
    EXPECT_EQ(media.width, 320);
    EXPECT_EQ(media.height, 240);
    EXPECT_EQ(media.channels, 2);
    EXPECT_EQ(media.sampleRate, 48000);
}

// A time base is read whole at any length: its text may be short enough to live inside the
// string or long enough to live on the heap (the largest numerator and denominator FFmpeg keeps).
TEST(EditorHandoffChecks, ReadsTheTimeBaseAtAnyLength) {
    struct Case {
        std::string timeBase;
        double secondsPerTick;
    };
    const std::vector<Case> cases{
        {"1/12800", 1.0 / 12800},
        {"1/1000000000", 1.0 / 1000000000},
        {"1001/2147483647", 1001.0 / 2147483647},
        {"2147483646/2147483647", 2147483646.0 / 2147483647},
        {"0000000000000000000000001/0000000000000000000000030000", 1.0 / 30000},
    };
    for (const auto& c : cases) {
        auto report = goodReport();
        report["streams"][0]["time_base"] = c.timeBase;
        double secondsPerTick = 0;
        EXPECT_EQ(messageOf([&] { secondsPerTick = EditorHandoff::checkStreams(report).secondsPerTick; }), "")
            << c.timeBase;
        EXPECT_DOUBLE_EQ(secondsPerTick, c.secondsPerTick) << c.timeBase;
    }
}

TEST(EditorHandoffChecks, RefusesEachUnverifiedKindOfStream) {
    struct Case {
        const char* what;
        std::function<void(json&)> change;
        std::string message;  // empty: accepted
    };
    auto video = [](json& r) -> json& { return r["streams"][0]; };
    auto audio = [](json& r) -> json& { return r["streams"][1]; };
    std::vector<Case> cases{
        {"array top level", [](json& r) { r = json::array(); }, kReportMessage},
        {"empty object", [](json& r) { r = json::object(); }, kReportMessage},
        {"streams not a list", [](json& r) { r["streams"] = "x"; }, kReportMessage},
        {"stream not an object", [](json& r) { r["streams"].push_back(3); }, kReportMessage},
        {"audio only", [](json& r) { r["streams"].erase(0); }, kStreamsMessage},
        {"cover art", [&](json& r) { r["streams"].push_back(video(r)); }, kStreamsMessage},
        {"two audio tracks", [&](json& r) { r["streams"].push_back(audio(r)); }, kStreamsMessage},
        {"no colour range", [&](json& r) { video(r).erase("color_range"); }, kColourMessage},
        {"full range", [&](json& r) { video(r)["color_range"] = "pc"; }, kColourMessage},
        {"HDR transfer", [&](json& r) { video(r)["color_transfer"] = "smpte2084"; }, kColourMessage},
        {"BT.601 matrix", [&](json& r) { video(r)["color_space"] = "smpte170m"; }, kColourMessage},
        {"no primaries", [&](json& r) { video(r).erase("color_primaries"); }, kColourMessage},
        {"display matrix 90",
         [&](json& r) {
             video(r)["side_data_list"] =
                 json::parse(R"([{"side_data_type":"Display Matrix","rotation":-90}])");
         },
         kRotationMessage},
        {"display matrix 0",
         [&](json& r) {
             video(r)["side_data_list"] =
                 json::parse(R"([{"side_data_type":"Display Matrix","rotation":0}])");
         },
         ""},
        {"side data not all objects",
         [&](json& r) { video(r)["side_data_list"] = json::parse(R"([{"rotation":90}, 1])"); }, ""},
        {"rotate tag", [&](json& r) { video(r)["tags"]["rotate"] = "180"; }, kRotationMessage},
        {"rotate tag unreadable", [&](json& r) { video(r)["tags"]["rotate"] = "up"; }, kRotationMessage},
        {"rotate tag zero", [&](json& r) { video(r)["tags"]["rotate"] = "0"; }, ""},
        {"tags not all texts",
         [&](json& r) {
             video(r)["tags"]["rotate"] = "90";
             video(r)["tags"]["n"] = 1;
         },
         ""},
        {"no aspect ratio or field order",
         [&](json& r) {
             video(r).erase("sample_aspect_ratio");
             video(r).erase("field_order");
         },
         ""},
        {"anamorphic", [&](json& r) { video(r)["sample_aspect_ratio"] = "4:3"; }, kPixelsMessage},
        {"top field first", [&](json& r) { video(r)["field_order"] = "tt"; }, kPixelsMessage},
        {"bottom field first", [&](json& r) { video(r)["field_order"] = "bb"; }, kPixelsMessage},
        {"unknown field order", [&](json& r) { video(r)["field_order"] = "unknown"; }, ""},
        {"video starts at 10 µs", [&](json& r) { video(r)["start_time"] = "0.000010"; }, kStartMessage},
        {"video starts at 9 µs", [&](json& r) { video(r)["start_time"] = "0.000009"; }, ""},
        {"audio starts late", [&](json& r) { audio(r)["start_time"] = "0.021333"; }, kStartMessage},
        {"audio starts early", [&](json& r) { audio(r)["start_time"] = "-0.021333"; }, kStartMessage},
        {"start time not a number", [&](json& r) { audio(r)["start_time"] = "N/A"; }, kStartMessage},
        {"no start times",
         [&](json& r) {
             video(r).erase("start_time");
             audio(r).erase("start_time");
         },
         ""},
        {"no average rate", [&](json& r) { video(r).erase("avg_frame_rate"); }, kRateMessage},
        {"zero average rate", [&](json& r) { video(r)["avg_frame_rate"] = "0/0"; }, kRateMessage},
        {"variable rate", [&](json& r) { video(r)["avg_frame_rate"] = "2997/100"; }, kVariableRateMessage},
        {"rates equal after reduction", [&](json& r) { video(r)["r_frame_rate"] = "50/2"; }, ""},
        {"no time base", [&](json& r) { video(r).erase("time_base"); }, kTimeBaseMessage},
        {"zero time base", [&](json& r) { video(r)["time_base"] = "0/1"; }, kTimeBaseMessage},
        {"time base of one piece", [&](json& r) { video(r)["time_base"] = "12800"; }, kTimeBaseMessage},
    };
    for (const auto& c : cases) {
        auto report = goodReport();
        c.change(report);
        EXPECT_EQ(messageOf([&] { EditorHandoff::checkStreams(report); }), c.message) << c.what;
    }
}

TEST(EditorHandoffChecks, RefusesAReportThatNoLongerMatchesTheProject) {
    struct Case {
        const char* what;
        std::function<void(json&)> change;
        double projectDuration;
        std::string message;
    };
    std::vector<Case> cases{
        {"0.015 s apart", [](json&) {}, 10.015, ""},
        {"0.021 s apart", [](json&) {}, 10.021, kMismatchMessage},
        {"no format", [](json& r) { r.erase("format"); }, 10, kMismatchMessage},
        {"duration a number", [](json& r) { r["format"]["duration"] = 10.0; }, 10, kMismatchMessage},
        {"width missing", [](json& r) { r["streams"][0].erase("width"); }, 10, kMismatchMessage},
        {"height zero", [](json& r) { r["streams"][0]["height"] = 0; }, 10, kMismatchMessage},
        {"width fractional", [](json& r) { r["streams"][0]["width"] = 320.5; }, 10, kMismatchMessage},
        {"channels as text", [](json& r) { r["streams"][1]["channels"] = "2"; }, 10, kMismatchMessage},
        {"sample rate number", [](json& r) { r["streams"][1]["sample_rate"] = 48000; }, 10, kMismatchMessage},
        {"sample rate zero", [](json& r) { r["streams"][1]["sample_rate"] = "0"; }, 10, kMismatchMessage},
        {"mono", [](json& r) { r["streams"][1]["channels"] = 1; }, 10, ""},
        {"three channels", [](json& r) { r["streams"][1]["channels"] = 3; }, 10, kSurroundMessage},
        {"5.1", [](json& r) { r["streams"][1]["channels"] = 6; }, 10, kSurroundMessage},
    };
    for (const auto& c : cases) {
        auto report = goodReport();
        c.change(report);
        auto streams = EditorHandoff::checkStreams(report);
        EXPECT_EQ(messageOf([&] { EditorHandoff::checkMedia(report, streams, c.projectDuration); }),
                  c.message)
            << c.what;
    }
}

std::string packetTimes(int frames, double fps, const std::function<double(int)>& shift = {}) {
    std::string text;
    for (int j = 0; j < frames; ++j) {
        double t = j / fps + (shift ? shift(j) : 0);
        char line[32];
        std::snprintf(line, sizeof line, "%.6f\n", t);
        text += line;
    }
    return text;
}

TEST(EditorHandoffChecks, CountsFramesAndRefusesGapsAndUnreadableTimes) {
    auto streams = EditorHandoff::checkStreams(goodReport());
    Cancellation running;
    EXPECT_EQ(EditorHandoff::checkFrameTimes(packetTimes(250, 25), streams, running), 250);
    // Packets arrive in decode order; their times are sorted before the cadence check.
    EXPECT_EQ(EditorHandoff::checkFrameTimes("0.000000\n0.080000\r\n0.040000\n\n0.120000", streams, running),
              4);

    struct Case {
        const char* what;
        std::string output;
        std::string message;
    };
    std::vector<Case> cases{
        {"missing frame", packetTimes(250, 25, [](int j) { return j >= 100 ? 0.04 : 0; }), kCadenceMessage},
        {"late first frame", packetTimes(25, 25, [](int) { return 0.001; }), kCadenceMessage},
        {"N/A", "0.000000\nN/A\n0.080000\n", kFrameTimesIncomplete},
        {"infinite", "0.000000\ninf\n", kFrameTimesIncomplete},
        {"not UTF-8", "0.000000\n\xff\n", kFrameTimesUnreadable},
        {"empty", "\n\n", kNoFrames},
    };
    for (const auto& c : cases)
        EXPECT_EQ(messageOf([&] { EditorHandoff::checkFrameTimes(c.output, streams, running); }), c.message)
            << c.what;

    // A jitter within two ticks of the time base is no gap.
    EXPECT_EQ(EditorHandoff::checkFrameTimes(
                  packetTimes(100, 25, [](int j) { return j % 2 ? 1.5 / 12800 : 0; }), streams, running),
              100);

    // 30000/1001 with ffprobe's microsecond rounding of times.
    auto report = goodReport();
    report["streams"][0]["avg_frame_rate"] = report["streams"][0]["r_frame_rate"] = "30000/1001";
    report["streams"][0]["time_base"] = "1/30000";
    EXPECT_EQ(EditorHandoff::checkFrameTimes(packetTimes(300, 30000.0 / 1001),
                                             EditorHandoff::checkStreams(report), running),
              300);

    Cancellation cancelled;
    cancelled.cancel();
    EXPECT_EQ(messageOf([&] { EditorHandoff::checkFrameTimes(packetTimes(5, 25), streams, cancelled); }),
              "任务已取消，原文件未改动。");
}

// ---- The whole check on generated media ------------------------------------------------

namespace fs = std::filesystem;

TEST(EditorHandoffPrepare, PlansWholeFramesOfGeneratedMediaAtCommonRates) {
    test::TempDir dir;
    struct Case {
        const char* rate;
        std::int64_t frames;
    };
    for (auto c : std::vector<Case>{{"25/1", 75}, {"30000/1001", 90}, {"24000/1001", 72}}) {
        SCOPED_TRACE(c.rate);
        auto file = dir / (std::to_string(c.frames) + ".mp4");
        test::makeRec709Video(file, c.rate);
        auto project = test::probedProject(file, {{0.5, 1.0, true}, {1.7, 2.2, true}, {1.0, 1.2, false}});
        auto plan = EditorHandoff::prepare(project, makeCancellation());

        const HandoffFrameRate rate(c.rate);
        EXPECT_EQ(plan.frameRate, rate);
        EXPECT_EQ(plan.sourceFrames, c.frames);
        EXPECT_EQ(plan.width, 160);
        EXPECT_EQ(plan.height, 120);
        EXPECT_EQ(plan.channels, 2);
        EXPECT_EQ(plan.sampleRate, 48000);
        EXPECT_NEAR(plan.requestedDuration, project.info.duration - 1.0, 1e-9);
        // Kept: [0, 0.5], [1.0, 1.7], [2.2, end]; starts rounded down, ends up, the end at the last frame.
        auto frame = [&](double seconds) { return seconds * rate.value(); };
        ASSERT_EQ(plan.ranges.size(), 3u);
        EXPECT_EQ(plan.ranges[0].start, 0);
        EXPECT_EQ(plan.ranges[0].end, static_cast<std::int64_t>(std::ceil(frame(0.5) - 1e-8)));
        EXPECT_EQ(plan.ranges[1].start, static_cast<std::int64_t>(std::floor(frame(1.0) + 1e-8)));
        EXPECT_EQ(plan.ranges[1].end, static_cast<std::int64_t>(std::ceil(frame(1.7) - 1e-8)));
        EXPECT_EQ(plan.ranges[2].start, static_cast<std::int64_t>(std::floor(frame(2.2) + 1e-8)));
        EXPECT_EQ(plan.ranges[2].end, c.frames);
        EXPECT_NEAR(plan.duration(), static_cast<double>(plan.outputFrames()) / rate.value(), 1e-12);
    }
}

TEST(EditorHandoffPrepare, RefusesUnsuitableGeneratedMedia) {
    test::TempDir dir;
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        std::string message;
    };
    std::vector<Case> cases{
        {"audio.m4a", [](const fs::path& f) { test::makeMedia("-f lavfi -i sine=duration=2 -c:a aac", f); },
         kStreamsMessage},
        {"untagged.mp4",
         [](const fs::path& f) {
             test::makeMedia(
                 "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i sine=duration=2 "
                 "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest",
                 f);
         },
         kColourMessage},
        {"surround.mp4",
         [](const fs::path& f) {
             test::makeRec709Video(f, "25", 3, "-af 'pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0' -ac 6");
         },
         kSurroundMessage},
        {"dropped-frame.mp4",
         [](const fs::path& f) {
             test::makeRec709Video(f, "25", 3, "-vf \"select='not(eq(n,40))'\" -fps_mode passthrough");
         },
         kVariableRateMessage},
    };
    for (const auto& c : cases) {
        auto file = dir / c.name;
        c.make(file);
        auto project = test::probedProject(file);
        EXPECT_EQ(messageOf([&] { EditorHandoff::prepare(project, makeCancellation()); }), c.message)
            << c.name;
    }

    auto good = dir / "good.mp4";
    test::makeRec709Video(good, "25");
    auto everythingCut = test::probedProject(good, {{0, 3, true}});
    EXPECT_EQ(messageOf([&] { EditorHandoff::prepare(everythingCut, makeCancellation()); }),
              kNothingKeptMessage);
    auto changed = test::probedProject(good);
    changed.sourceBytes += 1;
    EXPECT_EQ(messageOf([&] { EditorHandoff::prepare(changed, makeCancellation()); }),
              "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。");
    auto token = makeCancellation();
    token->cancel();
    EXPECT_EQ(messageOf([&] { EditorHandoff::prepare(test::probedProject(good), token); }),
              "任务已取消，原文件未改动。");
}

}  // namespace
}  // namespace talvian
