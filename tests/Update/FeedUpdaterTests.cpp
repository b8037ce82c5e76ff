// The feed updater against a local https server: what a check finds and reports, how a
// download is kept or deleted, and the automatic checks' preference and schedule.

#include <QSettings>
#include <QSignalBlocker>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Update/UpdateService.h"
#include "UpdateFixture.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// ---- Checks -------------------------------------------------------------------------------

TEST_F(FeedUpdaterTest, ManualCheckOffersOnlyANewerVersion) {
    // The feed has moved once, to another https address: that redirect is followed.
    server.answer(QStringLiteral("/moved"), {302, {}, server.url("/feed.json").toEncoded()});
    const struct {
        const char* version;
        bool newer;
    } cases[] = {
        {"1.10.0", true},  // 10 > 9, not "1" < "9"
        {"1.9.3.1", true}, {"2", true},
        {"1.9.3", false},  {"1.9.3.0", false},  // the same version written longer
        {"01.9.3", false}, {"1.9", false},
        {"1.8.10", false}, {"0.99", false},
    };
    for (const auto& [version, newer] : cases) {
        SCOPED_TRACE(version);
        server.requested.clear();
        serveFeed(feedFor(version, package(1000)));
        auto updater = makeUpdater(options(), server.url("/moved"), key.publicKeyBase64());
        UpdaterReports reports(*updater);
        check(*updater);
        EXPECT_EQ(server.requested, QStringList({"/moved", "/feed.json"}));
        if (newer) {
            EXPECT_EQ(reports.events,
                      std::vector<std::string>{"found " + std::string(version) + " over 1.9.3"});
            ASSERT_TRUE(updater->offer());
            EXPECT_EQ(updater->offer()->version, version);
            // While the offer is open nothing else starts.
            EXPECT_FALSE(updater->canCheckForUpdates());
            updater->dismissUpdate();
            EXPECT_FALSE(updater->offer());
        } else {
            EXPECT_EQ(reports.events, std::vector<std::string>{"up to date 1.9.3"});
        }
        EXPECT_TRUE(updater->canCheckForUpdates());
        EXPECT_EQ(reports.canCheck, (std::vector<bool>{false, true}));
    }
}

TEST_F(FeedUpdaterTest, ManualCheckReportsEveryFailureInChinese) {
    CountingHttpServer plain;
    // A port nobody listens on.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    using Answer = LocalHttpsServer::Answer;
    const QString feedPath = QStringLiteral("/feed.json");
    // A feed of exactly the size limit is still read: valid JSON padded with spaces.
    QByteArray fullFeed = QByteArray::fromStdString(feedFor("1.0", package(10)).dump());
    fullFeed += QByteArray(kFeedLimitBytes - fullFeed.size(), ' ');
    auto httpFile = feedFor("2.0", package(10));
    httpFile["file"] = plain.url("/talvian-2.0.tar.xz").toStdString();
    auto httpPage = feedFor("2.0", package(10));
    httpPage["page"] = plain.url("/release").toStdString();

    const struct {
        const char* name;
        std::function<void(FeedUpdater::Options&, QUrl&)> arrange;
        std::string expected;
    } cases[] = {
        {"redirect to http",
         [&](auto&, auto&) {
             server.answer(feedPath, Answer{302, {}, plain.url("/feed.json")});
         },
         "failed: 更新服务器把请求转到了不安全的地址，已停止检查更新。"},
        {"feed over the limit, announced",
         [&](auto&, auto&) {
             server.answer(feedPath, Answer{200, "{", {}, true, kFeedLimitBytes + 1, true});
         },
         "failed: 更新信息过大，已停止读取。"},
        {"feed over the limit, never ending",
         [&](auto&, auto&) {
             server.answer(feedPath, Answer{200, "{", {}, false, -1, true});
         },
         "failed: 更新信息过大，已停止读取。"},
        {"feed of exactly the limit",
         [&](auto&, auto&) {
             server.answer(feedPath, Answer{200, fullFeed});
         },
         "up to date 1.9.3"},
        {"no feed",
         [&](auto&, auto&) {
             server.answer(feedPath, Answer{404, "gone"});
         },
         "failed: 更新服务器暂时无法提供更新信息，请稍后再试。"},
        {"server error",
         [&](auto&, auto&) {
             server.answer(feedPath, Answer{500, "oops"});
         },
         "failed: 更新服务器暂时无法提供更新信息，请稍后再试。"},
        {"not a feed",
         [&](auto&, auto&) {
             server.answer(feedPath, Answer{200, "<rss></rss>"});
         },
         "failed: 更新信息无法识别，请稍后再试。"},
        {"package over http", [&](auto&, auto&) { serveFeed(httpFile); },
         "failed: 更新信息中有不安全的地址，已停止检查更新。"},
        {"page over http", [&](auto&, auto&) { serveFeed(httpPage); },
         "failed: 更新信息中有不安全的地址，已停止检查更新。"},
        {"certificate of no trusted authority",
         [&](FeedUpdater::Options& options, auto&) {
             publish("2.0", package(10));
             options.extraAuthorities.clear();
         },
         "failed: 无法验证更新服务器的安全证书，已停止检查更新。"},
        {"no answer",
         [&](FeedUpdater::Options& options, auto&) {
             server.answer(feedPath, Answer{200, "{}", {}, true, -1, false, true});
             options.transferTimeout = 300ms;
         },
         "failed: 连接更新服务器超时，请稍后再试。"},
        {"nobody listening", [&](auto&, QUrl& feed) { feed.setPort(closedPort); },
         "failed: 无法连接更新服务器，请检查网络连接后再试。"},
    };
    for (const auto& [name, arrange, expected] : cases) {
        SCOPED_TRACE(name);
        auto updaterOptions = options();
        QUrl feed = server.url(feedPath);
        arrange(updaterOptions, feed);
        auto updater = makeUpdater(std::move(updaterOptions), feed, key.publicKeyBase64());
        UpdaterReports reports(*updater);
        check(*updater);
        EXPECT_EQ(reports.events, std::vector<std::string>{expected});
        EXPECT_TRUE(updater->canCheckForUpdates());
        EXPECT_FALSE(updater->offer());
        server.release();
    }
    // Nothing ever reached the plain server, not even the redirected request.
    EXPECT_EQ(plain.connections, 0);
}

TEST_F(FeedUpdaterTest, NothingElseStartsWhileACheckRuns) {
    server.answer(
        QStringLiteral("/feed.json"),
        {200, QByteArray::fromStdString(feedFor("1.9.3", package(10)).dump()), {}, true, -1, false, true});
    auto updater = makeUpdater();
    UpdaterReports reports(*updater);
    EXPECT_TRUE(updater->canCheckForUpdates());
    updater->checkForUpdates();
    EXPECT_FALSE(updater->canCheckForUpdates());
    ASSERT_TRUE(waitUntil([&] { return server.requested.size() == 1; }));
    updater->checkForUpdates();
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(reports.canCheck, std::vector<bool>{false});
    server.release();
    ASSERT_TRUE(waitUntil([&] { return updater->canCheckForUpdates(); }));
    EXPECT_EQ(reports.events, std::vector<std::string>{"up to date 1.9.3"});
    EXPECT_EQ(reports.canCheck, (std::vector<bool>{false, true}));
    EXPECT_EQ(server.requested.size(), 1);
}

// ---- Automatic checks ---------------------------------------------------------------------

TEST_F(FeedUpdaterTest, AutomaticPreferenceStartsOffPersistsAndReachesTheService) {
    const nlohmann::json info{{"SUFeedURL", server.url("/feed.json").toString().toStdString()},
                              {"SUPublicEDKey", key.publicKeyBase64()}};
    FeedUpdater* updater = nullptr;
    UpdateService service(info, [&](const AppServiceConfiguration& configuration) {
        auto made = std::make_unique<FeedUpdater>(configuration, options());
        updater = made.get();
        return made;
    });
    ASSERT_NE(updater, nullptr);
    ASSERT_EQ(service.controller(), updater);
    EXPECT_FALSE(updater->automaticallyChecksForUpdates());
    EXPECT_FALSE(updater->nextAutomaticCheck());
    EXPECT_FALSE(service.automaticChecks());
    EXPECT_TRUE(service.canCheck());
    int changes = 0;
    QObject::connect(&service, &UpdateService::changed, [&] { ++changes; });

    // The service shows what the updater reports, not what was asked of it.
    {
        const QSignalBlocker silence(updater);
        updater->setAutomaticallyChecksForUpdates(true);
    }
    EXPECT_TRUE(updater->automaticallyChecksForUpdates());
    EXPECT_FALSE(service.automaticChecks());
    updater->setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(service.automaticChecks());
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(service.automaticChecks());
    EXPECT_EQ(changes, 1);

    // The choice outlives the updater, in the settings it was given.
    EXPECT_TRUE(QSettings(settingsFile, QSettings::IniFormat).value(kAutomaticChecksKey).toBool());
    EXPECT_TRUE(makeUpdater()->automaticallyChecksForUpdates());
    updater->setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(service.automaticChecks());
    EXPECT_FALSE(makeUpdater()->automaticallyChecksForUpdates());
    // Nothing of this touched the network.
    EXPECT_TRUE(server.requested.isEmpty());
}

TEST_F(FeedUpdaterTest, AutomaticCheckIsDueADayAfterTheLastOne) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const struct {
        const char* name;
        std::optional<QDateTime> lastCheck;
        QDateTime due;
    } cases[] = {
        {"never checked", std::nullopt, now.addSecs(15)},
        {"checked an hour ago", now.addSecs(-3600), now.addSecs(23 * 3600)},
        {"checked 25 hours ago", now.addSecs(-25 * 3600), now.addSecs(15)},
        {"checked tomorrow (the clock was set back)", now.addDays(1), now.addSecs(15)},
    };
    for (const auto& [name, lastCheck, due] : cases) {
        SCOPED_TRACE(name);
        {
            QSettings settings(settingsFile, QSettings::IniFormat);
            settings.clear();
            settings.setValue(kAutomaticChecksKey, true);
            if (lastCheck) settings.setValue(kLastCheckKey, lastCheck->toSecsSinceEpoch());
        }
        auto updater = makeUpdater();
        ASSERT_TRUE(updater->nextAutomaticCheck());
        // The clock moved on a little while the updater was made.
        EXPECT_LE(std::abs(updater->nextAutomaticCheck()->secsTo(due)), 5)
            << updater->nextAutomaticCheck()->toString().toStdString();
        updater->setAutomaticallyChecksForUpdates(false);
        EXPECT_FALSE(updater->nextAutomaticCheck());
    }
    EXPECT_TRUE(server.requested.isEmpty());
}

TEST_F(FeedUpdaterTest, AutomaticCheckSpeaksOnlyOfANewerVersion) {
    using Answer = LocalHttpsServer::Answer;
    const struct {
        const char* name;
        LocalHttpsServer::Answer feed;
        std::vector<std::string> events;
    } cases[] = {
        {"the same version", {200, QByteArray::fromStdString(feedFor("1.9.3", package(10)).dump())}, {}},
        {"no feed", Answer{404, "gone"}, {}},
        {"not a feed", Answer{200, "[]"}, {}},
        {"a newer version",
         {200, QByteArray::fromStdString(feedFor("1.9.4", package(10)).dump())},
         {"found 1.9.4 over 1.9.3"}},
    };
    for (const auto& [name, feed, events] : cases) {
        SCOPED_TRACE(name);
        {
            QSettings settings(settingsFile, QSettings::IniFormat);
            settings.clear();
            settings.setValue(kAutomaticChecksKey, true);
        }
        server.requested.clear();
        server.answer(QStringLiteral("/feed.json"), feed);
        auto updaterOptions = options();
        updaterOptions.startDelay = 0ms;
        const QDateTime start = QDateTime::currentDateTimeUtc();
        auto updater = makeUpdater(std::move(updaterOptions));
        UpdaterReports reports(*updater);
        // Nothing happens before the event loop runs: the check waits for its delay.
        EXPECT_TRUE(server.requested.isEmpty());
        ASSERT_TRUE(waitUntil([&] { return reports.canCheck.size() >= 2 || updater->offer(); }));
        EXPECT_EQ(server.requested, QStringList{"/feed.json"});
        EXPECT_EQ(reports.events, events);
        // The next check is a day after this one, which the settings remember.
        const qint64 lastCheck =
            QSettings(settingsFile, QSettings::IniFormat).value(kLastCheckKey).toLongLong();
        EXPECT_GE(lastCheck, start.toSecsSinceEpoch());
        ASSERT_TRUE(updater->nextAutomaticCheck());
        EXPECT_EQ(updater->nextAutomaticCheck()->toSecsSinceEpoch(), lastCheck + 24 * 3600);
    }
}

// ---- Downloads ----------------------------------------------------------------------------

TEST_F(FeedUpdaterTest, SignedDownloadIsKeptUnderAFreeName) {
    // Signed as the README tells a release manager to: the openssl program, a raw Ed25519 key.
    const QByteArray data = package();
    writeFile(folder / "package", data.toStdString());
    const auto signingKey = folder / "update-key.pem";
    const auto publicKey = folder / "public-key.txt";
    const auto signature = folder / "signature.txt";
    ASSERT_EQ(shell("openssl genpkey -algorithm ed25519 -out " + shellQuote(signingKey.string())), 0);
    ASSERT_EQ(shell("openssl pkey -in " + shellQuote(signingKey.string()) +
                    " -pubout -outform DER | tail -c 32 | "
                    "base64 > " +
                    shellQuote(publicKey.string())),
              0);
    ASSERT_EQ(shell("openssl pkeyutl -sign -rawin -inkey " + shellQuote(signingKey.string()) + " -in " +
                    shellQuote((folder / "package").string()) + " | base64 -w0 > " +
                    shellQuote(signature.string())),
              0);
    auto feed = feedFor("1.10.0", data);
    feed["signature"] = readFile(signature);
    serveFeed(feed);
    server.answer(packagePath("1.10.0"), {200, data});
    // What the Downloads folder held before stays as it was.
    fs::create_directories(downloads);
    writeFile(downloads / "talvian-1.10.0.tar.xz", "mine");

    auto updater = makeUpdater(options(), server.url("/feed.json"), readFile(publicKey));
    UpdaterReports reports(*updater);
    checkAndDownload(*updater);
    const fs::path kept = downloads / "talvian-1.10.0-2.tar.xz";
    EXPECT_EQ(reports.events,
              (std::vector<std::string>{"found 1.10.0 over 1.9.3", "downloaded " + kept.string()}));
    EXPECT_EQ(filesIn(downloads), (std::map<std::string, std::string>{
                                      {"talvian-1.10.0.tar.xz", "mine"},
                                      {"talvian-1.10.0-2.tar.xz", data.toStdString()},
                                  }));
    EXPECT_EQ(reports.progress, std::make_pair(qint64{data.size()}, qint64{data.size()}));
    EXPECT_EQ(reports.canCheck, (std::vector<bool>{false, true}));
    EXPECT_FALSE(updater->offer());
    EXPECT_TRUE(desktop->openedLinks.empty());
}

TEST_F(FeedUpdaterTest, DownloadThatIsNotTheSignedPackageIsDeleted) {
    CountingHttpServer plain;
    using Answer = LocalHttpsServer::Answer;
    const QByteArray data = package();
    QByteArray changed = data;
    changed[150'000] = static_cast<char>(changed[150'000] ^ 0x01);
    const Ed25519Key otherKey;
    const QString file = packagePath("1.10.0");
    const std::string notSigned = "failed: 下载的文件未通过签名验证，可能已被改动，已将其删除。";
    const struct {
        const char* name;
        std::function<void(nlohmann::json& feed)> arrange;
        std::string expected;
    } cases[] = {
        {"one byte changed",
         [&](auto&) {
             server.answer(file, {200, changed});
         },
         notSigned},
        {"signed by another key",
         [&](nlohmann::json& feed) {
             server.answer(file, {200, data});
             feed["signature"] = otherKey.sign(data).toBase64().toStdString();
         },
         notSigned},
        {"the feed's length is short by a byte",
         [&](nlohmann::json& feed) {
             server.answer(file, {200, data});
             feed["length"] = data.size() - 1;
         },
         "failed: 下载的文件比更新信息所写的大，已停止下载并删除该文件。"},
        {"longer than the feed says, without end",
         [&](auto&) {
             server.answer(file, Answer{200, data, {}, false, -1, true});
         },
         "failed: 下载的文件比更新信息所写的大，已停止下载并删除该文件。"},
        {"shorter than the feed says",
         [&](auto&) {
             server.answer(file, Answer{200, data.left(data.size() - 10), {}, false});
         },
         "failed: 下载的文件不完整，已将其删除。"},
        {"redirected to http",
         [&](auto&) {
             server.answer(file, Answer{302, {}, plain.url("/talvian-1.10.0.tar.xz")});
         },
         "failed: 下载地址被转到了不安全的地址，已停止下载。"},
        {"gone from the server",
         [&](auto&) {
             server.answer(file, Answer{404, "gone"});
         },
         "failed: 下载服务器暂时无法提供新版本，请稍后再试。"},
    };
    fs::create_directories(downloads);
    writeFile(downloads / "talvian-1.10.0.tar.xz", "mine");
    for (const auto& [name, arrange, expected] : cases) {
        SCOPED_TRACE(name);
        auto feed = feedFor("1.10.0", data);
        arrange(feed);
        serveFeed(feed);
        auto updater = makeUpdater();
        UpdaterReports reports(*updater);
        checkAndDownload(*updater);
        EXPECT_EQ(reports.events, (std::vector<std::string>{"found 1.10.0 over 1.9.3", expected}));
        EXPECT_EQ(filesIn(downloads),
                  (std::map<std::string, std::string>{{"talvian-1.10.0.tar.xz", "mine"}}));
        EXPECT_TRUE(updater->canCheckForUpdates());
    }
    EXPECT_EQ(plain.connections, 0);
}

TEST_F(FeedUpdaterTest, CancelledDownloadLeavesNothingAndSaysNothing) {
    const QByteArray data = package();
    serveFeed(feedFor("1.10.0", data));
    server.answer(packagePath("1.10.0"), {200, data, {}, true, -1, false, true});
    auto updater = makeUpdater();
    UpdaterReports reports(*updater);
    check(*updater);
    updater->downloadUpdate();
    ASSERT_TRUE(waitUntil([&] { return server.requested.contains(packagePath("1.10.0")); }));
    EXPECT_EQ(filesIn(downloads).size(), 1u);  // the partial file
    updater->cancelDownload();
    EXPECT_TRUE(updater->canCheckForUpdates());
    EXPECT_EQ(reports.events, std::vector<std::string>{"found 1.10.0 over 1.9.3"});
    EXPECT_TRUE(filesIn(downloads).empty());
    server.release();
}

TEST_F(FeedUpdaterTest, DownloadFolderThatCannotBeMadeIsReported) {
    const QByteArray data = package(100);
    publish("1.10.0", data);
    writeFile(downloads, "a file where the folder should be");
    auto updater = makeUpdater();
    UpdaterReports reports(*updater);
    checkAndDownload(*updater);
    ASSERT_EQ(reports.events.size(), 2u);
    EXPECT_TRUE(reports.events[1].starts_with("failed: 无法在下载文件夹中保存新版本：")) << reports.events[1];
    EXPECT_EQ(readFile(downloads), "a file where the folder should be");
    // The package was never asked for.
    EXPECT_FALSE(server.requested.contains(packagePath("1.10.0")));
}

TEST_F(FeedUpdaterTest, OfferOpensTheReleasePageThroughTheDesktop) {
    publish("1.10.0", package(100));
    auto updater = makeUpdater();
    UpdaterReports reports(*updater);
    check(*updater);
    updater->openDownloadPage();
    EXPECT_EQ(desktop->openedLinks,
              std::vector<std::string>{server.url("/release").toString().toStdString()});
    EXPECT_TRUE(updater->canCheckForUpdates());
    EXPECT_FALSE(updater->offer());
    // Without an offer there is nothing to open or download.
    updater->openDownloadPage();
    updater->downloadUpdate();
    EXPECT_EQ(desktop->openedLinks.size(), 1u);
    EXPECT_TRUE(updater->canCheckForUpdates());
    EXPECT_EQ(server.requested, QStringList{"/feed.json"});
}

}  // namespace
}  // namespace talvian::test
