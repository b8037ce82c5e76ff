#pragma once
// The video area of the editor: the picture of the player that is sounding (the audition's while
// there is one, else the preview of the source), letterboxed on black, and over it a card that
// says why the preview cannot be shown and offers to pick the source file again. It reads the
// controller and calls one operation of it. Main thread.

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>

#include "Player/Player.h"

class QLabel;

namespace talvian {

class StudioButton;
class Workspace;

// Paints the pictures one player draws, at the widget's size in device pixels; black while it
// has none. Follows one player object at a time.
class PreviewPicture : public QWidget {
    Q_OBJECT

  public:
    explicit PreviewPicture(QWidget* parent = nullptr);

    // Shows `player` from now on. `revision` tells player objects apart when a new one took the
    // address of one that is gone: the same object under the same revision changes nothing.
    void follow(Player* player, std::uint64_t revision);
    Player* player() const { return player_; }
    // How many times a different player was taken on (each rebuilds the connection and image).
    int rebuilds() const { return rebuilds_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void frameReady();

    QPointer<Player> player_;
    std::uint64_t revision_ = 0;
    QMetaObject::Connection frames_;
    QImage frame_;             // the last picture drawn, in device pixels
    bool frameStale_ = true;   // a newer picture is waiting to be drawn
    bool frameDrawn_ = false;  // frame_ holds a picture, not leftovers
    QTimer retry_;             // asks again for a picture announced before it could be drawn
    int retries_ = 0;
    int rebuilds_ = 0;
};

class SourcePreview : public QWidget {
    Q_OBJECT

  public:
    explicit SourcePreview(Workspace& workspace, QWidget* parent = nullptr);

    // The picture layer and the player it shows.
    PreviewPicture& picture() const { return *picture_; }
    // The card shown while the controller reports a preview issue.
    QWidget& issueCard() const { return *card_; }
    QLabel& issueTitle() const { return *title_; }
    QLabel& issueText() const { return *issue_; }
    StudioButton& reselectButton() const { return *reselect_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void refresh();

    Workspace& workspace_;
    PreviewPicture* picture_;
    QWidget* card_;
    QLabel* title_;
    QLabel* issue_;
    StudioButton* reselect_;
};

}  // namespace talvian
