#pragma once
// Pause analysis: one source file and one set of options become a new review project with
// its pauses, overview waveform and the facts that identify the source later. The source is
// probed once and decoded once by ffmpeg into a small raw PCM file in a private temporary
// folder ("TalvianAnalysis-<UUID>") that is removed on every way out; the quiet-recording
// guard's full-rate stream never touches the disk; nothing is written beside the source.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Model/CoreTypes.h"
#include "Model/CutProject.h"

namespace talvian::VevazAvezud {

// Bins of the overview waveform an analysis stores.
inline constexpr int kWaveformBins = 320;
// Decode rates (Hz): the fixed road needs only levels for the overview, the adaptive one
// needs the detector's 20 ms frames.
inline constexpr int kFixedSampleRate = 2000;
inline constexpr int kAdaptiveSampleRate = 8000;

// How much shorter than its file states a recording's sound may be (seconds) and still count
// as whole. Whole files differ by encoder priming and padding, a few frames of 1024 to 2048
// samples: milliseconds, whatever the length. A fixed bound rather than a share of the length,
// so that a long copy that stopped a minute before its end is not taken for whole; half a
// second keeps clear of every whole file and still lets a cut-off file stretch its overview
// by at most that much.
inline constexpr double kMissingSoundToleranceSeconds = 0.5;

// True when sound whose data reaches `reachedSeconds` falls short of the `statedSeconds` its
// file states by more than kMissingSoundToleranceSeconds; false when either is not a finite
// number (nothing to judge by). Pure.
bool soundIsCutShort(double reachedSeconds, double statedSeconds);

// Analyses `source` (made absolute) with `options`. Progress goes to `progress` (fraction 0…1,
// step text) on the calling thread; a null token is never cancelled. Blocks the calling
// (background) thread while ffprobe and ffmpeg run. Throws MediaError: the options' range
// error, the probe's and the runner's errors (cancellation included), "此文件没有音轨…",
// "此文件包含多条音轨…", "波形数据不完整，请重新分析。", the incomplete-file refusal
// "素材文件不完整或已损坏…" when the sound's data ends short of the length its file states
// (soundIsCutShort: an audio file's decoded sound, a video's audio packets, both before any
// padding), the count refusal when the project could not be saved (10,000 pauses or more),
// the change refusal when the source's size or modification time moved while it was
// analysed, and file errors in Chinese.
CutProject analyze(const std::filesystem::path& source, const CutOptions& options,
                   const CancellationToken& cancellation, const ProgressCallback& progress = {});

// `bins` peak values in 0…1 of a raw float PCM file with `channels` interleaved channels: the
// largest finite |sample| of each equal share of the frames, scaled so that the loudest bin is
// 1 and lifted by the square root; all zeros for a silent or empty file. Throws the
// cancellation text between reads, "波形数据不完整，请重新分析。" when a read is not whole
// frames, "无法读取…" when the file cannot be read. Analysis thread.
std::vector<double> waveform(const std::filesystem::path& pcm, int bins, int channels,
                             const Cancellation& cancellation);

// The arguments (after the executable) of the main decode into `output`: C = max(source
// channels, 2) channels at the mode's rate, silencedetect at `thresholdDB` in fixed mode, and
// for a video source -copyts with a chain that starts the audio at 0 and lasts exactly the
// probed duration.
std::vector<std::string> decodeArguments(const std::filesystem::path& source, const MediaInfo& info,
                                         const CutOptions& options, double thresholdDB, int channels,
                                         const std::filesystem::path& output);

// The arguments of the decode that also measures the loudness when the quiet-recording guard
// applies: decodeArguments at the options' threshold, with a first output inserted after the
// input that writes the sound as decoded (the stream's own rate and channels, raw float) to
// standard output. ffmpeg decodes the stream once for both outputs; the main output's data
// and its silencedetect report are those of decodeArguments alone.
std::vector<std::string> guardedDecodeArguments(const std::filesystem::path& source, const MediaInfo& info,
                                                const CutOptions& options, int channels,
                                                const std::filesystem::path& output);

// Only the report lines that the silencedetect filter itself wrote to ffmpeg's standard error
// ("[silencedetect @ 0x…] silence_start: 1.5", "… silence_end: 2.5 | silence_duration: 1"),
// one per line. Everything else ffmpeg prints (tags, file names, statistics) is dropped, so
// text in a recording's metadata can never cut its speech.
std::string silencedetectReport(std::string_view standardError);

}  // namespace talvian::VevazAvezud
