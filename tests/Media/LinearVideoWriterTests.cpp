#include "Media/LinearVideoWriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <future>
#include <vector>

#include "MediaTestSupport.h"
#include "Model/CoreTypes.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;

std::vector<CutRegion> keptRanges(std::initializer_list<std::pair<double, double>> ranges) {
    std::vector<CutRegion> kept;
    for (auto [start, end] : ranges) kept.emplace_back(start, end, false);
    return kept;
}

MediaInfo infoAt(double frameRate, double duration) {
    MediaInfo info;
    info.frameRate = frameRate;
    info.duration = duration;
    info.hasVideo = info.hasAudio = true;
    return info;
}

// ---- The settings rule -------------------------------------------------------------

TEST(LinearVideoWriterRules, BitRateAndKeyFrameInterval) {
    struct Case {
        std::int32_t width, height;
        double frameRate;
        double bitRate;
        std::int64_t keyInterval;
    };
    const Case cases[] = {
        {1920, 1080, 29.97, 15'536'448, 60}, {3840, 2160, 60, 40'000'000, 120},
        {320, 240, 15, 1'000'000, 30},       {1920, 1080, 23.976, 12'429'158.4, 48},
        {1920, 1080, 0, 1'000'000, 2},       {1920, 1080, std::nan(""), 1'000'000, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "@" +
                     std::to_string(c.frameRate));
        EXPECT_NEAR(LinearVideoWriter::averageBitRate(c.width, c.height, c.frameRate), c.bitRate, 1e-6);
        EXPECT_EQ(LinearVideoWriter::maxKeyFrameInterval(c.frameRate), c.keyInterval);
    }
}

TEST(LinearVideoWriterRules, TrackTimescaleIsTheLeastCommonMultiple) {
    EXPECT_EQ(LinearVideoWriter::trackTimescale(600, 48000), 48000);
    EXPECT_EQ(LinearVideoWriter::trackTimescale(30000, 48000), 240000);
    EXPECT_EQ(LinearVideoWriter::trackTimescale(90000, 44100), 4410000);
    EXPECT_EQ(LinearVideoWriter::trackTimescale(10'000'000, 44100), 60'000'000);
    EXPECT_EQ(LinearVideoWriter::trackTimescale(0, 44100), 44100);
}

TEST(LinearVideoWriterRules, CodecColourAndPixelAspect) {
    constexpr int bt709 = 1, bt2020 = 9, bt2020nc = 9, pq = 16, hlg = 18;
    struct Case {
        const char* name;
        PictureFormat format;
        VideoCodec codec;
        std::optional<std::array<int, 3>> colour;
    };
    auto format = [](int bits, std::optional<int> primaries, std::optional<int> transfer,
                     std::optional<int> matrix) {
        PictureFormat f;
        f.width = 160;
        f.height = 120;
        f.bitsPerComponent = bits;
        f.colourPrimaries = primaries;
        f.transferCharacteristics = transfer;
        f.matrixCoefficients = matrix;
        return f;
    };
    const Case cases[] = {
        {"8-bit BT.709", format(8, bt709, bt709, bt709), VideoCodec::h264, std::array{bt709, bt709, bt709}},
        {"8-bit untagged", format(8, {}, {}, {}), VideoCodec::h264, std::nullopt},
        {"10-bit BT.709", format(10, bt709, bt709, bt709), VideoCodec::hevc, std::array{bt709, bt709, bt709}},
        {"8-bit PQ", format(8, bt2020, pq, bt2020nc), VideoCodec::hevc, std::array{bt2020, pq, bt2020nc}},
        {"8-bit HLG", format(8, bt2020, hlg, bt2020nc), VideoCodec::hevc, std::array{bt2020, hlg, bt2020nc}},
        {"no transfer tag", format(8, bt709, {}, bt709), VideoCodec::h264, std::nullopt},
        {"only a transfer tag", format(8, {}, bt709, {}), VideoCodec::h264, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PictureSettings settings = LinearVideoWriter::settings(c.format, 25);
        EXPECT_EQ(settings.codec, c.codec);
        EXPECT_EQ(settings.colour, c.colour);
        EXPECT_EQ(settings.width, 160);
        EXPECT_EQ(settings.height, 120);
    }

    PictureFormat anamorphic = format(8, {}, {}, {});
    anamorphic.pixelAspectRatio = std::array{4, 3};
    EXPECT_EQ(LinearVideoWriter::settings(anamorphic, 25).pixelAspectRatio, (std::array{4, 3}));
    for (auto broken : {std::array{4, 0}, std::array{-1, 1}, std::array{0, 3}}) {
        anamorphic.pixelAspectRatio = broken;
        EXPECT_EQ(test::messageOf([&] { LinearVideoWriter::settings(anamorphic, 25); }),
                  "像素比例信息无效。");
    }
}

TEST(LinearVideoWriterRules, OddSidesAreWrittenEvenAtTheSourcesDisplayAspect) {
    struct Case {
        std::int32_t width, height;
        std::optional<std::array<int, 2>> storedRatio;
        std::int32_t writtenWidth, writtenHeight;
        std::optional<std::array<int, 2>> writtenRatio;  // none: the source's own (or none)
    };
    const Case cases[] = {
        {640, 360, std::nullopt, 640, 360, std::nullopt},
        {640, 360, std::array{4, 3}, 640, 360, std::array{4, 3}},
        {641, 361, std::nullopt, 642, 362, std::nullopt},
        {640, 361, std::nullopt, 640, 362, std::nullopt},
        {2, 121, std::nullopt, 2, 122, std::nullopt},
        {641, 360, std::array{4, 3}, 642, 360, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        PictureFormat format;
        format.width = c.width;
        format.height = c.height;
        format.pixelAspectRatio = c.storedRatio;
        const PictureSettings settings = LinearVideoWriter::settings(format, 30);
        EXPECT_EQ(settings.width, c.writtenWidth);
        EXPECT_EQ(settings.height, c.writtenHeight);
        // The bit rate follows the source's own pixels, as the disk preflight estimates it.
        EXPECT_EQ(settings.averageBitRate, LinearVideoWriter::averageBitRate(c.width, c.height, 30));
        if (c.writtenWidth == c.width && c.writtenHeight == c.height) {
            EXPECT_EQ(settings.pixelAspectRatio, c.storedRatio);
            continue;
        }
        // A written ratio within the 4096 the encoders keep, showing the source's display aspect.
        ASSERT_TRUE(settings.pixelAspectRatio.has_value());
        const auto [h, v] = *settings.pixelAspectRatio;
        EXPECT_LE(std::max(h, v), 4096);
        const auto [sh, sv] = c.storedRatio.value_or(std::array{1, 1});
        const double sourceAspect = double(c.width) * sh / (double(c.height) * sv);
        const double writtenAspect = double(settings.width) * h / (double(settings.height) * v);
        EXPECT_NEAR(writtenAspect / sourceAspect, 1.0, 1e-6);
    }
}

// ---- Rendering generated sources ---------------------------------------------------

struct Render {
    MediaTime total;
    std::string standardError;
    std::vector<std::pair<double, std::string>> progress;
};

// The writer's own line among whatever the codec libraries log.
std::vector<std::string> linearReadLines(const std::string& standardError) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < standardError.size()) {
        std::size_t end = standardError.find('\n', start);
        std::string line =
            standardError.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
        if (line.rfind("linear-read", 0) == 0) lines.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

Render render(const std::filesystem::path& source, const MediaInfo& info, const std::vector<CutRegion>& kept,
              const std::filesystem::path& destination, CancellationToken token = makeCancellation()) {
    Render result;
    testing::internal::CaptureStderr();
    try {
        result.total = LinearVideoWriter::render(
            source, info, kept, destination, token,
            [&](double fraction, const std::string& step) { result.progress.emplace_back(fraction, step); });
    } catch (...) {
        result.standardError = testing::internal::GetCapturedStderr();
        throw;
    }
    result.standardError = testing::internal::GetCapturedStderr();
    return result;
}

// Packet times of the picture track as exact fractions of its timescale.
struct PacketTime {
    std::int64_t pts, duration;
};

std::vector<PacketTime> packetTimes(const std::filesystem::path& file) {
    std::vector<PacketTime> times;
    for (const auto& packet : test::probePackets(file, "v"))
        times.push_back({packet.at("pts").get<std::int64_t>(), packet.value("duration", std::int64_t{-1})});
    return times;
}

// Within the track every frame lasts until the next one starts.
void expectNoGaps(const std::vector<PacketTime>& times) {
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_EQ(times[i].pts, times[i - 1].pts + times[i - 1].duration) << "packet " << i;
}

std::int64_t totalDuration(const std::vector<PacketTime>& times) {
    std::int64_t sum = 0;
    for (const auto& time : times) sum += time.duration;
    return sum;
}

TEST(LinearVideoWriter, AFrameStartingBeforeTheSegmentIsShortenedAndTheFrameAtItsEndIsLeftOut) {
    TempDir dir;
    test::makeVideo(dir / "source.mp4", "25", 4, 48000);
    Render r = render(dir / "source.mp4", infoAt(25, 4), keptRanges({{0.05, 1.0}}), dir / "picture.mp4");

    EXPECT_EQ(r.total, MediaTime(45600, 48000));
    EXPECT_EQ(r.total.timescale, 48000);
    EXPECT_EQ(linearReadLines(r.standardError), std::vector<std::string>{"linear-read 100 appended 24\n"});
    auto stream = test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video");
    const std::int64_t T = test::timescaleOf(stream);
    EXPECT_EQ(T, 192000);  // lcm(12 800, 48 000)
    EXPECT_EQ(test::movieTimescale(dir / "picture.mp4"), 192000u);
    EXPECT_EQ(stream.value("codec_name", ""), "h264");
    EXPECT_EQ(stream.value("has_b_frames", -1), 0);

    auto times = packetTimes(dir / "picture.mp4");
    ASSERT_EQ(times.size(), 24u);
    EXPECT_EQ(times[0].pts, 0);
    EXPECT_EQ(times[0].duration * 100, 3 * T);  // [0.04, 0.08) kept from 0.05: 0.03 s
    EXPECT_EQ(times[1].pts * 100, 3 * T);
    EXPECT_EQ(times[1].duration * 100, 4 * T);
    EXPECT_EQ(times.back().pts * 100, 91 * T);  // [0.96, 1.00) at 0.91 s
    EXPECT_EQ(times.back().duration * 100, 4 * T);
    expectNoGaps(times);
    EXPECT_EQ(totalDuration(times) * 48000, 45600 * T);
}

TEST(LinearVideoWriter, AFrameOverlappingTwoSegmentsIsAppendedTwice) {
    TempDir dir;
    test::makeVideo(dir / "source.mp4", "25", 4, 48000);
    Render r =
        render(dir / "source.mp4", infoAt(25, 4), keptRanges({{0, 1.01}, {1.03, 2.0}}), dir / "picture.mp4");

    EXPECT_EQ(r.total, MediaTime(95040, 48000));  // 1.01 s + 0.97 s
    EXPECT_EQ(linearReadLines(r.standardError), std::vector<std::string>{"linear-read 100 appended 51\n"});
    const std::int64_t T =
        test::timescaleOf(test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video"));
    auto times = packetTimes(dir / "picture.mp4");
    ASSERT_EQ(times.size(), 51u);
    // The frame [1.00, 1.04) at 1.00 s for 0.01 s (segment 0), at 1.01 s for 0.01 s (segment 1).
    EXPECT_EQ(times[25].pts * 100, 100 * T);
    EXPECT_EQ(times[25].duration * 100, 1 * T);
    EXPECT_EQ(times[26].pts * 100, 101 * T);
    EXPECT_EQ(times[26].duration * 100, 1 * T);
    EXPECT_EQ(times[27].pts * 100, 102 * T);  // [1.04, 1.08) follows at 1.02 s
    EXPECT_EQ(times[27].duration * 100, 4 * T);
    expectNoGaps(times);
    EXPECT_EQ(totalDuration(times) * 48000, 95040 * T);
}

TEST(LinearVideoWriter, NtscFramesOn44100HzAreCutOnTheSampleGrid) {
    TempDir dir;
    test::makeVideo(dir / "source.mp4", "30000/1001", 3, 44100);
    Render r = render(dir / "source.mp4", infoAt(29.97, 3), keptRanges({{0.5, 1.5}, {2.0, 2.25}}),
                      dir / "picture.mp4");

    EXPECT_EQ(r.total, MediaTime(55125, 44100));  // 1.25 s
    auto stream = test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video");
    const std::int64_t T = test::timescaleOf(stream);
    EXPECT_EQ(T, 4410000);  // lcm(30 000, 44 100)
    auto times = packetTimes(dir / "picture.mp4");
    // [0.5, 1.5): frames 14 … 44; [2.0, 2.25): frames 59 … 67.
    ASSERT_EQ(times.size(), 31u + 9u);
    EXPECT_EQ(linearReadLines(r.standardError), std::vector<std::string>{"linear-read 90 appended 40\n"});
    EXPECT_EQ(times[0].duration, 2205);  // frame 14 ends at 0.5005 s: 0.0005 s kept
    expectNoGaps(times);
    EXPECT_EQ(totalDuration(times), T * 5 / 4);
    EXPECT_EQ(stream.value("duration", ""), "1.250000");
}

TEST(LinearVideoWriter, TotalsOfKeptRanges) {
    TempDir dir;
    test::makeVideo(dir / "source.mp4", "25", 4, 48000);
    Render r =
        render(dir / "source.mp4", infoAt(25, 4), keptRanges({{0, 1.5}, {2.0, 3.25}}), dir / "picture.mp4");
    EXPECT_EQ(r.total, MediaTime(132000, 48000));
    EXPECT_EQ(r.total.timescale, 48000);
    auto stream = test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video");
    EXPECT_EQ(stream.value("duration", ""), "2.750000");
}

TEST(LinearVideoWriter, AFirstFrameAfterTheSegmentStartKeepsItsDistance) {
    TempDir dir;
    test::makeLateVideo(dir / "source.mp4", 0.033, 2);
    auto source = test::firstStreamOf(test::probeStreams(dir / "source.mp4"), "video");
    ASSERT_EQ(source.value("start_time", ""), "0.033000");

    Render r = render(dir / "source.mp4", infoAt(29.97, 2.035), keptRanges({{0, 1.0}}), dir / "picture.mp4");
    EXPECT_EQ(r.total, MediaTime(48000, 48000));
    auto stream = test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video");
    const std::int64_t T = test::timescaleOf(stream);
    EXPECT_EQ(stream.value("start_time", ""), "0.033000");
    auto times = packetTimes(dir / "picture.mp4");
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times[0].pts * 1000, 33 * T);
    expectNoGaps(times);
    // The track ends at the segment's end (ffprobe gives no duration for the last packet
    // behind an edit list, so read the track's own extent).
    EXPECT_EQ(stream.value("start_pts", 0) + stream.value("duration_ts", 0), T);
}

TEST(LinearVideoWriter, APictureEndingBeforeTheSegmentEndsStillCountsTheWholeSegment) {
    TempDir dir;
    test::makeVideoWithLongerSound(dir / "source.mp4", 2, 3);
    Render r = render(dir / "source.mp4", infoAt(25, 3), keptRanges({{1.0, 3.0}}), dir / "picture.mp4");
    EXPECT_EQ(r.total, MediaTime(96000, 48000));
    EXPECT_EQ(linearReadLines(r.standardError), std::vector<std::string>{"linear-read 50 appended 25\n"});
    auto stream = test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video");
    EXPECT_EQ(stream.value("duration", ""), "1.000000");  // no picture after the source's picture ended

    EXPECT_EQ(test::messageOf([&] {
                  render(dir / "source.mp4", infoAt(25, 3), keptRanges({{2.5, 3.0}}), dir / "late.mp4");
              }),
              "保留区间中没有可导出的画面。");
    EXPECT_FALSE(std::filesystem::exists(dir / "late.mp4"));
}

TEST(LinearVideoWriter, CodecProfileAndColourTagsReadBack) {
    struct Case {
        const char* name;
        std::string encode;
        const char* codec;
        const char* profile;
        const char* tag;
        const char* pixelFormat;
        const char* primaries;  // "" when the result must carry no colour tags
        const char* transfer;
        const char* matrix;
    };
    const std::string x265 = "-c:v libx265 -x265-params log-level=error -tag:v hvc1 ";
    const Case cases[] = {
        {"10-bit HEVC, BT.709",
         x265 + "-pix_fmt yuv420p10le -color_primaries bt709 -color_trc bt709 -colorspace bt709", "hevc",
         "Main 10", "hvc1", "yuv420p10le", "bt709", "bt709", "bt709"},
        {"8-bit H.264, BT.709", "-color_primaries bt709 -color_trc bt709 -colorspace bt709", "h264", "High",
         "avc1", "yuv420p", "bt709", "bt709", "bt709"},
        {"8-bit PQ", "-color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc", "hevc", "Main 10",
         "hvc1", "yuv420p10le", "bt2020", "smpte2084", "bt2020nc"},
        {"no transfer tag", "-color_primaries bt709 -colorspace bt709", "h264", "High", "avc1", "yuv420p", "",
         "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::makeVideo(dir / "source.mp4", "25", 2, 48000, c.encode);
        render(dir / "source.mp4", infoAt(25, 2), keptRanges({{0.2, 1.2}}), dir / "picture.mp4");
        auto stream = test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video");
        EXPECT_EQ(stream.value("codec_name", ""), c.codec);
        EXPECT_EQ(stream.value("profile", ""), c.profile);
        EXPECT_EQ(stream.value("codec_tag_string", ""), c.tag);
        EXPECT_EQ(stream.value("pix_fmt", ""), c.pixelFormat);
        EXPECT_EQ(stream.value("color_primaries", ""), c.primaries);
        EXPECT_EQ(stream.value("color_transfer", ""), c.transfer);
        EXPECT_EQ(stream.value("color_space", ""), c.matrix);
        EXPECT_EQ(stream.value("duration", ""), "1.000000");
    }
}

TEST(LinearVideoWriter, KeepsTheRotationOfAPortraitRecording) {
    TempDir dir;
    test::makeVideo(dir / "upright.mp4", "25", 2, 48000);
    test::makeMedia(
        "-i " + test::shellQuote((dir / "upright.mp4").string()) + " -c copy -metadata:s:v:0 rotate=90",
        dir / "source.mp4");
    render(dir / "source.mp4", infoAt(25, 2), keptRanges({{0, 1}}), dir / "picture.mp4");
    auto rotation = [](const nlohmann::json& stream) {
        for (const auto& data : stream.value("side_data_list", nlohmann::json::array()))
            if (data.contains("rotation")) return data.at("rotation").get<int>();
        return 0;
    };
    int source = rotation(test::firstStreamOf(test::probeStreams(dir / "source.mp4"), "video"));
    ASSERT_NE(source, 0);
    EXPECT_EQ(rotation(test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video")), source);
}

// A picture of flat patches: grey 64 over most of it, a near-black and a near-white block in the
// middle, and the last 24 columns and rows (or all of a narrow picture's width) in colours of their
// own, so that the last column and row can be told from the rest.
std::string patches(const std::string& size) {
    return "color=c=0x404040:s=" + size + ":r=10:d=2,format=rgb24," +
           "drawbox=x=iw/4:y=ih/4:w=iw/4:h=ih/2:c=0x0A0A0A:t=fill," +
           "drawbox=x=iw/2:y=ih/4:w=iw/4:h=ih/2:c=0xF5F5F5:t=fill," +
           "drawbox=x=iw-24:y=0:w=24:h=ih:c=0x20C040:t=fill,drawbox=x=0:y=ih-24:w=iw:h=24:c=0x2040C0:t=fill";
}

// Where the patches of a `width` × `height` picture are, with the colour ffmpeg decodes there.
std::vector<std::pair<int, int>> patchCentres(int width, int height) {
    if (width < 48) return {{width / 2, height / 4}, {width - 1, height - 1}, {width - 1, 0}};
    return {{width / 8, height / 8},  {3 * width / 8, height / 2}, {5 * width / 8, height / 2},
            {width - 12, height / 2}, {width - 1, height / 2},     {width / 2, height - 12},
            {width / 2, height - 1},  {width - 1, height - 1}};
}

TEST(LinearVideoWriter, OddSizedPicturesKeepEveryPixelAndTheirDisplayAspect) {
    struct Case {
        const char* name;
        std::string size;
        std::string encode;
        int writtenWidth, writtenHeight;
    };
    const std::string vp9 = " -c:v libvpx-vp9 -deadline realtime -pix_fmt yuv420p -c:a libopus ";
    const Case cases[] = {
        {"641x361 VP9 in WebM", "641x361", vp9, 642, 362},
        {"641x361 H.264 4:4:4", "641x361", " -c:v libx264 -pix_fmt yuv444p -c:a aac ", 642, 362},
        {"640x361 VP9", "640x361", vp9, 640, 362},
        {"2x121 VP9", "2x121", vp9, 2, 122},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto source = dir / (std::string("source") + (c.encode == vp9 ? ".webm" : ".mkv"));
        test::makeMedia("-f lavfi -i " + test::shellQuote(patches(c.size)) + " -f lavfi -i sine=r=48000:d=2" +
                            c.encode + "-shortest",
                        source);
        render(source, infoAt(10, 2), keptRanges({{0, 1}}), dir / "picture.mp4");

        // The file decodes without a complaint.
        EXPECT_EQ(test::commandOutput("ffmpeg -nostdin -v error -i " +
                                      test::shellQuote((dir / "picture.mp4").string()) + " -f null - 2>&1"),
                  "");
        auto stream = test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video");
        EXPECT_EQ(stream.value("width", 0), c.writtenWidth);
        EXPECT_EQ(stream.value("height", 0), c.writtenHeight);
        // Its pixel aspect shows it at the source's display aspect.
        int horizontal = 0, vertical = 0;
        ASSERT_EQ(
            std::sscanf(stream.value("sample_aspect_ratio", "").c_str(), "%d:%d", &horizontal, &vertical), 2);
        const auto stored = test::firstStreamOf(test::probeStreams(source), "video");
        EXPECT_NEAR(double(c.writtenWidth) * horizontal / (double(c.writtenHeight) * vertical) /
                        (stored.value("width", 0.0) / stored.value("height", 1.0)),
                    1.0, 1e-5);

        // Shown at the source's display size, the picture is the source's; stored, its last
        // column and row are repeated, never a new edge.
        const test::RgbFrame original = test::decodedFrame(source);
        const test::RgbFrame shown = test::decodedFrame(
            dir / "picture.mp4", 0,
            "scale=" + std::to_string(original.width) + ":" + std::to_string(original.height) + ",setsar=1");
        ASSERT_EQ(shown.width, original.width);
        for (const auto& [x, y] : patchCentres(original.width, original.height))
            EXPECT_LE(test::colourDistance(shown.at(x, y), original.at(x, y)), 6) << "at " << x << "," << y;
        const test::RgbFrame written = test::decodedFrame(dir / "picture.mp4", 0, "scale=iw:ih,setsar=1");
        ASSERT_EQ(written.width, c.writtenWidth);
        const int w = original.width, h = original.height;
        EXPECT_LE(test::colourDistance(written.at(c.writtenWidth - 1, h / 2), original.at(w - 1, h / 2)), 6);
        EXPECT_LE(test::colourDistance(written.at(w / 2, c.writtenHeight - 1), original.at(w / 2, h - 1)), 6);
    }
}

TEST(LinearVideoWriter, FullRangeSourcesKeepTheirShadowsAndHighlights) {
    struct Case {
        const char* name;
        std::string encode;
    };
    const std::string full = " -color_range pc -vf scale=out_range=full,";
    const Case cases[] = {
        {"10-bit HEVC, full range",
         full + "format=yuv420p10le -c:v libx265 -x265-params log-level=error -tag:v hvc1 -c:a aac"},
        {"VP9, full range", full + "format=yuv420p -c:v libvpx-vp9 -deadline realtime -c:a libopus"},
        {"H.264 yuvj420p", " -vf format=yuvj420p -c:v libx264 -c:a aac"},
        {"H.264, video range", " -vf format=yuv420p -c:v libx264 -c:a aac"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto source = dir / "source.mkv";
        test::makeMedia("-f lavfi -i " + test::shellQuote(patches("320x180")) +
                            " -f lavfi -i sine=r=48000:d=2" + c.encode + " -shortest",
                        source);
        render(source, infoAt(10, 2), keptRanges({{0, 1}}), dir / "picture.mp4");
        auto stream = test::firstStreamOf(test::probeStreams(dir / "picture.mp4"), "video");
        EXPECT_NE(stream.value("color_range", ""), "pc");

        // Flat grey, near black, near white and the two colours: the same RGB as the source's.
        const test::RgbFrame original = test::decodedFrame(source);
        const test::RgbFrame cut = test::decodedFrame(dir / "picture.mp4");
        ASSERT_EQ(cut.width, original.width);
        for (const auto& [x, y] : patchCentres(320, 180)) {
            if (x == 319 || y == 179) continue;  // edges: the encoder's own rounding
            EXPECT_LE(test::colourDistance(cut.at(x, y), original.at(x, y)), 2) << "at " << x << "," << y;
        }
    }
}

TEST(LinearVideoWriter, ReportsProgressByTheReadPositionAndEndsAtTheWritersShare) {
    TempDir dir;
    test::makeVideo(dir / "source.mp4", "25", 6, 48000);
    // Reported against the project's duration: 100 s here, so 128 frames (5.12 s) give 0.034816.
    Render r = render(dir / "source.mp4", infoAt(25, 100), keptRanges({{0, 6}}), dir / "picture.mp4");
    ASSERT_EQ(r.progress.size(), 2u);
    EXPECT_NEAR(r.progress[0].first, 0.034816, 1e-12);
    EXPECT_EQ(r.progress[1].first, 0.68);
    for (const auto& [fraction, step] : r.progress) EXPECT_EQ(step, "渲染剪后画面");
}

TEST(LinearVideoWriter, CancellationLeavesNothingBehind) {
    TempDir dir;
    test::makeVideo(dir / "source.mp4", "25", 6, 48000);

    auto before = makeCancellation();
    before->cancel();
    EXPECT_EQ(test::messageOf([&] {
                  render(dir / "source.mp4", infoAt(25, 6), keptRanges({{0, 6}}), dir / "a.mp4", before);
              }),
              "任务已取消，原文件未改动。");
    EXPECT_FALSE(std::filesystem::exists(dir / "a.mp4"));

    // Cancelled in the middle of the frame loop (at the first progress report).
    auto during = makeCancellation();
    std::string standardError;
    testing::internal::CaptureStderr();
    std::string message = test::messageOf([&] {
        LinearVideoWriter::render(dir / "source.mp4", infoAt(25, 6), keptRanges({{0, 6}}), dir / "b.mp4",
                                  during, [&](double, const std::string&) { during->cancel(); });
    });
    standardError = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message, "任务已取消，原文件未改动。");
    EXPECT_TRUE(linearReadLines(standardError).empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "b.mp4"));
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path()) != std::filesystem::directory_iterator(), true);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1u);  // only the source
}

TEST(LinearVideoWriter, ACancelledRenderDoesNotWaitForALoadStuckInTheSystem) {
    TempDir dir;
    // Opening a FIFO blocks until a writer comes: a load that never returns by itself.
    ASSERT_EQ(::mkfifo((dir / "stuck.mp4").c_str(), 0600), 0);
    auto token = makeCancellation();
    auto result = std::async(std::launch::async, [&] {
        return test::messageOf([&] {
            LinearVideoWriter::render(dir / "stuck.mp4", infoAt(25, 2), keptRanges({{0, 1}}), dir / "out.mp4",
                                      token, {});
        });
    });
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    token->cancel();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(result.get(), "任务已取消，原文件未改动。");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.mp4"));
    // Let the abandoned open finish (end of file) so its thread ends; without a reader there
    // is nothing to release.
    int fd = ::open((dir / "stuck.mp4").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
}

TEST(LinearVideoWriter, Refusals) {
    TempDir dir;
    test::makeVideo(dir / "source.mp4", "25", 2, 48000);
    test::makeSilentVideo(dir / "silent.mp4", 2);
    test::makeSound(dir / "sound.m4a", 2);
    test::writeFile(dir / "taken.mp4", "keep me");
    test::writeFile(dir / "notes.mp4", "not a recording");
    // A stream whose picture grows half-way: its later pictures do not fit the track's size.
    const std::string second = " -f lavfi -i sine=r=48000:d=1 -c:v libx264 -c:a aac";
    test::makeMedia("-f lavfi -i testsrc=size=160x120:rate=25:d=1" + second, dir / "small.ts");
    test::makeMedia("-f lavfi -i testsrc=size=320x240:rate=25:d=1" + second + " -output_ts_offset 1",
                    dir / "large.ts");
    test::writeFile(dir / "resized.ts", test::readFile(dir / "small.ts") + test::readFile(dir / "large.ts"));
    struct Case {
        const char* source;
        std::vector<CutRegion> kept;
        const char* destination;
        const char* message;
    };
    const Case cases[] = {
        {"silent.mp4", keptRanges({{0, 1}}), "out.mp4", "无法读取画面或音轨。"},
        {"sound.m4a", keptRanges({{0, 1}}), "out.mp4", "无法读取画面或音轨。"},
        {"missing.mp4", keptRanges({{0, 1}}), "out.mp4", "无法打开“missing.mp4”：文件或文件夹不存在。"},
        {"notes.mp4", keptRanges({{0, 1}}), "out.mp4", "无法打开“notes.mp4”：文件数据无效或已损坏。"},
        {"source.mp4", keptRanges({{2, 2}}), "out.mp4", "剪辑区间必须保留有效时长。"},
        {"source.mp4", keptRanges({{0, 1}, {1.0, 1.00001}}), "out.mp4", "剪辑区间太短，无法导出。"},
        {"source.mp4", keptRanges({{-0.001, 1}}), "out.mp4", "剪辑时间超出可处理范围。"},
        {"source.mp4", {}, "out.mp4", "保留区间中没有可导出的画面。"},
        {"source.mp4", keptRanges({{0, 1}}), "taken.mp4", "无法创建“taken.mp4”：同名文件已存在。"},
        {"resized.ts", keptRanges({{0, 1.9}}), "out.mp4", "画面裁边信息无效。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(
            test::messageOf([&] { render(dir / c.source, infoAt(25, 2), c.kept, dir / c.destination); }),
            c.message);
        EXPECT_FALSE(std::filesystem::exists(dir / "out.mp4"));
    }
    EXPECT_EQ(test::readFile(dir / "taken.mp4"), "keep me");
}

}  // namespace
}  // namespace talvian
