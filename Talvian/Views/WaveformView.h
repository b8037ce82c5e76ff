#pragma once
// The review timeline: the waveform of the visible window with its time ruler, the pauses on it
// (removed ones in coral, the reviewed and batch-selected ones tinted), the running audition's
// range and a drag-selection band; a click selects a pause or seeks, a horizontal drag
// batch-selects the pauses it covers. It holds the playback cursor and the two boundary grips
// of the reviewed pause. Everything it shows it reads from the controller; the only state of its
// own is a drag selection in progress. Main thread.
//
// What the waveform shows is painted once into a cached layer, drawn again only when one of its
// inputs changes (the scene below); playback moves only the 1-pixel cursor, a child widget that
// follows the playback clock by itself.

#include <QImage>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "Model/CoreTypes.h"
#include "Model/CutAdjustment.h"
#include "Model/WaveformWindow.h"

namespace talvian {

class Workspace;
class WaveformBoundaryHandle;

// Everything the cached layer is drawn from, compared as a whole to decide a redraw.
struct WaveformScene {
    QSize size;
    double pixelRatio = 1;
    WaveformWindow window;
    std::vector<double> peaks;  // the drawn peaks (detail or overview) and the range they cover
    double peaksStart = 0;
    double peaksEnd = 0;
    std::vector<CutRegion> pauses;  // as drawn: a dragged edge where the drag has put it
    std::optional<Uuid> reviewed;
    std::set<Uuid> batch;
    std::optional<std::pair<double, double>> audition;  // source seconds
    std::optional<std::pair<double, double>> dragBand;  // x positions of a drag selection
    bool operator==(const WaveformScene&) const = default;
};

class WaveformView : public QWidget {
    Q_OBJECT

  public:
    // onSeek: a click that hits no pause, with the fraction 0…1 of the width it was at.
    WaveformView(Workspace& workspace, std::function<void(double fraction)> onSeek,
                 QWidget* parent = nullptr);
    ~WaveformView() override;

    // How often the cached layer has been drawn.
    int layerBuilds() const { return layerBuilds_; }
    // What the layer is drawn from now.
    const WaveformScene& scene() const { return scene_; }
    // The grip of one edge (hidden while it has no place).
    WaveformBoundaryHandle* handle(CutBoundary edge) const;
    // The 1-pixel playback cursor (hidden while the position is outside the window).
    QWidget* cursor() const { return cursor_; }

    QSize sizeHint() const override { return {640, 180}; }
    QSize minimumSizeHint() const override { return {64, 48}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    // Reads the controller's slices into the scene; marks the layer stale when it changed.
    void refreshScene();
    // Shows, hides and moves the grips (also on job and detection changes).
    void placeHandles();
    void placeCursor();
    void rebuildLayer();
    void clearDrag();

    Workspace& workspace_;
    std::function<void(double)> onSeek_;
    WaveformScene scene_;
    QImage layer_;
    bool layerStale_ = true;
    int layerBuilds_ = 0;
    QWidget* cursor_;
    std::array<WaveformBoundaryHandle*, 2> handles_{};

    // A press in progress and, once it moved far enough, the drag selection's two x positions.
    std::optional<QPointF> press_;
    std::optional<double> dragStart_;
    std::optional<double> dragEnd_;
};

}  // namespace talvian
