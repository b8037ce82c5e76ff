// Detection preview and the undo history of the detection settings.

#include "Export/SupportDiagnostics.h"
#include "Model/Localization.h"
#include "Workspace.h"

namespace fs = std::filesystem;

namespace talvian {

namespace {

constexpr std::size_t kMaxOptionHistory = 50;

}  // namespace

void Workspace::recordOptions(const CutOptions& before) {
    if (before == detection().cutOptions) return;
    DocumentState& document = edit(document_);
    document.optionPast.push_back(before);
    if (document.optionPast.size() > kMaxOptionHistory)
        document.optionPast.erase(document.optionPast.begin());
    document.optionFuture.clear();
}

void Workspace::stepOptionHistory(bool undo) {
    DocumentState& document = edit(document_);
    auto& from = undo ? document.optionPast : document.optionFuture;
    auto& to = undo ? document.optionFuture : document.optionPast;
    const CutOptions target = from.back();
    from.pop_back();
    to.push_back(detection().cutOptions);
    applyingOptionHistory_ = true;
    setCutOptions(target);
    applyingOptionHistory_ = false;
    setCutStatus(undo ? L("已撤销参数调整。") : L("已重做参数调整。"));
}

void Workspace::cancelDetectionPreview() {
    const Operation operation(*this);
    detectionLoader_.cancel();
    set(detection_, &DetectionState::calculating, false);
    set(detection_, &DetectionState::preview, std::nullopt);
    set(detection_, &DetectionState::issue, std::nullopt);
}

void Workspace::previewDetection(const CutOptions& options) {
    const Operation operation(*this);
    cancelDetectionPreview();
    if (!document().source || job().busy) return;
    set(detection_, &DetectionState::calculating, true);
    const fs::path url = *document().source;
    // The debounce: a newer request restarts the delay, so dragging a slider starts at most
    // one analysis per pause.
    detectionLoader_.request([this, url, options](const LoadTicket& ticket) {
        const Analyzer analyzer = analyzer_;
        runInBackground([analyzer, url, options, ticket](const MainThreadPost& post) {
            std::optional<CutProject> result;
            std::exception_ptr error;
            try {
                result = analyzer(url, options, ticket.token, [](double, const std::string&) {});
            } catch (...) {
                error = std::current_exception();
            }
            post([result = std::move(result), error, ticket, url](Workspace& workspace) mutable {
                if (!workspace.detectionLoader_.isCurrent(ticket) || workspace.document().source != url)
                    return;
                workspace.set(workspace.detection_, &DetectionState::calculating, false);
                if (result)
                    return workspace.set(workspace.detection_, &DetectionState::preview, std::move(result));
                // The same text a failed analysis shows: a child's own words never reach the screen.
                const std::string text = describeError(error);
                workspace.lastDiagnosticError_ = SupportDiagnostics::privateError(text);
                workspace.set(workspace.detection_, &DetectionState::issue, std::optional<std::string>(text));
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
    didAnalyze(preview, job_.start(std::nullopt));
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
