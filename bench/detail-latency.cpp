// detail-latency: the time from a zoom into a 60 s window of a 60-minute recording, analysed
// as the application analyses it, until the controller has installed the detail waveform (the
// 150 ms start delay included), for windows at the start, in the middle and at the end; beside
// it the loader alone, and as the reference the bare ffmpeg decode of the same 60 s with input
// seeking, measured in the same run.
//
// Usage: detail-latency [ROUNDS]   (default 5 per position; generates its sources in /tmp)

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Analysis/DetailWaveform.h"
#include "Analysis/PauseAnalysis.h"
#include "BenchProject.h"
#include "Model/FileNaming.h"
#include "Player/MpvPlayer.h"
#include "Process/Dependencies.h"
#include "Process/Runner.h"
#include "Support/NumberText.h"
#include "Workspace/PlaybackClock.h"
#include "Workspace/Workspace.h"

using namespace talvian;
namespace fs = std::filesystem;

namespace {

using bench::median;
using bench::milliseconds;

constexpr double kSourceSeconds = 3600;
constexpr double kWindowSeconds = 60;

// Takes events until `condition` holds; false after 20 s.
template <typename Condition>
bool waitFor(Condition condition) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > 20000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Speech-like: a voiced tone in bursts of about a second and a half with pauses between.
void generate(const fs::path& output, const std::string& codec) {
    const std::string expression = "0.3*sin(2*PI*170*t)*(0.6+0.4*sin(2*PI*3*t))*gt(sin(2*PI*0.31*t)+0.2\\,0)";
    Runner::run(Dependencies::require("ffmpeg"),
                {"-v", "error", "-y", "-f", "lavfi", "-i",
                 "aevalsrc=exprs=" + expression + ":s=48000:d=" + shortestDecimal(kSourceSeconds), "-ac", "1",
                 "-c:a", codec, output.string()},
                nullptr);
}

void measure(const char* label, const fs::path& source, int rounds, const fs::path& folder) {
    // The application's player, without a sound device, and the real analysis, which leaves the
    // stream facts the zoom needs.
    MpvSettings settings;
    settings.audioOutput = "null";
    MpvPlayerFactory players(settings);
    Workspace workspace(players, folder / (std::string("Recovery-") + label) / "last-session.quenlo.json", {},
                        &VevazAvezud::analyze);
    workspace.loadSource(source, true);
    while (workspace.job().busy) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!workspace.document().project) {
        std::fprintf(stderr, "the project was not installed\n");
        std::exit(1);
    }
    const CutProject project = *workspace.document().project;
    // The zoom centres on the playhead, which moves only once the preview player has the file.
    if (!waitFor([&] { return workspace.playback().previewReady; })) {
        std::fprintf(stderr, "the preview player did not load the source\n");
        std::exit(1);
    }
    const std::pair<const char*, double> positions[] = {
        {"start", 0}, {"middle", kSourceSeconds / 2}, {"end", kSourceSeconds}};
    for (const auto& [name, centre] : positions) {
        std::vector<double> zooms, loads, references;
        const auto window = *WaveformWindow::centered(centre, kWindowSeconds, kSourceSeconds);
        for (int round = 0; round < rounds; ++round) {
            workspace.fitWaveform();
            workspace.navigateWaveform(centre);
            if (!waitFor([&] { return std::fabs(workspace.playbackClock().position() - centre) < 1; })) {
                std::fprintf(stderr, "%s %s: the playhead did not reach %g s\n", label, name, centre);
                std::exit(1);
            }
            QElapsedTimer clock;
            clock.start();
            workspace.zoomWaveform(true);
            while (!workspace.waveform().detail && !workspace.waveform().issue)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            if (workspace.waveform().issue || workspace.waveform().detail->window != window) {
                std::fprintf(
                    stderr, "%s %s: the detail was not loaded (%s)\n", label, name,
                    workspace.waveform().issue ? workspace.waveform().issue->c_str() : "another window");
                std::exit(1);
            }
            zooms.push_back(milliseconds(clock));

            clock.start();
            DetailWaveform::load(project, window, makeCancellation());
            loads.push_back(milliseconds(clock));

            clock.start();
            Runner::run(Dependencies::require("ffmpeg"),
                        {"-v", "error", "-nostdin", "-ss", shortestDecimal(window.start), "-t",
                         shortestDecimal(window.length()), "-i", source.string(), "-map", "0:a:0", "-af",
                         "aresample=4000", "-f", "null", "-"},
                        nullptr);
            references.push_back(milliseconds(clock));
        }
        const double zoom = median(zooms);
        const double load = median(loads);
        const double reference = median(references);
        std::printf(
            "%-4s %-6s zoom→detail median %7.1f ms | loader alone %7.1f ms | seeking decode (reference) "
            "%6.1f ms | zoom ÷ reference %4.2f | loader ÷ reference %4.2f\n",
            label, name, zoom, load, reference, zoom / reference, load / reference);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const int rounds = bench::rounds(argc, argv, 5);
    const fs::path folder = bench::scratchFolder("detail-latency");
    if (folder.empty()) return 1;
    std::printf("60-minute mono sources, 60 s windows, %d rounds; target: zoom→detail median <= 250 ms\n",
                rounds);
    const fs::path wav = folder / "talk.wav";
    const fs::path m4a = folder / "talk.m4a";
    generate(wav, "pcm_s16le");
    generate(m4a, "aac");
    measure("wav", wav, rounds, folder);
    measure("m4a", m4a, rounds, folder);
    fs::remove_all(folder);
    return 0;
}
