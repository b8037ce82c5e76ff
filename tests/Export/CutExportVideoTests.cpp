// The cut export of sources with a picture: the picture writer, the sound renderer and the
// mux inside a hidden work folder, checked before delivery.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Export/CutExport.h"
#include "ExportMedia.h"
#include "Media/LinkedMediaEntries.h"
#include "MediaTestSupport.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::digestOf;
using test::entriesOf;
using test::firstStreamOf;
using test::hiddenEntries;
using test::makeMedia;
using test::messageOf;
using test::probeStreams;
using test::projectOf;
using test::shellQuote;
using test::TempDir;
using test::writeFile;

const std::string kCancelled = "任务已取消，原文件未改动。";
const std::string kPictureStep = "渲染剪后画面";
const std::string kMuxStep = "合并音画";

using Reports = std::vector<std::pair<double, std::string>>;

// Runs the export with standard error captured; returns the picture writer's line of counts
// (the libraries' own log lines around it are left out).
std::string exportVideo(const CutProject& project, const std::filesystem::path& folder,
                        const CancellationToken& token, const ProgressCallback& progress,
                        std::filesystem::path* delivered) {
    testing::internal::CaptureStderr();
    try {
        auto file = VevazAvezud::exportCut(linkedMediaEntries(), project, folder, AudioOutputFormat::m4a,
                                           token, progress);
        if (delivered) *delivered = file;
    } catch (...) {
        testing::internal::GetCapturedStderr();
        throw;
    }
    std::istringstream lines(testing::internal::GetCapturedStderr());
    std::string counts;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("linear-read ", 0) == 0) counts += line + "\n";
    return counts;
}

// Where a stream ends on the file's timeline: its start plus its duration (seconds).
double endOf(const nlohmann::json& stream) {
    return std::stod(stream.value("start_time", "0")) + std::stod(stream.value("duration", "0"));
}

int rotationOf(const nlohmann::json& stream) {
    for (const auto& data : stream.value("side_data_list", nlohmann::json::array()))
        if (data.contains("rotation")) return data.at("rotation").get<int>();
    return 0;
}

// ---- Delivery --------------------------------------------------------------------------

TEST(CutExportVideo, PictureAndSoundAreCutAtTheSameTimes) {
    TempDir dir;
    const std::string x265 =
        "-c:v libx265 -x265-params log-level=error -tag:v hvc1 -pix_fmt yuv420p10le "
        "-color_primaries bt709 -color_trc bt709 -colorspace bt709";
    test::makeVideo(dir / "talk 25.mp4", "25", 3, 48000);
    test::makeVideo(dir / "ntsc.mp4", "30000/1001", 3, 44100);
    test::makeLateVideo(dir / "late.mp4", 0.5, 3);
    test::makeVideoWithLongerSound(dir / "tail.mp4", 2, 3);
    test::makeVideo(dir / "deep.mp4", "25", 2, 48000, x265);
    makeMedia("-i " + shellQuote((dir / "deep.mp4").string()) + " -c copy -metadata:s:v:0 rotate=90",
              dir / "portrait.mp4");

    struct Case {
        const char* source;
        std::vector<CutRegion> cuts;
        const char* output;
        const char* counts;   // the picture writer's line: frames read and appended
        double frameSeconds;  // one frame of the source
        double pictureStart;  // where the picture starts on the cut timeline (seconds)
        double pictureEnd;    // where it ends: the kept duration unless the source's picture ends early
        const char* codec;
        const char* profile;
        const char* transfer;  // colour tags are kept all together, or none
        int rotation;
    };
    const double ntscFrame = 1001.0 / 30000;
    const Case cases[] = {
        // Frames [0.48, 0.52) and [2.08, 2.12) overlap kept ranges and are kept, shortened.
        {"talk 25.mp4",
         {CutRegion(0.5, 1.0, true), CutRegion(1.8, 2.1, true)},
         "talk 25-粗剪.mp4",
         "linear-read 75 appended 56\n",
         0.04,
         0,
         2.2,
         "h264",
         "High",
         "",
         0},
        // 44.1 kHz: the cut points lie on that sample grid.
        {"ntsc.mp4",
         {CutRegion(0.5, 1.0, true), CutRegion(1.8, 2.1, true)},
         "ntsc-粗剪.mp4",
         "linear-read 90 appended 68\n",
         ntscFrame,
         0,
         0,
         "h264",
         "High",
         "",
         0},
        // The first frame comes 0.5 s after the sound starts, on the cut timeline too.
        {"late.mp4",
         {CutRegion(1.0, 1.5, true)},
         "late-粗剪.mp4",
         "linear-read 90 appended 76\n",
         ntscFrame,
         0.5,
         3.0,
         "h264",
         "High",
         "",
         0},
        // The picture stops at 2 s; the last second is sound only, and stays so.
        {"tail.mp4",
         {CutRegion(0.5, 1.0, true)},
         "tail-粗剪.mp4",
         "linear-read 50 appended 38\n",
         0.04,
         0,
         1.5,
         "h264",
         "High",
         "",
         0},
        // A deep, rotated picture stays HEVC Main 10 with its rotation.
        {"portrait.mp4",
         {CutRegion(0.5, 1.0, true)},
         "portrait-粗剪.mp4",
         "linear-read 50 appended 38\n",
         0.04,
         0,
         1.5,
         "hevc",
         "Main 10",
         "bt709",
         90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const auto source = dir / c.source;
        const auto digest = digestOf(source);
        const auto out = dir / "out";
        auto project = projectOf(source, c.cuts);
        const double kept = project.keptDuration();
        const double pictureEnd = c.pictureEnd > 0 ? c.pictureEnd : kept;
        Reports reports;
        std::filesystem::path delivered;
        auto counts = exportVideo(
            project, out, makeCancellation(),
            [&](double fraction, const std::string& step) { reports.emplace_back(fraction, step); },
            &delivered);
        EXPECT_EQ(counts, c.counts);
        EXPECT_EQ(delivered, out / c.output);
        EXPECT_EQ(entriesOf(out), std::vector<std::string>{c.output});
        EXPECT_EQ(hiddenEntries(dir.path()), std::vector<std::string>{});
        EXPECT_EQ(digestOf(source), digest) << "the source was written";

        auto probe = probeStreams(delivered);
        ASSERT_EQ(probe.at("streams").size(), 2u);
        auto video = firstStreamOf(probe, "video");
        auto audio = firstStreamOf(probe, "audio");
        EXPECT_EQ(video.value("codec_name", ""), c.codec);
        EXPECT_EQ(video.value("profile", ""), c.profile);
        EXPECT_EQ(video.value("color_transfer", ""), c.transfer);
        EXPECT_EQ(video.value("color_primaries", ""), c.transfer);
        EXPECT_EQ(video.value("color_space", ""), c.transfer);
        EXPECT_EQ(rotationOf(video), c.rotation);
        EXPECT_EQ(audio.value("codec_name", ""), "aac");
        EXPECT_EQ(audio.value("sample_rate", ""), "48000");
        // The sound lasts exactly the kept time; the picture to within one frame of where it should end.
        EXPECT_NEAR(std::stod(audio.value("start_time", "")), 0, 1e-6);
        EXPECT_NEAR(std::stod(audio.value("duration", "")), kept, 0.001);
        EXPECT_NEAR(std::stod(video.value("start_time", "")), c.pictureStart, 0.001);
        EXPECT_NEAR(endOf(video), pictureEnd, c.frameSeconds);
        EXPECT_NEAR(std::stod(probe.at("format").value("duration", "")), kept, c.frameSeconds);

        // Picture 0…0.68, sound 0.68…0.9365, mux 0.96…0.99, then delivered.
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), (std::pair<double, std::string>{1.0, "导出完成"}));
        for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].first, reports[i - 1].first);
        for (const auto& [fraction, step] : reports) {
            if (step == kPictureStep) {
                EXPECT_LE(fraction, 0.68);
            } else if (step == kMuxStep) {
                EXPECT_GE(fraction, 0.96);
                EXPECT_LE(fraction, 0.99);
            } else if (step != "导出完成") {
                EXPECT_GE(fraction, 0.68) << step;
                EXPECT_LE(fraction, 0.68 + 0.27) << step;
            }
        }
        EXPECT_EQ(
            std::count(reports.begin(), reports.end(), std::pair<double, std::string>{0.68, kPictureStep}),
            1);
        std::filesystem::remove_all(out);
    }
}

TEST(CutExportVideo, ATakenNameGivesTheNextCounter) {
    TempDir dir;
    test::makeVideo(dir / "clip.mp4", "25", 2, 48000);
    auto project = projectOf(dir / "clip.mp4", {CutRegion(0.5, 1.0, true)});
    std::filesystem::create_directory(dir / "out");
    writeFile(dir / "out" / "clip-粗剪.mp4", "occupied");
    std::filesystem::path delivered;
    exportVideo(project, dir / "out", makeCancellation(), {}, &delivered);
    EXPECT_EQ(delivered, dir / "out" / "clip-粗剪-2.mp4");
    EXPECT_EQ(test::readFile(dir / "out" / "clip-粗剪.mp4"), "occupied");
    EXPECT_EQ(entriesOf(dir / "out"), (std::vector<std::string>{"clip-粗剪-2.mp4", "clip-粗剪.mp4"}));
}

// ---- Refusals, failures and cancellations ----------------------------------------------

TEST(CutExportVideo, FailedOrCancelledExportsLeaveNoFileNoWorkFileAndNoWorkFolder) {
    TempDir dir;
    // 150 frames: the picture writer reports once inside its frame loop, at frame 128.
    test::makeVideo(dir / "clip.mp4", "25", 6, 48000);
    test::makeSilentVideo(dir / "mute.mp4", 2);
    const auto digest = digestOf(dir / "clip.mp4");
    const auto out = dir / "out";
    auto project = projectOf(dir / "clip.mp4", {CutRegion(1, 1.5, true), CutRegion(3, 4, true)});
    auto mute = projectOf(dir / "mute.mp4", {CutRegion(0.5, 1, true)});
    auto wav = project;

    struct Case {
        const char* name;
        const CutProject* project;
        AudioOutputFormat format;
        // Called with every progress report; may cancel or disturb.
        std::function<void(const CancellationToken&, double fraction, const std::string& step)> onProgress;
        std::string message;
    };
    const Case cases[] = {
        {"WAV for a video",
         &wav,
         AudioOutputFormat::wav,
         {},
         "WAV 导出仅用于纯音频素材；视频请使用 MP4 导出。"},
        {"a picture without sound", &mute, AudioOutputFormat::m4a, {}, "无法读取画面或音轨。"},
        {"cancelled inside the frame loop", &project, AudioOutputFormat::m4a,
         [](const CancellationToken& token, double fraction, const std::string& step) {
             if (step == kPictureStep && fraction < 0.68) token->cancel();
         },
         kCancelled},
        {"cancelled as the picture is done", &project, AudioOutputFormat::m4a,
         [](const CancellationToken& token, double fraction, const std::string& step) {
             if (step == kPictureStep && fraction == 0.68) token->cancel();
         },
         kCancelled},
        // The sound renders beside the picture: its first report may come while it runs or once it
        // is done, and the export is cancelled either way.
        {"cancelled at the sound's first report", &project, AudioOutputFormat::m4a,
         [](const CancellationToken& token, double fraction, const std::string& step) {
             if (step != kPictureStep && step != kMuxStep && fraction < 1) token->cancel();
         },
         kCancelled},
        {"cancelled in the mux", &project, AudioOutputFormat::m4a,
         [](const CancellationToken& token, double, const std::string& step) {
             if (step == kMuxStep) token->cancel();
         },
         kCancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        auto token = makeCancellation();
        testing::internal::CaptureStderr();
        auto message = messageOf([&] {
            VevazAvezud::exportCut(linkedMediaEntries(), *c.project, out, c.format, token,
                                   [&](double fraction, const std::string& step) {
                                       if (c.onProgress) c.onProgress(token, fraction, step);
                                   });
        });
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(entriesOf(out), std::vector<std::string>{});
        EXPECT_EQ(hiddenEntries(dir.path()), std::vector<std::string>{});
        EXPECT_EQ(digestOf(dir / "clip.mp4"), digest);
    }

    // A name taken during the render passes the result on to the next free name.
    std::filesystem::remove_all(out);
    auto delivered =
        VevazAvezud::exportCut(linkedMediaEntries(), project, out, AudioOutputFormat::m4a, makeCancellation(),
                               [&](double, const std::string& step) {
                                   if (step == kMuxStep && !std::filesystem::exists(out / "clip-粗剪.mp4"))
                                       writeFile(out / "clip-粗剪.mp4", "taken");
                               });
    EXPECT_EQ(delivered, out / "clip-粗剪-2.mp4");
    EXPECT_EQ(test::readFile(out / "clip-粗剪.mp4"), "taken");
    EXPECT_EQ(entriesOf(out), (std::vector<std::string>{"clip-粗剪-2.mp4", "clip-粗剪.mp4"}));
    EXPECT_EQ(hiddenEntries(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace talvian
