#pragma once
// The editor's rules without widgets: the heights and width it gives its parts for the height
// of the window's content, and which status banner shows. The banner shown and the room taken
// for it both come from banner(), so the two cannot disagree. Pure; any thread.

namespace talvian::EditorLayout {

// Fixed parts of the window the editor shares its height with, logical pixels.
constexpr double kHeaderHeight = 64;
constexpr double kFooterHeight = 40;
// The editor's stack: 16 padding above and below, 14 between its items.
constexpr double kStackPadding = 16;
constexpr double kStackSpacing = 14;
// What a banner takes from the main row: its row and one spacing of the stack.
constexpr double kBannerAllowance = 44;
// The smallest main row and timeline, and the window height from which the list widens.
constexpr double kMinimumMainRowHeight = 220;
constexpr double kMinimumTimelineHeight = 260;
constexpr double kWideListFromHeight = 790;
constexpr double kListWidth = 300;
constexpr double kWideListWidth = 330;

// The status banner under the timeline; the first rule that applies wins.
enum class Banner {
    none,
    busy,             // a job runs on an open edit
    sourceRead,       // reading the source timed out
    relocated,        // the source was found elsewhere and the project not saved since
    changedSettings,  // the settings differ from those the project was analysed with
};

Banner banner(bool cutBusy, bool hasProject, bool hasSourceReadIssue, bool sourceLocationNeedsSaving,
              bool needsAnalysis);

// The editor's sizes, unrounded; widgets round each once (std::lround) when they apply them.
struct Sizes {
    double timelineHeight = 0;  // W = max(0.24 h + 78, 260)
    // P = max(h − 64 − 40 − 32 − 14 − W − B − R, 220), B = 44 with a banner, R the recovery
    // card's allowance.
    double mainRowHeight = 0;
    double listWidth = 0;  // L = 300 below h = 790, else 330
    bool operator==(const Sizes&) const = default;
};

// `contentHeight` is h, the height of the whole window content: header, page and footer.
// `recoveryCardHeight` is the height of a recovery card above the main row (0 without one);
// the card and one spacing of the stack come out of the main row, so that the timeline stays
// above the footer.
Sizes sizes(double contentHeight, bool bannerShown, double recoveryCardHeight = 0);

}  // namespace talvian::EditorLayout
