#pragma once
// The six navigation buttons above the review waveform: zoom out, zoom in, half a page back
// and forward, the reviewed pause, and the whole file. Each calls one controller operation
// that moves the visible window (never the playback position); each is enabled from the
// controller's state, recomputed whenever a slice it reads changes. Main thread.

#include <QWidget>

#include <optional>

#include "Model/WaveformWindow.h"

namespace talvian {

class StudioButton;
class Workspace;

class WaveformControls : public QWidget {
    Q_OBJECT

  public:
    explicit WaveformControls(Workspace& workspace, QWidget* parent = nullptr);

    // Which buttons act, in the row's order.
    struct Enabling {
        bool zoomOut = false;
        bool zoomIn = false;
        bool back = false;
        bool forward = false;
        bool current = false;
        bool fit = false;
        bool operator==(const Enabling&) const = default;
    };
    // canNavigate: the controller's canNavigateWaveform (false turns every button off).
    // hasWindow: a window was chosen (none while the whole file shows). visible: the window
    // shown. duration: the project's, nullopt without a project. hasReviewCut: a pause is
    // under review.
    static Enabling enabling(bool canNavigate, bool hasWindow, const WaveformWindow& visible,
                             std::optional<double> duration, bool hasReviewCut);

    // Ends within this many seconds of the file's ends count as the ends.
    static constexpr double kEdgeTolerance = 1e-8;

  private:
    void refresh();

    Workspace& workspace_;
    StudioButton* zoomOut_;
    StudioButton* zoomIn_;
    StudioButton* back_;
    StudioButton* forward_;
    StudioButton* current_;
    StudioButton* fit_;
};

}  // namespace talvian
