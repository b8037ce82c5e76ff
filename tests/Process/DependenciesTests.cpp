#include "Process/Dependencies.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "Model/CoreTypes.h"
#include "Model/Localization.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::messageOf;
using test::TempDir;
using test::writeFile;

void writeTool(const std::filesystem::path& path, mode_t mode) {
    std::filesystem::create_directories(path.parent_path());
    writeFile(path, "#!/bin/sh\nexit 0\n");
    ::chmod(path.c_str(), mode);
}

TEST(Dependencies, SearchListPutsOwnCopyFirstAndInstallFoldersOnlyOutsidePackages) {
    TempDir resources;
    using Paths = std::vector<std::filesystem::path>;
    EXPECT_EQ(Dependencies::searchList("ffprobe", resources.path(), false),
              (Paths{resources / "bin/ffprobe", "/usr/local/bin/ffprobe", "/usr/bin/ffprobe"}));
    EXPECT_EQ(Dependencies::searchList("ffprobe", resources.path(), true),
              (Paths{resources / "bin/ffprobe"}));
    // No resources folder at all: a packaged build then has nothing to try.
    EXPECT_EQ(Dependencies::searchList("ffmpeg", resources / "missing", true), Paths{});
    EXPECT_EQ(Dependencies::searchList("ffmpeg", resources / "missing", false),
              (Paths{"/usr/local/bin/ffmpeg", "/usr/bin/ffmpeg"}));
}

TEST(Dependencies, FindTakesTheFirstExecutableCandidate) {
    struct Case {
        const char* name;
        bool bundled;
        mode_t ownMode;  // 0: no own copy
        bool ownIsFolder;
        bool expectOwn;
        bool expectInstalled;
    };
    const Case cases[] = {
        {"packaged, own copy", true, 0755, false, true, false},
        {"packaged, own copy missing: installed ffmpeg is not used", true, 0, false, false, false},
        {"packaged, own copy not executable", true, 0644, false, false, false},
        {"packaged, own copy is a folder", true, 0, true, false, false},
        {"development, own copy wins", false, 0755, false, true, false},
        {"development, falls back to /usr/bin", false, 0, false, false, true},
        {"development, non-executable own copy skipped", false, 0644, false, false, true},
    };
    for (const auto& c : cases) {
        TempDir resources;
        if (c.ownMode != 0) writeTool(resources / "bin/ffmpeg", c.ownMode);
        if (c.ownIsFolder) std::filesystem::create_directories(resources / "bin/ffmpeg");
        auto found = Dependencies::find("ffmpeg", resources.path(), c.bundled);
        if (c.expectOwn)
            EXPECT_EQ(found, resources / "bin/ffmpeg") << c.name;
        else if (c.expectInstalled)
            EXPECT_EQ(found, std::filesystem::path("/usr/bin/ffmpeg")) << c.name;
        else
            EXPECT_EQ(found, std::nullopt) << c.name;
    }
}

TEST(Dependencies, RequireNamesTheMissingTool) {
    TempDir resources;
    EXPECT_EQ(messageOf([&] { Dependencies::require("ffprobe", resources.path(), true); }),
              "应用内的处理组件 ffprobe 缺失或不可执行。请重新下载完整的 Talvian 应用。");
    EXPECT_EQ(messageOf([&] { Dependencies::require("talvian-no-such-tool", resources.path(), false); }),
              "缺少本地处理组件 talvian-no-such-tool。请运行项目中的 setup.sh 后重新打开。");
    EXPECT_EQ(Dependencies::require("ffprobe", resources.path(), false),
              std::filesystem::path("/usr/bin/ffprobe"));
}

TEST(Dependencies, DevelopmentBuildFindsInstalledToolsAndNeverReadsPath) {
    if (Dependencies::usesBundledTools()) GTEST_SKIP() << "a packaged build uses only its own tools";
    // A tool only reachable through PATH stays unknown.
    TempDir elsewhere;
    writeTool(elsewhere / "talvian-path-only", 0755);
    std::string savedPath = ::getenv("PATH") ? ::getenv("PATH") : "";
    ::setenv("PATH", elsewhere.path().c_str(), 1);
    auto pathOnly = Dependencies::find("talvian-path-only");
    auto ffmpeg = Dependencies::find("ffmpeg");
    ::setenv("PATH", savedPath.c_str(), 1);
    EXPECT_EQ(pathOnly, std::nullopt);
    // The build tree's resources have no bin/: the Debian package's copy is used.
    EXPECT_EQ(ffmpeg, std::filesystem::path("/usr/bin/ffmpeg"));
    EXPECT_EQ(Dependencies::require("ffprobe"), std::filesystem::path("/usr/bin/ffprobe"));
}

}  // namespace
}  // namespace talvian
