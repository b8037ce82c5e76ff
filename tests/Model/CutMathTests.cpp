#include "Model/CutMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace talvian {
namespace {

using Bounds = std::vector<std::pair<double, double>>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<CutRegion> regions(const Bounds& bounds, bool remove = true) {
    std::vector<CutRegion> result;
    for (auto [start, end] : bounds) result.emplace_back(start, end, remove);
    return result;
}

void expectBounds(const std::vector<CutRegion>& actual, const Bounds& expected, const std::string& label) {
    ASSERT_EQ(actual.size(), expected.size()) << label;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i].start, expected[i].first, 1e-9) << label << " #" << i;
        EXPECT_NEAR(actual[i].end, expected[i].second, 1e-9) << label << " #" << i;
    }
}

TEST(CutMathMerged, ClipsDropsSortsAndJoins) {
    struct Case {
        const char* label;
        Bounds input;
        Bounds expected;
    };
    const Case cases[] = {
        {"clipped at 0", {{-1, 3}}, {{0, 3}}},
        {"clipped at the end", {{9, 12}}, {{9, 10}}},
        {"after the end", {{10, 12}}, {}},
        {"empty", {{5, 5}}, {}},
        {"inverted", {{6, 5}}, {}},
        {"NaN start", {{kNaN, 3}}, {}},
        {"infinite end", {{1, INFINITY}}, {}},
        {"gap within tolerance", {{0, 1}, {1.0005, 2}}, {{0, 2}}},
        {"gap beyond tolerance", {{0, 1}, {1.002, 2}}, {{0, 1}, {1.002, 2}}},
        {"contained", {{0, 5}, {1, 2}}, {{0, 5}}},
        {"unsorted", {{6, 7}, {1, 2}, {1.5, 3}}, {{1, 3}, {6, 7}}},
    };
    for (const auto& c : cases) expectBounds(CutMath::merged(regions(c.input), 10), c.expected, c.label);
}

TEST(CutMathMerged, IgnoresRemoveFlagsAndGivesFreshIdentities) {
    auto input = regions({{1, 2}}, false);
    auto result = CutMath::merged(input, 10);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_TRUE(result[0].remove);
    EXPECT_NE(result[0].id, input[0].id);
}

TEST(CutMathMerged, EqualStartsAreJoinedWhateverTheirEnds) {
    // The later region with the same start only extends the first one.
    auto result = CutMath::merged(regions({{2, 3}, {2, 5}}), 10);
    expectBounds(result, {{2, 5}}, "equal starts");
}

TEST(CutMathRemovedSeconds, TotalsTheMergedRemovedRangesOnly) {
    std::vector<CutRegion> list{CutRegion(0, 5, true), CutRegion(3, 6, true), CutRegion(7, 9, false),
                                CutRegion(8.5, 12, true), CutRegion(-1, 0.5, true)};
    // [0, 6] once despite the overlap, the kept range not at all, [8.5, 10] clamped to the file.
    EXPECT_DOUBLE_EQ(CutMath::removedSeconds(list, 10), 7.5);
    double fromMerged = 0;
    std::vector<CutRegion> removed;
    for (const auto& region : list)
        if (region.remove) removed.push_back(region);
    for (const auto& region : CutMath::merged(removed, 10)) fromMerged += region.end - region.start;
    EXPECT_EQ(CutMath::removedSeconds(list, 10), fromMerged);
    EXPECT_EQ(CutMath::removedSeconds({}, 10), 0);
    EXPECT_EQ(CutMath::removedSeconds(list, 0), 0);
}

TEST(CutMathKept, ComplementOfRemovedRanges) {
    struct Case {
        const char* label;
        Bounds removed;
        Bounds expected;
    };
    const Case cases[] = {
        {"nothing removed", {}, {{0, 10}}},
        {"everything removed", {{0, 10}}, {}},
        {"no head gap, no tail within tolerance", {{0, 1}, {9.9995, 10}}, {{1, 9.9995}}},
        {"middle", {{2, 3}, {5, 6}}, {{0, 2}, {3, 5}, {6, 10}}},
        {"overlapping", {{2, 4}, {3, 5}}, {{0, 2}, {5, 10}}},
        {"tiny head gap dropped", {{0.0005, 1}}, {{1, 10}}},
    };
    for (const auto& c : cases) {
        auto result = CutMath::kept(regions(c.removed), 10);
        expectBounds(result, c.expected, c.label);
        for (const auto& region : result) EXPECT_FALSE(region.remove) << c.label;
    }
}

TEST(CutMathKept, IgnoresRegionsThatStay) {
    auto input = regions({{0, 10}, {-5, 50}}, false);
    input.emplace_back(4, 5, true);
    expectBounds(CutMath::kept(input, 10), {{0, 4}, {5, 10}}, "kept regions ignored");
}

std::string silence(const char* kind, const char* value) {
    return std::string("[silencedetect @ 0x55d] silence_") + kind + ": " + value + "\n";
}

TEST(CutMathParseSilences, PairsPadsAndKeepsEnds) {
    struct Case {
        const char* label;
        std::string text;
        std::optional<double> paddingRight;
        Bounds expected;
    };
    const Case cases[] = {
        {"leading pause not padded at 0",
         silence("start", "0.005") + silence("end", "2.5 | silence_duration: 2.495"),
         {},
         {{0, 2.2}}},
        {"middle pause padded", silence("start", "10") + silence("end", "11.2"), {}, {{10.3, 10.9}}},
        {"too short after padding", silence("start", "10") + silence("end", "10.5"), {}, {}},
        {"open start runs to the end", silence("start", "58.5"), {}, {{58.8, 60}}},
        {"negative start read as 0", silence("start", "-0.02") + silence("end", "3"), {}, {{0, 2.7}}},
        {"end before any start ignored",
         silence("end", "4") + silence("start", "10") + silence("end", "11.2"),
         {},
         {{10.3, 10.9}}},
        {"right padding", silence("start", "10") + silence("end", "11.2"), 0.1, {{10.3, 11.1}}},
        {"a later start replaces an open one",
         silence("start", "5") + silence("start", "10") + silence("end", "11.2"),
         {},
         {{10.3, 10.9}}},
        {"end near the media end not padded",
         silence("start", "50") + silence("end", "59.995"),
         {},
         {{50.3, 60}}},
        {"end past the media end clipped", silence("start", "50") + silence("end", "70"), {}, {{50.3, 60}}},
        {"open start at the end emits nothing", silence("start", "60"), {}, {}},
        {"unparsable numbers skipped",
         silence("start", "1e") + silence("start", "1.2.3") + silence("start", "10") + silence("end", "11.2"),
         {},
         {{10.3, 10.9}}},
        {"plus sign and exponent", silence("start", "+1e1") + silence("end", "1.12E1"), {}, {{10.3, 10.9}}},
        {"no space after the colon", "silence_start:10 silence_end:11.2", {}, {{10.3, 10.9}}},
        {"a word instead of a number",
         "silence_start: abc silence_start: 10 silence_end: 11.2",
         {},
         {{10.3, 10.9}}},
        {"other text ignored",
         "silence_middle: 3 silence_silence_start: 10 xsilence_end: 11.2",
         {},
         {{10.3, 10.9}}},
        {"overlapping pauses merged first",
         silence("start", "10") + silence("end", "12") + silence("start", "12.0005") + silence("end", "14"),
         {},
         {{10.3, 13.7}}},
        {"nothing found", "size=N/A time=00:01:00.00", {}, {}},
    };
    for (const auto& c : cases) {
        auto result = CutMath::parseSilences(c.text, 60, 0.3, c.paddingRight);
        expectBounds(result, c.expected, c.label);
        for (const auto& region : result) EXPECT_TRUE(region.remove) << c.label;
    }
}

std::vector<CutRegion> listNumber(int n) {
    return {CutRegion(n, n + 1, true)};
}

TEST(CutHistory, KeepsAtMostFiftyStepsAndWalksBackAndForth) {
    CutHistory history;
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.canRedo());
    EXPECT_FALSE(history.undo(listNumber(0)));
    EXPECT_FALSE(history.redo(listNumber(0)));

    std::vector<std::vector<CutRegion>> lists;
    for (int i = 0; i <= 51; ++i) lists.push_back(listNumber(i));
    for (int i = 0; i < 51; ++i) history.record(lists[i], lists[i + 1]);
    EXPECT_TRUE(history.canUndo());

    // 50 undos return lists 50 … 1 (list 0 fell off), the 51st returns nothing.
    std::vector<CutRegion> current = lists[51];
    for (int i = 50; i >= 1; --i) {
        auto restored = history.undo(current);
        ASSERT_TRUE(restored) << i;
        EXPECT_EQ(*restored, lists[i]);
        current = *restored;
    }
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.undo(current));
    EXPECT_EQ(current, lists[1]);

    // Redo walks forward again, handing the shown list back to undo.
    auto redone = history.redo(current);
    ASSERT_TRUE(redone);
    EXPECT_EQ(*redone, lists[2]);
    auto undone = history.undo(*redone);
    ASSERT_TRUE(undone);
    EXPECT_EQ(*undone, lists[1]);
}

TEST(CutHistory, EqualListsAreNotRecordedAndANewEditClearsRedo) {
    CutHistory history;
    auto a = listNumber(1);
    auto b = listNumber(2);
    history.record(a, b);
    CutHistory before = history;
    history.record(b, b);
    EXPECT_EQ(history, before);

    auto restored = history.undo(b);
    ASSERT_TRUE(restored);
    EXPECT_EQ(*restored, a);
    EXPECT_TRUE(history.canRedo());
    history.record(a, listNumber(3));
    EXPECT_FALSE(history.canRedo());
    EXPECT_FALSE(history.redo(a));

    // Same bounds, different identity: an edit.
    CutHistory identity;
    auto copy = a;
    copy[0].id = Uuid::random();
    identity.record(a, copy);
    EXPECT_TRUE(identity.canUndo());
}

}  // namespace
}  // namespace talvian
