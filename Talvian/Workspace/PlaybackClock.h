#pragma once
// The playback position in source seconds, published on its own so that only the views that
// draw the cursor and the clock hear the up to 12.5 updates a second. Main thread only.

#include <QObject>

namespace talvian {

class PlaybackClock : public QObject {
    Q_OBJECT

  public:
    double position() const { return position_; }
    // Publishes only a value that differs from the current one.
    void setPosition(double seconds) {
        if (seconds == position_) return;
        position_ = seconds;
        emit positionChanged(seconds);
    }

  signals:
    void positionChanged(double seconds);

  private:
    double position_ = 0;
};

}  // namespace talvian
