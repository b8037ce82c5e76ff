#pragma once
// The export side of the review project: one verified cut file in an output folder. The
// result is rendered (or, when nothing is removed, copied) into a hidden work file beside
// its final name, checked, and only then moved to that name without replacing anything.

#include <filesystem>
#include <string>

#include "MediaEntries.h"
#include "Model/CoreTypes.h"
#include "Model/CutProject.h"

namespace talvian::VevazAvezud {

// Below this many kept seconds there is nothing worth exporting.
inline constexpr double kMinimumKeptSeconds = 0.1;
// The delivered duration may differ from the predicted one by 40 ms per joint, and never
// need be closer than 150 ms.
inline constexpr double kDurationTolerancePerRange = 0.04;
inline constexpr double kMinimumDurationTolerance = 0.15;
// A name taken after it was chosen (another export of the same project into the same folder)
// passes the result on to the next free name, at most this many times.
inline constexpr int kDeliveryAttempts = 100;

// True exactly when the format is m4a, no cut of the project is marked for removal (of any
// length) and the source's extension is "mp4" or "m4a" (any case): the export then copies
// the source unchanged. The disk-space preflight uses the same rule. Pure.
bool copiesOriginal(const CutProject& project, AudioOutputFormat format);

// "<source name without extension>-粗剪" with the extension the output will have: "mp4" for
// a source with video, else the format's own.
std::string outputStem(const CutProject& project);
std::string outputExtension(const CutProject& project, AudioOutputFormat format);

// Exports the project's kept ranges into the first free name for outputStem() in
// `outputFolder` (created with its parents when missing) and returns the delivered file. The
// name rules (uniqueOutput) are checked before anything is created; a name taken by another
// export meanwhile passes the result on to the next free name (kDeliveryAttempts).
// Nothing removed and m4a copies the source (into the hidden work file, polling the token per
// chunk, then checked against the source by size and SHA-256). Every other export first probes
// the source: its duration within kSourceDurationTolerance of the project's, and a picture
// exactly when the project has one. Audio-only sources go through the audio renderer. Video
// sources go through the media layer's render step, `media.renderVideo` (the only use of
// `media`), in a hidden ".TalvianVideo-<UUID>" folder beside the output: the picture writer
// (progress 0…0.68), the audio renderer as AAC over the analysed duration (0.68 + 0.27 × its
// fraction), the mux (0.96…0.99), and the merged file must hold both tracks and last the
// picture's length within max(1 / frame rate + 0.002, 0.04) seconds. After the
// render the source must still be the file it was before (SourceMetadata equal: same file,
// size and exact time), and the result is probed: a sound track, a picture track exactly when
// the source has one, and the predicted kept duration within max(0.15, 0.04 × ranges) seconds.
// Progress ends with 1.0 "导出完成" (or 1.0 "未删除片段，已导出原始副本" for a copy).
// Throws the source check's errors (MissingProjectSource, ChangedProjectSource, MediaError),
// also for a source changed during the render, uniqueOutput's errors, and MediaError: the
// cancellation sentence, "WAV 导出仅用于纯音频素材；…", "全部内容都被标为删除了。…",
// "项目时长或音视频信息与原片不一致。请重新分析。", "合并后的音画或时长检查未通过，未交付此结果。",
// "导出后的轨道或时长检查未通过，未交付此结果。", "原始副本与原片不一致，未交付此结果。",
// file errors and the errors of the renderers, the mux and the probe. Whatever fails, nothing
// exists under the output name and no work file or work folder is left; the source is never
// written. The token must not be null. Blocks a background thread.
std::filesystem::path exportCut(const MediaEntries& media, const CutProject& project,
                                const std::filesystem::path& outputFolder, AudioOutputFormat format,
                                const CancellationToken& cancellation, const ProgressCallback& progress);

}  // namespace talvian::VevazAvezud
