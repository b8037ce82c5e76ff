#pragma once
// Lowers the default fixed threshold for quiet recordings: measured on a full-rate decode,
// the threshold becomes 18 dB below the level of the loudest passages when that is lower.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "Model/CoreTypes.h"
#include "PcmReader.h"

namespace talvian::QuietRecordingGuard {

// True only for fixed mode at exactly the default −35.0 dB.
bool applies(const CutOptions& options);

// The window length (sample frames) of the measurement: 50 ms at `sampleRate`, rounded half to
// even, at least 1.
int windowFrames(int sampleRate);

// The measurement over a stream of raw float PCM at the stream's own rate and channel count,
// fed in pieces of any size as they arrive (a decode's pipe): it keeps one level per 50 ms
// window and a part of one window, never the samples, so its memory grows with the length
// by 8 bytes per window. Gives the same reference as the file it would otherwise read.
class LoudnessMeter {
  public:
    // Throws MediaError "无法读取音频的采样率或声道。" for a rate outside 1…768000 or channels
    // outside 1…64.
    LoudnessMeter(int sampleRate, int channels);

    // The next bytes of the stream, in order.
    void add(std::span<const std::byte> bytes);
    // What referenceDB gives for everything added so far; a tail shorter than one window is ignored.
    std::optional<double> referenceDB() const;

  private:
    void measure(const std::byte* window);

    std::size_t channels_;
    std::size_t windowFrames_;
    WholeUnits windows_;
    std::vector<double> levels_;  // the RMS of the loudest channel of each whole window
};

// The 99th percentile (interpolated) of the 50 ms RMS levels of the loudest channel, in dBFS,
// of a raw float PCM file at the stream's own rate and channel count. Absent when no window is
// usable (empty, silent, or every window holds a non-finite sample). Throws MediaError
// "无法读取音频的采样率或声道。" for a rate outside 1…768000 or channels outside 1…64, the
// cancellation text after a read or at the end, "无法读取…" when the file cannot be read.
// Analysis thread.
std::optional<double> referenceDB(const std::filesystem::path& pcm, int sampleRate, int channels,
                                  const Cancellation& cancellation);

// min(reference − 18, threshold) when the guard applies and a finite reference exists, else the
// options' threshold. Never throws.
double effectiveThreshold(const CutOptions& options, std::optional<double> referenceDB);

}  // namespace talvian::QuietRecordingGuard
