#include "Support/AppConfiguration.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;
using test::writeFile;

// Base64 of the bytes 0 … 31: a key of the right length.
constexpr const char* kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

TEST(AppServiceConfiguration, ReadsTheFourSettingsTrimmed) {
    AppServiceConfiguration configuration(nlohmann::json{
        {"SUFeedURL", " https://updates.example.com/talvian/appcast.xml\n"},
        {"SUPublicEDKey", "\t +//7//v/+//7//v/+//7//v/+//7//v/+//7//v/+/8= \u3000"},
        {"TalvianSupportEmail", "  help@example.com "},
        {"TalvianGuideURL", "https://example.com/guide?lang=zh#start"},
    });
    EXPECT_EQ(configuration.feedURL, "https://updates.example.com/talvian/appcast.xml");
    EXPECT_EQ(configuration.publicKey, "+//7//v/+//7//v/+//7//v/+//7//v/+//7//v/+/8=");
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

TEST(AppServiceConfiguration, UpdaterNeedsAnHttpsFeedAndAnEd25519Key) {
    const std::string feed = "https://updates.example.com/feed.json";
    const struct {
        const char* name;
        nlohmann::json info;
        bool keyKept;
        bool enabled;
    } cases[] = {
        {"http feed",
         {{"SUFeedURL", "http://updates.example.com/feed"}, {"SUPublicEDKey", kKey}},
         true,
         false},
        {"feed without host", {{"SUFeedURL", "https:///feed.json"}, {"SUPublicEDKey", kKey}}, true, false},
        {"no key", {{"SUFeedURL", feed}}, false, false},
        {"blank key", {{"SUFeedURL", feed}, {"SUPublicEDKey", ""}}, false, false},
        {"key of white space", {{"SUFeedURL", feed}, {"SUPublicEDKey", " \n\t "}}, false, false},
        {"31-byte key",
         {{"SUFeedURL", feed}, {"SUPublicEDKey", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg=="}},
         false,
         false},
        {"33-byte key",
         {{"SUFeedURL", feed}, {"SUPublicEDKey", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g"}},
         false,
         false},
        {"URL-safe alphabet",
         {{"SUFeedURL", feed}, {"SUPublicEDKey", "-__7__v_-__7__v_-__7__v_-__7__v_-__7__v_-_8="}},
         false,
         false},
        {"padding missing",
         {{"SUFeedURL", feed}, {"SUPublicEDKey", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8"}},
         false,
         false},
        {"white space inside",
         {{"SUFeedURL", feed}, {"SUPublicEDKey", "AAECAwQFBgcICQoLDA0O DxAREhMUFRYXGBkaGxwdHh8="}},
         false,
         false},
        {"not base64", {{"SUFeedURL", feed}, {"SUPublicEDKey", "key"}}, false, false},
        {"key only", {{"SUPublicEDKey", kKey}}, true, false},
        {"empty dictionary", nlohmann::json::object(), false, false},
        {"not a dictionary", "not a dictionary", false, false},
        {"good key", {{"SUFeedURL", feed}, {"SUPublicEDKey", kKey}}, true, true},
        {"good key with line break",
         {{"SUFeedURL", feed}, {"SUPublicEDKey", std::string(kKey) + "\n"}},
         true,
         true},
        {"good key of other bytes",
         {{"SUFeedURL", feed}, {"SUPublicEDKey", "+//7//v/+//7//v/+//7//v/+//7//v/+//7//v/+/8="}},
         true,
         true},
    };
    for (const auto& [name, info, keyKept, enabled] : cases) {
        AppServiceConfiguration configuration(info);
        // An unusable key is no key at all.
        EXPECT_EQ(configuration.publicKey.has_value(), keyKept) << name;
        EXPECT_EQ(configuration.updatesEnabled(), enabled) << name;
        int calls = 0;
        EXPECT_EQ(configuration.makeUpdater([&] { return ++calls; }).has_value(), enabled) << name;
        EXPECT_EQ(calls, enabled ? 1 : 0) << name;
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
