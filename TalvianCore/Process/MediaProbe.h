#pragma once
// Every question asked of a media file through ffprobe: any query (chosen streams and
// entries, JSON or another output form, a time limit), the facts of one stream as ffprobe
// states them, and the questions callers ask: the file's overall facts, the format of its
// first audio stream, and the codecs of its first video and audio streams. Everything blocks
// the calling thread (a background task) for the child's life and keeps no state.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "Model/AudioStreamInfo.h"
#include "Model/CoreTypes.h"

namespace talvian {

namespace Runner {
// ffprobe's time limit unless a caller chooses another (seconds).
inline constexpr double kProbeTimeoutSeconds = 15.0;
}  // namespace Runner

// ---- Any question -------------------------------------------------------------------------

// One ffprobe question. The command line is "-v", "error", then "-select_streams" and
// `streams` when given, the `show` arguments, "-of" and `outputFormat`, and the file.
struct ProbeQuery {
    std::optional<std::string> streams;  // which streams ("a:0", "v:0"); absent: every stream
    std::vector<std::string> show;       // e.g. {"-show_entries", "stream=channels"}, {"-show_format"}
    std::string outputFormat = "json";   // e.g. "json", "csv=p=0"
    std::optional<double> timeLimitSeconds = Runner::kProbeTimeoutSeconds;  // absent: no limit

    // The first audio stream's `entries` ("stream=sample_rate,channels") as JSON, 15 s.
    static ProbeQuery firstAudio(std::string entries);
    bool operator==(const ProbeQuery&) const = default;
};

// What ffprobe states about one stream. A fact is absent unless it is stated in the form
// ffprobe prints it: texts as texts, counts as integers within 64 bits, the sample rate and
// the raw sample depth as decimal texts.
struct ProbedStream {
    std::optional<std::string> codecType;          // "codec_type": "audio", "video" …
    std::optional<std::string> codecName;          // "codec_name"
    std::optional<std::int64_t> channels;          // "channels"
    std::optional<std::int64_t> sampleRate;        // "sample_rate", Hz
    std::optional<std::string> channelLayout;      // "channel_layout"
    std::optional<std::string> timeBase;           // "time_base", e.g. "1/48000"
    std::optional<std::string> startTime;          // "start_time" as printed, e.g. "-0.021333"
    std::optional<std::int64_t> durationTicks;     // "duration_ts", in time-base ticks
    std::optional<std::string> pixelFormat;        // "pix_fmt", e.g. "yuv420p10le"
    std::optional<std::int64_t> bitsPerRawSample;  // "bits_per_raw_sample", e.g. 8
    std::optional<std::string> colorTransfer;      // "color_transfer", e.g. "smpte2084"

    ProbedStream() = default;
    // `stream` is one element of an answer's "streams" list; anything but an object states nothing.
    explicit ProbedStream(const nlohmann::json& stream);
    bool operator==(const ProbedStream&) const = default;
};

namespace MediaProbe {

// ffprobe's arguments (without the program) for `query` on `file`. Pure.
std::vector<std::string> arguments(const ProbeQuery& query, const std::filesystem::path& file);
// Runs the query with the ffprobe that `locate` names (without one,
// Dependencies::require("ffprobe")); ffprobe's standard output. Throws the locator's and the
// runner's errors.
std::string run(const ProbeQuery& query, const std::filesystem::path& file,
                const CancellationToken& cancellation,
                const std::function<std::filesystem::path()>& locate = {});
// The same, parsed: a discarded value (is_discarded()) when the answer is not JSON, for the
// caller to judge; the parser's English text is of no use to anyone.
nlohmann::json runJson(const ProbeQuery& query, const std::filesystem::path& file,
                       const CancellationToken& cancellation);
// Reads an answer the way runJson does.
nlohmann::json parse(std::string_view answer);

// The first element of an answer's "streams" list when it is an object: with
// "-select_streams a:0", the first audio stream. Absent for anything else.
std::optional<ProbedStream> firstStream(const nlohmann::json& answer);
// Every object of an answer's "streams" list, in order; other elements are skipped.
std::vector<ProbedStream> streams(const nlohmann::json& answer);
// What "-select_streams a:0" would have answered, cut from an answer that lists every stream
// (Runner::probeOutput's): a "streams" list of the first audio stream alone (empty when there
// is none) and the "format" as it stands, so a question about the first audio stream is judged
// on it exactly as on its own answer without running ffprobe again. An answer that is not an
// object gives an empty object. Pure.
nlohmann::json firstAudioAnswer(const nlohmann::json& answer);

}  // namespace MediaProbe

// ---- The common questions -----------------------------------------------------------------

// Reads a file's AudioStreamInfo with ffprobe.
namespace AudioStreamProbe {
// Runs ffprobe on the first audio stream (time limit 15 s). Throws the locator's and the
// runner's errors, and AudioStreamInfo::unreadable() for a file without audio or a malformed or
// out-of-range answer.
AudioStreamInfo read(const std::filesystem::path& file, const CancellationToken& cancellation);
// The same judgement on ffprobe's JSON answer, and on its first stream (for an answer that
// lists every stream, on MediaProbe::firstAudioAnswer's).
AudioStreamInfo fromProbeOutput(std::string_view json);
AudioStreamInfo fromStream(const std::optional<ProbedStream>& stream);
}  // namespace AudioStreamProbe

// The first video stream and the first audio stream of a file as ffprobe states them: their
// codec names, and the picture's pixel format, raw sample depth and colour transfer, which
// decide the codecs a re-encode chooses. Either is absent when the file has no such stream.
struct CodecStreams {
    std::optional<ProbedStream> video;  // the first stream whose "codec_type" is "video"
    std::optional<ProbedStream> audio;  // the first stream whose "codec_type" is "audio"
    bool operator==(const CodecStreams&) const = default;
};

// Reads a file's CodecStreams with ffprobe.
namespace CodecProbe {
// A stalled source must not keep the reading thread for long.
inline constexpr double kTimeLimitSeconds = 12;
// Every stream's codec_type, codec_name, pix_fmt, bits_per_raw_sample and color_transfer, as
// JSON, within kTimeLimitSeconds.
ProbeQuery query();
// Runs the query on `file` with the ffprobe that `locate` names (without one,
// Dependencies::require("ffprobe")). Throws the locator's and the runner's errors (cancelled,
// timed out, failed), and MediaError "无法读取媒体信息。" for an answer that is not a JSON
// object or list.
CodecStreams read(const std::filesystem::path& file, const CancellationToken& cancellation,
                  const std::function<std::filesystem::path()>& locate = {});
// The same judgement on ffprobe's answer. A top level that is not an object, or a "streams"
// value that is not a list made entirely of objects, states no stream.
CodecStreams fromProbeOutput(std::string_view json);
}  // namespace CodecProbe

// Where the first audio stream ends as its file states it and where its data really ends. A
// file whose index was written before its data (an MPEG-4 with the index in front, a WAV
// header) keeps stating its full length when a copy stops or a disk fills part-way.
namespace AudioReach {

// The stream's stated start and duration in seconds ("start_time", "duration"), each absent
// when ffprobe states none (Matroska states no stream duration).
struct StatedTiming {
    std::optional<double> startSeconds;
    std::optional<double> durationSeconds;
    bool operator==(const StatedTiming&) const = default;
};
// The first audio stream's StatedTiming in the answer of Runner::probeOutput, which already
// lists every stream's timing; empty when the answer has no audio stream. Pure.
StatedTiming statedTimingFromProbeOutput(std::string_view json);
// The same, on the parsed answer.
StatedTiming statedTiming(const nlohmann::json& answer);

// The latest packet end (pts + duration, seconds on the file's timeline) of the stream among
// its packets from `fromSeconds` on; absent when none is there. ffprobe seeks to that time and
// demuxes only the rest, so the cost does not grow with the file. One ffprobe run, 15 s.
// Throws the locator's and the runner's errors (also when the file cannot be sought), and
// MediaError "无法读取媒体信息。" for an answer without a packet list.
std::optional<double> dataEndSeconds(const std::filesystem::path& file, double fromSeconds,
                                     const CancellationToken& cancellation);

}  // namespace AudioReach

namespace Runner {

// The file's MediaInfo (duration, picture of its real video stream, audio streams, size).
// Throws the locator's and the runner's errors, MediaError "无法读取媒体信息。" for an answer
// that is not a JSON object, and "文件没有可读取的时长，可能已损坏或不是音视频。".
MediaInfo probe(const std::filesystem::path& file, const CancellationToken& cancellation);
// ffprobe's JSON answer (format and streams) that `probe` judges, for a caller that reads more
// of it than MediaInfo holds. Throws the locator's and the runner's errors.
std::string probeOutput(const std::filesystem::path& file, const CancellationToken& cancellation);
// The same judgement on ffprobe's JSON answer, with the file's size given; on the text or on
// the parsed answer.
MediaInfo mediaInfoFromProbeOutput(std::string_view json, std::int64_t bytes);
MediaInfo mediaInfoFromProbeAnswer(const nlohmann::json& answer, std::int64_t bytes);

// Frames per second from an "avg_frame_rate" text such as "30000/1001"; 30 when it is not
// two numbers with a positive divisor.
double frameRateFromText(std::string_view text);

}  // namespace Runner
}  // namespace talvian
