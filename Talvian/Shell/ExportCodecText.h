#pragma once
// The codecs the export panel names beside the picture size, in words: those of the source
// when the export copies it, else those the re-encode will choose. For display only; the
// export back-ends decide for themselves. The facts come from the core's probe
// (CodecProbe); this file only words them. Keeps no state.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Model/CoreTypes.h"
#include "Process/MediaProbe.h"

namespace talvian::ExportCodecText {

// Probes `source` (CodecProbe::read) under `cancellation` and words the result (none when
// there is nothing to say). `channels` is the channel count of the source's first audio
// stream when it was read. Throws what CodecProbe::read throws. Blocks for the whole probe:
// call it off the main thread.
std::optional<std::string> read(const std::filesystem::path& source, bool copiesOriginal,
                                std::optional<std::int64_t> channels, const CancellationToken& cancellation);

// The wording of a file's streams: its video and first audio streams through codecs(); none
// without a video stream. Pure.
std::optional<std::string> summary(const CodecStreams& streams, bool copiesOriginal,
                                   std::optional<std::int64_t> channels);

// The summary of one video stream and the optional audio stream, such as "H.264, AAC". Pure.
std::optional<std::string> codecs(const ProbedStream& video, const std::optional<ProbedStream>& audio,
                                  bool copiesOriginal, std::optional<std::int64_t> channels);

// "H.264", "HEVC", "AAC", "ALAC", or any other codec name in upper case.
std::string displayName(const std::string& codecName);

}  // namespace talvian::ExportCodecText
