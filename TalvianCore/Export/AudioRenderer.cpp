#include "AudioRenderer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <nlohmann/json.hpp>

#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Model/Uuid.h"
#include "Process/Dependencies.h"
#include "Process/MediaProbe.h"
#include "Process/Runner.h"
#include "Support/FileSystem.h"
#include "Support/IntegerBounds.h"
#include "Support/NumberText.h"

namespace talvian {

// The PCM files are little-endian floats read and written as host floats.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr double kTwoToThe63 = 9223372036854775808.0;
// Progress shares of the three stages: decode up to 0.35, join up to 0.5, encode up to 0.95.
constexpr double kDecodeShare = 0.35;
constexpr double kJoinStart = 0.35;
constexpr double kJoinShare = 0.15;
constexpr double kEncodeStart = 0.5;
constexpr double kEncodeShare = 0.45;
constexpr double kVerifyFraction = 0.95;

MediaError channelCountError() {
    return MediaError(L(
        "导出音频的声道数或采样率与预期不符，未交付结果。纯音频可改用 WAV；视频可先在剪辑软件中处理声道。"));
}

MediaError channelLayoutError() {
    return MediaError(
        L("导出音频的声道布局与原素材不一致，未交付结果。纯音频可改用 WAV；视频可先在剪辑软件中处理声道。"));
}

std::string integerText(std::int64_t value) {
    return std::to_string(value);
}

std::int64_t aacBitRate(std::int64_t channels) {
    return std::max(channels * AudioRenderer::kAacBitRatePerChannel, AudioRenderer::kMinimumAacBitRate);
}

bool usesAac(const RenderStreamFormat& format, AudioOutputFormat output) {
    return output == AudioOutputFormat::m4a && format.channels <= 2;
}

// Bytes per second of the encoded result (progress only).
double encodedBytesPerSecond(const RenderStreamFormat& format, AudioOutputFormat output) {
    if (usesAac(format, output)) return static_cast<double>(aacBitRate(format.channels)) / 8;
    return static_cast<double>(format.sampleRate * format.frameBytes());
}

class Reporter {
  public:
    explicit Reporter(const ProgressCallback& progress) : progress_(progress) {}
    void operator()(double fraction, const std::string& step) const {
        if (progress_) progress_(fraction, step);
    }

  private:
    const ProgressCallback& progress_;
};

RenderStreamFormat probeSource(const std::filesystem::path& source, const CancellationToken& cancellation) {
    return AudioRenderer::streamFormatFromProbeOutput(MediaProbe::run(
        ProbeQuery::firstAudio("stream=sample_rate,channels,channel_layout"), source, cancellation));
}

// Multiplies every sample of the frames [first, first + count) of a range of n frames by
// the fade-in gain j / F where j < F and by the fade-out gain (n − j) / F where j ≥ n − F;
// where the ramps overlap (n < 2F) both apply. Gains are single floats computed in double.
void applyFades(float* samples, std::int64_t first, std::int64_t count, std::int64_t n, std::int64_t fade,
                std::int64_t channels) {
    auto scale = [&](std::int64_t j, double gain) {
        float g = static_cast<float>(gain);
        float* frame = samples + (j - first) * channels;
        for (std::int64_t c = 0; c < channels; ++c) frame[c] *= g;
    };
    const std::int64_t end = first + count;
    for (std::int64_t j = first; j < std::min(fade, end); ++j)
        scale(j, static_cast<double>(j) / static_cast<double>(fade));
    for (std::int64_t j = std::max(n - fade, first); j < end; ++j)
        scale(j, static_cast<double>(n - j) / static_cast<double>(fade));
}

void readExactly(int fd, char* buffer, std::size_t bytes, std::int64_t offset) {
    std::size_t filled = 0;
    while (filled < bytes) {
        ssize_t n = ::pread(fd, buffer + filled, bytes - filled, static_cast<off_t>(offset + filled));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw MediaError(L("读取音频临时文件失败，未交付此结果。"));
        filled += static_cast<std::size_t>(n);
    }
}

struct JoinFacts {
    double keptSeconds = 0;
    const RenderStreamFormat& format;
};

// Writes the kept frames of `decoded` one range after the other into `joined`, fades applied.
void join(const std::filesystem::path& decoded, const std::filesystem::path& joined,
          const std::vector<CutRegion>& kept, const JoinFacts& facts, const CancellationToken& cancellation,
          const Reporter& report) {
    const auto& format = facts.format;
    const std::int64_t rate = format.sampleRate;
    const std::int64_t frameBytes = format.frameBytes();

    std::int64_t decodedBytes = 0;
    try {
        decodedBytes = SourceMetadata::read(decoded).bytes;
    } catch (const std::system_error&) {
    }
    if (decodedBytes <= 0 || decodedBytes % frameBytes != 0)
        throw MediaError(L("音频解码结果不完整，未交付此结果。"));
    const std::int64_t decodedFrames = decodedBytes / frameBytes;

    UniqueFd reader(::open(decoded.c_str(), O_RDONLY | O_CLOEXEC));
    if (!reader) throw fileError(L("读取"), decoded, errno);
    UniqueFd writer(::open(joined.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!writer) throw MediaError(L("无法创建音频临时文件，请检查输出位置。"));

    const std::int64_t chunkLimit = AudioRenderer::kChunkBytes / frameBytes;
    std::vector<float> chunk(static_cast<std::size_t>(chunkLimit * format.channels));
    const double joinTotal = std::max(facts.keptSeconds * static_cast<double>(rate), 1.0);
    std::int64_t written = 0;
    const std::string step = L("拼接保留片段");

    for (const auto& range : kept) {
        cancellation->check();
        const double startFrame = std::round(range.start * static_cast<double>(rate));
        const auto first = checkedInteger<std::int64_t>(startFrame);
        const auto last = checkedInteger<std::int64_t>(std::round(range.end * static_cast<double>(rate)));
        if (!last || (!first && !(startFrame < 0))) throw MediaError(L("剪辑范围超出可处理的音频长度。"));
        // A start before the audio cannot be a range of this recording.
        if (!first || *first < 0) throw MediaError(L("原片音频长度与剪辑范围不符，请重新分析素材。"));
        const std::int64_t s = *first;
        std::int64_t e = *last;
        // A tenth of a second of slack past the decoded end: containers and decoders disagree
        // that much about where a recording ends.
        if (!(s < decodedFrames && e <= decodedFrames + rate / 10))
            throw MediaError(L("原片音频长度与剪辑范围不符，请重新分析素材。"));
        e = std::min(e, decodedFrames);
        const std::int64_t n = e - s;
        if (n <= 0) continue;
        const std::int64_t fade = AudioRenderer::fadeFrames(range.end - range.start, rate);

        for (std::int64_t j = 0; j < n;) {
            cancellation->check();
            const std::int64_t frames = std::min(chunkLimit, n - j);
            const auto bytes = static_cast<std::size_t>(frames * frameBytes);
            readExactly(reader.get(), reinterpret_cast<char*>(chunk.data()), bytes, (s + j) * frameBytes);
            if (j < fade || j + frames > n - fade)
                applyFades(chunk.data(), j, frames, n, fade, format.channels);
            if (int code = writeAll(writer.get(),
                                    std::string_view(reinterpret_cast<const char*>(chunk.data()), bytes));
                code != 0)
                throw fileError(L("写入"), joined, code);
            j += frames;
            written += frames;
            report(kJoinStart + std::min(static_cast<double>(written) * kJoinShare / joinTotal, kJoinShare),
                   step);
        }
    }
    if (int code = writer.reset(); code != 0) throw fileError(L("写入"), joined, code);
    cancellation->check();
}

void verify(const std::filesystem::path& destination, const RenderStreamFormat& source,
            AudioOutputFormat output, const CancellationToken& cancellation) {
    auto result = AudioStreamProbe::read(destination, cancellation);
    const bool aac = usesAac(source, output);
    const std::int64_t expectedRate = aac ? AudioRenderer::kAacSampleRate : source.sampleRate;
    if (result.channels != source.channels || result.sampleRate != expectedRate) throw channelCountError();
    if (source.channels < 3 || !source.layoutKnown()) return;

    const auto stream = MediaProbe::firstStream(
        MediaProbe::runJson(ProbeQuery::firstAudio("stream=channel_layout"), destination, cancellation));
    // An answer that names no layout cannot confirm it either: the result is not delivered.
    if ((stream ? stream->channelLayout : std::nullopt) != source.channelLayout) throw channelLayoutError();
}

}  // namespace

bool RenderStreamFormat::layoutKnown() const {
    return channelLayout && !channelLayout->empty() && *channelLayout != "unknown";
}

namespace AudioRenderer {

RenderStreamFormat streamFormatFromProbeOutput(std::string_view text) {
    const auto stream = MediaProbe::firstStream(MediaProbe::parse(text));
    try {
        const auto format = AudioStreamProbe::fromStream(stream);
        return RenderStreamFormat{format.sampleRate, format.channels, stream->channelLayout};
    } catch (const MediaError&) {
        throw MediaError(L("无法读取音频采样率或声道信息。"));
    }
}

std::vector<std::string> decodeArguments(const std::filesystem::path& source,
                                         const std::filesystem::path& decoded, std::int64_t sampleRate,
                                         std::optional<double> presentationDuration) {
    std::vector<std::string> arguments{"-hide_banner", "-nostdin", "-y"};
    if (presentationDuration) arguments.push_back("-copyts");
    arguments.insert(arguments.end(), {"-i", source.string(), "-map", "0:a:0", "-vn"});
    if (presentationDuration) {
        // On the source's own timeline from time 0, padded with silence or cut to exactly D.
        auto d = shortestDecimal(*presentationDuration);
        arguments.insert(arguments.end(),
                         {"-af", "aresample=" + integerText(sampleRate) +
                                     ":async=1:first_pts=0,apad=whole_dur=" + d + ",atrim=duration=" + d});
    }
    arguments.insert(arguments.end(), {"-c:a", "pcm_f32le", "-f", "f32le", decoded.string()});
    return arguments;
}

std::vector<std::string> encodeArguments(const RenderStreamFormat& format,
                                         const std::filesystem::path& joined,
                                         const std::filesystem::path& destination, AudioOutputFormat output) {
    const auto rate = integerText(format.sampleRate);
    std::vector<std::string> arguments{
        "-hide_banner", "-nostdin", "-y", "-f", "f32le", "-ar", rate, "-ac", integerText(format.channels)};
    if (format.layoutKnown()) arguments.insert(arguments.end(), {"-channel_layout", *format.channelLayout});
    arguments.insert(arguments.end(), {"-i", joined.string(), "-map", "0:a:0"});
    if (output == AudioOutputFormat::wav) {
        // RF64 takes over only when the data outgrows the 4 GiB of a plain RIFF header.
        arguments.insert(arguments.end(), {"-c:a", "pcm_f32le", "-ar", rate, "-f", "wav", "-rf64", "auto"});
    } else if (usesAac(format, output)) {
        arguments.insert(arguments.end(), {"-c:a", "aac", "-b:a", integerText(aacBitRate(format.channels)),
                                           "-ar", integerText(kAacSampleRate), "-movflags", "+faststart"});
    } else {
        // AAC in MP4 carries no more than two channels reliably; ALAC keeps every channel.
        arguments.insert(arguments.end(), {"-c:a", "alac", "-ar", rate, "-movflags", "+faststart"});
    }
    arguments.push_back(destination.string());
    return arguments;
}

std::int64_t fadeFrames(double rangeSeconds, std::int64_t sampleRate) {
    double seconds = std::min(kMaximumFadeShare * rangeSeconds, kMaximumFadeSeconds);
    double frames = std::max(seconds, 0.0) * static_cast<double>(sampleRate);
    return std::max<std::int64_t>(std::llround(frames), 1);
}

void render(const std::filesystem::path& source, const std::vector<CutRegion>& kept,
            const std::filesystem::path& destination, AudioOutputFormat output,
            const CancellationToken& cancellation, const ProgressCallback& progress,
            std::optional<double> presentationDuration) {
    const Reporter report(progress);
    const auto format = probeSource(source, cancellation);

    auto work = makeWorkFolder(destination.parent_path() / (".TalvianAudio-" + Uuid::random().string()));
    const auto decoded = work.path() / "source.f32";
    const auto joined = work.path() / "joined.f32";

    double keptSeconds = 0;
    for (const auto& range : kept) keptSeconds += std::max(0.0, range.end - range.start);
    const double lastEnd = kept.empty() ? 0 : kept.back().end;
    auto ffmpeg = Dependencies::require("ffmpeg");

    if (presentationDuration && !(std::isfinite(*presentationDuration) && *presentationDuration > 0))
        throw MediaError(L("视频时间轴无效。"));

    const double decodeTotal =
        std::max(lastEnd * static_cast<double>(format.sampleRate * format.frameBytes()), 1.0);
    const std::string decodeStep = L("解码原始音频");
    Runner::runWriting(decoded, ffmpeg,
                       decodeArguments(source, decoded, format.sampleRate, presentationDuration),
                       cancellation, std::nullopt, {}, [&] {
                           double bytes = static_cast<double>(fileBytes(decoded));
                           report(std::min(bytes * kDecodeShare / decodeTotal, kDecodeShare), decodeStep);
                       });

    join(decoded, joined, kept, JoinFacts{keptSeconds, format}, cancellation, report);

    const double encodeTotal = std::max(keptSeconds * encodedBytesPerSecond(format, output), 1.0);
    const std::string encodeStep = output == AudioOutputFormat::wav ? L("写入 WAV 音频") : L("编码剪后音频");
    Runner::runWriting(destination, ffmpeg, encodeArguments(format, joined, destination, output),
                       cancellation, std::nullopt, {}, [&] {
                           double bytes = static_cast<double>(fileBytes(destination));
                           report(kEncodeStart + std::min(bytes * kEncodeShare / encodeTotal, kEncodeShare),
                                  encodeStep);
                       });

    report(kVerifyFraction, L("检查导出音频"));
    cancellation->check();
    try {
        verify(destination, format, output, cancellation);
    } catch (const ProcessFailure& failure) {
        // ffmpeg may end with success after a write failed on a full disk; what it left then
        // does not read back, and the reason is the disk.
        if (auto full = Runner::fullDiskError(destination, failure)) throw *full;
        throw;
    }
}

}  // namespace AudioRenderer
}  // namespace talvian
