#include "PauseAnalysis.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <regex>
#include <span>

#include "AdaptiveDetector.h"
#include "DetailWaveform.h"
#include "DetailWaveformAnswer.h"
#include "Model/CutMath.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Model/Uuid.h"
#include "PcmReader.h"
#include "Process/Dependencies.h"
#include "Process/MediaProbe.h"
#include "Process/Runner.h"
#include "QuietRecordingGuard.h"
#include "Support/FileSystem.h"
#include "Support/NumberText.h"

namespace talvian::VevazAvezud {

namespace {

constexpr std::size_t kWaveformReadBytes = 262144;
// Peaks at or below this count as silence when the overview is scaled.
constexpr double kWaveformScaleFloor = 0.0001;
// The main decode's own progress stops here; the last tenth is detection and the overview.
constexpr double kDecodeProgressLimit = 0.9;
// Versions of a new project (plus the right-padding offset when paddingRight is set).
constexpr std::int64_t kFixedVersion = CutProject::kBaseFixedPath;
constexpr std::int64_t kAdaptiveVersion = CutProject::kBaseAnyModePath;
// ffmpeg's name for its standard output as an output file.
constexpr std::string_view kStandardOutput = "pipe:1";

// How far before the point that matters the check of a video's sound starts reading: a seek
// lands near the time asked, not on it, and a few seconds of packets cost next to nothing.
constexpr double kSoundTailReadSeconds = 5.0;

// Chunks walked in a WAV header before giving up on finding its sound (a guard on garbage).
constexpr int kMaximumWavChunks = 64;
// Sizes a WAV writer leaves in the header while it records: the length is unknown.
constexpr std::uint32_t kUnknownWavSizes[] = {0, 0xFFFFFFFF};

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The length a WAV file's header states for its sound: the "data" chunk's size over the
// "fmt " chunk's byte rate. ffprobe measures a WAV by what the file holds, so a copy that
// stopped part-way shows only here. Absent for anything else, for RF64 and for the sizes of a
// recording in progress.
std::optional<double> wavStatedSeconds(const std::filesystem::path& file) {
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    auto readAt = [&](std::uint64_t offset, unsigned char* out, std::size_t size) {
        return ::pread(fd.get(), out, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    };
    unsigned char riff[12];
    if (!readAt(0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return std::nullopt;
    std::optional<std::uint32_t> byteRate;
    std::uint64_t offset = sizeof riff;
    for (int chunk = 0; chunk < kMaximumWavChunks; ++chunk) {
        unsigned char header[8];
        if (!readAt(offset, header, sizeof header)) return std::nullopt;
        const std::uint32_t size = littleEndian32(header + 4);
        if (std::memcmp(header, "fmt ", 4) == 0) {
            // Format tag, channels and sample rate come first, then the bytes per second.
            unsigned char format[12];
            if (!readAt(offset + sizeof header, format, sizeof format)) return std::nullopt;
            byteRate = littleEndian32(format + 8);
        } else if (std::memcmp(header, "data", 4) == 0) {
            if (!byteRate || *byteRate == 0 ||
                std::ranges::find(kUnknownWavSizes, size) != std::end(kUnknownWavSizes))
                return std::nullopt;
            return static_cast<double>(size) / *byteRate;
        }
        offset += sizeof header + size + (size & 1);  // chunks are padded to even sizes
    }
    return std::nullopt;
}

MediaError changedDuringAnalysis() {
    return MediaError(L("分析期间原素材发生了变化，本次结果已丢弃。请等文件保存完毕后重新分析。"));
}

MediaError incompleteSource() {
    return MediaError(L("素材文件不完整或已损坏，声音比文件标明的时长短，请换用完整的文件。"));
}

// A video's sound is padded to the picture's length by the decode itself, so its data is
// measured at the source, before any padding: the packets of its last seconds must reach the
// end the file states for the stream. A stream that states no end, or a file that cannot be
// sought, is not judged.
void requireWholeVideoSound(const std::filesystem::path& source, const AudioReach::StatedTiming& stated,
                            const CancellationToken& token) {
    if (!stated.startSeconds || !stated.durationSeconds) return;
    const double statedEnd = *stated.startSeconds + *stated.durationSeconds;
    const double from = std::max(statedEnd - kMissingSoundToleranceSeconds - kSoundTailReadSeconds, 0.0);
    std::optional<double> reached;
    try {
        reached = AudioReach::dataEndSeconds(source, from, token);
    } catch (const OperationCancelled&) {
        throw;
    } catch (const UserError&) {
        return;
    }
    // No packet from `from` on: the data ends before it.
    if (soundIsCutShort(reached.value_or(from), statedEnd)) throw incompleteSource();
}

}  // namespace

bool soundIsCutShort(double reachedSeconds, double statedSeconds) {
    return std::isfinite(reachedSeconds) && std::isfinite(statedSeconds) &&
           statedSeconds - reachedSeconds > kMissingSoundToleranceSeconds;
}

std::vector<std::string> decodeArguments(const std::filesystem::path& source, const MediaInfo& info,
                                         const CutOptions& options, double thresholdDB, int channels,
                                         const std::filesystem::path& output) {
    const bool adaptive = options.mode == DetectionMode::adaptive;
    const int rate = adaptive ? kAdaptiveSampleRate : kFixedSampleRate;
    std::vector<std::string> arguments{"-hide_banner", "-nostdin", "-y"};
    if (info.hasVideo) arguments.push_back("-copyts");
    arguments.insert(arguments.end(), {"-i", source.string(), "-map", "0:a:0", "-vn"});

    std::vector<std::string> chain;
    if (info.hasVideo) {
        // With -copyts the audio keeps the container's times: resample onto a timeline that
        // starts at 0 and pad or trim it to exactly the probed duration, so that pause times
        // and waveform bins are media times.
        chain.push_back("aresample=async=1:first_pts=0");
        chain.push_back("apad=whole_dur=" + shortestDecimal(info.duration));
        chain.push_back("atrim=duration=" + shortestDecimal(info.duration));
    }
    if (!adaptive)
        chain.push_back("silencedetect=noise=" + shortestDecimal(thresholdDB) +
                        "dB:d=" + shortestDecimal(options.minimumSilence));
    if (info.hasVideo) chain.push_back("aresample=" + std::to_string(rate));
    if (!chain.empty()) {
        std::string joined;
        for (const auto& filter : chain) joined += (joined.empty() ? "" : ",") + filter;
        arguments.insert(arguments.end(), {"-af", joined});
    }
    arguments.insert(arguments.end(), {"-ac", std::to_string(channels), "-ar", std::to_string(rate), "-c:a",
                                       "pcm_f32le", "-f", "f32le", output.string()});
    return arguments;
}

std::vector<std::string> guardedDecodeArguments(const std::filesystem::path& source, const MediaInfo& info,
                                                const CutOptions& options, int channels,
                                                const std::filesystem::path& output) {
    std::vector<std::string> arguments =
        decodeArguments(source, info, options, options.thresholdDB, channels, output);
    // The guard's output first: the decoded stream as it is, to standard output. ffmpeg would
    // flush a pipe after every packet of a few kilobytes; letting it fill its buffer first
    // halves the cost of moving gigabytes through the pipe and changes no byte.
    const auto input = std::find(arguments.begin(), arguments.end(), "-i");
    arguments.insert(input + 2, {"-map", "0:a:0", "-vn", "-c:a", "pcm_f32le", "-flush_packets", "0", "-f",
                                 "f32le", std::string(kStandardOutput)});
    return arguments;
}

std::string silencedetectReport(std::string_view standardError) {
    static const std::regex kReportLine(
        R"(\[silencedetect @ 0x[0-9a-fA-F]+\] silence_(start: [-+0-9.eE]+|end: [-+0-9.eE]+ \| silence_duration: [-+0-9.eE]+))");
    static constexpr std::string_view kPrefix = "[silencedetect @ ";
    std::string report;
    // ffmpeg ends its statistics line with a carriage return; a report line can follow it.
    std::size_t position = 0;
    while (position < standardError.size()) {
        std::size_t end = standardError.find_first_of("\r\n", position);
        if (end == std::string_view::npos) end = standardError.size();
        std::string_view line = standardError.substr(position, end - position);
        if (line.starts_with(kPrefix) && std::regex_match(line.begin(), line.end(), kReportLine)) {
            report += line;
            report += '\n';
        }
        position = end + 1;
    }
    return report;
}

std::vector<double> waveform(const std::filesystem::path& pcm, int bins, int channels,
                             const Cancellation& cancellation) {
    if (bins < 1) return {};
    if (channels < 1) throw MediaError(L("波形数据不完整，请重新分析。"));
    const auto frameBytes = static_cast<std::size_t>(channels) * 4;
    const auto binCount = static_cast<std::uint64_t>(bins);
    const std::uint64_t frames = std::max<std::uint64_t>(
        static_cast<std::uint64_t>(std::max<std::int64_t>(fileBytes(pcm), 0)) / frameBytes, 1);
    std::vector<double> peaks(static_cast<std::size_t>(bins), 0.0);

    PcmChunkReader reader(pcm, std::max(kWaveformReadBytes / frameBytes * frameBytes, frameBytes),
                          cancellation);
    std::uint64_t frame = 0;
    for (auto chunk = reader.next(); !chunk.empty(); chunk = reader.next()) {
        if (chunk.size() % frameBytes != 0) throw MediaError(L("波形数据不完整，请重新分析。"));
        for (std::size_t offset = 0; offset < chunk.size(); offset += frameBytes, ++frame) {
            auto bin = static_cast<std::size_t>(std::min(frame * binCount / frames, binCount - 1));
            double& peak = peaks[bin];
            for (std::size_t sample = 0; sample < frameBytes; sample += 4) {
                double value = std::fabs(pcmSample(chunk.data() + offset + sample));
                if (std::isfinite(value) && value > peak) peak = value;
            }
        }
    }

    double top = *std::max_element(peaks.begin(), peaks.end());
    double scale = top <= kWaveformScaleFloor ? kWaveformScaleFloor : top;
    for (double& value : peaks) value = std::min(std::sqrt(value / scale), 1.0);
    return peaks;
}

CutProject analyze(const std::filesystem::path& sourcePath, const CutOptions& options,
                   const CancellationToken& cancellation, const ProgressCallback& progress) {
    const CancellationToken token = cancellation ? cancellation : makeCancellation();
    auto report = [&](double fraction, const std::string& step) {
        if (progress) progress(fraction, step);
    };
    options.validate();
    report(0, L("正在读取媒体信息"));

    std::error_code pathError;
    const std::filesystem::path source = std::filesystem::absolute(sourcePath, pathError);
    if (pathError) throw fileError(L("读取"), sourcePath, pathError.value());
    // The identity is taken before anything reads the content and compared at the end: a
    // project must never pair the pauses of one version of the file with another's identity.
    const SourceMetadata before = readMetadata(source);

    // One probe answer gives the media facts, the sound's format and its stated timing.
    const nlohmann::json probed = MediaProbe::parse(Runner::probeOutput(source, token));
    const MediaInfo info = Runner::mediaInfoFromProbeAnswer(probed, fileBytes(source));
    if (!info.hasAudio) throw MediaError(L("此文件没有音轨，无法判断口播停顿。"));
    if (info.audioTracks != 1)
        throw MediaError(
            L("此文件包含多条音轨，暂无法分析，以免切掉其他音轨里的内容。"
              "请先在剪辑软件中导出包含所需声音的单条音轨副本，试听确认后再导入。"));
    if (info.bytes != before.bytes) throw changedDuringAnalysis();
    // The sound's format, judged on the same answer as "-select_streams a:0" would give.
    const nlohmann::json audioAnswer = MediaProbe::firstAudioAnswer(probed);
    const AudioStreamInfo stream = AudioStreamProbe::fromStream(MediaProbe::firstStream(audioAnswer));
    const bool adaptive = options.mode == DetectionMode::adaptive;
    const int channels = static_cast<int>(std::max<std::int64_t>(stream.channels, 2));
    const int rate = adaptive ? kAdaptiveSampleRate : kFixedSampleRate;
    const double duration = info.duration;
    // The length the file states for its sound, which its data must reach.
    const AudioReach::StatedTiming stated = AudioReach::statedTiming(audioAnswer);
    if (info.hasVideo) requireWholeVideoSound(source, stated, token);

    // The analysis's private folder, removed with its contents whatever the outcome.
    const WorkPath folder = makeTemporaryWorkFolder("TalvianAnalysis");
    const auto waveformPath = folder / "waveform.f32";

    const double expectedBytes = duration * rate * channels * 4;
    const std::string decodeStep = L("分析音量与停顿");
    // The decode's progress never goes back, not even when a quiet recording is decoded again.
    double decodeProgress = 0;
    auto decodeTick = [&] {
        decodeProgress = std::max(
            decodeProgress,
            std::min(static_cast<double>(fileBytes(waveformPath)) / expectedBytes, kDecodeProgressLimit));
        report(decodeProgress, decodeStep);
    };
    const auto decode = [&](const std::vector<std::string>& arguments,
                            const Runner::OutputCallback& onOutput = {}) {
        return Runner::runWriting(waveformPath, Dependencies::require("ffmpeg"), arguments, token,
                                  std::nullopt, {}, decodeTick, onOutput);
    };

    double threshold = options.thresholdDB;
    std::optional<double> effectiveThresholdDB;
    ProcessResult decoded;
    if (QuietRecordingGuard::applies(options)) {
        report(0, L("正在测量录音响度"));
        // The guard needs the whole recording's loudness before the threshold is known. One
        // decode serves both: its full-rate stream reaches the meter through a pipe (only the
        // window levels are kept, nothing goes to disk), while the main chain runs beside it at
        // the threshold the guard keeps for every recording that is not quiet.
        QuietRecordingGuard::LoudnessMeter meter(static_cast<int>(stream.sampleRate),
                                                 static_cast<int>(stream.channels));
        decoded = decode(guardedDecodeArguments(source, info, options, channels, waveformPath),
                         [&meter](std::span<const std::byte> bytes) { meter.add(bytes); });
        threshold = QuietRecordingGuard::effectiveThreshold(options, meter.referenceDB());
        effectiveThresholdDB = threshold;
        if (threshold != options.thresholdDB) {
            // A quiet recording: the main decode runs again at the lowered threshold.
            decoded = {};
            std::error_code ignored;
            std::filesystem::remove(waveformPath, ignored);
            decoded = decode(decodeArguments(source, info, options, threshold, channels, waveformPath));
        }
    } else {
        decoded = decode(decodeArguments(source, info, options, threshold, channels, waveformPath));
    }

    // An audio file's sound is decoded unpadded: what came out is what its data holds. A
    // video's is padded to the probed duration, so it falls short only when a write failed.
    {
        const auto frameBytes = static_cast<std::int64_t>(channels) * 4;
        const double decodedSeconds = static_cast<double>(fileBytes(waveformPath) / frameBytes) / rate;
        const double wholeSeconds =
            info.hasVideo ? duration
                          : wavStatedSeconds(source).value_or(stated.durationSeconds.value_or(duration));
        if (soundIsCutShort(decodedSeconds, wholeSeconds)) {
            // ffmpeg ends with status 0 when only the last writes of its output fail (it says so
            // in its log alone): on a volume that is full, the disk is to blame, not the source.
            if (volumeNearlyFull(waveformPath.parent_path()))
                throw MediaError(fileError(L("写入"), waveformPath, ENOSPC).message());
            if (!info.hasVideo) throw incompleteSource();
        }
    }

    CutProject project;
    if (adaptive) {
        auto detection = AdaptiveDetector::detect(AdaptiveDetector::levels(waveformPath, *token, channels),
                                                  duration, options);
        project.cuts = std::move(detection.cuts);
        project.diagnostics = std::move(detection.diagnostics);
    } else {
        // The minimum pause length was applied by the filter's "d=".
        project.cuts = CutMath::parseSilences(silencedetectReport(decoded.stderr), duration, options.padding,
                                              options.paddingRight);
    }
    decoded = {};
    if (project.cuts.size() > CutProject::kMaximumCuts)
        throw MediaError(L("检测到 %lld 处停顿，超过一个项目最多能保存的 9999 处。请加长最短停顿后重新分析。",
                           static_cast<long long>(project.cuts.size())));

    project.waveform = waveform(waveformPath, kWaveformBins, channels, *token);
    const SourceMetadata after = readMetadata(source);
    if (after.bytes != before.bytes || after.modifiedAt != before.modifiedAt) throw changedDuringAnalysis();
    report(1.0, L("分析完成"));

    project.source = source.string();
    project.sourceBytes = info.bytes;
    project.modifiedAt = after.modifiedAt;
    project.info = info;
    project.options = options;
    project.effectiveThresholdDB = effectiveThresholdDB;
    project.version = project.versionForBase(adaptive ? kAdaptiveVersion : kFixedVersion);
    // A zoom into the new project reads the stream's facts from this probe, not from another.
    try {
        DetailWaveform::rememberSourceAudio(project.source, project.sourceBytes, project.modifiedAt,
                                            DetailWaveform::sourceAudio(audioAnswer));
    } catch (const UserError&) {
        // The detail loader probes for itself and reports what it finds.
    }
    return project;
}

}  // namespace talvian::VevazAvezud
