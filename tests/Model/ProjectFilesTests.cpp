#include "Model/ProjectFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "Model/FileNaming.h"
#include "Model/ProjectJson.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::messageOf;
using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kMismatch =
    "交接包内的原片与导出时不一致，不能套用原来的切点。请恢复完整原片，或重新导入并分析。";
const std::string kTooLarge = "项目文件异常，超过 5 MB。";
const std::string kCancelled = "任务已取消，原文件未改动。";

std::size_t entriesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// A source file and a canonical temporary folder (links in the system's temp path resolved).
struct SourceFixture {
    TempDir dir;
    std::filesystem::path root = std::filesystem::canonical(dir.path());
    std::filesystem::path source = root / "talk.mp4";
    SourceFixture() { writeFile(source, std::string(4096, 's')); }
};

TEST(ProjectFiles, SaveAndLoadRoundTrip) {
    SourceFixture f;
    auto project = test::projectFor(f.source);
    project.options.paddingRight = 0.1;
    project.version = 5;
    auto file = f.root / "talk.quenlo.json";
    EXPECT_EQ(VevazAvezud::save(project, file), project);
    auto text = readFile(file);
    EXPECT_NE(text.find("\n"), std::string::npos) << "pretty-printed";
    EXPECT_NE(text.find("\\/talk.mp4"), std::string::npos) << "slashes escaped";

    Cancellation token;
    EXPECT_EQ(VevazAvezud::load(file, token), project);
}

TEST(ProjectFiles, SaveReplacesAnExistingFileAtomically) {
    SourceFixture f;
    auto file = f.root / "talk.quenlo.json";
    writeFile(file, "old");
    auto project = test::projectFor(f.source);
    VevazAvezud::save(project, file);
    EXPECT_EQ(ProjectJson::decode(readFile(file)), project);
    EXPECT_EQ(entriesIn(f.root), 2u) << "no temporary file left behind";

    // A failed write (here: an invalid project) leaves the earlier file exactly as it was.
    auto before = readFile(file);
    auto invalid = project;
    invalid.version = 9;
    EXPECT_EQ(messageOf([&] { VevazAvezud::save(invalid, file); }), "无法写入剪辑项目：项目文件格式无效。");
    invalid = project;
    invalid.waveform.push_back(std::nan(""));
    EXPECT_EQ(messageOf([&] { VevazAvezud::save(invalid, file); }), "无法写入剪辑项目：项目文件格式无效。");
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(entriesIn(f.root), 2u);

    EXPECT_EQ(messageOf([&] { VevazAvezud::save(project, f.root / "missing" / "a.quenlo.json"); }),
              "无法写入“a.quenlo.json”：文件或文件夹不存在。");
}

TEST(ProjectFiles, SaveNeverReplacesTheSource) {
    SourceFixture f;
    std::filesystem::create_symlink(f.source, f.root / "link.json");
    std::filesystem::create_hard_link(f.source, f.root / "hard.json");
    std::filesystem::create_directory(f.root / "sub");
    auto project = test::projectFor(f.source);
    for (const auto& target :
         {f.source, f.root / "link.json", f.root / "sub" / ".." / "talk.mp4", f.root / "hard.json"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(messageOf([&] { VevazAvezud::save(project, target); }),
                  "项目文件不能覆盖原始素材，请另选保存位置。");
    }
    EXPECT_EQ(readFile(f.source), std::string(4096, 's'));
    EXPECT_EQ(entriesIn(f.root), 4u);
}

TEST(ProjectFiles, SizeLimitIsTestedBeforeReading) {
    SourceFixture f;
    auto project = test::projectFor(f.source);
    auto document = ProjectJson::encode(project);
    auto file = f.root / "talk.quenlo.json";
    Cancellation token;

    // Whitespace keeps the document valid JSON at any size.
    writeFile(file, document + std::string(kMaximumProjectFileBytes - document.size(), ' '));
    EXPECT_EQ(VevazAvezud::load(file, token), project);
    writeFile(file, document + std::string(kMaximumProjectFileBytes + 1 - document.size(), ' '));
    EXPECT_EQ(messageOf([&] { VevazAvezud::load(file, token); }), kTooLarge);
    EXPECT_EQ(messageOf([&] { readProjectFile(file); }), kTooLarge);
}

TEST(ProjectFiles, LoadRefusals) {
    SourceFixture f;
    auto file = f.root / "talk.quenlo.json";
    auto project = test::projectFor(f.source);
    VevazAvezud::save(project, file);
    Cancellation token;

    Cancellation cancelled;
    cancelled.cancel();
    EXPECT_EQ(messageOf([&] { VevazAvezud::load(f.root / "none.quenlo.json", cancelled); }), kCancelled);
    EXPECT_EQ(messageOf([&] { VevazAvezud::load(f.root / "none.quenlo.json", token); }),
              "无法读取“none.quenlo.json”：文件或文件夹不存在。");

    writeFile(f.root / "broken.quenlo.json", "{");
    EXPECT_EQ(messageOf([&] { VevazAvezud::load(f.root / "broken.quenlo.json", token); }),
              "项目文件不是有效的 JSON 文本。");

    // Structure is validated before the source is looked at.
    auto invalid = ProjectJson::toJson(project);
    invalid["version"] = 3;
    writeFile(f.root / "invalid.quenlo.json", invalid.dump());
    EXPECT_EQ(messageOf([&] { VevazAvezud::load(f.root / "invalid.quenlo.json", token); }),
              "项目文件格式无效。");

    test::setModifiedAt(f.source, project.modifiedAt + 5);
    EXPECT_EQ(messageOf([&] { VevazAvezud::load(file, token); }),
              "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。");

    std::filesystem::remove(f.source);
    try {
        VevazAvezud::load(file, token);
        ADD_FAILURE() << "loaded a project whose source is gone";
    } catch (const MissingProjectSource& error) {
        EXPECT_EQ(error.path, f.source.string());
        EXPECT_FALSE(error.isPackage);
        EXPECT_FALSE(error.canRelocate);
    }
}

TEST(ProjectFiles, OnlyARegularFileIsReadAsAProject) {
    SourceFixture f;
    ASSERT_EQ(::mkfifo((f.root / "pipe.quenlo.json").c_str(), 0600), 0);
    std::filesystem::create_directory(f.root / "folder.quenlo.json");
    std::filesystem::create_symlink("/dev/zero", f.root / "zero.quenlo.json");
    struct Case {
        std::filesystem::path file;
        std::string expected;
    };
    const Case cases[] = {
        // A FIFO once waited in open() for a writer that never came.
        {f.root / "pipe.quenlo.json", "无法读取“pipe.quenlo.json”：这不是普通文件。"},
        {"/dev/zero", "无法读取“zero”：这不是普通文件。"},
        {"/dev/null", "无法读取“null”：这不是普通文件。"},
        {f.root / "zero.quenlo.json", "无法读取“zero.quenlo.json”：这不是普通文件。"},
        {f.root / "folder.quenlo.json", "无法读取“folder.quenlo.json”：这是一个文件夹。"},
    };
    for (const auto& c : cases) {
        auto answer = std::async(std::launch::async, [&] {
            Cancellation token;
            return messageOf([&] { VevazAvezud::load(c.file, token); });
        });
        if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            // Give a blocked open() its writer so the test ends.
            int writer = ::open((f.root / "pipe.quenlo.json").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (writer >= 0) ::close(writer);
            ADD_FAILURE() << c.file << " blocked";
        }
        EXPECT_EQ(answer.get(), c.expected) << c.file;
    }
}

TEST(PackagedSource, PresentCopyIsVerifiedAndBecomesTheSource) {
    TempDir dir;
    auto package = std::filesystem::canonical(dir.path()) / "Package";
    auto written = test::writePackage(package, "talk.mp4", std::string(3 * 1024 * 1024 + 5, 'p'));
    Cancellation token;
    auto loaded = VevazAvezud::load(package / "review.quenlo.json", token);

    auto copy = package / "media" / "talk.mp4";
    auto metadata = SourceMetadata::read(copy);
    auto expected = written;
    expected.source = copy.string();
    expected.sourceBytes = metadata.bytes;
    expected.modifiedAt = metadata.modifiedAt;
    EXPECT_EQ(loaded, expected) << "version, reference and everything else unchanged";

    // Through a link to the package folder the copy is named by its real path.
    std::filesystem::create_directory_symlink(package, dir / "PackageLink");
    EXPECT_EQ(VevazAvezud::load(dir / "PackageLink" / "review.quenlo.json", token), expected);
}

TEST(PackagedSource, MissingCopy) {
    TempDir dir;
    auto package = std::filesystem::canonical(dir.path()) / "Package";
    test::writePackage(package, "talk.mp4", "copy bytes");
    std::filesystem::remove(package / "media" / "talk.mp4");
    Cancellation token;
    try {
        VevazAvezud::load(package / "review.quenlo.json", token);
        ADD_FAILURE() << "loaded a package without its copy";
    } catch (const MissingProjectSource& error) {
        EXPECT_EQ(error.path, (package / "media" / "talk.mp4").string());
        EXPECT_TRUE(error.isPackage);
        EXPECT_TRUE(error.canRelocate);
    }
}

TEST(PackagedSource, ChangedCopiesAreRefused) {
    struct Case {
        std::string name;
        std::function<void(const std::filesystem::path& copy)> change;
        std::string message;
    };
    std::vector<Case> cases = {
        {"one byte changed in place", [](const auto& copy) { test::changeByteInPlace(copy, 1'500'000); },
         kMismatch},
        {"one byte longer", [](const auto& copy) { writeFile(copy, readFile(copy) + "x"); }, kMismatch},
        {"a folder of the same name",
         [](const auto& copy) {
             std::filesystem::remove(copy);
             std::filesystem::create_directory(copy);
         },
         kMismatch},
        {"a link leading out of the package",
         [](const auto& copy) {
             auto outside = copy.parent_path().parent_path().parent_path() / "outside.mp4";
             std::filesystem::rename(copy, outside);
             std::filesystem::create_symlink(outside, copy);
         },
         "交接包的素材引用超出了包内 media 文件夹。"},
        {"the media folder a link to another folder",
         [](const auto& copy) {
             auto media = copy.parent_path();
             auto elsewhere = media.parent_path().parent_path() / "elsewhere";
             std::filesystem::rename(media, elsewhere);
             std::filesystem::create_directory_symlink(elsewhere, media);
         },
         "交接包的素材引用超出了包内 media 文件夹。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto package = std::filesystem::canonical(dir.path()) / "Package";
        test::writePackage(package, "talk.mp4", std::string(2 * 1024 * 1024, 'c'));
        c.change(package / "media" / "talk.mp4");
        Cancellation token;
        EXPECT_EQ(messageOf([&] { VevazAvezud::load(package / "review.quenlo.json", token); }), c.message);
    }
}

TEST(PackagedSource, MalformedReferenceAndCancellation) {
    TempDir dir;
    auto package = std::filesystem::canonical(dir.path()) / "Package";
    auto project = test::writePackage(package, "talk.mp4", "bytes");
    Cancellation token;
    for (const auto& relativePath :
         {"media/../talk.mp4", "Media/talk.mp4", "media/sub/talk.mp4", "./media/talk.mp4"}) {
        SCOPED_TRACE(relativePath);
        PackagedSource reference{relativePath, project.packagedSource->sha256};
        EXPECT_EQ(messageOf([&] { packagedSourceURL(reference, package / "review.quenlo.json"); }),
                  "交接包的素材引用无效。请保留完整的 media 文件夹。");
    }
    EXPECT_EQ(packagedSourceURL(*project.packagedSource, package / "review.quenlo.json"),
              package / "media" / "talk.mp4");

    Cancellation cancelled;
    cancelled.cancel();
    EXPECT_EQ(messageOf([&] { resolvePackagedSource(project, package / "review.quenlo.json", cancelled); }),
              kCancelled);
    EXPECT_EQ(messageOf([&] { VevazAvezud::load(package / "review.quenlo.json", cancelled); }), kCancelled);
}

TEST(PackagedSource, CopyChangingWhileItIsHashedIsRefused) {
    TempDir dir;
    auto package = std::filesystem::canonical(dir.path()) / "Package";
    auto project = test::writePackage(package, "talk.mp4", std::string(32 * 1024 * 1024, 'h'));
    auto copy = package / "media" / "talk.mp4";
    // Content stays, only the modification time moves on and on, as under a writer that
    // rewrites the same bytes; the digest alone would still match.
    std::atomic<bool> started = false;
    std::atomic<bool> done = false;
    std::thread toucher([&] {
        for (double seconds = 1'600'000'000; !done; seconds += 1) {
            test::setModifiedAt(copy, seconds);
            started = true;
        }
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!started && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    Cancellation token;
    auto message = messageOf([&] { resolvePackagedSource(project, package / "review.quenlo.json", token); });
    done = true;
    toucher.join();
    EXPECT_EQ(message, "原片在校验期间发生变化，请停止修改后重新打开项目。");
}

TEST(PackagedSource, SavingBesideTheCopyKeepsTheReferenceElsewhereConvertsIt) {
    TempDir dir;
    auto root = std::filesystem::canonical(dir.path());
    auto package = root / "Package";
    auto written = test::writePackage(package, "talk.mp4", "the packaged bytes");
    Cancellation token;
    auto loaded = VevazAvezud::load(package / "review.quenlo.json", token);

    EXPECT_EQ(VevazAvezud::save(loaded, package / "copy.quenlo.json"), loaded);
    EXPECT_EQ(ProjectJson::decode(readFile(package / "copy.quenlo.json")), loaded);
    EXPECT_EQ(ProjectJson::decode(readFile(package / "copy.quenlo.json")).version, 3);

    auto converted = loaded;
    converted.version = 4;
    converted.sourceSHA256 = written.packagedSource->sha256;
    converted.packagedSource.reset();
    EXPECT_EQ(VevazAvezud::save(loaded, root / "elsewhere.quenlo.json"), converted);
    EXPECT_EQ(ProjectJson::decode(readFile(root / "elsewhere.quenlo.json")), converted);
    // The converted file still opens: its source is the copy's absolute path.
    EXPECT_EQ(VevazAvezud::load(root / "elsewhere.quenlo.json", token), converted);

    auto withRightPadding = loaded;
    withRightPadding.options.paddingRight = 0.2;
    withRightPadding.version = 7;
    EXPECT_EQ(VevazAvezud::save(withRightPadding, root / "right.quenlo.json").version, 8);
}

}  // namespace
}  // namespace talvian
