// The built application as a real process without its media module beside it. The module is
// loaded only when media work first needs it, so the window opens and the sample is analysed as
// usual; the export's video render, the first call through the module's table, fails with the
// loader's sentence and leaves nothing behind.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>

#include "ProcessTestSupport.h"
#include "TestSupport.h"

namespace talvian {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::StartedProcess;
using test::TempDir;

const fs::path kApplication = TALVIAN_APP_PROGRAM;

// Starting and analysing the sample, then pressing the keys one by one, each once the window is
// idle, takes a while on a loaded machine.
constexpr auto kRunEndsWithin = 120s;
// Opens the export panel from the header, then starts the export from the panel.
const char* const kExportKeys = "click:导出,click:导出";

TEST(MediaModule, WithoutTheModuleTheVideoExportFailsWithTheReinstallSentence) {
    TempDir dir;
    // A copy of the application with its resources and no module: neither beside it nor in
    // ../lib/talvian.
    const fs::path program = dir / "app" / "talvian";
    const fs::path built = kApplication.parent_path() / "Resources";
    const fs::path resources = program.parent_path() / "Resources";
    const fs::path output = dir / "out";
    const fs::path temporary = dir / "tmp";
    for (const auto& folder : {resources / "Samples", output, temporary, dir / "config", dir / "data",
                               dir / "runtime", dir / "logs"})
        fs::create_directories(folder);
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    fs::copy_file(kApplication, program);
    for (const char* file : {"Localizable.json", "Info.json", "Samples/sample-talk.mp4"})
        fs::copy_file(built / file, resources / file);
    ASSERT_FALSE(fs::exists(program.parent_path() / "libtalvian-media.so"));
    ASSERT_FALSE(fs::exists(dir / "lib"));

    StartedProcess run(program, {"--demo", "--output", output.string()}, dir / "logs",
                       {{"QT_QPA_PLATFORM", "offscreen"},
                        {"TMPDIR", temporary.string()},
                        {"XDG_CONFIG_HOME", (dir / "config").string()},
                        {"XDG_DATA_HOME", (dir / "data").string()},
                        {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
                        {"TALVIAN_SCREENSHOT", (dir / "shot.png").string()},
                        {"TALVIAN_SCREENSHOT_KEYS", kExportKeys}});
    const auto status = run.waitForExit(kRunEndsWithin);
    ASSERT_TRUE(status.has_value()) << "still running after " << kRunEndsWithin.count() << " s";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << "\n" << run.standardError();

    // The players come from the module too: the preview cannot play the sample either. Nothing
    // of the export is left, neither a result nor a work file.
    EXPECT_EQ(run.standardOutput(), "screenshot: source " + (resources / "Samples/sample-talk.mp4").string() +
                                        "; preview not ready; notice 缺少媒体组件，请重新安装 Talvian。\n");
    EXPECT_TRUE(fs::is_empty(output));
    EXPECT_TRUE(fs::is_empty(temporary));
}

}  // namespace
}  // namespace talvian
