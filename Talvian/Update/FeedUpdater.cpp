#include "FeedUpdater.h"

#include <QNetworkAccessManager>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <system_error>
#include <utility>

#include "Model/Localization.h"
#include "Model/UserError.h"
#include "Support/Base64.h"
#include "Workspace/DesktopServices.h"

namespace talvian {

namespace {

using Outcome = UpdateTransfer::Outcome;

// The automatic timer never sleeps longer than this before looking at the clock again: a
// machine that slept through the due time checks soon after it wakes.
constexpr std::chrono::milliseconds kLongestTimerWait = std::chrono::hours(1);

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QString checkFailureText(Outcome outcome) {
    switch (outcome) {
        case Outcome::timedOut:
            return qt(L("连接更新服务器超时，请稍后再试。"));
        case Outcome::certificateRefused:
            return qt(L("无法验证更新服务器的安全证书，已停止检查更新。"));
        case Outcome::insecureRedirect:
            return qt(L("更新服务器把请求转到了不安全的地址，已停止检查更新。"));
        case Outcome::serverRefused:
            return qt(L("更新服务器暂时无法提供更新信息，请稍后再试。"));
        case Outcome::tooLarge:
            return qt(L("更新信息过大，已停止读取。"));
        case Outcome::completed:
        case Outcome::cancelled:
        case Outcome::unreachable:
        case Outcome::sinkFailed:
            break;
    }
    return qt(L("无法连接更新服务器，请检查网络连接后再试。"));
}

QString downloadFailureText(Outcome outcome, int writeError) {
    switch (outcome) {
        case Outcome::timedOut:
            return qt(L("下载新版本超时，请稍后再试。"));
        case Outcome::certificateRefused:
            return qt(L("无法验证下载服务器的安全证书，已停止下载。"));
        case Outcome::insecureRedirect:
            return qt(L("下载地址被转到了不安全的地址，已停止下载。"));
        case Outcome::serverRefused:
            return qt(L("下载服务器暂时无法提供新版本，请稍后再试。"));
        case Outcome::tooLarge:
            return qt(L("下载的文件比更新信息所写的大，已停止下载并删除该文件。"));
        case Outcome::sinkFailed:
            return qt(L("无法在下载文件夹中保存新版本：%@。", systemErrorText(writeError)));
        case Outcome::completed:
        case Outcome::cancelled:
        case Outcome::unreachable:
            break;
    }
    return qt(L("无法下载新版本，请检查网络连接后再试。"));
}

}  // namespace

FeedUpdater::FeedUpdater(const AppServiceConfiguration& configuration, Options options, QObject* parent)
    : OfferingUpdater(parent),
      feedURL_(configuration.feedURL.value_or("")),
      publicKey_(decodeBase64(configuration.publicKey.value_or("")).value_or("")),
      options_(std::move(options)) {
    automaticTimer_.setSingleShot(true);
    connect(&automaticTimer_, &QTimer::timeout, this, &FeedUpdater::automaticCheckDue);
    const auto settings = openSettings();
    automatic_ = settings->value(kAutomaticChecksKey, false).toBool();
    bool known = false;
    const qint64 seconds = settings->value(kLastCheckKey).toLongLong(&known);
    if (known) lastCheck_ = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    scheduleAutomaticCheck();
}

FeedUpdater::~FeedUpdater() {
    // The transfer goes before the partial file it writes into.
    if (transfer_) {
        disconnect(transfer_, nullptr, this, nullptr);
        delete transfer_.data();
    }
}

std::unique_ptr<QSettings> FeedUpdater::openSettings() const {
    if (options_.settingsFile.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("Talvian"), QStringLiteral("Talvian"));
    return std::make_unique<QSettings>(options_.settingsFile, QSettings::IniFormat);
}

QNetworkAccessManager& FeedUpdater::network() {
    if (!network_) network_ = new QNetworkAccessManager(this);
    return *network_;
}

UpdateTransfer::Limits FeedUpdater::limits(qint64 maximumBytes) const {
    return {maximumBytes, options_.transferTimeout, options_.extraAuthorities};
}

bool FeedUpdater::canCheckForUpdates() const {
    return phase_ == Phase::idle;
}

void FeedUpdater::setPhase(Phase phase) {
    const bool could = canCheckForUpdates();
    phase_ = phase;
    if (canCheckForUpdates() != could) emit canCheckForUpdatesChanged(!could);
}

// ---- Checks -----------------------------------------------------------------------------------

void FeedUpdater::checkForUpdates() {
    startCheck(true);
}

void FeedUpdater::startCheck(bool manual) {
    if (phase_ != Phase::idle) return;
    manualCheck_ = manual;
    feedBytes_.clear();
    setPhase(Phase::checking);
    transfer_ = new UpdateTransfer(
        network(), QUrl(qt(feedURL_), QUrl::StrictMode), limits(kFeedLimitBytes),
        [this](const QByteArray& bytes) {
            feedBytes_ += bytes;
            return true;
        },
        this);
    connect(transfer_, &UpdateTransfer::finished, this, &FeedUpdater::checkFinished);
}

void FeedUpdater::checkFinished(Outcome outcome) {
    if (transfer_) transfer_->deleteLater();
    transfer_ = nullptr;
    const QByteArray bytes = std::exchange(feedBytes_, {});

    // Every check that ended counts, failed ones too: an offline machine tries again tomorrow.
    lastCheck_ = QDateTime::currentDateTimeUtc();
    openSettings()->setValue(kLastCheckKey, lastCheck_->toSecsSinceEpoch());
    scheduleAutomaticCheck();

    QString failure;
    std::optional<UpdateFeed> newer;
    if (outcome == Outcome::completed) {
        try {
            auto feed =
                parseUpdateFeed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
            if (isNewerVersion(feed.version, options_.runningVersion)) newer = std::move(feed);
        } catch (const UserError& error) {
            failure = qt(error.message());
        }
    } else {
        failure = checkFailureText(outcome);
    }

    if (newer) {
        offer_ = std::move(newer);
        setPhase(Phase::offering);
        emit updateFound(qt(offer_->version), qt(options_.runningVersion));
        return;
    }
    setPhase(Phase::idle);
    // An automatic check speaks only when it has something to offer.
    if (!manualCheck_) return;
    if (failure.isEmpty()) {
        emit upToDate(qt(options_.runningVersion));
    } else {
        emit failed(failure);
    }
}

// ---- The offer --------------------------------------------------------------------------------

void FeedUpdater::openDownloadPage() {
    if (phase_ != Phase::offering || !offer_) return;
    const std::string page = offer_->page;
    offer_.reset();
    setPhase(Phase::idle);
    if (options_.desktop) options_.desktop->openLink(page);
}

void FeedUpdater::dismissUpdate() {
    if (phase_ != Phase::offering) return;
    offer_.reset();
    setPhase(Phase::idle);
}

void FeedUpdater::downloadUpdate() {
    if (phase_ != Phase::offering || !offer_) return;
    setPhase(Phase::downloading);
    writeError_ = 0;
    try {
        const std::filesystem::path folder =
            (options_.downloadFolder.isEmpty()
                 ? QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)
                 : options_.downloadFolder)
                .toStdString();
        if (folder.empty())
            throw MediaError(L("无法在下载文件夹中保存新版本：%@。", systemErrorText(ENOENT)));
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) throw MediaError(L("无法在下载文件夹中保存新版本：%@。", systemErrorText(error.value())));
        partial_ = std::make_unique<PartialDownload>(folder);
    } catch (const UserError& error) {
        endDownload(qt(error.message()));
        return;
    }
    transfer_ = new UpdateTransfer(
        network(), QUrl(qt(offer_->file), QUrl::StrictMode), limits(offer_->length),
        [this](const QByteArray& bytes) {
            writeError_ =
                partial_->write(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
            return writeError_ == 0;
        },
        this);
    connect(transfer_, &UpdateTransfer::progress, this,
            [this](qint64 received, qint64) { emit downloadProgress(received, offer_->length); });
    connect(transfer_, &UpdateTransfer::finished, this, &FeedUpdater::downloadFinished);
}

void FeedUpdater::cancelDownload() {
    if (phase_ != Phase::downloading) return;
    if (transfer_) {
        transfer_->cancel();
    } else {
        endDownload({});
    }
}

void FeedUpdater::downloadFinished(Outcome outcome) {
    const qint64 received = transfer_ ? transfer_->receivedBytes() : 0;
    if (transfer_) transfer_->deleteLater();
    transfer_ = nullptr;
    if (outcome == Outcome::cancelled) return endDownload({});
    if (outcome != Outcome::completed) return endDownload(downloadFailureText(outcome, writeError_));
    // A connection that closed early without announcing a length ends "completed" too.
    if (received != offer_->length) return endDownload(qt(L("下载的文件不完整，已将其删除。")));
    try {
        partial_->finish();
    } catch (const UserError& error) {
        return endDownload(qt(error.message()));
    }
    bool verified = false;
    try {
        verified = verifyEd25519File(partial_->path(), offer_->signature, publicKey_);
    } catch (const UserError&) {
        return endDownload(qt(L("无法读取下载的文件，已将其删除。")));
    }
    if (!verified) return endDownload(qt(L("下载的文件未通过签名验证，可能已被改动，已将其删除。")));
    std::filesystem::path kept;
    try {
        const QString urlName = QUrl(qt(offer_->file)).fileName(QUrl::FullyDecoded);
        kept = partial_->keepAs(downloadName(urlName.toStdString(), offer_->version));
    } catch (const UserError& error) {
        return endDownload(qt(error.message()));
    }
    endDownload({}, QString::fromStdString(kept.string()));
}

void FeedUpdater::endDownload(const QString& failure, const QString& path) {
    // Removes the partial file unless it was kept.
    partial_.reset();
    offer_.reset();
    setPhase(Phase::idle);
    if (!path.isEmpty()) {
        emit downloaded(path);
    } else if (!failure.isEmpty()) {
        emit failed(failure);
    }
}

// ---- Automatic checks -------------------------------------------------------------------------

void FeedUpdater::setAutomaticallyChecksForUpdates(bool on) {
    if (on == automatic_) return;
    automatic_ = on;
    openSettings()->setValue(kAutomaticChecksKey, on);
    scheduleAutomaticCheck();
    emit automaticallyChecksForUpdatesChanged(on);
}

std::optional<QDateTime> FeedUpdater::nextAutomaticCheck() const {
    if (!automatic_) return std::nullopt;
    return nextCheck_;
}

void FeedUpdater::scheduleAutomaticCheck() {
    automaticTimer_.stop();
    if (!automatic_) return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QDateTime due = now;
    // A last check in the future means the clock was set back: it says nothing.
    if (lastCheck_ && *lastCheck_ <= now) due = lastCheck_->addMSecs(options_.checkInterval.count());
    // Never at once: not at the start, not the moment the user turns checks on.
    nextCheck_ = std::max(due, now.addMSecs(options_.startDelay.count()));
    automaticTimer_.start(std::clamp(std::chrono::milliseconds(now.msecsTo(nextCheck_)),
                                     std::chrono::milliseconds(0), kLongestTimerWait));
}

void FeedUpdater::automaticCheckDue() {
    if (!automatic_) return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (now < nextCheck_) {
        automaticTimer_.start(
            std::min(std::chrono::milliseconds(now.msecsTo(nextCheck_)), kLongestTimerWait));
        return;
    }
    // Busy (a manual check, an open offer, a download): look again later. The end of a check
    // schedules the next one itself.
    if (phase_ != Phase::idle) {
        automaticTimer_.start(kLongestTimerWait);
        return;
    }
    startCheck(false);
}

}  // namespace talvian
