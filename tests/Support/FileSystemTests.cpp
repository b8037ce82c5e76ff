#include "Support/FileSystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "Model/Uuid.h"
#include "ProcessTestSupport.h"
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
    EXPECT_EQ(messageOf([&] { writeFileAtomically(dir / "b.json", "x"); }),
              "无法写入“b.json”：这是一个文件夹。");
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
    EXPECT_EQ(messageOf([&] { writeNewFile(dir / "link.txt", "x"); }),
              "无法写入“link.txt”：同名文件已存在。");
    EXPECT_FALSE(std::filesystem::exists(dir / "target.txt"));
}

TEST(FileSystem, MoveNeverReplaces) {
    TempDir dir;
    writeFile(dir / "work", "w");
    writeFile(dir / "out.mp4", "existing");
    EXPECT_EQ(messageOf([&] { moveNoReplace(dir / "work", dir / "out.mp4"); }),
              "无法保存“out.mp4”：同名文件已存在。");
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
    EXPECT_EQ(messageOf([&] { readFileLimited(dir / "none", 9, "太大"); }),
              "无法读取“none”：文件或文件夹不存在。");
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

// ---- Work folders and hidden work files ------------------------------------------------

enum class EntryKind { folder, file, link, fifo };

void makeEntry(const std::filesystem::path& path, EntryKind kind, const std::filesystem::path& linkTarget) {
    switch (kind) {
        case EntryKind::folder:
            std::filesystem::create_directory(path);
            std::filesystem::create_directory(path / "inner");
            writeFile(path / "inner" / "joined.f32", "pcm");
            break;
        case EntryKind::file:
            writeFile(path, "partial");
            break;
        case EntryKind::link:
            std::filesystem::create_directory_symlink(linkTarget, path);
            break;
        case EntryKind::fifo:
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            break;
    }
}

TEST(FileSystemWork, StaleEntriesWithExactlyOurNamesAreRemovedAndNothingElse) {
    TempDir dir;
    std::filesystem::create_directory(dir / "target");
    writeFile(dir / "target" / "keep", "x");
    auto id = [] { return Uuid::random().string(); };
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    struct Case {
        std::string name;
        EntryKind kind;
        bool removed;
    };
    const Case cases[] = {
        {"TalvianProcess-" + id(), EntryKind::folder, true},
        {"TalvianAnalysis-" + id(), EntryKind::folder, true},
        {"TalvianWaveform-" + id(), EntryKind::folder, true},
        {".TalvianAudio-" + id(), EntryKind::folder, true},
        {".TalvianVideo-" + id(), EntryKind::folder, true},
        {".Talvian-" + id() + ".m4a", EntryKind::file, true},
        {".Talvian-" + id() + ".mp4", EntryKind::file, true},
        {".Talvian-" + id() + ".wav", EntryKind::file, true},
        // Near misses: never ours.
        {"TalvianProcess-" + lower(id()), EntryKind::folder, false},
        {"TalvianProcess-" + id() + "x", EntryKind::folder, false},
        {"TalvianProcess" + id(), EntryKind::folder, false},
        {"talvianprocess-" + id(), EntryKind::folder, false},
        {"TalvianExport-" + id(), EntryKind::folder, false},
        {"TalvianAnalysis-" + id().substr(1), EntryKind::folder, false},
        {".Talvian-" + id() + ".mov", EntryKind::file, false},
        {".Talvian-" + id(), EntryKind::file, false},
        {".Talvian-" + id() + ".m4a.part", EntryKind::file, false},
        {"Talvian-" + id() + ".m4a", EntryKind::file, false},
        {"talk-粗剪.m4a", EntryKind::file, false},
        // Our names on the wrong kind of entry.
        {"TalvianProcess-" + id(), EntryKind::file, false},
        {".Talvian-" + id() + ".m4a", EntryKind::folder, false},
        {".TalvianAudio-" + id(), EntryKind::link, false},
        {".Talvian-" + id() + ".wav", EntryKind::fifo, false},
    };
    for (const auto& c : cases) makeEntry(dir / c.name, c.kind, dir / "target");

    removeStaleWork(dir.path());
    for (const auto& c : cases)
        EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(dir / c.name)), !c.removed)
            << c.name;
    EXPECT_EQ(readFile(dir / "target" / "keep"), "x");  // a link is never followed
}

TEST(FileSystemWork, EntriesInUseAreNeverRemoved) {
    TempDir dir;
    TempDir logs;
    // Stale-looking entries held by another running instance.
    const auto otherFolder = dir / ("TalvianAnalysis-" + Uuid::random().string());
    const auto otherFile = dir / (".Talvian-" + Uuid::random().string() + ".mp4");
    makeEntry(otherFolder, EntryKind::folder, {});
    makeEntry(otherFile, EntryKind::file, {});
    test::LockHolder holdFolder(otherFolder, logs.path());
    test::LockHolder holdFile(otherFile, logs.path());

    std::filesystem::path ownFolder, ownFile;
    {
        const WorkPath folder = makeWorkFolder(dir / (".TalvianAudio-" + Uuid::random().string()));
        const WorkPath file =
            makeWorkFile(dir / (".Talvian-" + Uuid::random().string() + ".m4a"), dir / "talk-粗剪.m4a");
        ownFolder = folder.path();
        ownFile = file.path();
        EXPECT_TRUE(std::filesystem::is_directory(ownFolder));
        EXPECT_EQ(std::filesystem::file_size(ownFile), 0u);
        EXPECT_TRUE(test::lockIsHeld(ownFolder));
        EXPECT_TRUE(test::lockIsHeld(ownFile));
        // Filled in place, as ffmpeg with -y does: the same file, still locked.
        int fd = ::open(ownFile.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "data", 4), 4);
        ::close(fd);
        EXPECT_TRUE(test::lockIsHeld(ownFile));

        // A new work folder in the same place sweeps it, and keeps everything in use.
        const WorkPath next = makeWorkFolder(dir / ("TalvianProcess-" + Uuid::random().string()));
        for (const auto& path : {ownFolder, ownFile, otherFolder, otherFile})
            EXPECT_TRUE(std::filesystem::exists(path)) << path;
        EXPECT_EQ(readFile(ownFile), "data");
    }
    EXPECT_FALSE(std::filesystem::exists(ownFolder));
    EXPECT_FALSE(std::filesystem::exists(ownFile));
    removeStaleWork(dir.path());
    EXPECT_TRUE(std::filesystem::exists(otherFolder));
    EXPECT_TRUE(std::filesystem::exists(otherFile));

    // The other instance ended: its entries are stale now.
    holdFolder.release();
    holdFile.release();
    removeStaleWork(dir.path());
    EXPECT_FALSE(std::filesystem::exists(otherFolder));
    EXPECT_FALSE(std::filesystem::exists(otherFile));
}

TEST(FileSystemWork, CreationNeverReusesAnEntryAndNamesTheOutput) {
    TempDir dir;
    TempDir logs;
    // Another instance's work file under the same name (held, so no sweep removes it).
    const auto name = ".Talvian-" + Uuid::random().string() + ".m4a";
    writeFile(dir / name, "someone's");
    test::LockHolder other(dir / name, logs.path());
    EXPECT_EQ(messageOf([&] { makeWorkFile(dir / name, dir / "talk-粗剪.m4a"); }),
              "无法写入“talk-粗剪.m4a”：同名文件已存在。");
    EXPECT_EQ(readFile(dir / name), "someone's");
    const auto folder = ".TalvianVideo-" + Uuid::random().string();
    std::filesystem::create_directory_symlink(dir / "elsewhere", dir / folder);
    // A private work folder is named by the folder that holds it: the user never sees its name.
    EXPECT_EQ(messageOf([&] { makeWorkFolder(dir / folder); }),
              "无法创建“" + dir.path().filename().string() + "”中的临时文件：同名文件已存在。");
    EXPECT_EQ(messageOf([&] { makeWorkFolder(dir / "missing" / folder); }),
              "无法创建“missing”中的临时文件：文件或文件夹不存在。");
}

}  // namespace
}  // namespace talvian
