#pragma once
// The controller's one job at a time (analysis, project check, save, relocation, export,
// stems, hand-off): its start and its end in one place, so that the busy flag, the progress,
// the status line and the job's token always change together. Main thread.

#include <exception>
#include <optional>
#include <string>

#include "Model/CoreTypes.h"
#include "Workspace.h"

namespace talvian {

// How a job ended.
enum class JobOutcome { succeeded, cancelled, failed };
// Whether a failed job's status is also the notice (and the last diagnostic error).
enum class FailureNotice { shown, none };

class Job {
  public:
    // A source check (save, relocation) ends at once when cancelled; other jobs stay busy
    // until their work reports back.
    enum class Kind { work, sourceCheck };

    explicit Job(Workspace::Internals& workspace) : workspace_(workspace) {}

    // Starts a job: busy, progress 0, `status` as the status line (none keeps the line), and a
    // fresh token, which it returns.
    CancellationToken start(std::optional<std::string> status, Kind kind = Kind::work);
    // The token of the current or last job; a completion applies only while it holds it.
    const CancellationToken& token() const { return token_; }
    bool owns(const CancellationToken& token) const { return token == token_; }
    // A progress report of the job holding `token`, applied while that job runs; not after a
    // cancel unless `afterCancel` (the export's last steps say what was left on disk).
    void report(const CancellationToken& token, double fraction, const std::string& step,
                bool afterCancel = false);

    // Ends the job: busy false; progress 1 when it succeeded, else 0; `status` as the status
    // line (none keeps it). A failure's status, unless `notice` is none, is also the notice and
    // (privacy-filtered) the last diagnostic error.
    void finish(JobOutcome outcome, std::optional<std::string> status,
                FailureNotice notice = FailureNotice::shown);
    // The end of a cancelled job: its own sentence in the status line, or without one the
    // general cancellation sentence in status and notice (as the work's own error reads).
    void finishCancelled(std::optional<std::string> ownSentence = std::nullopt);
    // The end of a job whose work threw `error`: cancelled when the job's token was cancelled or
    // the error is OperationCancelled, failed otherwise with the error's text (describeError).
    void finish(const std::exception_ptr& error, std::optional<std::string> cancelledSentence = std::nullopt);
    // Asks the job to stop; a source check ends at once with its cancellation sentence.
    void cancel();

  private:
    Workspace::Internals& workspace_;
    CancellationToken token_ = makeCancellation();
    Kind kind_ = Kind::work;
};

}  // namespace talvian
