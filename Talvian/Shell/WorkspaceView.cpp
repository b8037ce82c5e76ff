#include "WorkspaceView.h"

#include <QAbstractButton>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "DropTarget.h"
#include "EditorView.h"
#include "FooterBar.h"
#include "HeaderBar.h"
#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "ModalPanels.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "StartScreen.h"
#include "TimelineArea.h"
#include "Views/ManualCutForm.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr double kDimOpacity = 0.42;
constexpr double kHighlightCornerRadius = 12;
constexpr double kHighlightLineWidth = 2;
constexpr int kHighlightInset = 6;
// Single keys act only without these (Shift, Caps Lock and the keypad do not block).
constexpr Qt::KeyboardModifiers kKeyBlockers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
const QString kDemoArgument = QStringLiteral("--demo");

// The coral frame while a file is dragged over the window; transparent to the pointer.
class DragHighlight : public QWidget {
  public:
    explicit DragHighlight(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Studio::coral, kHighlightLineWidth));
        const double inset = kHighlightInset + kHighlightLineWidth / 2;
        painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), kHighlightCornerRadius,
                                kHighlightCornerRadius);
    }
};

}  // namespace

WorkspaceView::WorkspaceView(Workspace& workspace, QStringList arguments, QWidget* parent)
    : QWidget(parent), workspace_(workspace), arguments_(std::move(arguments)) {
    setMinimumSize(kMinimumSize);
    setAutoFillBackground(true);
    // The window's own focus: an activated window gives its keys to the first control that
    // takes focus, which would turn the space bar into a press of that button. Holding the
    // focus here (also after a click on an empty spot) lets the keys reach the window.
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);

    content_ = new QWidget(this);
    auto* column = new QVBoxLayout(content_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    header_ = new HeaderBar(workspace_, content_);
    column->addWidget(header_);
    pages_ = new QStackedWidget(content_);
    start_ = new StartScreen(workspace_, pages_);
    editor_ = new EditorView(workspace_, pages_);
    pages_->addWidget(start_);
    pages_->addWidget(editor_);
    // The pages never make the column taller than the window: a page whose content does not
    // fit runs past its bottom, and the footer stays in place.
    pages_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    column->addWidget(pages_, 1);
    footer_ = new FooterBar(workspace_, content_);
    column->addWidget(footer_);

    // Black over the whole window while a panel is open; it swallows the pointer.
    dimmer_ = new FilledShape(Studio::withOpacity(Qt::black, kDimOpacity), 0, this);
    dimmer_->hide();
    dragHighlight_ = new DragHighlight(this);
    dragHighlight_->hide();

    connect(&editor_->timeline(), &TimelineArea::manualPresentedChanged, this,
            &WorkspaceView::setManualPresented);
    connect(header_, &HeaderBar::exportRequested, this, [this] { setModal(ModalPanel::exportPanel); });
    panelFactory_ = [this](ModalPanel modal, WorkspaceView& view) {
        return makeModalPanel(modal, workspace_, view);
    };
    connect(editor_, &EditorView::settingsRequested, this, [this] { setModal(ModalPanel::settings); });
    editor_->timeline().setManualPopoverFactory([this](QWidget* anchor) {
        auto* popover = new ManualCutPopover(workspace_, anchor);
        popover->present();
        return popover;
    });
    bindSlices(*this, workspace_, {Slice::document}, [this] { documentChanged(); });
    bindSlices(*this, workspace_, {Slice::job}, [this] { syncNotice(); });
    shownOutput_ = workspace_.document().cutOutput;
    documentChanged();
    workspace_.setStudioOverlayPresented(false);
}

WorkspaceView::~WorkspaceView() {
    // The alert's end reaches the controller only while this view exists.
    if (notice_) notice_->disconnect(this);
}

bool WorkspaceView::showsStartScreen() const {
    return !workspace_.document().source && !workspace_.document().project;
}

void WorkspaceView::documentChanged() {
    pages_->setCurrentWidget(showsStartScreen() ? static_cast<QWidget*>(start_) : editor_);
    const auto& output = workspace_.document().cutOutput;
    if (output != shownOutput_) {
        shownOutput_ = output;
        if (output) setModal(ModalPanel::done);
    }
}

void WorkspaceView::setModal(std::optional<ModalPanel> modal) {
    QWidget* content = modal && panelFactory_ ? panelFactory_(*modal, *this) : nullptr;
    if (modal && !content) modal.reset();
    if (panel_) {
        panel_->hide();
        panel_->deleteLater();
        panel_ = nullptr;
    }
    modal_ = modal;
    if (content) {
        auto* card = new StudioCard(this);
        auto* frame = new QVBoxLayout(card);
        frame->setContentsMargins(0, 0, 0, 0);
        content->setParent(card);
        frame->addWidget(content);
        // A panel whose content grows or shrinks (a section expanded) is laid out again.
        card->installEventFilter(this);
        panel_ = card;
    }
    content_->setEnabled(!obstructed());
    header_->setObstructed(obstructed());
    dimmer_->setVisible(obstructed());
    layOutOverlays();
    if (panel_) {
        panel_->show();
        panel_->raise();
    }
    dragHighlight_->raise();
    workspace_.setStudioOverlayPresented(obstructed());
    emit modalChanged();
}

bool WorkspaceView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::LayoutRequest) layOutOverlays();
    return QWidget::eventFilter(watched, event);
}

bool WorkspaceView::noticeShown() const {
    return notice_ && notice_->isVisible();
}

void WorkspaceView::syncNotice() {
    const auto& notice = workspace_.job().notice;
    if (!notice) {
        if (notice_) notice_->done(QMessageBox::Cancel);
        return;
    }
    const QString text = QString::fromStdString(*notice);
    if (!notice_) {
        notice_ = makeAlert(L("提示"), text, window());
        notice_->setWindowModality(Qt::WindowModal);
        notice_->setEscapeButton(addAlertButton(*notice_, L("知道了"), QMessageBox::RejectRole));
        // However the alert goes away (its button, Esc, the window's close box), the notice is
        // read.
        connect(notice_, &QMessageBox::finished, this, [this] {
            if (workspace_.job().notice) workspace_.setNotice(std::nullopt);
        });
    }
    notice_->setText(text);
    if (!notice_->isVisible()) notice_->open();
}

bool WorkspaceView::handleKey(const QKeyEvent& event) {
    if (blocked() || manualPresented_ || workspace_.job().busy || (event.modifiers() & kKeyBlockers))
        return false;
    switch (event.key()) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            workspace_.toggleSelectedCuts();
            return true;
        case Qt::Key_Down:
            workspace_.moveReview(1);
            return true;
        case Qt::Key_Up:
            workspace_.moveReview(-1);
            return true;
        default:
            break;
    }
    const QString text = event.text().toLower();
    if (text == QLatin1String("o")) {
        workspace_.auditionReview(AuditionMode::original);
    } else if (text == QLatin1String("r")) {
        workspace_.auditionReview(AuditionMode::edited);
    } else if (text == QLatin1String("u")) {
        workspace_.rewindReview();
    } else if (text == QLatin1String("+") || text == QLatin1String("=")) {
        workspace_.zoomWaveform(true);
    } else if (text == QLatin1String("-")) {
        workspace_.zoomWaveform(false);
    } else if (text == QLatin1String("f")) {
        workspace_.fitWaveform();
    } else {
        return false;
    }
    return true;
}

void WorkspaceView::togglePlayback() {
    if (!blocked()) workspace_.togglePlayback();
}

void WorkspaceView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (started_) return;
    started_ = true;
    // Once the window is on screen: loading the sample never delays its first appearance.
    QTimer::singleShot(0, this, [this] {
        emit firstPainted();
        if (arguments_.contains(kDemoArgument)) workspace_.sample();
    });
}

void WorkspaceView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOutOverlays();
}

void WorkspaceView::setManualPopoverFactory(std::function<QWidget*(QWidget* anchor)> factory) {
    editor_->timeline().setManualPopoverFactory(std::move(factory));
}

void WorkspaceView::layOutOverlays() {
    // The editor's sizes follow the height of the whole content, header and footer included.
    editor_->setContentHeight(height());
    content_->setGeometry(rect());
    dimmer_->setGeometry(rect());
    dragHighlight_->setGeometry(rect());
    if (panel_) {
        const QSize size = panel_->sizeHint().boundedTo(this->size());
        panel_->setGeometry(
            QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size));
    }
}

void WorkspaceView::setDragOver(bool over) {
    if (over == dragOver_) return;
    dragOver_ = over;
    dragHighlight_->setVisible(over);
    dragHighlight_->raise();
}

void WorkspaceView::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) return event->ignore();
    // The frame shows even when the drop will be refused.
    setDragOver(true);
    event->acceptProposedAction();
}

void WorkspaceView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void WorkspaceView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDragOver(false);
    event->accept();
}

void WorkspaceView::dropEvent(QDropEvent* event) {
    setDragOver(false);
    if (DropTarget::drop(workspace_, blocked(), event->mimeData()->urls()))
        event->acceptProposedAction();
    else
        event->ignore();
}

}  // namespace talvian
