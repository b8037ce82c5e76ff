#include "Media/VideoRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Media/LinearVideoWriter.h"
#include "Media/VideoRenderStep.h"
#include "MediaTestSupport.h"
#include "Model/CoreTypes.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;

std::size_t entriesIn(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

// A cut picture (the writer's output) and a cut sound 0.3 s longer than it.
struct CutHalves {
    std::filesystem::path picture;
    std::filesystem::path sound;
    MediaTime duration;
};

CutHalves makeHalves(const TempDir& dir, const std::string& sourceArguments = "") {
    test::makeVideo(dir / "source.mp4", "25", 4, 48000, sourceArguments);
    MediaInfo info;
    info.frameRate = 25;
    info.duration = 4;
    std::vector<CutRegion> kept{CutRegion(0.05, 1.0, false), CutRegion(2.0, 3.0, false)};
    testing::internal::CaptureStderr();
    MediaTime duration = LinearVideoWriter::render(dir / "source.mp4", info, kept, dir / "picture.mp4",
                                                   makeCancellation(), {});
    testing::internal::GetCapturedStderr();
    test::makeSound(dir / "sound.m4a", duration.seconds() + 0.3);
    return {dir / "picture.mp4", dir / "sound.m4a", duration};
}

std::vector<std::string> packetSizes(const std::filesystem::path& file) {
    std::vector<std::string> sizes;
    for (const auto& packet : test::probePackets(file, "v")) sizes.push_back(packet.value("size", ""));
    return sizes;
}

TEST(VideoRendererMux, JoinsBothTracksOverExactlyThePictureDurationWithoutReencoding) {
    TempDir dir;
    CutHalves halves = makeHalves(dir);
    ASSERT_EQ(halves.duration, MediaTime(93600, 48000));  // 0.95 s + 1 s
    VideoRenderer::mux(halves.picture, halves.sound, halves.duration, dir / "joined.mp4", makeCancellation(),
                       {});

    auto probe = test::probeStreams(dir / "joined.mp4");
    ASSERT_EQ(probe.at("streams").size(), 2u);
    auto video = test::firstStreamOf(probe, "video");
    auto audio = test::firstStreamOf(probe, "audio");
    EXPECT_EQ(video.value("codec_name", ""), "h264");
    EXPECT_EQ(audio.value("codec_name", ""), "aac");
    EXPECT_EQ(video.value("start_time", ""), "0.000000");
    EXPECT_EQ(audio.value("start_time", ""), "0.000000");
    EXPECT_EQ(video.value("duration", ""), "1.950000");
    EXPECT_EQ(audio.value("duration", ""), "1.950000");  // the 0.3 s of extra sound is cut
    EXPECT_EQ(test::timescaleOf(audio), 48000);
    EXPECT_EQ(audio.value("duration_ts", 0), 93600);
    EXPECT_EQ(packetSizes(dir / "joined.mp4"), packetSizes(halves.picture));  // copied, not re-encoded

    // The index comes first; the movie timescale is the picture track's, so edits stay exact.
    auto boxes = test::topLevelBoxes(dir / "joined.mp4");
    auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    ASSERT_NE(mdat, boxes.end());
    EXPECT_LT(moov, mdat);
    EXPECT_EQ(test::movieTimescale(dir / "joined.mp4"), static_cast<std::uint32_t>(test::timescaleOf(video)));
}

TEST(VideoRendererMux, KeepsTheHevcSampleEntryColourTagsAndRotation) {
    TempDir dir;
    test::makeVideo(dir / "deep.mp4", "25", 2, 48000,
                    "-c:v libx265 -x265-params log-level=error -tag:v hvc1 -pix_fmt yuv420p10le "
                    "-color_primaries bt709 -color_trc bt709 -colorspace bt709");
    test::makeMedia(
        "-i " + test::shellQuote((dir / "deep.mp4").string()) + " -c copy -metadata:s:v:0 rotate=90",
        dir / "source.mp4");
    MediaInfo info;
    info.frameRate = 25;
    info.duration = 2;
    testing::internal::CaptureStderr();
    MediaTime duration = LinearVideoWriter::render(dir / "source.mp4", info, {CutRegion(0.5, 1.5, false)},
                                                   dir / "picture.mp4", makeCancellation(), {});
    testing::internal::GetCapturedStderr();
    test::makeSound(dir / "sound.m4a", 1.2);
    VideoRenderer::mux(dir / "picture.mp4", dir / "sound.m4a", duration, dir / "joined.mp4",
                       makeCancellation(), {});

    auto video = test::firstStreamOf(test::probeStreams(dir / "joined.mp4"), "video");
    EXPECT_EQ(video.value("codec_name", ""), "hevc");
    EXPECT_EQ(video.value("profile", ""), "Main 10");
    EXPECT_EQ(video.value("codec_tag_string", ""), "hvc1");
    EXPECT_EQ(video.value("color_primaries", ""), "bt709");
    EXPECT_EQ(video.value("color_transfer", ""), "bt709");
    EXPECT_EQ(video.value("color_space", ""), "bt709");
    int rotation = 0;
    for (const auto& data : video.value("side_data_list", nlohmann::json::array()))
        if (data.contains("rotation")) rotation = data.at("rotation").get<int>();
    EXPECT_EQ(rotation, 90);
}

// The picture writer's output for a source and kept ranges, and a sound of `soundSeconds`.
CutHalves halvesOf(const TempDir& dir, const std::filesystem::path& source, double sourceSeconds,
                   std::vector<CutRegion> kept, double soundSeconds) {
    MediaInfo info;
    info.frameRate = 25;
    info.duration = sourceSeconds;
    testing::internal::CaptureStderr();
    MediaTime duration =
        LinearVideoWriter::render(source, info, kept, dir / "picture.mp4", makeCancellation(), {});
    testing::internal::GetCapturedStderr();
    test::makeSound(dir / "sound.m4a", soundSeconds);
    return {dir / "picture.mp4", dir / "sound.m4a", duration};
}

TEST(VideoRendererMux, APictureStartingLateKeepsItsPlaceOnTheCutTimeline) {
    TempDir dir;
    test::makeLateVideo(dir / "source.mp4", 0.033, 2);
    CutHalves halves = halvesOf(dir, dir / "source.mp4", 2.035, {CutRegion(0, 1, false)}, 1.3);
    VideoRenderer::mux(halves.picture, halves.sound, halves.duration, dir / "joined.mp4", makeCancellation(),
                       {});
    auto probe = test::probeStreams(dir / "joined.mp4");
    auto video = test::firstStreamOf(probe, "video");
    EXPECT_EQ(video.value("start_time", ""), "0.033000");
    EXPECT_EQ(video.value("start_pts", 0) + video.value("duration_ts", 0), test::timescaleOf(video));
    EXPECT_EQ(test::firstStreamOf(probe, "audio").value("duration", ""), "1.000000");
}

TEST(VideoRendererMux, BothTracksEndAtTheKeptDurationWhenThePictureStartsAfterTheSound) {
    // ffmpeg's MKV and WebM put the picture a few milliseconds after the sound's priming; the
    // speech runs to the very end, so the last kept range ends with the file.
    struct Case {
        const char* name;
        std::string encode;
        const char* container;
    };
    const Case cases[] = {
        {"H.264 and AAC in MKV", "-c:v libx264 -c:a aac", "mkv"},
        {"VP9 and Opus in WebM", "-c:v libvpx-vp9 -deadline realtime -c:a libopus", "webm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto source = dir / (std::string("source.") + c.container);
        test::makeMedia(
            "-f lavfi -i testsrc2=s=160x120:r=25:d=3 -f lavfi -i sine=r=48000:d=3 " + c.encode + " -shortest",
            source);
        auto probe = test::probeStreams(source);
        const double videoStart = std::stod(test::firstStreamOf(probe, "video").value("start_time", "0"));
        ASSERT_GT(videoStart, 0.001) << "the picture starts after the sound";
        MediaInfo info;
        info.frameRate = 25;
        info.duration = std::stod(probe.at("format").value("duration", "0"));
        info.hasVideo = info.hasAudio = true;
        // Kept from the start, so the cut's picture starts late too.
        const std::vector<CutRegion> kept{CutRegion(0, 1.5, false), CutRegion(2.0, info.duration, false)};
        const double keptSeconds = 1.5 + (info.duration - 2.0);

        test::writeFile(dir / "cut.mp4", "");
        testing::internal::CaptureStderr();
        VideoRenderer::render(source, info, kept, dir / "cut.mp4", makeCancellation(), {});
        testing::internal::GetCapturedStderr();
        auto cut = test::probeStreams(dir / "cut.mp4");
        auto ends = [](const nlohmann::json& stream) {
            return (stream.value("start_pts", 0) + stream.value("duration_ts", 0)) /
                   static_cast<double>(test::timescaleOf(stream));
        };
        EXPECT_NEAR(ends(test::firstStreamOf(cut, "video")), keptSeconds, 0.001);
        EXPECT_NEAR(ends(test::firstStreamOf(cut, "audio")), keptSeconds, 0.001);
    }
}

TEST(VideoRendererMux, SoundRunsOnWhereThePictureEndedEarly) {
    TempDir dir;
    test::makeVideoWithLongerSound(dir / "source.mp4", 2, 3);
    CutHalves halves = halvesOf(dir, dir / "source.mp4", 3, {CutRegion(1, 3, false)}, 2.3);
    VideoRenderer::mux(halves.picture, halves.sound, halves.duration, dir / "joined.mp4", makeCancellation(),
                       {});
    auto probe = test::probeStreams(dir / "joined.mp4");
    EXPECT_EQ(test::firstStreamOf(probe, "video").value("duration", ""), "1.000000");
    EXPECT_EQ(test::firstStreamOf(probe, "audio").value("duration", ""), "2.000000");
    EXPECT_EQ(probe.at("format").value("duration", ""), "2.000000");
}

TEST(VideoRendererMux, ProgressStartsAtTheMuxShareAndNeverReachesOne) {
    TempDir dir;
    CutHalves halves = makeHalves(dir);
    std::vector<std::pair<double, std::string>> reports;
    VideoRenderer::mux(
        halves.picture, halves.sound, halves.duration, dir / "joined.mp4", makeCancellation(),
        [&](double fraction, const std::string& step) { reports.emplace_back(fraction, step); });
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.front().first, 0.96);
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].second, "合并音画");
        EXPECT_LE(reports[i].first, 0.99 + 1e-12);
        if (i > 0) {
            EXPECT_GT(reports[i].first, reports[i - 1].first);
        }
    }
}

TEST(VideoRendererMux, Refusals) {
    TempDir dir;
    CutHalves halves = makeHalves(dir);
    test::makeSilentVideo(dir / "silent.mp4", 2);
    test::writeFile(dir / "taken.mp4", "keep me");
    struct Case {
        std::filesystem::path picture, sound;
        MediaTime duration;
        const char* destination;
        const char* message;
    };
    const Case cases[] = {
        {halves.sound, halves.sound, halves.duration, "out.mp4", "无法读取导出画面或音轨。"},
        {halves.picture, dir / "silent.mp4", halves.duration, "out.mp4", "无法读取导出画面或音轨。"},
        {dir / "missing.mp4", halves.sound, halves.duration, "out.mp4",
         "无法打开“missing.mp4”：文件或文件夹不存在。"},
        {halves.picture, halves.sound, MediaTime(0, 48000), "out.mp4", "音画合并未完成，未交付此结果。"},
        {halves.picture, halves.sound, halves.duration, "taken.mp4", "无法创建“taken.mp4”：同名文件已存在。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(test::messageOf([&] {
                      VideoRenderer::mux(c.picture, c.sound, c.duration, dir / c.destination,
                                         makeCancellation(), {});
                  }),
                  c.message);
        EXPECT_FALSE(std::filesystem::exists(dir / "out.mp4"));
    }
    EXPECT_EQ(test::readFile(dir / "taken.mp4"), "keep me");
}

TEST(VideoRendererMux, CancellationLeavesNothingBehind) {
    TempDir dir;
    CutHalves halves = makeHalves(dir);
    const std::size_t before = entriesIn(dir.path());

    auto early = makeCancellation();
    early->cancel();
    EXPECT_EQ(test::messageOf([&] {
                  VideoRenderer::mux(halves.picture, halves.sound, halves.duration, dir / "a.mp4", early, {});
              }),
              "任务已取消，原文件未改动。");

    // Set while copying (at the first progress report).
    auto during = makeCancellation();
    EXPECT_EQ(test::messageOf([&] {
                  VideoRenderer::mux(halves.picture, halves.sound, halves.duration, dir / "b.mp4", during,
                                     [&](double, const std::string&) { during->cancel(); });
              }),
              "任务已取消，原文件未改动。");
    EXPECT_EQ(entriesIn(dir.path()), before);
}

TEST(VideoRendererPieces, WorkFolderIsHiddenAndGoesWithItsContents) {
    TempDir dir;
    std::filesystem::path path;
    {
        VideoRenderer::WorkFolder folder(dir.path());
        path = folder.path();
        EXPECT_EQ(path.parent_path(), dir.path());
        EXPECT_EQ(path.filename().string().rfind(".TalvianVideo-", 0), 0u);
        EXPECT_EQ(path.filename().string().size(), std::string(".TalvianVideo-").size() + 36);
        EXPECT_EQ(folder.picture(), path / "picture.mp4");
        EXPECT_EQ(folder.sound(), path / "sound.m4a");
        test::writeFile(folder.picture(), "x");
        std::filesystem::create_directory(path / "inner");
        test::writeFile(path / "inner" / "y", "y");
    }
    EXPECT_FALSE(std::filesystem::exists(path));

    std::string message = test::messageOf([&] { VideoRenderer::WorkFolder folder(dir / "absent"); });
    // The hidden folder means nothing to the user: the message names the folder it was made in.
    EXPECT_EQ(message, "无法创建“absent”中的临时文件：文件或文件夹不存在。");
}

TEST(VideoRendererPieces, SoundProgressSitsBetweenPictureAndMux) {
    std::vector<std::pair<double, std::string>> reports;
    auto mapped = VideoRenderer::soundProgress(
        [&](double fraction, const std::string& step) { reports.emplace_back(fraction, step); });
    mapped(0, "解码原始音频");
    mapped(0.5, "写入音频");
    mapped(1, "写入音频");
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_DOUBLE_EQ(reports[0].first, 0.68);
    EXPECT_DOUBLE_EQ(reports[1].first, 0.815);
    EXPECT_DOUBLE_EQ(reports[2].first, 0.95);
    EXPECT_EQ(reports[0].second, "解码原始音频");
    EXPECT_EQ(reports[2].second, "写入音频");
}

}  // namespace
}  // namespace talvian
