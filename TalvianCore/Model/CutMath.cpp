#include "CutMath.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "Support/NumberText.h"
#include "Support/UnicodeText.h"

namespace talvian {

namespace {

// The same operand order as the arithmetic this mirrors, so NaN durations behave alike:
// the first operand wins unless the second is strictly smaller (larger).
double lesser(double a, double b) {
    return b < a ? b : a;
}
double greater(double a, double b) {
    return b >= a ? b : a;
}

bool isNumberChar(char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

struct SilenceEvent {
    bool isStart;
    double value;
};

// Every match of "silence_(start|end):\s*([-+0-9.eE]+)", in order, whose number parses and is finite.
std::vector<SilenceEvent> silenceEvents(std::string_view text) {
    static constexpr std::string_view kPrefix = "silence_";
    std::vector<SilenceEvent> events;
    std::size_t position = 0;
    while ((position = text.find(kPrefix, position)) != std::string_view::npos) {
        std::size_t cursor = position + kPrefix.size();
        bool isStart = false;
        if (text.substr(cursor).starts_with("start:")) {
            isStart = true;
            cursor += 6;
        } else if (text.substr(cursor).starts_with("end:")) {
            cursor += 4;
        } else {
            ++position;
            continue;
        }
        while (cursor < text.size()) {
            const auto scalar = scalarAt(text, cursor);
            if (!isWhiteSpace(scalar.value)) break;
            cursor += scalar.length;
        }
        std::size_t numberStart = cursor;
        while (cursor < text.size() && isNumberChar(text[cursor])) ++cursor;
        if (cursor == numberStart) {
            ++position;
            continue;
        }
        if (auto value = parseDecimal(text.substr(numberStart, cursor - numberStart));
            value && std::isfinite(*value))
            events.push_back({isStart, *value});
        position = cursor;
    }
    return events;
}

}  // namespace

namespace {

// The merge itself, on plain ranges: callers that only need the lengths draw no UUIDs (one
// getrandom call each, which dominated a refresh of thousands of pauses).
std::vector<std::pair<double, double>> mergedRanges(const std::vector<CutRegion>& regions,
                                                    double durationSeconds, bool removedOnly) {
    std::vector<std::pair<double, double>> clipped;
    clipped.reserve(regions.size());
    for (const auto& region : regions) {
        if (removedOnly && !region.remove) continue;
        if (!std::isfinite(region.start) || !std::isfinite(region.end) || !(region.start < region.end))
            continue;
        const std::pair range{greater(region.start, 0), lesser(region.end, durationSeconds)};
        if (range.second <= range.first) continue;
        clipped.push_back(range);
    }
    std::stable_sort(clipped.begin(), clipped.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<double, double>> result;
    for (const auto& range : clipped) {
        if (result.empty() || range.first > result.back().second + CutMath::kJoinTolerance)
            result.push_back(range);
        else
            result.back().second = greater(result.back().second, range.second);
    }
    return result;
}

}  // namespace

std::vector<CutRegion> CutMath::merged(const std::vector<CutRegion>& regions, double durationSeconds) {
    std::vector<CutRegion> result;
    for (const auto& [start, end] : mergedRanges(regions, durationSeconds, false))
        result.emplace_back(start, end, true);
    return result;
}

double CutMath::removedSeconds(const std::vector<CutRegion>& regions, double durationSeconds) {
    double total = 0;
    for (const auto& [start, end] : mergedRanges(regions, durationSeconds, true)) total += end - start;
    return total;
}

std::vector<CutRegion> CutMath::kept(const std::vector<CutRegion>& regions, double durationSeconds) {
    std::vector<CutRegion> removedOnly;
    for (const auto& region : regions)
        if (region.remove) removedOnly.push_back(region);
    std::vector<CutRegion> result;
    double cursor = 0;
    for (const auto& removed : merged(removedOnly, durationSeconds)) {
        if (removed.start > cursor + kJoinTolerance) result.emplace_back(cursor, removed.start, false);
        cursor = greater(cursor, removed.end);
    }
    if (durationSeconds > cursor + kJoinTolerance) result.emplace_back(cursor, durationSeconds, false);
    return result;
}

std::vector<CutRegion> CutMath::parseSilences(std::string_view text, double durationSeconds, double padding,
                                              std::optional<double> paddingRight) {
    std::vector<CutRegion> emitted;
    std::optional<double> openStart;
    for (const auto& event : silenceEvents(text)) {
        if (event.isStart) {
            openStart = greater(event.value, 0);
        } else if (openStart) {
            emitted.emplace_back(*openStart, lesser(event.value, durationSeconds), true);
            openStart.reset();
        }
    }
    if (openStart && *openStart < durationSeconds) emitted.emplace_back(*openStart, durationSeconds, true);

    const double right = paddingRight.value_or(padding);
    std::vector<CutRegion> result;
    for (const auto& region : merged(emitted, durationSeconds)) {
        double start = region.start <= kEdgeTolerance ? 0 : region.start + padding;
        double end = region.end >= durationSeconds - kEdgeTolerance ? durationSeconds : region.end - right;
        if (end - start >= kShortestPause) result.emplace_back(start, end, true);
    }
    return result;
}

void CutHistory::record(const std::vector<CutRegion>& before, const std::vector<CutRegion>& after) {
    if (before == after) return;
    past_.push_back(before);
    if (past_.size() > kLimit) past_.erase(past_.begin());
    future_.clear();
}

std::optional<std::vector<CutRegion>> CutHistory::undo(const std::vector<CutRegion>& current) {
    if (past_.empty()) return std::nullopt;
    std::vector<CutRegion> restored = std::move(past_.back());
    past_.pop_back();
    future_.push_back(current);
    return restored;
}

std::optional<std::vector<CutRegion>> CutHistory::redo(const std::vector<CutRegion>& current) {
    if (future_.empty()) return std::nullopt;
    std::vector<CutRegion> restored = std::move(future_.back());
    future_.pop_back();
    past_.push_back(current);
    return restored;
}

}  // namespace talvian
