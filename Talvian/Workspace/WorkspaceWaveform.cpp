// The waveform window (zoom, pan, focus, fit, reveal), clicks and drags on the waveform,
// and the detail waveform loader of the zoomed window.

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cmath>

#include "Model/Localization.h"
#include "Workspace.h"

namespace talvian {

namespace {

// A window this close to the file's length is the whole file.
constexpr double kWholeFileTolerance = 1e-8;
constexpr double kZoomFactor = 2.0;
// The first zoom from a long file lands here; zooming out from here shows the whole file.
constexpr double kLongestZoomedSpan = 60.0;
// Room left either side of a pause framed by focus or reveal (1.2 s each side), and the
// shortest window focus opens so that the pause's surroundings stay readable.
constexpr double kPauseMargin = 2.4;
constexpr double kShortestFocusSpan = 12.0;

}  // namespace

WaveformWindow Workspace::visibleWaveformWindow() const {
    if (waveformWindow_) return *waveformWindow_;
    if (project_) return WaveformWindow{0, project_->info.duration};
    return WaveformWindow{};
}

bool Workspace::canNavigateWaveform() const {
    return !cutBusy_ && !needsAnalysis() && project_ && !boundaryDrag_;
}

void Workspace::setWaveformWindow(std::optional<WaveformWindow> window) {
    if (!project_) return;
    if (window && window->length() >= project_->info.duration - kWholeFileTolerance) window.reset();
    if (window == waveformWindow_) return;
    publish(waveformWindow_, window);
    reloadWaveformDetail();
}

void Workspace::zoomWaveform(bool inward) {
    if (!canNavigateWaveform()) return;
    const auto reviewed = reviewCut();
    const double centre = reviewed ? (reviewed->start + reviewed->end) / 2 : playbackPosition();
    double span = visibleWaveformWindow().length();
    if (inward)
        span = std::min(span / kZoomFactor, kLongestZoomedSpan);
    else
        span = span >= kLongestZoomedSpan ? project_->info.duration : span * kZoomFactor;
    setWaveformWindow(WaveformWindow::centered(centre, span, project_->info.duration));
}

void Workspace::panWaveform(int step) {
    if (!canNavigateWaveform() || (step != 1 && step != -1) || !waveformWindow_) return;
    const WaveformWindow window = *waveformWindow_;
    const double centre = (window.start + window.end) / 2 + step * window.length() / 2;
    setWaveformWindow(WaveformWindow::centered(centre, window.length(), project_->info.duration));
}

void Workspace::focusWaveformReview() {
    if (!canNavigateWaveform()) return;
    const auto reviewed = reviewCut();
    if (!reviewed) return;
    const double framed = reviewed->end - reviewed->start + kPauseMargin;
    const double span =
        reviewed->end >= reviewed->start && framed >= kShortestFocusSpan ? framed : kShortestFocusSpan;
    setWaveformWindow(
        WaveformWindow::centered((reviewed->start + reviewed->end) / 2, span, project_->info.duration));
}

void Workspace::fitWaveform() {
    if (!canNavigateWaveform()) return;
    setWaveformWindow(std::nullopt);
}

void Workspace::revealWaveformReview() {
    if (!waveformWindow_ || !project_) return;
    const auto reviewed = reviewCut();
    if (!reviewed) return;
    const WaveformWindow window = *waveformWindow_;
    if (window.start <= reviewed->start && reviewed->end <= window.end) return;
    const double framed =
        reviewed->end < reviewed->start ? kPauseMargin : reviewed->end - reviewed->start + kPauseMargin;
    const double span = std::max(window.length(), framed);
    setWaveformWindow(
        WaveformWindow::centered((reviewed->start + reviewed->end) / 2, span, project_->info.duration));
}

void Workspace::navigateWaveform(double seconds) {
    if (boundaryDrag_ || cutBusy_ || needsAnalysis() || !project_) return;
    const double duration = project_->info.duration;
    if (!std::isfinite(duration) || duration <= 0 || !std::isfinite(seconds)) return;
    stopAudition(false);
    pausePlayer();
    const double time = std::clamp(seconds, 0.0, duration);
    setReviewID(WaveformSelection::target(time, duration, project_->cuts, reviewID_));
    seek(time, false);
}

void Workspace::selectWaveformRange(double from, double to) {
    if (!canSelectBatch()) return;
    const double low = std::min(from, to);
    const double high = std::max(from, to);
    std::vector<Uuid> hits;
    for (const auto& region : project_->cuts)
        if (low <= region.end && high >= region.start) hits.push_back(region.id);
    if (hits.empty()) return;
    if (!batchMode_) beginBatchSelection();
    publish(batchIDs_, std::set<Uuid>(hits.begin(), hits.end()));
    batchAnchor_ = hits.front();
}

// ---- Detail waveform loader

void Workspace::reloadWaveformDetail() {
    waveformDetailTimer_.stop();
    QObject::disconnect(&waveformDetailTimer_, nullptr, this, nullptr);
    waveformCancellation_->cancel();
    const Uuid generation = Uuid::random();
    waveformGeneration_ = generation;
    publish(waveformDetail_, std::optional<WaveformSlice>());
    publish(waveformIssue_, std::optional<std::string>());
    publish(waveformLoading_, false);
    if (!waveformWindow_ || waveformWindow_->length() > DetailWaveform::kLongestWindow || !project_) return;

    const CancellationToken token = makeCancellation();
    waveformCancellation_ = token;
    publish(waveformLoading_, true);
    const CutProject project = *project_;
    const WaveformWindow window = *waveformWindow_;
    // The delay: a burst of zooms or pans stops this timer before it fires, so only the last
    // window of the burst starts a decode.
    connect(&waveformDetailTimer_, &QTimer::timeout, this, [this, token, generation, project, window] {
        QObject::disconnect(&waveformDetailTimer_, nullptr, this, nullptr);
        if (token->isCancelled() || generation != waveformGeneration_) return;
        QPointer<Workspace> self(this);
        runInBackground([self, token, generation, project, window] {
            std::optional<WaveformSlice> slice;
            bool timedOut = false;
            try {
                slice = DetailWaveform::load(project, window, token);
            } catch (const ProcessTimeout&) {
                timedOut = true;
            } catch (...) {
            }
            if (!self) return;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, token, generation, slice = std::move(slice), timedOut]() mutable {
                    if (!self || self->waveformGeneration_ != generation || token->isCancelled()) return;
                    self->publish(self->waveformLoading_, false);
                    if (slice)
                        self->publish(self->waveformDetail_, std::move(slice));
                    else
                        self->publish(self->waveformIssue_,
                                      std::optional<std::string>(timedOut ? L("局部波形加载超时。")
                                                                          : L("局部波形未能加载。")));
                },
                Qt::QueuedConnection);
        });
    });
    waveformDetailTimer_.setSingleShot(true);
    waveformDetailTimer_.start(waveformDetailDelay_);
}

}  // namespace talvian
