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

TEST(FileSystem, NewFileNeverReplacesAnything) {
    TempDir dir;
    writeNewFile(dir / "manifest.json", "{}\n");
    EXPECT_EQ(readFile(dir / "manifest.json"), "{}\n");
    EXPECT_EQ(messageOf([&] { writeNewFile(dir / "manifest.json", "x"); }),
              "无法写入“manifest.json”：同名文件已存在。");
    EXPECT_EQ(readFile(dir / "manifest.json"), "{}\n");
    // A dangling link is an entry too: nothing is created at its target.
    std::filesystem::create_symlink(dir / "target.txt", dir / "link.txt");
    EXPECT_EQ(messageOf([&] { writeNewFile(dir / "link.txt", "x"); }), "无法写入“link.txt”：同名文件已存在。");
    EXPECT_FALSE(std::filesystem::exists(dir / "target.txt"));
}

TEST(FileSystem, MoveNeverReplaces) {
    TempDir dir;
    writeFile(dir / "work", "w");
    writeFile(dir / "out.mp4", "existing");
    EXPECT_EQ(messageOf([&] { moveNoReplace(dir / "work", dir / "out.mp4"); }), "无法保存“out.mp4”：同名文件已存在。");
    EXPECT_EQ(readFile(dir / "out.mp4"), "existing");
    // The variant that lets the caller pick another name says so instead of throwing.
    EXPECT_FALSE(moveIfFree(dir / "work", dir / "out.mp4"));
    EXPECT_EQ(readFile(dir / "out.mp4"), "existing");
    EXPECT_EQ(messageOf([&] { moveIfFree(dir / "none", dir / "other.mp4"); }),
              "无法保存“other.mp4”：文件或文件夹不存在。");
    moveNoReplace(dir / "work", dir / "free.mp4");
    EXPECT_EQ(readFile(dir / "free.mp4"), "w");
}

TEST(FileSystem, ReadLimitedRefusesLargerFiles) {
    TempDir dir;
    writeFile(dir / "ten", "0123456789");
    EXPECT_EQ(readFileLimited(dir / "ten", 10, "太大"), "0123456789");
    EXPECT_EQ(messageOf([&] { readFileLimited(dir / "ten", 9, "太大"); }), "太大");
    // A file that holds more than its size said when it was opened (one that grows while it is
    // read) is refused as well; /proc reports its files as empty.
    EXPECT_EQ(messageOf([&] { readFileLimited("/proc/self/status", 9, "太大"); }), "太大");
    EXPECT_EQ(messageOf([&] { readFileLimited(dir / "none", 9, "太大"); }), "无法读取“none”：文件或文件夹不存在。");
    EXPECT_EQ(messageOf([&] { readFileLimited(dir.path(), 9, "太大"); }),
              "无法读取“" + dir.path().filename().string() + "”：这是一个文件夹。");
}

TEST(FileSystem, ResolvedPathFollowsLinksAndTidiesTheRest) {
    TempDir dir;
    auto real = std::filesystem::canonical(dir.path());
    std::filesystem::create_directory(real / "folder");
    writeFile(real / "folder" / "file.mov", "x");
    std::filesystem::create_symlink(real / "folder" / "file.mov", real / "link.mov");
    std::filesystem::create_directory_symlink(real / "folder", real / "folderLink");
    std::filesystem::create_symlink(real / "loop", real / "loop");

    struct Case {
        std::filesystem::path input;
        std::filesystem::path expected;
    };
    for (const auto& [input, expected] : std::vector<Case>{
             {real / "link.mov", real / "folder" / "file.mov"},
             {real / "folderLink" / "." / "file.mov", real / "folder" / "file.mov"},
             {real / "folder" / ".." / "link.mov", real / "folder" / "file.mov"},
             {real / "folderLink" / "new" / ".." / "later.json", real / "folder" / "later.json"},
             {real / "loop" / "x", real / "loop" / "x"},
         }) {
        SCOPED_TRACE(input);
        EXPECT_EQ(resolvedPath(input), expected);
    }
}

TEST(FileSystem, MetadataFailuresAreChineseSentences) {
    TempDir dir;
    writeFile(dir / "file", "abc");
    EXPECT_EQ(readMetadata(dir / "file").bytes, 3);
    EXPECT_EQ(messageOf([&] { readMetadata(dir / "none.mov"); }), "无法读取“none.mov”：文件或文件夹不存在。");
    EXPECT_EQ(messageOf([&] { readMetadata(dir / "file" / "inner.mov"); }),
              "无法读取“inner.mov”：路径中有一项不是文件夹。");
}

}  // namespace
}  // namespace talvian
