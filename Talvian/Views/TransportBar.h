#pragma once
// The playback controls under the source preview: play or pause, the clock with its time jump,
// skipping removed pauses, the preview of the whole result, the speed, and looping the current
// audition. The bar keeps no state: every control is set from the controller's guards and
// published values whenever a slice it reads changes, and every action is one controller call.
//
// One set of controls is laid out in one row when the width allows it, else in two rows
// (play, clock … speed / skip … result, loop); the controls are moved, never rebuilt, so an open
// jump popover and the keyboard focus survive the change. Main thread.

#include <QWidget>

#include <string>
#include <vector>

class QMenu;

namespace talvian {

class StudioButton;
class PlaybackTimecode;
class StudioToggle;
class Workspace;

class TransportBar : public QWidget {
    Q_OBJECT

  public:
    explicit TransportBar(Workspace& workspace, QWidget* parent = nullptr);

    // What the controls are set from.
    struct Facts {
        bool canPlayPreview = false;
        bool isPlaying = false;
        bool needsAnalysis = true;
        bool cutBusy = false;
        bool canReview = false;
        bool hasReviewCut = false;
        bool hasAudition = false;
        bool canRepeatAudition = false;
    };
    // What the controls show; the values of the two toggles are the controller's as they are.
    struct Controls {
        std::string playSymbol = "play.fill";
        bool playEnabled = false;
        bool speedEnabled = false;
        bool skipEnabled = false;
        bool resultEnabled = false;
        bool loopShown = false;
        bool loopEnabled = false;
        bool operator==(const Controls&) const = default;
    };
    static Facts facts(const Workspace& workspace);
    static Controls controls(const Facts& facts);
    // The menu's and its title's label of a speed: C "%.2g" then "×" (1.25 reads "1.2×").
    static std::string speedText(float speed);

    enum class Arrangement { oneRow, twoRows };
    Arrangement arrangement() const { return arrangement_; }
    // The narrowest width at which everything fits in one row.
    int oneRowWidth() const;

    StudioButton& playButton() const { return *play_; }
    PlaybackTimecode& timecode() const { return *timecode_; }
    StudioToggle& skipToggle() const { return *skip_; }
    StudioButton& resultButton() const { return *result_; }
    StudioButton& speedButton() const { return *speed_; }
    QMenu& speedMenu() const { return *speedMenu_; }
    StudioToggle& loopToggle() const { return *loop_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

    // Between controls in one row, and in each of the two rows.
    static constexpr int kOneRowSpacing = 12;
    static constexpr int kTwoRowSpacing = 10;
    // Between the two rows.
    static constexpr int kRowGap = 10;

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void refresh();
    // Places the shown controls for the current width.
    void arrange();
    // The shown controls of the one row, and of each of the two rows (leading, trailing).
    std::vector<QWidget*> oneRow() const;
    int rowHeight(const std::vector<QWidget*>& row) const;
    int twoRowsHeight() const;
    int twoRowsWidth() const;

    Workspace& workspace_;
    StudioButton* play_;
    PlaybackTimecode* timecode_;
    StudioToggle* skip_;
    StudioButton* result_;
    StudioButton* speed_;
    QMenu* speedMenu_;
    StudioToggle* loop_;
    Arrangement arrangement_ = Arrangement::oneRow;
};

}  // namespace talvian
