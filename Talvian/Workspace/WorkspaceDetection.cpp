// Detection preview and the undo history of the detection settings.

#include <QCoreApplication>
#include <QMetaObject>

#include "Export/SupportDiagnostics.h"
#include "Model/Localization.h"
#include "Workspace.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

constexpr std::size_t kMaxOptionHistory = 50;

}  // namespace

void Workspace::recordOptions(const CutOptions& before) {
    if (before == cutOptions_) return;
    optionPast_.push_back(before);
    if (optionPast_.size() > kMaxOptionHistory) optionPast_.erase(optionPast_.begin());
    optionFuture_.clear();
}

void Workspace::stepOptionHistory(bool undo) {
    auto& from = undo ? optionPast_ : optionFuture_;
    auto& to = undo ? optionFuture_ : optionPast_;
    const CutOptions target = from.back();
    from.pop_back();
    to.push_back(cutOptions_);
    applyingOptionHistory_ = true;
    setCutOptions(target);
    applyingOptionHistory_ = false;
    setCutStatus(undo ? L("已撤销参数调整。") : L("已重做参数调整。"));
}

void Workspace::cancelDetectionPreview() {
    detectionPreviewTimer_.stop();
    QObject::disconnect(&detectionPreviewTimer_, nullptr, this, nullptr);
    detectionPreviewCancellation_->cancel();
    detectionPreviewGeneration_ = Uuid::random();
    publish(detectionCalculating_, false);
    publish(detectionPreview_, std::optional<CutProject>());
    publish(detectionPreviewIssue_, std::optional<std::string>());
}

void Workspace::previewDetection(const CutOptions& options) {
    cancelDetectionPreview();
    if (!source_ || cutBusy_) return;
    const Uuid generation = Uuid::random();
    const CancellationToken token = makeCancellation();
    detectionPreviewGeneration_ = generation;
    detectionPreviewCancellation_ = token;
    publish(detectionCalculating_, true);
    const fs::path url = *source_;

    // The debounce: a newer call stops this timer before it fires, so dragging a slider
    // starts at most one analysis per pause.
    connect(&detectionPreviewTimer_, &QTimer::timeout, this, [this, generation, token, url, options] {
        QObject::disconnect(&detectionPreviewTimer_, nullptr, this, nullptr);
        if (token->isCancelled() || generation != detectionPreviewGeneration_) return;
        const Analyzer analyzer = analyzer_;
        QPointer<Workspace> self(this);
        runInBackground([self, analyzer, url, options, token, generation] {
            std::optional<CutProject> result;
            std::string failure;
            try {
                result = analyzer(url, options, token, [](double, const std::string&) {});
            } catch (...) {
                failure = describeError(std::current_exception());
            }
            if (!self) return;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, result = std::move(result), failure, token, generation, url]() mutable {
                    if (!self || self->detectionPreviewGeneration_ != generation || self->source_ != url ||
                        token->isCancelled())
                        return;
                    self->publish(self->detectionCalculating_, false);
                    if (result) {
                        self->publish(self->detectionPreview_, std::move(result));
                    } else {
                        self->lastDiagnosticError_ = SupportDiagnostics::privateError(failure);
                        self->publish(self->detectionPreviewIssue_, std::optional<std::string>(failure));
                    }
                },
                Qt::QueuedConnection);
        });
    });
    detectionPreviewTimer_.start(detectionPreviewDelay_);
}

bool Workspace::applyDetectionPreview(const CutOptions& options) {
    if (cutBusy_ || detectionCalculating_ || !detectionPreview_ || !source_ ||
        fs::path(detectionPreview_->source) != *source_ || !(detectionPreview_->options == options))
        return false;
    const CutOptions remembered = cutOptions_;
    setCutOptions(options);
    const CutProject preview = *detectionPreview_;
    cutCancellation_ = makeCancellation();
    didAnalyze(preview, cutCancellation_);
    if (project_ && project_->cuts == preview.cuts && project_->options == options) {
        cancelDetectionPreview();
        return true;
    }
    setCutOptions(remembered);
    cancelDetectionPreview();
    return false;
}

}  // namespace talvian
