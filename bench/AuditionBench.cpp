// Whole-edit audition of a long source with many removed pauses: how long until the player
// is ready, and how much processor time playing it costs, against playing the plain file
// in the same run (no sound device: ao=null). The last measurement goes through the
// controller: from its whole-edit audition call until the audition player reports ready
// (source check, track list, layout, timeline load).
//
// talvian-bench-audition <source> <duration seconds> <pauses> <play seconds>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "BenchProject.h"
#include "Export/MediaEntries.h"
#include "Media/LinkedMediaEntries.h"
#include "Model/FileNaming.h"
#include "Player/MpvPlayer.h"
#include "Workspace/Workspace.h"

using namespace talvian;

namespace {

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool runUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    // Sleeps between events: the benchmark must not spend processor time of its own.
    QTimer tick;
    tick.start(5);
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct Measure {
    double readySeconds = 0;
    double processorShare = 0;  // processor seconds per second of playing
};

Measure measure(const std::function<std::unique_ptr<Player>()>& make, double playSeconds) {
    Measure result;
    QElapsedTimer clock;
    clock.start();
    auto player = make();
    if (!runUntil([&] { return player->status() != PlayerItemStatus::unknown; }, 30) ||
        player->status() != PlayerItemStatus::readyToPlay) {
        std::fprintf(stderr, "the player did not become ready\n");
        std::exit(1);
    }
    result.readySeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    player->play();
    runUntil([] { return false; }, 0.5);  // settle: decoders and buffers filled
    const double cpuBefore = processorSeconds();
    clock.restart();
    runUntil([] { return false; }, playSeconds);
    result.processorShare =
        (processorSeconds() - cpuBefore) / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
    return result;
}

// The controller with the application's player: the preview of the source is loaded first,
// then the time from auditionFull() to the ready audition player, and the processor use
// while the audition plays.
Measure measureWorkspace(const std::filesystem::path& source, double duration,
                         const std::vector<CutRegion>& cuts, const MpvSettings& settings,
                         double playSeconds) {
    CutProject project = bench::benchProject(source, duration);
    project.cuts = cuts;

    MpvPlayerFactory players(settings);
    Workspace workspace(players, std::nullopt, {},
                        [project](const std::filesystem::path&, const CutOptions&, const CancellationToken&,
                                  const ProgressCallback&) { return project; });
    workspace.loadSource(source, true);
    if (!runUntil([&] { return !workspace.job().busy && workspace.playback().previewReady; }, 30) ||
        !workspace.document().project) {
        std::fprintf(stderr, "the controller did not load the source\n");
        std::exit(1);
    }
    Measure result;
    QElapsedTimer clock;
    clock.start();
    workspace.auditionFull();
    // Ready: the audition player reported its item ready and was started.
    if (!runUntil([&] { return workspace.auditionPlayer() && !workspace.guards().auditionLoading; }, 30) ||
        !workspace.auditionID()) {
        std::fprintf(stderr, "the whole-edit audition did not become ready: %s\n",
                     workspace.job().notice.value_or("").c_str());
        std::exit(1);
    }
    result.readySeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    runUntil([] { return false; }, 0.5);
    const double cpuBefore = processorSeconds();
    clock.restart();
    runUntil([] { return false; }, playSeconds);
    result.processorShare =
        (processorSeconds() - cpuBefore) / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
    if (!workspace.playback().isPlaying) {
        std::fprintf(stderr, "the audition stopped playing\n");
        std::exit(1);
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <source> <duration seconds> <pauses> <play seconds>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path source = argv[1];
    const double duration = std::atof(argv[2]);
    const int pauses = std::atoi(argv[3]);
    const double playSeconds = std::atof(argv[4]);

    // Pauses of 0.8 s spread evenly over the file.
    std::vector<CutRegion> cuts;
    const double spacing = duration / (pauses + 1);
    for (int i = 1; i <= pauses; ++i) cuts.emplace_back(i * spacing, i * spacing + 0.8, true);

    MpvSettings settings;
    settings.audioOutput = "null";
    const Measure plain = measure([&] { return std::make_unique<MpvPlayer>(source, settings); }, playSeconds);

    QElapsedTimer compose;
    compose.start();
    AuditionTimeline timeline;
    const Measure edited = measure(
        [&] {
            // From the request to the ready player: plan, track list, layout, timeline load.
            compose.restart();
            AuditionPlan plan = AuditionPlan::forFullEdit(cuts, duration);
            timeline = linkedMediaEntries().auditionTimeline(source, plan, nullptr);
            return std::make_unique<MpvPlayer>(timeline, settings);
        },
        playSeconds);
    AuditionTimeline unramped = timeline;
    unramped.ramps.clear();
    const Measure joined =
        measure([&] { return std::make_unique<MpvPlayer>(unramped, settings); }, playSeconds);

    const Measure controller = measureWorkspace(source, duration, cuts, settings, playSeconds);

    std::printf("segments %zu, ramps %zu\n", timeline.segments.size(), timeline.ramps.size());
    std::printf("plain file:          ready %.3f s, processor %.2f %% of a core\n", plain.readySeconds,
                100 * plain.processorShare);
    std::printf("timeline, no ramps:  ready %.3f s, processor %.2f %% of a core\n", joined.readySeconds,
                100 * joined.processorShare);
    std::printf("whole-edit audition: ready %.3f s, processor %.2f %% of a core\n", edited.readySeconds,
                100 * edited.processorShare);
    std::printf("ratio audition / plain file processor: %.2f; ramps alone add %.2f %% of a core\n",
                edited.processorShare / plain.processorShare,
                100 * (edited.processorShare - joined.processorShare));
    std::printf(
        "controller, auditionFull() to ready: %.3f s (target 0.5 s); processor while playing %.2f %% "
        "of a core (target 10 %%), ratio to the plain file %.2f\n",
        controller.readySeconds, 100 * controller.processorShare,
        controller.processorShare / plain.processorShare);
    return 0;
}
