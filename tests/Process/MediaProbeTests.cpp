#include "Process/MediaProbe.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>
#include <thread>

#include "Process/Dependencies.h"
#include "Process/Runner.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::makeMedia;
using test::messageOf;
using test::TempDir;
using test::writeFile;

const std::string kNoDuration = "文件没有可读取的时长，可能已损坏或不是音视频。";
const std::string kNoAudioFormat = "无法读取音频的采样率或声道。";
const std::string kUnreadable = "无法读取媒体信息。";

// ---- Real ffprobe on generated media ---------------------------------------------------

TEST(MediaProbe, ReadsTheFactsOfGeneratedMedia) {
    TempDir dir;
    makeMedia("-f lavfi -i color=c=red:size=64x64:duration=1 -frames:v 1", dir / "cover.png");
    const std::string sine = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 ";
    const std::string picture = "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 ";
    struct Case {
        std::string file;
        std::string arguments;
        double duration;
        MediaInfo expected;  // duration compared with a tolerance, bytes from the file
        std::optional<AudioStreamInfo> audio;
    };
    const Case cases[] = {
        {"video and audio.mp4", picture + sine + "-c:v libx264 -preset ultrafast -c:a aac -shortest", 1.0,
         MediaInfo{0, 160, 120, true, true, 1, 0, 25.0}, AudioStreamInfo(48000, 1)},
        {"audio only.wav", "-f lavfi -i sine=sample_rate=44100:duration=0.5 -ac 2", 0.5,
         MediaInfo{0, 0, 0, false, true, 1, 0, 30.0}, AudioStreamInfo(44100, 2)},
        {"cover art.mp3",
         "-f lavfi -i sine=sample_rate=44100:duration=1 -i '" + (dir / "cover.png").string() +
             "' -map 0 -map 1 -c:a libmp3lame -c:v png -disposition:v attached_pic",
         1.0, MediaInfo{0, 0, 0, false, true, 1, 0, 30.0}, AudioStreamInfo(44100, 1)},
        {"two audio tracks.m4a",
         "-f lavfi -i sine=f=300:sample_rate=22050:d=1 -f lavfi -i sine=f=500:d=1 -map 0 -map 1 -c:a aac",
         1.0, MediaInfo{0, 0, 0, false, true, 2, 0, 30.0}, AudioStreamInfo(22050, 1)},
        {"no audio.mp4", picture + "-c:v libx264 -preset ultrafast", 1.0,
         MediaInfo{0, 160, 120, true, false, 0, 0, 25.0}, std::nullopt},
        {"带 空格 'single' \"double\" 录音.m4a", "-f lavfi -i sine=sample_rate=16000:duration=0.5 -c:a aac",
         0.5, MediaInfo{0, 0, 0, false, true, 1, 0, 30.0}, AudioStreamInfo(16000, 1)},
    };
    for (const auto& c : cases) {
        const auto file = dir / c.file;
        makeMedia(c.arguments, file);
        auto info = Runner::probe(file, makeCancellation());
        EXPECT_NEAR(info.duration, c.duration, 0.06) << c.file;
        auto expected = c.expected;
        expected.duration = info.duration;
        expected.bytes = static_cast<std::int64_t>(std::filesystem::file_size(file));
        EXPECT_EQ(info, expected) << c.file;
        if (c.audio)
            EXPECT_EQ(AudioStreamProbe::read(file, makeCancellation()), *c.audio) << c.file;
        else
            EXPECT_EQ(messageOf([&] { AudioStreamProbe::read(file, makeCancellation()); }), kNoAudioFormat)
                << c.file;
    }
}

TEST(MediaProbe, FilesFfprobeCannotReadFailWithItsReport) {
    TempDir dir;
    const auto text = dir / "笔记 'notes'.txt";
    writeFile(text, "hello, not media\n");
    const auto missing = dir / "missing.mp4";
    struct Case {
        std::filesystem::path file;
        std::string report;  // ffprobe's words: for the diagnostics, never for the user
    };
    const Case cases[] = {
        {text, text.string() + ": Invalid data found when processing input\n"},
        {missing, missing.string() + ": No such file or directory\n"},
    };
    const auto failureOf = [](const std::function<void()>& call) -> std::pair<std::string, std::string> {
        try {
            call();
        } catch (const ProcessFailure& failure) {
            return {failure.message(), failure.diagnostics()};
        }
        return {};
    };
    const std::string incomplete =
        "处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。";
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf([&] { Runner::probe(c.file, makeCancellation()); }),
                  std::make_pair(incomplete, c.report));
        EXPECT_EQ(failureOf([&] { AudioStreamProbe::read(c.file, makeCancellation()); }),
                  std::make_pair(incomplete, c.report));
    }
    auto cancelled = makeCancellation();
    cancelled->cancel();
    EXPECT_THROW(Runner::probe(text, cancelled), OperationCancelled);
    EXPECT_THROW(AudioStreamProbe::read(text, cancelled), OperationCancelled);
}

// ---- Judging ffprobe's answer ------------------------------------------------------------

TEST(MediaProbe, DurationCoversTheLongestStreamOfAVideo) {
    struct Case {
        const char* name;
        std::string json;
        double duration;
    };
    const Case cases[] = {
        {"audio starting late outlasts the container",
         R"({"format":{"duration":"10.2"},"streams":[
              {"codec_type":"video","start_time":"0.0","duration":"10.0"},
              {"codec_type":"audio","start_time":"0.5","duration":"10.0"}]})",
         10.5},
        {"container longer than its streams", R"({"format":{"duration":"12.0"},"streams":[
              {"codec_type":"video","start_time":"0.0","duration":"10.0"}]})",
         12.0},
        {"no container duration: the video stream's", R"({"format":{},"streams":[
              {"codec_type":"video","duration":"7.25"}]})",
         7.25},
        {"container duration not a number: the video stream's", R"({"format":{"duration":"N/A"},"streams":[
              {"codec_type":"video","duration":"3.5"}]})",
         3.5},
        {"stream ends that do not count", R"({"format":{"duration":"4.0"},"streams":[
              {"codec_type":"video","start_time":"0.0","duration":"4.0"},
              {"codec_type":"audio","start_time":"inf","duration":"9.0"},
              {"codec_type":"audio","start_time":"1.0","duration":"-9.0"},
              {"codec_type":"audio","start_time":"1.0","duration":"N/A"},
              {"codec_type":"subtitle","start_time":"0.0","duration":"99.0"}]})",
         4.0},
        {"audio only keeps the container's", R"({"format":{"duration":"2.0"},"streams":[
              {"codec_type":"audio","start_time":"0.5","duration":"2.0"}]})",
         2.0},
        {"cover picture does not make a video, but its end counts once one exists",
         R"({"format":{"duration":"2.0"},"streams":[
              {"codec_type":"video","disposition":{"attached_pic":1},"start_time":"0","duration":"5.0"},
              {"codec_type":"video","start_time":"0","duration":"2.0"}]})",
         5.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(Runner::mediaInfoFromProbeOutput(c.json, 0).duration, c.duration) << c.name;
}

TEST(MediaProbe, StatedTimingIsTheFirstAudioStreamsOfTheFullAnswer) {
    struct Case {
        const char* name;
        const char* json;
        AudioReach::StatedTiming timing;
    };
    const Case cases[] = {
        {"after a video stream",
         R"({"streams":[
              {"codec_type":"video","start_time":"0.0","duration":"10.0"},
              {"codec_type":"audio","start_time":"-0.021333","duration":"9.5"},
              {"codec_type":"audio","start_time":"0.0","duration":"3.0"}]})",
         {-0.021333, 9.5}},
        {"no stream duration (Matroska)",
         R"({"streams":[{"codec_type":"audio","start_time":"0.0"}]})",
         {0.0, std::nullopt}},
        {"no audio stream", R"({"streams":[{"codec_type":"video","duration":"4.0"}]})", {}},
        {"no stream list", R"({"format":{"duration":"2.0"}})", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AudioReach::statedTimingFromProbeOutput(c.json), c.timing) << c.name;
}

TEST(MediaProbe, FindsTheRealVideoStreamAndCountsAudio) {
    struct Case {
        const char* name;
        std::string streams;
        bool hasVideo;
        std::int64_t width, height, audioTracks;
        double frameRate;
    };
    const Case cases[] = {
        {"cover art only", R"([{"codec_type":"audio"},
            {"codec_type":"video","width":600,"height":600,"avg_frame_rate":"90000/1","disposition":{"attached_pic":1}}])",
         false, 0, 0, 1, 30},
        {"cover before the real video",
         R"([{"codec_type":"video","width":600,"height":600,"disposition":{"attached_pic":1}},
            {"codec_type":"video","width":1920,"height":1080,"avg_frame_rate":"30000/1001","disposition":{"attached_pic":0}}])",
         true, 1920, 1080, 0, 30000.0 / 1001},
        {"attached_pic that is not an integer counts as video",
         R"([{"codec_type":"video","width":8,"height":6,"disposition":{"attached_pic":"1"}}])", true, 8, 6, 0,
         30},
        {"disposition that is not an object counts as video",
         R"([{"codec_type":"video","width":8,"height":6,"disposition":[1]}])", true, 8, 6, 0, 30},
        {"two audio tracks", R"([{"codec_type":"audio"},{"codec_type":"audio"},{"codec_type":"data"}])",
         false, 0, 0, 2, 30},
        {"missing size", R"([{"codec_type":"video","avg_frame_rate":"25/1"}])", true, 0, 0, 0, 25},
        {"size that is not an integer", R"([{"codec_type":"video","width":"640","height":480.5}])", true, 0,
         0, 0, 30},
        {"a list with something else than objects counts as empty",
         R"([{"codec_type":"audio"},{"codec_type":"video","width":8,"height":6},3])", false, 0, 0, 0, 30},
        {"streams that are not a list", R"({"codec_type":"audio"})", false, 0, 0, 0, 30},
        {"codec_type that is not text", R"([{"codec_type":1},{"codec_type":["audio"]}])", false, 0, 0, 0, 30},
    };
    for (const auto& c : cases) {
        auto info = Runner::mediaInfoFromProbeOutput(
            R"({"format":{"duration":"1.5"},"streams":)" + c.streams + "}", 1234);
        EXPECT_EQ(info.hasVideo, c.hasVideo) << c.name;
        EXPECT_EQ(info.width, c.width) << c.name;
        EXPECT_EQ(info.height, c.height) << c.name;
        EXPECT_EQ(info.audioTracks, c.audioTracks) << c.name;
        EXPECT_EQ(info.hasAudio, c.audioTracks > 0) << c.name;
        EXPECT_DOUBLE_EQ(info.frameRate, c.frameRate) << c.name;
        EXPECT_EQ(info.bytes, 1234) << c.name;
    }
    // No streams at all is no error: the caller decides.
    EXPECT_EQ(Runner::mediaInfoFromProbeOutput(R"({"format":{"duration":"3"}})", 0),
              (MediaInfo{3.0, 0, 0, false, false, 0, 0, 30.0}));
}

TEST(MediaProbe, FrameRateFromText) {
    struct Case {
        const char* text;
        double rate;
    };
    const Case cases[] = {
        {"25/1", 25},
        {"30000/1001", 30000.0 / 1001},
        {"0/0", 30},
        {"abc", 30},
        {"", 30},
        {"25", 30},
        {"/25//2/", 12.5},
        {"x/50/2", 25},
        {"50/x/2", 25},
        {"1/2/3", 30},
        {"25/0", 30},
        {"25/-1", 30},
        // A rate of 0, a negative or an infinite one would break every frame computation
        // after it, so they fall back as well.
        {"0/1", 30},
        {"-25/1", 30},
        {"inf/1", 30},
        {"1e400/1", 30},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(Runner::frameRateFromText(c.text), c.rate) << c.text;
}

TEST(MediaProbe, AnswersWithoutADurationOrObjectAreRefused) {
    struct Case {
        const char* json;
        std::string message;
    };
    const Case cases[] = {
        {"[]", kUnreadable},
        {R"("text")", kUnreadable},
        {"{\n\n}", kNoDuration},  // ffprobe's answer for a file it could not open
        {"not json at all", kUnreadable},
        {R"({"format":{"duration":"0.0"}})", kNoDuration},
        {R"({"format":{"duration":"-1"}})", kNoDuration},
        {R"({"format":{"duration":"nan"}})", kNoDuration},
        {R"({"format":{"duration":"inf"}})", kNoDuration},
        {R"({"format":{"duration":2.5}})", kNoDuration},  // a number, not text
        {R"({"format":{"duration":" 2.5"}})", kNoDuration},
        {R"({"format":"x","streams":[{"codec_type":"audio","duration":"4"}]})", kNoDuration},
    };
    for (const auto& c : cases)
        EXPECT_EQ(messageOf([&] { Runner::mediaInfoFromProbeOutput(c.json, 0); }), c.message) << c.json;
}

TEST(MediaProbe, QueriesSpellTheirCommandLines) {
    struct Case {
        ProbeQuery query;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {ProbeQuery::firstAudio("stream=sample_rate,channels"),
         {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=sample_rate,channels", "-of",
          "json", "/m/a b.wav"}},
        {ProbeQuery{.show = {"-show_format", "-show_streams"}},
         {"-v", "error", "-show_format", "-show_streams", "-of", "json", "/m/a b.wav"}},
        {ProbeQuery{
             .streams = "v:0", .show = {"-show_entries", "packet=pts_time"}, .outputFormat = "csv=p=0"},
         {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time", "-of", "csv=p=0",
          "/m/a b.wav"}},
        {CodecProbe::query(),
         {"-v", "error", "-show_entries",
          "stream=codec_type,codec_name,pix_fmt,bits_per_raw_sample,color_transfer", "-of", "json",
          "/m/a b.wav"}},
    };
    for (const auto& c : cases) EXPECT_EQ(MediaProbe::arguments(c.query, "/m/a b.wav"), c.expected);
    EXPECT_EQ(ProbeQuery::firstAudio("stream=channels").timeLimitSeconds, Runner::kProbeTimeoutSeconds);
    EXPECT_EQ(CodecProbe::query().timeLimitSeconds, 12.0);
}

TEST(MediaProbe, StreamFactsCountOnlyInTheFormFfprobePrintsThem) {
    const auto answer = MediaProbe::parse(R"({"streams":[
        {"codec_type":"audio","codec_name":"aac","channels":2,"sample_rate":"48000","channel_layout":"stereo",
         "time_base":"1/48000","start_time":"-0.021333","duration_ts":96000},
        7,
        {"codec_type":"video","channels":"2","sample_rate":48000,"duration_ts":-1,"codec_name":null},
        {"channels":18446744073709551615,"sample_rate":"4.8e4"}]})");
    ProbedStream audio;
    audio.codecType = "audio";
    audio.codecName = "aac";
    audio.channels = 2;
    audio.sampleRate = 48000;
    audio.channelLayout = "stereo";
    audio.timeBase = "1/48000";
    audio.startTime = "-0.021333";
    audio.durationTicks = 96000;
    ProbedStream video;
    video.codecType = "video";
    video.durationTicks = -1;
    EXPECT_EQ(MediaProbe::firstStream(answer), audio);
    // Elements that are not objects are skipped; values of another form state nothing.
    EXPECT_EQ(MediaProbe::streams(answer), (std::vector<ProbedStream>{audio, video, ProbedStream()}));

    for (const char* nothing :
         {"not json", "[]", R"({"streams":[]})", R"({"streams":[7,{}]})", R"({"streams":{"channels":2}})"})
        EXPECT_EQ(MediaProbe::firstStream(MediaProbe::parse(nothing)), std::nullopt) << nothing;
    EXPECT_TRUE(MediaProbe::parse("{").is_discarded());
}

TEST(MediaProbe, AudioStreamAnswerMustBeInRange) {
    struct Case {
        const char* json;
        std::optional<AudioStreamInfo> expected;
    };
    const Case cases[] = {
        {R"({"streams":[{"sample_rate":"48000","channels":2}]})", AudioStreamInfo(48000, 2)},
        {R"({"streams":[{"sample_rate":"+44100","channels":1}]})", AudioStreamInfo(44100, 1)},
        {R"({"streams":[{"sample_rate":"1","channels":64}]})", AudioStreamInfo(1, 64)},
        {R"({"streams":[{"sample_rate":"768000","channels":1}]})", AudioStreamInfo(768000, 1)},
        {R"({"streams":[{"sample_rate":"0","channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"768001","channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"-44100","channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"44.1k","channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"44100.0","channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":" 44100","channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"++44100","channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"99999999999999999999","channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":44100,"channels":2}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"44100","channels":0}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"44100","channels":65}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"44100","channels":"2"}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"44100","channels":2.0}]})", std::nullopt},
        {R"({"streams":[{"sample_rate":"44100"}]})", std::nullopt},
        {R"({"streams":[]})", std::nullopt},  // a file without audio
        {R"({"streams":[3,{"sample_rate":"44100","channels":2}]})", std::nullopt},
        {R"({"streams":{"sample_rate":"44100","channels":2}})", std::nullopt},
        {R"([{"sample_rate":"44100","channels":2}])", std::nullopt},
        {"not json", std::nullopt},
    };
    for (const auto& c : cases) {
        if (c.expected)
            EXPECT_EQ(AudioStreamProbe::fromProbeOutput(c.json), *c.expected) << c.json;
        else
            EXPECT_EQ(messageOf([&] { AudioStreamProbe::fromProbeOutput(c.json); }), kNoAudioFormat)
                << c.json;
    }
    EXPECT_EQ(messageOf([] { AudioStreamInfo(44100, 65); }), kNoAudioFormat);
    EXPECT_EQ(messageOf([] { AudioStreamInfo(0, 2); }), kNoAudioFormat);
}

// ---- The codecs of a file ----------------------------------------------------------------

// A stream with the facts the codecs' question asks for.
ProbedStream codecStream(const char* type, std::optional<std::string> codec,
                         std::optional<std::string> pixelFormat = std::nullopt,
                         std::optional<std::int64_t> bits = std::nullopt,
                         std::optional<std::string> transfer = std::nullopt) {
    ProbedStream stream;
    stream.codecType = type;
    stream.codecName = std::move(codec);
    stream.pixelFormat = std::move(pixelFormat);
    stream.bitsPerRawSample = bits;
    stream.colorTransfer = std::move(transfer);
    return stream;
}

TEST(CodecProbe, ReadsTheCodecsOfGeneratedFiles) {
    TempDir folder;
    const std::string picture = "-f lavfi -i testsrc=size=160x120:rate=10:duration=1 ";
    const std::string sound = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -ac 2 ";
    const ProbedStream aac = codecStream("audio", "aac");
    struct Case {
        std::string name;
        std::string arguments;
        CodecStreams expected;
    };
    const std::vector<Case> cases{
        {"h264-aac.mp4",
         picture + sound + "-c:v libx264 -pix_fmt yuv420p -c:a aac",
         {codecStream("video", "h264", "yuv420p", 8), aac}},
        {"h264-opus.mp4",
         picture + sound + "-c:v libx264 -pix_fmt yuv420p -c:a libopus",
         {codecStream("video", "h264", "yuv420p", 8), codecStream("audio", "opus")}},
        {"h264-10bit.mp4",
         picture + sound + "-c:v libx264 -pix_fmt yuv420p10le -c:a aac",
         {codecStream("video", "h264", "yuv420p10le", 10), aac}},
        {"sound.m4a", sound + "-c:a aac", {std::nullopt, aac}},
    };
    for (const auto& test : cases) {
        const auto file = folder / test.name;
        makeMedia(test.arguments, file);
        EXPECT_EQ(CodecProbe::read(file, makeCancellation()), test.expected) << test.name;
    }
}

TEST(CodecProbe, ACancelledProbeOnABlockedPipeEndsPromptly) {
    TempDir folder;
    const auto pipe = folder / "never-written";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const CancellationToken token = makeCancellation();
    std::string message;
    std::atomic<bool> done = false;
    std::thread reader([&] {
        message = messageOf([&] { CodecProbe::read(pipe, token); });
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done);
    const auto cancelled = std::chrono::steady_clock::now();
    token->cancel();
    reader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::milliseconds(2500));
    EXPECT_EQ(message, "任务已取消，原文件未改动。");
}

TEST(CodecProbe, AMissingProbeToolIsThrown) {
    TempDir folder;
    const auto empty = folder / "resources";
    std::filesystem::create_directories(empty / "bin");
    const std::string message = messageOf([&] {
        CodecProbe::read(folder / "any.mp4", makeCancellation(),
                         [&] { return Dependencies::require("ffprobe", empty, true); });
    });
    EXPECT_NE(message.find("ffprobe"), std::string::npos) << message;
}

TEST(CodecProbe, PicksTheStreamsFromTheProbeOutput) {
    ProbedStream untyped;
    untyped.codecType = "video";
    const std::vector<std::pair<std::string, CodecStreams>> cases{
        {R"({"streams":[{"codec_type":"audio","codec_name":"opus"},{"codec_type":"video","codec_name":"hevc"},)"
         R"({"codec_type":"audio","codec_name":"aac"}]})",
         {codecStream("video", "hevc"), codecStream("audio", "opus")}},
        {R"({"streams":[{"codec_type":"audio","codec_name":"aac"}]})",
         {std::nullopt, codecStream("audio", "aac")}},
        {R"({"streams":[{"codec_type":"video","codec_name":"h264"},3]})", {}},
        {R"({"streams":{"codec_type":"video"}})", {}},
        {R"([{"codec_type":"video","codec_name":"h264"}])", {}},
        // The picture's facts count only in the form ffprobe prints them: texts.
        {R"({"streams":[{"codec_type":"video","codec_name":"hevc","pix_fmt":"yuv420p10le",)"
         R"("bits_per_raw_sample":"+10","color_transfer":"smpte2084"}]})",
         {codecStream("video", "hevc", "yuv420p10le", 10, "smpte2084"), std::nullopt}},
        {R"({"streams":[{"codec_type":"video","codec_name":264,"pix_fmt":7,"bits_per_raw_sample":10,)"
         R"("color_transfer":null}]})",
         {untyped, std::nullopt}},
    };
    for (const auto& [output, expected] : cases)
        EXPECT_EQ(CodecProbe::fromProbeOutput(output), expected) << output;
    // ffprobe answers with an object: broken JSON and a lone value are equally unreadable.
    for (const char* unreadable : {"{streams", "3", R"("streams")"})
        EXPECT_THROW(CodecProbe::fromProbeOutput(unreadable), MediaError) << unreadable;
}

}  // namespace
}  // namespace talvian
