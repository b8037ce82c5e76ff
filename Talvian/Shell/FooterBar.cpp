#include "FooterBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Support/UnicodeText.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kFooterSpacing = 18;
constexpr int kFooterSideMargin = 22;
constexpr int kFooterIconPixels = 14;
constexpr int kMinimumTrailingSpace = 8;
constexpr int kCardPadding = 20;
constexpr int kCardSpacing = 12;
constexpr double kCardCornerRadius = 12;
constexpr int kCardTitlePixels = 17;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

// ---- Footer

FooterBar::FooterBar(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    setFixedHeight(kHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kFooterSideMargin, 0, kFooterSideMargin, 0);
    row->setSpacing(kFooterSpacing);

    auto* local = new QHBoxLayout;
    local->setSpacing(6);
    local->addWidget(makeSymbol("desktopcomputer", kFooterIconPixels, Studio::secondary));
    local->addWidget(
        makeLabel(L("本机处理 · 原文件保留"), Studio::kBodyPixels, QFont::Normal, Studio::secondary));
    row->addLayout(local);

    saved_ = makeLabel(L("已备份到本机"), Studio::kBodyPixels, QFont::Normal, Studio::secondary, this);
    row->addWidget(saved_);
    retry_ = new StudioButton(qt(L("备份失败，重试")), false, this);
    row->addWidget(retry_);
    row->addStretch(1);
    row->addSpacing(kMinimumTrailingSpace);

    connect(retry_, &QAbstractButton::clicked, this, [this] { workspace_.retrySessionBackup(); });
    bindSlices(*this, workspace_, {Slice::document}, [this] { refresh(); });
    refresh();
}

FooterBar::BackupDisplay FooterBar::backupDisplay(bool hasProject, bool saved, bool hasIssue) {
    if (!hasProject) return BackupDisplay::none;
    if (hasIssue) return BackupDisplay::retry;
    return saved ? BackupDisplay::saved : BackupDisplay::none;
}

void FooterBar::refresh() {
    const BackupDisplay display =
        backupDisplay(workspace_.document().project.has_value(), workspace_.document().sessionBackupSaved,
                      workspace_.document().sessionBackupIssue.has_value());
    saved_->setVisible(display == BackupDisplay::saved);
    retry_->setVisible(display == BackupDisplay::retry);
    // The button names the failure, not its reason: the reason is there on hover and for
    // screen readers.
    const QString reason = qt(workspace_.document().sessionBackupIssue.value_or(std::string()));
    retry_->setToolTip(plainToolTip(reason));
    retry_->setAccessibleDescription(reason);
}

// ---- Recovery card

RecoveryCard::RecoveryCard(Workspace& workspace, QWidget* parent)
    : FilledShape(Studio::panel, kCardCornerRadius, parent), workspace_(workspace) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
    stack->setSpacing(kCardSpacing);

    auto* title = new QHBoxLayout;
    title->setSpacing(8);
    title->addWidget(makeSymbol("exclamationmark.triangle", kCardTitlePixels, Studio::text));
    title->addWidget(makeLabel(L("找不到原素材"), kCardTitlePixels, QFont::DemiBold, Studio::text));
    title->addStretch(1);
    stack->addLayout(title);

    path_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::secondary, this);
    path_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    path_->setWordWrap(true);
    stack->addWidget(path_);

    auto* buttons = new QHBoxLayout;
    auto* retry = new StudioButton(qt(L("恢复后重试")), false, this);
    relocate_ = new StudioButton(qt(L("重新定位…")), false, this);
    auto* close = new StudioButton(qt(L("关闭")), false, this);
    buttons->addWidget(retry);
    buttons->addWidget(relocate_);
    buttons->addWidget(close);
    buttons->addStretch(1);
    stack->addLayout(buttons);

    connect(retry, &QAbstractButton::clicked, this, [this] { workspace_.retryProjectLoad(); });
    connect(relocate_, &QAbstractButton::clicked, this, [this] { workspace_.relocateSource(recovery_); });
    connect(close, &QAbstractButton::clicked, this, [this] { workspace_.dismissProjectRecovery(); });
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    bindSlices(*this, workspace_, {Slice::document},
               [this] { setRecovery(workspace_.document().projectRecovery); });
    hide();
    setRecovery(workspace_.document().projectRecovery);
}

void RecoveryCard::setRecovery(const std::optional<ProjectRecovery>& recovery) {
    if (recovery == recovery_) return;
    recovery_ = recovery;
    setVisible(recovery.has_value());
    if (!recovery) return;
    path_->setText(QString::fromStdString(displayedName(recovery->sourcePath)));
    relocate_->setVisible(recovery->canRelocate);
}

}  // namespace talvian
