#include "VideoRenderStep.h"

#include <chrono>
#include <cmath>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "Export/AudioRenderer.h"
#include "LinearVideoWriter.h"
#include "Model/Localization.h"
#include "Process/MediaProbe.h"
#include "VideoRenderer.h"

namespace talvian::VideoRenderer {

namespace {

// How often a wait for the sound reads the export's token.
constexpr std::chrono::milliseconds kSoundWaitPoll{25};

// The sound render on a thread of its own, under a token of its own: cancelled when the export
// is cancelled (noticed while finish() waits) or when the step ends early (the destructor).
// Its progress is held back while the picture reports, so the export's fractions keep rising.
class SoundBeside {
  public:
    SoundBeside(const std::filesystem::path& source, const std::vector<CutRegion>& kept,
                const std::filesystem::path& sound, double presentationDuration,
                const ProgressCallback& progress)
        : progress_(soundProgress(progress)) {
        done_ = std::async(std::launch::async, [this, source, kept, sound, presentationDuration] {
            AudioRenderer::render(
                source, kept, sound, AudioOutputFormat::m4a, token_,
                [this](double fraction, const std::string& step) { report(fraction, step); },
                presentationDuration);
        });
    }
    // Nothing of the render outlives the step, whose work folder holds its files.
    ~SoundBeside() {
        token_->cancel();
        if (done_.valid()) done_.wait();
    }
    SoundBeside(const SoundBeside&) = delete;
    SoundBeside& operator=(const SoundBeside&) = delete;

    // Once the picture is done: passes on the last held report and every later one, waits for
    // the render's end and throws its error.
    void finish(const CancellationToken& exportCancellation) {
        {
            std::lock_guard guard(lock_);
            forwarding_ = true;
            if (held_) progress_(held_->first, held_->second);
            held_.reset();
        }
        while (done_.wait_for(kSoundWaitPoll) != std::future_status::ready)
            if (exportCancellation->isCancelled()) token_->cancel();
        done_.get();
    }

  private:
    void report(double fraction, const std::string& step) {
        std::lock_guard guard(lock_);
        if (forwarding_)
            progress_(fraction, step);
        else
            held_.emplace(fraction, step);
    }

    CancellationToken token_ = makeCancellation();
    ProgressCallback progress_;
    std::mutex lock_;
    bool forwarding_ = false;                             // guarded by lock_
    std::optional<std::pair<double, std::string>> held_;  // guarded by lock_
    std::future<void> done_;
};

}  // namespace

void render(const std::filesystem::path& source, const MediaInfo& info, const std::vector<CutRegion>& kept,
            const std::filesystem::path& workFile, const CancellationToken& cancellation,
            const ProgressCallback& progress) {
    const WorkFolder folder(workFile.parent_path());
    SoundBeside sound(source, kept, folder.sound(), info.duration, progress);
    const MediaTime pictureDuration =
        LinearVideoWriter::render(source, info, kept, folder.picture(), cancellation, progress);
    sound.finish(cancellation);
    cancellation->check();
    mux(folder.picture(), folder.sound(), pictureDuration, workFile, cancellation, progress,
        Destination::workFile);

    const auto merged = Runner::probe(workFile, cancellation);
    const double frameRate = std::isnan(info.frameRate) ? 1.0 : std::max(info.frameRate, 1.0);
    const double tolerance = std::max(1.0 / frameRate + kMergedFrameSlack, kMinimumMergedTolerance);
    if (!merged.hasVideo || !merged.hasAudio ||
        !(std::fabs(merged.duration - pictureDuration.seconds()) <= tolerance))
        throw MediaError(L("合并后的音画或时长检查未通过，未交付此结果。"));
}

}  // namespace talvian::VideoRenderer
