#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "Model/WaveformBoundaryDrag.h"
#include "Model/WaveformWindow.h"

using namespace talvian;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

TEST(WaveformWindow, CenteredClampsTheSpanAndPinsTheWindowToTheFile) {
    struct Case {
        double time, span, total;
        std::optional<WaveformWindow> expected;
    };
    const Case cases[] = {
        {5, 10, 300, WaveformWindow{0, 10}},       // pinned to the start
        {298, 10, 300, WaveformWindow{290, 300}},  // pinned to the end
        {50, 1, 300, WaveformWindow{49, 51}},      // at least 2 s
        {150, 500, 300, WaveformWindow{0, 300}},   // at most the file
        {0.4, 10, 1.5, WaveformWindow{0, 1.5}},    // a file under 2 s is shown whole
        {100, 60, 300, WaveformWindow{70, 130}},   // centred where there is room
        {-20, 10, 300, WaveformWindow{0, 10}},
        {5, 10, 0, std::nullopt},
        {5, 0, 300, std::nullopt},
        {5, -1, 300, std::nullopt},
        {kNaN, 10, 300, std::nullopt},
        {5, kInfinity, 300, std::nullopt},
        {5, 10, kInfinity, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.time << " " << c.span << " " << c.total);
        EXPECT_EQ(WaveformWindow::centered(c.time, c.span, c.total), c.expected);
    }
}

TEST(WaveformWindow, TimeAtAPositionIsClampedToTheWindow) {
    const WaveformWindow window{10, 20};
    EXPECT_EQ(window.time(0), 10);
    EXPECT_EQ(window.time(0.25), 12.5);
    EXPECT_EQ(window.time(1), 20);
    EXPECT_EQ(window.time(-3), 10);
    EXPECT_EQ(window.time(7), 20);
    EXPECT_EQ(window.time(kNaN), std::nullopt);
    EXPECT_EQ((WaveformWindow{5, 5}).time(0.5), std::nullopt);
    EXPECT_EQ((WaveformWindow{6, 5}).time(0.5), std::nullopt);
    EXPECT_EQ((WaveformWindow{0, kInfinity}).time(0.5), std::nullopt);
}

TEST(WaveformSelection, TheShortestHitWinsUnlessTheCurrentPauseIsHit) {
    const CutRegion longer(100, 103, true);
    const CutRegion shorter(101, 102, false);
    const CutRegion twin(101, 102, true);  // same length as `shorter`, later in the list
    const CutRegion last(118, 120, true);  // ends at the file's end
    const CutRegion inverted(50, 40, true);
    const CutRegion broken(kNaN, 60, true);
    const std::vector<CutRegion> cuts{longer, shorter, twin, last, inverted, broken};
    const double duration = 120;
    struct Case {
        double time;
        std::optional<Uuid> current;
        std::optional<Uuid> expected;
    };
    const Case cases[] = {
        {101.5, std::nullopt, shorter.id},  // the 1 s pause inside the 3 s one
        {101.5, longer.id, longer.id},      // the selected pause stays selected
        {101.5, twin.id, twin.id},
        {100.5, shorter.id, longer.id},  // the current pause is not hit here
        {102, std::nullopt, longer.id},  // the end of a pause is outside it
        {100, std::nullopt, longer.id},  // its start is inside
        {120, std::nullopt, last.id},    // except at the file's end
        {119.99, std::nullopt, last.id},
        {45, std::nullopt, std::nullopt},  // an inverted region is never hit
        {55, std::nullopt, std::nullopt},
        {10, longer.id, std::nullopt},  // outside every pause
        {-0.1, std::nullopt, std::nullopt},
        {120.1, std::nullopt, std::nullopt},
        {kNaN, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time);
        EXPECT_EQ(WaveformSelection::target(c.time, duration, cuts, c.current), c.expected);
    }
    EXPECT_EQ(WaveformSelection::target(101.5, 0, cuts, std::nullopt), std::nullopt);
    EXPECT_EQ(WaveformSelection::target(101.5, kInfinity, cuts, std::nullopt), std::nullopt);
}

TEST(WaveformBoundaryDrag, UpdatesClampToTheWindowTheFileAndTheMinimumLength) {
    CutRegion region(10.0, 10.5, true);
    struct Case {
        const char* name;
        CutRegion original;
        WaveformWindow window;
        CutBoundary edge;
        double fraction;
        double expectedStart, expectedEnd;
    };
    const Case cases[] = {
        {"end pulled below the minimum length", region, {5, 15}, CutBoundary::end, -0.1, 10.0, 10.0 + 0.081},
        {"start pushed past the end", region, {5, 15}, CutBoundary::start, 0.2, 10.5 - 0.081, 10.5},
        {"start held by the window", region, {5, 15}, CutBoundary::start, -1, 5, 10.5},
        {"end held by the window", region, {5, 15}, CutBoundary::end, 3, 10.0, 15},
        {"end held by the file", CutRegion(95, 99, true), {90, 101}, CutBoundary::end, 1, 95, 100},
        {"start held by the file's start", CutRegion(-1, 1, true), {-3, 3}, CutBoundary::start, -0.5, 0, 1},
        {"a short region keeps its own length",
         CutRegion(10, 10.0805, true),
         {5, 15},
         CutBoundary::end,
         -1,
         10,
         10.0805},
        {"a plain move", region, {5, 15}, CutBoundary::end, 0.05, 10.0, 11.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WaveformBoundaryDrag drag{c.original, {c.original}, "/a.wav", c.window, 100, c.edge, c.original};
        drag.update(0.3);  // every update starts again from the original
        drag.update(c.fraction);
        EXPECT_DOUBLE_EQ(drag.proposed.start, c.expectedStart);
        EXPECT_DOUBLE_EQ(drag.proposed.end, c.expectedEnd);
        EXPECT_EQ(drag.proposed.id, c.original.id);
        EXPECT_EQ(drag.original, c.original);
    }
    WaveformBoundaryDrag drag{region, {region}, "/a.wav", {5, 15}, 100, CutBoundary::end, region};
    drag.update(0.1);
    drag.update(kNaN);
    EXPECT_DOUBLE_EQ(drag.proposed.end, 11.5);
}
