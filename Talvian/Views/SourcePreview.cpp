#include "SourcePreview.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Kit/StudioLabel.h"
#include "Model/Localization.h"
#include "Player/Player.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kCardPadding = 24;
constexpr int kCardSpacing = 10;
constexpr int kTitlePixels = 15;
// libmpv may announce the first picture of a paused item before it can be drawn, and then
// says nothing more: ask again this often, for about two seconds.
constexpr int kRetryMilliseconds = 40;
constexpr int kMaxRetries = 50;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* centredLabel(const std::string& text, int pixels, QFont::Weight weight, QWidget* parent) {
    QLabel* made = makeLabel(text, pixels, weight, Studio::text, parent);
    made->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return made;
}

}  // namespace

// ---- The picture

PreviewPicture::PreviewPicture(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted, black where there is no picture.
    setAttribute(Qt::WA_OpaquePaintEvent);
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMilliseconds);
    connect(&retry_, &QTimer::timeout, this, [this] {
        frameStale_ = true;
        update();
    });
}

void PreviewPicture::follow(Player* player, std::uint64_t revision) {
    // The controller publishes often; only another player object costs a rebuild.
    // A player that is gone reads as null here, so a new one at its address is never taken
    // for it.
    if (player == player_.data() && revision == revision_) return;
    disconnect(frames_);
    player_ = player;
    revision_ = revision;
    ++rebuilds_;
    // The old player's last picture must not stay on screen for the new one.
    frame_ = QImage();
    frameDrawn_ = false;
    frameStale_ = true;
    retries_ = 0;
    retry_.stop();
    if (player) frames_ = connect(player, &Player::frameReady, this, &PreviewPicture::frameReady);
    update();
}

void PreviewPicture::frameReady() {
    frameStale_ = true;
    retries_ = 0;
    update();
}

void PreviewPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::lround(width() * ratio)),
                       static_cast<int>(std::lround(height() * ratio)));
    if (pixels.isEmpty()) return;
    if (frame_.size() != pixels) {
        frame_ = QImage(pixels, QImage::Format_RGB32);
        frameStale_ = true;
    }
    if (frameStale_) {
        frameStale_ = false;
        // The player keeps the picture's shape and fills the rest with black itself.
        frameDrawn_ = player_ && player_->renderFrame(frame_);
        if (frameDrawn_)
            retries_ = 0;
        else if (player_ && player_->hasItem() && player_->status() != PlayerItemStatus::failed &&
                 retries_ < kMaxRetries) {
            ++retries_;
            retry_.start();
        }
    }
    if (!frameDrawn_) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    frame_.setDevicePixelRatio(ratio);
    painter.drawImage(QPointF(0, 0), frame_);
}

// ---- The view

SourcePreview::SourcePreview(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    picture_ = new PreviewPicture(this);

    card_ = new QWidget(this);
    card_->setAutoFillBackground(true);
    QPalette palette = card_->palette();
    palette.setColor(QPalette::Window, Studio::panel);
    card_->setPalette(palette);
    auto* column = new QVBoxLayout(card_);
    column->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
    column->setSpacing(kCardSpacing);
    column->addStretch(1);
    title_ = centredLabel(L("预览尚未就绪"), kTitlePixels, QFont::DemiBold, card_);
    column->addWidget(title_);
    issue_ = centredLabel({}, Studio::kBodyPixels, QFont::Normal, card_);
    issue_->setWordWrap(true);
    column->addWidget(issue_);
    reselect_ = new StudioButton(qs(L("选择原素材…")), false, card_);
    reselect_->setAccessibleName(qs(L("选择同一原素材，保留剪辑")));
    reselect_->setToolTip(qs(L("选择当前原片，保留已有剪辑")));
    column->addWidget(reselect_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    connect(reselect_, &QAbstractButton::clicked, this, [this] { workspace_.reselectPreviewSource(); });

    // The active player and the issue are playback facts; the guards enable the picture and the
    // button.
    bindSlices(*this, workspace_, {Slice::playback, Slice::guards}, [this] { refresh(); });
    refresh();
}

void SourcePreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    picture_->setGeometry(rect());
    card_->setGeometry(rect());
}

void SourcePreview::refresh() {
    Player* active = workspace_.auditionPlayer();
    if (!active) active = &workspace_.player();
    picture_->follow(active, workspace_.playback().playerRevision);
    picture_->setEnabled(workspace_.guards().canPlayPreview);

    const auto& issue = workspace_.playback().previewIssue;
    // The picture stays installed under the card and its player goes on; hidden, it takes no
    // clicks and is left out of the accessibility tree.
    picture_->setVisible(!issue);
    card_->setVisible(issue.has_value());
    card_->raise();
    issue_->setText(issue ? qs(*issue) : QString());
    reselect_->setEnabled(!workspace_.guards().cutBusy);
}

}  // namespace talvian
