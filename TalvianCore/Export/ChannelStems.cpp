#include "ChannelStems.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Process/Dependencies.h"
#include "Process/MediaProbe.h"
#include "Process/Runner.h"
#include "Support/FileSystem.h"
#include "Support/MediaFingerprint.h"
#include "Support/NumberText.h"
#include "Support/StrictJson.h"

namespace talvian::ChannelStems {

namespace {

// Progress fractions: first hash, split, second hash, stem verification, done.
constexpr double kFirstHashShare = 0.08;
constexpr double kSplitStart = 0.08;
constexpr double kSplitShare = 0.72;
constexpr double kSecondHashStart = 0.8;
constexpr double kSecondHashShare = 0.08;
constexpr double kVerifyStart = 0.88;
constexpr double kVerifyShare = 0.11;
constexpr double kBytesPerSample = 4;  // 32-bit float stems
constexpr mode_t kFolderMode = 0700;
constexpr int kManifestSchema = 1;

void report(const ProgressCallback& progress, double fraction, const std::string& step) {
    if (progress) progress(fraction, step);
}

std::string decimal(std::int64_t value) {
    return std::to_string(value);
}

// "[0:a:0]asplit=3[s0][s1][s2];[s0]pan=mono|c0=c0[o0];…": one pass writes every stem.
std::string splitGraph(std::int64_t channels) {
    std::string graph = "[0:a:0]asplit=" + decimal(channels);
    for (std::int64_t j = 0; j < channels; ++j) graph += "[s" + decimal(j) + "]";
    for (std::int64_t j = 0; j < channels; ++j)
        graph += ";[s" + decimal(j) + "]pan=mono|c0=c" + decimal(j) + "[o" + decimal(j) + "]";
    return graph;
}

std::string instructions() {
    return L(
        "各 WAV 对应已导出文件中的物理声道，长度相同，起点均为剪后文件的 0 秒。\n"
        "请保留原片。在剪辑软件中，把每个 WAV 放到独立音轨，所有音轨的起点都对齐到 0 "
        "秒；不要把它们首尾相接。\n"
        "剪映 11.6 测试中，“根据选中素材新建时间线”会将多个 WAV 串接，请检查并手动对齐。\n"
        "若与视频一起使用，请对齐视频起点，并先静音视频自带音频，避免声音重复。\n"
        "混合多个声道可能削波或相位抵消；请在目标软件中逐声道试听、调整音量并检查同步。\n"
        "32 位浮点混音可能超过 0 dBFS，即使文件尚未截断，播放或转为整数音频时仍可能削波。\n"
        "若混音峰值超标，请降低参与混音的音轨音量，重新导出并检查峰值；固定衰减值不能保证所有素材安全。\n"
        "这些文件不是原片的可编辑切点工程；目标软件导出时仍可能混音或丢失声音。");
}

// The stem's "duration_ts" after checking it is one channel at the input's rate.
std::int64_t verifiedFrames(const std::filesystem::path& stem, std::int64_t sampleRate,
                            const CancellationToken& token) {
    const auto stream = MediaProbe::firstStream(MediaProbe::runJson(
        ProbeQuery::firstAudio("stream=channels,sample_rate,time_base,duration_ts"), stem, token));
    if (!stream || stream->channels != 1 || stream->sampleRate != sampleRate ||
        stream->timeBase != "1/" + decimal(sampleRate) || !stream->durationTicks ||
        *stream->durationTicks < 1)
        throw MediaError(L("声道文件的时长或规格不一致，未完成交接。"));
    return *stream->durationTicks;
}

}  // namespace

std::string stemFileName(int channel) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "-%02d.wav", channel);
    return L("声道") + suffix;
}

std::filesystem::path exportStems(const std::filesystem::path& input,
                                  const std::filesystem::path& destination,
                                  const CancellationToken& cancellation, const ProgressCallback& progress) {
    const auto token = cancellation ? cancellation : makeCancellation();
    auto folder = destination.lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();  // a trailing "/"
    if (!input.is_absolute() || !folder.is_absolute() || folder == folder.root_path())
        throw MediaError(L("请选择本机文件和输出位置。"));
    const auto source = resolvedPath(input);

    const auto info = Runner::probe(source, token);
    if (info.audioTracks != 1) throw MediaError(L("分声道需要恰好一条音轨；多音轨文件请分别处理。"));
    const auto audio = AudioStreamProbe::read(source, token);
    if (audio.channels <= 2) throw MediaError(L("此文件不是多声道文件，无需分声道。"));
    const auto before = readMetadata(source);
    if (!before.isRegularFile) throw MediaError(L("无法读取导出文件。"));
    const auto sourceDigest = MediaFingerprint::sha256(source, *token, [&](double fraction) {
        report(progress, kFirstHashShare * fraction, L("核验已导出文件"));
    });
    token->check();

    if (::mkdir(folder.c_str(), kFolderMode) != 0)
        throw MediaError(L("无法新建声道文件夹；同名文件不会被覆盖。"));
    const auto marker = folder / (L("未完成") + ".txt");
    // The failure as the user reads it, with the underlying error's own sentence (a child's
    // words stay in the diagnostics).
    auto unfinished = [&](const std::exception_ptr& error) {
        std::string diagnostics;
        try {
            std::rethrow_exception(error);
        } catch (const UserError& inner) {
            diagnostics = inner.diagnostics();
        } catch (const std::exception& inner) {
            diagnostics = inner.what();
        } catch (...) {
        }
        return MediaError(L("声道文件未完成，原文件未改动。未完成文件保留在：%@\n%@",
                            pathForMessage(folder.string()), describeError(error)),
                          std::move(diagnostics));
    };
    try {
        writeNewFile(marker, L("此文件夹尚未完成，请勿用于交接。\n"));

        std::vector<std::filesystem::path> stems;
        std::vector<std::string> arguments{"-hide_banner",
                                           "-nostdin",
                                           "-n",
                                           "-i",
                                           source.string(),
                                           "-filter_complex",
                                           splitGraph(audio.channels)};
        for (std::int64_t j = 0; j < audio.channels; ++j) {
            stems.push_back(folder / stemFileName(static_cast<int>(j + 1)));
            for (const auto& argument :
                 {std::string("-map"), "[o" + decimal(j) + "]", std::string("-c:a"), std::string("pcm_f32le"),
                  std::string("-ar"), decimal(audio.sampleRate), std::string("-f"), std::string("wav"),
                  std::string("-rf64"), std::string("auto"), stems.back().string()})
                arguments.push_back(argument);
        }
        const double expectedBytes = std::max(
            info.duration * static_cast<double>(audio.sampleRate * audio.channels) * kBytesPerSample, 1.0);
        Runner::runWriting(
            stems.front(), Dependencies::require("ffmpeg"), arguments, token, std::nullopt, {}, [&] {
                double written = 0;
                for (const auto& stem : stems) written += static_cast<double>(fileBytes(stem));
                report(progress, kSplitStart + kSplitShare * std::min(written / expectedBytes, 1.0),
                       L("正在分离各声道"));
            });
        token->check();

        const auto after = readMetadata(source);
        const auto digestAfter = MediaFingerprint::sha256(source, *token, [&](double fraction) {
            report(progress, kSecondHashStart + kSecondHashShare * fraction, L("核对导出文件"));
        });
        if (after.bytes != before.bytes || after.modifiedAt != before.modifiedAt ||
            digestAfter != sourceDigest)
            throw MediaError(L("导出文件在分离期间发生变化，请重新导出后再试。"));

        auto files = nlohmann::json::array();
        std::optional<std::int64_t> firstFrames;
        for (std::size_t k = 0; k < stems.size(); ++k) {
            token->check();
            auto frames = verifiedFrames(stems[k], audio.sampleRate, token);
            if (firstFrames && frames != *firstFrames)
                throw MediaError(L("声道文件的时长或规格不一致，未完成交接。"));
            firstFrames = frames;
            auto entry = nlohmann::json::object();
            entry["physical_channel"] = static_cast<std::int64_t>(k + 1);
            entry["file"] = stems[k].filename().string();
            entry["frames"] = frames;
            entry["sha256"] = MediaFingerprint::sha256(stems[k], *token);
            files.push_back(std::move(entry));
            report(
                progress,
                kVerifyStart + kVerifyShare * static_cast<double>(k + 1) / static_cast<double>(stems.size()),
                L("核验声道文件"));
        }

        auto manifest = nlohmann::json::object();
        manifest["schema"] = kManifestSchema;
        manifest["source"] = source.string();
        manifest["source_sha256"] = sourceDigest;
        manifest["sample_rate"] = audio.sampleRate;
        manifest["physical_channels"] = audio.channels;
        manifest["files"] = std::move(files);
        writeNewFile(folder / (L("声道信息") + ".json"),
                     StrictJson::dump(manifest, StrictJson::Style::pretty));
        writeNewFile(folder / (L("使用说明") + ".txt"), instructions());
        token->check();

        if (::unlink(marker.c_str()) != 0) throw fileError(L("删除"), marker, errno);
    } catch (...) {
        throw unfinished(std::current_exception());
    }

    report(progress, 1.0, L("声道文件已完成"));
    return folder;
}

}  // namespace talvian::ChannelStems
