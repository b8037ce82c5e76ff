#include "Player/FakePlayer.h"

#include <algorithm>
#include <cmath>

namespace talvian {

FakePlayer::FakePlayer() = default;

FakePlayer::FakePlayer(std::filesystem::path file) : hasItem_(true), file_(std::move(file)) {}

FakePlayer::FakePlayer(AuditionTimeline timeline)
    : hasItem_(true), file_(timeline.source), timeline_(std::move(timeline)) {}

void FakePlayer::finishLoading(double durationSeconds) {
    if (!hasItem_ || status_ != PlayerItemStatus::unknown) return;
    status_ = PlayerItemStatus::readyToPlay;
    duration_ = durationSeconds;
    scheduleReports();
    reportFrame();
}

void FakePlayer::failLoading() {
    if (!hasItem_ || status_ != PlayerItemStatus::unknown) return;
    status_ = PlayerItemStatus::failed;
    rate_ = 0;
    if (seekPending_) completeSeeks(false);
    scheduleReports();
}

void FakePlayer::advance(double wallSeconds) {
    if (status_ != PlayerItemStatus::readyToPlay || !(wallSeconds > 0)) return;
    const double before = time_;
    const bool playing = rate_ > 0;
    bool ended = false;
    if (playing) {
        time_ += wallSeconds * rate_;
        if (duration_ && time_ >= *duration_) {
            time_ = *duration_;
            rate_ = 0;
            ended = true;
            scheduleReports();
        }
    }
    const double now = time_;
    if (now > before) post([this, before, now] { fireBoundaries(before, now); });
    if (ended) post([this] { emit reachedEnd(); });
    if (playing) post([this, now] { firePeriodicObservers(now); });
}

void FakePlayer::setFrameColour(std::optional<QColor> colour) {
    frameColour_ = colour;
    reportFrame();
}

void FakePlayer::reportFrame() {
    if (frameColour_ && status_ == PlayerItemStatus::readyToPlay) post([this] { emit frameReady(); });
}

bool FakePlayer::drawFrame(QImage& target) {
    if (!frameColour_ || status_ != PlayerItemStatus::readyToPlay) return false;
    target.fill(*frameColour_);
    return true;
}

void FakePlayer::completeSeeks(bool finished) {
    if (!seekPending_) return;
    seekPending_ = false;
    auto completion = std::move(pendingSeek_);
    pendingSeek_ = {};
    const double now = time_;
    post([this, completion, finished, now] {
        if (completion) completion(finished);
        if (finished) firePeriodicObservers(now);
    });
}

void FakePlayer::play() {
    ++playCount_;
    if (!hasItem_ || status_ == PlayerItemStatus::failed) return;
    // A player at the end of its item stays there until it is moved.
    if (duration_ && time_ >= *duration_) return;
    rate_ = defaultRate_;
    scheduleReports();
}

void FakePlayer::pause() {
    ++pauseCount_;
    rate_ = 0;
    scheduleReports();
}

void FakePlayer::setRate(float rate) {
    if (!(rate > 0)) {
        pause();
        return;
    }
    if (!hasItem_ || status_ == PlayerItemStatus::failed) return;
    rate_ = rate;
    scheduleReports();
}

void FakePlayer::setDefaultRate(float rate) {
    defaultRate_ = rate;
    scheduleReports();
}

void FakePlayer::setVolume(float volume) {
    volume_ = std::clamp(volume, 0.0f, 1.0f);
    scheduleReports();
}

void FakePlayer::setMuted(bool muted) {
    muted_ = muted;
    scheduleReports();
}

void FakePlayer::seek(double seconds, SeekCompletion completion) {
    if (seekPending_) completeSeeks(false);
    double target = seekSeconds(seconds);
    if (duration_) target = std::min(target, *duration_);
    time_ = target;
    seekLog_.push_back(target);
    if (!hasItem_ || status_ == PlayerItemStatus::failed) {
        post([completion] {
            if (completion) completion(false);
        });
        return;
    }
    seekPending_ = true;
    pendingSeek_ = std::move(completion);
    const std::uint64_t generation = ++seekGeneration_;
    // Lands a moment later, so that a seek right after it still replaces it.
    if (!holdSeeks_)
        post([this, generation] {
            if (seekPending_ && generation == seekGeneration_) completeSeeks(true);
        });
}

std::unique_ptr<Player> FakePlayerFactory::keep(std::unique_ptr<FakePlayer> player) {
    created.emplace_back(player.get());
    if (onCreate) onCreate(*player);
    return player;
}

std::unique_ptr<Player> FakePlayerFactory::makeEmptyPlayer() {
    return keep(std::make_unique<FakePlayer>());
}

std::unique_ptr<Player> FakePlayerFactory::makePlayer(const std::filesystem::path& file) {
    return keep(std::make_unique<FakePlayer>(file));
}

std::unique_ptr<Player> FakePlayerFactory::makeAuditionPlayer(const AuditionTimeline& timeline) {
    return keep(std::make_unique<FakePlayer>(timeline));
}

}  // namespace talvian
