// Auditions: one pause (or a typed range, or a region being adjusted) as recorded or as
// edited, or the whole edited result, played through a second player whose clock is mapped
// back to source time for the cursor.

#include <algorithm>
#include <cmath>

#include "Export/AuditionComposer.h"
#include "Export/SupportDiagnostics.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Workspace.h"

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


}  // namespace

// ---- Texts

std::string Workspace::auditionLabel(AuditionMode mode, bool manual, bool draft) {
    const bool edited = mode == AuditionMode::edited;
    if (manual) return edited ? L("待添加剪后") : L("待添加原音");
    if (draft) return edited ? L("草稿剪后") : L("草稿原音");
    return edited ? L("剪后") : L("原音");
}

std::string Workspace::auditionDescription(const AuditionPlan& plan) const {
    if (auditionIsFull_) return L("完整剪后试听 · 原片位置");
    return L("%@试听 · 原素材 %@–%@", auditionLabel(plan.mode, auditionIsManual_, auditionIsDraft_),
             timeLabel(plan.sourceStart), timeLabel(plan.sourceEnd));
}

std::string Workspace::auditionPlaybackSuffix() const {
    return repeatAudition_ ? L(" · 循环试听") : L(" · 播完自动停止");
}

void Workspace::setAuditionStatus(std::optional<std::string> value) {
    if (value != auditionStatus_) publish(auditionStatus_, std::move(value));
}

// ---- Guards and derived state

bool Workspace::canAuditionFull() const {
    return previewReady_ && !cutBusy_ && !needsAnalysis() && !auditionLoading_ && !boundaryDrag_ && project_;
}

std::optional<std::pair<double, double>> Workspace::auditionSourceRange() const {
    if (!auditionID_ || auditionIsFull_ || !auditionPlan_) return std::nullopt;
    return std::make_pair(auditionPlan_->sourceStart, auditionPlan_->sourceEnd);
}

std::optional<CutProject> Workspace::adjustmentProject(const Uuid& id, double start, double end) const {
    if (!project_ || cutBusy_ || needsAnalysis()) return std::nullopt;
    const double duration = project_->info.duration;
    if (!std::isfinite(start) || !std::isfinite(end) || !std::isfinite(duration) || start < 0 ||
        end > duration || !(end - start > kAdjustmentMinimumLength))
        return std::nullopt;
    CutProject moved = *project_;
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
    if (!project_ || !previewReady_ || cutBusy_ || needsAnalysis()) return;
    const auto& cuts = project_->cuts;
    const auto region =
        std::find_if(cuts.begin(), cuts.end(), [&id](const CutRegion& r) { return r.id == id; });
    if (region == cuts.end()) return;
    const CutRegion cut = *region;
    const CutProject project = *project_;
    beginAudition(cut, project, mode, false, false);
}

void Workspace::auditionReview(AuditionMode mode) {
    if (!canReview()) return;
    auto region = reviewCut();
    if (!region) {
        const auto list = reviewCuts();
        if (list.empty()) return;
        region = list.front();
    }
    audition(region->id, mode);
}

void Workspace::auditionManual(AuditionMode mode) {
    if (!previewReady_ || !canAddManualCut() || !project_) return;
    const auto start = manualSeconds(manualStart_);
    const auto end = manualSeconds(manualEnd_);
    if (!start || !end) return;
    const CutRegion region(*start, *end, true);
    CutProject project = *project_;
    project.cuts.push_back(region);
    std::stable_sort(project.cuts.begin(), project.cuts.end(),
                     [](const CutRegion& a, const CutRegion& b) { return a.start < b.start; });
    beginAudition(region, project, mode, true, true);
}

void Workspace::beginAudition(const CutRegion& cut, const CutProject& project, AuditionMode mode, bool draft,
                              bool manual) {
    publish(boundaryDrag_, std::optional<WaveformBoundaryDrag>());
    if (!manual) setReviewID(cut.id);
    stopAudition(true);
    pausePlayer();
    std::optional<AuditionPlan> plan;
    try {
        plan = AuditionPlan::forCut(cut, project.cuts, project.info.duration, mode, kAuditionContext);
    } catch (const MediaError& error) {
        lastDiagnosticError_ = SupportDiagnostics::privateError(error.message());
        setNotice(error.message());
        return;
    }
    // A draft is auditioned while its numbers are being typed: the field keeps the keyboard.
    if (!draft && window_) window_->endTextEditing();
    startAudition(*plan, project, cut.id, draft, manual, false, 0);
}

void Workspace::auditionFull() {
    if (!canAuditionFull()) return;
    // The position of a running audition is taken over in source time.
    double sourceSeconds = activePlayer().currentTime();
    if (auditionPlan_) sourceSeconds = auditionPlan_->sourceTime(sourceSeconds);
    const CutProject project = *project_;
    std::optional<AuditionPlan> plan;
    try {
        plan = AuditionPlan::forFullEdit(project.cuts, project.info.duration);
    } catch (const MediaError& error) {
        lastDiagnosticError_ = SupportDiagnostics::privateError(error.message());
        setNotice(error.message());
        return;
    }
    const double playback = plan->playbackTime(sourceSeconds);
    const double offset = playback >= plan->duration() - kOneTick ? 0 : playback;
    publish(boundaryDrag_, std::optional<WaveformBoundaryDrag>());
    stopAudition(true);
    pausePlayer();
    if (window_) window_->endTextEditing();
    startAudition(*plan, project, Uuid::random(), false, false, true, offset);
}

// ---- Preparation and installation

void Workspace::startAudition(const AuditionPlan& plan, const CutProject& project, const Uuid& id, bool draft,
                              bool manual, bool full, double startOffset) {
    const Uuid generation = Uuid::random();
    auditionGeneration_ = generation;
    auditionID_ = id;
    auditionMode_ = plan.mode;
    auditionPlan_ = plan;
    auditionLoading_ = true;
    auditionIsDraft_ = draft;
    auditionIsManual_ = manual;
    auditionIsFull_ = full;
    auditionStartOffset_ = startOffset;
    emit changed();
    setAuditionStatus(L("正在准备%@试听…", full ? L("完整剪后") : auditionLabel(plan.mode, manual, draft)));

    // The source check and the track list read block: both run on the pool.
    const CancellationToken token = makeCancellation();
    auditionCancellation_ = token;
    QPointer<Workspace> self(this);
    runInBackground([self, project, plan, token, generation] {
        std::optional<AuditionTimeline> timeline;
        std::exception_ptr error;
        try {
            project.validateSource();
            timeline = AuditionComposer::timeline(project.source, plan, token);
        } catch (...) {
            error = std::current_exception();
        }
        if (!self) return;
        self->postToMain([timeline = std::move(timeline), error, token, generation](Workspace& workspace) {
            if (token->isCancelled() || workspace.auditionGeneration_ != generation) return;
            if (error) {
                workspace.stopAudition(true);
                workspace.setNotice(L("无法试听：%@", describeError(error)));
                return;
            }
            workspace.installAudition(*timeline, generation);
        });
    });

    auditionTimeout_.disconnect();
    connect(&auditionTimeout_, &QTimer::timeout, this, [this, generation] {
        if (auditionGeneration_ != generation || !auditionLoading_) return;
        failAudition(L("对比试听加载超时，请重新试听或重新选择原素材。"));
    });
    auditionTimeout_.start(loadTimeout_);
}

void Workspace::failAudition(const std::string& message) {
    stopAudition(true);
    setNotice(message);
}

void Workspace::installAudition(const AuditionTimeline& timeline, const Uuid& generation) {
    auditionPlayer_ = playerFactory_.makeAuditionPlayer(timeline);
    Player* current = auditionPlayer_.get();
    current->setVolume(player_->volume());
    current->setMuted(player_->isMuted());
    current->setDefaultRate(player_->defaultRate());
    emit changed();
    observePreviewSound(*current);
    const std::string description = auditionDescription(*auditionPlan_);

    // Every report checks that it still belongs to this audition and this player.
    const QPointer<Player> weak(current);
    auto current_ = [this, weak, generation] {
        return weak && weak == auditionPlayer_.get() && auditionGeneration_ == generation;
    };
    connect(
        current, &Player::rateChanged, this,
        [this, current_, description] {
            if (current_()) auditionRateChanged(description);
        },
        Qt::QueuedConnection);
    connect(
        current, &Player::statusChanged, this,
        [this, current_, description] {
            if (current_()) auditionStatusChanged(description);
        },
        Qt::QueuedConnection);
    auditionObserver_ =
        current->addPeriodicTimeObserver(kAuditionTickSeconds, [this, current_, description](double seconds) {
            postToMain([current_, description, seconds](Workspace& workspace) {
                if (current_()) workspace.auditionTick(seconds, description);
            });
        });
    connect(
        current, &Player::reachedEnd, this,
        [this, current_, description] {
            if (current_()) auditionEnded(description);
        },
        Qt::QueuedConnection);
}

// ---- Reports of the audition player

void Workspace::auditionStatusChanged(const std::string& description) {
    Player& player = *auditionPlayer_;
    switch (player.status()) {
        case PlayerItemStatus::readyToPlay: {
            if (!auditionLoading_) return;
            const double offset = auditionStartOffset_;
            if (!(offset > 0)) {
                beginAuditionPlayback(0, description);
                return;
            }
            const Uuid generation = auditionGeneration_;
            const QPointer<Player> weak(&player);
            player.seek(offset, [this, weak, generation, offset, description](bool finished) {
                postToMain([weak, generation, offset, description, finished](Workspace& workspace) {
                    if (!weak || weak != workspace.auditionPlayer_.get() ||
                        workspace.auditionGeneration_ != generation || !workspace.auditionLoading_)
                        return;
                    if (finished)
                        workspace.beginAuditionPlayback(offset, description);
                    else
                        workspace.failAudition(L("无法定位试听位置，请重试。"));
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

void Workspace::beginAuditionPlayback(double seconds, const std::string& description) {
    publish(auditionLoading_, false);
    auditionTimeout_.stop();
    setAuditionStatus(description + auditionPlaybackSuffix());
    playbackClock_.setPosition(auditionPlan_->sourceTime(seconds));
    auditionPlayer_->play();
    setIsPlaying(true);
}

void Workspace::auditionTick(double seconds, const std::string& description) {
    // The cursor moves over the source waveform and jumps over what an edited plan leaves out.
    playbackClock_.setPosition(auditionPlan_->sourceTime(seconds));
    if (!auditionRestartPending_) setIsPlaying(auditionPlayer_->rate() > 0);
    if (isPlaying_) setAuditionStatus(description + auditionPlaybackSuffix());
}

void Workspace::auditionRateChanged(const std::string& description) {
    if (auditionRestartPending_) return;
    Player& player = *auditionPlayer_;
    setIsPlaying(player.rate() > 0);
    if (isPlaying_) {
        setAuditionStatus(description + auditionPlaybackSuffix());
        return;
    }
    if (auditionLoading_) return;
    const auto duration = player.duration();
    const std::string ended = L(" · 已结束");
    const bool showsEnd = auditionStatus_ && auditionStatus_->ends_with(ended);
    if (duration && std::isfinite(*duration) && player.currentTime() < *duration - kAuditionEndTolerance &&
        !showsEnd)
        setAuditionStatus(description + L(" · 已暂停"));
}

void Workspace::auditionEnded(const std::string& description) {
    Player& player = *auditionPlayer_;
    const AuditionPlan& plan = *auditionPlan_;
    if (player.rate() != 0 || player.currentTime() < plan.duration() - kAuditionEndTolerance) return;
    if (!repeatAudition_ || cutBusy_) {
        setIsPlaying(false);
        playbackClock_.setPosition(plan.sourceTime(plan.duration()));
        setAuditionStatus(description + L(" · 已结束"));
        return;
    }
    if (auditionRestartPending_) return;
    const Uuid restart = Uuid::random();
    auditionRestartToken_ = restart;
    auditionRestartPending_ = true;
    setIsPlaying(true);
    const Uuid generation = auditionGeneration_;
    const QPointer<Player> weak(&player);
    player.seek(0, [this, weak, generation, restart, description](bool finished) {
        postToMain([weak, generation, restart, description, finished](Workspace& workspace) {
            if (!weak || weak != workspace.auditionPlayer_.get() ||
                workspace.auditionGeneration_ != generation || workspace.auditionRestartToken_ != restart)
                return;
            workspace.auditionRestartPending_ = false;
            if (finished && workspace.repeatAudition_ && !workspace.cutBusy_) {
                workspace.playbackClock_.setPosition(workspace.auditionPlan_->sourceTime(0));
                workspace.setAuditionStatus(description + workspace.auditionPlaybackSuffix());
                weak->play();
                workspace.setIsPlaying(true);
            } else {
                workspace.setIsPlaying(false);
                workspace.setAuditionStatus(description + L(" · 已暂停"));
            }
        });
    });
}

// ---- Looping and stopping

void Workspace::setRepeatAudition(bool on) {
    if (!canRepeatAudition()) return;
    publish(repeatAudition_, on);
    const bool showsEnd = auditionStatus_ && auditionStatus_->ends_with(L(" · 已结束"));
    if ((on || !auditionRestartPending_) && auditionPlan_ && !showsEnd)
        setAuditionStatus(auditionDescription(*auditionPlan_) + auditionPlaybackSuffix());
    if (!on && auditionRestartPending_) {
        auditionRestartToken_ = Uuid::random();
        auditionRestartPending_ = false;
        if (auditionPlayer_) auditionPlayer_->pause();
        setIsPlaying(false);
        if (auditionPlan_) setAuditionStatus(auditionDescription(*auditionPlan_) + L(" · 已暂停"));
    }
}

void Workspace::stopAudition(bool returnToSource) {
    if (!auditionID_) return;
    const double shown = playbackClock_.position();
    auditionRestartToken_ = Uuid::random();
    auditionRestartPending_ = false;
    auditionGeneration_ = Uuid::random();
    auditionCancellation_->cancel();
    auditionTimeout_.stop();
    if (auditionPlayer_) {
        // Sound and speed changed during the audition carry over to the preview.
        player_->setVolume(auditionPlayer_->volume());
        player_->setMuted(auditionPlayer_->isMuted());
        player_->setDefaultRate(auditionPlayer_->defaultRate());
        auditionPlayer_->pause();
        if (auditionObserver_) auditionPlayer_->removeTimeObserver(*auditionObserver_);
        auditionObserver_.reset();
        auditionPlayer_.reset();
    }
    observePreviewSound(*player_);
    auditionID_.reset();
    auditionPlan_.reset();
    auditionLoading_ = false;
    auditionStatus_.reset();
    auditionIsDraft_ = false;
    auditionIsManual_ = false;
    auditionIsFull_ = false;
    auditionStartOffset_ = 0;
    isPlaying_ = false;
    emit changed();
    if (returnToSource) player_->seek(shown);
}

void Workspace::stopAdjustmentAudition(const Uuid& id) {
    if (auditionIsDraft_ && auditionID_ == id) stopAudition(true);
}

}  // namespace talvian
