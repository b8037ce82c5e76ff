#pragma once
// The update offer of the menus. The service holds an updater only when Info.json configures
// both an https feed and a usable signing key; otherwise it holds none, and nothing of it ever
// reaches the network. Created once, lazily, on the main thread; kept for the process.

#include <QObject>

#include <functional>
#include <memory>

#include <nlohmann/json.hpp>

#include "Support/AppConfiguration.h"

namespace talvian {

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

class UpdateService : public QObject {
    Q_OBJECT

  public:
    // Makes the updater of a configuration whose updates are enabled; may return none.
    using UpdaterFactory = std::function<std::unique_ptr<Updater>(const AppServiceConfiguration&)>;

    // Reads the application's Info.json itself and uses the feed updater.
    explicit UpdateService(QObject* parent = nullptr);
    UpdateService(const nlohmann::json& info, const UpdaterFactory& factory, QObject* parent = nullptr);
    ~UpdateService() override;

    // The updater; null when updates are not configured.
    Updater* controller() const { return controller_.get(); }
    bool canCheck() const { return canCheck_; }
    bool automaticChecks() const { return automaticChecks_; }

    // The updater the application uses for a configuration with updates enabled.
    static std::unique_ptr<Updater> makeFeedUpdater(const AppServiceConfiguration& configuration);

  signals:
    // canCheck or automaticChecks changed.
    void changed();

  private:
    std::unique_ptr<Updater> controller_;
    bool canCheck_ = false;
    bool automaticChecks_ = false;
};

}  // namespace talvian
