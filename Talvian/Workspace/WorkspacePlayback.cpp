// The preview player: installing it for a source, its loading, position and sound reports,
// play, pause, speed, seeks, typed jumps and skipping removed ranges in skip-cuts mode.

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cmath>

#include "Model/Localization.h"
#include "Model/NumberText.h"
#include "Workspace.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

// How often the preview's position is published while it plays (12.5 times a second).
constexpr double kPreviewTickSeconds = 0.08;
// Play pressed this close to the end starts again from the beginning.
constexpr double kEndTolerance = 0.05;

}  // namespace

void Workspace::setUpPlayback() {
    previewTimeout_.setSingleShot(true);
    auditionTimeout_.setSingleShot(true);
    observePreviewSound(*player_);
}

void Workspace::postForPlayer(Player* player, std::function<void(Workspace&, Player&)> step) {
    QPointer<Player> alive(player);
    postToMain([alive, step = std::move(step)](Workspace& workspace) {
        if (alive) step(workspace, *alive);
    });
}

void Workspace::setIsPlaying(bool value) {
    if (isPlaying_ != value) publish(isPlaying_, value);
}

void Workspace::pausePlayer() {
    player_->pause();
    setIsPlaying(false);
}

// ---- Installation

void Workspace::installPlayer(const fs::path& url, double startSeconds) {
    stopAudition(false);
    if (repeatAudition_) publish(repeatAudition_, false);

    player_->pause();
    previewTimeout_.stop();
    previewTimeout_.disconnect();
    if (observer_) player_->removeTimeObserver(*observer_);
    observer_.reset();
    if (previewBoundaryObserver_ && previewBoundaryPlayer_)
        previewBoundaryPlayer_->removeTimeObserver(*previewBoundaryObserver_);
    previewBoundaryObserver_.reset();
    previewBoundaryPlayer_ = nullptr;
    previewBoundaryGeneration_ = Uuid::random();

    playbackClock_.setPosition(startSeconds);
    setIsPlaying(false);
    publish(previewReady_, false);
    publish(previewLoading_, true);
    publish(previewIssue_, std::optional<std::string>());

    // The old player goes with its observers and connections; its queued reports find it gone.
    soundConnections_.clear();
    player_ = playerFactory_.makePlayer(url);
    emit changed();
    Player* current = player_.get();
    observePreviewSound(*current);
    refreshPreviewCutBoundaries();

    // Queued reports may still arrive after a newer player replaced this one: compare identity.
    const QPointer<Player> weak(current);
    connect(
        current, &Player::statusChanged, this,
        [this, weak, startSeconds] {
            if (weak && weak == player_.get()) previewStatusChanged(startSeconds);
        },
        Qt::QueuedConnection);
    connect(&previewTimeout_, &QTimer::timeout, this, [this, current] {
        if (player_.get() != current || previewReady_) return;
        publish(previewLoading_, false);
        publish(previewIssue_, std::optional<std::string>(
                                   L("预览加载较慢。可继续等待，或重新选择原素材；就绪后会自动恢复。")));
    });
    previewTimeout_.start(loadTimeout_);
    connect(
        current, &Player::reachedEnd, this,
        [this, weak] {
            if (weak && weak == player_.get()) setIsPlaying(false);
        },
        Qt::QueuedConnection);
    observer_ = current->addPeriodicTimeObserver(kPreviewTickSeconds, [this, current](double seconds) {
        postForPlayer(current, [seconds](Workspace& workspace, Player& player) {
            if (&player == workspace.player_.get()) workspace.previewTick(seconds);
        });
    });
}

void Workspace::previewStatusChanged(double startSeconds) {
    switch (player_->status()) {
        case PlayerItemStatus::failed:
            publish(previewLoading_, false);
            publish(previewReady_, false);
            setIsPlaying(false);
            previewTimeout_.stop();
            publish(previewIssue_,
                    std::optional<std::string>(L("无法预览这份素材。可重新选择原素材，或导入其他音视频。")));
            break;
        case PlayerItemStatus::readyToPlay:
            publish(previewReady_, true);
            publish(previewLoading_, false);
            publish(previewIssue_, std::optional<std::string>());
            previewTimeout_.stop();
            seek(startSeconds, false);
            break;
        case PlayerItemStatus::unknown:
            break;
    }
}

void Workspace::previewTick(double seconds) {
    if (auditionID_) return;
    playbackClock_.setPosition(std::isfinite(seconds) ? seconds : 0);
    setIsPlaying(player_->rate() > 0);
    skipPreviewCutIfNeeded();
}

void Workspace::observePreviewSound(Player& player) {
    for (const auto& connection : soundConnections_) disconnect(connection);
    soundConnections_.clear();
    const bool muted = player.isMuted() || player.volume() <= 0;
    if (muted != previewSoundMuted_) publish(previewSoundMuted_, muted);
    if (player.defaultRate() != playbackSpeed_) publish(playbackSpeed_, player.defaultRate());

    const QPointer<Player> observed(&player);
    auto sound = [this, observed] {
        if (!observed || &activePlayer() != observed) return;
        const bool now = observed->isMuted() || observed->volume() <= 0;
        if (now != previewSoundMuted_) publish(previewSoundMuted_, now);
    };
    soundConnections_.push_back(connect(&player, &Player::mutedChanged, this, sound, Qt::QueuedConnection));
    soundConnections_.push_back(connect(&player, &Player::volumeChanged, this, sound, Qt::QueuedConnection));
    soundConnections_.push_back(connect(
        &player, &Player::defaultRateChanged, this,
        [this, observed] {
            if (!observed || &activePlayer() != observed) return;
            if (observed->defaultRate() != playbackSpeed_) publish(playbackSpeed_, observed->defaultRate());
        },
        Qt::QueuedConnection));
}

// ---- Transport

void Workspace::seek(double seconds, bool play) {
    if (!previewReady_ || cutBusy_) return;
    stopAudition(false);
    player_->seek(seconds);
    if (play) player_->play();
}

void Workspace::togglePlayback() {
    if (!previewReady_ || cutBusy_ || auditionLoading_) return;
    Player& player = activePlayer();
    if (auditionRestartPending_ || player.rate() > 0) {
        auditionRestartToken_ = Uuid::random();
        auditionRestartPending_ = false;
        player.pause();
        setIsPlaying(false);
        if (auditionPlan_) setAuditionStatus(auditionDescription(*auditionPlan_) + L(" · 已暂停"));
        return;
    }
    const auto duration = player.duration();
    if (duration && std::isfinite(*duration) && player.currentTime() >= *duration - kEndTolerance)
        player.seek(0);
    player.play();
    setIsPlaying(true);
    if (auditionPlan_) setAuditionStatus(auditionDescription(*auditionPlan_) + auditionPlaybackSuffix());
}

void Workspace::setPlaybackSpeed(float speed) {
    if (std::find(std::begin(kPlaybackSpeeds), std::end(kPlaybackSpeeds), speed) == std::end(kPlaybackSpeeds))
        return;
    if (!canPlayPreview()) return;
    Player& player = activePlayer();
    player.setDefaultRate(speed);
    if (player.rate() > 0) player.setRate(speed);
    if (playbackSpeed_ != speed) publish(playbackSpeed_, speed);
}

// ---- Skip-cuts mode

void Workspace::refreshPreviewCutBoundaries() {
    const Uuid generation = Uuid::random();
    previewBoundaryGeneration_ = generation;
    if (previewBoundaryObserver_ && previewBoundaryPlayer_)
        previewBoundaryPlayer_->removeTimeObserver(*previewBoundaryObserver_);
    previewBoundaryObserver_.reset();
    previewBoundaryPlayer_ = nullptr;

    const double duration = project_ ? project_->info.duration : 0;
    if (!project_ || !std::isfinite(duration) || !(duration > 0)) {
        previewRemovedRanges_.clear();
        return;
    }
    std::vector<CutRegion> removed;
    for (const auto& region : project_->cuts)
        if (region.remove) removed.push_back(region);
    previewRemovedRanges_ = CutMath::merged(removed, duration);
    if (!player_->hasItem()) return;

    // A range that starts at 0 has no crossing to watch: the tick handles it.
    std::vector<double> times;
    for (const auto& range : previewRemovedRanges_)
        if (range.start > 0 && range.start < duration) times.push_back(seekSeconds(range.start));
    if (times.empty()) return;
    Player* current = player_.get();
    previewBoundaryObserver_ =
        current->addBoundaryTimeObserver(std::move(times), [this, current, generation] {
            postForPlayer(current, [generation](Workspace& workspace, Player& player) {
                if (&player == workspace.player_.get() && workspace.previewBoundaryGeneration_ == generation)
                    workspace.skipPreviewCutIfNeeded();
            });
        });
    previewBoundaryPlayer_ = current;
}

void Workspace::skipPreviewCutIfNeeded() {
    if (!previewCuts_ || needsAnalysis() || auditionID_ || !(player_->rate() > 0)) return;
    const double now = player_->currentTime();
    if (!std::isfinite(now)) return;
    // Ranges are merged, so one seek clears a whole run; landing on an end does not skip again.
    for (const auto& range : previewRemovedRanges_) {
        if (range.start <= now && now < range.end) {
            player_->seek(range.end);
            return;
        }
    }
}

// ---- Typed jumps

bool Workspace::canJumpToSourceTime() const {
    return canNavigateWaveform() && previewReady_ && !auditionLoading_ && !auditionIsDraft_;
}

std::optional<std::string> Workspace::sourceTimeIssue(const std::string& text, double durationSeconds) {
    if (!std::isfinite(durationSeconds) || !(durationSeconds > 0)) return L("当前原片时间不可用");
    const auto seconds = manualSeconds(text);
    if (!seconds) return L("填写秒数、分:秒或时:分:秒");
    if (*seconds >= 0 && *seconds <= durationSeconds) return std::nullopt;
    return L("时间须在原片范围内：0 秒至片尾（约 %@ 秒）", fixedDecimal(durationSeconds, 3));
}

bool Workspace::jumpToSourceTime(const std::string& text) {
    if (!canJumpToSourceTime() || !project_) return false;
    const double duration = project_->info.duration;
    if (sourceTimeIssue(text, duration)) return false;
    const auto seconds = manualSeconds(text);
    if (!seconds) return false;
    const double target = *seconds;
    activePlayer().pause();
    navigateWaveform(target);
    playbackClock_.setPosition(target);
    // A zoomed waveform keeps its width and follows the jump when the target is out of view.
    if (waveformWindow_ && (target < waveformWindow_->start || target > waveformWindow_->end))
        setWaveformWindow(WaveformWindow::centered(target, waveformWindow_->length(), duration));
    return true;
}

}  // namespace talvian
