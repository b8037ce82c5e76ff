#include "StartScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "FooterBar.h"
#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Support/UnicodeText.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kPadding = 28;
constexpr int kSpacing = 24;
constexpr int kDropAreaPadding = 28;
constexpr int kDropAreaSpacing = 22;
constexpr double kDropAreaCornerRadius = 12;
constexpr int kSymbolPixels = 58;
constexpr int kTitlePixels = 34;
constexpr int kSubtitlePixels = 16;
constexpr int kChooseExtraSpace = 8;
constexpr int kHeadingPixels = 17;
constexpr int kResumePadding = 16;
constexpr int kRecentPadding = 14;
constexpr int kRowIconPixels = 14;
constexpr int kBackupNoteSpaceBelow = 12;
constexpr int kRecentLabelLines = 2;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QWidget* centred(QWidget* widget) {
    widget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return widget;
}

}  // namespace

StartScreen::StartScreen(Workspace& workspace, QWidget* parent) : QWidget(parent), workspace_(workspace) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(kSpacing);

    recovery_ = new RecoveryCard(workspace_, this);
    stack->addWidget(recovery_);

    // The rounded panel behind the invitation.
    auto* dropArea = new FilledShape(Studio::panel, kDropAreaCornerRadius, this);
    auto* invitation = new QVBoxLayout(dropArea);
    invitation->setContentsMargins(kDropAreaPadding, kDropAreaPadding, kDropAreaPadding, kDropAreaPadding);
    invitation->setSpacing(kDropAreaSpacing);
    invitation->addStretch(1);
    invitation->addWidget(centred(makeSymbol("waveform", kSymbolPixels, Studio::secondary)), 0,
                          Qt::AlignHCenter);
    invitation->addWidget(makeLabel(L("将录音拖到这里"), kTitlePixels, QFont::DemiBold, Studio::text), 0,
                          Qt::AlignHCenter);
    invitation->addWidget(
        makeLabel(L("适合单人口播，不含背景音乐。"), kSubtitlePixels, QFont::Normal, Studio::secondary), 0,
        Qt::AlignHCenter);
    invitation->addSpacing(kChooseExtraSpace);
    auto* choose = new StudioButton(qt(L("选择文件…")), true, dropArea);
    invitation->addWidget(centred(choose), 0, Qt::AlignHCenter);
    auto* sample = new StudioLink(qt(L("试用示例")), Studio::secondary, dropArea);
    invitation->addWidget(centred(sample), 0, Qt::AlignHCenter);
    invitation->addStretch(1);
    stack->addWidget(dropArea, 1);

    auto* heading = new QHBoxLayout;
    heading->addWidget(makeLabel(L("最近剪辑"), kHeadingPixels, QFont::DemiBold, Studio::text));
    heading->addStretch(1);
    auto* open = new StudioLink(qt(L("打开剪辑项目…")), Studio::text, this, false);
    heading->addWidget(open);
    stack->addLayout(heading);

    resume_ = new PanelRowButton(kResumePadding, this);
    resume_->row().addWidget(makeSymbol("clock", kRowIconPixels, Studio::text));
    resumeName_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::text);
    resume_->row().addWidget(resumeName_);
    resume_->row().addStretch(1);
    resume_->row().addWidget(makeLabel(L("继续上次剪辑"), Studio::kBodyPixels, QFont::Normal, Studio::text));
    resume_->finishRow();
    stack->addWidget(resume_);

    recentRows_ = new QVBoxLayout;
    recentRows_->setSpacing(kSpacing);
    stack->addLayout(recentRows_);

    backupNote_ = makeLabel({}, Studio::kBodyPixels, QFont::Normal, Studio::secondary, this);
    backupNote_->setWordWrap(true);
    backupNote_->setContentsMargins(0, 0, 0, kBackupNoteSpaceBelow);
    stack->addWidget(backupNote_);

    connect(choose, &QAbstractButton::clicked, this, [this] { workspace_.importFiles(); });
    connect(sample, &QAbstractButton::clicked, this, [this] { workspace_.sample(); });
    connect(open, &QAbstractButton::clicked, this, [this] { workspace_.openProject(); });
    connect(resume_, &QAbstractButton::clicked, this, [this] { workspace_.resumeSessionBackup(); });
    bindSlices(*this, workspace_, {Slice::document}, [this] { refresh(); });
    // Everything stays visible during a job but does nothing; progress reports change nothing else.
    bindSlices(*this, workspace_, {Slice::guards}, [this] { setEnabled(!workspace_.guards().cutBusy); });
    setEnabled(!workspace_.guards().cutBusy);
    refresh();
}

std::vector<RecentSession> StartScreen::listedSessions(const std::vector<RecentSession>& sessions) {
    const auto count = std::min(sessions.size(), kListedRecentSessions);
    return {sessions.begin(), sessions.begin() + static_cast<std::ptrdiff_t>(count)};
}

bool StartScreen::showsBackupNote(const std::optional<std::string>& backupName,
                                  const std::vector<RecentSession>& sessions) {
    return !backupName && sessions.empty();
}

std::optional<std::string> StartScreen::backupLine(const std::optional<std::string>& backupName,
                                                   const std::vector<RecentSession>& sessions,
                                                   const std::optional<std::string>& backupIssue) {
    if (backupIssue) return backupIssue;
    if (showsBackupNote(backupName, sessions)) return L("你的剪辑会自动备份在这台电脑上。");
    return std::nullopt;
}

void StartScreen::refresh() {
    const auto& backupName = workspace_.document().sessionBackupName;
    resume_->setVisible(backupName.has_value());
    if (backupName) resumeName_->setText(qt(displayedName(*backupName)));
    // A screen reader hears what the row does before the name it shows.
    resume_->setAccessibleName(backupName ? qt(L("继续上次剪辑：%@", displayedName(*backupName)))
                                          : QString());
    const auto listed = listedSessions(workspace_.document().recentSessions);
    if (listed != shownSessions_) rebuildRecentRows(listed);
    const auto line = backupLine(backupName, workspace_.document().recentSessions,
                                 workspace_.document().sessionBackupIssue);
    if (line) backupNote_->setText(qt(*line));
    backupNote_->setVisible(line.has_value());
}

void StartScreen::rebuildRecentRows(const std::vector<RecentSession>& listed) {
    // A row may be the one whose click caused this refresh: it goes once its signal returned.
    while (QLayoutItem* item = recentRows_->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
    shownSessions_ = listed;
    for (const RecentSession& session : listed) {
        auto* row = new PanelRowButton(kRecentPadding, this);
        auto* label = makeLabel(session.menuLabel(), Studio::kBodyPixels, QFont::Normal, Studio::text);
        label->setWordWrap(true);
        label->setMaximumHeight(label->fontMetrics().lineSpacing() * kRecentLabelLines);
        row->row().addWidget(label, 1);
        row->row().addWidget(makeSymbol("chevron.right", kRowIconPixels, Studio::secondary));
        row->finishRow();
        row->setAccessibleName(qt(session.menuLabel()));
        const Uuid id = session.id;
        connect(row, &QAbstractButton::clicked, this, [this, id] { workspace_.resumeRecentSession(id); });
        recentRows_->addWidget(row);
    }
}

}  // namespace talvian
