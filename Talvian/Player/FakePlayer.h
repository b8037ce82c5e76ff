#pragma once
// A scripted player for controller tests: nothing plays by itself. The test decides when
// the item loads or fails, moves the clock with advance(), and may hold seeks to complete
// or interrupt them later. Reports are delivered from the event loop like the real player's.

#include <QColor>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Media/LinkedMediaEntries.h"
#include "Player/Player.h"
#include "Player/PlayerFactory.h"

namespace talvian {

class FakePlayer : public Player {
    Q_OBJECT

  public:
    // No item.
    FakePlayer();
    // An item that stays loading until finishLoading() or failLoading().
    explicit FakePlayer(std::filesystem::path file);
    explicit FakePlayer(AuditionTimeline timeline);

    // --- What the player was made for.
    const std::filesystem::path& file() const { return file_; }
    const std::optional<AuditionTimeline>& timeline() const { return timeline_; }

    // --- Script.
    void finishLoading(double durationSeconds);
    void failLoading();
    // Plays for `wallSeconds`: the time moves by wallSeconds × rate (if playing), boundary
    // observers in between fire, the end of the item pauses the player and reports it, and
    // while playing every periodic observer is called once with the new time.
    void advance(double wallSeconds);
    // Held seeks stay pending until completeSeeks(); otherwise each lands from the event loop.
    void setHoldSeeks(bool hold) { holdSeeks_ = hold; }
    // Completes the pending seek (earlier ones were already reported unfinished).
    void completeSeeks(bool finished);
    // The picture of the item: one solid colour filling the whole target (no bars: it has the
    // target's shape). Absent (the default): an item without pictures. Once the item is ready,
    // setting a colour reports frameReady() from the event loop; so does finishing the loading
    // of an item with a colour.
    void setFrameColour(std::optional<QColor> colour);
    // Every seek target in order (after rounding to 1/60000 s).
    const std::vector<double>& seekLog() const { return seekLog_; }
    int playCount() const { return playCount_; }
    int pauseCount() const { return pauseCount_; }

    // --- Player
    bool hasItem() const override { return hasItem_; }
    PlayerItemStatus status() const override { return status_; }
    std::optional<double> duration() const override { return duration_; }
    void play() override;
    void pause() override;
    float rate() const override { return rate_; }
    void setRate(float rate) override;
    float defaultRate() const override { return defaultRate_; }
    void setDefaultRate(float rate) override;
    float volume() const override { return volume_; }
    void setVolume(float volume) override;
    bool isMuted() const override { return muted_; }
    void setMuted(bool muted) override;
    double currentTime() const override { return time_; }
    void seek(double seconds, SeekCompletion completion = {}) override;

  protected:
    bool drawFrame(QImage& target) override;

  private:
    void reportFrame();

    bool hasItem_ = false;
    std::filesystem::path file_;
    std::optional<AuditionTimeline> timeline_;
    PlayerItemStatus status_ = PlayerItemStatus::unknown;
    std::optional<double> duration_;
    float rate_ = 0;
    float defaultRate_ = 1;
    float volume_ = 1;
    bool muted_ = false;
    double time_ = 0;
    bool holdSeeks_ = false;
    SeekCompletion pendingSeek_;
    bool seekPending_ = false;
    std::uint64_t seekGeneration_ = 0;
    std::vector<double> seekLog_;
    int playCount_ = 0;
    int pauseCount_ = 0;
    std::optional<QColor> frameColour_;
};

// Makes FakePlayers and remembers them; `onCreate` may script each one (for example
// finish its loading) before the caller gets it. Exports and auditions still go through a real
// media layer: by default the one linked into the test (the default argument names it where the
// factory is made, so only programs that make one need the media layer).
class FakePlayerFactory : public PlayerFactory {
  public:
    explicit FakePlayerFactory(MediaEntries media = linkedMediaEntries()) : media_(media) {}
    std::unique_ptr<Player> makeEmptyPlayer() override;
    std::unique_ptr<Player> makePlayer(const std::filesystem::path& file) override;
    std::unique_ptr<Player> makeAuditionPlayer(const AuditionTimeline& timeline) override;
    MediaEntries media() const override { return media_; }

    std::function<void(FakePlayer&)> onCreate;
    // Every player made so far, in order; entries become null when a player is destroyed.
    std::vector<QPointer<FakePlayer>> created;
    FakePlayer* last() const { return created.empty() ? nullptr : created.back().data(); }

  private:
    std::unique_ptr<Player> keep(std::unique_ptr<FakePlayer> player);
    MediaEntries media_;
};

}  // namespace talvian
