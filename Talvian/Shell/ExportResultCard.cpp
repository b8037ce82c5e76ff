#include "ExportResultCard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Kit/StudioLabel.h"
#include "Model/Localization.h"
#include "Support/UnicodeText.h"
#include "Workspace/DesktopServices.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"
#include "WorkspaceView.h"

namespace talvian {

namespace fs = std::filesystem;

namespace {

// The channel count from which a file is split into one WAV per channel (as the controller).
constexpr std::int64_t kMultichannelCount = 3;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// The path without "." or ".." steps and without a trailing separator.
fs::path normal(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    return normal.has_filename() || !normal.has_relative_path() ? normal : normal.parent_path();
}

// The package folder holds the timeline file directly.
bool holds(const fs::path& folder, const fs::path& file) {
    return normal(file).parent_path() == normal(folder);
}

}  // namespace

ResultCardFacts ResultCardFacts::of(const Workspace& workspace) {
    return {workspace.document().cutOutput,      workspace.exports().exportedAudioChannels,
            workspace.exports().outputIsHandoff, workspace.exports().channelStemsFolder,
            workspace.exports().handoffXMLURL,   workspace.guards().cutBusy};
}

ResultCardState ResultCardState::make(const ResultCardFacts& facts) {
    ResultCardState state;
    if (facts.output) {
        state.outputName = normal(*facts.output).filename().string();
        state.revealed = facts.output;
    }
    state.offersStems =
        facts.output && !facts.outputIsHandoff && facts.channels && *facts.channels >= kMultichannelCount;
    state.stemsEnabled = state.offersStems && !facts.busy;
    state.stemsFolder = facts.stemsFolder;
    if (facts.output && facts.outputIsHandoff && facts.handoffTimeline &&
        holds(*facts.output, *facts.handoffTimeline))
        state.guideTimeline = facts.handoffTimeline;
    return state;
}

// ---- The hand-off guide

HandoffGuide::HandoffGuide(fs::path timeline, QWidget* parent)
    : QWidget(parent), timeline_(std::move(timeline)) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(12);
    auto* text = makeLabel(sentence(timeline_), Studio::kBodyPixels, QFont::Normal, Studio::secondary, this);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    stack->addWidget(text);

    copy_ = new StudioButton(qt(L("复制时间线路径")), false, this);
    copy_->setAccessibleName(qt(L("复制时间线路径")));
    // The chooser of the desktop's file panels takes a typed path after Ctrl+L.
    copy_->setToolTip(qt(L("复制后可在文件选择窗口按 Ctrl+L，再粘贴路径")));
    stack->addWidget(copy_, 0, Qt::AlignHCenter);
    connect(copy_, &QAbstractButton::clicked, this, &HandoffGuide::copyPath);
    showCopied();
}

std::string HandoffGuide::sentence(const fs::path& timeline) {
    return L("在剪映或 DaVinci Resolve 中导入时间线文件“%@”。具体步骤见交接包里的“导入说明”。",
             displayedName(timeline.filename().string()));
}

void HandoffGuide::copyPath() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString path = QString::fromStdString(timeline_.string());
    clipboard->clear();
    clipboard->setText(path);
    // A clipboard the desktop refused keeps whatever it had: only the read-back tells.
    copied_ = clipboard->text() == path;
    showCopied();
}

void HandoffGuide::showCopied() {
    copy_->setText(qt(copied_ ? L("已复制路径") : L("复制时间线路径")));
    copy_->setAccessibleDescription(qt(copied_ ? L("已复制路径") : L("尚未复制")));
    setStudioAccessibleValue(*copy_, qt(copied_ ? L("已复制路径") : L("尚未复制")));
    copy_->updateGeometry();
}

// ---- The card

ExportResultCard::ExportResultCard(Workspace& workspace, WorkspaceView& view, QWidget* parent)
    : QWidget(parent), workspace_(workspace), view_(view) {
    setFixedWidth(kWidth);
    stack_ = new QVBoxLayout(this);
    stack_->setContentsMargins(32, 32, 32, 32);
    stack_->setSpacing(22);
    stack_->setAlignment(Qt::AlignHCenter);

    stack_->addWidget(makeSymbol("checkmark.circle", 42, Studio::coral, this), 0, Qt::AlignHCenter);
    stack_->addWidget(makeLabel(L("导出完成"), 25, QFont::DemiBold, Studio::text, this), 0, Qt::AlignHCenter);

    name_ = makeLabel("", Studio::kBodyPixels, QFont::Normal, Studio::text, this);
    name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    name_->setWordWrap(true);
    name_->setAlignment(Qt::AlignHCenter);
    stack_->addWidget(name_);

    auto* kept = makeLabel(L("原文件和剪辑项目均已保留。"), Studio::kBodyPixels, QFont::Normal,
                           Studio::secondary, this);
    stack_->addWidget(kept, 0, Qt::AlignHCenter);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    auto* open = new StudioButton(qt(L("打开文件夹")), false, this);
    stems_ = new StudioButton(qt(L("声道 WAV…")), false, this);
    showStems_ = new StudioButton(qt(L("显示声道")), false, this);
    auto* done = new StudioButton(qt(L("完成")), false, this);
    row->addStretch();
    for (auto* button : {open, stems_, showStems_, done}) row->addWidget(button, 0, Qt::AlignVCenter);
    row->addStretch();
    stack_->addLayout(row);

    connect(open, &QAbstractButton::clicked, this, &ExportResultCard::reveal);
    connect(stems_, &QAbstractButton::clicked, this, &ExportResultCard::exportStems);
    connect(showStems_, &QAbstractButton::clicked, this, [this] {
        if (state_.stemsFolder) workspace_.desktopServices().revealFile(*state_.stemsFolder);
    });
    connect(done, &QAbstractButton::clicked, this, &ExportResultCard::close);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &ExportResultCard::close);

    bindSlices(*this, workspace_, {Slice::exports, Slice::document, Slice::guards}, [this] { refresh(); });
    refresh();
}

void ExportResultCard::refresh() {
    ResultCardState state = ResultCardState::make(ResultCardFacts::of(workspace_));
    if (shown_ && state == state_) return;
    const bool newGuide = !shown_ || state.guideTimeline != state_.guideTimeline;
    state_ = std::move(state);
    shown_ = true;

    name_->setText(qt(displayedName(state_.outputName)));
    name_->setVisible(!state_.outputName.empty());
    stems_->setVisible(state_.offersStems);
    stems_->setEnabled(state_.stemsEnabled);
    showStems_->setVisible(state_.stemsFolder.has_value());
    if (newGuide) {
        // A new timeline starts a new guide, its "copied" flag false again.
        delete guide_;
        guide_ = nullptr;
        if (state_.guideTimeline) {
            guide_ = new HandoffGuide(*state_.guideTimeline, this);
            stack_->addWidget(guide_);
        }
    }
    adjustSize();
}

void ExportResultCard::close() {
    view_.setModal(std::nullopt);
}

void ExportResultCard::reveal() {
    if (state_.revealed)
        workspace_.desktopServices().revealFile(*state_.revealed);
    else
        workspace_.openOutput();
}

void ExportResultCard::exportStems() {
    if (!state_.stemsEnabled) return;
    Workspace& workspace = workspace_;
    // Closing destroys this card (later); the controller's folder panel follows.
    close();
    workspace.exportChannelStems();
}

}  // namespace talvian
