#pragma once
// The media layer's entry points that code outside it calls: the export's video render step and
// the audition's track reading. They travel as a table of plain function pointers, handed to the
// export and to the controller, so that each program chooses where they lead: tests and tools
// hand over the media layer linked into them (Media/LinkedMediaEntries.h); the application hands over
// its media module's table, whose first call loads the module (Talvian/Loader/MediaModule.h), so
// that FFmpeg's libraries stay out of its launch. No FFmpeg header is needed here.

#include <filesystem>
#include <vector>

#include "AuditionPlan.h"
#include "Model/AuditionTimeline.h"
#include "Model/CoreTypes.h"

namespace talvian {

struct MediaEntries {
    using RenderVideo = void(const std::filesystem::path& source, const MediaInfo& info,
                             const std::vector<CutRegion>& kept, const std::filesystem::path& workFile,
                             const CancellationToken& cancellation, const ProgressCallback& progress);
    using ReadAuditionTimeline = AuditionTimeline(const std::filesystem::path& source,
                                                  const AuditionPlan& plan,
                                                  const CancellationToken& cancellation);

    // The contract of VideoRenderer::render (Media/VideoRenderStep.h). Blocks a background thread.
    RenderVideo* renderVideo = nullptr;
    // The contract of AuditionComposer::timeline (Media/AuditionComposer.h). Blocks a background
    // thread.
    ReadAuditionTimeline* auditionTimeline = nullptr;

    bool operator==(const MediaEntries&) const = default;
};

}  // namespace talvian
