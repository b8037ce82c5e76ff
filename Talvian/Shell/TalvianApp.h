#pragma once
// The application: its service settings from Info.json, the one controller, and the one
// window. Built once by main and kept for the life of the process; nothing here is global.
// Main thread.

#include <QStringList>

#include <chrono>

#include "MainWindow.h"
#include "Model/AppConfiguration.h"
#include "Player/MpvPlayer.h"
#include "Workspace/Workspace.h"

class QApplication;
class QCoreApplication;

namespace talvian {

class TalvianApp {
  public:
    // `arguments` are the launch arguments ("--demo", "--output <folder>").
    TalvianApp(QApplication& application, const QStringList& arguments);
    TalvianApp(const TalvianApp&) = delete;
    TalvianApp& operator=(const TalvianApp&) = delete;

    const AppServiceConfiguration& services() const { return services_; }
    Workspace& workspace() { return workspace_; }
    MainWindow& window() { return window_; }

    // How long quitting waits for background work to clean up after it was cancelled.
    static constexpr std::chrono::milliseconds kQuitBound{3000};

  private:
    AppServiceConfiguration services_;
    MpvPlayerFactory players_;
    Workspace workspace_;
    MainWindow window_;
};

// When the application quits (its last window closed), cancels every job and loader of
// `workspace` and waits at most `bound` for their clean-up, so that no ffmpeg child or hidden
// work file outlives the window. The connection ends with the controller.
void quitWithTeardown(QCoreApplication& application, Workspace& workspace, std::chrono::milliseconds bound);

}  // namespace talvian
