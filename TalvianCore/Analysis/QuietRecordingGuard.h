#pragma once
// Lowers the default fixed threshold for quiet recordings: measured on a full-rate decode,
// the threshold becomes 18 dB below the level of the loudest passages when that is lower.

#include <filesystem>
#include <optional>

#include "Model/CoreTypes.h"

namespace talvian::QuietRecordingGuard {

// True only for fixed mode at exactly the default −35.0 dB.
bool applies(const CutOptions& options);

// The window length (sample frames) of the measurement: 50 ms at `sampleRate`, rounded half to
// even, at least 1.
int windowFrames(int sampleRate);

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
