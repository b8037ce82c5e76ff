#include "Export/AudioRenderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "ExportMedia.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::audioStreamOf;
using test::entriesOf;
using test::indexedSample;
using test::makeIndexedSource;
using test::makeMedia;
using test::messageOf;
using test::samplesOf;
using test::TempDir;

const std::string kCancelled = "任务已取消，原文件未改动。";
const std::string kMismatch = "原片音频长度与剪辑范围不符，请重新分析素材。";

std::vector<CutRegion> ranges(std::initializer_list<std::pair<double, double>> list) {
    std::vector<CutRegion> result;
    for (auto [start, end] : list) result.emplace_back(start, end, false);
    return result;
}

void renderQuietly(const std::filesystem::path& source, const std::vector<CutRegion>& kept,
                   const std::filesystem::path& destination, AudioOutputFormat format,
                   std::optional<double> presentation = std::nullopt,
                   const CancellationToken& token = makeCancellation(),
                   const ProgressCallback& progress = {}) {
    AudioRenderer::render(source, kept, destination, format, token, progress, presentation);
}

// The joined sound as the renderer must produce it: every kept frame of the indexed source,
// with the linear ramps j / F and (n − j) / F over the first and last F frames of each range.
struct Mismatch {
    std::size_t count = 0;
    std::string first;
};
Mismatch compareWithJoin(const std::vector<float>& samples, const std::vector<CutRegion>& kept,
                         std::int64_t rate, int channels, std::int64_t* frames) {
    Mismatch result;
    std::int64_t k = 0;
    for (const auto& range : kept) {
        std::int64_t s = std::llround(range.start * static_cast<double>(rate));
        std::int64_t n = std::llround(range.end * static_cast<double>(rate)) - s;
        if (n <= 0) continue;
        std::int64_t fade = std::max<std::int64_t>(
            std::llround(std::min(0.25 * (range.end - range.start), 0.008) * static_cast<double>(rate)), 1);
        for (std::int64_t j = 0; j < n; ++j, ++k) {
            for (int c = 0; c < channels; ++c) {
                float expected = indexedSample(s + j, c);
                if (j < fade)
                    expected *= static_cast<float>(static_cast<double>(j) / static_cast<double>(fade));
                if (j >= n - fade)
                    expected *= static_cast<float>(static_cast<double>(n - j) / static_cast<double>(fade));
                auto index = static_cast<std::size_t>(k * channels + c);
                if (index >= samples.size() || samples[index] != expected) {
                    if (result.count++ == 0)
                        result.first = "frame " + std::to_string(k) + " channel " + std::to_string(c) +
                                       ": expected " + std::to_string(expected) + ", got " +
                                       (index < samples.size() ? std::to_string(samples[index]) : "nothing");
                }
            }
        }
    }
    *frames = k;
    return result;
}

// ---- Joins -----------------------------------------------------------------------------

TEST(AudioRenderer, JoinsKeptRangesSampleExactlyWithEdgeFades) {
    struct Case {
        const char* name;
        std::int64_t rate;
        int channels;
        const char* layout;
    };
    const Case cases[] = {
        {"mono 44.1 kHz", 44100, 1, "mono"},
        {"stereo 48 kHz", 48000, 2, "stereo"},
        {"5.1 48 kHz", 48000, 6, "5.1"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source = dir / (std::string(c.name) + ".wav");
        makeIndexedSource(source, c.rate, c.channels, c.layout, 3.2);
        const double frame = 1.0 / static_cast<double>(c.rate);
        // Whole seconds, one frame (silent), 20 ms (fades of a quarter each), a range that rounds
        // to no frame at all (skipped), and one more second.
        const auto kept = ranges({{0, 1}, {1.2, 1.2 + frame}, {1.5, 1.52}, {1.6, 1.6 + frame / 4}, {2, 3}});
        const auto output = dir / (std::string(c.name) + " cut.wav");
        renderQuietly(source, kept, output, AudioOutputFormat::wav);

        const auto samples = samplesOf(output);
        std::int64_t frames = 0;
        auto mismatch = compareWithJoin(samples, kept, c.rate, c.channels, &frames);
        EXPECT_EQ(mismatch.count, 0u) << mismatch.first;
        EXPECT_EQ(samples.size(), static_cast<std::size_t>(frames * c.channels));
        EXPECT_EQ(frames, 2 * c.rate + 1 + c.rate / 50);
        EXPECT_EQ(entriesOf(dir.path()).size(), 2 * (&c - cases + 1)) << "work folder left behind";
    }
}

TEST(AudioRenderer, FadesHaveTheLengthsOfTheWorkedExample) {
    // Stereo 48 kHz, kept [0, 1) and [2, 3): 96000 frames, F = 384 (8 ms) per edge.
    TempDir dir;
    makeIndexedSource(dir / "s.wav", 48000, 2, "stereo", 3.2);
    renderQuietly(dir / "s.wav", ranges({{0, 1}, {2, 3}}), dir / "cut.wav", AudioOutputFormat::wav);
    const auto samples = samplesOf(dir / "cut.wav");
    ASSERT_EQ(samples.size(), 2u * 96000);
    auto at = [&](std::size_t frame, int channel) {
        return samples[frame * 2 + static_cast<std::size_t>(channel)];
    };
    for (int channel : {0, 1}) {
        EXPECT_EQ(at(0, channel), 0.0f);
        EXPECT_EQ(at(383, channel), indexedSample(383, channel) * static_cast<float>(383.0 / 384));
        EXPECT_EQ(at(384, channel), indexedSample(384, channel));
        EXPECT_EQ(at(47999, channel), indexedSample(47999, channel) * static_cast<float>(1.0 / 384));
        // The second range starts at source frame 96000, silent, and ramps up again.
        EXPECT_EQ(at(48000, channel), 0.0f);
        EXPECT_EQ(at(48001, channel), indexedSample(96001, channel) * static_cast<float>(1.0 / 384));
        EXPECT_EQ(at(48000 + 500, channel), indexedSample(96500, channel));
    }
    EXPECT_EQ(AudioRenderer::fadeFrames(0.02, 48000), 240);  // a quarter of a 20 ms range
    EXPECT_EQ(AudioRenderer::fadeFrames(1.0 / 48000, 48000), 1);
    EXPECT_EQ(AudioRenderer::fadeFrames(-1, 48000), 1);
    EXPECT_EQ(AudioRenderer::fadeFrames(1, 44100), 353);
}

TEST(AudioRenderer, RangesEndingJustPastTheDecodedEndAreShortened) {
    TempDir dir;
    makeIndexedSource(dir / "s.wav", 48000, 1, "mono", 2);
    // Up to a tenth of a second past the 96000 decoded frames is accepted and cut at the end.
    renderQuietly(dir / "s.wav", ranges({{1.5, 2.09}}), dir / "cut.wav", AudioOutputFormat::wav);
    EXPECT_EQ(samplesOf(dir / "cut.wav").size(), 24000u);
    EXPECT_EQ(
        messageOf([&] {
            renderQuietly(dir / "s.wav", ranges({{1.5, 2.11}}), dir / "far.wav", AudioOutputFormat::wav);
        }),
        kMismatch);
}

TEST(AudioRenderer, PresentationDurationDecodesOnTheSourceTimelinePaddedOrCut) {
    TempDir dir;
    makeIndexedSource(dir / "s.wav", 48000, 2, "stereo", 2);
    struct Case {
        double presentation;
        std::int64_t frames;
    };
    for (const Case& c : {Case{2.5, 120000}, Case{1.5, 72000}}) {
        SCOPED_TRACE(c.presentation);
        const auto output = dir / ("cut " + std::to_string(c.frames) + ".wav");
        renderQuietly(dir / "s.wav", ranges({{0, c.presentation}}), output, AudioOutputFormat::wav,
                      c.presentation);
        const auto samples = samplesOf(output);
        ASSERT_EQ(samples.size(), static_cast<std::size_t>(2 * c.frames));
        // Aligned with time 0 of the source, silence after its end.
        for (std::size_t frame : {384u, 50000u, 71000u})
            EXPECT_EQ(samples[frame * 2], indexedSample(frame, 0));
        if (c.frames > 96000) {
            EXPECT_EQ(samples[96000 * 2 - 2], indexedSample(95999, 0));
            EXPECT_EQ(samples[96000 * 2], 0.0f);
            EXPECT_EQ(samples[110000 * 2 + 1], 0.0f);
        }
    }
}

// ---- Encoding --------------------------------------------------------------------------

TEST(AudioRenderer, EncodesM4aAsAacOrAlacAsTheChannelCountDecides) {
    struct Case {
        const char* name;
        std::int64_t rate;
        int channels;
        const char* layout;
        const char* codec;
        std::int64_t deliveredRate;
    };
    const Case cases[] = {
        {"mono 44.1 kHz", 44100, 1, "mono", "aac", 48000},
        {"stereo 48 kHz", 48000, 2, "stereo", "aac", 48000},
        {"5.1 48 kHz", 48000, 6, "5.1", "alac", 48000},
        {"5.1 44.1 kHz", 44100, 6, "5.1", "alac", 44100},
    };
    TempDir dir;
    const auto kept = ranges({{0.1, 0.9}, {1.3, 2.4}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source = dir / (std::string(c.name) + ".wav");
        makeIndexedSource(source, c.rate, c.channels, c.layout, 2.5);
        const auto output = dir / (std::string(c.name) + ".m4a");
        renderQuietly(source, kept, output, AudioOutputFormat::m4a);
        auto stream = audioStreamOf(output);
        EXPECT_EQ(stream.value("codec_name", ""), c.codec);
        EXPECT_EQ(stream.value("sample_rate", ""), std::to_string(c.deliveredRate));
        EXPECT_EQ(stream.value("channels", 0), c.channels);
        EXPECT_EQ(stream.value("channel_layout", ""), c.layout);
        // One AAC packet of 1024 frames at most; ALAC gives back every frame.
        EXPECT_NEAR(test::durationOf(output), 1.9, 1024.0 / 48000);
        if (std::string(c.codec) == "alac") {
            const auto samples = samplesOf(output);
            ASSERT_EQ(samples.size(),
                      static_cast<std::size_t>(c.channels) *
                          static_cast<std::size_t>(std::llround(1.9 * static_cast<double>(c.rate))));
            // Lossless at 24 bits: every sample between the fades within one step of 2^-23.
            double worst = 0;
            std::int64_t k = 0;
            for (const auto& range : kept) {
                std::int64_t s = std::llround(range.start * static_cast<double>(c.rate));
                std::int64_t n = std::llround(range.end * static_cast<double>(c.rate)) - s;
                for (std::int64_t j = 400; j < n - 400; ++j)
                    for (int ch = 0; ch < c.channels; ++ch)
                        worst =
                            std::max(worst, std::fabs(static_cast<double>(
                                                samples[static_cast<std::size_t>((k + j) * c.channels + ch)] -
                                                indexedSample(s + j, ch))));
                k += n;
            }
            EXPECT_LE(worst, 1.0 / 8388608);
        }
    }
}

TEST(AudioRenderer, CommandLinesFollowTheOutputCase) {
    const std::filesystem::path joined = "/w/.TalvianAudio-X/joined.f32";
    const std::filesystem::path out = "/w/out.m4a";
    using Args = std::vector<std::string>;
    const Args head = {"-hide_banner", "-nostdin", "-y", "-f", "f32le", "-ar"};
    struct Case {
        const char* name;
        std::int64_t rate;
        std::int64_t channels;
        const char* layout;  // nullptr: absent
        AudioOutputFormat output;
        Args expected;
    };
    auto join = [](Args a, const Args& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {"mono AAC", 44100, 1, "mono", AudioOutputFormat::m4a,
         join(head, {"44100", "-ac", "1", "-channel_layout", "mono", "-i", joined, "-map", "0:a:0", "-c:a",
                     "aac", "-b:a", "192000", "-ar", "48000", "-movflags", "+faststart", out})},
        {"stereo AAC without layout", 48000, 2, nullptr, AudioOutputFormat::m4a,
         join(head, {"48000", "-ac", "2", "-i", joined, "-map", "0:a:0", "-c:a", "aac", "-b:a", "320000",
                     "-ar", "48000", "-movflags", "+faststart", out})},
        {"5.1 ALAC", 44100, 6, "5.1", AudioOutputFormat::m4a,
         join(head, {"44100", "-ac", "6", "-channel_layout", "5.1", "-i", joined, "-map", "0:a:0", "-c:a",
                     "alac", "-ar", "44100", "-movflags", "+faststart", out})},
        {"unknown layout", 48000, 3, "unknown", AudioOutputFormat::m4a,
         join(head, {"48000", "-ac", "3", "-i", joined, "-map", "0:a:0", "-c:a", "alac", "-ar", "48000",
                     "-movflags", "+faststart", out})},
        {"empty layout WAV", 96000, 2, "", AudioOutputFormat::wav,
         join(head, {"96000", "-ac", "2", "-i", joined, "-map", "0:a:0", "-c:a", "pcm_f32le", "-ar", "96000",
                     "-f", "wav", "-rf64", "auto", out})},
    };
    for (const auto& c : cases) {
        RenderStreamFormat format{c.rate, c.channels, std::nullopt};
        if (c.layout) format.channelLayout = c.layout;
        EXPECT_EQ(AudioRenderer::encodeArguments(format, joined, out, c.output), c.expected) << c.name;
    }

    const std::filesystem::path source = "/s/talk.mp4", decoded = "/w/source.f32";
    EXPECT_EQ(AudioRenderer::decodeArguments(source, decoded, 48000, std::nullopt),
              (Args{"-hide_banner", "-nostdin", "-y", "-i", source, "-map", "0:a:0", "-vn", "-c:a",
                    "pcm_f32le", "-f", "f32le", decoded}));
    struct Timeline {
        double seconds;
        const char* text;
    };
    for (auto [seconds, text] : {Timeline{30, "30.0"}, Timeline{12.5, "12.5"}, Timeline{0.1, "0.1"}}) {
        std::string d = text;
        EXPECT_EQ(
            AudioRenderer::decodeArguments(source, decoded, 44100, seconds),
            (Args{"-hide_banner", "-nostdin", "-y", "-copyts", "-i", source, "-map", "0:a:0", "-vn", "-af",
                  "aresample=44100:async=1:first_pts=0,apad=whole_dur=" + d + ",atrim=duration=" + d, "-c:a",
                  "pcm_f32le", "-f", "f32le", decoded}));
    }
}

TEST(AudioRenderer, WavStaysPlainRiffBelowFourGigabytes) {
    TempDir dir;
    makeIndexedSource(dir / "s.wav", 48000, 2, "stereo", 1);
    renderQuietly(dir / "s.wav", ranges({{0, 1}}), dir / "cut.wav", AudioOutputFormat::wav);
    EXPECT_EQ(test::readFile(dir / "cut.wav").substr(0, 4), "RIFF");
    auto stream = audioStreamOf(dir / "cut.wav");
    EXPECT_EQ(stream.value("codec_name", ""), "pcm_f32le");
}

TEST(AudioRenderer, ProbeAnswersWithoutRateOrChannelsAreRefused) {
    const std::string refused = "无法读取音频采样率或声道信息。";
    EXPECT_EQ(AudioRenderer::streamFormatFromProbeOutput(
                  R"({"streams":[{"sample_rate":"48000","channels":6,"channel_layout":"5.1"}]})"),
              (RenderStreamFormat{48000, 6, "5.1"}));
    EXPECT_EQ(
        AudioRenderer::streamFormatFromProbeOutput(R"({"streams":[{"sample_rate":"+8000","channels":1}]})"),
        (RenderStreamFormat{8000, 1, std::nullopt}));
    for (const char* answer : {"", "not json", R"({"streams":[]})", R"({"streams":[{"channels":2}]})",
                               R"({"streams":[{"sample_rate":"0","channels":2}]})",
                               R"({"streams":[{"sample_rate":"768001","channels":2}]})",
                               R"({"streams":[{"sample_rate":"48000","channels":65}]})",
                               R"({"streams":[{"sample_rate":"48k","channels":2}]})"})
        EXPECT_EQ(messageOf([&] { AudioRenderer::streamFormatFromProbeOutput(answer); }), refused) << answer;
    EXPECT_FALSE((RenderStreamFormat{48000, 2, "unknown"}.layoutKnown()));
    EXPECT_FALSE((RenderStreamFormat{48000, 2, ""}.layoutKnown()));
    EXPECT_TRUE((RenderStreamFormat{48000, 2, "stereo"}.layoutKnown()));
}

// ---- Failures --------------------------------------------------------------------------

TEST(AudioRenderer, FailuresLeaveNoWorkFolder) {
    TempDir dir;
    makeIndexedSource(dir / "s.wav", 48000, 1, "mono", 2);
    makeMedia("-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v libx264 -preset ultrafast",
              dir / "picture.mp4");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        const char* source;
        std::vector<CutRegion> kept;
        std::optional<double> presentation;
        std::string message;
    };
    const Case cases[] = {
        {"zero timeline", "s.wav", ranges({{0, 1}}), 0.0, "视频时间轴无效。"},
        {"negative timeline", "s.wav", ranges({{0, 1}}), -1.0, "视频时间轴无效。"},
        {"timeline not a number", "s.wav", ranges({{0, 1}}), nan, "视频时间轴无效。"},
        {"infinite timeline", "s.wav", ranges({{0, 1}}), infinity, "视频时间轴无效。"},
        {"range past the end", "s.wav", ranges({{0, 1}, {1.5, 2.2}}), std::nullopt, kMismatch},
        {"range starting at the end", "s.wav", ranges({{2, 2.05}}), std::nullopt, kMismatch},
        {"range out of reach", "s.wav", ranges({{0, 1e300}}), std::nullopt, "剪辑范围超出可处理的音频长度。"},
        {"range end not a number", "s.wav", ranges({{0, nan}}), std::nullopt,
         "剪辑范围超出可处理的音频长度。"},
        {"no sound", "picture.mp4", ranges({{0, 1}}), std::nullopt, "无法读取音频采样率或声道信息。"},
    };
    const auto before = entriesOf(dir.path());
    for (const auto& c : cases) {
        EXPECT_EQ(messageOf([&] {
                      renderQuietly(dir / c.source, c.kept, dir / "cut.wav", AudioOutputFormat::wav,
                                    c.presentation);
                  }),
                  c.message)
            << c.name;
        EXPECT_EQ(entriesOf(dir.path()), before) << c.name;
    }

    const auto message = messageOf([&] {
        renderQuietly(dir / "s.wav", ranges({{0, 1}}), dir / "missing" / "cut.wav", AudioOutputFormat::wav);
    });
    // The hidden folder means nothing to the user: the message names the folder it was made in.
    EXPECT_EQ(message, "无法创建“missing”中的临时文件：文件或文件夹不存在。");
}

TEST(AudioRenderer, CancellingDuringTheJoinStopsBeforeTheNextChunk) {
    TempDir dir;
    // 3 s of stereo: 144000 frames, five chunks of at most 32768 frames.
    makeIndexedSource(dir / "s.wav", 48000, 2, "stereo", 3);
    const auto before = entriesOf(dir.path());
    struct Case {
        const char* step;
        int reportsAfterCancel;
    };
    for (const Case& c : {Case{"拼接保留片段", 0}, Case{"检查导出音频", 0}}) {
        SCOPED_TRACE(c.step);
        auto token = makeCancellation();
        int after = 0;
        auto progress = [&](double, const std::string& step) {
            if (token->isCancelled()) ++after;
            if (step == c.step) token->cancel();
        };
        EXPECT_EQ(messageOf([&] {
                      renderQuietly(dir / "s.wav", ranges({{0, 3}}), dir / "cut.m4a", AudioOutputFormat::m4a,
                                    std::nullopt, token, progress);
                  }),
                  kCancelled);
        EXPECT_EQ(after, c.reportsAfterCancel);
        std::filesystem::remove(dir / "cut.m4a");  // the caller's to discard
        EXPECT_EQ(entriesOf(dir.path()), before);
    }
}

TEST(AudioRenderer, ProgressClimbsThroughItsStages) {
    TempDir dir;
    makeIndexedSource(dir / "s.wav", 48000, 2, "stereo", 3);
    std::vector<std::pair<double, std::string>> reports;
    renderQuietly(dir / "s.wav", ranges({{0, 1}, {2, 3}}), dir / "cut.m4a", AudioOutputFormat::m4a,
                  std::nullopt, makeCancellation(),
                  [&](double f, const std::string& step) { reports.emplace_back(f, step); });
    ASSERT_FALSE(reports.empty());
    for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].first, reports[i - 1].first) << i;
    EXPECT_EQ(reports.back(), (std::pair<double, std::string>{0.95, "检查导出音频"}));
    std::set<std::string> steps;
    for (const auto& [fraction, step] : reports) steps.insert(step);
    EXPECT_TRUE(steps.count("拼接保留片段"));
    for (const auto& step : steps)
        EXPECT_TRUE(step == "解码原始音频" || step == "拼接保留片段" || step == "编码剪后音频" ||
                    step == "检查导出音频")
            << step;
    // The whole join reaches exactly the end of its share.
    auto lastJoin =
        std::find_if(reports.rbegin(), reports.rend(), [](auto& r) { return r.second == "拼接保留片段"; });
    EXPECT_DOUBLE_EQ(lastJoin->first, 0.5);
}

}  // namespace
}  // namespace talvian
