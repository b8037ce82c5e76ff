#include "Analysis/PauseAnalysis.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "AnalysisTestSupport.h"
#include "MediaTestSupport.h"
#include "Model/FileNaming.h"
#include "Model/ProjectJson.h"
#include "UserTextSupport.h"

namespace talvian {
namespace {

using namespace test;

// A 440 Hz tone at `amplitude` wherever `gate` (an expression of t) is non-zero, else digital
// silence, as ffmpeg input arguments. Each channel expression is joined with "|".
std::string tones(const std::string& gate, double seconds, double amplitude = 0.5, int channels = 1) {
    std::string tone = std::to_string(amplitude) + "*sin(2*PI*440*t)*(" + gate + ")";
    std::string expression;
    for (int c = 0; c < channels; ++c)
        expression += (c ? "|" : "") + (c == channels - 1 ? tone : std::string("0"));
    return "-f lavfi -i \"aevalsrc='" + expression + "':d=" + std::to_string(seconds) + ":s=48000\"";
}

// Sound 0–1, 2.5–3.5 and 5.5–6.5 s: pauses of 1.5 s and 2 s between tones.
const std::string kTwoPauses = "lt(t,1)+between(t,2.5,3.5)+gte(t,5.5)";
// Silence 0–1, 2–3.5 and 4.5–6 s: pauses at the very start and end.
const std::string kEdgePauses = "between(t,1,2)+between(t,3.5,4.5)";

CutOptions fixedOptions(double threshold = -35, double minimum = 0.8, double padding = 0.3,
                        std::optional<double> paddingRight = std::nullopt) {
    CutOptions options(threshold, minimum, padding, DetectionMode::fixed);
    options.paddingRight = paddingRight;
    return options;
}

CutOptions adaptiveOptions(std::optional<double> paddingRight = std::nullopt) {
    CutOptions options(-35, 0.8, 0.3, DetectionMode::adaptive);
    options.paddingRight = paddingRight;
    return options;
}

struct Span {
    double start;
    double end;
};

void expectCuts(const CutProject& project, const std::vector<Span>& expected, double tolerance) {
    ASSERT_EQ(project.cuts.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(project.cuts[i].start, expected[i].start, tolerance) << "cut " << i;
        EXPECT_NEAR(project.cuts[i].end, expected[i].end, tolerance) << "cut " << i;
        EXPECT_TRUE(project.cuts[i].remove);
    }
}

struct Report {
    double fraction;
    std::string step;
};

TEST(PauseAnalysis, FixedModeFindsTheKnownPauses) {
    TempDir dir;
    makeMedia(tones(kTwoPauses, 6.5), dir / "two.wav");
    makeMedia(tones(kEdgePauses, 6.0), dir / "edges.wav");
    struct Case {
        const char* name;
        const char* file;
        CutOptions options;
        std::vector<Span> cuts;
        std::int64_t version;
    };
    const Case cases[] = {
        {"defaults", "two.wav", fixedOptions(), {{1.3, 2.2}, {3.8, 5.2}}, 1},
        {"no padding", "two.wav", fixedOptions(-40, 0.8, 0), {{1.0, 2.5}, {3.5, 5.5}}, 1},
        {"paddingRight", "two.wav", fixedOptions(-40, 0.8, 0.1, 0.5), {{1.1, 2.0}, {3.6, 5.0}}, 5},
        {"minimum pause longer than the first", "two.wav", fixedOptions(-40, 1.6), {{3.8, 5.2}}, 1},
        {"pauses at the very start and end are not padded there",
         "edges.wav",
         fixedOptions(),
         {{0, 0.7}, {2.3, 3.2}, {4.8, 6.0}},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto project = VevazAvezud::analyze(dir / c.file, c.options, makeCancellation());
        expectCuts(project, c.cuts, 0.003);
        EXPECT_EQ(project.version, c.version);
        EXPECT_EQ(project.options, c.options);
        EXPECT_FALSE(project.diagnostics);
        EXPECT_EQ(project.source, (dir / c.file).string());
        EXPECT_EQ(project.info.audioTracks, 1);
        EXPECT_FALSE(project.info.hasVideo);
        EXPECT_NEAR(project.info.duration, std::string(c.file) == "two.wav" ? 6.5 : 6.0, 1e-6);
        auto identity = SourceMetadata::read(dir / c.file);
        EXPECT_EQ(project.sourceBytes, identity.bytes);
        EXPECT_EQ(project.modifiedAt, identity.modifiedAt);
        EXPECT_FALSE(project.sourceSHA256);
        EXPECT_FALSE(project.packagedSource);
        // What the analysis returns can be saved and read back.
        EXPECT_NO_THROW(ProjectJson::encode(project));
    }
}

TEST(PauseAnalysis, OverviewWaveformFollowsTheSound) {
    TempDir dir;
    makeMedia(tones(kTwoPauses, 6.5), dir / "two.wav");
    auto project = VevazAvezud::analyze(dir / "two.wav", fixedOptions(), makeCancellation());
    ASSERT_EQ(project.waveform.size(), 320u);
    // 320 bins over 6.5 s: bins inside a tone are at the top, bins inside a pause silent.
    auto at = [&](double seconds) { return project.waveform[static_cast<std::size_t>(seconds / 6.5 * 320)]; };
    EXPECT_GT(at(0.5), 0.95);
    EXPECT_EQ(at(1.75), 0.0);
    EXPECT_GT(at(3.0), 0.95);
    EXPECT_EQ(at(4.5), 0.0);
    EXPECT_GT(at(6.0), 0.95);
    for (double value : project.waveform) {
        EXPECT_GE(value, 0.0);
        EXPECT_LE(value, 1.0);
    }
}

TEST(PauseAnalysis, EveryChannelIsDecoded) {
    TempDir dir;
    // Six channels with the sound only in the last one: a decode that folded or dropped
    // channels would hear nothing.
    makeMedia(tones(kTwoPauses, 6.5, 0.5, 6), dir / "six.wav");
    makeMedia(tones(kTwoPauses, 6.5, 0.5, 2), dir / "stereo.wav");
    for (const char* file : {"six.wav", "stereo.wav"}) {
        for (const auto& options : {fixedOptions(), adaptiveOptions()}) {
            SCOPED_TRACE(std::string(file) + " " + rawValue(options.mode));
            auto project = VevazAvezud::analyze(dir / file, options, makeCancellation());
            expectCuts(project, {{1.3, 2.2}, {3.8, 5.2}}, 0.025);
            EXPECT_GT(*std::max_element(project.waveform.begin(), project.waveform.end()), 0.99);
        }
    }
}

TEST(PauseAnalysis, VideoSourceTimesAreMediaTimes) {
    TempDir dir;
    // The audio starts 1 s after the picture and outlasts it: the decoded timeline still
    // starts at 0 and lasts the probed 7.5 s, so the leading second is a pause.
    makeMedia("-f lavfi -i testsrc2=s=64x48:r=10:d=6.5 -itsoffset 1 " + tones(kTwoPauses, 6.5) +
                  " -c:v libx264 -preset ultrafast -c:a aac",
              dir / "video.mp4");
    for (const auto& options : {fixedOptions(), adaptiveOptions()}) {
        SCOPED_TRACE(rawValue(options.mode));
        auto project = VevazAvezud::analyze(dir / "video.mp4", options, makeCancellation());
        EXPECT_TRUE(project.info.hasVideo);
        EXPECT_NEAR(project.info.duration, 7.5, 0.01);
        expectCuts(project, {{0, 0.7}, {2.3, 3.2}, {4.8, 6.2}}, 0.03);
    }
}

// Synthesised speech: "first sentence", 1.5 s of silence, "second sentence", over faint
// room noise, in AAC. Returns the length of the first sentence.
double makeSpeech(const TempDir& dir, const std::filesystem::path& output) {
    auto q = [&](const char* name) { return shellQuote((dir / name).string()); };
    std::string trim = " -r 16000 -c 1 -b 16 ";
    std::string silenceTrim = " silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse";
    int status = shell(
        "espeak-ng -v en -s 170 -w " + q("r1.wav") +
        " 'Hello and welcome to the show. Today we talk about pauses.'" + " && espeak-ng -v en -s 170 -w " +
        q("r2.wav") + " 'Long pauses make a recording feel slow.'" + " && sox " + q("r1.wav") + trim +
        q("s1.wav") + silenceTrim + " && sox " + q("r2.wav") + trim + q("s2.wav") + silenceTrim +
        " && sox -n" + trim + q("gap.wav") + " trim 0 1.5" + " && sox " + q("s1.wav") + " " + q("gap.wav") +
        " " + q("s2.wav") + " " + q("speech.wav") + " && sox -n" + trim + q("room.wav") +
        " synth $(soxi -D " + q("speech.wav") + ") pinknoise vol 0.003" + " && sox -m " + q("speech.wav") +
        " " + q("room.wav") + " " + q("talk.wav") + " && soxi -D " + q("s1.wav") + " > " + q("first.txt"));
    EXPECT_EQ(status, 0);
    makeMedia("-i " + q("talk.wav") + " -c:a aac", output);
    return std::stod(readFile(dir / "first.txt"));
}

TEST(PauseAnalysis, AdaptiveModeFindsThePauseInSpeech) {
    TempDir dir;
    double first = makeSpeech(dir, dir / "talk.m4a");
    for (const auto& [options, version] :
         {std::pair{adaptiveOptions(), 2}, std::pair{adaptiveOptions(0.1), 6}}) {
        std::vector<Report> reports;
        auto project = VevazAvezud::analyze(dir / "talk.m4a", options, makeCancellation(),
                                            [&](double fraction, const std::string& step) {
                                                reports.push_back({fraction, step});
                                            });
        EXPECT_EQ(project.version, version);
        expectCuts(project, {{first + 0.3, first + 1.5 - options.paddingRight.value_or(0.3)}}, 0.05);
        ASSERT_TRUE(project.diagnostics);
        EXPECT_FALSE(project.diagnostics->warning);
        EXPECT_GE(project.diagnostics->dynamicRangeDB, 6);
        EXPECT_FALSE(project.effectiveThresholdDB);
        for (const auto& report : reports) EXPECT_NE(report.step, "正在测量录音响度");
    }
}

TEST(PauseAnalysis, AdaptiveModeKeepsEverythingWithoutContrast) {
    TempDir dir;
    makeMedia(tones("1", 3.0), dir / "steady.wav");
    auto project = VevazAvezud::analyze(dir / "steady.wav", adaptiveOptions(), makeCancellation());
    EXPECT_TRUE(project.cuts.empty());
    ASSERT_TRUE(project.diagnostics);
    EXPECT_EQ(project.diagnostics->warning,
              "录音音量变化太小，无法可靠区分停顿。本次保留全部内容，可切换手动判断。");
    EXPECT_EQ(project.version, 2);
    EXPECT_NO_THROW(ProjectJson::encode(project));
}

TEST(PauseAnalysis, QuietRecordingGuardLowersTheDefaultThreshold) {
    TempDir dir;
    // Peaks of 0.014 (RMS −40.1 dB) never reach −35 dB: without the guard all of it is "silence".
    makeMedia(tones(kTwoPauses, 6.5, 0.014), dir / "quiet.wav");
    makeMedia(tones(kTwoPauses, 6.5, 0.5), dir / "loud.wav");

    std::vector<Report> reports;
    auto quiet = VevazAvezud::analyze(dir / "quiet.wav", fixedOptions(), makeCancellation(),
                                      [&](double fraction, const std::string& step) {
                                          reports.push_back({fraction, step});
                                      });
    ASSERT_TRUE(quiet.effectiveThresholdDB);
    EXPECT_NEAR(*quiet.effectiveThresholdDB, 20 * std::log10(0.014 / std::sqrt(2.0)) - 18, 0.1);
    EXPECT_EQ(quiet.options.thresholdDB, -35.0);
    expectCuts(quiet, {{1.3, 2.2}, {3.8, 5.2}}, 0.003);
    EXPECT_EQ(quiet.quietRecordingHint(), "这段录音音量较轻，静音阈值已降至 −58.1 dB。");

    // The progress: probe, loudness, decode (never above 0.9, never back, also while the
    // quiet recording is decoded a second time), then done.
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[0].step, "正在读取媒体信息");
    EXPECT_EQ(reports[1].step, "正在测量录音响度");
    for (std::size_t i = 2; i + 1 < reports.size(); ++i) {
        EXPECT_EQ(reports[i].step, "分析音量与停顿");
        EXPECT_LE(reports[i].fraction, 0.9);
        EXPECT_GE(reports[i].fraction, reports[i - 1].fraction);
    }
    EXPECT_EQ(reports.back().fraction, 1.0);
    EXPECT_EQ(reports.back().step, "分析完成");

    std::vector<std::string> steps;
    auto unguarded = VevazAvezud::analyze(dir / "quiet.wav", fixedOptions(-35.1), makeCancellation(),
                                          [&](double, const std::string& step) { steps.push_back(step); });
    EXPECT_FALSE(unguarded.effectiveThresholdDB);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "正在测量录音响度"), 0);
    expectCuts(unguarded, {{0, 6.5}}, 1e-9);

    auto loud = VevazAvezud::analyze(dir / "loud.wav", fixedOptions(), makeCancellation());
    EXPECT_EQ(loud.effectiveThresholdDB, -35.0);
    EXPECT_FALSE(loud.quietRecordingHint());
}

TEST(PauseAnalysis, RefusalsLeaveNothingBehind) {
    TempDir dir;
    makeMedia("-f lavfi -i testsrc2=s=64x48:r=10:d=1 -c:v libx264 -preset ultrafast",
              dir / "silent-film.mp4");
    makeMedia("-f lavfi -i sine=d=1 -f lavfi -i sine=f=880:d=1 -map 0 -map 1 -c:a aac",
              dir / "two-tracks.m4a");
    makeMedia(tones(kTwoPauses, 6.5), dir / "two.wav");
    struct Case {
        const char* file;
        CutOptions options;
        const char* message;
    };
    const Case cases[] = {
        {"silent-film.mp4", fixedOptions(), "此文件没有音轨，无法判断口播停顿。"},
        {"two-tracks.m4a", fixedOptions(),
         "此文件包含多条音轨，暂无法分析，以免切掉其他音轨里的内容。请先在剪辑软件中导出包含所需声音的单条音"
         "轨副本，"
         "试听确认后再导入。"},
        {"two.wav", fixedOptions(-35, 0.1), "停顿参数超出有效范围。"},
        {"none.wav", fixedOptions(), "无法读取“none.wav”：文件或文件夹不存在。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TemporaryFolderScope temporary;
        EXPECT_EQ(messageOf([&] { VevazAvezud::analyze(dir / c.file, c.options, makeCancellation()); }),
                  c.message);
        EXPECT_EQ(temporary.leftovers(), 0u);
    }
}

TEST(PauseAnalysis, UnreadableSourcesFailWithOneChineseSentence) {
    TempDir dir;
    for (const auto& source : test::makeUnreadableSources(dir.path())) {
        SCOPED_TRACE(source.filename().string());
        TemporaryFolderScope temporary;
        for (const CutOptions& options :
             {fixedOptions(), CutOptions(-35, 0.8, 0.3, DetectionMode::adaptive)}) {
            // None is analysed (a file cut off after its index states more sound than it holds);
            // a failure is one sentence: ffprobe's and ffmpeg's own report stays out of it, only
            // the user's file name may show.
            try {
                VevazAvezud::analyze(source, options, makeCancellation());
                ADD_FAILURE() << "analysed";
            } catch (const UserError& error) {
                EXPECT_TRUE(test::isOneChineseSentence(error.message(), {source.filename().string()}));
            }
        }
        EXPECT_EQ(temporary.leftovers(), 0u);
    }
}

// The same 6.5 s of tones (kTwoPauses) as a file of each kind whose length the file states
// in front of its data: AAC and MP4 with the index first, and WAV.
struct StatedLengthFile {
    const char* name;
    std::string arguments;
};
std::vector<StatedLengthFile> statedLengthFiles() {
    return {
        {"talk.m4a", tones(kTwoPauses, 6.5) + " -c:a aac -movflags +faststart"},
        {"talk.mp4", "-f lavfi -i testsrc2=s=64x48:r=10:d=6.5 " + tones(kTwoPauses, 6.5) +
                         " -c:v libx264 -preset ultrafast -c:a aac -movflags +faststart"},
        {"talk.wav", tones(kTwoPauses, 6.5)},
    };
}

TEST(PauseAnalysis, RecordingsCutOffAfterTheirIndexAreRefused) {
    const std::string incomplete = "素材文件不完整或已损坏，声音比文件标明的时长短，请换用完整的文件。";
    TempDir dir;
    // WAV: 48 kHz 16-bit mono, 96000 bytes a second.
    constexpr std::uintmax_t kWavBytesPerSecond = 96000;
    struct Cut {
        const char* file;
        double keptShare;                // of the whole file's bytes, or
        std::uintmax_t missingWavBytes;  // bytes cut from a WAV's end
    };
    const Cut cuts[] = {
        {"talk.m4a", 0.3, 0},
        {"talk.m4a", 0.6, 0},
        {"talk.m4a", 0.8, 0},
        {"talk.mp4", 0.3, 0},
        {"talk.mp4", 0.6, 0},
        {"talk.mp4", 0.8, 0},
        {"talk.wav", 0.5, 0},
        {"talk.wav", 1, kWavBytesPerSecond * 6 / 10},  // 0.6 s missing: beyond the tolerance
    };
    for (const auto& file : statedLengthFiles()) makeMedia(file.arguments, dir / file.name);
    for (const auto& cut : cuts) {
        const auto whole = dir / cut.file;
        const auto size = std::filesystem::file_size(whole);
        const auto cutSize = cut.missingWavBytes
                                 ? size - cut.missingWavBytes
                                 : static_cast<std::uintmax_t>(static_cast<double>(size) * cut.keptShare);
        const auto copy = dir / ("cut-" + std::to_string(cutSize) + "-" + cut.file);
        std::filesystem::copy_file(whole, copy);
        std::filesystem::resize_file(copy, cutSize);
        for (const auto& options : {fixedOptions(), adaptiveOptions()}) {
            SCOPED_TRACE(copy.filename().string() + " " + rawValue(options.mode));
            TemporaryFolderScope temporary;
            EXPECT_EQ(messageOf([&] { VevazAvezud::analyze(copy, options, makeCancellation()); }),
                      incomplete);
            EXPECT_EQ(temporary.leftovers(), 0u);
        }
    }
}

TEST(PauseAnalysis, WholeRecordingsStillAnalyse) {
    TempDir dir;
    for (const auto& file : statedLengthFiles()) makeMedia(file.arguments, dir / file.name);
    // A WAV missing less than the tolerance at its end (0.4 s of its last tone) is whole enough.
    std::filesystem::copy_file(dir / "talk.wav", dir / "short.wav");
    std::filesystem::resize_file(dir / "short.wav", std::filesystem::file_size(dir / "talk.wav") - 38400);
    // A picture that outlasts its sound: the sound is whole, and the end without it a pause.
    makeMedia("-f lavfi -i testsrc2=s=64x48:r=10:d=8.5 " + tones(kTwoPauses, 6.5) +
                  " -c:v libx264 -preset ultrafast -c:a aac -movflags +faststart",
              dir / "long-picture.mp4");
    struct Case {
        const char* file;
        bool hasVideo;
        double duration;
        std::vector<Span> cuts;
    };
    const Case cases[] = {
        {"talk.m4a", false, 6.5, {{1.3, 2.2}, {3.8, 5.2}}},
        {"talk.mp4", true, 6.5, {{1.3, 2.2}, {3.8, 5.2}}},
        {"talk.wav", false, 6.5, {{1.3, 2.2}, {3.8, 5.2}}},
        {"short.wav", false, 6.1, {{1.3, 2.2}, {3.8, 5.2}}},
        {"long-picture.mp4", true, 8.5, {{1.3, 2.2}, {3.8, 5.2}, {6.8, 8.5}}},
    };
    for (const auto& c : cases) {
        for (const auto& options : {fixedOptions(), adaptiveOptions()}) {
            SCOPED_TRACE(std::string(c.file) + " " + rawValue(options.mode));
            auto project = VevazAvezud::analyze(dir / c.file, options, makeCancellation());
            EXPECT_EQ(project.info.hasVideo, c.hasVideo);
            EXPECT_NEAR(project.info.duration, c.duration, 0.03);
            expectCuts(project, c.cuts, 0.03);
            EXPECT_EQ(project.waveform.size(), 320u);
        }
    }
}

TEST(PauseAnalysis, SoundCutShortBeyondTheToleranceOnly) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const double tolerance = VevazAvezud::kMissingSoundToleranceSeconds;
    struct Case {
        const char* name;
        double reached;
        double stated;
        bool cutShort;
    };
    const Case cases[] = {
        {"exactly the stated length", 6.5, 6.5, false},
        {"longer by encoder padding", 6.5055, 6.5, false},
        {"shorter by encoder priming", 6.479, 6.5, false},
        {"short by exactly the tolerance", 6.0, 6.5, false},
        {"just beyond the tolerance", 6.5 - tolerance - 1e-9, 6.5, true},
        {"a few seconds short", 3.25, 6.5, true},
        {"an hour's copy stopped a minute early", 3540, 3600, true},
        {"no sound at all", 0, 6.5, true},
        {"an absurd stated length", 6.5, 1e300, true},
        {"a stated length that is not a number", 6.5, kNaN, false},
        {"an infinite stated length", 6.5, kInfinity, false},
        {"a reach that is not a number", kNaN, 6.5, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VevazAvezud::soundIsCutShort(c.reached, c.stated), c.cutShort) << c.name;
}

TEST(PauseAnalysis, CancellationAtEveryStepLeavesNoTemporaryFolder) {
    TempDir dir;
    makeMedia(tones(kTwoPauses, 6.5), dir / "two.wav");
    for (const char* step : {"正在读取媒体信息", "正在测量录音响度", "分析音量与停顿"}) {
        SCOPED_TRACE(step);
        TemporaryFolderScope temporary;
        auto token = makeCancellation();
        bool finished = false;
        auto message = messageOf([&] {
            VevazAvezud::analyze(dir / "two.wav", fixedOptions(), token,
                                 [&](double, const std::string& reported) {
                                     if (reported == step) token->cancel();
                                     if (reported == "分析完成") finished = true;
                                 });
        });
        EXPECT_EQ(message, "任务已取消，原文件未改动。");
        EXPECT_FALSE(finished);
        EXPECT_EQ(temporary.leftovers(), 0u);
    }
}

TEST(PauseAnalysis, TextInTagsOrFileNamesNeverCutsSpeech) {
    TempDir dir;
    // ffmpeg prints the file name and the title into the same standard error as the filter's
    // report; only the filter's own lines may count.
    const std::string name = "talk silence_start: 0.2.wav";
    makeMedia(tones("1", 3.0) + " -metadata title=" + shellQuote("silence_start: 0.2"), dir / name);
    auto steady = VevazAvezud::analyze(dir / name, fixedOptions(), makeCancellation());
    EXPECT_TRUE(steady.cuts.empty());

    makeMedia(
        tones(kTwoPauses, 6.5) + " -metadata title=" + shellQuote("silence_start: 0.2 silence_end: 6.4"),
        dir / "tagged.wav");
    expectCuts(VevazAvezud::analyze(dir / "tagged.wav", fixedOptions(), makeCancellation()),
               {{1.3, 2.2}, {3.8, 5.2}}, 0.003);
}

TEST(PauseAnalysis, SourceChangedDuringTheAnalysisIsRefused) {
    TempDir dir;
    const std::string changed = "分析期间原素材发生了变化，本次结果已丢弃。请等文件保存完毕后重新分析。";
    makeMedia(tones(kTwoPauses, 6.5), dir / "grown.wav");
    makeMedia(tones(kTwoPauses, 6.5), dir / "touched.wav");
    using Change = std::function<void(const std::filesystem::path&)>;
    const std::pair<const char*, Change> changes[] = {
        {"grown.wav", [](const std::filesystem::path& file) { writeFile(file, readFile(file) + "more"); }},
        {"touched.wav",
         [](const std::filesystem::path& file) {
             std::filesystem::last_write_time(
                 file, std::filesystem::last_write_time(file) + std::chrono::seconds(5));
         }},
    };
    for (const auto& [file, change] : changes) {
        SCOPED_TRACE(file);
        TemporaryFolderScope temporary;
        bool changedOnce = false;
        auto message = messageOf([&] {
            VevazAvezud::analyze(dir / file, fixedOptions(), makeCancellation(),
                                 [&](double, const std::string& step) {
                                     if (step == "分析音量与停顿" && !changedOnce) {
                                         changedOnce = true;
                                         change(dir / file);
                                     }
                                 });
        });
        EXPECT_TRUE(changedOnce);
        EXPECT_EQ(message, changed);
        EXPECT_EQ(temporary.leftovers(), 0u);
    }
}

TEST(PauseAnalysis, MorePausesThanAProjectHoldsAreRefused) {
    TempDir dir;
    // 60 ms of tone and 160 ms of silence, repeated: one pause after every tone.
    for (auto [file, repeats] : {std::pair{"9999.wav", 9998}, std::pair{"10000.wav", 9999}})
        ASSERT_EQ(shell("sox -n -r 2000 -c 1 -b 16 " + shellQuote((dir / file).string()) +
                        " synth 0.06 sine 440 pad 0 0.16 repeat " + std::to_string(repeats)),
                  0);
    auto options = fixedOptions(-35, 0.15, 0);
    auto most = VevazAvezud::analyze(dir / "9999.wav", options, makeCancellation());
    EXPECT_EQ(most.cuts.size(), 9999u);
    EXPECT_NO_THROW(ProjectJson::encode(most));
    EXPECT_EQ(messageOf([&] { VevazAvezud::analyze(dir / "10000.wav", options, makeCancellation()); }),
              "检测到 10000 处停顿，超过一个项目最多能保存的 9999 处。请加长最短停顿后重新分析。");
}

TEST(PauseAnalysis, DecodeCommandLines) {
    MediaInfo audio;
    audio.duration = 12.25;
    audio.hasAudio = true;
    audio.audioTracks = 1;
    MediaInfo video = audio;
    video.hasVideo = true;
    auto join = [](const std::vector<std::string>& arguments) {
        std::string text;
        for (const auto& argument : arguments) text += (text.empty() ? "" : " ") + argument;
        return text;
    };
    struct Case {
        const MediaInfo& info;
        CutOptions options;
        double threshold;
        int channels;
        std::string expected;
    };
    const Case cases[] = {
        {audio, fixedOptions(-40), -40, 2,
         "-hide_banner -nostdin -y -i /s/in.m4a -map 0:a:0 -vn -af silencedetect=noise=-40.0dB:d=0.8 -ac 2 "
         "-ar 2000 "
         "-c:a pcm_f32le -f f32le /t/waveform.f32"},
        {audio, adaptiveOptions(), -35, 2,
         "-hide_banner -nostdin -y -i /s/in.m4a -map 0:a:0 -vn -ac 2 -ar 8000 -c:a pcm_f32le -f f32le "
         "/t/waveform.f32"},
        {audio, fixedOptions(-35, 0.5), -41.25, 6,
         "-hide_banner -nostdin -y -i /s/in.m4a -map 0:a:0 -vn -af silencedetect=noise=-41.25dB:d=0.5 -ac 6 "
         "-ar 2000 "
         "-c:a pcm_f32le -f f32le /t/waveform.f32"},
        {video, fixedOptions(), -35, 2,
         "-hide_banner -nostdin -y -copyts -i /s/in.m4a -map 0:a:0 -vn -af "
         "aresample=async=1:first_pts=0,apad=whole_dur=12.25,atrim=duration=12.25,silencedetect=noise=-35."
         "0dB:d=0.8,"
         "aresample=2000 -ac 2 -ar 2000 -c:a pcm_f32le -f f32le /t/waveform.f32"},
        {video, adaptiveOptions(), -35, 2,
         "-hide_banner -nostdin -y -copyts -i /s/in.m4a -map 0:a:0 -vn -af "
         "aresample=async=1:first_pts=0,apad=whole_dur=12.25,atrim=duration=12.25,aresample=8000 -ac 2 -ar "
         "8000 "
         "-c:a pcm_f32le -f f32le /t/waveform.f32"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(join(VevazAvezud::decodeArguments("/s/in.m4a", c.info, c.options, c.threshold, c.channels,
                                                    "/t/waveform.f32")),
                  c.expected);

    // Where the guard applies, the same decode first writes the sound as decoded to standard output.
    EXPECT_EQ(
        join(VevazAvezud::guardedDecodeArguments("/s/in.m4a", audio, fixedOptions(), 2, "/t/waveform.f32")),
        "-hide_banner -nostdin -y -i /s/in.m4a -map 0:a:0 -vn -c:a pcm_f32le -flush_packets 0 -f f32le "
        "pipe:1 -map 0:a:0 "
        "-vn -af silencedetect=noise=-35.0dB:d=0.8 -ac 2 -ar 2000 -c:a pcm_f32le -f f32le /t/waveform.f32");
    EXPECT_EQ(
        join(VevazAvezud::guardedDecodeArguments("/s/in.m4a", video, fixedOptions(), 6, "/t/waveform.f32")),
        "-hide_banner -nostdin -y -copyts -i /s/in.m4a -map 0:a:0 -vn -c:a pcm_f32le -flush_packets 0 -f "
        "f32le pipe:1 "
        "-map 0:a:0 -vn -af aresample=async=1:first_pts=0,apad=whole_dur=12.25,atrim=duration=12.25,"
        "silencedetect=noise=-35.0dB:d=0.8,aresample=2000 -ac 6 -ar 2000 -c:a pcm_f32le -f f32le "
        "/t/waveform.f32");
}

TEST(PauseAnalysis, OnlyTheFiltersOwnLinesAreItsReport) {
    const std::string standardError =
        "Input #0, wav, from '/m/talk silence_start: 0.2.wav':\n"
        "  Metadata:\n"
        "    title           : silence_start: 0.2\n"
        "                    : [silencedetect @ 0x1] silence_start: 0.3\n"
        "Input #1, wav, from '/m/x\n[silencedetect @ 0x1] silence_start: 0.4.wav':\n"
        "size=       0kB time=00:00:00.01 bitrate= 128.0kbits/s speed= 441x    \r"
        "[silencedetect @ 0x55be488d6540] silence_start: 0.999955\n"
        "[silencedetect @ 0x55be488d6540] silence_end: 2.50007 | silence_duration: 1.50011\n"
        "[silencedetect @ 0x55be488d6540] silence_start: -0.0213\r\n"
        "[aac @ 0x55be488d6540] silence_start: 5\n"
        "size=      55kB time=00:00:03.50 bitrate= 128.0kbits/s speed= 383x    \n";
    EXPECT_EQ(VevazAvezud::silencedetectReport(standardError),
              "[silencedetect @ 0x55be488d6540] silence_start: 0.999955\n"
              "[silencedetect @ 0x55be488d6540] silence_end: 2.50007 | silence_duration: 1.50011\n"
              "[silencedetect @ 0x55be488d6540] silence_start: -0.0213\n");
}

TEST(PauseAnalysis, WaveformOfADecodedFile) {
    TempDir dir;
    // 2 channels, 640 frames: two frames per bin. Bin 0 peaks at 1.0 (in channel 1), bin 1 at
    // 0.25, bin 2 holds only a non-finite sample and silence, the rest is silent.
    auto samples = constantFrames(640, {0.0f, 0.0f});
    samples[1] = -1.0f;
    samples[4] = 0.25f;
    samples[8] = std::numeric_limits<float>::infinity();
    writePcm(dir / "w.f32", samples);
    auto values = VevazAvezud::waveform(dir / "w.f32", 320, 2, Cancellation());
    ASSERT_EQ(values.size(), 320u);
    EXPECT_EQ(values[0], 1.0);
    EXPECT_DOUBLE_EQ(values[1], 0.5);  // lifted by the square root
    for (std::size_t i = 2; i < values.size(); ++i) EXPECT_EQ(values[i], 0.0) << i;

    // Fewer frames than bins: frame f goes to bin f × 320 ÷ frames.
    writePcm(dir / "short.f32", constantFrames(2, {0.5f, 0.5f}) + constantFrames(2, {0.125f, 0.0f}));
    auto shortValues = VevazAvezud::waveform(dir / "short.f32", 320, 2, Cancellation());
    EXPECT_EQ(shortValues[0], 1.0);
    EXPECT_EQ(shortValues[80], 1.0);
    EXPECT_DOUBLE_EQ(shortValues[160], 0.5);
    EXPECT_EQ(shortValues[100], 0.0);

    // Several 256 KiB reads: the last frame lands in the last bin.
    auto longSamples = constantFrames(100000, {0.0f, 0.0f});
    longSamples.back() = 0.5f;
    writePcm(dir / "long.f32", longSamples);
    auto longValues = VevazAvezud::waveform(dir / "long.f32", 320, 2, Cancellation());
    EXPECT_EQ(longValues[319], 1.0);
    EXPECT_EQ(longValues[318], 0.0);

    // An empty or digitally silent decode is all zeros; a nearly silent one is not scaled up
    // beyond its floor of 0.0001.
    writePcm(dir / "empty.f32", {});
    writePcm(dir / "silent.f32", constantFrames(1000, {0.0f, -0.0f}));
    for (const char* file : {"empty.f32", "silent.f32"})
        EXPECT_EQ(VevazAvezud::waveform(dir / file, 320, 2, Cancellation()), std::vector<double>(320, 0.0))
            << file;
    writePcm(dir / "hush.f32", constantFrames(1000, {0.00005f, 0.0f}));
    EXPECT_NEAR(VevazAvezud::waveform(dir / "hush.f32", 320, 2, Cancellation())[7], std::sqrt(0.5), 1e-6);
}

TEST(PauseAnalysis, WaveformRefusals) {
    TempDir dir;
    writePcm(dir / "odd.f32", constantFrames(3, {0.5f}));  // 12 bytes: not whole stereo frames
    EXPECT_EQ(messageOf([&] { VevazAvezud::waveform(dir / "odd.f32", 320, 2, Cancellation()); }),
              "波形数据不完整，请重新分析。");
    writePcm(dir / "w.f32", constantFrames(4, {0.5f, 0.5f}));
    EXPECT_EQ(messageOf([&] { VevazAvezud::waveform(dir / "w.f32", 320, 2, *cancelledToken()); }),
              "任务已取消，原文件未改动。");
    EXPECT_EQ(messageOf([&] { VevazAvezud::waveform(dir / "none.f32", 320, 2, Cancellation()); }),
              "无法读取“none.f32”：文件或文件夹不存在。");
}

}  // namespace
}  // namespace talvian
