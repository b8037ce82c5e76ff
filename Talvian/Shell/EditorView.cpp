#include "EditorView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "FooterBar.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Views/Studio.h"
#include "Views/StudioControls.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kPadding = 16;
constexpr int kSpacing = 14;
constexpr int kProgressWidth = 320;

}  // namespace

EditorView::EditorView(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(kSpacing);
    recovery_ = new RecoveryCard(workspace_, this);
    stack->addWidget(recovery_);

    auto* job = new QHBoxLayout;
    job->setSpacing(kSpacing);
    status_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::secondary, this);
    status_->setWordWrap(true);
    job->addWidget(status_, 1);
    progress_ = new StudioProgress(this);
    progress_->setFixedWidth(kProgressWidth);
    job->addWidget(progress_, 0, Qt::AlignVCenter);
    cancel_ = new StudioButton(QString::fromStdString(L("取消")), false, this);
    job->addWidget(cancel_);
    stack->addLayout(job);
    stack->addStretch(1);

    connect(cancel_, &QAbstractButton::clicked, this, [this] { workspace_.cancelCut(); });
    connect(&workspace_, &Workspace::jobChanged, this, &EditorView::refresh);
    refresh();
}

void EditorView::refresh() {
    status_->setText(QString::fromStdString(workspace_.cutStatus()));
    const bool busy = workspace_.cutBusy();
    progress_->setVisible(busy);
    cancel_->setVisible(busy);
    if (busy) progress_->setFraction(workspace_.cutProgress());
}

}  // namespace talvian
