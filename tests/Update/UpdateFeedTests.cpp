// The updater's pure part: the feed document, version order, download names, the partial
// file, and Ed25519 signatures.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Model/UserError.h"
#include "Update/UpdateFeed.h"
#include "UpdateFixture.h"

namespace talvian::test {
namespace {

namespace fs = std::filesystem;

const std::string kSignature = QByteArray(64, '\x5a').toBase64().toStdString();

nlohmann::json goodFeed() {
    return {
        {"version", "1.4.0"},
        {"page", "https://example.com/talvian/1.4"},
        {"file", "https://downloads.example.com/talvian-1.4.0.tar.xz"},
        {"length", 123456},
        {"signature", kSignature},
    };
}

TEST(UpdateFeed, ReadsEveryMemberOfAGoodFeed) {
    auto json = goodFeed();
    json["notes"] = "a later member";
    const UpdateFeed feed = parseUpdateFeed(json.dump());
    EXPECT_EQ(feed, (UpdateFeed{"1.4.0", "https://example.com/talvian/1.4",
                                "https://downloads.example.com/talvian-1.4.0.tar.xz", 123456,
                                std::string(64, '\x5a')}));
    auto largest = goodFeed();
    largest["length"] = kDownloadLimitBytes;
    EXPECT_EQ(parseUpdateFeed(largest.dump()).length, kDownloadLimitBytes);
}

TEST(UpdateFeed, RefusesAnythingElse) {
    const std::string unrecognised = "更新信息无法识别，请稍后再试。";
    const std::string insecure = "更新信息中有不安全的地址，已停止检查更新。";
    const struct {
        const char* name;
        std::function<void(nlohmann::json&)> change;
        std::string message;
    } cases[] = {
        {"no version", [](auto& feed) { feed.erase("version"); }, unrecognised},
        {"version as a number", [](auto& feed) { feed["version"] = 1.4; }, unrecognised},
        {"version with a suffix", [](auto& feed) { feed["version"] = "1.4.0-beta"; }, unrecognised},
        {"version with a space", [](auto& feed) { feed["version"] = " 1.4.0"; }, unrecognised},
        {"no page", [](auto& feed) { feed.erase("page"); }, unrecognised},
        {"no file", [](auto& feed) { feed.erase("file"); }, unrecognised},
        {"page over http", [](auto& feed) { feed["page"] = "http://example.com/talvian"; }, insecure},
        {"file over http", [](auto& feed) { feed["file"] = "http://example.com/talvian.tar.xz"; }, insecure},
        {"file without host", [](auto& feed) { feed["file"] = "https:///talvian.tar.xz"; }, insecure},
        {"file of another scheme", [](auto& feed) { feed["file"] = "file:///etc/passwd"; }, insecure},
        {"no length", [](auto& feed) { feed.erase("length"); }, unrecognised},
        {"empty package", [](auto& feed) { feed["length"] = 0; }, unrecognised},
        {"negative length", [](auto& feed) { feed["length"] = -1; }, unrecognised},
        {"fractional length", [](auto& feed) { feed["length"] = 5.5; }, unrecognised},
        {"length as text", [](auto& feed) { feed["length"] = "123456"; }, unrecognised},
        {"length past the limit", [](auto& feed) { feed["length"] = kDownloadLimitBytes + 1; }, unrecognised},
        {"length past 64 bits", [](auto& feed) { feed["length"] = UINT64_MAX; }, unrecognised},
        {"no signature", [](auto& feed) { feed.erase("signature"); }, unrecognised},
        {"signature of 63 bytes",
         [](auto& feed) { feed["signature"] = QByteArray(63, 'x').toBase64().toStdString(); }, unrecognised},
        {"signature not base64", [](auto& feed) { feed["signature"] = "not base64!"; }, unrecognised},
        {"an array", [](auto& feed) { feed = nlohmann::json::array({feed}); }, unrecognised},
    };
    for (const auto& [name, change, message] : cases) {
        auto feed = goodFeed();
        change(feed);
        try {
            parseUpdateFeed(feed.dump());
            ADD_FAILURE() << name << ": accepted";
        } catch (const MediaError& error) {
            EXPECT_EQ(error.message(), message) << name;
        }
    }
    for (const char* text : {"", "{", "<rss/>", "{\"version\": \"1.4.0\"", "\xff\xfe"}) {
        EXPECT_THROW(parseUpdateFeed(text), MediaError) << text;
    }
}

TEST(UpdateFeed, ComparesDottedNumericVersions) {
    using std::strong_ordering;
    const struct {
        const char* a;
        const char* b;
        std::optional<strong_ordering> order;
    } cases[] = {
        {"1.10", "1.9", strong_ordering::greater},
        {"1.9", "1.10", strong_ordering::less},
        {"1.2", "1.2.0", strong_ordering::equal},
        {"1.2.0.0", "1.2", strong_ordering::equal},
        {"1.2.1", "1.2", strong_ordering::greater},
        {"2", "1.99.99", strong_ordering::greater},
        {"007", "7", strong_ordering::equal},
        {"18446744073709551615", "18446744073709551614", strong_ordering::greater},
        // Garbage has no place in the order.
        {"18446744073709551616", "1", std::nullopt},
        {"1.2-beta", "1.2", std::nullopt},
        {"1..2", "1.2", std::nullopt},
        {".1", "1", std::nullopt},
        {"1.", "1", std::nullopt},
        {"", "1", std::nullopt},
        {"v1.2", "1.2", std::nullopt},
        {"1.2 ", "1.2", std::nullopt},
        {"+1", "1", std::nullopt},
        {"1,2", "1.2", std::nullopt},
        {"١.٢", "1.2", std::nullopt},
        {"1.2", "garbage", std::nullopt},
    };
    for (const auto& [a, b, order] : cases) EXPECT_EQ(compareVersions(a, b), order) << a << " vs " << b;

    EXPECT_TRUE(isNewerVersion("1.10", "1.9"));
    EXPECT_FALSE(isNewerVersion("1.9", "1.10"));
    EXPECT_FALSE(isNewerVersion("1.2.0", "1.2"));
    EXPECT_FALSE(isNewerVersion("99-garbage", "1.0"));
    EXPECT_FALSE(isNewerVersion("99", "garbage"));
}

TEST(UpdateFeed, NamesDownloadsAfterTheirAddress) {
    const std::pair<std::string, std::string> names[] = {
        {"talvian-1.4.0.tar.xz", "talvian-1.4.0.tar.xz"},
        {"Talvian 1.4 安装包.deb", "Talvian 1.4 安装包.deb"},
        {".hidden.tar.xz", "hidden.tar.xz"},
        {"", "Talvian-1.4.0"},
        {"..", "Talvian-1.4.0"},
        {"...", "Talvian-1.4.0"},
        {"a\nb.tar.xz", "Talvian-1.4.0"},
        {"a/b.tar.xz", "Talvian-1.4.0"},
        {"\xff.tar.xz", "Talvian-1.4.0"},
        {std::string(201, 'a'), "Talvian-1.4.0"},
        {std::string(200, 'a'), std::string(200, 'a')},
    };
    for (const auto& [urlName, expected] : names)
        EXPECT_EQ(downloadName(urlName, "1.4.0"), expected) << urlName;

    const struct {
        const char* name;
        int n;
        const char* expected;
    } candidates[] = {
        {"talvian-1.4.0.tar.xz", 1, "talvian-1.4.0.tar.xz"},
        {"talvian-1.4.0.tar.xz", 2, "talvian-1.4.0-2.tar.xz"},
        {"talvian-1.4.0.tar.gz", 1000, "talvian-1.4.0-1000.tar.gz"},
        {"talvian-1.4.0.deb", 3, "talvian-1.4.0-3.deb"},
        {"Talvian-1.4.0", 2, "Talvian-1.4.0-2"},
        {"talvian.part.001", 2, "talvian.part.001-2"},
        {"README", 2, "README-2"},
        {"tar.xz", 2, "tar-2.xz"},
    };
    for (const auto& [name, n, expected] : candidates)
        EXPECT_EQ(downloadCandidate(name, n), expected) << name;
}

TEST(UpdateFeed, PartialDownloadNeverReplacesAFile) {
    TempDir folder;
    writeFile(folder / "talvian.tar.xz", "mine");
    writeFile(folder / "talvian-2.tar.xz", "mine too");
    fs::path partialPath;
    {
        PartialDownload partial(folder.path());
        partialPath = partial.path();
        EXPECT_EQ(partialPath.parent_path(), folder.path());
        EXPECT_TRUE(partialPath.filename().string().starts_with("."));
        EXPECT_EQ(partial.write("package"), 0);
        partial.finish();
        EXPECT_EQ(partial.keepAs("talvian.tar.xz"), folder / "talvian-3.tar.xz");
    }
    EXPECT_EQ(filesIn(folder.path()), (std::map<std::string, std::string>{
                                          {"talvian.tar.xz", "mine"},
                                          {"talvian-2.tar.xz", "mine too"},
                                          {"talvian-3.tar.xz", "package"},
                                      }));
    // One that is not kept goes with its owner, written or not.
    {
        PartialDownload partial(folder.path());
        EXPECT_EQ(partial.write("half a package"), 0);
    }
    { PartialDownload partial(folder.path()); }
    EXPECT_EQ(filesIn(folder.path()).size(), 3u);

    EXPECT_THROW(PartialDownload(folder / "missing"), MediaError);
}

TEST(UpdateFeed, VerifiesEd25519SignaturesOfMessagesAndFiles) {
    const Ed25519Key key;
    const Ed25519Key otherKey;
    const QByteArray message = packageBytes(5000);
    const std::string publicKey =
        QByteArray::fromBase64(QByteArray::fromStdString(key.publicKeyBase64())).toStdString();
    const std::string signature = key.sign(message).toStdString();
    const std::string_view bytes(message.constData(), static_cast<std::size_t>(message.size()));

    EXPECT_TRUE(verifyEd25519(bytes, signature, publicKey));
    std::string changed(bytes);
    changed[4000] ^= 0x40;
    EXPECT_FALSE(verifyEd25519(changed, signature, publicKey));
    EXPECT_FALSE(verifyEd25519(bytes, otherKey.sign(message).toStdString(), publicKey));
    EXPECT_FALSE(verifyEd25519(bytes.substr(1), signature, publicKey));
    EXPECT_FALSE(verifyEd25519(bytes, signature.substr(0, 63), publicKey));
    EXPECT_FALSE(verifyEd25519(bytes, signature + "x", publicKey));
    EXPECT_FALSE(verifyEd25519(bytes, signature, publicKey.substr(0, 31)));
    EXPECT_FALSE(verifyEd25519(bytes, std::string(64, '\0'), publicKey));

    TempDir folder;
    writeFile(folder / "package", message.toStdString());
    writeFile(folder / "empty", "");
    EXPECT_TRUE(verifyEd25519File(folder / "package", signature, publicKey));
    EXPECT_FALSE(verifyEd25519File(folder / "package", otherKey.sign(message).toStdString(), publicKey));
    EXPECT_TRUE(verifyEd25519File(folder / "empty", key.sign({}).toStdString(), publicKey));
    EXPECT_FALSE(verifyEd25519File(folder / "empty", signature, publicKey));
    EXPECT_THROW(verifyEd25519File(folder / "missing", signature, publicKey), MediaError);
    EXPECT_THROW(verifyEd25519File(folder.path(), signature, publicKey), MediaError);
}

}  // namespace
}  // namespace talvian::test
