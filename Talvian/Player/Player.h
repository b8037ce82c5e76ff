#pragma once
// The media player behind the preview and the auditions: one item (a file or an audition
// timeline) per player, never replaced. Main thread only.
//
// Every change report (signals, seek completions, time observers) is delivered later from
// the main thread's event loop, never from inside the call that caused it, so a handler
// may freely call back into the player.

#include <QImage>
#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace talvian {

// `seconds` on the 1/60000 s grid every seek uses; negative and NaN give 0, +∞ and huge
// values the last tick (past every end).
double seekSeconds(double seconds);

// Loading state of the player's item.
enum class PlayerItemStatus { unknown, readyToPlay, failed };

class Player : public QObject {
    Q_OBJECT

  public:
    // Identifies a periodic or boundary observer for removal.
    using ObserverID = std::uint64_t;
    // finished is false when a later seek replaced this one or the item failed or ended.
    using SeekCompletion = std::function<void(bool finished)>;

    explicit Player(QObject* parent = nullptr);
    ~Player() override;

    // --- Item
    // False for the empty player that stands in before any source is loaded.
    virtual bool hasItem() const = 0;
    virtual PlayerItemStatus status() const = 0;
    // Seconds: where the item ends on the player's clock, absent until it is ready. The clock
    // is the file's own time stamps, so this is the length for items that start at 0 (every
    // audition, most files) and start + length for a file whose stamps begin later.
    virtual std::optional<double> duration() const = 0;

    // --- Playback. rate 0 is paused; play() runs at defaultRate; the end of the item pauses.
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual float rate() const = 0;
    // > 0 plays at that speed (defaultRate unchanged), 0 pauses.
    virtual void setRate(float rate) = 0;
    virtual float defaultRate() const = 0;
    // The speed of the next play(); a running player keeps its rate.
    virtual void setDefaultRate(float rate) = 0;

    // --- Sound. volume 0…1.
    virtual float volume() const = 0;
    virtual void setVolume(float volume) = 0;
    virtual bool isMuted() const = 0;
    virtual void setMuted(bool muted) = 0;

    // --- Position, seconds of item time.
    // During a seek this is the seek's target.
    virtual double currentTime() const = 0;
    // Exact seek to `seconds` rounded to 1/60000 s (negative, NaN: 0). Each seek's completion
    // is called exactly once, asynchronously.
    virtual void seek(double seconds, SeekCompletion completion = {}) = 0;

    // --- Observers. Callbacks run on the main thread; remove them before their captures die.
    // Every `intervalSeconds` of playing (and once after each completed seek and
    // whenever playback starts or stops), with the time.
    ObserverID addPeriodicTimeObserver(double intervalSeconds, std::function<void(double seconds)> callback);
    // When normal playback crosses one of `times` (seconds); seeks cross nothing.
    ObserverID addBoundaryTimeObserver(std::vector<double> times, std::function<void()> callback);
    void removeTimeObserver(ObserverID id);

    // --- Pictures, for the preview. Draws the current picture into the caller's `target` at
    // the target's size, its shape kept (black bars fill the rest); what size to ask for and
    // where to paint it is the view's business. `target` must be a non-null image of
    // QImage::Format_RGB32 or Format_RGBX8888. False when nothing was drawn: another format,
    // no item, no picture yet, or an item without pictures.
    bool renderFrame(QImage& target);

  signals:
    void statusChanged();
    void rateChanged();
    void defaultRateChanged();
    void volumeChanged();
    void mutedChanged();
    // The item played to its end (the player is paused there).
    void reachedEnd();
    // A new picture is ready for renderFrame().
    void frameReady();

  protected:
    // Implementations call this after any change of status, rate, default rate, volume or
    // mute; the signals for what differs from the last report follow from the event loop.
    void scheduleReports();
    // Runs `action` later from the event loop unless the player is gone by then.
    void post(std::function<void()> action);

    struct PeriodicObserver {
        ObserverID id;
        double intervalSeconds;
        std::function<void(double)> callback;
    };
    struct BoundaryObserver {
        ObserverID id;
        std::vector<double> times;
        std::function<void()> callback;
    };
    const std::vector<PeriodicObserver>& periodicObservers() const { return periodic_; }
    // Calls the boundary observers whose times lie in (fromSeconds, toSeconds], each once.
    void fireBoundaries(double fromSeconds, double toSeconds);
    bool hasBoundaryObservers() const { return !boundary_.empty(); }
    // Calls every periodic observer with `seconds` (a jump, a start or a stop).
    void firePeriodicObservers(double seconds);
    // Hooks for implementations that drive observers with their own timers.
    virtual void observersChanged() {}
    // Draws the current picture into `target`, already checked to be usable (see renderFrame).
    virtual bool drawFrame(QImage& target) = 0;

  private:
    void deliverReports();

    std::vector<PeriodicObserver> periodic_;
    std::vector<BoundaryObserver> boundary_;
    ObserverID nextObserverID_ = 1;
    bool reportsScheduled_ = false;
    struct Reported {
        PlayerItemStatus status = PlayerItemStatus::unknown;
        float rate = 0;
        float defaultRate = 1;
        float volume = 1;
        bool muted = false;
    } reported_;
};

}  // namespace talvian
