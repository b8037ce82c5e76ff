#pragma once
// One https download of the updater, with its limits: every redirect is checked and one that
// leaves https ends the transfer, a transfer that moves no byte for its time-out ends, and one
// that passes its byte limit is aborted the moment it does. Main thread.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace talvian {

class UpdateTransfer : public QObject {
    Q_OBJECT

  public:
    // How a transfer ended; only `completed` delivered every byte of a 200 answer.
    enum class Outcome {
        completed,
        cancelled,           // cancel() was called
        unreachable,         // no connection, or it broke off
        timedOut,            // no byte moved for the time-out
        certificateRefused,  // the server's certificate did not verify
        insecureRedirect,    // a redirect to anything but https
        serverRefused,       // an answer other than 200
        tooLarge,            // more bytes than the limit, announced or arriving
        sinkFailed,          // the sink could not keep the bytes
    };

    struct Limits {
        qint64 maximumBytes = 0;
        std::chrono::milliseconds timeout{0};
        // Tests only: the authority of a local server, trusted besides the system's. Certificate
        // checks are never turned off.
        QList<QSslCertificate> extraAuthorities;
    };

    // Takes the bytes of the answer as they arrive; returns false when it could not keep them.
    using Sink = std::function<bool(const QByteArray& bytes)>;

    // Starts the request at once. A `url` that is not https ends as insecureRedirect, reported
    // from the event loop like every other end.
    UpdateTransfer(QNetworkAccessManager& network, const QUrl& url, const Limits& limits, Sink sink,
                   QObject* parent = nullptr);
    // Aborts a running request without reporting.
    ~UpdateTransfer() override;

    // Ends the transfer as cancelled; finished() comes before this returns. Does nothing once ended.
    void cancel();
    qint64 receivedBytes() const { return received_; }

  signals:
    // Bytes received so far of the answer's announced length (-1 when it announced none).
    void progress(qint64 receivedBytes, qint64 totalBytes);
    // Once, at the end. The transfer may be deleted (deleteLater) from here.
    void finished(talvian::UpdateTransfer::Outcome outcome);

  private:
    void takeBytes();
    void checkAnnouncedLength();
    // Ends the transfer with `outcome` (aborting the request while it runs).
    void stop(Outcome outcome);
    void end(Outcome outcome);
    Outcome outcomeOfReply() const;
    int httpStatus() const;

    QPointer<QNetworkReply> reply_;
    Limits limits_;
    Sink sink_;
    qint64 received_ = 0;
    std::optional<Outcome> stopped_;  // set by stop() before the abort reaches the reply
    bool ended_ = false;
};

}  // namespace talvian
