#include "Export/CutExport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <future>
#include <thread>

#include "ExportMedia.h"
#include "Media/LinkedMediaEntries.h"
#include "MediaTestSupport.h"
#include "Model/FileNaming.h"
#include "Process/MediaProbe.h"
#include "ProjectFixtures.h"
#include "TestSupport.h"
#include "UserTextSupport.h"

namespace talvian {
namespace {

using test::digestOf;
using test::entriesOf;
using test::hiddenEntries;
using test::makeMedia;
using test::messageOf;
using test::projectOf;
using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kCancelled = "任务已取消，原文件未改动。";
const std::string kDelivered = "导出完成";
const std::string kCopied = "未删除片段，已导出原始副本";
const std::string kAllRemoved = "全部内容都被标为删除了。请恢复至少一段内容后再导出。";
const std::string kChanged = "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。";
const std::string kMismatch = "项目时长或音视频信息与原片不一致。请重新分析。";

using Reports = std::vector<std::pair<double, std::string>>;

// The same for a file that is only copied, never probed.
CutProject copiedProjectOf(const std::filesystem::path& source) {
    auto metadata = SourceMetadata::read(source);
    CutProject project;
    project.source = source.string();
    project.sourceBytes = metadata.bytes;
    project.modifiedAt = metadata.modifiedAt;
    project.info = MediaInfo{10, 0, 0, false, true, 1, metadata.bytes, 30};
    project.cuts = {CutRegion(2, 3, false)};
    return project;
}

std::filesystem::path exportQuietly(const CutProject& project, const std::filesystem::path& folder,
                                    AudioOutputFormat format,
                                    const CancellationToken& token = makeCancellation(),
                                    Reports* reports = nullptr) {
    return VevazAvezud::exportCut(linkedMediaEntries(), project, folder, format, token,
                                  [&](double fraction, const std::string& step) {
                                      if (reports) reports->emplace_back(fraction, step);
                                  });
}

void makeSpeech(const std::filesystem::path& file, const std::string& codecArguments, int channels = 2,
                int rate = 48000) {
    makeMedia("-f lavfi -i sine=f=330:sample_rate=" + std::to_string(rate) + ":d=3 -ac " +
                  std::to_string(channels) + " " + codecArguments,
              file);
}

// ---- Delivery --------------------------------------------------------------------------

TEST(CutExport, UnreadableSourcesFailWithOneChineseSentenceAndLeaveNothing) {
    TempDir dir;
    const auto output = dir / "输出";
    std::filesystem::create_directory(output);
    for (const auto& source : test::makeUnreadableSources(dir.path())) {
        for (bool video : {false, true}) {
            SCOPED_TRACE(source.filename().string() + (video ? " as video" : " as sound"));
            const auto metadata = SourceMetadata::read(source);
            CutProject project;
            project.source = source.string();
            project.sourceBytes = metadata.bytes;
            project.modifiedAt = metadata.modifiedAt;
            project.info = MediaInfo{3, video ? 160 : 0, video ? 120 : 0, video, true, 1, metadata.bytes, 25};
            project.cuts = {CutRegion(1, 1.5, true)};
            // No child's report and no hidden work file: the user's own names at most.
            EXPECT_TRUE(test::isOneChineseSentence(
                messageOf([&] { exportQuietly(project, output, AudioOutputFormat::m4a); }),
                {source.filename().string(), output.filename().string()}));
            EXPECT_TRUE(entriesOf(output).empty());
        }
    }
}

TEST(CutExport, DeliversAVerifiedCutFileUnderTheFirstFreeName) {
    TempDir dir;
    struct Case {
        const char* source;
        const char* codecArguments;
        AudioOutputFormat format;
        const char* output;
        const char* codec;
        double tolerance;  // seconds
    };
    const double packet = 1024.0 / 48000;
    const Case cases[] = {
        {"讲座 one.m4a", "-c:a aac -b:a 96k", AudioOutputFormat::m4a, "讲座 one-粗剪.m4a", "aac", packet},
        {"talk.wav", "-c:a pcm_s16le", AudioOutputFormat::wav, "talk-粗剪.wav", "pcm_f32le", 0.0001},
        // An MP3's container duration is an estimate that runs some 25 ms past its sound.
        {"talk.mp3", "-c:a libmp3lame", AudioOutputFormat::m4a, "talk-粗剪.m4a", "aac", 0.03},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const auto source = dir / c.source;
        makeSpeech(source, c.codecArguments);
        const auto digest = digestOf(source);
        const auto out = dir / "out";
        auto project = projectOf(source, {CutRegion(0.5, 1.0, true), CutRegion(1.8, 2.1, true)});
        Reports reports;
        auto delivered = exportQuietly(project, out, c.format, makeCancellation(), &reports);
        EXPECT_EQ(delivered, out / c.output);
        EXPECT_EQ(hiddenEntries(out), std::vector<std::string>{});
        EXPECT_EQ(hiddenEntries(dir.path()), std::vector<std::string>{});
        EXPECT_EQ(test::audioStreamOf(delivered).value("codec_name", ""), c.codec);
        EXPECT_NEAR(test::durationOf(delivered), project.keptDuration(), c.tolerance);
        EXPECT_EQ(digestOf(source), digest) << "the source was written";
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), (std::pair<double, std::string>{1.0, kDelivered}));
        for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].first, reports[i - 1].first);
    }
}

TEST(CutExport, ATakenNameGivesTheNextCounterAndStaysUntouched) {
    TempDir dir;
    makeSpeech(dir / "talk.m4a", "-c:a aac");
    const auto out = dir / "a" / "b";  // created with its missing parents
    auto project = projectOf(dir / "talk.m4a", {CutRegion(1, 1.5, true)});
    EXPECT_EQ(exportQuietly(project, out, AudioOutputFormat::m4a), out / "talk-粗剪.m4a");
    writeFile(out / "talk-粗剪.m4a", "occupied");
    EXPECT_EQ(exportQuietly(project, out, AudioOutputFormat::m4a), out / "talk-粗剪-2.m4a");
    EXPECT_EQ(readFile(out / "talk-粗剪.m4a"), "occupied");
    EXPECT_EQ(entriesOf(out), (std::vector<std::string>{"talk-粗剪-2.m4a", "talk-粗剪.m4a"}));
}

TEST(CutExport, KeepsAtLeastATenthOfASecond) {
    TempDir dir;
    makeSpeech(dir / "talk.wav", "-c:a pcm_s16le");
    auto project = projectOf(dir / "talk.wav", {});
    const double duration = project.info.duration;
    project.cuts = {CutRegion(0, duration - 0.09, true)};
    EXPECT_EQ(messageOf([&] { exportQuietly(project, dir / "out", AudioOutputFormat::wav); }), kAllRemoved);
    project.cuts = {CutRegion(0, duration - 0.1, true)};
    auto delivered = exportQuietly(project, dir / "out", AudioOutputFormat::wav);
    EXPECT_NEAR(test::durationOf(delivered), 0.1, 0.001);
}

// ---- The copy shortcut -----------------------------------------------------------------

TEST(CutExport, NothingRemovedCopiesTheSourceUnchanged) {
    TempDir dir;
    makeMedia(
        "-f lavfi -i testsrc=size=96x64:rate=10:d=2 -f lavfi -i sine=d=2 -c:v libx264 -preset ultrafast "
        "-c:a aac -shortest",
        dir / "clip.MP4");
    makeSpeech(dir / "Voice.M4A", "-c:a aac");
    makeSpeech(dir / "memo.mp4", "-c:a aac");
    struct Case {
        const char* source;
        const char* output;
    };
    for (const Case& c : {Case{"clip.MP4", "clip-粗剪.mp4"}, Case{"Voice.M4A", "Voice-粗剪.m4a"},
                          Case{"memo.mp4", "memo-粗剪.m4a"}}) {
        SCOPED_TRACE(c.source);
        // A kept region marked for keeping is no removal.
        auto project = projectOf(dir / c.source, {CutRegion(0.5, 1, false)});
        ASSERT_TRUE(VevazAvezud::copiesOriginal(project, AudioOutputFormat::m4a));
        Reports reports;
        auto delivered =
            exportQuietly(project, dir / "out", AudioOutputFormat::m4a, makeCancellation(), &reports);
        EXPECT_EQ(delivered, dir / "out" / c.output);
        EXPECT_EQ(readFile(delivered), readFile(dir / c.source));
        EXPECT_EQ(reports, (Reports{{1.0, kCopied}}));
        EXPECT_EQ(hiddenEntries(dir / "out"), std::vector<std::string>{});
    }

    // WAV is always rendered; so is m4a once anything is removed, however short.
    auto project = projectOf(dir / "Voice.M4A", {});
    EXPECT_FALSE(VevazAvezud::copiesOriginal(project, AudioOutputFormat::wav));
    auto wav = exportQuietly(project, dir / "out", AudioOutputFormat::wav);
    EXPECT_EQ(test::audioStreamOf(wav).value("codec_name", ""), "pcm_f32le");
    project.cuts = {CutRegion(1, 1.02, true)};
    EXPECT_FALSE(VevazAvezud::copiesOriginal(project, AudioOutputFormat::m4a));
    auto rendered = exportQuietly(project, dir / "out", AudioOutputFormat::m4a);
    EXPECT_EQ(rendered, dir / "out" / "Voice-粗剪-2.m4a");
    EXPECT_NE(readFile(rendered), readFile(dir / "Voice.M4A"));

    // Other containers are never copied.
    project.source = (dir / "talk.wav").string();
    project.cuts = {};
    EXPECT_FALSE(VevazAvezud::copiesOriginal(project, AudioOutputFormat::m4a));
    project.source = (dir / "talk.m4a.bak").string();
    EXPECT_FALSE(VevazAvezud::copiesOriginal(project, AudioOutputFormat::m4a));
}

// Calls `action` once, as soon as a hidden work file with content appears in `folder`.
std::thread onWorkFile(const std::filesystem::path& folder, std::function<void()> action) {
    return std::thread([folder, action] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                if (entry.path().filename().string().rfind(".Talvian-", 0) == 0 &&
                    entry.file_size(error) > 0) {
                    action();
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
}

TEST(CutExport, AFailedCopyLeavesNothingUnderTheOutputName) {
    TempDir dir;
    writeFile(dir / "big.m4a", std::string(3 * 1024 * 1024, 'x'));
    const auto digest = digestOf(dir / "big.m4a");
    auto project = copiedProjectOf(dir / "big.m4a");
    // A file-size limit makes the second megabyte fail to write, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1024 * 1024 + 512;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    auto message = messageOf([&] { exportQuietly(project, dir / "out", AudioOutputFormat::m4a); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
    EXPECT_EQ(message, "无法写入“big-粗剪.m4a”：文件过大。");
    EXPECT_EQ(entriesOf(dir / "out"), std::vector<std::string>{});
    EXPECT_EQ(digestOf(dir / "big.m4a"), digest);
}

TEST(CutExport, ACancelledCopyStopsAtTheNextChunk) {
    TempDir dir;
    // A sparse gigabyte: read quickly, yet far more chunks than the copy gets through before
    // the watcher below sees its work file.
    std::filesystem::resize_file((writeFile(dir / "long.m4a", ""), dir / "long.m4a"), 1LL << 30);
    auto project = copiedProjectOf(dir / "long.m4a");
    std::filesystem::create_directory(dir / "out");
    auto token = makeCancellation();
    auto watcher = onWorkFile(dir / "out", [&] { token->cancel(); });
    auto message = messageOf([&] { exportQuietly(project, dir / "out", AudioOutputFormat::m4a, token); });
    watcher.join();
    EXPECT_EQ(message, kCancelled);
    EXPECT_EQ(entriesOf(dir / "out"), std::vector<std::string>{});
}

TEST(CutExport, ACopyOfASourceThatChangedMeanwhileIsNotDelivered) {
    TempDir dir;
    std::filesystem::resize_file((writeFile(dir / "long.m4a", ""), dir / "long.m4a"), 64LL << 20);
    auto project = copiedProjectOf(dir / "long.m4a");
    std::filesystem::create_directory(dir / "out");
    auto toucher = onWorkFile(dir / "out", [&] {
        std::filesystem::last_write_time(dir / "long.m4a", std::filesystem::file_time_type::clock::now());
    });
    auto message = messageOf([&] { exportQuietly(project, dir / "out", AudioOutputFormat::m4a); });
    toucher.join();
    EXPECT_EQ(message, "原始副本与原片不一致，未交付此结果。");
    EXPECT_EQ(entriesOf(dir / "out"), std::vector<std::string>{});
}

// ---- Refusals and failures -------------------------------------------------------------

TEST(CutExport, RefusalsComeBeforeAnythingIsWritten) {
    TempDir dir;
    makeSpeech(dir / "talk.m4a", "-c:a aac");
    makeMedia(
        "-f lavfi -i testsrc=size=96x64:rate=10:d=2 -f lavfi -i sine=d=2 -c:v libx264 -preset ultrafast "
        "-c:a aac -shortest",
        dir / "clip.mp4");
    auto audio = projectOf(dir / "talk.m4a", {CutRegion(1, 1.5, true)});
    auto video = projectOf(dir / "clip.mp4", {CutRegion(1, 1.5, true)});
    auto everything = audio;
    everything.cuts = {CutRegion(0, 1.2, true), CutRegion(1.2, audio.info.duration, true)};
    auto missing = audio;
    missing.source = (dir / "gone.m4a").string();
    auto changed = audio;
    changed.sourceBytes += 1;
    auto cancelled = makeCancellation();
    cancelled->cancel();
    auto withNul = audio;
    withNul.source = (dir / "talk.m4a").string() + std::string("\0.txt", 5);
    // A 30 s claim for a 57 s recording once dropped the end without a word.
    auto shorter = audio;
    shorter.info.duration -= 1.5;
    auto longer = audio;
    longer.info.duration += 0.03;
    auto pictured = audio;
    pictured.info.hasVideo = true;
    auto silentVideo = video;
    silentVideo.info.hasVideo = false;
    // The name of the review project's temporary file beside the output would not fit.
    const auto longName = dir / (std::string(NAME_MAX - 60, 'a') + ".m4a");
    makeSpeech(longName, "-c:a aac");
    auto longNamed = projectOf(longName, {CutRegion(1, 1.5, true)});
    struct Case {
        const char* name;
        CutProject project;
        AudioOutputFormat format;
        CancellationToken token;
        std::string message;
    };
    const Case cases[] = {
        {"NUL in the source", withNul, AudioOutputFormat::m4a, makeCancellation(), "项目文件格式无效。"},
        {"analysed shorter than the source", shorter, AudioOutputFormat::m4a, makeCancellation(), kMismatch},
        {"analysed longer than the source", longer, AudioOutputFormat::wav, makeCancellation(), kMismatch},
        {"analysed with a picture it has not", pictured, AudioOutputFormat::m4a, makeCancellation(),
         kMismatch},
        {"analysed without its picture", silentVideo, AudioOutputFormat::m4a, makeCancellation(), kMismatch},
        {"name too long", longNamed, AudioOutputFormat::m4a, makeCancellation(),
         "导出文件名过长或无效，请缩短原片的文件名或换一个输出文件夹。"},
        {"WAV of a video", video, AudioOutputFormat::wav, makeCancellation(),
         "WAV 导出仅用于纯音频素材；视频请使用 MP4 导出。"},
        {"everything removed", everything, AudioOutputFormat::m4a, makeCancellation(), kAllRemoved},
        {"source missing", missing, AudioOutputFormat::m4a, makeCancellation(),
         MissingProjectSource(missing.source).message()},
        {"source changed", changed, AudioOutputFormat::m4a, makeCancellation(),
         "源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。"},
        {"cancelled", audio, AudioOutputFormat::m4a, cancelled, kCancelled},
    };
    for (const auto& c : cases) {
        Reports reports;
        EXPECT_EQ(
            messageOf([&] { exportQuietly(c.project, dir / "out" / "new", c.format, c.token, &reports); }),
            c.message)
            << c.name;
        EXPECT_FALSE(std::filesystem::exists(dir / "out")) << c.name;
        EXPECT_EQ(reports, Reports{}) << c.name;
    }
    EXPECT_EQ(hiddenEntries(dir.path()), std::vector<std::string>{});

    // Within 20 ms the analysed duration is the source's.
    auto close = audio;
    close.info.duration += 0.015;
    EXPECT_EQ(exportQuietly(close, dir / "out", AudioOutputFormat::m4a), dir / "out" / "talk-粗剪.m4a");
}

TEST(CutExport, ANulInTheSourceNeverSpinsInTheSourcesOwnFolder) {
    TempDir dir;
    makeSpeech(dir / "talk.m4a", "-c:a aac");
    auto project = projectOf(dir / "talk.m4a", {CutRegion(1, 1.5, true)});
    // Every candidate name was cut at the NUL to the existing source itself.
    project.source = (dir / "talk.m4a").string() + std::string("\0-x", 3);
    auto token = makeCancellation();
    auto answer = std::async(std::launch::async, [&] {
        return messageOf([&] { exportQuietly(project, dir.path(), AudioOutputFormat::m4a, token); });
    });
    if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        token->cancel();
        ADD_FAILURE() << "the export did not end";
    }
    EXPECT_EQ(answer.get(), "项目文件格式无效。");
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"talk.m4a"});
}

TEST(CutExport, FailedOrCancelledExportsLeaveNoFileAndNoWorkFile) {
    TempDir dir;
    makeSpeech(dir / "talk.m4a", "-c:a aac");
    const auto digest = digestOf(dir / "talk.m4a");
    const auto out = dir / "out";
    auto project = projectOf(dir / "talk.m4a", {CutRegion(1, 1.5, true)});
    auto longer = project;  // analysed as longer than the sound it holds
    longer.info.duration += 1;

    struct Case {
        const char* name;
        const CutProject* project;
        std::function<void(const CancellationToken&, const std::string& step)> onProgress;
        std::string message;
    };
    const Case cases[] = {
        {"cancelled while joining", &project,
         [](const CancellationToken& token, const std::string& step) {
             if (step == "拼接保留片段") token->cancel();
         },
         kCancelled},
        {"cancelled while encoding", &project,
         [](const CancellationToken& token, const std::string& step) {
             if (step == "编码剪后音频") token->cancel();
         },
         kCancelled},
        {"cancelled at the check", &project,
         [](const CancellationToken& token, const std::string& step) {
             if (step == "检查导出音频") token->cancel();
         },
         kCancelled},
        {"sound shorter than analysed", &longer, {}, kMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(out);
        auto token = makeCancellation();
        auto message = messageOf([&] {
            VevazAvezud::exportCut(linkedMediaEntries(), *c.project, out, AudioOutputFormat::m4a, token,
                                   [&](double, const std::string& step) {
                                       if (c.onProgress) c.onProgress(token, step);
                                   });
        });
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(std::filesystem::exists(out) ? entriesOf(out) : std::vector<std::string>{},
                  std::vector<std::string>{});
        EXPECT_EQ(digestOf(dir / "talk.m4a"), digest);
    }
    EXPECT_EQ(hiddenEntries(dir.path()), std::vector<std::string>{});
}

// ---- A source that changes during the render -----------------------------------------------

// Sets the modification time of `file` to that of `model` moved by `nanoseconds`.
void setTimeFrom(const std::filesystem::path& file, const std::filesystem::path& model, long nanoseconds) {
    struct stat info {};
    ASSERT_EQ(::stat(model.c_str(), &info), 0);
    struct timespec time = info.st_mtim;
    time.tv_nsec += nanoseconds;
    if (time.tv_nsec >= 1'000'000'000) {
        time.tv_nsec -= 1'000'000'000;
        time.tv_sec += 1;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, time};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// Ways a source changes under a running render. Those that leave its content as it was still
// change its identity: the render cannot know which bytes it read.
struct SourceChange {
    const char* name;
    std::function<void(const std::filesystem::path& source)> apply;
    bool removesSource;  // the refusal is the missing-source error
};

const SourceChange kSourceChanges[] = {
    {"rewritten in place with the same bytes",
     [](const std::filesystem::path& source) {
         int fd = ::open(source.c_str(), O_RDWR | O_CLOEXEC);
         ASSERT_GE(fd, 0);
         char byte = 0;
         ASSERT_EQ(::pread(fd, &byte, 1, 100), 1);
         std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the clock's tick
         ASSERT_EQ(::pwrite(fd, &byte, 1, 100), 1);
         ::close(fd);
     },
     false},
    {"time moved by one nanosecond",
     [](const std::filesystem::path& source) { setTimeFrom(source, source, 1); }, false},
    {"grown",
     [](const std::filesystem::path& source) {
         std::filesystem::resize_file(source, std::filesystem::file_size(source) + 4096);
     },
     false},
    {"cut short",
     [](const std::filesystem::path& source) {
         std::filesystem::resize_file(source, std::filesystem::file_size(source) / 2);
     },
     false},
    {"renamed away",
     [](const std::filesystem::path& source) { std::filesystem::rename(source, source.string() + ".moved"); },
     true},
    {"replaced by an exact copy of the same time",
     [](const std::filesystem::path& source) {
         const auto twin = source.parent_path() / "twin";
         std::filesystem::copy_file(source, twin);
         setTimeFrom(twin, source, 0);
         std::filesystem::rename(twin, source);
     },
     false},
};

TEST(CutExport, ASourceChangedDuringTheAudioRenderIsNotDelivered) {
    TempDir dir;
    for (const auto& change : kSourceChanges) {
        SCOPED_TRACE(change.name);
        const auto folder = dir / change.name;
        std::filesystem::create_directory(folder);
        const auto source = folder / "talk.m4a";
        makeSpeech(source, "-c:a aac");
        auto project = projectOf(source, {CutRegion(1, 1.5, true)});
        // Once the decode is over, so that a decoder that loses its file cannot fail first.
        bool changed = false;
        auto message = messageOf([&] {
            VevazAvezud::exportCut(linkedMediaEntries(), project, folder / "out", AudioOutputFormat::m4a,
                                   makeCancellation(), [&](double, const std::string& step) {
                                       if (!changed && step == "拼接保留片段") {
                                           changed = true;
                                           change.apply(source);
                                       }
                                   });
        });
        EXPECT_TRUE(changed);
        EXPECT_EQ(message, change.removesSource ? MissingProjectSource(project.source).message() : kChanged);
        EXPECT_EQ(entriesOf(folder / "out"), std::vector<std::string>{});
    }
}

TEST(CutExport, ASourceChangedDuringTheVideoRenderIsNotDelivered) {
    TempDir dir;
    const std::string picture = "渲染剪后画面";
    for (const auto& change : kSourceChanges) {
        // The picture and the sound read the source at the same time, so only the changes that
        // keep its content leave both readers whole.
        const std::string name = change.name;
        if (name != "rewritten in place with the same bytes" && name != "time moved by one nanosecond" &&
            name != "replaced by an exact copy of the same time")
            continue;
        SCOPED_TRACE(name);
        const auto folder = dir / name;
        std::filesystem::create_directory(folder);
        const auto source = folder / "clip.mp4";
        makeMedia(
            "-f lavfi -i testsrc=size=96x64:rate=10:d=2 -f lavfi -i sine=d=2 -c:v libx264 -preset ultrafast "
            "-c:a aac -shortest",
            source);
        auto project = projectOf(source, {CutRegion(0.5, 1, true)});
        bool changed = false;
        auto message = messageOf([&] {
            VevazAvezud::exportCut(linkedMediaEntries(), project, folder / "out", AudioOutputFormat::m4a,
                                   makeCancellation(), [&](double, const std::string& step) {
                                       if (!changed && step == picture) {
                                           changed = true;
                                           change.apply(source);
                                       }
                                   });
        });
        EXPECT_TRUE(changed);
        EXPECT_EQ(message, kChanged);
        EXPECT_EQ(entriesOf(folder / "out"), std::vector<std::string>{});
    }
}

// ---- Two exports at once ---------------------------------------------------------------

TEST(CutExport, ANameTakenMeanwhileGivesTheResultTheNextFreeName) {
    TempDir dir;
    makeSpeech(dir / "talk.m4a", "-c:a aac");
    const auto out = dir / "out";
    auto project = projectOf(dir / "talk.m4a", {CutRegion(1, 1.5, true)});

    // A second export of the same project into the same folder finishes while the first one
    // checks its result: both chose "talk-粗剪.m4a" at their start.
    std::filesystem::path second;
    bool started = false;
    auto first = VevazAvezud::exportCut(linkedMediaEntries(), project, out, AudioOutputFormat::m4a,
                                        makeCancellation(), [&](double, const std::string& step) {
                                            if (!started && step == "检查导出音频") {
                                                started = true;
                                                second = exportQuietly(project, out, AudioOutputFormat::m4a);
                                            }
                                        });
    EXPECT_EQ(second, out / "talk-粗剪.m4a");
    EXPECT_EQ(first, out / "talk-粗剪-2.m4a");
    EXPECT_EQ(readFile(first), readFile(second));
    EXPECT_NEAR(test::durationOf(first), project.keptDuration(), 0.03);

    // A file of another kind that took the name is left as it was.
    std::filesystem::remove_all(out);
    started = false;
    first = VevazAvezud::exportCut(linkedMediaEntries(), project, out, AudioOutputFormat::m4a,
                                   makeCancellation(), [&](double, const std::string& step) {
                                       if (!started && step == "检查导出音频") {
                                           started = true;
                                           writeFile(out / "talk-粗剪.m4a", "taken");
                                       }
                                   });
    EXPECT_EQ(first, out / "talk-粗剪-2.m4a");
    EXPECT_EQ(readFile(out / "talk-粗剪.m4a"), "taken");
    EXPECT_EQ(entriesOf(out), (std::vector<std::string>{"talk-粗剪-2.m4a", "talk-粗剪.m4a"}));
}

}  // namespace
}  // namespace talvian
