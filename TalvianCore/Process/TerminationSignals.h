#pragma once
// Turns SIGTERM and SIGINT into a call on a thread of its own, so a tool or the application can
// cancel its work (children stopped, work files removed) instead of dying with both left behind.

#include <signal.h>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "Support/FileSystem.h"

namespace talvian {

class TerminationSignals {
  public:
    using Callback = std::function<void(int signalNumber)>;

    // Blocks SIGTERM and SIGINT in the calling thread and starts the thread that calls
    // `onSignal` once for every one of them received (there, never in a signal handler). Make it
    // in main() before any other thread starts: threads inherit the block, and a thread started
    // earlier would still take the signal's default action. Throws MediaError when it cannot.
    explicit TerminationSignals(Callback onSignal);
    // Stops and joins its thread, then restores the creating thread's signal mask (a signal
    // arriving later has its default effect). Destroy it on the thread that made it.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // The first signal received, if any. Any thread.
    std::optional<int> received() const;

  private:
    void listen();

    Callback onSignal_;
    sigset_t previousMask_{};
    UniqueFd signals_;  // signalfd of SIGTERM and SIGINT
    UniqueFd stop_;     // eventfd written by the destructor
    std::atomic<int> first_{0};
    std::thread listener_;
};

}  // namespace talvian
