#include "Export/AuditionPlan.h"

#include <gtest/gtest.h>

#include "ProjectFixtures.h"

#include <cmath>
#include <limits>
#include <set>

namespace talvian {
namespace {

using test::messageOf;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

using Bounds = std::vector<std::pair<double, double>>;

Bounds boundsOf(const AuditionPlan& plan) {
    Bounds bounds;
    for (const auto& segment : plan.segments) bounds.emplace_back(segment.start, segment.end);
    return bounds;
}

TEST(AuditionPlan, OneCutWindowsAndSegments) {
    struct Case {
        const char* name;
        CutRegion cut;
        std::vector<CutRegion> cuts;
        double duration;
        AuditionMode mode;
        double context;
        double sourceStart, sourceEnd;
        Bounds segments;
    };
    const CutRegion pause(4, 6, true);
    const CutRegion early(0.5, 1, true);
    const CutRegion late(9.5, 10.005, true);
    const Case cases[] = {
        {"edited skips the removed pause",
         pause,
         {pause},
         10,
         AuditionMode::edited,
         1.2,
         2.8,
         7.2,
         {{2.8, 4}, {6, 7.2}}},
        {"original plays the window whole",
         pause,
         {pause},
         10,
         AuditionMode::original,
         1.2,
         2.8,
         7.2,
         {{2.8, 7.2}}},
        {"window clipped at the start", early, {early}, 10, AuditionMode::original, 1.2, 0, 2.2, {{0, 2.2}}},
        {"window clipped at the end, cut slightly past it",
         late,
         {late},
         10,
         AuditionMode::original,
         1.2,
         8.3,
         10,
         {{8.3, 10}}},
        {"kept pause plays through in edited mode",
         CutRegion(4, 6, false),
         {CutRegion(4, 6, false)},
         10,
         AuditionMode::edited,
         1.2,
         2.8,
         7.2,
         {{2.8, 7.2}}},
        {"zero context", pause, {}, 10, AuditionMode::original, 0, 4, 6, {{4, 6}}},
        {"other removed ranges in the window are skipped too",
         pause,
         {pause, CutRegion(2, 3.5, true), CutRegion(6.5, 20, true)},
         10,
         AuditionMode::edited,
         1.2,
         2.8,
         7.2,
         {{3.5, 4}, {6, 6.5}}},
        {"a kept sliver under 1 ms is dropped",
         pause,
         {pause, CutRegion(3.0005, 4, true)},
         10,
         AuditionMode::edited,
         1,
         3,
         7,
         {{6, 7}}},
        {"a kept piece of 2 ms stays",
         pause,
         {pause, CutRegion(3.002, 4, true)},
         10,
         AuditionMode::edited,
         1,
         3,
         7,
         {{3, 3.002}, {6, 7}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AuditionPlan plan = AuditionPlan::forCut(c.cut, c.cuts, c.duration, c.mode, c.context);
        EXPECT_EQ(plan.mode, c.mode);
        EXPECT_DOUBLE_EQ(plan.sourceStart, c.sourceStart);
        EXPECT_DOUBLE_EQ(plan.sourceEnd, c.sourceEnd);
        ASSERT_EQ(plan.segments.size(), c.segments.size());
        std::set<Uuid> identities{c.cut.id};
        for (std::size_t i = 0; i < plan.segments.size(); ++i) {
            EXPECT_NEAR(plan.segments[i].start, c.segments[i].first, 1e-12);
            EXPECT_NEAR(plan.segments[i].end, c.segments[i].second, 1e-12);
            EXPECT_FALSE(plan.segments[i].remove);
            EXPECT_TRUE(identities.insert(plan.segments[i].id).second);
        }
    }
}

TEST(AuditionPlan, OneCutRefusals) {
    const std::string invalid = "试听区间无效，请重新选择切点。";
    const std::string nothingKept = "这段试听范围内没有保留内容。请先恢复区间，或听原音。";
    struct Case {
        const char* name;
        CutRegion cut;
        std::vector<CutRegion> cuts;
        double duration;
        AuditionMode mode;
        double context;
        std::string message;
    };
    const Case cases[] = {
        {"end more than 10 ms past the duration",
         CutRegion(9, 10.011, true),
         {},
         10,
         AuditionMode::original,
         1.2,
         invalid},
        {"empty cut", CutRegion(5, 5, true), {}, 10, AuditionMode::original, 1.2, invalid},
        {"negative start", CutRegion(-0.1, 2, true), {}, 10, AuditionMode::original, 1.2, invalid},
        {"NaN end", CutRegion(1, kNaN, true), {}, 10, AuditionMode::original, 1.2, invalid},
        {"negative context", CutRegion(1, 2, true), {}, 10, AuditionMode::original, -0.1, invalid},
        {"infinite context", CutRegion(1, 2, true), {}, 10, AuditionMode::original, kInfinity, invalid},
        {"zero duration", CutRegion(0, 0.5, true), {}, 0, AuditionMode::original, 1.2, invalid},
        {"NaN duration", CutRegion(0, 0.5, true), {}, kNaN, AuditionMode::original, 1.2, invalid},
        {"nothing kept around a removed pause",
         CutRegion(4, 6, true),
         {CutRegion(2, 8, true)},
         10,
         AuditionMode::edited,
         1.2,
         nothingKept},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(messageOf([&] { AuditionPlan::forCut(c.cut, c.cuts, c.duration, c.mode, c.context); }),
                  c.message);
    }
    // The same pause heard as recorded is one segment equal to the window.
    AuditionPlan original =
        AuditionPlan::forCut(CutRegion(4, 6, true), {CutRegion(2, 8, true)}, 10, AuditionMode::original, 1.2);
    EXPECT_EQ(boundsOf(original), (Bounds{{2.8, 7.2}}));
}

TEST(AuditionPlan, FullEdit) {
    AuditionPlan plan = AuditionPlan::forFullEdit(
        {CutRegion(0, 1, true), CutRegion(3, 4, true), CutRegion(5, 5.5, false)}, 10);
    EXPECT_EQ(plan.mode, AuditionMode::edited);
    EXPECT_EQ(plan.sourceStart, 0);
    EXPECT_EQ(plan.sourceEnd, 10);
    EXPECT_EQ(boundsOf(plan), (Bounds{{1, 3}, {4, 10}}));
    EXPECT_DOUBLE_EQ(plan.duration(), 8);

    EXPECT_EQ(messageOf([] { AuditionPlan::forFullEdit({CutRegion(0, 10, true)}, 10); }),
              "没有保留内容可供预览。");
    for (double duration : {0.0, -1.0, kNaN, kInfinity})
        EXPECT_EQ(messageOf([&] { AuditionPlan::forFullEdit({}, duration); }), "素材时长无效。") << duration;
}

TEST(AuditionPlan, TimeConversions) {
    AuditionPlan plan = AuditionPlan::forFullEdit({CutRegion(0, 1, true), CutRegion(3, 4, true)}, 6);
    ASSERT_EQ(boundsOf(plan), (Bounds{{1, 3}, {4, 6}}));
    struct Case {
        double in, out;
    };
    const Case toSource[] = {{0, 1},     {0.5, 1.5}, {2, 4} /* a segment's length maps to the next start */,
                             {3.5, 5.5}, {4, 6},     {100, 6},
                             {-1, 1},    {kNaN, 1},  {kInfinity, 1}};
    for (const auto& c : toSource) EXPECT_DOUBLE_EQ(plan.sourceTime(c.in), c.out) << c.in;
    const Case toPlayback[] = {{0, 0},     {0.5, 0} /* before the first segment */,
                               {1.5, 0.5}, {3.5, 2} /* inside a removed gap */,
                               {4, 2},     {5, 3},
                               {6, 4},     {60, 4},
                               {-2, 0},    {kNaN, 0}};
    for (const auto& c : toPlayback) EXPECT_DOUBLE_EQ(plan.playbackTime(c.in), c.out) << c.in;

    AuditionPlan empty;
    empty.sourceStart = 7;
    EXPECT_EQ(empty.sourceTime(3), 7);
    EXPECT_EQ(empty.playbackTime(3), 0);
    EXPECT_EQ(empty.duration(), 0);
}

}  // namespace
}  // namespace talvian
