#pragma once
// Streaming reads of the raw PCM files that the analysis decodes: interleaved 32-bit
// float, little-endian, no header. No file is ever held whole in memory.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <span>
#include <utility>
#include <vector>

#include "Model/CoreTypes.h"
#include "Support/FileSystem.h"

namespace talvian {

static_assert(std::endian::native == std::endian::little,
              "PCM samples are read as native little-endian floats");

// Reads one PCM file front to back in chunks of a fixed size. Analysis thread only.
class PcmChunkReader {
  public:
    // Opens `path` for reading; throws MediaError "无法读取…" when it cannot.
    PcmChunkReader(const std::filesystem::path& path, std::size_t chunkBytes,
                   const Cancellation& cancellation);

    // The next chunk: exactly chunkBytes long except the last one; empty at the end of the file.
    // After every non-empty read the token is checked (MediaError "任务已取消，原文件未改动。").
    // A read error throws MediaError "无法读取…". The span stays valid until the next call.
    std::span<const std::byte> next();

  private:
    std::filesystem::path path_;
    const Cancellation& cancellation_;
    UniqueFd fd_;
    std::vector<std::byte> buffer_;
};

// Cuts bytes that arrive in pieces of any size (file chunks, a pipe's reads) into whole units of
// a fixed size (a frame or a window), also when a unit straddles two pieces; only the start of
// one unit is ever held.
class WholeUnits {
  public:
    explicit WholeUnits(std::size_t unitBytes) : unitBytes_(unitBytes) {}

    // Calls visit(const std::byte*) for every unit that `bytes` completes, in order.
    template <class Visit>
    void add(std::span<const std::byte> bytes, Visit&& visit) {
        if (!pending_.empty()) {
            const std::size_t taken = std::min(unitBytes_ - pending_.size(), bytes.size());
            pending_.insert(pending_.end(), bytes.begin(),
                            bytes.begin() + static_cast<std::ptrdiff_t>(taken));
            bytes = bytes.subspan(taken);
            if (pending_.size() < unitBytes_) return;
            visit(pending_.data());
            pending_.clear();
        }
        std::size_t offset = 0;
        for (; offset + unitBytes_ <= bytes.size(); offset += unitBytes_) visit(bytes.data() + offset);
        pending_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end());
    }
    // The bytes after the last whole unit (fewer than one unit).
    const std::vector<std::byte>& rest() const { return pending_; }

  private:
    std::size_t unitBytes_;
    std::vector<std::byte> pending_;
};

// Reads `reader` to the end and calls visit(const std::byte*) for every complete unit of
// `unitBytes` (a frame or a window), in file order, also when a unit straddles two chunks.
// Returns the bytes after the last complete unit (fewer than unitBytes).
template <class Visit>
std::vector<std::byte> forEachUnit(PcmChunkReader& reader, std::size_t unitBytes, Visit&& visit) {
    WholeUnits units(unitBytes);
    for (auto chunk = reader.next(); !chunk.empty(); chunk = reader.next()) units.add(chunk, visit);
    return units.rest();
}

// The sample stored at `bytes` (4 bytes, little-endian IEEE float).
inline float pcmSample(const std::byte* bytes) {
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// What a sum of squares does with a sample that is not a finite number.
enum class NonFiniteSamples {
    poison,  // the sum becomes non-finite (a float squared in double never overflows, so a
             // non-finite sum means exactly that some sample was not finite)
    skip,    // the sample adds nothing
};

// The sum of the squares of channel `channel` over `frames` interleaved sample frames of
// `channels` channels starting at `bytes`. Hot: four partial sums in registers, nothing stored
// while the samples are read.
inline double sumOfSquares(const std::byte* bytes, std::size_t frames, std::size_t channels,
                           std::size_t channel, NonFiniteSamples nonFinite) {
    const std::size_t stride = channels * 4;
    const std::byte* sample = bytes + channel * 4;
    auto square = [nonFinite](const std::byte* at) {
        double value = pcmSample(at);
        if (nonFinite == NonFiniteSamples::skip && !std::isfinite(value)) value = 0;
        return value * value;
    };
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    std::size_t frame = 0;
    for (; frame + 4 <= frames; frame += 4, sample += 4 * stride) {
        s0 += square(sample);
        s1 += square(sample + stride);
        s2 += square(sample + 2 * stride);
        s3 += square(sample + 3 * stride);
    }
    for (; frame < frames; ++frame, sample += stride) s0 += square(sample);
    return (s0 + s1) + (s2 + s3);
}

}  // namespace talvian
