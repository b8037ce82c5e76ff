#include "DetectionSettingsPanel.h"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "Kit/Studio.h"
#include "Kit/StudioControls.h"
#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "ShellWidgets.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"
#include "WorkspaceView.h"

namespace talvian {

// ---- DetectionDraft

namespace {

// `options` with `change` applied.
template <class Change>
CutOptions edited(CutOptions options, Change change) {
    change(options);
    return options;
}

}  // namespace

std::optional<CutOptions> DetectionDraft::choose(DetectionPreset preset) {
    return replace(edited(options_, [preset](CutOptions& next) { talvian::apply(preset, next); }));
}

std::optional<CutOptions> DetectionDraft::setMode(DetectionMode mode) {
    return replace(edited(options_, [mode](CutOptions& next) { next.mode = mode; }));
}

std::optional<CutOptions> DetectionDraft::setThreshold(double decibels) {
    return replace(edited(options_, [decibels](CutOptions& next) { next.thresholdDB = decibels; }));
}

std::optional<CutOptions> DetectionDraft::setMinimumSilence(double seconds) {
    return replace(edited(options_, [seconds](CutOptions& next) { next.minimumSilence = seconds; }));
}

std::optional<CutOptions> DetectionDraft::setPadding(double seconds) {
    return replace(edited(options_, [seconds](CutOptions& next) { next.padding = seconds; }));
}

std::optional<CutOptions> DetectionDraft::setSeparateSides(bool on) {
    return replace(edited(options_, [on](CutOptions& next) {
        if (!on)
            next.paddingRight.reset();
        else if (!next.paddingRight)
            next.paddingRight = next.padding;
    }));
}

std::optional<CutOptions> DetectionDraft::setPaddingRight(double seconds) {
    return replace(edited(options_, [seconds](CutOptions& next) { next.paddingRight = seconds; }));
}

std::optional<CutOptions> DetectionDraft::reset() {
    return replace(CutOptions());
}

std::optional<CutOptions> DetectionDraft::replace(const CutOptions& options) {
    if (options == options_) return std::nullopt;
    options_ = options;
    return options_;
}

bool DetectionDraft::opensAdvanced(const CutOptions& options) {
    for (DetectionPreset preset : kAllDetectionPresets)
        if (matches(preset, options)) return false;
    return true;
}

// ---- Texts

namespace DetectionSettingsTexts {

namespace {

// printf's "%.<precision>f" / "%.<precision>g" with a point whatever LC_NUMERIC says.
std::string number(double value, std::chars_format format, int precision) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format, precision);
    if (result.ec != std::errc()) return "0";
    return std::string(buffer.data(), result.ptr);
}

}  // namespace

std::string pauseText(DetectionPreset preset) {
    return L("停顿 %@ s", number(minimumSilence(preset), std::chars_format::general, 2));
}

std::string edgeText(DetectionPreset preset) {
    return L("边缘 %@ s", number(padding(preset), std::chars_format::fixed, 2));
}

std::string decibelText(double decibels) {
    return number(decibels, std::chars_format::fixed, 0) + " dB";
}

std::string secondsText(double seconds) {
    return number(seconds, std::chars_format::fixed, 2) + " s";
}

SummaryLine summaryLine(bool calculating, const std::optional<CutProject>& preview,
                        const std::optional<std::string>& issue, const std::optional<CutProject>& project) {
    if (calculating) return {true, L("正在计算…")};
    if (preview) {
        const auto before = static_cast<long long>(project ? project->cuts.size() : 0);
        const auto after = static_cast<long long>(preview->cuts.size());
        return {false, L("%@ → %@ 段停顿，剪后 %@", std::to_string(before), std::to_string(after),
                         timeLabel(preview->keptDuration()))};
    }
    if (issue) return {false, *issue};
    return {false, L("修改参数即可预览结果。")};
}

std::optional<std::string> quietHint(const std::optional<CutProject>& preview,
                                     const std::optional<CutProject>& project, const CutOptions& draft) {
    const CutProject* reference =
        preview ? &*preview : (project && project->options == draft ? &*project : nullptr);
    if (!reference || reference->options != draft) return std::nullopt;
    return reference->quietRecordingHint();
}

bool canApply(bool calculating, const std::optional<CutProject>& preview, const CutOptions& draft) {
    return !calculating && preview && preview->options == draft;
}

}  // namespace DetectionSettingsTexts

// ---- Widgets

namespace {

constexpr int kPadding = 24;
constexpr int kWidth = 440;
constexpr int kTitleWidth = 112;
constexpr int kValueWidth = 65;

QLabel* wrappingLabel(const QColor& color, QWidget* parent) {
    QLabel* label = makeLabel({}, Studio::kBodyPixels, QFont::Normal, color, parent);
    label->setWordWrap(true);
    return label;
}

// A preset: its title, minimum pause and edge on a rounded card, brighter (and checked) while
// it matches the draft.
class PresetCard : public QAbstractButton {
  public:
    PresetCard(DetectionPreset preset, QWidget* parent) : QAbstractButton(parent) {
        makeStudioChoice(*this);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(QString::fromStdString(title(preset)));
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 12, 0, 12);
        column->setSpacing(6);
        for (QLabel* label :
             {makeLabel(title(preset), Studio::kBodyPixels, QFont::Medium, Studio::text, this),
              makeLabel(DetectionSettingsTexts::pauseText(preset), Studio::kBodyPixels, QFont::Normal,
                        Studio::secondary, this),
              makeLabel(DetectionSettingsTexts::edgeText(preset), Studio::kBodyPixels, QFont::Normal,
                        Studio::secondary, this)}) {
            label->setAlignment(Qt::AlignCenter);
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            column->addWidget(label);
        }
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    bool highlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted) {
        setChecked(highlighted);
        if (highlighted == highlighted_) return;
        highlighted_ = highlighted;
        update();
    }
    QSize sizeHint() const override { return layout()->sizeHint(); }
    QSize minimumSizeHint() const override { return layout()->minimumSize(); }

  protected:
    // The draft decides which card is checked, never the click itself.
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(frame, 10, 10);
        painter.fillPath(shape, Studio::withOpacity(Qt::white, highlighted_ ? 0.12 : 0.035));
        painter.setPen(QPen(Studio::withOpacity(Qt::white, highlighted_ ? 0.5 : 0.08), 1));
        painter.drawPath(shape);
        if (isDown()) painter.fillPath(shape, Studio::withOpacity(Qt::white, 0.04));
    }

  private:
    bool highlighted_ = false;
};

// The "高级" heading: a chevron (right when collapsed, down when expanded) and its title;
// a click flips it.
class DisclosureButton : public QAbstractButton {
  public:
    DisclosureButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
        setText(text);
        setCheckable(true);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setFont(Studio::font(Studio::kBodyPixels));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        return {kChevron + kGap + fontMetrics().horizontalAdvance(text()),
                std::max(20, fontMetrics().height())};
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QPixmap chevron =
            Studio::symbol(isChecked() ? "chevron.down" : "chevron.right", kChevron, Studio::secondary);
        painter.drawPixmap(QPointF(0, (height() - kChevron) / 2.0), chevron);
        painter.setPen(Studio::text);
        painter.drawText(QRect(kChevron + kGap, 0, width() - kChevron - kGap, height()),
                         Qt::AlignLeft | Qt::AlignVCenter, text());
    }

  private:
    static constexpr int kChevron = 11;
    static constexpr int kGap = 6;
};

// A mode button: at full opacity and checked while its mode is the draft's.
class ModeButton : public StudioButton {
  public:
    ModeButton(const QString& text, QWidget* parent) : StudioButton(text, false, parent) {
        makeStudioChoice(*this);
    }

  protected:
    // The draft decides which mode is checked, never the click itself.
    void nextCheckState() override {}
};

// Title 112 px, the slider, the value 65 px aligned trailing.
QWidget* sliderRow(const std::string& title, StudioSlider* slider, QLabel* value, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    QLabel* name = makeLabel(title, Studio::kBodyPixels, QFont::Normal, Studio::text, row);
    name->setFixedWidth(kTitleWidth);
    slider->setParent(row);
    slider->setAccessibleName(QString::fromStdString(title));
    value->setParent(row);
    value->setFont(Studio::monospacedDigitFont(Studio::kBodyPixels));
    value->setFixedWidth(kValueWidth);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    line->addWidget(name);
    line->addWidget(slider, 1);
    line->addWidget(value);
    return row;
}

// Only a dimmed button carries an effect: a full-opacity effect inside the card's shadow was
// drawn displaced.
void setOpacity(QWidget* widget, double opacity) {
    if (opacity >= 1) return widget->setGraphicsEffect(nullptr);
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(opacity);
    widget->setGraphicsEffect(effect);
}

}  // namespace

DetectionSettingsPanel::DetectionSettingsPanel(Workspace& workspace, WorkspaceView& view, QWidget* parent)
    : QWidget(parent), workspace_(workspace), view_(view), draft_(workspace.detection().cutOptions) {
    setFixedWidth(kWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(16);

    // Header.
    auto* header = new QHBoxLayout;
    header->addWidget(makeLabel(L("检测设置"), 20, QFont::DemiBold, Studio::text, this));
    header->addStretch(1);
    StudioButton* closeButton = StudioButton::iconButton("xmark", QString::fromStdString(L("关闭")), this);
    closeButton->setAccessibleName(QString::fromStdString(L("关闭")));
    connect(closeButton, &QAbstractButton::clicked, this, &DetectionSettingsPanel::close);
    header->addWidget(closeButton);
    stack->addLayout(header);

    QLabel* intro = wrappingLabel(Studio::secondary, this);
    intro->setText(QString::fromStdString(L("选择适合这段录音的节奏。")));
    stack->addWidget(intro);

    // Presets.
    auto* presets = new QHBoxLayout;
    presets->setSpacing(8);
    for (DetectionPreset preset : kAllDetectionPresets) {
        auto* card = new PresetCard(preset, this);
        cards_[static_cast<int>(preset)] = card;
        connect(card, &QAbstractButton::clicked, this, [this, preset] { edit(draft_.choose(preset)); });
        presets->addWidget(card, 1);
    }
    stack->addLayout(presets);

    // Advanced section, below its heading.
    disclosure_ = new DisclosureButton(QString::fromStdString(L("高级")), this);
    disclosure_->setChecked(DetectionDraft::opensAdvanced(draft_.options()));
    auto* disclosed = new QVBoxLayout;
    disclosed->setSpacing(0);
    disclosed->addWidget(disclosure_);
    advanced_ = new QWidget(this);
    auto* section = new QVBoxLayout(advanced_);
    section->setContentsMargins(0, 16, 0, 0);
    section->setSpacing(12);

    auto* modes = new QHBoxLayout;
    modes->setSpacing(8);
    modes->addStretch(1);
    fixedMode_ = new ModeButton(QString::fromStdString(L("手动阈值")), advanced_);
    // The adaptive mode's title is a key of its own; the Localizable table words it.
    adaptiveMode_ = new ModeButton(QString::fromStdString(L("Auto (beta)")), advanced_);
    connect(fixedMode_, &QAbstractButton::clicked, this,
            [this] { edit(draft_.setMode(DetectionMode::fixed)); });
    connect(adaptiveMode_, &QAbstractButton::clicked, this,
            [this] { edit(draft_.setMode(DetectionMode::adaptive)); });
    modes->addWidget(fixedMode_);
    modes->addWidget(adaptiveMode_);
    modes->addStretch(1);
    section->addLayout(modes);

    threshold_ = new StudioSlider(-80, -10);
    minimumSilence_ = new StudioSlider(0.15, 3);
    padding_ = new StudioSlider(0, 1);
    paddingRight_ = new StudioSlider(0, 1);
    thresholdValue_ = new QLabel;
    minimumSilenceValue_ = new QLabel;
    paddingValue_ = new QLabel;
    paddingRightValue_ = new QLabel;
    for (QLabel* value : {thresholdValue_, minimumSilenceValue_, paddingValue_, paddingRightValue_}) {
        QPalette colours = value->palette();
        colours.setColor(QPalette::WindowText, Studio::text);
        value->setPalette(colours);
    }
    section->addWidget(sliderRow(L("静音阈值"), threshold_, thresholdValue_, advanced_));
    section->addWidget(sliderRow(L("最短停顿"), minimumSilence_, minimumSilenceValue_, advanced_));
    section->addWidget(sliderRow(L("保留边缘"), padding_, paddingValue_, advanced_));
    connect(threshold_, &StudioSlider::valueEdited, this, [this](double v) { edit(draft_.setThreshold(v)); });
    connect(minimumSilence_, &StudioSlider::valueEdited, this,
            [this](double v) { edit(draft_.setMinimumSilence(v)); });
    connect(padding_, &StudioSlider::valueEdited, this, [this](double v) { edit(draft_.setPadding(v)); });

    separateSides_ = new StudioToggle(QString::fromStdString(L("两侧分别保留")), true, advanced_);
    connect(separateSides_, &QAbstractButton::clicked, this,
            [this](bool on) { edit(draft_.setSeparateSides(on)); });
    section->addWidget(separateSides_, 0, Qt::AlignLeft);
    paddingRightRow_ = sliderRow(L("右侧保留"), paddingRight_, paddingRightValue_, advanced_);
    connect(paddingRight_, &StudioSlider::valueEdited, this,
            [this](double v) { edit(draft_.setPaddingRight(v)); });
    section->addWidget(paddingRightRow_);
    disclosed->addWidget(advanced_);
    stack->addLayout(disclosed);
    connect(disclosure_, &QAbstractButton::toggled, advanced_, &QWidget::setVisible);
    advanced_->setVisible(disclosure_->isChecked());

    auto* divider = new FilledShape(Studio::withOpacity(Qt::white, 0.1), 0, this);
    divider->setFixedHeight(1);
    stack->addWidget(divider);

    hint_ = wrappingLabel(Studio::secondary, this);
    stack->addWidget(hint_);

    auto* summaryRow = new QWidget(this);
    summaryRow->setMinimumHeight(22);
    auto* summaryLine = new QHBoxLayout(summaryRow);
    summaryLine->setContentsMargins(0, 0, 0, 0);
    summaryLine->setSpacing(6);
    hourglass_ = makeSymbol("hourglass", Studio::kBodyPixels, Studio::secondary, summaryRow);
    summary_ = wrappingLabel(Studio::secondary, summaryRow);
    summary_->setFont(Studio::monospacedDigitFont(Studio::kBodyPixels));
    summaryLine->addWidget(hourglass_, 0, Qt::AlignVCenter);
    summaryLine->addWidget(summary_, 1);
    stack->addWidget(summaryRow);

    QLabel* keeps = wrappingLabel(Studio::secondary, this);
    keeps->setText(QString::fromStdString(L("应用前会保留当前剪辑，可从最近剪辑找回。")));
    stack->addWidget(keeps);

    auto* buttons = new QHBoxLayout;
    auto* reset = new StudioLink(QString::fromStdString(L("重置")), Studio::secondary, this);
    connect(reset, &QAbstractButton::clicked, this, [this] { edit(draft_.reset()); });
    auto* cancel = new StudioButton(QString::fromStdString(L("取消")), false, this);
    connect(cancel, &QAbstractButton::clicked, this, &DetectionSettingsPanel::close);
    apply_ = new StudioButton(QString::fromStdString(L("应用")), false, this);
    connect(apply_, &QAbstractButton::clicked, this, &DetectionSettingsPanel::apply);
    buttons->addWidget(reset, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    buttons->addWidget(cancel, 0, Qt::AlignVCenter);
    buttons->addWidget(apply_, 0, Qt::AlignVCenter);
    stack->addLayout(buttons);

    // Escape is "取消" for as long as the panel exists.
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &DetectionSettingsPanel::close,
                            Qt::WindowShortcut);

    bindSlices(*this, workspace_, {Slice::detection, Slice::document}, [this] { showPreview(); });
    showDraft();
}

DetectionSettingsPanel::~DetectionSettingsPanel() {
    leave();
}

bool DetectionSettingsPanel::advancedOpen() const {
    return disclosure_->isChecked();
}

QAbstractButton& DetectionSettingsPanel::presetCard(DetectionPreset preset) const {
    return *cards_[static_cast<int>(preset)];
}

bool DetectionSettingsPanel::presetHighlighted(DetectionPreset preset) const {
    return static_cast<PresetCard*>(cards_[static_cast<int>(preset)])->highlighted();
}

QAbstractButton& DetectionSettingsPanel::advancedButton() const {
    return *disclosure_;
}

void DetectionSettingsPanel::apply() {
    if (workspace_.applyDetectionPreview(draft_.options())) close();
}

void DetectionSettingsPanel::close() {
    view_.setModal(std::nullopt);
}

void DetectionSettingsPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // A minimised window hides the panel without it going away.
    if (!event->spontaneous()) leave();
}

void DetectionSettingsPanel::leave() {
    if (std::exchange(left_, true)) return;
    workspace_.cancelDetectionPreview();
}

void DetectionSettingsPanel::edit(const std::optional<CutOptions>& changed) {
    if (!changed) return;
    showDraft();
    workspace_.previewDetection(*changed);
}

void DetectionSettingsPanel::showDraft() {
    const CutOptions& options = draft_.options();
    for (DetectionPreset preset : kAllDetectionPresets)
        static_cast<PresetCard*>(cards_[static_cast<int>(preset)])->setHighlighted(matches(preset, options));
    const std::pair<StudioButton*, DetectionMode> modes[] = {{fixedMode_, DetectionMode::fixed},
                                                             {adaptiveMode_, DetectionMode::adaptive}};
    for (const auto& [button, mode] : modes) {
        setOpacity(button, options.mode == mode ? 1.0 : 0.5);
        button->setChecked(options.mode == mode);
    }
    threshold_->setValue(options.thresholdDB);
    minimumSilence_->setValue(options.minimumSilence);
    padding_->setValue(options.padding);
    paddingRight_->setValue(options.paddingRight.value_or(options.padding));
    thresholdValue_->setText(
        QString::fromStdString(DetectionSettingsTexts::decibelText(options.thresholdDB)));
    minimumSilenceValue_->setText(
        QString::fromStdString(DetectionSettingsTexts::secondsText(options.minimumSilence)));
    paddingValue_->setText(QString::fromStdString(DetectionSettingsTexts::secondsText(options.padding)));
    paddingRightValue_->setText(QString::fromStdString(
        DetectionSettingsTexts::secondsText(options.paddingRight.value_or(options.padding))));
    separateSides_->setChecked(options.paddingRight.has_value());
    paddingRightRow_->setVisible(options.paddingRight.has_value());
    showPreview();
}

void DetectionSettingsPanel::showPreview() {
    const auto& preview = workspace_.detection().preview;
    const auto& project = workspace_.document().project;
    const bool calculating = workspace_.detection().calculating;
    const auto hint = DetectionSettingsTexts::quietHint(preview, project, draft_.options());
    hint_->setText(QString::fromStdString(hint.value_or(std::string())));
    hint_->setVisible(hint.has_value());
    const auto line =
        DetectionSettingsTexts::summaryLine(calculating, preview, workspace_.detection().issue, project);
    hourglass_->setVisible(line.calculating);
    summary_->setText(QString::fromStdString(line.text));
    apply_->setEnabled(DetectionSettingsTexts::canApply(calculating, preview, draft_.options()));
}

}  // namespace talvian
