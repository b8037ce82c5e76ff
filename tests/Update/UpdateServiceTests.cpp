// The update service over the build's own Info.json, and the updater it makes when updates are
// configured.

#include <QNetworkAccessManager>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Update/FeedUpdater.h"
#include "Update/UpdateService.h"
#include "Workspace/DesktopServices.h"

namespace talvian {
namespace {

std::unique_ptr<Updater> feedUpdater(const AppServiceConfiguration& configuration) {
    return UpdateService::makeFeedUpdater(configuration, std::make_shared<SystemDesktopServices>());
}

TEST(UpdateService, DefaultBuildHasNoUpdater) {
    const UpdateService service(readInfoDictionary(), &feedUpdater);
    EXPECT_EQ(service.controller(), nullptr);
    EXPECT_FALSE(service.canCheck());
    EXPECT_FALSE(service.automaticChecks());
    int calls = 0;
    const UpdateService other(readInfoDictionary(), [&](const AppServiceConfiguration&) {
        ++calls;
        return std::unique_ptr<Updater>();
    });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(feedUpdater(AppServiceConfiguration(readInfoDictionary())), nullptr);
}

TEST(UpdateService, ConfiguredServiceHoldsTheFeedUpdaterWithoutTouchingTheNetwork) {
    const nlohmann::json info{
        {"SUFeedURL", "https://updates.example.com/talvian/feed.json"},
        {"SUPublicEDKey", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="},
    };
    const UpdateService service(info, &feedUpdater);
    auto* updater = qobject_cast<FeedUpdater*>(service.controller());
    ASSERT_NE(updater, nullptr);
    EXPECT_TRUE(service.canCheck());
    EXPECT_FALSE(service.automaticChecks());
    EXPECT_EQ(updater->runningVersion(), readInfoDictionary().value("CFBundleShortVersionString", ""));
    // The network objects come with the first check, not with the updater.
    EXPECT_TRUE(updater->findChildren<QNetworkAccessManager*>().isEmpty());
}

}  // namespace
}  // namespace talvian
