#include "BoundaryForm.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Kit/StudioLabel.h"
#include "Model/CutAdjustment.h"
#include "Model/Localization.h"
#include "Support/NumberText.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kWidth = 380;
constexpr int kPadding = 20;
constexpr int kSpacing = 12;
constexpr int kFieldLabelWidth = 78;
constexpr int kHeadlinePixels = 13;
constexpr int kCaptionPixels = 11;
constexpr int kEdgeDecimals = 4;

// The colour of the validation text.
const QColor& orange() {
    static const QColor colour = QColor::fromRgbF(0.72f, 0.30f, 0.12f);
    return colour;
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

BoundaryForm::BoundaryForm(Workspace& workspace, const CutRegion& cut, double duration,
                           std::function<void()> close, QWidget* parent)
    : QWidget(parent), workspace_(workspace), cut_(cut), duration_(duration), close_(std::move(close)) {
    setFixedWidth(kWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(kSpacing);

    stack->addWidget(makeLabel(L("调整区间边界"), kHeadlinePixels, QFont::Bold, Studio::text, this));
    auto* note = makeLabel(L("时间对应原素材。可先试听草稿，应用后可撤销。"), kCaptionPixels, QFont::Normal,
                           Studio::secondary, this);
    note->setWordWrap(true);
    stack->addWidget(note);

    auto addRow = [&](const char* title, const char* placeholder, const char* accessible, double value) {
        auto* row = new QHBoxLayout;
        auto* name = makeLabel(L(title), Studio::kBodyPixels, QFont::Normal, Studio::text, this);
        name->setFixedWidth(kFieldLabelWidth);
        row->addWidget(name);
        auto* field = new StudioField(qs(L(placeholder)), this);
        field->setAccessibleName(qs(L(accessible)));
        field->setText(qs(fixedDecimal(value, kEdgeDecimals)));
        row->addWidget(field, 1);
        stack->addLayout(row);
        return field;
    };
    startField_ = addRow("起点（秒）", "起点秒数", "调整起点秒数", cut_.start);
    endField_ = addRow("终点（秒）", "终点秒数", "调整终点秒数", cut_.end);

    validation_ = makeLabel({}, kCaptionPixels, QFont::Normal, orange(), this);
    validation_->setWordWrap(true);
    stack->addWidget(validation_);

    auto* buttons = new QHBoxLayout;
    original_ = new StudioButton(qs(L("听原音")), false, this);
    original_->setToolTip(qs(L("试听草稿区间及前后各1.2秒；可在试听栏开启循环")));
    edited_ = new StudioButton(qs(L("听剪后")), false, this);
    edited_->setToolTip(qs(L("按草稿边界试听剪后节奏，尚未应用到项目")));
    cancel_ = new StudioButton(qs(L("取消")), false, this);
    apply_ = new StudioButton(qs(L("应用")), true, this);
    buttons->addWidget(original_);
    buttons->addWidget(edited_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(apply_);
    stack->addLayout(buttons);

    connect(original_, &QAbstractButton::clicked, this, [this] { audition(AuditionMode::original); });
    connect(edited_, &QAbstractButton::clicked, this, [this] { audition(AuditionMode::edited); });
    connect(cancel_, &QAbstractButton::clicked, this, &BoundaryForm::cancel);
    connect(apply_, &QAbstractButton::clicked, this, &BoundaryForm::apply);
    connect(startField_, &QLineEdit::textChanged, this, &BoundaryForm::textChanged);
    connect(endField_, &QLineEdit::textChanged, this, &BoundaryForm::textChanged);
    // The audition buttons need the preview player.
    bindSlices(*this, workspace_, {Slice::playback}, [this] { refresh(); });
    refresh();
}

BoundaryForm::~BoundaryForm() = default;

std::optional<std::string> BoundaryForm::validation(const std::string& start, const std::string& end,
                                                    const CutRegion& cut, double duration) {
    const auto s = CutAdjustmentState::resolved(start, cut.start);
    const auto e = CutAdjustmentState::resolved(end, cut.end);
    if (!s || !e || !std::isfinite(*s) || !std::isfinite(*e)) return L("请输入有效的秒数。");
    if (*s >= 0 && *e <= duration) {
        if (*e - *s > CutAdjustmentState::kMinimumLength) return std::nullopt;
        return L("终点应比起点晚超过 0.08 秒。");
    }
    return L("范围应在 0 到 %@ 秒内。", fixedDecimal(duration, kEdgeDecimals));
}

std::optional<std::string> BoundaryForm::validation() const {
    return validation(startField_->text().toStdString(), endField_->text().toStdString(), cut_, duration_);
}

std::optional<std::pair<double, double>> BoundaryForm::typedRange() const {
    if (validation()) return std::nullopt;
    const auto s = CutAdjustmentState::resolved(startField_->text().toStdString(), cut_.start);
    const auto e = CutAdjustmentState::resolved(endField_->text().toStdString(), cut_.end);
    if (!s || !e) return std::nullopt;
    return std::pair{*s, *e};
}

void BoundaryForm::audition(AuditionMode mode) {
    const auto range = typedRange();
    if (!range || !workspace_.playback().previewReady) return;
    const auto project = workspace_.adjustmentProject(cut_.id, range->first, range->second);
    if (!project) return;
    for (const auto& region : project->cuts) {
        if (region.id == cut_.id) {
            workspace_.beginAudition(region, *project, mode, true, false);
            return;
        }
    }
}

void BoundaryForm::apply() {
    const auto range = typedRange();
    if (!range) return;
    workspace_.stopAdjustmentAudition(cut_.id);
    workspace_.adjustCut(cut_.id, range->first, range->second);
    if (close_) close_();
}

void BoundaryForm::cancel() {
    workspace_.stopAdjustmentAudition(cut_.id);
    if (close_) close_();
}

void BoundaryForm::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            apply();
            return;
        case Qt::Key_Escape:
            cancel();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void BoundaryForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    workspace_.stopAdjustmentAudition(cut_.id);
}

void BoundaryForm::textChanged() {
    // A draft audition never plays another range than the fields show.
    workspace_.stopAdjustmentAudition(cut_.id);
    refresh();
}

void BoundaryForm::refresh() {
    const auto issue = validation();
    validation_->setVisible(issue.has_value());
    validation_->setText(issue ? qs(*issue) : QString());
    original_->setEnabled(!issue && workspace_.playback().previewReady);
    edited_->setEnabled(!issue && workspace_.playback().previewReady);
    apply_->setEnabled(!issue);
}

BoundaryFormPopover::BoundaryFormPopover(Workspace& workspace, const CutRegion& cut, double duration,
                                         QWidget* anchor)
    : StudioPopover(anchor) {
    setAccessibleName(qs(L("调整区间边界")));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    form_ = new BoundaryForm(
        workspace, cut, duration, [this] { close(); }, this);
    layout->addWidget(form_);
    form_->startField().setFocus();
}

}  // namespace talvian
