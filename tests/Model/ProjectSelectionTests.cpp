#include <sys/stat.h>

#include <gtest/gtest.h>

#include "Model/ProjectSelection.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

using namespace talvian;
using namespace talvian::test;
namespace fs = std::filesystem;

namespace {

const std::string kInvalid = "请选择剪辑项目 JSON 文件，或完整的交接文件夹。";
const std::string kNoProject =
    "此文件夹内没有有效的 review.quenlo.json。请选择完整的交接文件夹，或直接选择剪辑项目文件。";

}  // namespace

TEST(ProjectSelection, ProjectFilesAndPackageFoldersLeadToTheirProject) {
    TempDir folder;
    writeFile(folder / "SAVED.JSON", "{}");
    fs::create_directories(folder / "package");
    writeFile(folder / "package/review.quenlo.json", "{}");
    // A folder is looked into whatever its name.
    fs::create_directories(folder / "named.json");
    writeFile(folder / "named.json/review.quenlo.json", "{}");
    const std::pair<fs::path, fs::path> cases[] = {
        {folder / "SAVED.JSON", folder / "SAVED.JSON"},
        {folder / "package", folder / "package/review.quenlo.json"},
        {folder / "named.json", folder / "named.json/review.quenlo.json"},
    };
    for (const auto& [selection, expected] : cases)
        EXPECT_EQ(ProjectSelection::projectURL(selection), expected) << selection;
}

TEST(ProjectSelection, AnythingElseIsRefusedWithItsOwnSentence) {
    TempDir folder;
    writeFile(folder / "notes.txt", "not a project");
    writeFile(folder / "elsewhere.quenlo.json", "{}");
    fs::create_directories(folder / "linked");
    fs::create_symlink(folder / "elsewhere.quenlo.json", folder / "linked/review.quenlo.json");
    fs::create_directories(folder / "empty");
    fs::create_directories(folder / "nested/review.quenlo.json");
    ASSERT_EQ(::mkfifo((folder / "pipe.json").c_str(), 0600), 0);
    const std::pair<fs::path, std::string> cases[] = {
        {folder / "notes.txt", kInvalid},
        {"relative.json", kInvalid},
        {"", kInvalid},
        {folder / "pipe.json", kInvalid},
        // A link could lead outside the package; a folder in the project's place is no file.
        {folder / "linked", kNoProject},
        {folder / "empty", kNoProject},
        {folder / "nested", kNoProject},
    };
    for (const auto& [selection, expected] : cases)
        EXPECT_EQ(messageOf([&] { ProjectSelection::projectURL(selection); }), expected) << selection;

    // A selection that cannot be read reports the file error, not a refusal of its kind.
    const std::string missing = messageOf([&] { ProjectSelection::projectURL(folder / "gone.json"); });
    EXPECT_NE(missing, "");
    EXPECT_NE(missing, kInvalid);
}
