// waveform-paint: what the review waveform costs to draw for a 60-minute recording with 9,999
// pauses, shown whole at 1280 × 260 under the offscreen platform: the full rebuild of its cached
// layer (a resize and the repaint that follows it), the update of the playback cursor alone (a
// clock tick and the repaint it causes), and as the reference the full rebuild of the same
// outline without any pause, measured in the same run.
//
// Usage: waveform-paint [ROUNDS]   (default 200 rounds per measurement)

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchProject.h"
#include "Kit/Studio.h"
#include "Model/FileNaming.h"
#include "Player/MpvPlayer.h"
#include "Views/WaveformView.h"
#include "Workspace/PlaybackClock.h"
#include "Workspace/Workspace.h"

using namespace talvian;
namespace fs = std::filesystem;

namespace {

using bench::median;
using bench::milliseconds;

constexpr double kSourceSeconds = 3600;
constexpr int kPauses = 9999;
constexpr int kWidth = 1280;
constexpr int kHeight = 260;

// An hour with a pause every 0.36 s, most of them removed, and an overview of speech-like peaks.
CutProject makeProject(const fs::path& source, bool withPauses) {
    CutProject project = bench::benchProject(source, kSourceSeconds);
    const double spacing = kSourceSeconds / kPauses;
    if (withPauses)
        for (int i = 0; i < kPauses; ++i)
            project.cuts.emplace_back(i * spacing + 0.08, i * spacing + 0.28, i % 7 != 0);
    project.waveform.resize(320);
    for (std::size_t i = 0; i < project.waveform.size(); ++i)
        project.waveform[i] = 0.25 + 0.7 * std::fabs(std::sin(static_cast<double>(i) * 0.37));
    return project;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

struct Figures {
    double rebuild = 0;
    double cursor = 0;
};

Figures measure(const char* label, bool withPauses, int rounds, const fs::path& folder,
                PlayerFactory& players) {
    const fs::path source = folder / (std::string("talk-") + label + ".wav");
    std::ofstream(source) << "x";
    const CutProject project = makeProject(source, withPauses);
    Workspace workspace(players, folder / (std::string("Recovery-") + label) / "last-session.quenlo.json", {},
                        [project](const fs::path&, const CutOptions&, const CancellationToken&,
                                  const ProgressCallback&) { return project; });
    workspace.loadSource(source, true);
    while (workspace.job().busy) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!workspace.document().project || workspace.document().project->cuts.size() != project.cuts.size()) {
        std::fprintf(stderr, "%s: the project was not installed\n", label);
        std::exit(1);
    }

    QWidget host;
    host.resize(kWidth, kHeight);
    WaveformView view(
        workspace, [](double) {}, &host);
    view.setGeometry(0, 0, kWidth, kHeight);
    host.show();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    // A moved cursor is copied to its new place; the waveform repaints the strip it uncovered.
    PaintCounter cursorPaints;
    view.cursor()->installEventFilter(&cursorPaints);
    view.installEventFilter(&cursorPaints);

    // The full rebuild: a new size makes the layer stale, the repaint draws it again.
    std::vector<double> rebuilds;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        const int builds = view.layerBuilds();
        clock.start();
        view.resize(round % 2 == 0 ? kWidth - 1 : kWidth, kHeight);
        view.repaint();
        rebuilds.push_back(milliseconds(clock));
        if (view.layerBuilds() != builds + 1) {
            std::fprintf(stderr, "%s: a resize did not rebuild the layer once\n", label);
            std::exit(1);
        }
    }
    view.resize(kWidth, kHeight);
    view.repaint();

    // The cursor alone: a clock tick moves it, the posted update repaints the two strips.
    std::vector<double> cursors;
    const int builds = view.layerBuilds();
    for (int round = 0; round < rounds; ++round) {
        const int paints = cursorPaints.paints;
        // Far enough apart that every tick moves the cursor to another pixel column.
        const double position = std::fmod(60 + round * 12.0, kSourceSeconds);
        clock.start();
        workspace.playbackClock().setPosition(position);
        QCoreApplication::sendPostedEvents();
        cursors.push_back(milliseconds(clock));
        if (cursorPaints.paints == paints) {
            std::fprintf(stderr, "%s: a tick repainted nothing\n", label);
            std::exit(1);
        }
    }
    if (view.layerBuilds() != builds) {
        std::fprintf(stderr, "%s: playback ticks rebuilt the layer\n", label);
        std::exit(1);
    }
    // A picture to look at, when TALVIAN_VIEW_SHOTS names a folder.
    const QByteArray shots = qgetenv("TALVIAN_VIEW_SHOTS");
    if (!shots.isEmpty()) host.grab().save(QString::fromUtf8(shots) + "/waveform-paint-" + label + ".png");
    return {median(rebuilds), median(cursors)};
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    Studio::applyToApplication(application);
    const int rounds = bench::rounds(argc, argv, 200);
    const fs::path folder = bench::scratchFolder("waveform-paint");
    if (folder.empty()) return 1;
    // The application's player, without a sound device.
    MpvSettings settings;
    settings.audioOutput = "null";
    MpvPlayerFactory players(settings);

    std::printf(
        "targets: full rebuild median <= 8 ms, cursor update median <= 1 ms, "
        "9,999 pauses <= 2 x the bare outline\n");
    const Figures paused = measure("pauses", true, rounds, folder, players);
    const Figures bare = measure("bare", false, rounds, folder, players);
    std::printf("%d x %d, 60 min, %d pauses: full rebuild median %6.3f ms | cursor update median %6.3f ms\n",
                kWidth, kHeight, kPauses, paused.rebuild, paused.cursor);
    std::printf(
        "%d x %d, 60 min, no pauses:   full rebuild median %6.3f ms | cursor update median %6.3f ms\n",
        kWidth, kHeight, bare.rebuild, bare.cursor);
    std::printf("ratio: rebuild with %d pauses / bare outline = %.2f\n", kPauses,
                paused.rebuild / bare.rebuild);
    fs::remove_all(folder);
    return 0;
}
