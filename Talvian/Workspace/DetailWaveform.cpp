#include "DetailWaveform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "Model/FileSystem.h"
#include "Model/Localization.h"
#include "Model/NumberText.h"
#include "Process/Dependencies.h"

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

// The private folder of one load; removed with its contents whatever the outcome.
class WorkFolder {
  public:
    WorkFolder() {
        std::error_code error;
        const fs::path base = fs::temp_directory_path(error);
        if (error) throw fileError(L("创建"), "TalvianWaveform", error.value());
        path_ = base / ("TalvianWaveform-" + Uuid::random().string());
        if (::mkdir(path_.c_str(), 0700) != 0) throw fileError(L("创建"), path_, errno);
    }
    ~WorkFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

std::int64_t probeChannels(const CutProject& project, const CancellationToken& cancellation) {
    const ProcessResult result = Runner::run(Dependencies::require("ffprobe"),
                                             {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                              "stream=channels", "-of", "json", project.source},
                                             cancellation, DetailWaveform::kProbeTimeLimitSeconds);
    const MediaError unusable(L("无法读取局部波形的音轨。"));
    // An answer that is not JSON is as unusable as one without a channel count; its English
    // parser text is of no use to anyone.
    const auto answer = nlohmann::json::parse(result.stdout, nullptr, false);
    if (!answer.is_object()) throw unusable;
    const auto streams = answer.find("streams");
    if (streams == answer.end() || !streams->is_array() || streams->empty()) throw unusable;
    const auto& first = streams->front();
    if (!first.is_object()) throw unusable;
    const auto channels = first.find("channels");
    if (channels == first.end() || !channels->is_number_integer()) throw unusable;
    if (channels->is_number_unsigned()) {
        const auto value = channels->get<std::uint64_t>();
        if (value < 1 || value > static_cast<std::uint64_t>(kMaxChannels)) throw unusable;
        return static_cast<std::int64_t>(value);
    }
    const auto value = channels->get<std::int64_t>();
    if (value < 1 || value > kMaxChannels) throw unusable;
    return value;
}

// Seconds → a sample position at 4000 Hz, rounded half away from zero.
std::optional<std::int64_t> samplePosition(double seconds) {
    const double value = std::round(seconds * static_cast<double>(DetailWaveform::kSampleRate));
    // 2^63 is exactly representable; everything below it converts without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(value) || value < -kLimit || value >= kLimit) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

std::vector<std::string> decodeArguments(const CutProject& project, std::int64_t first, std::int64_t last,
                                         const fs::path& output) {
    const bool hasPicture = project.info.hasVideo;
    const std::string trim =
        "atrim=start_sample=" + std::to_string(first) + ":end_sample=" + std::to_string(last);
    const std::string rate = std::to_string(DetailWaveform::kSampleRate);
    // With a picture, the analysis kept the container's timestamps (-copyts); the sound is
    // placed on that same time line and padded to the whole duration so sample positions match.
    const std::string filter = hasPicture ? "aresample=" + rate + ":async=1:first_pts=0,apad=whole_dur=" +
                                                shortestDecimal(project.info.duration) + "," + trim
                                          : "aresample=" + rate + "," + trim;
    std::vector<std::string> arguments{"-v", "error", "-nostdin", "-y"};
    if (hasPicture) arguments.push_back("-copyts");
    arguments.insert(arguments.end(), {"-i", project.source, "-map", "0:a:0", "-vn", "-af", filter, "-c:a",
                                       "pcm_f32le", "-f", "f32le", output.string()});
    return arguments;
}

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

WaveformSlice DetailWaveform::load(const CutProject& project, const WaveformWindow& window,
                                   const CancellationToken& cancellation,
                                   const Runner::LaunchCallback& onDecodeLaunch) {
    check(cancellation);
    const double length = window.end - window.start;
    if (!std::isfinite(window.start) || !std::isfinite(window.end) || window.start < 0 ||
        !(window.end <= project.info.duration + kEndTolerance) || !(length > 0) || length > kLongestWindow)
        throw MediaError(L("局部波形范围无效。"));
    project.validateSource();
    const std::int64_t channels = probeChannels(project, cancellation);

    const auto first = samplePosition(window.start);
    const auto last = samplePosition(window.end);
    if (!first || !last) throw MediaError(L("局部波形时间超出可处理范围。"));
    if (*first >= *last) throw MediaError(L("局部波形范围过短。"));
    const std::int64_t expected = *last - *first;

    const WorkFolder folder;
    const fs::path output = folder.path() / "detail.f32";
    Runner::run(Dependencies::require("ffmpeg"), decodeArguments(project, *first, *last, output),
                cancellation, kDecodeTimeLimitSeconds, onDecodeLaunch);

    const std::int64_t frameBytes = channels * kBytesPerSample;
    std::error_code sizeError;
    const auto bytes = fs::file_size(output, sizeError);
    if (sizeError) throw fileError(L("读取"), output, sizeError.value());
    if (bytes < 1 || bytes % static_cast<std::uint64_t>(frameBytes) != 0)
        throw MediaError(L("局部波形未读取完整。"));
    const auto frames = static_cast<std::int64_t>(bytes / static_cast<std::uint64_t>(frameBytes));
    if (expected - frames < 0 || expected - frames > kToleratedShortfallFrames)
        throw MediaError(L("局部波形长度与素材不符。"));

    const UniqueFd file(::open(output.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) throw fileError(L("读取"), output, errno);
    std::vector<double> buckets(kBuckets, 0.0);
    const std::size_t chunkBytes =
        static_cast<std::size_t>(frameBytes) * (kReadChunkBytes / static_cast<std::size_t>(frameBytes));
    std::vector<char> chunk(chunkBytes);
    std::int64_t frameIndex = 0;
    for (;;) {
        const std::size_t got = readFull(file.get(), chunk.data(), chunkBytes, output);
        if (got == 0) break;
        check(cancellation);
        if (got % static_cast<std::size_t>(frameBytes) != 0) throw MediaError(L("局部波形数据不完整。"));
        const auto chunkFrames = static_cast<std::int64_t>(got) / frameBytes;
        for (std::int64_t i = 0; i < chunkFrames; ++i) {
            const std::int64_t global = frameIndex + i;
            // The bucket comes from the expected count, so a short decode leaves the last
            // buckets empty instead of stretching the peaks.
            const auto bucket = static_cast<std::size_t>(
                std::min<std::int64_t>(global * static_cast<std::int64_t>(kBuckets) / expected,
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
    return WaveformSlice{window, std::move(buckets), channels, kSampleRate};
}

}  // namespace talvian
