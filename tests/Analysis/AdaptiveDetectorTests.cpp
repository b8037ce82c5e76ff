#include "Analysis/AdaptiveDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "AnalysisTestSupport.h"

namespace talvian {
namespace {

using namespace test;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> repeated(std::size_t count, double level) {
    return std::vector<double>(count, level);
}

CutOptions options(double minimumSilence, double padding, std::optional<double> paddingRight = std::nullopt) {
    CutOptions result(-35, minimumSilence, padding, DetectionMode::adaptive);
    result.paddingRight = paddingRight;
    return result;
}

struct Span {
    double start;
    double end;
};

void expectCuts(const std::vector<CutRegion>& cuts, const std::vector<Span>& expected) {
    ASSERT_EQ(cuts.size(), expected.size());
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        EXPECT_NEAR(cuts[i].start, expected[i].start, 1e-9) << "cut " << i;
        EXPECT_NEAR(cuts[i].end, expected[i].end, 1e-9) << "cut " << i;
        EXPECT_TRUE(cuts[i].remove);
    }
}

TEST(AdaptiveDetector, ThresholdFollowsTheRecordingsStatistics) {
    struct Case {
        double noise, speech, threshold;
    };
    for (auto c : {Case{-60, -20, -52}, Case{-70, -30, -62}, Case{-60, -54, -57}}) {
        // 50 frames of background then 50 of speech: the 20th percentile is background, the 90th speech.
        auto result =
            AdaptiveDetector::detect(repeated(50, c.noise) + repeated(50, c.speech), 2.0, options(0.3, 0));
        EXPECT_DOUBLE_EQ(result.diagnostics.noiseFloorDB, c.noise);
        EXPECT_DOUBLE_EQ(result.diagnostics.thresholdDB, c.threshold);
        EXPECT_DOUBLE_EQ(result.diagnostics.dynamicRangeDB, c.speech - c.noise);
        EXPECT_FALSE(result.diagnostics.warning);
        // The quiet first second becomes one pause touching the start.
        expectCuts(result.cuts, {{0, 1.0}});
    }
}

TEST(AdaptiveDetector, GivesUpWithoutContrastOrSound) {
    const std::string lowContrast = "录音音量变化太小，无法可靠区分停顿。本次保留全部内容，可切换手动判断。";
    auto flat = AdaptiveDetector::detect(repeated(50, -60) + repeated(50, -54.01), 2.0, options(0.3, 0));
    EXPECT_TRUE(flat.cuts.empty());
    EXPECT_EQ(flat.diagnostics.warning, lowContrast);
    EXPECT_DOUBLE_EQ(flat.diagnostics.noiseFloorDB, -60);
    EXPECT_NEAR(flat.diagnostics.dynamicRangeDB, 5.99, 1e-9);

    for (const auto& levels : {std::vector<double>{}, repeated(10, kNaN)}) {
        auto none = AdaptiveDetector::detect(levels, 2.0, options(0.3, 0));
        EXPECT_TRUE(none.cuts.empty());
        EXPECT_EQ(none.diagnostics,
                  (DetectionDiagnostics{-120, -120, 0, std::string("没有读到可分析的声音，请检查素材。")}));
    }
}

TEST(AdaptiveDetector, DigitalSilenceIsOnePause) {
    auto result = AdaptiveDetector::detect(repeated(100, -120), 2.0, options(0.8, 0.3));
    EXPECT_EQ(result.diagnostics, (DetectionDiagnostics{-120, -117, 0, std::nullopt}));
    expectCuts(result.cuts, {{0, 2.0}});
}

TEST(AdaptiveDetector, RunsArePaddedAndFiltered) {
    const double q = -60, s = -20;
    struct Case {
        const char* name;
        std::vector<double> levels;
        double duration;
        CutOptions options;
        std::vector<Span> cuts;
    };
    const Case cases[] = {
        {"run from the start snaps to 0, right padding applies",
         repeated(50, q) + repeated(100, s),
         3.0,
         options(0.8, 0.3),
         {{0, 0.7}}},
        {"inner run padded on both sides",
         repeated(50, s) + repeated(60, q) + repeated(50, s),
         3.2,
         options(0.8, 0.3),
         {{1.3, 1.9}}},
        {"paddingRight replaces padding on the right",
         repeated(50, s) + repeated(60, q) + repeated(50, s),
         3.2,
         options(0.8, 0.3, 0.1),
         {{1.3, 2.1}}},
        {"run to the end ends at the duration",
         repeated(100, s) + repeated(50, q),
         3.0,
         options(0.8, 0.3),
         {{2.3, 3.0}}},
        {"run shorter than the minimum is dropped",
         repeated(50, s) + repeated(39, q) + repeated(50, s),
         2.78,
         options(0.8, 0.1),
         {}},
        // 0.84 − 0.04 is 0.7999999999999999 in doubles: the allowance lets it count.
        {"run of exactly the minimum counts",
         repeated(2, s) + repeated(40, q) + repeated(100, s),
         2.84,
         options(0.8, 0.3),
         {{0.34, 0.54}}},
        // The trailing quiet stretch keeps the background percentile quiet.
        {"cut of exactly 0.08 s is kept",
         repeated(4, q) + repeated(100, s) + repeated(50, q),
         3.08,
         options(0.05, 0),
         {{0, 0.08}, {2.08, 3.08}}},
        {"cut shorter than 0.08 s is dropped",
         repeated(3, q) + repeated(100, s) + repeated(50, q),
         3.06,
         options(0.05, 0),
         {{2.06, 3.06}}},
        {"a level that is not a number splits a quiet stretch",
         repeated(50, s) + repeated(50, q) + std::vector<double>{kNaN} + repeated(50, q) + repeated(50, s),
         4.02,
         options(0.8, 0.1),
         {{1.1, 1.9}, {2.12, 2.92}}},
        {"frames beyond the duration end the last pause at the duration",
         repeated(50, s) + repeated(100, q),
         2.5,
         options(0.3, 0.1),
         {{1.1, 2.5}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectCuts(AdaptiveDetector::detect(c.levels, c.duration, c.options).cuts, c.cuts);
    }
}

TEST(AdaptiveDetector, LevelsAreTheLoudestChannelsMeanPower) {
    TempDir dir;
    // Frame 1: channel 0 at 0.1 (−20 dB), channel 1 at 0.01. Frame 2: silence (floor).
    // Frame 3: half of the samples not a number, the rest at 1.0: they are skipped but the
    // mean still divides by 160 (−3.01 dB). Then a tail of 80 whole sample frames at 0.5 and 6
    // stray bytes.
    auto halfNaN = constantFrames(80, {1.0f, std::numeric_limits<float>::quiet_NaN()}) +
                   constantFrames(80, {std::numeric_limits<float>::quiet_NaN(), 1.0f});
    auto samples = constantFrames(160, {0.1f, 0.01f}) + constantFrames(160, {0, 0}) + halfNaN +
                   constantFrames(80, {0.5f, 0.25f});
    writePcm(dir / "a.f32", samples);
    writeFile(dir / "a.f32", readFile(dir / "a.f32") + "xxxxxx");
    auto levels = AdaptiveDetector::levels(dir / "a.f32", Cancellation(), 2);
    ASSERT_EQ(levels.size(), 4u);
    EXPECT_NEAR(levels[0], -20, 1e-5);
    EXPECT_EQ(levels[1], -120);
    EXPECT_NEAR(levels[2], 10 * std::log10(80.0 / 160), 1e-9);
    EXPECT_NEAR(levels[3], 10 * std::log10(0.25), 1e-9);  // tail divides by its own 80 frames

    // Mono, and more than one chunk of 100 frames.
    writePcm(dir / "mono.f32", constantFrames(160 * 250, {0.1f}));
    auto mono = AdaptiveDetector::levels(dir / "mono.f32", Cancellation(), 1);
    ASSERT_EQ(mono.size(), 250u);
    for (double level : mono) EXPECT_NEAR(level, -20, 1e-5);
}

TEST(AdaptiveDetector, LevelsRefusals) {
    TempDir dir;
    writePcm(dir / "a.f32", constantFrames(400, {0.1f, 0.1f}));
    for (int channels : {0, 65, -1})
        EXPECT_EQ(messageOf([&] { AdaptiveDetector::levels(dir / "a.f32", Cancellation(), channels); }),
                  "无法分析此音频的声道数量。");
    EXPECT_EQ(AdaptiveDetector::levels(dir / "a.f32", Cancellation(), 64).size(), 1u);
    EXPECT_EQ(messageOf([&] { AdaptiveDetector::levels(dir / "none.f32", Cancellation(), 2); }),
              "无法读取“none.f32”：文件或文件夹不存在。");
    EXPECT_EQ(messageOf([&] { AdaptiveDetector::levels(dir / "a.f32", *cancelledToken(), 2); }),
              "任务已取消，原文件未改动。");
}

}  // namespace
}  // namespace talvian
