#include "Media/AuditionComposer.h"

#include <gtest/gtest.h>

#include <limits>

#include "ProjectFixtures.h"

#include "TestSupport.h"

namespace talvian {
namespace {

using test::messageOf;

using test::makeMedia;
using test::TempDir;

AuditionPlan planOf(AuditionMode mode, std::vector<std::pair<double, double>> bounds) {
    AuditionPlan plan;
    plan.mode = mode;
    plan.sourceStart = bounds.front().first;
    plan.sourceEnd = bounds.back().second;
    for (auto [start, end] : bounds) plan.segments.emplace_back(start, end, false);
    return plan;
}

TEST(AuditionComposer, SegmentsLaidEndToEnd) {
    AuditionPlan plan = planOf(AuditionMode::original, {{1, 2.5}, {4, 4.25}, {7, 9}});
    AuditionTimeline timeline = AuditionComposer::layout("/media/a.wav", plan, false);
    EXPECT_EQ(timeline.source, "/media/a.wav");
    EXPECT_EQ(timeline.mode, AuditionMode::original);
    EXPECT_EQ(timeline.segments, (std::vector<AuditionSegment>{
                                     {60000, 90000, 0}, {240000, 15000, 90000}, {420000, 120000, 105000}}));
    EXPECT_DOUBLE_EQ(timeline.durationSeconds(), 3.75);
    // Original auditions have hard joins: no ramps at all, full gain everywhere.
    EXPECT_TRUE(timeline.ramps.empty());
    EXPECT_EQ(timeline.gainAt(1.5), 1);
}

TEST(AuditionComposer, TicksRoundToTheGridAndNeverWrap) {
    struct Case {
        double seconds;
        std::int64_t ticks;
    };
    const Case cases[] = {
        {1.5, 90000},
        {1.0 / 3, 20000},
        {0, 0},
        {-2, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {-std::numeric_limits<double>::infinity(), 0},
        {1e300, INT64_MAX},
        {std::numeric_limits<double>::infinity(), INT64_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(auditionTicks(c.seconds), c.ticks) << c.seconds;
}

TEST(AuditionComposer, EditedRampsFollowTheSegmentLength) {
    // 2 ms → 0.5 ms ramps (a quarter); 32 ms and longer → 8 ms ramps.
    struct Case {
        double length;
        std::int64_t rampTicks;
    };
    for (const Case c : {Case{0.002, 30}, Case{0.032, 480}, Case{1.0, 480}, Case{0.02, 300}}) {
        AuditionTimeline timeline = AuditionComposer::layout(
            "a.wav", planOf(AuditionMode::edited, {{0, 1}, {2, 2 + c.length}}), false);
        const std::int64_t length = auditionTicks(c.length);
        EXPECT_EQ(timeline.ramps,
                  (std::vector<AuditionGainRamp>{{0, 480, 0, 1},
                                                 {60000 - 480, 480, 1, 0},
                                                 {60000, c.rampTicks, 0, 1},
                                                 {60000 + length - c.rampTicks, c.rampTicks, 1, 0}}))
            << c.length;
    }
}

TEST(AuditionComposer, SegmentsOfNoWholeTickGiveNoAuditionTrack) {
    // Shorter than half a tick of 1/60000 s each: nothing a player could lay on its track.
    for (AuditionMode mode : {AuditionMode::original, AuditionMode::edited}) {
        EXPECT_EQ(messageOf([&] {
                      AuditionComposer::layout("a.wav", planOf(mode, {{1, 1.000001}, {2, 2.000005}}), false);
                  }),
                  "无法创建试听音轨。");
        EXPECT_EQ(messageOf([&] {
                      AuditionComposer::layout("a.wav", planOf(mode, {{1, 1.0001}}), false);
                  }),
                  "");
    }
}

TEST(AuditionComposer, GainAt) {
    AuditionTimeline timeline =
        AuditionComposer::layout("a.wav", planOf(AuditionMode::edited, {{0, 1}, {2, 3}}), false);
    struct Case {
        double time, gain;
    };
    for (const Case c : {Case{0, 0}, Case{0.004, 0.5}, Case{0.008, 1}, Case{0.5, 1}, Case{0.992, 1},
                         Case{0.996, 0.5}, Case{1.0, 0}, Case{1.002, 0.25}, Case{1.5, 1}, Case{2.5, 1}})
        EXPECT_NEAR(timeline.gainAt(c.time), c.gain, 1e-9) << c.time;
}

TEST(AuditionComposer, ReadsTheTrackList) {
    TempDir folder;
    makeMedia("-f lavfi -i sine=d=1 -f lavfi -i color=c=red:s=32x32:d=1 -c:v mpeg4 -shortest",
              folder / "av.mp4");
    makeMedia("-f lavfi -i sine=d=1", folder / "sound.wav");
    makeMedia("-f lavfi -i color=s=32x32:d=1 -c:v mpeg4", folder / "silent.mp4");
    test::writeFile(folder / "text.wav", "not media");
    AuditionPlan plan = planOf(AuditionMode::edited, {{0.1, 0.5}});

    AuditionTimeline video = AuditionComposer::timeline(folder / "av.mp4", plan);
    EXPECT_TRUE(video.hasVideo);
    EXPECT_EQ(video.segments, AuditionComposer::layout(folder / "av.mp4", plan, true).segments);
    EXPECT_FALSE(AuditionComposer::timeline(folder / "sound.wav", plan).hasVideo);

    EXPECT_EQ(messageOf([&] { AuditionComposer::timeline(folder / "silent.mp4", plan); }),
              "素材没有可播放的音轨。");
    EXPECT_EQ(messageOf([&] { AuditionComposer::timeline(folder / "text.wav", plan); }),
              "无法读取这份素材的音视频轨道。");
    try {
        AuditionComposer::timeline(folder / "text.wav", plan);
    } catch (const MediaError& error) {
        // FFmpeg's own words are kept, for the diagnostics only.
        EXPECT_NE(error.diagnostics().find("Invalid data"), std::string::npos) << error.diagnostics();
    }
    EXPECT_EQ(messageOf([&] { AuditionComposer::timeline(folder / "missing.wav", plan); }),
              "无法读取这份素材的音视频轨道。");

    auto cancellation = makeCancellation();
    cancellation->cancel();
    EXPECT_THROW(AuditionComposer::timeline(folder / "sound.wav", plan, cancellation), OperationCancelled);
}

}  // namespace
}  // namespace talvian
