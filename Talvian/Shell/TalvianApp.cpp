#include "TalvianApp.h"

#include <QApplication>
#include <nlohmann/json.hpp>

#include "Analysis/PauseAnalysis.h"
#include "Process/MediaProbe.h"
#include "QuitTeardown.h"
#include "ShortcutReference.h"
#include "Support/SessionBackup.h"
#include "UpdateDialogs.h"
#include "WorkspaceView.h"

namespace talvian {

namespace {

std::vector<std::string> standardArguments(const QStringList& arguments) {
    std::vector<std::string> result;
    for (const QString& argument : arguments) result.push_back(argument.toStdString());
    return result;
}

MpvSettings previewSettings() {
    MpvSettings settings;
    settings.videoFrames = true;
    return settings;
}

}  // namespace

TalvianApp::TalvianApp(QApplication& application, const QStringList& arguments)
    : services_(readInfoDictionary()),
      players_(previewSettings()),
      workspace_(players_, SessionBackup::defaultURL(), standardArguments(arguments), &VevazAvezud::analyze),
      window_(workspace_, arguments) {
    workspace_.setExportAudioInfoReader(&AudioStreamProbe::read);
    quitWithTeardown(application, workspace_, kQuitBound);
    // A logout, a shutdown or Ctrl+C in a terminal takes the path of 退出 (closing the window).
    quitOnTerminationSignals(application, [this] { window_.close(); });
    window_.installMenus({services_, [this]() -> UpdateService& { return updates(); },
                          [](QWidget* parent) -> QDialog* { return new ShortcutReference(parent); }});
    // The media module loads in the background once the window is on screen, so that the first
    // recording opens without waiting for it; the sweep of the work an instance killed outright
    // left behind starts then too, so that it never delays the first paint.
    QObject::connect(&window_.view(), &WorkspaceView::firstPainted, &window_, [this] {
        MediaModule::preload();
        workspace_.removeStaleWorkInBackground();
    });
    window_.show();
}

UpdateService& TalvianApp::updates() {
    if (!updates_) updates_ = std::make_unique<UpdateService>(readInfoDictionary(), &makeUpdaterWithDialogs);
    return *updates_;
}

}  // namespace talvian
