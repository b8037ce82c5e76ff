// Manual ranges: stretches the user types (or takes from the player) and deletes.

#include <algorithm>
#include <cmath>

#include "Model/Localization.h"
#include "Support/NumberText.h"
#include "Support/UnicodeText.h"
#include "WorkspaceInternals.h"

namespace talvian {

namespace {

// Shortest manual range, seconds; a hair above the edit rule's 0.08 s so rounding cannot pass it.
constexpr double kManualMinimumLength = 0.080000001;
constexpr double kSameRangeTolerance = 1e-9;

bool digitsOnly(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<double> Workspace::manualSeconds(const std::string& input) {
    std::string text(trimmed(input));
    const std::string fullWidthColon = "：";
    for (auto at = text.find(fullWidthColon); at != std::string::npos; at = text.find(fullWidthColon, at))
        text.replace(at, fullWidthColon.size(), ":");
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (true) {
        const auto colon = text.find(':', begin);
        parts.push_back(text.substr(begin, colon == std::string::npos ? std::string::npos : colon - begin));
        if (colon == std::string::npos) break;
        begin = colon + 1;
    }
    if (parts.size() == 1) {
        const auto value = parseDecimal(parts[0]);
        if (!value || !std::isfinite(*value)) return std::nullopt;
        return value;
    }
    if (parts.size() > 3) return std::nullopt;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        if (!digitsOnly(parts[i])) return std::nullopt;
    const std::string& last = parts.back();
    const auto point = last.find('.');
    if (point == std::string::npos) {
        if (!digitsOnly(last)) return std::nullopt;
    } else if (!digitsOnly(last.substr(0, point)) || !digitsOnly(last.substr(point + 1))) {
        return std::nullopt;
    }
    const double seconds = *parseDecimal(last);
    if (seconds < 0 || seconds >= 60) return std::nullopt;
    double result = 0;
    if (parts.size() == 2) {
        result = *parseDecimal(parts[0]) * 60 + seconds;
    } else {
        const double minutes = *parseDecimal(parts[1]);
        if (minutes >= 60) return std::nullopt;
        result = *parseDecimal(parts[0]) * 3600 + minutes * 60 + seconds;
    }
    if (!std::isfinite(result)) return std::nullopt;
    return result;
}

std::optional<std::string> Workspace::manualRangeIssue(const std::string& startText,
                                                       const std::string& endText,
                                                       const CutProject& project) {
    const auto start = manualSeconds(startText);
    const auto end = manualSeconds(endText);
    if (!start || !end) return L("填写秒数或分:秒");
    const double duration = project.info.duration;
    if (!std::isfinite(duration) || *start < 0 || *end > duration) return L("时间须在原片范围内");
    if (!(*end - *start > kManualMinimumLength)) return L("区间需长于0.08秒");
    for (const auto& region : project.cuts)
        if (region.remove && std::fabs(region.start - *start) <= kSameRangeTolerance &&
            std::fabs(region.end - *end) <= kSameRangeTolerance)
            return L("此区间已添加");
    return std::nullopt;
}

std::optional<std::string> Workspace::Internals::manualCutIssue() const {
    if (!document().project) return std::nullopt;
    return manualRangeIssue(review().manualStart, review().manualEnd, *document().project);
}

std::string Workspace::manualCutHint() const {
    if (auto issue = d_->manualCutIssue()) return *issue;
    const auto start = manualSeconds(review().manualStart);
    const auto end = manualSeconds(review().manualEnd);
    if (!document().project || !start || !end) return L("添加后才会删除");
    std::vector<CutRegion> removed;
    for (const auto& region : document().project->cuts)
        if (region.remove) removed.push_back(region);
    removed.emplace_back(*start, *end, true);
    double total = 0;
    for (const auto& region : CutMath::merged(removed, document().project->info.duration))
        total += std::max(0.0, region.end - region.start);
    const double extra = std::max(0.0, total - document().project->removedDuration());
    return L("区间 %@ 秒 · 添加后预计多删 %@ 秒", fixedDecimal(*end - *start, 2), fixedDecimal(extra, 2));
}

bool Workspace::Internals::canAddManualCut() const {
    return !job().busy && !needsAnalysis() && !waveform().boundaryDrag &&
           (!owner.auditionIsDraft() || owner.auditionIsManual()) && document().project && !manualCutIssue();
}

bool Workspace::addManualCut(const std::string& startText, const std::string& endText) {
    const Operation operation(*this);
    if (job().busy || d_->needsAnalysis() || waveform().boundaryDrag ||
        (auditionIsDraft() && !auditionIsManual()) || !document().project)
        return false;
    if (auto issue = manualRangeIssue(startText, endText, *document().project)) {
        setNotice(*issue == L("此区间已添加") ? *issue : *issue + L("，再添加删除区间。"));
        return false;
    }
    const CutRegion region(*manualSeconds(startText), *manualSeconds(endText), true);
    d_->pausePlayer();
    auto list = document().project->cuts;
    list.push_back(region);
    std::stable_sort(list.begin(), list.end(),
                     [](const CutRegion& a, const CutRegion& b) { return a.start < b.start; });
    // Only an edit that really happened selects the range and says so.
    if (!d_->applyCuts(std::move(list))) return false;
    d_->setReviewID(region.id);
    d_->setCutStatus(L("已添加手动删除区间，可撤销或试听。"));
    return true;
}

bool Workspace::Internals::canCaptureManualPosition() const {
    return !job().busy && !needsAnalysis() && !waveform().boundaryDrag && playback().previewReady &&
           !auditionLoading() && !owner.auditionIsDraft();
}

bool Workspace::captureManualPosition(CutBoundary edge) {
    const Operation operation(*this);
    if (!d_->canCaptureManualPosition() || !document().project) return false;
    Player& active = d_->activePlayer();
    double seconds = active.currentTime();
    if (!std::isfinite(seconds) || seconds < 0) return false;
    // An edited audition's clock skips removed ranges: the text must hold source time.
    if (const auto& audition = playback().audition) seconds = audition->plan.sourceTime(seconds);
    if (!std::isfinite(seconds)) return false;
    const double duration = document().project->info.duration;
    if (!std::isfinite(duration) || !(duration > 0)) return false;
    seconds = std::clamp(seconds, 0.0, duration);

    active.pause();
    d_->playbackClock_.setPosition(seconds);
    stopAudition(true);
    d_->pausePlayer();

    // Rounding to milliseconds may step past the end of the file; the exact value never does.
    std::string text = fixedDecimal(seconds, 3);
    if (parseDecimal(text).value_or(seconds) > duration) text = shortestDecimal(seconds);
    if (edge == CutBoundary::start)
        setManualStart(text);
    else
        setManualEnd(text);
    d_->setCutStatus(L("已取原片位置 %@ 秒作为%@；点“添加删除区间”后才会修改剪辑。", text,
                       edge == CutBoundary::start ? L("起点") : L("终点")));
    return true;
}

void Workspace::resetManualMarks() {
    const Operation operation(*this);
    setManualStart("0");
    setManualEnd("1");
}

}  // namespace talvian
