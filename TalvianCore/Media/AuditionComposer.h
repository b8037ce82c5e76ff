#pragma once
// Turns an audition plan into a timeline (Model/AuditionTimeline.h) a media player can play
// without anything being rendered to disk: the plan's source ranges laid end to end, and for
// an edited plan a short linear gain ramp at every segment edge.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "Export/AuditionPlan.h"
#include "Model/AuditionTimeline.h"
#include "Model/CoreTypes.h"

namespace talvian {

namespace AuditionComposer {

// Reads the source's track list, then lays out the plan. Only the first audio and the
// first picture track are used; an attached cover is no picture. Blocks while the file's
// header is read: call it off the main thread. Throws MediaError "素材没有可播放的音轨。",
// "无法读取这份素材的音视频轨道。" (FFmpeg's words in diagnostics()), the layout's errors, or
// OperationCancelled when `cancellation` is cancelled (checked after loading and before
// every segment).
AuditionTimeline timeline(const std::filesystem::path& source, const AuditionPlan& plan,
                          const CancellationToken& cancellation = nullptr);

// The layout alone, for a source whose tracks are known to include sound. Throws MediaError
// "无法创建试听音轨。" when the segments come to no whole tick of sound.
AuditionTimeline layout(const std::filesystem::path& source, const AuditionPlan& plan, bool hasVideo,
                        const CancellationToken& cancellation = nullptr);

}  // namespace AuditionComposer
}  // namespace talvian
