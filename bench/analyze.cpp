// talvian-analyze FILE [--adaptive] [--threshold DB] [--minimum S] [--padding S] [--padding-right S]
// Analyses FILE as the application does and prints the review project, as a project file holds
// it, to standard output; progress goes to standard error, and last the peak resident memory of
// this process (children not included) as "peak memory: <kB> kB". SIGTERM and SIGINT cancel the
// analysis (exit status 128 + the signal); an error prints its sentence (exit status 1).

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "Analysis/PauseAnalysis.h"
#include "Model/ProjectJson.h"
#include "Support/NumberText.h"
#include "ToolRun.h"

using namespace talvian;

namespace {

int usage() {
    std::cerr << "usage: talvian-analyze FILE [--adaptive] [--threshold DB] [--minimum S] [--padding S] "
                 "[--padding-right S]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> file;
    CutOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--adaptive") {
            options.mode = DetectionMode::adaptive;
            continue;
        }
        double* target = argument == "--threshold" ? &options.thresholdDB
                         : argument == "--minimum" ? &options.minimumSilence
                         : argument == "--padding" ? &options.padding
                                                   : nullptr;
        bool right = argument == "--padding-right";
        if (target || right) {
            if (i + 1 >= argc) return usage();
            auto value = parseDecimal(argv[++i]);
            if (!value) return usage();
            if (right)
                options.paddingRight = *value;
            else
                *target = *value;
        } else if (!file && !argument.starts_with("--")) {
            file = argument;
        } else {
            return usage();
        }
    }
    if (!file) return usage();
    return bench::runCancellableTool([&](const CancellationToken& token) {
        auto project =
            VevazAvezud::analyze(*file, options, token, [](double fraction, const std::string& step) {
                std::fprintf(stderr, "%5.1f%% %s\n", fraction * 100, step.c_str());
            });
        std::cout << ProjectJson::encode(project) << "\n";
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::fprintf(stderr, "peak memory: %ld kB\n", usage.ru_maxrss);
        return 0;
    });
}
