#include "Player/Player.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>

#include "Model/AuditionTimeline.h"

namespace talvian {

double seekSeconds(double seconds) {
    return auditionSeconds(auditionTicks(seconds));
}

Player::Player(QObject* parent) : QObject(parent) {}

Player::~Player() = default;

Player::ObserverID Player::addPeriodicTimeObserver(double intervalSeconds,
                                                   std::function<void(double)> callback) {
    ObserverID id = nextObserverID_++;
    periodic_.push_back({id, intervalSeconds, std::move(callback)});
    observersChanged();
    return id;
}

Player::ObserverID Player::addBoundaryTimeObserver(std::vector<double> times,
                                                   std::function<void()> callback) {
    ObserverID id = nextObserverID_++;
    std::sort(times.begin(), times.end());
    boundary_.push_back({id, std::move(times), std::move(callback)});
    observersChanged();
    return id;
}

void Player::removeTimeObserver(ObserverID id) {
    std::erase_if(periodic_, [id](const PeriodicObserver& o) { return o.id == id; });
    std::erase_if(boundary_, [id](const BoundaryObserver& o) { return o.id == id; });
    observersChanged();
}

bool Player::renderFrame(QImage& target) {
    const bool usable = !target.isNull() && (target.format() == QImage::Format_RGB32 ||
                                             target.format() == QImage::Format_RGBX8888);
    return usable && drawFrame(target);
}

void Player::post(std::function<void()> action) {
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}

void Player::scheduleReports() {
    if (reportsScheduled_) return;
    reportsScheduled_ = true;
    post([this] { deliverReports(); });
}

void Player::deliverReports() {
    reportsScheduled_ = false;
    // Read everything first: a handler may change the player again, which schedules anew.
    const Reported now{status(), rate(), defaultRate(), volume(), isMuted()};
    const Reported before = reported_;
    reported_ = now;
    QPointer<Player> alive(this);
    if (now.status != before.status) emit statusChanged();
    if (alive && now.rate != before.rate) emit rateChanged();
    // Periodic observers also hear when playback starts or stops, so a paused clock is current.
    if (alive && (now.rate > 0) != (before.rate > 0)) firePeriodicObservers(currentTime());
    if (alive && now.defaultRate != before.defaultRate) emit defaultRateChanged();
    if (alive && now.volume != before.volume) emit volumeChanged();
    if (alive && now.muted != before.muted) emit mutedChanged();
}

void Player::fireBoundaries(double fromSeconds, double toSeconds) {
    if (!(toSeconds > fromSeconds)) return;
    // Copy the ids: a callback may remove or add observers.
    std::vector<ObserverID> ids;
    for (const auto& observer : boundary_) {
        if (std::any_of(observer.times.begin(), observer.times.end(),
                        [&](double t) { return t > fromSeconds && t <= toSeconds; }))
            ids.push_back(observer.id);
    }
    QPointer<Player> alive(this);
    for (ObserverID id : ids) {
        if (!alive) return;
        auto it =
            std::find_if(boundary_.begin(), boundary_.end(), [id](const auto& o) { return o.id == id; });
        if (it == boundary_.end()) continue;
        auto callback = it->callback;
        callback();
    }
}

void Player::firePeriodicObservers(double seconds) {
    std::vector<ObserverID> ids;
    for (const auto& observer : periodic_) ids.push_back(observer.id);
    QPointer<Player> alive(this);
    for (ObserverID id : ids) {
        if (!alive) return;
        auto it =
            std::find_if(periodic_.begin(), periodic_.end(), [id](const auto& o) { return o.id == id; });
        if (it == periodic_.end()) continue;
        auto callback = it->callback;
        callback(seconds);
    }
}

}  // namespace talvian
