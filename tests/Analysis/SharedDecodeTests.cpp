// The analysis decodes a recording once for both the quiet-recording guard and the pauses, and
// keeps the guard's full-rate sound off the disk. These tests hold it to the project that the
// two decodes run one after the other give, and to what it may leave in the temporary folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Analysis/AdaptiveDetector.h"
#include "Analysis/DetailWaveform.h"
#include "Analysis/PauseAnalysis.h"
#include "Analysis/QuietRecordingGuard.h"
#include "AnalysisTestSupport.h"
#include "Model/CutMath.h"
#include "Process/Dependencies.h"
#include "Process/MediaProbe.h"
#include "Process/Runner.h"

namespace talvian {
namespace {

namespace fs = std::filesystem;
using namespace test;

std::string tone(const std::string& gate, double seconds, double amplitude, int rate = 48000) {
    return "-f lavfi -i \"aevalsrc='" + std::to_string(amplitude) + "*sin(2*PI*440*t)*(" + gate +
           ")':d=" + std::to_string(seconds) + ":s=" + std::to_string(rate) + "\"";
}

const std::string kPauses = "lt(t,1)+between(t,2.5,3.5)+gte(t,5.5)";

// The analysis the way it ran before the decode was shared: a probe of the file and one of its
// sound, the guard's full-rate decode into a file and its measurement, then the main decode.
CutProject analyzedInTwoDecodes(const fs::path& source, const CutOptions& options, const fs::path& work) {
    const auto token = makeCancellation();
    const MediaInfo info = Runner::probe(source, token);
    const AudioStreamInfo stream = AudioStreamProbe::read(source, token);
    const bool adaptive = options.mode == DetectionMode::adaptive;
    const int channels = static_cast<int>(std::max<std::int64_t>(stream.channels, 2));
    const fs::path ffmpeg = Dependencies::require("ffmpeg");

    CutProject project;
    double threshold = options.thresholdDB;
    if (QuietRecordingGuard::applies(options)) {
        const fs::path loudness = work / "loudness.f32";
        Runner::run(ffmpeg,
                    {"-v", "error", "-nostdin", "-y", "-i", source.string(), "-map", "0:a:0", "-vn", "-c:a",
                     "pcm_f32le", "-f", "f32le", loudness.string()},
                    token);
        threshold = QuietRecordingGuard::effectiveThreshold(
            options, QuietRecordingGuard::referenceDB(loudness, static_cast<int>(stream.sampleRate),
                                                      static_cast<int>(stream.channels), Cancellation()));
        project.effectiveThresholdDB = threshold;
    }
    const fs::path waveform = work / "waveform.f32";
    const auto decoded = Runner::run(
        ffmpeg, VevazAvezud::decodeArguments(source, info, options, threshold, channels, waveform), token);
    if (adaptive) {
        auto detection = AdaptiveDetector::detect(
            AdaptiveDetector::levels(waveform, Cancellation(), channels), info.duration, options);
        project.cuts = detection.cuts;
        project.diagnostics = detection.diagnostics;
    } else {
        project.cuts = CutMath::parseSilences(VevazAvezud::silencedetectReport(decoded.stderr), info.duration,
                                              options.padding, options.paddingRight);
    }
    project.waveform = VevazAvezud::waveform(waveform, VevazAvezud::kWaveformBins, channels, Cancellation());
    project.info = info;
    return project;
}

TEST(SharedDecode, GivesTheProjectOfTheTwoDecodesBitForBit) {
    TempDir dir;
    const CutOptions guarded(-35, 0.8, 0.3, DetectionMode::fixed);
    const CutOptions unguarded(-40, 0.8, 0.3, DetectionMode::fixed);
    const CutOptions adaptive(-35, 0.8, 0.3, DetectionMode::adaptive);
    struct Case {
        const char* name;
        const char* file;
        std::string make;
        CutOptions options;
        bool thresholdMoves;
    };
    const Case cases[] = {
        {"a loud recording: the guard keeps -35 dB", "loud.m4a", tone(kPauses, 6.5, 0.5) + " -c:a aac",
         guarded, false},
        {"a quiet recording: the guard lowers the threshold", "quiet.wav", tone(kPauses, 6.5, 0.014), guarded,
         true},
        {"a quiet stereo AAC at 44.1 kHz", "quiet.m4a", tone(kPauses, 6.5, 0.02, 44100) + " -ac 2 -c:a aac",
         guarded, true},
        {"no guard below the default threshold", "loud-40.m4a", tone(kPauses, 6.5, 0.5) + " -c:a aac",
         unguarded, false},
        {"adaptive", "adaptive.m4a", tone(kPauses, 6.5, 0.5) + " -c:a aac", adaptive, false},
        // The sound starts 0.7 s into the picture: -copyts and the padding chain.
        {"a video whose sound starts late", "late.mp4",
         "-f lavfi -i testsrc2=s=64x48:r=10:d=8 -itsoffset 0.7 " + tone(kPauses, 6.5, 0.5) +
             " -c:v libx264 -preset ultrafast -c:a aac",
         guarded, false},
        {"a quiet video", "quiet.mp4",
         "-f lavfi -i testsrc2=s=64x48:r=10:d=6.5 " + tone(kPauses, 6.5, 0.014) +
             " -c:v libx264 -preset ultrafast -c:a aac",
         guarded, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path source = dir / c.file;
        makeMedia(c.make, source);
        const fs::path work = dir / (std::string(c.file) + "-work");
        fs::create_directories(work);

        const CutProject before = analyzedInTwoDecodes(source, c.options, work);
        const CutProject after = VevazAvezud::analyze(source, c.options, makeCancellation());
        const auto spans = [](const CutProject& project) {
            std::vector<std::tuple<double, double, bool>> result;
            for (const auto& cut : project.cuts) result.emplace_back(cut.start, cut.end, cut.remove);
            return result;
        };
        EXPECT_EQ(spans(after), spans(before));
        EXPECT_EQ(after.waveform, before.waveform);
        EXPECT_EQ(after.effectiveThresholdDB, before.effectiveThresholdDB);
        EXPECT_EQ(after.diagnostics, before.diagnostics);
        EXPECT_EQ(after.info, before.info);
        EXPECT_FALSE(after.cuts.empty());
        if (QuietRecordingGuard::applies(c.options)) {
            ASSERT_TRUE(after.effectiveThresholdDB);
            EXPECT_EQ(*after.effectiveThresholdDB < c.options.thresholdDB, c.thresholdMoves);
        }
    }
}

TEST(SharedDecode, TheZoomTakesTheStreamFactsOfTheAnalysisProbe) {
    TempDir dir;
    const std::string picture = "-f lavfi -i testsrc2=s=64x48:r=10:d=12 ";
    const std::pair<const char*, std::string> sources[] = {
        {"talk.wav", tone(kPauses, 12, 0.5, 44100)},
        {"talk.m4a", tone(kPauses, 12, 0.5) + " -ac 2 -c:a aac"},
        {"shifted.mp4", picture + tone(kPauses, 12, 0.5) +
                            " -c:v libx264 -preset ultrafast -c:a aac -output_ts_offset 3.25"},
        {"late.mp4",
         picture + "-itsoffset 0.7 " + tone(kPauses, 10, 0.5) + " -c:v libx264 -preset ultrafast -c:a aac"},
    };
    for (const auto& [name, make] : sources) {
        SCOPED_TRACE(name);
        makeMedia(make, dir / name);
        const CutProject project = VevazAvezud::analyze(dir / name, CutOptions(), makeCancellation());
        const auto remembered = DetailWaveform::rememberedSourceAudio(project);
        ASSERT_TRUE(remembered);
        EXPECT_EQ(*remembered, DetailWaveform::probeAudio(project, makeCancellation()));

        // Another version of the file is another source: nothing is remembered for it.
        CutProject changed = project;
        changed.modifiedAt += 1;
        EXPECT_FALSE(DetailWaveform::rememberedSourceAudio(changed));
    }
}

// The decode of a zoom runs with the remembered facts: facts that forbid a seek give the plain
// decode from the start even where a probe would have allowed the seek.
TEST(SharedDecode, TheZoomDecodesWithTheRememberedFacts) {
    TempDir dir;
    makeMedia(tone(kPauses, 12, 0.5) + " -c:a aac", dir / "talk.m4a");
    const CutProject project = VevazAvezud::analyze(dir / "talk.m4a", CutOptions(), makeCancellation());
    // The kernel releases the launching thread before the new program's arguments are in place.
    const auto commandLine = [](std::int32_t pid) {
        std::string line;
        for (int attempt = 0; line.empty() && attempt < 200; ++attempt) {
            line = readFile("/proc/" + std::to_string(pid) + "/cmdline");
            if (line.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return line;
    };
    const auto decodeOf = [&] {
        std::string line;
        DetailWaveform::load(project, WaveformWindow{6, 11}, makeCancellation(),
                             [&](std::int32_t pid) { line = commandLine(pid); });
        return line;
    };
    EXPECT_NE(decodeOf().find(std::string("-ss\0", 4)), std::string::npos);

    auto facts = *DetailWaveform::rememberedSourceAudio(project);
    facts.wholeSampleTimestamps = false;
    DetailWaveform::rememberSourceAudio(project.source, project.sourceBytes, project.modifiedAt, facts);
    EXPECT_EQ(decodeOf().find(std::string("-ss\0", 4)), std::string::npos);
}

// Cancelled while its decode runs (shared with the guard or not), the analysis stops its ffmpeg
// and leaves nothing.
TEST(SharedDecode, CancellationStopsTheChildAndLeavesNoWorkFile) {
    TempDir dir;
    makeMedia(tone(kPauses, 120, 0.5) + " -c:a aac", dir / "long.m4a");
    for (const CutOptions& options : {CutOptions(), CutOptions(-40, 0.8, 0.3, DetectionMode::fixed),
                                      CutOptions(-35, 0.8, 0.3, DetectionMode::adaptive)}) {
        SCOPED_TRACE(options.thresholdDB);
        TemporaryFolderScope temporary;
        auto token = makeCancellation();
        std::size_t childrenWhileDecoding = 0;
        const std::string message = messageOf([&] {
            VevazAvezud::analyze(dir / "long.m4a", options, token, [&](double, const std::string& step) {
                if (step != "分析音量与停顿" || token->isCancelled()) return;
                childrenWhileDecoding = Runner::liveChildCount();
                token->cancel();
            });
        });
        EXPECT_EQ(message, "任务已取消，原文件未改动。");
        EXPECT_EQ(childrenWhileDecoding, 1u);
        EXPECT_EQ(Runner::liveChildCount(), 0u);
        EXPECT_EQ(temporary.leftovers(), 0u);
    }
}

// Four minutes of 48 kHz stereo are 92 MB at full rate; the analysis's temporary files may hold
// no more than its 2 kHz decode (7.7 MB) and its child's small reports.
TEST(SharedDecode, NoTemporaryFileGrowsWithTheFullRateLength) {
    TempDir dir;
    constexpr double kSeconds = 240;
    makeMedia(tone("gt(sin(2*PI*0.2*t)\\,0)", kSeconds, 0.01) + " -ac 2 -c:a aac", dir / "quiet.m4a");
    constexpr double kDecodeBytes = kSeconds * 2000 * 2 * 4;
    constexpr double kFullRateBytes = kSeconds * 48000 * 2 * 4;
    TemporaryFolderScope temporary;
    std::uintmax_t peak = 0;
    int looks = 0;
    const CutProject project = VevazAvezud::analyze(dir / "quiet.m4a", CutOptions(), makeCancellation(),
                                                    [&](double, const std::string&) {
                                                        peak = std::max(peak, temporary.bytes());
                                                        ++looks;
                                                    });
    // The guard moved the threshold, so both the shared decode and the second one ran.
    ASSERT_TRUE(project.effectiveThresholdDB);
    EXPECT_LT(*project.effectiveThresholdDB, -35.0);
    EXPECT_GT(looks, 4);
    EXPECT_GT(peak, 0u);
    EXPECT_LT(static_cast<double>(peak), kDecodeBytes + 1e6);
    EXPECT_LT(static_cast<double>(peak), kFullRateBytes / 10);
    EXPECT_EQ(temporary.leftovers(), 0u);
}

}  // namespace
}  // namespace talvian
