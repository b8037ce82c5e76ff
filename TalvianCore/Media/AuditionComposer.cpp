#include "AuditionComposer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "Model/Localization.h"
#include "Support/IntegerBounds.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace talvian {
namespace {

// Segment edges of an edited audition fade over a quarter of the segment, at most this
// long: the same rule as the fades of the exported sound, so the audition sounds like it.
constexpr double kMaximumRampSeconds = 0.008;
constexpr double kRampShareOfSegment = 0.25;

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputPointer = std::unique_ptr<AVFormatContext, InputCloser>;

struct Tracks {
    bool hasAudio = false;
    bool hasVideo = false;
};

// FFmpeg's words for a failed read, for the diagnostics only.
MediaError unreadableTracks(const char* call, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return MediaError(L("无法读取这份素材的音视频轨道。"), std::string(call) + ": " + text);
}

Tracks readTracks(const std::filesystem::path& source) {
    AVFormatContext* raw = nullptr;
    if (int code = avformat_open_input(&raw, source.c_str(), nullptr, nullptr); code < 0)
        throw unreadableTracks("avformat_open_input", code);
    InputPointer input(raw);
    if (int code = avformat_find_stream_info(input.get(), nullptr); code < 0)
        throw unreadableTracks("avformat_find_stream_info", code);
    Tracks tracks;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) tracks.hasAudio = true;
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            tracks.hasVideo = true;
    }
    return tracks;
}

void checkCancelled(const CancellationToken& cancellation) {
    if (cancellation) cancellation->check();
}

}  // namespace

namespace AuditionComposer {

AuditionTimeline layout(const std::filesystem::path& source, const AuditionPlan& plan, bool hasVideo,
                        const CancellationToken& cancellation) {
    AuditionTimeline timeline;
    timeline.source = source;
    timeline.mode = plan.mode;
    timeline.hasVideo = hasVideo;
    std::int64_t cursor = 0;
    for (const auto& region : plan.segments) {
        checkCancelled(cancellation);
        const std::int64_t start = auditionTicks(region.start);
        const std::int64_t length = auditionTicks(region.end - region.start);
        timeline.segments.push_back({start, length, cursor});
        if (plan.mode == AuditionMode::edited) {
            const std::int64_t ramp = std::llround(std::min(kRampShareOfSegment * static_cast<double>(length),
                                                            kMaximumRampSeconds * kAuditionTimescale));
            if (ramp > 0) {
                timeline.ramps.push_back({cursor, ramp, 0.0, 1.0});
                timeline.ramps.push_back({cursor + length - ramp, ramp, 1.0, 0.0});
            }
        }
        cursor += length;
    }
    // Nothing a player could lay on its sound track: no audition can be built from it.
    if (cursor <= 0) throw MediaError(L("无法创建试听音轨。"));
    return timeline;
}

AuditionTimeline timeline(const std::filesystem::path& source, const AuditionPlan& plan,
                          const CancellationToken& cancellation) {
    const Tracks tracks = readTracks(source);
    checkCancelled(cancellation);
    if (!tracks.hasAudio) throw MediaError(L("素材没有可播放的音轨。"));
    return layout(source, plan, tracks.hasVideo, cancellation);
}

}  // namespace AuditionComposer
}  // namespace talvian
