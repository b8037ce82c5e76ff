#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Analysis/DetailWaveform.h"
#include "Analysis/DetailWaveformAnswer.h"
#include "Process/Dependencies.h"
#include "Process/Runner.h"
#include "ProjectFixtures.h"
#include "Support/NumberText.h"
#include "TestSupport.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

// Generated sources and a private temporary folder, so that a test sees every work folder
// the loader leaves behind.
class DetailTest : public ::testing::Test {
  protected:
    TempDir folder;
    fs::path temporary = folder / "tmp";
    std::string savedTemporary;

    void SetUp() override {
        fs::create_directories(temporary);
        if (const char* value = std::getenv("TMPDIR")) savedTemporary = value;
        ::setenv("TMPDIR", temporary.c_str(), 1);
    }
    void TearDown() override {
        if (savedTemporary.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", savedTemporary.c_str(), 1);
    }
    bool workFoldersLeft() const { return !fs::is_empty(temporary); }

    // A 10 s source of steady levels (`expression` of t per channel, "|"-separated).
    fs::path makeSource(const std::string& name, const std::string& expressions,
                        const std::string& extra = "") {
        const fs::path path = folder / name;
        makeMedia("-f lavfi -i " + shellQuote("aevalsrc=exprs=" + expressions + ":s=8000:d=10") + " " + extra,
                  path);
        return path;
    }
    static CutProject project(const fs::path& source, double duration = 10, bool hasVideo = false) {
        CutProject made = projectFor(source);
        made.info.duration = duration;
        made.info.hasVideo = hasVideo;
        return made;
    }
};

double mean(const std::vector<double>& values, std::size_t from, std::size_t to) {
    return std::accumulate(values.begin() + static_cast<long>(from), values.begin() + static_cast<long>(to),
                           0.0) /
           static_cast<double>(to - from);
}

}  // namespace

TEST_F(DetailTest, PeaksAreNormalisedToTheLoudestBucketOfTheWindow) {
    // 0.5 for five seconds, then 0.125: a quarter of the level is half the height.
    const auto source = makeSource("steps.wav", "'if(lt(t,5),0.5,0.125)'");
    const auto slice = DetailWaveform::load(project(source), WaveformWindow{4, 6}, makeCancellation());
    EXPECT_EQ(slice.window, (WaveformWindow{4, 6}));
    EXPECT_EQ(slice.channels, 1);
    EXPECT_EQ(slice.sampleRate, 4000);
    ASSERT_EQ(slice.peaks.size(), 1024u);
    for (double peak : slice.peaks) ASSERT_TRUE(peak >= 0 && peak <= 1);
    EXPECT_EQ(*std::max_element(slice.peaks.begin(), slice.peaks.end()), 1.0);
    // The resampler rings a little at the step; away from it the levels are plain.
    EXPECT_NEAR(mean(slice.peaks, 50, 450), 1.0, 0.04);
    EXPECT_NEAR(mean(slice.peaks, 600, 1000), 0.5, 0.03);
    EXPECT_FALSE(workFoldersLeft());
}

TEST_F(DetailTest, AQuietStretchIsScaledAgainstTheSilenceFloor) {
    const auto source = makeSource("quiet.wav", "'1e-5'", "-c:a pcm_f32le");
    const auto slice = DetailWaveform::load(project(source), WaveformWindow{2, 4}, makeCancellation());
    EXPECT_NEAR(mean(slice.peaks, 20, 1000), std::sqrt(1e-5 / 1e-4), 0.01);
}

TEST_F(DetailTest, EveryChannelFeedsTheSameBuckets) {
    struct Case {
        const char* name;
        std::string expressions;
        std::string layout;
        std::int64_t channels;
        double quietHalf;  // expected mean height of the second half
    };
    const Case cases[] = {
        {"stereo", "'if(lt(t,5),0.5,0)|if(lt(t,5),0,0.25)'", "stereo", 2, std::sqrt(0.5)},
        {"six channels", "'0|0|0|0|0|if(lt(t,5),0.5,0.125)'", "5.1", 6, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source =
            makeSource(std::string(c.name) + ".wav", c.expressions + ":channel_layout=" + c.layout);
        const auto slice = DetailWaveform::load(project(source), WaveformWindow{4, 6}, makeCancellation());
        EXPECT_EQ(slice.channels, c.channels);
        EXPECT_NEAR(mean(slice.peaks, 50, 450), 1.0, 0.04);
        EXPECT_NEAR(mean(slice.peaks, 600, 1000), c.quietHalf, 0.04);
    }
}

TEST_F(DetailTest, WindowsAtTheFileEndsAndVideoSourcesLoad) {
    const auto audio = makeSource("steps.wav", "'if(lt(t,5),0.5,0.125)'");
    // The end of the window a little past the duration is rounding, not an error.
    for (const auto& window : {WaveformWindow{0, 2}, WaveformWindow{8, 10 + 5e-9}, WaveformWindow{0, 10}}) {
        const auto slice = DetailWaveform::load(project(audio), window, makeCancellation());
        EXPECT_EQ(slice.window, window);
        EXPECT_GT(mean(slice.peaks, 0, 1000), 0.3);
    }
    // A picture: the sound is placed on the container's time line and padded to the duration.
    const fs::path video = folder / "talk.mp4";
    makeMedia("-f lavfi -i testsrc=size=64x48:rate=5:duration=10 -f lavfi -i " +
                  shellQuote("aevalsrc=exprs='if(lt(t,5),0.5,0.05)*sin(2*PI*200*t)':s=8000:d=10") +
                  " -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest",
              video);
    for (const auto& window : {WaveformWindow{4, 6}, WaveformWindow{8, 10}}) {
        const auto slice = DetailWaveform::load(project(video, 10, true), window, makeCancellation());
        EXPECT_EQ(slice.channels, 1);
        EXPECT_EQ(slice.peaks.size(), 1024u);
        if (window.start == 4) {
            EXPECT_GT(mean(slice.peaks, 50, 450), 2 * mean(slice.peaks, 600, 1000));
        }
    }
    EXPECT_FALSE(workFoldersLeft());
}

TEST_F(DetailTest, RefusedWindowsAndUnusableSourcesHaveTheirOwnTexts) {
    const auto source = makeSource("steps.wav", "'0.5'");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        CutProject project;
        WaveformWindow window;
        std::string expected;
    };
    const Case cases[] = {
        {"not finite", project(source), {nan, 5}, "局部波形范围无效。"},
        {"negative", project(source), {-1, 5}, "局部波形范围无效。"},
        {"past the duration", project(source), {8, 10 + 1e-6}, "局部波形范围无效。"},
        {"empty", project(source), {5, 5}, "局部波形范围无效。"},
        {"inverted", project(source), {6, 5}, "局部波形范围无效。"},
        {"longer than 60 s", project(source, 100), {0, 60.5}, "局部波形范围无效。"},
        {"shorter than a sample", project(source), {5.0000, 5.0001}, "局部波形范围过短。"},
        {"beyond 64-bit sample positions",
         project(source, 4e15),
         {3e15, 3e15 + 1},
         "局部波形时间超出可处理范围。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(messageOf([&] { DetailWaveform::load(c.project, c.window, makeCancellation()); }),
                  c.expected);
    }

    const fs::path silentFilm = folder / "silent.mp4";
    makeMedia("-f lavfi -i testsrc=size=64x48:rate=5:duration=10 -c:v libx264 -pix_fmt yuv420p", silentFilm);
    EXPECT_EQ(messageOf([&] {
                  DetailWaveform::load(project(silentFilm), {2, 4}, makeCancellation());
              }),
              "无法读取局部波形的音轨。");

    const auto cancelled = makeCancellation();
    cancelled->cancel();
    EXPECT_EQ(messageOf([&] {
                  DetailWaveform::load(project(source), {2, 4}, cancelled);
              }),
              "任务已取消，原文件未改动。");
    EXPECT_FALSE(workFoldersLeft());
}

TEST_F(DetailTest, ASourceThatDisappearedOrChangedIsNotRead) {
    const auto source = makeSource("steps.wav", "'0.5'");
    const CutProject before = project(source);
    changeByteInPlace(source, 100);
    setModifiedAt(source, before.modifiedAt + 60);
    EXPECT_EQ(messageOf([&] {
                  DetailWaveform::load(before, {2, 4}, makeCancellation());
              }),
              messageOf([&] { before.validateSource(); }));
    fs::remove(source);
    const std::string missing = messageOf([&] { DetailWaveform::load(before, {2, 4}, makeCancellation()); });
    EXPECT_NE(missing, "");
    EXPECT_EQ(missing, messageOf([&] { before.validateSource(); }));
    EXPECT_THROW(DetailWaveform::load(before, {2, 4}, makeCancellation()), MissingProjectSource);
}

TEST_F(DetailTest, CancellingARunningDecodeStopsItAndLeavesNothing) {
    const auto source = makeSource("steps.wav", "'0.5'");
    const auto token = makeCancellation();
    std::int32_t launched = 0;
    EXPECT_EQ(messageOf([&] {
                  DetailWaveform::load(project(source), {2, 4}, token, [&](std::int32_t pid) {
                      launched = pid;
                      token->cancel();
                  });
              }),
              "任务已取消，原文件未改动。");
    EXPECT_GT(launched, 0);
    EXPECT_EQ(Runner::liveChildCount(), 0u);
    EXPECT_FALSE(workFoldersLeft());
}

namespace {

// The decode from the start of the file, spelled out independently of the loader: the
// reference every seeking decode must reproduce.
std::vector<std::string> decodeFromTheStart(const CutProject& project, std::int64_t first, std::int64_t last,
                                            const fs::path& output) {
    const std::string trim =
        "atrim=start_sample=" + std::to_string(first) + ":end_sample=" + std::to_string(last);
    std::vector<std::string> arguments{"-v", "error", "-nostdin", "-y"};
    if (project.info.hasVideo) arguments.push_back("-copyts");
    arguments.insert(arguments.end(),
                     {"-i", project.source, "-map", "0:a:0", "-vn", "-af",
                      project.info.hasVideo ? "aresample=4000:async=1:first_pts=0,apad=whole_dur=" +
                                                  shortestDecimal(project.info.duration) + "," + trim
                                            : "aresample=4000," + trim,
                      "-c:a", "pcm_f32le", "-f", "f32le", output.string()});
    return arguments;
}

std::vector<float> samplesOf(const fs::path& path) {
    const std::string bytes = readFile(path);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

template <typename Number>
double largestDifference(const std::vector<Number>& a, const std::vector<Number>& b) {
    double largest = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        largest = std::max(largest, std::fabs(static_cast<double>(a[i]) - static_cast<double>(b[i])));
    return largest;
}

bool seeks(const std::vector<std::string>& arguments) {
    return std::find(arguments.begin(), arguments.end(), "-ss") != arguments.end();
}

// Speech-like bursts with a little hiss, so that lossy encoders have noise to code.
const std::string kTalk =
    "0.3*sin(2*PI*170*t)*(0.6+0.4*sin(2*PI*3*t))*gt(sin(2*PI*0.31*t)+0.2\\,0)+0.004*(random(0)-0.5)";
const std::string kOtherTalk = "0.2*sin(2*PI*230*t)*gt(sin(2*PI*0.23*t)\\,0)+0.01*(random(1)-0.5)";

std::string talk(const std::string& expressions, int rate, double seconds) {
    return "-f lavfi -i " + shellQuote("aevalsrc=exprs=" + expressions + ":s=" + std::to_string(rate) +
                                       ":d=" + shortestDecimal(seconds));
}

}  // namespace

// Without a seek ffmpeg decodes everything before the window. The seek must not change what
// is shown: the same frames, the same samples up to rounding, the same peaks.
TEST_F(DetailTest, TheSeekingDecodeLandsOnTheSamplesOfTheDecodeFromTheStart) {
    // Lossless and MP3 decodes come out bit for bit the same. The AAC decoder fills the bands it
    // was told are noise from a random sequence whose state depends on everything decoded
    // before, so after a seek that noise differs; above 4 kHz, it reaches the 4000 Hz samples
    // only through the resampler's stop band (measured: at most 4e-5 of full scale).
    constexpr double kRounding = 1e-6;
    constexpr double kNoiseBands = 1e-4;
    const std::string picture = "-f lavfi -i testsrc=size=64x48:rate=5:duration=12 ";
    struct Source {
        const char* name;
        std::string make;
        bool hasVideo;
        double duration;
        std::int64_t channels;
        double bound;
        bool seeks;  // in the middle and at the end
    };
    const Source sources[] = {
        {"mono.wav", talk("'" + kTalk + "'", 44100, 12) + " -c:a pcm_s16le", false, 12, 1, kRounding, true},
        {"stereo.wav", talk("'" + kTalk + "|" + kOtherTalk + "'", 48000, 12) + " -c:a pcm_s16le", false, 12,
         2, kRounding, true},
        {"mono.m4a", talk("'" + kTalk + "'", 44100, 12) + " -c:a aac", false, 12, 1, kNoiseBands, true},
        {"stereo.m4a", talk("'" + kTalk + "|" + kOtherTalk + "'", 48000, 12) + " -c:a aac", false, 12, 2,
         kNoiseBands, true},
        {"mono.mp3", talk("'" + kTalk + "'", 44100, 12) + " -c:a libmp3lame -b:a 128k", false, 12, 1,
         kRounding, true},
        // The sound starts 0.7 s into the picture and ends 3 s before it: filled and padded.
        {"late-sound.mp4",
         picture + "-itsoffset 0.7 " + talk("'" + kTalk + "'", 48000, 8.3) +
             " -c:v libx264 -pix_fmt yuv420p -c:a aac",
         true, 12, 1, kNoiseBands, true},
        // A container time line that starts at 3.25 s.
        {"shifted.mp4",
         picture + talk("'" + kTalk + "|" + kOtherTalk + "'", 44100, 12) +
             " -c:v libx264 -pix_fmt yuv420p -c:a aac -output_ts_offset 3.25",
         true, 15.25, 2, kNoiseBands, true},
        // Millisecond timestamps cannot say where a sample lies: no seek.
        {"millisecond.mka", talk("'" + kTalk + "'", 44100, 12) + " -c:a aac", false, 12, 1, 0, false},
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.name);
        const fs::path path = folder / source.name;
        makeMedia(source.make, path);
        const CutProject made = project(path, source.duration, source.hasVideo);
        const double d = source.duration;
        for (const auto& window :
             {WaveformWindow{0.25, 6.25}, WaveformWindow{d - 8.7, d - 2.95}, WaveformWindow{d - 6, d}}) {
            SCOPED_TRACE(window.start);
            const auto first = static_cast<std::int64_t>(std::round(window.start * 4000));
            const auto last = static_cast<std::int64_t>(std::round(window.end * 4000));
            const auto audio = DetailWaveform::probeAudio(made, makeCancellation());
            EXPECT_EQ(audio.channels, source.channels);
            const auto reference = decodeFromTheStart(made, first, last, folder / "reference.f32");
            // A window that starts within two seconds, or a source where a seek cannot land
            // exactly, is read from the start with the very same arguments.
            if (!source.seeks || window.start < 2) {
                EXPECT_EQ(DetailWaveform::decodeArguments(made, audio, first, last, folder / "reference.f32"),
                          reference);
                continue;
            }
            const auto seeking =
                DetailWaveform::decodeArguments(made, audio, first, last, folder / "seeking.f32");
            EXPECT_TRUE(seeks(seeking));
            Runner::run(Dependencies::require("ffmpeg"), seeking, makeCancellation());
            Runner::run(Dependencies::require("ffmpeg"), reference, makeCancellation());

            const auto seekingSamples = samplesOf(folder / "seeking.f32");
            const auto referenceSamples = samplesOf(folder / "reference.f32");
            ASSERT_EQ(seekingSamples.size(), referenceSamples.size());
            EXPECT_GE(referenceSamples.size(),
                      static_cast<std::size_t>((last - first - 400) * source.channels));
            EXPECT_LE(largestDifference(seekingSamples, referenceSamples), source.bound);
            const auto seekingPeaks = DetailWaveform::peaks(folder / "seeking.f32", last - first,
                                                            audio.channels, makeCancellation());
            const auto referencePeaks = DetailWaveform::peaks(folder / "reference.f32", last - first,
                                                              audio.channels, makeCancellation());
            EXPECT_LE(largestDifference(seekingPeaks, referencePeaks), source.bound);
        }
    }
}

TEST_F(DetailTest, ADecodeSeeksOnlyWhereItLandsOnTheSameSamples) {
    const auto hour = [](bool hasVideo) {
        CutProject made;
        made.source = "/s/in.m4a";
        made.info.duration = 3600;
        made.info.hasVideo = hasVideo;
        return made;
    };
    const DetailWaveform::SourceAudio plain{1, 48000, true, 0, 0};
    auto lateContainer = plain;
    lateContainer.trackStartMicroseconds = lateContainer.containerStartMicroseconds = 3228000;
    auto milliseconds = plain;
    milliseconds.wholeSampleTimestamps = false;
    auto primed = plain;
    primed.trackStartMicroseconds = 21333;
    auto barelyLate = plain;
    barelyLate.trackStartMicroseconds = 500;
    auto unstated = plain;
    unstated.trackStartMicroseconds.reset();
    auto noRate = plain;
    noRate.sampleRate.reset();
    const std::vector<std::string> tail{"-c:a", "pcm_f32le", "-f", "f32le", "/o/detail.f32"};
    const auto seeking = [&](const std::string& seconds, bool copyts, const std::string& filter) {
        std::vector<std::string> arguments{"-v", "error", "-nostdin", "-y", "-ss", seconds};
        if (copyts) arguments.push_back("-copyts");
        arguments.insert(arguments.end(), {"-i", "/s/in.m4a", "-map", "0:a:0", "-vn", "-af", filter});
        arguments.insert(arguments.end(), tail.begin(), tail.end());
        return arguments;
    };
    struct Case {
        const char* name;
        bool hasVideo;
        DetailWaveform::SourceAudio audio;
        WaveformWindow window;
        std::optional<std::vector<std::string>> expected;  // none: the decode from the start
    };
    const Case cases[] = {
        {"the start window", false, plain, {0.5, 60.5}, std::nullopt},
        {"a window within two seconds of the start", false, plain, {1.9, 61.9}, std::nullopt},
        {"the middle",
         false,
         plain,
         {1800.5, 1860.5},
         seeking("1799.000000", false, "aresample=4000,atrim=start_sample=6000:end_sample=246000")},
        {"the end",
         false,
         plain,
         {3540, 3600},
         seeking("3539.000000", false, "aresample=4000,atrim=start_sample=4000:end_sample=244000")},
        // The time line starts a second before the cut, so that the resampler always fills up
        // to the first sample; first_pts counts at the source's rate.
        {"a picture",
         true,
         plain,
         {1800.5, 1860.5},
         seeking("1799.000000", true,
                 "aresample=4000:async=1:first_pts=86304000,apad=whole_len=7208000,atrim=start_sample=10000:"
                 "end_sample=250000")},
        {"a picture on a container time line from 3.228 s",
         true,
         lateContainer,
         {1800.5, 1860.5},
         seeking("1795.772000", true,
                 "aresample=4000:async=1:first_pts=86304000,apad=whole_len=7208000,atrim=start_sample=10000:"
                 "end_sample=250000")},
        {"millisecond timestamps", false, milliseconds, {1800.5, 1860.5}, std::nullopt},
        {"a track starting after the container", false, primed, {1800.5, 1860.5}, std::nullopt},
        {"sound starting within the resampler's fill threshold",
         true,
         barelyLate,
         {1800.5, 1860.5},
         std::nullopt},
        {"a track start not stated beside a picture", true, unstated, {1800.5, 1860.5}, std::nullopt},
        {"no sample rate", false, noRate, {1800.5, 1860.5}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CutProject made = hour(c.hasVideo);
        const auto first = static_cast<std::int64_t>(std::round(c.window.start * 4000));
        const auto last = static_cast<std::int64_t>(std::round(c.window.end * 4000));
        EXPECT_EQ(DetailWaveform::decodeArguments(made, c.audio, first, last, "/o/detail.f32"),
                  c.expected ? *c.expected : decodeFromTheStart(made, first, last, "/o/detail.f32"));
    }
}

// One probe question for every window; the plain lines wherever no seek is needed, the input
// seek only for a window far enough in.
TEST(DetailWaveformLines, TheStartWindowUsesThePlainLinesAndALaterWindowTheSeekingOnes) {
    CutProject audioOnly;
    audioOnly.source = "/s/talk.m4a";
    audioOnly.info.duration = 3600;
    CutProject film = audioOnly;
    film.source = "/s/talk.mp4";
    film.info.hasVideo = true;
    const DetailWaveform::SourceAudio stated{1, 48000, true, 0, 0};
    const auto probe = [](const std::string& entries, const std::string& file) {
        return std::vector<std::string>{
            "-v", "error", "-select_streams", "a:0", "-show_entries", entries, "-of", "json", file};
    };
    const auto decode = [](std::vector<std::string> input, const std::string& filter) {
        std::vector<std::string> arguments{"-v", "error", "-nostdin", "-y"};
        arguments.insert(arguments.end(), input.begin(), input.end());
        arguments.insert(arguments.end(), {"-map", "0:a:0", "-vn", "-af", filter, "-c:a", "pcm_f32le", "-f",
                                           "f32le", "/o/detail.f32"});
        return arguments;
    };
    const std::string seekEntries = "stream=channels,sample_rate,time_base,start_time:format=start_time";
    struct Case {
        const char* name;
        const CutProject* project;
        WaveformWindow window;
        std::vector<std::string> probe;
        std::vector<std::string> decode;
    };
    const Case cases[] = {
        {"sound at 0",
         &audioOnly,
         {0, 60},
         probe(seekEntries, "/s/talk.m4a"),
         decode({"-i", "/s/talk.m4a"}, "aresample=4000,atrim=start_sample=0:end_sample=240000")},
        {"picture at 0",
         &film,
         {0, 60},
         probe(seekEntries, "/s/talk.mp4"),
         decode({"-copyts", "-i", "/s/talk.mp4"},
                "aresample=4000:async=1:first_pts=0,apad=whole_dur=3600.0,atrim=start_sample=0:end_sample="
                "240000")},
        {"sound just before 2 s",
         &audioOnly,
         {1.999, 61.999},
         probe(seekEntries, "/s/talk.m4a"),
         decode({"-i", "/s/talk.m4a"}, "aresample=4000,atrim=start_sample=7996:end_sample=247996")},
        {"sound in the middle",
         &audioOnly,
         {1800, 1860},
         probe(seekEntries, "/s/talk.m4a"),
         decode({"-ss", "1799.000000", "-i", "/s/talk.m4a"},
                "aresample=4000,atrim=start_sample=4000:end_sample=244000")},
        {"picture in the middle",
         &film,
         {1800, 1860},
         probe(seekEntries, "/s/talk.mp4"),
         decode({"-ss", "1799.000000", "-copyts", "-i", "/s/talk.mp4"},
                "aresample=4000:async=1:first_pts=86304000,apad=whole_len=7208000,atrim=start_sample=8000:"
                "end_sample=248000")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto first = static_cast<std::int64_t>(std::round(c.window.start * 4000));
        const auto last = static_cast<std::int64_t>(std::round(c.window.end * 4000));
        const ProbeQuery query = DetailWaveform::probeQuery();
        EXPECT_EQ(MediaProbe::arguments(query, c.project->source), c.probe);
        EXPECT_EQ(query.timeLimitSeconds, 12.0);
        // The same facts everywhere: only the window's place decides against a seek at the start.
        const auto& audio = stated;
        EXPECT_EQ(DetailWaveform::decodeArguments(*c.project, audio, first, last, "/o/detail.f32"), c.decode);
    }
}

TEST(DetailWaveformLines, ProbeAnswersDecideTheChannelsAndWhetherASeekIsExact) {
    const auto read = [](const char* answer) {
        return DetailWaveform::sourceAudio(MediaProbe::parse(answer));
    };
    for (const char* refused :
         {"", "not json", "[]", R"({"streams":[]})", R"({"streams":[3]})", R"({"streams":[{"channels":0}]})",
          R"({"streams":[{"channels":65}]})", R"({"streams":[{"channels":"2"}]})",
          R"({"streams":[{"channels":2.0}]})", R"({"streams":[{"sample_rate":"48000"}]})"})
        EXPECT_EQ(messageOf([&] { read(refused); }), "无法读取局部波形的音轨。") << refused;

    using Audio = DetailWaveform::SourceAudio;
    const std::pair<const char*, Audio> cases[] = {
        {R"({"streams":[{"channels":64}]})", Audio{64, std::nullopt, false, std::nullopt, std::nullopt}},
        {R"({"streams":[{"channels":2,"sample_rate":"44100","time_base":"1/44100","start_time":"0.000000"}],
             "format":{"start_time":"0.000000"}})",
         Audio{2, 44100, true, 0, 0}},
        // A time base of 1/1000 cannot say where a sample lies.
        {R"({"streams":[{"channels":1,"sample_rate":"44100","time_base":"1/1000","start_time":"-0.021333"}]})",
         Audio{1, 44100, false, -21333, std::nullopt}},
        // A stated start that cannot be read leaves the samples' places unknown.
        {R"({"streams":[{"channels":1,"sample_rate":"48000","time_base":"1/48000"}],
             "format":{"start_time":"N/A"}})",
         Audio{1, 48000, false, std::nullopt, std::nullopt}},
        {R"({"streams":[{"channels":1,"sample_rate":"48000","time_base":"1/48000","start_time":"3.228000"}],
             "format":{"start_time":"3.228000"}})",
         Audio{1, 48000, true, 3228000, 3228000}},
    };
    for (const auto& [answer, expected] : cases) EXPECT_EQ(read(answer), expected) << answer;
}
