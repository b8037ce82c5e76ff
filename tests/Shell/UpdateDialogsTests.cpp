// The updater's dialogs: what they say, and that every choice reaches the updater.

#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QProgressDialog>
#include <QPushButton>

#include <gtest/gtest.h>

#include "Shell/UpdateDialogs.h"
#include "ShellFixture.h"
#include "Update/UpdateService.h"
#include "UpdateFixture.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;

QStringList buttonTexts(QMessageBox& box) {
    QStringList texts;
    for (QAbstractButton* button : box.buttons()) {
        texts << button->text();
        // Return never chooses for the user.
        EXPECT_FALSE(static_cast<QPushButton*>(button)->autoDefault()) << button->text().toStdString();
    }
    texts.sort();
    return texts;
}

TEST(UpdateDialogs, TheApplicationsUpdaterIsTheFeedUpdaterWithItsDialogs) {
    const nlohmann::json info{
        {"SUFeedURL", "https://updates.example.com/talvian/feed.json"},
        {"SUPublicEDKey", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="},
    };
    const UpdateService service(info, &makeUpdaterWithDialogs);
    auto* updater = qobject_cast<FeedUpdater*>(service.controller());
    ASSERT_NE(updater, nullptr);
    EXPECT_EQ(updater->findChildren<UpdateDialogs*>().size(), 1);
    // The network objects come with the first check, not with the updater.
    EXPECT_TRUE(updater->findChildren<QNetworkAccessManager*>().isEmpty());
    // The default build configures no updates: no updater, no dialogs.
    EXPECT_EQ(makeUpdaterWithDialogs(AppServiceConfiguration(readInfoDictionary())), nullptr);
}

TEST_F(FeedUpdaterTest, DialogsOfferReportAndCallTheUpdaterBack) {
    const QByteArray data = package();
    publish("1.10.0", data);
    auto updater = makeUpdater();
    UpdateDialogs dialogs(*updater, desktop);
    auto offerShown = [&] { return dialogs.offerDialog() && dialogs.offerDialog()->isVisible(); };
    auto reportShown = [&] { return dialogs.reportDialog() && dialogs.reportDialog()->isVisible(); };

    // The offer, dismissed by its close box.
    updater->checkForUpdates();
    ASSERT_TRUE(waitUntil(offerShown));
    QMessageBox* offer = dialogs.offerDialog();
    EXPECT_EQ(offer->windowTitle(), "软件更新");
    EXPECT_EQ(offer->text(), "发现新版本 1.10.0");
    EXPECT_EQ(
        offer->informativeText(),
        "你正在使用的版本是 1.9.3。新版本的安装包会下载到“下载”文件夹，通过签名验证后保留，不会自动安装。");
    EXPECT_EQ(buttonTexts(*offer), (QStringList{"下载", "以后再说", "打开下载页面"}));
    saveShot(*offer, "update-offer");
    offer->close();
    EXPECT_TRUE(updater->canCheckForUpdates());
    EXPECT_FALSE(updater->offer());

    // The offer's page.
    updater->checkForUpdates();
    ASSERT_TRUE(waitUntil(offerShown));
    buttonWithText(*dialogs.offerDialog(), "打开下载页面")->click();
    EXPECT_EQ(desktop->openedLinks,
              std::vector<std::string>{server.url("/release").toString().toStdString()});
    EXPECT_TRUE(updater->canCheckForUpdates());

    // The download: its progress, then its report, which shows the package in its folder.
    updater->checkForUpdates();
    ASSERT_TRUE(waitUntil(offerShown));
    buttonWithText(*dialogs.offerDialog(), "下载")->click();
    ASSERT_NE(dialogs.progressDialog(), nullptr);
    EXPECT_EQ(dialogs.progressDialog()->labelText(), "正在下载新版本…");
    ASSERT_TRUE(waitUntil(reportShown));
    EXPECT_EQ(dialogs.progressDialog(), nullptr);
    QMessageBox* report = dialogs.reportDialog();
    EXPECT_EQ(report->text(), "新版本已下载");
    EXPECT_EQ(report->informativeText(),
              "已保存为“\u2068talvian-1.10.0.tar.xz\u2069”，签名验证无误。安装前请先退出本程序。");
    EXPECT_EQ(buttonTexts(*report), (QStringList{"在文件夹中显示", "知道了"}));
    buttonWithText(*report, "在文件夹中显示")->click();
    EXPECT_EQ(desktop->revealedFiles, std::vector<fs::path>{downloads / "talvian-1.10.0.tar.xz"});

    // A manual check with nothing newer, then one that fails: each says so.
    serveFeed(feedFor("1.9.3", data));
    updater->checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return reportShown() && dialogs.reportDialog()->text() == "已是最新版本"; }));
    EXPECT_EQ(dialogs.reportDialog()->informativeText(), "当前版本：1.9.3");
    EXPECT_EQ(buttonTexts(*dialogs.reportDialog()), QStringList{"知道了"});
    server.answer(QStringLiteral("/feed.json"), {404, "gone"});
    updater->checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return reportShown() && dialogs.reportDialog()->text() != "已是最新版本"; }));
    EXPECT_EQ(dialogs.reportDialog()->text(), "更新服务器暂时无法提供更新信息，请稍后再试。");
    buttonWithText(*dialogs.reportDialog(), "知道了")->click();
    EXPECT_TRUE(waitUntil([&] { return !dialogs.reportDialog(); }));
}

TEST_F(FeedUpdaterTest, CancellingTheProgressStopsTheDownload) {
    const QByteArray data = package();
    serveFeed(feedFor("1.10.0", data));
    server.answer(packagePath("1.10.0"), {200, data, {}, true, -1, false, true});
    auto updater = makeUpdater();
    UpdateDialogs dialogs(*updater, desktop);
    updater->checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return dialogs.offerDialog() && dialogs.offerDialog()->isVisible(); }));
    buttonWithText(*dialogs.offerDialog(), "下载")->click();
    ASSERT_TRUE(waitUntil([&] { return server.requested.contains(packagePath("1.10.0")); }));
    ASSERT_NE(dialogs.progressDialog(), nullptr);
    buttonWithText(*dialogs.progressDialog(), "取消")->click();
    EXPECT_TRUE(updater->canCheckForUpdates());
    EXPECT_EQ(dialogs.progressDialog(), nullptr);
    EXPECT_EQ(dialogs.reportDialog(), nullptr);
    EXPECT_TRUE(filesIn(downloads).empty());
    server.release();
}

}  // namespace
}  // namespace talvian::test
