#include "Export/ChannelStems.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "HandoffFixtures.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"

namespace talvian {
namespace {

using test::makeMedia;
using test::messageOf;
using test::readFile;
using test::sha256sum;
using test::shell;
using test::shellQuote;
using test::TempDir;
using test::writeFile;

namespace fs = std::filesystem;

constexpr int kSampleRate = 48000;
constexpr int kSamples = 72000;  // 1.5 s

// Six channels that differ in level and pitch, so a swapped or mixed channel shows.
void makeSixChannels(const fs::path& file, const std::string& codec = "pcm_s16le") {
    makeMedia(
        "-f lavfi -i "
        "'aevalsrc=0.1*sin(2*PI*220*t)|0.2*sin(2*PI*330*t)|0.3*sin(2*PI*440*t)|0.4*sin(2*PI*550*t)|"
        "0.5*sin(2*PI*660*t)|0.6*sin(2*PI*770*t):s=48000:d=1.5' -c:a " +
            codec,
        file);
}

// Decoded samples as raw little-endian values of the given ffmpeg sample format.
template <class Sample>
std::vector<Sample> decoded(const fs::path& file, const std::string& format, const TempDir& dir) {
    auto raw = dir / ("decoded." + format);
    makeMedia("-i " + shellQuote(file.string()) + " -f " + format + " -c:a pcm_" + format, raw);
    auto bytes = readFile(raw);
    std::vector<Sample> samples(bytes.size() / sizeof(Sample));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(Sample));
    return samples;
}

struct Progress {
    std::vector<std::pair<double, std::string>> reports;
    ProgressCallback callback() {
        return [this](double fraction, const std::string& step) { reports.push_back({fraction, step}); };
    }
};

const std::string kMarker = "未完成.txt";
const std::string kInstructions =
    "各 WAV 对应已导出文件中的物理声道，长度相同，起点均为剪后文件的 0 秒。\n"
    "请保留原片。在剪辑软件中，把每个 WAV 放到独立音轨，所有音轨的起点都对齐到 0 秒；不要把它们首尾相接。\n"
    "剪映 11.6 测试中，“根据选中素材新建时间线”会将多个 WAV 串接，请检查并手动对齐。\n"
    "若与视频一起使用，请对齐视频起点，并先静音视频自带音频，避免声音重复。\n"
    "混合多个声道可能削波或相位抵消；请在目标软件中逐声道试听、调整音量并检查同步。\n"
    "32 位浮点混音可能超过 0 dBFS，即使文件尚未截断，播放或转为整数音频时仍可能削波。\n"
    "若混音峰值超标，请降低参与混音的音轨音量，重新导出并检查峰值；固定衰减值不能保证所有素材安全。\n"
    "这些文件不是原片的可编辑切点工程；目标软件导出时仍可能混音或丢失声音。";

TEST(ChannelStems, SplitsSixChannelsSampleExactWithManifestAndDigests) {
    TempDir dir;
    fs::create_directory(dir / "export");
    makeSixChannels(dir / "export" / "talk.wav");
    // The manifest names the file behind a link, not the link.
    fs::create_symlink(dir / "export" / "talk.wav", dir / "link.wav");
    const auto folder = dir / "talk 声道";
    Progress progress;

    // A folder chosen with a trailing "/" is the same folder.
    EXPECT_EQ(ChannelStems::exportStems(dir / "link.wav", folder.string() + "/", makeCancellation(),
                                        progress.callback()),
              folder);

    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_FALSE(fs::exists(folder / kMarker));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"使用说明.txt", "声道-01.wav", "声道-02.wav", "声道-03.wav",
                                        "声道-04.wav", "声道-05.wav", "声道-06.wav", "声道信息.json"}));
    EXPECT_EQ(readFile(folder / "使用说明.txt"), kInstructions);
    EXPECT_EQ(readFile(folder / "使用说明.txt").size(), 953u);

    // Every stem is its source channel, sample for sample.
    auto source = decoded<std::int16_t>(dir / "export" / "talk.wav", "s16le", dir);
    ASSERT_EQ(source.size(), static_cast<std::size_t>(kSamples) * 6);
    for (int channel = 0; channel < 6; ++channel) {
        SCOPED_TRACE(channel + 1);
        auto stem = decoded<float>(folder / ChannelStems::stemFileName(channel + 1), "f32le", dir);
        ASSERT_EQ(stem.size(), static_cast<std::size_t>(kSamples));
        std::size_t differing = 0;
        for (int i = 0; i < kSamples; ++i)
            if (stem[i] != static_cast<float>(source[i * 6 + channel]) / 32768.0f) ++differing;
        EXPECT_EQ(differing, 0u);
    }

    auto manifestText = readFile(folder / "声道信息.json");
    EXPECT_NE(manifestText.find("\\/"), std::string::npos);  // slashes written escaped
    auto manifest = nlohmann::json::parse(manifestText);
    EXPECT_EQ(manifest["schema"], 1);
    EXPECT_EQ(manifest["source"], (dir / "export" / "talk.wav").string());
    EXPECT_EQ(manifest["source_sha256"], sha256sum(dir / "export" / "talk.wav"));
    EXPECT_EQ(manifest["sample_rate"], kSampleRate);
    EXPECT_EQ(manifest["physical_channels"], 6);
    ASSERT_EQ(manifest["files"].size(), 6u);
    for (int k = 1; k <= 6; ++k) {
        const auto& file = manifest["files"][k - 1];
        EXPECT_EQ(file.size(), 4u);
        EXPECT_EQ(file["physical_channel"], k);
        EXPECT_EQ(file["file"], ChannelStems::stemFileName(k));
        EXPECT_EQ(file["frames"], kSamples);
        EXPECT_EQ(file["sha256"], sha256sum(folder / ChannelStems::stemFileName(k)));
    }

    ASSERT_FALSE(progress.reports.empty());
    EXPECT_EQ(progress.reports.back(), (std::pair<double, std::string>{1.0, "声道文件已完成"}));
    for (std::size_t i = 1; i < progress.reports.size(); ++i)
        EXPECT_GE(progress.reports[i].first, progress.reports[i - 1].first) << progress.reports[i].second;
}

TEST(ChannelStems, RefusesFilesThatNeedNoSplitBeforeWritingAnything) {
    TempDir dir;
    makeMedia("-f lavfi -i 'sine=frequency=440:sample_rate=48000:duration=0.5' -ac 2 -c:a pcm_s16le",
              dir / "stereo.wav");
    makeMedia(
        "-f lavfi -i 'sine=frequency=440:duration=0.5' -f lavfi -i 'sine=frequency=220:duration=0.5' "
        "-map 0 -map 1 -ac 3 -c:a pcm_s16le",
        dir / "two-tracks.mkv");
    struct Case {
        fs::path input;
        fs::path folder;
        std::string message;
    };
    for (const auto& c : std::vector<Case>{
             {dir / "stereo.wav", dir / "stems", "此文件不是多声道文件，无需分声道。"},
             {dir / "two-tracks.mkv", dir / "stems", "分声道需要恰好一条音轨；多音轨文件请分别处理。"},
             {"stereo.wav", dir / "stems", "请选择本机文件和输出位置。"},
             {dir / "stereo.wav", "stems", "请选择本机文件和输出位置。"},
             {dir / "stereo.wav", "/", "请选择本机文件和输出位置。"},
         }) {
        EXPECT_EQ(messageOf([&] { ChannelStems::exportStems(c.input, c.folder, makeCancellation()); }),
                  c.message)
            << c.input;
        EXPECT_FALSE(fs::exists(dir / "stems"));
    }
}

TEST(ChannelStems, NeverReusesAnExistingFolder) {
    TempDir dir;
    makeSixChannels(dir / "talk.wav");
    fs::create_directory(dir / "stems");
    writeFile(dir / "stems" / "声道-01.wav", "mine");
    EXPECT_EQ(
        messageOf([&] { ChannelStems::exportStems(dir / "talk.wav", dir / "stems", makeCancellation()); }),
        "无法新建声道文件夹；同名文件不会被覆盖。");
    EXPECT_EQ(readFile(dir / "stems" / "声道-01.wav"), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "stems"), {}), 1);
}

std::string unfinished(const fs::path& folder, const std::string& reason) {
    return "声道文件未完成，原文件未改动。未完成文件保留在：" + folder.string() + "\n" + reason;
}

TEST(ChannelStems, KeepsTheUnfinishedFolderWithItsMarkerOnFailure) {
    TempDir dir;
    makeSixChannels(dir / "talk.wav");
    const auto marker = "此文件夹尚未完成，请勿用于交接。\n";

    // Touched while being split (same bytes, new modification time).
    auto touched = dir / "touched";
    auto touch = [&](double, const std::string& step) {
        if (step == "正在分离各声道" || step == "核验已导出文件") {
            ASSERT_EQ(shell("touch -d '2001-02-03 04:05:06' " + shellQuote((dir / "talk.wav").string())), 0);
        }
    };
    EXPECT_EQ(
        messageOf([&] { ChannelStems::exportStems(dir / "talk.wav", touched, makeCancellation(), touch); }),
        unfinished(touched, "导出文件在分离期间发生变化，请重新导出后再试。"));
    EXPECT_EQ(readFile(touched / kMarker), marker);
    EXPECT_TRUE(fs::exists(touched / "声道-06.wav"));
    EXPECT_FALSE(fs::exists(touched / "声道信息.json"));

    // Cancelled once the folder exists.
    auto cancelledFolder = dir / "cancelled";
    auto token = makeCancellation();
    auto cancel = [&](double, const std::string& step) {
        if (step == "核对导出文件") token->cancel();
    };
    EXPECT_EQ(messageOf([&] { ChannelStems::exportStems(dir / "talk.wav", cancelledFolder, token, cancel); }),
              unfinished(cancelledFolder, "任务已取消，原文件未改动。"));
    EXPECT_EQ(readFile(cancelledFolder / kMarker), marker);
}

// ffmpeg runs with "-n": a stem name that appears in the folder before ffmpeg opens it is
// reported as a failure, never overwritten.
TEST(ChannelStems, NeverOverwritesAStemThatAppearsDuringTheSplit) {
    TempDir dir;
    makeSixChannels(dir / "talk.wav");
    const auto folder = dir / "stems";
    std::atomic<bool> placed{false}, stop{false};
    std::thread intruder([&] {
        // Waits for the marker, which is written just before ffmpeg starts.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop && std::chrono::steady_clock::now() < deadline) {
            if (fs::exists(folder / kMarker)) {
                auto path = folder / "声道-03.wav";
                int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                if (fd >= 0) {
                    placed = ::write(fd, "mine", 4) == 4;
                    ::close(fd);
                }
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    auto message =
        messageOf([&] { ChannelStems::exportStems(dir / "talk.wav", folder, makeCancellation()); });
    stop = true;
    intruder.join();
    if (!placed) GTEST_SKIP() << "ffmpeg created the stem before the test could";
    // ffmpeg's refusal to overwrite is its own business: the user reads one sentence.
    EXPECT_EQ(
        message,
        unfinished(folder,
                   "处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。"));
    EXPECT_EQ(readFile(folder / "声道-03.wav"), "mine");
    EXPECT_TRUE(fs::exists(folder / kMarker));
}

}  // namespace
}  // namespace talvian
