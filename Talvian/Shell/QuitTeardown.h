#pragma once
// Quitting (the last window closed, or the session asking the process to end) never leaves work
// behind. Main thread.

#include <chrono>
#include <functional>

class QCoreApplication;

namespace talvian {

class Workspace;

// How long quitting waits for background work to clean up after it was cancelled.
inline constexpr std::chrono::milliseconds kQuitBound{3000};

// When the application quits, cancels every job and loader of `workspace` and waits at most
// `bound` for their clean-up, so that no ffmpeg child or hidden work file outlives the window.
// The connection ends with the controller.
void quitWithTeardown(QCoreApplication& application, Workspace& workspace, std::chrono::milliseconds bound);

// SIGTERM, SIGHUP and SIGINT (a logout or shutdown, a closed terminal, Ctrl+C) end the
// application the way its own quit does: on the main thread, `close` runs (it closes the window),
// then the event loop ends with the status 128 + the signal's number, and the quit teardown
// above follows. The handler itself only writes a byte into a pipe that the event loop watches;
// later signals change nothing while the teardown runs. A signal ignored at start (nohup) stays
// ignored. Call once, from the main thread, after the application object exists.
void quitOnTerminationSignals(QCoreApplication& application, std::function<void()> close);

}  // namespace talvian
