#pragma once
// What the updater's tests serve and sign: an https server on 127.0.0.1 with a certificate the
// openssl program makes for the test, a plain http server that only counts who comes, and
// Ed25519 keys made with OpenSSL.

#include <openssl/evp.h>

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QUrl>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../Workspace/WorkspaceFixture.h"
#include "Support/AppConfiguration.h"
#include "TestSupport.h"
#include "Update/FeedUpdater.h"
#include "Workspace/DesktopServices.h"

namespace talvian::test {

// An Ed25519 key pair; signs messages and hands out its public key as Info.json carries it.
class Ed25519Key {
  public:
    Ed25519Key() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free) {
        EXPECT_NE(key_.get(), nullptr);
    }
    Ed25519Key(const Ed25519Key&) = delete;
    Ed25519Key& operator=(const Ed25519Key&) = delete;

    // The 32 raw bytes of the public key in base64.
    std::string publicKeyBase64() const {
        QByteArray raw(32, '\0');
        std::size_t size = raw.size();
        EXPECT_EQ(
            EVP_PKEY_get_raw_public_key(key_.get(), reinterpret_cast<unsigned char*>(raw.data()), &size), 1);
        EXPECT_EQ(size, 32u);
        return raw.toBase64().toStdString();
    }
    // The raw 64-byte signature of `message`.
    QByteArray sign(const QByteArray& message) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        EXPECT_EQ(EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()), 1);
        QByteArray signature(64, '\0');
        std::size_t size = signature.size();
        EXPECT_EQ(EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                                 reinterpret_cast<const unsigned char*>(message.constData()), message.size()),
                  1);
        EXPECT_EQ(size, 64u);
        return signature;
    }

  private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_;
};

// Serves fixed answers by path over https (HTTP/1.1, one request per connection) and records
// the paths asked for.
class LocalHttpsServer : public QObject {
  public:
    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray location;  // where a redirect points
        // The announced length: the body's by default; none when false (the end of the
        // connection ends the body).
        bool announceLength = true;
        qint64 announcedLength = -1;  // announced instead of the body's, when not negative
        // After the body, more bytes for as long as the client reads (up to kEndlessCeiling).
        bool endless = false;
        // No answer at all until release().
        bool held = false;
    };

    // An endless answer ends here, so that a client that never stops reading fails its test
    // instead of hanging it.
    static constexpr qint64 kEndlessCeiling = qint64{64} << 20;

    LocalHttpsServer() {
        // A self-signed certificate for this test only, valid for the loopback address.
        const auto key = folder_ / "key.pem";
        const auto certificate = folder_ / "certificate.pem";
        const int status = shell(
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
            "/CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
            shellQuote(key.string()) + " -out " + shellQuote(certificate.string()) + " 2>/dev/null");
        EXPECT_EQ(status, 0);
        const auto certificates = QSslCertificate::fromPath(QString::fromStdString(certificate.string()));
        EXPECT_EQ(certificates.size(), 1);
        if (!certificates.isEmpty()) certificate_ = certificates.first();
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(certificate_);
        tls.setPrivateKey(QSslKey(QByteArray::fromStdString(readFile(key)), QSsl::Ec));
        server_.setSslConfiguration(tls);
        connect(&server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                serve(static_cast<QSslSocket*>(socket));
        });
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    }

    // The certificate, to be trusted as its own authority.
    const QSslCertificate& authority() const { return certificate_; }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
    }
    void answer(const QString& path, Answer answer) { answers_[path] = std::move(answer); }
    // Answers every held request.
    void release() {
        for (auto& [socket, answer] : std::exchange(held_, {}))
            if (socket) respond(socket, answer);
    }
    // Paths in the order they were asked for.
    QStringList requested;

  private:
    void serve(QSslSocket* socket) {
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QSslSocket::readyRead, this, [this, socket] {
            QByteArray& request = pending_[socket];
            request += socket->readAll();
            const auto headerEnd = request.indexOf("\r\n\r\n");
            if (headerEnd < 0) return;
            const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
            const QString path = line.size() >= 2 ? QString::fromUtf8(line[1]) : QString();
            pending_.remove(socket);
            disconnect(socket, &QSslSocket::readyRead, this, nullptr);
            requested << path;
            Answer answer = answers_.value(path, Answer{404, "not here", {}, true, -1, false, false});
            if (answer.held) {
                held_.push_back({socket, answer});
                return;
            }
            respond(socket, answer);
        });
    }

    void respond(QSslSocket* socket, const Answer& answer) {
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(answer.status) + " Answer\r\nConnection: close\r\n";
        if (!answer.location.isEmpty()) head += "Location: " + answer.location + "\r\n";
        if (answer.announceLength)
            head += "Content-Length: " +
                    QByteArray::number(answer.announcedLength >= 0 ? answer.announcedLength
                                                                   : answer.body.size()) +
                    "\r\n";
        socket->write(head + "\r\n" + answer.body);
        if (!answer.endless) {
            socket->disconnectFromHost();
            return;
        }
        auto sent = std::make_shared<qint64>(answer.body.size());
        connect(socket, &QSslSocket::encryptedBytesWritten, socket, [socket, sent] {
            if (socket->encryptedBytesToWrite() + socket->bytesToWrite() > (qint64{1} << 18)) return;
            if (*sent >= kEndlessCeiling) {
                socket->disconnectFromHost();
                return;
            }
            const QByteArray chunk(64 * 1024, 'x');
            *sent += chunk.size();
            socket->write(chunk);
        });
    }

    TempDir folder_;
    QSslServer server_;
    QSslCertificate certificate_;
    QHash<QString, Answer> answers_;
    QHash<QSslSocket*, QByteArray> pending_;
    std::vector<std::pair<QPointer<QSslSocket>, Answer>> held_;
};

// A plain http server that answers nothing and counts the connections it was offered.
class CountingHttpServer : public QObject {
  public:
    CountingHttpServer() {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections;
                socket->close();
                socket->deleteLater();
            }
        });
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    }
    QByteArray url(const QByteArray& path) const {
        return "http://127.0.0.1:" + QByteArray::number(server_.serverPort()) + path;
    }
    int connections = 0;

  private:
    QTcpServer server_;
};

// Bytes of a stand-in package that do not repeat in step over a few hundred kilobytes.
inline QByteArray packageBytes(int bytes) {
    QByteArray data(bytes, '\0');
    for (int i = 0; i < bytes; ++i) data[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return data;
}

// What an updater reported, in order.
class UpdaterReports {
  public:
    explicit UpdaterReports(FeedUpdater& updater) {
        QObject::connect(
            &updater, &FeedUpdater::updateFound, &updater,
            [this](const QString& version, const QString& running) {
                events.push_back("found " + version.toStdString() + " over " + running.toStdString());
            });
        QObject::connect(&updater, &FeedUpdater::upToDate, &updater, [this](const QString& running) {
            events.push_back("up to date " + running.toStdString());
        });
        QObject::connect(&updater, &FeedUpdater::failed, &updater, [this](const QString& message) {
            events.push_back("failed: " + message.toStdString());
        });
        QObject::connect(&updater, &FeedUpdater::downloaded, &updater, [this](const QString& path) {
            events.push_back("downloaded " + path.toStdString());
        });
        QObject::connect(&updater, &FeedUpdater::downloadProgress, &updater,
                         [this](qint64 received, qint64 total) {
                             progress = {received, total};
                         });
        QObject::connect(&updater, &Updater::canCheckForUpdatesChanged, &updater,
                         [this](bool value) { canCheck.push_back(value); });
    }
    std::vector<std::string> events;
    std::vector<bool> canCheck;
    std::pair<qint64, qint64> progress{0, 0};
};

// A package on the local server, its feed, and updaters configured for them. The updater runs
// version kRunningVersion and saves into a Downloads folder of the test's own.
class FeedUpdaterTest : public ::testing::Test {
  protected:
    static constexpr const char* kRunningVersion = "1.9.3";

    TempDir folder;
    LocalHttpsServer server;
    Ed25519Key key;
    std::shared_ptr<RecordingDesktop> desktop = std::make_shared<RecordingDesktop>();
    std::filesystem::path downloads = folder / "下载";
    QString settingsFile = QString::fromStdString((folder / "settings.ini").string());

    FeedUpdater::Options options() {
        FeedUpdater::Options options;
        options.runningVersion = kRunningVersion;
        options.desktop = desktop;
        options.settingsFile = settingsFile;
        options.downloadFolder = QString::fromStdString(downloads.string());
        options.extraAuthorities = {server.authority()};
        return options;
    }
    AppServiceConfiguration configuration(const QUrl& feed, const std::string& publicKey) {
        AppServiceConfiguration configuration(nlohmann::json{
            {"SUFeedURL", feed.toString().toStdString()},
            {"SUPublicEDKey", publicKey},
        });
        EXPECT_TRUE(configuration.updatesEnabled());
        return configuration;
    }
    std::unique_ptr<FeedUpdater> makeUpdater(FeedUpdater::Options options, const QUrl& feed,
                                             const std::string& publicKey) {
        return std::make_unique<FeedUpdater>(configuration(feed, publicKey), std::move(options));
    }
    std::unique_ptr<FeedUpdater> makeUpdater(FeedUpdater::Options options) {
        return makeUpdater(std::move(options), server.url("/feed.json"), key.publicKeyBase64());
    }
    std::unique_ptr<FeedUpdater> makeUpdater() { return makeUpdater(options()); }

    static QByteArray package(int bytes = 300'000) { return packageBytes(bytes); }
    static QString packagePath(const std::string& version) {
        return QStringLiteral("/talvian-%1.tar.xz").arg(QString::fromStdString(version));
    }
    // The feed of `data` served at packagePath(version), signed by the fixture's key.
    nlohmann::json feedFor(const std::string& version, const QByteArray& data) {
        return {
            {"version", version},
            {"page", server.url("/release").toString().toStdString()},
            {"file", server.url(packagePath(version)).toString().toStdString()},
            {"length", data.size()},
            {"signature", key.sign(data).toBase64().toStdString()},
        };
    }
    void serveFeed(const nlohmann::json& feed) {
        server.answer(QStringLiteral("/feed.json"), {200, QByteArray::fromStdString(feed.dump())});
    }
    // Serves the feed of a package and the package itself.
    void publish(const std::string& version, const QByteArray& data) {
        serveFeed(feedFor(version, data));
        server.answer(packagePath(version), {200, data});
    }

    // A manual check, to its end (an offer, or idle again).
    void check(FeedUpdater& updater) {
        updater.checkForUpdates();
        ASSERT_TRUE(waitUntil([&] { return updater.canCheckForUpdates() || updater.offer(); }));
    }
    // A manual check that finds an offer, then its download, to its end.
    void checkAndDownload(FeedUpdater& updater) {
        check(updater);
        ASSERT_TRUE(updater.offer());
        updater.downloadUpdate();
        ASSERT_TRUE(waitUntil([&] { return updater.canCheckForUpdates(); }));
    }
};

// Every file in `folder` by name, with its bytes.
inline std::map<std::string, std::string> filesIn(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        files[entry.path().filename().string()] = readFile(entry.path());
    return files;
}

}  // namespace talvian::test
