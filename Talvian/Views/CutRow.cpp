#include "CutRow.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Kit/StudioLabel.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "TimePresentation.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr double kSelectedFillOpacity = 0.12;
// A pair must last longer than this (seconds), as the controller's edit rules demand.
constexpr double kMinimumLength = 0.08;
constexpr int kPartSpacing = 14;
constexpr int kAuditionSpacing = 8;
constexpr int kBoundarySpacing = 10;
constexpr int kFieldWidth = 68;
constexpr int kFieldLabelSpacing = 4;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// The time, a spacer and the length; the row's own painting draws the texts.
void paintTopLine(QPainter& painter, const QRectF& line, const CutRegion& cut, const CutRowState& state,
                  bool withMark) {
    if (withMark) {
        const QPixmap mark = Studio::symbol(CutRowLook::markSymbol(cut, state), CutRowLook::kMarkPixels,
                                            CutRowLook::markColor(cut));
        const QSizeF markSize = mark.deviceIndependentSize();
        painter.drawPixmap(QPointF(line.left() + (CutRowLook::kMarkWidth - markSize.width()) / 2,
                                   line.top() + (line.height() - markSize.height()) / 2),
                           mark);
    }
    const QRectF texts = line.adjusted(CutRowLook::kMarkWidth + CutRowLook::kTopLineSpacing, 0, 0, 0);
    const QFont time =
        Studio::monospacedDigitFont(Studio::kBodyPixels, state.selected ? QFont::DemiBold : QFont::Normal);
    painter.setPen(Studio::text);
    painter.setFont(time);
    painter.drawText(texts, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, qs(timeLabel(cut.start)));
    painter.setFont(Studio::monospacedDigitFont(time.pixelSize()));
    painter.drawText(texts, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                     qs(CutRowLook::lengthText(cut)));
}

// The mark button of the row widget: the symbol only, no fill. Checked while it shows the
// checkmark, so that screen readers hear the mark too; only the controller changes it.
class MarkButton : public QAbstractButton {
  public:
    explicit MarkButton(QWidget* parent) : QAbstractButton(parent) {
        setFocusPolicy(Qt::TabFocus);
        setFixedSize(CutRowLook::kMarkWidth, CutRowLook::kTopLineHeight);
        setCheckable(true);
        connect(this, &QAbstractButton::toggled, this, [this](bool on) {
            if (on == shownChecked_) return;
            // Flipped from outside (assistive technology toggles without a click): the mark
            // shows the controller's state again, and the controller hears a click.
            setChecked(shownChecked_);
            emit clicked(shownChecked_);
        });
    }
    void setLook(const char* symbol, const QColor& colour) {
        symbol_ = symbol;
        colour_ = colour;
        shownChecked_ = std::string_view(symbol) == "checkmark";
        setChecked(shownChecked_);
        update();
    }
    const char* symbolName() const { return symbol_; }

  protected:
    // A click asks the controller, whose answer comes back through setLook().
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (isDown()) painter.setOpacity(Studio::kPressedOpacity);
        const QPixmap pixmap = Studio::symbol(symbol_, CutRowLook::kMarkPixels, colour_);
        const QSizeF size = pixmap.deviceIndependentSize();
        painter.drawPixmap(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), pixmap);
    }

  private:
    const char* symbol_ = "minus";
    QColor colour_ = Studio::secondary;
    bool shownChecked_ = false;
};

// The select area: a button whose whole rectangle takes clicks, with the modifiers of that
// click; pressed by assistive technology it selects without modifiers. The row paints its text.
class SelectArea : public QAbstractButton {
  public:
    SelectArea(std::function<void(Qt::KeyboardModifiers)> clicked, QWidget* parent)
        : QAbstractButton(parent), clicked_(std::move(clicked)) {
        setFixedHeight(CutRowLook::kTopLineHeight);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        connect(this, &QAbstractButton::clicked, this, [this] { clicked_(std::exchange(modifiers_, {})); });
    }

  protected:
    void paintEvent(QPaintEvent*) override {}
    void mouseReleaseEvent(QMouseEvent* event) override {
        modifiers_ = event->modifiers();
        QAbstractButton::mouseReleaseEvent(event);
        modifiers_ = {};
    }

  private:
    std::function<void(Qt::KeyboardModifiers)> clicked_;
    Qt::KeyboardModifiers modifiers_;
};

}  // namespace

namespace CutRowLook {

const char* markSymbol(const CutRegion& cut, const CutRowState& state) {
    const bool checked = state.batchMode ? state.inBatch : cut.remove;
    return checked ? "checkmark" : "minus";
}

QColor markColor(const CutRegion& cut) {
    return cut.remove ? Studio::coral : Studio::secondary;
}

QColor cardColor(const CutRowState& state) {
    return state.selected || state.inBatch ? Studio::withOpacity(Studio::coral, kSelectedFillOpacity)
                                           : Studio::panel;
}

std::string lengthText(const CutRegion& cut) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f s", cut.duration());
    return text;
}

QRectF markRect(const QRectF& rect) {
    return {rect.left() + kPadding, rect.top() + kPadding, kMarkWidth, kTopLineHeight};
}

void paintCollapsed(QPainter& painter, const QRectF& rect, const CutRegion& cut, const CutRowState& state) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(cardColor(state));
    painter.drawRoundedRect(rect, kCornerRadius, kCornerRadius);
    if (state.disabled) painter.setOpacity(Studio::kDisabledOpacity);
    const QRectF line(rect.left() + kPadding, rect.top() + kPadding, rect.width() - 2 * kPadding,
                      kTopLineHeight);
    paintTopLine(painter, line, cut, state, true);
    painter.restore();
}

}  // namespace CutRowLook

CutRow::CutRow(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(CutRowLook::kPadding, CutRowLook::kPadding, CutRowLook::kPadding,
                               CutRowLook::kPadding);
    column->setSpacing(kPartSpacing);

    auto* top = new QHBoxLayout;
    top->setSpacing(CutRowLook::kTopLineSpacing);
    auto* mark = new MarkButton(this);
    mark_ = mark;
    connect(mark, &QAbstractButton::clicked, this, &CutRow::markClicked);
    select_ = new SelectArea([this](Qt::KeyboardModifiers modifiers) { selectClicked(modifiers); }, this);
    top->addWidget(mark_);
    top->addWidget(select_, 1);
    column->addLayout(top);

    details_ = new QWidget(this);
    auto* detailColumn = new QVBoxLayout(details_);
    detailColumn->setContentsMargins(0, 0, 0, 0);
    detailColumn->setSpacing(kPartSpacing);

    auditionLine_ = new QWidget(details_);
    auto* audition = new QHBoxLayout(auditionLine_);
    audition->setContentsMargins(0, 0, 0, 0);
    audition->setSpacing(kAuditionSpacing);
    original_ = new StudioButton(qs(L("听原音")), false, auditionLine_);
    edited_ = new StudioButton(qs(L("听剪后")), false, auditionLine_);
    for (auto* button : {original_, edited_}) {
        button->setSymbol("play.fill");
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        audition->addWidget(button, 1);
    }
    connect(original_, &QAbstractButton::clicked, this,
            [this] { workspace_.audition(cut_.id, AuditionMode::original); });
    connect(edited_, &QAbstractButton::clicked, this,
            [this] { workspace_.audition(cut_.id, AuditionMode::edited); });
    detailColumn->addWidget(auditionLine_);

    auto* boundaries = new QHBoxLayout;
    boundaries->setSpacing(kBoundarySpacing);
    flip_ = new StudioLink(qs(L("删除此停顿")), Studio::coral, details_);
    connect(flip_, &QAbstractButton::clicked, this, [this] { workspace_.toggleCut(cut_.id); });
    boundaries->addWidget(flip_, 0, Qt::AlignBottom);
    boundaries->addStretch(1);
    auto field = [&](const char* title) {
        auto* box = new QVBoxLayout;
        box->setSpacing(kFieldLabelSpacing);
        box->addWidget(makeLabel(L(title), Studio::kBodyPixels, QFont::Normal, Studio::secondary, details_));
        auto* made = new StudioField(qs(L(title)), details_);
        made->setFont(Studio::monospacedDigitFont(Studio::kBodyPixels));
        made->setFixedWidth(kFieldWidth);
        made->setAccessibleName(qs(L(title)));
        box->addWidget(made);
        boundaries->addLayout(box);
        // Submitting either field reads both texts.
        connect(made, &QLineEdit::returnPressed, this, &CutRow::applyBoundary);
        return made;
    };
    startField_ = field("起点");
    endField_ = field("终点");
    detailColumn->addLayout(boundaries);

    complaint_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::coral, details_);
    complaint_->setWordWrap(true);
    complaint_->hide();
    detailColumn->addWidget(complaint_);
    column->addWidget(details_);
    details_->hide();
}

std::string CutRow::boundaryIssueText() {
    return L("请输入素材范围内的有效起止时间，长度须超过 0.08 秒。");
}

std::optional<std::pair<double, double>> CutRow::boundaryDecision(const std::string& start,
                                                                  const std::string& end,
                                                                  const CutRegion& cut, double duration) {
    auto read = [](const std::string& text, double stored) -> std::optional<double> {
        if (text == TimePresentation::boundary(stored)) return stored;
        return Workspace::manualSeconds(text);
    };
    const auto s = read(start, cut.start);
    if (!s) return std::nullopt;
    const auto e = read(end, cut.end);
    if (!e) return std::nullopt;
    if (!std::isfinite(*s) || !std::isfinite(*e)) return std::nullopt;
    if (*s < 0 || *e > duration || !(*e - *s > kMinimumLength)) return std::nullopt;
    return std::pair{*s, *e};
}

void CutRow::setCut(const CutRegion& cut, const CutRowState& state) {
    const bool otherRegion = !shown_ || cut.id != cut_.id;
    const bool regionChanged = otherRegion || !(cut == cut_);
    const bool stateChanged = !shown_ || !(state == state_);
    if (otherRegion && shown_ && boundaryIssue_) complaints_[cut_.id] = *boundaryIssue_;
    cut_ = cut;
    state_ = state;
    shown_ = true;
    if (otherRegion) setIssue(complaintFor(cut_.id));
    if (regionChanged) resetTexts();
    // The preview becomes ready (or stops) without any change to the region or the row.
    auditionLine_->setEnabled(workspace_.playback().previewReady);
    if (!regionChanged && !stateChanged) return;

    auto* mark = static_cast<MarkButton*>(mark_);
    mark->setLook(CutRowLook::markSymbol(cut_, state_), CutRowLook::markColor(cut_));
    mark->setAccessibleName(qs(state_.batchMode ? L("选择区间") : L("切换保留或删除")));
    select_->setAccessibleName(qs(timeLabel(cut_.start)));
    flip_->setText(qs(cut_.remove ? L("保留此停顿") : L("删除此停顿")));
    flip_->adjustSize();
    const bool expanded = state_.selected && !state_.batchMode;
    const bool wasExpanded = details_->isVisibleTo(this);
    details_->setVisible(expanded);
    setEnabled(!state_.disabled);
    update();
    if (expanded != wasExpanded) emit heightChanged();
}

std::optional<std::string> CutRow::complaintFor(const Uuid& id) const {
    const auto found = complaints_.find(id);
    if (found == complaints_.end()) return std::nullopt;
    return found->second;
}

void CutRow::keepComplaintsOf(const std::vector<CutRegion>& listed) {
    const auto isListed = [&](const Uuid& id) {
        return std::any_of(listed.begin(), listed.end(),
                           [&](const CutRegion& region) { return region.id == id; });
    };
    std::erase_if(complaints_, [&](const auto& entry) { return !isListed(entry.first); });
    // The region shown last left the list: an undo that brings it back brings no old complaint.
    if (shown_ && !isListed(cut_.id)) setIssue(std::nullopt);
}

void CutRow::resetTexts() {
    const QString start = qs(TimePresentation::boundary(cut_.start));
    const QString end = qs(TimePresentation::boundary(cut_.end));
    // Unchanged texts are left alone, so a field being typed in keeps its caret.
    for (auto [field, text] : {std::pair{startField_, start}, std::pair{endField_, end}}) {
        if (field->text() == text) continue;
        const QSignalBlocker blocker(field);
        field->setText(text);
    }
}

void CutRow::applyBoundary() {
    const auto& project = workspace_.document().project;
    const double duration = project ? project->info.duration : 0;
    const auto pair =
        boundaryDecision(startField_->text().toStdString(), endField_->text().toStdString(), cut_, duration);
    if (!pair) return setIssue(boundaryIssueText());
    setIssue(std::nullopt);
    complaints_.erase(cut_.id);
    // The controller's change comes back through the list, which resets the texts then.
    workspace_.adjustCut(cut_.id, pair->first, pair->second);
}

void CutRow::setIssue(std::optional<std::string> issue) {
    if (issue == boundaryIssue_) return;
    boundaryIssue_ = std::move(issue);
    complaint_->setText(boundaryIssue_ ? qs(*boundaryIssue_) : QString());
    complaint_->setVisible(boundaryIssue_.has_value());
    emit heightChanged();
}

void CutRow::markClicked() {
    if (state_.batchMode)
        workspace_.toggleBatchCut(cut_.id, false);
    else
        workspace_.toggleCut(cut_.id);
}

void CutRow::selectClicked(Qt::KeyboardModifiers modifiers) {
    workspace_.selectCutRow(cut_.id, modifiers.testFlag(Qt::ControlModifier),
                            modifiers.testFlag(Qt::ShiftModifier));
}

int CutRow::heightForWidth(int width) const {
    if (!details_->isVisibleTo(this)) return CutRowLook::kCollapsedHeight;
    // Only a shown complaint wraps; without it the layout's own height holds at any width.
    return layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                         : layout()->totalSizeHint().height();
}

QSize CutRow::sizeHint() const {
    const int width = layout()->sizeHint().width();
    return {width, heightForWidth(std::max(width, this->width()))};
}

void CutRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(CutRowLook::cardColor(state_));
    painter.drawRoundedRect(QRectF(rect()), CutRowLook::kCornerRadius, CutRowLook::kCornerRadius);
    if (!isEnabled()) painter.setOpacity(Studio::kDisabledOpacity);
    // The time and the length, drawn under the select area, which only takes the clicks.
    const QRectF line(CutRowLook::kPadding, CutRowLook::kPadding, width() - 2.0 * CutRowLook::kPadding,
                      CutRowLook::kTopLineHeight);
    paintTopLine(painter, line, cut_, state_, false);
}

}  // namespace talvian
