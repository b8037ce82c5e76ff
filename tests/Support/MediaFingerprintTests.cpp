#include "Support/MediaFingerprint.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::messageOf;
using test::TempDir;
using test::writeFile;

// What coreutils says about the same file: the reference digest.
std::string sha256sumOf(const std::filesystem::path& file, const TempDir& dir) {
    auto out = dir / "sha256sum.txt";
    EXPECT_EQ(
        test::shell("sha256sum " + test::shellQuote(file.string()) + " > " + test::shellQuote(out.string())),
        0);
    return test::readFile(out).substr(0, 64);
}

std::size_t openDescriptorCount() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

TEST(MediaFingerprint, DigestsMatchKnownValuesAndSha256sum) {
    TempDir dir;
    Cancellation token;
    struct Case {
        std::string name;
        std::string bytes;
    };
    std::string large(MediaFingerprint::kChunkBytes * 2 + 12345, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::vector<Case> cases = {
        {"empty", ""},
        {"abc", "abc"},
        {"exactly one chunk", std::string(MediaFingerprint::kChunkBytes, 'x')},
        {"two chunks and a bit", large},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = dir / "input";
        writeFile(file, c.bytes);
        auto digest = MediaFingerprint::sha256(file, token);
        EXPECT_EQ(digest.size(), 64u);
        EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos);
        EXPECT_EQ(digest, sha256sumOf(file, dir));
    }
    writeFile(dir / "empty", "");
    EXPECT_EQ(MediaFingerprint::sha256(dir / "empty", token),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    writeFile(dir / "abc", "abc");
    EXPECT_EQ(MediaFingerprint::sha256(dir / "abc", token),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Bytes fed in pieces give the digest of the whole, as the file digest does.
TEST(MediaFingerprint, PiecewiseDigestEqualsTheWhole) {
    EXPECT_EQ(MediaFingerprint::sha256(std::string_view("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(MediaFingerprint::sha256(std::string_view()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    std::string bytes(3'000'000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
    MediaFingerprint::Sha256 pieces;
    for (std::size_t at = 0; at < bytes.size(); at += 65'537)
        pieces.add(std::string_view(bytes).substr(at, 65'537));
    test::TempDir dir;
    test::writeFile(dir / "bytes", bytes);
    auto whole = MediaFingerprint::sha256(dir / "bytes", Cancellation());
    EXPECT_EQ(pieces.finish(), whole);
    EXPECT_EQ(MediaFingerprint::sha256(std::string_view(bytes)), whole);
}

TEST(MediaFingerprint, ChangeInPlaceWithTheSameSizeIsDetected) {
    TempDir dir;
    Cancellation token;
    auto file = dir / "source.wav";
    writeFile(file, std::string(3 * MediaFingerprint::kChunkBytes, 'a'));
    auto before = MediaFingerprint::sha256(file, token);
    {
        // One byte deep inside the last chunk, rewritten without truncating the file.
        std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
        stream.seekp(static_cast<std::streamoff>(2 * MediaFingerprint::kChunkBytes + 7));
        stream.put('b');
    }
    EXPECT_EQ(std::filesystem::file_size(file), 3 * MediaFingerprint::kChunkBytes);
    EXPECT_NE(MediaFingerprint::sha256(file, token), before);
}

TEST(MediaFingerprint, ProgressFollowsEveryChunkAndEndsAtOne) {
    TempDir dir;
    Cancellation token;
    std::vector<double> reports;
    auto record = [&](double fraction) { reports.push_back(fraction); };

    writeFile(dir / "empty", "");
    MediaFingerprint::sha256(dir / "empty", token, record);
    EXPECT_TRUE(reports.empty());

    writeFile(dir / "file",
              std::string(2 * MediaFingerprint::kChunkBytes + MediaFingerprint::kChunkBytes / 2, 'z'));
    MediaFingerprint::sha256(dir / "file", token, record);
    EXPECT_EQ(reports, (std::vector<double>{0.4, 0.8, 1.0}));
}

TEST(MediaFingerprint, CancellationAtTheStartAndBetweenChunks) {
    TempDir dir;
    auto file = dir / "file";
    writeFile(file, std::string(3 * MediaFingerprint::kChunkBytes, 'c'));
    auto descriptors = openDescriptorCount();

    Cancellation cancelled;
    cancelled.cancel();
    EXPECT_EQ(messageOf([&] { MediaFingerprint::sha256(dir / "missing", cancelled); }),
              "任务已取消，原文件未改动。");

    // Cancelled after the first chunk: the second chunk is read but never fed or reported.
    Cancellation token;
    int reports = 0;
    EXPECT_EQ(messageOf([&] {
                  MediaFingerprint::sha256(file, token, [&](double) {
                      ++reports;
                      token.cancel();
                  });
              }),
              "任务已取消，原文件未改动。");
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST(MediaFingerprint, FileErrorsAreChineseSentencesAndCloseTheFile) {
    TempDir dir;
    Cancellation token;
    auto descriptors = openDescriptorCount();
    std::filesystem::create_directory(dir / "folder.mov");
    EXPECT_EQ(messageOf([&] { MediaFingerprint::sha256(dir / "missing.mov", token); }),
              "无法读取“missing.mov”：文件或文件夹不存在。");
    EXPECT_EQ(messageOf([&] { MediaFingerprint::sha256(dir / "folder.mov", token); }),
              "无法读取“folder.mov”：这是一个文件夹。");
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST(MediaFingerprint, TheFileIsNotInheritedByChildren) {
    TempDir dir;
    Cancellation token;
    auto file = dir / "file";
    writeFile(file, "x");
    bool checked = false;
    MediaFingerprint::sha256(file, token, [&](double) {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (std::filesystem::read_symlink(entry.path(), error) != file) continue;
            int fd = std::stoi(entry.path().filename().string());
            EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
            checked = true;
        }
    });
    EXPECT_TRUE(checked);
}

}  // namespace
}  // namespace talvian
