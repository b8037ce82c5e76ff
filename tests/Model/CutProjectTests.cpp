#include "Model/CutProject.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <functional>
#include <limits>

#include "Model/FileNaming.h"
#include "TestSupport.h"

namespace talvian {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kDigest(64, 'a');
const char* kInvalid = "项目文件格式无效。";
const char* kOptionsInvalid = "停顿参数超出有效范围。";
const char* kPackageInvalid = "交接包的素材引用无效。请保留完整的 media 文件夹。";

CutProject validProject() {
    CutProject project;
    project.version = 1;
    project.source = "/media/talk.mp4";
    project.sourceBytes = 1000;
    project.modifiedAt = 1'700'000'000.25;
    project.info.duration = 60;
    project.info.hasAudio = true;
    project.info.audioTracks = 1;
    project.cuts = {CutRegion(1, 2, true), CutRegion(5, 6.5, false)};
    project.waveform = {0, 0.5, 1};
    return project;
}

// Throws the given message, or nothing when `expected` is empty.
void expectValidation(const std::function<void()>& check, const std::string& expected,
                      const std::string& label) {
    try {
        check();
        EXPECT_TRUE(expected.empty()) << label << ": accepted";
    } catch (const MediaError& error) {
        EXPECT_EQ(error.message(), expected) << label;
    }
}

TEST(CutProjectStructure, EveryRuleAndItsMessage) {
    struct Case {
        const char* label;
        std::function<void(CutProject&)> change;
        std::string expected;
    };
    auto packaged = [](CutProject& p) {
        p.version = 3;
        p.packagedSource = PackagedSource{"media/talk.mp4", kDigest};
    };
    const Case cases[] = {
        {"valid version 1", [](CutProject&) {}, ""},
        {"version 0", [](CutProject& p) { p.version = 0; }, kInvalid},
        {"version 9", [](CutProject& p) { p.version = 9; }, kInvalid},
        {"version 5 without right padding", [](CutProject& p) { p.version = 5; }, kInvalid},
        {"version 1 with right padding", [](CutProject& p) { p.options.paddingRight = 0.2; }, kInvalid},
        {"version 5 with right padding",
         [](CutProject& p) {
             p.version = 5;
             p.options.paddingRight = 0.2;
         },
         ""},
        {"version 2 in fixed mode", [](CutProject& p) { p.version = 2; }, ""},
        {"version 2 in adaptive mode",
         [](CutProject& p) {
             p.version = 2;
             p.options.mode = DetectionMode::adaptive;
         },
         ""},
        {"version 1 in adaptive mode", [](CutProject& p) { p.options.mode = DetectionMode::adaptive; },
         kInvalid},
        {"version 5 in adaptive mode",
         [](CutProject& p) {
             p.version = 5;
             p.options.paddingRight = 0.2;
             p.options.mode = DetectionMode::adaptive;
         },
         kInvalid},
        {"version 3 packaged", packaged, ""},
        {"version 3 without packaged source", [](CutProject& p) { p.version = 3; }, kInvalid},
        {"version 4 with packaged source",
         [](CutProject& p) {
             p.version = 4;
             p.sourceSHA256 = kDigest;
             p.packagedSource = PackagedSource{"media/talk.mp4", kDigest};
         },
         kInvalid},
        {"version 4 with digest",
         [](CutProject& p) {
             p.version = 4;
             p.sourceSHA256 = kDigest;
         },
         ""},
        {"version 4 without digest", [](CutProject& p) { p.version = 4; }, kInvalid},
        {"digest on version 2",
         [](CutProject& p) {
             p.version = 2;
             p.sourceSHA256 = kDigest;
         },
         kInvalid},
        {"digest with an upper-case letter",
         [](CutProject& p) {
             p.version = 4;
             p.sourceSHA256 = std::string(63, 'a') + "A";
         },
         kInvalid},
        {"digest of 63 characters",
         [](CutProject& p) {
             p.version = 4;
             p.sourceSHA256 = std::string(63, 'a');
         },
         kInvalid},
        {"digest of 65 characters",
         [](CutProject& p) {
             p.version = 4;
             p.sourceSHA256 = std::string(65, 'a');
         },
         kInvalid},
        {"relative source", [](CutProject& p) { p.source = "media/talk.mp4"; }, kInvalid},
        {"empty source", [](CutProject& p) { p.source.clear(); }, kInvalid},
        {"zero duration", [](CutProject& p) { p.info.duration = 0; }, kInvalid},
        {"NaN duration", [](CutProject& p) { p.info.duration = kNaN; }, kInvalid},
        {"infinite duration", [](CutProject& p) { p.info.duration = INFINITY; }, kInvalid},
        {"effective threshold equal", [](CutProject& p) { p.effectiveThresholdDB = -35; }, ""},
        {"effective threshold above", [](CutProject& p) { p.effectiveThresholdDB = -34; }, kInvalid},
        {"effective threshold NaN", [](CutProject& p) { p.effectiveThresholdDB = kNaN; }, kInvalid},
        {"effective threshold -inf", [](CutProject& p) { p.effectiveThresholdDB = -INFINITY; }, kInvalid},
        {"9,999 cuts", [](CutProject& p) { p.cuts.assign(9'999, CutRegion(1, 2, true)); }, ""},
        {"10,000 cuts", [](CutProject& p) { p.cuts.assign(10'000, CutRegion(1, 2, true)); }, kInvalid},
        {"2,000 waveform values", [](CutProject& p) { p.waveform.assign(2'000, 0.5); }, ""},
        {"2,001 waveform values", [](CutProject& p) { p.waveform.assign(2'001, 0.5); }, kInvalid},
        {"cut to duration + 0.01", [](CutProject& p) { p.cuts = {CutRegion(0, 60.01, true)}; }, ""},
        {"cut to duration + 0.011", [](CutProject& p) { p.cuts = {CutRegion(0, 60.011, true)}; }, kInvalid},
        {"empty cut", [](CutProject& p) { p.cuts = {CutRegion(3, 3, true)}; }, kInvalid},
        {"inverted kept range", [](CutProject& p) { p.cuts = {CutRegion(4, 3, false)}; }, kInvalid},
        {"cut starting at -0.0", [](CutProject& p) { p.cuts = {CutRegion(-0.0, 3, true)}; }, ""},
        {"cut starting below 0", [](CutProject& p) { p.cuts = {CutRegion(-0.001, 3, true)}; }, kInvalid},
        {"cut with NaN start", [](CutProject& p) { p.cuts = {CutRegion(kNaN, 3, true)}; }, kInvalid},
        {"cut with infinite end", [](CutProject& p) { p.cuts = {CutRegion(1, INFINITY, true)}; }, kInvalid},
        {"overlapping unsorted duplicate cuts",
         [](CutProject& p) {
             CutRegion a(5, 9, true);
             p.cuts = {a, CutRegion(1, 6, false), a};
         },
         ""},
        {"waveform 1.0", [](CutProject& p) { p.waveform = {1.0}; }, ""},
        {"waveform 1.0000001", [](CutProject& p) { p.waveform = {1.0000001}; }, kInvalid},
        {"waveform -0.0", [](CutProject& p) { p.waveform = {-0.0}; }, ""},
        {"waveform negative", [](CutProject& p) { p.waveform = {-0.1}; }, kInvalid},
        {"waveform NaN", [](CutProject& p) { p.waveform = {kNaN}; }, kInvalid},
        {"options out of range", [](CutProject& p) { p.options.thresholdDB = -81; }, kOptionsInvalid},
        {"options NaN", [](CutProject& p) { p.options.minimumSilence = kNaN; }, kOptionsInvalid},
        {"a format fault comes before the options",
         [](CutProject& p) {
             p.options.thresholdDB = -81;
             p.waveform = {2};
         },
         kInvalid},
        {"bad package reference",
         [&](CutProject& p) {
             packaged(p);
             p.packagedSource->relativePath = "Media/talk.mp4";
         },
         kPackageInvalid},
        {"options come before the package reference",
         [&](CutProject& p) {
             packaged(p);
             p.packagedSource->relativePath = "talk.mp4";
             p.options.padding = 3;
         },
         kOptionsInvalid},
        {"unchecked fields",
         [](CutProject& p) {
             p.sourceBytes = -5;
             p.modifiedAt = kNaN;
             p.info.width = -1;
             p.info.frameRate = kNaN;
             p.diagnostics = DetectionDiagnostics{kNaN, 0, 0, std::nullopt};
         },
         ""},
    };
    for (const auto& c : cases) {
        CutProject project = validProject();
        c.change(project);
        expectValidation([&] { project.validateStructure(); }, c.expected, c.label);
    }
}

TEST(PackagedSource, ReferenceRules) {
    struct Case {
        std::string relativePath;
        std::string sha256;
        bool valid;
    };
    const Case cases[] = {
        {"media/talk.mp4", kDigest, true},
        {"media/.hidden", kDigest, true},
        {"media/sub/talk.mp4", kDigest, false},
        {"media//talk.mp4", kDigest, false},
        {"media/", kDigest, false},
        {"media/..", kDigest, false},
        {"media/.", kDigest, false},
        {"./media/talk.mp4", kDigest, false},
        {"Media/talk.mp4", kDigest, false},
        {"talk.mp4", kDigest, false},
        {"/media/talk.mp4", kDigest, false},
        {std::string("media/ta\0lk.mp4", 15), kDigest, false},
        {"media/talk.mp4", std::string(63, 'a'), false},
        {"media/talk.mp4", std::string(64, 'A'), false},
        {"media/talk.mp4", std::string(63, '0') + "g", false},
    };
    for (const auto& c : cases) {
        PackagedSource source{c.relativePath, c.sha256};
        expectValidation([&] { source.validate(); }, c.valid ? "" : kPackageInvalid,
                         c.relativePath + " " + c.sha256);
    }
}

TEST(CutProjectDerived, VersionsRelocationAndDurations) {
    CutProject project = validProject();
    EXPECT_EQ(project.versionForBase(4), 4);
    project.options.paddingRight = 0.1;
    EXPECT_EQ(project.versionForBase(4), 8);
    EXPECT_FALSE(project.canRelocateSource());
    project.sourceSHA256 = kDigest;
    EXPECT_TRUE(project.canRelocateSource());
    project.sourceSHA256.reset();
    project.packagedSource = PackagedSource{"media/a.mp4", kDigest};
    EXPECT_TRUE(project.canRelocateSource());

    // Overlaps count once, kept ranges and parts past the duration not at all.
    project.cuts = {CutRegion(1, 3, true), CutRegion(2, 4, true), CutRegion(10, 20, false),
                    CutRegion(58, 70, true)};
    EXPECT_DOUBLE_EQ(project.removedDuration(), 5);
    EXPECT_DOUBLE_EQ(project.keptDuration(), 55);
    project.cuts = {CutRegion(0, 60, true)};
    EXPECT_DOUBLE_EQ(project.keptDuration(), 0);
}

TEST(CutProjectDerived, QuietRecordingHint) {
    CutProject project = validProject();
    EXPECT_FALSE(project.quietRecordingHint());
    project.effectiveThresholdDB = -41.3;
    EXPECT_EQ(project.quietRecordingHint(), "这段录音音量较轻，静音阈值已降至 \u221241.3 dB。");
    project.effectiveThresholdDB = -41.25;  // one decimal, rounded as printf does
    EXPECT_EQ(project.quietRecordingHint(), "这段录音音量较轻，静音阈值已降至 \u221241.2 dB。");
    project.effectiveThresholdDB = -35;
    EXPECT_FALSE(project.quietRecordingHint());
    project.effectiveThresholdDB = -41.3;
    project.options.mode = DetectionMode::adaptive;
    EXPECT_FALSE(project.quietRecordingHint());
}

void setModificationTime(const std::filesystem::path& path, double seconds) {
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = times[1].tv_nsec =
        static_cast<long>(std::llround((seconds - std::floor(seconds)) * 1e9));
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(CutProjectSource, SameFileWithinTolerance) {
    test::TempDir folder;
    auto path = folder / "talk.wav";
    test::writeFile(path, std::string(1000, 'x'));
    // A small time keeps 0.01 s representable: at today's epoch a double resolves only ~2e-7 s.
    setModificationTime(path, 1.0);
    CutProject project = validProject();
    project.source = path.string();
    project.sourceBytes = 1000;

    struct Case {
        double recorded;
        bool same;
    };
    for (auto c : {Case{1.0, true}, Case{1.009, true}, Case{0.991, true}, Case{1.01, false},
                   Case{0.99, false}, Case{kNaN, false}}) {
        project.modifiedAt = c.recorded;
        expectValidation([&] { project.validateSource(); },
                         c.same ? "" : "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。",
                         std::to_string(c.recorded));
    }
    project.modifiedAt = 1.0;
    project.sourceBytes = 999;
    expectValidation([&] { project.validateSource(); },
                     "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。", "size differs");

    // With a digest the controller may locate the file again.
    project.version = 4;
    project.sourceSHA256 = kDigest;
    try {
        project.validateSource();
        ADD_FAILURE() << "changed source accepted";
    } catch (const ChangedProjectSource& error) {
        EXPECT_EQ(error.path, path.string());
    }
}

TEST(CutProjectSource, MissingFileAndPathThroughAFile) {
    test::TempDir folder;
    test::writeFile(folder / "plain", "x");
    struct Case {
        std::filesystem::path path;
        bool digest;
    };
    for (const auto& c : {Case{folder / "gone.mp4", false}, Case{folder / "plain" / "talk.mp4", true}}) {
        CutProject project = validProject();
        project.source = c.path.string();
        if (c.digest) {
            project.version = 4;
            project.sourceSHA256 = kDigest;
        }
        try {
            project.validateSource();
            ADD_FAILURE() << "missing source accepted";
        } catch (const MissingProjectSource& error) {
            EXPECT_EQ(error.path, c.path.string());
            EXPECT_EQ(error.canRelocate, c.digest);
            EXPECT_FALSE(error.isPackage);
        }
    }
}

TEST(CutProjectSource, StructureIsCheckedFirstAndOtherErrorsAreChinese) {
    CutProject project = validProject();
    project.source = "relative.mp4";
    expectValidation([&] { project.validateSource(); }, kInvalid, "structure first");

    project = validProject();
    project.source = "/" + std::string(5000, 'a');  // ENAMETOOLONG
    // The name is shortened in the message: its beginning and its end.
    expectValidation([&] { project.validateSource(); },
                     "无法读取“" + std::string(60, 'a') + "…" + std::string(99, 'a') + "”：文件名太长。",
                     "other errno");
}

}  // namespace
}  // namespace talvian
