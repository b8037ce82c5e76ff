#include "Player/EmptyPlayer.h"

#include <algorithm>

namespace talvian {

EmptyPlayer::EmptyPlayer(bool failed) : failed_(failed) {
    if (failed_) scheduleReports();
}

void EmptyPlayer::setDefaultRate(float rate) {
    defaultRate_ = rate;
    scheduleReports();
}

void EmptyPlayer::setVolume(float volume) {
    volume_ = std::clamp(volume, 0.0f, 1.0f);
    scheduleReports();
}

void EmptyPlayer::setMuted(bool muted) {
    muted_ = muted;
    scheduleReports();
}

void EmptyPlayer::seek(double, SeekCompletion completion) {
    post([completion] {
        if (completion) completion(false);
    });
}

}  // namespace talvian
