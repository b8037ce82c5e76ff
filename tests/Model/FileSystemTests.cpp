#include "Model/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"

namespace talvian {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const MediaError& error) {
        return error.message();
    }
    return "";
}

TEST(FileSystem, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
    TempDir dir;
    writeFile(dir / "a.json", "old");
    writeFileAtomically(dir / "a.json", "new content");
    EXPECT_EQ(readFile(dir / "a.json"), "new content");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // A folder in the way of the target: the rename fails and the old target stays.
    std::filesystem::create_directory(dir / "b.json");
    EXPECT_EQ(messageOf([&] { writeFileAtomically(dir / "b.json", "x"); }), "无法写入“b.json”：这是一个文件夹。");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
    EXPECT_EQ(messageOf([&] { writeFileAtomically(dir / "missing" / "c.json", "x"); }),
              "无法写入“c.json”：文件或文件夹不存在。");
}

TEST(FileSystem, MoveNeverReplaces) {
    TempDir dir;
    writeFile(dir / "work", "w");
    writeFile(dir / "out.mp4", "existing");
    EXPECT_EQ(messageOf([&] { moveNoReplace(dir / "work", dir / "out.mp4"); }), "无法保存“out.mp4”：同名文件已存在。");
    EXPECT_EQ(readFile(dir / "out.mp4"), "existing");
    moveNoReplace(dir / "work", dir / "free.mp4");
    EXPECT_EQ(readFile(dir / "free.mp4"), "w");
}

TEST(FileSystem, ReadLimitedRefusesLargerFiles) {
    TempDir dir;
    writeFile(dir / "ten", "0123456789");
    EXPECT_EQ(readFileLimited(dir / "ten", 10, "太大"), "0123456789");
    EXPECT_EQ(messageOf([&] { readFileLimited(dir / "ten", 9, "太大"); }), "太大");
    EXPECT_EQ(messageOf([&] { readFileLimited(dir / "none", 9, "太大"); }), "无法读取“none”：文件或文件夹不存在。");
    EXPECT_EQ(messageOf([&] { readFileLimited(dir.path(), 9, "太大"); }),
              "无法读取“" + dir.path().filename().string() + "”：这是一个文件夹。");
}

}  // namespace
}  // namespace talvian
