// Auditions: one pause (or a typed range, or a region being adjusted) as recorded or as
// edited, or the whole edited result, played through a second player whose clock is mapped
// back to source time for the cursor.

#include <algorithm>
#include <cmath>

#include "Export/SupportDiagnostics.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "WorkspaceInternals.h"

namespace talvian {

namespace {

// Sound kept on each side of the auditioned region, seconds.
constexpr double kAuditionContext = 1.2;
// The audition's position is published 20 times a second.
constexpr double kAuditionTickSeconds = 0.05;
// A time this close to the end counts as the end (the player stops a little short).
constexpr double kAuditionEndTolerance = 0.05;
// One tick of the 1/60000 s seek grid.
constexpr double kOneTick = 1.0 / kAuditionTimescale;
// Shortest region a draft audition of an adjustment accepts, seconds.
constexpr double kAdjustmentMinimumLength = 0.08;

std::string auditionLabel(AuditionMode mode, bool manual, bool draft) {
    const bool edited = mode == AuditionMode::edited;
    if (manual) return edited ? L("待添加剪后") : L("待添加原音");
    if (draft) return edited ? L("草稿剪后") : L("草稿原音");
    return edited ? L("剪后") : L("原音");
}

std::string auditionDescription(const AuditionState& audition) {
    if (audition.full) return L("完整剪后试听 · 原片位置");
    const AuditionPlan& plan = audition.plan;
    return L("%@试听 · 原素材 %@–%@", auditionLabel(plan.mode, audition.manual, audition.draft),
             timeLabel(plan.sourceStart), timeLabel(plan.sourceEnd));
}

std::string auditionPlaybackSuffix(bool repeat) {
    return repeat ? L(" · 循环试听") : L(" · 播完自动停止");
}

}  // namespace

// ---- Texts and published facts

std::optional<std::string> Workspace::auditionStatus() const {
    const auto& audition = playback().audition;
    if (!audition) return std::nullopt;
    switch (audition->phase) {
        case AuditionState::Phase::preparing:
            return L("正在准备%@试听…",
                     audition->full ? L("完整剪后")
                                    : auditionLabel(audition->plan.mode, audition->manual, audition->draft));
        case AuditionState::Phase::playing:
            return auditionDescription(*audition) + auditionPlaybackSuffix(playback().repeatAudition);
        case AuditionState::Phase::paused:
            return auditionDescription(*audition) + L(" · 已暂停");
        case AuditionState::Phase::ended:
            return auditionDescription(*audition) + L(" · 已结束");
    }
    return std::nullopt;
}

std::optional<Uuid> Workspace::auditionID() const {
    if (!playback().audition) return std::nullopt;
    return playback().audition->id;
}

Player* Workspace::auditionPlayer() const {
    return d_->audition_ && d_->audition_->player ? d_->audition_->player->get() : nullptr;
}

bool Workspace::Internals::auditionLoading() const {
    return playback_->audition && playback_->audition->phase == AuditionState::Phase::preparing;
}

void Workspace::Internals::setAuditionPhase(AuditionState::Phase phase) {
    if (playback_->audition && playback_->audition->phase != phase) edit(playback_).audition->phase = phase;
}

bool Workspace::Internals::isCurrentAudition(const Uuid& generation, const Player* reporting) const {
    return audition_ && audition_->generation == generation && reporting &&
           reporting == owner.auditionPlayer();
}

// ---- Guards and derived state

bool Workspace::Internals::canAuditionFull() const {
    return playback().previewReady && !job().busy && !needsAnalysis() && !auditionLoading() &&
           !waveform().boundaryDrag && document().project;
}

std::optional<std::pair<double, double>> Workspace::auditionSourceRange() const {
    const auto& audition = playback().audition;
    if (!audition || audition->full) return std::nullopt;
    return std::make_pair(audition->plan.sourceStart, audition->plan.sourceEnd);
}

std::optional<CutProject> Workspace::adjustmentProject(const Uuid& id, double start, double end) const {
    if (!document().project || job().busy || d_->needsAnalysis()) return std::nullopt;
    const double duration = document().project->info.duration;
    if (!std::isfinite(start) || !std::isfinite(end) || !std::isfinite(duration) || start < 0 ||
        end > duration || !(end - start > kAdjustmentMinimumLength))
        return std::nullopt;
    CutProject moved = *document().project;
    for (auto& region : moved.cuts) {
        if (region.id == id) {
            region.start = start;
            region.end = end;
            return moved;
        }
    }
    return std::nullopt;
}

// ---- Entry points

void Workspace::audition(const Uuid& id, AuditionMode mode) {
    const Operation operation(*this);
    if (!document().project || !playback().previewReady || job().busy || d_->needsAnalysis()) return;
    const auto& cuts = document().project->cuts;
    const auto region =
        std::find_if(cuts.begin(), cuts.end(), [&id](const CutRegion& r) { return r.id == id; });
    if (region == cuts.end()) return;
    const CutRegion cut = *region;
    const CutProject project = *document().project;
    beginAudition(cut, project, mode, false, false);
}

void Workspace::auditionReview(AuditionMode mode) {
    const Operation operation(*this);
    if (!d_->canReview()) return;
    auto region = reviewCut();
    if (!region) {
        const auto list = reviewCuts();
        if (list.empty()) return;
        region = list.front();
    }
    audition(region->id, mode);
}

void Workspace::auditionManual(AuditionMode mode) {
    const Operation operation(*this);
    if (!playback().previewReady || !d_->canAddManualCut() || !document().project) return;
    const auto start = manualSeconds(review().manualStart);
    const auto end = manualSeconds(review().manualEnd);
    if (!start || !end) return;
    const CutRegion region(*start, *end, true);
    CutProject project = *document().project;
    project.cuts.push_back(region);
    std::stable_sort(project.cuts.begin(), project.cuts.end(),
                     [](const CutRegion& a, const CutRegion& b) { return a.start < b.start; });
    beginAudition(region, project, mode, true, true);
}

void Workspace::beginAudition(const CutRegion& cut, const CutProject& project, AuditionMode mode, bool draft,
                              bool manual) {
    const Operation operation(*this);
    d_->set(&WaveformState::boundaryDrag, std::nullopt);
    if (!manual) d_->setReviewID(cut.id);
    stopAudition(true);
    d_->pausePlayer();
    std::optional<AuditionPlan> plan;
    try {
        plan = AuditionPlan::forCut(cut, project.cuts, project.info.duration, mode, kAuditionContext);
    } catch (...) {
        const std::string text = describeError(std::current_exception());
        d_->lastDiagnosticError_ = SupportDiagnostics::privateError(text);
        setNotice(text);
        return;
    }
    // A draft is auditioned while its numbers are being typed: the field keeps the keyboard.
    if (!draft && d_->window_) d_->window_->endTextEditing();
    d_->startAudition(*plan, project, cut.id, draft, manual, false, 0);
}

void Workspace::auditionFull() {
    const Operation operation(*this);
    if (!d_->canAuditionFull()) return;
    // The position of a running audition is taken over in source time.
    double sourceSeconds = d_->activePlayer().currentTime();
    if (playback().audition) sourceSeconds = playback().audition->plan.sourceTime(sourceSeconds);
    const CutProject project = *document().project;
    std::optional<AuditionPlan> plan;
    try {
        plan = AuditionPlan::forFullEdit(project.cuts, project.info.duration);
    } catch (...) {
        const std::string text = describeError(std::current_exception());
        d_->lastDiagnosticError_ = SupportDiagnostics::privateError(text);
        setNotice(text);
        return;
    }
    const double playback = plan->playbackTime(sourceSeconds);
    const double offset = playback >= plan->duration() - kOneTick ? 0 : playback;
    d_->set(&WaveformState::boundaryDrag, std::nullopt);
    stopAudition(true);
    d_->pausePlayer();
    if (d_->window_) d_->window_->endTextEditing();
    d_->startAudition(*plan, project, Uuid::random(), false, false, true, offset);
}

// ---- Preparation and installation

void Workspace::Internals::startAudition(const AuditionPlan& plan, const CutProject& project, const Uuid& id,
                                         bool draft, bool manual, bool full, double startOffset) {
    audition_ = std::make_unique<AuditionSession>(startOffset);
    PlaybackState& playback = edit(playback_);
    playback.audition = AuditionState{id, plan, draft, manual, full, AuditionState::Phase::preparing};
    playback.auditionMode = plan.mode;

    // The source check and the track list read block: both run on the pool.
    const Uuid generation = audition_->generation;
    const CancellationToken token = audition_->preparation;
    const MediaEntries media = playerFactory_.media();
    runInBackground([media, project, plan, token, generation](const MainThreadPost& post) {
        std::optional<AuditionTimeline> timeline;
        std::exception_ptr error;
        try {
            project.validateSource();
            timeline = media.auditionTimeline(project.source, plan, token);
        } catch (...) {
            error = std::current_exception();
        }
        post([timeline = std::move(timeline), error, token, generation](Internals& in) {
            if (token->isCancelled() || !in.audition_ || in.audition_->generation != generation) return;
            if (!error) return in.installAudition(*timeline, generation);
            in.failAudition(L("无法试听：%@", describeError(error, L("无法读取这份素材的音视频轨道。"))));
        });
    });

    // The time limit goes with the session: a later audition has a timer of its own.
    connect(&audition_->timeout, &QTimer::timeout, &owner, asOperation([this] {
        if (auditionLoading()) failAudition(L("对比试听加载超时，请重新试听或重新选择原素材。"));
    }));
    audition_->timeout.start(loadTimeout_);
}

void Workspace::Internals::failAudition(const std::string& message) {
    owner.stopAudition(true);
    owner.setNotice(message);
}

void Workspace::Internals::installAudition(const AuditionTimeline& timeline, const Uuid& generation) {
    audition_->player = std::make_unique<OwnedPlayer>(playerFactory_.makeAuditionPlayer(timeline));
    OwnedPlayer& owned = *audition_->player;
    Player* current = owned.get();
    current->setVolume(owner.player().volume());
    current->setMuted(owner.player().isMuted());
    current->setDefaultRate(owner.player().defaultRate());
    set(&PlaybackState::activePlayer, ActivePlayer::audition);
    ++edit(playback_).playerRevision;
    observeSound(owned);
    followSound(*current);

    // Every report checks that it still belongs to this audition and this player.
    const QPointer<Player> weak(current);
    const auto belongs = [weak, generation](const Internals& in) {
        return in.isCurrentAudition(generation, weak.data());
    };
    owned.keep(connect(current, &Player::rateChanged, &owner, asOperation([this, belongs] {
                           if (belongs(*this)) auditionRateChanged();
                       }),
                       Qt::QueuedConnection));
    owned.keep(connect(current, &Player::statusChanged, &owner, asOperation([this, belongs] {
                           if (belongs(*this)) auditionStatusChanged();
                       }),
                       Qt::QueuedConnection));
    owned.addPeriodicObserver(kAuditionTickSeconds, [post = MainThreadPost(owner), belongs](double seconds) {
        post([belongs, seconds](Internals& in) {
            if (belongs(in)) in.auditionTick(seconds);
        });
    });
    owned.keep(connect(current, &Player::reachedEnd, &owner, asOperation([this, belongs] {
                           if (belongs(*this)) auditionEnded();
                       }),
                       Qt::QueuedConnection));
}

// ---- Reports of the audition player

void Workspace::Internals::auditionStatusChanged() {
    Player& reporting = *owner.auditionPlayer();
    switch (reporting.status()) {
        case PlayerItemStatus::readyToPlay: {
            if (!auditionLoading()) return;
            const double offset = audition_->startOffset;
            if (!(offset > 0)) {
                beginAuditionPlayback(0);
                return;
            }
            const Uuid generation = audition_->generation;
            const QPointer<Player> weak(&reporting);
            reporting.seek(offset, [post = MainThreadPost(owner), weak, generation, offset](bool finished) {
                post([weak, generation, offset, finished](Internals& in) {
                    if (!in.isCurrentAudition(generation, weak.data()) || !in.auditionLoading()) return;
                    if (finished)
                        in.beginAuditionPlayback(offset);
                    else
                        in.failAudition(L("无法定位试听位置，请重试。"));
                });
            });
            break;
        }
        case PlayerItemStatus::failed:
            failAudition(L("这份素材暂时无法对比试听，请重新选择原素材。"));
            break;
        case PlayerItemStatus::unknown:
            break;
    }
}

void Workspace::Internals::beginAuditionPlayback(double seconds) {
    audition_->timeout.stop();
    setAuditionPhase(AuditionState::Phase::playing);
    playbackClock_.setPosition(playback_->audition->plan.sourceTime(seconds));
    owner.auditionPlayer()->play();
    setIsPlaying(true);
}

void Workspace::Internals::auditionTick(double seconds) {
    // The cursor moves over the source waveform and jumps over what an edited plan leaves out.
    playbackClock_.setPosition(playback_->audition->plan.sourceTime(seconds));
    if (!audition_->restartPending) setIsPlaying(owner.auditionPlayer()->rate() > 0);
    if (playback().isPlaying && !auditionLoading()) setAuditionPhase(AuditionState::Phase::playing);
}

void Workspace::Internals::auditionRateChanged() {
    if (audition_->restartPending) return;
    Player& reporting = *owner.auditionPlayer();
    setIsPlaying(reporting.rate() > 0);
    if (auditionLoading()) return;
    if (playback().isPlaying) return setAuditionPhase(AuditionState::Phase::playing);
    const auto duration = reporting.duration();
    const bool ended = playback_->audition->phase == AuditionState::Phase::ended;
    if (duration && std::isfinite(*duration) && reporting.currentTime() < *duration - kAuditionEndTolerance &&
        !ended)
        setAuditionPhase(AuditionState::Phase::paused);
}

void Workspace::Internals::auditionEnded() {
    Player& reporting = *owner.auditionPlayer();
    const AuditionPlan plan = playback_->audition->plan;
    if (reporting.rate() != 0 || reporting.currentTime() < plan.duration() - kAuditionEndTolerance) return;
    if (!playback().repeatAudition || job().busy) {
        setIsPlaying(false);
        playbackClock_.setPosition(plan.sourceTime(plan.duration()));
        setAuditionPhase(AuditionState::Phase::ended);
        return;
    }
    if (audition_->restartPending) return;
    const Uuid restart = Uuid::random();
    audition_->restartToken = restart;
    audition_->restartPending = true;
    setIsPlaying(true);
    const Uuid generation = audition_->generation;
    const QPointer<Player> weak(&reporting);
    reporting.seek(0, [post = MainThreadPost(owner), weak, generation, restart](bool finished) {
        post([weak, generation, restart, finished](Internals& in) {
            if (!in.isCurrentAudition(generation, weak.data()) || in.audition_->restartToken != restart)
                return;
            in.audition_->restartPending = false;
            if (finished && in.playback().repeatAudition && !in.job().busy) {
                in.playbackClock_.setPosition(in.playback_->audition->plan.sourceTime(0));
                in.setAuditionPhase(AuditionState::Phase::playing);
                weak->play();
                in.setIsPlaying(true);
            } else {
                in.setIsPlaying(false);
                in.setAuditionPhase(AuditionState::Phase::paused);
            }
        });
    });
}

// ---- Looping and stopping

void Workspace::setRepeatAudition(bool on) {
    const Operation operation(*this);
    if (!d_->canRepeatAudition()) return;
    d_->set(&PlaybackState::repeatAudition, on);
    // Unless it reports the end, the status line now names the new playback mode.
    const bool ended = playback().audition->phase == AuditionState::Phase::ended;
    if ((on || !d_->audition_->restartPending) && !ended) d_->setAuditionPhase(AuditionState::Phase::playing);
    if (!on && d_->audition_->restartPending) {
        d_->audition_->cancelRestart();
        if (Player* playing = auditionPlayer()) playing->pause();
        d_->setIsPlaying(false);
        d_->setAuditionPhase(AuditionState::Phase::paused);
    }
}

void Workspace::stopAudition(bool returnToSource) {
    const Operation operation(*this);
    if (!playback().audition) return;
    const double shown = d_->playbackClock_.position();
    std::unique_ptr<AuditionSession> session = std::move(d_->audition_);
    if (Player* playing = session->player ? session->player->get() : nullptr) {
        // Sound and speed changed during the audition carry over to the preview.
        player().setVolume(playing->volume());
        player().setMuted(playing->isMuted());
        player().setDefaultRate(playing->defaultRate());
        playing->pause();
        d_->set(&PlaybackState::activePlayer, ActivePlayer::preview);
        ++d_->edit(d_->playback_).playerRevision;
    }
    // Its player goes with its observers and connections; its tasks and timer with it.
    session.reset();
    d_->followSound(player());
    PlaybackState& playback = d_->edit(d_->playback_);
    playback.audition.reset();
    playback.isPlaying = false;
    if (returnToSource) player().seek(shown);
}

void Workspace::stopAdjustmentAudition(const Uuid& id) {
    const Operation operation(*this);
    if (auditionIsDraft() && auditionID() == id) stopAudition(true);
}

}  // namespace talvian
