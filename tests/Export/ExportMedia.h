#pragma once
// Generated sources and inspection of results for the export tests.

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Model/CutProject.h"

namespace talvian::test {

// A 32-bit float WAV whose every sample tells where it came from: frame n of channel c holds
// indexedSample(n, c), exactly representable as a float.
void makeIndexedSource(const std::filesystem::path& file, std::int64_t sampleRate, int channels,
                       const std::string& layout, double seconds);
float indexedSample(std::int64_t frame, int channel);

// The decoded samples of a file's first audio stream, interleaved 32-bit floats.
std::vector<float> samplesOf(const std::filesystem::path& file);

// ffprobe's description of a file's first audio stream, and of its format.
nlohmann::json audioStreamOf(const std::filesystem::path& file);
double durationOf(const std::filesystem::path& file);

// Names of the entries of `folder` that begin with a dot.
std::vector<std::string> hiddenEntries(const std::filesystem::path& folder);
// Names of every entry of `folder`, sorted.
std::vector<std::string> entriesOf(const std::filesystem::path& folder);

// A review project of an existing file as the analysis would leave it: its probed facts,
// its size and time, and the given cuts.
CutProject projectOf(const std::filesystem::path& source, std::vector<CutRegion> cuts);

// SHA-256 of a file's bytes.
std::string digestOf(const std::filesystem::path& file);

}  // namespace talvian::test
