// Detection preview and the undo history of the detection settings.

#include "Export/SupportDiagnostics.h"
#include "Model/Localization.h"
#include "WorkspaceInternals.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

constexpr std::size_t kMaxOptionHistory = 50;

}  // namespace

void Workspace::Internals::recordOptions(const CutOptions& before) {
    if (before == detection().cutOptions) return;
    DocumentState& document = edit(document_);
    document.optionPast.push_back(before);
    if (document.optionPast.size() > kMaxOptionHistory)
        document.optionPast.erase(document.optionPast.begin());
    document.optionFuture.clear();
}

void Workspace::Internals::stepOptionHistory(bool undo) {
    DocumentState& document = edit(document_);
    auto& from = undo ? document.optionPast : document.optionFuture;
    auto& to = undo ? document.optionFuture : document.optionPast;
    const CutOptions target = from.back();
    from.pop_back();
    to.push_back(detection().cutOptions);
    applyingOptionHistory_ = true;
    owner.setCutOptions(target);
    applyingOptionHistory_ = false;
    setCutStatus(undo ? L("已撤销参数调整。") : L("已重做参数调整。"));
}

void Workspace::cancelDetectionPreview() {
    const Operation operation(*this);
    d_->detectionLoader_.cancel();
    d_->set(&DetectionState::calculating, false);
    d_->set(&DetectionState::preview, std::nullopt);
    d_->set(&DetectionState::issue, std::nullopt);
}

void Workspace::previewDetection(const CutOptions& options) {
    const Operation operation(*this);
    cancelDetectionPreview();
    if (!document().source || job().busy) return;
    d_->set(&DetectionState::calculating, true);
    const fs::path url = *document().source;
    // The debounce: a newer request restarts the delay, so dragging a slider starts at most
    // one analysis per pause.
    d_->detectionLoader_.request([this, url, options](const LoadTicket& ticket) {
        const Analyzer analyzer = d_->analyzer_;
        d_->runInBackground([analyzer, url, options, ticket](const MainThreadPost& post) {
            std::optional<CutProject> result;
            std::exception_ptr error;
            try {
                result = analyzer(url, options, ticket.token, [](double, const std::string&) {});
            } catch (...) {
                error = std::current_exception();
            }
            post([result = std::move(result), error, ticket, url](Internals& in) mutable {
                if (!in.detectionLoader_.isCurrent(ticket) || in.document().source != url) return;
                in.set(&DetectionState::calculating, false);
                if (result) return in.set(&DetectionState::preview, std::move(result));
                // The same text a failed analysis shows: a child's own words never reach the screen.
                const std::string text = describeError(error);
                in.lastDiagnosticError_ = SupportDiagnostics::privateError(text);
                in.set(&DetectionState::issue, std::optional<std::string>(text));
            });
        });
    });
}

bool Workspace::applyDetectionPreview(const CutOptions& options) {
    const Operation operation(*this);
    if (job().busy || detection().calculating || !detection().preview || !document().source ||
        fs::path(detection().preview->source) != *document().source ||
        !(detection().preview->options == options))
        return false;
    const CutOptions remembered = detection().cutOptions;
    setCutOptions(options);
    const CutProject preview = *detection().preview;
    // Installed exactly like a finished analysis: a job that completes at once.
    d_->didAnalyze(preview, d_->job_.start(std::nullopt));
    if (document().project && document().project->cuts == preview.cuts &&
        document().project->options == options) {
        cancelDetectionPreview();
        return true;
    }
    setCutOptions(remembered);
    cancelDetectionPreview();
    return false;
}

}  // namespace talvian
