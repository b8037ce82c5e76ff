#pragma once
// Quitting (the last window closed) never leaves work behind. Main thread.

#include <chrono>

class QCoreApplication;

namespace talvian {

class Workspace;

// How long quitting waits for background work to clean up after it was cancelled.
inline constexpr std::chrono::milliseconds kQuitBound{3000};

// When the application quits, cancels every job and loader of `workspace` and waits at most
// `bound` for their clean-up, so that no ffmpeg child or hidden work file outlives the window.
// The connection ends with the controller.
void quitWithTeardown(QCoreApplication& application, Workspace& workspace, std::chrono::milliseconds bound);

}  // namespace talvian
