// The end of the controller's work when the application quits.

#include <QElapsedTimer>

#include "Process/Runner.h"
#include "Workspace.h"

namespace talvian {

namespace {

// How often the quit path looks at the pool while it waits; children started in between
// (a job's next step that had already begun) are stopped on the next look.
constexpr std::chrono::milliseconds kShutdownPollInterval{50};

}  // namespace

bool Workspace::shutdown(std::chrono::milliseconds bound) {
    cutCancellation_->cancel();
    stopLoaders();
    exportAudioInfoCancellation_->cancel();
    QElapsedTimer clock;
    clock.start();
    while (true) {
        // Work that cannot poll a token (the diagnostics probe) is stopped through its child.
        Runner::stopAllChildren();
        const auto left = bound - std::chrono::milliseconds(clock.elapsed());
        if (left <= std::chrono::milliseconds::zero()) return pool_.waitForDone(0);
        if (pool_.waitForDone(static_cast<int>(std::min(left, kShutdownPollInterval).count()))) return true;
    }
}

DesktopServices& Workspace::desktop() {
    return desktop_ ? *desktop_ : systemDesktop_;
}

}  // namespace talvian
