#pragma once
// The edge the bench tools share with the application: SIGTERM and SIGINT cancel the running
// work (children stopped, work files removed), and every error ends the tool with the one
// sentence the application would show, never with an abort or a library's English text.

#include <cstdio>
#include <exception>
#include <functional>
#include <string>

#include "Model/CoreTypes.h"
#include "Model/Localization.h"
#include "Process/Runner.h"
#include "Process/TerminationSignals.h"

namespace talvian::bench {

// Runs `work` with a token that SIGTERM and SIGINT cancel; call it before any thread starts.
// Returns work's status; 1 after printing the sentence of an error it throws (to standard
// error); 128 + the signal's number once such a signal arrived, whatever the outcome.
inline int runCancellableTool(const std::function<int(const CancellationToken&)>& work) {
    const auto token = makeCancellation();
    TerminationSignals signals([token](int) { token->cancel(); });
    std::string sentence;
    int status = 1;
    try {
        status = work(token);
    } catch (...) {
        // What the application would show: the sentence, never a library's or a child's words.
        sentence = describeError(std::current_exception());
    }
    if (!sentence.empty()) std::fprintf(stderr, "%s\n", sentence.c_str());
    if (auto signal = signals.received()) return 128 + *signal;
    return status;
}

}  // namespace talvian::bench
