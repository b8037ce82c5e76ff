// The preview player: installing it for a source, its loading, position and sound reports,
// play, pause, speed, seeks, typed jumps and skipping removed ranges in skip-cuts mode.

#include <algorithm>
#include <cmath>

#include "Model/Localization.h"
#include "Support/NumberText.h"
#include "WorkspaceInternals.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

// How often the preview's position is published while it plays (12.5 times a second).
constexpr double kPreviewTickSeconds = 0.08;
// Play pressed this close to the end starts again from the beginning.
constexpr double kEndTolerance = 0.05;

}  // namespace

void Workspace::Internals::setUpPlayback() {
    previewTimeout_.setSingleShot(true);
    // The timer runs only while the current preview loads: installPlayer restarts it.
    connect(&previewTimeout_, &QTimer::timeout, &owner, asOperation([this] {
        if (playback().previewReady) return;
        set(&PlaybackState::previewLoading, false);
        set(&PlaybackState::previewIssue,
            std::optional<std::string>(L("预览加载较慢。可继续等待，或重新选择原素材；就绪后会自动恢复。")));
    }));
    observeSound(*preview_);
    followSound(owner.player());
}

Player& Workspace::player() const {
    return **d_->preview_;
}

void Workspace::Internals::postForPlayer(Player* player, std::function<void(Internals&, Player&)> step) {
    QPointer<Player> alive(player);
    postToMain([alive, step = std::move(step)](Internals& in) {
        if (alive) step(in, *alive);
    });
}

Player& Workspace::Internals::activePlayer() const {
    return audition_ && audition_->player ? **audition_->player : owner.player();
}

void Workspace::Internals::pausePlayer() {
    owner.player().pause();
    setIsPlaying(false);
}

// ---- Installation

void Workspace::Internals::installPlayer(const fs::path& url, double startSeconds) {
    owner.stopAudition(false);
    set(&PlaybackState::repeatAudition, false);

    owner.player().pause();
    previewTimeout_.stop();
    previewBoundaryGeneration_ = Uuid::random();
    playbackClock_.setPosition(startSeconds);
    setIsPlaying(false);
    set(&PlaybackState::previewReady, false);
    set(&PlaybackState::previewLoading, true);
    set(&PlaybackState::previewIssue, std::nullopt);

    // The old player goes with its observers and connections; its queued reports find it gone.
    preview_ = std::make_unique<OwnedPlayer>(playerFactory_.makePlayer(url));
    ++edit(playback_).playerRevision;
    OwnedPlayer& current = *preview_;
    observeSound(current);
    followSound(*current);
    refreshPreviewCutBoundaries();

    // Queued reports may still arrive after a newer player replaced this one: compare identity.
    const QPointer<Player> weak(current.get());
    current.keep(connect(current.get(), &Player::statusChanged, &owner,
                         asOperation([this, weak, startSeconds] {
                             if (weak && weak == &owner.player()) previewStatusChanged(startSeconds);
                         }),
                         Qt::QueuedConnection));
    previewTimeout_.start(loadTimeout_);
    current.keep(connect(current.get(), &Player::reachedEnd, &owner, asOperation([this, weak] {
                             if (weak && weak == &owner.player()) setIsPlaying(false);
                         }),
                         Qt::QueuedConnection));
    Player* raw = current.get();
    current.addPeriodicObserver(kPreviewTickSeconds, [this, raw](double seconds) {
        postForPlayer(raw, [seconds](Internals& in, Player& reporting) {
            if (&reporting == &in.owner.player()) in.previewTick(seconds);
        });
    });
}

void Workspace::Internals::previewStatusChanged(double startSeconds) {
    switch (owner.player().status()) {
        case PlayerItemStatus::failed:
            set(&PlaybackState::previewLoading, false);
            set(&PlaybackState::previewReady, false);
            setIsPlaying(false);
            previewTimeout_.stop();
            set(&PlaybackState::previewIssue,
                std::optional<std::string>(L("无法预览这份素材。可重新选择原素材，或导入其他音视频。")));
            break;
        case PlayerItemStatus::readyToPlay:
            set(&PlaybackState::previewReady, true);
            set(&PlaybackState::previewLoading, false);
            set(&PlaybackState::previewIssue, std::nullopt);
            previewTimeout_.stop();
            seek(startSeconds, false);
            break;
        case PlayerItemStatus::unknown:
            break;
    }
}

void Workspace::Internals::previewTick(double seconds) {
    if (playback_->audition) return;
    playbackClock_.setPosition(std::isfinite(seconds) ? seconds : 0);
    setIsPlaying(owner.player().rate() > 0);
    skipPreviewCutIfNeeded();
}

void Workspace::Internals::observeSound(OwnedPlayer& owned) {
    Player* observed = owned.get();
    const QPointer<Player> weak(observed);
    // Only the active player's reports count: the preview's are ignored during an audition.
    const auto sound = asOperation([this, weak] {
        if (!weak || weak.data() != &activePlayer()) return;
        set(&PlaybackState::soundMuted, weak->isMuted() || weak->volume() <= 0);
    });
    owned.keep(connect(observed, &Player::mutedChanged, &owner, sound, Qt::QueuedConnection));
    owned.keep(connect(observed, &Player::volumeChanged, &owner, sound, Qt::QueuedConnection));
    owned.keep(connect(observed, &Player::defaultRateChanged, &owner, asOperation([this, weak] {
                           if (!weak || weak.data() != &activePlayer()) return;
                           set(&PlaybackState::speed, weak->defaultRate());
                       }),
                       Qt::QueuedConnection));
}

void Workspace::Internals::followSound(Player& player) {
    set(&PlaybackState::soundMuted, player.isMuted() || player.volume() <= 0);
    set(&PlaybackState::speed, player.defaultRate());
}

// ---- Transport

void Workspace::Internals::seek(double seconds, bool play) {
    if (!playback().previewReady || job().busy) return;
    owner.stopAudition(false);
    owner.player().seek(seconds);
    if (play) owner.player().play();
}

void Workspace::togglePlayback() {
    const Operation operation(*this);
    if (!playback().previewReady || job().busy || d_->auditionLoading()) return;
    Player& active = d_->activePlayer();
    if ((d_->audition_ && d_->audition_->restartPending) || active.rate() > 0) {
        if (d_->audition_) d_->audition_->cancelRestart();
        active.pause();
        d_->setIsPlaying(false);
        d_->setAuditionPhase(AuditionState::Phase::paused);
        return;
    }
    const auto duration = active.duration();
    if (duration && std::isfinite(*duration) && active.currentTime() >= *duration - kEndTolerance)
        active.seek(0);
    active.play();
    d_->setIsPlaying(true);
    d_->setAuditionPhase(AuditionState::Phase::playing);
}

void Workspace::setPlaybackSpeed(float speed) {
    const Operation operation(*this);
    if (std::find(std::begin(kPlaybackSpeeds), std::end(kPlaybackSpeeds), speed) == std::end(kPlaybackSpeeds))
        return;
    if (!d_->canPlayPreview()) return;
    Player& active = d_->activePlayer();
    active.setDefaultRate(speed);
    if (active.rate() > 0) active.setRate(speed);
    d_->set(&PlaybackState::speed, speed);
}

// ---- Skip-cuts mode

void Workspace::Internals::refreshPreviewCutBoundaries() {
    const Uuid generation = Uuid::random();
    previewBoundaryGeneration_ = generation;
    preview_->setBoundaryObserver({}, {});

    // Only skip-cuts mode watches the ranges; an edit outside it does not merge them.
    const double duration = document().project ? document().project->info.duration : 0;
    if (!playback().previewCuts || !document().project || !std::isfinite(duration) || !(duration > 0)) {
        previewRemovedRanges_.clear();
        return;
    }
    std::vector<CutRegion> removed;
    for (const auto& region : document().project->cuts)
        if (region.remove) removed.push_back(region);
    previewRemovedRanges_ = CutMath::merged(removed, duration);
    if (!owner.player().hasItem()) return;

    // A range that starts at 0 has no crossing to watch: the tick handles it.
    std::vector<double> times;
    for (const auto& range : previewRemovedRanges_)
        if (range.start > 0 && range.start < duration) times.push_back(seekSeconds(range.start));
    Player* current = preview_->get();
    preview_->setBoundaryObserver(std::move(times), [this, current, generation] {
        postForPlayer(current, [generation](Internals& in, Player& reporting) {
            if (&reporting == &in.owner.player() && in.previewBoundaryGeneration_ == generation)
                in.skipPreviewCutIfNeeded();
        });
    });
}

void Workspace::Internals::skipPreviewCutIfNeeded() {
    if (!playback().previewCuts || needsAnalysis() || playback_->audition || !(owner.player().rate() > 0))
        return;
    const double now = owner.player().currentTime();
    if (!std::isfinite(now)) return;
    // Ranges are merged, so one seek clears a whole run; landing on an end does not skip again.
    for (const auto& range : previewRemovedRanges_) {
        if (range.start <= now && now < range.end) {
            owner.player().seek(range.end);
            return;
        }
    }
}

// ---- Typed jumps

bool Workspace::Internals::canJumpToSourceTime() const {
    return canNavigateWaveform() && playback().previewReady && !auditionLoading() && !owner.auditionIsDraft();
}

std::optional<std::string> Workspace::sourceTimeIssue(const std::string& text, double durationSeconds) {
    if (!std::isfinite(durationSeconds) || !(durationSeconds > 0)) return L("当前原片时间不可用");
    const auto seconds = manualSeconds(text);
    if (!seconds) return L("填写秒数、分:秒或时:分:秒");
    if (*seconds >= 0 && *seconds <= durationSeconds) return std::nullopt;
    return L("时间须在原片范围内：0 秒至片尾（约 %@ 秒）", fixedDecimal(durationSeconds, 3));
}

bool Workspace::jumpToSourceTime(const std::string& text) {
    const Operation operation(*this);
    if (!d_->canJumpToSourceTime() || !document().project) return false;
    const double duration = document().project->info.duration;
    if (sourceTimeIssue(text, duration)) return false;
    const auto seconds = manualSeconds(text);
    if (!seconds) return false;
    const double target = *seconds;
    d_->activePlayer().pause();
    navigateWaveform(target);
    d_->playbackClock_.setPosition(target);
    // A zoomed waveform keeps its width and follows the jump when the target is out of view.
    const auto window = waveform().window;
    if (window && (target < window->start || target > window->end))
        setWaveformWindow(WaveformWindow::centered(target, window->length(), duration));
    return true;
}

}  // namespace talvian
