#include "Analysis/SourceRelocation.h"

#include <gtest/gtest.h>

#include "Model/FileNaming.h"
#include "Model/ProjectFiles.h"
#include "Model/ProjectJson.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::messageOf;
using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kCancelled = "任务已取消，原文件未改动。";
const std::string kNotLocal = "请选择本机的原素材文件。";
const std::string kOtherFile = "所选文件与原片不同，不能沿用这些切点。请选择完整的同一原片。";
const std::string kChangedWhileHashed = "原片在核对期间发生变化，请停止修改后重试。";
const std::string kOtherContent = "所选文件内容与原片不同，不能沿用这些切点。文件同名也不能替代原片。";
const std::string kNoIdentity =
    "此旧项目没有记录原片身份。请先恢复原路径并保存项目，再重新定位；不会仅凭文件名套用切点。";

// A source of a little more than two chunks, and a digest project made from it.
struct Fixture {
    TempDir dir;
    std::filesystem::path root = std::filesystem::canonical(dir.path());
    std::filesystem::path source = root / "talk.mp4";
    std::string bytes;
    CutProject analysed;  // version 1, no digest
    CutProject saved;     // version 4 with the digest
    Cancellation token;

    Fixture() {
        bytes.resize(2 * MediaFingerprint::kChunkBytes + 99);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
        writeFile(source, bytes);
        analysed = test::projectFor(source);
        saved = SourceRelocation::prepareForSave(analysed, token);
    }
};

TEST(SourceRelocation, SavingAnAnalysedProjectRecordsItsDigest) {
    Fixture f;
    EXPECT_EQ(f.saved.version, 4);
    EXPECT_EQ(f.saved.sourceSHA256, MediaFingerprint::sha256(f.source, f.token));
    auto expected = f.analysed;
    expected.version = 4;
    expected.sourceSHA256 = f.saved.sourceSHA256;
    EXPECT_EQ(f.saved, expected) << "cuts, options and media facts unchanged";

    auto padded = f.analysed;
    padded.options.paddingRight = 0.1;
    padded.version = 5;
    EXPECT_EQ(SourceRelocation::prepareForSave(padded, f.token).version, 8);

    // Saving again verifies against the recorded digest and changes nothing.
    std::vector<double> reports;
    EXPECT_EQ(SourceRelocation::prepareForSave(f.saved, f.token, [&](double x) { reports.push_back(x); }),
              f.saved);
    EXPECT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports.back(), 1.0);
}

TEST(SourceRelocation, SavingChecksTheSourceFirst) {
    Fixture f;
    // Without a digest, a changed time alone stops the save before anything is hashed.
    test::setModifiedAt(f.source, f.analysed.modifiedAt + 1);
    int reports = 0;
    EXPECT_EQ(
        messageOf([&] { SourceRelocation::prepareForSave(f.analysed, f.token, [&](double) { ++reports; }); }),
        "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。");
    EXPECT_EQ(reports, 0);

    // With a digest the content decides: same size, one byte changed, time restored.
    test::changeByteInPlace(f.source, 1'000'000);
    test::setModifiedAt(f.source, f.saved.modifiedAt);
    EXPECT_EQ(messageOf([&] { SourceRelocation::prepareForSave(f.saved, f.token); }), kOtherContent);

    auto invalid = f.saved;
    invalid.sourceSHA256 = std::string(64, 'A');
    EXPECT_EQ(messageOf([&] { SourceRelocation::prepareForSave(invalid, f.token); }), "项目文件格式无效。");
}

TEST(SourceRelocation, MovedAndRenamedCopyIsAccepted) {
    Fixture f;
    std::filesystem::create_directory(f.root / "moved");
    auto moved = f.root / "moved" / "renamed.mov";
    std::filesystem::rename(f.source, moved);
    test::setModifiedAt(moved, 1'700'000'000.25);

    std::vector<double> reports;
    auto relocated =
        SourceRelocation::relocate(f.saved, moved, f.token, [&](double x) { reports.push_back(x); });
    auto expected = f.saved;
    expected.source = moved.string();
    expected.modifiedAt = SourceMetadata::read(moved).modifiedAt;
    EXPECT_EQ(relocated, expected);
    EXPECT_EQ(reports.size(), 3u);

    // A link to the source is accepted; the project records where it leads.
    std::filesystem::create_symlink(moved, f.root / "link.mp4");
    EXPECT_EQ(SourceRelocation::relocate(f.saved, f.root / "link.mp4", f.token).source, moved.string());
    EXPECT_EQ(SourceRelocation::relocate(f.saved, f.root / "moved" / ".." / "link.mp4", f.token).source,
              moved.string());
}

TEST(SourceRelocation, OtherFilesAreRefused) {
    Fixture f;
    auto other = f.root / "other" / "talk.mp4";
    std::filesystem::create_directory(other.parent_path());
    struct Case {
        std::string name;
        std::function<std::filesystem::path()> make;
        std::string message;
        bool hashed;
    };
    std::vector<Case> cases = {
        {"same name and size, other content",
         [&] {
             writeFile(other, f.bytes);
             test::changeByteInPlace(other, f.bytes.size() - 1);
             return other;
         },
         kOtherContent, true},
        {"one byte shorter",
         [&] {
             writeFile(other, f.bytes.substr(1));
             return other;
         },
         kOtherFile, false},
        {"a folder", [&] { return f.root / "other"; }, kOtherFile, false},
        {"not a local path", [] { return std::filesystem::path("talk.mp4"); }, kNotLocal, false},
        {"empty", [] { return std::filesystem::path(); }, kNotLocal, false},
        {"missing", [&] { return f.root / "gone.mp4"; }, "无法读取“gone.mp4”：文件或文件夹不存在。", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto chosen = c.make();
        int reports = 0;
        EXPECT_EQ(messageOf([&] {
                      SourceRelocation::relocate(f.saved, chosen, f.token, [&](double) { ++reports; });
                  }),
                  c.message);
        EXPECT_EQ(reports > 0, c.hashed);
    }
}

TEST(SourceRelocation, FileChangingWhileItIsHashedIsRefused) {
    Fixture f;
    test::setModifiedAt(f.source, 1'600'000'000);
    auto saved = SourceRelocation::relocate(f.saved, f.source, f.token);
    // A writer rewrites a byte that was already hashed: size stays, time moves.
    bool written = false;
    auto rewrite = [&](double) {
        if (written) return;
        written = true;
        test::changeByteInPlace(f.source, 10);
        test::setModifiedAt(f.source, 1'600'000'001);
    };
    EXPECT_EQ(messageOf([&] { SourceRelocation::relocate(saved, f.source, f.token, rewrite); }),
              kChangedWhileHashed);
    written = false;
    test::changeByteInPlace(f.source, 10);
    test::setModifiedAt(f.source, 1'600'000'000);
    EXPECT_EQ(messageOf([&] { SourceRelocation::prepareForSave(saved, f.token, rewrite); }),
              kChangedWhileHashed);
}

TEST(SourceRelocation, ProjectWithoutIdentityIsRefusedBeforeReading) {
    Fixture f;
    int reports = 0;
    auto count = [&](double) { ++reports; };
    EXPECT_EQ(messageOf([&] { SourceRelocation::relocate(f.analysed, f.source, f.token, count); }),
              kNoIdentity);
    EXPECT_EQ(messageOf([&] { SourceRelocation::relocate(f.analysed, f.root / "gone.mp4", f.token, count); }),
              kNoIdentity);
    auto adaptive = f.analysed;
    adaptive.version = 2;
    adaptive.options.mode = DetectionMode::adaptive;
    EXPECT_EQ(messageOf([&] { SourceRelocation::relocate(adaptive, f.source, f.token, count); }),
              kNoIdentity);
    EXPECT_EQ(reports, 0);
}

TEST(SourceRelocation, PackagedProjects) {
    TempDir dir;
    auto root = std::filesystem::canonical(dir.path());
    auto package = root / "Package";
    test::writePackage(package, "talk.mp4", std::string(MediaFingerprint::kChunkBytes + 1, 'k'));
    Cancellation token;
    auto loaded = VevazAvezud::load(package / "review.quenlo.json", token);

    // Saving proves the copy intact and keeps the reference.
    EXPECT_EQ(SourceRelocation::prepareForSave(loaded, token), loaded);
    test::changeByteInPlace(package / "media" / "talk.mp4", 3);
    EXPECT_EQ(messageOf([&] { SourceRelocation::prepareForSave(loaded, token); }), kOtherContent);

    // Relocating to an outside copy checks it against the package digest and drops the reference.
    auto outside = root / "talk-copy.mp4";
    writeFile(outside, std::string(MediaFingerprint::kChunkBytes + 1, 'k'));
    auto relocated = SourceRelocation::relocate(loaded, outside, token);
    EXPECT_EQ(relocated.version, 4);
    EXPECT_EQ(relocated.sourceSHA256, loaded.packagedSource->sha256);
    EXPECT_FALSE(relocated.packagedSource);
    EXPECT_EQ(relocated.source, outside.string());
}

TEST(SourceRelocation, SavedProjectFileIsRelocatedWithoutItsOldSource) {
    Fixture f;
    auto file = f.root / "talk.quenlo.json";
    VevazAvezud::save(f.saved, file);
    auto moved = f.root / "moved.mp4";
    std::filesystem::rename(f.source, moved);

    auto relocated = SourceRelocation::relocateSavedProject(file, moved, f.token);
    EXPECT_EQ(relocated.source, moved.string());
    EXPECT_EQ(relocated.sourceSHA256, f.saved.sourceSHA256);
    EXPECT_EQ(readFile(file), ProjectJson::encode(f.saved)) << "relocation writes nothing";

    // A packaged project file is relocated by its package digest; its copy is not looked at.
    auto package = f.root / "Package";
    auto packaged = test::writePackage(package, "talk.mp4", f.bytes);
    std::filesystem::remove(package / "media" / "talk.mp4");
    relocated = SourceRelocation::relocateSavedProject(package / "review.quenlo.json", moved, f.token);
    EXPECT_EQ(relocated.version, 4);
    EXPECT_EQ(relocated.sourceSHA256, packaged.packagedSource->sha256);

    VevazAvezud::save(f.analysed, file);
    EXPECT_EQ(messageOf([&] { SourceRelocation::relocateSavedProject(file, moved, f.token); }), kNoIdentity);

    auto document = ProjectJson::encode(f.saved);
    writeFile(file, document + std::string(kMaximumProjectFileBytes - document.size(), '\n'));
    EXPECT_EQ(SourceRelocation::relocateSavedProject(file, moved, f.token).source, moved.string());
    writeFile(file, document + std::string(kMaximumProjectFileBytes + 1 - document.size(), '\n'));
    EXPECT_EQ(messageOf([&] { SourceRelocation::relocateSavedProject(file, moved, f.token); }),
              "项目文件异常，超过 5 MB。");
    EXPECT_EQ(
        messageOf([&] { SourceRelocation::relocateSavedProject(f.root / "none.json", moved, f.token); }),
        "无法读取“none.json”：文件或文件夹不存在。");
}

TEST(SourceRelocation, CancellationAtEveryStage) {
    Fixture f;
    Cancellation cancelled;
    cancelled.cancel();
    EXPECT_EQ(messageOf([&] { SourceRelocation::prepareForSave(f.saved, cancelled); }), kCancelled);
    EXPECT_EQ(messageOf([&] { SourceRelocation::relocate(f.saved, f.source, cancelled); }), kCancelled);
    EXPECT_EQ(
        messageOf([&] { SourceRelocation::relocateSavedProject(f.root / "none.json", f.source, cancelled); }),
        kCancelled);

    // Cancelled while hashing: the next chunk stops it.
    Cancellation token;
    EXPECT_EQ(messageOf([&] {
                  SourceRelocation::relocate(f.saved, f.source, token, [&](double) { token.cancel(); });
              }),
              kCancelled);
}

}  // namespace
}  // namespace talvian
