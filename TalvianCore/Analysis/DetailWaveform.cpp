#include "DetailWaveform.h"
#include "DetailWaveformAnswer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>

#include "Model/Localization.h"
#include "Process/Dependencies.h"
#include "Process/MediaProbe.h"
#include "Support/FileSystem.h"
#include "Support/IntegerBounds.h"
#include "Support/NumberText.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

static_assert(std::endian::native == std::endian::little,
              "the decoded samples are read as little-endian floats");

constexpr std::int64_t kMaxChannels = 64;
constexpr std::int64_t kBytesPerSample = 4;

void check(const CancellationToken& cancellation) {
    if (cancellation) cancellation->check();
}

// ffprobe prints times with six decimals ("-0.021333"); read them as whole microseconds.
std::optional<std::int64_t> microseconds(const std::string& text) {
    const auto point = text.find('.');
    if (point == std::string::npos || text.size() - point - 1 != 6) return std::nullopt;
    const bool negative = !text.empty() && text[0] == '-';
    const auto whole =
        parseInteger(std::string_view(text).substr(negative ? 1 : 0, point - (negative ? 1 : 0)));
    const auto fraction = parseInteger(std::string_view(text).substr(point + 1));
    if (!whole || !fraction || *whole < 0 || *fraction < 0 || *whole > INT64_MAX / 1000000 - 1)
        return std::nullopt;
    const std::int64_t value = *whole * 1000000 + *fraction;
    return negative ? -value : value;
}

// Seconds → a sample position at 4000 Hz, rounded half away from zero.
std::optional<std::int64_t> samplePosition(double seconds) {
    return checkedInteger<std::int64_t>(
        std::round(seconds * static_cast<double>(DetailWaveform::kSampleRate)));
}

// The length apad gives "whole_dur=<text>" at 4000 Hz: ffmpeg reads the duration to whole
// microseconds (further digits dropped) and rounds the samples to the nearest.
std::optional<std::int64_t> paddedFrames(const std::string& durationText) {
    const auto point = durationText.find('.');
    const auto whole = parseInteger(std::string_view(durationText).substr(0, point));
    constexpr std::int64_t kMicroFrames = 1000000 * DetailWaveform::kSampleRate;
    if (!whole || *whole < 0 || *whole > INT64_MAX / kMicroFrames - 1) return std::nullopt;
    std::int64_t fraction = 0;
    if (point != std::string::npos) {
        const std::string digits = (durationText.substr(point + 1) + "000000").substr(0, 6);
        const auto parsed = parseInteger(digits);
        if (!parsed || *parsed < 0 ||
            durationText.find_first_not_of("0123456789", point + 1) != std::string::npos)
            return std::nullopt;
        fraction = *parsed;
    }
    return ((*whole * 1000000 + fraction) * DetailWaveform::kSampleRate + 500000) / 1000000;
}

std::string trimFilter(std::int64_t first, std::int64_t last) {
    return "atrim=start_sample=" + std::to_string(first) + ":end_sample=" + std::to_string(last);
}

std::string microsecondText(std::int64_t value) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, "%06lld", static_cast<long long>(value % 1000000));
    return std::to_string(value / 1000000) + "." + fraction;
}

// Where a seeking decode starts. Without a seek ffmpeg decodes (and resamples) everything
// before the window, so the cost grows with the window's position. Measured on 60-minute
// sources, median time from a zoom until the detail is shown, windows at the start, in the
// middle and at the end: decoding from the start, WAV 760 / 3057 / 4195 ms and M4A
// 760 / 3448 / 6644 ms; with the input seek, WAV 458 / 446 / 432 ms and M4A 381 / 383 / 420 ms.
// The seek cuts at `cutSeconds` of the time line the sample positions count on, a whole
// second at least one second before the window, so that decoders and the resampler have
// settled before the first sample that counts, and a whole second is a whole sample at
// 4000 Hz and at every source rate, which keeps the resampler's phase. Windows that start
// within 2 s keep the plain lines, probe included; elsewhere the probe asks what decides the
// seek, and a source where the cut cannot land exactly keeps the plain decode line.
struct Seek {
    std::int64_t inputMicroseconds;  // the "-ss" value (ffmpeg adds the container's start)
    std::int64_t originSeconds;      // the time line position of the first decoded sample
};

constexpr std::int64_t kSeekMarginSeconds = 1;

// The whole second the seek cuts at, when it is at least 1 s.
std::optional<std::int64_t> cutSecondsFor(std::int64_t firstSample) {
    const std::int64_t cutSeconds = firstSample / DetailWaveform::kSampleRate - kSeekMarginSeconds;
    if (cutSeconds < 1) return std::nullopt;  // the start window reads from the start anyway
    return cutSeconds;
}

std::optional<Seek> seekFor(const CutProject& project, const DetailWaveform::SourceAudio& audio,
                            std::int64_t firstSample) {
    // ffmpeg's accurate seek cuts where the timestamps say; that is the sample the decode from
    // the start counts to only when timestamps count whole samples and where both start.
    if (!audio.sampleRate || !audio.wholeSampleTimestamps) return std::nullopt;
    const auto cut = cutSecondsFor(firstSample);
    if (!cut) return std::nullopt;
    const std::int64_t cutSeconds = *cut;
    std::int64_t cutMicroseconds = 0;
    if (__builtin_mul_overflow(cutSeconds, 1000000, &cutMicroseconds)) return std::nullopt;
    if (!project.info.hasVideo) {
        // Positions count decoded samples from the track's first one: the cut must be measured
        // from that same sample (WAV states neither start: both are 0).
        if (audio.trackStartMicroseconds != audio.containerStartMicroseconds) return std::nullopt;
        return Seek{cutMicroseconds, cutSeconds};
    }
    // With a picture, positions are container times (-copyts): the resampler fills from time 0
    // to the first sound. It does so exactly only for a sound starting at 0 or more than its
    // 1 ms threshold later (2 ms here: the start is printed rounded). The seeking decode
    // starts its time line a second before the cut, so that the resampler always fills the gap
    // to the first sample and lands on the same sample grid.
    constexpr std::int64_t kFillThresholdMicroseconds = 2000;
    if (!audio.trackStartMicroseconds) return std::nullopt;
    const std::int64_t trackStart = *audio.trackStartMicroseconds;
    if (trackStart < 0 || (trackStart > 0 && trackStart <= kFillThresholdMicroseconds)) return std::nullopt;
    std::int64_t input = 0;
    if (__builtin_sub_overflow(cutMicroseconds, audio.containerStartMicroseconds.value_or(0), &input) ||
        input <= 0)
        return std::nullopt;
    return Seek{input, cutSeconds - 1};
}

}  // namespace

bool DetailWaveform::maySeek(std::int64_t firstSample) {
    return cutSecondsFor(firstSample).has_value();
}

ProbeQuery DetailWaveform::probeQuery() {
    ProbeQuery query =
        ProbeQuery::firstAudio("stream=channels,sample_rate,time_base,start_time:format=start_time");
    query.timeLimitSeconds = kProbeTimeLimitSeconds;
    return query;
}

DetailWaveform::SourceAudio DetailWaveform::probeAudio(const CutProject& project,
                                                       const CancellationToken& cancellation) {
    return sourceAudio(MediaProbe::runJson(probeQuery(), project.source, cancellation));
}

namespace {

// A few sources at most are open in one session; the oldest facts make way.
constexpr std::size_t kRememberedSources = 16;

struct RememberedSource {
    std::string source;
    std::int64_t bytes = 0;
    double modifiedAt = 0;
    DetailWaveform::SourceAudio audio;

    bool isOf(const std::string& path, std::int64_t size, double modified) const {
        return source == path && bytes == size && modifiedAt == modified;
    }
};

struct SourceMemory {
    std::mutex lock;
    std::deque<RememberedSource> sources;  // the latest first
};

SourceMemory& sourceMemory() {
    static SourceMemory memory;
    return memory;
}

}  // namespace

void DetailWaveform::rememberSourceAudio(const std::string& source, std::int64_t bytes, double modifiedAt,
                                         const SourceAudio& audio) {
    auto& memory = sourceMemory();
    std::lock_guard guard(memory.lock);
    std::erase_if(memory.sources,
                  [&](const RememberedSource& entry) { return entry.isOf(source, bytes, modifiedAt); });
    memory.sources.push_front(RememberedSource{source, bytes, modifiedAt, audio});
    if (memory.sources.size() > kRememberedSources) memory.sources.pop_back();
}

std::optional<DetailWaveform::SourceAudio> DetailWaveform::rememberedSourceAudio(const CutProject& project) {
    auto& memory = sourceMemory();
    std::lock_guard guard(memory.lock);
    for (const auto& entry : memory.sources)
        if (entry.isOf(project.source, project.sourceBytes, project.modifiedAt)) return entry.audio;
    return std::nullopt;
}

DetailWaveform::SourceAudio DetailWaveform::sourceAudio(const nlohmann::json& answer) {
    // An answer that is not JSON is as unusable as one without a channel count.
    const auto first = MediaProbe::firstStream(answer);
    if (!first || !first->channels || *first->channels < 1 || *first->channels > kMaxChannels)
        throw MediaError(L("无法读取局部波形的音轨。"));
    SourceAudio audio;
    audio.channels = *first->channels;

    // The rest only decides whether the decode may seek; anything odd means it does not.
    if (first->sampleRate && *first->sampleRate > 0) audio.sampleRate = first->sampleRate;
    if (first->timeBase && audio.sampleRate) {
        const std::string_view text = *first->timeBase;
        const auto slash = text.find('/');
        const auto numerator = parseInteger(text.substr(0, slash));
        const auto denominator =
            slash == std::string_view::npos ? std::nullopt : parseInteger(text.substr(slash + 1));
        std::int64_t tick = 0;
        audio.wholeSampleTimestamps = numerator && denominator && *numerator > 0 && *denominator > 0 &&
                                      !__builtin_mul_overflow(*numerator, *audio.sampleRate, &tick) &&
                                      *denominator % tick == 0;
    }
    // A start that is not stated counts as 0 for ffmpeg too; one that is stated but cannot be
    // read leaves the samples' places unknown.
    const auto readStart = [&audio](const std::optional<std::string>& stated) -> std::optional<std::int64_t> {
        if (!stated) return std::nullopt;
        const auto value = microseconds(*stated);
        if (!value) audio.wholeSampleTimestamps = false;
        return value;
    };
    audio.trackStartMicroseconds = readStart(first->startTime);
    if (const auto format = answer.find("format"); format != answer.end() && format->is_object()) {
        const auto start = format->find("start_time");
        // A start of another form than ffprobe's text is as unreadable as a malformed text.
        if (start != format->end())
            audio.containerStartMicroseconds = readStart(start->is_string() ? start->get<std::string>() : "");
    }
    return audio;
}

std::vector<std::string> DetailWaveform::decodeArguments(const CutProject& project, const SourceAudio& audio,
                                                         std::int64_t firstSample, std::int64_t endSample,
                                                         const fs::path& output) {
    const bool hasPicture = project.info.hasVideo;
    const std::string rate = std::to_string(kSampleRate);
    const std::string durationText = shortestDecimal(project.info.duration);
    std::optional<Seek> seek = seekFor(project, audio, firstSample);
    // The seeking decode's first sample is `origin` on the time line; the trim and, with a
    // picture, the padding to the whole duration count from there.
    std::int64_t origin = 0, firstPts = 0, padded = 0;
    if (seek) {
        const auto whole = paddedFrames(durationText);
        if (__builtin_mul_overflow(seek->originSeconds, kSampleRate, &origin) ||
            __builtin_mul_overflow(seek->originSeconds, *audio.sampleRate, &firstPts) ||
            (hasPicture && (!whole || *whole - origin <= 0)))
            seek.reset();
        else if (hasPicture)
            padded = *whole - origin;
    }

    std::string filter;
    if (!seek) {
        // With a picture, the analysis kept the container's timestamps (-copyts); the sound is
        // placed on that same time line and padded to the whole duration so sample positions match.
        filter = hasPicture ? "aresample=" + rate + ":async=1:first_pts=0,apad=whole_dur=" + durationText +
                                  "," + trimFilter(firstSample, endSample)
                            : "aresample=" + rate + "," + trimFilter(firstSample, endSample);
    } else {
        // first_pts counts samples at the source's rate.
        filter = hasPicture
                     ? "aresample=" + rate + ":async=1:first_pts=" + std::to_string(firstPts) +
                           ",apad=whole_len=" + std::to_string(padded) + "," +
                           trimFilter(firstSample - origin, endSample - origin)
                     : "aresample=" + rate + "," + trimFilter(firstSample - origin, endSample - origin);
    }
    std::vector<std::string> arguments{"-v", "error", "-nostdin", "-y"};
    if (seek) arguments.insert(arguments.end(), {"-ss", microsecondText(seek->inputMicroseconds)});
    if (hasPicture) arguments.push_back("-copyts");
    arguments.insert(arguments.end(), {"-i", project.source, "-map", "0:a:0", "-vn", "-af", filter, "-c:a",
                                       "pcm_f32le", "-f", "f32le", output.string()});
    return arguments;
}

namespace {

// Reads up to `size` bytes, fewer only at the end of the file.
std::size_t readFull(int fd, char* buffer, std::size_t size, const fs::path& path) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t n = ::read(fd, buffer + total, size - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw fileError(L("读取"), path, errno);
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    return total;
}

}  // namespace

std::vector<double> DetailWaveform::peaks(const fs::path& samples, std::int64_t expectedFrames,
                                          std::int64_t channels, const CancellationToken& cancellation) {
    const std::int64_t frameBytes = channels * kBytesPerSample;
    std::error_code sizeError;
    const auto bytes = fs::file_size(samples, sizeError);
    if (sizeError) throw fileError(L("读取"), samples, sizeError.value());
    if (bytes < 1 || bytes % static_cast<std::uint64_t>(frameBytes) != 0)
        throw MediaError(L("局部波形未读取完整。"));
    const auto frames = static_cast<std::int64_t>(bytes / static_cast<std::uint64_t>(frameBytes));
    if (expectedFrames - frames < 0 || expectedFrames - frames > kToleratedShortfallFrames)
        throw MediaError(L("局部波形长度与素材不符。"));

    const UniqueFd file(::open(samples.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) throw fileError(L("读取"), samples, errno);
    std::vector<double> buckets(kBuckets, 0.0);
    const std::size_t chunkBytes =
        static_cast<std::size_t>(frameBytes) * (kReadChunkBytes / static_cast<std::size_t>(frameBytes));
    std::vector<char> chunk(chunkBytes);
    std::int64_t frameIndex = 0;
    for (;;) {
        const std::size_t got = readFull(file.get(), chunk.data(), chunkBytes, samples);
        if (got == 0) break;
        check(cancellation);
        if (got % static_cast<std::size_t>(frameBytes) != 0) throw MediaError(L("局部波形数据不完整。"));
        const auto chunkFrames = static_cast<std::int64_t>(got) / frameBytes;
        for (std::int64_t i = 0; i < chunkFrames; ++i) {
            const std::int64_t global = frameIndex + i;
            // The bucket comes from the expected count, so a short decode leaves the last
            // buckets empty instead of stretching the peaks.
            const auto bucket = static_cast<std::size_t>(
                std::min<std::int64_t>(global * static_cast<std::int64_t>(kBuckets) / expectedFrames,
                                       static_cast<std::int64_t>(kBuckets) - 1));
            const char* frame = chunk.data() + i * frameBytes;
            for (std::int64_t c = 0; c < channels; ++c) {
                float sample;
                std::memcpy(&sample, frame + c * kBytesPerSample, sizeof sample);
                if (!std::isfinite(sample)) continue;
                buckets[bucket] = std::max(buckets[bucket], static_cast<double>(std::fabs(sample)));
            }
        }
        frameIndex += chunkFrames;
    }
    check(cancellation);

    const double loudest = *std::max_element(buckets.begin(), buckets.end());
    const double divisor = loudest <= kSilenceFloor ? kSilenceFloor : loudest;
    for (double& value : buckets) value = std::min(std::sqrt(value / divisor), 1.0);
    return buckets;
}

WaveformSlice DetailWaveform::load(const CutProject& project, const WaveformWindow& window,
                                   const CancellationToken& cancellation,
                                   const Runner::LaunchCallback& onDecodeLaunch) {
    check(cancellation);
    const double length = window.end - window.start;
    if (!std::isfinite(window.start) || !std::isfinite(window.end) || window.start < 0 ||
        !(window.end <= project.info.duration + kEndTolerance) || !(length > 0) || length > kLongestWindow)
        throw MediaError(L("局部波形范围无效。"));
    project.validateSource();
    const auto first = samplePosition(window.start);
    const auto last = samplePosition(window.end);
    // A source without usable sound is still reported before positions that cannot be represented.
    const SourceAudio audio = [&] {
        if (auto known = rememberedSourceAudio(project)) return *known;
        SourceAudio probed = probeAudio(project, cancellation);
        rememberSourceAudio(project.source, project.sourceBytes, project.modifiedAt, probed);
        return probed;
    }();
    if (!first || !last) throw MediaError(L("局部波形时间超出可处理范围。"));
    if (*first >= *last) throw MediaError(L("局部波形范围过短。"));

    // The private folder of one load; removed with its contents whatever the outcome.
    const WorkPath folder = makeTemporaryWorkFolder("TalvianWaveform");
    const fs::path output = folder.path() / "detail.f32";
    Runner::runWriting(output, Dependencies::require("ffmpeg"),
                       decodeArguments(project, audio, *first, *last, output), cancellation,
                       kDecodeTimeLimitSeconds, onDecodeLaunch);
    return WaveformSlice{window, peaks(output, *last - *first, audio.channels, cancellation), audio.channels,
                         kSampleRate};
}

}  // namespace talvian
