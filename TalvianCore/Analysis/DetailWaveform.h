#pragma once
// The detail waveform of a zoomed window: exactly that stretch of the source's first audio
// track decoded by ffmpeg at 4000 Hz and reduced to 1024 peaks. No Qt; blocking.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Model/CoreTypes.h"
#include "Model/CutProject.h"
#include "Model/WaveformSlice.h"
#include "Model/WaveformWindow.h"
#include "Process/MediaProbe.h"
#include "Process/Runner.h"

namespace talvian {

namespace DetailWaveform {

inline constexpr std::int64_t kSampleRate = 4000;
inline constexpr std::size_t kBuckets = 1024;
// Longest window that is loaded, seconds (60 s and rounding).
inline constexpr double kLongestWindow = 60.00000001;
// How far the window's end may lie past the project's duration (rounding of the window).
inline constexpr double kEndTolerance = 1e-8;
inline constexpr double kProbeTimeLimitSeconds = 12;
inline constexpr double kDecodeTimeLimitSeconds = 20;
// The resampler may deliver a little less than the trim asks for at the file's end.
inline constexpr std::int64_t kToleratedShortfallFrames = 400;
inline constexpr std::size_t kReadChunkBytes = 262144;
// Peak level below which a stretch counts as silence and is scaled against this instead.
inline constexpr double kSilenceFloor = 1e-4;

// What the ffprobe run tells about the source's first audio track and its container. Only
// the channel count is required; the rest decides whether the decode may seek, and is asked
// for only where a seek is possible.
struct SourceAudio {
    std::int64_t channels = 0;               // 1…64
    std::optional<std::int64_t> sampleRate;  // Hz
    // The track's time base counts whole samples (false too when a stated start is unreadable).
    bool wholeSampleTimestamps = false;
    std::optional<std::int64_t> trackStartMicroseconds;      // the track's first timestamp, if stated
    std::optional<std::int64_t> containerStartMicroseconds;  // the container's start, if stated (else 0)
    bool operator==(const SourceAudio&) const = default;
};

// Whether a window whose first sample on the 4000 Hz time line is `firstSample` lies far
// enough in for a seeking decode (it starts 2 s or later): the cut falls on a whole second at
// least one second before the window and not before 1 s.
bool maySeek(std::int64_t firstSample);

// The ffprobe question about the source: the first audio stream's channel count and the facts
// that decide whether a seek lands exactly (rate, time base, starts of the track and of the
// container); 12 s limit.
ProbeQuery probeQuery();

// Runs `probeQuery()` on `project`'s source. Blocking. Throws the runner's errors and
// MediaError "无法读取局部波形的音轨。" when the channel count is unusable. The same judgement
// on an answer already at hand is sourceAudio (DetailWaveformAnswer.h).
SourceAudio probeAudio(const CutProject& project, const CancellationToken& cancellation);

// The facts of a source are kept per identity (path, size and modification time, as a project
// records them) for the life of the process, so that zooming in does not start ffprobe: the
// analysis leaves the facts of its own probe here, and a load that finds none probes once and
// keeps what it found. A changed file has another identity. Any thread.
void rememberSourceAudio(const std::string& source, std::int64_t bytes, double modifiedAt,
                         const SourceAudio& audio);
std::optional<SourceAudio> rememberedSourceAudio(const CutProject& project);

// The ffmpeg arguments that write samples [firstSample, endSample) of the 4000 Hz time line
// to `output` as raw 32-bit floats. Where the source allows it to land on exactly the same
// samples, the decode seeks to a whole second at least one second before the window;
// otherwise it reads from the start of the file.
std::vector<std::string> decodeArguments(const CutProject& project, const SourceAudio& audio,
                                         std::int64_t firstSample, std::int64_t endSample,
                                         const std::filesystem::path& output);

// Reduces a decoded file of `expectedFrames` frames to 1024 normalised peaks. Blocking.
// Throws MediaError: "局部波形未读取完整。", "局部波形长度与素材不符。", "局部波形数据不完整。",
// OperationCancelled, file errors.
std::vector<double> peaks(const std::filesystem::path& samples, std::int64_t expectedFrames,
                          std::int64_t channels, const CancellationToken& cancellation);

// Decodes `window` of `project`'s source into 1024 peaks, with the source's remembered facts
// (probing only when there are none). Blocking; a background thread.
// `onDecodeLaunch` gets the ffmpeg child's process ID. Works in a private folder
// "TalvianWaveform-<UUID>" in the temporary folder, removed on every way out.
// Throws OperationCancelled, MediaError: "局部波形范围无效。", "无法读取局部波形的音轨。",
// "局部波形时间超出可处理范围。", "局部波形范围过短。", "局部波形未读取完整。",
// "局部波形长度与素材不符。", "局部波形数据不完整。", folder and file errors; the source
// checks' MissingProjectSource / ChangedProjectSource; the runner's errors (ProcessTimeout).
WaveformSlice load(const CutProject& project, const WaveformWindow& window,
                   const CancellationToken& cancellation, const Runner::LaunchCallback& onDecodeLaunch = {});

}  // namespace DetailWaveform

}  // namespace talvian
