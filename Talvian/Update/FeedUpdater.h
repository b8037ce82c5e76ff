#pragma once
// The application's updater: reads the feed (UpdateFeed.h) over https when the user asks or,
// once they turn it on, once a day; offers a newer version; downloads its package into the
// Downloads folder on request and keeps it only when its Ed25519 signature verifies. Nothing
// is installed, unpacked or run. The logic reports through the signals of OfferingUpdater;
// the shell's UpdateDialogs shows them. Constructing it touches no network: the network
// objects come with the first check. Main thread.

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QSslCertificate>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "Support/AppConfiguration.h"
#include "UpdateFeed.h"
#include "UpdateService.h"
#include "UpdateTransfer.h"

class QNetworkAccessManager;
class QSettings;

namespace talvian {

class DesktopServices;

// An automatic check waits this long after the start (or after being turned on), so that it
// never competes with the window's first moments.
inline constexpr std::chrono::milliseconds kAutomaticCheckStartDelay = std::chrono::seconds(15);
// "Once a day".
inline constexpr std::chrono::milliseconds kAutomaticCheckInterval = std::chrono::hours(24);
// A transfer that moves no byte for this long ends.
inline constexpr std::chrono::milliseconds kUpdateTransferTimeout = std::chrono::seconds(30);

// Settings keys: whether automatic checks are on, and when the last check ended (seconds since
// 1970, UTC).
inline constexpr const char* kAutomaticChecksKey = "talvian.updates.automaticChecks";
inline constexpr const char* kLastCheckKey = "talvian.updates.lastCheck";

class FeedUpdater : public OfferingUpdater {
    Q_OBJECT

  public:
    struct Options {
        std::string runningVersion;                // "CFBundleShortVersionString" of Info.json
        std::shared_ptr<DesktopServices> desktop;  // opens the download page
        // Empty: QSettings("Talvian", "Talvian"); tests give an INI file of their own.
        QString settingsFile;
        // Empty: the user's Downloads folder (QStandardPaths::DownloadLocation).
        QString downloadFolder;
        // Tests only: the authority of a local server, trusted besides the system's.
        QList<QSslCertificate> extraAuthorities;
        std::chrono::milliseconds startDelay = kAutomaticCheckStartDelay;
        std::chrono::milliseconds checkInterval = kAutomaticCheckInterval;
        std::chrono::milliseconds transferTimeout = kUpdateTransferTimeout;
    };

    // `configuration` must have updates enabled (feed and key).
    FeedUpdater(const AppServiceConfiguration& configuration, Options options, QObject* parent = nullptr);
    ~FeedUpdater() override;

    // ---- Updater ----
    // True when idle: false while a check or a download runs and while an offer is open.
    bool canCheckForUpdates() const override;
    bool automaticallyChecksForUpdates() const override { return automatic_; }
    // Persists the choice, then reports it through automaticallyChecksForUpdatesChanged.
    void setAutomaticallyChecksForUpdates(bool on) override;
    // A manual check: it reports up to date and failures too. Does nothing unless idle.
    void checkForUpdates() override;

    // ---- OfferingUpdater ----
    // Opens the release's page through the desktop services.
    void openDownloadPage() override;
    void downloadUpdate() override;
    void dismissUpdate() override;
    void cancelDownload() override;

    // The feed of the open offer or the running download.
    const std::optional<UpdateFeed>& offer() const { return offer_; }
    const std::string& runningVersion() const { return options_.runningVersion; }

    // When the next automatic check is due (UTC); none while automatic checks are off.
    std::optional<QDateTime> nextAutomaticCheck() const;

  private:
    enum class Phase { idle, checking, offering, downloading };

    std::unique_ptr<QSettings> openSettings() const;
    QNetworkAccessManager& network();
    UpdateTransfer::Limits limits(qint64 maximumBytes) const;
    void setPhase(Phase phase);
    void startCheck(bool manual);
    void checkFinished(UpdateTransfer::Outcome outcome);
    void downloadFinished(UpdateTransfer::Outcome outcome);
    // Ends a download: reports the kept `path`, else `failure` (nothing for a cancelled one).
    void endDownload(const QString& failure, const QString& path = {});
    void scheduleAutomaticCheck();
    void automaticCheckDue();

    // All members: main thread.
    std::string feedURL_;
    std::string publicKey_;  // kPublicKeyBytes raw bytes
    Options options_;
    Phase phase_ = Phase::idle;
    bool automatic_ = false;
    std::optional<QDateTime> lastCheck_;
    QDateTime nextCheck_;
    QTimer automaticTimer_;
    bool manualCheck_ = false;
    QByteArray feedBytes_;
    std::optional<UpdateFeed> offer_;
    std::unique_ptr<PartialDownload> partial_;
    int writeError_ = 0;                        // errno of the download's failed write
    QNetworkAccessManager* network_ = nullptr;  // child, made by the first transfer
    QPointer<UpdateTransfer> transfer_;
};

}  // namespace talvian
