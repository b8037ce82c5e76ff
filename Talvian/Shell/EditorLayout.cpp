#include "EditorLayout.h"

#include <algorithm>

namespace talvian::EditorLayout {

namespace {

// The timeline takes 0.24 of the content height over a base of 78.
constexpr double kTimelineShare = 0.24;
constexpr double kTimelineBase = 78;

}  // namespace

Banner banner(bool cutBusy, bool hasProject, bool hasSourceReadIssue, bool sourceLocationNeedsSaving,
              bool needsAnalysis) {
    // During a first analysis the analysis panel shows the job instead.
    if (cutBusy && hasProject) return Banner::busy;
    if (hasSourceReadIssue) return Banner::sourceRead;
    if (sourceLocationNeedsSaving) return Banner::relocated;
    // Without a project everything needs an analysis; that is no change of settings.
    if (needsAnalysis && hasProject) return Banner::changedSettings;
    return Banner::none;
}

Sizes sizes(double contentHeight, bool bannerShown, double recoveryCardHeight) {
    Sizes result;
    result.timelineHeight = std::max(kTimelineShare * contentHeight + kTimelineBase, kMinimumTimelineHeight);
    const double banner = bannerShown ? kBannerAllowance : 0;
    const double card = recoveryCardHeight > 0 ? recoveryCardHeight + kStackSpacing : 0;
    result.mainRowHeight = std::max(contentHeight - kHeaderHeight - kFooterHeight - 2 * kStackPadding -
                                        kStackSpacing - result.timelineHeight - banner - card,
                                    kMinimumMainRowHeight);
    result.listWidth = contentHeight < kWideListFromHeight ? kListWidth : kWideListWidth;
    return result;
}

}  // namespace talvian::EditorLayout
