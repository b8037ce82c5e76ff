#pragma once
// The video render step of the cut export: the picture writer and the sound renderer inside a
// hidden work folder beside the output, the mux that joins their results into the export's
// work file, and the check of the merged file. Sits beside the media layer's own pieces of
// the same service (work folder, progress mapping, mux) in Media/VideoRenderer.h.

#include <filesystem>
#include <vector>

#include "Model/CoreTypes.h"

namespace talvian::VideoRenderer {

// The merged file may differ from the picture's length by one frame and 2 ms, never need be
// closer than 40 ms.
inline constexpr double kMergedFrameSlack = 0.002;
inline constexpr double kMinimumMergedTolerance = 0.04;

// Renders the kept ranges (source seconds, sorted and disjoint) of `source` into `workFile`, the
// export's empty work file (makeWorkFile), as MPEG-4: the re-encoded picture (LinearVideoWriter, progress
// 0…0.68) and the sound (AudioRenderer as AAC over `info.duration`, the source's timeline like the picture;
// progress 0.68 + 0.27 × its fraction) are made in ".TalvianVideo-<UUID>" beside `workFile`,
// joined by the mux over exactly the picture's duration (0.96…0.99), and the result must hold
// a picture and a sound track and last that duration within
// max(1 / max(info.frameRate, 1) + 0.002, 0.04) seconds.
// The sound is rendered on a second thread while the picture is encoded (it needs nothing of
// the picture); progress still rises in the order above, and a failure of the picture wins
// over one of the sound. The work folder is gone when the call returns, whatever the outcome.
// Throws MediaError: the cancellation sentence, "合并后的音画或时长检查未通过，未交付此结果。" and
// the errors of the picture writer, the sound renderer, the mux and the probe. The token must
// not be null. Blocks the calling background thread.
void render(const std::filesystem::path& source, const MediaInfo& info, const std::vector<CutRegion>& kept,
            const std::filesystem::path& workFile, const CancellationToken& cancellation,
            const ProgressCallback& progress);

}  // namespace talvian::VideoRenderer
