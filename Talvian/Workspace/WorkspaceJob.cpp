// The start and end of the controller's jobs.

#include "WorkspaceJob.h"

#include "Export/SupportDiagnostics.h"
#include "Model/Localization.h"
#include "WorkspaceInternals.h"

namespace talvian {

CancellationToken Job::start(std::optional<std::string> status, Kind kind) {
    kind_ = kind;
    token_ = makeCancellation();
    workspace_.setCutBusy(true);
    workspace_.setCutProgress(0);
    if (status) workspace_.setCutStatus(std::move(*status));
    return token_;
}

void Job::report(const CancellationToken& token, double fraction, const std::string& step, bool afterCancel) {
    if (!owns(token) || !workspace_.job().busy || (token->isCancelled() && !afterCancel)) return;
    workspace_.setCutProgress(fraction);
    workspace_.setCutStatus(step);
}

void Job::finish(JobOutcome outcome, std::optional<std::string> status, FailureNotice notice) {
    kind_ = Kind::work;
    workspace_.setCutBusy(false);
    workspace_.setCutProgress(outcome == JobOutcome::succeeded ? 1.0 : 0.0);
    if (!status) return;
    if (outcome != JobOutcome::failed) return workspace_.setCutStatus(std::move(*status));
    const std::string message = std::move(*status);
    workspace_.setCutStatus(message);
    if (notice == FailureNotice::none) return;
    workspace_.lastDiagnosticError_ = SupportDiagnostics::privateError(message);
    workspace_.owner.setNotice(message);
}

void Job::finishCancelled(std::optional<std::string> ownSentence) {
    if (ownSentence) return finish(JobOutcome::cancelled, std::move(ownSentence));
    const std::string sentence = OperationCancelled().message();
    finish(JobOutcome::cancelled, sentence);
    workspace_.owner.setNotice(sentence);
}

void Job::finish(const std::exception_ptr& error, std::optional<std::string> cancelledSentence) {
    if (token_->isCancelled() || errorIs<OperationCancelled>(error))
        return finishCancelled(std::move(cancelledSentence));
    finish(JobOutcome::failed, describeError(error));
}

void Job::cancel() {
    token_->cancel();
    if (kind_ != Kind::sourceCheck) return;
    // A source check changes nothing until it commits: it ends now, and its late completion
    // finds another token.
    token_ = makeCancellation();
    finishCancelled(L("已取消原片核对，当前剪辑与项目文件未改动。"));
}

}  // namespace talvian
