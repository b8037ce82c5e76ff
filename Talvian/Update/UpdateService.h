#pragma once
// The update offer of the menus. The service holds an updater only when Info.json configures
// both an https feed and a usable signing key; otherwise it holds none, and nothing of it ever
// reaches the network. Created once, lazily, on the main thread; kept for the process.
// This header is what the shell sees of the updater: nothing in it needs Qt Network.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include <nlohmann/json_fwd.hpp>

#include "Support/AppConfiguration.h"

namespace talvian {

class DesktopServices;

// What the menus need of an updater: a manual check, whether one can start now, and the
// daily automatic check (off until the user turns it on). It reports its own findings.
class Updater : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    virtual bool canCheckForUpdates() const = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    // The new value arrives through automaticallyChecksForUpdatesChanged, never directly.
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
    virtual void checkForUpdates() = 0;

  signals:
    void canCheckForUpdatesChanged(bool value);
    void automaticallyChecksForUpdatesChanged(bool value);
};

// An updater that offers a newer version it finds and downloads it on request: what the
// update dialogs show and call. The feed updater is the application's.
class OfferingUpdater : public Updater {
    Q_OBJECT

  public:
    using Updater::Updater;

    // ---- The open offer of a newer version; each of the first three ends it ----
    // Opens the release's page.
    virtual void openDownloadPage() = 0;
    // Downloads the package; ends in downloaded() or failed().
    virtual void downloadUpdate() = 0;
    virtual void dismissUpdate() = 0;
    // Stops a running download and removes what it wrote; reports nothing.
    virtual void cancelDownload() = 0;

  signals:
    // A check found a newer version; the offer stays open until one of the calls above.
    void updateFound(const QString& version, const QString& runningVersion);
    // A manual check found nothing newer.
    void upToDate(const QString& runningVersion);
    // A manual check or a download failed: a complete Chinese sentence. Automatic checks fail
    // silently.
    void failed(const QString& message);
    void downloadProgress(qint64 receivedBytes, qint64 totalBytes);
    // The package verified and was kept at `path`, under a name nothing else had.
    void downloaded(const QString& path);
};

class UpdateService : public QObject {
    Q_OBJECT

  public:
    // Makes the updater of a configuration whose updates are enabled; may return none.
    using UpdaterFactory = std::function<std::unique_ptr<Updater>(const AppServiceConfiguration&)>;

    // `info` is the application's Info.json (readInfoDictionary()); `factory` is asked only
    // when it enables updates.
    UpdateService(const nlohmann::json& info, const UpdaterFactory& factory, QObject* parent = nullptr);
    ~UpdateService() override;

    // The updater; null when updates are not configured.
    Updater* controller() const { return controller_.get(); }
    bool canCheck() const { return canCheck_; }
    bool automaticChecks() const { return automaticChecks_; }

    // The feed updater for a configuration with updates enabled, running the version of
    // Info.json and opening pages through `desktop`; none otherwise. Touches no network.
    static std::unique_ptr<OfferingUpdater> makeFeedUpdater(const AppServiceConfiguration& configuration,
                                                            std::shared_ptr<DesktopServices> desktop);

  signals:
    // canCheck or automaticChecks changed.
    void changed();

  private:
    std::unique_ptr<Updater> controller_;
    bool canCheck_ = false;
    bool automaticChecks_ = false;
};

}  // namespace talvian
