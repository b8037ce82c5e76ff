#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "ProjectFixtures.h"
#include "Support/SessionBackup.h"
#include "TestSupport.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> namesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
    return found;
}

class SessionBackupTest : public ::testing::Test {
  protected:
    TempDir folder;
    fs::path url = folder / "Recovery/last-session.quenlo.json";
    fs::path history = folder / "Recovery/recent-sessions.json";
    fs::path source = folder / "talk.wav";

    void SetUp() override { writeFile(source, "x"); }
    std::map<double, CutProject> made;
    // The same project (cut identities included) for the same start.
    const CutProject& project(double start) {
        auto found = made.find(start);
        if (found == made.end()) {
            CutProject fresh = projectFor(source);
            fresh.cuts = {CutRegion(start, start + 1, true)};
            found = made.emplace(start, std::move(fresh)).first;
        }
        return found->second;
    }
};

}  // namespace

TEST_F(SessionBackupTest, FirstBackupWritesOnlyTheLastSessionInTheByteForm) {
    SessionBackup backup(url);
    EXPECT_EQ(fs::status(url.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
    backup.write(project(1), true, RecentSession::Origin::switching);
    EXPECT_FALSE(fs::exists(history));
    const std::string bytes = readFile(url);
    EXPECT_EQ(bytes, SessionBackup::encoded(project(1)));
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    EXPECT_NE(bytes.find("\\/"), std::string::npos);
    EXPECT_EQ(SessionBackup::project(url)->cuts, project(1).cuts);
}

TEST_F(SessionBackupTest, ReplacingASessionArchivesItOnceAndKeepsEightEntries) {
    SessionBackup backup(url);
    const auto first = project(0.5);
    backup.write(first, true, RecentSession::Origin::switching);
    backup.write(first, true, RecentSession::Origin::switching);  // the same session: no entry
    EXPECT_TRUE(backup.recentSessions().empty());
    for (int i = 1; i <= 9; ++i)
        backup.write(project(0.5 + i * 0.5), true,
                     i % 2 ? RecentSession::Origin::switching : RecentSession::Origin::reanalysis);
    const auto sessions = backup.recentSessions();
    ASSERT_EQ(sessions.size(), 8u);
    EXPECT_EQ(sessions[0].project.cuts[0].start, 4.5);  // newest first
    EXPECT_EQ(sessions[0].origin, "switching");
    EXPECT_EQ(sessions[1].origin, "reanalysis");
    EXPECT_EQ(sessions[7].project.cuts[0].start, 1.0);  // the oldest was pushed out

    // Reopened from disk: the same list.
    const auto text = readFile(history);
    EXPECT_TRUE(text.starts_with("{\"entries\":[{\"archivedAt\":"));
    EXPECT_NE(text.find("\"version\":1}"), std::string::npos);
}

TEST_F(SessionBackupTest, AnEntryEqualToTheNewProjectLeavesTheHistoryOnlyWhenReplacing) {
    {
        SessionBackup backup(url);
        backup.write(project(1), true, RecentSession::Origin::switching);
        backup.write(project(2), true, RecentSession::Origin::switching);
        ASSERT_EQ(backup.recentSessions().size(), 1u);
    }
    SessionBackup backup(url);
    ASSERT_EQ(backup.recentSessions().size(), 1u);
    const auto id = backup.recentSessions()[0].id;
    // Reopening the entry: it is written to the selected file, then becomes the last session.
    const auto selected = backup.selectRecent(id);
    EXPECT_EQ(selected.filename(), "selected-recent.quenlo.json");
    const auto reopened = *SessionBackup::project(selected);
    backup.write(reopened, false, RecentSession::Origin::switching);
    EXPECT_TRUE(backup.recentSessions().empty());  // hidden while it is the last session
    backup.write(reopened, true, RecentSession::Origin::switching);
    EXPECT_EQ(backup.recentSessions().size(), 0u);
    EXPECT_THROW(
        {
            try {
                backup.selectRecent(Uuid::random());
            } catch (const MediaError& error) {
                EXPECT_EQ(error.message(), "这份先前剪辑已不在列表中，请打开已保存的项目。");
                throw;
            }
        },
        MediaError);
}

TEST_F(SessionBackupTest, UnreadableHistoriesArePreservedOnceBesideAFreshOne) {
    const std::string valid = [&] {
        SessionBackup backup(url);
        backup.write(project(1), true, RecentSession::Origin::switching);
        backup.write(project(2), true, RecentSession::Origin::switching);
        return readFile(history);
    }();
    const auto entry = [&](const std::string& replace, const std::string& with) {
        std::string text = valid;
        const auto at = text.find(replace);
        EXPECT_NE(at, std::string::npos) << replace;
        return text.replace(at, replace.size(), with);
    };
    const std::string damaged[] = {
        "not json",
        entry("\"version\":1}", "\"version\":2}"),
        entry("\"source\":\"\\/", "\"source\":\""),
        entry("\"entries\":[", "\"entries\":[" + valid.substr(12, valid.find("],\"version\"") - 12) + ","),
    };
    for (const auto& text : damaged) {
        fs::remove_all(url.parent_path());
        fs::create_directories(url.parent_path());
        writeFile(history, text);
        SessionBackup backup(url);
        EXPECT_EQ(backup.historyIssue(), "先前剪辑备份无法读取，旧文件已保留。可继续或打开已保存的项目。");
        EXPECT_TRUE(backup.recentSessions().empty());
        backup.write(project(3), true, RecentSession::Origin::switching);
        backup.write(project(4), false, RecentSession::Origin::switching);
        const auto kept = namesStartingWith(url.parent_path(), "unreadable-recent-");
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(readFile(kept[0]), text);
        EXPECT_FALSE(backup.historyIssue());
    }
}

TEST_F(SessionBackupTest, TheGarbledFileIsCopiedOnceAndADirectoryIsNeverMoved) {
    fs::create_directories(url.parent_path());
    writeFile(url, "{garbled");
    SessionBackup backup(url);
    backup.write(project(1), false, RecentSession::Origin::switching);
    backup.write(project(2), false, RecentSession::Origin::switching);
    const auto kept = namesStartingWith(url.parent_path(), "unreadable-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readFile(kept[0]), "{garbled");
    EXPECT_TRUE(kept[0].filename().string().ends_with(".quenlo.json"));

    fs::remove(url);
    fs::create_directory(url);
    try {
        backup.write(project(3), false, RecentSession::Origin::switching);
        FAIL();
    } catch (const MediaError& error) {
        EXPECT_EQ(error.message(), "本机备份不可写，请先保存项目。");
    }
    EXPECT_EQ(namesStartingWith(url.parent_path(), "unreadable-").size(), 1u);
}

TEST_F(SessionBackupTest, RefusalsOfTheWriter) {
    SessionBackup backup(url);
    CutProject intoBackup = project(1);
    intoBackup.source = url.string();
    try {
        backup.write(intoBackup, false, RecentSession::Origin::switching);
        FAIL();
    } catch (const MediaError& error) {
        EXPECT_EQ(error.message(), "本机备份不能覆盖原素材，请另存项目。");
    }
    CutProject big = project(1);
    big.waveform.assign(2000, 0.123456789012345);
    big.cuts.clear();
    for (int i = 0; i < 9999; ++i) big.cuts.emplace_back(i * 0.001, i * 0.001 + 0.0005, true);
    big.info.duration = 100;
    big.source = (folder / std::string(200, 'n')).string();
    const auto size = SessionBackup::encoded(big).size();
    if (size > SessionBackup::kMaxProjectBytes) {
        try {
            backup.write(big, false, RecentSession::Origin::switching);
            FAIL();
        } catch (const MediaError& error) {
            EXPECT_EQ(error.message(), "本机备份超过5 MB，请保存项目。");
        }
    }
    EXPECT_FALSE(fs::exists(url));
}

TEST_F(SessionBackupTest, PackagedProjectsAreBackedUpWithTheirDigest) {
    SessionBackup backup(url);
    CutProject packaged = project(1);
    packaged.version = 3;
    packaged.packagedSource = PackagedSource{"media/talk.wav", std::string(64, 'a')};
    backup.write(packaged, false, RecentSession::Origin::switching);
    const auto stored = *SessionBackup::project(url);
    EXPECT_EQ(stored.version, 4);
    EXPECT_EQ(stored.sourceSHA256, std::string(64, 'a'));
    EXPECT_FALSE(stored.packagedSource);
}

TEST_F(SessionBackupTest, MenuLabelsNameOriginFileCountAndKeptTime) {
    RecentSession session;
    session.project = project(1);
    session.origin = "reanalysis";
    session.archivedAt = 0;
    session.project.source = "/x/talk.wav";
    // The name stands isolated, so its own direction cannot reorder the label around it.
    EXPECT_TRUE(session.menuLabel().starts_with("重新分析前 · \u2068talk.wav\u2069 · "));
    EXPECT_TRUE(session.menuLabel().ends_with(" · 1段待删 · 剪后00:09.0"));
    session.origin = "other";
    EXPECT_EQ(session.originLabel(), "先前版本");
    session.origin = std::nullopt;
    EXPECT_TRUE(session.menuLabel().starts_with("先前版本 · "));
    session.origin = "switching";
    EXPECT_EQ(session.originLabel(), "自动保存");
}

TEST_F(SessionBackupTest, MenuLabelsCutNamesAfter28UserPerceivedCharacters) {
    const std::string thumb =
        "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";    // thumbs up with a skin tone: 2 code points
    const std::string accented = "e\xCC\x81";  // e with a combining acute: 2 code points
    const std::string a22(22, 'a');
    const struct {
        const char* name;
        std::string file;
        std::string shown;
    } cases[] = {
        {"28 characters, 28 code points", a22 + "中文.wav", a22 + "中文.wav"},
        {"29 characters", "b" + a22 + "中文.wav", "b" + a22 + "中文.wa…"},
        // 28 characters but 30 code points: shown whole.
        {"emoji with modifier and accent, 28 characters", thumb + accented + a22 + ".wav",
         thumb + accented + a22 + ".wav"},
        {"emoji with modifier and accent, 29 characters", "b" + thumb + accented + a22 + ".wav",
         "b" + thumb + accented + a22 + ".wa…"},
        // The 28th character is the emoji: it stays whole.
        {"cut right after an emoji", std::string(27, 'a') + thumb + "x.wav",
         std::string(27, 'a') + thumb + "…"},
        {"cut right after an accented letter", std::string(27, 'a') + accented + "x.wav",
         std::string(27, 'a') + accented + "…"},
        // Controls are counted as characters and shown as a visible mark, on one line.
        {"an override and a newline", "a\u202Egpj\n.wav", "a\uFFFDgpj\uFFFD.wav"},
        {"cut right after an override", std::string(27, 'a') + "\u202Exyz.wav",
         std::string(27, 'a') + "\uFFFD…"},
        {"a tab and an isolate", "x\t\u2066y.wav", "x\uFFFD\uFFFDy.wav"},
    };
    RecentSession session;
    session.project = project(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session.project.source = "/x/" + c.file;
        EXPECT_NE(session.menuLabel().find(" · \u2068" + c.shown + "\u2069 · "), std::string::npos)
            << session.menuLabel();
    }
}

TEST_F(SessionBackupTest, MenuLabelsGiveTheArchiveTimeInTheLocalTimeZone) {
    const char* previous = std::getenv("TZ");
    const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
    RecentSession session;
    session.project = project(1);
    session.archivedAt = 86400.0 * 31 + 3661.5;  // 2001-02-01 01:01:01.5 UTC
    const struct {
        const char* zone;
        const char* shown;
    } zones[] = {{"UTC", " · 02-01 01:01:01 · "},
                 {"Asia/Shanghai", " · 02-01 09:01:01 · "},
                 {"America/New_York", " · 01-31 20:01:01 · "}};
    for (const auto& [zone, shown] : zones) {
        SCOPED_TRACE(zone);
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_NE(session.menuLabel().find(shown), std::string::npos) << session.menuLabel();
    }
    if (saved)
        setenv("TZ", saved->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
