#include "HeaderBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <algorithm>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/CutProject.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Support/UnicodeText.h"
#include "Views/TimePresentation.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kSpacing = 18;
constexpr int kSideMargin = 22;
constexpr int kTitlePixels = 17;
constexpr double kBarOpacity = 0.6;
constexpr QSize kDividerSize{1, 22};
constexpr double kDividerOpacity = 0.4;
constexpr int kMinimumFlexibleSpace = 8;
// Shown (verbatim) without a source.
const QString kAppName = QStringLiteral("Talvian");

}  // namespace

HeaderBar::HeaderBar(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    setFixedHeight(kHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kSideMargin, 0, kSideMargin, 0);
    row->setSpacing(kSpacing);

    title_ = new ElidedLabel(this);
    title_->setFont(Studio::font(kTitlePixels, QFont::DemiBold));
    title_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    row->addWidget(title_, 0);

    // The vertical rule between the title and the durations.
    divider_ = new FilledShape(Studio::withOpacity(Studio::secondary, kDividerOpacity), 0, this);
    divider_->setFixedSize(kDividerSize);
    row->addWidget(divider_);

    durations_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::secondary, this);
    durations_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(durations_);

    // The row's spacing already keeps the flexible space at least kMinimumFlexibleSpace wide.
    static_assert(kSpacing >= kMinimumFlexibleSpace);
    row->addStretch(1);

    undo_ = StudioButton::iconButton("arrow.uturn.backward", QString::fromStdString(L("撤销")), this);
    redo_ = StudioButton::iconButton("arrow.uturn.forward", QString::fromStdString(L("重做")), this);
    export_ = new StudioButton(QString::fromStdString(L("导出")), true, this);
    row->addWidget(undo_);
    row->addWidget(redo_);
    row->addWidget(export_);

    connect(undo_, &QAbstractButton::clicked, this, [this] { workspace_.undoInContext(); });
    connect(redo_, &QAbstractButton::clicked, this, [this] { workspace_.redoInContext(); });
    connect(export_, &QAbstractButton::clicked, this, &HeaderBar::exportRequested);
    bindSlices(*this, workspace_, {Slice::document, Slice::guards}, [this] { refresh(); });
    refresh();
}

void HeaderBar::setObstructed(bool obstructed) {
    if (obstructed == obstructed_) return;
    obstructed_ = obstructed;
    refresh();
}

std::string HeaderBar::durationText(const CutProject& project) {
    const double total = project.info.duration;
    const double kept = std::max(total - project.removedDuration(), 0.0);
    return TimePresentation::duration(total) + " → " + TimePresentation::duration(kept);
}

bool HeaderBar::canExport(bool hasProject, bool needsAnalysis, bool busy, bool obstructed) {
    return hasProject && !needsAnalysis && !busy && !obstructed;
}

void HeaderBar::refresh() {
    const auto& source = workspace_.document().source;
    const QString name =
        source ? QString::fromStdString(displayedName(source->filename().string())) : kAppName;
    title_->setText(name);
    title_->setToolTip(
        plainToolTip(source ? QString::fromStdString(displayedName(source->string())) : kAppName));

    const auto& project = workspace_.document().project;
    divider_->setVisible(project.has_value());
    durations_->setVisible(project.has_value());
    if (project) {
        // Chosen with the first project: finding a face whose digits share one width takes a
        // font load that the window's first appearance need not wait for.
        if (!digitFontSet_) {
            durations_->setFont(Studio::monospacedDigitFont(Studio::kBodyPixels));
            digitFontSet_ = true;
        }
        durations_->setText(QString::fromStdString(durationText(*project)));
    }

    undo_->setEnabled(workspace_.guards().canUndoCut);
    redo_->setEnabled(workspace_.guards().canRedoCut);
    export_->setEnabled(canExport(project.has_value(), workspace_.guards().needsAnalysis,
                                  workspace_.guards().cutBusy, obstructed_));
}

void HeaderBar::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), Studio::withOpacity(Studio::panel, kBarOpacity));
}

}  // namespace talvian
