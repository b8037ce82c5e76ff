#include "WaveformView.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <utility>

#include "Kit/Studio.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "WaveformBoundaryHandle.h"
#include "WaveformGeometry.h"
#include "Workspace/PlaybackClock.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

namespace Geometry = WaveformGeometry;

constexpr int kRulerPixels = 13;
constexpr double kTickOpacity = 0.35;
constexpr double kTintOpacity = 0.12;
constexpr double kDragBandOpacity = 0.1;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// The playback cursor: a 1-pixel line in the text colour. It takes no pointer events, so a click
// on it reaches the waveform below.
class PlaybackCursor : public QWidget {
  public:
    explicit PlaybackCursor(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
    }

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Studio::text); }
};

void paintRuler(QPainter& painter, const WaveformScene& scene) {
    const double width = scene.size.width();
    const double span = Geometry::drawnSpan(scene.window);
    const QFont font = Studio::monospacedDigitFont(kRulerPixels);
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(Studio::secondary);
    const QColor tick = Studio::withOpacity(Studio::secondary, kTickOpacity);
    for (int mark = 0; mark < Geometry::kRulerMarks; ++mark) {
        // mark / 5.0: the fifths exactly as written (0.6, not 3 × 0.2).
        const double fraction = mark / static_cast<double>(Geometry::kRulerMarks - 1);
        const QString label = qt(timeLabel(scene.window.start + span * fraction));
        const double labelWidth = metrics.horizontalAdvance(label);
        const double anchor = width * fraction;
        const double left = mark == 0                           ? 0.0
                            : mark == Geometry::kRulerMarks - 1 ? anchor - labelWidth
                                                                : anchor - labelWidth / 2;
        painter.drawText(QPointF(left, metrics.ascent()), label);
        // Whole pixels keep the ticks crisp; the last one would lie just past the right side and
        // is drawn on the last column.
        const double column = std::min(std::floor(anchor), width - 1);
        painter.fillRect(QRectF(column, Geometry::kTickTop, 1, Geometry::kTickHeight), tick);
    }
}

// The waveform outline and the removed pauses in one pass. The outline is rasterised once, as
// coverage, on a strip of its own height; each pixel column then takes Studio::wave mixed with
// Studio::coral by the share of the column that the union of the removed pauses covers (inside
// the lane only), and the strip is laid over the layer. So only the waveform inside a removed
// pause turns coral, a pause narrower than a pixel tints its column by its share (as an
// antialiased clip would), and 9,999 pauses cost one union and no fill of their own: a second
// fill of the outline through a coral clip or texture costs more than the waveform itself.
void paintOutline(QPainter& painter, const WaveformScene& scene, const QPainterPath& outline,
                  const Geometry::Lane& lane) {
    const double width = scene.size.width();
    const double ratio = scene.pixelRatio;
    const auto columns = static_cast<std::size_t>(std::ceil(width * ratio));
    const std::vector<float> coverage = Geometry::removedCoverage(scene.pauses, scene.window, width, columns);
    if (std::all_of(coverage.begin(), coverage.end(), [](float share) { return share <= 0; })) {
        // No removed pause in view: the outline alone, filled directly.
        painter.fillPath(outline, Studio::wave);
        return;
    }
    const QRectF bounds = outline.boundingRect().intersected(QRectF(0, 0, width, scene.size.height()));
    if (bounds.isEmpty()) return;
    const double top = std::floor(bounds.top());
    const int rows = static_cast<int>(std::ceil((std::ceil(bounds.bottom()) - top) * ratio));
    if (rows <= 0) return;

    QImage strip(static_cast<int>(columns), rows, QImage::Format_ARGB32_Premultiplied);
    strip.setDevicePixelRatio(ratio);
    strip.fill(Qt::transparent);
    {
        QPainter fill(&strip);
        fill.setRenderHint(QPainter::Antialiasing);
        fill.translate(0, -top);
        fill.fillPath(outline, Qt::white);
    }

    struct Ink {
        int red, green, blue;
    };
    const Ink wave{Studio::wave.red(), Studio::wave.green(), Studio::wave.blue()};
    std::vector<Ink> removed(columns, wave);
    for (std::size_t x = 0; x < columns; ++x) {
        const double share = coverage[x];
        if (share <= 0) continue;
        auto mix = [share](int from, int to) {
            return static_cast<int>(std::lround(from + (to - from) * share));
        };
        removed[x] = {mix(wave.red, Studio::coral.red()), mix(wave.green, Studio::coral.green()),
                      mix(wave.blue, Studio::coral.blue())};
    }
    // The lane's rows on the strip: coral stays inside them.
    const double laneFrom = (lane.top - top) * ratio;
    const double laneTo = (lane.top + lane.height - top) * ratio;
    // x × a / 255, exact for 0…255 × 0…255.
    auto scaled = [](int channel, int alpha) {
        const int product = channel * alpha + 128;
        return (product + (product >> 8)) >> 8;
    };
    for (int y = 0; y < rows; ++y) {
        const double centre = y + 0.5;
        const bool inLane = laneFrom <= centre && centre < laneTo;
        auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
        for (std::size_t x = 0; x < columns; ++x) {
            const int alpha = qAlpha(line[x]);
            if (alpha == 0) continue;
            const Ink& ink = inLane ? removed[x] : wave;
            line[x] = qRgba(scaled(ink.red, alpha), scaled(ink.green, alpha), scaled(ink.blue, alpha), alpha);
        }
    }
    painter.drawImage(QPointF(0, top), strip);
}

// The layer of a scene, on a transparent painter of the scene's size: ruler, tint, outline with
// the removed pauses, audition bar, drag band, each over the ones before.
void paintWaveformScene(QPainter& painter, const WaveformScene& scene) {
    const double width = scene.size.width();
    const Geometry::Lane lane = Geometry::lane(scene.size.height());
    painter.setRenderHint(QPainter::Antialiasing);

    paintRuler(painter, scene);

    if (scene.window.end - scene.window.start <= Geometry::kLongestTintedSpan) {
        const QColor tint = Studio::withOpacity(Studio::coral, kTintOpacity);
        for (const CutRegion& pause : scene.pauses) {
            if (!Geometry::tinted(pause, scene.reviewed, scene.batch, scene.window)) continue;
            if (const auto drawn = Geometry::extent(pause.start, pause.end, scene.window, width))
                painter.fillRect(QRectF(drawn->x0, lane.top, drawn->x1 - drawn->x0, lane.height), tint);
        }
    }

    const std::vector<Geometry::OutlinePoint> points =
        Geometry::outline(scene.peaks, scene.peaksStart, scene.peaksEnd, scene.window, width, lane.height);
    if (!points.empty()) {
        QPainterPath outline;
        outline.moveTo(points.front().x, lane.middle - points.front().halfHeight);
        for (auto point = points.begin() + 1; point != points.end(); ++point)
            outline.lineTo(point->x, lane.middle - point->halfHeight);
        for (auto point = points.rbegin(); point != points.rend(); ++point)
            outline.lineTo(point->x, lane.middle + point->halfHeight);
        outline.closeSubpath();
        paintOutline(painter, scene, outline, lane);
    }

    if (scene.audition) {
        if (const auto drawn =
                Geometry::extent(scene.audition->first, scene.audition->second, scene.window, width))
            painter.fillRect(QRectF(drawn->x0, Geometry::kAuditionBarTop, drawn->x1 - drawn->x0,
                                    Geometry::kAuditionBarHeight),
                             Studio::text);
    }

    if (scene.dragBand) {
        const auto [from, to] = *scene.dragBand;
        painter.fillRect(QRectF(std::min(from, to), lane.top, std::abs(to - from), lane.height),
                         Studio::withOpacity(Studio::coral, kDragBandOpacity));
    }
}

}  // namespace

WaveformView::WaveformView(Workspace& workspace, std::function<void(double fraction)> onSeek, QWidget* parent)
    : QWidget(parent), workspace_(workspace), onSeek_(std::move(onSeek)), cursor_(new PlaybackCursor(this)) {
    // A click on the waveform leaves the keys where they are: the space bar keeps playing.
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(qt(L("音频波形，点击停顿选中，拖选或按住 Ctrl 多选。")));
    cursor_->hide();
    for (const CutBoundary edge : kAllCutBoundaries) {
        auto* handle = new WaveformBoundaryHandle(workspace_, edge, this);
        handle->hide();
        handles_[static_cast<std::size_t>(edge)] = handle;
    }

    // The audition's range lives in the playback slice; the cursor follows the zoomed window.
    bindSlices(*this, workspace_, {Slice::document, Slice::review, Slice::waveform, Slice::playback}, [this] {
        refreshScene();
        placeCursor();
    });
    // Whether the grips may show is a guard of its own.
    bindSlices(*this, workspace_, {Slice::guards}, [this] { placeHandles(); });
    // The position ticks are no slice: the cursor follows each of them at once.
    connect(&workspace_.playbackClock(), &PlaybackClock::positionChanged, this, &WaveformView::placeCursor);
    refreshScene();
    placeCursor();
}

WaveformView::~WaveformView() {
    // A grip that goes in the middle of a drag abandons it, which the controller publishes:
    // the refresh that asks for goes with this view's bindings, and the clock is no longer heard.
    disconnect(&workspace_.playbackClock(), nullptr, this, nullptr);
    for (WaveformBoundaryHandle*& handle : handles_) delete std::exchange(handle, nullptr);
}

WaveformBoundaryHandle* WaveformView::handle(CutBoundary edge) const {
    return handles_[static_cast<std::size_t>(edge)];
}

void WaveformView::refreshScene() {
    static const std::vector<double> kNoPeaks;
    WaveformScene next;
    next.size = size();
    next.pixelRatio = devicePixelRatioF();
    next.window = workspace_.visibleWaveformWindow();
    const auto& project = workspace_.document().project;
    const Geometry::PeakSource peaks =
        Geometry::peakSource(project ? project->waveform : kNoPeaks, project ? project->info.duration : 0,
                             workspace_.waveform().detail, next.window);
    next.peaks = *peaks.peaks;
    next.peaksStart = peaks.start;
    next.peaksEnd = peaks.end;
    if (project) next.pauses = Geometry::drawnPauses(project->cuts, workspace_.waveform().boundaryDrag);
    next.reviewed = workspace_.review().reviewID;
    next.batch = workspace_.review().batchIDs;
    next.audition = workspace_.auditionSourceRange();
    if (dragStart_ && dragEnd_) next.dragBand = std::make_pair(*dragStart_, *dragEnd_);
    if (next != scene_) {
        scene_ = std::move(next);
        layerStale_ = true;
        update();
    }
    placeHandles();
}

void WaveformView::placeHandles() {
    const std::vector<Geometry::GripPlacement> placements =
        Geometry::grips(workspace_.guards().canAdjustWaveformBoundary, scene_.pauses, scene_.reviewed,
                        scene_.window, width(), height());
    for (WaveformBoundaryHandle* handle : handles_) {
        const auto placed = std::find_if(placements.begin(), placements.end(),
                                         [handle](const auto& grip) { return grip.edge == handle->edge(); });
        if (placed == placements.end()) {
            handle->hide();
            continue;
        }
        handle->setCut(placed->pause, width());
        handle->move(static_cast<int>(std::lround(placed->centreX - WaveformBoundaryHandle::kWidth / 2.0)),
                     static_cast<int>(std::lround(placed->centreY - WaveformBoundaryHandle::kHeight / 2.0)));
        handle->show();
        handle->raise();
    }
}

void WaveformView::placeCursor() {
    const WaveformWindow window = workspace_.visibleWaveformWindow();
    const auto x = Geometry::cursorX(workspace_.playbackClock().position(), window, width());
    const int height = std::max(this->height() - static_cast<int>(Geometry::kCursorTop), 0);
    if (!x || height == 0 || width() < 1) {
        cursor_->hide();
        return;
    }
    cursor_->setGeometry(static_cast<int>(std::floor(*x)), static_cast<int>(Geometry::kCursorTop), 1, height);
    cursor_->show();
}

void WaveformView::rebuildLayer() {
    layerStale_ = false;
    ++layerBuilds_;
    const double ratio = scene_.pixelRatio;
    const QSize pixels(static_cast<int>(std::ceil(scene_.size.width() * ratio)),
                       static_cast<int>(std::ceil(scene_.size.height() * ratio)));
    if (pixels.isEmpty()) {
        layer_ = QImage();
        return;
    }
    if (layer_.size() != pixels) layer_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    layer_.setDevicePixelRatio(ratio);
    layer_.fill(Qt::transparent);
    QPainter painter(&layer_);
    paintWaveformScene(painter, scene_);
}

void WaveformView::paintEvent(QPaintEvent* event) {
    if (devicePixelRatioF() != scene_.pixelRatio) refreshScene();
    if (layerStale_) rebuildLayer();
    if (layer_.isNull()) return;
    QPainter painter(this);
    const QRect area = event->rect();
    const double ratio = layer_.devicePixelRatio();
    const QRectF source(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio);
    painter.drawImage(QRectF(area), layer_, source);
}

void WaveformView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refreshScene();
    placeCursor();
}

void WaveformView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) clearDrag();
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    press_ = event->position();
    dragStart_.reset();
    dragEnd_.reset();
    event->accept();
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (!press_) return QWidget::mouseMoveEvent(event);
    event->accept();
    const QPointF at = event->position();
    if (!dragStart_) {
        const QPointF moved = at - *press_;
        if (!Geometry::movedAtLeast(moved.x(), moved.y(), Geometry::kSelectionDragDistance)) return;
        dragStart_ = press_->x();
    }
    dragEnd_ = at.x();
    refreshScene();
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !press_) return QWidget::mouseReleaseEvent(event);
    event->accept();
    press_.reset();
    const double width = this->width();
    const WaveformWindow window = scene_.window;
    if (dragStart_) {
        const double from = Geometry::time(Geometry::fraction(*dragStart_, width), window);
        const double to = Geometry::time(Geometry::fraction(event->position().x(), width), window);
        workspace_.selectWaveformRange(from, to);
        clearDrag();
        return;
    }
    const double fraction = Geometry::fraction(event->position().x(), width);
    const double duration = workspace_.document().project ? workspace_.document().project->info.duration : 0;
    const auto hit =
        WaveformSelection::target(Geometry::time(fraction, window), duration, scene_.pauses, scene_.reviewed);
    if (hit) {
        // Ctrl stands for the Command key of the selection rules: it adds to the batch selection.
        const Qt::KeyboardModifiers modifiers = event->modifiers();
        workspace_.selectCutRow(*hit, modifiers.testFlag(Qt::ControlModifier),
                                modifiers.testFlag(Qt::ShiftModifier));
    } else if (onSeek_) {
        onSeek_(fraction);
    }
}

void WaveformView::clearDrag() {
    press_.reset();
    if (!dragStart_ && !dragEnd_) return;
    dragStart_.reset();
    dragEnd_.reset();
    refreshScene();
}

}  // namespace talvian
