#include "WaveformControls.h"

#include <QHBoxLayout>

#include <algorithm>

#include "Kit/StudioControls.h"
#include "Model/Localization.h"
#include "Workspace/SliceBinding.h"
#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kSpacing = 4;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

StudioButton* symbolButton(std::string_view symbol, const std::string& name, const std::string& help,
                           QWidget* parent) {
    auto* button = StudioButton::iconButton(symbol, qt(help), parent);
    button->setAccessibleName(qt(name));
    return button;
}

StudioButton* textButton(const std::string& text, const std::string& help, QWidget* parent) {
    auto* button = new StudioButton(qt(text), false, parent);
    button->setToolTip(qt(help));
    button->setAccessibleName(qt(text));
    return button;
}

}  // namespace

WaveformControls::WaveformControls(Workspace& workspace, QWidget* parent)
    : QWidget(parent), workspace_(workspace) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kSpacing);

    zoomOut_ = symbolButton("minus.magnifyingglass", L("缩小波形"), L("缩小波形，保留当前复核段"), this);
    zoomIn_ = symbolButton("plus.magnifyingglass", L("放大波形"), L("围绕当前段或播放头放大波形"), this);
    back_ = symbolButton("chevron.left", L("波形向前半页"), L("查看前半页，播放位置不变"), this);
    forward_ = symbolButton("chevron.right", L("波形向后半页"), L("查看后半页，播放位置不变"), this);
    current_ = textButton(L("当前段"), L("显示当前段及前后原片，至少显示12秒"), this);
    fit_ = textButton(L("适配"), L("返回整段原片波形，保留当前复核段"), this);
    for (StudioButton* button : {zoomOut_, zoomIn_, back_, forward_, current_, fit_})
        row->addWidget(button, 0, Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    connect(zoomOut_, &QAbstractButton::clicked, this, [this] { workspace_.zoomWaveform(false); });
    connect(zoomIn_, &QAbstractButton::clicked, this, [this] { workspace_.zoomWaveform(true); });
    connect(back_, &QAbstractButton::clicked, this, [this] { workspace_.panWaveform(-1); });
    connect(forward_, &QAbstractButton::clicked, this, [this] { workspace_.panWaveform(1); });
    connect(current_, &QAbstractButton::clicked, this, [this] { workspace_.focusWaveformReview(); });
    connect(fit_, &QAbstractButton::clicked, this, [this] { workspace_.fitWaveform(); });
    // The window (waveform), the reviewed pause (review), the project and its cuts (document),
    // and whether the waveform may be navigated at all (guards).
    bindSlices(*this, workspace_, {Slice::waveform, Slice::review, Slice::document, Slice::guards},
               [this] { refresh(); });
    refresh();
}

WaveformControls::Enabling WaveformControls::enabling(bool canNavigate, bool hasWindow,
                                                      const WaveformWindow& visible,
                                                      std::optional<double> duration, bool hasReviewCut) {
    if (!canNavigate) return {};
    const double span = visible.end - visible.start;
    Enabling result;
    result.zoomOut = hasWindow;
    // A window never gets narrower than 2 s, nor than a shorter file.
    result.zoomIn = duration ? !(span <= std::min(*duration, WaveformWindow::kMinimumSpan)) : !(span <= 0);
    result.back = hasWindow && !(visible.start <= kEdgeTolerance);
    result.forward = hasWindow && !(visible.end >= duration.value_or(0) - kEdgeTolerance);
    result.current = hasReviewCut;
    result.fit = hasWindow;
    return result;
}

void WaveformControls::refresh() {
    const auto& project = workspace_.document().project;
    const Enabling enabled =
        enabling(workspace_.guards().canNavigateWaveform, workspace_.waveform().window.has_value(),
                 workspace_.visibleWaveformWindow(),
                 project ? std::optional<double>(project->info.duration) : std::nullopt,
                 workspace_.reviewCut().has_value());
    zoomOut_->setEnabled(enabled.zoomOut);
    zoomIn_->setEnabled(enabled.zoomIn);
    back_->setEnabled(enabled.back);
    forward_->setEnabled(enabled.forward);
    current_->setEnabled(enabled.current);
    fit_->setEnabled(enabled.fit);
}

}  // namespace talvian
