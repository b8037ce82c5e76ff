#include "ManualCutForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Kit/StudioLabel.h"
#include "Model/CutAdjustment.h"
#include "Model/Localization.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kWidth = 420;
constexpr int kPadding = 24;
constexpr int kSpacing = 18;
constexpr int kTitlePixels = 17;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// Shows the controller's text; a field already showing it is left alone, so the caret and the
// selection of the person typing stay where they are.
void showText(StudioField& field, const std::string& text) {
    const QString wanted = qs(text);
    if (field.text() == wanted) return;
    const QSignalBlocker quiet(&field);
    field.setText(wanted);
}

}  // namespace

ManualCutForm::ManualCutForm(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(kSpacing);

    column->addWidget(makeLabel(L("添加切点"), kTitlePixels, QFont::DemiBold, Studio::text, this));

    auto addLine = [&](const char* placeholder, const char* take, StudioField*& field,
                       StudioButton*& button) {
        auto* line = new QHBoxLayout;
        field = new StudioField(qs(L(placeholder)), this);
        field->setFont(Studio::monospacedDigitFont(Studio::kBodyPixels));
        line->addWidget(field, 1);
        button = new StudioButton(qs(L(take)), false, this);
        line->addWidget(button);
        column->addLayout(line);
    };
    addLine("起点", "取起点", startField_, takeStart_);
    addLine("终点", "取终点", endField_, takeEnd_);

    hint_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::secondary, this);
    hint_->setWordWrap(true);
    column->addWidget(hint_);

    auto* actions = new QHBoxLayout;
    original_ = new StudioButton(qs(L("听原音")), false, this);
    edited_ = new StudioButton(qs(L("听剪后")), false, this);
    add_ = new StudioButton(qs(L("添加")), false, this);
    actions->addWidget(original_);
    actions->addWidget(edited_);
    actions->addStretch(1);
    actions->addWidget(add_);
    column->addLayout(actions);

    // Only a person's typing reaches the controller; texts set from it do not come back.
    connect(startField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { workspace_.setManualStart(text.toStdString()); });
    connect(endField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { workspace_.setManualEnd(text.toStdString()); });
    connect(takeStart_, &QAbstractButton::clicked, this,
            [this] { workspace_.captureManualPosition(CutBoundary::start); });
    connect(takeEnd_, &QAbstractButton::clicked, this,
            [this] { workspace_.captureManualPosition(CutBoundary::end); });
    connect(original_, &QAbstractButton::clicked, this,
            [this] { workspace_.auditionManual(AuditionMode::original); });
    connect(edited_, &QAbstractButton::clicked, this,
            [this] { workspace_.auditionManual(AuditionMode::edited); });
    connect(add_, &QAbstractButton::clicked, this, [this] {
        // The texts as they stand; the form stays open with them.
        workspace_.addManualCut(workspace_.review().manualStart, workspace_.review().manualEnd);
    });

    // The texts live in the review slice and the hint reads the project; the auditions need the
    // preview; the guards enable the rest.
    bindSlices(*this, workspace_, {Slice::review, Slice::document, Slice::playback, Slice::guards},
               [this] { refresh(); });
    refresh();
}

ManualCutForm::Controls ManualCutForm::controls(bool canCapture, bool previewReady, bool canAdd) {
    return {.take = canCapture, .audition = previewReady && canAdd, .add = canAdd};
}

void ManualCutForm::refresh() {
    showText(*startField_, workspace_.review().manualStart);
    showText(*endField_, workspace_.review().manualEnd);
    hint_->setText(qs(workspace_.manualCutHint()));
    const Controls enabled =
        controls(workspace_.guards().canCaptureManualPosition, workspace_.playback().previewReady,
                 workspace_.guards().canAddManualCut);
    takeStart_->setEnabled(enabled.take);
    takeEnd_->setEnabled(enabled.take);
    original_->setEnabled(enabled.audition);
    edited_->setEnabled(enabled.audition);
    add_->setEnabled(enabled.add);
}

ManualCutPopover::ManualCutPopover(Workspace& workspace, QWidget* anchor) : StudioPopover(anchor) {
    setAccessibleName(qs(L("添加切点")));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    form_ = new ManualCutForm(workspace, this);
    layout->addWidget(form_);
    form_->startField().setFocus();
}

}  // namespace talvian
