#pragma once
// A player together with everything the controller attached to it: its time observers and
// its signal connections. Destroying the owner removes them all before the player goes, so
// no callback of an old player reaches the controller. Main thread.

#include <QMetaObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Player/Player.h"

namespace talvian {

class OwnedPlayer {
  public:
    explicit OwnedPlayer(std::unique_ptr<Player> player);
    ~OwnedPlayer();
    OwnedPlayer(const OwnedPlayer&) = delete;
    OwnedPlayer& operator=(const OwnedPlayer&) = delete;

    Player& operator*() const { return *player_; }
    Player* operator->() const { return player_.get(); }
    Player* get() const { return player_.get(); }

    // Keeps a connection made to the player's signals until the owner goes.
    void keep(QMetaObject::Connection connection);
    void addPeriodicObserver(double intervalSeconds, std::function<void(double seconds)> callback);
    // The one boundary observer, replaced by each call; empty times remove it.
    void setBoundaryObserver(std::vector<double> times, std::function<void()> callback);

  private:
    std::unique_ptr<Player> player_;
    std::vector<QMetaObject::Connection> connections_;
    std::vector<Player::ObserverID> periodicObservers_;
    std::optional<Player::ObserverID> boundaryObserver_;
};

}  // namespace talvian
