#include "Player/MpvPlayer.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QMetaObject>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "Media/LinkedMediaEntries.h"
#include "Player/MpvTimeline.h"

namespace talvian {
namespace {

// Boundary times are watched by polling the position this often while playing; libmpv has
// no callback for crossing a time. Short enough that a skipped range is barely heard.
constexpr std::chrono::milliseconds kBoundaryPollInterval{10};

// Reply identities of our own property writes, which nothing waits for.
constexpr std::uint64_t kUntrackedReply = 0;

// Options every instance gets: a quiet, script-free player that keeps its item open at the
// end (paused there, like the platform player it replaces) and keeps the file's own time
// stamps, so that its clock equals the analysis's.
const std::pair<const char*, const char*> kBaseOptions[] = {
    {"config", "no"},
    {"terminal", "no"},
    {"idle", "yes"},
    {"keep-open", "yes"},
    {"pause", "yes"},
    {"osc", "no"},
    {"input-default-bindings", "no"},
    {"input-vo-keyboard", "no"},
    {"load-scripts", "no"},
    {"ytdl", "no"},
    {"resume-playback", "no"},
    {"sub-auto", "no"},
    {"audio-file-auto", "no"},
    {"audio-display", "no"},
    {"hwdec", "no"},
    {"hr-seek", "yes"},
    {"audio-fallback-to-null", "yes"},
    {"rebase-start-time", "no"},
    // The software renderer cannot turn pictures: libmpv 0.35 asserts on a quarter turn and
    // ignores a half turn. It draws the stored picture, and drawFrame turns it upright.
    {"video-rotate", "no"},
};

// The clockwise quarter turns that show a picture with `degrees` of clockwise rotation
// upright; a matrix between quarter turns takes the nearest one.
int quarterTurns(std::int64_t degrees) {
    const auto turns = static_cast<int>(std::lround(static_cast<double>(degrees) / 90.0)) % 4;
    return turns < 0 ? turns + 4 : turns;
}

}  // namespace

void MpvPlayer::HandleDeleter::operator()(mpv_handle* handle) const {
    mpv_terminate_destroy(handle);
}

void MpvPlayer::RenderDeleter::operator()(mpv_render_context* context) const {
    mpv_render_context_free(context);
}

MpvPlayer::MpvPlayer(MpvSettings settings) : settings_(std::move(settings)) {}

MpvPlayer::MpvPlayer(const std::filesystem::path& file, MpvSettings settings)
    : settings_(std::move(settings)) {
    start(file.string(), {});
}

MpvPlayer::MpvPlayer(const AuditionTimeline& timeline, MpvSettings settings)
    : settings_(std::move(settings)) {
    // Only the first sound and picture tracks of the source play.
    std::vector<std::pair<std::string, std::string>> itemOptions{{"aid", "1"},
                                                                 {"vid", timeline.hasVideo ? "1" : "no"}};
    const std::string filter = MpvTimeline::audioFilter(timeline);
    if (!filter.empty()) itemOptions.emplace_back("af", filter);
    start(MpvTimeline::edlAddress(timeline), itemOptions);
}

MpvPlayer::~MpvPlayer() {
    if (handle_) mpv_set_wakeup_callback(handle_.get(), nullptr, nullptr);
    render_.reset();
    handle_.reset();
}

void MpvPlayer::start(const std::string& address,
                      const std::vector<std::pair<std::string, std::string>>& itemOptions) {
    hasItem_ = true;
    // Refuses (null) unless LC_NUMERIC is "C"; the item then fails like any unplayable one.
    handle_.reset(mpv_create());
    if (!handle_) return fail();
    mpv_handle* mpv = handle_.get();
    for (auto [name, value] : kBaseOptions) mpv_set_option_string(mpv, name, value);
    mpv_set_option_string(mpv, "vo", settings_.videoFrames ? "libmpv" : "null");
    if (!settings_.audioOutput.empty()) mpv_set_option_string(mpv, "ao", settings_.audioOutput.c_str());
    for (const auto& [name, value] : itemOptions) {
        if (mpv_set_option_string(mpv, name.c_str(), value.c_str()) < 0) return fail();
    }
    for (const auto& [name, value] : settings_.options)
        mpv_set_option_string(mpv, name.c_str(), value.c_str());
    if (mpv_initialize(mpv) < 0) return fail();

    mpv_observe_property(mpv, 0, "eof-reached", MPV_FORMAT_FLAG);

    if (settings_.videoFrames) {
        mpv_render_param parameters[] = {
            {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        mpv_render_context* context = nullptr;
        if (mpv_render_context_create(&context, mpv, parameters) >= 0) {
            render_.reset(context);
            mpv_render_context_set_update_callback(
                context,
                [](void* self) {
                    QMetaObject::invokeMethod(
                        static_cast<MpvPlayer*>(self),
                        [player = static_cast<MpvPlayer*>(self)] { emit player->frameReady(); },
                        Qt::QueuedConnection);
                },
                this);
        }
    }

    mpv_set_wakeup_callback(mpv, &MpvPlayer::wakeup, this);
    const char* command[] = {"loadfile", address.c_str(), nullptr};
    if (mpv_command_async(mpv, kUntrackedReply, command) < 0) return fail();
}

void MpvPlayer::wakeup(void* context) {
    auto* self = static_cast<MpvPlayer*>(context);
    if (self->drainPosted_.exchange(true)) return;
    QMetaObject::invokeMethod(
        self, [self] { self->drain(); }, Qt::QueuedConnection);
}

void MpvPlayer::drain() {
    // Cleared before reading, so that a wakeup during the drain posts another one.
    drainPosted_ = false;
    while (handle_) {
        mpv_event* event = mpv_wait_event(handle_.get(), 0);
        if (event->event_id == MPV_EVENT_NONE) break;
        handle(*event);
    }
}

void MpvPlayer::handle(const mpv_event& event) {
    switch (event.event_id) {
        case MPV_EVENT_FILE_LOADED:
            loaded_ = true;
            break;
        case MPV_EVENT_PLAYBACK_RESTART:
            if (status_ == PlayerItemStatus::unknown && loaded_) {
                // The first restart after loading: decoders are up, the item can play.
                // Paused where the file's time stamps begin (nothing has seeked yet); the
                // item ends its length after that.
                double start = 0;
                if (mpv_get_property(handle_.get(), "time-pos", MPV_FORMAT_DOUBLE, &start) >= 0 &&
                    std::isfinite(start))
                    time_ = start;
                double length = 0;
                if (mpv_get_property(handle_.get(), "duration", MPV_FORMAT_DOUBLE, &length) >= 0 &&
                    std::isfinite(length))
                    duration_ = std::max(time_, 0.0) + length;
                status_ = PlayerItemStatus::readyToPlay;
                scheduleReports();
                if (seek_) issueSeek();  // asked for before the item was ready
            } else if (seek_ && seek_->replied) {
                time_ = seek_->target;
                finishSeek(true);
            }
            break;
        case MPV_EVENT_COMMAND_REPLY:
            if (seek_ && event.reply_userdata == seek_->replyID) {
                if (event.error < 0)
                    finishSeek(false);
                else
                    seek_->replied = true;
            }
            break;
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<const mpv_event_end_file*>(event.data);
            // With keep-open the item only ends by failing (or by our own teardown).
            if (end->reason != MPV_END_FILE_REASON_STOP && end->reason != MPV_END_FILE_REASON_QUIT) fail();
            break;
        }
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* property = static_cast<const mpv_event_property*>(event.data);
            const std::string_view name = property->name;
            if (name == "eof-reached" && property->format == MPV_FORMAT_FLAG) {
                // Observed values are snapshots that may predate a seek made since; only the
                // player's state now counts.
                int reachedNow = 0;
                const bool reached =
                    *static_cast<const int*>(property->data) != 0 &&
                    mpv_get_property(handle_.get(), "eof-reached", MPV_FORMAT_FLAG, &reachedNow) >= 0 &&
                    reachedNow;
                if (reached && !seek_ && !atEnd_ && status_ == PlayerItemStatus::readyToPlay) {
                    // mpv pauses itself at the end (keep-open); the position is the item's end.
                    atEnd_ = true;
                    paused_ = true;
                    if (duration_) time_ = *duration_;
                    scheduleReports();
                    post([this] { emit reachedEnd(); });
                }
            }
            break;
        }
        default:
            break;
    }
}

void MpvPlayer::fail() {
    if (status_ == PlayerItemStatus::failed) return;
    status_ = PlayerItemStatus::failed;
    paused_ = true;
    if (seek_) finishSeek(false);
    scheduleReports();
}

void MpvPlayer::setProperty(const char* name, const std::string& value) {
    if (!handle_) return;
    const char* text = value.c_str();
    mpv_set_property_async(handle_.get(), kUntrackedReply, name, MPV_FORMAT_STRING, &text);
}

void MpvPlayer::play() {
    if (!handle_ || status_ == PlayerItemStatus::failed || atEnd_) return;
    paused_ = false;
    speed_ = defaultRate_;
    double speed = speed_;
    mpv_set_property_async(handle_.get(), kUntrackedReply, "speed", MPV_FORMAT_DOUBLE, &speed);
    setProperty("pause", "no");
    scheduleReports();
}

void MpvPlayer::pause() {
    if (!handle_) return;
    paused_ = true;
    setProperty("pause", "yes");
    scheduleReports();
}

void MpvPlayer::setRate(float rate) {
    if (!(rate > 0)) return pause();
    if (!handle_ || status_ == PlayerItemStatus::failed || atEnd_) return;
    paused_ = false;
    speed_ = rate;
    double speed = speed_;
    mpv_set_property_async(handle_.get(), kUntrackedReply, "speed", MPV_FORMAT_DOUBLE, &speed);
    setProperty("pause", "no");
    scheduleReports();
}

void MpvPlayer::setDefaultRate(float rate) {
    defaultRate_ = rate;
    scheduleReports();
}

void MpvPlayer::setVolume(float volume) {
    volume_ = std::clamp(volume, 0.0f, 1.0f);
    if (handle_) {
        // mpv's volume scale is cubic (gain = (percent/100)³); ours is the linear gain.
        double percent = 100.0 * std::cbrt(static_cast<double>(volume_));
        mpv_set_property_async(handle_.get(), kUntrackedReply, "volume", MPV_FORMAT_DOUBLE, &percent);
    }
    scheduleReports();
}

void MpvPlayer::setMuted(bool muted) {
    muted_ = muted;
    setProperty("mute", muted ? "yes" : "no");
    scheduleReports();
}

double MpvPlayer::currentTime() const {
    if (seek_) return seek_->target;
    if (atEnd_ && duration_) return *duration_;
    // Asked of the player itself: observed positions are snapshots that can arrive after a
    // seek has moved on, and a stale one would cross boundaries that were never played.
    double seconds = 0;
    if (status_ == PlayerItemStatus::readyToPlay &&
        mpv_get_property(handle_.get(), "time-pos", MPV_FORMAT_DOUBLE, &seconds) >= 0 &&
        std::isfinite(seconds))
        time_ = seconds;
    return time_;
}

void MpvPlayer::seek(double seconds, SeekCompletion completion) {
    double target = seekSeconds(seconds);
    if (duration_) target = std::min(target, *duration_);
    if (!handle_ || status_ == PlayerItemStatus::failed) {
        post([completion] {
            if (completion) completion(false);
        });
        return;
    }
    // A newer seek replaces the pending one, which reports that it did not finish.
    if (seek_) finishSeek(false);
    atEnd_ = false;
    seek_ = PendingSeek{0, target, false, std::move(completion)};
    boundaryFrom_.reset();
    if (status_ == PlayerItemStatus::readyToPlay) issueSeek();
}

void MpvPlayer::issueSeek() {
    seek_->replyID = nextReplyID_++;
    mpv_node arguments[3];
    arguments[0].format = MPV_FORMAT_STRING;
    arguments[0].u.string = const_cast<char*>("seek");
    arguments[1].format = MPV_FORMAT_DOUBLE;
    arguments[1].u.double_ = seek_->target;
    arguments[2].format = MPV_FORMAT_STRING;
    arguments[2].u.string = const_cast<char*>("absolute+exact");
    mpv_node_list list{3, arguments, nullptr};
    mpv_node command;
    command.format = MPV_FORMAT_NODE_ARRAY;
    command.u.list = &list;
    if (mpv_command_node_async(handle_.get(), seek_->replyID, &command) < 0) finishSeek(false);
}

void MpvPlayer::finishSeek(bool finished) {
    auto completion = std::move(seek_->completion);
    seek_.reset();
    const double now = time_;
    post([this, completion, finished, now] {
        if (completion) completion(finished);
        if (finished) firePeriodicObservers(now);
    });
}

void MpvPlayer::observersChanged() {
    const auto& observers = periodicObservers();
    for (auto it = periodicTimers_.begin(); it != periodicTimers_.end();) {
        const bool exists =
            std::any_of(observers.begin(), observers.end(), [&](const auto& o) { return o.id == it->first; });
        if (exists) {
            ++it;
            continue;
        }
        it->second->deleteLater();
        it = periodicTimers_.erase(it);
    }
    for (const auto& observer : observers) {
        if (periodicTimers_.count(observer.id)) continue;
        auto* timer = new QTimer(this);
        timer->setInterval(std::max(1, static_cast<int>(std::lround(observer.intervalSeconds * 1000))));
        const ObserverID id = observer.id;
        connect(timer, &QTimer::timeout, this, [this, id] {
            if (rate() <= 0 || status_ != PlayerItemStatus::readyToPlay) return;
            const auto& list = periodicObservers();
            auto found = std::find_if(list.begin(), list.end(), [id](const auto& o) { return o.id == id; });
            if (found == list.end()) return;
            auto callback = found->callback;
            callback(currentTime());
        });
        timer->start();
        periodicTimers_[id] = timer;
    }

    if (hasBoundaryObservers() && !boundaryTimer_) {
        boundaryTimer_ = new QTimer(this);
        boundaryTimer_->setInterval(kBoundaryPollInterval);
        connect(boundaryTimer_, &QTimer::timeout, this, &MpvPlayer::boundaryTick);
        boundaryTimer_->start();
    } else if (!hasBoundaryObservers() && boundaryTimer_) {
        boundaryTimer_->deleteLater();
        boundaryTimer_ = nullptr;
        boundaryFrom_.reset();
    }
}

void MpvPlayer::boundaryTick() {
    if (seek_ || status_ != PlayerItemStatus::readyToPlay) {
        boundaryFrom_.reset();
        return;
    }
    if (rate() <= 0) return;
    const double now = currentTime();
    const std::optional<double> from = boundaryFrom_;
    boundaryFrom_ = now;
    if (from && now > *from) fireBoundaries(*from, now);
}

bool MpvPlayer::drawFrame(QImage& target) {
    if (!render_ || status_ == PlayerItemStatus::failed) return false;
    // Until the first picture has configured the output (and never for an item without
    // pictures), libmpv would draw a black stand-in; that is no picture.
    int configured = 0;
    if (mpv_get_property(handle_.get(), "vo-configured", MPV_FORMAT_FLAG, &configured) < 0 || !configured)
        return false;
    // The track's display matrix, as mpv reads it whatever video-rotate says (clockwise degrees).
    std::int64_t rotation = 0;
    if (mpv_get_property(handle_.get(), "current-tracks/video/demux-rotation", MPV_FORMAT_INT64, &rotation) <
        0)
        rotation = 0;
    const int turns = quarterTurns(rotation);
    if (turns == 0) return drawStored(target);
    // The stored picture is drawn into the target's shape before the turn (its sides swapped
    // for a quarter turn), so the turned picture fills the target between its black bars. The
    // image is kept between frames: the preview asks for one per picture.
    const QSize storedSize = turns % 2 ? target.size().transposed() : target.size();
    if (unturned_.size() != storedSize || unturned_.format() != target.format())
        unturned_ = QImage(storedSize, target.format());
    if (unturned_.isNull() || !drawStored(unturned_)) return false;
    // Turned about the origin, then moved back into the target: quarter turns map pixels onto
    // pixels, so nothing is resampled.
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.translate(turns == 3 ? 0 : target.width(), turns == 1 ? 0 : target.height());
    painter.rotate(90.0 * turns);
    painter.drawImage(0, 0, unturned_);
    return true;
}

bool MpvPlayer::drawStored(QImage& target) {
    // Both formats are four bytes a pixel, the fourth one padding; RGB32 holds 0xffRRGGBB
    // words, which a little-endian machine stores as B, G, R, padding.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "RGB32 is written as bgr0");
    const char* format = target.format() == QImage::Format_RGB32 ? "bgr0" : "rgb0";
    int dimensions[2] = {target.width(), target.height()};
    std::size_t stride = static_cast<std::size_t>(target.bytesPerLine());
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_SW_SIZE, dimensions}, {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>(format)},
        {MPV_RENDER_PARAM_SW_STRIDE, &stride},  {MPV_RENDER_PARAM_SW_POINTER, target.bits()},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_update(render_.get());
    if (mpv_render_context_render(render_.get(), parameters) < 0) return false;
    // libmpv leaves the padding undefined, but Qt requires 0xff there: some of its paths read
    // it as opacity.
    for (int y = 0; y < target.height(); ++y) {
        uchar* row = target.scanLine(y);
        for (int x = 0; x < target.width(); ++x) row[4 * x + 3] = 0xff;
    }
    return true;
}

std::unique_ptr<Player> MpvPlayerFactory::makeEmptyPlayer() {
    return std::make_unique<MpvPlayer>(settings_);
}

std::unique_ptr<Player> MpvPlayerFactory::makePlayer(const std::filesystem::path& file) {
    return std::make_unique<MpvPlayer>(file, settings_);
}

std::unique_ptr<Player> MpvPlayerFactory::makeAuditionPlayer(const AuditionTimeline& timeline) {
    return std::make_unique<MpvPlayer>(timeline, settings_);
}

MediaEntries MpvPlayerFactory::media() const {
    return linkedMediaEntries();
}

}  // namespace talvian
