#include "OwnedPlayer.h"

namespace talvian {

OwnedPlayer::OwnedPlayer(std::unique_ptr<Player> player) : player_(std::move(player)) {}

OwnedPlayer::~OwnedPlayer() {
    for (const auto& connection : connections_) QObject::disconnect(connection);
    for (const auto id : periodicObservers_) player_->removeTimeObserver(id);
    if (boundaryObserver_) player_->removeTimeObserver(*boundaryObserver_);
}

void OwnedPlayer::keep(QMetaObject::Connection connection) {
    connections_.push_back(std::move(connection));
}

void OwnedPlayer::addPeriodicObserver(double intervalSeconds, std::function<void(double seconds)> callback) {
    periodicObservers_.push_back(player_->addPeriodicTimeObserver(intervalSeconds, std::move(callback)));
}

void OwnedPlayer::setBoundaryObserver(std::vector<double> times, std::function<void()> callback) {
    if (boundaryObserver_) player_->removeTimeObserver(*boundaryObserver_);
    boundaryObserver_.reset();
    if (!times.empty())
        boundaryObserver_ = player_->addBoundaryTimeObserver(std::move(times), std::move(callback));
}

}  // namespace talvian
