// The waveform window (zoom, pan, focus, fit, reveal), clicks and drags on the waveform,
// and the detail waveform loader of the zoomed window.

#include <algorithm>
#include <cmath>

#include "Analysis/DetailWaveform.h"
#include "Model/Localization.h"
#include "WorkspaceInternals.h"

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
    if (waveform().window) return *waveform().window;
    if (document().project) return WaveformWindow{0, document().project->info.duration};
    return WaveformWindow{};
}

bool Workspace::Internals::canNavigateWaveform() const {
    return !job().busy && !needsAnalysis() && document().project && !waveform().boundaryDrag;
}

void Workspace::setWaveformWindow(std::optional<WaveformWindow> window) {
    const Operation operation(*this);
    if (!document().project) return;
    if (window && window->length() >= document().project->info.duration - kWholeFileTolerance) window.reset();
    if (window == waveform().window) return;
    d_->set(&WaveformState::window, window);
    reloadWaveformDetail();
}

void Workspace::zoomWaveform(bool inward) {
    const Operation operation(*this);
    if (!d_->canNavigateWaveform()) return;
    const auto reviewed = reviewCut();
    const double centre = reviewed ? (reviewed->start + reviewed->end) / 2 : d_->playbackPosition();
    double span = visibleWaveformWindow().length();
    if (inward)
        span = std::min(span / kZoomFactor, kLongestZoomedSpan);
    else
        span = span >= kLongestZoomedSpan ? document().project->info.duration : span * kZoomFactor;
    setWaveformWindow(WaveformWindow::centered(centre, span, document().project->info.duration));
}

void Workspace::panWaveform(int step) {
    const Operation operation(*this);
    if (!d_->canNavigateWaveform() || (step != 1 && step != -1) || !waveform().window) return;
    const WaveformWindow window = *waveform().window;
    const double centre = (window.start + window.end) / 2 + step * window.length() / 2;
    setWaveformWindow(WaveformWindow::centered(centre, window.length(), document().project->info.duration));
}

void Workspace::focusWaveformReview() {
    const Operation operation(*this);
    if (!d_->canNavigateWaveform()) return;
    const auto reviewed = reviewCut();
    if (!reviewed) return;
    const double framed = reviewed->end - reviewed->start + kPauseMargin;
    const double span =
        reviewed->end >= reviewed->start && framed >= kShortestFocusSpan ? framed : kShortestFocusSpan;
    setWaveformWindow(WaveformWindow::centered((reviewed->start + reviewed->end) / 2, span,
                                               document().project->info.duration));
}

void Workspace::fitWaveform() {
    const Operation operation(*this);
    if (!d_->canNavigateWaveform()) return;
    setWaveformWindow(std::nullopt);
}

void Workspace::Internals::revealWaveformReview() {
    const Operation operation(owner);
    if (!waveform().window || !document().project) return;
    const auto reviewed = owner.reviewCut();
    if (!reviewed) return;
    const WaveformWindow window = *waveform().window;
    if (window.start <= reviewed->start && reviewed->end <= window.end) return;
    const double framed =
        reviewed->end < reviewed->start ? kPauseMargin : reviewed->end - reviewed->start + kPauseMargin;
    const double span = std::max(window.length(), framed);
    owner.setWaveformWindow(WaveformWindow::centered((reviewed->start + reviewed->end) / 2, span,
                                                     document().project->info.duration));
}

void Workspace::navigateWaveform(double seconds) {
    const Operation operation(*this);
    if (waveform().boundaryDrag || job().busy || d_->needsAnalysis() || !document().project) return;
    const double duration = document().project->info.duration;
    if (!std::isfinite(duration) || duration <= 0 || !std::isfinite(seconds)) return;
    stopAudition(false);
    d_->pausePlayer();
    const double time = std::clamp(seconds, 0.0, duration);
    d_->setReviewID(WaveformSelection::target(time, duration, document().project->cuts, review().reviewID));
    d_->seek(time, false);
}

void Workspace::selectWaveformRange(double from, double to) {
    const Operation operation(*this);
    if (!d_->canSelectBatch()) return;
    const double low = std::min(from, to);
    const double high = std::max(from, to);
    std::vector<Uuid> hits;
    for (const auto& region : document().project->cuts)
        if (low <= region.end && high >= region.start) hits.push_back(region.id);
    if (hits.empty()) return;
    if (!review().batchMode) beginBatchSelection();
    d_->setBatchIDs(std::set<Uuid>(hits.begin(), hits.end()));
    d_->setBatchAnchor(hits.front());
}

// ---- Detail waveform loader

void Workspace::reloadWaveformDetail() {
    const Operation operation(*this);
    d_->waveformLoader_.cancel();
    d_->set(&WaveformState::detail, std::nullopt);
    d_->set(&WaveformState::issue, std::nullopt);
    d_->set(&WaveformState::loading, false);
    const auto window = waveform().window;
    if (!window || window->length() > DetailWaveform::kLongestWindow || !document().project) return;
    d_->set(&WaveformState::loading, true);
    const CutProject project = *document().project;
    // The delay: a burst of zooms or pans restarts it, so only the last window of the burst
    // starts a decode.
    d_->waveformLoader_.request([this, project, window = *window](const LoadTicket& ticket) {
        d_->runInBackground([project, window, ticket](const MainThreadPost& post) {
            std::optional<WaveformSlice> slice;
            std::exception_ptr error;
            try {
                slice = DetailWaveform::load(project, window, ticket.token);
            } catch (...) {
                error = std::current_exception();
            }
            post([slice = std::move(slice), error, ticket](Internals& in) mutable {
                if (!in.waveformLoader_.isCurrent(ticket)) return;
                in.set(&WaveformState::loading, false);
                if (slice) return in.set(&WaveformState::detail, std::move(slice));
                const bool timedOut = errorIs<ProcessTimeout>(error);
                // The waveform's own short texts, by the kind of failure.
                in.set(&WaveformState::issue, std::optional<std::string>(timedOut ? L("局部波形加载超时。")
                                                                                  : L("局部波形未能加载。")));
            });
        });
    });
}

}  // namespace talvian
