#include "TransportBar.h"

#include <QEvent>
#include <QMenu>

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "Kit/StudioControls.h"
#include "Model/Localization.h"
#include "PlaybackTimecode.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// The width of controls side by side at their preferred sizes.
int rowWidth(const std::vector<QWidget*>& row, int spacing) {
    if (row.empty()) return 0;
    const int widths = std::accumulate(row.begin(), row.end(), 0, [](int sum, const QWidget* control) {
        return sum + control->sizeHint().width();
    });
    return widths + spacing * static_cast<int>(row.size() - 1);
}

// Puts controls side by side from `x`, each at its preferred size, centred in a row of
// `height` whose top is `y`; returns the x after the last one.
int place(const std::vector<QWidget*>& row, int x, int y, int height, int spacing) {
    for (QWidget* control : row) {
        const QSize size = control->sizeHint();
        control->setGeometry(x, y + (height - size.height()) / 2, size.width(), size.height());
        x += size.width() + spacing;
    }
    return x;
}

std::vector<QWidget*> shown(std::initializer_list<QWidget*> controls) {
    std::vector<QWidget*> result;
    for (QWidget* control : controls)
        if (!control->isHidden()) result.push_back(control);
    return result;
}

}  // namespace

TransportBar::TransportBar(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // The icon alone shows the state; the name is for assistive technology only.
    play_ = StudioButton::iconButton("play.fill", QString(), this);
    play_->setAccessibleName(qs(L("播放或暂停")));
    timecode_ = new PlaybackTimecode(workspace_, this);
    skip_ = new StudioToggle(qs(L("跳过切点")), false, this);
    result_ = new StudioButton(qs(L("预览结果")), false, this);
    speed_ = new StudioButton(qs(speedText(1.0f)), false, this);
    // Its text is the speed set; screen readers also hear that it opens the menu of speeds.
    makeStudioMenuButton(*speed_);
    speedMenu_ = new QMenu(this);
    for (const float speed : Workspace::kPlaybackSpeeds) {
        QAction* item = speedMenu_->addAction(qs(speedText(speed)));
        // Choosing the speed already set asks again; the controller decides what that does.
        connect(item, &QAction::triggered, this, [this, speed] { workspace_.setPlaybackSpeed(speed); });
    }
    loop_ = new StudioToggle(qs(L("循环")), true, this);

    connect(play_, &QAbstractButton::clicked, this, [this] { workspace_.togglePlayback(); });
    // A refused write leaves the controller as it was: read it back at once.
    connect(skip_, &QAbstractButton::clicked, this, [this](bool on) {
        workspace_.setPreviewCuts(on);
        refresh();
    });
    connect(result_, &QAbstractButton::clicked, this, [this] { workspace_.auditionFull(); });
    connect(speed_, &QAbstractButton::clicked, this,
            [this] { speedMenu_->popup(speed_->mapToGlobal(QPoint(0, speed_->height()))); });
    connect(loop_, &QAbstractButton::clicked, this, [this](bool on) {
        workspace_.setRepeatAudition(on);
        refresh();
    });

    // Players, speed and auditions (playback), the reviewed pause of the project that shows the
    // loop (review, document), and what each control may do (guards).
    bindSlices(*this, workspace_, {Slice::playback, Slice::review, Slice::document, Slice::guards},
               [this] { refresh(); });
    refresh();
}

TransportBar::Facts TransportBar::facts(const Workspace& workspace) {
    Facts result;
    result.canPlayPreview = workspace.guards().canPlayPreview;
    result.isPlaying = workspace.playback().isPlaying;
    result.needsAnalysis = workspace.guards().needsAnalysis;
    result.cutBusy = workspace.guards().cutBusy;
    result.canReview = workspace.guards().canReview;
    result.hasReviewCut = workspace.reviewCut().has_value();
    result.hasAudition = workspace.auditionID().has_value();
    result.canRepeatAudition = workspace.guards().canRepeatAudition;
    return result;
}

TransportBar::Controls TransportBar::controls(const Facts& facts) {
    Controls result;
    result.playSymbol = facts.isPlaying ? "pause.fill" : "play.fill";
    result.playEnabled = facts.canPlayPreview;
    result.speedEnabled = facts.canPlayPreview;
    result.skipEnabled = !facts.needsAnalysis && !facts.cutBusy;
    result.resultEnabled = facts.canReview;
    result.loopShown = facts.hasReviewCut || facts.hasAudition;
    result.loopEnabled = result.loopShown && facts.canRepeatAudition;
    return result;
}

std::string TransportBar::speedText(float speed) {
    // C's rounding of the exact binary value: Qt's formatter would give 1.3 for 1.25.
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.2g", static_cast<double>(speed));
    return std::string(digits) + "×";
}

void TransportBar::refresh() {
    const Controls shownControls = controls(facts(workspace_));
    play_->setSymbol(shownControls.playSymbol);
    play_->setEnabled(shownControls.playEnabled);
    speed_->setEnabled(shownControls.speedEnabled);
    speed_->setText(qs(speedText(workspace_.playback().speed)));
    skip_->setEnabled(shownControls.skipEnabled);
    skip_->setChecked(workspace_.playback().previewCuts);
    result_->setEnabled(shownControls.resultEnabled);
    loop_->setEnabled(shownControls.loopEnabled);
    loop_->setChecked(workspace_.playback().repeatAudition);
    if (loop_->isHidden() == shownControls.loopShown) {
        loop_->setVisible(shownControls.loopShown);
        updateGeometry();
        arrange();
    }
}

std::vector<QWidget*> TransportBar::oneRow() const {
    return shown({play_, timecode_, skip_, result_, speed_, loop_});
}

int TransportBar::rowHeight(const std::vector<QWidget*>& row) const {
    int height = 0;
    for (const QWidget* control : row) height = std::max(height, control->sizeHint().height());
    return height;
}

int TransportBar::oneRowWidth() const {
    return rowWidth(oneRow(), kOneRowSpacing);
}

int TransportBar::twoRowsWidth() const {
    const int first = rowWidth(shown({play_, timecode_}), kTwoRowSpacing) + kTwoRowSpacing +
                      rowWidth(shown({speed_}), kTwoRowSpacing);
    const int second = rowWidth(shown({skip_}), kTwoRowSpacing) + kTwoRowSpacing +
                       rowWidth(shown({result_, loop_}), kTwoRowSpacing);
    return std::max(first, second);
}

int TransportBar::twoRowsHeight() const {
    return rowHeight(shown({play_, timecode_, speed_})) + kRowGap + rowHeight(shown({skip_, result_, loop_}));
}

QSize TransportBar::sizeHint() const {
    return {oneRowWidth(), heightForWidth(width() > 0 ? width() : oneRowWidth())};
}

QSize TransportBar::minimumSizeHint() const {
    return {twoRowsWidth(), heightForWidth(width())};
}

int TransportBar::heightForWidth(int width) const {
    return width >= oneRowWidth() ? rowHeight(oneRow()) : twoRowsHeight();
}

bool TransportBar::event(QEvent* event) {
    // A control's preferred size changed (the clock's text grew past an hour, a speed label).
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        arrange();
    }
    return QWidget::event(event);
}

void TransportBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange();
}

void TransportBar::arrange() {
    const Arrangement wanted = width() >= oneRowWidth() ? Arrangement::oneRow : Arrangement::twoRows;
    if (wanted != arrangement_) {
        arrangement_ = wanted;
        // The height follows the arrangement.
        updateGeometry();
    }
    if (arrangement_ == Arrangement::oneRow) {
        const auto row = oneRow();
        const int height = rowHeight(row);
        place(row, 0, (this->height() - height) / 2, height, kOneRowSpacing);
        return;
    }
    const auto firstLeading = shown({play_, timecode_});
    const auto firstTrailing = shown({speed_});
    const auto secondLeading = shown({skip_});
    const auto secondTrailing = shown({result_, loop_});
    const int first = rowHeight(shown({play_, timecode_, speed_}));
    const int second = rowHeight(shown({skip_, result_, loop_}));
    const int top = (height() - (first + kRowGap + second)) / 2;
    place(firstLeading, 0, top, first, kTwoRowSpacing);
    place(firstTrailing, width() - rowWidth(firstTrailing, kTwoRowSpacing), top, first, kTwoRowSpacing);
    const int secondTop = top + first + kRowGap;
    place(secondLeading, 0, secondTop, second, kTwoRowSpacing);
    place(secondTrailing, width() - rowWidth(secondTrailing, kTwoRowSpacing), secondTop, second,
          kTwoRowSpacing);
}

}  // namespace talvian
