#pragma once
// The detection settings shown over the window: the rhythm presets, the advanced options with
// their sliders, the live preview's pause count and new length, and "应用", which installs the
// previewed result as the new edit. The panel edits a private copy of the options; nothing
// reaches the controller's options until the controller accepts the preview. Every real change
// of that copy asks the controller for a new preview (it waits and re-detects in the
// background); opening asks for nothing, and leaving the panel by any path cancels the preview.
// Main thread.

#include <QWidget>

#include <optional>
#include <string>

#include "Model/CutProject.h"

class QAbstractButton;
class QLabel;
class QShortcut;

namespace talvian {

class StudioButton;
class StudioLink;
class StudioSlider;
class StudioToggle;
class Workspace;
class WorkspaceView;

// The options being edited. Every edit returns the options to preview: set only when the copy
// really changed (all five fields compared), so an edit that lands on the same options (a
// card already chosen, an arrow step at a slider's end) starts no detection.
class DetectionDraft {
  public:
    explicit DetectionDraft(const CutOptions& options) : options_(options) {}
    const CutOptions& options() const { return options_; }

    // Minimum pause and edge set to the preset's, right edge cleared; mode and threshold kept.
    std::optional<CutOptions> choose(DetectionPreset preset);
    std::optional<CutOptions> setMode(DetectionMode mode);
    std::optional<CutOptions> setThreshold(double decibels);
    std::optional<CutOptions> setMinimumSilence(double seconds);
    std::optional<CutOptions> setPadding(double seconds);
    // On: the right edge starts at the current edge; off: the right edge is cleared.
    std::optional<CutOptions> setSeparateSides(bool on);
    std::optional<CutOptions> setPaddingRight(double seconds);
    // The defaults: fixed, −35 dB, 0.8 s, 0.3 s, no right edge.
    std::optional<CutOptions> reset();
    std::optional<CutOptions> replace(const CutOptions& options);

    // Options customised beyond every preset open with the advanced section expanded.
    static bool opensAdvanced(const CutOptions& options);

  private:
    CutOptions options_;
};

// The texts of the panel, numbers in the C locale whatever the process's locale.
namespace DetectionSettingsTexts {
// "停顿 1.2 s" ("%.2g") and "边缘 0.30 s" ("%.2f") of a preset card.
std::string pauseText(DetectionPreset preset);
std::string edgeText(DetectionPreset preset);
// The slider rows' value labels: "-35 dB" ("%.0f dB") and "0.80 s" ("%.2f s").
std::string decibelText(double decibels);
std::string secondsText(double seconds);

// The line under the divider. `calculating` shows the hourglass with "正在计算…".
struct SummaryLine {
    bool calculating = false;
    std::string text;
    bool operator==(const SummaryLine&) const = default;
};
SummaryLine summaryLine(bool calculating, const std::optional<CutProject>& preview,
                        const std::optional<std::string>& issue, const std::optional<CutProject>& project);
// The quiet-recording hint, only when the project it speaks of (the preview, else the current
// project when it was made with the draft) was made with exactly the draft.
std::optional<std::string> quietHint(const std::optional<CutProject>& preview,
                                     const std::optional<CutProject>& project, const CutOptions& draft);
// "应用" acts only on a finished preview made with exactly the draft.
bool canApply(bool calculating, const std::optional<CutProject>& preview, const CutOptions& draft);
}  // namespace DetectionSettingsTexts

class DetectionSettingsPanel : public QWidget {
    Q_OBJECT

  public:
    // The draft starts as the controller's current options; `view` closes the panel.
    DetectionSettingsPanel(Workspace& workspace, WorkspaceView& view, QWidget* parent = nullptr);
    ~DetectionSettingsPanel() override;

    const CutOptions& draft() const { return draft_.options(); }
    bool advancedOpen() const;
    // "应用": closes the panel when the controller installs the preview; otherwise the panel
    // stays with its draft (the controller words any message).
    void apply();
    void close();

    // The parts, for tests.
    QAbstractButton& presetCard(DetectionPreset preset) const;
    bool presetHighlighted(DetectionPreset preset) const;
    QAbstractButton& advancedButton() const;
    StudioSlider& thresholdSlider() const { return *threshold_; }
    StudioSlider& minimumSilenceSlider() const { return *minimumSilence_; }
    StudioSlider& paddingSlider() const { return *padding_; }
    StudioSlider& paddingRightSlider() const { return *paddingRight_; }
    QWidget& paddingRightRow() const { return *paddingRightRow_; }
    StudioToggle& separateSidesToggle() const { return *separateSides_; }
    QLabel& thresholdValue() const { return *thresholdValue_; }
    QLabel& summaryLabel() const { return *summary_; }
    QLabel& hintLabel() const { return *hint_; }
    StudioButton& applyButton() const { return *apply_; }

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void edit(const std::optional<CutOptions>& changed);
    void showDraft();
    void showPreview();
    void leave();

    Workspace& workspace_;
    WorkspaceView& view_;
    DetectionDraft draft_;
    bool left_ = false;  // the preview was cancelled on the way out

    QAbstractButton* cards_[3] = {};
    QAbstractButton* disclosure_ = nullptr;
    QWidget* advanced_ = nullptr;
    StudioButton* fixedMode_ = nullptr;
    StudioButton* adaptiveMode_ = nullptr;
    StudioSlider* threshold_ = nullptr;
    StudioSlider* minimumSilence_ = nullptr;
    StudioSlider* padding_ = nullptr;
    StudioSlider* paddingRight_ = nullptr;
    QLabel* thresholdValue_ = nullptr;
    QLabel* minimumSilenceValue_ = nullptr;
    QLabel* paddingValue_ = nullptr;
    QLabel* paddingRightValue_ = nullptr;
    QWidget* paddingRightRow_ = nullptr;
    StudioToggle* separateSides_ = nullptr;
    QLabel* hint_ = nullptr;
    QLabel* hourglass_ = nullptr;
    QLabel* summary_ = nullptr;
    StudioButton* apply_ = nullptr;
    QShortcut* escape_ = nullptr;
};

}  // namespace talvian
