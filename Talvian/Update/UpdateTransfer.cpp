#include "UpdateTransfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

#include <utility>

#include "Support/AppConfiguration.h"

namespace talvian {

namespace {

// A feed or a package is served from one place or moved once or twice (a mirror, a CDN);
// a longer chain is a misconfigured or hostile server.
constexpr int kMaximumRedirects = 5;
constexpr int kHttpOk = 200;

// The same rule as for the configured feed, applied to the address as it goes on the wire.
bool isHttpsAddress(const QUrl& url) {
    return url.isValid() && talvian::isHttpsAddress(url.toString(QUrl::FullyEncoded).toStdString());
}

}  // namespace

UpdateTransfer::UpdateTransfer(QNetworkAccessManager& network, const QUrl& url, const Limits& limits,
                               Sink sink, QObject* parent)
    : QObject(parent), limits_(limits), sink_(std::move(sink)) {
    if (!isHttpsAddress(url)) {
        QTimer::singleShot(0, this, [this] { end(Outcome::insecureRedirect); });
        return;
    }
    QNetworkRequest request(url);
    // Every redirect comes to redirected() below; none is followed unless it stays on https.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaximumRedirects);
    request.setTransferTimeout(static_cast<int>(limits_.timeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    if (!limits_.extraAuthorities.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(limits_.extraAuthorities);
        request.setSslConfiguration(tls);
    }
    reply_ = network.get(request);
    connect(reply_, &QNetworkReply::redirected, this, [this](const QUrl& target) {
        if (isHttpsAddress(reply_->url().resolved(target))) {
            emit reply_->redirectAllowed();
        } else {
            stop(Outcome::insecureRedirect);
        }
    });
    connect(reply_, &QNetworkReply::metaDataChanged, this, &UpdateTransfer::checkAnnouncedLength);
    connect(reply_, &QNetworkReply::readyRead, this, &UpdateTransfer::takeBytes);
    connect(reply_, &QNetworkReply::finished, this, [this] {
        takeBytes();
        if (!ended_) end(outcomeOfReply());
    });
}

UpdateTransfer::~UpdateTransfer() {
    if (!reply_) return;
    disconnect(reply_, nullptr, this, nullptr);
    reply_->abort();
    reply_->deleteLater();
}

void UpdateTransfer::cancel() {
    stop(Outcome::cancelled);
}

int UpdateTransfer::httpStatus() const {
    return reply_ ? reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
}

void UpdateTransfer::checkAnnouncedLength() {
    if (ended_ || httpStatus() != kHttpOk) return;
    bool known = false;
    const qint64 announced = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && announced > limits_.maximumBytes) stop(Outcome::tooLarge);
}

void UpdateTransfer::takeBytes() {
    // An aborted reply (Qt's own time-out) is closed: nothing more to read.
    if (ended_ || !reply_ || !reply_->isOpen()) return;
    const QByteArray bytes = reply_->readAll();
    // The body of a redirect or an error page is nobody's business.
    if (bytes.isEmpty() || httpStatus() != kHttpOk) return;
    received_ += bytes.size();
    if (received_ > limits_.maximumBytes) {
        stop(Outcome::tooLarge);
        return;
    }
    if (!sink_(bytes)) {
        stop(Outcome::sinkFailed);
        return;
    }
    bool known = false;
    const qint64 announced = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    emit progress(received_, known ? announced : -1);
}

void UpdateTransfer::stop(Outcome outcome) {
    if (ended_) return;
    stopped_ = outcome;
    // A running reply reports its abort at once through finished, which ends the transfer.
    if (reply_) reply_->abort();
    if (!ended_) end(outcome);
}

void UpdateTransfer::end(Outcome outcome) {
    ended_ = true;
    if (reply_) {
        disconnect(reply_, nullptr, this, nullptr);
        reply_->deleteLater();
        reply_ = nullptr;
    }
    emit finished(outcome);
}

UpdateTransfer::Outcome UpdateTransfer::outcomeOfReply() const {
    if (stopped_) return *stopped_;
    const QNetworkReply::NetworkError error = reply_->error();
    const int status = httpStatus();
    if (error == QNetworkReply::NoError) {
        if (!isHttpsAddress(reply_->url())) return Outcome::insecureRedirect;
        return status == kHttpOk ? Outcome::completed : Outcome::serverRefused;
    }
    if (status >= 400) return Outcome::serverRefused;
    switch (error) {
        // Every abort of ours goes through stop(); an abort we did not ask for is the
        // transfer time-out (Qt reports it either way, depending on the version).
        case QNetworkReply::OperationCanceledError:
        case QNetworkReply::TimeoutError:
            return Outcome::timedOut;
        case QNetworkReply::SslHandshakeFailedError:
            return Outcome::certificateRefused;
        case QNetworkReply::InsecureRedirectError:
            return Outcome::insecureRedirect;
        default:
            break;
    }
    // Qt's content (2xx) and server (4xx) error codes stand for answers the server gave.
    const int code = static_cast<int>(error);
    if ((code >= 201 && code < 300) || (code >= 401 && code < 500)) return Outcome::serverRefused;
    return Outcome::unreachable;
}

}  // namespace talvian
