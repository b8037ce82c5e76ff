#pragma once
// The resources of the running audition: its identity, the preparation's token and time
// limit, the audition player with its observers, and the loop restart in flight. What the
// audition plays and its phase are published as the AuditionState of the playback slice;
// the controller makes and drops both together. Main thread.

#include <QTimer>

#include <memory>

#include "Model/CoreTypes.h"
#include "Model/Uuid.h"
#include "OwnedPlayer.h"

namespace talvian {

class AuditionSession {
  public:
    explicit AuditionSession(double startOffsetSeconds) : startOffset(startOffsetSeconds) {
        timeout.setSingleShot(true);
    }
    // Stops the preparation; the player goes with its observers and connections.
    ~AuditionSession() { preparation->cancel(); }
    AuditionSession(const AuditionSession&) = delete;
    AuditionSession& operator=(const AuditionSession&) = delete;

    // Every asynchronous step of this audition captures it and does nothing once it differs.
    const Uuid generation = Uuid::random();
    // The source check and track-list read that run before the player exists.
    const CancellationToken preparation = makeCancellation();
    // The preparation's time limit.
    QTimer timeout;
    // Playback seconds where the player starts (only the whole-edit audition starts later).
    const double startOffset;
    // The audition player, from installation on.
    std::unique_ptr<OwnedPlayer> player;

    // A loop restart (a seek to the start) in flight, and its identity.
    bool restartPending = false;
    Uuid restartToken = Uuid::random();
    // Calls off a pending restart: its completion finds another identity and does nothing.
    void cancelRestart() {
        restartToken = Uuid::random();
        restartPending = false;
    }
};

}  // namespace talvian
