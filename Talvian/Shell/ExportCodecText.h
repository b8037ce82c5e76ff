#pragma once
// The codecs the export panel names beside the picture size: those of the source when the
// export copies it, else those the re-encode will choose. For display only; the export
// back-ends decide for themselves. Keeps no state.

#include <QJsonObject>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Model/CoreTypes.h"

namespace talvian::StudioVideoMetadata {

// The probe's time limit: a stalled source must not keep the summary's thread forever.
inline constexpr double kTimeoutSeconds = 12;

// ffprobe's arguments for `source`: only the stream fields the wording reads, as JSON.
std::vector<std::string> probeArguments(const std::filesystem::path& source);

// Where ffprobe is; throws the locator's error when it is missing.
using ToolLocator = std::function<std::filesystem::path()>;

// Runs ffprobe on `source` through the process runner under `cancellation` and words the
// result (nil when there is nothing to say). `channels` is the channel count of the source's
// first audio stream when it was read. Throws the locator's, the runner's (cancelled, timed
// out, failed) and the JSON reader's errors. Blocks for the whole probe: call it off the main
// thread. Without a locator it uses Dependencies::require("ffprobe").
std::optional<std::string> read(const std::filesystem::path& source, bool copiesOriginal,
                                std::optional<std::int64_t> channels, const CancellationToken& cancellation,
                                const ToolLocator& locate = {});

// The wording of ffprobe's JSON output: its video and first audio streams through codecs().
// A top level that is not an object, or a "streams" value that is not a list of objects,
// counts as no streams. Throws MediaError when the output is not JSON. Any thread.
std::optional<std::string> summarize(const std::string& probeOutput, bool copiesOriginal,
                                     std::optional<std::int64_t> channels);

// The summary of one video stream and the optional audio stream, such as "H.264, AAC". Pure.
std::optional<std::string> codecs(const QJsonObject& video, const std::optional<QJsonObject>& audio,
                                  bool copiesOriginal, std::optional<std::int64_t> channels);

// "H.264", "HEVC", "AAC", "ALAC", or any other codec name in upper case.
std::string displayName(const std::string& codecName);

}  // namespace talvian::StudioVideoMetadata
