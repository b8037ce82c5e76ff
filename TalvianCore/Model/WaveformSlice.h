#pragma once
// The peaks of one zoomed window of the waveform, as DetailWaveform loads them. Pure.

#include <cstdint>
#include <vector>

#include "Model/WaveformWindow.h"

namespace talvian {

struct WaveformSlice {
    WaveformWindow window;        // exactly the requested window
    std::vector<double> peaks;    // 1024 values in [0, 1], square-root-normalised bucket peaks
    std::int64_t channels = 0;    // channels of the first audio track, 1…64
    std::int64_t sampleRate = 0;  // the decoding rate, 4000
    bool operator==(const WaveformSlice&) const = default;
};

}  // namespace talvian
