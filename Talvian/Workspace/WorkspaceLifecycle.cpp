// The end of the controller's work: when the application quits, and when the controller goes.

#include <QCoreApplication>
#include <QElapsedTimer>

#include "Process/Runner.h"
#include "Support/FileSystem.h"
#include "WorkspaceInternals.h"

namespace talvian {

namespace {

// How often the quit path looks at the pool while it waits; children started in between
// (a job's next step that had already begun) are stopped on the next look.
constexpr std::chrono::milliseconds kShutdownPollInterval{50};

}  // namespace

Workspace::~Workspace() {
    // Nothing is published any more: the views are going too.
    d_->tearingDown_ = true;
    d_->cancelAllWork();
    if (d_->pool_->waitForDone(static_cast<int>(d_->teardownBound_.count()))) return;
    // Work that outlives the bound holds no reference to this object and finds it gone when
    // it reports back; its pool goes with the application object.
    QThreadPool* rest = d_->pool_.release();
    rest->setParent(QCoreApplication::instance());
}

void Workspace::Internals::cancelAllWork() {
    job_.token()->cancel();
    detectionLoader_.cancel();
    waveformLoader_.cancel();
    exportAudioLoader_.cancel();
    exportCodecLoader_.cancel();
    previewTimeout_.stop();
    if (audition_) {
        audition_->timeout.stop();
        audition_->preparation->cancel();
    }
}

bool Workspace::shutdown(std::chrono::milliseconds bound) {
    const Operation operation(*this);
    d_->cancelAllWork();
    cancelExportAudioInfo();
    QElapsedTimer clock;
    clock.start();
    while (true) {
        // Work that cannot poll a token (the diagnostics probe) is stopped through its child.
        Runner::stopAllChildren();
        const auto left = bound - std::chrono::milliseconds(clock.elapsed());
        if (left <= std::chrono::milliseconds::zero()) return d_->pool_->waitForDone(0);
        if (d_->pool_->waitForDone(static_cast<int>(std::min(left, kShutdownPollInterval).count())))
            return true;
    }
}

void Workspace::removeStaleWorkInBackground() {
    std::vector<std::filesystem::path> folders;
    std::error_code error;
    auto temporary = std::filesystem::temp_directory_path(error);
    if (!error) folders.push_back(std::move(temporary));
    folders.push_back(exports().outputFolder);
    // Without a token: each entry is judged and removed on its own, and quitting waits for the
    // pool with a bound.
    d_->runInBackground([folders = std::move(folders)](const MainThreadPost&) {
        for (const auto& folder : folders) removeStaleWork(folder);
    });
}

DesktopServices& Workspace::desktopServices() {
    return d_->desktop_ ? *d_->desktop_ : d_->systemDesktop_;
}

}  // namespace talvian
