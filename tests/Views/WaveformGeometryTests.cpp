#include "Views/WaveformGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <vector>

namespace talvian {
namespace {

namespace Geometry = WaveformGeometry;
using Geometry::Extent;

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(WaveformGeometry, PlacesTimesOnTheWidth) {
    struct Case {
        const char* what;
        WaveformWindow window;
        double seconds;
        double width;
        double x;
    };
    const Case cases[] = {
        {"window start", {10, 20}, 10, 500, 0},
        {"window end", {10, 20}, 20, 500, 500},
        {"a fifth in", {10, 20}, 12, 500, 100},
        {"before the window", {10, 20}, 5, 500, -250},
        {"after the window", {10, 20}, 25, 500, 750},
        // A window of zero length is drawn as if it lasted 0.01 s.
        {"zero-length window", {4, 4}, 4.005, 600, 300},
        {"shorter than 0.01 s", {4, 4.002}, 4.01, 100, 100},
        {"inverted window", {4, 3}, 4.01, 100, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(Geometry::x(c.seconds, c.window, c.width), c.x, 1e-9);
    }
    EXPECT_DOUBLE_EQ(Geometry::drawnSpan({4, 4}), 0.01);
    EXPECT_DOUBLE_EQ(Geometry::drawnSpan({0, 3600}), 3600);
}

TEST(WaveformGeometry, TheLaneRunsFromThirtyToEightAboveTheBottom) {
    struct Case {
        double height;
        Geometry::Lane lane;
    };
    const Case cases[] = {
        {190, {30, 152, 106}},
        {38, {30, 0, 30}},
        // Lower than the ruler: a lane of height 0, not a negative one.
        {20, {30, 0, 30}},
        {0, {30, 0, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        EXPECT_EQ(Geometry::lane(c.height), c.lane);
    }
}

TEST(WaveformGeometry, ARangeIsDrawnOnlyWhereItIsVisible) {
    const WaveformWindow window{10, 20};
    struct Case {
        const char* what;
        double start;
        double end;
        std::optional<Extent> extent;
    };
    const Case cases[] = {
        {"inside", 12, 14, Extent{100, 200}},
        {"over the left side", 5, 11, Extent{0, 50}},
        {"over the right side", 19, 30, Extent{450, 500}},
        {"over both sides", 0, 100, Extent{0, 500}},
        {"before the window", 1, 9, std::nullopt},
        {"ends at the window's start", 5, 10, std::nullopt},
        {"after the window", 21, 22, std::nullopt},
        {"empty", 12, 12, std::nullopt},
        {"inverted", 14, 12, std::nullopt},
        {"not a number", kNotANumber, 12, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Geometry::extent(c.start, c.end, window, 500), c.extent);
    }
}

TEST(WaveformGeometry, TheClickFractionReachesBothEnds) {
    struct Case {
        double x;
        double width;
        double fraction;
    };
    const Case cases[] = {
        {0, 601, 0},
        {300, 601, 0.5},
        // The last pixel column is the right end of the window.
        {600, 601, 1},
        {650, 601, 1},
        {-3, 601, 0},
        {kNotANumber, 601, 0},
        {kInfinity, 601, 1},
        // A view one pixel wide or less divides by 1.
        {0.5, 1, 0.5},
        {0.25, 0, 0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << " width " << c.width);
        EXPECT_DOUBLE_EQ(Geometry::fraction(c.x, c.width), c.fraction);
    }
    EXPECT_DOUBLE_EQ(Geometry::time(0, {10, 20}), 10);
    EXPECT_DOUBLE_EQ(Geometry::time(1, {10, 20}), 20);
    EXPECT_DOUBLE_EQ(Geometry::time(0.25, {10, 20}), 12.5);
}

TEST(WaveformGeometry, PressesBecomeDragsAtTheirDistance) {
    struct Case {
        double dx;
        double dy;
        double distance;
        bool drag;
    };
    const Case cases[] = {
        {4, 0, 5, false}, {5, 0, 5, true},  {-5, 0, 5, true}, {3, 4, 5, true},
        {3, 3, 5, false}, {2, 0, 3, false}, {0, -3, 3, true}, {0, 0, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy << " of " << c.distance);
        EXPECT_EQ(Geometry::movedAtLeast(c.dx, c.dy, c.distance), c.drag);
    }
}

TEST(WaveformGeometry, TheCursorShowsOnlyInsideTheWindowAndStaysOnTheView) {
    const WaveformWindow window{10, 20};
    struct Case {
        double position;
        std::optional<double> x;
    };
    const Case cases[] = {
        {10, 0},
        {15, 250},
        {20, 499},
        {19.999, 499},
        {9.99, std::nullopt},
        {20.01, std::nullopt},
        {kNotANumber, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        const auto x = Geometry::cursorX(c.position, window, 500);
        ASSERT_EQ(x.has_value(), c.x.has_value());
        if (x) {
            EXPECT_NEAR(*x, *c.x, 1e-9);
        }
    }
}

TEST(WaveformGeometry, ADraggedPauseIsDrawnWhereTheDragPutsIt) {
    const CutRegion first(1, 2, true), second(3, 4, false);
    WaveformBoundaryDrag drag;
    drag.original = second;
    drag.proposed = second;
    drag.proposed.end = 4.5;
    EXPECT_EQ(Geometry::drawnPauses({first, second}, std::nullopt), (std::vector<CutRegion>{first, second}));
    EXPECT_EQ(Geometry::drawnPauses({first, second}, drag), (std::vector<CutRegion>{first, drag.proposed}));
}

TEST(WaveformGeometry, PausesAreTintedOnlyInWindowsOfAtMostSixtySeconds) {
    const CutRegion reviewed(1, 2, true), batched(3, 4, true), other(5, 6, true);
    const std::set<Uuid> batch{batched.id};
    struct Case {
        const char* what;
        const CutRegion& pause;
        WaveformWindow window;
        bool tinted;
    };
    const Case cases[] = {
        {"reviewed", reviewed, {0, 60}, true},
        {"batch-selected", batched, {0, 60}, true},
        {"neither", other, {0, 60}, false},
        {"reviewed, 60.5 s window", reviewed, {0, 60.5}, false},
        {"batch-selected, whole hour", batched, {0, 3600}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Geometry::tinted(c.pause, reviewed.id, batch, c.window), c.tinted);
    }
}

TEST(WaveformGeometry, RemovedCoverageIsTheUnionOfTheRemovedPausesPerColumn) {
    const WaveformWindow window{0, 10};
    struct Case {
        const char* what;
        std::vector<CutRegion> pauses;
        std::vector<float> coverage;  // 10 columns of one second each
    };
    const Case cases[] = {
        {"whole columns", {CutRegion(2, 4, true)}, {0, 0, 1, 1, 0, 0, 0, 0, 0, 0}},
        {"kept pauses draw nothing", {CutRegion(2, 4, false)}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"part columns", {CutRegion(2.5, 4.25, true)}, {0, 0, 0.5, 1, 0.25, 0, 0, 0, 0, 0}},
        {"narrower than a column", {CutRegion(6.2, 6.3, true)}, {0, 0, 0, 0, 0, 0, 0.1f, 0, 0, 0}},
        {"overlaps count once",
         {CutRegion(1, 3, true), CutRegion(2, 3.5, true), CutRegion(2.5, 2.7, true)},
         {0, 1, 1, 0.5, 0, 0, 0, 0, 0, 0}},
        {"two in one column",
         {CutRegion(5.1, 5.3, true), CutRegion(5.6, 5.7, true)},
         {0, 0, 0, 0, 0, 0.3f, 0, 0, 0, 0}},
        {"out of order", {CutRegion(8, 9, true), CutRegion(0, 1, true)}, {1, 0, 0, 0, 0, 0, 0, 0, 1, 0}},
        {"beyond the sides",
         {CutRegion(-5, 0.5, true), CutRegion(9.5, 50, true)},
         {0.5, 0, 0, 0, 0, 0, 0, 0, 0, 0.5}},
        {"outside the window", {CutRegion(11, 12, true)}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float> coverage = Geometry::removedCoverage(c.pauses, window, 100, 10);
        ASSERT_EQ(coverage.size(), c.coverage.size());
        for (std::size_t column = 0; column < coverage.size(); ++column)
            EXPECT_NEAR(coverage[column], c.coverage[column], 1e-5) << "column " << column;
    }
}

TEST(WaveformGeometry, NineThousandPausesOverAnHourCoverTheirShareOfTheView) {
    // A pause of 0.2 s every 0.36 s over an hour: each column of 1280 holds about eight.
    std::vector<CutRegion> pauses;
    for (int i = 0; i < 9999; ++i) pauses.emplace_back(i * 0.36, i * 0.36 + 0.2, true);
    const std::vector<float> coverage = Geometry::removedCoverage(pauses, {0, 3600}, 1280, 1280);
    const double covered = std::accumulate(coverage.begin(), coverage.end(), 0.0);
    EXPECT_NEAR(covered, 9999 * 0.2 * 1280 / 3600, 0.05);
    for (const float value : coverage) ASSERT_LE(value, 1.0f);
}

TEST(WaveformGeometry, DetailPeaksAreUsedOnlyForExactlyTheirWindow) {
    const std::vector<double> overview(320, 0.5);
    WaveformSlice slice;
    slice.window = {30, 60};
    slice.peaks.assign(1024, 0.25);
    struct Case {
        const char* what;
        std::optional<WaveformSlice> detail;
        WaveformWindow window;
        bool detailUsed;
    };
    const Case cases[] = {
        {"same window", slice, {30, 60}, true},
        {"end 1e-9 later", slice, {30, 60 + 1e-9}, false},
        {"start 1e-9 earlier", slice, {30 - 1e-9, 60}, false},
        {"no detail", std::nullopt, {30, 60}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Geometry::PeakSource source = Geometry::peakSource(overview, 120, c.detail, c.window);
        EXPECT_EQ(source.detail, c.detailUsed);
        if (c.detailUsed) {
            EXPECT_EQ(source.peaks, &c.detail->peaks);
            EXPECT_EQ(source.start, 30);
            EXPECT_EQ(source.end, 60);
        } else {
            EXPECT_EQ(source.peaks, &overview);
            EXPECT_EQ(source.start, 0);
            EXPECT_EQ(source.end, 120);
        }
    }
}

TEST(WaveformGeometry, PeaksAreKeptWithinOneBinOfEitherSide) {
    struct Case {
        const char* what;
        std::size_t peaks;
        double start;
        double end;
        WaveformWindow window;
        std::size_t firstKept;
        std::size_t kept;
        bool pastBothSides;
    };
    const Case cases[] = {
        // The whole file: every peak, the first and last half a bin inside the view.
        {"overview of the whole file", 320, 0, 3600, {0, 3600}, 0, 320, false},
        // Detail peaks of exactly the window: one bin is W / n wide, every peak is inside.
        {"detail of the window", 1024, 30, 60, {30, 60}, 0, 1024, false},
        // Overview bins of 11.25 s in a 60 s window are 240 px wide: the bins around the window
        // are kept, so the outline reaches past both sides. Kept within W / n = 4 px of the view,
        // only peaks 89 … 93 would remain and both sides would stay empty.
        {"overview in a zoomed window", 320, 0, 3600, {1000, 1060}, 88, 7, true},
        // A window inside one overview bin still shows that bin and its neighbour.
        {"overview in a window inside one bin", 320, 0, 3600, {1001, 1003}, 88, 2, true},
        {"overview of a window at the file's end", 320, 0, 3600, {3540, 3600}, 314, 6, false},
        {"no peaks", 0, 0, 3600, {0, 60}, 0, 0, false},
    };
    constexpr double kWidth = 1280;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> peaks(c.peaks);
        for (std::size_t i = 0; i < peaks.size(); ++i) peaks[i] = static_cast<double>(i % 10) / 10;
        const auto points = Geometry::outline(peaks, c.start, c.end, c.window, kWidth, 152);
        ASSERT_EQ(points.size(), c.kept);
        if (points.empty()) continue;
        const double bin = (c.end - c.start) / static_cast<double>(c.peaks);
        EXPECT_NEAR(points.front().x,
                    Geometry::x(c.start + bin * (static_cast<double>(c.firstKept) + 0.5), c.window, kWidth),
                    1e-9);
        if (c.pastBothSides) {
            EXPECT_LT(points.front().x, 0);
            EXPECT_GT(points.back().x, kWidth);
        }
    }
}

TEST(WaveformGeometry, PeakHeightsFillTheLaneWithAOnePixelFloor) {
    struct Case {
        double peak;
        double laneHeight;
        double halfHeight;
    };
    const Case cases[] = {
        {1, 152, 67.2}, {0.5, 152, 33.6}, {0, 152, 1},           {0.02, 152, 1.344},
        {1, 0, 1},      {1, 10, 1},       {kNotANumber, 152, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.peak << " in " << c.laneHeight);
        const auto points = Geometry::outline({c.peak}, 0, 10, {0, 10}, 100, c.laneHeight);
        ASSERT_EQ(points.size(), 1u);
        EXPECT_NEAR(points[0].x, 50, 1e-9);
        EXPECT_NEAR(points[0].halfHeight, c.halfHeight, 1e-9);
    }
}

TEST(WaveformGeometry, GripsSitOnTheVisibleEdgesOfALongEnoughReviewedPause) {
    const CutRegion pause(12, 14, true);
    const CutRegion shortest(17, 17.08, true);  // 0.0799999999999983 s in binary
    const CutRegion justLonger(16, 16.0801, true);
    const CutRegion nearSides(10.1, 19.9, true);
    const CutRegion leaving(8, 12, true);
    const std::vector<CutRegion> drawn{pause, shortest, justLonger, nearSides, leaving};
    const WaveformWindow window{10, 20};
    struct Case {
        const char* what;
        bool canAdjust;
        std::optional<Uuid> reviewed;
        std::vector<std::pair<CutBoundary, double>> grips;  // edge and centre x
    };
    const Case cases[] = {
        {"both edges", true, pause.id, {{CutBoundary::start, 40}, {CutBoundary::end, 80}}},
        {"adjusting not allowed", false, pause.id, {}},
        {"nothing reviewed", true, std::nullopt, {}},
        {"a pause of 0.08 s", true, shortest.id, {}},
        {"a pause just over 0.08 s",
         true,
         justLonger.id,
         {{CutBoundary::start, 120}, {CutBoundary::end, 121.602}}},
        // 1 px and 99 px from the sides: held 16 px inside.
        {"near the sides", true, nearSides.id, {{CutBoundary::start, 16}, {CutBoundary::end, 184}}},
        {"an edge outside the window", true, leaving.id, {{CutBoundary::end, 40}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto placed = Geometry::grips(c.canAdjust, drawn, c.reviewed, window, 200, 100);
        ASSERT_EQ(placed.size(), c.grips.size());
        for (std::size_t i = 0; i < placed.size(); ++i) {
            EXPECT_EQ(placed[i].edge, c.grips[i].first);
            EXPECT_NEAR(placed[i].centreX, c.grips[i].second, 1e-9);
            EXPECT_DOUBLE_EQ(placed[i].centreY, 55);
            EXPECT_EQ(placed[i].pause.id, *c.reviewed);
        }
    }
    // The window's ends count as inside.
    const CutRegion framed(10, 20, true);
    EXPECT_EQ(Geometry::grips(true, {framed}, framed.id, window, 200, 100).size(), 2u);
    // A pause of exactly 0.08 s has none either.
    const CutRegion exact(0, 0.08, true);
    EXPECT_TRUE(Geometry::grips(true, {exact}, exact.id, {0, 10}, 200, 100).empty());
    EXPECT_DOUBLE_EQ(Geometry::gripCentreX(20, window, 200), 184);
    EXPECT_DOUBLE_EQ(Geometry::gripCentreX(10, window, 200), 16);
}

}  // namespace
}  // namespace talvian
