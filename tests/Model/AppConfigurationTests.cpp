#include "Model/AppConfiguration.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;
using test::writeFile;

TEST(AppServiceConfiguration, ReadsTheFourSettingsTrimmed) {
    AppServiceConfiguration configuration(nlohmann::json{
        {"SUFeedURL", " https://updates.example.com/talvian/appcast.xml\n"},
        {"SUPublicEDKey", "\t pZ2+key/Base64= \u3000"},
        {"TalvianSupportEmail", "  help@example.com "},
        {"TalvianGuideURL", "https://example.com/guide?lang=zh#start"},
    });
    EXPECT_EQ(configuration.feedURL, "https://updates.example.com/talvian/appcast.xml");
    EXPECT_EQ(configuration.publicKey, "pZ2+key/Base64=");
    EXPECT_EQ(configuration.supportURL, "mailto:help@example.com");
    EXPECT_EQ(configuration.guideURL, "https://example.com/guide?lang=zh#start");
    EXPECT_TRUE(configuration.updatesEnabled());
    EXPECT_EQ(configuration.makeUpdater([] { return 7; }), 7);
}

TEST(AppServiceConfiguration, AcceptsOnlyHttpsAddressesWithAHost) {
    const std::pair<nlohmann::json, std::optional<std::string>> cases[] = {
        {"http://updates.example.com/feed", std::nullopt},
        {"https:///feed.xml", std::nullopt},
        {"https://", std::nullopt},
        {"https://:443/feed", std::nullopt},
        {"HTTPS://updates.example.com/feed", std::nullopt},
        {"https:updates.example.com", std::nullopt},
        {"ftp://updates.example.com", std::nullopt},
        {"   ", std::nullopt},
        {"", std::nullopt},
        {42, std::nullopt},
        {nlohmann::json::array({"https://example.com"}), std::nullopt},
        {"https://exa mple.com/feed", std::nullopt},
        {"https://example.com/%zz", std::nullopt},
        {"https://example.com:port/", std::nullopt},
        {"https://example.com/中文", std::nullopt},
        {"https://example.com", "https://example.com"},
        {"https://user@example.com:8443/a%20b", "https://user@example.com:8443/a%20b"},
        {"https://[::1]:8443/feed", "https://[::1]:8443/feed"},
    };
    for (const auto& [value, expected] : cases) {
        AppServiceConfiguration configuration(
            nlohmann::json{{"SUFeedURL", value}, {"TalvianGuideURL", value}});
        EXPECT_EQ(configuration.feedURL, expected) << value;
        EXPECT_EQ(configuration.guideURL, expected) << value;
    }
}

TEST(AppServiceConfiguration, UpdaterNeedsBothFeedAndKey) {
    const nlohmann::json cases[] = {
        {{"SUFeedURL", "https://updates.example.com/feed"}},
        {{"SUFeedURL", "https://updates.example.com/feed"}, {"SUPublicEDKey", " \n "}},
        {{"SUFeedURL", "http://updates.example.com/feed"}, {"SUPublicEDKey", "key"}},
        {{"SUPublicEDKey", "key"}},
        nlohmann::json::object(),
        "not a dictionary",
    };
    for (const auto& info : cases) {
        AppServiceConfiguration configuration(info);
        EXPECT_FALSE(configuration.updatesEnabled()) << info;
        int calls = 0;
        EXPECT_EQ(configuration.makeUpdater([&] { return ++calls; }), std::nullopt) << info;
        EXPECT_EQ(calls, 0) << info;
    }
}

TEST(AppServiceConfiguration, SupportAddressBecomesAMailLink) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {" help@example.com\n", "mailto:help@example.com"},
        {"first.last+talvian@mail.example.co", "mailto:first.last+talvian@mail.example.co"},
        // Characters an address may hold but a link path may not are escaped.
        {"a#b?c%d@example.com", "mailto:a%23b%3Fc%25d@example.com"},
        {"help@localhost", std::nullopt},
        {"help@example.c", std::nullopt},
        {"help@example.c0m", std::nullopt},
        {"help@@example.com", std::nullopt},
        {"@example.com", std::nullopt},
        {"help@.com", std::nullopt},
        {"help me@example.com", std::nullopt},
        {"帮助@example.com", std::nullopt},
        {"help@example.com?subject=x", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [address, expected] : cases)
        EXPECT_EQ(AppServiceConfiguration(nlohmann::json{{"TalvianSupportEmail", address}}).supportURL,
                  expected)
            << address;
}

TEST(AppServiceConfiguration, InfoDictionaryComesFromTheResources) {
    // The build writes the versions and leaves the service settings empty: no updater.
    auto info = readInfoDictionary();
    ASSERT_TRUE(info.contains("CFBundleShortVersionString")) << info;
    EXPECT_EQ(AppServiceConfiguration(info), AppServiceConfiguration());

    TempDir dir;
    writeFile(dir / "array.json", "[1, 2]");
    writeFile(dir / "broken.json", "{\"SUFeedURL\": ");
    writeFile(dir / "ok.json", R"({"TalvianGuideURL": "https://example.com/guide"})");
    EXPECT_EQ(readInfoDictionary(dir / "missing.json"), nlohmann::json::object());
    EXPECT_EQ(readInfoDictionary(dir / "array.json"), nlohmann::json::object());
    EXPECT_EQ(readInfoDictionary(dir / "broken.json"), nlohmann::json::object());
    EXPECT_EQ(readInfoDictionary(dir.path()), nlohmann::json::object());
    EXPECT_EQ(AppServiceConfiguration(readInfoDictionary(dir / "ok.json")).guideURL,
              "https://example.com/guide");
}

}  // namespace
}  // namespace talvian
