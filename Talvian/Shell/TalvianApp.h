#pragma once
// The application: its service settings from Info.json, the one controller, the update
// service, and the one window with its menus. Built once by main and kept for the life of the
// process; nothing here is global. Part of the executable only (its players come from the media
// module). Main thread.

#include <QStringList>

#include <chrono>
#include <memory>

#include "Loader/MediaModule.h"
#include "MainWindow.h"
#include "Support/AppConfiguration.h"
#include "Update/UpdateService.h"
#include "Workspace/Workspace.h"

class QApplication;

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
    // Created on first use (when the menus first read it), then kept for the process.
    UpdateService& updates();

  private:
    AppServiceConfiguration services_;
    MediaModule::ModulePlayerFactory players_;
    Workspace workspace_;
    // Declared before the window: the menus hold on to it until the window goes.
    std::unique_ptr<UpdateService> updates_;
    MainWindow window_;
};

}  // namespace talvian
