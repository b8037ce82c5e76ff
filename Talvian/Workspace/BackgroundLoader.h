#pragma once
// One background load that a newer request replaces: the detection preview, the detail
// waveform, the export panel's audio read. Each request gets a ticket (a generation and a
// token); the load starts after an optional delay that a newer request restarts (so a burst
// of requests starts one load), and its result is applied only while its ticket is current.
// Main thread.

#include <QTimer>

#include <chrono>
#include <functional>

#include "Model/CoreTypes.h"
#include "Model/Uuid.h"

namespace talvian {

struct LoadTicket {
    Uuid generation;
    CancellationToken token;
};

class BackgroundLoader {
  public:
    explicit BackgroundLoader(std::chrono::milliseconds delay);

    // The wait before a requested load starts; tests shorten it.
    void setDelay(std::chrono::milliseconds delay) { delay_ = delay; }
    std::chrono::milliseconds delay() const { return delay_; }

    // Cancels the previous load and returns the ticket of a new one; `start` runs with it once
    // the delay has passed, unless another request or cancel() came first.
    LoadTicket request(std::function<void(const LoadTicket&)> start);
    // Stops the waiting start and cancels the token of the running load.
    void cancel();
    // The result of `ticket` may be applied: no newer request, no cancel.
    bool isCurrent(const LoadTicket& ticket) const;

  private:
    std::chrono::milliseconds delay_;
    QTimer timer_;
    std::function<void()> pending_;
    LoadTicket current_{Uuid::random(), makeCancellation()};
};

}  // namespace talvian
