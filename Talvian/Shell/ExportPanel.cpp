#include "ExportPanel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QShortcut>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

#include "ExportCodecText.h"
#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Kit/StudioLabel.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Support/UnicodeText.h"
#include "Workspace/DesktopServices.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"
#include "WorkspaceView.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

constexpr int kPadding = 30;
constexpr int kSpacing = 22;
constexpr int kTitlePixels = 26;
constexpr int kBoxPadding = 14;
constexpr int kSegmentsPadding = 3;
constexpr int kSegmentVerticalPadding = 11;
constexpr double kBoxCornerRadius = 10;
constexpr double kSegmentCornerRadius = 8;
constexpr int kSummaryPadding = 18;
constexpr int kSummarySpacing = 16;
constexpr int kFolderSpacing = 10;
constexpr int kButtonSpacing = 14;
constexpr int kRowMinimumGap = 20;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* secondaryText(const std::string& text, QWidget* parent = nullptr) {
    QLabel* label = makeLabel(text, Studio::kBodyPixels, QFont::Normal, Studio::secondary, parent);
    label->setWordWrap(true);
    return label;
}

// One half of the M4A / WAV choice: the title in medium weight on a lighter rounded
// rectangle while its format is the chosen one (and then checked).
class FormatSegment : public QAbstractButton {
  public:
    FormatSegment(const QString& title, QWidget* parent) : QAbstractButton(parent) {
        setText(title);
        makeStudioChoice(*this);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        const QFontMetrics metrics(Studio::font(Studio::kBodyPixels, QFont::Medium));
        return {metrics.horizontalAdvance(text()) + 24, metrics.height() + 2 * kSegmentVerticalPadding};
    }

  protected:
    // The controller's format decides which segment is checked, never the click itself.
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (isChecked()) {
            QPainterPath shape;
            shape.addRoundedRect(QRectF(rect()), kSegmentCornerRadius, kSegmentCornerRadius);
            painter.fillPath(shape, Studio::withOpacity(Qt::white, 0.15));
        }
        if (isDown()) painter.setOpacity(Studio::kPressedOpacity);
        painter.setFont(Studio::font(Studio::kBodyPixels, QFont::Medium));
        painter.setPen(Studio::text);
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

// One summary row: the label, a gap of at least 20, the value at the trailing edge.
QWidget* summaryRow(const std::string& label, QLabel*& value, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QLabel* name = makeLabel(label, Studio::kBodyPixels, QFont::Normal, Studio::secondary, row);
    layout->addWidget(name, 0, Qt::AlignTop);
    layout->addSpacing(kRowMinimumGap);
    value = makeLabel("", Studio::kBodyPixels, QFont::Normal, Studio::text, row);
    value->setFont(Studio::monospacedDigitFont(Studio::kBodyPixels));
    value->setWordWrap(true);
    value->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // The value takes the rest of the row, so that it wraps there instead of being cut.
    layout->addWidget(value, 1, Qt::AlignTop);
    return row;
}

QWidget* divider(QWidget* parent) {
    auto* line = new FilledShape(Studio::withOpacity(Qt::white, 0.1), 0, parent);
    line->setFixedHeight(1);
    return line;
}

}  // namespace

ExportPanel::ExportPanel(Workspace& workspace, WorkspaceView& view, QWidget* parent)
    : QWidget(parent),
      workspace_(workspace),
      view_(view),
      codecReader_([](const fs::path& source, bool copiesOriginal, std::optional<std::int64_t> channels,
                      const CancellationToken& token) {
          return ExportCodecText::read(source, copiesOriginal, channels, token);
      }) {
    setFixedWidth(kWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(kSpacing);

    QLabel* title = makeLabel(L("导出"), kTitlePixels, QFont::DemiBold, Studio::text, this);
    title->setAlignment(Qt::AlignCenter);
    stack->addWidget(title);

    // The container: fixed MP4 for a picture, else the choice of M4A or WAV.
    mp4Box_ = new FilledShape(Studio::withOpacity(Qt::white, 0.05), kBoxCornerRadius, this);
    auto* mp4Row = new QHBoxLayout(mp4Box_);
    mp4Row->setContentsMargins(kBoxPadding, kBoxPadding, kBoxPadding, kBoxPadding);
    mp4Row->addWidget(makeLabel("MP4", Studio::kBodyPixels, QFont::DemiBold, Studio::text, mp4Box_));
    mp4Row->addStretch(1);
    mp4Row->addWidget(
        makeLabel(L("视频与音频"), Studio::kBodyPixels, QFont::Normal, Studio::secondary, mp4Box_));
    stack->addWidget(mp4Box_);

    formatBox_ = new FilledShape(Studio::withOpacity(Qt::white, 0.06), kBoxCornerRadius, this);
    auto* segments = new QHBoxLayout(formatBox_);
    segments->setContentsMargins(kSegmentsPadding, kSegmentsPadding, kSegmentsPadding, kSegmentsPadding);
    segments->setSpacing(0);
    m4a_ = new FormatSegment(QStringLiteral("M4A"), formatBox_);
    wav_ = new FormatSegment(QStringLiteral("WAV"), formatBox_);
    segments->addWidget(m4a_);
    segments->addWidget(wav_);
    stack->addWidget(formatBox_);
    // The checked look follows the controller, never the click itself.
    connect(m4a_, &QAbstractButton::clicked, this, [this] {
        workspace_.setAudioOutputFormat(AudioOutputFormat::m4a);
        refresh();
    });
    connect(wav_, &QAbstractButton::clicked, this, [this] {
        workspace_.setAudioOutputFormat(AudioOutputFormat::wav);
        refresh();
    });

    // The summary card.
    auto* summary = new FilledShape(Studio::withOpacity(Qt::white, 0.045), kBoxCornerRadius, this);
    auto* lines = new QVBoxLayout(summary);
    lines->setContentsMargins(kSummaryPadding, kSummaryPadding, kSummaryPadding, kSummaryPadding);
    lines->setSpacing(kSummarySpacing);
    lines->addWidget(summaryRow(L("剪后时长"), keptDuration_, summary));
    lines->addWidget(divider(summary));
    videoRow_ = summaryRow(L("视频"), videoValue_, summary);
    lines->addWidget(videoRow_);
    formatRow_ = summaryRow(L("音频"), formatValue_, summary);
    lines->addWidget(formatRow_);
    issueBox_ = new QWidget(summary);
    auto* issueStack = new QVBoxLayout(issueBox_);
    issueStack->setContentsMargins(0, 0, 0, 0);
    issueText_ = secondaryText("", issueBox_);
    issueStack->addWidget(issueText_);
    auto* recovery = new QHBoxLayout;
    auto* reselect = new StudioButton(qt(L("重新选择同一素材…")), false, issueBox_);
    auto* retry = new StudioButton(qt(L("重试读取")), false, issueBox_);
    recovery->addWidget(reselect);
    recovery->addWidget(retry);
    recovery->addStretch(1);
    issueStack->addLayout(recovery);
    lines->addWidget(issueBox_);
    reading_ = secondaryText(L("正在读取音频规格…"), summary);
    lines->addWidget(reading_);
    trackNote_ = secondaryText("", summary);
    lines->addWidget(trackNote_);
    copyNote_ = secondaryText(L("未删除片段，保留原有编码。"), summary);
    lines->addWidget(copyNote_);
    stack->addWidget(summary);
    connect(reselect, &QAbstractButton::clicked, this, [this] {
        close();
        workspace_.reselectPreviewSource();
    });
    connect(retry, &QAbstractButton::clicked, this, [this] { load(); });

    // The output folder.
    auto* folderStack = new QVBoxLayout;
    folderStack->setSpacing(kFolderSpacing);
    auto* saveTo = new QHBoxLayout;
    saveTo->addWidget(makeLabel(L("保存到"), Studio::kBodyPixels, QFont::Normal, Studio::secondary, this));
    saveTo->addStretch(1);
    auto* change = new StudioLink(qt(L("更改…")), Studio::text, this);
    saveTo->addWidget(change);
    folderStack->addLayout(saveTo);
    folder_ = makeLabel("", Studio::kBodyPixels, QFont::Normal, Studio::text, this);
    folder_->setWordWrap(true);
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path wraps inside the panel's width instead of widening it.
    folder_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    folderStack->addWidget(folder_);
    auto* openFolder = new StudioLink(qt(L("打开文件夹")), Studio::secondary, this);
    folderStack->addWidget(openFolder, 0, Qt::AlignLeft);
    stack->addLayout(folderStack);
    connect(change, &QAbstractButton::clicked, this, [this] { workspace_.chooseOutput(); });
    connect(openFolder, &QAbstractButton::clicked, this, [this] { workspace_.openOutput(); });

    // The hand-off to another editor, for video and audio-only projects alike.
    auto* handoff = new StudioLink(qt(L("导出到其他剪辑软件…")), Studio::text, this);
    stack->addWidget(handoff, 0, Qt::AlignHCenter);
    QLabel* caption = secondaryText(L("FCPXML（试验）· 保留完整原片与可调整切点"), this);
    caption->setAlignment(Qt::AlignCenter);
    stack->addWidget(caption);
    connect(handoff, &QAbstractButton::clicked, this, [this] {
        // An audio-only project gets the explanation inside the panel, so it stays open.
        if (workspace_.document().project && workspace_.document().project->info.hasVideo) close();
        workspace_.exportHandoff();
    });

    stems_ = new StudioButton(qt(L("声道 WAV…")), false, this);
    stack->addWidget(stems_, 0, Qt::AlignLeft);
    connect(stems_, &QAbstractButton::clicked, this, [this] {
        close();
        workspace_.exportChannelStems();
    });
    showStems_ = new StudioButton(qt(L("显示声道")), false, this);
    stack->addWidget(showStems_, 0, Qt::AlignLeft);
    connect(showStems_, &QAbstractButton::clicked, this, [this] {
        if (const auto& folder = workspace_.exports().channelStemsFolder)
            workspace_.desktopServices().revealFile(*folder);
    });

    audioHandoff_ = new QWidget(this);
    auto* handoffStack = new QVBoxLayout(audioHandoff_);
    handoffStack->setContentsMargins(0, 0, 0, 0);
    handoffStack->setSpacing(kSpacing);
    handoffStack->addWidget(secondaryText(L("纯音频请导出 WAV，再导入剪辑软件。"), audioHandoff_));
    auto* exportWAV = new StudioButton(qt(L("导出 WAV")), false, audioHandoff_);
    handoffStack->addWidget(exportWAV, 0, Qt::AlignLeft);
    stack->addWidget(audioHandoff_);
    connect(exportWAV, &QAbstractButton::clicked, this, [this] {
        close();
        workspace_.exportAudioHandoffWAV();
    });

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(kButtonSpacing);
    auto* cancel = new StudioButton(qt(L("取消")), false, this);
    export_ = new StudioButton(qt(L("导出")), true, this);
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(cancel), export_}) {
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        buttons->addWidget(button, 1);
    }
    stack->addLayout(buttons);
    connect(cancel, &QAbstractButton::clicked, this, [this] { close(); });
    connect(export_, &QAbstractButton::clicked, this, [this] {
        close();
        workspace_.exportCut();
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { close(); });

    // The codec read starts as soon as the controller's audio read is over: an action, not a refresh.
    connect(&workspace_, &Workspace::exportChanged, this, &ExportPanel::continueLoading);
    bindSlices(*this, workspace_, {Slice::exports, Slice::document, Slice::guards}, [this] { refresh(); });
    refresh();
}

ExportPanel::~ExportPanel() {
    // Nothing the controller announces from here on may reach a panel being taken apart.
    disconnect(&workspace_, nullptr, this, nullptr);
    disappear();
}

std::string ExportPanel::displayPath(const std::string& path, const std::string& home) {
    if (path == home) return "~";
    if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/')
        return "~" + path.substr(home.size());
    return path;
}

ExportPanel::State ExportPanel::state(const Facts& facts) {
    State shown;
    shown.formatChoice = !(facts.hasProject && facts.hasVideo);
    shown.keptDuration =
        timeLabel(facts.hasProject ? std::max(0.0, facts.duration - facts.removedDuration) : 0.0);
    if (facts.hasProject && facts.hasVideo) {
        // The size the file will have: a re-encoded picture is written at even sides.
        const auto side = [&](std::int64_t pixels) {
            return std::to_string(facts.copiesOriginal ? pixels : encodedPictureSide(pixels));
        };
        std::string size = side(facts.width) + " \u00D7 " + side(facts.height);
        if (facts.videoCodecs) size += ", " + *facts.videoCodecs;
        shown.videoRow = size;
    }
    if (facts.audioSpecLabel) {
        shown.soundLine = SoundLine::format;
        shown.soundText = *facts.audioSpecLabel;
    } else if (facts.audioInfoIssue) {
        shown.soundLine = SoundLine::issue;
        shown.soundText = *facts.audioInfoIssue;
    } else {
        shown.soundLine = SoundLine::reading;
        shown.soundText = L("正在读取音频规格…");
    }
    shown.trackNote = facts.audioTrackNote;
    shown.copyNote = facts.copiesOriginal;
    // Stems split the delivered cut file: offered only where they act, never for a hand-off
    // package or after the result was given up.
    shown.offersStems = facts.hasOutput && facts.exportedAudioChannels && *facts.exportedAudioChannels >= 3 &&
                        !facts.outputIsHandoff;
    shown.showsStems = facts.channelStemsFolderSet;
    shown.audioHandoff = facts.audioHandoffInfoPresented;
    shown.exportEnabled = !facts.cutBusy && !facts.needsAnalysis;
    return shown;
}

ExportPanel::Facts ExportPanel::facts() const {
    Facts facts;
    if (const auto& project = workspace_.document().project) {
        facts.hasProject = true;
        facts.hasVideo = project->info.hasVideo;
        facts.width = project->info.width;
        facts.height = project->info.height;
        facts.duration = project->info.duration;
        facts.removedDuration = project->removedDuration();
    }
    facts.videoCodecs = videoCodecs_;
    // All of the controller's export facts are judged with exportFormat(), the format the
    // export will really write (M4A for a picture, whatever was chosen for sound alone).
    facts.audioSpecLabel = workspace_.exportAudioSpecLabel();
    facts.audioInfoIssue = workspace_.exports().audioInfoIssue;
    facts.audioTrackNote = workspace_.exportAudioTrackNote();
    facts.copiesOriginal = workspace_.exportCopiesOriginal();
    facts.hasOutput = workspace_.document().cutOutput.has_value();
    facts.exportedAudioChannels = workspace_.exports().exportedAudioChannels;
    facts.outputIsHandoff = workspace_.exports().outputIsHandoff;
    facts.channelStemsFolderSet = workspace_.exports().channelStemsFolder.has_value();
    facts.audioHandoffInfoPresented = workspace_.exports().audioHandoffInfoPresented;
    facts.cutBusy = workspace_.guards().cutBusy;
    facts.needsAnalysis = workspace_.guards().needsAnalysis;
    return facts;
}

void ExportPanel::refresh() {
    const State shown = state(facts());
    mp4Box_->setVisible(!shown.formatChoice);
    formatBox_->setVisible(shown.formatChoice);
    m4a_->setChecked(workspace_.exports().audioOutputFormat == AudioOutputFormat::m4a);
    wav_->setChecked(workspace_.exports().audioOutputFormat == AudioOutputFormat::wav);
    keptDuration_->setText(qt(shown.keptDuration));
    videoRow_->setVisible(shown.videoRow.has_value());
    videoValue_->setText(qt(shown.videoRow.value_or("")));
    formatRow_->setVisible(shown.soundLine == SoundLine::format);
    issueBox_->setVisible(shown.soundLine == SoundLine::issue);
    reading_->setVisible(shown.soundLine == SoundLine::reading);
    if (shown.soundLine == SoundLine::format) formatValue_->setText(qt(shown.soundText));
    if (shown.soundLine == SoundLine::issue) issueText_->setText(qt(shown.soundText));
    trackNote_->setVisible(shown.trackNote.has_value());
    trackNote_->setText(qt(shown.trackNote.value_or("")));
    copyNote_->setVisible(shown.copyNote);
    const std::string path = workspace_.exports().outputFolder.string();
    folder_->setText(qt(displayedName(displayPath(path, QDir::homePath().toStdString()))));
    folder_->setToolTip(plainToolTip(qt(displayedName(path))));
    stems_->setVisible(shown.offersStems);
    showStems_->setVisible(shown.showsStems);
    audioHandoff_->setVisible(shown.audioHandoff);
    export_->setEnabled(shown.exportEnabled);
    fitCard();
}

// Rows come and go while the panel is open: its card follows the new height, centred again.
void ExportPanel::fitCard() {
    QWidget* card = parentWidget();
    if (!card || !card->parentWidget() || !isVisible()) return;
    layout()->activate();
    card->adjustSize();
    QRect frame = card->geometry();
    frame.moveCenter(card->parentWidget()->rect().center());
    card->move(frame.topLeft());
}

void ExportPanel::close() {
    view_.setModal(std::nullopt);
}

void ExportPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (started_) return;
    started_ = true;
    load();
}

void ExportPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) disappear();
}

void ExportPanel::disappear() {
    workspace_.cancelExportCodecs();
    awaitingAudioInfo_ = false;
    workspace_.cancelExportAudioInfo();
}

void ExportPanel::load() {
    workspace_.cancelExportCodecs();
    videoCodecs_.reset();
    refresh();
    awaitingAudioInfo_ = true;
    workspace_.readExportAudioInfo();
    continueLoading();
}

// The rest of the loading run, once the controller's audio read is over.
void ExportPanel::continueLoading() {
    if (!awaitingAudioInfo_ || workspace_.exports().audioInfoLoading) return;
    awaitingAudioInfo_ = false;
    const auto& project = workspace_.document().project;
    if (!project || !project->info.hasVideo) return;
    const auto source = workspace_.exportAudioSource();
    if (!source) return;
    const bool copiesOriginal = workspace_.exportCopiesOriginal();
    std::optional<std::int64_t> channels;
    if (const auto& info = workspace_.exports().audioInfo) channels = info->channels;
    // On the controller's pool, so that quitting cancels the read and waits for it.
    const QPointer<ExportPanel> self(this);
    workspace_.readExportCodecs(
        [reader = codecReader_, source = *source, copiesOriginal, channels](const CancellationToken& token) {
            return reader(source, copiesOriginal, channels, token);
        },
        [self, source = *source](const std::optional<std::string>& codecs) {
            if (self) self->applyCodecs(source, codecs);
        });
}

void ExportPanel::applyCodecs(const fs::path& source, const std::optional<std::string>& codecs) {
    if (workspace_.exportAudioSource() != source) return;
    videoCodecs_ = codecs;
    refresh();
}

}  // namespace talvian
