#pragma once
// Waiting for players in tests: every wait has a deadline.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

namespace talvian::test {

// Runs the event loop (and `step`, if any, between turns) until `done` holds or
// `deadlineSeconds` pass; returns whether `done` held.
inline bool waitUntil(const std::function<bool()>& done, double deadlineSeconds = 10,
                      const std::function<void()>& step = {}) {
    QElapsedTimer clock;
    clock.start();
    // Wakes the loop at least this often, without spinning the processor in between.
    QTimer tick;
    tick.start(5);
    while (!done()) {
        if (clock.elapsed() > deadlineSeconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (step) step();
    }
    return true;
}

// Runs the event loop for a while, for checks that something did not happen.
inline void spin(double seconds, const std::function<void()>& step = {}) {
    waitUntil([] { return false; }, seconds, step);
}

}  // namespace talvian::test
