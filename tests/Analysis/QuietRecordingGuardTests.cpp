#include "Analysis/QuietRecordingGuard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "AnalysisTestSupport.h"

namespace talvian {
namespace {

using namespace test;

CutOptions fixedAt(double thresholdDB) {
    return CutOptions(thresholdDB, 0.8, 0.3, DetectionMode::fixed);
}

TEST(QuietRecordingGuard, AppliesOnlyToTheDefaultFixedThreshold) {
    EXPECT_TRUE(QuietRecordingGuard::applies(fixedAt(-35.0)));
    EXPECT_TRUE(QuietRecordingGuard::applies(CutOptions()));
    for (double threshold : {-35.01, -34.99, -40.0})
        EXPECT_FALSE(QuietRecordingGuard::applies(fixedAt(threshold)));
    EXPECT_FALSE(QuietRecordingGuard::applies(CutOptions(-35, 0.8, 0.3, DetectionMode::adaptive)));
}

TEST(QuietRecordingGuard, EffectiveThresholdNeverRisesAboveTheDefault) {
    struct Case {
        CutOptions options;
        std::optional<double> reference;
        double expected;
    };
    const Case cases[] = {
        {fixedAt(-35), -20.0, -38.0},
        {fixedAt(-35), -10.0, -35.0},
        {fixedAt(-35), std::nullopt, -35.0},
        {fixedAt(-35), std::numeric_limits<double>::quiet_NaN(), -35.0},
        {fixedAt(-35), -std::numeric_limits<double>::infinity(), -35.0},
        {fixedAt(-40), -30.0, -40.0},
        {CutOptions(-35, 0.8, 0.3, DetectionMode::adaptive), -30.0, -35.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuietRecordingGuard::effectiveThreshold(c.options, c.reference), c.expected);
}

TEST(QuietRecordingGuard, WindowIsFiftyMillisecondsRoundedHalfToEven) {
    struct Case {
        int rate, frames;
    };
    for (auto c : {Case{48000, 2400}, Case{44100, 2205}, Case{22050, 1102}, Case{8000, 400}, Case{30, 2},
                   Case{10, 1}, Case{1, 1}, Case{768000, 38400}})
        EXPECT_EQ(QuietRecordingGuard::windowFrames(c.rate), c.frames) << c.rate;
}

double reference(const std::vector<float>& samples, int rate, int channels) {
    TempDir dir;
    writePcm(dir / "loudness.f32", samples);
    auto value = QuietRecordingGuard::referenceDB(dir / "loudness.f32", rate, channels, Cancellation());
    return value.value_or(std::numeric_limits<double>::quiet_NaN());
}

TEST(QuietRecordingGuard, ReferenceIsTheInterpolatedLoudWindowLevel) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // 8000 Hz: windows of 400 sample frames.
    EXPECT_NEAR(reference(constantFrames(4000, {0.1f}), 8000, 1), -20, 1e-5);
    // A single window: the quantile is its own value.
    EXPECT_NEAR(reference(constantFrames(400, {0.1f}), 8000, 1), -20, 1e-5);
    // The loudest channel counts.
    EXPECT_NEAR(reference(constantFrames(800, {0.1f, 0.5f}), 8000, 2), 20 * std::log10(0.5), 1e-5);
    // 99 windows at 0.1 and one at 1.0: position 98.01 lies between the last two values.
    auto mixed = constantFrames(99 * 400, {0.1f}) + constantFrames(400, {1.0f});
    EXPECT_NEAR(reference(mixed, 8000, 1), 20 * std::log10(0.1 + 0.01 * 0.9), 1e-5);
    // A window with one non-finite sample in either channel does not count.
    auto spoiled = constantFrames(400, {0.9f, 0.9f});
    spoiled[401] = nan;
    EXPECT_NEAR(reference(spoiled + constantFrames(400, {0.1f, 0.1f}), 8000, 2), -20, 1e-5);
    // A tail shorter than one window is ignored.
    EXPECT_NEAR(reference(constantFrames(400, {0.1f}) + constantFrames(399, {1.0f}), 8000, 1), -20, 1e-5);
    // 44.1 kHz stereo across several 256 KiB chunks (windows of 2205 frames, 17640 bytes).
    EXPECT_NEAR(reference(constantFrames(44100 * 2, {0.25f, 0.05f}), 44100, 2), 20 * std::log10(0.25), 1e-5);
}

TEST(QuietRecordingGuard, NoReferenceWithoutUsableSound) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const auto& samples : {std::vector<float>{}, constantFrames(4000, {0.0f}),
                                constantFrames(4000, {nan}), constantFrames(399, {0.5f})}) {
        TempDir dir;
        writePcm(dir / "loudness.f32", samples);
        EXPECT_EQ(QuietRecordingGuard::referenceDB(dir / "loudness.f32", 8000, 1, Cancellation()),
                  std::nullopt);
    }
}

TEST(QuietRecordingGuard, Refusals) {
    TempDir dir;
    writePcm(dir / "loudness.f32", constantFrames(400, {0.1f}));
    struct Case {
        int rate, channels;
    };
    for (auto c : {Case{0, 1}, Case{768001, 1}, Case{8000, 0}, Case{8000, 65}})
        EXPECT_EQ(messageOf([&] {
                      QuietRecordingGuard::referenceDB(dir / "loudness.f32", c.rate, c.channels,
                                                       Cancellation());
                  }),
                  "无法读取音频的采样率或声道。");
    EXPECT_EQ(messageOf([&] { QuietRecordingGuard::referenceDB(dir / "none.f32", 8000, 1, Cancellation()); }),
              "无法读取“none.f32”：文件或文件夹不存在。");
    // Cancelled after a read, and at the end of an empty file.
    writePcm(dir / "empty.f32", {});
    for (const char* name : {"loudness.f32", "empty.f32"})
        EXPECT_EQ(
            messageOf([&] { QuietRecordingGuard::referenceDB(dir / name, 8000, 1, *cancelledToken()); }),
            "任务已取消，原文件未改动。");
}

// The meter fed as a pipe delivers (pieces of any size, windows split between them) gives the
// very value the file gives.
TEST(QuietRecordingGuard, MeterFedInPiecesGivesTheFilesReference) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // 44.1 kHz stereo, windows of 2205 frames: varied levels, a poisoned window and a short tail.
    std::vector<float> samples;
    for (std::size_t frame = 0; frame < 2205 * 37 + 1000; ++frame) {
        const float level = static_cast<float>(0.01 + 0.02 * static_cast<double>((frame / 2205) % 7));
        samples.push_back(level * std::sin(static_cast<float>(frame) * 0.05f));
        samples.push_back(frame == 2205 * 5 + 17 ? nan : level * 0.5f);
    }
    TempDir dir;
    writePcm(dir / "loudness.f32", samples);
    const auto fromFile = QuietRecordingGuard::referenceDB(dir / "loudness.f32", 44100, 2, Cancellation());
    ASSERT_TRUE(fromFile);
    const auto* bytes = reinterpret_cast<const std::byte*>(samples.data());
    const std::size_t total = samples.size() * sizeof(float);
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{2205 * 8 - 3},
                              std::size_t{2205 * 8}, std::size_t{262144}, total}) {
        SCOPED_TRACE(piece);
        QuietRecordingGuard::LoudnessMeter meter(44100, 2);
        for (std::size_t offset = 0; offset < total; offset += piece)
            meter.add(std::span<const std::byte>(bytes + offset, std::min(piece, total - offset)));
        EXPECT_EQ(meter.referenceDB(), fromFile);
    }
    QuietRecordingGuard::LoudnessMeter empty(48000, 1);
    EXPECT_FALSE(empty.referenceDB());
    for (auto [rate, channels] :
         {std::pair{0, 1}, std::pair{768001, 1}, std::pair{48000, 0}, std::pair{48000, 65}})
        EXPECT_EQ(messageOf([&] { QuietRecordingGuard::LoudnessMeter(rate, channels); }),
                  "无法读取音频的采样率或声道。");
}

}  // namespace
}  // namespace talvian
