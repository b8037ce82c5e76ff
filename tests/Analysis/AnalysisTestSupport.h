#pragma once
// Helpers shared by the analysis tests: raw float PCM files, signals and tokens.

#include <filesystem>
#include <string>
#include <vector>

#include "Model/CoreTypes.h"
#include "ProjectFixtures.h"  // messageOf
#include "TestSupport.h"

namespace talvian::test {

// Writes interleaved samples as raw 32-bit float little-endian PCM.
inline void writePcm(const std::filesystem::path& path, const std::vector<float>& samples) {
    writeFile(path,
              std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(float)));
}

// `count` interleaved sample frames whose channel c holds values[c].
inline std::vector<float> constantFrames(std::size_t count, const std::vector<float>& values) {
    std::vector<float> samples;
    for (std::size_t i = 0; i < count; ++i) samples.insert(samples.end(), values.begin(), values.end());
    return samples;
}

// Concatenation, for building signals and level lists piece by piece.
template <class T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline CancellationToken cancelledToken() {
    auto token = makeCancellation();
    token->cancel();
    return token;
}

}  // namespace talvian::test
