// Runs the cut export on a saved review project (whose source path it holds) and prints the
// path of the delivered file; progress and the peak memory go to standard error (and, for a video,
// the picture writer's line of frame counts). bench/export-audio.sh and bench/export-video.sh time
// it. Usage: talvian-export PROJECT.quenlo.json OUTDIR [--wav]. SIGTERM and SIGINT cancel the
// export (exit status 128 + the signal); an error prints its sentence (exit status 1).
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Export/CutExport.h"
#include "Media/LinkedMediaEntries.h"
#include "Model/ProjectFiles.h"
#include "ToolRun.h"

namespace {

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s PROJECT.quenlo.json OUTDIR [--wav]\n", program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace talvian;
    if (argc < 3 || argc > 4) return usage(argv[0]);
    auto format = AudioOutputFormat::m4a;
    if (argc == 4) {
        if (std::strcmp(argv[3], "--wav") != 0) return usage(argv[0]);
        format = AudioOutputFormat::wav;
    }
    return bench::runCancellableTool([&](const CancellationToken& token) {
        auto project = VevazAvezud::load(argv[1], *token);
        std::string lastStep;
        int lastPercent = -1;
        auto progress = [&](double fraction, const std::string& step) {
            int percent = static_cast<int>(fraction * 100);
            if (percent == lastPercent && step == lastStep) return;
            lastPercent = percent;
            lastStep = step;
            std::fprintf(stderr, "%3d%% %s\n", percent, step.c_str());
        };
        auto output = VevazAvezud::exportCut(linkedMediaEntries(), project, argv[2], format, token, progress);
        std::printf("%s\n", output.c_str());
        // For the benchmark: this process's own peak, apart from the ffmpeg children it ran.
        struct rusage self {
        }, children{};
        ::getrusage(RUSAGE_SELF, &self);
        ::getrusage(RUSAGE_CHILDREN, &children);
        std::fprintf(stderr, "peak memory: %ld KB (this process), %ld KB (largest child)\n", self.ru_maxrss,
                     children.ru_maxrss);
        return 0;
    });
}
