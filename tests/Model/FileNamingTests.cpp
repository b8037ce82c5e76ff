#include "Model/FileNaming.h"

#include <gtest/gtest.h>

#include <cmath>

#include "Model/Localization.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::TempDir;
using test::writeFile;

TEST(ExportProjectURL, WavKeepsItsExtensionOthersReplaceIt) {
    EXPECT_EQ(exportProjectURL("/o/a.wav"), "/o/a.wav.quenlo.json");
    EXPECT_EQ(exportProjectURL("/o/a.WAV"), "/o/a.WAV.quenlo.json");
    EXPECT_EQ(exportProjectURL("/o/a.mp4"), "/o/a.quenlo.json");
    EXPECT_EQ(exportProjectURL("/o/a.m4a"), "/o/a.quenlo.json");
    EXPECT_EQ(exportProjectURL("/o/a"), "/o/a.quenlo.json");
}

TEST(UniqueOutput, SkipsTakenNamesAndProjectCompanions) {
    TempDir dir;
    EXPECT_EQ(uniqueOutput(dir.path(), "talk-粗剪", "mp4"), dir / "talk-粗剪.mp4");

    writeFile(dir / "a.quenlo.json", "{}");
    EXPECT_EQ(uniqueOutput(dir.path(), "a", "mp4"), dir / "a-2.mp4");
    EXPECT_EQ(uniqueOutput(dir.path(), "a", "wav"), dir / "a-2.wav");  // "a.quenlo.json" blocks the WAV too

    for (auto name : {"b.mp4", "b-2.mp4", "b-3.mp4"}) writeFile(dir / name, "x");
    EXPECT_EQ(uniqueOutput(dir.path(), "b", "mp4"), dir / "b-4.mp4");

    writeFile(dir / "c.wav.quenlo.json", "{}");
    EXPECT_EQ(uniqueOutput(dir.path(), "c", "wav"), dir / "c-2.wav");
    EXPECT_EQ(uniqueOutput(dir.path(), "c", "m4a"), dir / "c.m4a");

    std::filesystem::create_symlink(dir / "nowhere", dir / "d.mp4");
    EXPECT_EQ(uniqueOutput(dir.path(), "d", "mp4"), dir / "d-2.mp4");  // a dangling link still blocks the move
    std::filesystem::create_directory(dir / "e.m4a");
    EXPECT_EQ(uniqueOutput(dir.path(), "e", "m4a"), dir / "e-2.m4a");
}

TEST(TimeLabel, Formats) {
    struct Case {
        double seconds;
        const char* label;
    };
    const Case cases[] = {
        {0, "00:00.0"},        {-5, "00:00.0"},    {75.3, "01:15.3"},     {3725.5, "1:02:05.5"},
        {59.96, "00:60.0"},    {NAN, "00:00.0"},   {INFINITY, "00:00.0"}, {-INFINITY, "00:00.0"},
        {36000, "10:00:00.0"}, {1e300, "00:00.0"},
    };
    for (const auto& c : cases) EXPECT_EQ(timeLabel(c.seconds), c.label) << c.seconds;
}

TEST(SourceMetadata, FollowsLinksAndReportsErrno) {
    TempDir dir;
    writeFile(dir / "file.bin", "12345");
    std::filesystem::create_symlink(dir / "file.bin", dir / "link");
    auto viaLink = SourceMetadata::read(dir / "link");
    auto direct = SourceMetadata::read(dir / "file.bin");
    EXPECT_EQ(viaLink, direct);
    EXPECT_EQ(direct.bytes, 5);
    EXPECT_TRUE(direct.isRegularFile);
    EXPECT_GT(direct.modifiedAt, 1.6e9);
    EXPECT_NE(direct.modifiedAt, std::floor(direct.modifiedAt));  // nanoseconds kept as a fraction
    EXPECT_FALSE(SourceMetadata::read(dir.path()).isRegularFile);

    auto errnoOf = [](const std::filesystem::path& path) {
        try {
            SourceMetadata::read(path);
        } catch (const std::system_error& error) {
            return error.code().value();
        }
        return 0;
    };
    EXPECT_EQ(errnoOf(dir / "missing"), ENOENT);
    EXPECT_EQ(errnoOf(dir / "file.bin" / "inside"), ENOTDIR);
    EXPECT_EQ(fileBytes(dir / "missing"), 0);
    EXPECT_EQ(fileBytes(dir / "link"), 5);
}

TEST(Localization, LooksUpAndFormats) {
    EXPECT_EQ(L("没有这个键 100%"), "没有这个键 100%");
    EXPECT_EQ(L("任务已取消，原文件未改动。"), "任务已取消，原文件未改动。");
    EXPECT_EQ(L("文件 %@ 有 %d 段，%.1f 秒，100%%", std::string("a.mp4"), 3, 2.25), "文件 a.mp4 有 3 段，2.2 秒，100%");
    EXPECT_EQ(L("%2$@ 与 %1$@", std::string("甲"), std::string("乙")), "乙 与 甲");
    EXPECT_EQ(L("%lld 字节", 5000000000LL), "5000000000 字节");
}

}  // namespace
}  // namespace talvian
