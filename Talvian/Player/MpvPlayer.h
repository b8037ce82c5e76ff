#pragma once
// The player over libmpv's client API: one mpv instance per player, one item per instance.
// Main thread only. libmpv's wakeup callback (any thread) only posts a drain of its event
// queue to the main thread; every report leaves from there.
//
// Video frames come from libmpv's software renderer into the caller's QImage
// (Player::renderFrame) when the settings ask for them, turned upright by the track's
// rotation; otherwise pictures are decoded nowhere (vo=null) and no frame is ever ready.

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QImage>

#include "Player/Player.h"
#include "Player/PlayerFactory.h"

struct mpv_handle;
struct mpv_render_context;
struct mpv_event;
class QTimer;

namespace talvian {

struct MpvSettings {
    // mpv's "ao" option; empty: mpv's choice, falling back to no sound device.
    std::string audioOutput;
    // Draw frames for Player::renderFrame(); false: vo=null.
    bool videoFrames = false;
    // Further mpv options, set before initialisation in order (tests: ao-pcm-file, untimed).
    std::vector<std::pair<std::string, std::string>> options;
};

class MpvPlayer : public Player {
    Q_OBJECT

  public:
    // Without an item; nothing is started.
    explicit MpvPlayer(MpvSettings settings = {});
    MpvPlayer(const std::filesystem::path& file, MpvSettings settings = {});
    MpvPlayer(const AuditionTimeline& timeline, MpvSettings settings = {});
    ~MpvPlayer() override;

    bool hasItem() const override { return hasItem_; }
    PlayerItemStatus status() const override { return status_; }
    std::optional<double> duration() const override { return duration_; }
    void play() override;
    void pause() override;
    float rate() const override { return paused_ ? 0.0f : speed_; }
    void setRate(float rate) override;
    float defaultRate() const override { return defaultRate_; }
    void setDefaultRate(float rate) override;
    float volume() const override { return volume_; }
    void setVolume(float volume) override;
    bool isMuted() const override { return muted_; }
    void setMuted(bool muted) override;
    double currentTime() const override;
    void seek(double seconds, SeekCompletion completion = {}) override;

  protected:
    void observersChanged() override;
    bool drawFrame(QImage& target) override;

  private:
    struct HandleDeleter {
        void operator()(mpv_handle* handle) const;
    };
    struct RenderDeleter {
        void operator()(mpv_render_context* context) const;
    };
    struct PendingSeek {
        std::uint64_t replyID = 0;
        double target = 0;
        bool replied = false;  // mpv accepted the command; the next restart ends it
        SeekCompletion completion;
    };

    void start(const std::string& address,
               const std::vector<std::pair<std::string, std::string>>& itemOptions);
    static void wakeup(void* context);
    void drain();
    void handle(const mpv_event& event);
    void fail();
    void setProperty(const char* name, const std::string& value);
    void issueSeek();
    void finishSeek(bool finished);
    void boundaryTick();
    // Draws the picture as stored, unturned, into `target`.
    bool drawStored(QImage& target);

    MpvSettings settings_;
    std::unique_ptr<mpv_handle, HandleDeleter> handle_;
    // Declared after the handle so it is freed first, as libmpv requires.
    std::unique_ptr<mpv_render_context, RenderDeleter> render_;
    std::atomic<bool> drainPosted_ = false;  // set by any thread, cleared on the main thread

    bool hasItem_ = false;
    PlayerItemStatus status_ = PlayerItemStatus::unknown;
    bool loaded_ = false;
    std::optional<double> duration_;
    bool paused_ = true;
    float speed_ = 1;
    float defaultRate_ = 1;
    float volume_ = 1;
    bool muted_ = false;
    bool atEnd_ = false;
    mutable double time_ = 0;  // the last position read from mpv
    std::optional<PendingSeek> seek_;
    std::uint64_t nextReplyID_ = 1;

    std::map<ObserverID, QTimer*> periodicTimers_;
    QTimer* boundaryTimer_ = nullptr;
    std::optional<double> boundaryFrom_;  // last time seen by the boundary timer while playing
    QImage unturned_;  // a rotated recording's picture as stored, before drawFrame turns it
};

class MpvPlayerFactory : public PlayerFactory {
  public:
    explicit MpvPlayerFactory(MpvSettings settings = {}) : settings_(std::move(settings)) {}
    std::unique_ptr<Player> makeEmptyPlayer() override;
    std::unique_ptr<Player> makePlayer(const std::filesystem::path& file) override;
    std::unique_ptr<Player> makeAuditionPlayer(const AuditionTimeline& timeline) override;
    // The media layer linked beside the player (inside the module, the module's own).
    MediaEntries media() const override;

  private:
    MpvSettings settings_;
};

}  // namespace talvian
