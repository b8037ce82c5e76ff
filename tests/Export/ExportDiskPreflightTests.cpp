#include "Export/ExportDiskPreflight.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "MediaTestSupport.h"
#include "Model/Localization.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using Location = DiskSpaceShortfall::Location;
using test::messageOf;
using test::TempDir;
using test::writeFile;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(ExportSpaceEstimate, FollowsTheExportsIntermediateFiles) {
    // 600 s stereo 48 kHz with 500 s kept: 384000 bytes of float PCM per second.
    EXPECT_EQ(ExportSpaceEstimate::make(600, 500, 48000, 2), (ExportSpaceEstimate{506'880'000, 737'280'000}));
    // The same as a 1920 × 1080, 30 fps video costed at 15,552,000 bit/s.
    EXPECT_EQ(ExportSpaceEstimate::make(600, 500, 48000, 2, 15'552'000.0),
              (ExportSpaceEstimate{506'880'000, 3'300'480'000}));
    // A plain copy needs no intermediate files, only the copy plus the margin.
    EXPECT_EQ(ExportSpaceEstimate::make(600, 600, 48000, 2, std::nullopt, 1000),
              (ExportSpaceEstimate{0, 1200}));
    EXPECT_EQ(ExportSpaceEstimate::make(600, 600, 48000, 2, 15'552'000.0, 1001),
              (ExportSpaceEstimate{0, 1202}));
    // Nothing removed is still an estimate; limits of rate and channels are inclusive.
    EXPECT_TRUE(ExportSpaceEstimate::make(1, 1, 1, 1));
    EXPECT_TRUE(ExportSpaceEstimate::make(1, 1, 768000, 64));
}

TEST(ExportSpaceEstimate, GivesNothingForFiguresItCannotTrust) {
    struct Case {
        const char* name;
        double source, kept;
        std::int64_t rate, channels;
        std::optional<double> bitrate;
        std::optional<std::int64_t> copy;
    };
    const Case cases[] = {
        {"zero source", 0, 0, 48000, 2, {}, {}},
        {"nothing kept", 10, 0, 48000, 2, {}, {}},
        {"negative kept", 10, -1, 48000, 2, {}, {}},
        {"kept longer than source", 10, 10.5, 48000, 2, {}, {}},
        {"source not a number", kNaN, 5, 48000, 2, {}, {}},
        {"kept infinite", kInfinity, kInfinity, 48000, 2, {}, {}},
        {"rate 0", 10, 5, 0, 2, {}, {}},
        {"rate 768001", 10, 5, 768001, 2, {}, {}},
        {"channels 0", 10, 5, 48000, 0, {}, {}},
        {"channels 65", 10, 5, 48000, 65, {}, {}},
        {"bit rate 0", 10, 5, 48000, 2, 0.0, {}},
        {"bit rate negative", 10, 5, 48000, 2, -1.0, {}},
        {"bit rate not a number", 10, 5, 48000, 2, kNaN, {}},
        {"bit rate infinite", 10, 5, 48000, 2, kInfinity, {}},
        {"empty copy", 10, 10, 48000, 2, {}, 0},
        {"negative copy", 10, 10, 48000, 2, {}, -5},
        {"copy beyond 2^63 after the margin", 10, 10, 48000, 2, {}, std::numeric_limits<std::int64_t>::max()},
        {"PCM beyond 2^63", 1e15, 1e15, 768000, 64, {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExportSpaceEstimate::make(c.source, c.kept, c.rate, c.channels, c.bitrate, c.copy),
                  std::nullopt)
            << c.name;
}

// A free-space reader over a table of paths; paths not in the table throw. Records the
// paths asked, in order.
struct FakeVolumes {
    std::map<std::filesystem::path, std::int64_t> free;
    std::vector<std::filesystem::path> asked;
    FreeSpaceReader reader() {
        return [this](const std::filesystem::path& path) -> std::int64_t {
            asked.push_back(path);
            auto found = free.find(path);
            if (found == free.end()) throw MediaError("unmeasurable");
            return found->second;
        };
    }
};

TEST(ExportDiskPreflight, ComparesTheTemporaryVolumeFirstThenTheOutputVolume) {
    const ExportSpaceEstimate estimate{1000, 5000};
    struct Case {
        const char* name;
        std::optional<std::int64_t> temporaryFree, outputFree;  // absent: the reader throws
        std::optional<DiskSpaceShortfall> expected;
        std::size_t volumesAsked;
    };
    const Case cases[] = {
        {"both fit", 1000, 5000, std::nullopt, 2},
        {"equal is enough", 1000, 5000, std::nullopt, 2},
        {"output short", 1000, 4999, DiskSpaceShortfall{Location::output, 1}, 2},
        {"temporary short", 10, 1'000'000, DiskSpaceShortfall{Location::temporary, 990}, 1},
        {"both short: temporary reported, output never asked", 0, 0,
         DiskSpaceShortfall{Location::temporary, 1000}, 1},
        {"temporary unmeasurable: output examined", std::nullopt, 100,
         DiskSpaceShortfall{Location::output, 4900}, 2},
        {"negative free space counts as unmeasurable", -1, -1, std::nullopt, 2},
        {"neither measurable", std::nullopt, std::nullopt, std::nullopt, 2},
    };
    for (const auto& c : cases) {
        FakeVolumes volumes;
        if (c.temporaryFree) volumes.free["/tmp"] = *c.temporaryFree;
        if (c.outputFree) volumes.free["/out"] = *c.outputFree;
        EXPECT_EQ(ExportDiskPreflight::check(estimate, "/tmp", "/out", volumes.reader()), c.expected)
            << c.name;
        EXPECT_EQ(volumes.asked.size(), c.volumesAsked) << c.name;
    }

    FakeVolumes volumes;
    EXPECT_EQ(ExportDiskPreflight::check(std::nullopt, "/tmp", "/out", volumes.reader()), std::nullopt);
    EXPECT_TRUE(volumes.asked.empty());
}

TEST(ExportDiskPreflight, RefusalTextsNameTheVolumeAndTheMissingSize) {
    EXPECT_EQ((DiskSpaceShortfall{Location::output, 506'880'000}).message(),
              "输出磁盘空间不足，还需 506.9 MB。请释放空间或更换输出位置后重试，当前剪辑已保留。");
    EXPECT_EQ((DiskSpaceShortfall{Location::temporary, 3'300'480'000}).message(),
              "临时磁盘空间不足，还需 3.3 GB。请释放空间后重试，当前剪辑已保留。");
    EXPECT_EQ((DiskSpaceShortfall{Location::output, 1}).message(),
              "输出磁盘空间不足，还需 1 字节。请释放空间或更换输出位置后重试，当前剪辑已保留。");
}

TEST(ExportDiskPreflight, ByteCountsUseDecimalUnitsWithFewDecimals) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 字节"},
        {999, "999 字节"},
        {1000, "1 KB"},
        {12'600, "13 KB"},
        {999'499, "999 KB"},
        {999'999, "1 MB"},  // rounds up into the next unit, never "1000 KB"
        {1'000'000, "1 MB"},
        {506'880'000, "506.9 MB"},
        {1'250'000'000, "1.25 GB"},
        {3'300'480'000, "3.3 GB"},
        {2'000'000'000'000, "2 TB"},
        {std::numeric_limits<std::int64_t>::max(), "9.22 EB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(byteCountText(bytes), text) << bytes;
}

TEST(ExportDiskPreflight, MeasuresAMissingFolderOnItsNearestExistingAncestor) {
    TempDir dir;
    EXPECT_EQ(ExportDiskPreflight::existingAncestor(dir / "a/b/c"), dir.path());
    EXPECT_EQ(ExportDiskPreflight::existingAncestor(dir.path()), dir.path());
    EXPECT_EQ(ExportDiskPreflight::existingAncestor(dir / "a/../b/./c"), dir.path());
    // A file in the way of the folder: the file itself exists and its volume is measured.
    writeFile(dir / "file", "x");
    EXPECT_EQ(ExportDiskPreflight::existingAncestor(dir / "file/sub"), dir / "file");
    EXPECT_EQ(ExportDiskPreflight::existingAncestor("/talvian-no-such-folder/a/b"), "/");
    // A relative path is taken from the working folder.
    EXPECT_EQ(ExportDiskPreflight::existingAncestor("talvian-no-such-folder/x"),
              std::filesystem::current_path());
}

TEST(ExportDiskPreflight, ReadsTheFreeSpaceOfTheRealVolume) {
    // Volumes that state no size at all (procfs, sysfs) cannot be measured: reading them
    // fails instead of reporting no room, so neither the check nor a failed write's
    // diagnosis takes them for a full disk.
    for (const char* unmeasurable : {"/proc/talvian-no-such-entry/x", "/proc/1/nope", "/sys/talvian"}) {
        SCOPED_TRACE(unmeasurable);
        EXPECT_EQ(messageOf([&] { ExportDiskPreflight::availableBytes(unmeasurable); }),
                  "无法读取磁盘的可用空间：磁盘没有报告容量。");
        EXPECT_FALSE(volumeNearlyFull(unmeasurable));
    }

    // A folder that does not exist yet reads as its existing parent's volume. Other
    // processes write meanwhile, so compare with what statvfs said just before.
    TempDir dir;
    struct statvfs facts {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &facts), 0);
    auto expected = static_cast<double>(facts.f_bavail) * static_cast<double>(facts.f_frsize);
    auto measured = static_cast<double>(ExportDiskPreflight::availableBytes(dir / "new/folder"));
    EXPECT_GT(measured, 0);
    EXPECT_NEAR(measured, expected, 256.0 * 1024 * 1024);
}

// A 600 s recording with 100 s removed (two overlapping pauses count once).
CutProject audioProject() {
    CutProject project;
    project.source = "/media/talk.m4a";
    project.info.duration = 600;
    project.info.hasAudio = true;
    project.info.audioTracks = 1;
    project.info.bytes = 9'600'000;
    project.cuts = {CutRegion(10, 60, true), CutRegion(50, 110, true), CutRegion(200, 300, false)};
    return project;
}

PreflightAudioReader stereo48k(std::vector<CancellationToken>* tokens = nullptr) {
    return [tokens](const std::filesystem::path&, const CancellationToken& token) {
        if (tokens) tokens->push_back(token);
        return PreflightAudioStream{48000, 2};
    };
}

TEST(ExportDiskPreflight, ProjectCheckMeasuresTheOutputFolderWhereTheWorkFilesAre) {
    auto token = makeCancellation();
    std::vector<CancellationToken> tokens;
    FakeVolumes volumes;
    volumes.free["/out/new"] = 737'279'999;
    // The temporary folder would be far too small, but nothing of the export goes there.
    volumes.free[std::filesystem::temp_directory_path()] = 0;
    EXPECT_EQ(ExportDiskPreflight::check(audioProject(), false, "/out/new", token, stereo48k(&tokens),
                                         volumes.reader()),
              (DiskSpaceShortfall{Location::output, 1}));
    EXPECT_EQ(volumes.asked, std::vector<std::filesystem::path>{"/out/new"});
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0], token);

    // The refusal the user reads for a realistic shortfall.
    volumes.free["/out/new"] = 500'000'000;
    auto shortfall =
        ExportDiskPreflight::check(audioProject(), false, "/out/new", token, stereo48k(), volumes.reader());
    ASSERT_TRUE(shortfall);
    EXPECT_EQ(shortfall->message(),
              "输出磁盘空间不足，还需 237.3 MB。请释放空间或更换输出位置后重试，当前剪辑已保留。");

    volumes.free["/out/new"] = 737'280'000;
    EXPECT_EQ(
        ExportDiskPreflight::check(audioProject(), false, "/out/new", token, stereo48k(), volumes.reader()),
        std::nullopt);
}

TEST(ExportDiskPreflight, ProjectCheckCostsPictureAndCopyLikeTheExport) {
    struct Case {
        const char* name;
        std::int64_t width, height;
        double frameRate;
        bool copies;
        std::int64_t expectedOutputBytes;
    };
    // bps = 384000; S = 600, K = 500.
    auto picture = [](double bitrate) {
        return static_cast<std::int64_t>(
            std::ceil(1.2 * (600 * 384000.0 + 3 * 500 * 384000.0 + 2 * 500 * bitrate / 8)));
    };
    const Case cases[] = {
        {"1080p30", 1920, 1080, 30, false, 3'300'480'000},
        {"tiny picture at the floor", 320, 240, 30, false, picture(1'000'000)},
        {"frame rate below 1 counts as 1", 7680, 4320, 0, false, picture(7680 * 4320 * 0.25)},
        {"huge picture at the ceiling", 7680, 4320, 60, false, picture(40'000'000)},
        {"copy of the source", 1920, 1080, 30, true, 11'520'000},
    };
    for (const auto& c : cases) {
        auto input = audioProject();
        input.info.hasVideo = true;
        input.info.width = c.width;
        input.info.height = c.height;
        input.info.frameRate = c.frameRate;
        if (c.copies) input.cuts.clear();
        FakeVolumes volumes;
        volumes.free["/out"] = c.expectedOutputBytes - 10;
        EXPECT_EQ(ExportDiskPreflight::check(input, c.copies, "/out", makeCancellation(), stereo48k(),
                                             volumes.reader()),
                  (DiskSpaceShortfall{Location::output, 10}))
            << c.name;
    }
}

TEST(ExportDiskPreflight, ProjectCheckLetsTheExportGoAheadWhenAFigureIsMissing) {
    FakeVolumes volumes;
    volumes.free["/out"] = 0;  // every real estimate would be short
    auto token = makeCancellation();
    auto unreadable = [](const std::filesystem::path&, const CancellationToken&) -> PreflightAudioStream {
        throw MediaError("无法读取音频的采样率或声道。");
    };
    EXPECT_EQ(ExportDiskPreflight::check(audioProject(), false, "/out", token, unreadable, volumes.reader()),
              std::nullopt);
    EXPECT_TRUE(volumes.asked.empty());

    struct Case {
        const char* name;
        void (*change)(CutProject&);
        PreflightAudioStream stream;
        bool copies = false;
    };
    const Case cases[] = {
        {"invalid channel count", [](CutProject&) {}, {48000, 0}},
        {"everything removed", [](CutProject& p) { p.cuts = {CutRegion(0, 600, true)}; }, {48000, 2}},
        {"removed beyond the duration",
         [](CutProject& p) { p.cuts = {CutRegion(-5, 700, true)}; },
         {48000, 2}},
        {"zero duration", [](CutProject& p) { p.info.duration = 0; }, {48000, 2}},
        {"copy of unknown size",
         [](CutProject& p) {
             p.cuts.clear();
             p.info.bytes = 0;
         },
         {48000, 2},
         true},
        {"frame rate not a number",
         [](CutProject& p) {
             p.info.hasVideo = true;
             p.info.frameRate = kNaN;
         },
         {48000, 2}},
    };
    for (const auto& c : cases) {
        auto input = audioProject();
        c.change(input);
        auto stream = c.stream;
        auto reader = [stream](const std::filesystem::path&, const CancellationToken&) { return stream; };
        EXPECT_EQ(ExportDiskPreflight::check(input, c.copies, "/out", token, reader, volumes.reader()),
                  std::nullopt)
            << c.name;
    }

    // An output volume that cannot be measured is no refusal either.
    EXPECT_EQ(ExportDiskPreflight::check(audioProject(), false, "/unmeasured", token, stereo48k(),
                                         volumes.reader()),
              std::nullopt);
}

}  // namespace
}  // namespace talvian

namespace talvian {
namespace {

TEST(ExportDiskPreflight, ControllerCheckReadsTheSourceAndFollowsTheCopyRule) {
    TempDir dir;
    test::makeMedia("-f lavfi -i sine=sample_rate=48000:d=1 -ac 2 -c:a aac", dir / "talk.m4a");
    CutProject project;
    project.source = (dir / "talk.m4a").string();
    // Claimed as a recording of some 30 years: its PCM fits no volume, its copy fits any.
    project.info = MediaInfo{1e9, 0, 0, false, true, 1, 1000, 30};
    project.cuts = {CutRegion(1, 2, false)};
    EXPECT_EQ(ExportDiskPreflight::check(project, dir.path(), AudioOutputFormat::m4a, makeCancellation()),
              std::nullopt);
    auto pcm = ExportDiskPreflight::check(project, dir.path(), AudioOutputFormat::wav, makeCancellation());
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->location, Location::output);
    EXPECT_GT(pcm->missingBytes, 1'000'000'000'000'000);  // 1e9 s × 384000 B/s × 3 × 1.2, less the free space

    project.cuts = {CutRegion(1, 2, true)};  // anything removed: rendered, never copied
    EXPECT_TRUE(ExportDiskPreflight::check(project, dir.path(), AudioOutputFormat::m4a, makeCancellation()));

    // A folder on a volume that states no size (procfs) is not judged, however much the
    // export needs: creating it fails on its own, with its own reason.
    EXPECT_EQ(ExportDiskPreflight::check(project, "/proc/1/nope", AudioOutputFormat::wav, makeCancellation()),
              std::nullopt);

    project.source = (dir / "gone.m4a").string();  // the stream cannot be read: no answer
    EXPECT_EQ(ExportDiskPreflight::check(project, dir.path(), AudioOutputFormat::wav, makeCancellation()),
              std::nullopt);
}

}  // namespace
}  // namespace talvian
