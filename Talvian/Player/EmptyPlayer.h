#pragma once
// A player without an item: the preview before any source is loaded, and the stand-in for a
// player that could not be made at all (its item failed). It never plays; a seek reports that
// it did not finish; it keeps the speed, volume and mute it is given. Main thread only.

#include "Player/Player.h"

namespace talvian {

class EmptyPlayer : public Player {
    Q_OBJECT

  public:
    // failed: the stand-in of an item that could not be loaded (status failed, has an item).
    explicit EmptyPlayer(bool failed = false);

    bool hasItem() const override { return failed_; }
    PlayerItemStatus status() const override {
        return failed_ ? PlayerItemStatus::failed : PlayerItemStatus::unknown;
    }
    std::optional<double> duration() const override { return std::nullopt; }
    void play() override {}
    void pause() override {}
    float rate() const override { return 0; }
    void setRate(float) override {}
    float defaultRate() const override { return defaultRate_; }
    void setDefaultRate(float rate) override;
    float volume() const override { return volume_; }
    void setVolume(float volume) override;
    bool isMuted() const override { return muted_; }
    void setMuted(bool muted) override;
    double currentTime() const override { return 0; }
    void seek(double seconds, SeekCompletion completion = {}) override;

  protected:
    bool drawFrame(QImage&) override { return false; }

  private:
    bool failed_;
    float defaultRate_ = 1;
    float volume_ = 1;
    bool muted_ = false;
};

}  // namespace talvian
