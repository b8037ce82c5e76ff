#include "Model/FileNaming.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cmath>

#include "Model/CoreTypes.h"
#include "Model/Localization.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::messageOf;
using test::TempDir;
using test::writeFile;

const std::string kBadName = "导出文件名过长或无效，请缩短原片的文件名或换一个输出文件夹。";

TEST(ExportProjectURL, WavKeepsItsExtensionOthersReplaceIt) {
    EXPECT_EQ(exportProjectURL("/o/a.wav"), "/o/a.wav.quenlo.json");
    EXPECT_EQ(exportProjectURL("/o/a.WAV"), "/o/a.WAV.quenlo.json");
    EXPECT_EQ(exportProjectURL("/o/a.mp4"), "/o/a.quenlo.json");
    EXPECT_EQ(exportProjectURL("/o/a.m4a"), "/o/a.quenlo.json");
    EXPECT_EQ(exportProjectURL("/o/a"), "/o/a.quenlo.json");
}

TEST(UniqueOutput, SkipsTakenNamesAndProjectCompanions) {
    TempDir dir;
    Cancellation token;
    auto unique = [&](const std::string& stem, const std::string& ext) {
        return uniqueOutput(dir.path(), stem, ext, token);
    };
    EXPECT_EQ(unique("talk-粗剪", "mp4"), dir / "talk-粗剪.mp4");

    writeFile(dir / "a.quenlo.json", "{}");
    EXPECT_EQ(unique("a", "mp4"), dir / "a-2.mp4");
    EXPECT_EQ(unique("a", "wav"), dir / "a-2.wav");  // "a.quenlo.json" blocks the WAV too

    for (auto name : {"b.mp4", "b-2.mp4", "b-3.mp4"}) writeFile(dir / name, "x");
    EXPECT_EQ(unique("b", "mp4"), dir / "b-4.mp4");

    writeFile(dir / "c.wav.quenlo.json", "{}");
    EXPECT_EQ(unique("c", "wav"), dir / "c-2.wav");
    EXPECT_EQ(unique("c", "m4a"), dir / "c.m4a");

    std::filesystem::create_symlink(dir / "nowhere", dir / "d.mp4");
    EXPECT_EQ(unique("d", "mp4"), dir / "d-2.mp4");  // a dangling link still blocks the move
    std::filesystem::create_directory(dir / "e.m4a");
    EXPECT_EQ(unique("e", "m4a"), dir / "e-2.m4a");
}

TEST(UniqueOutput, ChecksWholeNamesAndEnds) {
    TempDir dir;
    Cancellation token;
    // A NUL once cut every candidate short at the existing source's own name: the search
    // never ended.
    writeFile(dir / "talk", "source");
    const std::string withNul("talk\0-粗剪", 11);
    EXPECT_EQ(messageOf([&] { uniqueOutput(dir.path(), withNul, "m4a", token); }), kBadName);
    EXPECT_EQ(messageOf([&] { uniqueOutput(dir / std::string("sub\0dir", 7), "a", "m4a", token); }),
              kBadName);

    // The longest name made for an output is the temporary file of its project's Save:
    // "." + "<stem>.quenlo.json" + "." + UUID + ".tmp", 54 bytes more than the stem for M4A and
    // 58 for WAV ("<stem>.wav.quenlo.json").
    EXPECT_EQ(uniqueOutput(dir.path(), std::string(NAME_MAX - 54, 'm'), "m4a", token).filename(),
              std::string(NAME_MAX - 54, 'm') + ".m4a");
    EXPECT_EQ(messageOf([&] { uniqueOutput(dir.path(), std::string(NAME_MAX - 53, 'm'), "m4a", token); }),
              kBadName);
    EXPECT_NO_THROW(uniqueOutput(dir.path(), std::string(NAME_MAX - 58, 'w'), "wav", token));
    EXPECT_EQ(messageOf([&] { uniqueOutput(dir.path(), std::string(NAME_MAX - 57, 'w'), "wav", token); }),
              kBadName);

    // The counter makes the name longer: a stem that fits alone may not fit with "-2".
    const std::string longest(NAME_MAX - 54, 'n');
    writeFile(dir / (longest + ".m4a"), "x");
    EXPECT_EQ(messageOf([&] { uniqueOutput(dir.path(), longest, "m4a", token); }), kBadName);

    Cancellation cancelled;
    cancelled.cancel();
    EXPECT_THROW(uniqueOutput(dir.path(), "free", "m4a", cancelled), OperationCancelled);

    // Every candidate taken: refused after the last one instead of searching on.
    const auto full = dir / "full";
    std::filesystem::create_directory(full);
    for (long long counter = 1; counter <= kMaximumOutputCandidates; ++counter) {
        const auto name = counter == 1 ? std::string("x.m4a") : "x-" + std::to_string(counter) + ".m4a";
        int fd = ::open((full / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    EXPECT_EQ(messageOf([&] { uniqueOutput(full, "x", "m4a", token); }),
              "输出文件夹里同名的导出文件太多，请换一个输出文件夹。");
    std::filesystem::remove(full / "x-9999.m4a");
    EXPECT_EQ(uniqueOutput(full, "x", "m4a", token), full / "x-9999.m4a");
}

TEST(NamablePath, RefusesWhatNoSystemCallCanName) {
    struct Case {
        std::string path;
        bool namable;
    };
    const Case cases[] = {
        {"/media/talk.m4a", true},
        {"/media//talk.m4a", true},  // an empty component names the same folder
        {"/media/./../talk.m4a", true},
        {"relative/talk.m4a", true},
        {"/media/" + std::string(NAME_MAX, 'a'), true},
        {"/" + std::string(NAME_MAX + 1, 'a') + "/talk.m4a", false},
        {"/media/" + std::string(NAME_MAX + 1, 'a'), false},
        {std::string("/media/talk.m4a\0.txt", 20), false},
        {std::string("\0/media/talk.m4a", 16), false},
        {std::string("/media/talk.m4a\0", 16), false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isNamablePath(c.path), c.namable) << c.path.size();

    // Just below PATH_MAX with every component short enough is fine.
    std::string longest = "/";
    while (longest.size() + 101 < PATH_MAX) longest += std::string(100, 'b') + "/";
    longest += std::string(PATH_MAX - 1 - longest.size(), 'c');
    ASSERT_EQ(longest.size(), static_cast<std::size_t>(PATH_MAX - 1));
    EXPECT_TRUE(isNamablePath(longest));
    EXPECT_FALSE(isNamablePath(longest + "c"));
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
    // One version of one file: a time one nanosecond later, or another file renamed over the
    // name with the same size and time, is not the same.
    auto setTime = [](const std::filesystem::path& file, long nanoseconds) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    };
    setTime(dir / "file.bin", 123'456'789);
    auto before = SourceMetadata::read(dir / "file.bin");
    EXPECT_EQ(before.modifiedNanoseconds, 123'456'789);
    struct stat info {};
    ASSERT_EQ(::stat((dir / "file.bin").c_str(), &info), 0);
    EXPECT_EQ(before.inode, info.st_ino);
    EXPECT_EQ(before.device, info.st_dev);
    setTime(dir / "file.bin", 123'456'790);
    auto touched = SourceMetadata::read(dir / "file.bin");
    EXPECT_EQ(touched.modifiedAt, before.modifiedAt);  // a double cannot tell them apart
    EXPECT_NE(touched, before);
    writeFile(dir / "twin.bin", "12345");
    setTime(dir / "twin.bin", 123'456'789);
    std::filesystem::rename(dir / "twin.bin", dir / "file.bin");
    auto replaced = SourceMetadata::read(dir / "file.bin");
    EXPECT_EQ(replaced.bytes, before.bytes);
    EXPECT_EQ(replaced.modifiedNanoseconds, before.modifiedNanoseconds);
    EXPECT_NE(replaced.inode, before.inode);
    EXPECT_NE(replaced, before);

    EXPECT_EQ(errnoOf(dir / "missing"), ENOENT);
    EXPECT_EQ(errnoOf(dir / "file.bin" / "inside"), ENOTDIR);
    EXPECT_EQ(fileBytes(dir / "missing"), 0);
    EXPECT_EQ(fileBytes(dir / "link"), 5);
}

TEST(Localization, LooksUpAndFormats) {
    EXPECT_EQ(L("没有这个键 100%"), "没有这个键 100%");
    EXPECT_EQ(L("任务已取消，原文件未改动。"), "任务已取消，原文件未改动。");
    EXPECT_EQ(L("文件 %@ 有 %d 段，%.1f 秒，100%%", std::string("a.mp4"), 3, 2.25),
              "文件 a.mp4 有 3 段，2.2 秒，100%");
    EXPECT_EQ(L("%2$@ 与 %1$@", std::string("甲"), std::string("乙")), "乙 与 甲");
    EXPECT_EQ(L("%lld 字节", 5000000000LL), "5000000000 字节");
}

}  // namespace
}  // namespace talvian
